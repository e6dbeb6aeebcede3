#include "ui/view/string_grid.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include "ui/view/listing.h"

namespace qd {
namespace {

// The listing as laid out on the main window.
struct ShownGrid {
  StringGrid grid{4, 61};
  ShownGrid() {
    SetUpListingGrid(grid);
    grid.resize(349, 99);
    grid.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&grid));
  }
  QPoint CentreOf(int col, int row) const { return grid.cellRect(col, row).center(); }
};

TEST(StringGrid, CellsOutsideTheGridReadEmptyAndIgnoreWrites) {
  StringGrid g(4, 61);
  EXPECT_EQ(g.columnCount(), 4);
  EXPECT_EQ(g.rowCount(), 61);
  g.SetCell(3, 60, QStringLiteral("last"));
  g.SetCell(0, 0, QStringLiteral("corner"));
  EXPECT_EQ(g.Cells(3, 60), QStringLiteral("last"));
  EXPECT_EQ(g.Cells(0, 0), QStringLiteral("corner"));
  for (auto [c, r] : {std::pair{-1, 0}, {0, -1}, {4, 1}, {1, 61}, {100000, 5}, {-7, -7}}) {
    g.SetCell(c, r, QStringLiteral("x"));
    EXPECT_EQ(g.Cells(c, r), QString()) << c << "," << r;
  }
  EXPECT_EQ(g.Cells(1, 1), QString());
  StringGrid empty(0, 0);
  EXPECT_EQ(empty.Cells(0, 0), QString());
  empty.setCurrentRow(3);  // a degenerate grid takes it calmly
}

TEST(StringGrid, DesignedSizes) {
  StringGrid g(4, 61);
  EXPECT_EQ(g.defaultColumnWidth(), 80);
  EXPECT_EQ(g.defaultRowHeight(), 18);
  SetUpListingGrid(g);
  EXPECT_EQ(g.rowHeight(1), 20);
  EXPECT_EQ(g.rowHeight(2), 18);
  EXPECT_EQ(g.rowHeight(0), 18);
  g.setDefaultColumnWidth(54);
  EXPECT_EQ(g.defaultColumnWidth(), 54);
  g.setDefaultRowHeight(18);  // a new default height drops the single-row one
  EXPECT_EQ(g.rowHeight(1), 18);
  EXPECT_EQ(g.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
}

TEST(StringGrid, ClickSelectsACellAndTellsTheRowBeingLeft) {
  ShownGrid s;
  StringGrid& g = s.grid;
  ASSERT_EQ(g.currentRow(), 1);
  QSignalSpy rows(&g, &StringGrid::currentRowChanged);
  QSignalSpy clicks(&g, &StringGrid::clicked);
  int leftRow = -1;
  QObject::connect(&g, &StringGrid::cellSelecting, [&](int col, int row) {
    leftRow = g.currentRow();
    EXPECT_EQ(col, 2);
    EXPECT_EQ(row, 2);
  });
  QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, s.CentreOf(2, 2));
  EXPECT_EQ(leftRow, 1);
  EXPECT_EQ(g.currentRow(), 2);
  EXPECT_EQ(g.currentColumn(), 2);
  ASSERT_EQ(rows.count(), 1);
  EXPECT_EQ(rows.at(0).at(0).toInt(), 2);
  EXPECT_EQ(clicks.count(), 1);

  // The headers cannot be selected.
  QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, s.CentreOf(0, 3));
  QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, s.CentreOf(3, 0));
  EXPECT_EQ(g.currentRow(), 2);
  EXPECT_EQ(g.currentColumn(), 2);
}

TEST(StringGrid, DoubleClickIsReported) {
  ShownGrid s;
  QSignalSpy dbl(&s.grid, &StringGrid::doubleClicked);
  QTest::mouseDClick(s.grid.viewport(), Qt::LeftButton, {}, s.CentreOf(1, 1));
  EXPECT_EQ(dbl.count(), 1);
}

TEST(StringGrid, ArrowKeysMoveAndScrollUnderFixedHeaders) {
  ShownGrid s;
  StringGrid& g = s.grid;
  g.setFocus();
  QSignalSpy clicks(&g, &StringGrid::clicked);
  QTest::keyClick(&g, Qt::Key_Down);
  EXPECT_EQ(g.currentRow(), 2);
  QTest::keyClick(&g, Qt::Key_Up);
  QTest::keyClick(&g, Qt::Key_Up);  // stays on the first slot row
  EXPECT_EQ(g.currentRow(), 1);
  QTest::keyClick(&g, Qt::Key_Right);
  QTest::keyClick(&g, Qt::Key_Right);
  QTest::keyClick(&g, Qt::Key_Right);
  EXPECT_EQ(g.currentColumn(), 3);
  EXPECT_EQ(clicks.count(), 4);  // the refused moves said nothing

  for (int i = 0; i < 70; ++i) QTest::keyClick(&g, Qt::Key_Down);
  EXPECT_EQ(g.currentRow(), 60);
  EXPECT_GT(g.topRow(), 50);
  // The current row is in view, the header row still on top.
  const QRect cur = g.cellRect(3, 60);
  EXPECT_FALSE(cur.isEmpty());
  EXPECT_LE(cur.bottom(), g.viewport()->height());
  EXPECT_EQ(g.cellRect(1, 0).top(), 0);
  int col = -1, row = -1;
  ASSERT_TRUE(g.cellAt(QPoint(5, 5), col, row));
  EXPECT_EQ(row, 0);
  ASSERT_TRUE(g.cellAt(QPoint(5, g.defaultRowHeight() + 3), col, row));
  EXPECT_EQ(row, g.topRow());
  EXPECT_EQ(col, 0);

  QTest::keyClick(&g, Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(g.currentRow(), 1);
  EXPECT_EQ(g.topRow(), 1);
}

TEST(StringGrid, ScrollsOnlyVerticallyAndNotPastTheLastRow) {
  ShownGrid s;
  StringGrid& g = s.grid;
  g.setTopRow(1000);
  const int last = g.topRow();
  EXPECT_GT(last, 50);
  EXPECT_LT(last, 60);
  int y = g.defaultRowHeight() + 1;
  for (int r = last; r < 60; ++r) y += g.rowHeight(r) + 1;
  EXPECT_LE(y + g.rowHeight(60), g.viewport()->height());  // row 60 in full
  g.setTopRow(-3);
  EXPECT_EQ(g.topRow(), 1);
}

TEST(StringGrid, PaintsItsTexts) {
  ShownGrid s;
  s.grid.SetCell(1, 0, QStringLiteral("X"));
  const QImage blank = s.grid.viewport()->grab().toImage();
  s.grid.SetCell(1, 1, QStringLiteral("0.123456789012345"));
  s.grid.SetCell(1, 1, QStringLiteral("0.123456789012345"));  // unchanged: nothing to do
  QTest::qWait(1);
  const QImage withText = s.grid.viewport()->grab().toImage();
  EXPECT_NE(blank, withText);
  s.grid.SetCell(1, 1, QString());
  QTest::qWait(1);
  EXPECT_EQ(s.grid.viewport()->grab().toImage(), blank);
}

}  // namespace
}  // namespace qd
