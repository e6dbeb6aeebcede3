// One QApplication for all widget tests; they run headless (offscreen).
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>
#include <memory>

#include "tests/core/comma_locale.h"

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
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
