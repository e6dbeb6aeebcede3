// One QApplication for all widget tests; they run headless (offscreen).
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // Never touch the user's own start-pointer file.
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Pellarin"));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
