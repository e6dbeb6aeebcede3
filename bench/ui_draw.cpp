// The cost the picture and the listing add to every simulation step, next to
// the cost of the step itself, all with 60 present particles.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <cmath>

#include "bench_cloud.h"
#include "core/common/errors.h"
#include "core/dynamics/options.h"
#include "core/dynamics/step.h"
#include "core/editing/number_text.h"
#include "core/state/sim_state.h"
#include "core/structures/structures.h"
#include "ui/view/listing.h"
#include "ui/view/scene.h"
#include "ui/view/string_grid.h"

namespace {

using qd::Extended;

qd::SimState Cloud(Extended jitter = 0) { return qd::bench::LatticeCloud(jitter); }

qd::SceneStyle Style(bool numbers) {
  qd::SceneStyle style;
  style.font = qd::PictureFont();
  style.numbersOn = numbers;
  return style;
}

void BM_DrawParticles(benchmark::State& state) {
  qd::SimState s = Cloud();
  const qd::SceneStyle style = Style(state.range(0) != 0);
  QImage image(596, 176, QImage::Format_RGB32);
  for (auto _ : state) {
    s.ViewTeta += 0.001L;  // a turning view, as while the user drags
    qd::DrawParticles(image, s, style);
    benchmark::DoNotOptimize(image.constBits());
  }
}
BENCHMARK(BM_DrawParticles)->Arg(0)->Arg(1)->ArgName("numbers");

void BM_DrawFigure(benchmark::State& state) {
  qd::SimState s;
  s.Scale = 120;
  s.CenterX = 302;
  s.CenterY = 88;
  s.ImageMode = true;
  s.ImageKind = 1;
  qd::StructureBuilder(s);
  s.Phi = 0.01L;
  const qd::SceneStyle style = Style(state.range(0) != 0);
  QImage image(596, 176, QImage::Format_RGB32);
  for (auto _ : state) {
    qd::DrawFigure(image, s, style);
    benchmark::DoNotOptimize(image.constBits());
  }
}
BENCHMARK(BM_DrawFigure)->Arg(0)->Arg(1)->ArgName("numbers");

// Every value changes between two calls, as after a step.
void BM_FillListing(benchmark::State& state) {
  const qd::SimState a = Cloud(), b = Cloud(1e-7L);
  qd::StringGrid grid(4, 61);
  qd::SetUpListingGrid(grid);
  const char sep = qd::LocaleDecimalSeparator();
  bool flip = false;
  for (auto _ : state) {
    qd::FillListing(grid, flip ? b : a, sep);
    flip = !flip;
  }
}
BENCHMARK(BM_FillListing);

// The listing on screen: filling and the repaint that follows.
void BM_FillListingAndPaint(benchmark::State& state) {
  const qd::SimState a = Cloud(), b = Cloud(1e-7L);
  qd::StringGrid grid(4, 61);
  qd::SetUpListingGrid(grid);
  grid.resize(349, 99);
  grid.show();
  QApplication::processEvents();
  const char sep = qd::LocaleDecimalSeparator();
  bool flip = false;
  for (auto _ : state) {
    qd::FillListing(grid, flip ? b : a, sep);
    grid.viewport()->repaint();
    flip = !flip;
  }
}
BENCHMARK(BM_FillListingAndPaint);

// One time step per formula. The state is copied afresh every step so that
// each one starts from the same cloud; the copy is a small part of the cost.
void BM_AdvanceStep(benchmark::State& state) {
  const qd::SimState start = Cloud();
  qd::StepOptions o;
  o.force.formula = static_cast<qd::Formula>(state.range(0));
  qd::SimState s = start;
  qd::StepEngine engine;
  try {
    for (auto _ : state) {
      s = start;
      engine.Advance(s, o, 1);
      benchmark::DoNotOptimize(s.X[1]);
    }
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
  static const char* const names[] = {"E", "PE", "PES", "DUDI", "EPESminus"};
  state.SetLabel(names[state.range(0)]);
}
BENCHMARK(BM_AdvanceStep)->DenseRange(0, 4)->ArgName("formula");

}  // namespace

int main(int argc, char** argv) {
  // Offscreen unless a platform is asked for (make bench also runs the
  // run loop under Xvfb with xcb).
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
