// The fast step must give the literal step's results bit for bit, and fail
// at the same slot and component with the same message.
#include <gtest/gtest.h>

#include <atomic>
#include <cfenv>
#include <cfloat>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <thread>

#include "core/common/errors.h"
#include "core/dynamics/energy.h"
#include "core/dynamics/fast_force.h"
#include "core/dynamics/force.h"
#include "core/dynamics/step.h"
#include "core/dynamics/worker_pool.h"
#include "dynamics_support.h"
#include "test_files.h"

namespace qd {
namespace {

using testing_support::RandomCloud;
using testing_support::SameDynamicState;
using testing_support::SetKind;

struct Case {
  const char* name;
  unsigned seed;
  Formula formula;
  SignMode sign;
  int split;
  bool differentSets;
  bool dropB = false, dropCDF = false, blockade = false, cooler = false, heater = false;
  Walls walls = Walls::None;
};

template <class Step>
std::string RunStep(Step&& step) {
  return qd::testing::ErrorOf<FpFault>(step, "");
}

std::string Literal(SimState& s, const StepOptions& o, std::int32_t n) {
  return RunStep([&] { AdvanceStepLiteral(s, o, n); });
}

std::string Fast(StepEngine& e, SimState& s, const StepOptions& o, std::int32_t n) {
  return RunStep([&] { e.Advance(s, o, n); });
}

// The fast step on one to eight threads: more threads than the machine has
// cores, and counts that do not divide the work evenly.
constexpr int kThreadCounts[] = {1, 2, 3, 4, 5, 6, 7, 8};

// Runs the literal step, the fast step with each thread count, and the fast
// step prepared ahead on two threads (as the window's run loop does) side by
// side and returns how many steps completed. With `counts`, how the fast runs
// shared their work: `prepared` counts the prepared run's steps.
int CompareRuns(SimState start, StepOptions o, int steps, std::string& fault,
                FastStepCounts* counts = nullptr) {
  SimState lit = start;
  SimState fast[std::size(kThreadCounts)];
  StepEngine engines[std::size(kThreadCounts)];
  for (SimState& f : fast) f = start;
  SimState prepared = start;
  StepEngine ahead;
  int done = steps;
  for (int n = 1; n <= steps; ++n) {
    const std::string a = Literal(lit, o, n);
    StepOptions two = o;
    two.threads = 2;
    ahead.Prepare(prepared, two);
    EXPECT_EQ(a, Fast(ahead, prepared, two, n)) << "step " << n << ", prepared";
    EXPECT_TRUE(SameDynamicState(lit, prepared)) << "step " << n << ", prepared";
    // Each fast step also hands over the potential of the state it starts
    // from; held slots keep it from doing so.
    const Extended potential = PotentialEnergy(fast[0], o.force);
    for (std::size_t t = 0; t < std::size(kThreadCounts); ++t) {
      o.threads = kThreadCounts[t];
      engines[t].Forces().WantPotential();
      const std::string b = Fast(engines[t], fast[t], o, n);
      EXPECT_EQ(a, b) << "step " << n << ", " << o.threads << " threads";
      EXPECT_TRUE(SameDynamicState(lit, fast[t])) << "step " << n << ", " << o.threads << " threads";
      const std::optional<Extended> handed = engines[t].Forces().TakePotential();
      if (o.blockade || !b.empty()) {
        EXPECT_FALSE(handed) << "step " << n << ", " << o.threads << " threads";
      } else {
        EXPECT_TRUE(handed && std::memcmp(&*handed, &potential, 10) == 0)
            << "step " << n << ", " << o.threads << " threads: " << (handed ? *handed : 0) << " against "
            << potential;
      }
    }
    if (!a.empty() || ::testing::Test::HasFailure()) {
      fault = a;
      done = n - 1;
      break;
    }
  }
  if (counts) {
    *counts = ahead.Forces().counts;
    for (StepEngine& e : engines) {
      counts->parallel += e.Forces().counts.parallel;
      counts->reruns += e.Forces().counts.reruns;
    }
  }
  return done;
}

SimState CaseState(const Case& c) {
  SimState s = RandomCloud(c.seed, kSlotCount - 3, 6);
  SetKind(s, 1, 1, 2.718L, 5, 10, 20);
  if (c.differentSets)
    SetKind(s, 2, 0.75L, 1.9L, 3.5L, 7.25L, 12);
  else
    SetKind(s, 2, 1, 2.718L, 5, 10, 20);
  // Attraction that grows without bound at short range would make some
  // particles meet within the run; E and PE get a gentler B.
  if (c.formula == Formula::E || c.formula == Formula::PE) {
    s.B1 = -0.5L;
    s.B2 = c.differentSets ? -1.9L : -0.5L;
  }
  return s;
}

StepOptions CaseOptions(const Case& c) {
  StepOptions o;
  o.force.formula = c.formula;
  o.force.sign = c.sign;
  o.force.secondKindCount = c.split;
  o.force.dropB = c.dropB;
  o.force.dropCDF = c.dropCDF;
  o.blockade = c.blockade;
  o.cooler = c.cooler;
  o.heater = c.heater;
  o.walls = c.walls;
  return o;
}

#if defined(__SANITIZE_ADDRESS__)
// Instrumented builds look for memory errors; a few steps cover every path.
constexpr int kIdentitySteps = 10;
#else
constexpr int kIdentitySteps = 150;
#endif

class Identity : public ::testing::TestWithParam<Case> {};

TEST_P(Identity, ManyStepsBitForBit) {
  const Case& c = GetParam();
  std::string fault;
  FastStepCounts counts;
  const int done = CompareRuns(CaseState(c), CaseOptions(c), kIdentitySteps, fault, &counts);
  EXPECT_EQ(done, kIdentitySteps) << "stopped by: " << fault;
  // Every step of the prepared run used what was prepared, unless there is
  // nothing to share.
  const bool shares = !(c.dropB && c.dropCDF);
  EXPECT_EQ(counts.prepared, shares ? std::uint64_t{kIdentitySteps} : 0u);
}

const Case kCases[] = {
    {"E_equal", 11, Formula::E, SignMode::Gravoscope, 30, false},
    {"E_taoscope_walls_blockade", 12, Formula::E, SignMode::Taoscope, 15, true, false, false, true, false,
     false, Walls::Thermos3X3},
    {"E_split10_cooler", 13, Formula::E, SignMode::Gravoscope, 10, true, false, false, false, true},
    {"PE_taoscope_heater_walls", 14, Formula::PE, SignMode::Taoscope, 15, true, false, false, false, false,
     true, Walls::Thermos20X20},
    {"PE_split10_blockade", 15, Formula::PE, SignMode::Gravoscope, 10, false, false, false, true},
    {"PES_split15", 16, Formula::PES, SignMode::Gravoscope, 15, true},
    {"PES_dropB_taoscope_walls", 17, Formula::PES, SignMode::Taoscope, 10, true, true, false, false, false,
     false, Walls::ThermosNXN},
    {"PES_dropCDF_both_factors", 18, Formula::PES, SignMode::Gravoscope, 30, false, false, true, false, true,
     true},
    {"PES_both_dropped", 19, Formula::PES, SignMode::Taoscope, 15, true, true, true},
    {"DUDI_taoscope_walls", 20, Formula::DUDI, SignMode::Taoscope, 30, true, false, false, false, false,
     false, Walls::Thermos3X3},
    {"DUDI_split15_blockade_heater", 21, Formula::DUDI, SignMode::Gravoscope, 15, false, false, false, true,
     false, true},
    {"EPESminus_split10", 22, Formula::EPESminus, SignMode::Gravoscope, 10, true},
    {"EPESminus_taoscope_cooler", 23, Formula::EPESminus, SignMode::Taoscope, 15, false, false, false, false,
     true},
};

INSTANTIATE_TEST_SUITE_P(Step, Identity, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Each share of a job runs once, the first one (index 0) on the calling
// thread: a share run twice or never would add a thread's sums twice or not
// at all. The calling thread's share waits for the others, so that every
// worker joins.
TEST(WorkerPool, EachPartOfAJobRunsOnceAndPartZeroOnTheCaller) {
  WorkerPool pool;
  for (const int parts : {2, 3, 5, 8})
    for (int job = 0; job < 20; ++job) {
      std::atomic<int> runs[8] = {};
      std::atomic<int> started{0};
      bool zeroOnCaller = false;
      const auto caller = std::this_thread::get_id();
      // Lives until Finish, as the pool asks of a job started in two halves.
      const std::function<void(int)> part = [&](int i) {
        ASSERT_GE(i, 0);
        ASSERT_LT(i, parts);
        ++runs[i];
        ++started;
        if (i != 0) return;
        zeroOnCaller = std::this_thread::get_id() == caller;
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (started.load() < parts && std::chrono::steady_clock::now() < giveUp) std::this_thread::yield();
      };
      if (job % 2 == 0) {
        pool.Run(parts, part);
      } else {
        ASSERT_TRUE(pool.Start(parts, part));
        pool.Finish(part);
      }
      EXPECT_TRUE(zeroOnCaller);
      for (int i = 0; i < parts; ++i) EXPECT_EQ(runs[i].load(), 1) << "part " << i << " of " << parts;
    }
}

// A prepared step is used only when nothing it was computed from has
// changed; after any other change the step is computed afresh.
TEST(PreparedStep, UsedOnlyWhileEveryValueItDependsOnIsTheSame) {
  struct Change {
    const char* name;
    bool used;
    void (*apply)(SimState&, StepOptions&);
  };
  const Change kChanges[] = {
      {"nothing", true, [](SimState&, StepOptions&) {}},
      {"velocity", true, [](SimState& s, StepOptions&) { s.UX[7] += 1; }},
      {"Dt", true, [](SimState& s, StepOptions&) { s.Dt *= 2; }},
      {"cooler and walls", true,
       [](SimState&, StepOptions& o) {
         o.cooler = true;
         o.walls = Walls::Thermos3X3;
       }},
      {"thread count", true, [](SimState&, StepOptions& o) { o.threads = 3; }},
      {"x by one ulp", false, [](SimState& s, StepOptions&) { s.X[7] = nextafterl(s.X[7], 1e9L); }},
      {"z of the last slot", false, [](SimState& s, StepOptions&) { s.Z[LastSlot(s)] += 1e-3L; }},
      {"a parameter by one ulp", false, [](SimState& s, StepOptions&) { s.C2 = nextafterl(s.C2, 0.0L); }},
      {"a slot removed", false, [](SimState& s, StepOptions&) { s.Present[9] = 0; }},
      {"fewer slots", false, [](SimState& s, StepOptions&) { s.TaonCount = 50; }},
      {"formula", false, [](SimState&, StepOptions& o) { o.force.formula = Formula::EPESminus; }},
      {"kind split", false, [](SimState&, StepOptions& o) { o.force.secondKindCount = 10; }},
      {"sign", false, [](SimState&, StepOptions& o) { o.force.sign = SignMode::Taoscope; }},
      {"blockade", false, [](SimState&, StepOptions& o) { o.blockade = true; }},
  };
  Case c{"", 41, Formula::DUDI, SignMode::Gravoscope, 30, true};
  for (const Change& change : kChanges) {
    SimState prepared = CaseState(c);
    StepOptions o = CaseOptions(c);
    o.threads = 2;
    StepEngine engine;
    engine.Prepare(prepared, o);
    change.apply(prepared, o);
    SimState plain = CaseState(c);
    StepOptions plainOptions = CaseOptions(c);
    change.apply(plain, plainOptions);
    engine.Advance(prepared, o, 1);
    AdvanceStepLiteral(plain, plainOptions, 1);
    EXPECT_TRUE(SameDynamicState(plain, prepared)) << change.name;
    EXPECT_EQ(engine.Forces().counts.prepared, change.used ? 1u : 0u) << change.name;
  }

  // Another state stepped in between takes nothing prepared for the first,
  // and what was prepared is then gone.
  SimState first = CaseState(c), other = CaseState(c);
  other.Y[3] += 1;
  SimState firstPlain = first, otherPlain = other;
  const StepOptions o = CaseOptions(c);
  StepEngine engine;
  engine.Prepare(first, o);
  engine.Advance(other, o, 1);
  engine.Advance(first, o, 1);
  AdvanceStepLiteral(otherPlain, o, 1);
  AdvanceStepLiteral(firstPlain, o, 1);
  EXPECT_TRUE(SameDynamicState(otherPlain, other));
  EXPECT_TRUE(SameDynamicState(firstPlain, first));
  EXPECT_EQ(engine.Forces().counts.prepared, 0u);

  // Preparing and discarding leave the caller's flags alone, and a
  // discarded step is not used.
  SimState again = CaseState(c);
  feclearexcept(FE_ALL_EXCEPT);
  feraiseexcept(FE_OVERFLOW);
  engine.Prepare(again, o);
  EXPECT_TRUE(fetestexcept(FE_OVERFLOW));
  engine.Discard();
  EXPECT_TRUE(fetestexcept(FE_OVERFLOW));
  feclearexcept(FE_ALL_EXCEPT);
  engine.Advance(again, o, 1);
  EXPECT_EQ(engine.Forces().counts.prepared, 0u);
  EXPECT_TRUE(SameDynamicState(firstPlain, again));
}

// One engine keeps the list of its pairs from step to step; every change of
// what the list depends on, made between two steps of one run, must show in
// the next step's results.
TEST(SharedStep, ChangesBetweenStepsOfOneEngine) {
  struct Change {
    const char* name;
    void (*apply)(SimState&, StepOptions&);
  };
  const Change kChanges[] = {
      {"every slot present",
       [](SimState& s, StepOptions&) {
         for (int k = 1; k <= kSlotCount; ++k) s.Present[k] = 1;
       }},
      {"a slot removed", [](SimState& s, StepOptions&) { s.Present[9] = 0; }},
      {"the slot back", [](SimState& s, StepOptions&) { s.Present[9] = 1; }},
      {"fewer slots", [](SimState& s, StepOptions&) { s.TaonCount = 50; }},
      {"kind split", [](SimState&, StepOptions& o) { o.force.secondKindCount = 10; }},
      {"formula", [](SimState&, StepOptions& o) { o.force.formula = Formula::EPESminus; }},
      {"both kinds alike", [](SimState& s, StepOptions&) { SetKind(s, 2, 1, 2.718L, 5, 10, 20); }},
      {"kinds apart again", [](SimState& s, StepOptions&) { SetKind(s, 2, 0.75L, 1.9L, 3.5L, 7.25L, 12); }},
      {"blockade", [](SimState&, StepOptions& o) { o.blockade = true; }},
      {"blockade off", [](SimState&, StepOptions& o) { o.blockade = false; }},
      {"nothing", [](SimState&, StepOptions&) {}},
  };
  Case c{"", 43, Formula::DUDI, SignMode::Gravoscope, 30, true};
  SimState fast = CaseState(c), plain = CaseState(c);
  StepOptions o = CaseOptions(c), plainOptions = CaseOptions(c);
  o.threads = 2;
  StepEngine engine;
  std::int32_t n = 1;
  engine.Advance(fast, o, n);
  AdvanceStepLiteral(plain, plainOptions, n);
  for (const Change& change : kChanges) {
    change.apply(fast, o);
    change.apply(plain, plainOptions);
    ++n;
    engine.Advance(fast, o, n);
    AdvanceStepLiteral(plain, plainOptions, n);
    ASSERT_TRUE(SameDynamicState(plain, fast)) << "after " << change.name;
  }
  EXPECT_EQ(engine.Forces().counts.parallel, static_cast<std::uint64_t>(n));
}

TEST(IdentityFaults, SameSlotComponentAndMessage) {
  // Only slot 10 is of the first kind, and its set has a huge A: the force it
  // exerts overflows. The first second-kind slot shares its x, so the fault
  // comes in that slot's y component, after slot 10 and its x were handled.
  SimState s = RandomCloud(31, 40, 5);
  for (int k = 1; k <= 30; ++k) s.Present[k] = 0;
  s.Present[10] = 1;
  SetKind(s, 1, 1e4932L, -1, 1, 1, 1);
  SetKind(s, 2, 1, -1, 1, 1, 1);
  int firstSecond = 31;
  while (s.Present[firstSecond] == 0) ++firstSecond;
  s.X[10] = s.XNew[10] = s.X[firstSecond];
  s.Y[10] = s.YNew[10] = s.Y[firstSecond] + 0.1L;
  s.Z[10] = s.ZNew[10] = s.Z[firstSecond];
  std::string fault;
  const SimState before = s;
  EXPECT_EQ(CompareRuns(s, StepOptions{}, 3, fault), 0);
  EXPECT_EQ(fault, "Floating point overflow");
  SimState lit = before;
  Literal(lit, StepOptions{}, 1);
  EXPECT_NE(lit.XNew[10], before.XNew[10]);
  EXPECT_NE(lit.UXNew[firstSecond], before.UXNew[firstSecond]);
  EXPECT_EQ(lit.UYNew[firstSecond], before.UYNew[firstSecond]);

  // Two particles meeting after a few good steps, under each formula.
  for (Formula f : {Formula::E, Formula::PE, Formula::PES, Formula::DUDI, Formula::EPESminus}) {
    SimState m = RandomCloud(32, 20, 5);
    SetKind(m, 1, 1, 1, 1, 1, 1);
    SetKind(m, 2, 1, 1, 1, 1, 1);
    int a = 0, b = 0;
    for (int k = 1; k <= kSlotCount; ++k)
      if (m.Present[k]) (a == 0 ? a : b) = k;
    m.X[b] = m.XNew[b] = m.X[a];
    m.Y[b] = m.YNew[b] = m.Y[a];
    m.Z[b] = m.ZNew[b] = m.Z[a];
    StepOptions o;
    o.force.formula = f;
    EXPECT_EQ(CompareRuns(m, o, 2, fault), 0);
    EXPECT_EQ(fault, "Floating point division by zero") << static_cast<int>(f);

    // A zero parameter of the second kind: every formula divides by it.
    SimState z = RandomCloud(33, 30, 5);
    SetKind(z, 1, 1, 1, 1, 1, 1);
    SetKind(z, 2, 1, 1, 1, 0, 1);
    EXPECT_EQ(CompareRuns(z, o, 2, fault), 0);
    EXPECT_EQ(fault, "Floating point division by zero") << static_cast<int>(f);
  }
}

TEST(IdentityFaults, ASumThatOverflowsFromFiniteTerms) {
  // Slot 5 sees two held neighbours pull the same way, each term within
  // range and their sum not: the fault arises only where a slot's terms are
  // added up. Eleven far particles make the step share its work.
  SimState s{};
  s.TaonCount = kSlotCount;
  s.Dt = 1e-3L;
  SetKind(s, 1, 1, 10, 1, 1, 1);
  SetKind(s, 2, 1, 10, 1, 1, 1);
  auto place = [&](int k, Extended x, Extended y, Extended z) {
    s.Present[k] = 1;
    s.X[k] = s.XNew[k] = x;
    s.Y[k] = s.YNew[k] = y;
    s.Z[k] = s.ZNew[k] = z;
  };
  place(1, 1, 0, 0);
  place(2, 1, 0, 1e-3L);
  place(5, 0, 0, 0);
  for (int k = 6; k <= 16; ++k) place(k, 100 * k, 50, -70);
  StepOptions o;
  o.blockade = true;
  // One neighbour's term with A = 1, then A so that each term is 0.7 of the
  // largest value.
  SimState one = s;
  one.Present[2] = 0;
  for (int k = 6; k <= 16; ++k) one.Present[k] = 0;
  const Extended t = fabsl(ForceX(one, 5, o.force));
  SetKind(s, 1, 0.7L * LDBL_MAX / t, 10, 1, 1, 1);
  SetKind(s, 2, 0.7L * LDBL_MAX / t, 10, 1, 1, 1);
  std::string fault;
  FastStepCounts counts;
  EXPECT_EQ(CompareRuns(s, o, 2, fault, &counts), 0);
  EXPECT_EQ(fault, "Floating point overflow");
  EXPECT_GT(counts.reruns, 0u);  // the shared work found it and handed it back
}

TEST(IdentityFaults, IntegrationFaultsAfterSharedForces) {
  // The threads hand over finite, flag-free forces; the fault arises only
  // when one slot's velocity or position is integrated, or comes from a
  // quiet NaN that no operation announces. The components integrated before
  // it must be stored exactly as the literal step stores them, the rest not.
  struct Fault {
    const char* name;
    SlotArray<Extended> RunState::*array;
    Extended value;
    bool heater;
    const char* message;
  };
  const Extended nan = std::numeric_limits<Extended>::quiet_NaN();
  const Fault faults[] = {
      {"velocity overflows under the heater", &RunState::UYNew, LDBL_MAX, true, "Floating point overflow"},
      {"position overflows", &RunState::ZNew, LDBL_MAX, false, "Floating point overflow"},
      {"quiet NaN velocity", &RunState::UZNew, nan, false, "Invalid floating point operation"},
      {"quiet NaN committed position", &RunState::X, nan, false, "Invalid floating point operation"},
  };
  for (const Fault& f : faults) {
    for (Formula formula : {Formula::E, Formula::DUDI}) {
      SimState s = RandomCloud(35, 40, 5);
      SetKind(s, 1, 1, 2.718L, 5, 10, 20);
      SetKind(s, 2, 1, 2.718L, 5, 10, 20);
      int k = kSlotCount;
      while (s.Present[k] == 0) --k;
      k -= 7;
      while (s.Present[k] == 0) --k;
      (s.*f.array)[k] = f.value;
      if (f.array == &RunState::ZNew) s.UZNew[k] = LDBL_MAX / 2;
      StepOptions o;
      o.force.formula = formula;
      o.heater = f.heater;
      FastStepCounts counts;
      std::string fault;
      EXPECT_EQ(CompareRuns(s, o, 2, fault, &counts), 0) << f.name;
      EXPECT_EQ(fault, f.message) << f.name;
      EXPECT_EQ(counts.reruns, 0u) << f.name;
    }
  }
}

TEST(IdentityFaults, HeldPairOnOneSpotNeverMeets) {
  // Under blockade the held slots never act on each other: two of them on
  // one spot must not fault, nor make the threads fall back to one.
  SimState s = RandomCloud(34, 40, 5);
  SetKind(s, 1, 1, 2.718L, 5, 10, 20);
  SetKind(s, 2, 0.75L, 1.9L, 3.5L, 7.25L, 12);
  s.Present[2] = s.Present[3] = 1;
  s.X[3] = s.XNew[3] = s.X[2];
  s.Y[3] = s.YNew[3] = s.Y[2];
  s.Z[3] = s.ZNew[3] = s.Z[2];
  StepOptions o;
  o.blockade = true;
  o.force.formula = Formula::DUDI;
  FastStepCounts counts;
  std::string fault;
  EXPECT_EQ(CompareRuns(s, o, 20, fault, &counts), 20) << fault;
  EXPECT_GT(counts.parallel, 0u);
  EXPECT_EQ(counts.reruns, 0u);
}

}  // namespace
}  // namespace qd
