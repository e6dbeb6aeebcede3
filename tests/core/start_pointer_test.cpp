#include "core/persistence/start_pointer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "core/common/errors.h"
#include "test_files.h"

namespace qd {
namespace {

using qd::testing::ErrorOf;
using qd::testing::kNoDrop;
using qd::testing::ReadText;
using qd::testing::RunInChild;
using qd::testing::TempDir;
using qd::testing::WriteText;

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(StartPointer, LivesInTheUsersConfigurationFolder) {
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "/somewhere/cfg");
    EXPECT_EQ(StartPointerPath(), "/somewhere/cfg/quindelle/Start.pln3");
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    ScopedEnv home("HOME", "/home/ann");
    EXPECT_EQ(StartPointerPath(), "/home/ann/.config/quindelle/Start.pln3");
  }
  {
    // A relative or empty setting is not a place to write to.
    ScopedEnv home("HOME", "/home/ann");
    ScopedEnv relative("XDG_CONFIG_HOME", "cfg");
    EXPECT_EQ(StartPointerPath(), "/home/ann/.config/quindelle/Start.pln3");
    ScopedEnv empty("XDG_CONFIG_HOME", "");
    EXPECT_EQ(StartPointerPath(), "/home/ann/.config/quindelle/Start.pln3");
  }
}

TEST(StartPointer, MissingFileIsCreatedEmptyWithItsFolders) {
  TempDir dir;
  const std::string path = dir / "cfg/quindelle/Start.pln3";
  EXPECT_FALSE(StartPointerExists(path));
  CreateStartPointer(path);
  EXPECT_TRUE(StartPointerExists(path));
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
  EXPECT_EQ(ReadStartPointer(path), "");
  // A second creation over an existing folder works as well.
  CreateStartPointer(path);
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

TEST(StartPointer, OnlyTheFirstLineNamesTheConfiguration) {
  TempDir dir;
  const std::string path = dir / "Start.pln3";
  for (const auto& [contents, first] :
       std::vector<std::pair<std::string, std::string>>{{"/data/a.pln\n/data/b.pln\n", "/data/a.pln"},
                                                        {"/data/a.pln\r\n/data/b.pln", "/data/a.pln"},
                                                        {"/data/a.pln\r/data/b.pln", "/data/a.pln"},
                                                        {"/data/a.pln", "/data/a.pln"},
                                                        {"\n/data/b.pln", ""},
                                                        {"", ""},
                                                        {"/data/with space.pln\n", "/data/with space.pln"}}) {
    WriteText(path, contents);
    EXPECT_EQ(ReadStartPointer(path), first) << contents;
  }
  EXPECT_THROW(ReadStartPointer(dir / "missing"), FileError);
}

TEST(StartPointer, OddFilesInItsPlaceNeitherHangNorPassUnnoticed) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  EXPECT_EQ(ReadStartPointer(dir / "pipe"), "");
  EXPECT_EQ(ErrorOf<FileError>([&] { ReadStartPointer(dir.path()); }), "File access denied");
  EXPECT_FALSE(StartPointerExists(dir.path()));
  if (std::filesystem::exists("/dev/zero")) {
    EXPECT_EQ(ReadStartPointer("/dev/zero").size(), 65536u);
  }
}

TEST(StartPointer, RememberingANameRewritesTheFileWithoutALineBreak) {
  TempDir dir;
  const std::string path = dir / "q/Start.pln3";
  CreateStartPointer(path);
  WriteText(path, "/old/one.pln\n/old/two.pln\n");
  SimState s{};
  s.CurrentName = "/data/run1.pln";
  RememberStartName(s, path);
  EXPECT_EQ(s.StartFileName, "/data/run1.pln");
  EXPECT_EQ(ReadText(path), "/data/run1.pln");
  EXPECT_EQ(ReadStartPointer(path), "/data/run1.pln");
  WriteStartPointer(path, "");
  EXPECT_EQ(ReadText(path), "");
}

TEST(StartPointer, AFolderThatCannotBeMadeIsReported) {
  TempDir dir;
  WriteText(dir / "file", "x");
  EXPECT_EQ(ErrorOf<FileError>([&] { CreateStartPointer(dir / "file/quindelle/Start.pln3"); }),
            "File not found");
  ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
  const std::string result = RunInChild(
      [&] { return ErrorOf<FileError>([&] { CreateStartPointer(dir / "cfg/quindelle/Start.pln3"); }); },
      true);
  if (result == kNoDrop) GTEST_SKIP() << "root cannot drop its privileges here";
  EXPECT_EQ(result, "File access denied");
}

}  // namespace
}  // namespace qd
