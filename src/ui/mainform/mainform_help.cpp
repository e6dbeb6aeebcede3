#include "ui/common/app_globals.h"
#include "ui/help/about_box.h"
#include "ui/help/help_viewer.h"
#include "ui/mainform/mainform.h"

namespace qd {

void TMainForm::Help1Click() { ShowHelpFile(this, QStringLiteral("DovURERuz.hlp")); }

void TMainForm::RusHelpClick() { ShowHelpFile(this, QStringLiteral("DovADEDud.HLP")); }

void TMainForm::PolHelpClick() { ShowHelpFile(this, QStringLiteral("VadARUDar.HLP")); }

void TMainForm::About1Click() {
  if (AboutBox != nullptr) {
    AboutBox->exec();
    return;
  }
  // The program creates its box at start; a window built on its own gets a
  // box for this one showing.
  TAboutBox box(this);
  box.exec();
}

}  // namespace qd
