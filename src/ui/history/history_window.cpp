#include "ui/history/history_window.h"

#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLocale>
#include <QPen>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>

#include "core/history/run_history.h"
#include "core/run/run.h"
#include "ui/history/run_signals.h"

namespace qd {

THistoryWindow::THistoryWindow(Run& run, HistoryHost& host, QWidget* parent)
    : QWidget(parent, Qt::Window), run_(run), host_(host) {
  setObjectName(QStringLiteral("HistoryWindow"));
  setWindowTitle(QStringLiteral("Run History"));
  // Closing the main window still ends the program while this one is open.
  setAttribute(Qt::WA_QuitOnClose, false);
  resize(640, 520);

  Chart = new QChart;
  Chart->setObjectName(QStringLiteral("Chart"));
  // Axis labels in the user's number format.
  Chart->setLocalizeNumbers(true);
  Chart->setLocale(QLocale::system());
  Chart->legend()->setAlignment(Qt::AlignBottom);
  axisX_ = new QValueAxis;
  axisX_->setTitleText(QStringLiteral("Step"));
  axisX_->setLabelFormat(QStringLiteral("%.0f"));
  // The energy ticks are labelled here, not by the axis: round values in
  // one format, and the energies a logarithmic axis stands for.
  axisY_ = new QCategoryAxis;
  axisY_->setTitleText(QStringLiteral("Energy"));
  axisY_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  Chart->addAxis(axisX_, Qt::AlignBottom);
  Chart->addAxis(axisY_, Qt::AlignLeft);
  // Total first and wide, Kinetic last and narrow: where the potential is
  // nearly zero the two coincide, and Kinetic must still be seen on top.
  for (int c : {kTotal, kPotential, kKinetic}) SetPieces(c, {{}});
  marker_ = new QLineSeries;
  marker_->setName(QStringLiteral("Chosen step"));
  marker_->setPen(QPen(Qt::gray, 1, Qt::DashLine));
  Chart->addSeries(marker_);
  marker_->attachAxis(axisX_);
  marker_->attachAxis(axisY_);
  for (QLegendMarker* m : Chart->legend()->markers(marker_)) m->setVisible(false);

  ChartView = new QChartView(Chart, this);
  ChartView->setObjectName(QStringLiteral("ChartView"));
  ChartView->setMinimumHeight(240);
  ChartView->setRubberBand(QChartView::RectangleRubberBand);
  ChartView->setToolTip(QStringLiteral("Drag a rectangle to zoom in; right-click to zoom out"));
  LogScale = new QCheckBox(QStringLiteral("Logarithmic energy axis"), this);
  LogScale->setObjectName(QStringLiteral("LogScale"));
  ResetZoomButton = new QPushButton(QStringLiteral("Reset Zoom"), this);
  ResetZoomButton->setObjectName(QStringLiteral("ResetZoomButton"));
  ResetZoomButton->setEnabled(false);

  Note = new QLabel(this);
  Note->setObjectName(QStringLiteral("Note"));
  Note->setWordWrap(true);
  Note->hide();
  ArchiveNote = new QLabel(this);
  ArchiveNote->setObjectName(QStringLiteral("ArchiveNote"));
  ArchiveNote->setWordWrap(true);
  ArchiveNote->hide();

  Timeline = new QSlider(Qt::Horizontal, this);
  Timeline->setObjectName(QStringLiteral("Timeline"));
  Timeline->setRange(0, 0);
  StepLabel = new QLabel(QStringLiteral("Step:"), this);
  StepLabel->setObjectName(QStringLiteral("StepLabel"));
  StepLabel->setMinimumWidth(110);
  Values = new QLabel(this);
  Values->setObjectName(QStringLiteral("Values"));
  Values->setTextInteractionFlags(Qt::TextSelectableByMouse);
  Picture = new QLabel(this);
  Picture->setObjectName(QStringLiteral("Picture"));
  Picture->setFixedSize(kPictureSize);
  Picture->setStyleSheet(QStringLiteral("background: black"));
  ContinueButton = new QPushButton(QStringLiteral("Continue from here"), this);
  ContinueButton->setObjectName(QStringLiteral("ContinueButton"));
  ExportButton = new QPushButton(QStringLiteral("Export CSV\u2026"), this);
  ExportButton->setObjectName(QStringLiteral("ExportButton"));
  ExportXyzButton = new QPushButton(QStringLiteral("Export XYZ\u2026"), this);
  ExportXyzButton->setObjectName(QStringLiteral("ExportXyzButton"));
  SaveButton = new QPushButton(QStringLiteral("Save History\u2026"), this);
  SaveButton->setObjectName(QStringLiteral("SaveButton"));

  auto* timeline = new QHBoxLayout;
  timeline->addWidget(Timeline, 1);
  timeline->addWidget(StepLabel);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(Values);
  buttons->addStretch(1);
  buttons->addWidget(ContinueButton);
  buttons->addWidget(ExportButton);
  buttons->addWidget(ExportXyzButton);
  buttons->addWidget(SaveButton);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(Picture);
  bottom->addLayout(buttons, 1);
  auto* chartControls = new QHBoxLayout;
  chartControls->addWidget(LogScale);
  chartControls->addStretch(1);
  chartControls->addWidget(ResetZoomButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(ChartView, 1);
  layout->addLayout(chartControls);
  layout->addWidget(Note);
  layout->addWidget(ArchiveNote);
  layout->addLayout(timeline);
  layout->addLayout(bottom);

  RefreshTimer = new QTimer(this);
  RefreshTimer->setInterval(kRefreshMs);
  RefreshTimer->setSingleShot(true);
  signals_ = new RunSignals(run_, this);
  connect(signals_, &RunSignals::stepDone, this, [this] { Changed(false); });
  connect(signals_, &RunSignals::runEnded, this, [this] { Changed(true); });
  connect(signals_, &RunSignals::stateReplaced, this, [this] { Changed(true); });
  connect(RefreshTimer, &QTimer::timeout, this, [this] { host_.RunHandler([this] { Refresh(); }); });
  connect(Timeline, &QSlider::valueChanged, this, [this](int) {
    if (SelectedIndex() >= 0) selectedStep_ = run_.History().At(std::size_t(SelectedIndex())).State.StepCount;
    host_.RunHandler([this] {
      ShowSelection();
      UpdateButtons();
    });
  });
  connect(ContinueButton, &QPushButton::clicked, this,
          [this] { host_.RunHandler([this] { ContinueClick(); }); });
  connect(ExportButton, &QPushButton::clicked, this, [this] { host_.RunHandler([this] { ExportClick(); }); });
  connect(ExportXyzButton, &QPushButton::clicked, this,
          [this] { host_.RunHandler([this] { ExportXyzClick(); }); });
  connect(SaveButton, &QPushButton::clicked, this, [this] { host_.RunHandler([this] { SaveClick(); }); });
  connect(LogScale, &QCheckBox::toggled, this, [this] { ResetZoom(); });
  connect(ResetZoomButton, &QPushButton::clicked, this, [this] { ResetZoom(); });
  // A range change that is not ours is the user's zoom.
  auto zoomedByUser = [this] {
    if (settingRange_) return;
    zoomed_ = true;
    ResetZoomButton->setEnabled(true);
    LabelEnergyAxis();
  };
  connect(axisX_, &QValueAxis::rangeChanged, this, zoomedByUser);
  connect(axisY_, &QValueAxis::rangeChanged, this, zoomedByUser);
  Refresh();
}

QPoint PlaceBeside(const QRect& owner, const QSize& size, const QRect& screen) {
  constexpr int kGap = 8;
  const int right = owner.right() + 1 + kGap, left = owner.left() - kGap - size.width();
  const int lastX = std::max(screen.left(), screen.right() + 1 - size.width());
  const int lastY = std::max(screen.top(), screen.bottom() + 1 - size.height());
  int x;
  if (right + size.width() <= screen.right() + 1)
    x = right;
  else if (left >= screen.left())
    x = left;
  else
    x = screen.right() - owner.right() >= owner.left() - screen.left() ? lastX : screen.left();
  return {std::clamp(x, screen.left(), lastX), std::clamp(owner.top(), screen.top(), lastY)};
}

void THistoryWindow::ShowBeside(const QWidget& owner) {
  // Left to itself the window system would centre it over the main window
  // and hide the very picture the run is drawing.
  if (!placed_ && owner.isVisible()) {
    const QScreen* screen = owner.screen();
    if (screen != nullptr) {
      const QRect frame = owner.frameGeometry();
      const QSize extra = frame.size() - owner.geometry().size();  // the owner's frame, as a guess for ours
      move(PlaceBeside(frame, size() + extra, screen->availableGeometry()));
      placed_ = true;
    }
  }
  show();
  raise();
  activateWindow();
}

void THistoryWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Refresh();
}

void THistoryWindow::Changed(bool now) {
  // A hidden window catches up when it is shown.
  if (!isVisible()) return;
  if (now) {
    RefreshTimer->stop();
    host_.RunHandler([this] { Refresh(); });
  } else if (!RefreshTimer->isActive()) {
    RefreshTimer->start();
  }
}

void THistoryWindow::hideEvent(QHideEvent* event) {
  // Closing only hides the window: the run goes on recording.
  RefreshTimer->stop();
  QWidget::hideEvent(event);
}

int THistoryWindow::SelectedIndex() const {
  const RunHistory& h = run_.History();
  if (h.Empty()) return -1;
  return std::clamp(Timeline->value(), 0, int(h.Size()) - 1);
}

void THistoryWindow::Refresh() {
  const RunHistory& h = run_.History();
  if (h.Revision() != shownRevision_) {
    shownRevision_ = h.Revision();
    // Keep pointing at the same step; at the end of a growing history,
    // follow the run.
    const bool atEnd = Timeline->value() >= Timeline->maximum();
    int index = 0;
    for (std::size_t i = 0; i < h.Size(); ++i)
      if (h.At(i).State.StepCount <= selectedStep_) index = int(i);
    if (atEnd && !h.Empty()) index = int(h.Size()) - 1;
    {
      const QSignalBlocker block(Timeline);
      Timeline->setRange(0, std::max(int(h.Size()) - 1, 0));
      Timeline->setValue(index);
    }
    if (!h.Empty()) selectedStep_ = h.At(std::size_t(index)).State.StepCount;
    RebuildChart();
    ShowArchiveNote();
  }
  ShowSelection();
  UpdateButtons();
}

void THistoryWindow::UpdateButtons() {
  const bool any = !run_.History().Empty();
  ContinueButton->setEnabled(any && host_.CanContinue());
  ExportButton->setEnabled(any);
  ExportXyzButton->setEnabled(any);
  SaveButton->setEnabled(any);
}

void THistoryWindow::ShowArchiveNote() {
  // Said where it is seen, as an archive larger than the history is shown
  // thinned and Save History would write only what is shown.
  const HistorySource& from = run_.History().Source();
  ArchiveNote->setVisible(from.Thinned());
  if (!from.Thinned()) return;
  const QLocale locale = QLocale::system();
  ArchiveNote->setText(
      QStringLiteral("Showing %1 of %2 snapshots of %3, evenly spaced: the history holds no more.")
          .arg(locale.toString(qulonglong(from.indices.size())), locale.toString(qulonglong(from.Span())),
               QFileInfo(QFile::decodeName(QByteArray::fromStdString(from.path))).fileName()));
}

}  // namespace qd
