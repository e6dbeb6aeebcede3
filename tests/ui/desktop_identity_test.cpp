// The window icon and the launcher name the desktop matches windows with.
#include "ui/common/desktop_identity.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
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
  const QImage image = ProgramIcon().pixmap(64, 64).toImage();
  QIcon::setThemeName(oldTheme);
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), QSize(64, 64));
  // Opaque in the middle: a picture was drawn, not a blank.
  EXPECT_EQ(qAlpha(image.pixel(32, 32)), 255);

  ApplyDesktopIdentity();
  // The name must be the launcher's, or the desktop cannot pair the two.
  const QDir dist(QFileInfo(QStringLiteral(__FILE__)).dir().filePath(QStringLiteral("../../dist")));
  EXPECT_TRUE(dist.exists(QGuiApplication::desktopFileName() + QStringLiteral(".desktop")))
      << QGuiApplication::desktopFileName().toStdString();
  QWidget window;
  EXPECT_FALSE(window.windowIcon().isNull());
  EXPECT_EQ(window.windowIcon().cacheKey(), QApplication::windowIcon().cacheKey());
}

}  // namespace
}  // namespace qd
