// The window icon and the launcher name the desktop matches windows with.
#include "ui/common/desktop_identity.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QWidget>

namespace qd {
namespace {

TEST(DesktopIdentity, EveryWindowCarriesTheProgramsIconAndLauncherName) {
  // With no icon theme to ask, the built-in copy must still be there: a
  // resource that was not linked in leaves the icon empty.
  const QString oldTheme = QIcon::themeName();
  QIcon::setThemeName(QStringLiteral("no-such-theme"));
  const QIcon builtIn = ProgramIcon();
  const QImage image = builtIn.pixmap(64, 64).toImage();
  QIcon::setThemeName(oldTheme);
  // Menus and task bars take a drawing made for their size, not a shrunk one.
  for (int size : {16, 24, 32, 48, 64, 128})
    EXPECT_TRUE(builtIn.availableSizes().contains(QSize(size, size))) << size;
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), QSize(64, 64));
  // Opaque in the middle: a picture was drawn, not a blank.
  EXPECT_EQ(qAlpha(image.pixel(32, 32)), 255);

  // The identity itself sets the title the class comes from.
  QCoreApplication::setApplicationName(QStringLiteral("quindelle_ui_tests"));
  ApplyDesktopIdentity();
  // The name must be the launcher's, or the desktop cannot pair the two.
  const QDir dist(QStringLiteral(QUINDELLE_SOURCE_DIR "/dist"));
  EXPECT_TRUE(dist.exists(QGuiApplication::desktopFileName() + QStringLiteral(".desktop")))
      << QGuiApplication::desktopFileName().toStdString();
  // On X11 the application name is the class of every window's WM_CLASS;
  // the launcher must name the same class or the desktop shows the running
  // window apart from its launcher.
  QFile launcher(dist.filePath(QGuiApplication::desktopFileName() + QStringLiteral(".desktop")));
  ASSERT_TRUE(launcher.open(QIODevice::ReadOnly | QIODevice::Text));
  QString wmClass;
  for (const QString& line : QString::fromUtf8(launcher.readAll()).split(QLatin1Char('\n')))
    if (line.startsWith(QStringLiteral("StartupWMClass="))) wmClass = line.mid(15).trimmed();
  EXPECT_EQ(wmClass, QCoreApplication::applicationName());
  QWidget window;
  EXPECT_FALSE(window.windowIcon().isNull());
  EXPECT_EQ(window.windowIcon().cacheKey(), QApplication::windowIcon().cacheKey());
}

}  // namespace
}  // namespace qd
