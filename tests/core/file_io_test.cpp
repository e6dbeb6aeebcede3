#include "core/persistence/file_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>

#include "core/common/errors.h"
#include "test_files.h"

namespace qd {
namespace {

using qd::testing::ErrorOf;
using qd::testing::HandToChild;
using qd::testing::kNoDrop;
using qd::testing::ReadBytes;
using qd::testing::ReadText;
using qd::testing::RunInChild;
using qd::testing::TempDir;
using qd::testing::WriteText;

std::string ReadError(const std::string& path, std::size_t size) {
  return ErrorOf<FileError>([&] { ReadFilePrefix(path, size); });
}

std::string WriteError(const std::string& path, const std::string& text) {
  return ErrorOf<FileError>([&] { WriteFileSafely(path, text.data(), text.size()); });
}

mode_t Mode(const std::string& path) {
  struct stat st;
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

TEST(FileErrors, ErrnoValuesMapToTheUserTexts) {
  EXPECT_EQ(FileErrorText(ENOENT), "File not found");
  EXPECT_EQ(FileErrorText(ENOTDIR), "File not found");
  EXPECT_EQ(FileErrorText(ENAMETOOLONG), "Invalid filename");
  EXPECT_EQ(FileErrorText(EINVAL), "Invalid filename");
  EXPECT_EQ(FileErrorText(EMFILE), "Too many open files");
  EXPECT_EQ(FileErrorText(ENFILE), "Too many open files");
  for (int e : {EACCES, EPERM, EROFS, EISDIR}) EXPECT_EQ(FileErrorText(e), "File access denied") << e;
  EXPECT_EQ(FileErrorText(ENOSPC), "Disk full");
  EXPECT_EQ(FileErrorText(EDQUOT), "Disk full");
  EXPECT_EQ(FileErrorText(EIO), "I/O error 5");
  EXPECT_EQ(FileErrorText(ELOOP), "I/O error " + std::to_string(ELOOP));
  EXPECT_EQ(ErrorOf<FileError>([] { ThrowFileError(EROFS); }), "File access denied");
}

TEST(FileRead, ReadsThePrefixOrSaysWhyNot) {
  TempDir dir;
  WriteText(dir / "five", "12345");
  EXPECT_EQ(ReadFilePrefix(dir / "five", 3), (std::vector<std::uint8_t>{'1', '2', '3'}));
  EXPECT_EQ(ReadFilePrefix(dir / "five", 5).size(), 5u);
  EXPECT_EQ(ReadError(dir / "five", 6), "Read beyond end of file");
  EXPECT_EQ(ReadError(dir / "missing", 1), "File not found");
  EXPECT_EQ(ReadError(dir / "five/below", 1), "File not found");
  EXPECT_EQ(ReadError(dir.path(), 1), "File access denied");
  EXPECT_EQ(ReadError("", 1), "Invalid filename");
  EXPECT_EQ(ReadError(dir / std::string(300, 'n'), 1), "Invalid filename");
  EXPECT_EQ(ReadError(std::string("a\0b", 3), 1), "Invalid filename");
  EXPECT_EQ(ReadWholeFile(dir / "five").size(), 5u);
  EXPECT_THROW(ReadWholeFile(dir.path()), FileError);
}

TEST(FileRead, ProbeNeverThrowsAndRejectsFolders) {
  TempDir dir;
  WriteText(dir / "f", "x");
  EXPECT_TRUE(CanOpenForReading(dir / "f"));
  EXPECT_FALSE(CanOpenForReading(dir / "missing"));
  EXPECT_FALSE(CanOpenForReading(dir.path()));
  EXPECT_FALSE(CanOpenForReading(""));
  // A pipe without a writer must not block the probe.
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  EXPECT_TRUE(CanOpenForReading(dir / "pipe"));
  // Reading it as a text (a commentary in its place) gives nothing, at once.
  EXPECT_EQ(qd::testing::RunInChild([&] {
              ::alarm(5);
              std::vector<std::uint8_t> data{1};
              const int err = TryReadWholeFile(dir / "pipe", data);
              return std::to_string(err) + "/" + std::to_string(data.size());
            }),
            "0/0");
  // With a writer that keeps it open, it gives what was written so far.
  const int writer = ::open((dir / "pipe").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(::write(writer, "abc", 3), 3);
  EXPECT_EQ(qd::testing::RunInChild([&] {
              ::alarm(5);
              std::vector<std::uint8_t> data;
              const int err = TryReadWholeFile(dir / "pipe", data);
              return std::to_string(err) + "/" + std::string(data.begin(), data.end());
            }),
            "0/abc");
  ::close(writer);
}

TEST(FileWrite, ReplacesContentsAndKeepsPermissionBits) {
  TempDir dir;
  const std::string path = dir / "c.pln";
  WriteText(path, std::string(7552, 'o'));
  // The set-id and sticky bits are the file's too.
  for (const mode_t mode : {0640, 02750, 04700, 01644}) {
    ASSERT_EQ(::chmod(path.c_str(), mode), 0);
    WriteFileSafely(path, "new", 3);
    EXPECT_EQ(Mode(path), mode);
    ReplacingFile out(path);
    out.Write("new", 3);
    out.Commit();
    EXPECT_EQ(Mode(path), mode);
  }
  EXPECT_EQ(ReadText(path), "new");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"c.pln"});
  // Long writes, sent to the disk as they come, land whole and in order.
  {
    std::string a(300000, 'a'), b(400000, 'b');
    ReplacingFile out(path);
    out.Write(a);
    out.Write("c", 1);
    out.Write(b);
    out.Commit();
    EXPECT_EQ(ReadText(path), a + "c" + b);
  }
  // Empty contents make an empty file.
  WriteFileSafely(path, "", 0);
  EXPECT_EQ(ReadBytes(path).size(), 0u);
}

// Two files on different file systems may share an inode number (the roots
// of /proc and /sys do): they are still two files.
TEST(SameFileCheck, EqualInodesOnTwoFileSystemsAreTwoFiles) {
  struct stat a, b;
  if (::stat("/proc", &a) != 0 || ::stat("/sys", &b) != 0 || a.st_ino != b.st_ino || a.st_dev == b.st_dev)
    GTEST_SKIP() << "no two file systems with equal inode numbers here";
  EXPECT_FALSE(SameFile("/proc", "/sys"));
  EXPECT_TRUE(SameFile("/proc", "/proc/."));
}

TEST(FileWrite, NewFilesFollowTheUmask) {
  TempDir dir;
  const mode_t old = ::umask(022);
  WriteFileSafely(dir / "n", "x", 1);
  ::umask(old);
  EXPECT_EQ(Mode(dir / "n"), 0644u);
}

TEST(FileWrite, ReplacesTheFileBehindASymbolicLink) {
  TempDir dir;
  std::filesystem::create_directory(dir / "real");
  WriteText(dir / "real/c.pln", "old");
  ASSERT_EQ(::symlink("real/c.pln", (dir / "link.pln").c_str()), 0);
  ASSERT_EQ(::symlink("link.pln", (dir / "link2.pln").c_str()), 0);
  WriteFileSafely(dir / "link2.pln", "new", 3);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.pln"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link2.pln"));
  EXPECT_EQ(ReadText(dir / "real/c.pln"), "new");
  // A dangling link gets its target created.
  ASSERT_EQ(::symlink("real/fresh.pln", (dir / "dangling").c_str()), 0);
  WriteFileSafely(dir / "dangling", "abc", 3);
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "dangling"));
  EXPECT_EQ(ReadText(dir / "real/fresh.pln"), "abc");
  // A loop of links is reported, not followed forever.
  ASSERT_EQ(::symlink("loop", (dir / "loop").c_str()), 0);
  EXPECT_EQ(WriteError(dir / "loop", "x"), "I/O error " + std::to_string(ELOOP));
}

