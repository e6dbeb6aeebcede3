// One QApplication for all widget tests; they run headless (offscreen).
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <memory>

#include "tests/core/comma_locale.h"

int main(int argc, char** argv) {
  // Headless unless a test run asks for a real display (the tests that need
  // one are started again under Xvfb with QD_UI_TEST_PLATFORM=xcb).
  const QByteArray platform = qgetenv("QD_UI_TEST_PLATFORM");
  qputenv("QT_QPA_PLATFORM", platform.isEmpty() ? QByteArray("offscreen") : platform);
  // Never touch the user's own start-pointer file.
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Pellarin"));
  ::testing::InitGoogleTest(&argc, argv);
  // QD_DECIMAL_COMMA=1 runs the selected tests under a decimal-comma
  // LC_NUMERIC, so the fields' number texts are exercised with both separators.
  std::unique_ptr<qd::testing::CommaNumericLocale> comma;
  if (qEnvironmentVariableIntValue("QD_DECIMAL_COMMA") == 1) {
    comma = std::make_unique<qd::testing::CommaNumericLocale>();
    if (!comma->active()) {
      std::fputs("no locale with a decimal comma can be had here\n", stderr);
      return 1;
    }
  }
  return RUN_ALL_TESTS();
}
