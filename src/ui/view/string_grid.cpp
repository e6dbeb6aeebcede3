#include "ui/view/string_grid.h"

#include <QFontMetrics>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>

namespace qd {

namespace {
constexpr int kLine = 1;       // grid line width between cells
constexpr int kTextInset = 2;  // text starts this far inside its cell
}  // namespace

StringGrid::StringGrid(int columns, int rows, QWidget* parent)
    : QAbstractScrollArea(parent),
      columns_(std::max(columns, 0)),
      rows_(std::max(rows, 0)),
      cells_(std::size_t(columns_) * std::size_t(rows_)),
      rowHeights_(std::size_t(rows_), 0) {
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  verticalScrollBar()->setSingleStep(1);
  UpdateScrollBar();
}

QString StringGrid::Cells(int col, int row) const {
  if (col < 0 || row < 0 || col >= columns_ || row >= rows_) return QString();
  return cells_[std::size_t(row) * columns_ + col];
}

void StringGrid::SetCell(int col, int row, const QString& text) {
  if (col < 0 || row < 0 || col >= columns_ || row >= rows_) return;
  QString& cell = cells_[std::size_t(row) * columns_ + col];
  if (cell == text) return;
  cell = text;
  ScheduleRepaint();
}

void StringGrid::ScheduleRepaint() {
  // One update() per batch of changes: the flag drops when the paint comes.
  if (repaintPending_) return;
  repaintPending_ = true;
  viewport()->update();
}

void StringGrid::setDefaultColumnWidth(int w) {
  w = std::max(w, 0);
  if (w == colWidth_) return;
  colWidth_ = w;
  viewport()->update();
}

void StringGrid::setDefaultRowHeight(int h) {
  h = std::max(h, 0);
  std::fill(rowHeights_.begin(), rowHeights_.end(), 0);
  rowHeight_ = h;
  UpdateScrollBar();
  viewport()->update();
}

void StringGrid::setRowHeight(int row, int h) {
  if (row < 0 || row >= rows_) return;
  rowHeights_[std::size_t(row)] = std::max(h, 0);
  UpdateScrollBar();
  viewport()->update();
}

int StringGrid::rowHeight(int row) const {
  if (row < 0 || row >= rows_) return 0;
  const int own = rowHeights_[std::size_t(row)];
  return own > 0 ? own : rowHeight_;
}

void StringGrid::setCurrentRow(int row) { MoveTo(currentCol_, row, false); }

void StringGrid::setCurrentCell(int col, int row) { MoveTo(col, row, false); }

void StringGrid::MoveTo(int col, int row, bool fromUser) {
  if (rows_ < 2 || columns_ < 2) return;
  col = std::clamp(col, 1, columns_ - 1);
  row = std::clamp(row, 1, rows_ - 1);
  if (col != currentCol_ || row != currentRow_) {
    emit cellSelecting(col, row);
    const bool rowChanged = row != currentRow_;
    currentCol_ = col;
    currentRow_ = row;
    // Keep the current row in view.
    if (row < topRow_) {
      setTopRow(row);
    } else {
      int top = topRow_;
      const int room = viewport()->height() - rowHeight(0) - kLine;
      auto span = [&](int from) {
        int h = 0;
        for (int r = from; r <= row; ++r) h += rowHeight(r) + kLine;
        return h;
      };
      while (top < row && span(top) > room) ++top;
      if (top != topRow_) setTopRow(top);
    }
    viewport()->update();
    if (rowChanged) emit currentRowChanged(row);
  }
  if (fromUser) emit clicked();
}

void StringGrid::setTopRow(int row) {
  if (rows_ < 2) return;
  verticalScrollBar()->setValue(std::clamp(row, 1, rows_ - 1) - 1);
}

void StringGrid::scrollContentsBy(int, int) {
  topRow_ = 1 + verticalScrollBar()->value();
  viewport()->update();
}

int StringGrid::ColumnLeft(int col) const { return col * (colWidth_ + kLine); }

int StringGrid::VisibleScrollingRows() const {
  int y = rowHeight(0) + kLine;
  int n = 0;
  for (int r = topRow_; r < rows_; ++r) {
    y += rowHeight(r) + kLine;
    if (y > viewport()->height() + kLine) break;
    ++n;
  }
  return std::max(n, 1);
}

void StringGrid::UpdateScrollBar() {
  QScrollBar* bar = verticalScrollBar();
  if (rows_ < 2) {
    bar->setRange(0, 0);
    return;
  }
  // The last top row that still shows the last row in full.
  const int room = viewport()->height() - rowHeight(0) - kLine;
  int used = 0;
  int lastTop = rows_ - 1;
  for (int r = rows_ - 1; r >= 1; --r) {
    used += rowHeight(r) + kLine;
    if (used - kLine > room) break;
    lastTop = r;
  }
  bar->setRange(0, lastTop - 1);
  bar->setPageStep(VisibleScrollingRows());
  topRow_ = 1 + bar->value();
}

void StringGrid::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBar();
}

