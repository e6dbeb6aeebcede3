#include "core/view/projection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace qd {
namespace {

SimState ViewState() {
  SimState s{};
  s.TaonCount = kSlotCount;
  s.Scale = 120;
  s.CenterX = 302;
  s.CenterY = 88;
  BuildStepMatrix(s);
  return s;
}

TEST(PixelRound, RoundsToNearestWithTiesToEven) {
  EXPECT_EQ(PixelRound(2.5L), 2);
  EXPECT_EQ(PixelRound(3.5L), 4);
  EXPECT_EQ(PixelRound(-0.5L), 0);
  EXPECT_EQ(PixelRound(-1.5L), -2);
  EXPECT_EQ(PixelRound(-2.5L), -2);
  EXPECT_EQ(PixelRound(2.4999999999L), 2);
  EXPECT_EQ(PixelRound(2.5000000001L), 3);
  EXPECT_EQ(PixelRound(-7.2L), -7);
  EXPECT_EQ(PixelRound(-7.7L), -8);
  EXPECT_EQ(PixelRound(0), 0);
}

TEST(PixelRound, KeepsHugeAndNonFiniteValuesFarOffThePicture) {
  const Extended inf = std::numeric_limits<Extended>::infinity();
  const Extended nan = std::numeric_limits<Extended>::quiet_NaN();
  EXPECT_EQ(PixelRound(1e30L), 1000000);
  EXPECT_EQ(PixelRound(-1e4000L), -1000000);
  EXPECT_EQ(PixelRound(inf), 1000000);
  EXPECT_EQ(PixelRound(-inf), -1000000);
  EXPECT_EQ(PixelRound(nan), -1000000);
  EXPECT_EQ(PixelRound(999999.5L), 1000000);
}

TEST(Projection, IdentityViewPutsAPointRightAndUpOfTheCentre) {
  SimState s = ViewState();
  s.Present[7] = 1;
  s.ViewX[7] = 1;
  s.ViewY[7] = 5;
  s.ViewZ[7] = -1;
  ProjectParticles(s);
  EXPECT_EQ(s.ScreenX[7], 362);
  EXPECT_EQ(s.ScreenY[7], 28);
  s.ViewY[7] = -1e6L;  // depth plays no part
  ProjectParticles(s);
  EXPECT_EQ(s.ScreenX[7], 362);
  EXPECT_EQ(s.ScreenY[7], 28);
}

TEST(Projection, AbsentSlotsKeepTheirPixels) {
  SimState s = ViewState();
  s.ScreenX[3] = -17;
  s.ScreenY[3] = 41;
  s.ViewX[3] = 2;
  ProjectParticles(s);
  EXPECT_EQ(s.ScreenX[3], -17);
  EXPECT_EQ(s.ScreenY[3], 41);
}

TEST(Projection, ZeroAndNegativeScale) {
  SimState s = ViewState();
  s.ShiftX = 10.5L;  // 312.5 goes to the even 312
  s.ShiftY = -3;
  s.Scale = 0;
  std::int32_t x = 0, y = 0;
  ProjectPoint(s, 5, -9, x, y);
  EXPECT_EQ(x, 312);
  EXPECT_EQ(y, 85);
  s.ShiftX = 0;
  s.ShiftY = 0;
  s.Scale = -120;
  ProjectPoint(s, 1, -1, x, y);
  EXPECT_EQ(x, 242);  // mirrored through the centre
  EXPECT_EQ(y, 148);
}

TEST(Projection, ViewAnglesTurnTheParticlesButNotTheirCoordinates) {
  SimState s = ViewState();
  s.ViewPhi = 1.5707963267948966192L;  // a quarter turn about z: x goes to y
  s.Present[1] = 1;
  s.ViewX[1] = 1;
  ProjectParticles(s);
  EXPECT_EQ(s.ViewX[1], 1);
  EXPECT_EQ(s.ScreenX[1], 302);
  EXPECT_EQ(s.ScreenY[1], 88);
  EXPECT_NEAR(static_cast<double>(s.RotY[1]), 1.0, 1e-18);
}

TEST(RotationMatrix, ZeroAnglesGiveTheExactIdentity) {
  SimState s = ViewState();
  s.RotationMatrix.fill(3);
  BuildStepMatrix(s);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(s.RotationMatrix[i], (i % 4 == 0) ? 1 : 0) << i;
}

TEST(RotationMatrix, IsTheProductOfTheThreeTurnsAboutFixedAxes) {
  SimState s = ViewState();
  s.Teta = 0.3L;
  s.Psi = -0.7L;
  s.Phi = 1.9L;
  BuildStepMatrix(s);
  const long double a = 0.3L, b = -0.7L, c = 1.9L;
  const long double rx[9] = {1, 0, 0, 0, cosl(a), -sinl(a), 0, sinl(a), cosl(a)};
  const long double ry[9] = {cosl(b), 0, sinl(b), 0, 1, 0, -sinl(b), 0, cosl(b)};
  const long double rz[9] = {cosl(c), -sinl(c), 0, sinl(c), cosl(c), 0, 0, 0, 1};
  long double t[9] = {}, m[9] = {};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) t[i * 3 + j] += ry[i * 3 + k] * rz[k * 3 + j];
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) m[i * 3 + j] += rx[i * 3 + k] * t[k * 3 + j];
  for (int i = 0; i < 9; ++i)
    EXPECT_NEAR(static_cast<double>(s.RotationMatrix[i]), static_cast<double>(m[i]), 1e-17) << i;
}

