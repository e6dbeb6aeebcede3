#include "core/dynamics/step.h"

#include <cmath>

#include "core/common/errors.h"
#include "core/common/fp_guard.h"
#include "core/dynamics/fast_force.h"
#include "core/dynamics/force.h"
#include "core/dynamics/energy.h"

namespace qd {

Extended WallHalfWidth(Walls w) {
  switch (w) {
    case Walls::Thermos3X3:
      return 1.5L;
    case Walls::Thermos20X20:
      return 10;
    case Walls::ThermosNXN:
      return 100;
    case Walls::None:
      break;
  }
  return 0;
}

namespace {

constexpr Extended kCoolerFactor = 0.999L;
constexpr Extended kHeaterFactor = 1.001L;
static_assert(kCoolerFactor * 0x1p64L == static_cast<Extended>(0xFFBE76C8B4395810ULL),
              "0.999 must be 3FFE FFBE76C8B4395810");
static_assert(kHeaterFactor * 0x1p63L == static_cast<Extended>(0x8020C49BA5E353F8ULL),
              "1.001 must be 3FFF 8020C49BA5E353F8");

Extended VelocityFactor(const StepOptions& o) {
  return (o.cooler ? kCoolerFactor : 1) * (o.heater ? kHeaterFactor : 1);
}

// Velocity, then position, of one component of slot k, each checked before
// it is stored so that a fault never leaves an infinity or NaN behind.
void Integrate(Extended force, Extended factor, Extended dt, Extended& u, Extended& x) {
  const Extended a = force * dt;
  const Extended un = factor * u + a;
  CheckFpResult(un);
  u = un;
  const Extended xn = x + u * dt;
  CheckFpResult(xn);
  x = xn;
}

// The working velocity and position of component c of slot k.
using Component = Extended* (*)(RunState&, int);
constexpr Component kVelocity[3] = {[](RunState& s, int k) { return &s.UXNew[k]; },
                                    [](RunState& s, int k) { return &s.UYNew[k]; },
                                    [](RunState& s, int k) { return &s.UZNew[k]; }};
constexpr Component kPosition[3] = {[](RunState& s, int k) { return &s.XNew[k]; },
                                    [](RunState& s, int k) { return &s.YNew[k]; },
                                    [](RunState& s, int k) { return &s.ZNew[k]; }};

// Every force of the step at once, as the threads hand them over: the new
// values are computed into scratch with the very operations of Integrate
// and the flags are read once for all of them (reading them costs as much
// as the arithmetic itself). Only a clean step is stored; otherwise the
// components are integrated again one by one with every check, which
// stores the same values up to the fault and throws there.
template <class One>
void IntegrateAll(RunState& s, int first, Extended factor, const Extended (*force)[3], const One& one) {
  const int n = LastSlot(s);
  Extended u[kSlotCount + 1][3], x[kSlotCount + 1][3];
  bool nan = false;
  Extended last = 0;
  for (int k = first; k <= n; ++k) {
    if (s.Present[k] == 0) continue;
    for (int c = 0; c < 3; ++c) {
      const Extended a = force[k][c] * s.Dt;
      u[k][c] = factor * *kVelocity[c](s, k) + a;
      x[k][c] = *kPosition[c](s, k) + u[k][c] * s.Dt;
      // A NaN force (a quiet NaN in the state) makes both new values NaN.
      nan = nan || std::isnan(u[k][c]) || std::isnan(x[k][c]);
      last = x[k][c];
    }
  }
  if (nan || FpFlagsRaised(last)) {
    ClearFpFlags();
    for (int k = first; k <= n; ++k) {
      if (s.Present[k] == 0) continue;
      for (int c = 0; c < 3; ++c) one(k, c, force[k][c]);
    }
    return;
  }
  for (int k = first; k <= n; ++k) {
    if (s.Present[k] == 0) continue;
    for (int c = 0; c < 3; ++c) {
      *kVelocity[c](s, k) = u[k][c];
      *kPosition[c](s, k) = x[k][c];
    }
  }
}

// The walls compare every slot's working position, present or not. An
// ordered comparison with a NaN is an invalid operation; it is detected
// before the commit, so a fault there leaves the committed state at the
// previous step like every other fault of the step.
void CheckWallInputs(const RunState& s, const StepOptions& o) {
  if (o.walls == Walls::None) return;
  const int n = LastSlot(s);
  for (int k = 1; k <= n; ++k) {
    if (std::isnan(s.XNew[k]) || std::isnan(s.YNew[k]) || std::isnan(s.ZNew[k])) {
      ClearFpFlags();
      throw FpFault(kInvalidOpText);
    }
  }
}

void CommitAndApplyWalls(RunState& s, const StepOptions& o, int first, std::int32_t stepNumber) {
  CheckWallInputs(s, o);
  const int n = LastSlot(s);
  for (int k = first; k <= n; ++k) {
    if (s.Present[k] == 0) continue;
    s.X[k] = s.XNew[k];
    s.UX[k] = s.UXNew[k];
    s.Y[k] = s.YNew[k];
    s.UY[k] = s.UYNew[k];
    s.Z[k] = s.ZNew[k];
    s.UZ[k] = s.UZNew[k];
    s.ViewX[k] = s.XNew[k];
    s.ViewY[k] = s.YNew[k];
    s.ViewZ[k] = s.ZNew[k];
  }
  if (o.walls != Walls::None) {
    const Extended l = WallHalfWidth(o.walls);
    for (int k = 1; k <= n; ++k) {
      if (s.XNew[k] > l) s.UXNew[k] = -s.UXNew[k];
      if (s.XNew[k] < -l) s.UXNew[k] = -s.UXNew[k];
      if (s.YNew[k] > 0) s.UYNew[k] = 0;
      if (s.YNew[k] < 0) s.UYNew[k] = 0;
      if (s.ZNew[k] > l) s.UZNew[k] = -s.UZNew[k];
      if (s.ZNew[k] < -l) s.UZNew[k] = -s.UZNew[k];
    }
  }
  s.StepCount = stepNumber;
}

}  // namespace

void AdvanceStepLiteral(RunState& s, const StepOptions& o, std::int32_t stepNumber, MathCallCounts* calls) {
  ClearFpFlags();
  const int first = o.blockade ? 5 : 1;
  const int n = LastSlot(s);
  const Extended factor = VelocityFactor(o);
  for (int k = first; k <= n; ++k) {
    if (s.Present[k] == 0) continue;
    Integrate(ForceX(s, k, o.force, calls), factor, s.Dt, s.UXNew[k], s.XNew[k]);
    Integrate(ForceY(s, k, o.force, calls), factor, s.Dt, s.UYNew[k], s.YNew[k]);
    Integrate(ForceZ(s, k, o.force, calls), factor, s.Dt, s.UZNew[k], s.ZNew[k]);
  }
  CommitAndApplyWalls(s, o, first, stepNumber);
}

void StepEngine::Advance(RunState& s, const StepOptions& o, std::int32_t stepNumber) {
  ClearFpFlags();
  const int first = o.blockade ? 5 : 1;
  const Extended factor = VelocityFactor(o);
  const auto one = [&](int k, int c, Extended f) {
    Integrate(f, factor, s.Dt, *kVelocity[c](s, k), *kPosition[c](s, k));
  };
  const auto all = [&](const Extended (*force)[3]) { IntegrateAll(s, first, factor, force, one); };
  forces_.ForEach(s, o.force, first, ResolveThreadCount(o.threads), one, all);
  CommitAndApplyWalls(s, o, first, stepNumber);
}

void StepEngine::Prepare(const RunState& s, const StepOptions& o) {
  forces_.Prepare(s, o.force, o.blockade ? 5 : 1, ResolveThreadCount(o.threads));
}

Extended StepEngine::Potential(const RunState& s, const ForceOptions& o, int threads) {
  return PotentialEnergy(s, o, &pool_, threads);
}

void ZeroVelocities(RunState& s) {
  for (int k = 1; k <= kSlotCount; ++k)
    s.UX[k] = s.UY[k] = s.UZ[k] = s.UXNew[k] = s.UYNew[k] = s.UZNew[k] = 0;
}

}  // namespace qd
