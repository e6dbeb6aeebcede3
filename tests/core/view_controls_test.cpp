#include "core/view/view_controls.h"

#include <gtest/gtest.h>

#include <optional>

namespace qd {
namespace {

constexpr Extended kAngleStep = 0.01L;  // the start-up steps
constexpr Extended kZoomStep = 3;

SimState ViewState(bool imageMode) {
  SimState s{};
  s.ImageMode = imageMode;
  s.Scale = 120;
  s.AngleStep = kAngleStep;
  s.ZoomStep = kZoomStep;
  s.ShiftStep = 5;
  return s;
}

TEST(ViewControls, ZoomButtonsFollowTheZoomStep) {
  struct Case {
    const char* what;
    bool forward;
    Extended scale, zoomStep, expected;
  };
  const Case cases[] = {
      {"forward, start-up step", true, 120, 3, 129},
      {"forward, track bar at 5", true, 120, 7, 141},
      {"back, far above 9 steps", false, 120, 7, 99},
      {"back, exactly 9 steps still subtracts", false, 63, 7, 42},
      {"back, below 9 steps divides", false, 50, 7, 50.0L / 7},
      {"back, step 1 leaves a small scale", false, 8, 1, 8},
      {"back, step 0.5 doubles a small scale", false, 4, 0.5L, 8},
  };
  for (const Case& c : cases) {
    SimState s = ViewState(false);
    s.Scale = c.scale;
    s.ZoomStep = c.zoomStep;
    if (c.forward) {
      ZoomForward(s);
    } else {
      ZoomBack(s);
    }
    EXPECT_EQ(s.Scale, c.expected) << c.what;
  }
}

TEST(ViewControls, TrackBarSetsBothStepsAndIgnoresOtherPositions) {
  SimState s = ViewState(false);
  const Extended angle[11] = {0.0005L, 0.001L, 0.002L, 0.003L, 0.005L, 0.01L, 0.05L, 0.1L, 0.5L, 1, 2};
  const Extended zoom[11] = {0.5L, 1, 2, 3, 5, 7, 10, 15, 20, 30, 50};
  for (int p = 10; p >= 0; --p) {
    EXPECT_TRUE(SetTrackBarSteps(s, p));
    EXPECT_EQ(s.AngleStep, angle[p]) << p;
    EXPECT_EQ(s.ZoomStep, zoom[p]) << p;
  }
  EXPECT_FALSE(SetTrackBarSteps(s, 11));
  EXPECT_FALSE(SetTrackBarSteps(s, -1));
  EXPECT_EQ(s.AngleStep, 0.0005L);
  EXPECT_EQ(s.ZoomStep, 0.5L);
}

TEST(ViewControls, RotationButtonsTurnTheirOwnAxis) {
  struct Case {
    RotationButton button;
    Extended SimState::*step;
    Extended SimState::*view;
    Extended sign;
  };
  const Case cases[] = {
      {RotationButton::DaoTeta, &SimState::Teta, &SimState::ViewTeta, -1},
      {RotationButton::DaoTeta1, &SimState::Teta, &SimState::ViewTeta, +1},
      {RotationButton::DaoPhi, &SimState::Phi, &SimState::ViewPhi, +1},
      {RotationButton::DaoPhi1, &SimState::Phi, &SimState::ViewPhi, -1},
      {RotationButton::DaoPsi, &SimState::Psi, &SimState::ViewPsi, -1},
      {RotationButton::DaoPsi1, &SimState::Psi, &SimState::ViewPsi, +1},
  };
  Extended SimState::*const steps[] = {&SimState::Teta, &SimState::Psi, &SimState::Phi};
  Extended SimState::*const views[] = {&SimState::ViewTeta, &SimState::ViewPsi, &SimState::ViewPhi};
  for (const Case& c : cases) {
    const int which = static_cast<int>(c.button);
    // Simulation mode: the step goes into the view angle and is gone again.
    SimState sim = ViewState(false);
    BeginRotation(sim, c.button);
    EndRotation(sim, c.button);
    for (auto v : views) EXPECT_EQ(sim.*v, v == c.view ? c.sign * kAngleStep : 0) << which;
    for (auto a : steps) EXPECT_EQ(sim.*a, 0) << which;

    // Image mode: the figure is turned by the step angle at the redraw in
    // between; afterwards only this button's step is cleared.
    SimState image = ViewState(true);
    image.Teta = image.Psi = image.Phi = 0.25L;
    BeginRotation(image, c.button);
    EXPECT_EQ(image.*c.step, 0.25L + c.sign * kAngleStep) << which;
    EndRotation(image, c.button);
    for (auto a : steps) EXPECT_EQ(image.*a, a == c.step ? 0 : 0.25L) << which;
    for (auto v : views) EXPECT_EQ(image.*v, 0) << which;
  }

  // A step left over from a spinning figure goes into the view with the click.
  SimState s = ViewState(false);
  s.Teta = 0.03L;
  s.Psi = 0.5L;
  BeginRotation(s, RotationButton::DaoTeta1);
  EndRotation(s, RotationButton::DaoTeta1);
  EXPECT_EQ(s.ViewTeta, 0.03L + kAngleStep);
  EXPECT_EQ(s.Psi, 0.5L);
  EXPECT_EQ(s.ViewPsi, 0);

  ClearStepAngles(s);
  EXPECT_EQ(s.Psi, 0);
}

TEST(ViewControls, MouseDragsTurnZoomAndKeepTheirStepsOnlyWhileSpinning) {
  struct Point {
    std::int32_t x, y;
  };
  struct Drag {
    bool imageMode, spin;
    Extended leftoverTeta;
    DragButton pressButton;
    std::optional<Point> press;
    DragButton releaseButton;
    Point release;
  };
  struct After {
    Extended teta, psi, phi, viewTeta, viewPsi, viewPhi, scale;
  };
  struct Case {
    const char* what;
    Drag drag;
    After after;
  };
  const DragButton R = DragButton::Right, O = DragButton::Other;
  const Extended a = kAngleStep;
  const Case cases[] = {
      {"right drag 10 right, 4 up",
       {false, false, 0, R, Point{100, 50}, R, {110, 46}},
       {0, 0, 0, 0, -(10 * a), 0, 132}},
      {"the same on a spinning figure",
       {true, true, 0, R, Point{100, 50}, R, {110, 46}},
       {0, -(10 * a), 0, 0, 0, 0, 132}},
      {"the same on a figure without spin",
       {true, false, 0, R, Point{100, 50}, R, {110, 46}},
       {0, 0, 0, 0, 0, 0, 132}},
      {"left drag 3 right, 5 down",
       {false, false, 0, O, Point{10, 10}, O, {13, 15}},
       {0, 0, 0, 5 * a, 0, -(3 * a), 120}},
      {"left drag 5 down on a spinning figure",
       {true, true, 0, O, Point{10, 10}, O, {10, 15}},
       {5 * a, 0, 0, 0, 0, 0, 120}},
      {"click without movement", {false, false, 0, O, Point{50, 50}, O, {50, 50}}, {0, 0, 0, 0, 0, 0, 120}},
      {"release without press: the origin anchor",
       {false, false, 0, O, std::nullopt, O, {0, 3}},
       {0, 0, 0, 3 * a, 0, 0, 120}},
      {"right release without press",
       {false, false, 0, R, std::nullopt, R, {0, -1}},
       {0, 0, 0, 0, 0, 0, 123}},
      {"a right press leaves the left anchor",
       {false, false, 0, R, Point{100, 50}, O, {0, 3}},
       {0, 0, 0, 3 * a, 0, 0, 120}},
      {"a right drag moves only its own angle into the view",
       {false, false, 0.2L, R, Point{0, 0}, R, {1, 0}},
       {0, 0, 0, 0, -a, 0, 120}},
  };
  for (const Case& c : cases) {
    const Drag& d = c.drag;
    SimState s = ViewState(d.imageMode);
    s.Teta = d.leftoverTeta;
    MouseAnchors anchors;
    if (d.press) PressMouse(anchors, d.pressButton, d.press->x, d.press->y);
    BeginDrag(s, anchors, d.releaseButton, d.release.x, d.release.y);
    EndDrag(s, d.spin);
    const After& e = c.after;
    EXPECT_EQ(s.Teta, e.teta) << c.what;
    EXPECT_EQ(s.Psi, e.psi) << c.what;
    EXPECT_EQ(s.Phi, e.phi) << c.what;
    EXPECT_EQ(s.ViewTeta, e.viewTeta) << c.what;
    EXPECT_EQ(s.ViewPsi, e.viewPsi) << c.what;
    EXPECT_EQ(s.ViewPhi, e.viewPhi) << c.what;
    EXPECT_EQ(s.Scale, e.scale) << c.what;
  }
}

TEST(ViewControls, ShiftKeysMoveByTheShiftStepAndCentringUndoesThem) {
  struct Case {
    ShiftDirection direction;
    Extended shiftX, shiftY;
  };
  const Case cases[] = {{ShiftDirection::Left, -5, 0},
                        {ShiftDirection::Right, 5, 0},
                        {ShiftDirection::Up, 0, -5},
                        {ShiftDirection::Down, 0, 5}};
  for (const Case& c : cases) {
    SimState s = ViewState(false);
    ShiftPicture(s, c.direction);
    ShiftPicture(s, c.direction);
    EXPECT_EQ(s.ShiftX, 2 * c.shiftX);
    EXPECT_EQ(s.ShiftY, 2 * c.shiftY);

    s.Scale = 7;
    s.ViewTeta = 0.01L;
    MoveToCenter(s);
    EXPECT_EQ(s.ShiftX, 0);
    EXPECT_EQ(s.ShiftY, 0);
    EXPECT_EQ(s.Scale, 120);
    EXPECT_EQ(s.ViewTeta, 0.01L);
  }
}

}  // namespace
}  // namespace qd
