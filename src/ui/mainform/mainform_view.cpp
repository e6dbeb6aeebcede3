// Drawing wrappers and the controls that turn, zoom and shift the picture.
#include <QAction>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>

#include "core/editing/number_text.h"
#include "core/view/projection.h"
#include "ui/mainform/mainform.h"
#include "ui/view/listing.h"
#include "ui/view/picture_canvas.h"
#include "ui/view/scene.h"
#include "ui/view/string_grid.h"

namespace qd {
namespace {

// Angle and zoom steps of the track bar positions 0..10.
struct TrackStep {
  Extended angle;
  Extended zoom;
};
constexpr TrackStep kTrackSteps[11] = {{0.0005L, 0.5L}, {0.001L, 1}, {0.002L, 2}, {0.003L, 3},
                                       {0.005L, 5},     {0.01L, 7},  {0.05L, 10}, {0.1L, 15},
                                       {0.5L, 20},      {1, 30},     {2, 50}};

}  // namespace

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

// One rotation button: change one step angle, show the turn, clear that angle.
#define QD_ROTATE(angle, viewAngle, op) \
  SimState& s = state_;                 \
  s.angle op s.AngleStep;               \
  if (s.ImageMode) {                    \
    DrawFigure();                       \
  } else {                              \
    s.viewAngle += s.angle;             \
    DrawParticles();                    \
  }                                     \
  s.angle = 0;

void TMainForm::DaoTetaClick() { QD_ROTATE(Teta, ViewTeta, -=) }
void TMainForm::DaoTeta1Click() { QD_ROTATE(Teta, ViewTeta, +=) }
void TMainForm::DaoPhiClick() { QD_ROTATE(Phi, ViewPhi, +=) }
void TMainForm::DaoPhi1Click() { QD_ROTATE(Phi, ViewPhi, -=) }
void TMainForm::DaoPsiClick() { QD_ROTATE(Psi, ViewPsi, -=) }
void TMainForm::DaoPsi1Click() { QD_ROTATE(Psi, ViewPsi, +=) }

#undef QD_ROTATE

void TMainForm::DaoStopClick() {
  state_.Teta = 0;
  state_.Psi = 0;
  state_.Phi = 0;
  Redraw();
}

void TMainForm::DaoBackClick() {
  SimState& s = state_;
  if (s.Scale >= 9 * s.ZoomStep) {
    s.Scale -= 3 * s.ZoomStep;
  } else {
    s.Scale = s.Scale / s.ZoomStep;
  }
  Redraw();
}

void TMainForm::DaoForvardClick() {
  state_.Scale += 3 * state_.ZoomStep;
  Redraw();
}

void TMainForm::TrackBarChange(int position) {
  if (position < 0 || position > 10) return;
  state_.AngleStep = kTrackSteps[position].angle;
  state_.ZoomStep = kTrackSteps[position].zoom;
}

// ---- mouse on the picture -------------------------------------------------------

void TMainForm::FormMouseDown(Qt::MouseButton button, QPoint pos) {
  if (button == Qt::RightButton) {
    RightDownX = pos.x();
    RightDownY = pos.y();
  } else {
    LeftDownX = pos.x();
    LeftDownY = pos.y();
  }
}

void TMainForm::FormMouseUp(Qt::MouseButton button, QPoint pos) {
  SimState& s = state_;
  const bool right = button == Qt::RightButton;
  if (right) {
    const std::int32_t dx = pos.x() - RightDownX;
    const std::int32_t dy = pos.y() - RightDownY;
    if (dx != 0) s.Psi -= dx * s.AngleStep;
    if (dy != 0) s.Scale -= dy * s.ZoomStep;
  } else {
    const std::int32_t dx = pos.x() - LeftDownX;
    const std::int32_t dy = pos.y() - LeftDownY;
    if (dx != 0) s.Phi -= dx * s.AngleStep;
    if (dy != 0) s.Teta += dy * s.AngleStep;
  }
  if (s.ImageMode) {
    DrawFigure();
  } else {
    if (right) {
      s.ViewPsi += s.Psi;
    } else {
      s.ViewPhi += s.Phi;
      s.ViewTeta += s.Teta;
    }
    DrawParticles();
    s.Teta = 0;
    s.Psi = 0;
    s.Phi = 0;
  }
  // With spin on, a figure keeps turning by what the drag left in the steps.
  if (!ShowSpin->isChecked()) {
    s.Teta = 0;
    s.Psi = 0;
    s.Phi = 0;
  }
}

// ---- timer and View menu --------------------------------------------------------

void TMainForm::TimerTimer() {
  if (state_.SpinOn) Redraw();
}

void TMainForm::ShowSpinClick() { state_.SpinOn = ShowSpin->isChecked(); }

void TMainForm::ShowNumbersOfPointsClick() {
  state_.NumbersOn = ShowNumbersOfPoints->isChecked();
  Redraw();
}

void TMainForm::MoveToCenterClick() {
  state_.Scale = 120;
  state_.ShiftX = 0;
  state_.ShiftY = 0;
  Redraw();
}

void TMainForm::Left1Click() {
  state_.ShiftX -= state_.ShiftStep;
  Redraw();
}

void TMainForm::Right1Click() {
  state_.ShiftX += state_.ShiftStep;
  Redraw();
}

void TMainForm::Up1Click() {
  state_.ShiftY -= state_.ShiftStep;
  Redraw();
}

void TMainForm::Down1Click() {
  state_.ShiftY += state_.ShiftStep;
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
