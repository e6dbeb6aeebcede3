#include "ui/view/picture_canvas.h"

#include <QMouseEvent>
#include <QPainter>

namespace qd {

PictureCanvas::PictureCanvas(QWidget* parent) : QWidget(parent) {}

void PictureCanvas::blit() { repaint(); }

void PictureCanvas::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.drawImage(0, 0, image_);
}

void PictureCanvas::resizeEvent(QResizeEvent*) {
  QImage next(size(), QImage::Format_RGB32);
  next.fill(Qt::black);
  image_ = next;
}

void PictureCanvas::mousePressEvent(QMouseEvent* e) { emit mousePressed(e->button(), e->position().toPoint()); }
void PictureCanvas::mouseReleaseEvent(QMouseEvent* e) { emit mouseReleased(e->button(), e->position().toPoint()); }

}  // namespace qd
