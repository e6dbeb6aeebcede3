#pragma once
// What the view controls do to the view state: the rotation and zoom buttons,
// the track bar, mouse drags on the picture, the shift keys, "Move to center"
// and the spin timer. The window only reads its control, calls one of these
// and redraws.
//
// A rotation button and a mouse release each come in two halves with the
// redraw between them: in image mode the figure is turned by the step angles
// at the redraw, so they may only be cleared after it.
#include <cstdint>

#include "core/state/sim_state.h"

namespace qd {

// ---- rotation buttons -------------------------------------------------------

// The six buttons, named as on the window.
enum class RotationButton { DaoTeta, DaoTeta1, DaoPhi, DaoPhi1, DaoPsi, DaoPsi1 };

// Changes the button's step angle by AngleStep; in simulation mode also adds
// that step angle to its view angle. Redraw next, then EndRotation.
void BeginRotation(SimState& s, RotationButton button);
// Clears the button's step angle; the other two stay as they are.
void EndRotation(SimState& s, RotationButton button);

// DaoStop: Teta, Psi and Phi back to zero.
void ClearStepAngles(SimState& s);

// ---- zoom and track bar -------------------------------------------------------

// DaoForvard: Scale += 3 * ZoomStep.
void ZoomForward(SimState& s);
// DaoBack: from 9 * ZoomStep up, Scale -= 3 * ZoomStep; below, Scale /= ZoomStep.
void ZoomBack(SimState& s);

// Sets AngleStep and ZoomStep for a track bar position 0..10. Other positions
// change nothing and return false.
bool SetTrackBarSteps(SimState& s, int position);

// ---- mouse drags on the picture -------------------------------------------------

// The right button turns about z and zooms; any other button turns about x and y.
enum class DragButton { Right, Other };

// Where the last press of each button kind was; (0, 0) before any press.
struct MouseAnchors {
  std::int32_t RightDownX = 0, RightDownY = 0;
  std::int32_t LeftDownX = 0, LeftDownY = 0;
};

void PressMouse(MouseAnchors& anchors, DragButton button, std::int32_t x, std::int32_t y);

// A release at (x, y): the drag from the anchor of the same button kind goes
// into the step angles (and, for the right button, the scale). In simulation
// mode the angles of that kind then move into the view angles and all three
// step angles are cleared. Redraw next, then EndDrag.
void BeginDrag(SimState& s, const MouseAnchors& anchors, DragButton button, std::int32_t x, std::int32_t y);
// Without spin the step angles are cleared; with spin a figure keeps turning
// by them on every later redraw.
void EndDrag(SimState& s, bool spinChecked);

// ---- shift keys, centring and the timer ---------------------------------------

enum class ShiftDirection { Left, Right, Up, Down };

// Moves the picture by ShiftStep pixels.
void ShiftPicture(SimState& s, ShiftDirection direction);

// Scale back to 120 and no shift; the orientation stays.
void MoveToCenter(SimState& s);

// Whether a timer tick redraws: only while spin is on.
bool TimerTickRedraws(const SimState& s);

}  // namespace qd
