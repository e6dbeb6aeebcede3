// The Help menu of the main window: each item opens its own document in the
// built-in viewer with one request, and About runs its box modally.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include "core/state/sim_state.h"
#include "tests/ui/scripted_dialogs.h"
#include "ui/help/about_box.h"
#include "ui/help/help_viewer.h"
#include "ui/mainform/mainform.h"

namespace qd {
namespace {

// The documents as the build ships them, or from the source tree.
QString ShippedDocument(const QString& name) {
  const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(name);
  if (QFileInfo(beside).isFile()) return beside;
  return QDir(QStringLiteral(QUINDELLE_SOURCE_DIR "/help")).filePath(name);
}

const QString kEnglish = QStringLiteral("DovURERuz.hlp");
const QString kRussian = QStringLiteral("DovADEDud.HLP");
const QString kPolish = QStringLiteral("VadARUDar.HLP");

// A main window whose help is looked for in a folder of the test's own
// (standing in for the executable's) and in an empty working directory.
class MainFormHelpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(programDir_.isValid());
    ASSERT_TRUE(workDir_.isValid());
    oldCwd_ = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(workDir_.path()));
    SetHelpProgramDirForTesting(programDir_.path());
    SetCurrentHelpFile(QString());
    form_ = std::make_unique<TMainForm>(state_);
  }
  void TearDown() override {
    form_.reset();
    SetHelpProgramDirForTesting(QString());
    QDir::setCurrent(oldCwd_);
  }
  void Ship(const QString& name, const QTemporaryDir& dir) {
    ASSERT_TRUE(QFile::copy(ShippedDocument(name), dir.filePath(name))) << name.toStdString();
  }
  void ShipAllBesideProgram() {
    for (const QString& name : {kEnglish, kRussian, kPolish}) Ship(name, programDir_);
  }
  HelpViewer* Viewer() { return form_->findChild<HelpViewer*>(); }

  ScopedScriptedDialogs dialogs_;
  QTemporaryDir programDir_, workDir_;
  QString oldCwd_;
  SimState state_;
  std::unique_ptr<TMainForm> form_;
};

TEST_F(MainFormHelpTest, EachItemOpensItsOwnDocumentWithOneRequest) {
  ShipAllBesideProgram();
  struct Item {
    QAction* action;
    QKeySequence key;
    QString file;
    QString title;
  };
  const Item items[] = {
      {form_->Help1, QKeySequence(Qt::Key_F1), kEnglish, QStringLiteral("Quindelle Help")},
      {form_->RusHelp, QKeySequence(Qt::CTRL | Qt::Key_F1), kRussian, QStringLiteral("Справка Quindelle")},
      {form_->PolHelp, QKeySequence(Qt::SHIFT | Qt::Key_F1), kPolish,
       QStringLiteral("Pomoc programu Quindelle")},
  };
  int requests = 0;
  for (const Item& item : items) {
    SCOPED_TRACE(item.file.toStdString());
    EXPECT_EQ(item.action->shortcut(), item.key);
    item.action->trigger();
    HelpViewer* viewer = Viewer();
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(viewer->RequestCount(), ++requests);
    EXPECT_EQ(viewer->RequestedFile(), item.file);
    EXPECT_EQ(CurrentHelpFile(), item.file);
    EXPECT_EQ(viewer->ShownPath(), QFileInfo(programDir_.filePath(item.file)).absoluteFilePath());
    EXPECT_EQ(viewer->windowTitle(), item.title);
    EXPECT_TRUE(viewer->isVisible());
  }
  // One viewer window serves every request.
  EXPECT_EQ(form_->findChildren<HelpViewer*>().size(), 1);
  EXPECT_TRUE(dialogs_.errors.empty());
}