QRect StringGrid::cellRect(int col, int row) const {
  if (col < 0 || row < 0 || col >= columns_ || row >= rows_) return QRect();
  int top = 0;
  if (row > 0) {
    if (row < topRow_) return QRect();
    top = rowHeight(0) + kLine;
    for (int r = topRow_; r < row; ++r) top += rowHeight(r) + kLine;
  }
  return QRect(ColumnLeft(col), top, colWidth_, rowHeight(row));
}

QString StringGrid::ShownText(int col, int row) const {
  const QString text = Cells(col, row);
  if (text.isEmpty()) return text;
  const QFontMetrics fm(font());
  const int room = colWidth_ - kTextInset;
  if (fm.horizontalAdvance(text) <= room) return text;
  return fm.elidedText(text, Qt::ElideRight, std::max(room, 0));
}

QString StringGrid::ToolTipAt(const QPoint& viewportPos) const {
  int col = 0, row = 0;
  if (!cellAt(viewportPos, col, row)) return QString();
  const QString text = Cells(col, row);
  return ShownText(col, row) == text ? QString() : text;
}

bool StringGrid::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const QString tip = ToolTipAt(help->pos());
    if (tip.isEmpty()) {
      QToolTip::hideText();
      event->ignore();
    } else {
      int col = 0, row = 0;
      cellAt(help->pos(), col, row);
      QToolTip::showText(help->globalPos(), tip, viewport(), cellRect(col, row));
    }
    return true;
  }
  return QAbstractScrollArea::viewportEvent(event);
}

bool StringGrid::cellAt(const QPoint& pos, int& col, int& row) const {
  if (pos.x() < 0 || pos.y() < 0 || colWidth_ + kLine <= 0) return false;
  const int c = pos.x() / (colWidth_ + kLine);
  if (c >= columns_) return false;
  int y = 0;
  int r = 0;
  while (r < rows_) {
    const int h = rowHeight(r) + kLine;
    if (pos.y() < y + h) break;
    y += h;
    r = (r == 0) ? topRow_ : r + 1;
  }
  if (r >= rows_) return false;
  col = c;
  row = r;
  return true;
}

