// Run archives through quindelle-run as processes: a crafted snapshot is a
// clear file error in every command that reads one, and of two runs that
// resume one archive at once exactly one goes on.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "core/persistence/run_archive.h"
#include "tests/cli/cli_support.h"
#include "tests/core/archive_craft.h"

namespace qd {
namespace {

namespace fs = std::filesystem;

pid_t Spawn(const std::vector<std::string>& args, const std::string& err = "/dev/null") {
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open("/dev/null", O_WRONLY);
    dup2(out, STDOUT_FILENO);
    const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    dup2(fd, STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int Command(const std::vector<std::string>& args, const std::string& err = "/dev/null") {
  return Wait(Spawn(args, err));
}

// True when another open file holds a lock on `path`.
bool Locked(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct flock l {};
  l.l_type = F_WRLCK;
  l.l_whence = SEEK_SET;
  const bool locked = fd >= 0 && fcntl(fd, F_OFD_GETLK, &l) == 0 && l.l_type != F_UNLCK;
  if (fd >= 0) close(fd);
  return locked;
}

class ArchiveProcesses : public clitest::Scratch {
 protected:
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  const std::string run_ = QUINDELLE_RUN_PATH;
};

TEST_F(ArchiveProcesses, ACraftedSnapshotIsExit4NamingIt) {
  const std::string in = WriteSquare("square.pln");
  ASSERT_EQ(Command({run_, in, "--steps", "20", "--archive", Path("good.qra"), "--archive-every", "10"}), 0);
  const std::string path = Path("bad.qra");
  const std::string bytes = testing_support::Crafted(Bytes(Path("good.qra")), 1, archive::kTaonAt,
                                                     testing_support::LittleEndian(std::int32_t{-7}));
  std::ofstream(path, std::ios::binary) << bytes;
  const std::string says = path + ": snapshot 2 is damaged (slot count -7 outside 0..60 at byte " +
                           std::to_string(archive::HeaderSize() + archive::RecordSize()) + ")\n";
  for (const auto& args : std::vector<std::vector<std::string>>{
           {run_, "--list-archive", path},
           {run_, "--from", path, "--steps", "1", "--threads", "2", "--csv", Path("x.csv"), "--xyz",
            Path("x.xyz")},
           {run_, "--from", path + "@10", "--steps", "1", "--threads", "1", "--xyz", Path("x.xyz")},
           {run_, "--archive", path, "--resume", "--steps", "1", "--csv", Path("x.csv")}}) {
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_EQ(Command(args, Path("err.txt")), 4);
    EXPECT_EQ(Bytes(Path("err.txt")), says);
    fs::remove(Path("err.txt"));
    EXPECT_EQ(Names(), (std::vector<std::string>{"bad.qra", "good.qra", "square.pln"}));
  }
  EXPECT_EQ(Bytes(path), bytes);
}

// The first resume holds the archive's lock from before it reads it to its
// end (here held while it waits for a reader of its table, a FIFO); the
// second is refused at once, and the archive is the one a single resume
// writes.
TEST_F(ArchiveProcesses, OfTwoResumesAtOnceExactlyOneRuns) {
  const std::string in = WriteSquare("square.pln");
  const std::string path = Path("run.qra"), alone = Path("alone.qra");
  ASSERT_EQ(Command({run_, in, "--steps", "30", "--archive", path, "--archive-every", "10"}), 0);
  std::ofstream(alone, std::ios::binary) << Bytes(path);
  ASSERT_EQ(Command({run_, "--archive", alone, "--resume", "--steps", "40"}), 0);

  ASSERT_EQ(mkfifo(Path("table").c_str(), 0600), 0);
  const pid_t first = Spawn({run_, "--archive", path, "--resume", "--steps", "40", "--csv", Path("table")},
                            Path("first.txt"));
  bool locked = false;
  for (int i = 0; i < 12000 && !locked; ++i) {
    locked = Locked(path);
    if (!locked) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(locked) << (kill(first, SIGKILL), Wait(first), "the first resume never locked the archive");
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(Command({run_, "--archive", path, "--resume", "--steps", "40"}, Path("second.txt")), 4);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));  // refused, not waiting
  EXPECT_EQ(Bytes(Path("second.txt")), path + ": " + archive::kBeingWritten + "\n");

  // The table's reader lets the first go on to its end.
  std::thread reader([&] { Bytes(Path("table")); });
  EXPECT_EQ(Wait(first), 0) << Bytes(Path("first.txt"));
  reader.join();
  EXPECT_EQ(Bytes(path), Bytes(alone));
  EXPECT_FALSE(Locked(path));
}

}  // namespace
}  // namespace qd
