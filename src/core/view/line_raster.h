#pragma once
// The pixels of a 1-pixel line as the window canvas draws move-to then
// line-to: the start pixel is lit and the end pixel is not, so that a figure
// drawn edge by edge lights every joint once and a zero-length edge lights
// nothing.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace qd {

// A rectangle of pixels, all four edges inclusive.
struct PixelClip {
  std::int64_t left, top, right, bottom;
};

// Calls plot(x, y) for every pixel of the segment from (x0, y0) towards
// (x1, y1), in order from the start, that lies inside `clip`. The pixels are
// those of Bresenham's algorithm: one per step along the longer axis, the
// other coordinate rounded to the nearest pixel, a tie kept on the start's
// side. Only the steps inside the clip are visited, so a segment with a far
// end costs no more than one across the clip.
template <class Plot>
void RasterLine(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1, const PixelClip& clip,
                Plot&& plot) {
  const std::int64_t dx = x1 - x0, dy = y1 - y0;
  const std::int64_t adx = std::llabs(dx), ady = std::llabs(dy);
  const bool xMajor = adx >= ady;
  const std::int64_t steps = xMajor ? adx : ady;  // pixels lit: the end is not one of them
  if (steps == 0) return;
  const std::int64_t major0 = xMajor ? x0 : y0;
  const std::int64_t majorSign = (xMajor ? dx : dy) < 0 ? -1 : 1;
  const std::int64_t minorSign = (xMajor ? dy : dx) < 0 ? -1 : 1;
  const std::int64_t minorDelta = xMajor ? ady : adx;
  const std::int64_t lo = xMajor ? clip.left : clip.top;
  const std::int64_t hi = xMajor ? clip.right : clip.bottom;
  // The steps whose major coordinate lies within [lo, hi].
  std::int64_t first = majorSign > 0 ? lo - major0 : major0 - hi;
  std::int64_t last = majorSign > 0 ? hi - major0 : major0 - lo;
  first = std::max<std::int64_t>(first, 0);
  last = std::min<std::int64_t>(last, steps - 1);
  for (std::int64_t i = first; i <= last; ++i) {
    // round(i * minorDelta / steps), exact halves rounded down.
    const std::int64_t offset = (2 * i * minorDelta + steps - 1) / (2 * steps);
    const std::int64_t major = major0 + majorSign * i;
    const std::int64_t minor = (xMajor ? y0 : x0) + minorSign * offset;
    const std::int64_t x = xMajor ? major : minor;
    const std::int64_t y = xMajor ? minor : major;
    if (x >= clip.left && x <= clip.right && y >= clip.top && y <= clip.bottom) plot(x, y);
  }
}

}  // namespace qd
