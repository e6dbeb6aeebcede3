// Time per step of the literal force law and of the fast step on one and on
// two threads, for 60 present particles under each formula, with the exp and
// ln calls per step; and, for few particles, one thread against two, to show
// where threads start to pay.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "core/dynamics/fast_force.h"
#include "core/dynamics/force.h"
#include "core/dynamics/step.h"
#include "bench_cloud.h"

namespace {

using namespace qd;
using bench::Cloud;

const char* kFormulaNames[] = {"E", "PE", "PES", "DUDI", "EPESminus"};

enum Variant { kLiteral, kOneThread, kTwoThreads, kVariants };

// One engine for every measurement, as a run keeps one: its workers stay
// awake from one short run to the next.
StepEngine& Engine() {
  static StepEngine engine;
  return engine;
}

// Wall-clock milliseconds per step of a short run from `start`; the steps of
// a run follow each other as in a real run, so the workers stay awake.
double MsPerStep(const SimState& start, StepOptions o, Variant v, int steps) {
  SimState s = start;
  o.threads = v == kTwoThreads ? 2 : 1;
  // A run's workers are awake from its second step on; the first one, which
  // may have to wake them from their sleep, is not what a run's steps cost.
  if (v != kLiteral) Engine().Advance(s, o, 1);
  const auto t0 = std::chrono::steady_clock::now();
  for (int n = 2; n <= steps + 1; ++n) {
    if (v == kLiteral)
      AdvanceStepLiteral(s, o, n);
    else
      Engine().Advance(s, o, n);
  }
  const auto t1 = std::chrono::steady_clock::now();
  benchmark::DoNotOptimize(s.X[1]);
  return std::chrono::duration<double, std::milli>(t1 - t0).count() / steps;
}

// The machine is shared and its speed wanders by tens of percent: the
// variants are measured in turn, round after round, and each keeps its best.
void BestOf(const SimState& start, const StepOptions& o, int rounds, const std::vector<Variant>& variants,
            int steps, double best[kVariants]) {
  for (int v = 0; v < kVariants; ++v) best[v] = 1e300;
  for (int r = 0; r < rounds; ++r)
    for (Variant v : variants) best[v] = std::min(best[v], MsPerStep(start, o, v, v == kLiteral ? 2 : steps));
}

void BM_Step(benchmark::State& state) {
  const auto f = static_cast<Formula>(state.range(0));
  const bool equalSets = state.range(1) != 0;
  const SimState start = Cloud(f, equalSets);
  StepOptions o;
  o.force.formula = f;
  double best[kVariants];
  for (auto _ : state) BestOf(start, o, 12, {kLiteral, kOneThread, kTwoThreads}, 10, best);

  // The calls of one step, counted on one thread and on two.
  for (int threads : {1, 2}) {
    SimState s = start;
    o.threads = threads;
    MathCallCounts& calls = Engine().Forces().calls;
    calls = {};
    Engine().Advance(s, o, 1);
    state.counters[threads == 1 ? "exp_fast" : "exp_2t"] = static_cast<double>(calls.exp);
    state.counters[threads == 1 ? "ln_fast" : "ln_2t"] = static_cast<double>(calls.ln);
  }
  SimState s = start;
  MathCallCounts literal;
  AdvanceStepLiteral(s, o, 1, &literal);
  state.counters["exp_lit"] = static_cast<double>(literal.exp);
  state.counters["ln_lit"] = static_cast<double>(literal.ln);
  state.counters["lit_ms"] = best[kLiteral];
  state.counters["t1_ms"] = best[kOneThread];
  state.counters["t2_ms"] = best[kTwoThreads];
  state.SetLabel(std::string(kFormulaNames[state.range(0)]) + (equalSets ? " equal" : " two sets"));
}

BENCHMARK(BM_Step)
    ->ArgsProduct({{0, 1, 2, 3, 4}, {1, 0}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// One thread against two for a few particles (the first ones of the cloud),
// with the one-thread threshold lowered so that both are really measured.
void BM_FewParticles(benchmark::State& state) {
  const auto f = static_cast<Formula>(state.range(0));
  const int particles = static_cast<int>(state.range(1));
  SimState start = Cloud(f, true);
  for (int k = particles + 1; k <= kSlotCount; ++k) start.Present[k] = 0;
  StepOptions o;
  o.force.formula = f;
  ParallelThreshold& threshold = Engine().Forces().threshold;
  const ParallelThreshold saved = threshold;
  threshold = {2, 2};
  double best[kVariants];
  for (auto _ : state) BestOf(start, o, 30, {kOneThread, kTwoThreads}, 50, best);
  threshold = saved;
  state.counters["t1_ms"] = best[kOneThread];
  state.counters["t2_ms"] = best[kTwoThreads];
  state.SetLabel(std::string(kFormulaNames[state.range(0)]) + " " + std::to_string(particles) + " particles");
}

BENCHMARK(BM_FewParticles)
    ->ArgsProduct({{0, 1, 2, 3}, {3, 4, 5, 6, 8, 12, 24}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Console output plus closing tables of the ratios, all from this one run.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      auto get = [&](const char* name) {
        const auto it = r.counters.find(name);
        return it == r.counters.end() ? 0.0 : it->second.value;
      };
      char line[200];
      const double lit = get("lit_ms"), t1 = get("t1_ms"), t2 = get("t2_ms");
      if (r.run_name.function_name == "BM_Step") {
        std::snprintf(line, sizeof line,
                      "%-18s %9.3f %9.3f %9.3f %8.1fx %8.1fx %8.2fx %8.0f %8.0f %8.0f %8.0f",
                      r.report_label.c_str(), lit, t1, t2, lit / t1, lit / t2, t1 / t2, get("exp_lit"),
                      get("exp_fast"), get("ln_lit"), get("ln_fast"));
        if (get("exp_fast") != get("exp_2t") || get("ln_fast") != get("ln_2t"))
          std::strncat(line, "  (two threads counted other calls)", sizeof line - std::strlen(line) - 1);
        steps_.push_back(line);
        // Amdahl's law fitted to the two-thread figure: the share of a step
        // that stays on one thread, and what 8 and 16 cores would then give.
        const double speedup = t1 / t2, serial = std::clamp(2 / speedup - 1, 0.0, 1.0);
        auto on = [&](int cores) { return 1 / (serial + (1 - serial) / cores); };
        std::snprintf(line, sizeof line, "%-18s %8.2fx %9.1f%% %8.2fx %8.2fx", r.report_label.c_str(), speedup,
                      100 * serial, on(8), on(16));
        amdahl_.push_back(line);
      } else if (r.run_name.function_name == "BM_FewParticles") {
        std::snprintf(line, sizeof line, "%-22s %9.4f %9.4f %8.2fx", r.report_label.c_str(), t1, t2, t1 / t2);
        few_.push_back(line);
      }
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nms per step, best of several runs, variants alternating (60 particles)\n");
    std::printf("%-18s %9s %9s %9s %9s %9s %9s %8s %8s %8s %8s\n", "formula / sets", "literal", "1 thread",
                "2 threads", "lit/1t", "lit/2t", "1t/2t", "exp lit", "exp fast", "ln lit", "ln fast");
    for (const auto& l : steps_) std::printf("%s\n", l.c_str());
    std::printf("\nthe serial share of a step that 2 threads / 1 thread implies, and its projection\n");
    std::printf("%-18s %9s %10s %9s %9s\n", "formula / sets", "1t/2t", "serial", "8 cores", "16 cores");
    for (const auto& l : amdahl_) std::printf("%s\n", l.c_str());
    std::printf(
        "\nfew particles, one thread against two (threads in use from %d particles on for E and PE,\n"
        "%d for the others)\n",
        Engine().Forces().threshold.cheapLaws, Engine().Forces().threshold.costlyLaws);
    std::printf("%-22s %9s %9s %9s\n", "formula / particles", "1 thread", "2 threads", "1t/2t");
    for (const auto& l : few_) std::printf("%s\n", l.c_str());
  }

 private:
  std::vector<std::string> steps_, amdahl_, few_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
