// What the main window does beyond its design: the question before unsaved
// work is lost, the question before a file is replaced, cut listing values,
// the usual shortcuts and the examples.
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMimeDatabase>
#include <QScopeGuard>
#include <QPlainTextEdit>
#include <QTextBrowser>
#include <QTest>

#include "tests/ui/commands_fixture.h"
#include "ui/editing/edit_dlg.h"
#include "ui/help/help_viewer.h"
#include "ui/view/string_grid.h"

namespace qd {
namespace {

class QuitQuestion : public CommandsTest {};

TEST_F(QuitQuestion, NothingChangedClosesAtOnce) {
  StartWith(TwoParticles());
  // Start-up, then an Open of the same file: neither is a change.
  form->OpenConfiguration(startPath);
  EXPECT_TRUE(form->close());
  EXPECT_TRUE(dialogs.questions.empty());
}

TEST_F(QuitQuestion, EachAnswerAfterARun) {
  const struct {
    Answer answer;
    bool closes, saved;
  } cases[] = {{Answer::Yes, true, true}, {Answer::No, true, false}, {Answer::Cancel, false, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.answer));
    StartWith(TwoParticles());
    const QByteArray before = ReadBytes(startPath);
    ASSERT_EQ(RunFor(3), 3);
    dialogs.questions.clear();
    dialogs.yesNoCancelAnswers = {c.answer};
    EXPECT_EQ(form->close(), c.closes);
    ASSERT_EQ(dialogs.questions.size(), 1u);
    EXPECT_EQ(dialogs.questions.front(), QStringLiteral("Save changes to start.pln?"));
    EXPECT_EQ(ReadBytes(startPath) != before, c.saved);
    if (c.saved) {
      // Saved as Save saves: the file now holds the state, and nothing is
      // left to ask about.
      SimState reread;
      ReadConfigFile(reread, startPath.toStdString());
      FillConfigRecord(state);
      EXPECT_EQ(reread.ConfigRecord, state.ConfigRecord);
      form->show();
      EXPECT_TRUE(form->close());
      EXPECT_EQ(dialogs.questions.size(), 1u);
    }
  }
}

TEST_F(QuitQuestion, CommentaryAloneIsSavedBesideTheConfiguration) {
  StartWith(TwoParticles());
  const QByteArray config = ReadBytes(startPath);
  form->Comment->setPlainText(QStringLiteral("two at rest\nstill at rest"));
  dialogs.yesNoCancelAnswers = {Answer::Yes};
  EXPECT_TRUE(form->close());
  EXPECT_EQ(dialogs.questions, (std::vector<QString>{QStringLiteral("Save changes to start.pln?")}));
  EXPECT_EQ(ReadBytes(Folder() + QStringLiteral("/start.txt")), QByteArray("two at rest\r\nstill at rest"));
  EXPECT_EQ(ReadBytes(startPath), config);
}

TEST_F(QuitQuestion, DuringARunStopsFirstThenAsks) {
  StartWith(TwoParticles());
  form->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
  int steps = 0;
  form->AfterStep = [&] {
    if (++steps == 3) {
      // Asked only once the run has stopped, never from inside a step.
      EXPECT_FALSE(form->close());
      EXPECT_TRUE(dialogs.questions.empty());
    }
    if (steps > 100) state.Stopped = true;
  };
  dialogs.yesNoCancelAnswers = {Answer::Cancel};
  form->GoClick();
  form->AfterStep = nullptr;
  EXPECT_EQ(steps, 3);
  EXPECT_EQ(dialogs.questions.size(), 1u);
  // Cancel keeps the program, idle, with the run's result.
  EXPECT_TRUE(form->isVisible());
  ExpectIdle();
  EXPECT_EQ(state.StepCount, 3);
  dialogs.yesNoCancelAnswers = {Answer::No};
  EXPECT_TRUE(form->close());
  EXPECT_EQ(dialogs.questions.size(), 2u);
}

TEST_F(QuitQuestion, WithoutAFileYesAsksForANameAndCancelingItKeepsTheWindow) {
  Start();
  form->Daons1Click();  // the easy square: a structure with no file
  ASSERT_EQ(RunFor(2), 2);
  const QString path = Folder() + QStringLiteral("/square.pln");
  dialogs.yesNoCancelAnswers = {Answer::Yes, Answer::Yes};
  dialogs.saveAnswers = {std::nullopt, path};
  EXPECT_FALSE(form->close());
  EXPECT_EQ(dialogs.questions.front(), QStringLiteral("Save changes to Untitled?"));
  EXPECT_FALSE(QFileInfo::exists(path));
  EXPECT_TRUE(form->close());
  EXPECT_TRUE(QFileInfo::exists(path));
  EXPECT_TRUE(dialogs.errors.empty());
}

// ---- Save As --------------------------------------------------------------------

TEST_F(CommandsTest, SaveAsAsksBeforeReplacingAFile) {
  StartWith(TwoParticles());
  const QString other = Folder() + QStringLiteral("/other.pln");
  WriteBytes(other, QByteArray("keep me"));
  const QString fresh = Folder() + QStringLiteral("/fresh.pln");
  // No goes back to the dialog; the next choice is a new file, which needs
  // no question.
  dialogs.saveAnswers = {other, fresh};
  dialogs.yesNoAnswers = {false};
  form->Saveas1Click();
  EXPECT_EQ(dialogs.questions,
            (std::vector<QString>{QStringLiteral("other.pln already exists.\nDo you want to replace it?")}));
  EXPECT_EQ(ReadBytes(other), QByteArray("keep me"));
  EXPECT_EQ(ReadBytes(fresh).size(), 3776);
  // Yes replaces it.
  dialogs.saveAnswers = {other};
  dialogs.yesNoAnswers = {true};
  form->Saveas1Click();
  EXPECT_EQ(ReadBytes(other), ReadBytes(fresh));
  EXPECT_EQ(dialogs.questions.size(), 2u);
}

// ---- listing values wider than their column --------------------------------------

TEST_F(CommandsTest, WideValuesAreCutWithAnEllipsisAndShownWholeInTheirTooltip) {
  SimState config = TwoParticles();
  config.X[1] = 4.80247816148479E44L;
  StartWith(config);
  TEditDlg& editor = form->Editor();
  editor.show();
  QCoreApplication::processEvents();
  for (StringGrid* grid : {form->DaonsTable, editor.DaonsTable}) {
    SCOPED_TRACE(grid->window()->objectName().toStdString());
    const QString whole = grid->Cells(1, 1);
    ASSERT_TRUE(whole.contains(QStringLiteral("E44")) || whole.contains(QStringLiteral("e+44"))) << whole.toStdString();
    const QString shown = grid->ShownText(1, 1);
    EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
    EXPECT_TRUE(whole.startsWith(shown.chopped(1)));
    EXPECT_EQ(grid->ToolTipAt(grid->cellRect(1, 1).center()), whole);
    // A value that fits shows whole, with no tooltip.
    EXPECT_EQ(grid->ShownText(2, 1), grid->Cells(2, 1));
    EXPECT_EQ(grid->ToolTipAt(grid->cellRect(2, 1).center()), QString());
  }
  editor.hide();
}

// ---- the usual shortcuts and the examples ---------------------------------------------

TEST_F(CommandsTest, UsualShortcutsWorkBesideTheDesignedOnes) {
  StartWith(TwoParticles());
  const struct {
    QAction* action;
    QKeySequence designed, usual;
  } keys[] = {{form->New1, QKeySequence(Qt::Key_F2), QKeySequence(Qt::CTRL | Qt::Key_N)},
              {form->Open1, QKeySequence(Qt::Key_F3), QKeySequence(Qt::CTRL | Qt::Key_O)},
              {form->Exit1, QKeySequence(Qt::ALT | Qt::Key_X), QKeySequence(Qt::CTRL | Qt::Key_Q)}};
  for (const auto& k : keys) {
    // The menu still shows the designed key.
    EXPECT_EQ(k.action->shortcut(), k.designed) << k.action->objectName().toStdString();
    EXPECT_TRUE(k.action->shortcuts().contains(k.usual)) << k.action->objectName().toStdString();
  }
  form->show();
  form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
  dialogs.openAnswers = {std::nullopt};
  QTest::keyClick(form.get(), Qt::Key_O, Qt::ControlModifier);
  EXPECT_EQ(dialogs.fileDialogs.size(), 1u);
  QTest::keyClick(form.get(), Qt::Key_Q, Qt::ControlModifier);
  EXPECT_FALSE(form->isVisible());
}

TEST(HelpWindow, EscapeAndCtrlWCloseIt) {
  HelpViewer viewer;
  for (const QKeyCombination key : {QKeyCombination(Qt::Key_Escape), QKeyCombination(Qt::CTRL | Qt::Key_W)}) {
    viewer.show();
    viewer.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&viewer));
    QTest::keyClick(viewer.Browser(), key.key(), Qt::KeyboardModifiers(key.keyboardModifiers()));
    EXPECT_FALSE(viewer.isVisible()) << QKeySequence(key).toString().toStdString();
  }
}

