#include "cli/command_line.h"

#include <fstream>
#include <sstream>
#include <streambuf>

#include "core/editing/number_text.h"
#include "tests/cli/cli_support.h"

namespace qd {
namespace {

class CommandLine : public clitest::Scratch {
 protected:
  int Run(const std::vector<std::string>& args) { return Run(args, out_); }
  int Run(const std::vector<std::string>& args, std::ostream& out) {
    out_.str("");
    err_.str("");
    cli::Console c{out, err_, false, [this] { return clock_ += 0.25; }, [] { return 0; }};
    return cli::Main(args, c);
  }

  std::ostringstream out_, err_;
  double clock_ = 0;
};

TEST_F(CommandLine, WrongUsageExitsWithTwo) {
  const std::string in = WriteSquare("square.pln");
  const std::string old = Path("old.qra");
  std::ofstream(old) << "an earlier run";
  ASSERT_EQ(symlink(in.c_str(), Path("link.pln").c_str()), 0);
  // Links to files that do not exist yet, and a linked folder.
  ASSERT_EQ(symlink(Path("o.pln").c_str(), Path("dangling").c_str()), 0);
  std::filesystem::create_directory(Path("real"));
  ASSERT_EQ(symlink(Path("real").c_str(), Path("folder").c_str()), 0);
  // A link whose target is named relative to the link's own folder.
  std::filesystem::create_directory(Path("sub"));
  ASSERT_EQ(symlink("o.pln", Path("sub/relative").c_str()), 0);
  const std::vector<std::vector<std::string>> wrong = {
      {},
      {in},
      {"--steps", "3"},
      {in, "--steps"},
      {in, "--steps", "-1"},
      {in, "--steps", "ten"},
      {in, "--steps", "3", "--formula", "Q"},
      {in, "--steps", "3", "--sign", "both"},
      {in, "--steps", "3", "--kinds", "20"},
      {in, "--steps", "3", "--walls", "3"},
      {in, "--steps", "3", "--dt", "0,5"},
      {in, "--steps", "3", "--list", "all"},
      {in, "--steps", "3", "--every", "2"},
      {in, "--steps", "3", "--csv", "x.csv", "--every", "0"},
      {in, "--steps", "3", "--bogus"},
      {in, in, "--steps", "3"},
      // No output under an empty name, and no option twice.
      {in, "--steps", "3", "--out", ""},
      {in, "--steps", "3", "--csv", ""},
      {in, "--steps", "3", "--summary", ""},
      {in, "--steps", "5", "--steps", "6"},
      {in, "--steps", "5", "--formula", "E", "--formula", "PE"},
      {in, "--steps", "5", "--cooler", "--cooler"},
      {in, "--steps", "5", "--dt", "0.1", "--set", "Dt=0.2"},
      {in, "--steps", "5", "--set", "A1=1", "--set", "A1=2"},
      // --set and --threads.
      {in, "--steps", "5", "--set", "G1=1"},
      {in, "--steps", "5", "--set", "A1"},
      {in, "--steps", "5", "--set", "A1=1,5"},
      {in, "--steps", "5", "--set", "A1=1", "B1=2"},
      {in, "--steps", "5", "--threads", "0"},
      {in, "--steps", "5", "--threads", "two"},
      // Too small to hold is out of range as too large is; blanks are not a number.
      {in, "--steps", "5", "--set", "A1=1e-5000"},
      {in, "--steps", "5", "--set", "A1=1e5000"},
      {in, "--steps", "5", "--set", "A1= 5"},
      {in, "--steps", "5", "--dt", "0.5 "},
      // No output over the input or over another output.
      {in, "--steps", "3", "--csv", in},
      {in, "--steps", "3", "--out", in},
      {in, "--steps", "3", "--out", Path("link.pln")},
      {in, "--steps", "3", "--out", Path("sub/o.pln"), "--summary", Path("sub/relative")},
      {in, "--steps", "3", "--out", Path("new.x"), "--csv", Path("./new.x")},
      {in, "--steps", "3", "--csv", Path("new.x"), "--summary", Path("new.x")},
      {in, "--steps", "3", "--out", Path("o.pln"), "--summary", Path("dangling")},
      {in, "--steps", "3", "--out", Path("o.pln"), "--csv", Path("dangling")},
      {in, "--steps", "3", "--out", Path("real/n.pln"), "--csv", Path("folder/n.pln")},
      {in, "--steps", "3", "--xyz", in},
      {in, "--steps", "3", "--xyz", Path("new.x"), "--csv", Path("new.x")},
      {in, "--steps", "3", "--xyz", Path("new.xyz"), "--from", Path("new.xyz@2")},
      {"--steps", "3", "--from", Path("frames.xyz")},
      {in, "--steps", "3", "--from", in},
      {in, "--steps", "3", "--xyz", ""},
      {in, "--steps", "3", "--from", ""},
      // The run archive: never over an existing file, a resumed run as it was.
      {in, "--steps", "3", "--archive", ""},
      {in, "--steps", "3", "--archive-every", "5"},
      {in, "--steps", "3", "--archive", Path("new.x"), "--archive-every", "0"},
      {in, "--steps", "3", "--archive", old},
      {in, "--steps", "3", "--archive", in},
      {in, "--steps", "3", "--resume"},
      {in, "--steps", "3", "--archive", old, "--resume"},
      {"--from", old, "--steps", "3", "--archive", old, "--resume"},
      {"--steps", "3", "--archive", old, "--resume", "--formula", "PE"},
      {"--steps", "3", "--archive", old, "--resume", "--set", "A1=2"},
      {"--steps", "3", "--archive", old, "--resume", "--out", old},
      {in, "--from", old, "--steps", "3"},
      {"--from", old + "@ten", "--steps", "3"},
      {in, "--steps", "3", "--from", Path("f.xyz@")},
      {in, "--steps", "3", "--from", Path("f.xyz@+1")},
      {in, "--steps", "3", "--from", Path("f.xyz@1.5")},
      {"--from", "@5", "--steps", "3"},
      {"--from", old, "--steps", "3", "--csv", old},
      {"--from", old},
      {"--list-archive"},
      {"--list-archive", old, "--steps", "3"},
  };
  for (const auto& args : wrong) {
    EXPECT_EQ(Run(args), 2) << ::testing::PrintToString(args);
    EXPECT_NE(err_.str().find("usage: quindelle-run"), std::string::npos);
  }
  EXPECT_EQ(Bytes(in).size(), 3776u);
  EXPECT_EQ(Bytes(old), "an earlier run");
  EXPECT_FALSE(std::filesystem::exists(Path("new.x")));
  EXPECT_FALSE(std::filesystem::exists(Path("o.pln")));
  EXPECT_TRUE(std::filesystem::is_empty(Path("real")));
  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_NE(out_.str().find("usage: quindelle-run"), std::string::npos);
  for (const char* flag : {"--version", "-v"}) {
    EXPECT_EQ(Run({flag}), 0);
    EXPECT_EQ(out_.str(), std::string("quindelle-run ") + QUINDELLE_VERSION + "\n") << flag;
  }
  // The program's own words, not the parser library's.
  const std::vector<std::pair<std::vector<std::string>, std::string>> said = {
      {{in, "--steps", "5", "--steps", "6"}, "quindelle-run: --steps is given twice\n"},
      {{in, "--steps"}, "quindelle-run: --steps needs a value\n"},
      {{in, "--steps", "5", "--cooler", "--cooler"}, "quindelle-run: --cooler is given twice\n"},
      {{in, "--steps", "5", "--archive", old},
       "quindelle-run: '" + old + "' exists; --resume goes on with the run in it, or name another archive\n"},
      {{"--steps", "3", "--archive", old, "--resume", "--walls", "10"},
       "quindelle-run: --resume goes on with the archive's choices; --walls cannot go with it\n"},
      {{in, "--steps", "3", "--from", Path("f.xyz@abc")},
       "quindelle-run: --from: frame 'abc' is not a whole number (FILE.xyz@N: 0 the first, -1 the last)\n"},
  };
  for (const auto& [args, first] : said) {
    EXPECT_EQ(Run(args), 2);
    EXPECT_EQ(err_.str().substr(0, first.size()), first);
  }
  // A decimal comma, natural in the window, gets a word on what to write.
  for (const auto& [args, says] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{in, "--steps", "3", "--dt", "0,5"},
            "--dt: '0,5' is not a valid floating point value (numbers take a full stop here)"},
           {{in, "--steps", "3", "--set", "A1=x"}, "--set A1: 'x' is not a valid floating point value"}}) {
    cli::Command c;
    EXPECT_EQ(cli::ParseArguments(args, c), says);
  }
}

