// The M* analysis recomputes everything after every change on its screen:
// ComputeMStarFit on 8 data sets of 3000 points each (ideal 50 kDa
// equilibrium profiles, 6.0 - 7.2 cm, 15000 rpm), with the default
// polynomial extrapolations and smoothing.
#include <benchmark/benchmark.h>

#include <cmath>

#include "data/scan_set.h"
#include "equilibrium/mstar/mstar_state.h"
#include "equilibrium/mstar/mstar_transform.h"
#include "fit/model_params.h"
#include "numerics/arrays.h"

namespace {

void LoadProfiles(int sets, int points) {
  ScanSet& s = CurrentScanSet();
  FreeScanSetArrays(s);
  AllocateScanTables(s, sets);
  s.equilibriumMode = 1;
  const double a = 6.0, b = 7.2, step = (b - a) / points;
  s.leftFitLimit = 6.02f;
  s.rightFitLimit = 7.18f;
  const double w = 2 * 3.14159265358979 * 15000 / 60;
  const double sigma = 0.27 * 50000 * w * w / (2 * 8.31451e7 * 293.15);
  for (int d = 1; d <= sets; ++d) {
    s.points[static_cast<size_t>(d)] = points;
    s.radii[static_cast<size_t>(d)] = vector(1, points);
    s.signals[static_cast<size_t>(d)] = vector(1, points);
    s.records[static_cast<size_t>(d)].rpm = 15000;
    for (int i = 1; i <= points; ++i) {
      const double r = a + step * i;
      s.radii[static_cast<size_t>(d)][i] = static_cast<float>(r);
      s.signals[static_cast<size_t>(d)][i] = static_cast<float>(0.05 + 0.02 * d * std::exp(sigma * (r * r - a * a)));
    }
  }
  gModelParams.meniscus = static_cast<float>(a);
  gModelParams.bottom = static_cast<float>(b);
  gModelParams.baseline = 0.05f;
  gSolutionConditions.vbarRho = 0.73f;
  gSolutionConditions.temperature = 293.15f;
}

void BM_ComputeMStarFit(benchmark::State& state) {
  const int sets = static_cast<int>(state.range(0)), points = static_cast<int>(state.range(1));
  LoadProfiles(sets, points);
  MStarState st;
  PrepareMStarAnalysis(st);
  for (auto _ : state) {
    ComputeMStarFit(st);
    benchmark::DoNotOptimize(st.mwavg.data());
  }
  state.counters["Mwavg(1) kDa"] = st.mwavg[1];
  FreeScanSetArrays(CurrentScanSet());
}
BENCHMARK(BM_ComputeMStarFit)->Args({8, 3000})->Args({1, 3000})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
