// Start-up: every outcome of the start-pointer file and the configuration it
// names, the failures, and the window's own first paint.
#include <sys/stat.h>

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <cmath>

#include "core/structures/structures.h"
#include "tests/ui/mainform_fixture.h"
#include "ui/view/picture_canvas.h"
#include "ui/view/string_grid.h"

namespace qd {
namespace {

using MainFormStartup = MainFormTest;

// What every start-up sets, whatever it found.
void ExpectCommonDefaults(const SimState& s) {
  EXPECT_EQ(s.CenterX, 302);
  EXPECT_EQ(s.CenterY, 88);
  EXPECT_EQ(s.Scale, 120);
  EXPECT_EQ(s.TaonCount, 60);
  EXPECT_EQ(s.ImageKind, 1);
  EXPECT_EQ(s.ShiftStep, 5);
  EXPECT_EQ(s.ZoomStep, 3);
  EXPECT_EQ(s.AngleStep, 0.01L);
  EXPECT_TRUE(s.Stopped);
  EXPECT_EQ(s.Dt, 0.001L);
  EXPECT_EQ(s.RotationMatrix[0], 1);
  EXPECT_EQ(s.RotationMatrix[4], 1);
  EXPECT_EQ(s.RotationMatrix[8], 1);
}

void ExpectSpiral(TMainForm& f, const SimState& s) {
  EXPECT_TRUE(s.ImageMode);
  EXPECT_EQ(s.CurrentName, "ThetraSpiral");
  EXPECT_FALSE(f.Go->isEnabled());
  EXPECT_EQ(f.FName->text(), QStringLiteral("File Name"));
  EXPECT_EQ(f.EditDT->text(), QStringLiteral("0"));
  EXPECT_EQ(f.EditA1->text(), QStringLiteral("0"));
  EXPECT_EQ(f.EditF1->text(), QStringLiteral("0"));
  EXPECT_EQ(f.EditF2->text(), QStringLiteral("0"));
  // The figure's second point is one edge away from the first.
  const Extended dx = s.ViewX[2] - s.ViewX[1], dy = s.ViewY[2] - s.ViewY[1], dz = s.ViewZ[2] - s.ViewZ[1];
  EXPECT_NEAR(double(std::sqrt(dx * dx + dy * dy + dz * dz)), 1.0, 1e-9);
}

SimState OneSlotConfig() {
  SimState c;
  c.TaonCount = kSlotCount;
  c.Present[1] = 1;
  c.X[1] = 1;
  c.Y[1] = 5;
  c.Z[1] = -1;
  c.UX[1] = 0.25L;
  c.Dt = 0.005L;
  c.A1 = 1.5L;
  c.F2 = 7;
  return c;
}

TEST_F(MainFormStartup, WithoutStartPointerFileCreatesItAndShowsTheSpiral) {
  TMainForm& f = Start();
  EXPECT_TRUE(dialogs.errors.empty());
  EXPECT_EQ(ReadBytes(PointerPath()), QByteArray());
  ExpectCommonDefaults(state);
  ExpectSpiral(f, state);
  EXPECT_EQ(f.Comment->toPlainText(), QStringLiteral("No Comment"));

  // A second start finds the empty file and does the same.
  form.reset();
  state = SimState{};
  TMainForm& again = Start();
  EXPECT_TRUE(dialogs.errors.empty());
  ExpectCommonDefaults(state);
  ExpectSpiral(again, state);
  EXPECT_EQ(ReadBytes(PointerPath()), QByteArray());
}

TEST_F(MainFormStartup, EmptyStartPointerFileShowsTheSpiral) {
  WritePointer(QByteArray());
  TMainForm& f = Start();
  EXPECT_TRUE(dialogs.errors.empty());
  ExpectCommonDefaults(state);
  ExpectSpiral(f, state);
  EXPECT_EQ(state.StartFileName, "");
}

TEST_F(MainFormStartup, MissingConfigurationFallsBackToTheEasySquare) {
  const QString missing = Folder() + QStringLiteral("/gone.pln");
  WritePointer(missing.toUtf8());
  TMainForm& f = Start();
  EXPECT_TRUE(dialogs.errors.empty());
  ExpectCommonDefaults(state);
  EXPECT_FALSE(state.ImageMode);
  EXPECT_TRUE(f.Go->isEnabled());
  EXPECT_EQ(f.FName->text(), QStringLiteral("The easy square"));
  EXPECT_EQ(state.CurrentName, missing.toStdString());
  EXPECT_EQ(CountPresent(state), 4);
  for (int s = 1; s <= 4; ++s) {
    EXPECT_NEAR(double(std::fabs(state.X[s])), 0.212, 0.001) << s;
    EXPECT_NEAR(double(state.Y[s]), 0.212, 0.001) << s;
    EXPECT_NEAR(double(std::fabs(state.Z[s])), 0.212, 0.001) << s;
  }
  const char* shown[] = {"1", "2.718", "5", "10", "20"};
  QLineEdit* kind1[] = {f.EditA1, f.EditB1, f.EditC1, f.EditD1, f.EditF1};
  QLineEdit* kind2[] = {f.EditA2, f.EditB2, f.EditC2, f.EditD2, f.EditF2};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(kind1[i]->text(), QString::fromLatin1(shown[i]));
    EXPECT_EQ(kind2[i]->text(), QString::fromLatin1(shown[i]));
  }
  EXPECT_EQ(f.EditDT->text(), QStringLiteral("0"));
  // Where "C1" is designed, the field on top shows F1.
  EXPECT_EQ(f.Panel1->childAt(136, 48), f.EditF1);
  // The listing shows the four particles and nothing else.
  for (int row = 1; row <= 60; ++row) {
    EXPECT_EQ(f.DaonsTable->Cells(0, row), QString::number(row));
    EXPECT_EQ(f.DaonsTable->Cells(1, row).isEmpty(), row > 4) << row;
  }
  EXPECT_EQ(ReadBytes(PointerPath()), missing.toUtf8());
}

TEST_F(MainFormStartup, ValidConfigurationIsInstalledWithItsCommentary) {
  const QString path = WriteConfig(OneSlotConfig(), QStringLiteral("run1.pln"));
  WriteBytes(Folder() + QStringLiteral("/run1.txt"), QByteArray("first line\r\nsecond line"));
  WritePointer(path.toUtf8());
  TMainForm& f = Start();
  EXPECT_TRUE(dialogs.errors.empty());
  ExpectCommonDefaults(state);
  EXPECT_FALSE(state.ImageMode);
  EXPECT_TRUE(f.Go->isEnabled());
  EXPECT_EQ(f.FName->text(), path);
  EXPECT_EQ(state.StartFileName, path.toStdString());
  // Loading the commentary leaves the configuration's name whole.
  EXPECT_EQ(state.CurrentName, path.toStdString());
  EXPECT_EQ(f.Comment->toPlainText(), QStringLiteral("first line\nsecond line"));
  EXPECT_EQ(CountPresent(state), 1);
  EXPECT_EQ(state.X[1], 1);
  EXPECT_EQ(state.ViewY[1], 5);
  EXPECT_EQ(state.UXNew[1], 0.25L);
  EXPECT_EQ(state.A1, 1.5L);
  // The field shows the file's step, the integrator starts with 0.001.
  EXPECT_EQ(f.EditDT->text(), QStringLiteral("0.005"));
  EXPECT_EQ(state.Dt, 0.001L);
  EXPECT_EQ(f.EditA1->text(), QStringLiteral("1.5"));
  EXPECT_EQ(f.EditF2->text(), QStringLiteral("7"));

  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  Settle();
  EXPECT_GE(f.FormPaintCount(), 1);
  EXPECT_EQ(state.CurrentName, path.toStdString());
  // Slot 1 at (1, 5, -1) lands its lime dot at (362, 28).
  const QImage& img = f.Canvas->image();
  EXPECT_EQ(img.pixelColor(362, 28), QColor(0, 255, 0));
  EXPECT_EQ(img.pixelColor(363, 29), QColor(0, 255, 0));
  EXPECT_EQ(img.pixelColor(300, 100), QColor(0, 0, 0));
}

TEST_F(MainFormStartup, ConfigurationWithoutCommentaryKeepsNoComment) {
  const QString path = WriteConfig(OneSlotConfig(), QStringLiteral("bare.pln"));
  WritePointer(path.toUtf8());
  TMainForm& f = Start();
  EXPECT_TRUE(dialogs.errors.empty());
  EXPECT_FALSE(state.ImageMode);
  EXPECT_EQ(f.Comment->toPlainText(), QStringLiteral("No Comment"));
  EXPECT_FALSE(state.CommentModified);
}

TEST_F(MainFormStartup, ReadOnlyConfigurationIsInstalled) {
  // Loading needs read access only, at start-up as on Open; only under a
  // normal user does the mode bit bite, the superuser reads it anyway.
  const QString path = WriteConfig(OneSlotConfig(), QStringLiteral("locked.pln"));
  ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
  WritePointer(path.toUtf8());
  TMainForm& f = Start();
  EXPECT_TRUE(dialogs.errors.empty());
  EXPECT_FALSE(state.ImageMode);
  EXPECT_EQ(f.FName->text(), path);
  EXPECT_EQ(CountPresent(state), 1);
}

TEST_F(MainFormStartup, OnlyTheFirstLineOfTheStartPointerFileCounts) {
  const QString path = WriteConfig(OneSlotConfig(), QStringLiteral("first.pln"));
  WritePointer(path.toUtf8() + "\r\n" + (Folder() + QStringLiteral("/second.pln")).toUtf8() + "\nthird");
  TMainForm& f = Start();
  EXPECT_TRUE(dialogs.errors.empty());
  EXPECT_EQ(state.StartFileName, path.toStdString());
  EXPECT_EQ(f.FName->text(), path);
  EXPECT_EQ(CountPresent(state), 1);
}

TEST_F(MainFormStartup, UnopenableConfigurationFallsBackToTheEasySquare) {
  // Neither a folder nor a pipe reads as a configuration; the pipe must not hang start-up.
  const QString folder = Folder() + QStringLiteral("/notafile.pln");
  const QString fifo = Folder() + QStringLiteral("/pipe.pln");
  ASSERT_TRUE(QDir().mkpath(folder));
  ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
  for (const QString& path : {folder, fifo}) {
    SCOPED_TRACE(path.toStdString());
    form.reset();
    state = SimState{};
    WritePointer(path.toUtf8());
    TMainForm& f = Start();
    EXPECT_TRUE(dialogs.errors.empty());
    EXPECT_FALSE(state.ImageMode);
    EXPECT_EQ(f.FName->text(), QStringLiteral("The easy square"));
    EXPECT_EQ(CountPresent(state), 4);
  }
}

TEST_F(MainFormStartup, ShortConfigurationIsReportedAndStartUpCompletes) {
  const QString path = Folder() + QStringLiteral("/short.pln");
  WriteBytes(path, QByteArray(100, '\x01'));
  WritePointer(path.toUtf8());
  TMainForm& f = Start();
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_EQ(dialogs.errors.front(), QStringLiteral("Read beyond end of file"));
  // Started as with an empty start-pointer file, which itself is unchanged.
  ExpectCommonDefaults(state);
  ExpectSpiral(f, state);
  EXPECT_EQ(CountPresent(state), 0);
  EXPECT_EQ(ReadBytes(PointerPath()), path.toUtf8());
  EXPECT_EQ(f.DaonsTable->Cells(0, 60), QStringLiteral("60"));
  // The program is fully usable: zoom steps work.
  f.DaoForvardClick();
  EXPECT_EQ(state.Scale, 129);
}

TEST_F(MainFormStartup, UncreatableStartPointerFileIsReportedAndStartUpCompletes) {
  // The configuration folder's parent is a plain file: nothing can be made there.
  const QString blocker = Folder() + QStringLiteral("/blocker");
  WriteBytes(blocker, QByteArray("x"));
  qputenv("XDG_CONFIG_HOME", blocker.toLocal8Bit());
  TMainForm& f = Start();
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_FALSE(dialogs.errors.front().isEmpty());
  ExpectCommonDefaults(state);
  ExpectSpiral(f, state);
  EXPECT_EQ(ReadBytes(blocker), QByteArray("x"));
}

TEST_F(MainFormStartup, FirstPaintRunsTheWindowsPaintStepsAndBlitsDoNot) {
  const QString path = WriteConfig(OneSlotConfig(), QStringLiteral("paint.pln"));
  WritePointer(path.toUtf8());
  TMainForm& f = StartShown();
  const int painted = f.FormPaintCount();
  EXPECT_GE(painted, 1);
  // Our own drawing does not count as a repaint of the window.
  state.CurrentName = "changed";
  f.DaoStopClick();
  f.Redraw();
  Settle();
  EXPECT_EQ(f.FormPaintCount(), painted);
  EXPECT_EQ(state.CurrentName, "changed");
  // Hiding and showing the window again repaints it.
  f.hide();
  Settle();
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
  Settle();
  EXPECT_GT(f.FormPaintCount(), painted);
  EXPECT_EQ(state.CurrentName, path.toStdString());
}

}  // namespace
}  // namespace qd
