#pragma once
#include <QDialog>
#include <functional>

#include "core/dynamics/options.h"
#include "core/state/sim_state.h"

namespace qd {

// The editor of slots and parameters.
class TEditDlg : public QDialog {
  Q_OBJECT
 public:
  // `signMode` tells which of the main window's sign-mode buttons is checked.
  TEditDlg(SimState& state, std::function<SignMode()> signMode, QWidget* parent = nullptr);

 private:
  SimState& state_;
  std::function<SignMode()> signMode_;
};

}  // namespace qd
