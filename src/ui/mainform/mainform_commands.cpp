// The run loop and the commands of the File and Show Images menus, the
// zero-velocity button and the commentary memo.
#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>

#include "core/common/errors.h"
#include "core/dynamics/step.h"
#include "core/persistence/commentary.h"
#include "core/persistence/config_record.h"
#include "core/persistence/file_io.h"
#include "core/persistence/run_archive.h"
#include "core/persistence/start_pointer.h"
#include "core/structures/structures.h"
#include "core/view/frame_pacer.h"
#include "ui/common/colours.h"
#include "ui/common/dialogs.h"
#include "ui/common/field_text.h"
#include "ui/history/history_window.h"
#include "ui/mainform/form_widgets.h"
#include "ui/mainform/mainform.h"
#include "ui/view/picture_canvas.h"
#include "ui/view/screen_pacer.h"
#include "ui/view/string_grid.h"

namespace qd {
namespace {

void SetButtonTextColour(QWidget* w, const QColor& c) {
  QPalette p = w->palette();
  p.setColor(QPalette::ButtonText, c);
  p.setColor(QPalette::WindowText, c);
  w->setPalette(p);
}

}  // namespace

// ---- the run ----------------------------------------------------------------

void TMainForm::SetGoOkLook() {
  Go->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
  Go->setText(QStringLiteral("Go"));
}

void TMainForm::SetGoCancelLook() {
  Go->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
  Go->setText(QStringLiteral("Stop"));
}

void TMainForm::SetRunningLook() {
  SetGoCancelLook();
  ShapeRed->setBrushColor(kRed);
  ShapeLime->setBrushColor(kGreen);
  Images->setEnabled(false);
  Null00->setEnabled(false);
  Null00->setText(QStringLiteral("0"));
  SetButtonTextColour(Null00, kMaroon);
}

void TMainForm::SetIdleLook() {
  SetGoOkLook();
  ShapeRed->setBrushColor(kMaroon);
  ShapeLime->setBrushColor(kLime);
  state_.Stopped = true;
  Images->setEnabled(true);
  Null00->setEnabled(true);
}

void TMainForm::GoClick() {
  if (!state_.Stopped) {
    // Reached from the event processing inside the loop: the loop leaves
    // after the step it is in.
    SetIdleLook();
    return;
  }
  SetRunningLook();
  state_.Stopped = false;
  run_.Options() = CurrentStepOptions();
  ++runDepth_;
  RunOutcome outcome;
  try {
    outcome = RunSteps();
  } catch (const std::exception& e) {
    --runDepth_;
    ReportError(e);
    SetIdleLook();
    RunLoopLeft();
    FinishPendingClose();
    return;
  }
  --runDepth_;
  if (outcome.fault) {
    // A fault ends the run at once. The user sees why, and the window goes
    // back to idle, so that the next press of Go starts a new run.
    ReportError(FpFault(outcome.fault->message));
    SetIdleLook();
  }
  RunLoopLeft();
  FinishPendingClose();
}

void TMainForm::RunLoopLeft() {
  // The run's end was told while its loop was still on the stack, when
  // nothing could be continued yet: the history window learns it now.
  if (windows_.history && windows_.history->isVisible()) windows_.history->UpdateButtons();
}

RunOutcome TMainForm::RunSteps() {
  ScreenPacer pacer(this, Canvas, frames_);
  return run_.Go(-1, [&](std::int64_t) {
    if (state_.ShowStepCount) ShowStepCountCaption();
    DrawParticles();
    if (ShowList->isChecked()) FillListing();
    pacer.BeforeEvents();
    QCoreApplication::processEvents();
    pacer.AfterEvents();
    if (AfterStep) AfterStep();
    // The window's choices are read afresh for every step.
    run_.Options() = CurrentStepOptions();
    return !state_.Stopped;
  });
}

void TMainForm::ShowStepCountCaption() {
  LTime->setText(QString::number(state_.StepCount));
  // The label grows with its number; it never shrinks below its text.
  if (LTime->width() < LTime->sizeHint().width()) LTime->adjustSize();
}

void TMainForm::LTimeDblClick() { state_.ShowStepCount = !state_.ShowStepCount; }

void TMainForm::FinishPendingClose() {
  if (runDepth_ > 0 || !closePending_) return;
  closePending_ = false;
  SetIdleLook();
  close();
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (runDepth_ > 0) {
    // The run's loop is still on the stack: let it finish the step in
    // progress, then close from where it returns.
    state_.Stopped = true;
    closePending_ = true;
    event->ignore();
    return;
  }
  if (!ConfirmClose()) {
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

// ---- File menu --------------------------------------------------------------

void TMainForm::Open1Click() {
  FileDialogSpec request;
  request.filter = QStringLiteral("Taons files (*.pln);;Run archives (*.qra)");
  const std::optional<QString> chosen = AppDialogs().OpenFile(this, request);
  if (!chosen) return;
  OpenConfiguration(*chosen);
}

void TMainForm::OpenConfiguration(const QString& path) {
  if (archive::LooksLikeArchive(PathBytes(path))) {
    OpenArchive(path);
    return;
  }
  SimState& s = state_;
  s.ImageMode = false;
  Go->setEnabled(true);
  Null00->setEnabled(true);
  s.CurrentName = PathBytes(path);
  ShowFieldText(FName, path);
  ReadConfigFile(s, s.CurrentName);
  RememberStartName(s, StartPointerPath());
  ApplyConfigRecord(s);
  run_.StateReplaced();
  s.StepCount = 0;
  LTime->setText(QStringLiteral("0"));
  Redraw();
  FillListing();
  ShowParameters();
  LoadCommentary();
  MarkStateSaved();
  MarkCommentSaved();
}

void TMainForm::OpenFromCommandLine(const QString& path) {
  // The start-pointer file must name the file wherever the program is
  // started from next time.
  OpenConfiguration(QFileInfo(path).absoluteFilePath());
}

void TMainForm::Save1Click() {
  SimState& s = state_;
  if (s.ImageMode) return;
  // Save writes only to a path that a load or a save chose. With no name, or
  // with a built-in structure's caption in its place (the easy square from an
  // empty start-pointer file, the spiral), ask for one instead of failing on
  // an empty path or writing a file named after the caption.
  // An example that came with the program is never written over either.
  if (s.CurrentName.empty() || s.CurrentName == kEasySquareCaption || s.CurrentName == kSpiralCaption ||
      IsExampleFile(PathText(s.CurrentName))) {
    SaveConfigWithDialog();
    return;
  }
  FillConfigRecord(s);
  WriteConfigFile(s, s.CurrentName);
  MarkStateSaved();
}

void TMainForm::Saveas1Click() {
  if (state_.ImageMode) return;
  SaveConfigWithDialog();
}

void TMainForm::SaveConfigWithDialog() {
  SimState& s = state_;
  const std::optional<QString> chosen = ChooseSavePath(this, FileDialogSpec{});
  if (!chosen) return;
  s.CurrentName = PathBytes(*chosen);
  ShowFieldText(FName, *chosen);
  FillConfigRecord(s);
  WriteConfigFile(s, s.CurrentName);
  RememberStartName(s, StartPointerPath());
  MarkStateSaved();
}

void TMainForm::Exit1Click() { close(); }

// ---- the commentary memo ------------------------------------------------------

void TMainForm::CommentChange() { state_.CommentModified = true; }

void TMainForm::CommentExit() {
  SimState& s = state_;
  if (!s.CommentModified) return;
  s.CommentModified = false;
  if (!AppDialogs().AskYesNo(this, QStringLiteral("The text was changed. Save now?"))) return;
  // The memo separates lines with LF; the file with CR LF.
  QString text = Comment->toPlainText();
  text.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
  WriteCommentary(CommentaryFileName(s.CurrentName), text.toLocal8Bit().toStdString());
  MarkCommentSaved();
}

// ---- Show Images menu -----------------------------------------------------------

void TMainForm::Spiral1Click() {
  SimState& s = state_;
  s.ImageMode = true;
  StructureBuilder(s);
  run_.StateReplaced();
  Go->setEnabled(false);
  Null00->setEnabled(false);
  DrawFigure();
}

void TMainForm::Daons1Click() {
  SimState& s = state_;
  s.ImageMode = false;
  Go->setEnabled(true);
  Null00->setEnabled(true);
  const std::string pointer = StartPointerPath();
  if (!StartPointerExists(pointer)) {
    AppDialogs().Information(this, QStringLiteral("The start File not found."));
    return;
  }
  s.StartFileName = ReadStartPointer(pointer);
  // Whatever follows installs another state.
  run_.StateReplaced();
  if (s.StartFileName.empty()) {
    StructureBuilder(s);
    s.CurrentName = kEasySquareCaption;
    FillListing();
    ShowFieldText(FName, PathText(s.CurrentName));
    DrawParticles();
    MarkStateSaved();
    return;
  }
  s.CurrentName = s.StartFileName;
  ShowFieldText(FName, PathText(s.CurrentName));
  if (!CanLoadConfiguration(s.CurrentName)) {
    StructureBuilder(s);
    MarkStateSaved();
    return;
  }
  ReadConfigFile(s, s.CurrentName);
  ApplyConfigRecord(s);
  DrawParticles();
  FillListing();
  MarkStateSaved();
}

// ---- zero velocity ----------------------------------------------------------------

void TMainForm::Null00Click() {
  SimState& s = state_;
  if (s.ImageMode || !s.Stopped) return;
  ZeroVelocities(s);
  run_.StateReplaced();
  Null00->setText(QStringLiteral("Yes Null"));
  SetButtonTextColour(Null00, kMaroon);
  FillListing();
  SaveConfigWithDialog();
}

}  // namespace qd
