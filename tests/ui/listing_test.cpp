#include "ui/view/listing.h"

#include <gtest/gtest.h>

#include "core/state/sim_state.h"
#include "ui/view/string_grid.h"

namespace qd {
namespace {

// Four particles at the corners of a square, one of them moving.
SimState Square() {
  SimState s;
  s.TaonCount = kSlotCount;
  const Extended c = 0.212L;
  const Extended xs[] = {c, c, -c, -c}, zs[] = {-c, c, c, -c};
  for (int slot = 1; slot <= 4; ++slot) {
    s.Present[slot] = 1;
    s.X[slot] = xs[slot - 1];
    s.Y[slot] = c;
    s.Z[slot] = zs[slot - 1];
  }
  s.UX[2] = 0.5L;
  s.UZ[2] = -2;
  return s;
}

TEST(Listing, PresentSlotsShowValuesTheOthersOnlyTheirNumber) {
  StringGrid g(4, 61);
  SimState s = Square();
  FillListing(g, s, '.');
  EXPECT_EQ(g.Cells(0, 0), QString());  // the corner is never written
  EXPECT_EQ(g.Cells(1, 0), QStringLiteral("X"));
  EXPECT_EQ(g.Cells(2, 0), QStringLiteral("Y"));
  EXPECT_EQ(g.Cells(3, 0), QStringLiteral("Z"));
  EXPECT_EQ(g.Cells(1, 1), QStringLiteral("0.212"));
  EXPECT_EQ(g.Cells(3, 1), QStringLiteral("-0.212"));
  EXPECT_EQ(g.Cells(1, 3), QStringLiteral("-0.212"));
  for (int row = 1; row <= 60; ++row) {
    EXPECT_EQ(g.Cells(0, row), QString::number(row));
    for (int col = 1; col <= 3; ++col) EXPECT_EQ(g.Cells(col, row).isEmpty(), row > 4) << col << "," << row;
  }
}

TEST(Listing, DoubleToggleReturnsToPositions) {
  StringGrid g(4, 61);
  SimState s = Square();
  s.ListVelocities = true;
  FillListing(g, s, '.');
  EXPECT_EQ(g.Cells(1, 0), QStringLiteral("u(x)"));
  EXPECT_EQ(g.Cells(2, 0), QStringLiteral("u(y)"));
  EXPECT_EQ(g.Cells(3, 0), QStringLiteral("u(z)"));
  EXPECT_EQ(g.Cells(1, 2), QStringLiteral("0.5"));
  EXPECT_EQ(g.Cells(3, 2), QStringLiteral("-2"));
  EXPECT_EQ(g.Cells(1, 1), QStringLiteral("0"));
  EXPECT_EQ(g.Cells(1, 5), QString());
  s.ListVelocities = false;
  FillListing(g, s, '.');
  EXPECT_EQ(g.Cells(1, 0), QStringLiteral("X"));
  EXPECT_EQ(g.Cells(1, 2), QStringLiteral("0.212"));
}

TEST(Listing, SlotThatLeavesLosesItsValues) {
  StringGrid g(4, 61);
  SimState s = Square();
  FillListing(g, s, '.');
  ASSERT_FALSE(g.Cells(2, 3).isEmpty());
  s.Present[3] = 0;
  FillListing(g, s, '.');
  EXPECT_EQ(g.Cells(1, 3), QString());
  EXPECT_EQ(g.Cells(2, 3), QString());
  EXPECT_EQ(g.Cells(3, 3), QString());
  EXPECT_EQ(g.Cells(0, 3), QStringLiteral("3"));
}

TEST(Listing, NumberTextSwitchesNotationAndUsesTheSeparator) {
  StringGrid g(4, 61);
  SimState s;
  s.TaonCount = kSlotCount;
  s.Present[60] = 1;
  s.X[60] = 0.00012L;
  s.Y[60] = 0.00001L;
  s.Z[60] = 1e20L;
  FillListing(g, s, '.');
  EXPECT_EQ(g.Cells(1, 60), QStringLiteral("0.00012"));
  EXPECT_EQ(g.Cells(2, 60), QStringLiteral("1E-5"));
  EXPECT_EQ(g.Cells(3, 60), QStringLiteral("1E20"));
  FillListing(g, s, ',');
  EXPECT_EQ(g.Cells(1, 60), QStringLiteral("0,00012"));
}

TEST(Listing, SmallerGridOrOddCountIsSafe) {
  SimState s = Square();
  StringGrid small(4, 3);  // only rows up to 2 exist
  FillListing(small, s, '.');
  EXPECT_EQ(small.Cells(0, 2), QStringLiteral("2"));
  EXPECT_EQ(small.Cells(0, 3), QString());
  s.TaonCount = 1000;  // never past the 60 slots
  StringGrid g(4, 61);
  FillListing(g, s, '.');
  EXPECT_EQ(g.Cells(0, 60), QStringLiteral("60"));
}

}  // namespace
}  // namespace qd
