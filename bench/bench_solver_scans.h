#pragma once
// The scan set the global-array solver benchmarks run on: 50 scans of 600
// points from 6.0 to 7.2 cm at 50000 rpm, one every 300 s, fit limits
// 6.05 and 7.1 cm; and the bench species solved on them.
#include <benchmark/benchmark.h>

#include <vector>

#include "data/scan_set.h"
#include "fit/lamm_grid.h"
#include "fit/lamm_start_state.h"
#include "fit/model_params.h"
#include "fit/species_simulation.h"
#include "lamm/global/static_grid_lamm.h"
#include "lamm/lamm_run_state.h"
#include "lamm/lamm_settings.h"
#include "numerics/arrays.h"

namespace bench {

// For the solver objects: the records (1-based) of `scans` scans at 50000
// rpm and 20 degC, one every 300 s, and `points` even radii (1-based) from
// 6.0 to 7.2 cm.
inline std::vector<ScanRecord> BenchRecords(int scans) {
  std::vector<ScanRecord> records(scans + 1);
  for (int k = 1; k <= scans; ++k) {
    records[k].rpm = 50000;
    records[k].temperature = 20;
    records[k].time = records[k].timeRead = 300.0 * k;
  }
  return records;
}

inline std::vector<float> BenchRadii(int points) {
  std::vector<float> grid(points + 1, 0);
  for (int j = 1; j <= points; ++j) grid[j] = 6.0f + 1.2f * (j - 1) / (points - 1);
  return grid;
}

// The records and radii above with an output row per scan.
struct SolverObjectScans {
  std::vector<ScanRecord> records;
  std::vector<float> grid;
  std::vector<std::vector<float>> out;
  std::vector<float*> ptr;
  SolverObjectScans(int scans, int points)
      : records(BenchRecords(scans)), grid(BenchRadii(points)), out(scans + 1, std::vector<float>(points + 1)),
        ptr(scans + 1, nullptr) {
    for (int k = 1; k <= scans; ++k) ptr[k] = out[k].data();
  }
};

inline void LoadSolverBenchScans() {
  ScanSet& ss = CurrentScanSet();
  const int scans = 50, points = 600;
  FreeScanSetArrays(ss);
  ss = ScanSet{};
  AllocateScanTables(ss, scans);
  for (int j = 1; j <= scans; ++j) {
    ss.radii[j] = vector(1, points);
    ss.signals[j] = vector(1, points);
    ss.model[j] = vector(1, points);
    for (int p = 1; p <= points; ++p) ss.radii[j][p] = 6.0f + 1.2f * (p - 1) / (points - 1);
    ss.points[j] = points;
    ss.order[j] = j;
    ss.records[j].rpm = 50000;
    ss.records[j].temperature = 20;
    ss.records[j].time = ss.records[j].timeRead = 300.0 * j;
  }
  ss.leftFitLimit = 6.05f;
  ss.rightFitLimit = 7.1f;
}

// The bench species (4.3 S, 6e-7 cm^2/s, uniform start) on the global
// static grid of 1000 points over the bench scans, meniscus 6.0 and bottom
// 7.2 cm: prepare() after the settings, before the arrays are made; each()
// before each solution. Counter: steps per solution.
template <class Prepare, class Each>
void TimeStaticGridSpecies(benchmark::State& state, Prepare prepare, Each each) {
  LoadSolverBenchScans();
  gModelParams.meniscus = 6.0f;
  gModelParams.bottom = 7.2f;
  LammSolverSettings& st = LammSettings();
  st.automaticAlgorithm = 0;
  st.claverieAlgorithm = 1;
  st.movingHatAlgorithm = 0;
  st.gridSize.inUse = st.gridSize.setting = 1000;
  prepare();
  FreeLammArrays();
  AllocLammArrays();
  double steps = 0;
  for (auto _ : state) {
    LammRunState& rs = CurrentLammRunState();
    rs = LammRunState{};
    rs.s = 4.3;
    rs.D = 6e-7;
    LammGrid& g = CurrentLammGrid();
    for (int i = 1; i <= g.AllocatedGridSize; ++i) g.Concentration[i] = 1.0;
    each();
    SetAccelerationPhase();
    SetLammSolverStartState(nullptr, true);
    SimulateStaticGridLamm();
    steps += StaticGridStepCount();
  }
  state.counters["steps"] = benchmark::Counter(steps / state.iterations());
  FreeLammArrays();
}

}  // namespace bench
