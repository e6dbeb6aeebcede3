#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <thread>

#include "core/batch/batch_run.h"
#include "core/common/errors.h"
#include "core/dynamics/energy.h"
#include "core/dynamics/step.h"
#include "core/persistence/config_record.h"
#include "core/persistence/file_io.h"
#include "core/persistence/xyz.h"
#include "core/structures/structures.h"
#include "dynamics_support.h"

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
  // With `d2` 0 its first step faults.
  std::string WriteSquare(const std::string& name, Extended dt = 0.001L, Extended d2 = -1) {
    SimState s{};
    s.TaonCount = kSlotCount;
    StructureBuilder(s);
    s.Dt = dt;
    if (d2 >= 0) s.D2 = d2;
    s.UX[2] = 0.125L;
    s.X[50] = 7;  // an empty slot's values travel along
    s.ConfigRecord.fill(0xA5);
    FillConfigRecord(s);
    const std::string path = Path(name);
    WriteConfigFile(s, path);
    return path;
  }

  // Runs `o` on `in` and keeps the message in err_.
  int Run(batch::Options o, const batch::Hooks& hooks = {}) {
    state_ = std::make_unique<SimState>();
    const batch::Outcome r = batch::Run(o, *state_, hooks);
    err_.str(r.message.empty() ? "" : r.message + "\n");
    return r.status;
  }

  static batch::Options Command(const std::string& in, std::int32_t steps) {
    batch::Options o;
    o.in = in;
    o.steps = steps;
    return o;
  }

  static std::string Bytes(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  }

  fs::path dir_;
  std::ostringstream err_;
  std::unique_ptr<SimState> state_;
};

TEST(BatchNames, ForceChoicesReadAsTheCommandLineSpellsThem) {
  ForceOptions dudi;
  dudi.formula = Formula::DUDI;
  dudi.sign = SignMode::Taoscope;
  dudi.secondKindCount = 15;
  ForceOptions pes;
  pes.formula = Formula::PES;
  pes.dropB = pes.dropCDF = true;
  pes.secondKindCount = 10;
  const std::pair<ForceOptions, const char*> cases[] = {
      {ForceOptions{}, "formula E, sign gravoscope, kinds 30"},
      {dudi, "formula DUDI, sign taoscope, kinds 15"},
      {pes, "formula PES, sign gravoscope, kinds 10, drop-b, drop-cdf"},
  };
  for (const auto& [options, text] : cases) EXPECT_EQ(batch::ForceChoicesText(options), text);
}

TEST_F(Batch, ZeroStepsGiveBackTheSameBytes) {
  const std::string in = WriteSquare("square.pln");
  auto o = Command(in, 0);
  o.out = Path("copy.pln");
  ASSERT_EQ(Run(o), 0) << err_.str();
  const std::string a = Bytes(in), b = Bytes(Path("copy.pln"));
  ASSERT_EQ(a.size(), 3776u);
  EXPECT_EQ(a, b);
  EXPECT_EQ(err_.str(), "");
}

