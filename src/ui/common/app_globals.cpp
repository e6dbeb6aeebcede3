#include "ui/common/app_globals.h"

namespace qd {

TMainForm* MainForm = nullptr;
TEditDlg* EditDlg = nullptr;
TAboutBox* AboutBox = nullptr;

}  // namespace qd
