#include "core/dynamics/energy.h"

#include <cmath>

#include "core/dynamics/force.h"

namespace qd {

namespace {

// H(q) = u^((2.5 - u^20) / (0.1 u)), u = q r.
Extended Bump(Extended P, Extended r) {
  const Extended q = kReciprocalNumerator / P;
  const Extended u = q * r;
  return powl(u, (2.5L - powl(u, 20)) / (kTenth * u));
}

}  // namespace

Extended KineticEnergy(const SimState& s) {
  Extended sum = 0;
  const int n = LastSlot(s);
  for (int k = 1; k <= n; ++k) {
    if (s.Present[k] == 0) continue;
    sum += s.UX[k] * s.UX[k] + s.UY[k] * s.UY[k] + s.UZ[k] * s.UZ[k];
  }
  return sum / 2;
}

Extended PairPotential(Formula f, const ForceOptions& o, Extended sigma, Extended r, Extended A, Extended B,
                       Extended C, Extended D, Extended F) {
  switch (f) {
    case Formula::E:
      return sigma * A * expl(B / r);
    case Formula::PE:
      return sigma * A * powl(r, B / r);
    case Formula::PES: {
      Extended h = 0;
      if (!o.dropB) h += Bump(B, r);
      if (!o.dropCDF) h += Bump(C, r) + Bump(D, r) + Bump(F, r);
      return sigma * A * h;
    }
    case Formula::DUDI:
      return -sigma * A * (expl(-B / r) + 10 * Bump(C, r) - 2 * Bump(D, r) - Bump(F, r));
    case Formula::EPESminus:
      return -sigma * A * (expl(-B / r) + 10 * Bump(C, r) + 2 * Bump(D, r) + Bump(F, r));
  }
  return 0;
}

Extended PotentialEnergy(const SimState& s, const ForceOptions& o) {
  const int n = LastSlot(s);
  const int split = KindSplitFor(o.formula, 0, o.secondKindCount);
  Extended sum = 0;
  for (int k = 1; k <= n; ++k) {
    if (s.Present[k] == 0) continue;
    for (int j = k + 1; j <= n; ++j) {
      if (s.Present[j] == 0) continue;
      const Extended dx = s.X[k] - s.X[j], dy = s.Y[k] - s.Y[j], dz = s.Z[k] - s.Z[j];
      const Extended r = sqrtl(dz * dz + (dy * dy + dx * dx));
      const Extended sigma = PairSign(k, j, o.sign) * ScopeSign(o.sign);
      const bool kSecond = k > n - split, jSecond = j > n - split;
      const Extended v1 = PairPotential(o.formula, o, sigma, r, s.A1, s.B1, s.C1, s.D1, s.F1);
      if (kSecond == jSecond) {
        sum += kSecond ? PairPotential(o.formula, o, sigma, r, s.A2, s.B2, s.C2, s.D2, s.F2) : v1;
      } else {
        sum += (v1 + PairPotential(o.formula, o, sigma, r, s.A2, s.B2, s.C2, s.D2, s.F2)) / 2;
      }
    }
  }
  return sum;
}

}  // namespace qd