TEST_F(Batch, RunsTheSameStepAsTheWindow) {
  const std::string in = WriteSquare("square.pln");
  auto run = Command(in, 25);
  run.out = Path("after.pln");
  run.set[0] = 0.002L;
  run.step.force.formula = Formula::DUDI;
  run.step.force.sign = SignMode::Taoscope;
  run.step.force.secondKindCount = 15;
  run.step.cooler = true;
  run.step.walls = Walls::Thermos3X3;
  run.set[10] = 1.25L;  // F2 from the command line
  ASSERT_EQ(Run(run), 0) << err_.str();
  SimState expect{};
  expect.TaonCount = kSlotCount;
  ReadConfigFile(expect, in);
  ApplyConfigRecord(expect);
  expect.Dt = 0.002L;
  expect.F2 = 1.25L;
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

TEST_F(Batch, CsvHasARowPerParticleAtTheStartEveryKStepsAndTheEnd) {
  const std::string in = WriteSquare("square.pln");
  auto o = Command(in, 10);
  o.csv = Path("run.csv");
  o.every = 3;
  ASSERT_EQ(Run(o), 0) << err_.str();
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

// Each column holds the value its header names: the last rows are the
// final state, to the bit, slot by slot.
TEST_F(Batch, CsvColumnsHoldTheValuesTheyName) {
  const std::string in = WriteSquare("square.pln");
  auto o = Command(in, 10);
  o.csv = Path("run.csv");
  ASSERT_EQ(Run(o), 0) << err_.str();
  const RunState& s = *state_;
  using Array = decltype(&RunState::X);
  const std::pair<const char*, Array> columns[] = {{"x", &RunState::X},   {"y", &RunState::Y},
                                                   {"z", &RunState::Z},   {"ux", &RunState::UX},
                                                   {"uy", &RunState::UY}, {"uz", &RunState::UZ}};
  std::ifstream f(Path("run.csv"));
  std::string line;
  std::getline(f, line);
  std::vector<std::string> header;
  std::istringstream names(line);
  for (std::string name; std::getline(names, name, ',');) header.push_back(name);
  int finalRows = 0;
  while (std::getline(f, line)) {
    std::vector<std::string> cells;
    std::istringstream row(line + ",");
    for (std::string cell; std::getline(row, cell, ',');) cells.push_back(cell);
    if (cells[0] != "10") continue;
    ++finalRows;
    const int k = std::stoi(cells[1]);
    for (const auto& [name, array] : columns) {
      const auto at = std::find(header.begin(), header.end(), name) - header.begin();
      ASSERT_LT(std::size_t(at), cells.size()) << name;
      EXPECT_EQ(std::strtold(cells[std::size_t(at)].c_str(), nullptr), (s.*array)[k])
          << name << " of slot " << k;
    }
    if (finalRows == 1) {
      const auto at = std::find(header.begin(), header.end(), "kinetic") - header.begin();
      EXPECT_EQ(std::strtold(cells[std::size_t(at)].c_str(), nullptr), KineticEnergy(s));
    }
  }
  EXPECT_EQ(finalRows, 4);
}

// Each step's energies are those of its own rows' state: the potential the
// next step hands over, the one computed alone after the last step, with
// slots held, on one thread and shared among several, before a fault.
TEST_F(Batch, CsvEnergiesAreThoseOfTheirOwnStep) {
  struct Case {
    const char* name;
    Formula formula;
    int particles;  // 0: the square
    bool blockade;
    int threads;
    bool faults;
  };
  const Case cases[] = {
      {"square, E", Formula::E, 0, false, 1, false},
      {"cloud, DUDI, two threads", Formula::DUDI, 24, false, 2, false},
      {"cloud, PE, held slots", Formula::PE, 24, true, 2, false},
      {"cloud, PES, one thread", Formula::PES, 12, false, 1, false},
      {"cloud, EPESminus, three threads, a fault", Formula::EPESminus, 20, false, 3, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SimState start{};
    start.TaonCount = kSlotCount;
    if (c.particles == 0) {
      ReadConfigFile(start, WriteSquare("square.pln"));
      ApplyConfigRecord(start);
    } else {
      start = testing_support::RandomCloud(41, c.particles, 4);
      testing_support::SetKind(start, 1, 1, 2.718L, 5, 10, 20);
      testing_support::SetKind(start, 2, 0.75L, 1.9L, 3.5L, 7.25L, 12);
    }
    if (c.faults) {
      // One particle flies so fast that the second step's distances
      // overflow.
      int a = 1;
      while (start.Present[a] == 0) ++a;
      start.UX[a] = LDBL_MAX / 2;
    }
    FillConfigRecord(start);
    WriteConfigFile(start, Path("in.pln"));
    ReadConfigFile(start, Path("in.pln"));
    ApplyConfigRecord(start);
    auto o = Command(Path("in.pln"), 8);
    o.csv = Path("run.csv");
    o.step.force.formula = c.formula;
    o.step.blockade = c.blockade;
    o.step.threads = c.threads;
    const int status = Run(o);
    ASSERT_EQ(status, c.faults ? batch::kFloatingPointFault : 0) << err_.str();
    std::ifstream f(Path("run.csv"));
    std::string line;
    std::getline(f, line);
    SimState at = start;
    std::string step;
    std::vector<std::string> energies;
    int checked = 0;
    auto check = [&] {
      if (step.empty()) return;
      ++checked;
      // The far flier's state has no finite energies.
      auto same = [](Extended a, Extended b) { return a == b || (std::isnan(a) && std::isnan(b)); };
      EXPECT_TRUE(same(std::strtold(energies[0].c_str(), nullptr), KineticEnergy(at))) << "step " << step;
      EXPECT_TRUE(same(std::strtold(energies[1].c_str(), nullptr), PotentialEnergy(at, o.step.force)))
          << "step " << step << ": " << energies[1] << " against " << PotentialEnergy(at, o.step.force);
    };
    while (std::getline(f, line)) {
      std::vector<std::string> cells;
      std::istringstream row(line + ",");
      for (std::string cell; std::getline(row, cell, ',');) cells.push_back(cell);
      ASSERT_EQ(cells.size(), 11u) << line;
      if (cells[0] != step) {
        check();
        step = cells[0];
        energies = {cells[8], cells[9]};
      }
      const int k = std::stoi(cells[1]);
      SlotArray<Extended>* arrays[] = {&at.X, &at.Y, &at.Z, &at.UX, &at.UY, &at.UZ};
      for (int i = 0; i < 6; ++i) (*arrays[i])[k] = std::strtold(cells[std::size_t(2 + i)].c_str(), nullptr);
    }
    check();
    EXPECT_EQ(checked, c.faults ? 2 : 9);
  }
}

TEST_F(Batch, CsvNumbersAreLossless) {
  for (Extended v : {0.1L, 1.0L / 3, -2.718L, 1e-4000L, 123456789.123456789L}) {
    const std::string t = batch::LosslessText(v);
    EXPECT_EQ(std::strtold(t.c_str(), nullptr), v) << t;
  }
}

TEST_F(Batch, FloatingPointFaultsExitWithThreeAndWriteNothing) {
  WriteSquare("bad.pln", 0.001L, 0);
  auto o = Command(Path("bad.pln"), 5);
  o.out = Path("never.pln");
  EXPECT_EQ(Run(o), 3);
  EXPECT_EQ(err_.str(), "step 1: Floating point division by zero\n");
  EXPECT_FALSE(fs::exists(Path("never.pln")));
}

TEST_F(Batch, FileErrorsExitWithFourNamingThePath) {
  EXPECT_EQ(Run(Command(Path("missing.pln"), 1)), 4);
  EXPECT_EQ(err_.str(), Path("missing.pln") + ": File not found\n");

  std::ofstream(Path("short.pln")) << "too short";
  EXPECT_EQ(Run(Command(Path("short.pln"), 1)), 4);
  EXPECT_EQ(err_.str(), Path("short.pln") + ": Read beyond end of file\n");

  const std::string in = WriteSquare("square.pln");
  auto o = Command(in, 1000);
  o.out = Path("no/such/dir/out.pln");
  int steps = 0;  // the folder is found missing before the first step
  EXPECT_EQ(Run(o, {[&steps](std::int32_t) { ++steps; }, {}, {}}), 4);
  EXPECT_EQ(steps, 0);
  EXPECT_EQ(err_.str().rfind(Path("no/such/dir/out.pln") + ": ", 0), 0u) << err_.str();

  // The summary comes after the run; where it cannot go is found before:
  // a missing folder, a folder in the file's place, a file in the folder's
  // place (one with execute bits passes a look at its permissions) and, for
  // a user whom permissions bind, a read-only file or folder.
  std::ofstream(Path("program")) << "#!/bin/sh\n";
  fs::permissions(Path("program"), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  std::vector<std::string> summaries = {Path("no/such/dir/s.csv"), Path(""), Path("program/s.csv")};
  if (geteuid() != 0) {
    fs::create_directory(Path("locked"));
    fs::permissions(Path("locked"), fs::perms::owner_read | fs::perms::owner_exec);
    std::ofstream(Path("readonly.csv")) << "";
    fs::permissions(Path("readonly.csv"), fs::perms::owner_read);
    summaries.insert(summaries.end(), {Path("locked/s.csv"), Path("readonly.csv")});
  }
  for (const std::string& summary : summaries) {
    auto s = Command(in, 1000);
    s.summary = summary.empty() ? Path(".") : summary;
    steps = 0;
    EXPECT_EQ(Run(s, {[&steps](std::int32_t) { ++steps; }, {}, {}}), 4) << summary;
    EXPECT_EQ(steps, 0) << summary;
  }

  // A summary that takes nothing when its row comes is a file error, and
  // the run's results are kept all the same.
  auto full = Command(in, 10);
  full.out = Path("kept.pln");
  full.summary = "/dev/full";
  EXPECT_EQ(Run(full), 4);
  EXPECT_EQ(err_.str(), "/dev/full: Disk full\n");
  EXPECT_EQ(ReadWholeFile(Path("kept.pln")).size(), kConfigRecordSize);
}

// Each step goes once into the trajectory, the last one too when it is not
// a multiple of K.
TEST_F(Batch, XyzHasAFrameAtTheStartEveryKStepsAndTheEnd) {
  const std::string in = WriteSquare("square.pln");
  struct Case {
    std::int32_t steps, every;
    std::vector<std::int32_t> frames;
  };
  const Case cases[] = {{10, 4, {0, 4, 8, 10}}, {8, 4, {0, 4, 8}}, {0, 3, {0}}, {3, 1, {0, 1, 2, 3}}};
  for (const Case& c : cases) {
    auto o = Command(in, c.steps);
    o.xyz = Path("run.xyz");
    o.every = c.every;
    o.step.walls = Walls::Thermos20X20;
    ASSERT_EQ(Run(o), 0) << err_.str();
    std::vector<std::int32_t> steps;
    for (const XyzFrame& f : ParseXyz(Bytes(Path("run.xyz")))) {
      steps.push_back(f.step.value_or(-1));
      EXPECT_EQ(f.count, 4);
    }
    EXPECT_EQ(steps, c.frames) << c.steps << " every " << c.every;
    EXPECT_NE(Bytes(Path("run.xyz")).find(" Lattice=\"20 0 0 0 20 0 0 0 20\" Origin=\"-10 -10 -10\""),
              std::string::npos);
  }
}

// A run continued from its trajectory's last frame goes on exactly as the
// run itself did: the frame holds every bit of positions and velocities.
TEST_F(Batch, AFrameReadBackWithFromContinuesTheRunBitForBit) {
  const std::string in = WriteSquare("square.pln");
  auto whole = Command(in, 12);
  whole.step.force.formula = Formula::DUDI;
  ASSERT_EQ(Run(whole), 0) << err_.str();
  const SimState expect = *state_;

  auto first = whole;
  first.steps = 7;
  first.xyz = Path("first.xyz");
  first.every = 5;
  ASSERT_EQ(Run(first), 0) << err_.str();
  for (const char* from : {"first.xyz", "first.xyz@-1", "first.xyz@2"}) {
    auto rest = whole;
    rest.steps = 5;
    rest.from = Path(from);
    ASSERT_EQ(Run(rest), 0) << err_.str();
    for (int k = 1; k <= kSlotCount; ++k) {
      ASSERT_EQ(state_->Present[k], expect.Present[k]) << k;
      if (expect.Present[k] == 0) continue;
      for (auto a : {&RunState::X, &RunState::Y, &RunState::Z, &RunState::UX, &RunState::UY, &RunState::UZ})
        EXPECT_EQ(std::memcmp(&((*state_).*a)[k], &(expect.*a)[k], 10), 0) << from << " slot " << k;
    }
  }
  // The parameters still come from the configuration.
  auto dt = whole;
  dt.from = Path("first.xyz@0");
  dt.steps = 0;
  dt.set[0] = 0.005L;
  ASSERT_EQ(Run(dt), 0) << err_.str();
  EXPECT_EQ(state_->Dt, 0.005L);
  EXPECT_EQ(state_->B1, expect.B1);
}

// A run that does not finish leaves the old files at its output paths and no
// temporary file; after a floating-point fault the table keeps the rows of
// the good steps.
TEST_F(Batch, UnfinishedRunsLeaveTheOldOutputs) {
  const std::string good = WriteSquare("square.pln");
  WriteSquare("bad.pln", 0.001L, 0);
  struct Case {
    const char* what;
    std::string in;
    int stopAtCall;  // the call of the stop check that sees a signal; 0: never
    const char* csvFolder;
    int status;
    bool csvReplaced;
    const char* message = nullptr;  // checked when given
  };
  const Case cases[] = {
      {"stopped between steps", good, 3, "", 128 + SIGTERM, false,
       "stopped by SIGTERM after 2 steps; no output written\n"},
      {"stopped before the outputs move", good, 6, "", 128 + SIGTERM, false,
       "stopped by SIGTERM after 5 steps; no output written\n"},
      {"floating-point fault", Path("bad.pln"), 0, "", 3, true},
      {"csv folder missing", good, 0, "missing/", 4, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string csvPath = Path(std::string(c.csvFolder) + "run.csv");
    std::ofstream(Path("out.pln")) << "old result";
    std::ofstream(Path("run.csv")) << "old table";
    auto o = Command(c.in, 5);
    o.out = Path("out.pln");
    o.csv = csvPath;
    int calls = 0;
    EXPECT_EQ(Run(o, {{}, [&] { return ++calls == c.stopAtCall ? SIGTERM : 0; }, {}}), c.status)
        << err_.str();
    if (c.message != nullptr) {
      EXPECT_EQ(err_.str(), c.message);
    }
    EXPECT_EQ(Bytes(Path("out.pln")), "old result");
    const std::string table = Bytes(Path("run.csv"));
    if (c.csvReplaced) {
      // The header and the start's four rows: the first step faulted.
      EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 5) << table;
      EXPECT_EQ(table.rfind("step,slot,", 0), 0u);
    } else {
      EXPECT_EQ(table, "old table");
    }
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"bad.pln", "out.pln", "run.csv", "square.pln"}));
  }
}

TEST_F(Batch, SummaryRowsCarryTheSettingsTheEndAndTheFault) {
  const std::string in = WriteSquare("square.pln");
  auto o = Command(in, 10);
  o.summary = Path("summary.csv");
  o.set[1] = 2.5L;  // A1
  o.step.force.formula = Formula::PES;
  o.step.heater = true;
  ASSERT_EQ(Run(o), 0) << err_.str();
  const Extended kinetic = KineticEnergy(*state_);
  const Extended distance = batch::LargestDistanceFromCentre(*state_);
  o.in = WriteSquare("bad.pln", 0.001L, 0);
  EXPECT_EQ(Run(o), 3);

  std::istringstream lines(Bytes(Path("summary.csv")));
  std::vector<std::vector<std::string>> rows;
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream cells(line + ",");
    for (std::string cell; std::getline(cells, cell, ',');) fields.push_back(cell);
    rows.push_back(fields);
  }
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][0], "input");
  auto column = [&rows](const std::string& name) {
    return std::size_t(std::find(rows[0].begin(), rows[0].end(), name) - rows[0].begin());
  };
  for (const auto& row : rows) ASSERT_EQ(row.size(), rows[0].size());
  const auto& done = rows[1];
  EXPECT_EQ(done[column("input")], in);
  EXPECT_EQ(done[column("formula")], "PES");
  EXPECT_EQ(done[column("heater")], "on");
  EXPECT_EQ(done[column("cooler")], "off");
  // Rows from several machines can be told apart.
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  EXPECT_EQ(done[column("host")], host);
  EXPECT_EQ(done[column("version")], QUINDELLE_VERSION);
  EXPECT_EQ(done[column("A1")], "2.5");
  EXPECT_EQ(done[column("steps")], "10");
  EXPECT_EQ(std::strtold(done[column("kinetic")].c_str(), nullptr), kinetic);
  EXPECT_EQ(std::strtold(done[column("max_distance")].c_str(), nullptr), distance);
  EXPECT_EQ(done[column("fault")], "");
  const auto& faulted = rows[2];
  EXPECT_EQ(faulted[column("steps")], "0");
  EXPECT_EQ(faulted[column("fault")], "Floating point division by zero");
  EXPECT_EQ(faulted[column("fault_step")], "1");

  SimState three{};
  for (int k : {7, 8, 9}) three.Present[k] = 1;
  three.X[8] = 2;
  three.X[9] = 1;
  three.Y[9] = 3;  // centre (1, 1, 0): distances sqrt 2, sqrt 2, 2
  EXPECT_EQ(batch::LargestDistanceFromCentre(three), 2);
}

