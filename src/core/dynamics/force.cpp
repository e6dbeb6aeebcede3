#include "core/dynamics/force.h"

#include <cmath>

#include "core/common/fp_guard.h"

namespace qd {

thread_local MathCallCounts gForceMathCalls;

namespace {

// One kind's parameters with their reciprocals q = 1.029 / P.
struct KindSet {
  Extended A, B, C, D, F;
  Extended qB, qC, qD, qF;
};

// The poly-exponential bump H(q) and its derivative factor Q(q), written
// exactly as grouped in the older program; every power goes through PowerOf.
Extended H(Extended q, Extended r) {
  const Extended u = q * r;
  return PowerOf(u, PowerOf(kTenth * q * r, -1) * (2.5L - PowerOf(u, 20)));
}

Extended Q(Extended q, Extended r) {
  const Extended u = q * r;
  return (1 - CountedLn(u)) * ((2.5L - PowerOf(u, 20)) * (PowerOf(r, -2) * PowerOf(kTenth * q, -1))) -
         CountedLn(u) * (PowerOf(u, 18) * (q * 200));
}

Extended G(Extended q, Extended r) { return H(q, r) * (-Q(q, r)); }

// One full pass over all slots for one component, nothing shared with the
// other components: the reference the fast step is checked against.
Extended Force(const SimState& s, int k, const ForceOptions& o, int component) {
  ClearFpFlags();
  const KindSet sets[2] = {
      {s.A1, s.B1, s.C1, s.D1, s.F1, kReciprocalNumerator / s.B1, kReciprocalNumerator / s.C1,
       kReciprocalNumerator / s.D1, kReciprocalNumerator / s.F1},
      {s.A2, s.B2, s.C2, s.D2, s.F2, kReciprocalNumerator / s.B2, kReciprocalNumerator / s.C2,
       kReciprocalNumerator / s.D2, kReciprocalNumerator / s.F2},
  };
  CheckFpFlags(sets[1].qF);
  const int n = LastSlot(s);
  const int split = KindSplitFor(o.formula, component, o.secondKindCount);
  Extended S = 0;
  for (int j = 1; j <= n; ++j) {
    if (s.Present[j] == 0 || j == k) continue;
    const Extended dx = s.X[k] - s.X[j];
    const Extended dy = s.Y[k] - s.Y[j];
    const Extended dz = s.Z[k] - s.Z[j];
    const Extended r = sqrtl(dz * dz + (dy * dy + dx * dx));
    const Extended dc = component == 0 ? dx : component == 1 ? dy : dz;
    const Extended sigma = PairSign(k, j, o.sign) * ScopeSign(o.sign);
    const KindSet& p = sets[j > n - split ? 1 : 0];
    switch (o.formula) {
      case Formula::E:
        S = S + CountedExp(p.B / r) * (sigma * dc / r * PowerOf(r, -2) * p.A * p.B);
        break;
      case Formula::PE:
        S = S - (1 - CountedLn(r)) * (PowerOf(r, p.B / r) * (sigma * dc / r * PowerOf(r, -2) * p.A * p.B));
        break;
      case Formula::PES: {
        const Extended t1 = 0;
        const Extended t2 = o.dropB ? 0 : G(p.qB, r);
        const Extended t3 = o.dropCDF ? 0 : (G(p.qC, r) + G(p.qD, r)) + G(p.qF, r);
        S = S + sigma * dc / r * p.A * ((t1 + t2) + t3);
        break;
      }
      case Formula::DUDI: {
        const Extended e0 = CountedExp(-p.B / r) * (PowerOf(r, -2) * p.B);
        const Extended w =
            (H(p.qC, r) * (Q(p.qC, r) * 10) - H(p.qD, r) * (Q(p.qD, r) * 2)) - H(p.qF, r) * Q(p.qF, r);
        S = S + sigma * dc / r * p.A * (e0 + w);
        break;
      }
      case Formula::EPESminus: {
        const Extended e0 = CountedExp(-p.B / r) * (PowerOf(r, -2) * p.B);
        const Extended w =
            (H(p.qC, r) * (Q(p.qC, r) * 10) + H(p.qD, r) * (Q(p.qD, r) * 2)) + H(p.qF, r) * Q(p.qF, r);
        S = S + sigma * dc / r * p.A * (e0 + w);
        break;
      }
    }
    // Checked pair by pair, so that the fault reported is the first one.
    CheckFpFlags(S);
  }
  CheckFpResult(S);
  return S;
}

}  // namespace

Extended PowerOf(Extended a, Extended b) { return CountedExp(b * CountedLn(a)); }

int ScopeSign(SignMode mode) { return mode == SignMode::Taoscope ? 1 : -1; }

int PairSign(int k, int j, SignMode mode) { return (k - j) % 2 == 0 ? 1 : -ScopeSign(mode); }

int KindSplitFor(Formula f, int component, int secondKindCount) {
  switch (f) {
    case Formula::E:
      return secondKindCount;
    case Formula::PE:
    case Formula::PES:
      return component == 2 ? secondKindCount : 30;
    case Formula::DUDI:
    case Formula::EPESminus:
      break;
  }
  return 30;
}

Extended ForceX(const SimState& s, int k, const ForceOptions& o) { return Force(s, k, o, 0); }
Extended ForceY(const SimState& s, int k, const ForceOptions& o) { return Force(s, k, o, 1); }
Extended ForceZ(const SimState& s, int k, const ForceOptions& o) { return Force(s, k, o, 2); }

}  // namespace qd
