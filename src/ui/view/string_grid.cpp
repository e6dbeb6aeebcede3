#include "ui/view/string_grid.h"

#include <QPainter>

namespace qd {

StringGrid::StringGrid(int columns, int rows, QWidget* parent)
    : QAbstractScrollArea(parent), columns_(columns), rows_(rows), cells_(std::size_t(columns) * rows) {}

QString StringGrid::Cells(int col, int row) const {
  if (col < 0 || row < 0 || col >= columns_ || row >= rows_) return QString();
  return cells_[std::size_t(row) * columns_ + col];
}

void StringGrid::SetCell(int col, int row, const QString& text) {
  if (col < 0 || row < 0 || col >= columns_ || row >= rows_) return;
  cells_[std::size_t(row) * columns_ + col] = text;
  viewport()->update();
}

void StringGrid::setDefaultColumnWidth(int w) { colWidth_ = w; viewport()->update(); }
void StringGrid::setDefaultRowHeight(int h) { rowHeight_ = h; viewport()->update(); }
void StringGrid::setCurrentRow(int row) {
  if (row == currentRow_) return;
  currentRow_ = row;
  emit currentRowChanged(row);
}

void StringGrid::paintEvent(QPaintEvent*) { QPainter p(viewport()); }

}  // namespace qd
