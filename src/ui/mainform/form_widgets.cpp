#include "ui/mainform/form_widgets.h"

#include <QMouseEvent>
#include <QPainter>

namespace qd {

TShape::TShape(QWidget* parent) : QWidget(parent) {}

void TShape::setBrushColor(const QColor& c) {
  if (c == brush_) return;
  brush_ = c;
  update();
}

void TShape::paintEvent(QPaintEvent*) {
  // A circle as large as the shorter side, centred, with a thin black pen.
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing, true);
  const int d = std::min(width(), height()) - 1;
  const int x = (width() - d) / 2;
  const int y = (height() - d) / 2;
  p.setPen(QPen(Qt::black, 1));
  p.setBrush(brush_);
  p.drawEllipse(x, y, d - 1, d - 1);
}

void TClickLabel::mouseDoubleClickEvent(QMouseEvent* event) {
  QLabel::mouseDoubleClickEvent(event);
  emit doubleClicked();
}

}  // namespace qd
