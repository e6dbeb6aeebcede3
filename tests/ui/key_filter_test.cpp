#include "ui/editing/key_filter.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>
#include <vector>

#include "tests/ui/editor_fixture.h"

namespace qd {
namespace {

using testing_editor::EditorTest;

class KeyFilter : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallNumericKeyFilter(&field);
    field.show();
    field.setFocus();
  }
  QLineEdit field;
};

TEST_F(KeyFilter, DropsEverythingButDigitsSignAndSeparators) {
  QTest::keyClicks(&field, QStringLiteral("a+e E x"));
  EXPECT_EQ(field.text(), QString());
  QTest::keyClicks(&field, QStringLiteral("-1,5"));
  EXPECT_EQ(field.text(), QStringLiteral("-1,5"));
  field.clear();
  QTest::keyClicks(&field, QStringLiteral("1.2e+3"));
  EXPECT_EQ(field.text(), QStringLiteral("1.23"));
}

TEST_F(KeyFilter, TakesSeveralSeparatorsWithoutJudgingThem) {
  QTest::keyClicks(&field, QStringLiteral("1,2,3"));
  EXPECT_EQ(field.text(), QStringLiteral("1,2,3"));
  QTest::keyClicks(&field, QStringLiteral("--"));
  EXPECT_EQ(field.text(), QStringLiteral("1,2,3--"));
}

TEST_F(KeyFilter, EnterTypesNothingButIsStillAKeyPress) {
  QSignalSpy returns(&field, &QLineEdit::returnPressed);
  QTest::keyClicks(&field, QStringLiteral("12"));
  QTest::keyClick(&field, Qt::Key_Return);
  QTest::keyClick(&field, Qt::Key_Enter);
  EXPECT_EQ(field.text(), QStringLiteral("12"));
  EXPECT_EQ(returns.count(), 2);
}

TEST_F(KeyFilter, EditingAndMovingKeysPass) {
  QTest::keyClicks(&field, QStringLiteral("1234"));
  QTest::keyClick(&field, Qt::Key_Backspace);
  EXPECT_EQ(field.text(), QStringLiteral("123"));
  QTest::keyClick(&field, Qt::Key_Home);
  QTest::keyClick(&field, Qt::Key_Delete);
  EXPECT_EQ(field.text(), QStringLiteral("23"));
  QTest::keyClick(&field, Qt::Key_Right);
  QTest::keyClicks(&field, QStringLiteral("9"));
  EXPECT_EQ(field.text(), QStringLiteral("293"));
  QTest::keyClick(&field, Qt::Key_End);
  QTest::keyClicks(&field, QStringLiteral("0"));
  EXPECT_EQ(field.text(), QStringLiteral("2930"));
  QTest::keyClick(&field, Qt::Key_Left);
  QTest::keyClick(&field, Qt::Key_Left, Qt::ShiftModifier);
  QTest::keyClicks(&field, QStringLiteral("-"));
  EXPECT_EQ(field.text(), QStringLiteral("29-0"));
}

TEST_F(KeyFilter, ClipboardShortcutsAreRefused) {
  QClipboard* clipboard = QApplication::clipboard();
  clipboard->setText(QStringLiteral("777"));
  QTest::keyClick(&field, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(field.text(), QString());
  QTest::keyClick(&field, Qt::Key_Insert, Qt::ShiftModifier);
  EXPECT_EQ(field.text(), QString());

  QTest::keyClicks(&field, QStringLiteral("12"));
  field.selectAll();
  QTest::keyClick(&field, Qt::Key_X, Qt::ControlModifier);
  EXPECT_EQ(field.text(), QStringLiteral("12"));
  QTest::keyClick(&field, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(clipboard->text(), QStringLiteral("777"));
}

// Sees the mouse presses that get past every filter installed after it.
class PressSpy : public QObject {
 public:
  std::vector<Qt::MouseButton> reached;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::MouseButtonPress) reached.push_back(static_cast<QMouseEvent*>(e)->button());
    return false;
  }
};