void StringGrid::paintEvent(QPaintEvent* event) {
  repaintPending_ = false;
  QPainter p(viewport());
  const QPalette& pal = palette();
  const QRect area = event->rect();
  p.fillRect(area, pal.color(QPalette::Window));
  const QColor fixedFill = pal.color(QPalette::Button);
  const QColor cellFill = pal.color(QPalette::Base);
  const QColor lineColour = pal.color(QPalette::Mid);
  const QColor fixedLine = pal.color(QPalette::Dark);
  const QColor text = pal.color(QPalette::Text);
  const QColor fixedText = pal.color(QPalette::ButtonText);
  const QColor selFill = pal.color(QPalette::Highlight);
  const QColor selText = pal.color(QPalette::HighlightedText);
  const int viewH = viewport()->height();
  p.setFont(font());

  // The rows on view: the header, then the scrolling rows from topRow_.
  struct Shown {
    int row, top;
  };
  std::vector<Shown> shown;
  shown.reserve(32);
  if (rows_ > 0) shown.push_back({0, 0});
  for (int row = topRow_, y = rowHeight(0) + kLine; row < rows_ && y < viewH;
       y += rowHeight(row) + kLine, ++row)
    shown.push_back({row, y});

  // Backgrounds and lines first, then the texts column by column with one
  // clip per column. A text wider than its cell is cut with an ellipsis
  // (the whole text is its tooltip).
  const QFontMetrics fm(font());
  for (int col = 0; col < columns_; ++col) {
    const int left = ColumnLeft(col);
    if (left > area.right()) break;
    for (const Shown& r : shown) {
      const QRect cell(left, r.top, colWidth_, rowHeight(r.row));
      if (!cell.adjusted(0, 0, kLine, kLine).intersects(area)) continue;
      const bool fixed = r.row == 0 || col == 0;
      const bool current = !fixed && r.row == currentRow_ && col == currentCol_;
      p.fillRect(cell, fixed ? fixedFill : (current ? selFill : cellFill));
      p.setPen(fixed ? fixedLine : lineColour);
      p.drawLine(cell.right() + 1, cell.top(), cell.right() + 1, cell.bottom() + 1);
      p.drawLine(cell.left(), cell.bottom() + 1, cell.right() + 1, cell.bottom() + 1);
    }
    p.setClipRect(QRect(left, 0, colWidth_, viewH).intersected(area));
    for (const Shown& r : shown) {
      const QString& whole = cells_[std::size_t(r.row) * columns_ + col];
      if (whole.isEmpty()) continue;
      const QString t = fm.horizontalAdvance(whole) <= colWidth_ - kTextInset ? whole : ShownText(col, r.row);
      const bool fixed = r.row == 0 || col == 0;
      const bool current = !fixed && r.row == currentRow_ && col == currentCol_;
      p.setPen(fixed ? fixedText : (current ? selText : text));
      p.drawText(left + kTextInset, r.top + kTextInset + fm.ascent(), t);
    }
    p.setClipping(false);
  }

  if (hasFocus() && rows_ > 1 && columns_ > 1) {
    const QRect cur = cellRect(currentCol_, currentRow_);
    if (!cur.isEmpty()) {
      p.setPen(selText);
      p.drawRect(cur.adjusted(0, 0, -1, -1));
    }
  }
}

void StringGrid::keyPressEvent(QKeyEvent* event) {
  int col = currentCol_, row = currentRow_;
  const int page = VisibleScrollingRows();
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  switch (event->key()) {
    case Qt::Key_Up:
      --row;
      break;
    case Qt::Key_Down:
      ++row;
      break;
    case Qt::Key_Left:
      --col;
      break;
    case Qt::Key_Right:
      ++col;
      break;
    case Qt::Key_PageUp:
      row -= page;
      break;
    case Qt::Key_PageDown:
      row += page;
      break;
    case Qt::Key_Home:
      if (ctrl)
        row = 1;
      else
        col = 1;
      break;
    case Qt::Key_End:
      if (ctrl)
        row = rows_ - 1;
      else
        col = columns_ - 1;
      break;
    default:
      QAbstractScrollArea::keyPressEvent(event);
      return;
  }
  event->accept();
  if (rows_ < 2 || columns_ < 2) return;
  col = std::clamp(col, 1, columns_ - 1);
  row = std::clamp(row, 1, rows_ - 1);
  if (col != currentCol_ || row != currentRow_) MoveTo(col, row, true);
}

void StringGrid::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  if (event->button() != Qt::LeftButton) return;
  int col = 0, row = 0;
  if (!cellAt(event->position().toPoint(), col, row)) return;
  if (col == 0 || row == 0) return;  // the headers are not selectable
  MoveTo(col, row, true);
}

void StringGrid::mouseReleaseEvent(QMouseEvent* event) { event->accept(); }

void StringGrid::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) emit doubleClicked();
}

void StringGrid::wheelEvent(QWheelEvent* event) {
  const int notches = event->angleDelta().y() / 120;
  if (notches == 0) return;
  setTopRow(topRow_ - notches * 3);
  event->accept();
}

QSize StringGrid::sizeHint() const {
  int h = 2 * frameWidth();
  for (int r = 0; r < std::min(rows_, 6); ++r) h += rowHeight(r) + kLine;
  return QSize(2 * frameWidth() + columns_ * (colWidth_ + kLine) + verticalScrollBar()->sizeHint().width(),
               h);
}

}  // namespace qd
