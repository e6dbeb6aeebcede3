// Start-up of the main window and its own repaints.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include "core/editing/number_text.h"
#include "core/persistence/commentary.h"
#include "core/persistence/config_record.h"
#include "core/persistence/file_io.h"
#include "core/persistence/start_pointer.h"
#include "core/structures/structures.h"
#include "core/view/projection.h"
#include "ui/common/field_text.h"
#include "ui/mainform/mainform.h"

namespace qd {

void TMainForm::FormCreate() {
  SimState& s = state_;
  UpdateCenter(s, OuterWidth(), Pan->y());
  s.Scale = 120;
  s.Teta = 0;
  s.Psi = 0;
  s.Phi = 0;
  s.ImageMode = true;
  s.TaonCount = kSlotCount;
  s.ImageKind = 1;
  BuildStepMatrix(s);

  try {
    LoadStartConfiguration();
  } catch (const std::exception& e) {
    // A failed file step must not leave the program half set up (no zoom
    // steps, Go dead, Stopped false): report it, then start as if the
    // start-pointer file were empty. The start-pointer file is left alone.
    ReportError(e);
    s.ImageMode = true;
    s.StartFileName.clear();
    Go->setEnabled(false);
    ShowFieldText(FName, QStringLiteral("File Name"));
    StructureBuilder(s);
    s.CurrentName = kSpiralCaption;
  }

  s.ShiftStep = 5;
  s.ZoomStep = 3;
  s.AngleStep = 0.01L;
  FillListing();
  ShowParameters();
  s.Stopped = true;
  // The integrator starts with this step whatever EditDT shows; leaving the
  // field makes the shown value the step.
  s.Dt = 0.001L;
  // Quitting right away loses nothing, whatever start-up installed.
  MarkStateSaved();
  MarkCommentSaved();
}

void TMainForm::LoadStartConfiguration() {
  SimState& s = state_;
  const std::string pointer = StartPointerPath();
  if (!StartPointerExists(pointer)) {
    CreateStartPointer(pointer);
    StructureBuilder(s);
    s.CurrentName = kSpiralCaption;
    return;
  }
  s.StartFileName = ReadStartPointer(pointer);
  if (s.StartFileName.empty()) {
    StructureBuilder(s);
    s.CurrentName = kSpiralCaption;
    return;
  }

  s.ImageMode = false;
  Go->setEnabled(true);
  s.CurrentName = s.StartFileName;
  ShowFieldText(FName, PathText(s.CurrentName));
  // Examined, not reported: what cannot be loaded (missing, unreadable, or
  // no regular file at all, such as a pipe) gives the easy square.
  if (!CanLoadConfiguration(s.CurrentName)) {
    StructureBuilder(s);  // the easy square, with its parameters
    ShowFieldText(FName, QStringLiteral("The easy square"));
    return;
  }
  ReadConfigFile(s, s.CurrentName);
  ApplyConfigRecord(s);
  try {
    LoadCommentary();
  } catch (const std::exception& e) {
    // The configuration itself is installed; a commentary that cannot be
    // read costs only its text.
    ReportError(e);
  }
}

void TMainForm::LoadCommentary() {
  // Formed from a copy: CurrentName keeps its extension, so a Save made
  // before the next repaint still writes the configuration's own file.
  const std::string path = CommentaryFileName(state_.CurrentName);
  if (!CanOpenForReading(path)) return;
  QString text = QString::fromLocal8Bit(ReadCommentary(path));
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  // Bringing exactly the text already shown is no change.
  if (text != Comment->toPlainText()) Comment->setPlainText(text);
}

void TMainForm::ShowParameters() {
  QLineEdit* fields[11] = {EditDT, EditA1, EditB1, EditC1, EditD1, EditF1,
                           EditA2, EditB2, EditC2, EditD2, EditF2};
  const char sep = LocaleDecimalSeparator();
  for (int i = 0; i < 11; ++i)
    ShowFieldText(fields[i], QString::fromStdString(FloatToText(state_.*kParameterBlock[i], sep)));
}

void TMainForm::FormPaint() {
  ++formPaintCount_;
  SimState& s = state_;
  UpdateCenter(s, OuterWidth(), Pan->y());
  if (s.ImageMode) {
    DrawFigure();
  } else {
    s.CurrentName = s.StartFileName;
    DrawParticles();
    FillListing();
  }
}

void TMainForm::RequestFormPaint() {
  // Like the system's paint message: several causes in a row give one paint,
  // run once the events that caused it have been handled.
  if (formPaintPending_) return;
  formPaintPending_ = true;
  QTimer::singleShot(0, this, [this] {
    formPaintPending_ = false;
    if (isVisible()) RunHandler([this] { FormPaint(); });
  });
}

}  // namespace qd
