#include "core/dynamics/step.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

#include "core/common/errors.h"
#include "core/dynamics/force.h"
#include "dynamics_support.h"
#include "test_files.h"

namespace qd {
namespace {

using testing_support::SameDynamicState;
using testing_support::TwoParticles;

using StepFn = std::function<void(SimState&, const StepOptions&, std::int32_t)>;

class BothSteps : public ::testing::TestWithParam<bool> {
 protected:
  void Step(SimState& s, const StepOptions& o, std::int32_t n) {
    if (GetParam())
      AdvanceStep(s, o, n);
    else
      AdvanceStepLiteral(s, o, n);
  }
  std::string FaultOf(SimState& s, const StepOptions& o, std::int32_t n) {
    return qd::testing::ErrorOf<FpFault>([&] { Step(s, o, n); }, "no fault");
  }
};

INSTANTIATE_TEST_SUITE_P(Step, BothSteps, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Fast" : "Literal"; });

TEST_P(BothSteps, OneStepFromRestMirrorsExactly) {
  SimState s = TwoParticles();
  s.Dt = 0.001L;
  s.StepCount = 41;
  Step(s, StepOptions{}, 42);
  EXPECT_NEAR(static_cast<double>(s.UX[1]), 0.002718281828, 5e-13);
  EXPECT_NEAR(static_cast<double>(s.X[1]), 0.000002718281828, 5e-16);
  EXPECT_NEAR(static_cast<double>(s.X[2]), 0.9999972817, 5e-11);
  EXPECT_EQ(s.UX[2], -s.UX[1]);
  EXPECT_EQ(s.X[2], 1 - s.X[1]);
  EXPECT_EQ(s.X[1], s.UX[1] * s.Dt);
  for (int k : {1, 2}) {
    EXPECT_EQ(s.Y[k], 0);
    EXPECT_EQ(s.Z[k], 0);
    EXPECT_EQ(s.UY[k], 0);
    EXPECT_EQ(s.UZ[k], 0);
    EXPECT_EQ(s.XNew[k], s.X[k]);
    EXPECT_EQ(s.UXNew[k], s.UX[k]);
    EXPECT_EQ(s.ViewX[k], s.X[k]);
  }
  EXPECT_EQ(s.StepCount, 42);
}

TEST_P(BothSteps, IntegrationIsSemiImplicitEuler) {
  SimState s = TwoParticles();
  s.Dt = 0.01L;
  s.UX[1] = s.UXNew[1] = 0.5L;
  s.UZ[2] = s.UZNew[2] = -0.25L;
  s.UY[1] = s.UYNew[1] = 0.125L;
  const Extended f1 = ForceX(s, 1, ForceOptions{});
  Step(s, StepOptions{}, 1);
  const Extended u = 0.5L + f1 * 0.01L;
  EXPECT_EQ(s.UX[1], u);
  EXPECT_EQ(s.X[1], u * 0.01L);  // the new velocity moves the particle
  EXPECT_EQ(s.Z[2], -0.25L * 0.01L);
  // The picture shows where the particles now are, each axis its own.
  for (int k : {1, 2}) {
    EXPECT_EQ(s.ViewX[k], s.X[k]) << k;
    EXPECT_EQ(s.ViewY[k], s.Y[k]) << k;
    EXPECT_EQ(s.ViewZ[k], s.Z[k]) << k;
  }
}

TEST_P(BothSteps, EmptySlotsStayUntouched) {
  SimState s = TwoParticles();
  s.Dt = 0.01L;
  s.X[9] = 3;
  s.UX[9] = 7;
  s.XNew[9] = -2;
  s.ViewX[9] = 11;
  Step(s, StepOptions{}, 1);
  EXPECT_EQ(s.X[9], 3);
  EXPECT_EQ(s.UX[9], 7);
  EXPECT_EQ(s.XNew[9], -2);
  EXPECT_EQ(s.ViewX[9], 11);
}

TEST_P(BothSteps, BlockadeHoldsTheFirstFourSlotsWhichStillAttract) {
  SimState s{};
  s.TaonCount = kSlotCount;
  s.Dt = 0.01L;
  testing_support::SetKind(s, 1, 1, 1, 1, 1, 1);
  testing_support::SetKind(s, 2, 1, 1, 1, 1, 1);
  for (int k : {2, 4, 5, 9}) {
    s.Present[k] = 1;
    s.X[k] = k;
    s.UY[k] = 0.1L * k;
  }
  InstallAll(s);
  s.ViewX[4] = 99;  // a display value nothing should refresh
  StepOptions o;
  o.blockade = true;
  SimState free = s;
  Step(s, o, 1);
  Step(free, StepOptions{}, 1);
  for (int k : {2, 4}) {
    EXPECT_EQ(s.X[k], k);
    EXPECT_EQ(s.XNew[k], k);
    EXPECT_EQ(s.UY[k], 0.1L * k);
    EXPECT_EQ(s.UYNew[k], 0.1L * k);
  }
  EXPECT_EQ(s.ViewX[4], 99);
  // Slots 5 and 9 feel the held ones exactly as without the blockade.
  for (int k : {5, 9}) {
    EXPECT_EQ(s.X[k], free.X[k]);
    EXPECT_EQ(s.UX[k], free.UX[k]);
  }
}

TEST_P(BothSteps, CoolerAndHeaterScaleTheVelocity) {
  auto after = [&](bool cool, bool warm) {
    SimState s = TwoParticles();
    s.Present[2] = 0;  // alone: no force at all
    s.Dt = 0.5L;
    s.UX[1] = s.UXNew[1] = 1;
    s.UY[1] = s.UYNew[1] = -3;
    StepOptions o;
    o.cooler = cool;
    o.heater = warm;
    Step(s, o, 1);
    return s;
  };
  EXPECT_EQ(after(false, false).UX[1], 1);
  EXPECT_EQ(after(true, false).UX[1], 0.999L);
  EXPECT_EQ(after(false, true).UX[1], 1.001L);
  EXPECT_EQ(after(true, true).UX[1], 0.999L * 1.001L);
  EXPECT_EQ(after(true, true).UY[1], (0.999L * 1.001L) * -3);
  EXPECT_EQ(after(true, false).X[1], 0.999L * 0.5L);
}

TEST_P(BothSteps, WallsReflectAndFlattenEverySlot) {
  struct Case {
    Walls w;
    Extended l;
  };
  for (const Case& c :
       {Case{Walls::Thermos3X3, 1.5L}, Case{Walls::Thermos20X20, 10}, Case{Walls::ThermosNXN, 100}}) {
    SimState s{};
    s.TaonCount = kSlotCount;
    s.Dt = 0.001L;
    testing_support::SetKind(s, 1, 1, 1, 1, 1, 1);
    testing_support::SetKind(s, 2, 1, 1, 1, 1, 1);
    // Slot 5 beyond +L in x, slot 6 beyond -L in z, slot 7 inside, each alone
    // enough that forces are tiny; slot 8 is empty beyond the wall; slot 2
    // is held by the blockade beyond the wall.
    auto place = [&](int k, Extended x, Extended y, Extended z, bool present) {
      s.Present[k] = present;
      s.X[k] = x;
      s.Y[k] = y;
      s.Z[k] = z;
      s.UX[k] = 1;
      s.UY[k] = 2;
      s.UZ[k] = 3;
    };
    place(5, c.l + 0.5L, 0, 0, true);
    place(6, 0, 1e-30L, -c.l - 0.5L, true);
    place(7, 0.25L, 0, 0.25L, true);
    place(8, c.l * 2, -1, 0, false);
    place(2, -c.l * 3, 0, 0, true);
    InstallAll(s);
    StepOptions o;
    o.walls = c.w;
    o.blockade = true;
    Step(s, o, 1);
    // Committed values are taken before the walls act.
    EXPECT_GT(s.UX[5], 0.9L);
    EXPECT_EQ(s.UXNew[5], -s.UX[5]);
    EXPECT_EQ(s.UZNew[5], s.UZ[5]);
    EXPECT_EQ(s.UYNew[5], 0);
    EXPECT_EQ(s.UZNew[6], -s.UZ[6]);
    EXPECT_EQ(s.UXNew[6], s.UX[6]);
    EXPECT_EQ(s.UYNew[6], 0) << "any y off the plane stops the y motion";
    EXPECT_NE(s.UY[6], 0);
    EXPECT_EQ(s.UYNew[7], 0) << "y moved off 0 during the step";
    EXPECT_EQ(s.UXNew[7], s.UX[7]);
    EXPECT_EQ(s.UXNew[8], -1) << "empty slots meet the walls too";
    EXPECT_EQ(s.UYNew[8], 0);
    EXPECT_EQ(s.UX[8], 1);
    EXPECT_EQ(s.UXNew[2], -1) << "held slots meet the walls too";
    EXPECT_EQ(s.UX[2], 1);
  }
}

TEST_P(BothSteps, WallsKeepTheYVelocityOnlyExactlyOnThePlane) {
  for (Extended y0 : {-0.25L, -0.25L + 1e-19L}) {
    SimState s = TwoParticles();
    s.Present[2] = 0;
    s.Dt = 0.5L;
    s.Y[1] = s.YNew[1] = y0;
    s.UY[1] = s.UYNew[1] = 0.5L;  // lands exactly on y = 0 from -0.25
    StepOptions o;
    o.walls = Walls::Thermos20X20;
    Step(s, o, 1);
    EXPECT_EQ(s.UY[1], 0.5L);
    EXPECT_EQ(s.UYNew[1], y0 == -0.25L ? 0.5L : 0);
  }
}

TEST_P(BothSteps, AParticleFarBeyondTheWallIsTurnedEveryStep) {
  SimState s = TwoParticles();
  s.Present[2] = 0;
  s.Dt = 0.001L;
  s.X[1] = s.XNew[1] = 5;
  s.UX[1] = s.UXNew[1] = 1;
  StepOptions o;
  o.walls = Walls::Thermos3X3;
  Step(s, o, 1);
  EXPECT_EQ(s.UXNew[1], -1);
  Step(s, o, 2);
  EXPECT_EQ(s.UXNew[1], 1);
  EXPECT_EQ(s.UX[1], -1);
}

TEST_P(BothSteps, AFaultKeepsTheCommittedStateAndStepCount) {
  SimState s = TwoParticles();
  s.Dt = 0.001L;
  s.StepCount = 6;
  s.F2 = 0;
  const SimState before = s;
  EXPECT_EQ(FaultOf(s, StepOptions{}, 7), "Floating point division by zero");
  EXPECT_TRUE(SameDynamicState(s, before));
  EXPECT_EQ(s.StepCount, 6);
}

TEST_P(BothSteps, AFaultMidStepKeepsTheWorkingUpdatesBeforeIt) {
  // Slot 40's y force overflows (A1 huge, and it is the only component with
  // a non-zero difference towards slot 1); slots 1 and 41 and slot 40's x
  // component are handled before.
  SimState s{};
  s.TaonCount = kSlotCount;
  s.Dt = 0.001L;
  testing_support::SetKind(s, 1, 1e4932L, 1, 1, 1, 1);
  testing_support::SetKind(s, 2, 1, 1, 1, 1, 1);
  s.Present[1] = s.Present[40] = s.Present[41] = 1;
  s.Y[40] = 1;
  s.X[41] = 3;
  s.Y[41] = 1;
  InstallAll(s);
  const SimState before = s;
  EXPECT_EQ(FaultOf(s, StepOptions{}, 1), "Floating point overflow");
  EXPECT_NE(s.XNew[1], before.XNew[1]);
  EXPECT_NE(s.UYNew[1], before.UYNew[1]);
  EXPECT_NE(s.UXNew[40], before.UXNew[40]);
  EXPECT_EQ(s.UYNew[40], before.UYNew[40]);
  EXPECT_EQ(s.YNew[40], before.YNew[40]);
  EXPECT_EQ(s.UXNew[41], before.UXNew[41]);
  for (int k : {1, 40, 41}) {
    EXPECT_EQ(s.X[k], before.X[k]);
    EXPECT_EQ(s.UX[k], before.UX[k]);
    EXPECT_EQ(s.ViewY[k], before.ViewY[k]);
  }
  EXPECT_EQ(s.StepCount, 0);
}

TEST_P(BothSteps, NanAndOverflowInTheUpdate) {
  SimState s = TwoParticles();
  s.Dt = 0.001L;
  s.Z[2] = s.ZNew[2] = std::numeric_limits<Extended>::quiet_NaN();
  EXPECT_EQ(FaultOf(s, StepOptions{}, 1), "Invalid floating point operation");

  SimState big = TwoParticles();
  big.Present[2] = 0;
  big.Dt = 1e4000L;
  big.UX[1] = big.UXNew[1] = 1e4000L;
  EXPECT_EQ(FaultOf(big, StepOptions{}, 1), "Floating point overflow");
  EXPECT_EQ(big.UXNew[1], 1e4000L) << "a faulting update stores nothing";
  EXPECT_EQ(big.XNew[1], 0);
}

TEST_P(BothSteps, WallsOnANanInAnEmptySlotAreAnInvalidOperation) {
  SimState s = TwoParticles();
  s.Dt = 0.001L;
  s.X[30] = s.XNew[30] = std::numeric_limits<Extended>::quiet_NaN();
  const SimState before = s;
  EXPECT_EQ(FaultOf(s, StepOptions{}, 1), "no fault");  // no walls: never looked at
  s = before;
  StepOptions o;
  o.walls = Walls::ThermosNXN;
  EXPECT_EQ(FaultOf(s, o, 1), "Invalid floating point operation");
  EXPECT_EQ(s.X[1], before.X[1]);
  EXPECT_NE(s.XNew[1], before.XNew[1]);
  EXPECT_EQ(s.StepCount, 0);
}

TEST(ZeroVelocities, ClearsAllSixVelocityArraysOfEverySlot) {
  SimState s{};
  for (int k = 1; k <= kSlotCount; ++k) {
    s.UX[k] = s.UY[k] = s.UZ[k] = s.UXNew[k] = s.UYNew[k] = s.UZNew[k] = k;
    s.X[k] = k;
  }
  ZeroVelocities(s);
  for (int k = 1; k <= kSlotCount; ++k) {
    EXPECT_EQ(s.UX[k], 0);
    EXPECT_EQ(s.UYNew[k], 0);
    EXPECT_EQ(s.UZNew[k], 0);
    EXPECT_EQ(s.X[k], k);
  }
}

}  // namespace
}  // namespace qd
