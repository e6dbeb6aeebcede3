#pragma once
// The configurations the benchmarks measure: 60 particles on a slightly
// irregular 4 x 5 x 3 lattice, at rest, with the easy square's parameters and
// the view at its start-up values; and 60 moving particles spread wide for
// the formulas' sake.
#include <cmath>
#include <random>

#include "core/dynamics/options.h"

#include "core/state/sim_state.h"

namespace qd::bench {

inline SimState LatticeCloud(Extended jitter = 0) {
  SimState s;
  s.TaonCount = kSlotCount;
  s.Scale = 120;
  s.CenterX = 302;
  s.CenterY = 88;
  s.Dt = 0.001L;
  s.A1 = s.A2 = 1;
  s.B1 = s.B2 = 2.718L;
  s.C1 = s.C2 = 5;
  s.D1 = s.D2 = 10;
  s.F1 = s.F2 = 20;
  for (int slot = 1; slot <= kSlotCount; ++slot) {
    const int i = slot - 1;
    s.Present[slot] = 1;
    s.X[slot] = Extended(i % 4) * 0.45L - 0.675L + 0.0123L * std::sin(Extended(slot)) + jitter;
    s.Y[slot] = Extended((i / 4) % 5) * 0.45L - 0.9L + 0.0071L * std::cos(Extended(slot));
    s.Z[slot] = Extended(i / 20) * 0.45L - 0.45L + 0.0037L * std::sin(Extended(3 * slot)) - jitter;
  }
  InstallAll(s);
  return s;
}

// 60 particles spread over a cube of half-width 6, so that the bumps of the
// poly-exponential formulas (near r = 5, 10 and 20 for these parameters) act
// on many pairs; the two kinds have different parameter sets, as in a real
// two-kind configuration, except for E and PE, which get a bounded B.
inline SimState Cloud(Formula f, bool equalSets) {
  std::mt19937_64 rng(2024);
  std::uniform_real_distribution<double> pos(-6.0, 6.0), vel(-0.05, 0.05);
  SimState s{};
  s.TaonCount = kSlotCount;
  s.Dt = 0.001L;
  for (int k = 1; k <= kSlotCount; ++k) {
    s.Present[k] = 1;
    s.X[k] = pos(rng);
    s.Y[k] = pos(rng);
    s.Z[k] = pos(rng);
    s.UX[k] = vel(rng);
    s.UY[k] = vel(rng);
    s.UZ[k] = vel(rng);
  }
  InstallAll(s);
  s.A1 = 1;
  s.B1 = 2.718L;
  s.C1 = 5;
  s.D1 = 10;
  s.F1 = 20;
  if (equalSets) {
    s.A2 = 1;
    s.B2 = 2.718L;
    s.C2 = 5;
    s.D2 = 10;
    s.F2 = 20;
  } else {
    s.A2 = 0.75L;
    s.B2 = 1.9L;
    s.C2 = 3.5L;
    s.D2 = 7.25L;
    s.F2 = 12;
  }
  if (f == Formula::E || f == Formula::PE) {
    s.B1 = -0.5L;
    s.B2 = equalSets ? -0.5L : -1.9L;
  }
  return s;
}

}  // namespace qd::bench
