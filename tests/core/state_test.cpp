#include <gtest/gtest.h>

#include "core/state/sim_state.h"

namespace qd {
namespace {

TEST(SimState, StartsZeroAndInstallCopiesEverySlot) {
  SimState s{};
  EXPECT_EQ(s.TaonCount, 0);
  EXPECT_FALSE(s.Stopped);
  EXPECT_EQ(CountPresent(s), 0);
  for (int k = 1; k <= kSlotCount; ++k) {
    s.X[k] = k;
    s.Y[k] = -k;
    s.Z[k] = 2 * k;
    s.UX[k] = 0.5L * k;
    s.UY[k] = 3;
    s.UZ[k] = -1;
  }
  s.Present[7] = 2;
  InstallAll(s);
  EXPECT_EQ(CountPresent(s), 1);
  for (int k = 1; k <= kSlotCount; ++k) {
    EXPECT_EQ(s.XNew[k], s.X[k]);
    EXPECT_EQ(s.ViewZ[k], s.Z[k]);
    EXPECT_EQ(s.UYNew[k], s.UY[k]);
    EXPECT_EQ(s.UZNew[k], s.UZ[k]);
  }
}

}  // namespace
}  // namespace qd
