// One species (4.3 S at 20 degC water, 6e-7 cm^2/s) at 50000 rpm in a
// 6.0-7.2 cm cell with 50 scans up to 15000 s on the global static grid
// (N = 1000): in water, in a compressible buffer (static gradient), and over
// a sedimenting CsCl cosolute (n = 50) whose factors and matrices are re-made
// every step. The same three on the solver object's static grid (the path
// of the model evaluation and of the c(s) kernels), and water and CsCl on
// its moving frame.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_solver_scans.h"
#include "data/scan_set.h"
#include "fit/lamm_grid.h"
#include "fit/lamm_start_state.h"
#include "fit/model_params.h"
#include "fit/solvent_gradient.h"
#include "lamm/global/static_grid_lamm.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_run_state.h"
#include "lamm/lamm_settings.h"
#include "numerics/arrays.h"

namespace {

enum class Solvent { Water, Static, CsCl };

void UseSolvent(Solvent solvent) {
  SolventGradientSettings& sg = CurrentSolventGradientSettings();
  sg = SolventGradientSettings{};
  sg.UseInhomogeneousSolvent = solvent != Solvent::Water;
  if (solvent == Solvent::Static) {
    sg.BufferDensity1atm = 1.05f;
    sg.ViscosityRatio = 1.1f;
  } else if (solvent == Solvent::CsCl) {
    sg.StaticGradient = false;
    sg.DynamicGradient = sg.SedimentingCosolute = true;
    sg.NonidealCosolute = sg.CsClAt25C = true;
    sg.CosoluteGridSize = 50;
    sg.DensityCoefficients = {0, 0.99823, 0, 12.7};
  }
}

void Run(benchmark::State& state, Solvent solvent) {
  bench::TimeStaticGridSpecies(
      state,
      [solvent] {
        InstallSolventGradientHooks();
        UseSolvent(solvent);
      },
      [] {});
  CurrentSolventGradientSettings() = SolventGradientSettings{};
}

void RunObject(benchmark::State& state, Solvent solvent, bool movingFrame = false) {
  bench::LoadSolverBenchScans();
  UseSolvent(solvent);
  const ScanSet& ss = CurrentScanSet();
  std::vector<float> grid(601);
  for (int p = 1; p <= 600; ++p) grid[p] = ss.radii[1][p];
  std::vector<std::vector<float>> out(51, std::vector<float>(601));
  std::vector<float*> ptr(51, nullptr);
  for (int j = 1; j <= 50; ++j) ptr[j] = out[j].data();
  LammSolverSettings st;
  st.automaticGridSize = 0;
  st.gridSize.setting = 1000;
  st.automaticAlgorithm = 0;
  st.claverieAlgorithm = movingFrame ? 0 : 1;
  st.movingHatAlgorithm = movingFrame ? 1 : 0;
  double steps = 0;
  for (auto _ : state) {
    CLammIdeal L;
    L.MarkLoaded();
    L.SetOutputParameters(4.3, 6e-7, 6.0, 7.2, 1.0, 6.05f, 7.1f);
    L.SetScanTimes({.records = ss.records.data(), .output = ptr.data(), .grid = grid.data(),
                    .gridLength = 600, .scanCount = 50, .absorbanceData = true});
    SetModelOptionsFromSettings(L, st, st.workingMaxDcOverC, st.gridSize.setting);
    L.SetSolventAndComputeFrictionalRatio(20, 0.73, 1.0, 1.0);
    ApplySolventGradientToSolver(L, 0.73);
    benchmark::DoNotOptimize(L.CheckAndRun());
    steps += L.AcceptedSteps();
  }
  state.counters["steps"] = benchmark::Counter(steps / state.iterations());
  CurrentSolventGradientSettings() = SolventGradientSettings{};
}

void BM_StaticGridWater(benchmark::State& state) { Run(state, Solvent::Water); }
void BM_StaticGridCompressibleBuffer(benchmark::State& state) { Run(state, Solvent::Static); }
void BM_StaticGridCsClCosolute(benchmark::State& state) { Run(state, Solvent::CsCl); }
void BM_ObjectWater(benchmark::State& state) { RunObject(state, Solvent::Water); }
void BM_ObjectCompressibleBuffer(benchmark::State& state) { RunObject(state, Solvent::Static); }
void BM_ObjectCsClCosolute(benchmark::State& state) { RunObject(state, Solvent::CsCl); }
void BM_ObjectMovingFrameWater(benchmark::State& state) { RunObject(state, Solvent::Water, true); }
void BM_ObjectMovingFrameCsClCosolute(benchmark::State& state) { RunObject(state, Solvent::CsCl, true); }

}  // namespace

BENCHMARK(BM_StaticGridWater)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StaticGridCompressibleBuffer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StaticGridCsClCosolute)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ObjectWater)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ObjectCompressibleBuffer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ObjectCsClCosolute)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ObjectMovingFrameWater)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ObjectMovingFrameCsClCosolute)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
