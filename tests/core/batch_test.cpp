#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "core/batch/batch_run.h"
#include "core/dynamics/step.h"
#include "core/persistence/config_record.h"
#include "core/structures/structures.h"

namespace qd {
namespace {

namespace fs = std::filesystem;

class Batch : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quindelle-batch-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  // The easy square, saved with the program's own writer; padding bytes set
  // to a pattern the runner must carry through.
  std::string WriteSquare(const std::string& name, Extended dt = 0.001L) {
    SimState s{};
    s.TaonCount = kSlotCount;
    StructureBuilder(s);
    s.Dt = dt;
    s.UX[2] = 0.125L;
    s.X[50] = 7;  // an empty slot's values travel along
    s.ConfigRecord.fill(0xA5);
    FillConfigRecord(s);
    const std::string path = Path(name);
    WriteConfigFile(s, path);
    return path;
  }

  int Run(const std::vector<std::string>& args) {
    out_.str("");
    err_.str("");
    batch::Console c{out_, err_, false, [this] { return clock_ += 0.25; }};
    return batch::Main(args, c);
  }

  static std::string Bytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  }

  fs::path dir_;
  std::ostringstream out_, err_;
  double clock_ = 0;
};

TEST_F(Batch, ZeroStepsGiveBackTheSameBytes) {
  const std::string in = WriteSquare("square.pln");
  ASSERT_EQ(Run({in, "--steps", "0", "--out", Path("copy.pln")}), 0) << err_.str();
  const std::string a = Bytes(in), b = Bytes(Path("copy.pln"));
  ASSERT_EQ(a.size(), 3776u);
  EXPECT_EQ(a, b);
  EXPECT_EQ(err_.str(), "");
}

TEST_F(Batch, RunsTheSameStepAsTheWindow) {
  const std::string in = WriteSquare("square.pln");
  ASSERT_EQ(Run({in, "--steps", "25", "--out", Path("after.pln"), "--formula", "DUDI", "--sign", "taoscope",
                 "--kinds", "15", "--cooler", "--walls", "1.5", "--dt", "0.002"}),
            0)
      << err_.str();
  SimState expect{};
  expect.TaonCount = kSlotCount;
  ReadConfigFile(expect, in);
  ApplyConfigRecord(expect);
  expect.Dt = 0.002L;
  StepOptions o;
  o.force.formula = Formula::DUDI;
  o.force.sign = SignMode::Taoscope;
  o.force.secondKindCount = 15;
  o.cooler = true;
  o.walls = Walls::Thermos3X3;
  for (int n = 1; n <= 25; ++n) AdvanceStepLiteral(expect, o, n);
  FillConfigRecord(expect);
  SimState got{};
  ReadConfigFile(got, Path("after.pln"));
  EXPECT_EQ(got.ConfigRecord, expect.ConfigRecord);
}

TEST_F(Batch, ListsSixtyLinesWithEmptySlotsBlank) {
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

TEST_F(Batch, CsvHasARowPerParticleAtTheStartEveryKStepsAndTheEnd) {
  const std::string in = WriteSquare("square.pln");
  ASSERT_EQ(Run({in, "--steps", "10", "--csv", Path("run.csv"), "--every", "3"}), 0) << err_.str();
  std::ifstream f(Path("run.csv"));
  std::string line;
  std::getline(f, line);
  EXPECT_EQ(line, "step,slot,x,y,z,ux,uy,uz,kinetic,potential,total");
  int rows = 0, energyRows = 0;
  std::vector<std::string> steps;
  while (std::getline(f, line)) {
    ++rows;
    const std::string step = line.substr(0, line.find(','));
    if (steps.empty() || steps.back() != step) steps.push_back(step);
    if (line.substr(line.size() - 3) != ",,,") ++energyRows;
  }
  EXPECT_EQ(rows, 5 * 4);  // steps 0, 3, 6, 9, 10; four particles
  EXPECT_EQ(energyRows, 5);
  EXPECT_EQ(steps, (std::vector<std::string>{"0", "3", "6", "9", "10"}));
}

TEST_F(Batch, CsvNumbersAreLossless) {
  for (Extended v : {0.1L, 1.0L / 3, -2.718L, 1e-4000L, 123456789.123456789L}) {
    const std::string t = batch::LosslessText(v);
    EXPECT_EQ(std::strtold(t.c_str(), nullptr), v) << t;
  }
}

TEST_F(Batch, FloatingPointFaultsExitWithThreeAndWriteNothing) {
  SimState s{};
  s.TaonCount = kSlotCount;
  StructureBuilder(s);
  s.Dt = 0.001L;
  s.D2 = 0;
  FillConfigRecord(s);
  WriteConfigFile(s, Path("bad.pln"));
  EXPECT_EQ(Run({Path("bad.pln"), "--steps", "5", "--out", Path("never.pln")}), 3);
  EXPECT_EQ(err_.str(), "step 1: Floating point division by zero\n");
  EXPECT_FALSE(fs::exists(Path("never.pln")));
}

TEST_F(Batch, FileErrorsExitWithFourNamingThePath) {
  EXPECT_EQ(Run({Path("missing.pln"), "--steps", "1"}), 4);
  EXPECT_EQ(err_.str(), Path("missing.pln") + ": File not found\n");

  std::ofstream(Path("short.pln")) << "too short";
  EXPECT_EQ(Run({Path("short.pln"), "--steps", "1"}), 4);
  EXPECT_EQ(err_.str(), Path("short.pln") + ": Read beyond end of file\n");

  const std::string in = WriteSquare("square.pln");
  EXPECT_EQ(Run({in, "--steps", "1", "--out", Path("no/such/dir/out.pln")}), 4);
  EXPECT_EQ(err_.str().rfind(Path("no/such/dir/out.pln") + ": ", 0), 0u) << err_.str();
}

TEST_F(Batch, WrongUsageExitsWithTwo) {
  const std::string in = WriteSquare("square.pln");
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
  };
  for (const auto& args : wrong) {
    EXPECT_EQ(Run(args), 2) << ::testing::PrintToString(args);
    EXPECT_NE(err_.str().find("usage: quindelle-run"), std::string::npos);
  }
  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_NE(out_.str().find("usage: quindelle-run"), std::string::npos);
}

TEST_F(Batch, ProgressLineWhenAskedOrOnASlowTerminalRun) {
  const std::string in = WriteSquare("square.pln");
  ASSERT_EQ(Run({in, "--steps", "3"}), 0);
  EXPECT_EQ(err_.str(), "");
  ASSERT_EQ(Run({in, "--steps", "3", "--progress"}), 0);
  EXPECT_NE(err_.str().find("3/3 steps"), std::string::npos) << err_.str();
  EXPECT_EQ(err_.str().back(), '\n');

  out_.str("");
  err_.str("");
  batch::Console terminal{out_, err_, true, [this] { return clock_ += 0.25; }};
  ASSERT_EQ(batch::Main({in, "--steps", "8"}, terminal), 0);
  EXPECT_NE(err_.str().find("8/8 steps"), std::string::npos) << err_.str();
}

}  // namespace
}  // namespace qd
