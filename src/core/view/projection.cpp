#include "core/view/projection.h"

#include <cmath>

namespace qd {

namespace {

// Rx(a) * Ry(b) * Rz(c), applied to column vectors, each element grouped as
// the older program wrote it so that the rounding is the same.
void BuildMatrix(std::array<Extended, 9>& m, Extended a, Extended b, Extended c) {
  const Extended sa = sinl(a), ca = cosl(a);
  const Extended sb = sinl(b), cb = cosl(b);
  const Extended sc = sinl(c), cc = cosl(c);
  m[0] = cb * cc;
  m[1] = -cb * sc;
  m[2] = sb;
  m[3] = sa * sb * cc + ca * sc;
  m[4] = -sa * sb * sc + ca * cc;
  m[5] = -sa * cb;
  m[6] = -ca * sb * cc + sa * sc;
  m[7] = ca * sb * sc + sa * cc;
  m[8] = ca * cb;
}

struct Rotated {
  Extended x, y, z;
};

Rotated Rotate(const std::array<Extended, 9>& m, Extended x, Extended y, Extended z) {
  return {m[0] * x + m[1] * y + m[2] * z, m[3] * x + m[4] * y + m[5] * z, m[6] * x + m[7] * y + m[8] * z};
}

// Far outside any window, yet small enough that the painter's own arithmetic
// on it cannot overflow a 32-bit integer.
constexpr Extended kPixelLimit = 1000000;

}  // namespace

void BuildStepMatrix(SimState& s) { BuildMatrix(s.RotationMatrix, s.Teta, s.Psi, s.Phi); }

void BuildViewMatrix(SimState& s) { BuildMatrix(s.RotationMatrix, s.ViewTeta, s.ViewPsi, s.ViewPhi); }

std::int32_t PixelRound(Extended v) {
  // Quiet tests only: drawing must never raise a floating-point flag.
  if (std::isnan(v)) return -static_cast<std::int32_t>(kPixelLimit);
  if (std::isgreater(v, kPixelLimit)) return static_cast<std::int32_t>(kPixelLimit);
  if (std::isless(v, -kPixelLimit)) return -static_cast<std::int32_t>(kPixelLimit);
  const Extended f = floorl(v);
  const Extended frac = v - f;  // exact for |v| below 2^63
  auto n = static_cast<std::int32_t>(f);
  if (frac > 0.5L || (frac == 0.5L && (n % 2 != 0))) ++n;
  return n;
}

void ProjectPoint(const SimState& s, Extended xr, Extended zr, std::int32_t& sx, std::int32_t& sy) {
  const Extended px = static_cast<Extended>(s.CenterX) + xr * s.Scale / 2 + s.ShiftX;
  const Extended py = static_cast<Extended>(s.CenterY) + zr * s.Scale / 2 + s.ShiftY;
  sx = PixelRound(px);
  sy = PixelRound(py);
}

void ProjectParticles(SimState& s) {
  BuildViewMatrix(s);
  const int last = LastSlot(s);
  for (int k = 1; k <= last; ++k) {
    if (s.Present[k] == 0) continue;
    const Rotated r = Rotate(s.RotationMatrix, s.ViewX[k], s.ViewY[k], s.ViewZ[k]);
    s.RotX[k] = r.x;
    s.RotY[k] = r.y;
    s.RotZ[k] = r.z;
    ProjectPoint(s, r.x, r.z, s.ScreenX[k], s.ScreenY[k]);
  }
}

void RotateFigurePoints(SimState& s, int n) {
  if (n > kSlotCount) n = kSlotCount;
  for (int k = 1; k <= n; ++k) {
    const Rotated r = Rotate(s.RotationMatrix, s.ViewX[k], s.ViewY[k], s.ViewZ[k]);
    s.ViewX[k] = r.x;
    s.ViewY[k] = r.y;
    s.ViewZ[k] = r.z;
    ProjectPoint(s, r.x, r.z, s.ScreenX[k], s.ScreenY[k]);
  }
}

void UpdateCenter(SimState& s, int outerWidth, int panTop) {
  s.CenterX = PixelRound(static_cast<Extended>(outerWidth) / 2);
  s.CenterY = PixelRound(static_cast<Extended>(panTop) / 2);
}

}  // namespace qd
