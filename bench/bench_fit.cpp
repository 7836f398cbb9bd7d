// Cost of the fit engine itself per target evaluation, on an analytic model
// whose own cost is a few hundred flops: Nelder-Mead restarts, simulated
// annealing and Marquardt-Levenberg over a straight polynomial in P[5..8].
#include <benchmark/benchmark.h>

#include <cmath>

#include "bench_experiment.h"
#include "data/scan_grid.h"
#include "data/scan_set.h"
#include "fit/model_evaluation.h"
#include "fit/model_selector.h"
#include "lamm/lamm_settings.h"
#include "fit/fit_driver.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "numerics/random.h"
#include "fit/model_params.h"
#include "numerics/arrays.h"

namespace {

struct Cubic {
  float operator()(const float* P, float x) const { return P[5] + x * (P[6] + x * (P[7] + x * P[8])); }
};
using PolynomialHost = bench::ScanModelHost<Cubic>;

void LoadPolynomialData(int points) {
  bench::LoadSingleScan(points, [](float x) {
    return 1.0f + 0.1f * (x - 6.0f) - 0.05f * (x - 6.0f) * (x - 6.0f) + 0.001f * std::sin(37.0f * x);
  });
}

// The rmsd of the cubic through the scan, from the parameters P[5..8].
double PolynomialRmsd(const double* c) {
  const ScanSet& ss = CurrentScanSet();
  double sum = 0.0;
  for (int k = 1; k <= ss.points[1]; ++k) {
    const double x = ss.radii[1][k];
    const double d = ss.signals[1][k] - (c[0] + x * (c[1] + x * (c[2] + x * c[3])));
    sum += d * d;
  }
  return std::sqrt(sum / ss.points[1]);
}

// The least-squares cubic by its normal equations in the centred, scaled
// radius (the monomials of the radius itself are too close to collinear),
// converted back to the coefficients of the radius: what any minimiser of
// the rmsd should reach.
double LeastSquaresRmsd() {
  const ScanSet& ss = CurrentScanSet();
  const double centre = 6.6, scale = 0.6;
  double a[4][5] = {};
  for (int k = 1; k <= ss.points[1]; ++k) {
    const double t = (ss.radii[1][k] - centre) / scale;
    const double f[4] = {1.0, t, t * t, t * t * t};
    for (int i = 0; i < 4; ++i) {
      for (int j = 0; j < 4; ++j) a[i][j] += f[i] * f[j];
      a[i][4] += f[i] * ss.signals[1][k];
    }
  }
  for (int i = 0; i < 4; ++i)
    for (int r = i + 1; r < 4; ++r) {
      const double m = a[r][i] / a[i][i];
      for (int j = i; j < 5; ++j) a[r][j] -= m * a[i][j];
    }
  double b[4];
  for (int i = 3; i >= 0; --i) {
    double v = a[i][4];
    for (int j = i + 1; j < 4; ++j) v -= a[i][j] * b[j];
    b[i] = v / a[i][i];
  }
  // sum b_i ((x - centre) / scale)^i expanded in powers of x.
  const double u = 1.0 / scale, v = -centre / scale;
  double c[4] = {b[0] + b[1] * v + b[2] * v * v + b[3] * v * v * v,
                 b[1] * u + 2.0 * b[2] * u * v + 3.0 * b[3] * u * v * v,
                 b[2] * u * u + 3.0 * b[3] * u * u * v, b[3] * u * u * u};
  return PolynomialRmsd(c);
}

void RunMethod(benchmark::State& state, int method) {
  SeedGaussRandom(1);
  LoadPolynomialData(static_cast<int>(state.range(0)));
  PolynomialHost host;
  long evaluations = 0;
  double excess = 0.0;
  const double least = LeastSquaresRmsd();
  for (auto _ : state) {
    bench::StartParameters({{5, 0.5f}, {6, 0.2f}, {7, -0.01f}, {8, 0.001f}}, {5, 6, 7, 8});
    gFitEngineState = FitEngineState{};
    gFitEngineState.useMarquardt = method == 1;
    gFitEngineState.useAnnealing = method == 2;
    gFitEngineState.annealIterations = 100;
    gFitEngineState.annealFinalMarquardt = 0;
    host.evaluations = 0;
    benchmark::DoNotOptimize(FitCurrentModel(&host));
    evaluations += host.evaluations;
    const float* P = gModelParameterVector.P;
    const double c[4] = {P[5], P[6], P[7], P[8]};
    excess += PolynomialRmsd(c) / least - 1.0;
  }
  state.counters["evaluations_per_fit"] = bench::PerIteration(state, static_cast<double>(evaluations));
  // How far above the least-squares rmsd the fits ended, on average.
  state.counters["rmsd_excess"] = benchmark::Counter(excess / static_cast<double>(state.iterations()));
  state.counters["time_per_evaluation"] =
      benchmark::Counter(static_cast<double>(evaluations), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  FreeScanSetArrays(CurrentScanSet());
}

void BM_NelderMeadRestarts(benchmark::State& state) { RunMethod(state, 0); }
void BM_MarquardtLevenberg(benchmark::State& state) { RunMethod(state, 1); }
void BM_SimulatedAnnealing(benchmark::State& state) { RunMethod(state, 2); }

BENCHMARK(BM_NelderMeadRestarts)->Arg(10)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MarquardtLevenberg)->Arg(10)->Arg(1000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SimulatedAnnealing)->Arg(10)->Arg(1000)->Unit(benchmark::kMillisecond);

// A three-parameter discrete-species fit (s of two species and D of the
// first, amplitudes algebraic) on 50 scans of 500 points simulated by the
// program's own solver: model evaluations per second inside the fit.
class LammHost : public bench::SilentFitHost {
 public:
  long evaluations = 0;
  void SimulateModel() override {
    ++evaluations;
    ::SimulateModel(this);
  }
  void PlaySoundInfo() override {}
  void CheckLeftFitLimit() override {}
  void CheckRightFitLimit() override {}
};

void LoadSedimentationScans(int scans, int points) {
  ScanSet& ss = CurrentScanSet();
  FreeScanSetArrays(ss);
  FreeScanGridArrays(ss);
  AllocateScanTables(ss, scans);
  CurrentDataTypeFlags() = DataTypeFlags{};
  LammSettings() = LammSolverSettings{};
  LammSettings().rampRotorSpeed = 0;
  const double omega = 50000 * 2 * 3.141592653589793 / 60;
  for (int j = 1; j <= scans; ++j) {
    ss.radii[j] = vector(1, points);
    ss.signals[j] = vector(1, points);
    ss.model[j] = vector(1, points);
    for (int k = 1; k <= points; ++k) ss.radii[j][k] = 6.0f + 1.15f * (k - 1) / (points - 1);
    ss.points[j] = points;
    ss.order[j] = j;
    ss.firstFitPoint[j] = points / 25;
    ss.lastFitPoint[j] = points - points / 25;
    ss.fileNames[j] = "bench.ip" + std::to_string(j);
    ScanRecord& r = ss.records[j];
    r.rpm = 50000;
    r.temperature = 20;
    r.time = r.timeRead = 600.0 + 120.0 * (j - 1);
    r.w2t = omega * omega * r.time;
  }
  PrepareScanGrid();
  ss.firstGridPoint = ss.firstFitPoint[1];
  ss.lastGridPoint = ss.lastFitPoint[1];
  ss.leftFitLimit = ss.radii[1][ss.firstFitPoint[1]];
  ss.rightFitLimit = ss.radii[1][ss.lastFitPoint[1]];
}

void SetTwoSpecies(float s1, float d1, float s2) {
  ModelParams& mp = gModelParams;
  mp = ModelParams{};
  mp.meniscus = 6.0f;
  mp.bottom = 7.2f;
  mp.included[1] = mp.included[2] = 1;
  mp.s[1] = s1;
  mp.massOrD[1] = d1;
  mp.s[2] = s2;
  mp.massOrD[2] = 4.0f;
  mp.concentration[1] = 1.0f;
  mp.concentration[2] = 0.6f;
  PackModelParameters();
}

// Scans and the discrete model of two species (4 S at D 6, 9 S at D 4) for
// a fit, the engine state as a new program has it.
void StartDiscreteSpecies(int scans, int radii) {
  LoadSedimentationScans(scans, radii);
  gModelSelectorFlags = ModelSelectorFlags{};
  gModelSelectorFlags.LammDiscreteModel = 1;
  gFitEngineState = FitEngineState{};
  gFitEngineState.molarMassParameters = 0;
  SetTwoSpecies(4.0f, 6.0f, 9.0f);
}

void BM_DiscreteSpeciesFit(benchmark::State& state) {
  StartDiscreteSpecies(50, 500);
  LammHost host;
  SimulateModel(&host);
  ScanSet& ss = CurrentScanSet();
  SeedGaussRandom(3);
  for (int j = 1; j <= ss.count; ++j)
    for (int k = 1; k <= ss.points[j]; ++k) ss.signals[j][k] = ss.model[j][k] + GaussRandom(0.005f);
  long evaluations = 0;
  for (auto _ : state) {
    SetTwoSpecies(3.7f, 5.0f, 9.8f);
    gModelParams.concentrationsLinear = 1;
    gModelParams.sFit[1] = gModelParams.sFit[2] = gModelParams.massOrDFit[1] = 1;
    PackModelParameters();
    gFitEngineState = FitEngineState{};
    gFitEngineState.molarMassParameters = 0;
    gFitEngineState.useMarquardt = state.range(0) == 1;
    host.evaluations = 0;
    benchmark::DoNotOptimize(FitCurrentModel(&host));
    evaluations += host.evaluations;
  }
  state.counters["evaluations_per_fit"] = bench::PerIteration(state, static_cast<double>(evaluations));
  state.counters["evaluations_per_second"] =
      benchmark::Counter(static_cast<double>(evaluations), benchmark::Counter::kIsRate);
  FreeSpeciesScanArrays(ss);
  FreeScanGridArrays(ss);
  FreeScanSetArrays(ss);
}
// Arg 0: Nelder-Mead restarts; 1: Marquardt-Levenberg.
BENCHMARK(BM_DiscreteSpeciesFit)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2);

