#include "core/persistence/commentary.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/common/errors.h"
#include "test_files.h"

namespace qd {
namespace {

using qd::testing::ErrorOf;
using qd::testing::ReadText;
using qd::testing::TempDir;
using qd::testing::WriteText;

TEST(CommentaryName, ReplacesTheLastFourCharactersOfACopy) {
  const std::string current = "ThetraSpiral";
  EXPECT_EQ(CommentaryFileName(current), "ThetraSp.txt");
  // Asking again gives the same answer: the name is formed from a copy.
  EXPECT_EQ(CommentaryFileName(current), "ThetraSp.txt");
  EXPECT_EQ(current, "ThetraSpiral");
  EXPECT_EQ(CommentaryFileName("/data/run1.pln"), "/data/run1.txt");
  EXPECT_EQ(CommentaryFileName("abc"), "abc.txt");
  EXPECT_EQ(CommentaryFileName(""), ".txt");
  EXPECT_EQ(CommentaryFileName("abcd"), ".txt");
  // Four characters, not four bytes: a name is never cut inside a letter.
  EXPECT_EQ(CommentaryFileName("/d/\xC3\xBC"
                               "ber.pln"),
            "/d/\xC3\xBC"
            "ber.txt");
  EXPECT_EQ(CommentaryFileName("Gr\xC3\xBCn.p\xC3\xA9l"), "Gr\xC3\xBCn.txt");
  EXPECT_EQ(CommentaryFileName("\xC3\xA4\xC3\xB6\xC3\xBC"), "\xC3\xA4\xC3\xB6\xC3\xBC.txt");
}

TEST(CommentaryFile, EveryLineEndingLoadsAsCrLf) {
  TempDir dir;
  const std::string expected = "first\r\nsecond\r\n\r\nlast";
  for (const std::string& raw :
       {std::string("first\r\nsecond\r\n\r\nlast"), std::string("first\rsecond\r\rlast"),
        std::string("first\nsecond\n\nlast"), std::string("first\r\nsecond\n\rlast")}) {
    WriteText(dir / "c.txt", raw);
    EXPECT_EQ(ReadCommentary(dir / "c.txt"), expected);
  }
  WriteText(dir / "c.txt", "end\n");
  EXPECT_EQ(ReadCommentary(dir / "c.txt"), "end\r\n");
  WriteText(dir / "c.txt", std::string("nul\0inside\xFF", 11));
  EXPECT_EQ(ReadCommentary(dir / "c.txt"), std::string("nul\0inside\xFF", 11));
}

TEST(CommentaryFile, ReadFailuresCarryTheSystemsReason) {
  TempDir dir;
  EXPECT_EQ(ErrorOf<FileError>([&] { ReadCommentary(dir.path()); }),
            "Cannot open file \"" + dir.path() + "\". " + std::strerror(EISDIR));
}

TEST(CommentaryFile, IsWrittenByteForByte) {
  TempDir dir;
  const std::string path = dir / "run1.txt";
  WriteCommentary(path, "line one\r\nline two");
  EXPECT_EQ(ReadText(path), "line one\r\nline two");
  EXPECT_EQ(ReadCommentary(path), "line one\r\nline two");
  WriteText(path, std::string(10000, 'x'));
  WriteCommentary(path, "");
  EXPECT_EQ(ReadText(path), "");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"run1.txt"});
}

TEST(CommentaryFile, WriteFailuresAreWordedByTheirStep) {
  TempDir dir;
  // Creating fails: the file-error text.
  EXPECT_EQ(ErrorOf<FileError>([&] { WriteCommentary(dir / "missing/x.txt", "text"); }), "File not found");
  // Writing fails: the system's reason.
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_EQ(ErrorOf<FileError>([] { WriteCommentary("/dev/full", "text"); }),
              std::string("Cannot create file \"/dev/full\". ") + std::strerror(ENOSPC));
  }
}

}  // namespace
}  // namespace qd
