#include "ui/editing/edit_dlg.h"

namespace qd {

TEditDlg::TEditDlg(SimState& state, std::function<SignMode()> signMode, QWidget* parent)
    : QDialog(parent), state_(state), signMode_(std::move(signMode)) {
  setObjectName(QStringLiteral("EditDlg"));
  setWindowTitle(QStringLiteral(" Editing of gravon's or taon's values"));
  setModal(true);
  setFixedSize(787, 449);
}

}  // namespace qd
