#pragma once
// A fresh editor dialog over its own state, with scripted file dialogs and a
// temporary folder for the files it writes.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <memory>
#include <ostream>

#include "core/editing/number_text.h"
#include "core/state/sim_state.h"
#include "tests/ui/scripted_dialogs.h"
#include "ui/editing/edit_dlg.h"

// Readable failure messages for texts.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace qd::testing_editor {

// A decimal literal written with the separator the program reads.
inline QString Num(const char* text) {
  QString s = QString::fromLatin1(text);
  s.replace(QLatin1Char('.'), QLatin1Char(LocaleDecimalSeparator()));
  return s;
}

inline QString Txt(Extended v) { return QString::fromStdString(FloatToText(v, LocaleDecimalSeparator())); }

// The 10-byte value at `offset` of a written configuration file.
inline Extended ValueAt(const QByteArray& bytes, int offset) {
  Extended v = 0;
  std::memcpy(&v, bytes.constData() + offset, 10);
  return v;
}

inline QByteArray ReadAll(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}

class EditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    st.TaonCount = kSlotCount;
    st.Dt = 0.01L;
    st.A1 = 1;
    st.B1 = 1;
    st.C1 = 2;
    st.D1 = 3;
    st.F1 = 4;
    st.A2 = 1;
    st.B2 = 1;
    st.C2 = 2;
    st.D2 = 3;
    st.F2 = 4;
    st.CurrentName = dir.filePath(QStringLiteral("current.pln")).toStdString();
    st.StartFileName = st.CurrentName;
    dlg = std::make_unique<TEditDlg>(st, [this] { return sign; });
  }
  void TearDown() override {
    if (dlg && dlg->isVisible()) dlg->hide();
  }

  // Puts a particle in slot s with the given position and velocity.
  void Place(int s, Extended x, Extended y, Extended z, Extended ux = 0, Extended uy = 0, Extended uz = 0) {
    st.X[s] = x;
    st.Y[s] = y;
    st.Z[s] = z;
    st.UX[s] = ux;
    st.UY[s] = uy;
    st.UZ[s] = uz;
    st.Present[s] = 1;
  }

  void Open() {
    dlg->show();
    QCoreApplication::processEvents();
  }
  void Reopen() {
    dlg->hide();
    QCoreApplication::processEvents();
    Open();
  }

  QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

  QTemporaryDir dir;
  SimState st;
  SignMode sign = SignMode::Gravoscope;
  ScopedScriptedDialogs dialogs;
  std::unique_ptr<TEditDlg> dlg;
};

}  // namespace qd::testing_editor
