// The regularised solve of a c(s) run at P = 0.68 with TI and RI noise
// (maximum entropy, or Tikhonov-Phillips: the last argument 0), at
// resolutions 100 to 800 on m scans x r points at 50000 rpm (two species,
// 3 and 8 S, noise 0.005). Each iteration is a whole run; reg_s is its
// regularised solve (seconds), beside the Lamm solutions and the normal
// equations. Also: ln alpha', the chi-square ratio reached and its target,
// and the Marquardt iterations.
#include <benchmark/benchmark.h>

#include <cmath>
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

}  // namespace

BENCHMARK_MAIN();
