// What the run archive costs at quindelle-run's default cadence: the time
// of the snapshots appended to the archive against the time of the steps
// between them, for the cheapest steps (one and a few particles, the
// plainest formula) and for a full configuration, with the interval the
// cadence settles on (every_steps). The counter share_pct is that ratio in
// percent, which the cadence keeps near 1 at most.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "core/batch/batch_run.h"
#include "core/persistence/run_archive.h"
#include "core/run/run.h"

namespace {

using namespace qd;
using Clock = std::chrono::steady_clock;

RunState Particles(int count) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> pos(-6.0, 6.0), vel(-0.05, 0.05);
  RunState s{};
  s.TaonCount = kSlotCount;
  s.Dt = 0.001L;
  s.A1 = s.A2 = 1;
  s.B1 = s.B2 = -0.5L;
  s.C1 = s.C2 = 5;
  s.D1 = s.D2 = 10;
  s.F1 = s.F2 = 20;
  for (int k = 1; k <= count; ++k) {
    s.Present[k] = 1;
    s.X[k] = pos(rng);
    s.Y[k] = pos(rng);
    s.Z[k] = pos(rng);
    s.UX[k] = vel(rng);
    s.UY[k] = vel(rng);
    s.UZ[k] = vel(rng);
  }
  InstallAll(s);
  return s;
}

// Arguments: particles, formula. Each iteration is one stretch of the run as
// quindelle-run makes it: the default number of steps, then one snapshot.
void BM_ArchiveShare(benchmark::State& state) {
  const int particles = static_cast<int>(state.range(0));
  const auto formula = static_cast<Formula>(state.range(1));
  qd::Run run;
  run.State() = Particles(particles);
  run.Options().force.formula = formula;
  run.History().SetEnabled(false);
  char folder[] = "/tmp/quindelle-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) {
    state.SkipWithError("no scratch folder");
    return;
  }
  const std::string path = std::string(folder) + "/run.qra";
  double stepsNs = 0, snapNs = 0;
  std::int64_t steps = 0;
  {
    archive::Writer writer(path, {0, run.Options(), run.State(), {}});
    batch::ArchiveCadence cadence;
    std::int64_t step = 0;
    for (auto _ : state) {
      const std::int64_t every = cadence.Every();
      const auto t0 = Clock::now();
      run.Go(every);
      const auto t1 = Clock::now();
      step += every;
      writer.Append({step, run.Options(), run.State(), {}});
      const auto t2 = Clock::now();
      const double stretch = std::chrono::duration<double, std::nano>(t1 - t0).count(),
                   snap = std::chrono::duration<double, std::nano>(t2 - t1).count();
      cadence.Measured(snap, stretch, every);
      stepsNs += stretch;
      snapNs += snap;
      steps += every;
    }
    state.counters["every_steps"] = double(cadence.Every());
    writer.Close();
  }
  std::remove(path.c_str());
  rmdir(folder);
  const double n = static_cast<double>(state.iterations());
  state.counters["step_us"] = stepsNs / double(steps) / 1000;
  state.counters["snapshot_us"] = snapNs / n / 1000;
  state.counters["share_pct"] = 100 * snapNs / stepsNs;
  state.SetLabel(std::to_string(particles) + " particles, formula " + batch::kFormulaNames[state.range(1)].first);
}

BENCHMARK(BM_ArchiveShare)
    ->Args({1, int(Formula::E)})
    ->Args({2, int(Formula::E)})
    ->Args({10, int(Formula::E)})
    ->Args({60, int(Formula::E)})
    ->Args({60, int(Formula::DUDI)})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(0.5);

// A snapshot's own parts: its bytes and CRC, and the append.
void BM_SnapshotEncode(benchmark::State& state) {
  const archive::Entry e{1000, {}, Particles(60), {}};
  for (auto _ : state) benchmark::DoNotOptimize(archive::EncodeRecord(e));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * archive::RecordSize()));
}
BENCHMARK(BM_SnapshotEncode);

}  // namespace
