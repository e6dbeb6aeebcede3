#include "ui/common/dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace qd {
namespace {

std::optional<QString> RunFileDialog(QWidget* parent, const FileDialogSpec& options,
                                     QFileDialog::AcceptMode mode) {
  QFileDialog dialog(parent);
  dialog.setAcceptMode(mode);
  dialog.setNameFilter(options.filter);
  dialog.setDefaultSuffix(options.defaultSuffix);
  if (!options.directory.isEmpty()) dialog.setDirectory(options.directory);
  if (!options.caption.isEmpty()) dialog.setWindowTitle(options.caption);
  if (mode == QFileDialog::AcceptOpen) {
    // The user may name a file that does not exist yet; opening it then fails
    // with the file error, as the users know it.
    dialog.setFileMode(QFileDialog::AnyFile);
  } else {
    // ChooseSavePath asks instead, through this interface, so that every
    // save dialog asks the same way and tests can answer.
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

Answer QtDialogs::AskYesNoCancel(QWidget* parent, const QString& text) {
  switch (QMessageBox::question(parent, QApplication::applicationName(), text,
                                QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes)) {
    case QMessageBox::Yes:
      return Answer::Yes;
    case QMessageBox::No:
      return Answer::No;
    default:
      return Answer::Cancel;
  }
}

void QtDialogs::Information(QWidget* parent, const QString& text) {
  QMessageBox::information(parent, QApplication::applicationName(), text);
}

void QtDialogs::Error(QWidget* parent, const QString& text) {
  QMessageBox::critical(parent, QApplication::applicationName(), text);
}

std::optional<QString> ChooseSavePath(QWidget* parent, const FileDialogSpec& options) {
  for (;;) {
    std::optional<QString> chosen = AppDialogs().SaveFile(parent, options);
    if (!chosen || !QFileInfo::exists(*chosen)) return chosen;
    const QString question =
        QStringLiteral("%1 already exists.\nDo you want to replace it?").arg(QFileInfo(*chosen).fileName());
    if (AppDialogs().AskYesNo(parent, question)) return chosen;
  }
}

Dialogs& AppDialogs() {
  static QtDialogs real;
  return g_override ? *g_override : real;
}

void SetAppDialogs(Dialogs* dialogs) { g_override = dialogs; }

}  // namespace qd