TEST_F(CommandLine, ReadsEveryOption) {
  cli::Command c;
  ASSERT_EQ(cli::ParseArguments({"in.pln", "--set", "C2=-0.5", "--steps", "7", "--threads", "3", "--walls",
                                 "10", "--dt", "1E-3", "--kinds", "15", "--blockade", "--list", "positions"},
                                c),
            "");
  EXPECT_EQ(c.run.steps, 7);
  EXPECT_EQ(c.run.step.threads, 3);
  EXPECT_EQ(c.run.step.walls, Walls::Thermos20X20);
  EXPECT_EQ(c.run.step.force.secondKindCount, 15);
  EXPECT_TRUE(c.run.step.blockade);
  EXPECT_EQ(c.list, batch::ListKind::Positions);
  EXPECT_EQ(c.run.set[0], 0.001L);
  EXPECT_EQ(c.run.set[8], -0.5L);
  cli::Command xyz;
  ASSERT_EQ(cli::ParseArguments(
                {"in.pln", "--steps", "9", "--xyz", "t.xyz", "--every", "3", "--from", "s.xyz@-2"}, xyz),
            "");
  EXPECT_EQ(xyz.run.xyz, "t.xyz");
  EXPECT_EQ(xyz.run.every, 3);
  EXPECT_EQ(xyz.run.from, "s.xyz@-2");
  EXPECT_FALSE(c.run.set[1].has_value());
  cli::Command defaults;
  ASSERT_EQ(cli::ParseArguments({"in.pln", "--steps", "0"}, defaults), "");
  EXPECT_EQ(defaults.run.step.threads, 0);
  EXPECT_EQ(defaults.run.archiveEvery, 0);  // as the cadence finds

  // A snapshot's step after the last @, unless the whole name is a file's;
  // the choices given are marked to replace the archive's.
  cli::Command from;
  ASSERT_EQ(cli::ParseArguments({"--from", Path("r@n.qra@40"), "--steps", "5", "--walls", "none", "--cooler",
                                 "--archive", Path("b.qra"), "--archive-every", "7"},
                                from),
            "");
  EXPECT_EQ(from.run.from, Path("r@n.qra"));
  EXPECT_EQ(from.run.fromStep, 40);
  EXPECT_EQ(from.run.archiveEvery, 7);
  EXPECT_TRUE(from.run.given.walls && from.run.given.cooler);
  EXPECT_FALSE(from.run.given.formula || from.run.given.heater || from.run.given.blockade);
  std::ofstream(Path("a@3")) << "";
  cli::Command whole;
  ASSERT_EQ(cli::ParseArguments({"--from", Path("a@3"), "--steps", "1"}, whole), "");
  EXPECT_EQ(whole.run.from, Path("a@3"));
  EXPECT_FALSE(whole.run.fromStep.has_value());
}

