#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "core/persistence/start_pointer.h"
#include "tests/ui/editor_fixture.h"
#include "ui/view/string_grid.h"

namespace qd {
namespace {

using testing_editor::EditorTest;
using testing_editor::Num;
using testing_editor::ReadAll;
using testing_editor::Txt;
using testing_editor::ValueAt;

using EditDlgLayout = EditorTest;
using EditDlgOpening = EditorTest;
using EditDlgTable = EditorTest;
using EditDlgSubmit = EditorTest;
using EditDlgSaveAs = EditorTest;
using EditDlgOk = EditorTest;

TEST_F(EditDlgLayout, CaptionSizeAndDesignedControls) {
  EXPECT_EQ(dlg->windowTitle(), QStringLiteral(" Editing of gravon's or taon's values"));
  EXPECT_EQ(dlg->size(), QSize(787, 449));
  EXPECT_EQ(dlg->minimumSize(), dlg->maximumSize());
  EXPECT_TRUE(dlg->isModal());

  EXPECT_EQ(dlg->EditDT->geometry(), QRect(16, 16, 65, 21));
  EXPECT_EQ(dlg->EditF2->geometry(), QRect(304, 112, 81, 21));
  EXPECT_EQ(dlg->EditW->geometry(), QRect(240, 336, 121, 21));
  EXPECT_EQ(dlg->DaonsTable->geometry(), QRect(386, 2, 399, 399));
  EXPECT_EQ(dlg->OKBtn->geometry(), QRect(623, 418, 75, 26));
  EXPECT_EQ(dlg->CancelBtn->geometry(), QRect(703, 418, 75, 26));
  EXPECT_EQ(dlg->EditFileName->geometry(), QRect(8, 419, 593, 24));
  EXPECT_EQ(dlg->Reset4->geometry(), QRect(72, 355, 105, 25));
  EXPECT_EQ(dlg->EditCal4Part2->geometry(), QRect(40, 327, 25, 21));

  EXPECT_EQ(dlg->DaonsTable->columnCount(), 4);
  EXPECT_EQ(dlg->DaonsTable->rowCount(), 61);
  EXPECT_EQ(dlg->DaonsTable->defaultColumnWidth(), 92);
  EXPECT_EQ(dlg->DaonsTable->defaultRowHeight(), 18);

  // Designed texts before the first opening replaces them.
  EXPECT_EQ(dlg->EditDT->text(), QStringLiteral("0,01"));
  EXPECT_EQ(dlg->EditD2->text(), QStringLiteral("3"));
  EXPECT_EQ(dlg->EditFileName->text(), QStringLiteral("EditFileName"));
  EXPECT_EQ(dlg->NumberOfTaon->text(), QStringLiteral("1"));
  EXPECT_EQ(dlg->Submit->text(), QStringLiteral("&Yes"));
  EXPECT_EQ(dlg->DaoTrue->text(), QStringLiteral("There is Gravon or Taon"));
  EXPECT_EQ(dlg->Calculate3->text(), QStringLiteral("Calculate 3"));

  // Controls are found by their names, as the rest of the program knows them.
  for (const char* name : {"EditDT", "EditA1", "EditF2", "NumberOfTaon", "EditX", "EditW", "DaoTrue",
                           "Submit", "Saveas", "EditFileName", "DaonsTable", "OKBtn", "CancelBtn",
                           "EditCal2Part1", "EditResult4", "Calculate1", "Reset2"})
    EXPECT_NE(dlg->findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;

  // Kind-1 parameters on lime, kind 2 on yellow.
  EXPECT_EQ(dlg->EditD1->palette().color(QPalette::Base), QColor(0, 255, 0));
  EXPECT_EQ(dlg->EditA2->palette().color(QPalette::Base), QColor(255, 255, 0));
  EXPECT_EQ(dlg->font().pixelSize(), 11);
}

TEST_F(EditDlgOpening, ShowsSlotOneParametersFileNameAndPositions) {
  Place(1, 1.5L, -2, 0.25L);
  st.X[2] = 7;  // an empty slot keeps old values, but the table hides them
  st.A2 = 0.001L;
  Open();

  EXPECT_EQ(dlg->NumberOfTaon->text(), QStringLiteral("1"));
  EXPECT_EQ(dlg->EditX->text(), Num("1.5"));
  EXPECT_EQ(dlg->EditY->text(), QStringLiteral("-2"));
  EXPECT_EQ(dlg->EditZ->text(), Num("0.25"));
  EXPECT_TRUE(dlg->DaoTrue->isChecked());
  EXPECT_EQ(dlg->EditDT->text(), Num("0.01"));
  EXPECT_EQ(dlg->EditA2->text(), Num("0.001"));
  EXPECT_EQ(dlg->EditF1->text(), QStringLiteral("4"));
  EXPECT_EQ(dlg->EditFileName->text(), QString::fromStdString(st.CurrentName));

  StringGrid* t = dlg->DaonsTable;
  EXPECT_EQ(t->Cells(0, 0), QStringLiteral("Gravons"));
  EXPECT_EQ(t->Cells(1, 0), QStringLiteral("X"));
  EXPECT_EQ(t->Cells(3, 0), QStringLiteral("Z"));
  EXPECT_EQ(t->Cells(0, 1), QStringLiteral("1"));
  EXPECT_EQ(t->Cells(0, 60), QStringLiteral("60"));
  EXPECT_EQ(t->Cells(1, 1), Num("1.5"));
  EXPECT_EQ(t->Cells(2, 1), QStringLiteral("-2"));
  for (int c = 1; c <= 3; ++c) EXPECT_EQ(t->Cells(c, 2), QString()) << c;
}

TEST_F(EditDlgOpening, CornerFollowsSignMode) {
  sign = SignMode::Taoscope;
  Open();
  EXPECT_EQ(dlg->DaonsTable->Cells(0, 0), QStringLiteral("Taons"));
  sign = SignMode::Gravoscope;
  Reopen();
  EXPECT_EQ(dlg->DaonsTable->Cells(0, 0), QStringLiteral("Gravons"));
}

TEST_F(EditDlgOpening, TypedTextSurvivesRepaintButNotReopening) {
  Place(1, 1, 2, 3);
  Open();
  dlg->EditX->setText(QStringLiteral("42"));
  dlg->EditB2->setText(QStringLiteral("17"));
  dlg->repaint();
  dlg->update();
  QCoreApplication::processEvents();
  EXPECT_EQ(dlg->EditX->text(), QStringLiteral("42"));
  EXPECT_EQ(dlg->EditB2->text(), QStringLiteral("17"));

  Reopen();
  EXPECT_EQ(dlg->EditX->text(), QStringLiteral("1"));
  EXPECT_EQ(dlg->EditB2->text(), QStringLiteral("1"));
}

TEST_F(EditDlgTable, DoubleClickShowsVelocitiesAndTheModeIsKept) {
  Place(4, 1, 2, 3, 0.5L, -6, 7);
  Open();
  emit dlg->DaonsTable->doubleClicked();
  EXPECT_TRUE(st.EditorVelocityMode);
  StringGrid* t = dlg->DaonsTable;
  EXPECT_EQ(t->Cells(0, 0), QStringLiteral("Velo"));
  EXPECT_EQ(t->Cells(1, 0), QStringLiteral("u(x)"));
  EXPECT_EQ(t->Cells(2, 0), QStringLiteral("u(y)"));
  EXPECT_EQ(t->Cells(3, 0), QStringLiteral("u(z)"));
  EXPECT_EQ(t->Cells(1, 4), Num("0.5"));
  EXPECT_EQ(t->Cells(2, 4), QStringLiteral("-6"));
  EXPECT_EQ(t->Cells(1, 5), QString());

  Reopen();
  EXPECT_EQ(t->Cells(0, 0), QStringLiteral("Velo"));
  EXPECT_EQ(t->Cells(3, 4), QStringLiteral("7"));

  dlg->DaonsTableDblClick();
  EXPECT_FALSE(st.EditorVelocityMode);
  EXPECT_EQ(t->Cells(0, 0), QStringLiteral("Gravons"));
  EXPECT_EQ(t->Cells(1, 4), QStringLiteral("1"));
}

TEST_F(EditDlgTable, SelectedRowFillsTheSlotFields) {
  // Slot 60 is the last row: an off-by-one in the row check would skip it.
  struct Case {
    int row, emptyNeighbour;
  };
  for (const Case c : {Case{7, 8}, Case{60, 59}}) {
    SCOPED_TRACE(c.row);
    Place(c.row, 7.25L, 8, 9, 1, 2, 3);
    Reopen();
    dlg->DaonsTable->setCurrentRow(c.row);
    EXPECT_EQ(dlg->NumberOfTaon->text(), QString::number(c.row));
    EXPECT_EQ(dlg->EditX->text(), Num("7.25"));
    EXPECT_EQ(dlg->EditW->text(), QStringLiteral("3"));
    EXPECT_TRUE(dlg->DaoTrue->isChecked());

    dlg->DaonsTable->setCurrentRow(c.emptyNeighbour);
    EXPECT_EQ(dlg->NumberOfTaon->text(), QString::number(c.emptyNeighbour));
    EXPECT_EQ(dlg->EditX->text(), QStringLiteral("0"));
    EXPECT_FALSE(dlg->DaoTrue->isChecked());

    // The row is kept across openings.
    Reopen();
    EXPECT_EQ(dlg->NumberOfTaon->text(), QString::number(c.emptyNeighbour));
  }
}

TEST_F(EditDlgTable, RowSevenByArrowKeys) {
  Place(7, 7.25L, 8, 9);
  Open();
  dlg->DaonsTable->setFocus();
  for (int k = 0; k < 6; ++k) QTest::keyClick(dlg->DaonsTable, Qt::Key_Down);
  EXPECT_EQ(dlg->DaonsTable->currentRow(), 7);
  EXPECT_EQ(dlg->NumberOfTaon->text(), QStringLiteral("7"));
  EXPECT_EQ(dlg->EditX->text(), Num("7.25"));
}

TEST_F(EditDlgTable, RowSevenByMouseClick) {
  Place(7, 7.25L, 8, 9);
  Open();
  StringGrid* t = dlg->DaonsTable;
  QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, t->cellRect(2, 7).center());
  EXPECT_EQ(t->currentRow(), 7);
  EXPECT_EQ(dlg->NumberOfTaon->text(), QStringLiteral("7"));
  EXPECT_EQ(dlg->EditX->text(), Num("7.25"));
  EXPECT_EQ(dlg->EditZ->text(), QStringLiteral("9"));
}

TEST_F(EditDlgTable, ClickInTheSameRowKeepsTypedText) {
  Place(1, 1, 2, 3);
  Open();
  StringGrid* t = dlg->DaonsTable;
  dlg->EditX->setText(QStringLiteral("55"));
  QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, t->cellRect(3, 1).center());
  EXPECT_EQ(t->currentRow(), 1);
  EXPECT_EQ(dlg->EditX->text(), QStringLiteral("55"));
}

TEST_F(EditDlgTable, MouseDoubleClickTogglesVelocities) {
  Open();
  StringGrid* t = dlg->DaonsTable;
  QTest::mouseDClick(t->viewport(), Qt::LeftButton, {}, t->cellRect(1, 2).center());
  EXPECT_TRUE(st.EditorVelocityMode);
  EXPECT_EQ(t->Cells(0, 0), QStringLiteral("Velo"));
}

TEST_F(EditDlgSubmit, StoresCommittedValuesOnly) {
  // The first slots and the last one, whose row an off-by-one would refuse.
  for (const int slot : {3, 60}) {
    SCOPED_TRACE(slot);
    Place(slot, 1, 1, 1);
    InstallAll(st);
    Reopen();
    dlg->DaonsTable->setCurrentRow(slot);
    ASSERT_EQ(dlg->NumberOfTaon->text(), QString::number(slot));
    dlg->EditX->setText(Num("2.5"));
    dlg->EditY->setText(QStringLiteral("-3"));
    dlg->EditZ->setText(Num("1e3"));
    dlg->EditV->setText(QStringLiteral("4"));
    dlg->EditU->setText(QStringLiteral("5"));
    dlg->EditW->setText(QStringLiteral("6"));
    dlg->SubmitClick();

    EXPECT_TRUE(dialogs.errors.empty());
    EXPECT_EQ(st.X[slot], 2.5L);
    EXPECT_EQ(st.Y[slot], -3.0L);
    EXPECT_EQ(st.Z[slot], 1000.0L);
    EXPECT_EQ(st.UX[slot], 4.0L);
    EXPECT_EQ(st.UZ[slot], 6.0L);
    EXPECT_EQ(st.Present[slot], 1);
    // The run's working copies and the picture's display copies wait for OK.
    EXPECT_EQ(st.XNew[slot], 1.0L);
    EXPECT_EQ(st.ViewX[slot], 1.0L);
    EXPECT_EQ(st.UXNew[slot], 0.0L);
    EXPECT_EQ(dlg->DaonsTable->Cells(1, slot), Num("2.5"));
    EXPECT_EQ(dlg->DaonsTable->Cells(3, slot), QStringLiteral("1000"));
    // The fields show the values as stored.
    EXPECT_EQ(dlg->EditZ->text(), QStringLiteral("1000"));
  }
}

TEST_F(EditDlgSubmit, StopsAtTheFirstBadFieldWithItsText) {
  Open();
  dlg->DaonsTable->setCurrentRow(5);
  dlg->EditX->setText(QStringLiteral("1"));
  dlg->EditY->setText(QStringLiteral("2"));
  dlg->EditZ->setText(QStringLiteral("1,2,3"));
  dlg->EditV->setText(QStringLiteral("4"));
  dlg->EditW->setText(QStringLiteral("zz"));
  dlg->DaoTrue->setChecked(true);
  dlg->SubmitClick();

  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_EQ(dialogs.errors[0], QStringLiteral("'1,2,3' is not a valid floating point value"));
  EXPECT_EQ(st.X[5], 1.0L);
  EXPECT_EQ(st.Y[5], 2.0L);
  EXPECT_EQ(st.Z[5], 0.0L);
  EXPECT_EQ(st.UX[5], 0.0L);
  EXPECT_EQ(st.Present[5], 0);
  EXPECT_EQ(dlg->DaonsTable->Cells(1, 5), QString());
  // The user's text stays for correcting.
  EXPECT_EQ(dlg->EditZ->text(), QStringLiteral("1,2,3"));
}

TEST_F(EditDlgSubmit, ClearingPresenceEmptiesTheRowButKeepsTheValues) {
  Place(2, 3, 4, 5, 6, 7, 8);
  Open();
  dlg->DaonsTable->setCurrentRow(2);
  ASSERT_TRUE(dlg->DaoTrue->isChecked());
  dlg->DaoTrue->setChecked(false);
  QTest::mouseClick(dlg->Submit, Qt::LeftButton);

  EXPECT_EQ(st.Present[2], 0);
  EXPECT_EQ(st.X[2], 3.0L);
  EXPECT_EQ(st.UZ[2], 8.0L);
  for (int c = 1; c <= 3; ++c) EXPECT_EQ(dlg->DaonsTable->Cells(c, 2), QString()) << c;
  EXPECT_EQ(dlg->DaonsTable->Cells(0, 2), QStringLiteral("2"));
}

TEST_F(EditDlgSubmit, CancelKeepsSubmittedValuesButNotTheDisplayCopies) {
  Place(1, 1, 1, 1);
  InstallAll(st);
  QTimer::singleShot(0, dlg.get(), [this] {
    dlg->EditX->setText(QStringLiteral("9"));
    dlg->SubmitClick();
    QTest::mouseClick(dlg->CancelBtn, Qt::LeftButton);
  });
  EXPECT_EQ(dlg->Execute(), int(QDialog::Rejected));
  EXPECT_EQ(st.X[1], 9.0L);
  EXPECT_EQ(st.ViewX[1], 1.0L);
  EXPECT_EQ(st.XNew[1], 1.0L);
}

TEST_F(EditDlgSaveAs, WritesTheDialogsParametersAndLeavesTheNamesAlone) {
  Place(1, 0.5L, 0, 0);
  Open();
  const QString path = Path("saved.pln");
  dialogs.saveAnswers = {path};
  dlg->EditA1->setText(Num("2.5"));
  dlg->EditF2->setText(QStringLiteral("-8"));
  const std::string before = st.CurrentName;
  const QString pointer = QString::fromStdString(StartPointerPath());
  const bool pointerExisted = QFile::exists(pointer);
  const QByteArray pointerBefore = ReadAll(pointer);
  dlg->SaveasClick();

  ASSERT_TRUE(dialogs.errors.empty()) << dialogs.errors[0].toStdString();
  ASSERT_EQ(dialogs.fileDialogs.size(), 1u);
  EXPECT_EQ(dialogs.fileDialogs[0].defaultSuffix, QStringLiteral("pln"));
  const QByteArray bytes = ReadAll(path);
  ASSERT_EQ(bytes.size(), 3776);
  EXPECT_EQ(ValueAt(bytes, 10), 2.5L);
  EXPECT_EQ(ValueAt(bytes, 100), -8.0L);
  EXPECT_EQ(ValueAt(bytes, 112), 0.5L);
  EXPECT_EQ(st.A1, 2.5L);
  EXPECT_EQ(st.CurrentName, before);
  EXPECT_EQ(st.StartFileName, before);
  EXPECT_EQ(QFile::exists(pointer), pointerExisted);
  EXPECT_EQ(ReadAll(pointer), pointerBefore);
  // The chosen path stays shown until the dialog is opened again.
  dlg->repaint();
  QCoreApplication::processEvents();
  EXPECT_EQ(dlg->EditFileName->text(), path);
  Reopen();
  EXPECT_EQ(dlg->EditFileName->text(), QString::fromStdString(before));
}

TEST_F(EditDlgSaveAs, CancelledOrBadFieldWritesNothing) {
  Open();
  dialogs.saveAnswers = {std::nullopt};
  dlg->SaveasClick();
  EXPECT_EQ(dlg->EditFileName->text(), QString::fromStdString(st.CurrentName));

  const QString path = Path("bad.pln");
  dialogs.saveAnswers = {path};
  dlg->EditDT->setText(QStringLiteral("0"));
  dlg->EditA1->setText(QStringLiteral("3"));
  dlg->EditB1->setText(QStringLiteral("x"));
  dlg->SaveasClick();
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_EQ(dialogs.errors[0], QStringLiteral("'x' is not a valid floating point value"));
  EXPECT_FALSE(QFile::exists(path));
  EXPECT_EQ(st.A1, 3.0L);  // stored before the bad field
  EXPECT_EQ(st.B1, 1.0L);
}

TEST_F(EditDlgOk, SavesRemembersAndInstallsThePresentSlots) {
  Place(1, 1, 2, 3, 4, 5, 6);
  st.X[2] = 11;  // empty slot: its working copies stay as they are
  st.XNew[2] = 22;
  Open();
  const QString path = Path("made.pln");
  dialogs.saveAnswers = {path};
  dlg->EditDT->setText(Num("0.5"));
  dlg->OKBtnClick();

  ASSERT_TRUE(dialogs.errors.empty()) << dialogs.errors[0].toStdString();
  EXPECT_EQ(dlg->result(), int(QDialog::Accepted));
  EXPECT_FALSE(dlg->isVisible());
  const QByteArray bytes = ReadAll(path);
  ASSERT_EQ(bytes.size(), 3776);
  EXPECT_EQ(ValueAt(bytes, 0), 0.5L);
  EXPECT_EQ(st.Dt, 0.5L);
  EXPECT_EQ(QString::fromStdString(st.CurrentName), path);
  EXPECT_EQ(QString::fromStdString(st.StartFileName), path);
  EXPECT_EQ(ReadAll(QString::fromStdString(StartPointerPath())), path.toLocal8Bit());
  EXPECT_EQ(st.XNew[1], 1.0L);
  EXPECT_EQ(st.ViewZ[1], 3.0L);
  EXPECT_EQ(st.UZNew[1], 6.0L);
  EXPECT_EQ(st.XNew[2], 22.0L);
  EXPECT_EQ(st.ViewX[2], 0.0L);
}

TEST_F(EditDlgOk, CancelledFileDialogStillInstallsAndAccepts) {
  Place(1, 1, 2, 3, 4, 5, 6);
  const std::string before = st.CurrentName;
  QTimer::singleShot(0, dlg.get(), [this] {
    dialogs.saveAnswers = {std::nullopt};
    QTest::mouseClick(dlg->OKBtn, Qt::LeftButton);
  });
  EXPECT_EQ(dlg->Execute(), int(QDialog::Accepted));
  EXPECT_TRUE(dialogs.errors.empty());
  EXPECT_EQ(st.CurrentName, before);
  EXPECT_EQ(st.XNew[1], 1.0L);
  EXPECT_EQ(st.ViewY[1], 2.0L);
  EXPECT_EQ(st.UYNew[1], 5.0L);
}

TEST_F(EditDlgOk, BadParameterFieldWritesNothingButStillInstalls) {
  Place(1, 1, 2, 3);
  Open();
  const QString path = Path("never.pln");
  dialogs.saveAnswers = {path};
  dlg->EditC2->setText(QStringLiteral("abc"));
  dlg->OKBtnClick();
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_EQ(dialogs.errors[0], QStringLiteral("'abc' is not a valid floating point value"));
  EXPECT_FALSE(QFile::exists(path));
  EXPECT_NE(QString::fromStdString(st.CurrentName), path);
  EXPECT_EQ(st.XNew[1], 1.0L);
  EXPECT_EQ(dlg->result(), int(QDialog::Accepted));
}

TEST_F(EditDlgOk, UnwritableFileReportsAndStillInstalls) {
  Place(1, 1, 2, 3);
  Open();
  const QString path = Path("no/such/folder/x.pln");
  dialogs.saveAnswers = {path};
  dlg->OKBtnClick();
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_NE(QString::fromStdString(st.CurrentName), path);
  EXPECT_EQ(st.ViewX[1], 1.0L);
  EXPECT_EQ(dlg->result(), int(QDialog::Accepted));
}

TEST_F(EditDlgOk, EscapeAndCancelCloseWithCancel) {
  Place(1, 1, 2, 3);
  QTimer::singleShot(0, dlg.get(), [this] { QTest::keyClick(dlg.get(), Qt::Key_Escape); });
  EXPECT_EQ(dlg->Execute(), int(QDialog::Rejected));
  EXPECT_EQ(st.XNew[1], 0.0L);
}

}  // namespace
}  // namespace qd
