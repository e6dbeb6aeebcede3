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
#include <QPen>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>

#include "core/batch/batch_run.h"
#include "core/editing/number_text.h"
#include "core/history/history_archive.h"
#include "core/history/run_history.h"
#include "core/persistence/file_io.h"
#include "core/persistence/xyz.h"
#include "core/run/run.h"
#include "ui/common/dialogs.h"
#include "ui/history/energy_chart.h"
#include "ui/history/run_signals.h"

namespace qd {
namespace {

constexpr QSize kPictureSize(298, 88);  // half the picture area

const char* const kCurveNames[3] = {"Kinetic", "Potential", "Total"};
const QColor kCurveColours[3] = {QColor(0, 110, 200), QColor(200, 120, 0), QColor(0, 140, 0)};

Extended Value(const Snapshot& n, int which) {
  switch (which) {
    case THistoryWindow::kKinetic:
      return n.Kinetic;
    case THistoryWindow::kPotential:
      return n.Potential;
    default:
      return n.Kinetic + n.Potential;
  }
}

// Whether the chart can place the value: finite and within double range.
bool Drawable(Extended v) {
  return std::isfinite(v) && std::fabs(v) <= Extended(std::numeric_limits<double>::max());
}

constexpr int kTicks = 5;  // what an axis aims at; nice numbers may add one or two

// Gives the axis the rounded range around low..high and the ticks that go
// with it, as its own nice numbers would, without laying the chart out for a
// range that does not change. Without the tick count a rounded range of
// 0..5 would be cut in four and read 0, 1, 3, 4, 5 in whole steps.
void SetNiceRange(QValueAxis* axis, double low, double high) {
  if (!std::isfinite(low) || !std::isfinite(high) || !(low < high)) return;
  QValueAxis scratch;
  scratch.setTickCount(kTicks);
  scratch.setRange(low, high);
  scratch.applyNiceNumbers();
  if (scratch.tickCount() != axis->tickCount()) axis->setTickCount(scratch.tickCount());
  if (scratch.min() != axis->min() || scratch.max() != axis->max())
    axis->setRange(scratch.min(), scratch.max());
}

QString NumberText(Extended v) { return QString::fromStdString(FloatToText(v, LocaleDecimalSeparator())); }

}  // namespace

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
    host_.RunHandler([this] { ShowSelection(); });
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
  }
  ShowSelection();
  ContinueButton->setEnabled(!h.Empty() && host_.CanContinue());
  ExportButton->setEnabled(!h.Empty());
  ExportXyzButton->setEnabled(!h.Empty());
  SaveButton->setEnabled(!h.Empty());
}

void THistoryWindow::SetPieces(int which, const std::vector<std::vector<QPointF>>& runs) {
  std::vector<QLineSeries*>& pieces = curves_[std::size_t(which)].pieces;
  const std::size_t wanted = std::max<std::size_t>(runs.size(), 1);
  while (pieces.size() > wanted) {
    Chart->removeSeries(pieces.back());
    delete pieces.back();
    pieces.pop_back();
  }
  while (pieces.size() < wanted) {
    auto* piece = new QLineSeries;
    piece->setName(QString::fromLatin1(kCurveNames[which]));
    piece->setPen(QPen(kCurveColours[which], which == kTotal ? 4.0 : 1.5));
    Chart->addSeries(piece);
    piece->attachAxis(axisX_);
    piece->attachAxis(axisY_);
    // One entry per curve in the legend, however many pieces it has.
    if (!pieces.empty())
      for (QLegendMarker* m : Chart->legend()->markers(piece)) m->setVisible(false);
    pieces.push_back(piece);
  }
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const std::vector<QPointF>& run = runs[i];
    pieces[i]->replace(QList<QPointF>(run.begin(), run.end()));
    // A lone point between two gaps would draw nothing as a line.
    pieces[i]->setPointsVisible(run.size() == 1);
  }
  if (runs.empty()) pieces[0]->clear();
}

