// The buffer-sedimentation passes: a 0.21 S, 86e-7 cm^2/s buffer solute at
// 50000 rpm in a 6.0-7.2 cm cell, 50 scans every 300 s up to 15000 s, on the
// 200-node grid; one pass, and the sample and reference passes together next
// to the 4.3 S species solve of the same scans at the default settings, the
// species the correction is added to.
#include <benchmark/benchmark.h>

#include <vector>

#include "data/scan_set.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_settings.h"
#include "models/buffer/buffer_sed_solver.h"

namespace {

BufferSedPass Pass(double meniscus) {
  BufferSedPass p;
  p.s = 0.21;
  p.D = 86e-7;
  p.amplitude = 30.0;
  p.meniscus = meniscus;
  p.bottom = 7.2;
  p.rpm = 50000;
  for (int k = 1; k <= 50; ++k) p.outputTimes.push_back(300.0 * k);
  return p;
}

void OnePass(benchmark::State& state) {
  const BufferSedPass pass = Pass(6.0);
  CBufferSedSolver solver;
  double sum = 0;
  for (auto _ : state) {
    solver.Run(pass, [&](int, const double* c) { sum += c[100]; });
    benchmark::DoNotOptimize(sum);
  }
  state.counters["steps"] = solver.AcceptedSteps();
  state.counters["factorisations"] = solver.Factorisations();
}
BENCHMARK(OnePass)->Unit(benchmark::kMicrosecond);

void BothPasses(benchmark::State& state) {
  const BufferSedPass sample = Pass(6.0), reference = Pass(5.95);
  CBufferSedSolver solver;
  double sum = 0;
  for (auto _ : state) {
    solver.Run(sample, [&](int, const double* c) { sum += c[100]; });
    solver.Run(reference, [&](int, const double* c) { sum -= c[100]; });
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BothPasses)->Unit(benchmark::kMicrosecond);

void SpeciesSolve(benchmark::State& state) {
  const int scans = 50, points = 600;
  std::vector<ScanRecord> records(scans + 1);
  for (int k = 1; k <= scans; ++k) {
    records[k].rpm = 50000;
    records[k].temperature = 20;
    records[k].time = records[k].timeRead = 300.0 * k;
  }
  std::vector<float> grid(points + 1);
  for (int j = 1; j <= points; ++j) grid[j] = 6.0f + 1.2f * (j - 1) / (points - 1);
  std::vector<std::vector<float>> out(scans + 1, std::vector<float>(points + 1));
  std::vector<float*> ptr(scans + 1, nullptr);
  for (int k = 1; k <= scans; ++k) ptr[k] = out[k].data();
  const LammSolverSettings st;
  for (auto _ : state) {
    CLammIdeal L;
    L.MarkLoaded();
    L.SetOutputParameters(4.3, 6e-7, 6.0, 7.2, 1.0, 6.05f, 7.1f);
    L.SetScanTimes({.records = records.data(), .output = ptr.data(), .grid = grid.data(),
                    .gridLength = points, .scanCount = scans, .absorbanceData = true});
    SetModelOptionsFromSettings(L, st, st.workingMaxDcOverC, st.gridSize.setting);
    L.SetSolventAndComputeFrictionalRatio(20, 0.73, 1.0, 1.0);
    benchmark::DoNotOptimize(L.CheckAndRun());
  }
}
BENCHMARK(SpeciesSolve)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
