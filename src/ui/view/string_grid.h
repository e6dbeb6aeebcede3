#pragma once
// A read-only grid of texts with a fixed header row and slot column, as the
// listing and the editor's table show them.
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
  void setDefaultRowHeight(int h);
  int currentRow() const { return currentRow_; }
  void setCurrentRow(int row);

 signals:
  void doubleClicked();
  void currentRowChanged(int row);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int columns_, rows_;
  int colWidth_ = 80, rowHeight_ = 18, currentRow_ = 1;
  std::vector<QString> cells_;
};

}  // namespace qd
