#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>

#include "core/batch/batch_run.h"
#include "core/batch/csv_rows.h"
#include "core/dynamics/step.h"
#include "core/history/run_history.h"
#include "core/persistence/config_record.h"
#include "core/persistence/file_io.h"
#include "dynamics_support.h"
#include "test_files.h"

namespace qd {
namespace {

using testing::ReadBytes;
using testing::ReadText;
using testing::TempDir;
using testing_support::RandomCloud;
using testing_support::TwoParticles;

// A clock that moves on by `tick` nanoseconds at every reading: a step and
// a snapshot then seem to cost the same.
RunHistory::Clock Ticking(std::int64_t tick) {
  return [t = std::int64_t{0}, tick]() mutable { return t += tick; };
}

// A cloud that bumps into the 1.5 walls and whose first four slots are
// held, so that the working velocities differ from the committed ones.
SimState WallCloud() {
  SimState s = RandomCloud(7, 14, 1.8L);
  s.A1 = s.A2 = 0.01L;
  s.B1 = s.B2 = s.C1 = s.C2 = s.D1 = s.D2 = s.F1 = s.F2 = 1;
  for (int k = 1; k <= kSlotCount; ++k) s.UX[k] *= 40, s.UY[k] *= 40, s.UZ[k] *= 40;
  InstallAll(s);
  s.Dt = 0.01L;
  return s;
}

StepOptions WallOptions() {
  StepOptions o;
  o.walls = Walls::Thermos3X3;
  o.cooler = true;
  o.blockade = true;
  return o;
}

class History : public ::testing::Test {
 protected:
  // Writes `config` and loads it back as the window and the runner do.
  SimState Load(SimState config) {
    path_ = dir_ / "start.pln";
    FillConfigRecord(config);
    WriteConfigFile(config, path_);
    SimState s{};
    s.TaonCount = kSlotCount;
    ReadConfigFile(s, path_);
    ApplyConfigRecord(s);
    s.StepCount = 0;
    return s;
  }

  // The batch runner's own run on the file written by Load, with the walls,
  // cooler and blockade of WallOptions.
  void Batch(std::int32_t steps, const std::string& out, const std::string& csv = {}) {
    batch::Options b;
    b.in = path_;
    b.steps = steps;
    b.step = WallOptions();
    b.out = out;
    b.csv = csv;
    auto end = std::make_unique<SimState>();
    const batch::Outcome rc = batch::Run(b, *end);
    EXPECT_EQ(rc.status, batch::kDone) << rc.message;
  }

  // The runner's table, one block of rows per step.
  static std::map<std::int32_t, std::string> Blocks(const std::string& csv) {
    std::map<std::int32_t, std::string> blocks;
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line + '\n', batch::kCsvHeader);
    while (std::getline(in, line)) blocks[std::stoi(line.substr(0, line.find(',')))] += line + '\n';
    return blocks;
  }

