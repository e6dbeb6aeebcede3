// The controls that turn, zoom and shift the picture, the resize handler,
// the listing toggle and the time step field.
#include <QAction>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTabWidget>
#include <QToolButton>
#include <cmath>

#include "tests/core/comma_locale.h"
#include "tests/ui/mainform_fixture.h"
#include "ui/view/picture_canvas.h"
#include "ui/view/string_grid.h"

namespace qd {
namespace {

class MainFormView : public MainFormTest {
 protected:
  // Started on the spiral (image mode).
  TMainForm& StartImage() { return Start(); }
  // Started on the easy square (simulation mode).
  TMainForm& StartSimulation() {
    WritePointer((Folder() + QStringLiteral("/none.pln")).toUtf8());
    TMainForm& f = Start();
    EXPECT_FALSE(state.ImageMode);
    return f;
  }
  struct Points {
    SlotArray<Extended> x, y, z;
  };
  Points Figure() const { return {state.ViewX, state.ViewY, state.ViewZ}; }
};

// The arithmetic of every control is checked in the core; here only which
// control reaches which handler, and what needs the window to see.

TEST_F(MainFormView, ZoomButtonsAndTrackBarReachTheirHandlers) {
  TMainForm& f = StartImage();
  // Until the bar moves the steps keep their start-up values.
  EXPECT_EQ(state.AngleStep, 0.01L);
  EXPECT_EQ(state.ZoomStep, 3);
  f.DaoForvard->click();
  EXPECT_EQ(state.Scale, 129);

  f.TrackBar->setValue(4);
  f.TrackBar->setValue(5);
  EXPECT_EQ(state.AngleStep, 0.01L);
  EXPECT_EQ(state.ZoomStep, 7);
  f.TrackBar->setValue(10);
  EXPECT_EQ(state.AngleStep, 2);
  EXPECT_EQ(state.ZoomStep, 50);
  f.TrackBarChange(11);
  EXPECT_EQ(state.ZoomStep, 50);

  f.TrackBar->setValue(5);
  state.Scale = 120;
  f.DaoBack->click();
  EXPECT_EQ(state.Scale, 99);
}

TEST_F(MainFormView, RotationButtonsInSimulationModeTurnTheView) {
  TMainForm& f = StartSimulation();
  const Points before = Figure();
  f.DaoTeta1->click();
  EXPECT_EQ(state.ViewTeta, 0.01L);
  EXPECT_EQ(state.Teta, 0);
  f.DaoTeta->click();
  EXPECT_EQ(state.ViewTeta, 0);
  f.DaoPhi->click();
  EXPECT_EQ(state.ViewPhi, 0.01L);
  f.DaoPhi1->click();
  f.DaoPhi1->click();
  EXPECT_EQ(state.ViewPhi, -0.01L);
  f.DaoPsi->click();
  EXPECT_EQ(state.ViewPsi, -0.01L);
  f.DaoPsi1->click();
  EXPECT_EQ(state.ViewPsi, 0);
  EXPECT_EQ(state.Phi, 0);
  EXPECT_EQ(state.Psi, 0);
  // The particles themselves never move.
  EXPECT_EQ(Figure().x, before.x);
  EXPECT_EQ(Figure().z, before.z);
}

TEST_F(MainFormView, RotationButtonsInImageModeTurnTheFigure) {
  TMainForm& f = StartImage();
  const Points before = Figure();
  f.DaoTeta1->click();  // Teta = 0.01 about x for this one redraw
  EXPECT_EQ(state.Teta, 0);
  EXPECT_EQ(state.ViewTeta, 0);
  const Extended c = std::cos(0.01L), s = std::sin(0.01L);
  for (int k = 1; k <= 19; ++k) {
    EXPECT_EQ(state.ViewX[k], before.x[k]) << k;
    EXPECT_NEAR(double(state.ViewY[k]), double(c * before.y[k] - s * before.z[k]), 1e-12) << k;
    EXPECT_NEAR(double(state.ViewZ[k]), double(s * before.y[k] + c * before.z[k]), 1e-12) << k;
  }
  // DaoStop redraws with zero steps: the figure stays bit for bit.
  const Points turned = Figure();
  f.DaoStop->click();
  EXPECT_EQ(Figure().y, turned.y);
  EXPECT_EQ(Figure().z, turned.z);
}

TEST_F(MainFormView, MouseEventsOnThePictureUseWindowCoordinates) {
  TMainForm& f = StartSimulation();
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  QTest::mousePress(f.Canvas, Qt::LeftButton, {}, QPoint(200, 60));
  EXPECT_EQ(f.Anchors.LeftDownX, 200);
  EXPECT_EQ(f.Anchors.LeftDownY, 60);
  QTest::mouseRelease(f.Canvas, Qt::LeftButton, {}, QPoint(200, 65));  // 5 down
  EXPECT_EQ(state.ViewTeta, 5 * 0.01L);
  EXPECT_EQ(state.ViewPhi, 0);
  QTest::mousePress(f.Canvas, Qt::RightButton, {}, QPoint(10, 20));
  EXPECT_EQ(f.Anchors.RightDownX, 10);
  EXPECT_EQ(f.Anchors.RightDownY, 20);
  EXPECT_EQ(f.Anchors.LeftDownX, 200);
  QTest::mouseRelease(f.Canvas, Qt::RightButton, {}, QPoint(20, 16));  // 10 right, 4 up
  EXPECT_EQ(state.ViewPsi, -(10 * 0.01L));
  EXPECT_EQ(state.Scale, 132);
  // The middle button counts with the left one.
  QTest::mousePress(f.Canvas, Qt::MiddleButton, {}, QPoint(30, 40));
  EXPECT_EQ(f.Anchors.LeftDownX, 30);
  EXPECT_EQ(f.Anchors.LeftDownY, 40);
  EXPECT_EQ(f.Anchors.RightDownX, 10);
}

TEST_F(MainFormView, ClickWithoutMovementRedrawsAndChangesNothing) {
  TMainForm& f = StartSimulation();
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  Settle();
  f.Canvas->image().fill(QColor(1, 2, 3));
  f.FormMouseDown(Qt::LeftButton, QPoint(50, 50));
  f.FormMouseUp(Qt::LeftButton, QPoint(50, 50));
  EXPECT_EQ(f.Canvas->image().pixelColor(5, 100), QColor(0, 0, 0));
}

TEST_F(MainFormView, SpinTurnsTheFigureOnEveryTimerTickUntilStopped) {
  TMainForm& f = StartImage();
  // Without spin the timer leaves the figure alone.
  Points before = Figure();
  f.TimerTimer();
  EXPECT_EQ(Figure().y, before.y);

  f.ShowSpin->trigger();
  EXPECT_TRUE(state.SpinOn);
  f.FormMouseDown(Qt::LeftButton, QPoint(10, 10));
  f.FormMouseUp(Qt::LeftButton, QPoint(10, 15));
  EXPECT_EQ(state.Teta, 5 * 0.01L);
  before = Figure();
  f.TimerTimer();
  const Extended c = std::cos(0.05L), s = std::sin(0.05L);
  for (int k = 1; k <= 19; ++k) {
    EXPECT_NEAR(double(state.ViewY[k]), double(c * before.y[k] - s * before.z[k]), 1e-12) << k;
    EXPECT_NEAR(double(state.ViewZ[k]), double(s * before.y[k] + c * before.z[k]), 1e-12) << k;
  }
  f.DaoStop->click();
  before = Figure();
  f.TimerTimer();
  EXPECT_EQ(Figure().y, before.y);
  EXPECT_EQ(Figure().z, before.z);

  f.ShowSpin->trigger();
  EXPECT_FALSE(state.SpinOn);
}

TEST_F(MainFormView, ShiftThenMoveToCenterKeepsTheOrientation) {
  TMainForm& f = StartSimulation();
  f.DaoTeta1->click();
  f.DaoForvard->click();
  const std::int32_t x1 = state.ScreenX[1], y1 = state.ScreenY[1];
  f.Up1->trigger();
  EXPECT_EQ(state.ShiftY, -5);
  // The whole picture moves up by the shift step.
  EXPECT_EQ(state.ScreenY[1], y1 - 5);
  EXPECT_EQ(state.ScreenX[1], x1);
  f.Left1->trigger();
  EXPECT_EQ(state.ShiftX, -5);
  f.Right1->trigger();
  f.Right1->trigger();
  EXPECT_EQ(state.ShiftX, 5);
  f.Down1->trigger();
  f.Down1->trigger();
  EXPECT_EQ(state.ShiftY, 5);
  f.MoveToCenter->trigger();
  EXPECT_EQ(state.ShiftX, 0);
  EXPECT_EQ(state.ShiftY, 0);
  EXPECT_EQ(state.Scale, 120);
  EXPECT_EQ(state.ViewTeta, 0.01L);
}

TEST_F(MainFormView, NumbersToggleFollowsTheCheckMark) {
  TMainForm& f = StartImage();
  f.ShowNumbersOfPoints->trigger();
  EXPECT_TRUE(state.NumbersOn);
  EXPECT_TRUE(f.CurrentSceneStyle().numbersOn);
  f.ShowNumbersOfPoints->trigger();
  EXPECT_FALSE(state.NumbersOn);
}

TEST_F(MainFormView, ResizeSetsTheListingWidths) {
  TMainForm& f = StartImage();
  f.FormResize();
  EXPECT_EQ(f.DaonsTable->defaultColumnWidth(), 54);
  EXPECT_EQ(f.DaonsTable->width(), 355);
  EXPECT_EQ(f.FName->width(), 360);
  EXPECT_EQ(f.PageControl->width(), 357);
  EXPECT_EQ(f.Comment->width(), 360);
  EXPECT_EQ(f.Comment->height(), 169 - 29);

  // A real resize keeps Pan at the bottom and recentres the picture.
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  f.resize(f.width() + 100, f.height() + 40);
  Settle();
  EXPECT_EQ(f.Pan->y(), 176 + 40);
  EXPECT_EQ(f.Pan->width(), 696);
  EXPECT_EQ(f.Canvas->size(), QSize(696, 216));
  EXPECT_EQ(state.CenterX, 352);
  EXPECT_EQ(state.CenterY, 108);
  EXPECT_EQ(f.DaonsTable->defaultColumnWidth(), 54);
}

TEST_F(MainFormView, DoubleClickOnTheListingSwitchesToVelocitiesAndBack) {
  TMainForm& f = StartSimulation();
  f.DaonsTableDblClick();
  EXPECT_TRUE(state.ListVelocities);
  EXPECT_EQ(f.DaonsTable->Cells(1, 0), QStringLiteral("u(x)"));
  f.DaonsTableDblClick();
  EXPECT_FALSE(state.ListVelocities);
  EXPECT_EQ(f.DaonsTable->Cells(1, 0), QStringLiteral("X"));
}

TEST_F(MainFormView, LeavingEditDTReadsTheTimeStep) {
  TMainForm& f = StartImage();
  f.EditDT->setText(QStringLiteral("0.002"));
  f.EditDTExit();
  EXPECT_EQ(state.Dt, 0.002L);

  // A bad text is reported through the guarded handler and changes nothing.
  f.EditDT->setText(QStringLiteral("abc"));
  f.RunHandler([&] { f.EditDTExit(); });
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_EQ(dialogs.errors.front(), QStringLiteral("'abc' is not a valid floating point value"));
  EXPECT_EQ(state.Dt, 0.002L);
}

TEST_F(MainFormView, EditDTFollowsADecimalCommaLocale) {
  TMainForm& f = StartImage();
  testing::CommaNumericLocale comma;
  if (!comma.active()) GTEST_SKIP() << "no locale with a decimal comma can be had here";
  f.EditDT->setText(QStringLiteral("0,002"));
  f.EditDTExit();
  EXPECT_EQ(state.Dt, 0.002L);
  // The key filter lets a full stop through, but under a comma locale it is no separator.
  f.EditDT->setText(QStringLiteral("0.003"));
  f.RunHandler([&] { f.EditDTExit(); });
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_EQ(dialogs.errors.front(), QStringLiteral("'0.003' is not a valid floating point value"));
  EXPECT_EQ(state.Dt, 0.002L);
  f.ShowParameters();
  EXPECT_EQ(f.EditDT->text(), QStringLiteral("0,002"));
}

TEST_F(MainFormView, FocusLeavingEditDTRunsItsExitHandler) {
  TMainForm& f = StartImage();
  f.show();
  f.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  f.EditDT->setFocus(Qt::MouseFocusReason);
  f.EditDT->setText(QStringLiteral("0.25"));
  f.EditA1->setFocus(Qt::MouseFocusReason);
  Settle();
  EXPECT_EQ(state.Dt, 0.25L);
  // The other parameter fields are not read back.
  f.EditA1->setText(QStringLiteral("9"));
  f.EditDT->setFocus(Qt::TabFocusReason);
  Settle();
  EXPECT_EQ(state.A1, 0);
}

}  // namespace
}  // namespace qd
