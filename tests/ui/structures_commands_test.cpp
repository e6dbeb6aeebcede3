// Spiral, Taons and the zero-velocity button: what they install, and what
// they deliberately leave alone.
#include <QAction>
#include <QPlainTextEdit>
#include <QToolButton>
#include <cmath>

#include "core/structures/structures.h"
#include "tests/ui/commands_fixture.h"
#include "ui/view/string_grid.h"

namespace qd {
namespace {

using StructuresCommands = CommandsTest;

// Ten particles moving, so that the easy square's slots 1..4 and the rest
// can be told apart.
SimState TenMoving() {
  SimState c = TwoParticles();
  for (int s = 1; s <= 10; ++s) {
    c.Present[s] = 1;
    c.X[s] = s;
    c.Y[s] = -s;
    c.Z[s] = 0.5L * s;
    c.UX[s] = 0.25L;
    c.UY[s] = -0.5L;
    c.UZ[s] = 1;
  }
  c.UX[20] = 3;  // an empty slot with a velocity
  return c;
}

Extended Distance(const SimState& s, int a, int b) {
  const Extended dx = s.ViewX[a] - s.ViewX[b], dy = s.ViewY[a] - s.ViewY[b], dz = s.ViewZ[a] - s.ViewZ[b];
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

TEST_F(StructuresCommands, SpiralShowsTheFigureAndKeepsTheConfiguration) {
  TMainForm& f = StartWith(TenMoving());
  const SimState before = state;
  const QString fname = f.FName->text();
  f.Spiral1->trigger();
  EXPECT_TRUE(state.ImageMode);
  EXPECT_FALSE(f.Go->isEnabled());
  EXPECT_FALSE(f.Null00->isEnabled());
  EXPECT_EQ(state.ViewX[2], 1);
  EXPECT_EQ(state.ViewY[2], 0);
  EXPECT_NEAR(double(state.ViewZ[3]), 0.866025404, 1e-9);
  EXPECT_NEAR(double(state.ViewX[19]), 2.476813983, 1e-9);
  for (int s = 20; s <= kSlotCount; ++s) EXPECT_EQ(state.ViewX[s], 0) << s;
  EXPECT_NEAR(double(Distance(state, 1, 3)), 1.0, 1e-12);
  EXPECT_NEAR(double(Distance(state, 4, 5)), 1.414213562, 1e-9);
  for (int s = 1; s <= kSlotCount; ++s) {
    EXPECT_EQ(state.X[s], before.X[s]);
    EXPECT_EQ(state.UX[s], before.UX[s]);
  }
  ExpectSameParameters(state, before);
  EXPECT_EQ(state.CurrentName, before.CurrentName);
  EXPECT_EQ(f.FName->text(), fname);

  // Turned, then Spiral again: the figure in its starting orientation.
  const SimState fresh = state;
  f.DaoTetaClick();
  f.DaoPhiClick();
  f.Spiral1->trigger();
  for (int s = 1; s <= 19; ++s) {
    EXPECT_EQ(state.ViewX[s], fresh.ViewX[s]) << s;
    EXPECT_EQ(state.ViewY[s], fresh.ViewY[s]) << s;
  }
  EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(StructuresCommands, TaonsReloadsTheRememberedConfigurationOnly) {
  TMainForm& f = StartWith(TenMoving());
  f.Comment->setPlainText(QStringLiteral("notes"));
  RunFor(3, [&](int) {});
  f.LTimeDblClick();
  RunFor(1);
  const QString dtShown = f.EditDT->text();
  f.EditA1->setText(QStringLiteral("42"));
  f.Spiral1->trigger();
  f.Daons1->trigger();
  ASSERT_TRUE(dialogs.errors.empty());
  EXPECT_FALSE(state.ImageMode);
  EXPECT_TRUE(f.Go->isEnabled());
  EXPECT_TRUE(f.Null00->isEnabled());
  // The file's state, working and display copies included...
  SimState file = TenMoving();
  InstallAll(file);
  ExpectSameSlots(state, file);
  EXPECT_EQ(state.Dt, 0.001L);  // the file's
  // ...and nothing else: no counter reset, fields and commentary kept.
  EXPECT_EQ(state.StepCount, 4);
  EXPECT_EQ(f.LTime->text(), QStringLiteral("4"));
  EXPECT_EQ(f.EditA1->text(), QStringLiteral("42"));
  EXPECT_EQ(f.EditDT->text(), dtShown);
  EXPECT_EQ(f.Comment->toPlainText(), QStringLiteral("notes"));
  EXPECT_EQ(state.CurrentName, startPath.toStdString());
  EXPECT_EQ(f.FName->text(), startPath);
}

TEST_F(StructuresCommands, TaonsWithoutTheStartPointerFileSaysSo) {
  TMainForm& f = StartWith(TenMoving());
  f.Spiral1->trigger();
  const SimState before = state;
  QFile::remove(PointerPath());
  f.Daons1->trigger();
  EXPECT_EQ(dialogs.informations, (std::vector<QString>{QStringLiteral("The start File not found.")}));
  EXPECT_TRUE(dialogs.errors.empty());
  EXPECT_FALSE(state.ImageMode);
  EXPECT_TRUE(f.Go->isEnabled());
  ExpectSameSlots(state, before);  // the spiral still in the display arrays
  EXPECT_EQ(state.CurrentName, before.CurrentName);
}

TEST_F(StructuresCommands, TaonsWithAMissingFileBuildsTheSquareAndKeepsTheOtherSlots) {
  TMainForm& f = StartWith(TenMoving());
  const QString missing = Folder() + QStringLiteral("/gone.pln");
  WritePointer(missing.toUtf8());
  f.Daons1->trigger();
  EXPECT_TRUE(dialogs.errors.empty());
  EXPECT_TRUE(dialogs.informations.empty());
  EXPECT_EQ(f.FName->text(), missing);
  EXPECT_EQ(state.CurrentName, missing.toStdString());
  for (int s = 1; s <= 4; ++s) {
    EXPECT_NEAR(double(std::fabs(state.X[s])), 0.212, 1e-12) << s;
    EXPECT_EQ(state.UX[s], 0) << s;
  }
  for (int s = 5; s <= 10; ++s) {
    EXPECT_EQ(state.Present[s], 1) << s;
    EXPECT_EQ(state.X[s], s) << s;
    EXPECT_EQ(state.ViewX[s], 0) << s;  // until the next step
  }
  EXPECT_EQ(state.B1, 2.718L);
  EXPECT_EQ(state.F2, 20);
}

TEST_F(StructuresCommands, TaonsWithAnEmptyStartPointerFileShowsTheEasySquare) {
  TMainForm& f = Start();  // spiral, empty start-pointer file
  f.Daons1->trigger();
  EXPECT_TRUE(dialogs.errors.empty());
  EXPECT_FALSE(state.ImageMode);
  EXPECT_EQ(f.FName->text(), QStringLiteral("This is a stabil structur of taons"));
  EXPECT_EQ(CountPresent(state), 4);
  for (int row = 1; row <= 60; ++row) EXPECT_EQ(f.DaonsTable->Cells(1, row).isEmpty(), row > 4) << row;

  // Once a repaint has put the empty start name back, Save asks for a name.
  f.FormPaint();
  EXPECT_EQ(state.CurrentName, "");
  const QString target = Folder() + QStringLiteral("/square.pln");
  dialogs.saveAnswers.push_back(target);
  f.Save1->trigger();
  EXPECT_TRUE(dialogs.errors.empty());
  EXPECT_EQ(QFileInfo(target).size(), qint64(kConfigRecordSize));
}

TEST_F(StructuresCommands, ZeroVelocityCancelledStillZeroesEveryVelocity) {
  TMainForm& f = StartWith(TenMoving());
  state.ListVelocities = true;
  const SimState before = state;
  dialogs.saveAnswers.push_back(std::nullopt);
  f.Null00->click();
  for (int s = 1; s <= kSlotCount; ++s) {
    EXPECT_EQ(state.UX[s], 0) << s;
    EXPECT_EQ(state.UY[s], 0) << s;
    EXPECT_EQ(state.UZ[s], 0) << s;
    EXPECT_EQ(state.UXNew[s], 0) << s;
    EXPECT_EQ(state.UYNew[s], 0) << s;
    EXPECT_EQ(state.UZNew[s], 0) << s;
    EXPECT_EQ(state.X[s], before.X[s]) << s;
  }
  EXPECT_EQ(f.Null00->text(), QStringLiteral("Yes Null"));
  EXPECT_EQ(f.Null00->palette().color(QPalette::ButtonText), QColor(128, 0, 0));
  for (int row = 1; row <= 10; ++row)
    for (int col = 1; col <= 3; ++col) EXPECT_EQ(f.DaonsTable->Cells(col, row), QStringLiteral("0")) << row;
  EXPECT_EQ(state.CurrentName, before.CurrentName);
  EXPECT_EQ(ReadBytes(PointerPath()), startPath.toUtf8());
}

TEST_F(StructuresCommands, ZeroVelocitySavedIsLoadedAtRestNextTime) {
  TMainForm& f = StartWith(TenMoving());
  const QString target = Folder() + QStringLiteral("/rest.pln");
  dialogs.saveAnswers.push_back(target);
  f.Null00->click();
  ASSERT_TRUE(dialogs.errors.empty());
  EXPECT_EQ(ReadBytes(PointerPath()), target.toUtf8());
  EXPECT_EQ(f.FName->text(), target);

  form.reset();
  state = SimState{};
  Start();
  EXPECT_FALSE(state.ImageMode);
  EXPECT_EQ(state.X[3], 3);
  EXPECT_EQ(state.UX[3], 0);
  EXPECT_EQ(state.UZ[10], 0);
}

TEST_F(StructuresCommands, ZeroVelocityDoesNothingInImageMode) {
  TMainForm& f = StartWith(TenMoving());
  f.Spiral1->trigger();
  f.Null00Click();  // the button itself is disabled
  EXPECT_EQ(state.UX[1], 0.25L);
  EXPECT_EQ(f.Null00->text(), QStringLiteral("0"));
  EXPECT_TRUE(dialogs.fileDialogs.empty());
}

TEST_F(StructuresCommands, ImagesCannotBeReachedDuringARun) {
  TMainForm& f = StartWith(TenMoving());
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  RunFor(3, [&](int step) {
    if (step == 2) {
      QTest::keyClick(&f, Qt::Key_F5);  // Taons' shortcut
      EXPECT_FALSE(state.ImageMode);
    }
  });
  // F5 did not reload the file in the middle of the run.
  EXPECT_NE(state.X[1], 1);
  EXPECT_TRUE(dialogs.informations.empty());
  // Idle, the same key reloads it.
  QTest::keyClick(&f, Qt::Key_F5);
  EXPECT_EQ(state.X[1], 1);
}

}  // namespace
}  // namespace qd
