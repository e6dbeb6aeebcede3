// The commentary memo: the change flag, the question on leaving the field,
// saving byte for byte, and loading on Open.
#include <QAction>
#include <QPlainTextEdit>

#include "tests/ui/commands_fixture.h"

namespace qd {
namespace {

using CommentaryMemo = CommandsTest;

const QString kQuestion = QStringLiteral("The text was changed. Save now?");

TEST_F(CommentaryMemo, ALoadThatChangesTheTextIsAskedAbout) {
  TMainForm& f = Start();
  const QString path = WriteConfig(TwoParticles(), QStringLiteral("run1.pln"));
  WriteBytes(Folder() + QStringLiteral("/run1.txt"),
             QByteArray("loaded\nsecond"));  // lone LF ends a line too
  dialogs.openAnswers.push_back(path);
  f.Open1->trigger();
  EXPECT_EQ(f.Comment->toPlainText(), QStringLiteral("loaded\nsecond"));
  EXPECT_TRUE(state.CommentModified);

  // No: asked once, the flag is cleared, nothing written.
  dialogs.yesNoAnswers.push_back(false);
  f.CommentExit();
  EXPECT_EQ(dialogs.questions, (std::vector<QString>{kQuestion}));
  EXPECT_FALSE(state.CommentModified);
  f.CommentExit();
  EXPECT_EQ(dialogs.questions.size(), 1u);
  EXPECT_EQ(ReadBytes(Folder() + QStringLiteral("/run1.txt")), QByteArray("loaded\nsecond"));

  // Opening the same configuration again brings the same text: no change.
  dialogs.openAnswers.push_back(path);
  f.Open1->trigger();
  EXPECT_FALSE(state.CommentModified);
}

TEST_F(CommentaryMemo, YesWritesTheTextWithCrLfBesideTheConfiguration) {
  TMainForm& f = StartWith(TwoParticles(), QStringLiteral("run2.pln"));
  f.Comment->setPlainText(QStringLiteral("first line\nsecond line"));
  EXPECT_TRUE(state.CommentModified);
  dialogs.yesNoAnswers.push_back(true);
  f.CommentExit();
  ASSERT_TRUE(dialogs.errors.empty());
  EXPECT_EQ(ReadBytes(Folder() + QStringLiteral("/run2.txt")), QByteArray("first line\r\nsecond line"));
  EXPECT_EQ(state.CurrentName, startPath.toStdString());  // the name keeps its extension

  // A final line break is kept, and only then.
  f.Comment->setPlainText(QStringLiteral("one\ntwo\n"));
  dialogs.yesNoAnswers.push_back(true);
  f.CommentExit();
  EXPECT_EQ(ReadBytes(Folder() + QStringLiteral("/run2.txt")), QByteArray("one\r\ntwo\r\n"));
  // The configuration itself is untouched.
  EXPECT_EQ(QFileInfo(startPath).size(), qint64(kConfigRecordSize));
}

TEST_F(CommentaryMemo, UnwritableCommentaryIsReportedAndTheFlagStaysCleared) {
  TMainForm& f = StartWith(TwoParticles());
  state.CurrentName = (Folder() + QStringLiteral("/no/such/folder/x.pln")).toStdString();
  f.Comment->setPlainText(QStringLiteral("text"));
  dialogs.yesNoAnswers.push_back(true);
  f.RunHandler([&] { f.CommentExit(); });
  EXPECT_EQ(dialogs.errors, (std::vector<QString>{QStringLiteral("File not found")}));
  EXPECT_FALSE(state.CommentModified);
}

TEST_F(CommentaryMemo, OpenWithoutACommentaryKeepsTheShownText) {
  TMainForm& f = StartWith(TwoParticles());
  f.Comment->setPlainText(QStringLiteral("my notes"));
  state.CommentModified = false;
  const QString path = WriteConfig(TwoParticles(), QStringLiteral("bare.pln"));
  dialogs.openAnswers.push_back(path);
  f.Open1->trigger();
  EXPECT_EQ(f.Comment->toPlainText(), QStringLiteral("my notes"));
  EXPECT_FALSE(state.CommentModified);
  EXPECT_TRUE(dialogs.questions.empty());
}

TEST_F(CommentaryMemo, LeavingTheFieldForAnotherControlAsks) {
  TMainForm& f = StartWith(TwoParticles(), QStringLiteral("focus.pln"));
  f.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
  f.PageControl->setCurrentWidget(f.TabSheet2);
  f.Comment->setFocus(Qt::MouseFocusReason);
  Settle();
  ASSERT_TRUE(f.Comment->hasFocus());
  QTest::keyClick(f.Comment, Qt::Key_End, Qt::ControlModifier);
  QTest::keyClicks(f.Comment, QStringLiteral(" typed"));
  EXPECT_TRUE(state.CommentModified);
  dialogs.yesNoAnswers.push_back(true);
  f.EditA1->setFocus(Qt::MouseFocusReason);
  Settle();
  EXPECT_EQ(dialogs.questions, (std::vector<QString>{kQuestion}));
  EXPECT_EQ(ReadBytes(Folder() + QStringLiteral("/focus.txt")), QByteArray("No Comment typed"));
}

}  // namespace
}  // namespace qd
