#pragma once
// The pairwise force law, exactly as the users' older program computes it:
// the literal pass, component by component with nothing shared, kept as the
// reference the fast step is checked against.
#include <cstdint>

#include "core/common/extended.h"
#include "core/dynamics/options.h"
#include "core/dynamics/pair_laws.h"
#include "core/state/sim_state.h"

namespace qd {

// The value of the parameter T for a formula and component (0 x, 1 y, 2 z):
// slot j is of the second kind when j > TaonCount - T.
int KindSplitFor(Formula f, int component, int secondKindCount);

// a^b as exp(b * ln a), uncounted.
Extended PowerOf(Extended a, Extended b);

// +1 under Taoscope, -1 under Gravoscope.
int ScopeSign(SignMode mode);
// 1 when k - j is even, otherwise -ScopeSign.
int PairSign(int k, int j, SignMode mode);

// One component of the total force on present slot k, from the committed
// positions. Throws FpFault on invalid operation, division by zero or
// overflow. With `calls`, its exp and ln evaluations are added there.
Extended ForceX(const RunState& s, int k, const ForceOptions& o, MathCallCounts* calls = nullptr);
Extended ForceY(const RunState& s, int k, const ForceOptions& o, MathCallCounts* calls = nullptr);
Extended ForceZ(const RunState& s, int k, const ForceOptions& o, MathCallCounts* calls = nullptr);
Extended LiteralForce(const RunState& s, int k, const ForceOptions& o, int component,
                      MathCallCounts* calls = nullptr);

}  // namespace qd
