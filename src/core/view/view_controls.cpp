#include "core/view/view_controls.h"

namespace qd {

namespace {

// The step angle a rotation button changes, its view angle, and whether the
// button adds or subtracts the angle step.
struct ButtonAxis {
  Extended SimState::*step;
  Extended SimState::*view;
  bool adds;
};

ButtonAxis AxisOf(RotationButton button) {
  switch (button) {
    case RotationButton::DaoTeta:
      return {&SimState::Teta, &SimState::ViewTeta, false};
    case RotationButton::DaoTeta1:
      return {&SimState::Teta, &SimState::ViewTeta, true};
    case RotationButton::DaoPhi:
      return {&SimState::Phi, &SimState::ViewPhi, true};
    case RotationButton::DaoPhi1:
      return {&SimState::Phi, &SimState::ViewPhi, false};
    case RotationButton::DaoPsi:
      return {&SimState::Psi, &SimState::ViewPsi, false};
    case RotationButton::DaoPsi1:
      break;
  }
  return {&SimState::Psi, &SimState::ViewPsi, true};
}

// Angle and zoom steps of the track bar positions 0..10.
struct TrackStep {
  Extended angle;
  Extended zoom;
};
constexpr TrackStep kTrackSteps[11] = {{0.0005L, 0.5L}, {0.001L, 1}, {0.002L, 2}, {0.003L, 3},
                                       {0.005L, 5},     {0.01L, 7},  {0.05L, 10}, {0.1L, 15},
                                       {0.5L, 20},      {1, 30},     {2, 50}};

}  // namespace

void BeginRotation(SimState& s, RotationButton button) {
  const ButtonAxis a = AxisOf(button);
  if (a.adds) {
    s.*a.step += s.AngleStep;
  } else {
    s.*a.step -= s.AngleStep;
  }
  // A step angle left over from a spinning figure goes into the view as well.
  if (!s.ImageMode) s.*a.view += s.*a.step;
}

void EndRotation(SimState& s, RotationButton button) { s.*AxisOf(button).step = 0; }

void ClearStepAngles(SimState& s) {
  s.Teta = 0;
  s.Psi = 0;
  s.Phi = 0;
}

void ZoomForward(SimState& s) { s.Scale += 3 * s.ZoomStep; }

void ZoomBack(SimState& s) {
  if (s.Scale >= 9 * s.ZoomStep) {
    s.Scale -= 3 * s.ZoomStep;
  } else {
    s.Scale = s.Scale / s.ZoomStep;
  }
}

bool SetTrackBarSteps(SimState& s, int position) {
  if (position < 0 || position > 10) return false;
  s.AngleStep = kTrackSteps[position].angle;
  s.ZoomStep = kTrackSteps[position].zoom;
  return true;
}

void PressMouse(MouseAnchors& anchors, DragButton button, std::int32_t x, std::int32_t y) {
  if (button == DragButton::Right) {
    anchors.RightDownX = x;
    anchors.RightDownY = y;
  } else {
    anchors.LeftDownX = x;
    anchors.LeftDownY = y;
  }
}

void BeginDrag(SimState& s, const MouseAnchors& anchors, DragButton button, std::int32_t x, std::int32_t y) {
  const bool right = button == DragButton::Right;
  if (right) {
    const std::int32_t dx = x - anchors.RightDownX;
    const std::int32_t dy = y - anchors.RightDownY;
    if (dx != 0) s.Psi -= dx * s.AngleStep;
    if (dy != 0) s.Scale -= dy * s.ZoomStep;
  } else {
    const std::int32_t dx = x - anchors.LeftDownX;
    const std::int32_t dy = y - anchors.LeftDownY;
    if (dx != 0) s.Phi -= dx * s.AngleStep;
    if (dy != 0) s.Teta += dy * s.AngleStep;
  }
  if (s.ImageMode) return;
  // The particle picture depends on the view angles only, so the step angles
  // can be cleared before it is drawn.
  if (right) {
    s.ViewPsi += s.Psi;
  } else {
    s.ViewPhi += s.Phi;
    s.ViewTeta += s.Teta;
  }
  ClearStepAngles(s);
}

void EndDrag(SimState& s, bool spinChecked) {
  if (!spinChecked) ClearStepAngles(s);
}

void ShiftPicture(SimState& s, ShiftDirection direction) {
  switch (direction) {
    case ShiftDirection::Left:
      s.ShiftX -= s.ShiftStep;
      break;
    case ShiftDirection::Right:
      s.ShiftX += s.ShiftStep;
      break;
    case ShiftDirection::Up:
      s.ShiftY -= s.ShiftStep;
      break;
    case ShiftDirection::Down:
      s.ShiftY += s.ShiftStep;
      break;
  }
}

void MoveToCenter(SimState& s) {
  s.Scale = 120;
  s.ShiftX = 0;
  s.ShiftY = 0;
}

bool TimerTickRedraws(const SimState& s) { return s.SpinOn; }

}  // namespace qd
