// Time per step of the literal force law and of the fast step, for 60
// present particles under each formula, with the exp and ln calls per step.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <random>
#include <string>

#include "core/dynamics/force.h"
#include "core/dynamics/step.h"

namespace {

using namespace qd;

const char* kFormulaNames[] = {"E", "PE", "PES", "DUDI", "EPESminus"};

// 60 particles spread over a cube of half-width 6, so that the bumps of the
// poly-exponential formulas (near r = 5, 10 and 20 for these parameters) act
// on many pairs; the two kinds have different parameter sets, as in a real
// two-kind configuration, except for E and PE, which get a bounded B.
SimState Cloud(Formula f, bool equalSets) {
  std::mt19937_64 rng(2024);
  std::uniform_real_distribution<double> pos(-6.0, 6.0), vel(-0.05, 0.05);
  SimState s{};
  s.TaonCount = kSlotCount;
  s.Dt = 0.001L;
  for (int k = 1; k <= kSlotCount; ++k) {
    s.Present[k] = 1;
    s.X[k] = pos(rng);
    s.Y[k] = pos(rng);
    s.Z[k] = pos(rng);
    s.UX[k] = vel(rng);
    s.UY[k] = vel(rng);
    s.UZ[k] = vel(rng);
  }
  InstallAll(s);
  s.A1 = 1;
  s.B1 = 2.718L;
  s.C1 = 5;
  s.D1 = 10;
  s.F1 = 20;
  if (equalSets) {
    s.A2 = 1;
    s.B2 = 2.718L;
    s.C2 = 5;
    s.D2 = 10;
    s.F2 = 20;
  } else {
    s.A2 = 0.75L;
    s.B2 = 1.9L;
    s.C2 = 3.5L;
    s.D2 = 7.25L;
    s.F2 = 12;
  }
  if (f == Formula::E || f == Formula::PE) {
    s.B1 = -0.5L;
    s.B2 = equalSets ? -0.5L : -1.9L;
  }
  return s;
}

void RunSteps(benchmark::State& state, bool literal) {
  const auto f = static_cast<Formula>(state.range(0));
  const bool equalSets = state.range(1) != 0;
  const SimState start = Cloud(f, equalSets);
  StepOptions o;
  o.force.formula = f;
  SimState s = start;
  gForceMathCalls = {};
  std::int64_t steps = 0;
  for (auto _ : state) {
    s = start;  // every measured step starts from the same configuration
    if (literal)
      AdvanceStepLiteral(s, o, 1);
    else
      AdvanceStep(s, o, 1);
    benchmark::DoNotOptimize(s.X[1]);
    ++steps;
  }
  state.counters["exp_per_step"] = static_cast<double>(gForceMathCalls.exp) / static_cast<double>(steps);
  state.counters["ln_per_step"] = static_cast<double>(gForceMathCalls.ln) / static_cast<double>(steps);
  state.SetLabel(std::string(kFormulaNames[state.range(0)]) + (equalSets ? " equal sets" : " two sets"));
}

void BM_StepLiteral(benchmark::State& state) { RunSteps(state, true); }
void BM_StepFast(benchmark::State& state) { RunSteps(state, false); }

// The median of 30 single steps, reported in milliseconds.
void Configure(benchmark::internal::Benchmark* b) {
  for (int f = 0; f < 5; ++f)
    for (int equal : {0, 1}) b->Args({f, equal});
  b->Iterations(1)->Repetitions(30)->ReportAggregatesOnly(true)->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_StepLiteral)->Apply(Configure);
BENCHMARK(BM_StepFast)->Apply(Configure);

// Console output plus a closing table of literal / fast ratios of the median
// CPU times (the machines are shared; CPU time is what one thread costs).
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.aggregate_name != "median") continue;
      const std::string name = r.run_name.function_name;
      const std::string args = r.run_name.args;
      medians_[args][name] = r.GetAdjustedCPUTime();
      if (name == "BM_StepLiteral")
        literalCounts_[args] = Counts(r);
      else
        fastCounts_[args] = Counts(r);
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-22s %12s %12s %8s %12s %12s %12s %12s\n", "formula / sets", "literal ms", "fast ms",
                "ratio", "exp lit", "exp fast", "ln lit", "ln fast");
    for (const auto& [args, m] : medians_) {
      const auto lit = m.find("BM_StepLiteral"), fast = m.find("BM_StepFast");
      if (lit == m.end() || fast == m.end()) continue;
      const int f = std::stoi(args.substr(0, args.find('/')));
      const bool equal = args.back() == '1';
      const std::string label = std::string(kFormulaNames[f]) + (equal ? " equal" : " two sets");
      std::printf("%-22s %12.3f %12.3f %7.1fx %12.0f %12.0f %12.0f %12.0f\n", label.c_str(), lit->second,
                  fast->second, lit->second / fast->second, literalCounts_[args].first,
                  fastCounts_[args].first, literalCounts_[args].second, fastCounts_[args].second);
    }
  }

 private:
  static std::pair<double, double> Counts(const Run& r) {
    const auto e = r.counters.find("exp_per_step"), l = r.counters.find("ln_per_step");
    return {e == r.counters.end() ? 0 : e->second.value, l == r.counters.end() ? 0 : l->second.value};
  }
  std::map<std::string, std::map<std::string, double>> medians_;
  std::map<std::string, std::pair<double, double>> literalCounts_, fastCounts_;
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
