#pragma once
// Every file dialog and message box of the program goes through this
// interface, so that tests can script the user's answers and never block on
// a real modal dialog.
#include <QString>
#include <optional>

class QWidget;

namespace qd {

struct FileDialogSpec {
  QString filter = QStringLiteral("Taons files (*.pln)");
  QString defaultSuffix = QStringLiteral("pln");
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // The chosen path, or nothing when the user cancels.
  virtual std::optional<QString> OpenFile(QWidget* parent, const FileDialogSpec& options) = 0;
  virtual std::optional<QString> SaveFile(QWidget* parent, const FileDialogSpec& options) = 0;
  // True for Yes.
  virtual bool AskYesNo(QWidget* parent, const QString& text) = 0;
  virtual void Information(QWidget* parent, const QString& text) = 0;
  virtual void Error(QWidget* parent, const QString& text) = 0;
};

// The real dialogs of the desktop.
class QtDialogs : public Dialogs {
 public:
  std::optional<QString> OpenFile(QWidget* parent, const FileDialogSpec& options) override;
  std::optional<QString> SaveFile(QWidget* parent, const FileDialogSpec& options) override;
  bool AskYesNo(QWidget* parent, const QString& text) override;
  void Information(QWidget* parent, const QString& text) override;
  void Error(QWidget* parent, const QString& text) override;
};

// The application's one instance; tests replace it with a scripted one.
Dialogs& AppDialogs();
void SetAppDialogs(Dialogs* dialogs);  // nullptr restores the real dialogs

}  // namespace qd
