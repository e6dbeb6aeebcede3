#include "core/dynamics/force.h"

#include <cmath>

#include "core/common/fp_guard.h"

namespace qd {

namespace {

template <class Law>
Extended Force(const RunState& s, int k, const ForceOptions& o, int component, MathCallCounts& m) {
  ClearFpFlags();
  const KindSet sets[2] = {
      {s.A1, s.B1, s.C1, s.D1, s.F1, kReciprocalNumerator / s.B1, kReciprocalNumerator / s.C1,
       kReciprocalNumerator / s.D1, kReciprocalNumerator / s.F1},
      {s.A2, s.B2, s.C2, s.D2, s.F2, kReciprocalNumerator / s.B2, kReciprocalNumerator / s.C2,
       kReciprocalNumerator / s.D2, kReciprocalNumerator / s.F2},
  };
  CheckFpFlags(sets[1].qF);
  const int n = LastSlot(s);
  const int split = Law::KindSplit(component, o.secondKindCount);
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
    const Extended t = Law::Literal(m, p, o, sigma, dc, r);
    S = Law::kSubtracts ? S - t : S + t;
    // Checked pair by pair, so that the fault reported is the first one.
    CheckFpFlags(S);
  }
  CheckFpResult(S);
  return S;
}

}  // namespace

Extended PowerOf(Extended a, Extended b) { return expl(b * logl(a)); }

int ScopeSign(SignMode mode) { return mode == SignMode::Taoscope ? 1 : -1; }

int PairSign(int k, int j, SignMode mode) { return (k - j) % 2 == 0 ? 1 : -ScopeSign(mode); }

int KindSplitFor(Formula f, int component, int secondKindCount) {
  return WithLaw(f, [&](auto law) { return decltype(law)::KindSplit(component, secondKindCount); });
}

Extended LiteralForce(const RunState& s, int k, const ForceOptions& o, int component, MathCallCounts* calls) {
  MathCallCounts m;
  struct AddOnExit {  // also when the pass ends in a fault
    MathCallCounts& m;
    MathCallCounts* to;
    ~AddOnExit() {
      if (to) *to += m;
    }
  } add{m, calls};
  return WithLaw(o.formula, [&](auto law) { return Force<decltype(law)>(s, k, o, component, m); });
}

Extended ForceX(const RunState& s, int k, const ForceOptions& o, MathCallCounts* c) {
  return LiteralForce(s, k, o, 0, c);
}
Extended ForceY(const RunState& s, int k, const ForceOptions& o, MathCallCounts* c) {
  return LiteralForce(s, k, o, 1, c);
}
Extended ForceZ(const RunState& s, int k, const ForceOptions& o, MathCallCounts* c) {
  return LiteralForce(s, k, o, 2, c);
}

}  // namespace qd
