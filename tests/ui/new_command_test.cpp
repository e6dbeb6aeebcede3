// The main window's New command around the editor dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>

#include "tests/ui/editor_fixture.h"
#include "ui/mainform/form_widgets.h"
#include "ui/mainform/mainform.h"
#include "ui/view/string_grid.h"

namespace qd {
namespace {

using testing_editor::Num;
using testing_editor::ReadAll;

class NewCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    form = std::make_unique<TMainForm>(st);
    dlg = std::make_unique<TEditDlg>(
        st, [this] { return form->CurrentSignMode(); }, form.get());
    form->SetWindows({.editor = dlg.get()});
  }
  void TearDown() override {
    dlg.reset();
    form.reset();
  }

  // Runs New with `inDialog` acting on the open dialog.
  void RunNew(std::function<void()> inDialog) {
    QTimer::singleShot(0, dlg.get(), [this, inDialog] {
      ranInDialog = dlg->isVisible();
      inDialog();
    });
    form->New1Click();
  }
  void SetSlotOne(const QString& x) {
    dlg->DaonsTable->setCurrentRow(1);
    dlg->EditX->setText(x);
    dlg->DaoTrue->setChecked(true);
    dlg->SubmitClick();
  }

  QTemporaryDir dir;
  SimState st;
  ScopedScriptedDialogs dialogs;
  std::unique_ptr<TMainForm> form;
  std::unique_ptr<TEditDlg> dlg;
  bool ranInDialog = false;
};

TEST_F(NewCommand, OkSwitchesToSimulationWithTheSavedFile) {
  // Start-up without a start-pointer file shows a built-in figure.
  st.ImageMode = true;
  form->Go->setEnabled(false);
  st.StepCount = 12;
  const QString path = dir.filePath(QStringLiteral("new.pln"));
  RunNew([&] {
    SetSlotOne(QStringLiteral("4"));
    dlg->EditDT->setText(Num("0.25"));
    dialogs.saveAnswers = {path};
    QTest::mouseClick(dlg->OKBtn, Qt::LeftButton);
  });
  ASSERT_TRUE(ranInDialog);
  ASSERT_TRUE(dialogs.errors.empty()) << dialogs.errors[0].toStdString();
  EXPECT_FALSE(st.ImageMode);
  EXPECT_TRUE(form->Go->isEnabled());
  EXPECT_TRUE(form->Null00->isEnabled());
  EXPECT_EQ(form->FName->text(), path);
  EXPECT_EQ(st.StepCount, 0);
  EXPECT_EQ(form->LTime->text(), QStringLiteral("0"));
  EXPECT_EQ(form->EditDT->text(), Num("0.25"));
  EXPECT_EQ(form->DaonsTable->Cells(1, 1), QStringLiteral("4"));
  EXPECT_EQ(st.ViewX[1], 4.0L);
  EXPECT_EQ(ReadAll(path).size(), 3776);
}

TEST_F(NewCommand, EveryFieldTheProgramFillsShowsTheStartOfItsText) {
  // A long path and a long distance: their tails would fill the fields.
  const QString path = dir.filePath(QStringLiteral("a-rather-long-folder-name/") +
                                    QString(60, QLatin1Char('n')) + QStringLiteral(".pln"));
  ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path()));
  st.Present[1] = st.Present[2] = 1;
  st.X[1] = st.Y[1] = st.Z[1] = st.Z[2] = 0;
  st.X[2] = 0.1L;
  st.Y[2] = 0.25L;
  QList<QLineEdit*> typed;
  RunNew([&] {
    typed = {dlg->EditCal1Part1, dlg->EditCal1Part2};
    dlg->EditCal1Part1->setText(QStringLiteral("1"));
    dlg->EditCal1Part2->setText(QStringLiteral("2"));
    dlg->Calculate1Click();
    EXPECT_EQ(dlg->EditResult1->text(), Num("0.269258240356725"));
    dialogs.saveAnswers = {path};
    dlg->OKBtnClick();
  });
  ASSERT_TRUE(ranInDialog);
  ASSERT_TRUE(dialogs.errors.empty());
  EXPECT_EQ(form->FName->text(), path);
  for (QWidget* window : {static_cast<QWidget*>(form.get()), static_cast<QWidget*>(dlg.get())})
    for (QLineEdit* e : window->findChildren<QLineEdit*>()) {
      if (!typed.contains(e)) {
        EXPECT_EQ(e->cursorPosition(), 0) << e->objectName().toStdString();
      }
    }
}

