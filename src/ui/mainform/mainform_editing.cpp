#include "ui/mainform/mainform.h"

namespace qd {

void TMainForm::New1Click() {}

}  // namespace qd
