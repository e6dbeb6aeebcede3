#pragma once
// A read-only grid of texts with a fixed header row and slot column, as the
// listing and the editor's table show them.
//
// The header row and the slot column stay in place; the other rows scroll
// vertically, a whole row at a time. Only a vertical scroll bar exists: the
// columns are as wide as the owner makes them. Texts are kept as they are set
// and painted lazily, so rewriting every cell after each simulation step
// costs a few string compares and at most one scheduled repaint.
#include <QAbstractScrollArea>
#include <QString>
#include <vector>

namespace qd {

class StringGrid : public QAbstractScrollArea {
  Q_OBJECT
 public:
  StringGrid(int columns, int rows, QWidget* parent = nullptr);
  int columnCount() const { return columns_; }
  int rowCount() const { return rows_; }
  // "" for any index outside the grid.
  QString Cells(int col, int row) const;
  void SetCell(int col, int row, const QString& text);
  int defaultColumnWidth() const { return colWidth_; }
  void setDefaultColumnWidth(int w);
  int defaultRowHeight() const { return rowHeight_; }
  // Also drops every height set for a single row.
  void setDefaultRowHeight(int h);
  // One row's own height (the listing's first slot row is taller); 0 or less
  // returns the row to the default height.
  void setRowHeight(int row, int h);
  int rowHeight(int row) const;
  int currentRow() const { return currentRow_; }
  void setCurrentRow(int row);
  int currentColumn() const { return currentCol_; }
  // Moves the current cell, as a click or an arrow key does; indexes are
  // clamped to the scrolling part of the grid.
  void setCurrentCell(int col, int row);
  // The first scrolling row shown under the header.
  int topRow() const { return topRow_; }
  void setTopRow(int row);
  // The cell under a point of the viewport, or false outside every cell.
  bool cellAt(const QPoint& viewportPos, int& col, int& row) const;
  // The cell's rectangle in viewport coordinates (empty when scrolled away).
  QRect cellRect(int col, int row) const;
  // The text as the cell shows it: cut with an ellipsis when it is wider than
  // its column, so that a cut value never passes for a whole one.
  QString ShownText(int col, int row) const;
  // The tooltip at a point of the viewport: the whole text of a cut cell,
  // otherwise nothing.
  QString ToolTipAt(const QPoint& viewportPos) const;

 signals:
  void doubleClicked();
  void currentRowChanged(int row);
  // The current cell is about to move to (col, row); currentRow() and
  // currentColumn() still name the cell being left.
  void cellSelecting(int col, int row);
  // A cell was clicked or the current cell was moved by a key; the current
  // cell is already the new one.
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  bool viewportEvent(QEvent* event) override;
  QSize sizeHint() const override;

 private:
  int ColumnLeft(int col) const;
  int VisibleScrollingRows() const;
  void UpdateScrollBar();
  void ScheduleRepaint();
  void MoveTo(int col, int row, bool fromUser);

  int columns_, rows_;
  int colWidth_ = 80, rowHeight_ = 18, currentRow_ = 1, currentCol_ = 1;
  int topRow_ = 1;
  bool repaintPending_ = false;
  std::vector<QString> cells_;
  std::vector<int> rowHeights_;  // 0: the default height
};

}  // namespace qd
