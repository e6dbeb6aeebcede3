// What a desktop program is expected to do beyond the designed window: ask
// before unsaved work is lost, offer the examples, and take the usual
// shortcuts beside the designed ones.
#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QKeySequence>
#include <QMenu>
#include <QPlainTextEdit>

#include "core/persistence/commentary.h"
#include "core/persistence/config_record.h"
#include "core/structures/structures.h"
#include "ui/common/dialogs.h"
#include "ui/common/field_text.h"
#include "ui/help/help_viewer.h"
#include "ui/mainform/mainform.h"

namespace qd {

namespace {

// A name that Save cannot write to: none, or a built-in structure's caption.
bool HasNoFileName(const SimState& s) {
  return s.CurrentName.empty() || s.CurrentName == kEasySquareCaption || s.CurrentName == kSpiralCaption;
}

}  // namespace

void TMainForm::BuildAddedItems() {
  OpenExample1 = new QAction(QStringLiteral("Open Example..."), this);
  OpenExample1->setObjectName(QStringLiteral("OpenExample1"));
  File1->insertAction(Save1, OpenExample1);
  connect(OpenExample1, &QAction::triggered, this, [this] { RunHandler([this] { OpenExample1Click(); }); });

  // The designed keys come first, so the menus still show them.
  New1->setShortcuts({QKeySequence(Qt::Key_F2), QKeySequence(Qt::CTRL | Qt::Key_N)});
  Open1->setShortcuts({QKeySequence(Qt::Key_F3), QKeySequence(Qt::CTRL | Qt::Key_O)});
  Exit1->setShortcuts({QKeySequence(Qt::ALT | Qt::Key_X), QKeySequence(Qt::CTRL | Qt::Key_Q)});
}

// ---- unsaved work ----------------------------------------------------------------

void TMainForm::MarkStateSaved() {
  // The record buffer is shared with the file commands: leave it as it was.
  const ConfigRecordBuffer kept = state_.ConfigRecord;
  FillConfigRecord(state_);
  savedRecord_ = state_.ConfigRecord;
  state_.ConfigRecord = kept;
}

void TMainForm::MarkCommentSaved() { savedComment_ = Comment->toPlainText(); }

bool TMainForm::StateChangedSinceSaved() {
  if (state_.ImageMode) return false;
  const ConfigRecordBuffer kept = state_.ConfigRecord;
  FillConfigRecord(state_);
  const bool changed = state_.ConfigRecord != savedRecord_;
  state_.ConfigRecord = kept;
  return changed;
}

bool TMainForm::CommentChangedSinceSaved() const {
  // A figure has no file for its commentary, and Save does not ask for one.
  if (state_.ImageMode && HasNoFileName(state_)) return false;
  return Comment->toPlainText() != savedComment_;
}

void TMainForm::WriteCommentText() {
  // The memo separates lines with LF; the file with CR LF.
  QString text = Comment->toPlainText();
  text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  WriteCommentary(CommentaryFileName(state_.CurrentName), text.toLocal8Bit().toStdString());
  MarkCommentSaved();
}

bool TMainForm::ConfirmClose() {
  const bool stateChanged = StateChangedSinceSaved();
  const bool commentChanged = CommentChangedSinceSaved();
  if (!stateChanged && !commentChanged) return true;

  const QString name =
      HasNoFileName(state_) ? QStringLiteral("Untitled") : QFileInfo(PathText(state_.CurrentName)).fileName();
  switch (AppDialogs().AskYesNoCancel(this, QStringLiteral("Save changes to %1?").arg(name))) {
    case Answer::No:
      return true;
    case Answer::Cancel:
      return false;
    case Answer::Yes:
      break;
  }
  try {
    // The commentary lives beside the configuration, so a configuration
    // without a file is saved first, under the name the user gives.
    if (stateChanged || HasNoFileName(state_) || IsExampleFile(PathText(state_.CurrentName))) Save1Click();
    // The save dialog was cancelled: nothing is lost, the window stays.
    if (StateChangedSinceSaved() || HasNoFileName(state_)) return false;
    if (commentChanged) WriteCommentText();
  } catch (const std::exception& e) {
    ReportError(e);
    return false;
  }
  return true;
}

// ---- examples -------------------------------------------------------------------

QString TMainForm::ExamplesDir() {
  // The same places as the help documents: beside the program (a build or a
  // portable copy), then the installed data folder.
  const QStringList dirs = HelpSearchDirs();
  for (int i = 0; i < dirs.size() && i < 2; ++i) {
    if (dirs[i].isEmpty()) continue;
    const QDir examples(dirs[i] + QStringLiteral("/examples"));
    if (examples.exists()) return examples.absolutePath();
  }
  return QString();
}

bool TMainForm::IsExampleFile(const QString& path) {
  const QString dir = ExamplesDir();
  if (dir.isEmpty() || path.isEmpty()) return false;
  return QFileInfo(path).absoluteDir().canonicalPath() == QDir(dir).canonicalPath();
}

void TMainForm::OpenExample1Click() {
  const QString dir = ExamplesDir();
  if (dir.isEmpty()) {
    AppDialogs().Error(this, QStringLiteral("No examples were found (looked for the folder \"examples\" "
                                            "beside the program and in ../share/quindelle)."));
    return;
  }
  FileDialogSpec request;
  request.directory = dir;
  request.caption = QStringLiteral("Open Example");
  const std::optional<QString> chosen = AppDialogs().OpenFile(this, request);
  if (!chosen) return;
  OpenConfiguration(*chosen);
}

}  // namespace qd
