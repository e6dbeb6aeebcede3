#include "ui/help/about_box.h"
#include "ui/help/help_viewer.h"
#include "ui/mainform/mainform.h"

namespace qd {

void TMainForm::Help1Click() { ShowHelpFile(this, QStringLiteral("DovURERuz.hlp")); }

void TMainForm::RusHelpClick() { ShowHelpFile(this, QStringLiteral("DovADEDud.HLP")); }

void TMainForm::PolHelpClick() { ShowHelpFile(this, QStringLiteral("VadARUDar.HLP")); }

TAboutBox& TMainForm::About() {
  if (windows_.about == nullptr) windows_.about = new TAboutBox(this);
  return *windows_.about;
}

void TMainForm::About1Click() { About().exec(); }

}  // namespace qd
