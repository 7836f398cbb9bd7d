// One species (4.3 S, 6e-7 cm^2/s) at 50000 rpm in a 6.0-7.2 cm cell with
// 50 scans up to 15000 s, solved on the static grid: at the default settings
// (automatic grid size) and with the grid fixed at N = 1000.
#include <benchmark/benchmark.h>

#include <vector>

#include "data/scan_set.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_settings.h"

namespace {

struct Data {
  std::vector<ScanRecord> records;
  std::vector<float> grid;
  std::vector<std::vector<float>> out;
  std::vector<float*> ptr;
  Data() {
    const int scans = 50, points = 600;
    records.assign(scans + 1, ScanRecord{});
    for (int k = 1; k <= scans; ++k) {
      records[k].rpm = 50000;
      records[k].temperature = 20;
      records[k].time = records[k].timeRead = 300.0 * k;
    }
    grid.assign(points + 1, 0);
    for (int j = 1; j <= points; ++j) grid[j] = 6.0f + 1.2f * (j - 1) / (points - 1);
    out.assign(scans + 1, std::vector<float>(points + 1));
    ptr.assign(scans + 1, nullptr);
    for (int k = 1; k <= scans; ++k) ptr[k] = out[k].data();
  }
};

void Solve(benchmark::State& state, bool fixedGrid) {
  Data d;
  LammSolverSettings st;
  if (fixedGrid) {
    st.automaticGridSize = 0;
    st.feGridSize = 1000;
  }
  double nodeUpdates = 0;
  for (auto _ : state) {
    CLammIdeal L;
    L.MarkLoaded();
    L.SetOutputParameters(4.3, 6e-7, 6.0, 7.2, 1.0, 6.05f, 7.1f);
    L.SetScanTimes(d.records.data(), d.ptr.data(), d.grid.data(),
                   static_cast<int>(d.grid.size()) - 1, nullptr, nullptr, false, nullptr, 50, 1,
                   false, false, false, 0, false, 0, true);
    L.SetModelOptions(st.gridSizeLowerLimit, st.gridSizeUpperLimit, st.pointsPerSigma, false,
                      st.backDiffusionLevel, st.shutOffBackDiffusion,
                      st.optimiseTimeInvariantGrid, st.automaticGridSize, 1.0f,
                      st.rampRotorSpeed, st.fixedTimeStep, 0, st.equilibriumThreshold, st.gridS,
                      st.automaticSGrid, false, st.automaticAlgorithm, st.workingMaxDcOverC,
                      st.lowerStepThreshold, st.upperStepThreshold, st.workingMaxDcOverC,
                      st.feGridSize, 0, st.movingHatAlgorithm, st.claverieAlgorithm, 1e-4f,
                      st.truncationLevel, st.truncateGrid, 1.0, 2.0, st.automaticSwitchS,
                      st.automaticSwitchSOptimised);
    L.SetSolventAndComputeFrictionalRatio(20, 0.73, 1.0, 1.0);
    benchmark::DoNotOptimize(L.CheckAndRun());
    state.counters["N"] = L.NodeCount();
    state.counters["steps"] = L.AcceptedSteps();
    nodeUpdates += static_cast<double>(L.NodeCount()) * L.AcceptedSteps();
  }
  state.counters["node_updates_per_s"] =
      benchmark::Counter(nodeUpdates, benchmark::Counter::kIsRate);
}

void BM_LammStaticDefaultSettings(benchmark::State& state) { Solve(state, false); }
void BM_LammStaticFixedN1000(benchmark::State& state) { Solve(state, true); }

}  // namespace

BENCHMARK(BM_LammStaticDefaultSettings)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LammStaticFixedN1000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
