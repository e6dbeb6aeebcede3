#include "core/view/line_raster.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace qd {
namespace {

using Pixels = std::vector<std::pair<std::int64_t, std::int64_t>>;

constexpr PixelClip kWide{-100, -100, 100, 100};

Pixels Raster(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1,
              const PixelClip& clip = kWide) {
  Pixels p;
  RasterLine(x0, y0, x1, y1, clip, [&](std::int64_t x, std::int64_t y) { p.emplace_back(x, y); });
  return p;
}

TEST(LineRaster, StartLitEndNotEveryDirection) {
  const struct {
    const char* what;
    int x0, y0, x1, y1;
    Pixels expected;
  } cases[] = {
      {"zero length", 5, 5, 5, 5, {}},
      {"one step", 5, 5, 6, 5, {{5, 5}}},
      {"horizontal", 0, 0, 3, 0, {{0, 0}, {1, 0}, {2, 0}}},
      {"horizontal, leftwards", 3, 0, 0, 0, {{3, 0}, {2, 0}, {1, 0}}},
      {"vertical, upwards", 0, 0, 0, -3, {{0, 0}, {0, -1}, {0, -2}}},
      {"diagonal", 0, 0, 3, 3, {{0, 0}, {1, 1}, {2, 2}}},
      {"anti-diagonal", 2, -2, -1, 1, {{2, -2}, {1, -1}, {0, 0}}},
      // 1/4, 2/4 (a tie, kept on the start's side), 3/4.
      {"shallow", 0, 0, 4, 1, {{0, 0}, {1, 0}, {2, 0}, {3, 1}}},
      {"shallow, reversed", 4, 1, 0, 0, {{4, 1}, {3, 1}, {2, 1}, {1, 0}}},
      {"steep", 0, 0, 1, -5, {{0, 0}, {0, -1}, {0, -2}, {1, -3}, {1, -4}}},
      {"steep, leftwards", 0, 0, -2, 5, {{0, 0}, {0, 1}, {-1, 2}, {-1, 3}, {-2, 4}}},
  };
  for (const auto& c : cases) EXPECT_EQ(Raster(c.x0, c.y0, c.x1, c.y1), c.expected) << c.what;
}

TEST(LineRaster, ClippingDropsPixelsWithoutMovingTheOthers) {
  const PixelClip clip{0, 0, 9, 9};
  const int segments[][4] = {{-5, 3, 20, 7}, {4, -30, 6, 40}, {12, 12, -3, -1}, {9, 9, 9, 9}, {-4, 4, 0, 0}};
  for (const auto& s : segments) {
    Pixels inside;
    for (const auto& p : Raster(s[0], s[1], s[2], s[3]))
      if (p.first >= 0 && p.first <= 9 && p.second >= 0 && p.second <= 9) inside.push_back(p);
    EXPECT_EQ(Raster(s[0], s[1], s[2], s[3], clip), inside)
        << s[0] << "," << s[1] << " to " << s[2] << "," << s[3];
  }
  // A far end costs only the clip's width.
  EXPECT_EQ(Raster(-1000000, 5, 1000000, 5, clip).size(), 10u);
  EXPECT_EQ(Raster(-1000000, -1000000, 1000000, 1000000, clip).size(), 10u);
}

}  // namespace
}  // namespace qd
