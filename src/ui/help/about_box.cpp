#include "ui/help/about_box.h"

#include <QFont>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "ui/common/fonts.h"

namespace qd {

namespace {

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int top, int height) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(name));
  label->setGeometry(8, top, 311, height);
  label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
  label->setWordWrap(true);
  return label;
}

}  // namespace

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("AboutBox"));
  setWindowTitle(QStringLiteral("About"));
  setModal(true);
  setFixedSize(343, 222);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  QFont font = WindowFont(11);
  setFont(font);

  Panel1 = new QFrame(this);
  Panel1->setObjectName(QStringLiteral("Panel1"));
  Panel1->setFrameShape(QFrame::Panel);
  Panel1->setFrameShadow(QFrame::Sunken);
  Panel1->setGeometry(8, 8, 327, 161);

  ProductName = MakeLabel(Panel1, "ProductName", QStringLiteral("Quindelle"), 12, 36);
  QFont titleFont = font;
  titleFont.setPixelSize(24);
  titleFont.setBold(true);
  ProductName->setFont(titleFont);

  Comments = MakeLabel(Panel1, "Comments",
                       QStringLiteral("Simulates up to 60 particles in three dimensions "
                                      "under a pairwise interaction law."),
                       60, 52);

  Version = MakeLabel(Panel1, "Version", QStringLiteral("Version " QUINDELLE_VERSION), 114, 20);
  Licence = MakeLabel(Panel1, "Licence",
                      QStringLiteral("Free software under the GNU General Public License, "
                                     "version 3 or later. No warranty."),
                      134, 26);
  Licence->setFont(WindowFont(10));

  OKButton = new QPushButton(QStringLiteral("OK"), this);
  OKButton->setObjectName(QStringLiteral("OKButton"));
  OKButton->setGeometry(134, 182, 75, 26);
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

void TAboutBox::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // The box always opens in the middle of the screen, not over its owner.
  if (QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

}  // namespace qd
