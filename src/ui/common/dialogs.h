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
  QString directory;  // where the dialog starts; empty: wherever it likes
  QString caption;    // the dialog's title; empty: the desktop's own
};

// The three answers of a Yes/No/Cancel question.
enum class Answer { Yes, No, Cancel };

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // The chosen path, or nothing when the user cancels.
  virtual std::optional<QString> OpenFile(QWidget* parent, const FileDialogSpec& options) = 0;
  virtual std::optional<QString> SaveFile(QWidget* parent, const FileDialogSpec& options) = 0;
  // True for Yes.
  virtual bool AskYesNo(QWidget* parent, const QString& text) = 0;
  // Closing the window or the dialog counts as Cancel.
  virtual Answer AskYesNoCancel(QWidget* parent, const QString& text) = 0;
  virtual void Information(QWidget* parent, const QString& text) = 0;
  virtual void Error(QWidget* parent, const QString& text) = 0;
};

// The real dialogs of the desktop.
class QtDialogs : public Dialogs {
 public:
  std::optional<QString> OpenFile(QWidget* parent, const FileDialogSpec& options) override;
  std::optional<QString> SaveFile(QWidget* parent, const FileDialogSpec& options) override;
  bool AskYesNo(QWidget* parent, const QString& text) override;
  Answer AskYesNoCancel(QWidget* parent, const QString& text) override;
  void Information(QWidget* parent, const QString& text) override;
  void Error(QWidget* parent, const QString& text) override;
};

// A save dialog that asks before it lets an existing file be replaced; No
// goes back to the dialog. Nothing when the user cancels.
std::optional<QString> ChooseSavePath(QWidget* parent, const FileDialogSpec& options);

// The application's one instance; tests replace it with a scripted one.
Dialogs& AppDialogs();
void SetAppDialogs(Dialogs* dialogs);  // nullptr restores the real dialogs

}  // namespace qd