namespace {

// The points a curve is drawn through: a long run is cut into buckets and
// each bucket gives its lowest and highest point, in step order, so that
// the curve keeps its envelope and its spikes while a redraw stays cheap.
// Every point drawn is a recorded snapshot's exact value.
std::vector<QPointF> Thinned(const std::vector<QPointF>& run, std::size_t most) {
  if (run.size() <= most) return run;
  const std::size_t buckets = std::max<std::size_t>(most / 2, 1);
  std::vector<QPointF> out;
  out.reserve(buckets * 2 + 1);
  for (std::size_t b = 0; b < buckets; ++b) {
    const std::size_t from = run.size() * b / buckets, to = run.size() * (b + 1) / buckets;
    if (from >= to) continue;
    std::size_t lo = from, hi = from;
    for (std::size_t i = from; i < to; ++i) {
      if (run[i].y() < run[lo].y()) lo = i;
      if (run[i].y() > run[hi].y()) hi = i;
    }
    out.push_back(run[std::min(lo, hi)]);
    if (lo != hi) out.push_back(run[std::max(lo, hi)]);
  }
  if (out.back() != run.back()) out.push_back(run.back());
  return out;
}

}  // namespace

void THistoryWindow::RebuildChart() {
  ++rebuilds_;
  const RunHistory& h = run_.History();
  double low = std::numeric_limits<double>::infinity(), high = -low;
  bool totalGaps = false;
  // About one point per pixel of the chart.
  const std::size_t most = std::size_t(std::max(ChartView->width(), 600));
  for (int c = 0; c < 3; ++c) {
    std::vector<std::vector<QPointF>> runs(1);
    for (std::size_t i = 0; i < h.Size(); ++i) {
      const Extended v = Value(h.At(i), c);
      if (!Drawable(v)) {
        if (c == kTotal) totalGaps = true;
        if (!runs.back().empty()) runs.emplace_back();
        continue;
      }
      const double y = LogScale->isChecked() ? SymLog(double(v)) : double(v);
      low = std::min(low, y);
      high = std::max(high, y);
      runs.back().emplace_back(double(h.At(i).State.StepCount), y);
    }
    if (runs.back().empty()) runs.pop_back();
    for (auto& run : runs) run = Thinned(run, most);
    SetPieces(c, runs);
  }
  Note->setText(QStringLiteral(
      "The total energy is infinite or not a number at some steps; the chart leaves those steps out."));
  Note->setVisible(totalGaps);
  // A zoom stays where the user put it while the run goes on.
  if (zoomed_) return;
  if (!(low <= high)) low = -1, high = 1;
  const double pad = high > low ? (high - low) * 0.05 : std::max(std::fabs(high) * 0.05, 1.0);
  // Round ranges, set only when they change: every change of an axis lays
  // out every curve again, by far the dearest part of a redraw, and rounded
  // ends change seldom while a run goes on.
  const double padLow = low - pad, padHigh = high + pad;
  SetEnergyRange(std::isfinite(padLow) ? padLow : low, std::isfinite(padHigh) ? padHigh : high);
  const double first = h.Empty() ? 0 : h.At(0).State.StepCount;
  const double last = h.Empty() ? 1 : h.At(h.Size() - 1).State.StepCount;
  // Steps are whole numbers: a span of at least kTicks - 1 gives ticks a
  // whole step or more apart, never labels such as 0, 0, 1, 1, 1.
  settingRange_ = true;
  SetNiceRange(axisX_, first, std::max(last, first + (kTicks - 1)));
  settingRange_ = false;
}

QValueAxis* THistoryWindow::AxisY() const { return axisY_; }

void THistoryWindow::SetEnergyRange(double low, double high) {
  if (!std::isfinite(low) || !std::isfinite(high) || !(low < high)) return;
  if (LogScale->isChecked()) {
    // Whole units: each is about a power of ten.
    low = std::floor(low);
    high = std::ceil(high);
  } else {
    // Ends on the ticks' step, which changes seldom as values grow.
    const std::vector<AxisTick> ticks = LinearTicks(low, high);
    if (ticks.size() >= 2) {
      const double step = ticks[1].value - ticks[0].value;
      low = std::floor(low / step) * step;
      high = std::ceil(high / step) * step;
    }
  }
  if (low != axisY_->min() || high != axisY_->max()) {
    settingRange_ = true;
    axisY_->setRange(low, high);
    settingRange_ = false;
  }
  LabelEnergyAxis();
}

