#pragma once
// The configuration every benchmark measures: 60 particles on a slightly
// irregular 4 x 5 x 3 lattice, at rest, with the easy square's parameters and
// the view at its start-up values.
#include <cmath>

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

}  // namespace qd::bench
