#pragma once
// A main window started against a fresh, private configuration folder, with
// scripted dialogs, so that each test sees exactly the files it makes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <string>

#include "core/persistence/config_record.h"
#include "core/state/sim_state.h"
#include "tests/ui/scripted_dialogs.h"
#include "ui/mainform/mainform.h"

namespace qd {

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    oldConfigHome_ = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir_.path().toLocal8Bit());
  }
  void TearDown() override {
    form.reset();
    qputenv("XDG_CONFIG_HOME", oldConfigHome_);
  }

  QString Folder() const { return dir_.path(); }
  QString PointerPath() const { return dir_.path() + QStringLiteral("/quindelle/Start.pln3"); }

  // Writes the start-pointer file with exactly these bytes.
  void WritePointer(const QByteArray& content) {
    QDir().mkpath(dir_.path() + QStringLiteral("/quindelle"));
    WriteBytes(PointerPath(), content);
  }
  QByteArray ReadBytes(const QString& path) const {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QByteArray("<missing>");
    return f.readAll();
  }
  static void WriteBytes(const QString& path, const QByteArray& content) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
  }

  // Writes `config` as a configuration file at `path` (inside the folder).
  QString WriteConfig(SimState config, const QString& name) {
    const QString path = dir_.path() + QLatin1Char('/') + name;
    FillConfigRecord(config);
    WriteConfigFile(config, path.toStdString());
    return path;
  }

  // Creates the window; its start-up runs now.
  TMainForm& Start() {
    form = std::make_unique<TMainForm>(state);
    return *form;
  }
  // Shows the window and lets its first paint happen.
  TMainForm& StartShown() {
    Start();
    form->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    Settle();
    return *form;
  }
  static void Settle() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
  }

  SimState state;
  ScopedScriptedDialogs dialogs;
  std::unique_ptr<TMainForm> form;

 private:
  QTemporaryDir dir_;
  QByteArray oldConfigHome_;
};

}  // namespace qd
