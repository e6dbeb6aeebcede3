// What a trajectory with a frame after every step adds to a batch run of 60
// particles: the same run with and without --xyz FILE --every 1, and the
// writing of one frame alone (energies included). Its main is core_step.cpp's.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "bench_cloud.h"
#include "core/batch/batch_run.h"
#include "core/dynamics/energy.h"
#include "core/persistence/config_record.h"
#include "core/persistence/xyz.h"

namespace {

using namespace qd;

const char* kFormulaNames[] = {"E", "PE", "PES", "DUDI", "EPESminus"};

class Scratch {
 public:
  Scratch() {
    char tmpl[] = "/tmp/quindelle-bench-XXXXXX";
    if (::mkdtemp(tmpl) != nullptr) dir_ = tmpl;
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::string operator/(const char* name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
};

double RunSeconds(const batch::Options& o) {
  auto s = std::make_unique<SimState>();
  const auto t0 = std::chrono::steady_clock::now();
  const batch::Outcome done = batch::Run(o, *s);
  const auto t1 = std::chrono::steady_clock::now();
  if (done.status != batch::kDone) std::fprintf(stderr, "run failed: %s\n", done.message.c_str());
  return std::chrono::duration<double>(t1 - t0).count();
}

// The machine is shared and its speed wanders: the two runs take turns,
// round after round, and each keeps its best.
void BM_RunWithTrajectory(benchmark::State& state) {
  const auto f = static_cast<Formula>(state.range(0));
  Scratch dir;
  SimState start = bench::Cloud(f, false);
  FillConfigRecord(start);
  WriteConfigFile(start, dir / "start.pln");
  batch::Options plain;
  plain.in = dir / "start.pln";
  plain.steps = static_cast<std::int32_t>(state.range(1));
  plain.step.force.formula = f;
  batch::Options xyz = plain;
  xyz.xyz = dir / "run.xyz";
  xyz.every = 1;
  double best = 1e300, bestXyz = 1e300;
  for (auto _ : state)
    for (int round = 0; round < 7; ++round) {
      best = std::min(best, RunSeconds(plain));
      bestXyz = std::min(bestXyz, RunSeconds(xyz));
    }
  state.counters["run_ms"] = best * 1e3;
  state.counters["xyz_run_ms"] = bestXyz * 1e3;
  state.counters["xyz_share"] = (bestXyz - best) / best;
  state.SetLabel(std::string(kFormulaNames[state.range(0)]) + ", 60 particles, " +
                 std::to_string(plain.steps) + " steps");
}

BENCHMARK(BM_RunWithTrajectory)
    // Runs of about a second and more, so that creating and syncing the file
    // do not weigh as they would in a run of a few hundred milliseconds.
    ->Args({0, 1000})
    ->Args({0, 3000})
    ->Args({2, 300})
    ->Args({3, 300})
    ->Args({4, 300})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// One frame's text alone, and with the energies a frame carries.
void BM_Frame(benchmark::State& state) {
  const SimState s = bench::Cloud(Formula::DUDI, false);
  StepOptions o;
  o.force.formula = Formula::DUDI;
  const bool energies = state.range(0) != 0;
  std::string text;
  for (auto _ : state) {
    text.clear();
    const Extended k = energies ? KineticEnergy(s) : 0, p = energies ? PotentialEnergy(s, o.force) : 0;
    AppendXyzFrame(text, s, o, k, p);
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
  state.SetLabel(energies ? "text and energies" : "text only");
}

BENCHMARK(BM_Frame)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
