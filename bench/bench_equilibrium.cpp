// The equilibrium model and the approach test on large scan sets: one model
// evaluation (50 scans x 500 points), a fit of the buoyant mass, and one
// test pass over 1000 scans x 1500 points.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "data/scan_grid.h"
#include "data/scan_set.h"
#include "equilibrium/eqtools/eq_test_mode.h"
#include "equilibrium/eqtools/equilibrium_model.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "numerics/arrays.h"

namespace {

void Clear() {
  ScanSet& ss = CurrentScanSet();
  FreeSpeciesScanArrays(ss);
  FreeScanGridArrays(ss);
  FreeScanSetArrays(ss);
  ss = ScanSet{};
}

// n scans of m points between 6.91 and 7.19 cm, 50 kDa at 10-20 krpm with
// noise; speeds cycle through groups of ten scans (each a series).
void LoadScans(int n, int m, bool grid) {
  Clear();
  ScanSet& ss = CurrentScanSet();
  AllocateScanTables(ss, n);
  std::mt19937 gen(1);
  std::normal_distribution<double> noise(0, 0.005);
  for (int k = 1; k <= n; ++k) {
    ss.radii[k] = vector(1, m);
    ss.signals[k] = vector(1, m);
    ss.model[k] = vector(1, m);
    ss.points[k] = m;
    ss.order[k] = k;
    ss.firstFitPoint[k] = 1;
    ss.lastFitPoint[k] = m;
    ss.fileNames[k] = std::to_string(k) + ".RA1";
    ScanRecord& r = ss.records[k];
    r.rpm = 10000.0f + 1000.0f * ((k - 1) % 11);
    r.temperature = 20;
    r.wavelength = 280;
    r.cell = 1;
    r.time = r.timeRead = 60.0 * k;
    for (int i = 1; i <= m; ++i) {
      const double x = 6.91 + 0.28 * (i - 1) / (m - 1);
      ss.radii[k][i] = static_cast<float>(x);
      ss.signals[k][i] = static_cast<float>(0.5 * EquilibriumExponential(x, 13500, r.rpm, 20, 7.05) + noise(gen));
    }
  }
  if (!grid) return;
  gModelParams.meniscus = gModelParameterVector.P[13] = 6.9f;
  gModelParams.bottom = gModelParameterVector.P[14] = 7.2f;
  PrepareScanGrid();
  ss.firstGridPoint = 1;
  ss.lastGridPoint = ss.gridLength;
}

void SetUpModel() {
  gFitEngineState = FitEngineState{};
  gSolutionConditions.vbarRho = 0.73f;
  gModelParams.massOrD[1] = gModelParameterVector.P[1] = 45000;
  gModelParameterVector.F[1] = 1;
}

void BM_RunEquilibrium(benchmark::State& state) {
  LoadScans(50, 500, true);
  SetUpModel();
  AllocEquilibriumWorkArrays();
  EqModelState().inFit = true;
  for (auto _ : state) {
    RunEquilibrium(nullptr);
    benchmark::DoNotOptimize(EqModelState().lastRmsd);
  }
  EqModelState().inFit = false;
  FreeEquilibriumWorkArrays();
  Clear();
}
BENCHMARK(BM_RunEquilibrium)->Unit(benchmark::kMillisecond);


void BM_FitEquilibrium(benchmark::State& state) {
  LoadScans(50, 500, true);
  for (auto _ : state) {
    SetUpModel();
    RunEquilibrium(nullptr);
    FitEquilibrium(nullptr);
    benchmark::DoNotOptimize(gModelParams.massOrD[1]);
  }
  Clear();
}
BENCHMARK(BM_FitEquilibrium)->Unit(benchmark::kMillisecond);

void BM_ApproachTestPass(benchmark::State& state) {
  LoadScans(1000, 1500, false);
  GroupEqTestSeries();
  for (int i = 1; i <= EqTest().Count(); ++i) SetEqTestRangeFromFitLimits(i);
  for (auto _ : state) {
    GroupEqTestSeries();
    MakeEqTestCurves();
    benchmark::DoNotOptimize(EqTest().series[0].rmsdLastTwo);
  }
  state.counters["series"] = EqTest().Count();
  EqTest() = EqTestSeriesSet{};
  Clear();
}
BENCHMARK(BM_ApproachTestPass)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