TEST(FileWrite, FailuresNameTheirCause) {
  TempDir dir;
  EXPECT_EQ(WriteError(dir / "no-such-folder/c.pln", "x"), "File not found");
  EXPECT_EQ(WriteError(dir.path(), "x"), "File access denied");
  EXPECT_EQ(WriteError("", "x"), "Invalid filename");
  EXPECT_EQ(WriteError(dir / std::string(300, 'n'), "x"), "Invalid filename");
  EXPECT_EQ(dir.Entries().size(), 0u);
}

TEST(FileWrite, AFullDeviceIsDiskFull) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  EXPECT_EQ(WriteError("/dev/full", std::string(3776, 'x')), "Disk full");
  const auto failure = TryWriteFileSafely("/dev/full", "x", 1);
  ASSERT_TRUE(failure.has_value());
  EXPECT_EQ(failure->stage, WriteFailure::Stage::Write);
  EXPECT_EQ(failure->err, ENOSPC);
}

TEST(FileWrite, AWriteThatFailsHalfWayKeepsTheOldFile) {
  TempDir dir;
  const std::string path = dir / "c.pln";
  const std::string old(3776, 'o');
  WriteText(path, old);
  // A file size limit cuts the write off after 1000 bytes, as a full disk would.
  const std::string result = RunInChild([&] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1000, 1000};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return std::string("<setrlimit failed>");
    return WriteError(path, std::string(3776, 'n'));
  });
  EXPECT_EQ(result, "Disk full");
  EXPECT_EQ(ReadText(path), old);
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"c.pln"});
}

TEST(FileWrite, AFolderThatTakesNoNewFileRefusesNewFiles) {
  TempDir dir;
  const std::string ro = dir / "ro";
  std::filesystem::create_directory(ro);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(ro.c_str(), 0555), 0);
  const std::string result = RunInChild([&] { return WriteError(ro + "/c.pln", "x"); }, true);
  if (result == kNoDrop) GTEST_SKIP() << "root cannot drop its privileges here";
  EXPECT_EQ(result, "File access denied");
  EXPECT_FALSE(std::filesystem::exists(ro + "/c.pln"));
}

