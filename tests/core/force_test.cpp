#include "core/dynamics/force.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "core/common/errors.h"
#include "dynamics_support.h"
#include "test_files.h"

namespace qd {
namespace {

using testing_support::SetKind;
using testing_support::TwoParticles;

std::string FaultText(const SimState& s, int k, const ForceOptions& o) {
  return qd::testing::ErrorOf<FpFault>([&] { ForceX(s, k, o); }, "no fault");
}

TEST(ForceConstants, AreTheNearestExtendedValues) {
  unsigned char bytes[16] = {};
  const Extended v = kReciprocalNumerator;
  std::memcpy(bytes, &v, 10);
  const unsigned char expect[10] = {0x12, 0x83, 0xC0, 0xCA, 0xA1, 0x45, 0xB6, 0x83, 0xFF, 0x3F};
  EXPECT_EQ(std::memcmp(bytes, expect, 10), 0);
  const Extended t = kTenth;
  std::memcpy(bytes, &t, 10);
  const unsigned char tenth[10] = {0xCD, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xFB, 0x3F};
  EXPECT_EQ(std::memcmp(bytes, tenth, 10), 0);
}

TEST(PowerOf, IsExpOfBTimesLnA) {
  EXPECT_EQ(PowerOf(2, 3), expl(3 * logl(2.0L)));
  EXPECT_NEAR(static_cast<double>(PowerOf(4, -2)), 0.0625, 1e-18);
  EXPECT_NEAR(static_cast<double>(PowerOf(10, 0.5L)), std::sqrt(10.0), 1e-15);
}

TEST(Signs, GravoscopeAlwaysAttractsTaoscopeGoesByParity) {
  EXPECT_EQ(ScopeSign(SignMode::Gravoscope), -1);
  EXPECT_EQ(ScopeSign(SignMode::Taoscope), 1);
  for (int k = 1; k <= 6; ++k)
    for (int j = 1; j <= 6; ++j) {
      EXPECT_EQ(PairSign(k, j, SignMode::Gravoscope) * ScopeSign(SignMode::Gravoscope), -1);
      EXPECT_EQ(PairSign(k, j, SignMode::Taoscope) * ScopeSign(SignMode::Taoscope),
                (k - j) % 2 == 0 ? 1 : -1);
    }
}

struct Worked {
  Formula f;
  double fx1;
};

// Slot 1 at the origin, slot 2 at (1, 0, 0), all parameters 1.
constexpr Worked kWorked[] = {{Formula::E, 2.718281828},
                              {Formula::PE, -1},
                              {Formula::PES, 14.51483132},
                              {Formula::DUDI, -25.03307536},
                              {Formula::EPESminus, -46.80532233}};

TEST(ForceLaw, WorkedValuesForEveryFormulaAndBothSignModes) {
  for (const Worked& w : kWorked) {
    for (SignMode mode : {SignMode::Gravoscope, SignMode::Taoscope}) {
      for (int split : {30, 15, 10}) {
        SimState s = TwoParticles();
        ForceOptions o;
        o.formula = w.f;
        o.sign = mode;
        o.secondKindCount = split;
        const Extended f1 = ForceX(s, 1, o);
        EXPECT_NEAR(static_cast<double>(f1), w.fx1, 5e-9 * std::max(1.0, std::fabs(w.fx1)))
            << static_cast<int>(w.f);
        EXPECT_EQ(ForceX(s, 2, o), -f1);
        EXPECT_EQ(ForceY(s, 1, o), 0);
        EXPECT_EQ(ForceZ(s, 1, o), 0);
        EXPECT_EQ(ForceZ(s, 2, o), 0);
      }
    }
  }
  // E pulls slot 1 towards slot 2 by exactly e.
  SimState s = TwoParticles();
  EXPECT_EQ(ForceX(s, 1, ForceOptions{}), expl(1.0L) * (((-(-1.0L)) / 1 * 1) * 1 * 1));
}

TEST(ForceLaw, PesBumpParts) {
  // G = 3.628707829 for one reciprocal: dropping B leaves the three others.
  SimState s = TwoParticles();
  ForceOptions o;
  o.formula = Formula::PES;
  o.dropB = true;
  EXPECT_NEAR(static_cast<double>(ForceX(s, 1, o)), 3 * 3.628707829, 3e-8);
  o.dropB = false;
  o.dropCDF = true;
  EXPECT_NEAR(static_cast<double>(ForceX(s, 1, o)), 3.628707829, 1e-8);
  o.dropB = true;
  for (int k : {1, 2}) {
    EXPECT_EQ(ForceX(s, k, o), 0);
    EXPECT_EQ(ForceY(s, k, o), 0);
    EXPECT_EQ(ForceZ(s, k, o), 0);
  }
}

TEST(ForceLaw, TaoscopeFlipsPairsOfEvenDistance) {
  for (const Worked& w : kWorked) {
    SimState s = TwoParticles(1, 3);
    ForceOptions o;
    o.formula = w.f;
    const Extended grav = ForceX(s, 1, o);
    EXPECT_NEAR(static_cast<double>(grav), w.fx1, 5e-9 * std::max(1.0, std::fabs(w.fx1)));
    o.sign = SignMode::Taoscope;
    EXPECT_EQ(ForceX(s, 1, o), -grav);
    EXPECT_EQ(ForceX(s, 3, o), grav);
  }
}

TEST(ForceLaw, LoneParticlesAndEmptySlotsFeelAndExertNothing) {
  SimState s = TwoParticles();
  s.Present[2] = 0;
  s.X[5] = 0.5L;  // an empty slot sitting right next to slot 1
  for (const Worked& w : kWorked) {
    ForceOptions o;
    o.formula = w.f;
    EXPECT_EQ(ForceX(s, 1, o), 0);
    EXPECT_EQ(ForceY(s, 1, o), 0);
    EXPECT_EQ(ForceZ(s, 1, o), 0);
  }
  // An empty slot at the very same place would fault if it were looked at.
  SimState t = TwoParticles();
  t.X[7] = 0;
  ForceOptions o;
  const Extended alone = ForceX(t, 1, o);
  t.Present[7] = 0;
  EXPECT_EQ(ForceX(t, 1, o), alone);
}

TEST(ForceLaw, KindSplitDependsOnFormulaAndComponent) {
  EXPECT_EQ(KindSplitFor(Formula::E, 0, 15), 15);
  EXPECT_EQ(KindSplitFor(Formula::E, 2, 10), 10);
  EXPECT_EQ(KindSplitFor(Formula::PE, 0, 15), 30);
  EXPECT_EQ(KindSplitFor(Formula::PE, 1, 15), 30);
  EXPECT_EQ(KindSplitFor(Formula::PE, 2, 15), 15);
  EXPECT_EQ(KindSplitFor(Formula::PES, 2, 10), 10);
  EXPECT_EQ(KindSplitFor(Formula::DUDI, 2, 10), 30);
  EXPECT_EQ(KindSplitFor(Formula::EPESminus, 2, 15), 30);

  // Under Bk and PE, slot 40 is of the second kind for x and y only.
  auto forces = [](int source) {
    SimState s{};
    s.TaonCount = kSlotCount;
    s.Present[1] = s.Present[source] = 1;
    s.X[source] = s.Y[source] = s.Z[source] = 0.6L;
    SetKind(s, 1, 1, 1, 1, 1, 1);
    SetKind(s, 2, 2, 1, 1, 1, 1);  // A doubled: the force doubles exactly
    ForceOptions o;
    o.formula = Formula::PE;
    o.secondKindCount = 15;
    return std::array<Extended, 3>{ForceX(s, 1, o), ForceY(s, 1, o), ForceZ(s, 1, o)};
  };
  const auto f40 = forces(40);
  EXPECT_EQ(f40[0], 2 * f40[2]);
  EXPECT_EQ(f40[1], 2 * f40[2]);
  const auto f50 = forces(50);
  EXPECT_EQ(f50[0], f50[2]);
  EXPECT_EQ(f50[0], f40[0]);
  const auto f30 = forces(30);
  EXPECT_EQ(f30[0], f30[2]);
  EXPECT_EQ(f30[0], f40[2]);
}

TEST(ForceLaw, TheSourceKindChoosesTheParameters) {
  for (const Worked& w : kWorked) {
    SimState s = TwoParticles(1, 31);
    SetKind(s, 2, 1.5L, 1.2L, 1.1L, 0.9L, 1.3L);
    ForceOptions o;
    o.formula = w.f;
    const Extended on1 = ForceX(s, 1, o), on31 = ForceX(s, 31, o);
    EXPECT_NE(fabsl(on1), fabsl(on31)) << static_cast<int>(w.f);
    // Force on 31 comes from kind 1, i.e. the worked value.
    EXPECT_NEAR(static_cast<double>(on31), -w.fx1, 5e-9 * std::max(1.0, std::fabs(w.fx1)));
    SetKind(s, 2, 1, 1, 1, 1, 1);
    EXPECT_EQ(ForceX(s, 1, o), -ForceX(s, 31, o));
  }
}

TEST(ForceLaw, DistanceDirectionAndSuperposition) {
  // Slot 2 on the diagonal: the force points along it, and a third particle's
  // contribution adds in slot order.
  SimState s = TwoParticles();
  s.X[2] = s.Y[2] = 0.5L;
  s.Z[2] = -0.5L;
  ForceOptions o;
  const Extended fx = ForceX(s, 1, o), fy = ForceY(s, 1, o), fz = ForceZ(s, 1, o);
  EXPECT_EQ(fx, fy);
  EXPECT_EQ(fx, -fz);
  EXPECT_GT(fx, 0);
  const Extended r = sqrtl(0.75L);
  EXPECT_NEAR(static_cast<double>(fx), static_cast<double>(expl(1 / r) / (r * r) * (0.5L / r)), 1e-15);
}

TEST(ForceFaults, ZeroParametersDivideByZeroWhateverTheFormula) {
  for (const Worked& w : kWorked) {
    SimState s = TwoParticles();
    s.F1 = 0;
    ForceOptions o;
    o.formula = w.f;
    EXPECT_EQ(FaultText(s, 1, o), "Floating point division by zero") << static_cast<int>(w.f);
    s.F1 = 1;
    s.C2 = 0;  // unused set, still divided by
    EXPECT_EQ(FaultText(s, 1, o), "Floating point division by zero");
  }
  // Even a particle alone faults.
  SimState s = TwoParticles();
  s.Present[2] = 0;
  s.F1 = 0;
  EXPECT_EQ(FaultText(s, 1, ForceOptions{}), "Floating point division by zero");
}

TEST(ForceFaults, MeetingParticlesNanAndOverflow) {
  for (const Worked& w : kWorked) {
    SimState s = TwoParticles();
    s.X[2] = 0;  // r = 0
    ForceOptions o;
    o.formula = w.f;
    EXPECT_EQ(FaultText(s, 1, o), "Floating point division by zero") << static_cast<int>(w.f);

    SimState n = TwoParticles();
    n.Y[2] = std::numeric_limits<Extended>::quiet_NaN();
    EXPECT_EQ(FaultText(n, 1, o), "Invalid floating point operation") << static_cast<int>(w.f);
  }
  ForceOptions o;
  SimState s = TwoParticles();
  s.X[2] = 1e-6L;  // exp(1e6) does not fit
  EXPECT_EQ(FaultText(s, 1, o), "Floating point overflow");
  o.formula = Formula::PE;
  s.B1 = -1;  // r^(-1e6) does not fit either
  EXPECT_EQ(FaultText(s, 1, o), "Floating point overflow");
  o.formula = Formula::DUDI;
  s = TwoParticles();
  s.D1 = -3;  // ln of a negative distance ratio
  EXPECT_EQ(FaultText(s, 1, o), "Invalid floating point operation");
  // A fault leaves no flag behind for the next evaluation.
  s.D1 = 1;
  EXPECT_NO_THROW(ForceX(s, 1, o));
}

}  // namespace
}  // namespace qd
