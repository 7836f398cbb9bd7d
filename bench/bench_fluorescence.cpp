// The nonlinear-detection transform of 100 scans of 2000 points (signals and
// model, 4e5 powers), alternating between two powers so every call maps;
// the grid preparation is left out.
#include <benchmark/benchmark.h>

#include "data/fluorescence_corrections.h"
#include "data/nonlinear_detection.h"
#include "data/scan_set.h"
#include "numerics/arrays.h"

namespace {

void LoadScans(int scans, int points) {
  ScanSet& s = CurrentScanSet();
  AllocateScanTables(s, scans);
  for (int i = 1; i <= scans; ++i) {
    s.radii[i] = vector(1, points);
    s.signals[i] = vector(1, points);
    s.model[i] = vector(1, points);
    for (int k = 1; k <= points; ++k) {
      s.radii[i][k] = 6.0f + 0.0005f * static_cast<float>(k);
      s.signals[i][k] = 0.05f + 1e-3f * static_cast<float>(k % 1000);
      s.model[i][k] = s.signals[i][k] + 0.01f;
    }
    s.points[i] = points;
    s.order[i] = i;
    s.firstFitPoint[i] = 1;
    s.lastFitPoint[i] = points;
  }
}

void Transform(benchmark::State& state) {
  LoadScans(100, 2000);
  CurrentFdsSignalParams().useNonlinearDetection = 1;
  CurrentNonlinearDetectionTables().skipRegrid = 1;
  bool flip = false;
  for (auto _ : state) {
    flip = !flip;
    benchmark::DoNotOptimize(NonlinearDetectionTransform(flip ? 2.0 : 1.3, 0.1, true));
  }
  FreeNonlinearDetectionTables();
  FreeScanSetArrays(CurrentScanSet());
}
BENCHMARK(Transform)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