TEST(FigureRotation, ZeroStepLeavesThePointsExactlyAndTurnsAccumulate) {
  SimState a = ViewState();
  for (int k = 1; k <= 19; ++k) {
    a.ViewX[k] = 0.1L * k;
    a.ViewY[k] = 1 - 0.07L * k;
    a.ViewZ[k] = -0.3L + 0.05L * k;
  }
  SimState unchanged = a;
  RotateFigurePoints(unchanged, 19);
  for (int k = 1; k <= 19; ++k) {
    EXPECT_EQ(unchanged.ViewX[k], a.ViewX[k]);
    EXPECT_EQ(unchanged.ViewY[k], a.ViewY[k]);
    EXPECT_EQ(unchanged.ViewZ[k], a.ViewZ[k]);
  }
  EXPECT_EQ(unchanged.ScreenX[10], PixelRound(302 + 60 * a.ViewX[10]));

  SimState b = a;
  a.Teta = 0.01L;
  BuildStepMatrix(a);
  RotateFigurePoints(a, 19);
  RotateFigurePoints(a, 19);
  b.Teta = 0.02L;
  BuildStepMatrix(b);
  RotateFigurePoints(b, 19);
  for (int k = 1; k <= 19; ++k) {
    EXPECT_NEAR(static_cast<double>(a.ViewX[k]), static_cast<double>(b.ViewX[k]), 1e-15);
    EXPECT_NEAR(static_cast<double>(a.ViewY[k]), static_cast<double>(b.ViewY[k]), 1e-15);
    EXPECT_NEAR(static_cast<double>(a.ViewZ[k]), static_cast<double>(b.ViewZ[k]), 1e-15);
  }
  // A turn about x keeps x.
  EXPECT_EQ(a.ViewX[5], b.ViewX[5]);
  // Only the first n points turn.
  SimState c = ViewState();
  c.ViewY[3] = 1;
  c.ViewY[4] = 1;
  c.Teta = 0.5L;
  BuildStepMatrix(c);
  RotateFigurePoints(c, 3);
  EXPECT_NE(c.ViewY[3], 1);
  EXPECT_EQ(c.ViewY[4], 1);
}

TEST(Centre, HalvesTheOuterWidthAndThePanelTopWithTiesToEven) {
  SimState s{};
  UpdateCenter(s, 604, 176);
  EXPECT_EQ(s.CenterX, 302);
  EXPECT_EQ(s.CenterY, 88);
  UpdateCenter(s, 605, 177);
  EXPECT_EQ(s.CenterX, 302);
  EXPECT_EQ(s.CenterY, 88);
  UpdateCenter(s, 607, 179);
  EXPECT_EQ(s.CenterX, 304);
  EXPECT_EQ(s.CenterY, 90);
}

}  // namespace
}  // namespace qd
