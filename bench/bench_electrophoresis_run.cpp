// The electrophoresis distributions beside a c(s) run of the same size: 30
// scans x 400 points, 100 grid points, maximum entropy at P = 0.68, one
// thread and eight (the c(v) kernels each on a solver state of their own).
//   c(s):     50000 rpm, scans every 120 s from 300 s, cell 6.0-7.2 cm,
//             grid 0.5-15 S, data of 3 and 8 S;
//   c(v):     electrophoresis scans every 25 s from 150 s, column 6.0-7.2
//             cm, grid 1-20 um/s, D = 5e-7 cm^2/s, data of 4 and 10 um/s;
//   ls-g*(v): the same scans and grid with non-diffusing kernels.
// Counters give the split: kernels, normal equations, regularised solve
// (seconds per run).
#include <benchmark/benchmark.h>

#include <random>

#include "bench_experiment.h"
#include "data/scan_set.h"
#include "distributions/conti_context.h"
#include "distributions/conti_grid.h"
#include "distributions/conti_lamm_list.h"
#include "distributions/conti_run.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "fit/fit_engine_state.h"
#include "fit/lamm_grid.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/lamm_settings.h"
#include "platform/automatic_ui.h"
#include "platform/scripted_ui.h"

namespace {

constexpr int kScans = 30, kPoints = 400, kResolution = 100;

enum Kind { kCs = 0, kCv = 1, kLsgv = 2 };

void Choose(Kind kind) {
  ModelSelectorFlags& f = gModelSelectorFlags;
  f = ModelSelectorFlags{};
  f.DistributionModel = 1;
  if (kind == kCs) {
    f.CSModel = 1;
  } else if (kind == kCv) {
    f.ElectrophoresisCVModel = f.ElectrophoresisLammModel = 1;
  } else {
    f.CSModel = f.LsgStarModel = f.ElectrophoresisLsgModel = 1;
  }
}

// The scans, and data from two grid species by the run's own synthetic path.
void MakeExperiment(Kind kind) {
  const bool electrophoresis = kind != kCs;
  if (electrophoresis)
    bench::MakeCommonGridScans(kScans, kPoints, 6.0f, 7.2f, 6.02f, 7.1f, 1.0f,
                               [](int j) { return 150 + 25.0 * (j - 1); });
  else
    bench::MakeCommonGridScans(kScans, kPoints, 6.0f, 7.2f, 6.05f, 7.1f, 50000.0f,
                               [](int j) { return 300 + 120.0 * (j - 1); });
  ScanSet& s = CurrentScanSet();
  DataTypeFlags& df = CurrentDataTypeFlags();
  df.electrophoresis = df.absorbance = electrophoresis ? 1 : 0;
  gModelParams.meniscus = 6.0f;
  gModelParams.bottom = 7.2f;
  gModelParams.electrophoresisColumnLength = 1.2f;
  PackModelParameters();
  Choose(kind);
  ContiSettings& cs = Conti();
  cs.sMin = electrophoresis ? 1.0f : 0.5f;
  cs.sMax = electrophoresis ? 20.0f : 15.0f;
  cs.resolution = kResolution;
  cs.ffValue = 1.2f;
  cs.constantD = 5.0f;
  cs.logSpacedGrid = cs.gridFromFile = 0;
  ContiContext().infoMessages = false;
  SetupContiGrid();
  const int n = cs.gridSize;
  for (int i = 1; i <= n; ++i) cs.distribution[i] = 0.0f;
  const float first = electrophoresis ? 4.0f : 3.0f, second = electrophoresis ? 10.0f : 8.0f;
  auto index = [&](float x) { return 1 + static_cast<int>((x - cs.sMin) / (cs.sMax - cs.sMin) * (n - 1) + 0.5f); };
  cs.distribution[index(first)] = 0.4f;
  cs.distribution[index(second)] = 0.6f;
  cs.synthetic = 1;
  RunContiSed();
  cs.synthetic = 0;
  std::mt19937 gen(3);
  std::normal_distribution<float> g(0.0f, 0.003f);
  for (int j = 1; j <= kScans; ++j)
    for (int i = 1; i <= kPoints; ++i) s.signals[j][i] = s.gridSignals[j][i] = s.model[j][i] + g(gen);
}

void BM_DistributionRun(benchmark::State& state) {
  platform::AutomaticUserInterface ui;
  platform::ScopedUI scope(ui);
  const Kind kind = static_cast<Kind>(state.range(0));
  const int threads = static_cast<int>(state.range(1));
  LammSettings() = LammSolverSettings{};
  MakeExperiment(kind);
  ContiSettings& cs = Conti();
  cs.maxEntropy = 1;
  cs.confidenceLevel = 0.68f;
  cs.multipleThreads = threads > 1;
  cs.normalEquationThreads = threads;
  LammListThreads() = threads;
  bench::TimeContiRuns(state, [] { LammSettings() = LammSolverSettings{}; });
  FreeDistributionArrays();
  FreeLammArrays();
  CurrentDataTypeFlags().electrophoresis = CurrentDataTypeFlags().absorbance = 0;
  ScanSet& s = CurrentScanSet();
  FreeScanGridArrays(s);
  FreeScanSetArrays(s);
}

BENCHMARK(BM_DistributionRun)
    ->ArgNames({"kind", "threads"})
    ->Args({kCs, 1})
    ->Args({kCs, 8})
    ->Args({kCv, 1})
    ->Args({kCv, 8})
    ->Args({kLsgv, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
