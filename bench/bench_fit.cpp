// Cost of the fit engine itself per target evaluation, on an analytic model
// whose own cost is a few hundred flops: Nelder-Mead restarts, simulated
// annealing and Marquardt-Levenberg over a straight polynomial in P[5..8].
#include <benchmark/benchmark.h>

#include <cmath>

#include "data/scan_set.h"
#include "fit/fit_driver.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/fit_random.h"
#include "fit/model_params.h"
#include "numerics/arrays.h"

namespace {

class PolynomialHost : public FitHost {
 public:
  long evaluations = 0;
  void SimulateModel() override {
    ScanSet& ss = CurrentScanSet();
    const float* P = gModelParameterVector.P;
    ++evaluations;
    for (int k = 1; k <= ss.points[1]; ++k) {
      const float x = ss.radii[1][k];
      ss.model[1][k] = P[5] + x * (P[6] + x * (P[7] + x * P[8]));
    }
  }
  void MessageBox(const std::string&, const std::string&, platform::BoxIcon) override {}
  void ErrorBox(const std::string&) override {}
  void PlaySoundError() override {}
};

void LoadPolynomialData(int points) {
  ScanSet& ss = CurrentScanSet();
  FreeScanSetArrays(ss);
  AllocateScanTables(ss, 1);
  ss.radii[1] = vector(1, points);
  ss.signals[1] = vector(1, points);
  ss.model[1] = vector(1, points);
  for (int k = 1; k <= points; ++k) {
    const float x = 6.0f + 1.2f * k / points;
    ss.radii[1][k] = x;
    ss.signals[1][k] = 1.0f + 0.1f * (x - 6.0f) - 0.05f * (x - 6.0f) * (x - 6.0f) + 0.001f * std::sin(37.0f * x);
  }
  ss.points[1] = points;
  ss.order[1] = 1;
  ss.firstFitPoint[1] = 1;
  ss.lastFitPoint[1] = points;
  ss.fileNames[1] = "bench.ra1";
  ss.leftFitLimit = 6.0f;
  ss.rightFitLimit = 7.2f;
  gModelParams.meniscus = 6.0f;
  gModelParams.bottom = 7.2f;
}

void StartParameters() {
  gModelParameterVector = ModelParameterVector{};
  float* P = gModelParameterVector.P;
  int* F = gModelParameterVector.F;
  P[13] = 6.0f;
  P[14] = 7.2f;
  P[5] = 0.5f;
  P[6] = 0.2f;
  P[7] = -0.01f;
  P[8] = 0.001f;
  F[5] = F[6] = F[7] = F[8] = 1;
}

void RunMethod(benchmark::State& state, int method) {
  fitrandom::SeedGaussRandom(1);
  LoadPolynomialData(static_cast<int>(state.range(0)));
  PolynomialHost host;
  long evaluations = 0;
  for (auto _ : state) {
    StartParameters();
    gFitEngineState = FitEngineState{};
    gFitEngineState.useMarquardt = method == 1;
    gFitEngineState.useAnnealing = method == 2;
    gFitEngineState.annealIterations = 100;
    gFitEngineState.annealFinalMarquardt = 0;
    host.evaluations = 0;
    benchmark::DoNotOptimize(FitCurrentModel(&host));
    evaluations += host.evaluations;
  }
  state.counters["evaluations_per_fit"] =
      benchmark::Counter(static_cast<double>(evaluations) / static_cast<double>(state.iterations()));
  state.counters["time_per_evaluation"] =
      benchmark::Counter(static_cast<double>(evaluations), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  FreeScanSetArrays(CurrentScanSet());
}

void BM_NelderMeadRestarts(benchmark::State& state) { RunMethod(state, 0); }
void BM_MarquardtLevenberg(benchmark::State& state) { RunMethod(state, 1); }
void BM_SimulatedAnnealing(benchmark::State& state) { RunMethod(state, 2); }

BENCHMARK(BM_NelderMeadRestarts)->Arg(10)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MarquardtLevenberg)->Arg(10)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SimulatedAnnealing)->Arg(10)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
