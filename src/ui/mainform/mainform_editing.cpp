#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include "core/persistence/config_record.h"
#include "ui/common/field_text.h"
#include "ui/editing/edit_dlg.h"
#include "ui/mainform/form_widgets.h"
#include "ui/mainform/mainform.h"

namespace qd {

TEditDlg& TMainForm::Editor() {
  if (windows_.editor == nullptr) {
    windows_.editor = new TEditDlg(
        state_, [this] { return CurrentSignMode(); }, this);
  }
  return *windows_.editor;
}

void TMainForm::New1Click() {
  if (Editor().Execute() != QDialog::Accepted) return;
  // OK always leaves a configuration to simulate, saved or not: the committed
  // arrays as the editor left them.
  state_.ImageMode = false;
  Go->setEnabled(true);
  Null00->setEnabled(true);
  ShowFieldText(FName, PathText(state_.CurrentName));
  run_.StateReplaced();
  state_.StepCount = 0;
  LTime->setText(QStringLiteral("0"));
  Redraw();
  FillListing();
  ShowParameters();
  // The editor's OK may have saved what it installed.
  if (CanLoadConfiguration(state_.CurrentName)) {
    SimState saved;
    ReadConfigFile(saved, state_.CurrentName);
    const ConfigRecordBuffer before = state_.ConfigRecord;
    FillConfigRecord(state_);
    const bool same = state_.ConfigRecord == saved.ConfigRecord;
    state_.ConfigRecord = before;
    if (same) MarkStateSaved();
  }
}

}  // namespace qd
