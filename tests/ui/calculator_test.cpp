#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "tests/ui/editor_fixture.h"
#include "ui/view/string_grid.h"

namespace qd {
namespace {

using testing_editor::EditorTest;
using testing_editor::Num;
using testing_editor::Txt;

class Calculator : public EditorTest {
 protected:
  void SetUp() override {
    EditorTest::SetUp();
    Place(1, 0, 0, 0, 1, 1, 1);
    Place(2, 3, 4, 0, 1, 6, 13);
    Open();
  }
  // Row 1 with the two slot texts; the result field starts as "prev".
  QString Run(const QString& first, const QString& second) {
    dlg->EditCal1Part1->setText(first);
    dlg->EditCal1Part2->setText(second);
    dlg->EditResult1->setText(QStringLiteral("prev"));
    dlg->Calculate1Click();
    return dlg->EditResult1->text();
  }
  QString LastError() const { return dialogs.errors.empty() ? QString() : dialogs.errors.back(); }
};

TEST_F(Calculator, DistanceBetweenTwoSlots) {
  EXPECT_EQ(Run(QStringLiteral("1"), QStringLiteral("2")), QStringLiteral("5"));
  EXPECT_EQ(Run(QStringLiteral("2"), QStringLiteral("1")), QStringLiteral("5"));
  EXPECT_EQ(Run(QStringLiteral("2"), QStringLiteral("2")), QStringLiteral("0"));
  EXPECT_TRUE(dialogs.errors.empty());
}

TEST_F(Calculator, ButtonsRunTheirOwnRow) {
  dlg->EditCal3Part1->setText(QStringLiteral("1"));
  dlg->EditCal3Part2->setText(QStringLiteral("2"));
  QTest::mouseClick(dlg->Calculate3, Qt::LeftButton);
  EXPECT_EQ(dlg->EditResult3->text(), QStringLiteral("5"));
  EXPECT_EQ(dlg->EditResult1->text(), QStringLiteral("0"));
  EXPECT_EQ(dlg->EditResult4->text(), QStringLiteral("0"));
}

TEST_F(Calculator, UsesTheTableTextsNotTheStoredValues) {
  // A submitted-but-unrounded value differs from what the table shows.
  st.X[2] = 1.0L / 3;
  dlg->FillEditorTable();
  const Extended shown = TextToFloat(dlg->DaonsTable->Cells(1, 2).toStdString(), LocaleDecimalSeparator());
  const Extended expected = std::sqrt(shown * shown + 16);
  EXPECT_EQ(Run(QStringLiteral("1"), QStringLiteral("2")), Txt(expected));
}

TEST_F(Calculator, InitialZeroNamesTheHeaderRow) {
  EXPECT_EQ(Run(QStringLiteral("0"), QStringLiteral("0")), QStringLiteral("prev"));
  EXPECT_EQ(LastError(), QStringLiteral("'X' is not a valid floating point value"));
  dlg->DaonsTableDblClick();
  EXPECT_EQ(Run(QStringLiteral("0"), QStringLiteral("1")), QStringLiteral("prev"));
  EXPECT_EQ(LastError(), QStringLiteral("'u(x)' is not a valid floating point value"));
}

TEST_F(Calculator, EmptyAndOutOfRangeSlotsReadEmptyCells) {
  for (const char* slot : {"3", "61", "-5", "2147483647"}) {
    dialogs.errors.clear();
    EXPECT_EQ(Run(QStringLiteral("1"), QString::fromLatin1(slot)), QStringLiteral("prev")) << slot;
    ASSERT_EQ(dialogs.errors.size(), 1u) << slot;
    EXPECT_EQ(dialogs.errors[0], QStringLiteral("'' is not a valid floating point value")) << slot;
  }
  dialogs.errors.clear();
  EXPECT_EQ(Run(QStringLiteral("61"), QStringLiteral("1")), QStringLiteral("prev"));
  EXPECT_EQ(LastError(), QStringLiteral("'' is not a valid floating point value"));
}

TEST_F(Calculator, SlotFieldsMustHoldIntegers) {
  EXPECT_EQ(Run(QStringLiteral("abc"), QStringLiteral("1")), QStringLiteral("prev"));
  EXPECT_EQ(LastError(), QStringLiteral("'abc' is not a valid integer value"));
  EXPECT_EQ(Run(QStringLiteral("1"), Num("1.5")), QStringLiteral("prev"));
  EXPECT_EQ(LastError(), QStringLiteral("'") + Num("1.5") + QStringLiteral("' is not a valid integer value"));
  EXPECT_EQ(Run(QStringLiteral("1"), QStringLiteral("99999999999")), QStringLiteral("prev"));
  EXPECT_EQ(LastError(), QStringLiteral("'99999999999' is not a valid integer value"));
}

TEST_F(Calculator, VelocityModeMeasuresTheVelocityDifference) {
  dlg->DaonsTableDblClick();
  EXPECT_EQ(Run(QStringLiteral("1"), QStringLiteral("2")), QStringLiteral("13"));
}

TEST_F(Calculator, OverflowIsReported) {
  Place(3, 1e4000L, 0, 0);
  Place(4, -1e4000L, 0, 0);
  dlg->FillEditorTable();
  EXPECT_EQ(Run(QStringLiteral("3"), QStringLiteral("4")), QStringLiteral("prev"));
  EXPECT_EQ(LastError(), QStringLiteral("Floating point overflow"));
}

TEST_F(Calculator, ResetTouchesOnlyItsOwnRow) {
  QLineEdit* fields[4][3] = {{dlg->EditCal1Part1, dlg->EditCal1Part2, dlg->EditResult1},
                             {dlg->EditCal2Part1, dlg->EditCal2Part2, dlg->EditResult2},
                             {dlg->EditCal3Part1, dlg->EditCal3Part2, dlg->EditResult3},
                             {dlg->EditCal4Part1, dlg->EditCal4Part2, dlg->EditResult4}};
  for (auto& row : fields)
    for (QLineEdit* f : row) f->setText(QStringLiteral("7"));
  QTest::mouseClick(dlg->Reset2, Qt::LeftButton);
  for (int r = 0; r < 4; ++r)
    for (QLineEdit* f : fields[r])
      EXPECT_EQ(f->text(), r == 1 ? QStringLiteral("0") : QStringLiteral("7")) << r;
  dlg->Reset4Click();
  for (QLineEdit* f : fields[3]) EXPECT_EQ(f->text(), QStringLiteral("0"));
  EXPECT_EQ(fields[0][0]->text(), QStringLiteral("7"));
}

TEST_F(Calculator, FieldsPersistAcrossOpenings) {
  dlg->EditCal2Part1->setText(QStringLiteral("12"));
  Reopen();
  EXPECT_EQ(dlg->EditCal2Part1->text(), QStringLiteral("12"));
}

}  // namespace
}  // namespace qd
