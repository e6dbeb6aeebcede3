// The built commands run as the user runs them: as processes, with signals,
// redirected output and GNU parallel.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <sstream>
#include <random>
#include <sys/resource.h>
#include <thread>

#include "core/persistence/run_archive.h"

#include "tests/cli/cli_support.h"

namespace qd {
namespace {

namespace fs = std::filesystem;

// Starts `args` in a process group of its own, standard output to `out`,
// standard error to `err`.
pid_t Spawn(const std::vector<std::string>& args, const std::string& out = "/dev/null",
            const std::string& err = "/dev/null") {
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    dup2(fd, STDOUT_FILENO);
    const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    dup2(errFd, STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

// The exit status, or 128 + the signal that ended the process.
int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int Command(const std::vector<std::string>& args, const std::string& out = "/dev/null",
            const std::string& err = "/dev/null") {
  return Wait(Spawn(args, out, err));
}

// Polls for `done` for up to a minute (the machine may be busy).
template <class Fn>
bool Eventually(Fn done) {
  for (int i = 0; i < 12000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

class Processes : public clitest::Scratch {
 protected:
  std::vector<std::string> Names(const std::string& sub = "") const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_ / sub)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // Job number -> the row of DIR/summary.csv, split at commas.
  std::vector<std::vector<std::string>> SummaryRows(const std::string& dir) const {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(Bytes(Path(dir + "/summary.csv")));
    for (std::string line; std::getline(lines, line);) {
      std::vector<std::string> cells;
      std::istringstream in(line + ",");
      for (std::string cell; std::getline(in, cell, ',');) cells.push_back(cell);
      rows.push_back(cells);
    }
    return rows;
  }

  // The job numbers in GNU parallel's job log, in the order it wrote them.
  std::vector<int> LoggedJobs(const std::string& dir) const {
    std::vector<int> jobs;
    std::istringstream lines(Bytes(Path(dir + "/joblog")));
    std::string line;
    std::getline(lines, line);  // header
    while (std::getline(lines, line)) jobs.push_back(std::stoi(line));
    return jobs;
  }

  const std::string run_ = QUINDELLE_RUN_PATH;
  const std::string sweep_ = QUINDELLE_SWEEP_PATH;
};

TEST_F(Processes, SignalsStopTheRunAndLeaveTheOldFiles) {
  const std::string in = WriteSquare("square.pln");
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    std::ofstream(Path("out.pln")) << "old result";
    std::ofstream(Path("run.csv")) << "old table";
    const pid_t pid = Spawn({run_, in, "--steps", "2000000000", "--out", Path("out.pln"), "--csv",
                             Path("run.csv"), "--every", "1000000"});
    // The unfinished table is open once the run has started.
    ASSERT_TRUE(Eventually([&] { return clitest::FilesOpenIn(pid, dir_) > 0; }));
    kill(pid, sig);
    EXPECT_EQ(Wait(pid), 128 + sig);
    EXPECT_EQ(Names(), (std::vector<std::string>{"out.pln", "run.csv", "square.pln"}));
    EXPECT_EQ(Bytes(Path("out.pln")), "old result");
    EXPECT_EQ(Bytes(Path("run.csv")), "old table");
  }
}

// A FIFO that nobody reads holds the run in its wait; a signal there is a
// stop like any other, and the old files stay.
TEST_F(Processes, ASignalWhileWaitingForAFifoStopsTheRun) {
  const std::string in = WriteSquare("square.pln");
  ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
  for (const char* option : {"--summary", "--out", "--csv"}) {
    SCOPED_TRACE(option);
    std::ofstream(Path("out.pln")) << "old result";
    std::vector<std::string> args = {run_, in, "--steps", "5", option, Path("fifo")};
    if (std::string(option) != "--out") args.insert(args.end(), {"--out", Path("out.pln")});
    const pid_t pid = Spawn(args, "/dev/null", Path("err.txt"));
    // Long enough for five steps, so that the run waits for a reader.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    kill(pid, SIGTERM);
    EXPECT_EQ(Wait(pid), 128 + SIGTERM);
    EXPECT_NE(Bytes(Path("err.txt")).find("stopped by SIGTERM"), std::string::npos) << Bytes(Path("err.txt"));
    EXPECT_EQ(Bytes(Path("out.pln")), "old result");
    fs::remove(Path("err.txt"));
    EXPECT_EQ(Names(), (std::vector<std::string>{"fifo", "out.pln", "square.pln"}));
  }
  // A reader that never reads: the run waits in a write of the table, and a
  // signal there stops it too (a write tried again would wait for ever).
  const int reader = ::open(Path("fifo").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const pid_t pid = Spawn({run_, in, "--steps", "1000000", "--csv", Path("fifo"), "--out", Path("out.pln")});
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  kill(pid, SIGTERM);
  int status = -1;
  ASSERT_TRUE(Eventually([&] {
    int st = 0;
    if (waitpid(pid, &st, WNOHANG) != pid) return false;
    status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return true;
  })) << (kill(pid, SIGKILL), Wait(pid), "the run went on waiting");
  EXPECT_EQ(status, 128 + SIGTERM);
  EXPECT_EQ(Bytes(Path("out.pln")), "old result");
  ::close(reader);
}

TEST_F(Processes, AFullStandardOutputIsAFileError) {
  const std::string in = WriteSquare("square.pln");
  EXPECT_EQ(Command({run_, in, "--steps", "1", "--list", "positions"}, "/dev/full"), 4);
  // Both commands answer -h/--help and -v/--version alike, and a full output
  // is a file error for each, never a traceback.
  for (const std::string& command : {run_, sweep_})
    for (const char* flag : {"--help", "-h", "--version", "-v"}) {
      SCOPED_TRACE(command + " " + flag);
      EXPECT_EQ(Command({command, flag}, Path("said.txt"), Path("err.txt")), 0);
      const std::string name = fs::path(command).filename().string();
      const std::string expect = flag[1] == 'v' || flag[2] == 'v' ? name + " " + QUINDELLE_VERSION + "\n" : "usage: " + name;
      EXPECT_EQ(Bytes(Path("said.txt")).substr(0, expect.size()), expect);
      EXPECT_EQ(Command({command, flag}, "/dev/full", Path("err.txt")), 4);
      EXPECT_EQ(Bytes(Path("err.txt")).find("Traceback"), std::string::npos);
    }
}

// Twelve runs through the sweep end exactly where twelve single runs end.
TEST_F(Processes, SweepEndsWhereTheSingleRunsEnd) {
  const std::string in = WriteSquare("square.pln");
  ASSERT_EQ(Command({sweep_, in, "--steps", "50", "--vary", "A1=1,1.5", "--vary", "B1=0.5,1,2", "--vary",
                     "formula=E,DUDI", "--walls", "10", "--out", Path("sweep"), "--jobs", "2"}),
            0);
  const auto rows = SummaryRows("sweep");
  ASSERT_EQ(rows.size(), 13u);
  int job = 0;
  for (const char* a1 : {"1", "1.5"})
    for (const char* b1 : {"0.5", "1", "2"})
      for (const char* formula : {"E", "DUDI"}) {
        ++job;
        SCOPED_TRACE(job);
        ASSERT_EQ(
            Command({run_, in, "--steps", "50", "--walls", "10", "--set", std::string("A1=") + a1, "--set",
                     std::string("B1=") + b1, "--formula", formula, "--out", Path("single.pln")}),
            0);
        EXPECT_EQ(Bytes(Path("sweep/runs/" + std::to_string(job) + ".pln")), Bytes(Path("single.pln")));
        EXPECT_EQ(rows[job][0], std::to_string(job));
        EXPECT_EQ(rows[job][3], formula);
      }
}

// No path can become a command: folders named with a newline, a command
// after it and every character a shell treats specially run as any other.
TEST_F(Processes, PathsWithShellCharactersAreOnlyPaths) {
  // Where an injected command would leave its file: the working folder of
  // the sweep and its jobs.
  const fs::path pwned = fs::current_path() / "PWNED";
  const std::string odd = "in \n touch PWNED #\n'\"$(touch PWNED)`;&|<>{}*?!~\\";
  ASSERT_TRUE(fs::create_directory(Path(odd)));
  const std::string in = WriteSquare(odd + "/square.pln");
  const std::string out = Path(odd + "/out\ntouch PWNED #\n");
  ASSERT_EQ(Command({sweep_, in, "--steps", "5", "--vary=A1=1,2", "--jobs", "1", "--out", out}), 0);
  EXPECT_FALSE(fs::exists(pwned));
  EXPECT_FALSE(fs::exists(Path("PWNED")));
  EXPECT_TRUE(fs::exists(out + "/runs/2.pln"));
}

// Jobs on other machines run the quindelle-run on that machine's path. Hosts
// stand in for machines here: a stand-in for ssh runs their commands
// locally, where the path leads to a quindelle-run that says it was called;
// one host name does not resolve, and its jobs go to the others.
TEST_F(Processes, JobsOnOtherMachinesFindQuindelleRunOnTheirPath) {
  const std::string in = WriteSquare("square.pln");
  fs::create_directories(Path("remote"));
  auto script = [&](const std::string& name, const std::string& text) {
    std::ofstream(Path(name)) << text;
    fs::permissions(Path(name), fs::perms::owner_all);
  };
  script("fakessh",
         "#!/bin/bash\n"
         "while [ \"${1#-}\" != \"$1\" ]; do case \"$1\" in -o|-p|-l|-i) shift 2 ;; *) shift ;; esac; done\n"
         "if [ \"$1\" = gamma ]; then echo \"ssh: Could not resolve hostname gamma\" >&2; exit 255; fi\n"
         "shift\n[ \"$1\" = \"--\" ] && shift\n"
         // A login on another machine always has a shell of its own, which
         // GNU parallel's remote half runs the command with.
         "export SHELL=/bin/bash\nexec bash -c \"$*\"\n");
  // With SKIP set, a run whose arguments hold it ends well but runs nothing.
  script("remote/quindelle-run", "#!/bin/sh\necho called >> " + Path("calls") +
                                     "\ncase \"$*\" in *\"${SKIP:-none}\"*) exit 0 ;; esac\nexec " + run_ +
                                     " \"$@\"\n");
  const std::string path = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
  setenv("PATH", (Path("remote") + ":" + path).c_str(), 1);
  setenv("PARALLEL_SSH", Path("fakessh").c_str(), 1);
  auto sweep = [&](const std::string& machines, const std::string& out) {
    std::ofstream(Path("machines")) << machines;
    return Command({sweep_, in, "--steps", "5", "--vary", "A1=1,2,3,4", "--out", Path(out), "--sshloginfile",
                    Path("machines")},
                   "/dev/null", Path(out + ".err"));
  };
  const int status = sweep("1/alpha\n1/gamma\n1/beta\n", "far");
  std::istringstream calls(Bytes(Path("calls")));
  const int noneUp = sweep("1/gamma\n", "nowhere");
  setenv("SKIP", "A1=3", 1);
  const int rowless = sweep("1/alpha\n", "rowless");
  unsetenv("SKIP");
  setenv("PATH", path.c_str(), 1);
  unsetenv("PARALLEL_SSH");

  const std::string err = Bytes(Path("far.err"));
  ASSERT_EQ(status, 0) << err;
  EXPECT_NE(err.find("gamma"), std::string::npos) << err;
  EXPECT_EQ(std::count(std::istreambuf_iterator<char>(calls), {}, '\n'), 4);
  EXPECT_EQ(SummaryRows("far").size(), 5u);
  const std::string joblog = Bytes(Path("far/joblog"));
  EXPECT_NE(joblog.find("\talpha\t"), std::string::npos);
  EXPECT_NE(joblog.find("\tbeta\t"), std::string::npos);
  EXPECT_EQ(joblog.find("\tgamma\t"), std::string::npos);

  // A run that says it is done without its row is not done.
  EXPECT_EQ(rowless, 1);
  EXPECT_NE(Bytes(Path("rowless.err")).find("job 3 "), std::string::npos) << Bytes(Path("rowless.err"));
  EXPECT_EQ(noneUp, 4);
  EXPECT_NE(Bytes(Path("nowhere.err")).find("no machine"), std::string::npos) << Bytes(Path("nowhere.err"));
}

// Killed half-way, the sweep runs only the jobs it has not run when started again.
TEST_F(Processes, ASweepStartedAgainRunsOnlyTheMissingJobs) {
  const std::string in = WriteSquare("square.pln");
  const std::vector<std::string> sweep = {
      sweep_,     in,        "--steps", "20000",  "--vary",
      "A1=1,2,3", "--vary",  "B1=1,2",  "--vary", "sign=gravoscope,taoscope",
      "--out",    Path("s"), "--jobs",  "1"};
  const pid_t pid = Spawn(sweep);
  ASSERT_TRUE(Eventually([&] { return fs::exists(Path("s/runs/4.pln")); }));
  kill(-pid, SIGKILL);
  Wait(pid);
  const std::vector<int> first = LoggedJobs("s");
  ASSERT_LT(first.size(), 12u) << "the sweep ended before it was killed";
  EXPECT_FALSE(fs::exists(Path("s/summary.csv")));

  ASSERT_EQ(Command(sweep), 0);
  const std::vector<int> all = LoggedJobs("s");
  EXPECT_EQ(std::vector<int>(all.begin(), all.begin() + static_cast<long>(first.size())), first);
  EXPECT_EQ(std::set<int>(all.begin(), all.end()).size(), 12u);
  EXPECT_EQ(all.size(), 12u) << "a job ran twice";
  EXPECT_EQ(SummaryRows("s").size(), 13u);
}

// A sweep owns its folder while it lives; stopped, it leaves nothing running,
// and its unfinished jobs run when it is started again. An --out that cannot
// be a folder is a file error, not a crash.
TEST_F(Processes, AStoppedSweepLeavesNothingRunningAndItsFolderToItsNextStart) {
  const std::string in = WriteSquare("square.pln");
  const std::vector<std::string> sweep = {sweep_, in, "--steps", "100000000", "--vary", "A1=1,2",
                                          "--out", Path("busy"), "--jobs", "1"};
  const pid_t pid = Spawn(sweep);
  ASSERT_TRUE(Eventually([&] { return fs::exists(Path("busy/joblog")); }));
  EXPECT_EQ(Command(sweep), 2);
  kill(pid, SIGTERM);
  EXPECT_EQ(Wait(pid), 128 + SIGTERM);
  // The bracket keeps the pattern from matching the shell that runs pgrep.
  const std::string running = "pgrep -f -- '" + Path("busy/[r]uns") + "' >/dev/null";
  EXPECT_NE(std::system(running.c_str()), 0) << "a job outlived its sweep";
  // Started again with short runs, every job runs and the sweep ends whole.
  fs::remove(Path("busy/jobs.json"));
  std::vector<std::string> again = sweep;
  again[3] = "5";
  EXPECT_EQ(Command(again), 0);
  EXPECT_EQ(SummaryRows("busy").size(), 3u);

  std::ofstream(Path("plain")) << "x";
  EXPECT_EQ(Command({sweep_, in, "--steps", "5", "--vary", "A1=1,2", "--out", Path("plain")}), 4);
}

TEST_F(Processes, AFaultingRunIsSummarisedAndFailsTheSweep) {
  const std::string in = WriteSquare("square.pln");
  EXPECT_NE(Command({sweep_, in, "--steps", "5", "--vary", "D2=0,10", "--out", Path("sweep")}), 0);
  const auto rows = SummaryRows("sweep");
  ASSERT_EQ(rows.size(), 3u);
  const auto fault = std::find(rows[0].begin(), rows[0].end(), "fault") - rows[0].begin();
  EXPECT_EQ(rows[1][static_cast<std::size_t>(fault)], "Floating point division by zero");
  EXPECT_EQ(rows[2][static_cast<std::size_t>(fault)], "");
  EXPECT_EQ(Names("sweep/runs"), std::vector<std::string>{"2.pln"});
}

TEST_F(Processes, BadGridsAreRefusedBeforeAnyJob) {
  const std::string in = WriteSquare("square.pln");
  // The refusal names the --vary value that quindelle-run turned down.
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--vary", "G1=1,2"}, ""},
      {{"--vary", "A1="}, ""},
      {{"--vary", "A1=1,,2"}, ""},
      {{"--vary", "A1=1=2"}, ""},
      {{"--vary", "A1=1,x"},
       "refused before any run: --vary A1=x: 'x' is not a valid floating point value\n"},
      {{"--vary", "walls=none,3"},
       "refused before any run: --vary walls=3: --walls takes none, 1.5, 10 or 100"},
      {{"--vary", "cooler=on,yes"}, ""},
      {{"--vary", "A1=1", "--vary", "A1=2"}, ""},
      {{"--vary", "formula=E,PE", "--formula", "E"}, ""},
  };
  for (const auto& [vary, says] : cases) {
    std::vector<std::string> args = {sweep_, in, "--steps", "5", "--out", Path("sweep")};
    args.insert(args.end(), vary.begin(), vary.end());
    EXPECT_EQ(Command(args, "/dev/null", Path("err.txt")), 2) << ::testing::PrintToString(vary);
    EXPECT_FALSE(fs::exists(Path("sweep"))) << ::testing::PrintToString(vary);
    EXPECT_NE(Bytes(Path("err.txt")).find(says), std::string::npos) << Bytes(Path("err.txt"));
  }
}

// ---- the run archive through the command ------------------------------------

// The archive's snapshots, encoded, for comparing bit for bit.
std::vector<std::vector<std::uint8_t>> Snapshots(const std::string& path) {
  archive::Reader r(path);
  std::vector<std::vector<std::uint8_t>> all;
  for (std::size_t i = 0; i < r.Count(); ++i) all.push_back(archive::EncodeRecord(r.At(i)));
  return all;
}

// N steps, k steps continued from the archive's snapshot for N - k, and k
// steps resumed for N - k, through the command: the same result and the
// same archive.
TEST_F(Processes, AnArchivedRunGoesOnAsTheRunThatWentOn) {
  const std::string in = WriteSquare("square.pln");
  const std::vector<std::vector<std::string>> choices = {
      {"--formula", "E"},
      {"--formula", "PES", "--walls", "1.5", "--cooler"},
      {"--formula", "EPESminus", "--heater", "--blockade", "--walls", "100"},
  };
  int n = 0;
  for (const auto& choice : choices) {
    SCOPED_TRACE(::testing::PrintToString(choice));
    const std::string tag = std::to_string(n++);
    auto with = [&choice](std::vector<std::string> args) {
      args.insert(args.end(), choice.begin(), choice.end());
      return args;
    };
    ASSERT_EQ(Command(with({run_, in, "--steps", "150", "--archive", Path(tag + "a.qra"), "--archive-every", "50",
                            "--out", Path(tag + "a.pln")})),
              0);
    ASSERT_EQ(Command({run_, "--from", Path(tag + "a.qra@50"), "--steps", "100", "--archive", Path(tag + "b.qra"),
                       "--out", Path(tag + "b.pln")}),
              0);
    EXPECT_EQ(Bytes(Path(tag + "b.pln")), Bytes(Path(tag + "a.pln")));
    EXPECT_EQ(Snapshots(Path(tag + "b.qra")).back(), Snapshots(Path(tag + "a.qra")).back());
    ASSERT_EQ(Command(with({run_, in, "--steps", "50", "--archive", Path(tag + "c.qra"), "--archive-every", "50"})),
              0);
    ASSERT_EQ(Command({run_, "--archive", Path(tag + "c.qra"), "--resume", "--steps", "100", "--archive-every",
                       "50", "--out", Path(tag + "c.pln")}),
              0);
    EXPECT_EQ(Bytes(Path(tag + "c.qra")), Bytes(Path(tag + "a.qra")));
    EXPECT_EQ(Bytes(Path(tag + "c.pln")), Bytes(Path(tag + "a.pln")));
  }
  // The listing: one line per snapshot, and what was found at the end.
  ASSERT_EQ(Command({run_, "--list-archive", Path("0a.qra")}, Path("list.txt")), 0);
  std::istringstream lines(Bytes(Path("list.txt")));
  std::vector<std::string> got;
  for (std::string line; std::getline(lines, line);) got.push_back(line);
  ASSERT_EQ(got.size(), 6u);
  EXPECT_EQ(got[0], "# step\tkinetic\tpotential\ttotal");
  EXPECT_EQ(got[1].substr(0, 2), "0\t");
  EXPECT_EQ(got[4].substr(0, 4), "150\t");
  EXPECT_EQ(got[5], "# 4 snapshots; torn tail: none");
}

// A signal that stops the run leaves its other outputs as they were but
// ends the archive with the state it stopped at, to go on from.
TEST_F(Processes, AStoppedRunEndsItsArchiveWhereItStopped) {
  const std::string in = WriteSquare("square.pln");
  const std::string path = Path("stopped.qra");
  const pid_t pid = Spawn({run_, in, "--steps", "2000000000", "--archive", path, "--archive-every", "100000"},
                          "/dev/null", Path("err.txt"));
  ASSERT_TRUE(Eventually([&] { return fs::exists(path); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  kill(pid, SIGTERM);
  EXPECT_EQ(Wait(pid), 128 + SIGTERM);
  archive::Reader r(path);
  ASSERT_GE(r.Count(), 2u);
  const std::int64_t last = r.Steps().back();
  EXPECT_EQ(Bytes(Path("err.txt")), "stopped by SIGTERM after " + std::to_string(last) +
                                        " steps; no output written but the archive, which holds the run up to step " +
                                        std::to_string(last) + "\n");
  ASSERT_EQ(Command({run_, "--archive", path, "--resume", "--steps", "1"}), 0);
  EXPECT_EQ(archive::Reader(path).Steps().back(), last + 1);
}

// Killed at any moment, a run leaves either no archive or one whose every
// whole snapshot is the one an uninterrupted run writes, and which goes on
// with --resume.
TEST_F(Processes, ARunKilledAtAnyMomentLeavesAReadableArchive) {
  const std::string in = WriteSquare("square.pln");
  std::mt19937 random(20261209);
  std::uniform_int_distribution<int> delay(0, 40000), inRun(0, 15000);
  std::vector<std::vector<std::uint8_t>> reference;  // snapshot i of every run
  int torn = 0, none = 0;
  for (int kill = 0; kill < 60; ++kill) {
    SCOPED_TRACE(kill);
    const std::string path = Path("killed.qra");
    const pid_t pid = Spawn({run_, in, "--steps", "2000000000", "--archive", path, "--archive-every", "3"});
    if (kill % 4 == 0) {
      // Any moment from the start, the archive's creation included.
      std::this_thread::sleep_for(std::chrono::microseconds(delay(random)));
    } else {
      // While it appends.
      ASSERT_TRUE(Eventually([&] { return fs::exists(path); }));
      std::this_thread::sleep_for(std::chrono::microseconds(inRun(random)));
    }
    ::kill(pid, SIGKILL);
    ASSERT_EQ(Wait(pid), 128 + SIGKILL);
    // Nothing but the input and the archive, if it came to be.
    for (const std::string& name : Names())
      EXPECT_TRUE(name == "square.pln" || name == "killed.qra") << name;
    if (!fs::exists(path)) {
      ++none;
      continue;
    }
    archive::Reader r(path);
    ASSERT_GE(r.Count(), 1u);
    torn += r.TornTail();
    const auto snaps = Snapshots(path);
    for (std::size_t i = 0; i < snaps.size(); ++i) {
      EXPECT_EQ(r.Steps()[i], std::int64_t(3 * i));
      if (i < reference.size())
        ASSERT_EQ(snaps[i], reference[i]) << "snapshot " << i;
      else
        reference.push_back(snaps[i]);
    }
    if (kill % 10 == 0) {
      // Goes on from the last whole snapshot; a torn tail is cut off.
      ASSERT_EQ(Command({run_, "--archive", path, "--resume", "--steps", "3"}), 0);
      archive::Reader after(path);
      // The end, after a snapshot at the default cadence's multiple of 1000
      // when the three steps pass one.
      const std::int64_t from = r.Steps().back();
      std::vector<std::int64_t> added;
      for (std::int64_t step = from + 1; step < from + 3; ++step)
        if (step % 1000 == 0) added.push_back(step);
      added.push_back(from + 3);
      const std::vector<std::int64_t> steps = after.Steps();
      ASSERT_EQ(steps.size(), r.Count() + added.size());
      EXPECT_EQ(std::vector<std::int64_t>(steps.begin() + std::ptrdiff_t(r.Count()), steps.end()), added);
      EXPECT_FALSE(after.TornTail());
    }
    fs::remove(path);
  }
  std::cout << "[ killed  ] " << none << " before the archive, " << torn << " with a torn tail, "
            << reference.size() << " snapshots at most\n";
}

// A full disk (the file size limit standing in for it) stops the run with a
// file error and keeps every snapshot written before it.
TEST_F(Processes, AFullDiskKeepsTheArchivedSnapshots) {
  const std::string in = WriteSquare("square.pln");
  const std::string path = Path("full.qra");
  const auto limit = rlim_t(archive::HeaderSize() + 3 * archive::RecordSize() + 500);
  const pid_t pid = fork();
  if (pid == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit cap{limit, limit};
    setrlimit(RLIMIT_FSIZE, &cap);
    const int errFd = open(Path("err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    dup2(errFd, STDERR_FILENO);
    execl(run_.c_str(), run_.c_str(), in.c_str(), "--steps", "100", "--archive", path.c_str(), "--archive-every",
          "10", "--out", Path("out.pln").c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  EXPECT_EQ(Wait(pid), 4);
  EXPECT_EQ(Bytes(Path("err.txt")), path + ": Disk full\n");
  archive::Reader r(path);
  EXPECT_EQ(r.Count(), 3u);
  EXPECT_EQ(r.Steps().back(), 20);
  EXPECT_FALSE(fs::exists(Path("out.pln")));
}

// Whatever is given as an archive, the command says what is wrong and exits
// with 4; it never waits on a pipe.
TEST_F(Processes, ADamagedArchiveIsAClearFileError) {
  const std::string in = WriteSquare("square.pln");
  const std::string good = Path("good.qra");
  ASSERT_EQ(Command({run_, in, "--steps", "20", "--archive", good, "--archive-every", "10"}), 0);
  const std::string bytes = Bytes(good);
  std::string flipped = bytes, version = bytes;
  flipped[archive::HeaderSize() + 1000] ^= 1;
  version[8] = 9;
  const std::pair<std::string, std::string> files[] = {
      {"", "not a run archive (the file is empty)"},
      {bytes.substr(0, 20), "the archive's header is cut short"},
      {flipped, "snapshot 1 is damaged (checksum mismatch at byte 29)"},
      {version, "archive format version 9; this program reads version 1"},
      {Bytes(in), "not a run archive (it does not start with the archive's mark)"},
  };
  const std::string bad = Path("bad.qra");
  ASSERT_EQ(mkfifo(Path("fifo.qra").c_str(), 0600), 0);
  auto check = [&](const std::string& path, const std::string& says) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {run_, "--list-archive", path},
             {run_, "--from", path, "--steps", "5", "--out", Path("out.pln")},
             {run_, "--archive", path, "--resume", "--steps", "5"}}) {
      SCOPED_TRACE(::testing::PrintToString(args));
      EXPECT_EQ(Command(args, "/dev/null", Path("err.txt")), 4);
      EXPECT_EQ(Bytes(Path("err.txt")), path + ": " + says + "\n");
    }
  };
  for (const auto& [content, says] : files) {
    std::ofstream(bad, std::ios::binary | std::ios::trunc) << content;
    check(bad, says);
    EXPECT_EQ(Bytes(bad), content);  // never changed
  }
  check(Path("fifo.qra"), "File access denied");
  EXPECT_FALSE(fs::exists(Path("out.pln")));
}

}  // namespace
}  // namespace qd
