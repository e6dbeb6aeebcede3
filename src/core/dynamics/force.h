#pragma once
// The pairwise force law, exactly as the users' older program computes it.
#include <cmath>
#include <cstdint>

#include "core/common/extended.h"
#include "core/dynamics/options.h"
#include "core/state/sim_state.h"

namespace qd {

// The two Extended constants of the force law, the nearest Extended values
// to the decimals 1.029 and 0.1.
inline constexpr Extended kReciprocalNumerator = 1.029L;
inline constexpr Extended kTenth = 0.1L;
static_assert(kReciprocalNumerator * 0x1p63L == static_cast<Extended>(0x83B645A1CAC08312ULL),
              "1.029 must be 3FFF 83B645A1CAC08312");
static_assert(kTenth * 0x1p67L == static_cast<Extended>(0xCCCCCCCCCCCCCCCDULL),
              "0.1 must be 3FFB CCCCCCCCCCCCCCCD");

// Running totals of the exp and ln evaluations of the force law (the fast
// step included): a machine-independent measure of how much work is shared.
// Per thread; a step run on several threads adds its workers' calls to the
// totals of the thread that asked for it.
struct MathCallCounts {
  std::uint64_t exp = 0;
  std::uint64_t ln = 0;
};
extern thread_local MathCallCounts gForceMathCalls;

// expl and logl, counted.
inline Extended CountedExp(Extended x) {
  ++gForceMathCalls.exp;
  return expl(x);
}
inline Extended CountedLn(Extended x) {
  ++gForceMathCalls.ln;
  return logl(x);
}

// The value of the parameter T for a formula and component (0 x, 1 y, 2 z):
// slot j is of the second kind when j > TaonCount - T.
int KindSplitFor(Formula f, int component, int secondKindCount);

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
