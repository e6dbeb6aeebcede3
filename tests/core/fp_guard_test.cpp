#include "core/common/fp_guard.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/common/errors.h"
#include "test_files.h"

namespace qd {
namespace {

std::string Fault(void (*check)(const Extended&), const Extended& v) {
  return qd::testing::ErrorOf<FpFault>([&] { check(v); }, "none");
}

// Optimised x87 code must not let the flags be read before the guarded work.
TEST(FpGuard, CatchesEachFaultRightAfterTheWork) {
  volatile Extended zero = 0, one = 1, big = 1e4900L, minus = -1;
  ClearFpFlags();
  const Extended q = one / zero;
  EXPECT_EQ(Fault(CheckFpFlags, q), "Floating point division by zero");
  EXPECT_FALSE(FpFlagsRaised(q)) << "a reported fault leaves no flag behind";
  const Extended o = big * big;
  EXPECT_EQ(Fault(CheckFpFlags, o), "Floating point overflow");
  const Extended l = logl(minus);
  EXPECT_EQ(Fault(CheckFpFlags, l), "Invalid floating point operation");
  const Extended fine = one / 3 + expl(-20000.0L);  // inexact and underflow are no faults
  EXPECT_EQ(Fault(CheckFpFlags, fine), "none");
}

TEST(FpGuard, TheFirstFaultWinsAndNanResultsAreInvalid) {
  volatile Extended zero = 0;
  ClearFpFlags();
  const Extended both = zero / zero + 1 / zero;  // invalid and division by zero
  EXPECT_EQ(Fault(CheckFpFlags, both), "Floating point division by zero");
  const Extended nan = std::numeric_limits<Extended>::quiet_NaN();
  EXPECT_EQ(Fault(CheckFpFlags, nan), "none");
  EXPECT_EQ(Fault(CheckFpResult, nan), "Invalid floating point operation");
  EXPECT_EQ(Fault(CheckFpResult, 2.5L), "none");
}

}  // namespace
}  // namespace qd
