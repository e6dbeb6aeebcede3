#include <QCloseEvent>

#include "ui/mainform/mainform.h"

namespace qd {

void TMainForm::GoClick() {}
void TMainForm::RunSteps(int) {}
void TMainForm::LTimeDblClick() {}
void TMainForm::Open1Click() {}
void TMainForm::Save1Click() {}
void TMainForm::Saveas1Click() {}
void TMainForm::Exit1Click() {}
void TMainForm::SaveConfigWithDialog() {}
void TMainForm::CommentChange() {}
void TMainForm::CommentExit() {}
void TMainForm::Spiral1Click() {}
void TMainForm::Daons1Click() {}
void TMainForm::Null00Click() {}
void TMainForm::OpenFromCommandLine(const QString&) {}

void TMainForm::closeEvent(QCloseEvent* event) { QMainWindow::closeEvent(event); }

}  // namespace qd
