#pragma once
// Shared set-ups for the force-law and time-step tests.
#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "core/dynamics/options.h"
#include "core/dynamics/step.h"
#include "core/state/sim_state.h"

namespace qd::testing_support {

// Two particles: slot a at the origin, slot b at (1, 0, 0), every parameter 1.
inline SimState TwoParticles(int a = 1, int b = 2) {
  SimState s{};
  s.TaonCount = kSlotCount;
  s.Present[a] = s.Present[b] = 1;
  s.X[b] = 1;
  s.A1 = s.B1 = s.C1 = s.D1 = s.F1 = 1;
  s.A2 = s.B2 = s.C2 = s.D2 = s.F2 = 1;
  InstallAll(s);
  return s;
}

inline void SetKind(SimState& s, int kind, Extended A, Extended B, Extended C, Extended D, Extended F) {
  if (kind == 1) {
    s.A1 = A;
    s.B1 = B;
    s.C1 = C;
    s.D1 = D;
    s.F1 = F;
  } else {
    s.A2 = A;
    s.B2 = B;
    s.C2 = C;
    s.D2 = D;
    s.F2 = F;
  }
}

// The bytes of the simulation arrays and counters that a step may touch
// (the ten significant bytes of each Extended).
inline bool SameDynamicState(const RunState& a, const RunState& b) {
  const SlotArray<Extended> RunState::*arrays[] = {
      &RunState::X,     &RunState::Y,     &RunState::Z,     &RunState::UX,    &RunState::UY,
      &RunState::UZ,    &RunState::XNew,  &RunState::YNew,  &RunState::ZNew,  &RunState::UXNew,
      &RunState::UYNew, &RunState::UZNew, &RunState::ViewX, &RunState::ViewY, &RunState::ViewZ};
  for (auto m : arrays)
    for (int k = 1; k <= kSlotCount; ++k)
      if (std::memcmp(&(a.*m)[k], &(b.*m)[k], 10) != 0) return false;
  return a.StepCount == b.StepCount && a.Present == b.Present;
}

// Particles spread over a cube with small random velocities, some slots
// left empty, with parameters that keep most pairs inside the range where
// every formula acts.
inline SimState RandomCloud(unsigned seed, int particles, Extended side) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> pos(-1.0, 1.0), vel(-0.05, 0.05);
  SimState s{};
  s.TaonCount = kSlotCount;
  std::vector<int> order;
  for (int k = 1; k <= kSlotCount; ++k) order.push_back(k);
  std::shuffle(order.begin(), order.end(), rng);
  for (int i = 0; i < particles && i < kSlotCount; ++i) s.Present[order[i]] = 1;
  for (int k = 1; k <= kSlotCount; ++k) {
    s.X[k] = side * static_cast<Extended>(pos(rng));
    s.Y[k] = side * static_cast<Extended>(pos(rng));
    s.Z[k] = side * static_cast<Extended>(pos(rng));
    s.UX[k] = vel(rng);
    s.UY[k] = vel(rng);
    s.UZ[k] = vel(rng);
  }
  InstallAll(s);
  s.Dt = 0.001L;
  return s;
}

}  // namespace qd::testing_support

namespace qd {

// The fast step, for tests of what a step does rather than of how it shares
// its work: on one engine that every such test shares.
inline void AdvanceStep(RunState& s, const StepOptions& o, std::int32_t stepNumber) {
  static StepEngine engine;
  engine.Advance(s, o, stepNumber);
}

}  // namespace qd
