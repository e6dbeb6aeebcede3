// Energy conservation of the integrator under every formula: a sign or
// grouping error in a force term shows here at once.
#include "core/dynamics/energy.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "core/dynamics/force.h"
#include "core/dynamics/step.h"
#include "dynamics_support.h"

namespace qd {
namespace {

using testing_support::SetKind;

// Five particles near the corners of a slightly irregular bipyramid whose
// edges are close to where the poly-exponential bumps act, slowly moving.
SimState SmallCluster(Extended edge) {
  SimState s{};
  s.TaonCount = kSlotCount;
  const Extended p[5][3] = {
      {0, 0, 0}, {1, 0.05L, 0}, {0.48L, 0, 0.87L}, {0.5L, 0.8L, 0.3L}, {0.52L, -0.79L, 0.27L}};
  const int slots[5] = {1, 2, 3, 4, 5};
  for (int i = 0; i < 5; ++i) {
    const int k = slots[i];
    s.Present[k] = 1;
    s.X[k] = edge * p[i][0];
    s.Y[k] = edge * p[i][1];
    s.Z[k] = edge * p[i][2];
    s.UX[k] = 0.01L * (i - 2);
    s.UY[k] = 0.007L * (i % 3);
    s.UZ[k] = -0.004L * i;
  }
  InstallAll(s);
  return s;
}

struct EnergyCase {
  Formula f;
  SignMode sign;
  Extended A, B, C, D, F;
  Extended edge;
};

TEST(Energy, ConservedOverTenThousandStepsForEveryFormula) {
  // B < 0 for E keeps its potential bounded at short range; PE's r^(B/r) is
  // smooth for any r > 0; the bump formulas are placed where the bumps act.
  const EnergyCase cases[] = {
      {Formula::E, SignMode::Gravoscope, 1, -1, 1, 1, 1, 1},
      {Formula::E, SignMode::Taoscope, 0.5L, -2, 1, 1, 1, 1.2L},
      {Formula::PE, SignMode::Gravoscope, 1, 1, 1, 1, 1, 1},
      {Formula::PE, SignMode::Taoscope, 1, 0.5L, 1, 1, 1, 1.5L},
      {Formula::PES, SignMode::Gravoscope, 0.2L, 1.05L, 1.1L, 0.95L, 1.2L, 1},
      {Formula::DUDI, SignMode::Gravoscope, 0.1L, 1, 1.02L, 1.2L, 0.98L, 1},
      {Formula::EPESminus, SignMode::Taoscope, 0.1L, 1, 1.02L, 1.2L, 0.98L, 1},
  };
  for (const EnergyCase& c : cases) {
    SimState s = SmallCluster(c.edge);
    SetKind(s, 1, c.A, c.B, c.C, c.D, c.F);
    SetKind(s, 2, c.A, c.B, c.C, c.D, c.F);
    s.Dt = 1e-4L;
    StepOptions o;
    o.force.formula = c.f;
    o.force.sign = c.sign;
    const Extended e0 = KineticEnergy(s) + PotentialEnergy(s, o.force);
    // Semi-implicit Euler conserves a modified energy H - (Dt/2) v.F exactly
    // up to O(Dt^2), so the true energy wanders by at most about
    // Dt * max|sum v.F| over the run; twice that plus rounding is the bound.
    Extended maxPower = 0, maxDev = 0, maxKineticChange = 0;
    const Extended k0 = KineticEnergy(s);
    for (int n = 1; n <= 10000; ++n) {
      Extended power = 0;
      for (int k = 1; k <= 5; ++k)
        power += s.UX[k] * ForceX(s, k, o.force) + s.UY[k] * ForceY(s, k, o.force) +
                 s.UZ[k] * ForceZ(s, k, o.force);
      maxPower = std::max(maxPower, fabsl(power));
      AdvanceStep(s, o, n);
      const Extended e = KineticEnergy(s) + PotentialEnergy(s, o.force);
      maxDev = std::max(maxDev, fabsl(e - e0));
      maxKineticChange = std::max(maxKineticChange, fabsl(KineticEnergy(s) - k0));
    }
    const Extended bound = 2 * s.Dt * maxPower + 1e-15L;
    EXPECT_LE(maxDev, bound) << "formula " << static_cast<int>(c.f);
    // The run must actually exchange energy, or the check proves nothing.
    EXPECT_GT(maxKineticChange, 20 * bound) << "formula " << static_cast<int>(c.f);
  }
}

TEST(Energy, PairPotentialsAreMinusTheForceIntegral) {
  // Central difference of the potential against the force of two particles.
  const Formula all[] = {Formula::E, Formula::PE, Formula::PES, Formula::DUDI, Formula::EPESminus};
  for (Formula f : all) {
    for (Extended r : {0.9L, 1.0L, 1.07L}) {
      SimState s = testing_support::TwoParticles();
      SetKind(s, 1, 0.7L, 1.1L, 1.05L, 0.97L, 1.3L);
      SetKind(s, 2, 0.7L, 1.1L, 1.05L, 0.97L, 1.3L);
      ForceOptions o;
      o.formula = f;
      s.X[2] = r;
      const Extended force = ForceX(s, 2, o);  // on slot 2, along +x
      const Extended h = 1e-7L;
      const Extended dv = PairPotential(f, o, -1, r + h, 0.7L, 1.1L, 1.05L, 0.97L, 1.3L) -
                          PairPotential(f, o, -1, r - h, 0.7L, 1.1L, 1.05L, 0.97L, 1.3L);
      EXPECT_NEAR(static_cast<double>(force), static_cast<double>(-dv / (2 * h)),
                  1e-7 * std::max(1.0, std::fabs(static_cast<double>(force))))
          << static_cast<int>(f) << " r=" << static_cast<double>(r);
    }
  }
}

// Three particles, the last T slots of the second kind: each pair's share
// is its kind's potential, a mixed pair's the mean of both. A slot on the
// wrong side of the boundary changes the sum.
TEST(Energy, EachSlotTakesItsOwnKindsParameters) {
  const Formula all[] = {Formula::E, Formula::PE, Formula::PES, Formula::DUDI, Formula::EPESminus};
  const Extended one[5] = {0.7L, 1.1L, 1.05L, 0.97L, 1.3L}, two[5] = {0.4L, 0.9L, 1.15L, 1.02L, 1.1L};
  for (Formula f : all)
    for (int second : {0, 1, 2, 3}) {
      SimState s = SmallCluster(1.02L);
      s.Present[4] = s.Present[5] = 0;
      s.TaonCount = 3;
      SetKind(s, 1, one[0], one[1], one[2], one[3], one[4]);
      SetKind(s, 2, two[0], two[1], two[2], two[3], two[4]);
      ForceOptions o;
      o.formula = f;
      o.secondKindCount = second;
      const int split = KindSplitFor(f, 0, second);
      Extended expected = 0;
      for (int k = 1; k <= 3; ++k)
        for (int j = k + 1; j <= 3; ++j) {
          const Extended dx = s.X[k] - s.X[j], dy = s.Y[k] - s.Y[j], dz = s.Z[k] - s.Z[j];
          const Extended r = sqrtl(dz * dz + (dy * dy + dx * dx));
          const Extended sigma = PairSign(k, j, o.sign) * ScopeSign(o.sign);
          auto v = [&](const Extended* p) { return PairPotential(f, o, sigma, r, p[0], p[1], p[2], p[3], p[4]); };
          const bool kSecond = k > 3 - split, jSecond = j > 3 - split;
          expected += kSecond != jSecond ? (v(one) + v(two)) / 2 : kSecond ? v(two) : v(one);
        }
      EXPECT_EQ(PotentialEnergy(s, o), expected) << "formula " << static_cast<int>(f) << ", T = " << second;
    }
}

TEST(Energy, KineticCountsPresentSlotsOnlyAndMixedPairsAverage) {
  SimState s = testing_support::TwoParticles(1, 31);
  s.UX[1] = 2;
  s.UY[31] = 1;
  s.UZ[40] = 100;  // empty
  EXPECT_EQ(KineticEnergy(s), 2.5L);
  SetKind(s, 2, 3, 1, 1, 1, 1);
  ForceOptions o;
  // -A e^(B/r) at r = 1: kind 1 gives -e, kind 2 gives -3e; the pair their mean.
  EXPECT_NEAR(static_cast<double>(PotentialEnergy(s, o)), -2 * std::exp(1.0), 1e-15);
}

TEST(Energy, PotentialOnSeveralThreadsIsTheOneThreadSumToTheBit) {
  const Formula all[] = {Formula::E, Formula::PE, Formula::PES, Formula::DUDI, Formula::EPESminus};
  for (Formula f : all) {
    SimState s = testing_support::RandomCloud(7, 40, 4);
    s.Present[3] = s.Present[17] = 0;  // gaps in the rows
    SetKind(s, 1, 0.7L, 1.1L, 1.05L, 0.97L, 1.3L);
    SetKind(s, 2, 0.4L, 0.9L, 1.15L, 1.02L, 1.1L);
    ForceOptions o;
    o.formula = f;
    o.secondKindCount = 9;
    const Extended one = PotentialEnergy(s, o);
    for (int threads : {2, 5}) {
      WorkerPool pool;
      const Extended many = PotentialEnergy(s, o, &pool, threads);
      EXPECT_EQ(std::memcmp(&one, &many, 10), 0) << "formula " << int(f) << ", " << threads << " threads";
    }
  }
}

}  // namespace
}  // namespace qd
