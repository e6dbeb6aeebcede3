#pragma once
// Turning display coordinates into window pixels: rotation and parallel
// projection onto the rotated x-z plane.
#include <cstdint>

#include "core/common/extended.h"
#include "core/state/sim_state.h"

namespace qd {

// Fills RotationMatrix from the step angles Teta, Psi, Phi.
void BuildStepMatrix(SimState& s);
// Fills RotationMatrix from the view angles ViewTeta, ViewPsi, ViewPhi.
void BuildViewMatrix(SimState& s);

// Nearest integer, ties to even. Values that are not finite or do not fit a
// safe pixel range are clamped (NaN goes to a point far off the picture), so
// drawing such a point never faults.
std::int32_t PixelRound(Extended v);

// Projects one rotated point into pixels.
void ProjectPoint(const SimState& s, Extended xr, Extended zr, std::int32_t& sx, std::int32_t& sy);

// BuildViewMatrix, then rotate and project every present slot into ScreenX/ScreenY.
void ProjectParticles(SimState& s);

// Rotates slots 1..n of the display arrays in place by RotationMatrix and
// projects them (the figure in image mode).
void RotateFigurePoints(SimState& s, int n);

// CenterX = N(outerWidth / 2), CenterY = N(panTop / 2).
void UpdateCenter(SimState& s, int outerWidth, int panTop);

}  // namespace qd
