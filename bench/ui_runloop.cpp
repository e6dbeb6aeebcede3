// The window's run loop against the bare time step: the real main window,
// a loaded 60-particle configuration, runs of a fixed number of steps with
// the per-step redraw and event processing, in turns with the same number of
// core steps from the same state, both timed in segments. Reported per
// formula: both sides' median rates and their ratio (window / core). Run it under a real X server (make bench
// does, under Xvfb) as well as offscreen: only there does the copy to the screen cost. A second measurement
// sets the run loop with the run's history recorded against the same loop with recording off.
#include <benchmark/benchmark.h>
#include <time.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QRadioButton>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "bench_cloud.h"
#include "core/dynamics/options.h"
#include "core/dynamics/step.h"
#include "core/persistence/config_record.h"
#include "core/state/sim_state.h"
#include "ui/common/dialogs.h"
#include "ui/mainform/mainform.h"

namespace {

using qd::Extended;

// Runs of a tenth (E) to half a second (DUDI), timed in segments of 100
// steps; short runs in turns follow the host's changing pace closely.
constexpr int kSteps = 400;
constexpr int kSegmentSteps = 100;

double Median(std::vector<double> v) {
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

qd::SimState Cloud() { return qd::bench::LatticeCloud(); }

// No dialog may block a measurement: errors are collected instead.
class SilentDialogs : public qd::Dialogs {
 public:
  std::vector<QString> errors;
  std::optional<QString> OpenFile(QWidget*, const qd::FileDialogSpec&) override { return std::nullopt; }
  std::optional<QString> SaveFile(QWidget*, const qd::FileDialogSpec&) override { return std::nullopt; }
  bool AskYesNo(QWidget*, const QString&) override { return false; }
  qd::Answer AskYesNoCancel(QWidget*, const QString&) override { return qd::Answer::Cancel; }
  void Information(QWidget*, const QString& text) override { errors.push_back(text); }
  void Error(QWidget*, const QString& text) override { errors.push_back(text); }
};

// The start-pointer file and the configuration live in a private folder.
class PrivateConfigHome {
 public:
  PrivateConfigHome()
      : old_(qgetenv("XDG_CONFIG_HOME")), hadOld_(qEnvironmentVariableIsSet("XDG_CONFIG_HOME")) {
    qputenv("XDG_CONFIG_HOME", dir_.path().toLocal8Bit());
  }
  ~PrivateConfigHome() {
    if (hadOld_) {
      qputenv("XDG_CONFIG_HOME", old_);
    } else {
      qunsetenv("XDG_CONFIG_HOME");
    }
  }
  QString Path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }

 private:
  QTemporaryDir dir_;
  QByteArray old_;
  bool hadOld_;
};

// A shown main window that has opened the 60-particle cloud as a user opens
// a file, with its start-pointer file in a private folder and no dialog that
// could block a measurement.
class CloudWindow {
 public:
  CloudWindow() {
    qd::SetAppDialogs(&dialogs);
    qd::SimState file = Cloud();
    qd::FillConfigRecord(file);
    const QString path = home_.Path("cloud.pln");
    qd::WriteConfigFile(file, path.toStdString());
    form = std::make_unique<qd::TMainForm>(s);
    form->show();
    Settle();
    form->RunHandler([&] { form->OpenFromCommandLine(path); });
    Settle();
  }
  ~CloudWindow() {
    form.reset();
    qd::SetAppDialogs(nullptr);
  }
  static void Settle() {
    for (int i = 0; i < 10; ++i) QApplication::processEvents();
  }
  // Picks the formula (E or DUDI) and Show Listing as a user would.
  void Choose(qd::Formula formula, bool listing) {
    (formula == qd::Formula::DUDI ? form->ExpoPolyExpSum : form->Exponential)->setChecked(true);
    form->ShowList->setChecked(listing);
    Settle();
  }

 private:
  PrivateConfigHome home_;

