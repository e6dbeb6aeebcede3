#include "core/common/fp_guard.h"

#include <cfenv>

#include "core/common/errors.h"

namespace qd {

void ClearFpFlags() { std::feclearexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW); }

__attribute__((noinline)) void CheckFpFlags(const Extended& v) {
  asm volatile("" : : "m"(v) : "memory");
  const int raised = std::fetestexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
  if (raised == 0) return;
  ClearFpFlags();
  if (raised & FE_INVALID) throw FpFault(kInvalidOpText);
  if (raised & FE_DIVBYZERO) throw FpFault(kDivByZeroText);
  throw FpFault(kOverflowText);
}

}  // namespace qd
