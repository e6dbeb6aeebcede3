#pragma once
// The program's three windows, created once at start in this order and kept
// until the end.
namespace qd {

class TMainForm;
class TEditDlg;
class TAboutBox;

extern TMainForm* MainForm;
extern TEditDlg* EditDlg;
extern TAboutBox* AboutBox;

}  // namespace qd
