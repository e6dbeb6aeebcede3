// Outputs as processes leave them: nothing of a run killed with SIGKILL,
// and standard output on a pipe taken as the pipe it is.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tests/cli/cli_support.h"

namespace qd {
namespace {

namespace fs = std::filesystem;

class Outputs : public clitest::Scratch {
 protected:
  // Starts quindelle-run with `args`, its standard output to `out` (a
  // descriptor; -1: /dev/null) and its standard error to /dev/null.
  pid_t Start(const std::vector<std::string>& args, int out = -1) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(out >= 0 ? out : null, STDOUT_FILENO);
      ::dup2(null, STDERR_FILENO);
      std::vector<char*> argv{const_cast<char*>(run_.c_str())};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    return pid;
  }

  static int Wait(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  const std::string run_ = QUINDELLE_RUN_PATH;
};

// A run killed while its three outputs are open, new ones or replacing old
// ones, leaves the folder as it was: at once where the file system has
// unnamed files, else once the next run has written there.
TEST_F(Outputs, ARunKilledWithSigkillLeavesNoTemporaryFile) {
  const std::string in = WriteSquare("square.pln");
  const int probe = ::open(dir_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  const bool unnamed = probe >= 0;
  if (unnamed) ::close(probe);
  for (const bool old : {false, true}) {
    SCOPED_TRACE(old);
    if (old)
      for (const char* name : {"o.pln", "t.csv", "t.xyz"}) std::ofstream(Path(name)) << "old";
    const std::vector<std::string> before = Names();
    const pid_t pid = Start({in, "--steps", "2000000000", "--out", Path("o.pln"), "--csv", Path("t.csv"),
                             "--xyz", Path("t.xyz"), "--every", "100000000"});
    bool open = false;
    for (int i = 0; i < 12000 && !open; ++i) {
      open = clitest::FilesOpenIn(pid, dir_) >= 3;
      if (!open) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(pid, SIGKILL);
    EXPECT_EQ(Wait(pid), 128 + SIGKILL);
    ASSERT_TRUE(open) << "the run never opened its outputs";
    if (unnamed) {
      EXPECT_EQ(Names(), before);
    }
    if (old) {
      EXPECT_EQ(Bytes(Path("o.pln")), "old");
    }
    // Where named temporary files had to be used, the next run in the folder
    // removes those of the killed one.
    ASSERT_EQ(Wait(Start({in, "--steps", "0", "--out", Path("next.pln")})), 0);
    std::vector<std::string> after = before;
    after.push_back("next.pln");
    std::sort(after.begin(), after.end());
    EXPECT_EQ(Names(), after);
    fs::remove(Path("next.pln"));
  }
}

// `--xyz /dev/stdout | cat`: the frames go down the pipe, as to a FIFO.
TEST_F(Outputs, StandardOutputOnAPipeTakesTheFrames) {
  const std::string in = WriteSquare("square.pln");
  for (const char* option : {"--xyz", "--out", "--csv"}) {
    SCOPED_TRACE(option);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = Start({in, "--steps", "2", option, "/dev/stdout"}, fds[1]);
    ::close(fds[1]);
    std::string got;
    char buf[4096];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    EXPECT_EQ(Wait(pid), 0);
    if (std::string(option) == "--xyz")
      EXPECT_NE(got.find("\nProperties=species:S:1:pos:R:3:velo:R:3:slot:I:1:kind:I:1 step=2 "),
                std::string::npos)
          << got.substr(0, 200);
    else if (std::string(option) == "--out")
      EXPECT_EQ(got.size(), 3776u);
    else
      EXPECT_EQ(got.substr(0, 5), "step,");
  }
  EXPECT_EQ(Names(), std::vector<std::string>{"square.pln"});
}

}  // namespace
}  // namespace qd
