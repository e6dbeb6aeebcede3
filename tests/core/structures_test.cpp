#include "core/structures/structures.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/view/projection.h"

namespace qd {
namespace {

constexpr double kSpiral[19][3] = {
    {0.000000000, 0.000000000, 0.000000000},   {1.000000000, 0.000000000, 0.000000000},
    {0.500000000, 0.000000000, 0.866025404},   {0.500000000, 0.707106781, 0.288675135},
    {0.500000000, -0.707106781, 0.288675135},  {0.500000000, -0.471404521, -0.673575314},
    {0.500000000, 0.392837101, -0.737725344},  {1.333333333, -0.052378280, -0.940867105},
    {1.388888889, -0.742025635, -0.338569602}, {1.981481481, -0.058198089, -0.179382491},
    {1.487654321, 0.668308055, -0.408263462},  {1.646090535, 0.459118258, 0.549103137},
    {1.597393690, -0.401027943, 0.654743892},  {2.483310471, -0.000071849, 0.682976359},
    {2.476527968, 0.668260156, 0.047054110},   {2.981456079, -0.052458113, -0.182004485},
    {2.487637386, -0.742078856, 0.167338812},  {2.483739493, -0.568418189, -0.812341801},
    {2.476813983, 0.289362596, -0.949824663},
};

SimState SpiralState() {
  SimState s{};
  s.TaonCount = kSlotCount;
  s.ImageMode = true;
  s.ImageKind = 1;
  for (int k = 1; k <= kSlotCount; ++k) s.ViewX[k] = s.ViewY[k] = s.ViewZ[k] = 7;
  StructureBuilder(s);
  return s;
}

Extended Distance(const SimState& s, int a, int b) {
  const Extended dx = s.ViewX[a] - s.ViewX[b], dy = s.ViewY[a] - s.ViewY[b], dz = s.ViewZ[a] - s.ViewZ[b];
  return sqrtl(dx * dx + dy * dy + dz * dz);
}

TEST(Spiral, MatchesTheTableToNineDecimalsAndClearsTheRest) {
  const SimState s = SpiralState();
  for (int k = 1; k <= 19; ++k) {
    // Rounded to 9 decimals the value must read as the table's.
    EXPECT_NEAR(static_cast<double>(s.ViewX[k]), kSpiral[k - 1][0], 5.0001e-10) << k;
    EXPECT_NEAR(static_cast<double>(s.ViewY[k]), kSpiral[k - 1][1], 5.0001e-10) << k;
    EXPECT_NEAR(static_cast<double>(s.ViewZ[k]), kSpiral[k - 1][2], 5.0001e-10) << k;
  }
  for (int k = 20; k <= kSlotCount; ++k) {
    EXPECT_EQ(s.ViewX[k], 0);
    EXPECT_EQ(s.ViewY[k], 0);
    EXPECT_EQ(s.ViewZ[k], 0);
  }
}

TEST(Spiral, EdgesHaveTheDesignedLengths) {
  const SimState s = SpiralState();
  EXPECT_NEAR(static_cast<double>(Distance(s, 1, 2)), 1.0, 1e-18);
  EXPECT_NEAR(static_cast<double>(Distance(s, 1, 3)), 1.0, 1e-18);
  EXPECT_NEAR(static_cast<double>(Distance(s, 1, 4)), 0.912870929, 5e-10);
  EXPECT_NEAR(static_cast<double>(Distance(s, 4, 5)), 1.414213562, 5e-10);
}

TEST(Spiral, LeavesParticlesAloneAndOtherFigureKindsAreEmpty) {
  SimState s{};
  s.ImageMode = true;
  s.ImageKind = 2;
  s.X[3] = 4;
  s.Present[3] = 1;
  s.A1 = 9;
  s.ViewX[1] = 5;
  StructureBuilder(s);
  EXPECT_EQ(s.ViewX[1], 0);
  EXPECT_EQ(s.X[3], 4);
  EXPECT_EQ(s.A1, 9);

  s.ImageKind = 1;
  StructureBuilder(s);
  EXPECT_EQ(s.X[3], 4);
  EXPECT_EQ(s.Present[3], 1);
  EXPECT_EQ(s.A1, 9);
}

TEST(Spiral, RebuildingUndoesATurn) {
  SimState s = SpiralState();
  const SimState fresh = s;
  s.Teta = 0.3L;
  s.Phi = -1.1L;
  BuildStepMatrix(s);
  RotateFigurePoints(s, 19);
  EXPECT_NE(s.ViewY[2], fresh.ViewY[2]);
  StructureBuilder(s);
  for (int k = 1; k <= kSlotCount; ++k) {
    EXPECT_EQ(s.ViewX[k], fresh.ViewX[k]);
    EXPECT_EQ(s.ViewY[k], fresh.ViewY[k]);
    EXPECT_EQ(s.ViewZ[k], fresh.ViewZ[k]);
  }
}

TEST(DivideSegment, WeighsFromTheFirstPoint) {
  const Point3 a{0, 3, -6}, b{3, 0, 6};
  const Point3 mid = DivideSegment(a, b, 1);
  EXPECT_EQ(mid.x, 1.5L);
  EXPECT_EQ(mid.y, 1.5L);
  EXPECT_EQ(mid.z, 0);
  const Point3 p = DivideSegment(a, b, 2);  // two thirds of the way to b
  EXPECT_EQ(p.x, 2);
  EXPECT_EQ(p.y, 1);
  EXPECT_EQ(p.z, 2);
  // The arithmetic is Extended: a third is rounded to 64 bits of significand.
  const Point3 t = DivideSegment({0, 0, 0}, {1, 0, 0}, 0.5);
  EXPECT_EQ(t.x, 0.5L / 1.5L);
  EXPECT_NE(t.x, static_cast<Extended>(0.5 / 1.5));
}

TEST(EasySquare, InstallsFourParticlesAtRestWithTheDefaultParameters) {
  SimState s{};
  s.TaonCount = kSlotCount;
  s.ImageMode = false;
  s.Dt = 0.25L;
  for (int k = 1; k <= kSlotCount; ++k) {
    s.X[k] = s.XNew[k] = s.ViewX[k] = k;
    s.UX[k] = s.UXNew[k] = -k;
  }
  s.Present[9] = 1;
  StructureBuilder(s);
  const Extended c = 0.212L;
  const Extended expect[4][3] = {{c, c, -c}, {c, c, c}, {-c, c, c}, {-c, c, -c}};
  for (int k = 1; k <= 4; ++k) {
    EXPECT_EQ(s.Present[k], 1);
    EXPECT_EQ(s.X[k], expect[k - 1][0]);
    EXPECT_EQ(s.Y[k], expect[k - 1][1]);
    EXPECT_EQ(s.Z[k], expect[k - 1][2]);
    EXPECT_EQ(s.XNew[k], s.X[k]);
    EXPECT_EQ(s.ZNew[k], s.Z[k]);
    EXPECT_EQ(s.ViewZ[k], s.Z[k]);
    EXPECT_EQ(s.UX[k], 0);
    EXPECT_EQ(s.UXNew[k], 0);
    EXPECT_EQ(s.UYNew[k], 0);
  }
  // The other slots keep their particles; only their display copies are cleared.
  EXPECT_EQ(s.Present[9], 1);
  EXPECT_EQ(s.X[9], 9);
  EXPECT_EQ(s.XNew[9], 9);
  EXPECT_EQ(s.UX[9], -9);
  EXPECT_EQ(s.ViewX[9], 0);
  EXPECT_EQ(s.Dt, 0.25L);
  EXPECT_EQ(s.A1, 1);
  EXPECT_EQ(s.B1, 2.718L);
  EXPECT_EQ(s.C2, 5);
  EXPECT_EQ(s.D2, 10);
  EXPECT_EQ(s.F2, 20);
}

}  // namespace
}  // namespace qd