  TempDir dir_;
  std::string path_;
};

TEST_F(History, ContinuingFromASnapshotIsTheUninterruptedRunAndTheTableIsTheRunners) {
  const StepOptions o = WallOptions();
  SimState s = Load(WallCloud());
  RunHistory h(RunHistory::kDefaultMemoryLimit, Ticking(1000));
  h.RunStarted(s, o.force);
  for (std::int32_t n = 1; n <= 140; ++n) {
    AdvanceStep(s, o, n);
    h.StepDone(s, o.force);
  }
  // A step and a snapshot cost the same here: one snapshot every 67 steps
  // keeps recording at 1.5% of the run, well under the 5% it may cost.
  ASSERT_EQ(h.Interval(), 67);
  ASSERT_EQ(h.Size(), 3u);

  for (std::size_t pick : {0u, 1u, 2u}) {
    const Snapshot& snap = h.At(pick);
    ASSERT_EQ(snap.State.StepCount, std::int32_t(67 * pick));
    SimState c{};
    c.TaonCount = kSlotCount;
    InstallSnapshot(snap, c);
    for (std::int32_t n = snap.State.StepCount + 1; n <= snap.State.StepCount + 37; ++n) AdvanceStep(c, o, n);
    FillConfigRecord(c);
    WriteConfigFile(c, dir_ / "continued.pln");
    Batch(snap.State.StepCount + 37, dir_ / "straight.pln");
    EXPECT_EQ(ReadBytes(dir_ / "continued.pln"), ReadBytes(dir_ / "straight.pln"))
        << "from step " << snap.State.StepCount;
  }

  Batch(140, {}, dir_ / "run.csv");
  const auto expected = Blocks(ReadText(dir_ / "run.csv"));
  const auto recorded = Blocks(HistoryCsv(h));
  ASSERT_EQ(recorded.size(), h.Size());
  for (const auto& [step, rows] : recorded) {
    ASSERT_TRUE(expected.count(step)) << step;
    EXPECT_EQ(rows, expected.at(step)) << "step " << step;
  }
}

TEST_F(History, StaysUnderItsMemoryBoundAndCoversAMillionSteps) {
  // A clock that never moves makes recording look free, so only the
  // memory bound holds K back.
  SimState s = TwoParticles();
  s.Dt = 0.0001L;
  StepOptions o;
  RunHistory h(RunHistory::kDefaultMemoryLimit, [] { return std::int64_t{0}; });
  h.RunStarted(s, o.force);
  std::size_t most = 0;
  for (std::int32_t n = 1; n <= 1000000; ++n) {
    AdvanceStep(s, o, n);
    h.StepDone(s, o.force);
    most = std::max(most, h.MemoryBytes());
  }
  EXPECT_LE(most, h.MemoryLimit());
  EXPECT_LE(most, std::size_t{64} << 20);
  ASSERT_GT(h.Size(), h.MemoryLimit() / RunHistory::SnapshotBytes() / 2);
  EXPECT_EQ(h.At(0).State.StepCount, 0);
  EXPECT_GT(h.At(h.Size() - 1).State.StepCount, 1000000 - h.Interval());
  for (std::size_t i = 1; i < h.Size(); ++i)
    ASSERT_EQ(h.At(i).State.StepCount - h.At(i - 1).State.StepCount, h.Interval()) << i;
}

TEST_F(History, ThinsEvenlyAndStartsAgainWhereTheStateChanges) {
  SimState s = TwoParticles();
  s.Dt = 0.001L;
  StepOptions o;
  RunHistory h(8 * RunHistory::SnapshotBytes(), [] { return std::int64_t{0}; });
  auto run = [&](std::int32_t steps) {
    h.RunStarted(s, o.force);
    for (std::int32_t i = 0; i < steps; ++i) {
      AdvanceStep(s, o, s.StepCount + 1);
      h.StepDone(s, o.force);
    }
  };
  auto steps = [&] {
    std::vector<std::int32_t> v;
    for (std::size_t i = 0; i < h.Size(); ++i) v.push_back(h.At(i).State.StepCount);
    return v;
  };
  struct Case {
    std::int32_t steps;
    std::vector<std::int32_t> expected;
  } cases[] = {
      {5, {0, 1, 2, 3, 4, 5}},          {2, {0, 1, 2, 3, 4, 5, 6, 7}},  // a second run extends the history
      {8, {0, 2, 4, 6, 8, 10, 12, 14}},  // full at step 8: every other dropped, K = 2
      {0, {0, 4, 8, 12, 15}},            // a run's start is kept, off the grid too
      {20, {0, 8, 15, 23, 31}},          // full again: K = 8
  };
  for (const Case& c : cases) {
    run(c.steps);
    EXPECT_EQ(steps(), c.expected) << "after " << s.StepCount;
    EXPECT_LE(h.MemoryBytes(), h.MemoryLimit());
  }
  // Going back: everything after the chosen snapshot goes.
  h.TruncateAfter(1);
  EXPECT_EQ(steps(), (std::vector<std::int32_t>{0, 8}));
  h.Clear();
  EXPECT_TRUE(h.Empty());
  run(1);
  EXPECT_EQ(steps(), (std::vector<std::int32_t>{35, 36}));
}

}  // namespace
}  // namespace qd
