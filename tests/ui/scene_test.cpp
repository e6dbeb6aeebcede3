#include "ui/view/scene.h"

#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "core/state/sim_state.h"
#include "core/structures/structures.h"

namespace qd {
namespace {

const QRgb kBlack = qRgb(0, 0, 0);
const QRgb kWhite = qRgb(255, 255, 255);
const QRgb kRed = qRgb(255, 0, 0);
const QRgb kLime = qRgb(0, 255, 0);
const QRgb kYellow = qRgb(255, 255, 0);
const QRgb kBlue = qRgb(0, 0, 255);  // a colour the picture never uses

// The main window's picture area: client width 596, panel top 176, with the
// view at its start-up values (identity, Scale 120, centre 302, 88).
struct Picture {
  SimState s;
  SceneStyle style;
  QImage image{596, 176, QImage::Format_RGB32};

  Picture() {
    s.TaonCount = kSlotCount;
    s.Scale = 120;
    s.CenterX = 302;
    s.CenterY = 88;
    style.font = PictureFont();
    image.fill(kBlue);
  }
  // Puts a present slot at display coordinates (x, y, z).
  void Place(int slot, Extended x, Extended y, Extended z) {
    s.Present[slot] = 1;
    s.ViewX[slot] = x;
    s.ViewY[slot] = y;
    s.ViewZ[slot] = z;
  }
  // Puts a present slot where it lands on pixel (px, py) with the start-up view.
  void PlaceAtPixel(int slot, int px, int py) {
    Place(slot, Extended(px - 302) / 60, 0, Extended(py - 88) / 60);
  }
  QRgb At(int x, int y) const { return image.pixel(x, y); }
  bool DotIs(int x, int y, QRgb c) const {
    return At(x, y) == c && At(x + 1, y) == c && At(x, y + 1) == c && At(x + 1, y + 1) == c;
  }
  // How many pixels of the picture are not black.
  int LitPixels() const {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) n += At(x, y) != kBlack;
    return n;
  }
};

TEST(ScenePicture, ClearBlackensExactlyThePictureArea) {
  Picture p;
  QImage tall(596, 250, QImage::Format_RGB32);
  tall.fill(kBlue);
  ClearPicture(tall, p.style);  // outerWidth 604 reaches past the image: clipped
  EXPECT_EQ(tall.pixel(0, 0), kBlack);
  EXPECT_EQ(tall.pixel(595, 175), kBlack);
  EXPECT_EQ(tall.pixel(0, 176), kBlue);  // the panel's top edge is exclusive
  EXPECT_EQ(tall.pixel(595, 249), kBlue);

  p.style.outerWidth = 100;
  p.style.panTop = 50;
  tall.fill(kBlue);
  ClearPicture(tall, p.style);
  EXPECT_EQ(tall.pixel(99, 49), kBlack);
  EXPECT_EQ(tall.pixel(100, 49), kBlue);
  EXPECT_EQ(tall.pixel(99, 50), kBlue);

  p.style.outerWidth = -5;  // nothing to clear, and nothing breaks
  tall.fill(kBlue);
  ClearPicture(tall, p.style);
  EXPECT_EQ(tall.pixel(0, 0), kBlue);
}

TEST(ScenePicture, SlotLandsAsTwoByTwoDotOnBlack) {
  Picture p;
  p.Place(1, 1, 5, -1);  // y is depth: no effect on the picture
  DrawParticles(p.image, p.s, p.style);
  EXPECT_EQ(p.s.ScreenX[1], 362);
  EXPECT_EQ(p.s.ScreenY[1], 28);
  EXPECT_TRUE(p.DotIs(362, 28, kLime));
  EXPECT_EQ(p.LitPixels(), 4);  // everything else was cleared, the blue is gone
}

TEST(ScenePicture, KindColoursFollowTheSecondKindCount) {
  struct Case {
    int count, lastLime;
  };
  for (Case c : {Case{30, 30}, Case{15, 45}, Case{10, 50}}) {
    Picture p;
    p.style.secondKindCount = c.count;
    p.PlaceAtPixel(c.lastLime, 100, 40);
    p.PlaceAtPixel(c.lastLime + 1, 120, 40);
    DrawParticles(p.image, p.s, p.style);
    EXPECT_TRUE(p.DotIs(100, 40, kLime)) << "split " << c.count;
    EXPECT_TRUE(p.DotIs(120, 40, kYellow)) << "split " << c.count;
  }
}

TEST(ScenePicture, TaoscopeColoursByParityWhateverTheSplit) {
  for (int split : {30, 15, 10}) {
    Picture p;
    p.style.taoscope = true;
    p.style.secondKindCount = split;
    p.PlaceAtPixel(1, 100, 40);
    p.PlaceAtPixel(2, 120, 40);
    p.PlaceAtPixel(59, 140, 40);
    p.PlaceAtPixel(60, 160, 40);
    DrawParticles(p.image, p.s, p.style);
    EXPECT_TRUE(p.DotIs(100, 40, kRed));
    EXPECT_TRUE(p.DotIs(120, 40, kLime));
    EXPECT_TRUE(p.DotIs(140, 40, kRed));
    EXPECT_TRUE(p.DotIs(160, 40, kLime));
  }
}

TEST(ScenePicture, AbsentSlotIsGoneAtTheNextDraw) {
  Picture p;
  p.style.numbersOn = true;
  p.PlaceAtPixel(5, 200, 60);
  DrawParticles(p.image, p.s, p.style);
  ASSERT_TRUE(p.DotIs(200, 60, kLime));
  p.s.Present[5] = 0;
  DrawParticles(p.image, p.s, p.style);
  EXPECT_EQ(p.LitPixels(), 0);
}

TEST(ScenePicture, EachDrawingOfARunEqualsOneOnAFreshPicture) {
  // A run draws on the same picture after every step. Whatever the drawings
  // before, and whatever touched the picture in between, each must equal a
  // drawing of the same state on a picture that held something else.
  for (const bool numbers : {false, true}) {
    Picture p;
    p.style.numbersOn = numbers;
    std::vector<std::pair<SimState, QImage>> drawn;
    for (int step = 0; step < 6; ++step) {
      for (int k = 1; k <= 30; ++k)  // some dots and numbers cut at the edges
        p.PlaceAtPixel(k, (k * 37 + step * 11) % 610 - 4, (k * 13 + step * 7) % 186 - 4);
      if (step == 3) p.s.Present[7] = 0;
      if (step == 4) p.image.setPixel(300, 100, kBlue);
      DrawParticles(p.image, p.s, p.style);
      drawn.emplace_back(p.s, p.image.copy());
    }
    for (std::size_t i = 0; i < drawn.size(); ++i) {
      Picture fresh;
      fresh.style = p.style;
      DrawParticles(fresh.image, drawn[i].first, fresh.style);
      EXPECT_EQ(fresh.image, drawn[i].second) << "drawing " << i << (numbers ? " with numbers" : "");
    }
  }
}

TEST(ScenePicture, NumberSitsOnABlackBoxTwoPixelsFromTheDot) {
  Picture p;
  p.style.numbersOn = true;
  p.style.taoscope = true;  // slot 7 red, slot 8 lime
  p.PlaceAtPixel(7, 100, 50);
  DrawParticles(p.image, p.s, p.style);
  // The text's lit pixels are red and start no nearer than (102, 52).
  int minX = 1000, minY = 1000, red = 0;
  for (int y = 0; y < p.image.height(); ++y)
    for (int x = 0; x < p.image.width(); ++x) {
      const QRgb c = p.At(x, y);
      if (c == kBlack || (x >= 100 && x <= 101 && y >= 50 && y <= 51)) continue;
      EXPECT_EQ(c, kRed) << x << "," << y;
      minX = std::min(minX, x);
      minY = std::min(minY, y);
      ++red;
    }
  EXPECT_GT(red, 4);
  EXPECT_GE(minX, 102);
  EXPECT_GE(minY, 52);
  EXPECT_LE(minX, 106);  // a "7" is drawn close to its corner
  EXPECT_TRUE(p.DotIs(100, 50, kRed));

  // A neighbour's dot under slot 7's box is covered: every dot comes first.
  p.PlaceAtPixel(8, 103, 53);
  DrawParticles(p.image, p.s, p.style);
  for (auto [x, y] : {std::pair{103, 53}, {104, 53}, {103, 54}, {104, 54}})
    EXPECT_NE(p.At(x, y), kLime) << x << "," << y;
}

TEST(ScenePicture, NumbersOffDrawsOnlyDots) {
  Picture p;
  for (int slot = 1; slot <= 10; ++slot) p.PlaceAtPixel(slot, 20 * slot, 30);
  DrawParticles(p.image, p.s, p.style);
  EXPECT_EQ(p.LitPixels(), 40);
}

TEST(ScenePicture, ZeroAndNegativeScale) {
  Picture p;
  p.s.Scale = 0;
  p.Place(1, 1, 5, -1);
  p.Place(2, -3, 0, 7);
  DrawParticles(p.image, p.s, p.style);
  EXPECT_EQ(p.s.ScreenX[1], 302);
  EXPECT_EQ(p.s.ScreenY[2], 88);
  EXPECT_TRUE(p.DotIs(302, 88, kLime));
  EXPECT_EQ(p.LitPixels(), 4);

  p.s.Scale = -120;  // mirrored through the centre
  DrawParticles(p.image, p.s, p.style);
  EXPECT_TRUE(p.DotIs(242, 148, kLime));
}

TEST(ScenePicture, DotsAtTheEdgeAreCutNotMoved) {
  Picture p;
  p.PlaceAtPixel(1, 595, 20);  // half beyond the right edge
  p.PlaceAtPixel(2, 40, 175);  // half under the panel
  p.PlaceAtPixel(3, -1, -1);   // only the bottom-right pixel shows
  DrawParticles(p.image, p.s, p.style);
  EXPECT_EQ(p.At(595, 20), kLime);
  EXPECT_EQ(p.At(595, 21), kLime);
  EXPECT_EQ(p.At(40, 175), kLime);
  EXPECT_EQ(p.At(0, 0), kLime);
  EXPECT_EQ(p.LitPixels(), 2 + 2 + 1);

  // A picture area shorter than the image keeps dots out of the rest.
  QImage tall(596, 300, QImage::Format_RGB32);
  tall.fill(kBlue);
  p.PlaceAtPixel(4, 50, 200);
  DrawParticles(tall, p.s, p.style);
  EXPECT_EQ(tall.pixel(50, 200), kBlue);
}

TEST(ScenePicture, FarAwayAndNotANumberCoordinatesAreHarmless) {
  const Extended inf = std::numeric_limits<Extended>::infinity();
  const Extended nan = std::numeric_limits<Extended>::quiet_NaN();
  for (Extended bad : {Extended(1e30L), Extended(-1e30L), Extended(1e4000L), nan, inf}) {
    Picture p;
    p.style.numbersOn = true;
    p.Place(1, bad, 0, 0);
    p.Place(2, 0, 0, bad);
    p.Place(3, 1, 5, -1);
    EXPECT_NO_THROW(DrawParticles(p.image, p.s, p.style));
    EXPECT_TRUE(p.DotIs(362, 28, kLime));
    // Slots 1 and 2 land far off the picture; only slot 3 and its number show.
    for (int y = 0; y < p.image.height(); ++y)
      for (int x = 0; x < p.image.width(); ++x)
        if (p.At(x, y) != kBlack) {
          ASSERT_TRUE(x >= 362 && y >= 28) << x << "," << y;
        }
  }
  Picture p;
  p.s.Scale = 1e4000L;
  p.Place(1, 1, 0, 1);
  EXPECT_NO_THROW(DrawParticles(p.image, p.s, p.style));
}

TEST(ScenePicture, OtherImageFormatsGetTheSamePicture) {
  Picture p;
  p.style.numbersOn = true;
  for (int slot = 1; slot <= 60; ++slot) p.PlaceAtPixel(slot, 9 * slot - 4, 10 + (slot % 7) * 22);
  DrawParticles(p.image, p.s, p.style);
  QImage packed(596, 176, QImage::Format_RGB888);
  packed.fill(kBlue);
  DrawParticles(packed, p.s, p.style);
  EXPECT_EQ(packed.convertToFormat(QImage::Format_RGB32), p.image);
}

// ---- the figure ------------------------------------------------------------

struct Figure : Picture {
  Figure() {
    s.ImageMode = true;
    s.ImageKind = 1;
    StructureBuilder(s);
  }
};

TEST(SceneFigure, EdgeListIsTheSpiralsFiftyOneEdges) {
  int white = 0;
  for (const FigureEdge& e : kFigureEdges) {
    EXPECT_GE(e.from, 1);
    EXPECT_LE(e.from, 19);
    EXPECT_GE(e.to, 1);
    EXPECT_LT(e.to, std::max(e.from, 4));
    white += e.white;
  }
  EXPECT_EQ(white, 3);
  EXPECT_TRUE(kFigureEdges[0].white);
  EXPECT_EQ(kFigureEdges[0].from + kFigureEdges[0].to, 3);
  EXPECT_TRUE(kFigureEdges[21].white);
  EXPECT_EQ(kFigureEdges[21].from, 10);
  EXPECT_EQ(kFigureEdges[21].to, 2);
  EXPECT_TRUE(kFigureEdges[39].white);
  EXPECT_EQ(kFigureEdges[39].from, 16);
  EXPECT_EQ(kFigureEdges[39].to, 10);
}

TEST(SceneFigure, FirstEdgeWhiteSecondRed) {
  Figure f;
  DrawFigure(f.image, f.s, f.style);
  // Point 1 at (302, 88), point 2 at (362, 88), point 3 at (332, 140).
  ASSERT_EQ(f.s.ScreenX[2], 362);
  ASSERT_EQ(f.s.ScreenY[3], 140);
  EXPECT_EQ(f.At(320, 88), kWhite);
  EXPECT_EQ(f.At(347, 114), kRed);
  // 10 to 2 is white as well.
  const int mx = (f.s.ScreenX[10] + f.s.ScreenX[2]) / 2;
  const int my = (f.s.ScreenY[10] + f.s.ScreenY[2]) / 2;
  bool whiteNear = false;
  for (int dy = -1; dy <= 1; ++dy) whiteNear |= f.At(mx, my + dy) == kWhite;
  EXPECT_TRUE(whiteNear);
  EXPECT_EQ(f.At(5, 5), kBlack);
}

TEST(SceneFigure, EdgesLightTheirStartNotTheirEnd) {
  // The start-up figure: every point starts an edge, so every point is lit.
  Figure f;
  DrawFigure(f.image, f.s, f.style);
  for (int k = 1; k <= 19; ++k) EXPECT_NE(f.At(f.s.ScreenX[k], f.s.ScreenY[k]), kBlack) << "point " << k;
  // 1-2 runs from (302, 88) to (362, 88) and 2-3 starts at 2: the pixel
  // before point 2 is the edge's last one. With all points at the centre
  // (Scale 0), every edge has zero length and nothing is drawn.
  EXPECT_EQ(f.At(361, 88), kWhite);
  Figure flat;
  flat.s.Scale = 0;
  DrawFigure(flat.image, flat.s, flat.style);
  EXPECT_EQ(flat.LitPixels(), 0);
}

TEST(SceneFigure, RedrawsWithZeroStepAnglesAreIdentical) {
  Figure f;
  f.style.numbersOn = true;
  DrawFigure(f.image, f.s, f.style);
  const QImage first = f.image.copy();
  const auto x = f.s.ViewX;
  for (int i = 0; i < 3; ++i) DrawFigure(f.image, f.s, f.style);
  EXPECT_EQ(f.image, first);
  EXPECT_EQ(f.s.ViewX, x);
}

TEST(SceneFigure, StepAnglesTurnTheFigureAtEveryRedraw) {
  Figure f;
  DrawFigure(f.image, f.s, f.style);
  const QImage before = f.image.copy();
  f.s.Teta = 0.3L;
  DrawFigure(f.image, f.s, f.style);
  EXPECT_NE(f.image, before);
}

TEST(SceneFigure, LabelsAreLimeAtThePointsThemselves) {
  Figure f;
  f.style.numbersOn = true;
  DrawFigure(f.image, f.s, f.style);
  // Point 1's label box starts at (302, 88) itself and hides the lines under it.
  int lime = 0;
  for (int y = 88; y < 99; ++y)
    for (int x = 302; x < 308; ++x) {
      const QRgb c = f.At(x, y);
      EXPECT_TRUE(c == kLime || c == kBlack) << x << "," << y;
      lime += c == kLime;
    }
  EXPECT_GT(lime, 3);
}

TEST(SceneFigure, PresenceIsNotConsulted) {
  Figure f;
  DrawFigure(f.image, f.s, f.style);
  const QImage a = f.image.copy();
  for (int k = 1; k <= 19; ++k) f.s.Present[k] = 1;
  DrawFigure(f.image, f.s, f.style);
  EXPECT_EQ(f.image, a);
}

TEST(SceneFigure, FarAwayPointsDrawQuickly) {
  Figure f;
  f.style.numbersOn = true;
  f.s.ViewX[10] = 1e30L;
  f.s.ViewZ[16] = -1e30L;
  f.s.ViewX[5] = std::numeric_limits<Extended>::quiet_NaN();
  EXPECT_NO_THROW(DrawFigure(f.image, f.s, f.style));
  EXPECT_EQ(f.At(320, 88), kWhite);  // the 1-2 edge is untouched
}

}  // namespace
}  // namespace qd