TEST_F(NewCommand, OkWithCancelledFileDialogStillSwitches) {
  st.ImageMode = true;
  st.StepCount = 3;
  st.Dt = 0.5L;
  const std::string name = st.CurrentName;
  RunNew([&] {
    SetSlotOne(QStringLiteral("6"));
    dlg->EditDT->setText(QStringLiteral("9"));  // not stored: nothing is saved
    dialogs.saveAnswers = {std::nullopt};
    dlg->OKBtnClick();
  });
  ASSERT_TRUE(ranInDialog);
  EXPECT_FALSE(st.ImageMode);
  EXPECT_EQ(st.StepCount, 0);
  EXPECT_EQ(form->LTime->text(), QStringLiteral("0"));
  EXPECT_EQ(st.CurrentName, name);
  EXPECT_EQ(st.Dt, 0.5L);
  EXPECT_EQ(form->EditDT->text(), Num("0.5"));
  EXPECT_EQ(st.XNew[1], 6.0L);
  EXPECT_EQ(st.ViewX[1], 6.0L);
}

TEST_F(NewCommand, CancelChangesNothingOnTheWindow) {
  st.ImageMode = false;
  st.Present[1] = 1;
  st.X[1] = st.XNew[1] = st.ViewX[1] = 1;
  st.StepCount = 7;
  form->LTime->setText(QStringLiteral("7"));
  form->FName->setText(QStringLiteral("kept"));
  RunNew([&] {
    SetSlotOne(QStringLiteral("9"));
    QTest::mouseClick(dlg->CancelBtn, Qt::LeftButton);
  });
  ASSERT_TRUE(ranInDialog);
  EXPECT_EQ(st.StepCount, 7);
  EXPECT_EQ(form->LTime->text(), QStringLiteral("7"));
  EXPECT_EQ(form->FName->text(), QStringLiteral("kept"));
  // The submitted value is committed: the listing shows it once the window
  // refreshes it, while the picture still draws the old position.
  EXPECT_EQ(st.X[1], 9.0L);
  EXPECT_EQ(st.ViewX[1], 1.0L);
  EXPECT_EQ(st.XNew[1], 1.0L);
  form->FillListing();
  EXPECT_EQ(form->DaonsTable->Cells(1, 1), QStringLiteral("9"));
}

TEST_F(NewCommand, EditorTableCornerFollowsTheWindowsSignMode) {
  form->Taoscope->setChecked(true);
  RunNew([&] {
    EXPECT_EQ(dlg->DaonsTable->Cells(0, 0), QStringLiteral("Taons"));
    dlg->reject();
  });
  form->Gravoscope->setChecked(true);
  RunNew([&] {
    EXPECT_EQ(dlg->DaonsTable->Cells(0, 0), QStringLiteral("Gravons"));
    dlg->reject();
  });
}

TEST_F(NewCommand, AWindowWithoutAHandedOverEditorOpensOneOfItsOwn) {
  SimState own;
  TMainForm bare(own);
  TEditDlg* shown[2] = {};
  for (TEditDlg*& seen : shown) {
    QTimer::singleShot(0, &bare, [&seen] {
      QWidget* modal = QApplication::activeModalWidget();
      seen = qobject_cast<TEditDlg*>(modal);
      if (modal != nullptr) modal->close();
    });
    bare.New1Click();
  }
  ASSERT_NE(shown[0], nullptr);
  EXPECT_NE(shown[0], dlg.get());
  EXPECT_EQ(shown[1], shown[0]);  // made once, then kept
}

}  // namespace
}  // namespace qd