// One model evaluation of three species (loadings algebraic) on 20 scans of
// 1168 radii, about 21 000 points in the fit range: Arg 0 without noise
// terms, 1 with TI and RI noise solved with the loadings.
void BM_DiscreteSpeciesEvaluation(benchmark::State& state) {
  StartDiscreteSpecies(20, 1168);
  LammHost host;
  ModelParams& mp = gModelParams;
  mp.included[3] = 1;
  mp.s[3] = 1.5f;
  mp.massOrD[3] = 9.0f;
  mp.concentration[3] = 0.4f;
  PackModelParameters();
  SimulateModel(&host);
  ScanSet& ss = CurrentScanSet();
  SeedGaussRandom(3);
  for (int j = 1; j <= ss.count; ++j)
    for (int k = 1; k <= ss.points[j]; ++k)
      ss.signals[j][k] = ss.model[j][k] + 0.02f * std::sin(0.01f * k) + 0.01f * j + GaussRandom(0.005f);
  const bool terms = state.range(0) == 1;
  gFitEngineState.fitTINoise = terms;
  mp.riNoiseFit = terms;
  mp.concentrationsLinear = 1;
  // Every evaluation solves the species anew, as a fit's steps do.
  float s1 = 3.9f;
  for (auto _ : state) {
    mp.s[1] = s1;
    PackModelParameters();
    SimulateModel(&host);
    s1 = s1 == 3.9f ? 3.91f : 3.9f;
  }
  FreeSpeciesScanArrays(ss);
  FreeScanGridArrays(ss);
  FreeScanSetArrays(ss);
}
BENCHMARK(BM_DiscreteSpeciesEvaluation)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
