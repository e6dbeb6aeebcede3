#pragma once
// The pairwise force law, exactly as the users' older program computes it.
#include "core/common/extended.h"
#include "core/dynamics/options.h"
#include "core/state/sim_state.h"

namespace qd {

// a^b as exp(b * ln a); every power of the force law goes through it.
Extended PowerOf(Extended a, Extended b);

// +1 under Taoscope, -1 under Gravoscope.
int ScopeSign(SignMode mode);
// 1 when k - j is even, otherwise -ScopeSign.
int PairSign(int k, int j, SignMode mode);

// One component of the total force on present slot k, from the committed
// positions. Throws FpFault on invalid operation, division by zero or overflow.
Extended ForceX(const SimState& s, int k, const ForceOptions& o);
Extended ForceY(const SimState& s, int k, const ForceOptions& o);
Extended ForceZ(const SimState& s, int k, const ForceOptions& o);

}  // namespace qd
