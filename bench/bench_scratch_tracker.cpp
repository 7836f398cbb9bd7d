// One click of the scratch tracker on 50 interference scans with an 11-point
// window: the restarted simplex search over 49 shifts. Prints the evaluation
// count, the restarts and the largest error of the recovered shifts (cm).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "data/scan_grid.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "data/scratch_tracker.h"
#include "numerics/arrays.h"
#include "numerics/random.h"
#include "platform/scripted_ui.h"

namespace {

// 50 scans on a 0.001 cm grid over 6.0 .. 7.0 cm with a Gaussian dip
// (sigma 0.0015 cm, depth 0.03) at 6.5 cm + d_i; returns d.
std::vector<double> MakeScans(int scans) {
  FreeScanData();
  CurrentDataTypeFlags() = DataTypeFlags{};
  CurrentDataTypeFlags().interference = 1;
  std::mt19937 gen(7);
  std::uniform_real_distribution<double> uniform(-0.002, 0.002);
  std::normal_distribution<double> noise(0.0, 0.0005);
  std::vector<double> d(static_cast<std::size_t>(scans) + 1, 0.0);
  ScanSet& s = CurrentScanSet();
  AllocateScanTables(s, scans);
  const int points = 1001;
  for (int i = 1; i <= scans; ++i) {
    if (i > 1) d[i] = uniform(gen);
    s.points[i] = points;
    s.radii[i] = vector(1, points);
    s.signals[i] = vector(1, points);
    for (int j = 1; j <= points; ++j) {
      const double r = 6.0 + 0.001 * (j - 1);
      const double dip = r - 6.5 - d[i];
      s.radii[i][j] = static_cast<float>(r);
      s.signals[i][j] = static_cast<float>(0.1 * i + (0.2 + 0.05 * i) * (r - 6.0) -
                                           0.03 * std::exp(-dip * dip / (2 * 0.0015 * 0.0015)) + noise(gen));
    }
    s.records[i].type = 'P';
    s.order[i] = i;
  }
  PrepareScanGrid();
  return d;
}

void BM_TrackScratch50Scans(benchmark::State& state) {
  platform::ScriptedUserInterface ui;
  ui.lenient = true;
  platform::ScopedUI scope(ui);
  const std::vector<double> d = MakeScans(50);
  CScratchTracker t;
  long evaluations = 0;
  int restarts = 0;
  double worst = 0;
  for (auto _ : state) {
    SeedGaussRandom(1);
    t.PrepareWindow(CurrentScanSet(), 0.01, 0.002);
    t.SetPosition(6.4995);
    benchmark::DoNotOptimize(t.OptimizeShifts());
    evaluations = t.evaluations();
    restarts = t.restarts();
    worst = 0;
    for (int p = 1; p <= 50; ++p) worst = std::max(worst, std::fabs(t.shiftsOut()[p] - d[p]));
  }
  state.counters["k"] = t.windowPoints();
  state.counters["evaluations"] = static_cast<double>(evaluations);
  state.counters["restarts"] = restarts;
  state.counters["max_error_cm"] = worst;
  FreeScanData();
}
BENCHMARK(BM_TrackScratch50Scans)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