 public:
  SilentDialogs dialogs;
  qd::SimState s;
  std::unique_ptr<qd::TMainForm> form;
};

void BM_RunLoopVsCore(benchmark::State& state) {
  const auto formula = static_cast<qd::Formula>(state.range(0));
  const bool listing = state.range(1) != 0;
  CloudWindow window;
  SilentDialogs& dialogs = window.dialogs;
  qd::SimState& s = window.s;
  {
    qd::TMainForm& form = *window.form;
    window.Choose(formula, listing);
    const qd::SimState start = s;
    const qd::StepOptions options = form.CurrentStepOptions();
    // The core's steps on an engine of their own, kept for every round as
    // the window keeps its run's.
    qd::StepEngine engine;

    // Both sides are timed in segments of kSegmentSteps steps, and each
    // side's median segment counts: the host machine's pace changes from
    // moment to moment, and a median over many segments of both sides,
    // taken in turns, follows the steady pace of a long run without being
    // swayed by a few slow moments or by the first and last frames of a run.
    std::vector<double> windowSegments, coreSegments;
    QElapsedTimer clock;
    qint64 segmentStart = 0;
    int done = 0;
    form.AfterStep = [&] {
      if (++done % kSegmentSteps == 0) {
        const qint64 now = clock.nsecsElapsed();
        windowSegments.push_back(double(now - segmentStart) * 1e-9);
        segmentStart = now;
      }
      if (done == kSteps) form.GoClick();
    };
    for (auto _ : state) {
      s = start;
      done = 0;
      clock.start();
      segmentStart = 0;
      form.GoClick();
      const double w = double(clock.nsecsElapsed()) * 1e-9;
      if (!dialogs.errors.empty() || done != kSteps) {
        state.SkipWithError(dialogs.errors.empty() ? "run did not stop" : qPrintable(dialogs.errors.front()));
        break;
      }

      qd::SimState core = start;
      try {
        clock.start();
        segmentStart = 0;
        for (int n = 1; n <= kSteps; ++n) {
          engine.Advance(core, options, n);
          if (n % kSegmentSteps == 0) {
            const qint64 now = clock.nsecsElapsed();
            coreSegments.push_back(double(now - segmentStart) * 1e-9);
            segmentStart = now;
          }
        }
      } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        break;
      }
      benchmark::DoNotOptimize(core.X[1]);
      state.SetIterationTime(w);
    }
    form.AfterStep = nullptr;
    if (!windowSegments.empty() && !coreSegments.empty()) {
      const double windowRate = kSegmentSteps / Median(windowSegments);
      const double coreRate = kSegmentSteps / Median(coreSegments);
      state.counters["window_steps/s"] = windowRate;
      state.counters["core_steps/s"] = coreRate;
      state.counters["ratio"] = windowRate / coreRate;
    }
    state.SetLabel(std::string(formula == qd::Formula::DUDI ? "DUDI" : "E") +
                   (listing ? ", Show Listing on, " : ", Show Listing off, ") +
                   QGuiApplication::platformName().toStdString());
  }
}
BENCHMARK(BM_RunLoopVsCore)
    ->Args({0, 0})
    ->Args({3, 0})
    ->Args({0, 1})
    ->Args({3, 1})
    ->ArgNames({"formula", "listing"})
    ->UseManualTime()
    ->Iterations(15)
    ->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

// The pieces the window adds to every step, alone.
void BM_WindowStepOverhead(benchmark::State& state) {
  CloudWindow window;
  qd::SimState& s = window.s;
  {
    qd::TMainForm& form = *window.form;
    const int part = int(state.range(0));
    for (auto _ : state) {
      if (part == 0) {
        s.ViewTeta += 0.001L;
        form.DrawParticles();
      } else if (part == 1) {
        s.X[1] += 1e-9L;  // a new number, as after every step
        form.FillListing();
      } else {
        QCoreApplication::processEvents();
      }
    }
    static const char* const names[] = {"DrawParticles", "FillListing", "processEvents"};
    state.SetLabel(names[part]);
  }
}
BENCHMARK(BM_WindowStepOverhead)->DenseRange(0, 2)->ArgName("part")->Unit(benchmark::kMicrosecond);

}  // namespace

namespace {

// What recording the run's history costs the run loop: the same window
// run with recording on and off, alternately, Show Listing off. Reported:
// both rates and their ratio (recording / not recording).
void BM_RunLoopRecording(benchmark::State& state) {
  const auto formula = static_cast<qd::Formula>(state.range(0));
  constexpr int kRecordedSteps = 400;
  CloudWindow window;
  SilentDialogs& dialogs = window.dialogs;
  qd::SimState& s = window.s;
  {
    qd::TMainForm& form = *window.form;
    window.Choose(formula, false);
    const qd::SimState start = s;

    int done = 0;
    form.AfterStep = [&] {
      if (++done == kRecordedSteps) form.GoClick();
    };
    auto run = [&](bool recording) {
      s = start;
      done = 0;
      form.History().Clear();
      form.History().SetEnabled(recording);
      // The loop's processor time: the machine may be busy with other work,
      // and that must not decide the ratio.
      timespec a{}, b{};
      clock_gettime(CLOCK_THREAD_CPUTIME_ID, &a);
      form.GoClick();
      clock_gettime(CLOCK_THREAD_CPUTIME_ID, &b);
      return double(b.tv_sec - a.tv_sec) + double(b.tv_nsec - a.tv_nsec) * 1e-9;
    };
    double on = 1e300, off = 1e300;
    std::size_t snapshots = 0;
    for (auto _ : state) {
      const double without = run(false);
      const double with = run(true);
      snapshots = form.History().Size();
      if (!dialogs.errors.empty() || done != kRecordedSteps) {
        state.SkipWithError(dialogs.errors.empty() ? "run did not stop" : qPrintable(dialogs.errors.front()));
        break;
      }
      off = std::min(off, without);
      on = std::min(on, with);
      state.SetIterationTime(with);
    }
    form.AfterStep = nullptr;
    form.History().SetEnabled(true);
    if (on < 1e300) {
      state.counters["recording_steps/s"] = kRecordedSteps / on;
      state.counters["plain_steps/s"] = kRecordedSteps / off;
      state.counters["ratio"] = off / on;
      state.counters["snapshots"] = double(snapshots);
    }
    state.SetLabel(std::string(formula == qd::Formula::DUDI ? "DUDI" : "E") + ", Show Listing off");
  }
}
BENCHMARK(BM_RunLoopRecording)
    ->Arg(0)
    ->Arg(3)
    ->ArgName("formula")
    ->UseManualTime()
    ->Iterations(9)
    ->Unit(benchmark::kMillisecond);

}  // namespace
