// Drawing wrappers and the controls that turn, zoom and shift the picture.
#include <QAction>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>

#include "core/editing/number_text.h"
#include "core/view/projection.h"
#include "core/view/view_controls.h"
#include "ui/mainform/mainform.h"
#include "ui/view/listing.h"
#include "ui/view/picture_canvas.h"
#include "ui/view/scene.h"
#include "ui/view/string_grid.h"

namespace qd {

// ---- drawing --------------------------------------------------------------

static QImage& CanvasImage(PictureCanvas* canvas) {
  // A canvas that has never been shown has no image yet.
  QImage& image = canvas->image();
  if (image.size() != canvas->size()) {
    image = QImage(canvas->size(), QImage::Format_RGB32);
    image.fill(Qt::black);
  }
  return image;
}

void TMainForm::ClearPicture() {
  qd::ClearPicture(CanvasImage(Canvas), CurrentSceneStyle());
  Canvas->blit();
}

void TMainForm::DrawParticles() {
  qd::DrawParticles(CanvasImage(Canvas), state_, CurrentSceneStyle());
  Canvas->blit();
}

void TMainForm::DrawFigure() {
  qd::DrawFigure(CanvasImage(Canvas), state_, CurrentSceneStyle());
  Canvas->blit();
}

void TMainForm::Redraw() {
  if (state_.ImageMode) {
    DrawFigure();
  } else {
    DrawParticles();
  }
}

void TMainForm::FillListing() { qd::FillListing(*DaonsTable, state_, LocaleDecimalSeparator()); }

// ---- rotation and zoom buttons ------------------------------------------------

void TMainForm::Rotate(RotationButton button) {
  BeginRotation(state_, button);
  Redraw();
  EndRotation(state_, button);
}

void TMainForm::DaoTetaClick() { Rotate(RotationButton::DaoTeta); }
void TMainForm::DaoTeta1Click() { Rotate(RotationButton::DaoTeta1); }
void TMainForm::DaoPhiClick() { Rotate(RotationButton::DaoPhi); }
void TMainForm::DaoPhi1Click() { Rotate(RotationButton::DaoPhi1); }
void TMainForm::DaoPsiClick() { Rotate(RotationButton::DaoPsi); }
void TMainForm::DaoPsi1Click() { Rotate(RotationButton::DaoPsi1); }

void TMainForm::DaoStopClick() {
  ClearStepAngles(state_);
  Redraw();
}

void TMainForm::DaoBackClick() {
  ZoomBack(state_);
  Redraw();
}

void TMainForm::DaoForvardClick() {
  ZoomForward(state_);
  Redraw();
}

void TMainForm::TrackBarChange(int position) { SetTrackBarSteps(state_, position); }

// ---- mouse on the picture -------------------------------------------------------

static DragButton DragButtonOf(Qt::MouseButton button) {
  return button == Qt::RightButton ? DragButton::Right : DragButton::Other;
}

void TMainForm::FormMouseDown(Qt::MouseButton button, QPoint pos) {
  PressMouse(Anchors, DragButtonOf(button), pos.x(), pos.y());
}

void TMainForm::FormMouseUp(Qt::MouseButton button, QPoint pos) {
  BeginDrag(state_, Anchors, DragButtonOf(button), pos.x(), pos.y());
  Redraw();
  EndDrag(state_, ShowSpin->isChecked());
}

// ---- timer and View menu --------------------------------------------------------

void TMainForm::TimerTimer() {
  if (TimerTickRedraws(state_)) Redraw();
}

void TMainForm::ShowSpinClick() { state_.SpinOn = ShowSpin->isChecked(); }

void TMainForm::ShowNumbersOfPointsClick() {
  state_.NumbersOn = ShowNumbersOfPoints->isChecked();
  Redraw();
}

void TMainForm::MoveToCenterClick() {
  qd::MoveToCenter(state_);
  Redraw();
}

void TMainForm::Left1Click() {
  ShiftPicture(state_, ShiftDirection::Left);
  Redraw();
}

void TMainForm::Right1Click() {
  ShiftPicture(state_, ShiftDirection::Right);
  Redraw();
}

void TMainForm::Up1Click() {
  ShiftPicture(state_, ShiftDirection::Up);
  Redraw();
}

void TMainForm::Down1Click() {
  ShiftPicture(state_, ShiftDirection::Down);
  Redraw();
}

// ---- window resize, listing, time step field ------------------------------------

void TMainForm::FormResize() {
  const int l = Panel1->x();
  UpdateCenter(state_, OuterWidth(), Pan->y());
  FName->resize(l - 2, FName->height());
  Comment->resize(Comment->width(), PageControl->height() - 29);
  Comment->resize(l - 2, Comment->height());
  PageControl->resize(l - 5, PageControl->height());
  DaonsTable->resize(l - 7, DaonsTable->height());
  DaonsTable->setDefaultColumnWidth((l - 35) / 6);
  Redraw();
}

void TMainForm::DaonsTableDblClick() {
  state_.ListVelocities = !state_.ListVelocities;
  FillListing();
}

void TMainForm::EditDTExit() {
  state_.Dt = TextToFloat(EditDT->text().toStdString(), LocaleDecimalSeparator());
}

}  // namespace qd
