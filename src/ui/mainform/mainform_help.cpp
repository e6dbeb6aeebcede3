#include "ui/mainform/mainform.h"

namespace qd {

void TMainForm::Help1Click() {}
void TMainForm::RusHelpClick() {}
void TMainForm::PolHelpClick() {}
void TMainForm::About1Click() {}

}  // namespace qd
