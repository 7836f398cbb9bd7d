// One species (4.3 S, 6e-7 cm^2/s) at 50000 rpm in a 6.0-7.2 cm cell with
// 50 scans up to 15000 s: at the default settings (automatic grid size, static
// grid) and with N = 1000 on the moving frame and on the static grid; 25 S
// and 40 S (f/f0 1.3) at the default settings, where the automatic choice
// takes the moving frame; and a
// list of 100 species on the worker threads. The same species on the global
// arrays of the model evaluation (N = 1000, static grid), and the matrix
// assembly of the external loading cell with the taper holding no oil. The
// reacting system A + B <-> AB (3/5/8 S, 8/6/4.5e-7 cm^2/s, loads 0.5/0.5,
// log K 0.5): 3000 coupled steps of 1 s on 1000 nodes, and its assembly.
// A measured first scan as the initial distribution (5 S, 4.5e-7 cm^2/s, the
// boundary 1200 s old, six scans 400 s apart) through the model evaluation:
// at the default settings, and on 400 nodes of the static grid, which
// carried such a profile to the same accuracy (1e-3 of the loading) while
// the default grid lost it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "bench_solver_scans.h"
#include "data/scan_set.h"
#include "fit/fit_engine_state.h"
#include "fit/lamm_grid.h"
#include "fit/model_evaluation.h"
#include "fit/model_selector.h"
#include "fit/lamm_start_state.h"
#include "fit/model_params.h"
#include "lamm/element_integrals.h"
#include "lamm/global/static_grid_lamm.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_run_state.h"
#include "lamm/lamm_settings.h"
#include "lamm/lamm_threads.h"
#include "models/reacting/hetero_association.h"
#include "models/reacting/hetero_association_step.h"
#include "numerics/arrays.h"
#include "platform/input_events.h"

