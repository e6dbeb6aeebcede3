// The run loop in the window: the same arithmetic as the core's steps, the
// looks of a run, stopping, faults, closing the window during a run, and
// commands that run between two steps.
#include <QAction>
#include <QBackingStore>
#include <QCheckBox>
#include <QPaintDevice>
#include <QRadioButton>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include "core/common/errors.h"
#include "core/dynamics/fast_force.h"
#include "core/dynamics/worker_pool.h"
#include "core/editing/number_text.h"
#include "tests/core/dynamics_support.h"
#include "tests/ui/commands_fixture.h"
#include "ui/view/picture_canvas.h"
#include "ui/view/string_grid.h"

namespace qd {
namespace {

using CommandsRun = CommandsTest;

TEST_F(CommandsRun, RunGivesTheCoresStepsAndStopsAfterTheStepInProgress) {
  TMainForm& f = StartWith(TwoParticles());
  ASSERT_TRUE(dialogs.errors.empty());
  SimState ref = state;

  // What the window looks like while it runs, seen from inside the loop.
  bool checkedLooks = false;
  EXPECT_EQ(RunFor(5,
                   [&](int step) {
                     if (step != 1) return;
                     checkedLooks = true;
                     EXPECT_FALSE(state.Stopped);
                     EXPECT_TRUE(f.RunActive());
                     EXPECT_EQ(f.Go->text(), QStringLiteral("Stop"));
                     EXPECT_EQ(f.ShapeRed->brushColor(), QColor(255, 0, 0));
                     EXPECT_EQ(f.ShapeLime->brushColor(), QColor(0, 128, 0));
                     EXPECT_FALSE(f.Images->isEnabled());
                     EXPECT_FALSE(f.Null00->isEnabled());
                     EXPECT_EQ(f.Null00->text(), QStringLiteral("0"));
                     EXPECT_EQ(f.Null00->palette().color(QPalette::ButtonText), QColor(128, 0, 0));
                   }),
            5);
  EXPECT_TRUE(checkedLooks);
  ExpectIdle();
  EXPECT_EQ(state.StepCount, 5);
  for (int n = 1; n <= 5; ++n) AdvanceStep(ref, StepOptions{}, n);
  ExpectSameSlots(state, ref);
  // The worked example: one step moves slot 1 by e * Dt^2 towards +x.
  EXPECT_NEAR(double(state.UX[1]), 5 * 0.002718281828, 1e-6);

  // The next run continues the count.
  EXPECT_EQ(RunFor(3), 3);
  EXPECT_EQ(state.StepCount, 8);
  for (int n = 6; n <= 8; ++n) AdvanceStep(ref, StepOptions{}, n);
  ExpectSameSlots(state, ref);
  EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(CommandsRun, ScreenShowsTheLastStepRightAfterTheRun) {
  // During a run the screen gets only some of the steps; once the run is
  // over, what the window system holds must be the last step's picture,
  // listing and count, not an earlier frame's.
  SimState config = TwoParticles();
  // Far enough apart not to meet, fast enough to move by pixels between frames.
  config.X[2] = config.XNew[2] = 3;
  startPath = WriteConfig(config, QStringLiteral("start.pln"));
  WritePointer(startPath.toUtf8());
  TMainForm& f = StartShown();
  f.ShowList->setChecked(true);
  state.ShowStepCount = true;
  state.Dt = 0.05L;
  for (int steps : {1, 37}) {
    ASSERT_EQ(RunFor(steps), steps);
    // What the widgets painted into the window's backing store is what the
    // window system shows.
    ASSERT_TRUE(f.backingStore());
    QPaintDevice* device = f.backingStore()->paintDevice();
    ASSERT_TRUE(device && device->devType() == QInternal::Image);
    const QImage shot = static_cast<QImage*>(device)->convertToFormat(QImage::Format_RGB32);
    // A fresh paint of the whole window shows every widget as it is now.
    const QImage now = f.grab().toImage().convertToFormat(QImage::Format_RGB32);
    for (QWidget* w : std::initializer_list<QWidget*>{f.Canvas, f.LTime, f.DaonsTable}) {
      const QRect area(w->mapTo(&f, QPoint(0, 0)), w->size());
      EXPECT_EQ(shot.copy(area), now.copy(area)) << steps << " steps, " << w->objectName().toStdString();
    }
  }
  EXPECT_EQ(f.LTime->text(), QString::number(state.StepCount));
}

TEST_F(CommandsRun, FramesDuringARunRepaintOnlyWhatChanged) {
  // Show Listing off: the listing keeps its texts, so no frame of the run
  // may spend a repaint on it, however many frames there are.
  startPath = WriteConfig(TwoParticles(), QStringLiteral("start.pln"));
  WritePointer(startPath.toUtf8());
  TMainForm& f = StartShown();
  f.ShowList->setChecked(false);
  QCoreApplication::processEvents();
  struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
      paints += e->type() == QEvent::Paint;
      return false;
    }
  } listing, picture;
  f.DaonsTable->viewport()->installEventFilter(&listing);
  f.Canvas->installEventFilter(&picture);
  // Steps slower than a display frame: every step is a frame.
  RunFor(4, [](int) { QThread::msleep(20); });
  EXPECT_EQ(listing.paints, 0);
  EXPECT_GE(picture.paints, 4);
  // Show Listing on: the new texts reach the screen.
  f.ShowList->setChecked(true);
  RunFor(2, [](int) { QThread::msleep(20); });
  EXPECT_GE(listing.paints, 2);
}

TEST_F(CommandsRun, GoButtonPressesStartAndStop) {
  TMainForm& f = StartWith(TwoParticles());
  int steps = 0;
  f.AfterStep = [&] {
    if (++steps == 4) f.Go->click();  // the user's second press, between two steps
    if (steps > 100) state.Stopped = true;
  };
  f.Go->click();
  EXPECT_EQ(steps, 4);
  EXPECT_EQ(state.StepCount, 4);
  ExpectIdle();
}

TEST_F(CommandsRun, StopAndGoBetweenTheSameTwoStepsRunsOnOnce) {
  TMainForm& f = StartWith(TwoParticles());
  SimState ref = state;
  int steps = 0;
  f.AfterStep = [&] {
    const int step = ++steps;
    if (step == 2) {
      f.Go->click();  // stop...
      f.Go->click();  // ...and start again before the loop has left
    }
    if (step == 5) f.Go->click();
    if (step > 100) state.Stopped = true;
  };
  f.Go->click();
  f.AfterStep = nullptr;
  EXPECT_EQ(steps, 5);
  EXPECT_EQ(state.StepCount, 5);
  for (int n = 1; n <= 5; ++n) AdvanceStep(ref, StepOptions{}, n);
  ExpectSameSlots(state, ref);
  ExpectIdle();
}

TEST_F(CommandsRun, StepCountLabelFollowsTheDoubleClick) {
  TMainForm& f = StartWith(TwoParticles());
  std::vector<QString> shown;
  RunFor(4, [&](int step) {
    shown.push_back(f.LTime->text());
    if (step == 2) f.LTimeDblClick();
  });
  // Off at start-up: the label keeps "0" until the step after the switch.
  EXPECT_EQ(shown, (std::vector<QString>{"0", "0", "3", "4"}));
  EXPECT_TRUE(state.ShowStepCount);

  // A real double-click on the label switches it off again; the label
  // keeps its last number.
  QTest::mouseDClick(f.LTime, Qt::LeftButton);
  EXPECT_FALSE(state.ShowStepCount);
  RunFor(2);
  EXPECT_EQ(f.LTime->text(), QStringLiteral("4"));
  EXPECT_EQ(state.StepCount, 6);

  // Large counts widen the label so that no digit is cut off.
  f.LTimeDblClick();
  state.StepCount = 123456788;
  RunFor(1);
  EXPECT_EQ(f.LTime->text(), QStringLiteral("123456789"));
  EXPECT_GE(f.LTime->width(), f.LTime->sizeHint().width());
}

TEST_F(CommandsRun, ControlsAndParametersTakeEffectAtTheNextStep) {
  TMainForm& f = StartWith(TwoParticles());
  SimState ref = state;
  StepOptions o;
  RunFor(4, [&](int step) {
    if (step == 2) {
      f.ExpoPolyExpSum->setChecked(true);
      f.Cool->setChecked(true);
      f.EditDT->setText(QStringLiteral("0.002"));
      f.EditDTExit();
    }
  });
  AdvanceStep(ref, o, 1);
  AdvanceStep(ref, o, 2);
  o.force.formula = Formula::DUDI;
  o.cooler = true;
  ref.Dt = 0.002L;
  AdvanceStep(ref, o, 3);
  AdvanceStep(ref, o, 4);
  ExpectSameSlots(state, ref);
  EXPECT_EQ(state.StepCount, 4);
}

TEST_F(CommandsRun, StepsPreparedAheadFollowWhatChangesBetweenSteps) {
  // Enough particles for every step to share its pair terms among threads,
  // so that the run prepares each next step while it draws.
  SimState cloud = testing_support::RandomCloud(7, 40, 6);
  testing_support::SetKind(cloud, 1, 1, 2.718L, 5, 10, 20);
  testing_support::SetKind(cloud, 2, 0.75L, 1.9L, 3.5L, 7.25L, 12);
  TMainForm& f = StartWith(cloud);
  f.ExpoPolyExpSum->setChecked(true);
  SimState ref = state;
  const std::uint64_t prepared = f.CurrentRun().Engine().Forces().counts.prepared;
  RunFor(6, [&](int step) {
    if (step == 2) state.C2 = 3.25L;  // as a command between two steps would
    if (step == 4) f.Exponential->setChecked(true);
  });
  StepOptions o;
  o.force.formula = Formula::DUDI;
  for (int n = 1; n <= 6; ++n) {
    if (n == 3) ref.C2 = 3.25L;
    if (n == 5) o.force.formula = Formula::E;
    AdvanceStep(ref, o, n);
  }
  ExpectSameSlots(state, ref);
  // Steps 2, 4 and 6 follow an unchanged state; 3 and 5 are computed afresh.
  if (ResolveThreadCount(0) > 1) {
    EXPECT_EQ(f.CurrentRun().Engine().Forces().counts.prepared - prepared, 3u);
  }
}

TEST_F(CommandsRun, FaultEndsTheRunInTheIdleStateWithThePartialStepKept) {
  TMainForm& f = StartWith(TwoParticles());
  SimState ref = state;
  int steps = 0;
  f.AfterStep = [&] {
    if (++steps == 3) state.F1 = 0;  // 1.029 / F1 divides by zero at step 4
    if (steps > 100) state.Stopped = true;
  };
  f.GoClick();
  f.AfterStep = nullptr;
  EXPECT_EQ(steps, 3);
  ASSERT_EQ(dialogs.errors, (std::vector<QString>{QStringLiteral("Floating point division by zero")}));
  ExpectIdle();

  // The committed state and the count are those of the last whole step.
  for (int n = 1; n <= 3; ++n) AdvanceStep(ref, StepOptions{}, n);
  EXPECT_EQ(state.StepCount, 3);
  for (int s = 1; s <= kSlotCount; ++s) {
    EXPECT_EQ(state.X[s], ref.X[s]) << s;
    EXPECT_EQ(state.UX[s], ref.UX[s]) << s;
    EXPECT_EQ(state.ViewX[s], ref.ViewX[s]) << s;
  }
  // The faulting step ran exactly as the core's step would have.
  SimState faulted = ref;
  faulted.F1 = 0;
  EXPECT_THROW(AdvanceStep(faulted, StepOptions{}, 4), FpFault);
  ExpectSameSlots(state, faulted);

  // The first press of Go starts a new run at once.
  state.F1 = 1;
  EXPECT_EQ(RunFor(2), 2);
  EXPECT_EQ(state.StepCount, 5);
  EXPECT_EQ(dialogs.errors.size(), 1u);
  ExpectIdle();
}

TEST_F(CommandsRun, ExitDuringARunStopsAndEndsTheProgramCleanly) {
  StartWith(TwoParticles());
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  const QByteArray pointer = ReadBytes(PointerPath());
  const QByteArray config = ReadBytes(startPath);

  int steps = 0;
  form->AfterStep = [&] {
    ++steps;
    if (steps == 2) form->Exit1->trigger();
    if (steps > 100) state.Stopped = true;
  };
  // The run's result is left unsaved.
  dialogs.yesNoCancelAnswers = {Answer::No};
  // The program's own event loop, with the run started from inside it; it
  // must end by itself once the window has closed.
  QTimer::singleShot(0, form.get(), [&] { form->Go->click(); });
  QTimer::singleShot(10000, qApp, [] { QApplication::exit(99); });
  EXPECT_EQ(QApplication::exec(), 0);
  EXPECT_EQ(steps, 2);
  EXPECT_EQ(state.StepCount, 2);
  EXPECT_FALSE(form->isVisible());
  EXPECT_FALSE(form->RunActive());
  EXPECT_TRUE(state.Stopped);
  // Nothing is saved on the way out.
  EXPECT_EQ(ReadBytes(PointerPath()), pointer);
  EXPECT_EQ(ReadBytes(startPath), config);
  EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(CommandsRun, WindowCloseButtonDuringARunWaitsForTheStep) {
  StartWith(TwoParticles());
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  int steps = 0;
  bool closedInside = true;
  form->AfterStep = [&] {
    if (++steps == 3) {
      // The system's close request, as from the title bar.
      closedInside = form->close();
    }
    if (steps > 100) state.Stopped = true;
  };
  // Both closes leave the run's result unsaved.
  dialogs.yesNoCancelAnswers = {Answer::No, Answer::No};
  form->GoClick();
  EXPECT_FALSE(closedInside);  // refused while the loop was on the stack...
  EXPECT_EQ(steps, 3);
  EXPECT_FALSE(form->isVisible());  // ...and done once it had left
  // Closing when no run is active closes at once.
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  EXPECT_TRUE(form->close());
}

TEST_F(CommandsRun, OpenDuringARunGoesOnSteppingTheNewState) {
  SimState second = TwoParticles();
  second.X[2] = 2;
  second.Present[3] = 1;
  second.Y[3] = 1.5L;
  second.Dt = 0.004L;
  TMainForm& f = StartWith(TwoParticles());
  const QString secondPath = WriteConfig(second, QStringLiteral("second.pln"));
  dialogs.openAnswers.push_back(secondPath);
  std::vector<QString> labels;
  RunFor(4, [&](int step) {
    if (step == 2) {
      f.Open1Click();
      labels.push_back(f.LTime->text());
      EXPECT_EQ(state.StepCount, 0);
    }
  });
  ASSERT_TRUE(dialogs.errors.empty());
  EXPECT_EQ(labels, (std::vector<QString>{"0"}));
  // The run's own counter goes on.
  EXPECT_EQ(state.StepCount, 4);
  SimState ref = second;
  InstallAll(ref);
  AdvanceStep(ref, StepOptions{}, 3);
  AdvanceStep(ref, StepOptions{}, 4);
  ExpectSameSlots(state, ref);
  EXPECT_EQ(state.Dt, 0.004L);
  ExpectIdle();
}

TEST_F(CommandsRun, ShowListingRefreshesTheTableEveryStep) {
  TMainForm& f = StartWith(TwoParticles());
  f.ShowList->setChecked(true);
  QString during;
  RunFor(2, [&](int step) {
    if (step == 2) during = f.DaonsTable->Cells(1, 1);
  });
  EXPECT_EQ(during, QString::fromStdString(FloatToText(state.X[1], LocaleDecimalSeparator())));
  EXPECT_NE(during, QStringLiteral("0"));
}

TEST_F(CommandsRun, ZeroVelocityIsIgnoredDuringARun) {
  TMainForm& f = StartWith(TwoParticles());
  RunFor(3, [&](int step) {
    if (step == 2) f.Null00Click();
  });
  EXPECT_NE(state.UX[1], 0);
  EXPECT_EQ(f.Null00->text(), QStringLiteral("0"));
  EXPECT_TRUE(dialogs.fileDialogs.empty());
}

}  // namespace
}  // namespace qd
