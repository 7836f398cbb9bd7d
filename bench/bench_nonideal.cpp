// Concentration-dependent sedimentation on the solver object: the species of
// bench_lamm (4.3 S, 6e-7 cm^2/s, 50000 rpm, 6.0-7.2 cm, 50 scans up to
// 15000 s) with N = 1000 on the ideal static grid and on the
// concentration-dependent path (linear ks and kd of 0.01 ml/mg, and the
// hard-sphere factors), and one component of the component table, a steep
// strongly nonideal boundary; and 100 nonideal species sharing one 200 x 100 ctot
// matrix on 1 and 8 worker threads. On the global arrays of the model
// evaluation: a 4.3/6.8 S monomer-dimer (K = 1, c0 = 1) on the nonideal
// moving frame and on its static twin, N = 1000, with the node-steps per
// second. At equal accuracy (5e-5 of c0 against a fine solution): the
// static twin with its default scheme 1 needs max dc/c 0.01, with the
// averaged corrector (scheme 2) max dc/c 0.1.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "bench_solver_scans.h"
#include "data/scan_set.h"
#include "fit/lamm_grid.h"
#include "fit/lamm_start_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/global/conc_dependent_coefficients.h"
#include "lamm/global/conc_dependent_lamm.h"
#include "lamm/global/nonideal_moving_frame.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_nonideal.h"
#include "lamm/lamm_run_state.h"
#include "lamm/lamm_settings.h"
#include "lamm/lamm_threads.h"
#include "numerics/arrays.h"
#include "platform/input_events.h"

