// The View menu's "Run History" and going back to a recorded step.
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include "core/history/history_archive.h"
#include "ui/common/dialogs.h"
#include "ui/common/field_text.h"
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

void TMainForm::OpenArchive(const QString& path) {
  // Read and checked whole before anything changes: a damaged archive
  // leaves the window as it was.
  const archive::Reader archived(PathBytes(path));
  RunHistory read(run_.History().MemoryLimit());
  const LoadedArchive loaded = LoadHistoryArchive(archived, PathBytes(path), read);
  SimState& s = state_;
  s.ImageMode = false;
  Go->setEnabled(true);
  Null00->setEnabled(true);
  run_.StateReplaced();
  run_.History().Adopt(std::move(read));
  InstallSnapshot(run_.History().At(run_.History().Size() - 1), s);
  SetStepOptions(loaded.options);
  run_.Options() = loaded.options;
  // Not a configuration: Save asks where to write one.
  s.CurrentName.clear();
  ShowFieldText(FName, path);
  ShowStepCountCaption();
  ShowParameters();
  Redraw();
  FillListing();
  MarkStateSaved();
  if (windows_.history) {
    windows_.history->ShowBeside(*this);
    windows_.history->Refresh();
  }
  if (loaded.tornTail)
    AppDialogs().Information(this, QStringLiteral("The archive ends with a snapshot cut short (a run stopped "
                                                  "while writing it); the snapshots before it were read."));
  if (!loaded.fault.empty())
    AppDialogs().Information(this, QStringLiteral("The archived run ended with a floating-point fault after "
                                                  "step %1: %2")
                                       .arg(s.StepCount)
                                       .arg(QString::fromStdString(loaded.fault)));
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
