// The View menu's "Run History" and going back to a recorded step.
#include <QImage>

#include "ui/history/history_window.h"
#include "ui/mainform/form_widgets.h"
#include "ui/mainform/mainform.h"
#include "ui/view/picture_canvas.h"
#include "ui/view/scene.h"

namespace qd {

void TMainForm::RunHistory1Click() {
  THistoryWindow* w = windows_.history;
  if (!w) return;
  // Not modal: a run goes on while the window is open.
  w->ShowBeside(*this);
}

bool TMainForm::CanContinue() const { return state_.Stopped && !RunActive() && !state_.ImageMode; }

void TMainForm::ContinueFromSnapshot(std::size_t index) {
  if (!CanContinue() || !run_.ContinueFrom(index)) return;
  ShowStepCountCaption();
  ShowParameters();
  Redraw();
  FillListing();
}

QImage TMainForm::DrawSnapshot(const Snapshot& snap) const {
  SimState view = state_;
  InstallSnapshot(snap, view);
  const QSize area = Canvas->size().isEmpty() ? QSize(596, 176) : Canvas->size();
  QImage image(area, QImage::Format_RGB32);
  image.fill(Qt::black);
  qd::DrawParticles(image, view, CurrentSceneStyle());
  return image;
}

}  // namespace qd