TEST_F(CommandLine, ListsSixtyLinesWithEmptySlotsBlank) {
  const std::string in = WriteSquare("square.pln");
  ASSERT_EQ(Run({in, "--steps", "0", "--list", "velocities"}), 0);
  std::istringstream lines(out_.str());
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    if (count == 2) {
      EXPECT_EQ(line, "2\t0.125\t0\t0");
    }
    if (count == 50) {
      EXPECT_EQ(line, "50\t\t\t");
    }
  }
  EXPECT_EQ(count, 60);
  ASSERT_EQ(Run({in, "--steps", "0", "--list", "positions"}), 0);
  EXPECT_NE(out_.str().find("\n3\t-0.212\t0.212\t0.212\n"), std::string::npos) << out_.str();
}

// A stream buffer that takes nothing, as a full disk does.
class FullBuffer : public std::streambuf {
 protected:
  int_type overflow(int_type) override {
    errno = ENOSPC;
    return traits_type::eof();
  }
};

TEST_F(CommandLine, OutputThatCannotBeWrittenExitsWithFour) {
  const std::string in = WriteSquare("square.pln");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {in, "--steps", "0", "--list", "positions"}}) {
    FullBuffer full;
    std::ostream out(&full);
    EXPECT_EQ(Run(args, out), 4);
    EXPECT_EQ(err_.str(), "quindelle-run: standard output: Disk full\n");
  }
}

// A file whose own name ends in "@1" is that file, not frame 1 of another.
TEST_F(CommandLine, AnXyzFileNamedWithAnAtIsReadWhole) {
  const std::string in = WriteSquare("square.pln");
  std::ofstream(Path("e.xyz@1")) << "1\n\nCl 0.5 0 0\n";
  std::ofstream(Path("e.xyz")) << "1\n\nCl 1 0 0\n\n1\n\nCl 2 0 0\n";
  const std::string zero = FloatToText(0, '.');
  for (const auto& [from, x] : {std::pair{"e.xyz@1", 0.5L}, {"e.xyz@0", 1.0L}, {"e.xyz", 2.0L}}) {
    ASSERT_EQ(Run({in, "--steps", "0", "--from", Path(from), "--list", "positions"}), 0) << err_.str();
    EXPECT_EQ(out_.str().substr(0, out_.str().find('\n')),
              "1\t" + FloatToText(x, '.') + "\t" + zero + "\t" + zero)
        << from;
  }
}

TEST_F(CommandLine, ProgressLineWhenAskedOrOnASlowTerminalRun) {
  const std::string in = WriteSquare("square.pln");
  ASSERT_EQ(Run({in, "--steps", "3"}), 0);
  EXPECT_EQ(err_.str(), "");
  ASSERT_EQ(Run({in, "--steps", "3", "--progress"}), 0);
  EXPECT_NE(err_.str().find("3/3 steps"), std::string::npos) << err_.str();
  EXPECT_EQ(err_.str().back(), '\n');

  out_.str("");
  err_.str("");
  cli::Console terminal{out_, err_, true, [this] { return clock_ += 0.25; }, [] { return 0; }};
  ASSERT_EQ(cli::Main({in, "--steps", "8"}, terminal), 0);
  EXPECT_NE(err_.str().find("8/8 steps"), std::string::npos) << err_.str();
}

}  // namespace
}  // namespace qd
