#include "ui/common/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace qd {
namespace {

std::optional<QString> RunFileDialog(QWidget* parent, const FileDialogSpec& options,
                                     QFileDialog::AcceptMode mode) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(mode);
  dialog.setNameFilter(options.filter);
  dialog.setDefaultSuffix(options.defaultSuffix);
  if (mode == QFileDialog::AcceptOpen) {
    // The user may name a file that does not exist yet; opening it then fails
    // with the file error, as the users know it.
    dialog.setFileMode(QFileDialog::AnyFile);
  } else {
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().first();
}

Dialogs* g_override = nullptr;

}  // namespace

std::optional<QString> QtDialogs::OpenFile(QWidget* parent, const FileDialogSpec& options) {
  return RunFileDialog(parent, options, QFileDialog::AcceptOpen);
}

std::optional<QString> QtDialogs::SaveFile(QWidget* parent, const FileDialogSpec& options) {
  return RunFileDialog(parent, options, QFileDialog::AcceptSave);
}

bool QtDialogs::AskYesNo(QWidget* parent, const QString& text) {
  return QMessageBox::question(parent, QApplication::applicationName(), text,
                               QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void QtDialogs::Information(QWidget* parent, const QString& text) {
  QMessageBox::information(parent, QApplication::applicationName(), text);
}

void QtDialogs::Error(QWidget* parent, const QString& text) {
  QMessageBox::critical(parent, QApplication::applicationName(), text);
}

Dialogs& AppDialogs() {
  static QtDialogs real;
  return g_override ? *g_override : real;
}

void SetAppDialogs(Dialogs* dialogs) { g_override = dialogs; }

}  // namespace qd
