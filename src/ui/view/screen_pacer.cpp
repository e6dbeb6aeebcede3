#include "ui/view/screen_pacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QScreen>
#include <QWidget>

#include "ui/view/picture_canvas.h"

namespace qd {

ScreenPacer::ScreenPacer(QWidget* window, PictureCanvas* canvas, FramePacer& frames)
    : window_(window), canvas_(canvas), frames_(frames) {
  frames_.Restart(canvas->screen() ? canvas->screen()->refreshRate() : 0);
  canvas_->holdBlits(true);
  window_->installEventFilter(this);
  clock_.start();
}

ScreenPacer::~ScreenPacer() {
  window_->removeEventFilter(this);
  open_ = true;
  canvas_->holdBlits(false);
  SyncHeld();
}

void ScreenPacer::BeforeEvents() {
  const qint64 now = clock_.nsecsElapsed();
  if (!frames_.Due(now)) return;
  open_ = true;
  canvas_->showPending();
  SyncHeld();
  frames_.Shown(now, clock_.nsecsElapsed());
}

bool ScreenPacer::eventFilter(QObject* watched, QEvent* event) {
  if (watched != window_ || event->type() != QEvent::UpdateRequest) return false;
  // A request that passes repaints everything marked, the held one's too.
  held_ = !open_;
  return !open_;
}

void ScreenPacer::SyncHeld() {
  if (!held_) return;
  held_ = false;
  QEvent request(QEvent::UpdateRequest);
  QCoreApplication::sendEvent(window_, &request);
}

}  // namespace qd
