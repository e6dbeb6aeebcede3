#include "core/structures/structures.h"

#include <cmath>

namespace qd {

namespace {

// The four earlier points each further point of the spiral is made from: the
// new point mirrors d through the centroid of the face a, b, c.
struct SpiralStep {
  int k, a, b, c, d;
};

constexpr SpiralStep kSpiralSteps[] = {
    {6, 1, 2, 5, 3},      {7, 1, 2, 6, 5},      {8, 2, 6, 7, 1},      {9, 2, 6, 8, 7},
    {10, 2, 8, 9, 6},     {11, 2, 8, 10, 9},    {12, 2, 10, 11, 8},   {13, 2, 10, 12, 11},
    {14, 10, 12, 13, 2},  {15, 10, 12, 14, 13}, {16, 10, 14, 15, 12}, {17, 10, 14, 16, 15},
    {18, 10, 16, 17, 14}, {19, 10, 16, 18, 17},
};

Point3 ViewPoint(const SimState& s, int k) { return {s.ViewX[k], s.ViewY[k], s.ViewZ[k]}; }

void SetViewPoint(SimState& s, int k, const Point3& p) {
  s.ViewX[k] = p.x;
  s.ViewY[k] = p.y;
  s.ViewZ[k] = p.z;
}

void BuildSpiral(SimState& s) {
  const Extended h = 0.5L / sinl(1.0471975511965977461L);
  const Extended r = sqrtl(1 - 0.5L * 0.5L);
  const Extended q = sqrtl(r * r - 0.5L * 0.5L);
  // The older program kept this weight in a 64-bit float; the value is 0.5
  // either way, but the narrowing is part of the recipe.
  const double w2 = static_cast<double>((r - h) / h);

  SetViewPoint(s, 1, {0, 0, 0});
  SetViewPoint(s, 2, {1, 0, 0});
  SetViewPoint(s, 3, {0.5L, 0, r});
  SetViewPoint(s, 4, {0.5L, q, r - h});
  SetViewPoint(s, 5, {0.5L, -q, r - h});
  for (const SpiralStep& st : kSpiralSteps) {
    const Point3 m = DivideSegment(ViewPoint(s, st.a), ViewPoint(s, st.b), 1);
    const Point3 g = DivideSegment(m, ViewPoint(s, st.c), w2);
    const Point3 d = ViewPoint(s, st.d);
    SetViewPoint(s, st.k, {2 * g.x - d.x, 2 * g.y - d.y, 2 * g.z - d.z});
  }
}

void BuildEasySquare(SimState& s) {
  const Extended c = 0.212L;
  const Point3 corners[4] = {{c, c, -c}, {c, c, c}, {-c, c, c}, {-c, c, -c}};
  for (int k = 1; k <= 4; ++k) SetViewPoint(s, k, corners[k - 1]);

  s.A1 = 1;
  s.B1 = 2.718L;
  s.C1 = 5;
  s.D1 = 10;
  s.F1 = 20;
  s.A2 = 1;
  s.B2 = 2.718L;
  s.C2 = 5;
  s.D2 = 10;
  s.F2 = 20;

  for (int k = 1; k <= 4; ++k) {
    s.Present[k] = 1;
    s.UX[k] = s.UY[k] = s.UZ[k] = 0;
    s.UXNew[k] = s.UX[k];
    s.UYNew[k] = s.UY[k];
    s.UZNew[k] = s.UZ[k];
    s.X[k] = s.ViewX[k];
    s.XNew[k] = s.X[k];
    s.Y[k] = s.ViewY[k];
    s.YNew[k] = s.Y[k];
    s.Z[k] = s.ViewZ[k];
    s.ZNew[k] = s.Z[k];
  }
}

}  // namespace

Point3 DivideSegment(const Point3& a, const Point3& b, double w) {
  const Extended we = w;
  return {(b.x * we + a.x) / (1 + we), (b.y * we + a.y) / (1 + we), (b.z * we + a.z) / (1 + we)};
}

void StructureBuilder(SimState& s) {
  // Always all 60 display slots, whatever the slot count says.
  for (int k = 1; k <= kSlotCount; ++k) s.ViewX[k] = s.ViewY[k] = s.ViewZ[k] = 0;
  if (s.ImageMode) {
    if (s.ImageKind == 1) BuildSpiral(s);
    return;
  }
  BuildEasySquare(s);
}

}  // namespace qd
