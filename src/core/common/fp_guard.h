#pragma once
// Detection of floating-point faults through the <cfenv> flags.
//
// GCC moves x87 arithmetic across feclearexcept/fetestexcept at -O2, so the
// value whose computation is guarded is passed through a function the
// optimiser cannot see into: the flags are read only once the value exists.
#include "core/common/extended.h"

namespace qd {

inline constexpr const char* kInvalidOpText = "Invalid floating point operation";
inline constexpr const char* kDivByZeroText = "Floating point division by zero";
inline constexpr const char* kOverflowText = "Floating point overflow";

// Clears invalid, division-by-zero and overflow.
void ClearFpFlags();

// Throws FpFault with the matching text when one of the three flags is set
// (division by zero first, then overflow, then invalid operation, which is
// usually their consequence). `v` is the value the flags guard; it is only
// used as a barrier.
void CheckFpFlags(const Extended& v);

// True when one of the three flags is set; `v` is a barrier as above.
bool FpFlagsRaised(const Extended& v);

// CheckFpFlags, and a NaN value counts as an invalid operation: a quiet NaN
// read from a file passes through arithmetic without raising any flag, and
// would otherwise spread silently through every later result.
void CheckFpResult(const Extended& v);

}  // namespace qd