// Rows from concurrent runs stay whole, with one header.
// A row cut short by a full disk is taken back whole, so that the next row
// starts a line of its own; a first row that fails leaves no file. The file
// size limit stands in for the full disk (in a child, as it is per process).
TEST_F(Batch, ASummaryRowThatDoesNotFitLeavesNoHalfRow) {
  const std::string path = Path("rows.csv");
  AppendLine(path, "header\n", "first\n");
  for (const auto& [file, limit] : {std::pair{path, rlim_t{20}}, std::pair{Path("new.csv"), rlim_t{0}}}) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit cap{limit, limit};
      setrlimit(RLIMIT_FSIZE, &cap);
      try {
        AppendLine(file, "header\n", std::string(100, 'x') + '\n');
      } catch (const FileError& e) {
        _exit(std::string(e.what()) == kDiskFull ? 4 : 5);
      }
      _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 4) << file;
  }
  AppendLine(path, "header\n", "second\n");
  EXPECT_EQ(Bytes(path), "header\nfirst\nsecond\n");
  EXPECT_FALSE(std::filesystem::exists(Path("new.csv")));
}

TEST_F(Batch, ConcurrentSummaryAppendsNeverInterleave) {
  const std::string path = Path("rows.csv");
  std::vector<pid_t> children;
  for (char id = 'a'; id < 'e'; ++id) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int i = 0; i < 200; ++i) AppendLine(path, "header\n", std::string(3000, id) + '\n');
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) waitpid(pid, nullptr, 0);
  std::istringstream lines(Bytes(path));
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "header");
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    ASSERT_EQ(line, std::string(3000, line[0]));
  }
  EXPECT_EQ(count, 800);

  // Writers that start together on a file that does not exist yet: one makes
  // it, the others append to it, and the header is there once.
  for (int round = 0; round < 100; ++round) {
    const std::string fresh = Path("fresh" + std::to_string(round) + ".csv");
    std::atomic<int> ready{0}, failed{0};
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w)
      writers.emplace_back([&, w] {
        ++ready;
        while (ready.load() < 4) std::this_thread::yield();
        try {
          AppendLine(fresh, "header\n", std::to_string(w) + "\n");
        } catch (const FileError&) {
          ++failed;
        }
      });
    for (std::thread& t : writers) t.join();
    ASSERT_EQ(failed.load(), 0) << "round " << round;
    const std::string text = Bytes(fresh);
    ASSERT_EQ(text.rfind("header\n", 0), 0u) << text;
    ASSERT_EQ(text.size(), 7u + 4 * 2) << text;
  }
}

}  // namespace
}  // namespace qd
