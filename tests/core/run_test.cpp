// The run object: the same steps whichever way it is driven, faults as
// values, stopping between steps, what observers are told, and copies and
// snapshots that go on exactly as the run they came from.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/dynamics/energy.h"
#include "core/dynamics/step.h"
#include "core/run/run.h"
#include "dynamics_support.h"

namespace qd {
namespace {

using testing_support::RandomCloud;
using testing_support::SameDynamicState;
using testing_support::SetKind;

RunState Cloud(unsigned seed) {
  SimState s = RandomCloud(seed, 30, 5);
  SetKind(s, 1, 1, 2.718L, 5, 10, 20);
  SetKind(s, 2, 0.75L, 1.9L, 3.5L, 7.25L, 12);
  s.Dt = 1e-3L;
  return s;
}

struct Recorder : RunObserver {
  std::string log;
  void RunStarted() override { log += 'S'; }
  void StepDone() override { log += '.'; }
  void RunEnded(const RunOutcome& o) override { log += o.fault ? 'F' : 'E'; }
  void StateReplaced() override { log += 'R'; }
};

struct DriveCase {
  const char* name;
  Formula formula;
  Walls walls;
  bool cooler, blockade;
  int threads;
};

const DriveCase kDrives[] = {
    {"E_one_thread", Formula::E, Walls::None, false, false, 1},
    {"PE_walls_two_threads", Formula::PE, Walls::Thermos20X20, false, false, 2},
    {"DUDI_cooler_blockade", Formula::DUDI, Walls::Thermos3X3, true, true, 2},
    {"EPESminus_three_threads", Formula::EPESminus, Walls::None, false, false, 3},
};

// Go in one call, Go stopped by its callback and started again, Step one by
// one, a clone taken half way and the literal step all give the same bits.
TEST(RunObject, EveryWayOfDrivingItGivesTheLiteralSteps) {
  for (const DriveCase& c : kDrives) {
    StepOptions o;
    o.force.formula = c.formula;
    o.walls = c.walls;
    o.cooler = c.cooler;
    o.blockade = c.blockade;
    o.threads = c.threads;
    const RunState start = Cloud(7);
    RunState literal = start;
    for (int n = 1; n <= 12; ++n) AdvanceStepLiteral(literal, o, n);

    qd::Run whole;
    whole.State() = start;
    whole.Options() = o;
    const RunOutcome all = whole.Go(12);
    EXPECT_EQ(all.steps, 12) << c.name;
    EXPECT_FALSE(all.fault) << c.name;

    RunState outside = start;
    qd::Run stopped(outside);
    stopped.Options() = o;
    stopped.SetPrepareAhead(true);
    EXPECT_EQ(stopped.Go(-1, [](std::int64_t done) { return done < 5; }).steps, 5) << c.name;
    const std::unique_ptr<qd::Run> branch = stopped.Clone();
    EXPECT_EQ(stopped.Go(7).steps, 7) << c.name;
    for (int n = 0; n < 7; ++n) EXPECT_FALSE(branch->Step()) << c.name;

    for (const RunState* s : {&whole.State(), &outside, &branch->State()}) {
      EXPECT_TRUE(SameDynamicState(literal, *s)) << c.name;
      EXPECT_EQ(s->StepCount, 12) << c.name;
    }
    EXPECT_NE(&branch->State(), &outside);
  }
}

TEST(RunObject, AFaultIsAValueWithItsStepAndTheStateOfTheStepBefore) {
  qd::Run run;
  run.State() = testing_support::TwoParticles();
  run.State().StepCount = 40;
  // The two particles on one spot: the first step divides by zero.
  run.State().X[2] = run.State().X[1];
  run.State().Y[2] = run.State().Y[1];
  run.State().Z[2] = run.State().Z[1];
  const RunState before = run.State();
  Recorder seen;
  run.AddObserver(&seen);
  const RunOutcome out = run.Go(10);
  ASSERT_TRUE(out.fault);
  EXPECT_EQ(out.fault->step, 41);
  EXPECT_EQ(out.fault->message, "Floating point division by zero");
  EXPECT_EQ(out.steps, 0);
  EXPECT_EQ(run.State().StepCount, 40);
  EXPECT_EQ(run.State().X, before.X);
  EXPECT_EQ(seen.log, "SF");
  const std::optional<Fault> again = run.Step();
  ASSERT_TRUE(again);
  EXPECT_EQ(again->step, 41);
}

TEST(RunObject, ObserversHistoryAndContinuingFromASnapshot) {
  qd::Run run;
  run.State() = Cloud(9);
  run.Options().force.formula = Formula::PES;
  run.History() = RunHistory(RunHistory::kDefaultMemoryLimit, [t = std::int64_t{0}]() mutable {
    return t += 1000;  // a step and a snapshot cost the same
  });
  Recorder seen;
  run.AddObserver(&seen);
  run.Go(3);
  EXPECT_EQ(seen.log, "S...E");
  run.Go(200);
  ASSERT_GE(run.History().Size(), 3u);
  const std::size_t pick = 1;
  const std::int32_t from = run.History().At(pick).State.StepCount;
  const RunState end = run.State();

  seen.log.clear();
  ASSERT_TRUE(run.ContinueFrom(pick));
  EXPECT_FALSE(run.ContinueFrom(run.History().Size()));
  EXPECT_EQ(run.History().Size(), pick + 1);
  EXPECT_EQ(run.State().StepCount, from);
  run.Go(203 - from);
  EXPECT_TRUE(SameDynamicState(end, run.State()));
  EXPECT_EQ(seen.log.front(), 'R');

  run.RemoveObserver(&seen);
  run.StateReplaced();
  EXPECT_TRUE(run.History().Empty());
  EXPECT_EQ(seen.log.find('R', 1), std::string::npos);
}

TEST(RunObject, EnergiesAreThoseOfTheStateOnAnyThreadCount) {
  qd::Run run;
  run.State() = Cloud(11);
  run.Options().force.formula = Formula::DUDI;
  const Extended one = PotentialEnergy(run.State(), run.Options().force);
  for (int threads : {1, 2, 5}) {
    run.Options().threads = threads;
    const Extended many = run.Potential();
    EXPECT_EQ(std::memcmp(&one, &many, 10), 0) << threads;
  }
  EXPECT_EQ(run.Kinetic(), KineticEnergy(run.State()));
}

// The thread threshold is the run's own: below it a step stays on one
// thread, from it on the pair terms are shared.
TEST(RunObject, ThreadThresholdIsASettingOfTheRun) {
  qd::Run run;
  run.State() = Cloud(13);  // 30 particles
  run.Options().threads = 2;
  FastForceEngine& forces = run.Engine().Forces();
  forces.threshold = {31, 31};
  run.Go(2);
  EXPECT_EQ(forces.counts.parallel, 0u);
  forces.threshold = {30, 30};
  run.Go(2);
  EXPECT_EQ(forces.counts.parallel, 2u);
}

}  // namespace
}  // namespace qd
