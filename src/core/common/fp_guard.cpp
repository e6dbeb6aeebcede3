#include "core/common/fp_guard.h"

#include <cfenv>
#include <cmath>

#include "core/common/errors.h"

namespace qd {

void ClearFpFlags() { std::feclearexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW); }

__attribute__((noinline)) void CheckFpFlags(const Extended& v) {
  asm volatile("" : : "m"(v) : "memory");
  const int raised = std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
  if (raised == 0) return;
  ClearFpFlags();
  // An invalid operation is nearly always the consequence of an earlier
  // division by zero or overflow in the same stretch of work (0/0 after two
  // particles meet, inf - inf after an overflow); the first fault is the one
  // the user needs to hear about.
  if (raised & FE_DIVBYZERO) throw FpFault(kDivByZeroText);
  if (raised & FE_OVERFLOW) throw FpFault(kOverflowText);
  throw FpFault(kInvalidOpText);
}

__attribute__((noinline)) bool FpFlagsRaised(const Extended& v) {
  asm volatile("" : : "m"(v) : "memory");
  return std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW) != 0;
}

__attribute__((noinline)) void CheckFpResult(const Extended& v) {
  CheckFpFlags(v);
  if (std::isnan(v)) {
    ClearFpFlags();
    throw FpFault(kInvalidOpText);
  }
}

}  // namespace qd