TEST_F(KeyFilter, NoContextMenuNoDropsAndNoMiddleClickPaste) {
  EXPECT_EQ(field.contextMenuPolicy(), Qt::NoContextMenu);
  EXPECT_FALSE(field.acceptDrops());
  QApplication::clipboard()->setText(QStringLiteral("5"), QClipboard::Selection);
  QApplication::clipboard()->setText(QStringLiteral("5"));
  QTest::mouseClick(&field, Qt::MiddleButton);
  EXPECT_EQ(field.text(), QString());

  // Where the platform has no selection clipboard the paste above cannot
  // happen anyway, so check that the filter itself swallows the middle press
  // before the field sees it. Filters installed later run first.
  QLineEdit other;
  PressSpy spy;
  other.installEventFilter(&spy);
  InstallNumericKeyFilter(&other);
  other.show();
  QTest::mouseClick(&other, Qt::MiddleButton);
  QTest::mouseClick(&other, Qt::LeftButton);
  EXPECT_EQ(spy.reached, std::vector<Qt::MouseButton>{Qt::LeftButton});
}

TEST_F(KeyFilter, InstallingTwiceKeepsOneFilter) {
  InstallNumericKeyFilter(&field);
  InstallNumericKeyFilter(nullptr);
  QTest::keyClicks(&field, QStringLiteral("1a"));
  EXPECT_EQ(field.text(), QStringLiteral("1"));
  EXPECT_EQ(field.children().size(), QLineEdit().children().size() + 1);
}

using EditorKeyFilter = EditorTest;

TEST_F(EditorKeyFilter, OnlyTheDesignedFieldsAreFiltered) {
  Open();
  auto typed = [](QLineEdit* f) {
    f->clear();
    QTest::keyClicks(f, QStringLiteral("a1"));
    return f->text();
  };
  for (QLineEdit* f : {dlg->EditDT, dlg->EditA1, dlg->EditB1, dlg->EditC1, dlg->EditD1, dlg->EditX,
                       dlg->EditY, dlg->EditZ, dlg->EditV, dlg->EditU, dlg->EditW})
    EXPECT_EQ(typed(f), QStringLiteral("1")) << f->objectName().toStdString();
  for (QLineEdit* f : {dlg->EditF1, dlg->EditA2, dlg->EditB2, dlg->EditC2, dlg->EditD2, dlg->EditF2,
                       dlg->EditCal1Part1, dlg->EditCal4Part2, dlg->EditResult2, dlg->EditFileName})
    EXPECT_EQ(typed(f), QStringLiteral("a1")) << f->objectName().toStdString();
}

TEST_F(EditorKeyFilter, TypedTwoSeparatorsFailOnSubmit) {
  Open();
  dlg->EditX->clear();
  QTest::keyClicks(dlg->EditX, QStringLiteral("1,2,3"));
  ASSERT_EQ(dlg->EditX->text(), QStringLiteral("1,2,3"));
  dlg->SubmitClick();
  ASSERT_EQ(dialogs.errors.size(), 1u);
  EXPECT_EQ(dialogs.errors[0], QStringLiteral("'1,2,3' is not a valid floating point value"));
}

TEST_F(EditorKeyFilter, EnterInAFilteredFieldDoesNotCloseTheDialog) {
  Open();
  dlg->EditY->setFocus();
  QTest::keyClick(dlg->EditY, Qt::Key_Return);
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(EditorKeyFilter, EnterInAnySlotFieldStoresTheSlot) {
  Place(1, 0, 0, 0);
  Open();
  const struct {
    QLineEdit* field;
    SlotArray<Extended> SimState::*value;
  } cases[] = {{dlg->EditX, &SimState::X},  {dlg->EditY, &SimState::Y},  {dlg->EditZ, &SimState::Z},
               {dlg->EditV, &SimState::UX}, {dlg->EditU, &SimState::UY}, {dlg->EditW, &SimState::UZ},
               {dlg->EditF1, nullptr}};  // an unfiltered field, for comparison
  int typed = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field->objectName().toStdString());
    c.field->setFocus();
    c.field->clear();
    QTest::keyClicks(c.field, QString::number(++typed));
    st.Present[1] = 0;
    QTest::keyClick(c.field, Qt::Key_Return);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_EQ(st.Present[1], 1);  // DaoTrue was checked by the opening
    if (c.value) {
      EXPECT_EQ((st.*c.value)[1], typed);
    }
  }
  EXPECT_TRUE(dialogs.errors.empty());
}

}  // namespace
}  // namespace qd
