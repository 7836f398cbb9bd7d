// The regularised solve of a c(s) run at P = 0.68 with TI and RI noise
// (maximum entropy, or Tikhonov-Phillips: the last argument 0), at
// resolutions 100 to 800 on m scans x r points at 50000 rpm (two species,
// 3 and 8 S, noise 0.005). Each iteration is a whole run; reg_s is its
// regularised solve (seconds), beside the Lamm solutions and the normal
// equations. Also: ln alpha', the chi-square ratio reached and its target,
// and the Marquardt iterations. Beside them, the c(s,f/f0) Run of scans
// without material (36 scans x 390 points from 600 s, 300 s apart, every
// value 0.5 + noise of 0.01, TI and RI noise, s 2-15 at 100 points, f/f0
// 1-2 at 10 or 25 points, P = 0.95, one thread): its CPU seconds (cpu_s)
// and whether its search of alpha ended short of the ratio (short).
#include <benchmark/benchmark.h>

#include <cmath>
#include <ctime>
#include <random>

#include "bench_experiment.h"
#include "data/scan_set.h"
#include "distributions/conti_context.h"
#include "distributions/conti_grid.h"
#include "distributions/conti_lamm_list.h"
#include "distributions/conti_run.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/max_entropy.h"
#include "distributions/regularization_scaling.h"
#include "distributions/work_blocks.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/lamm_settings.h"
#include "numerics/arrays.h"
#include "platform/automatic_ui.h"
#include "platform/paths.h"
#include "platform/scripted_ui.h"

namespace {

void MakeExperiment(int m, int r, int resolution) {
  bench::MakeCommonGridScans(m, r, 6.0f, 7.2f, 6.05f, 7.1f, 50000.0f,
                             [&](int j) { return 300 + 12000.0 * (j - 1) / m; });
  gModelParams.meniscus = 6.0f;
  gModelParams.bottom = 7.2f;
  gFitEngineState.fitTINoise = 0;
  gModelParams.riNoiseFit = 0;
  PackModelParameters();
  ContiSettings& cs = bench::UseCs(static_cast<float>(resolution), 1.2f);
  cs.logSpacedGrid = cs.gridFromFile = 0;
  cs.maxEntropy = 1;
  cs.confidenceLevel = 0.68f;
  cs.multipleThreads = 1;
  cs.normalEquationThreads = 8;
  LammListThreads() = 8;
  ContiContext().infoMessages = false;
  ContiContext().drawingEnabled = false;
  LammSettings() = LammSolverSettings{};
  bench::SimulateTwoSpeciesWithTiRiNoise(m, r);
  gFitEngineState.fitTINoise = 1;
  gModelParams.riNoiseFit = 1;
  PackModelParameters();
}

void BM_RegularisedSolve(benchmark::State& state) {
  platform::AutomaticUserInterface ui;
  platform::ScopedUI scope(ui);
  const int resolution = static_cast<int>(state.range(0));
  MakeExperiment(static_cast<int>(state.range(1)), static_cast<int>(state.range(2)), resolution);
  Conti().maxEntropy = state.range(3) ? 1 : 0;
  bench::RunSplit split;
  for (auto _ : state) {
    RunContiSed();
    split.Add();
  }
  split.Report(state);
  const MaxEntState& me = MaxEnt();
  if (Conti().maxEntropy) {
    state.counters["ln_alpha"] = me.finalLnAlpha;
    state.counters["chi_ratio"] = me.chiSquareCurrent / me.chiSquareReference;
    state.counters["target"] = me.targetRatio;
    state.counters["iterations"] = me.iterationTotal;
  } else {
    const RegularizationState& tp = Regularization();
    state.counters["chi_ratio"] = tp.chiSquareCurrent / tp.chiSquareReference;
    state.counters["target"] = tp.targetRatio;
  }
  Conti().maxEntropy = 1;
  gFitEngineState.fitTINoise = 0;
  gModelParams.riNoiseFit = 0;
  FreeDistributionArrays();
  ScanSet& s = CurrentScanSet();
  FreeScanGridArrays(s);
  FreeScanSetArrays(s);
}

BENCHMARK(BM_RegularisedSolve)
    ->ArgNames({"res", "scans", "points", "maxent"})
    ->Args({100, 40, 350, 1})
    ->Args({200, 40, 350, 1})
    ->Args({400, 40, 350, 1})
    ->Args({800, 40, 350, 1})
    ->Args({200, 100, 1000, 1})
    ->Args({100, 40, 350, 0})
    ->Args({200, 40, 350, 0})
    ->Args({400, 40, 350, 0})
    ->Args({800, 40, 350, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

void BM_FeaturelessSizeAndShapeRun(benchmark::State& state) {
  platform::AutomaticUserInterface ui;
  platform::ScopedUI scope(ui);
  const int m = 36, r = 390;
  bench::MakeCommonGridScans(m, r, 6.0f, 7.2f, 6.05f, 7.1f, 50000.0f, [](int j) { return 600 + 300.0 * (j - 1); });
  gModelParams.meniscus = 6.0f;
  gModelParams.bottom = 7.2f;
  ContiSettings& cs = bench::UseCs(100.0f, 1.2f);
  gModelSelectorFlags.CSModel = 0;
  gModelSelectorFlags.CSff0Model = 1;
  cs.sMin = 2.0f;
  cs.sMax = 15.0f;
  cs.ffMin = 1.0f;
  cs.ffMax = 2.0f;
  cs.ffResolution = static_cast<float>(state.range(0));
  cs.logSpacedGrid = cs.gridFromFile = 0;
  cs.maxEntropy = 1;
  cs.confidenceLevel = 0.95f;
  cs.multipleThreads = 0;
  cs.normalEquationThreads = 1;
  LammListThreads() = 1;
  ContiContext().infoMessages = false;
  ContiContext().drawingEnabled = false;
  LammSettings() = LammSolverSettings{};
  ScanSet& s = CurrentScanSet();
  std::mt19937 gen(7);
  std::normal_distribution<float> g(0.0f, 0.01f);
  for (int j = 1; j <= m; ++j)
    for (int i = 1; i <= r; ++i) s.signals[j][i] = s.gridSignals[j][i] = 0.5f + g(gen);
  gFitEngineState.fitTINoise = 1;
  gModelParams.riNoiseFit = 1;
  PackModelParameters();
  double cpu = 0;
  for (auto _ : state) {
    const std::clock_t start = std::clock();
    RunContiSed();
    cpu += double(std::clock() - start) / CLOCKS_PER_SEC;
  }
  state.counters["cpu_s"] = cpu / static_cast<double>(state.iterations());
  state.counters["short"] = Regularization().limitNote.empty() ? 0 : 1;
  gModelSelectorFlags.CSff0Model = 0;
  gModelSelectorFlags.CSModel = 1;
  gFitEngineState.fitTINoise = 0;
  gModelParams.riNoiseFit = 0;
  bench::FreeCommonGridScans();
}

BENCHMARK(BM_FeaturelessSizeAndShapeRun)
    ->ArgNames({"ff_res"})
    ->Arg(10)
    ->Arg(25)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
