#pragma once
// The "Run History" window: the recorded energies against the step number,
// a timeline over the snapshots with a small picture of the chosen one, going
// back to it, and the snapshots written as the batch runner's table. The
// recording itself is the run's; this window observes the run and reads the
// recording at most ten times a second, so that it never slows a run down.
#include <QPointF>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class QCategoryAxis;
class QChart;
class QChartView;
class QCheckBox;
class QLabel;
class QLineSeries;
class QPushButton;
class QSlider;
class QTimer;
class QValueAxis;

#include "ui/history/history_host.h"

namespace qd {

class Run;
class RunSignals;

// Where a window of `size` goes beside `owner` (both in screen pixels) on a
// screen whose free area is `screen`: to the right, else to the left, else
// against the screen edge on the roomier side, so that it covers as little
// of the owner as the screen allows; never off the screen.
QPoint PlaceBeside(const QRect& owner, const QSize& size, const QRect& screen);

class THistoryWindow : public QWidget {
  Q_OBJECT
 public:
  // Shows the history of `run`, which `host` draws and continues; both must
  // outlive the window.
  THistoryWindow(Run& run, HistoryHost& host, QWidget* parent = nullptr);

  QChartView* ChartView = nullptr;
  QChart* Chart = nullptr;
  QLabel* Note = nullptr;  // says why the curve has gaps
  // Says which of an opened archive's snapshots the history holds when it
  // could not hold them all.
  QLabel* ArchiveNote = nullptr;
  // The energy axis on a symmetric logarithmic scale (sign * log10(1 + |E|)).
  QCheckBox* LogScale = nullptr;
  // Dragging a rectangle over the chart zooms into it; this goes back.
  QPushButton* ResetZoomButton = nullptr;
  QSlider* Timeline = nullptr;
  QLabel* StepLabel = nullptr;
  QLabel* Values = nullptr;  // the chosen snapshot's energies
  QLabel* Picture = nullptr;
  QPushButton* ContinueButton = nullptr;
  QPushButton* ExportButton = nullptr;
  QPushButton* ExportXyzButton = nullptr;  // the snapshots as frames for molecular viewers
  // Writes the snapshots as a run archive (.qra), which File > Open and
  // quindelle-run --from read.
  QPushButton* SaveButton = nullptr;
  QTimer* RefreshTimer = nullptr;

  // Brings the chart, the timeline and the buttons up to date (the timer
  // calls it while the window is shown, the host when its run has ended).
  void Refresh();
  // Enables the buttons that can act now.
  void UpdateButtons();
  // Shows the window and brings it to the front; the first time beside the
  // main window, later where the user left it.
  void ShowBeside(const QWidget& owner);
  void ContinueClick();
  void ExportClick();
  void ExportXyzClick();
  void SaveClick();
  // Where the snapshots are to go, asked of the user; nothing when cancelled
  // or when it is the configuration the run came from or the archive the
  // history was read from (`refusal` says so, with %1 for which of them).
  std::optional<std::string> ChooseOutput(const QString& filter, const QString& suffix,
                                          const QString& refusal);

  // The snapshot the timeline points at, or -1 when there is none.
  int SelectedIndex() const;
  // The pieces a curve is drawn in: a value that is not finite splits it.
  const std::vector<QLineSeries*>& Curve(int which) const { return curves_[std::size_t(which)].pieces; }
  QLineSeries* Marker() const { return marker_; }
  QValueAxis* AxisX() const { return axisX_; }
  QValueAxis* AxisY() const;
  // The energy axis's ticks as shown: where they sit and what they read.
  QCategoryAxis* EnergyAxis() const { return axisY_; }
  // True after a zoom, until Reset Zoom: the run's new steps then leave the
  // ranges alone.
  bool Zoomed() const { return zoomed_; }
  void ResetZoom();
  int ChartRebuilds() const { return rebuilds_; }

  static constexpr int kRefreshMs = 100;
  static constexpr QSize kPictureSize{298, 88};  // half the picture area
  enum { kKinetic, kPotential, kTotal };

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  struct CurveSeries {
    std::vector<QLineSeries*> pieces;
  };
  void RebuildChart();
  void ShowArchiveNote();
  void ShowSelection();
  void SetPieces(int which, const std::vector<std::vector<QPointF>>& runs);
  // Sets the energy range (in the axis's units) and its ticks.
  void SetEnergyRange(double low, double high);
  // Ticks for the energy axis's current range.
  void LabelEnergyAxis();

  // Brings the window up to date at once, or within kRefreshMs during a run.
  void Changed(bool now);

  Run& run_;
  HistoryHost& host_;
  RunSignals* signals_ = nullptr;
  std::array<CurveSeries, 3> curves_;
  QLineSeries* marker_ = nullptr;
  QValueAxis* axisX_ = nullptr;
  QCategoryAxis* axisY_ = nullptr;
  double yLow_ = -1, yHigh_ = 1;
  std::uint64_t shownRevision_ = ~std::uint64_t{0};
  std::int32_t selectedStep_ = 0;
  int rebuilds_ = 0;
  bool placed_ = false;
  bool zoomed_ = false;
  bool settingRange_ = false;  // a range change of our own, not a zoom
};

}  // namespace qd
