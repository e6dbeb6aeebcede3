#include "ui/help/about_box.h"

namespace qd {

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(QStringLiteral("About"));
  setModal(true);
  setFixedSize(343, 222);
}

}  // namespace qd