namespace {

struct Data : bench::SolverObjectScans {
  Data() : SolverObjectScans(50, 600) {}
};

// AutomaticFiniteScan: the default settings with scans that take time, the
// scanner crossing the cell at 2.43 cm/min; the pieces of every scan end
// time steps of their own.
enum class Grid { Automatic, N1000, N1000Static, AutomaticFiniteScan };

void Solve(benchmark::State& state, Grid grid, double s = 4.3, double D = 6e-7) {
  Data d;
  LammSolverSettings st;
  if (grid == Grid::N1000 || grid == Grid::N1000Static) {
    // Without the automatic grid size the algorithm choice takes the reduced-s
    // threshold: 4.3 S at 50000 rpm goes to the moving frame.
    st.automaticGridSize = 0;
    st.gridSize.setting = 1000;
  }
  if (grid == Grid::N1000Static) {
    st.automaticAlgorithm = 0;
    st.claverieAlgorithm = 1;
    st.movingHatAlgorithm = 0;
  }
  double nodeUpdates = 0;
  for (auto _ : state) {
    CLammIdeal L;
    L.MarkLoaded();
    L.SetOutputParameters(s, D, 6.0, 7.2, 1.0, 6.05f, 7.1f);
    const bool finite = grid == Grid::AutomaticFiniteScan;
    L.SetScanTimes({.records = d.records.data(), .output = d.ptr.data(), .grid = d.grid.data(),
                    .gridLength = static_cast<int>(d.grid.size()) - 1, .scanCount = 50,
                    .timeResolution = finite, .scanVelocity = finite ? 2.43f : 0.0f,
                    .absorbanceData = true});
    SetModelOptionsFromSettings(L, st, st.workingMaxDcOverC, st.gridSize.setting);
    L.SetSolventAndComputeFrictionalRatio(20, 0.73, 1.0, 1.0);
    benchmark::DoNotOptimize(L.CheckAndRun());
    state.counters["moving_frame"] = L.MovingFrameChosen() && !L.StaticGridChosen();
    if (finite) state.counters["pieces"] = L.ScanSegments();
    state.counters["N"] = L.NodeCount();
    state.counters["steps"] = L.AcceptedSteps();
    nodeUpdates += static_cast<double>(L.NodeCount()) * L.AcceptedSteps();
  }
  state.counters["node_updates_per_s"] =
      benchmark::Counter(nodeUpdates, benchmark::Counter::kIsRate);
}

void BM_LammStaticDefaultSettings(benchmark::State& state) { Solve(state, Grid::Automatic); }
// The argument is s in S; D is that of f/f0 1.3 in water at 20 degC
// (vbar 0.73).
void BM_LammFastDefaultSettings(benchmark::State& state) {
  const double D = state.range(0) == 25 ? 2.625e-7 : 2.075e-7;
  Solve(state, Grid::Automatic, static_cast<double>(state.range(0)), D);
}
// A floating species that has crossed the cell before the first scan
// (-250 S by 300 s at 50000 rpm), as a fit's search walks one to the end of
// its s range: the scans show only its pile at the meniscus.
void BM_LammCrossedFloatingDefaultSettings(benchmark::State& state) { Solve(state, Grid::Automatic, -250, 2e-5); }
// A floating species of so little diffusion (-1.2 S, 2e-10 cm^2/s) that no
// grid resolves its depletion layer at the bottom: the static grid refuses
// it, the moving frame carries it, as a fit's search can hold a species.
void BM_LammUnresolvedFloatingDefaultSettings(benchmark::State& state) {
  Solve(state, Grid::Automatic, -1.2, 2e-10);
}
void BM_LammFiniteScanDefaultSettings(benchmark::State& state) {
  Solve(state, Grid::AutomaticFiniteScan);
}

// A c(s)-like list of 100 species (0.5 to 20 S, f/f0 near 1.3) on the worker
// threads; the argument is the thread count.
void BM_LammList100Species(benchmark::State& state) {
  Data d;
  LammSolverSettings st;
  CLammIdeal templ;
  templ.MarkLoaded();
  templ.SetOutputParameters(4.3, 6e-7, 6.0, 7.2, 1.0, 6.05f, 7.1f);
  templ.SetScanTimes({.records = d.records.data(), .output = d.ptr.data(), .grid = d.grid.data(),
                      .gridLength = static_cast<int>(d.grid.size()) - 1, .scanCount = 50,
                      .absorbanceData = true});
  SetModelOptionsFromSettings(templ, st, st.workingMaxDcOverC, st.gridSize.setting);
  templ.SetSolventAndComputeFrictionalRatio(20, 0.73, 1.0, 1.0);
  const int n = 100;
  std::vector<double> s(n + 1), D(n + 1);
  std::vector<std::vector<std::vector<float>>> store(
      n + 1, std::vector<std::vector<float>>(51, std::vector<float>(d.grid.size())));
  std::vector<std::vector<float*>> scans(n + 1, std::vector<float*>(51));
  std::vector<float**> results(n + 1);
  for (int k = 1; k <= n; ++k) {
    s[k] = 0.5 + 19.5 * (k - 1) / (n - 1);
    D[k] = 6e-7 * std::pow(4.3 / s[k], 0.5);  // D ~ s^(-1/2) at a fixed f/f0
    for (int j = 1; j <= 50; ++j) scans[k][j] = store[k][j].data();
    results[k] = scans[k].data();
  }
  LammThreadCount() = static_cast<int>(state.range(0));
  platform::StopFlag() = false;
  for (auto _ : state) {
    benchmark::DoNotOptimize(CLRunMTList(&templ, n, s.data(), D.data(), nullptr, results.data(),
                                         d.grid.data(), static_cast<int>(d.grid.size()) - 1,
                                         nullptr, nullptr));
  }
  state.counters["species_per_s"] =
      benchmark::Counter(static_cast<double>(n) * state.iterations(), benchmark::Counter::kIsRate);
}
void BM_LammMovingFrameN1000(benchmark::State& state) { Solve(state, Grid::N1000); }
void BM_LammStaticN1000(benchmark::State& state) { Solve(state, Grid::N1000Static); }

// The bench species on the global arrays: 50 scans of 600 points.
void BM_StaticGridLammN1000(benchmark::State& state) {
  bench::TimeStaticGridSpecies(state, [] {}, [] {
    ScanSet& ss = CurrentScanSet();
    for (int j = 1; j <= ss.count; ++j)
      for (int p = 1; p <= ss.points[j]; ++p) ss.model[j][p] = 0;
  });
}

void BM_ExternalLoadingAssemblyN1000(benchmark::State& state) {
  const int N = 1000;
  std::vector<double> r(N + 1);
  for (int i = 1; i <= N; ++i) r[i] = 6.0 + 1.2 * (i - 1) / (N - 1);
  std::vector<double> m(3 * (N + 1)), k(3 * (N + 1));
  for (auto _ : state) {
    ElementIntegralContext ctx;
    ctx.r = r.data();
    ctx.N = N;
    ctx.geometry = PlanarGeometry::ExternalLoading;
    SelectIntegralWeight(ctx, 0.0);
    for (int i = 1; i <= N; ++i)
      for (int d = -1; d <= 1; ++d) {
        m[3 * i + d + 1] = RombergElementIntegralA(ctx, i, i + d);
        k[3 * i + d + 1] = 1e-3 * RombergElementIntegralC(ctx, i + d, i) -
                           6e-7 * RombergElementIntegralB(ctx, i, i + d);
      }
    benchmark::DoNotOptimize(m.data());
    benchmark::DoNotOptimize(k.data());
  }
}

// Argument: 0 for the default settings, else the node count of a fixed
// static grid.
void BM_MeasuredInitialProfile(benchmark::State& state) {
  ScanSet& ss = CurrentScanSet();
  const int scans = 7, points = 400;
  FreeScanSetArrays(ss);
  ss = ScanSet{};
  AllocateScanTables(ss, scans);
  const double s = 5, D = 4.5e-7, w = 50000 * 2 * 3.141592653589793 / 60, t0 = 1200;
  const double rb = 6.0 * std::exp(s * 1e-13 * w * w * t0), width = 2 * std::sqrt(D * t0);
  for (int j = 1; j <= scans; ++j) {
    ss.radii[j] = vector(1, points);
    ss.signals[j] = vector(1, points);
    ss.model[j] = vector(1, points);
    for (int p = 1; p <= points; ++p) {
      const double r = 6.0 + 1.15 * (p - 1) / (points - 1);
      ss.radii[j][p] = static_cast<float>(r);
      ss.signals[j][p] = static_cast<float>(0.5 * std::erfc((rb - r) / width) * std::exp(-2 * s * 1e-13 * w * w * t0));
    }
    ss.points[j] = points;
    ss.order[j] = j;
    ss.records[j].rpm = 50000;
    ss.records[j].temperature = 20;
    ss.records[j].time = ss.records[j].timeRead = t0 + 400.0 * (j - 1);
  }
  ss.leftFitLimit = 6.05f;
  ss.rightFitLimit = 7.1f;
  ModelParams& mp = gModelParams;
  mp.meniscus = 6.0f;
  mp.bottom = 7.2f;
  mp.componentCount = 1;
  mp.included[1] = 1;
  mp.s[1] = static_cast<float>(s);
  mp.massOrD[1] = static_cast<float>(D * 1e7);
  mp.concentration[1] = 1.0f;
  gFitEngineState.molarMassParameters = 0;
  gModelSelectorFlags.LammDiscreteModel = 1;
  PackModelParameters();
  LammSolverSettings& st = LammSettings();
  st = LammSolverSettings{};
  st.experimentalInitialDistribution = 1;
  if (state.range(0) > 0) {
    st.automaticAlgorithm = st.automaticGridSize = 0;
    st.claverieAlgorithm = 1;
    st.movingHatAlgorithm = 0;
    st.gridSize.setting = st.gridSize.inUse = static_cast<int>(state.range(0));
  }
  FreeLammArrays();
  for (auto _ : state) SimulateModel(nullptr);
  state.counters["N"] = st.gridSize.inUse;
  FreeLammArrays();
  FreeInitialDataScan(ss);
  FreeScanSetArrays(ss);
  ss = ScanSet{};
  st = LammSolverSettings{};
}

}  // namespace

