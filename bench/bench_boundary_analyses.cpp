// The boundary analyses: the ls-g*(s) area-fraction extrapolation of 60
// scans x 800 points (n 100, sliding groups of 3 = 58 groups) against 58
// times one group's normal equations and regularised solve, one boundary
// model of 60 scans x 20 fractions x 800 points, the van Holde-Weischet
// analysis of 100 scans x 2000 points, and 8 maximum-entropy step trials
// at n 200 on the pool against the same trials one after the other.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <random>
#include <tuple>
#include <vector>

#include "bench_experiment.h"
#include "data/scan_set.h"
#include "distributions/analysis/lsgs_extrapolation.h"
#include "distributions/maxent_step_mt.h"
#include "distributions/analysis/van_holde_weischet.h"
#include "distributions/conti_context.h"
#include "distributions/conti_grid.h"
#include "distributions/conti_parameters.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/normal_equations.h"
#include "distributions/regularization_scaling.h"
#include "distributions/sharp_boundary.h"
#include "distributions/work_blocks.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/lamm_settings.h"
#include "numerics/arrays.h"
#include "platform/automatic_ui.h"
#include "platform/paths.h"
#include "platform/scripted_ui.h"

namespace {

constexpr double kRpm = 50000;

// Two diffusing boundaries (3 S and 6 S) with noise 0.005 on m scans of r
// points from 5.95 to 7.2 cm, every 120 s from 600 s.
void MakeScans(int m, int r) {
  bench::MakeCommonGridScans(m, r, 5.95f, 7.2f, 6.02f, 7.15f, static_cast<float>(kRpm),
                             [](int j) { return 600 + 120.0 * (j - 1); });
  ScanSet& s = CurrentScanSet();
  const double w = kRpm * M_PI / 30.0;
  std::mt19937 gen(5);
  std::normal_distribution<double> noise(0.0, 0.005);
  for (int j = 1; j <= m; ++j) {
    const double t = s.records[j].time;
    for (int i = 1; i <= r; ++i) {
      const double x = s.grid[i];
      double c = 0.0;
      for (auto [sv, D, c0] : {std::tuple{3.0, 6e-7, 0.4}, std::tuple{6.0, 4e-7, 0.6}}) {
        const double k = w * w * sv * 1e-13;
        const double rb = 6.0 * std::exp(k * t);
        if (x >= 6.0) c += 0.5 * c0 * std::exp(-2 * k * t) * std::erfc((rb - x) / (2 * std::sqrt(D * t)));
      }
      s.signals[j][i] = s.gridSignals[j][i] = static_cast<float>(c + noise(gen));
    }
  }
}

// The ls-g*(s) area-fraction model: 1..10 S at n points, N 20, sliding
// groups of 3, TI and RI noise, Tikhonov at P 0.68.
void ChooseLsgsModel(int n, int threads) {
  ClearParameterDerivations();
  RegisterContiParameterDerivation();
  gModelSelectorFlags = ModelSelectorFlags{};
  gModelSelectorFlags.SedTransformModel = 1;
  gModelSelectorFlags.LsgExtrapolationModel = 1;
  gModelSelectorFlags.DistributionModel = 1;
  gModelParams = ModelParams{};
  gModelParameterVector = ModelParameterVector{};
  AllocParameterArrays();
  gModelParams.meniscus = 6.0f;
  gModelParams.bottom = 7.2f;
  gFitEngineState.fitTINoise = 1;
  gModelParams.riNoiseFit = 1;
  PackModelParameters();
  float* P = gModelParameterVector.P;
  P[1] = 1.0f;
  P[5] = 10.0f;
  P[9] = static_cast<float>(n);
  P[2] = 0.68f;
  P[11] = 20.0f;
  P[3] = 3.0f;
  LsgExtrapolation() = LsgExtrapolationSettings{};
  LsgExtrapolation().consecutiveGroups = 0;
  LammSettings() = LammSolverSettings{};
  ContiSettings& cs = Conti();
  cs.gridFromFile = cs.logSpacedGrid = 0;
  cs.maxEntropy = 0;
  cs.multipleThreads = threads > 1;
  cs.normalEquationThreads = threads;
  ContiContext().infoMessages = false;
  ContiContext().drawingEnabled = false;
}

void Release() {
  FreeDistributionArrays();
  FreeDistributionWorkArrays(WorkBlock().gridPoints);
  FreeNormalEquationBlock();
  ScanSet& s = CurrentScanSet();
  FreeScanGridArrays(s);
  FreeScanSetArrays(s);
}

void BM_LsgsRun(benchmark::State& state) {
  platform::AutomaticUserInterface ui;
  platform::ScopedUI scope(ui);
  const int threads = static_cast<int>(state.range(0));
  MakeScans(60, 800);
  ChooseLsgsModel(100, threads);
  for (auto _ : state) benchmark::DoNotOptimize(RunLsgs());
  state.counters["groups"] = Lsgs().groups;
  state.counters["load"] = Lsgs().loadingSignal;
  Release();
}
BENCHMARK(BM_LsgsRun)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

// One group's normal equations (3 scans, TI and RI) and its regularised
// solve on the same problem: the unit that the run repeats 58 times.
void BM_LsgsOneGroupNeqAndSolve(benchmark::State& state) {
  platform::AutomaticUserInterface ui;
  platform::ScopedUI scope(ui);
  const int threads = static_cast<int>(state.range(0));
  MakeScans(60, 800);
  ChooseLsgsModel(100, threads);
  UnpackModelParameters();
  SetupContiGrid();
  ScanSet& s = CurrentScanSet();
  const ContiSettings& cs = Conti();
  const double w = kRpm * M_PI / 30.0;
  for (int i = 1; i <= cs.gridSize; ++i) {
    SharpBoundary().k = w * w * cs.sValues[i] * 1e-13;
    for (int j = 1; j <= 3; ++j)
      ContiShapeModelCurve(1.0f, s.records[j].timeRead, s.grid, KernelRow(i, j), s.gridLength);
  }
  LoadNeqInputsFromModel();
  NeqInputs().groupFirst = 1;
  NeqInputs().groupLast = 3;
  for (auto _ : state) {
    BuildNormalEquations(s, ChooseNoiseModel(NeqInputs()), threads > 1 ? threads : 0);
    ScaleRegularization();
  }
  NeqInputs().groupFirst = NeqInputs().groupLast = 0;
  Release();
}
BENCHMARK(BM_LsgsOneGroupNeqAndSolve)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LsgsExtrapolatedModel(benchmark::State& state) {
  platform::AutomaticUserInterface ui;
  platform::ScopedUI scope(ui);
  MakeScans(60, 800);
  ChooseLsgsModel(100, 1);
  RunLsgs();
  LsgsRunState& st = Lsgs();
  const float load = st.loadingSignal;
  for (auto _ : state) {
    st.loadingSignal = load;
    benchmark::DoNotOptimize(LsgsExtrapolatedModel(st.Slopes(), st.Intercepts()));
  }
  state.counters["fractions"] = st.fractions;
  Release();
}
BENCHMARK(BM_LsgsExtrapolatedModel)->Unit(benchmark::kMillisecond);

void BM_VanHoldeWeischet(benchmark::State& state) {
  MakeScans(100, 2000);
  ScanSet& s = CurrentScanSet();
  VhwOptions o;
  o.resolution = 20;
  o.meniscus = 6.0f;
  o.bottom = 7.2f;
  VhwAnalysis a;
  for (auto _ : state) {
    AnalyseVanHoldeWeischet(s, o, a);
    ComputeVhwModel(s, a);
  }
  state.counters["fractions"] = a.fractions;
  Release();
}
BENCHMARK(BM_VanHoldeWeischet)->Unit(benchmark::kMillisecond);

// n = 200: A = K'K of a smooth kernel plus a ridge, c_old with six
// amplitudes at their bound that the step pushes below it, so that every
// trial solves its step system again six times.
struct MaxEntProblem {
  int n = 200;
  std::vector<double> a, b, cOld, direction;
  std::vector<double*> rows;
  MaxEntProblem() {
    const size_t side = static_cast<size_t>(n) + 1;
    a.assign(side * side, 0.0);
    rows.resize(side);
    for (size_t i = 0; i < side; ++i) rows[i] = a.data() + i * side;
    for (int i = 1; i <= n; ++i)
      for (int j = 1; j <= n; ++j) rows[i][j] = std::exp(-std::pow((i - j) / 8.0, 2)) + (i == j ? 0.5 : 0.0);
    b.assign(side, 0.0);
    cOld.assign(side, 0.0);
    direction.assign(side, 0.0);
    for (int i = 1; i <= n; ++i) {
      b[i] = 1.0 + 0.1 * std::sin(0.1 * i);
      cOld[i] = i % 33 == 0 ? 0.0 : 0.01 + 0.001 * i;
      direction[i] = i % 33 == 0 ? -0.01 : 0.002 * std::cos(0.2 * i);
    }
  }
  std::vector<MTMaxEntmrqstep> Trials() const {
    MTMaxEntmrqstep::Inputs in;
    in.b = b;
    in.sumSquares = 10.0;
    in.alpha = 0.5;
    in.m = 0.01;
    std::vector<MTMaxEntmrqstep> trials(8);
    for (int k = 0; k < 8; ++k) {
      trials[k].Setup(n, rows.data(), b.data(), in);
      trials[k].SetStep(1.0f / (k + 1), false, direction.data(), cOld.data(), nullptr);
    }
    return trials;
  }
};

void BM_MaxEntTrials(benchmark::State& state) {
  const int threads = static_cast<int>(state.range(0));
  MaxEntProblem p;
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<MTMaxEntmrqstep> trials = p.Trials();
    state.ResumeTiming();
    RunMaxEntTrials(trials, threads);
    benchmark::DoNotOptimize(trials[0].objective);
  }
}
BENCHMARK(BM_MaxEntTrials)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