TEST(FileWrite, AWritableFileInAReadOnlyFolderIsWrittenInPlace) {
  TempDir dir;
  const std::string ro = dir / "ro";
  std::filesystem::create_directory(ro);
  const std::string path = ro + "/c.pln";
  WriteText(path, "old contents");
  HandToChild(path);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(ro.c_str(), 0555), 0);
  const std::string result = RunInChild([&] { return WriteError(path, "new"); }, true);
  if (result == kNoDrop) GTEST_SKIP() << "root cannot drop its privileges here";
  EXPECT_EQ(result, "<no error>");
  EXPECT_EQ(ReadText(path), "new");
}

TEST(FileWrite, AReadOnlyFileStaysRefusedEvenInAWritableFolder) {
  TempDir dir;
  const std::string path = dir / "c.pln";
  WriteText(path, "old");
  HandToChild(dir.path());
  HandToChild(path);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  const std::string result = RunInChild([&] { return WriteError(path, "new"); }, true);
  if (result == kNoDrop) GTEST_SKIP() << "root cannot drop its privileges here";
  EXPECT_EQ(result, "File access denied");
  EXPECT_EQ(ReadText(path), "old");
  EXPECT_EQ(dir.Entries(), std::vector<std::string>{"c.pln"});
}

// An output being written has no name in its folder where the file system
// has unnamed files, so that a process killed while writing leaves nothing;
// a rename over the old file puts it in place, old or new.
TEST(FileWrite, AnOutputHasNoNameUntilItIsInPlace) {
  TempDir dir;
  const int probe = ::open(dir.path().c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (probe < 0) GTEST_SKIP() << "no unnamed files on this file system";
  ::close(probe);
  for (const bool old : {false, true}) {
    if (old) WriteText(dir / "out.xyz", "old");
    ReplacingFile out(dir / "out.xyz");
    out.Write("new", 3);
    out.Finish();
    EXPECT_EQ(dir.Entries(), old ? std::vector<std::string>{"out.xyz"} : std::vector<std::string>{});
    out.Commit();
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"out.xyz"});
    EXPECT_EQ(ReadText(dir / "out.xyz"), "new");
    std::filesystem::remove(dir / "out.xyz");
  }
  // Discarded, it leaves nothing either.
  {
    ReplacingFile out(dir / "gone.xyz");
    out.Write("x", 1);
  }
  EXPECT_EQ(dir.Entries().size(), 0u);
}

// Where a named temporary file had to be used, the next writer in the folder
// removes those whose process is dead; a living process's, another
// machine's and any other file stay.
TEST(FileWrite, TemporariesOfDeadProcessesAreRemoved) {
  TempDir dir;
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_GT(child, 0);
  ::waitpid(child, nullptr, 0);
  const std::string dead = TemporaryName(dir / "out.pln", child);
  const std::string live = TemporaryName(dir / "out.pln", static_cast<long>(::getppid()));
  const std::string own = TemporaryName(dir / "run.csv", static_cast<long>(::getpid()));
  std::string elsewhere = TemporaryName(dir / "o.xyz", child);
  {  // this machine's name in it replaced by another's
    const std::size_t host = elsewhere.find(".o.xyz.") + 7;
    const std::size_t pid = elsewhere.rfind('.', elsewhere.rfind('-', elsewhere.rfind('-') - 1));
    elsewhere.replace(host, pid - host, "other-machine");
  }
  const std::string plain = dir / ".out.pln.123-abc-0.tmp";
  for (const std::string& f : {dead, live, own, elsewhere, plain, dir / "keep.tmp"}) WriteText(f, "x");
  EXPECT_EQ(dead.substr(0, dir.path().size() + 10), dir / ".out.pln.");
  RemoveStaleTemporaries(dir.path());
  for (const std::string& f : {live, own, elsewhere, plain, dir / "keep.tmp"})
    EXPECT_TRUE(std::filesystem::exists(f)) << f;
  EXPECT_FALSE(std::filesystem::exists(dead));
}

// /dev/stdout behind a pipe is written as a FIFO is: in place, at once.
TEST(FileWrite, StandardOutputOnAPipeIsWrittenInPlace) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const std::string said = RunInChild([&] {
    ::close(fds[0]);
    if (::dup2(fds[1], STDOUT_FILENO) < 0) return std::string("<dup2 failed>");
    ::close(fds[1]);
    ReplacingFile out("/dev/stdout");
    out.Write("frames ", 7);
    out.Commit();
    return ErrorOf<FileError>([] { WriteFileSafely("/dev/stdout", "and a record", 12); });
  });
  ::close(fds[1]);
  char got[64] = {};
  std::size_t n = 0;
  for (ssize_t r; (r = ::read(fds[0], got + n, sizeof got - 1 - n)) > 0;) n += static_cast<std::size_t>(r);
  ::close(fds[0]);
  EXPECT_EQ(said, "<no error>");
  EXPECT_EQ(std::string(got, n), "frames and a record");
}

}  // namespace
}  // namespace qd