namespace {

constexpr int kScans = 50, kPoints = 600;

struct Data : bench::SolverObjectScans {
  LammSolverSettings st;
  Data() : SolverObjectScans(kScans, kPoints) {
    st.automaticGridSize = 0;
    st.gridSize.setting = 1000;
    st.automaticAlgorithm = 0;
    st.claverieAlgorithm = 1;
    st.movingHatAlgorithm = 0;
  }
  void Load(CLammIdeal& L) {
    L.MarkLoaded();
    L.SetOutputParameters(4.3, 6e-7, 6.0, 7.2, 1.0, 6.05f, 7.1f);
    L.SetScanTimes({.records = records.data(), .output = ptr.data(), .grid = grid.data(),
                    .gridLength = kPoints, .scanCount = kScans, .absorbanceData = true});
    SetModelOptionsFromSettings(L, st, st.workingMaxDcOverC, st.gridSize.setting);
    L.SetSolventAndComputeFrictionalRatio(20, 0.73, 1.0, 1.0);
  }
};

enum class Path { Ideal, Linear, HardSphere };

void Solve(benchmark::State& state, Path path) {
  Data d;
  for (auto _ : state) {
    CLammIdeal L;
    d.Load(L);
    if (path != Path::Ideal) {
      ConcDependentModel m;
      m.singleNonideal = m.nonideality = true;
      m.hardSphere = path == Path::HardSphere;
      m.a = path == Path::HardSphere ? 1.0f : -2.0f;
      m.b = path == Path::HardSphere ? 0.0f : -2.0f;
      L.SetConcDependentModel(m);
    }
    benchmark::DoNotOptimize(L.CheckAndRun());
    state.counters["steps"] = L.AcceptedSteps();
  }
}

void BM_IdealStaticN1000(benchmark::State& state) { Solve(state, Path::Ideal); }
void BM_ConcDependentLinearN1000(benchmark::State& state) { Solve(state, Path::Linear); }
void BM_ConcDependentHardSphereN1000(benchmark::State& state) { Solve(state, Path::HardSphere); }

// One component of the nonideal multiple-species model, set up as the model
// evaluation sets it (component table, scheme 2): a steep, strongly
// nonideal boundary, 139.8 S, 1e-6 cm^2/s, loading 19.5, ks 5e-11 and kd 51
// per unit, at 50000 rpm in 6.0-7.2 cm (fit limits 6.05-7.1), 20 scans at
// 1200 s and every 600 s after, N = 1000.
void BM_ConcDependentOneComponentN1000(benchmark::State& state) {
  constexpr int scans = 20;
  bench::SolverObjectScans d(scans, kPoints);
  for (int k = 1; k <= scans; ++k) d.records[k].time = d.records[k].timeRead = 1200.0 + 600.0 * (k - 1);
  LammSolverSettings st;
  st.automaticGridSize = 0;
  st.gridSize.setting = 1000;
  st.automaticAlgorithm = 0;
  st.claverieAlgorithm = 1;
  st.movingHatAlgorithm = 0;
  const double s = 139.8, D = 1e-6, loading = 19.5;
  const double conc[] = {0, loading}, sv[] = {0, s}, Dv[] = {0, D}, weight[] = {0, 1.0}, overlay[] = {0, 0};
  for (auto _ : state) {
    CLammIdeal L;
    L.MarkLoaded();
    L.SetOutputParameters(s, D, 6.0, 7.2, loading, 6.05f, 7.1f);
    L.SetScanTimes({.records = d.records.data(), .output = d.ptr.data(), .grid = d.grid.data(),
                    .gridLength = kPoints, .scanCount = scans, .absorbanceData = true});
    SetModelOptionsFromSettings(L, st, st.workingMaxDcOverC, st.gridSize.setting);
    L.SetSolventAndComputeFrictionalRatio(20, 0.73, 1.0, 1.0);
    L.SetSolventComponents({.model = true, .concDependentSolver = true, .tableModel = true, .count = 1,
                            .concentrations = conc, .sValues = sv, .dValues = Dv, .weights = weight, .s = s,
                            .D = D, .c0 = loading, .overlayFractions = overlay});
    ConcDependentModel m;
    m.nonideality = true;
    m.a = static_cast<float>(std::log10(5e-11));
    m.b = static_cast<float>(std::log10(51.0));
    m.scheme = 2.0f;
    L.SetConcDependentModel(m);
    benchmark::DoNotOptimize(L.CheckAndRun());
    state.counters["steps"] = L.AcceptedSteps();
  }
}

// 100 species (1 to 10 S) whose s and D follow ctot(r, t) of a boundary that
// moves out over the run: 200 rows of 100 level radii, shared read-only by
// the copies on the workers. The argument is the thread count.
void BM_NonidealList100Species(benchmark::State& state) {
  Data d;
  CLammNonIdeal templ;
  d.Load(templ);
  templ.SetNonidealParameters(-2.0f, -2.3f, 1.0, false, false);
  const int rows = 200, levels = 100;
  std::vector<std::vector<double>> radius(rows + 1, std::vector<double>(levels + 1));
  std::vector<const double*> rowPtr(rows + 1, nullptr);
  std::vector<double> times(rows + 1), level(levels + 1);
  for (int j = 1; j <= levels; ++j) level[j] = 0.05 * j;
  for (int i = 1; i <= rows; ++i) {
    times[i] = 75.0 * i;
    for (int j = 1; j <= levels; ++j) radius[i][j] = 6.0 + 0.004 * i + 0.002 * j;
    rowPtr[i] = radius[i].data();
  }
  templ.LoadCtotMatrix(rows, levels, rowPtr.data(), times.data(), level.data(), 0.05, "bench");
  const int n = 100;
  std::vector<double> s(n + 1), D(n + 1);
  std::vector<std::vector<std::vector<float>>> store(
      n + 1, std::vector<std::vector<float>>(kScans + 1, std::vector<float>(kPoints + 1)));
  std::vector<std::vector<float*>> scans(n + 1, std::vector<float*>(kScans + 1));
  std::vector<float**> results(n + 1);
  for (int k = 1; k <= n; ++k) {
    s[k] = 1.0 + 9.0 * (k - 1) / (n - 1);
    D[k] = 6e-7 * std::pow(4.3 / s[k], 0.5);
    for (int j = 1; j <= kScans; ++j) scans[k][j] = store[k][j].data();
    results[k] = scans[k].data();
  }
  LammThreadCount() = static_cast<int>(state.range(0));
  platform::StopFlag() = false;
  for (auto _ : state)
    benchmark::DoNotOptimize(
        CLRunMTList(&templ, n, s.data(), D.data(), nullptr, results.data(), d.grid.data(), kPoints, nullptr, nullptr));
  state.counters["species_per_s"] =
      benchmark::Counter(static_cast<double>(n) * state.iterations(), benchmark::Counter::kIsRate);
}

// The solver bench scans (kScans x kPoints) with meniscus 6.0 and bottom
// 7.2 cm, made once.
void LoadGlobalScans() {
  if (CurrentScanSet().count == kScans) return;
  bench::LoadSolverBenchScans();
  gModelParams.meniscus = 6.0f;
  gModelParams.bottom = 7.2f;
}

void GlobalDimer(benchmark::State& state, bool moving, float scheme = 1.0f) {
  LoadGlobalScans();
  ConcDependentSpecies& sp = CurrentConcDependentSpecies();
  sp = ConcDependentSpecies{};
  sp.kind = ConcDependentSpecies::Kind::Dimer;
  sp.s1 = 4.3;
  sp.D1 = 6e-7;
  sp.s2 = 6.8;
  sp.D2 = 4.8e-7;
  sp.logK = 0;
  sp.scheme = scheme;
  LammSolverSettings& st = LammSettings();
  st = LammSolverSettings{};
  st.automaticAlgorithm = 0;
  st.claverieAlgorithm = moving ? 0 : 1;
  st.movingHatAlgorithm = moving ? 1 : 0;
  st.gridSize.inUse = st.gridSize.setting = 1000;
  st.workingMaxDcOverC = moving ? 1.0 : scheme == 1.0f ? 0.01 : 0.1;
  gModelSelectorFlags.MonomerDimerModel = 1;
  FreeLammArrays();
  AllocLammArrays();
  double nodeSteps = 0;
  for (auto _ : state) {
    LammRunState& rs = CurrentLammRunState();
    rs = LammRunState{};
    rs.sStar = 1;
    LammGrid& g = CurrentLammGrid();
    for (int i = 1; i <= g.AllocatedGridSize; ++i) g.Concentration[i] = 1.0;
    SetAccelerationPhase();
    SetLammSolverStartState(nullptr, false);
    benchmark::DoNotOptimize(moving ? SimulateNonidealMovingFrameLamm() : SimulateConcDependentLamm());
    const int steps = moving ? NonidealMovingFrameSteps() : ConcDependentStepCount();
    state.counters["steps"] = steps;
    nodeSteps += 1000.0 * steps;
  }
  state.counters["node_steps_per_s"] = benchmark::Counter(nodeSteps, benchmark::Counter::kIsRate);
}

void BM_NonidealMovingFrameDimerN1000(benchmark::State& state) { GlobalDimer(state, true); }
void BM_ConcDependentStaticTwinDimerN1000(benchmark::State& state) { GlobalDimer(state, false); }
void BM_ConcDependentStaticTwinScheme2DimerN1000(benchmark::State& state) { GlobalDimer(state, false, 2.0f); }

}  // namespace

BENCHMARK(BM_IdealStaticN1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConcDependentLinearN1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConcDependentHardSphereN1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConcDependentOneComponentN1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NonidealList100Species)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_NonidealMovingFrameDimerN1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConcDependentStaticTwinDimerN1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConcDependentStaticTwinScheme2DimerN1000)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
