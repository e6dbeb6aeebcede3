#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <sstream>

#include "core/batch/batch_run.h"
#include "core/batch/csv_rows.h"
#include "core/common/errors.h"
#include "core/dynamics/step.h"
#include "core/history/history_archive.h"
#include "core/history/run_history.h"
#include "core/persistence/config_record.h"
#include "core/persistence/file_io.h"
#include "core/persistence/run_archive.h"
#include "core/run/run.h"
#include "dynamics_support.h"
#include "test_files.h"

namespace qd {
namespace {

using testing::ReadBytes;
using testing::ReadText;
using testing::TempDir;
using testing_support::RandomCloud;
using testing_support::SameDynamicState;
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

// An archive of `count` snapshots, steps 0, 10, 20, ..., written whole as
// Save History writes one; the formula changes at every fifth.
void WriteArchive(const std::string& path, int count) {
  std::vector<std::uint8_t> bytes = archive::EncodeHeader(StepOptions{});
  SimState s = TwoParticles();
  for (int i = 0; i < count; ++i) {
    s.StepCount = 10 * i;
    s.X[2] = 1 + i / 1000.0L;
    archive::Entry e{s.StepCount, {}, s, {}};
    e.options.force.formula = Formula(i / 5 % 5);
    const std::vector<std::uint8_t> record = archive::EncodeRecord(e);
    bytes.insert(bytes.end(), record.begin(), record.end());
  }
  testing::WriteBytes(path, bytes);
}

std::vector<std::int32_t> Steps(const RunHistory& h) {
  std::vector<std::int32_t> v;
  for (std::size_t i = 0; i < h.Size(); ++i) v.push_back(h.At(i).State.StepCount);
  return v;
}

TEST(EvenPicks, KeepTheFirstAndTheLastAndSpreadTheRestOverTheWholeRun) {
  const struct {
    std::size_t count, room;
    std::vector<std::size_t> expected;  // empty: only the spacing is checked
  } cases[] = {
      {0, 5, {}},         {3, 5, {0, 1, 2}}, {5, 5, {0, 1, 2, 3, 4}}, {10, 4, {0, 3, 6, 9}},
      {7, 1, {0, 6}},  // never fewer than the two ends
      {100000, 3680, {}}, {20000, 4320, {}}, {4321, 4320, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.count) + " in " + std::to_string(c.room));
    const std::vector<std::size_t> picks = EvenPicks(c.count, c.room);
    if (!c.expected.empty() || c.count == 0) {
      EXPECT_EQ(picks, c.expected);
      continue;
    }
    ASSERT_EQ(picks.size(), c.room);
    EXPECT_EQ(picks.front(), 0u);
    EXPECT_EQ(picks.back(), c.count - 1);
    // No gap wider than the even spacing rounded up.
    const std::size_t widest = (c.count - 1 + c.room - 2) / (c.room - 1);
    for (std::size_t i = 1; i < picks.size(); ++i) {
      ASSERT_GT(picks[i], picks[i - 1]) << i;
      ASSERT_LE(picks[i] - picks[i - 1], widest) << i;
    }
  }
}

// An archive larger than the history is read thinned evenly, its source
// named, every snapshot with its own force choices; one that fits is read
// whole. The source follows the history's own thinning and cutting.
TEST_F(History, AnArchiveIsReadThinnedEvenlyAndItsSourceFollowsTheHistory) {
  const std::string big = dir_ / "big.qra", small = dir_ / "small.qra";
  WriteArchive(big, 200);
  WriteArchive(small, 30);
  RunHistory h(50 * RunHistory::SnapshotBytes(), Ticking(1000));
  ASSERT_EQ(h.Capacity(), 50u);

  LoadHistoryArchive(archive::Reader(small), small, h);
  EXPECT_EQ(h.Size(), 30u);
  EXPECT_EQ(h.Source().path, small);
  EXPECT_FALSE(h.Source().Thinned());

  const LoadedArchive loaded = LoadHistoryArchive(archive::Reader(big), big, h);
  ASSERT_EQ(h.Size(), 50u);
  EXPECT_EQ(h.Source().path, big);
  EXPECT_EQ(h.Source().indices, EvenPicks(200, 50));
  EXPECT_EQ(h.Source().Span(), 200u);
  EXPECT_TRUE(h.Source().Thinned());
  EXPECT_EQ(loaded.options.force.formula, Formula(199 / 5 % 5));
  for (std::size_t i = 0; i < h.Size(); ++i) {
    const std::size_t from = h.Source().indices[i];
    ASSERT_EQ(h.At(i).State.StepCount, std::int32_t(10 * from)) << i;
    ASSERT_EQ(h.At(i).Force.formula, Formula(from / 5 % 5)) << i;
  }

  // Going back keeps what the window says true: the snapshots up to there.
  h.TruncateAfter(19);
  EXPECT_EQ(h.Source().indices.size(), 20u);
  EXPECT_EQ(h.Source().Span(), EvenPicks(200, 50)[19] + 1);
  // A run from there fills the history: the source is thinned with it.
  SimState s = TwoParticles();
  InstallSnapshot(h.At(19), s);
  h.RunStarted(s, ForceOptions{});
  StepOptions o;
  for (int n = 0; n < 4000 && h.Source().indices.size() == 20; ++n) {
    AdvanceStep(s, o, s.StepCount + 1);
    h.StepDone(s, o.force);
  }
  EXPECT_EQ(h.Source().indices.size(), 10u);
  for (std::size_t i = 0; i < 10; ++i)
    EXPECT_EQ(h.At(i).State.StepCount, std::int32_t(10 * h.Source().indices[i]));
  h.Clear();
  EXPECT_TRUE(h.Source().path.empty());
  EXPECT_FALSE(h.Source().Thinned());
}

// A read that fails (the archive cut after it was opened) leaves the history
// as it was.
TEST_F(History, AnArchiveThatFailsWhileReadLeavesTheHistoryAsItWas) {
  const std::string path = dir_ / "cut.qra";
  WriteArchive(path, 40);
  RunHistory h(RunHistory::kDefaultMemoryLimit, Ticking(1000));
  SimState s = TwoParticles();
  h.RunStarted(s, ForceOptions{});
  const archive::Reader r(path);
  ASSERT_EQ(truncate(path.c_str(), off_t(archive::HeaderSize() + 10 * archive::RecordSize())), 0);
  EXPECT_THROW(LoadHistoryArchive(r, path, h), FileError);
  EXPECT_EQ(Steps(h), std::vector<std::int32_t>{0});
  EXPECT_TRUE(h.Source().path.empty());
}

// Save History writes each snapshot with the force choices it was taken
// under, not those in force when it is saved; the other choices are the
// run's.
TEST_F(History, SavedSnapshotsKeepTheForceChoicesTheyWereTakenUnder) {
  SimState s = Load(WallCloud());
  RunHistory h(RunHistory::kDefaultMemoryLimit, Ticking(1000));
  StepOptions o = WallOptions();
  const Formula formulas[] = {Formula::E, Formula::PE, Formula::PES};
  for (const Formula f : formulas) {
    o.force.formula = f;
    o.force.dropB = f == Formula::PES;
    h.RunStarted(s, o.force);  // each run records its start
    for (int n = 0; n < 3; ++n) {
      AdvanceStep(s, o, s.StepCount + 1);
      h.StepDone(s, o.force);
    }
  }
  ASSERT_GE(h.Size(), 3u);
  StepOptions now = WallOptions();
  now.force.formula = Formula::DUDI;
  now.heater = true;
  SaveHistoryArchive(h, now, dir_ / "saved.qra");
  const archive::Reader r(dir_ / "saved.qra");
  ASSERT_EQ(r.Count(), h.Size());
  EXPECT_EQ(r.Options().force.formula, Formula::E);
  std::vector<Formula> seen;
  for (std::size_t i = 0; i < r.Count(); ++i) {
    const archive::Entry e = r.At(i);
    EXPECT_EQ(e.options.force.formula, h.At(i).Force.formula) << i;
    EXPECT_EQ(e.options.force.dropB, h.At(i).Force.dropB) << i;
    EXPECT_TRUE(e.options.heater) << i;
    if (seen.empty() || seen.back() != e.options.force.formula) seen.push_back(e.options.force.formula);
  }
  EXPECT_EQ(seen, std::vector<Formula>(std::begin(formulas), std::end(formulas)));
}

// Steps taken one by one from a fresh load make a run whose start is
// recorded; continuing from that first snapshot goes back to the load.
TEST_F(History, SingleStepsRecordTheirStartAndTheFirstSnapshotContinues) {
  qd::Run run;
  run.State() = Load(WallCloud());
  run.Options() = WallOptions();
  run.StateReplaced();
  const RunState loaded = run.State();
  for (int n = 0; n < 5; ++n) ASSERT_FALSE(run.Step());
  const RunState fifth = run.State();
  ASSERT_GE(run.History().Size(), 1u);
  EXPECT_EQ(run.History().At(0).State.StepCount, 0);
  EXPECT_TRUE(SameDynamicState(run.History().At(0).State, loaded));

  ASSERT_TRUE(run.ContinueFrom(0));
  EXPECT_EQ(run.History().Size(), 1u);
  EXPECT_EQ(run.State().StepCount, 0);
  EXPECT_TRUE(SameDynamicState(run.State(), loaded));
  EXPECT_FALSE(run.ContinueFrom(1));
  run.Go(5);
  EXPECT_TRUE(SameDynamicState(run.State(), fifth));
}

// With a fixed K the snapshots fall on the multiples of K, and a run split
// into shorter ones ends with the snapshots of the unbroken run; each run's
// last step is recorded, off the multiples only while it is the last.
TEST(FixedInterval, SnapshotsDoNotDependOnHowARunIsSplit) {
  struct Case {
    std::int32_t every;
    std::vector<int> runs;
    std::vector<std::int32_t> steps;  // the snapshots' steps at the end
  };
  std::vector<std::int32_t> grid;
  for (std::int32_t k = 0; k <= 1000; k += 100) grid.push_back(k);
  const Case kCases[] = {
      {100, {1000}, grid},
      {100, {150, 350, 500}, grid},
      {100, {1, 1, 998}, grid},
      {100, {170, 20, 810}, grid},
      {100, {999, 1}, grid},
      {100, {150}, {0, 100, 150}},
      {100, {170, 20}, {0, 100, 170, 190}},
      {100, {170, 20, 10}, {0, 100, 200}},
      {100, {0, 50, 0}, {0, 50}},
      {300, {1000}, {0, 300, 600, 900, 1000}},
      {0, {5000}, {}},  // chosen by the clock; only the end is known
  };
  const ForceOptions force;
  for (const Case& c : kCases) {
    RunHistory h(RunHistory::kDefaultMemoryLimit, Ticking(1000));
    h.SetFixedInterval(c.every);
    RunState s = testing_support::TwoParticles();
    s.StepCount = 0;
    for (const int length : c.runs) {
      h.RunStarted(s, force);
      for (int i = 0; i < length; ++i) {
        ++s.StepCount;
        h.StepDone(s, force);
      }
      h.RunEnded(s, force);
    }
    std::vector<std::int32_t> got;
    for (std::size_t i = 0; i < h.Size(); ++i) got.push_back(h.At(i).State.StepCount);
    std::string runs;
    for (const int length : c.runs) runs += " " + std::to_string(length);
    if (c.every > 0) {
      EXPECT_EQ(got, c.steps) << "every " << c.every << ", runs" << runs;
    } else {
      ASSERT_FALSE(got.empty());
      EXPECT_EQ(got.front(), 0);
      EXPECT_EQ(got.back(), s.StepCount) << "runs" << runs;
    }
  }
}

}  // namespace
}  // namespace qd
