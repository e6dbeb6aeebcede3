#include "ui/view/picture_canvas.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

namespace qd {

PictureCanvas::PictureCanvas(QWidget* parent) : QWidget(parent), image_(1, 1, QImage::Format_RGB32) {
  image_.fill(Qt::black);
  // The image covers every pixel: no background erase, no flicker.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureCanvas::blit() {
  if (inSystemPaint_) return;
  if (held_) {
    pending_ = true;
    return;
  }
  pending_ = false;
  blitting_ = true;
  repaint();
  blitting_ = false;
}

void PictureCanvas::holdBlits(bool hold) {
  held_ = hold;
  if (!hold && pending_) blit();
}

void PictureCanvas::showPending() {
  if (!pending_) return;
  const bool held = held_;
  held_ = false;
  blit();
  held_ = held;
}

void PictureCanvas::paintEvent(QPaintEvent* event) {
  if (!blitting_) {
    inSystemPaint_ = true;
    struct Reset {
      bool& flag;
      ~Reset() { flag = false; }
    } reset{inSystemPaint_};
    emit systemPaint();
  }
  // Whatever is pending is shown now, at least in the area painted.
  if (event->rect().contains(rect())) pending_ = false;
  // One copy per rectangle of the area, each under a clip of that rectangle
  // alone. The labels that lie on the picture leave an area of several
  // rectangles, and under such a clip the painter blends the image span by
  // span and hands the spans to helper threads, then waits for them: half a
  // millisecond or more a copy on a busy two-core machine, against tens of
  // microseconds for plain copies of rows.
  QPainter p(this);
  for (const QRect& r : event->region()) {
    p.setClipRect(r);
    p.drawImage(r.topLeft(), image_, r);
  }
}

QImage& PictureCanvas::image() {
  FitImage();
  return image_;
}

void PictureCanvas::resizeEvent(QResizeEvent*) { FitImage(); }

void PictureCanvas::FitImage() {
  if (image_.size() == size() || size().isEmpty()) return;
  // Keep what was drawn; the owner redraws the whole picture after a resize.
  QImage next(size(), QImage::Format_RGB32);
  next.fill(Qt::black);
  {
    QPainter p(&next);
    p.drawImage(0, 0, image_);
  }
  image_ = std::move(next);
}

void PictureCanvas::mousePressEvent(QMouseEvent* e) {
  emit mousePressed(e->button(), e->position().toPoint());
}
void PictureCanvas::mouseReleaseEvent(QMouseEvent* e) {
  emit mouseReleased(e->button(), e->position().toPoint());
}

}  // namespace qd