void THistoryWindow::LabelEnergyAxis() {
  yLow_ = axisY_->min();
  yHigh_ = axisY_->max();
  const std::vector<AxisTick> ticks =
      LogScale->isChecked() ? SymLogTicks(yLow_, yHigh_) : LinearTicks(yLow_, yHigh_);
  QStringList labels;
  for (const AxisTick& t : ticks) labels << t.label;
  if (labels == axisY_->categoriesLabels()) return;
  settingRange_ = true;
  for (const QString& label : axisY_->categoriesLabels()) axisY_->remove(label);
  axisY_->setStartValue(yLow_);
  for (const AxisTick& t : ticks) axisY_->append(t.label, t.value);
  // Appending may stretch the range to the categories: keep the range.
  axisY_->setRange(yLow_, yHigh_);
  settingRange_ = false;
}

void THistoryWindow::ResetZoom() {
  zoomed_ = false;
  ResetZoomButton->setEnabled(false);
  settingRange_ = true;
  Chart->zoomReset();
  settingRange_ = false;
  RebuildChart();
}

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
  Values->setText(
      QStringLiteral("Kinetic: %1\nPotential: %2\nTotal: %3\n%4")
          .arg(NumberText(n.Kinetic), NumberText(n.Potential), NumberText(n.Kinetic + n.Potential),
               QString::fromStdString(batch::ForceChoicesText(n.Force))));
  marker_->replace(QList<QPointF>{{double(n.State.StepCount), yLow_}, {double(n.State.StepCount), yHigh_}});

  // The snapshot as the main window would draw it now.
  const QImage image = host_.DrawSnapshot(n);
  Picture->setPixmap(
      QPixmap::fromImage(Thickened(image).scaled(kPictureSize, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void THistoryWindow::ContinueClick() {
  const int index = SelectedIndex();
  if (index < 0) return;
  host_.ContinueFromSnapshot(std::size_t(index));
  Refresh();
}

std::optional<std::string> THistoryWindow::ChooseOutput(const QString& filter, const QString& suffix,
                                                        const QString& refusal) {
  FileDialogSpec request;
  request.filter = filter;
  request.defaultSuffix = suffix;
  const std::optional<QString> chosen = ChooseSavePath(this, request);
  if (!chosen) return std::nullopt;
  // Never in the place of the configuration the run came from.
  const std::string path = QFile::encodeName(*chosen).toStdString();
  const std::string config = host_.ConfigurationName();
  if (!config.empty() && SameFile(path, config)) {
    AppDialogs().Error(this, refusal);
    return std::nullopt;
  }
  return path;
}

void THistoryWindow::ExportClick() {
  const RunHistory& h = run_.History();
  if (h.Empty()) return;
  const auto path =
      ChooseOutput(QStringLiteral("CSV files (*.csv)"), QStringLiteral("csv"),
                   QStringLiteral("The table cannot replace the configuration file it was made from."));
  if (!path) return;
  const std::string text = HistoryCsv(h);
  WriteFileSafely(*path, text.data(), text.size());
}

void THistoryWindow::ExportXyzClick() {
  const RunHistory& h = run_.History();
  if (h.Empty()) return;
  const auto path =
      ChooseOutput(QStringLiteral("Extended XYZ files (*.xyz)"), QStringLiteral("xyz"),
                   QStringLiteral("The frames cannot replace the configuration file they were made from."));
  if (!path) return;
  const std::string text = HistoryXyz(h, run_.Options().walls);
  WriteFileSafely(*path, text.data(), text.size());
}

void THistoryWindow::SaveClick() {
  const RunHistory& h = run_.History();
  if (h.Empty()) return;
  const auto path =
      ChooseOutput(QStringLiteral("Run archives (*.qra)"), QStringLiteral("qra"),
                   QStringLiteral("The archive cannot replace the configuration file it was made from."));
  if (path) SaveHistoryArchive(h, run_.Options(), *path);
}

}  // namespace qd
