#pragma once
// The built-in starting structures: the tetrahedral spiral figure (image
// mode) and the four-particle easy square (simulation mode).
#include "core/common/extended.h"
#include "core/state/sim_state.h"

namespace qd {

struct Point3 {
  Extended x = 0, y = 0, z = 0;
};

// The point dividing segment AB in the ratio w : 1 from A: (B*w + A)/(1 + w).
Point3 DivideSegment(const Point3& a, const Point3& b, double w);

// Builds the spiral (ImageMode, ImageKind 1) into the display arrays, or the
// easy square with its default parameters (simulation mode).
void StructureBuilder(SimState& s);

inline constexpr const char* kSpiralCaption = "ThetraSpiral";
inline constexpr const char* kEasySquareCaption = "This is a stabil structur of taons";

}  // namespace qd