// The loading mixture on 1000 nodes at 50000 rpm, matrices assembled.
void PrepareReactingSystem() {
  gModelParams.meniscus = 6.0f;
  gModelParams.bottom = 7.2f;
  LammSolverSettings& st = LammSettings();
  st.gridSize.inUse = 1000;
  CurrentLammGrid().reactingSystem = true;
  FreeLammArrays();
  AllocLammArrays();
  HeteroAssociationState& h = CurrentHeteroAssociationState();
  h = HeteroAssociationState{};
  h.logK = 0.5f;
  h.sA = 3, h.sB = 5, h.sAB = 8;
  h.runDA = 8e-7, h.runDB = 6e-7, h.runDAB = 4.5e-7;
  LammRunState& rs = CurrentLammRunState();
  rs = LammRunState{};
  rs.rpm = rs.fullSpeed = 50000;
  InitHeteroAssociationEquilibrium();
  SetupHeteroAssociationGrid();
  AssembleHeteroAssociationMatrices();
  HalveHeteroAssociationMatrices();
}

void BM_HeteroAssociationAssemblyN1000(benchmark::State& state) {
  for (auto _ : state) PrepareReactingSystem();
}

void BM_HeteroAssociationStepsN1000(benchmark::State& state) {
  const int N = 1000, steps = 3000;
  double passes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    PrepareReactingSystem();
    HeteroAssociationState& h = CurrentHeteroAssociationState();
    h.dtFix = 1.0;
    CurrentLammRunState().running = 1;
    state.ResumeTiming();
    for (int k = 0; k < steps; ++k) {
      HeteroAssociationStepControl();
      passes += h.passes;
    }
  }
  const double nodeSteps = static_cast<double>(N) * steps * state.iterations();
  state.counters["s_per_node_step"] =
      benchmark::Counter(nodeSteps, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["passes_per_step"] = passes / (static_cast<double>(steps) * state.iterations());
}

BENCHMARK(BM_HeteroAssociationStepsN1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HeteroAssociationAssemblyN1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StaticGridLammN1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LammFiniteScanDefaultSettings)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ExternalLoadingAssemblyN1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LammStaticDefaultSettings)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LammFastDefaultSettings)->Arg(25)->Arg(40)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LammCrossedFloatingDefaultSettings)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LammUnresolvedFloatingDefaultSettings)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LammMovingFrameN1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LammStaticN1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MeasuredInitialProfile)->Arg(0)->Arg(400)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LammList100Species)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
