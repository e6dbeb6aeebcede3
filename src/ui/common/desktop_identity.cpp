#include "ui/common/desktop_identity.h"

#include <QApplication>
#include <QString>

namespace qd {

QIcon ProgramIcon() {
  // The built-in copy is a PNG rendering of the scalable icon: loading the
  // SVG would need an image plugin that a plain Qt installation lacks.
  QIcon builtIn(QStringLiteral(":/icons/org.quindelle.quindelle.png"));
  for (int size : {16, 24, 32, 48, 64}) builtIn.addFile(QStringLiteral(":/icons/icons/%1.png").arg(size));
  return QIcon::fromTheme(QString::fromLatin1(kDesktopId), builtIn);
}

void ApplyDesktopIdentity() {
  QApplication::setApplicationName(QString::fromLatin1(kApplicationName));
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopId));
  QApplication::setWindowIcon(ProgramIcon());
}

}  // namespace qd