TEST_F(MainFormHelpTest, ShortcutKeysReachTheirItems) {
  ShipAllBesideProgram();
  form_->show();
  QApplication::setActiveWindow(form_.get());
  if (!QTest::qWaitForWindowActive(form_.get())) GTEST_SKIP() << "no active window here";
  const struct {
    Qt::KeyboardModifiers modifiers;
    QString file;
  } keys[] = {{Qt::NoModifier, kEnglish}, {Qt::ControlModifier, kRussian}, {Qt::ShiftModifier, kPolish}};
  int requests = 0;
  for (const auto& key : keys) {
    // The viewer takes the focus when it opens; the keys belong to the main window.
    QApplication::setActiveWindow(form_.get());
    QTest::keyClick(form_.get(), Qt::Key_F1, key.modifiers);
    HelpViewer* viewer = Viewer();
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(viewer->RequestCount(), ++requests);
    EXPECT_EQ(viewer->RequestedFile(), key.file);
  }
}

TEST_F(MainFormHelpTest, RussianAfterEnglishShowsRussian) {
  ShipAllBesideProgram();
  form_->Help1Click();
  form_->RusHelpClick();
  HelpViewer* viewer = Viewer();
  ASSERT_NE(viewer, nullptr);
  EXPECT_EQ(CurrentHelpFile(), kRussian);
  const QString text = viewer->Browser()->toPlainText();
  EXPECT_TRUE(text.contains(QStringLiteral("Справка Quindelle")));
  EXPECT_FALSE(text.contains(QStringLiteral("Getting started")));
  EXPECT_EQ(viewer->Browser()->verticalScrollBar()->value(), 0);
}

TEST_F(MainFormHelpTest, MissingDocumentIsReportedByTheViewer) {
  form_->PolHelpClick();
  HelpViewer* viewer = Viewer();
  ASSERT_NE(viewer, nullptr);
  EXPECT_EQ(viewer->Browser()->toPlainText(), QStringLiteral("Cannot find the help file \"VadARUDar.HLP\"."));
  EXPECT_EQ(CurrentHelpFile(), kPolish);
  // The viewer speaks for itself: nothing goes to the program's message boxes.
  EXPECT_TRUE(dialogs_.errors.empty());
  EXPECT_TRUE(dialogs_.informations.empty());
}

TEST_F(MainFormHelpTest, FindsTheDocumentInTheWorkingDirectory) {
  Ship(kEnglish, workDir_);
  form_->Help1Click();
  HelpViewer* viewer = Viewer();
  ASSERT_NE(viewer, nullptr);
  EXPECT_EQ(viewer->ShownPath(), QFileInfo(workDir_.filePath(kEnglish)).absoluteFilePath());
  EXPECT_EQ(viewer->windowTitle(), QStringLiteral("Quindelle Help"));
}

// What came up when the About command ran.
struct ModalSeen {
  bool aboutBox = false;         // the modal window was an About box
  const QObject* box = nullptr;  // which one (for identity only: it may be gone)
  int result = -1;               // its result after OK was pressed
};

// Runs the About command with a timer that presses OK in whatever modal
// window comes up; anything else is closed so that the test cannot hang.
ModalSeen RunAboutAndPressOk(TMainForm& form) {
  ModalSeen seen;
  QTimer::singleShot(0, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    seen.box = modal;
    if (auto* box = qobject_cast<TAboutBox*>(modal)) {
      seen.aboutBox = box->isVisible() && box->isModal();
      box->OKButton->click();
      seen.result = box->result();
    } else if (modal != nullptr) {
      modal->close();
    }
  });
  form.About1->trigger();
  return seen;
}

TEST_F(MainFormHelpTest, AboutRunsModallyAndOkClosesIt) {
  ModalSeen seen = RunAboutAndPressOk(*form_);
  EXPECT_TRUE(seen.aboutBox);
  EXPECT_EQ(seen.result, QDialog::Accepted);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

  // With the program's own box created at start, that box is the one shown.
  TAboutBox* own = new TAboutBox(form_.get());
  form_->SetWindows({.about = own});
  seen = RunAboutAndPressOk(*form_);
  EXPECT_TRUE(seen.aboutBox);
  EXPECT_EQ(seen.box, own);
  EXPECT_EQ(seen.result, QDialog::Accepted);
  EXPECT_FALSE(own->isVisible());
}

}  // namespace
}  // namespace qd
