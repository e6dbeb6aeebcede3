// The View menu's "Run History" and going back to a recorded step.
#include "ui/history/history_window.h"
#include "ui/mainform/form_widgets.h"
#include "ui/mainform/mainform.h"

namespace qd {

void TMainForm::RunHistory1Click() {
  THistoryWindow* w = windows_.history;
  if (!w) return;
  // Not modal: a run goes on while the window is open.
  w->ShowBeside(*this);
}

void TMainForm::ContinueFromSnapshot(std::size_t index) {
  SimState& s = state_;
  if (!s.Stopped || RunActive() || s.ImageMode || index >= history_.Size()) return;
  InstallSnapshot(history_.At(index), s);
  history_.TruncateAfter(index);
  ShowStepCountCaption();
  ShowParameters();
  Redraw();
  FillListing();
}

}  // namespace qd
