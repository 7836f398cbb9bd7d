// A c(s) fit as the Fit command runs it: resolution 100, meniscus and f/f0
// floated, Nelder-Mead restarts, on 50 scans x 500 points with 8 threads.
// Every evaluation solves 100 Lamm equations, builds the normal equations
// and solves the non-negative least-squares problem.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <random>
#include <string>

#include "bench_experiment.h"
#include "data/scan_set.h"
#include "distributions/conti_context.h"
#include "distributions/conti_fit.h"
#include "distributions/conti_grid.h"
#include "distributions/conti_lamm_list.h"
#include "distributions/conti_run.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/work_blocks.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/lamm_settings.h"
#include "numerics/arrays.h"
#include "numerics/random.h"
#include "platform/paths.h"

namespace {

constexpr int kScans = 50;
constexpr int kPoints = 500;
constexpr int kThreads = 8;
constexpr float kMeniscus = 6.0f, kBottom = 7.2f;

// 50 scans at 50000 rpm every 150 s from 600 s, on a common grid from the
// meniscus to the bottom; data of two species (4 and 7.5 S, f/f0 1.25)
// simulated by the run itself (plateau 3), plus noise 0.005.
void MakeExperiment() {
  bench::MakeCommonGridScans(kScans, kPoints, kMeniscus, kBottom, 6.05f, 7.1f, 50000.0f,
                             [](int j) { return 600 + (j - 1) * 150.0; });
  ScanSet& s = CurrentScanSet();
  gModelParams.meniscus = kMeniscus;
  gModelParams.bottom = kBottom;
  PackModelParameters();
  gSolutionConditions = SolutionConditions{};
  gSolutionConditions.vbar = 0.73f;
  gSolutionConditions.density = 0.99823f;
  gSolutionConditions.vbarRho = 0.73f * 0.99823f;
  ContiSettings& cs = bench::UseCs(100.0f, 1.25f);
  cs.maxEntropy = 0;
  cs.confidenceLevel = 0.68f;
  cs.multipleThreads = 1;
  cs.normalEquationThreads = kThreads;
  LammListThreads() = kThreads;
  ContiContext().infoMessages = false;
  ContiContext().drawingEnabled = false;
  LammSettings() = LammSolverSettings{};

  SetupContiGrid();
  for (int i = 1; i <= cs.gridSize; ++i) cs.distribution[i] = 0.0f;
  const int a = static_cast<int>((4.0f - cs.sMin) / (cs.sMax - cs.sMin) * (cs.gridSize - 1)) + 1;
  const int b = static_cast<int>((7.5f - cs.sMin) / (cs.sMax - cs.sMin) * (cs.gridSize - 1)) + 1;
  cs.distribution[a] = 1.8f;
  cs.distribution[b] = 1.2f;
  cs.synthetic = 1;
  RunContiSed();
  cs.synthetic = 0;
  std::mt19937 gen(1);
  std::normal_distribution<float> noise(0.0f, 0.005f);
  for (int j = 1; j <= kScans; ++j)
    for (int i = 1; i <= kPoints; ++i) s.signals[j][i] = s.gridSignals[j][i] = s.model[j][i] + noise(gen);
}

void Float(float meniscus, float ff0) {
  gModelParams.meniscus = meniscus;
  gModelParams.meniscusFit = 1;
  Conti().ffValue = ff0;
  Conti().fitFfValue = 1;
  PackModelParameters();
  FitEngineState& fs = gFitEngineState;
  fs.meniscusMin = 5.9f;
  fs.meniscusMax = 6.1f;
  fs.useSimplex = 1;
  fs.useMarquardt = fs.useAnnealing = 0;
}

// One evaluation of the objective (Lamm solutions, normal equations, NNLS).
void BM_ContiEvaluation(benchmark::State& state) {
  MakeExperiment();
  Float(6.005f, 1.3f);
  bench::QuietFitHost host;
  SetupContiGrid();
  gFitEngineState.fitRunning = 1;
  gFitEngineState.stopRequested = 0;
  float p[3] = {0.0f, 1.3f, 6.005f};
  double lamm = 0, neq = 0, reg = 0;
  for (auto _ : state) {
    p[2] = 6.005f;
    benchmark::DoNotOptimize(ContiSimplexSim(p, &host));
    const ContiRunTimings& t = LastContiRunTimings();
    lamm += t.lamm;
    neq += t.normalEquations;
    reg += t.regularization;
  }
  gFitEngineState.fitRunning = 0;
  const double n = static_cast<double>(state.iterations());
  state.counters["lamm_ms"] = 1e3 * lamm / n;
  state.counters["neq_ms"] = 1e3 * neq / n;
  state.counters["nnls_ms"] = 1e3 * reg / n;
  state.counters["evaluations_per_s"] = benchmark::Counter(n, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ContiEvaluation)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// The whole Fit command from meniscus 6.010 cm and f/f0 1.40.
void BM_ContiFitSimplex(benchmark::State& state) {
  MakeExperiment();
  bench::QuietFitHost host;
  bench::TimeFitCommand(state, host, [] {
    Float(6.010f, 1.40f);
    SeedGaussRandom(3);
  });
  state.counters["meniscus"] = gModelParams.meniscus;
  state.counters["ff0"] = Conti().ffValue;
  state.counters["rmsd"] = gFitEngineState.currentRmsd;
}
BENCHMARK(BM_ContiFitSimplex)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