class OpenExample : public CommandsTest {
 protected:
  void TearDown() override {
    SetHelpProgramDirForTesting(QString());
    CommandsTest::TearDown();
  }
};

TEST_F(OpenExample, OpensFromTheExamplesFolderAndSaveNeverWritesThere) {
  StartWith(TwoParticles());
  EXPECT_EQ(form->File1->actions().indexOf(form->OpenExample1), form->File1->actions().indexOf(form->Open1) + 1);
  // Nowhere to look: said so.
  SetHelpProgramDirForTesting(Folder() + QStringLiteral("/nowhere"));
  form->OpenExample1->trigger();
  EXPECT_EQ(dialogs.errors.size(), 1u);

  // An installed tree: bin/ beside share/quindelle/examples.
  const QString examples = Folder() + QStringLiteral("/usr/share/quindelle/examples");
  ASSERT_TRUE(QDir().mkpath(examples));
  ASSERT_TRUE(QDir().mkpath(Folder() + QStringLiteral("/usr/bin")));
  SetHelpProgramDirForTesting(Folder() + QStringLiteral("/usr/bin"));
  SimState example = TwoParticles();
  example.X[2] = 2;
  FillConfigRecord(example);
  const QString path = examples + QStringLiteral("/pair.pln");
  WriteConfigFile(example, path.toStdString());
  WriteBytes(examples + QStringLiteral("/pair.txt"), QByteArray("a pair\r\nat rest"));
  const QByteArray bytes = ReadBytes(path);

  dialogs.openAnswers = {path};
  form->OpenExample1->trigger();
  EXPECT_EQ(dialogs.fileDialogs.back().directory, QDir(examples).absolutePath());
  EXPECT_EQ(state.X[2], 2);
  EXPECT_EQ(form->Comment->toPlainText(), QStringLiteral("a pair\nat rest"));
  // Save asks for a name instead of writing over the example.
  ASSERT_EQ(RunFor(2), 2);
  dialogs.saveAnswers = {std::nullopt};
  form->Save1->trigger();
  EXPECT_EQ(dialogs.saveAnswers.size(), 0u);
  EXPECT_EQ(ReadBytes(path), bytes);
  EXPECT_EQ(dialogs.errors.size(), 1u);
}

