// The Run History window's chart: the energy curves, cut where a value
// cannot be drawn and thinned to about a point per pixel, and its axes.
#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPen>
#include <QPushButton>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <limits>

#include "core/history/run_history.h"
#include "core/run/run.h"
#include "ui/history/energy_chart.h"
#include "ui/history/history_window.h"

namespace qd {
namespace {

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

}  // namespace

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

}  // namespace qd
