// The Run History window's timeline: the chosen snapshot's step, energies,
// force choices and picture, and going back to it.
#include <QLabel>
#include <QLineSeries>
#include <QLocale>
#include <QPixmap>
#include <QSlider>

#include "core/batch/batch_run.h"
#include "core/editing/number_text.h"
#include "core/history/run_history.h"
#include "core/run/run.h"
#include "ui/history/energy_chart.h"
#include "ui/history/history_window.h"

namespace qd {
namespace {

QString NumberText(Extended v) { return QString::fromStdString(FloatToText(v, LocaleDecimalSeparator())); }

}  // namespace

void THistoryWindow::ShowSelection() {
  const RunHistory& h = run_.History();
  const int index = SelectedIndex();
  if (index < 0) {
    StepLabel->setText(QStringLiteral("Step:"));
    Values->clear();
    marker_->clear();
    Picture->clear();
    return;
  }
  const Snapshot& n = h.At(std::size_t(index));
  StepLabel->setText(QStringLiteral("Step: %1").arg(QLocale::system().toString(n.State.StepCount)));
  Values->setText(QStringLiteral("Kinetic: %1\nPotential: %2\nTotal: %3\n%4")
                      .arg(NumberText(n.Kinetic), NumberText(n.Potential),
                           NumberText(n.Kinetic + n.Potential),
                           QString::fromStdString(batch::ForceChoicesText(n.Force))));
  marker_->replace(QList<QPointF>{{double(n.State.StepCount), yLow_}, {double(n.State.StepCount), yHigh_}});

  // The snapshot as the main window would draw it now.
  const QImage image = host_.DrawSnapshot(n);
  Picture->setPixmap(QPixmap::fromImage(
      Thickened(image).scaled(kPictureSize, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void THistoryWindow::ContinueClick() {
  const int index = SelectedIndex();
  if (index < 0) return;
  host_.ContinueFromSnapshot(std::size_t(index));
  Refresh();
}

}  // namespace qd