TEST(Examples, EveryExampleLoadsAndSaysWhatItShows) {
  const QDir dist(QStringLiteral(QUINDELLE_SOURCE_DIR "/dist/examples"));
  const QStringList configs = dist.entryList({QStringLiteral("*.pln")}, QDir::Files);
  EXPECT_GE(configs.size(), 3);
  for (const QString& name : configs) {
    SCOPED_TRACE(name.toStdString());
    SimState s;
    ReadConfigFile(s, dist.filePath(name).toStdString());
    ApplyConfigRecord(s);
    int present = 0;
    for (int slot = 1; slot <= kSlotCount; ++slot) present += s.Present[slot] != 0;
    EXPECT_GE(present, 4);
    EXPECT_GT(s.Dt, 0);
    QFile commentary(dist.filePath(name.chopped(4) + QStringLiteral(".txt")));
    ASSERT_TRUE(commentary.open(QIODevice::ReadOnly));
    const QByteArray text = commentary.readAll();
    EXPECT_GT(text.size(), 100);
    // The commentary's own line ends, as the program writes them.
    EXPECT_EQ(text.count("\n"), text.count("\r\n"));
  }
}

// Run by the package check against the unpacked package, with the package's
// MIME database first in XDG_DATA_DIRS: the desktop's own database already
// gives *.pln to a spreadsheet type, and ours must win over it.
TEST(InstalledTree, PlnFilesAreOursAndTheExamplesAreFound) {
  const QString binDir = qEnvironmentVariable("QD_INSTALLED_BIN_DIR");
  if (binDir.isEmpty()) GTEST_SKIP() << "only run by the package check";
  SetHelpProgramDirForTesting(binDir);
  const auto restore = qScopeGuard([] { SetHelpProgramDirForTesting(QString()); });
  const QString examples = TMainForm::ExamplesDir();
  EXPECT_EQ(examples, QDir(binDir + QStringLiteral("/../share/quindelle/examples")).absolutePath());
  const QStringList configs = QDir(examples).entryList({QStringLiteral("*.pln")}, QDir::Files);
  ASSERT_FALSE(configs.isEmpty());
  const QMimeDatabase db;
  for (const QString& name : configs) {
    const QMimeType type = db.mimeTypeForFile(QDir(examples).filePath(name));
    EXPECT_EQ(type.name(), QStringLiteral("application/x-quindelle-taons")) << name.toStdString();
    EXPECT_TRUE(type.inherits(QStringLiteral("application/octet-stream")));
    EXPECT_EQ(type.comment(), QStringLiteral("Taons files"));
  }
  // By name alone too, as a file dialog asks before reading a byte.
  EXPECT_EQ(db.mimeTypeForFile(QStringLiteral("never-made.pln"), QMimeDatabase::MatchExtension).name(),
            QStringLiteral("application/x-quindelle-taons"));
}

}  // namespace
}  // namespace qd
