#include "ui/common/desktop_identity.h"

#include <QApplication>
#include <QString>

namespace qd {

QIcon ProgramIcon() {
  // The built-in copy is a PNG rendering of the scalable icon: loading the
  // SVG would need an image plugin that a plain Qt installation lacks.
  return QIcon::fromTheme(QString::fromLatin1(kDesktopId),
                          QIcon(QStringLiteral(":/icons/org.quindelle.Quindelle.png")));
}

void ApplyDesktopIdentity() {
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopId));
  QApplication::setWindowIcon(ProgramIcon());
}

}  // namespace qd
