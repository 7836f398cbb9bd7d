// Fits of the nonideal components (Nonideal Sedimentation > Multiple
// Species) on 10 scans of 1000 radii (6.0-7.2 cm, fitted 6.05-7.1 cm) at
// 50000 rpm, 1200 to 6600 s, simulated by the program's own solver plus
// seeded noise, by the simplex (with its restarts and the end checks of the
// model) and by Levenberg-Marquardt, one thread.
// One component: loading 7, D 5.5, s 4, log10 ks -1.5, log10 kd -10, noise
// 0.01; fitted from log10 kd -1 with the loading, D, s and both terms.
// Two components: loadings 1 and 1, D 6 and 4, s 4 and 9, log10 ks -1,
// log10 kd -1.7, noise 0.005; fitted from 1.2/5/3.7 and 0.8/4.5/9.5, log10 ks
// -1.5, kd -1, the 8 quantities together.
// The counters: CPU seconds of the fit, its evaluations, the CPU seconds of
// one evaluation, its rmsd and how it ended (1 reached, 2 a limit, 3
// undetermined, 4 not reached).
#include <benchmark/benchmark.h>

#include <random>

#include "bench_experiment.h"
#include "bench_fit_outcome.h"
#include "data/scan_set.h"
#include "fit/fit_driver.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/model_evaluation.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/rmsd.h"
#include "fit/fit_end.h"
#include "lamm/lamm_settings.h"
#include "numerics/random.h"

namespace {

struct Component {
  float c, D, s;
};

// The model's components and terms (a second component of loading 0 is none).
void Place(const Component& one, const Component& two, float logKs, float logKd) {
  ModelParams& mp = gModelParams;
  mp.s[1] = one.s;
  mp.massOrD[1] = one.D;
  mp.concentration[1] = one.c;
  mp.concentration[2] = logKs;
  mp.concentration[3] = logKd;
  mp.nonidealTerm[3] = two.c;
  mp.nonidealTerm[4] = two.s;
  mp.nonidealTerm[5] = two.D;
  PackModelParameters();
}

void MakeData(int components, bench::CountingFitHost& host) {
  bench::MakeCommonGridScans(10, 1000, 6.0f, 7.2f, 6.05f, 7.1f, 50000.0f,
                             [](int j) { return 1200.0 + 600.0 * (j - 1); });
  LammSettings() = LammSolverSettings{};
  LammSettings().rampRotorSpeed = 0;
  gSolutionConditions.vbarRho = 0.73f;
  gSolutionConditions.temperature = 293.15f;
  gModelSelectorFlags = ModelSelectorFlags{};
  gModelSelectorFlags.NonidealMultipleSpeciesModel = 1;
  ModelParams& mp = gModelParams;
  mp = ModelParams{};
  mp.meniscus = 6.0f;
  mp.bottom = 7.2f;
  gFitEngineState = FitEngineState{};
  gFitEngineState.molarMassParameters = 0;
  if (components == 1)
    Place({7.0f, 5.5f, 4.0f}, {0, 0, 0}, -1.5f, -10.0f);
  else
    Place({1.0f, 6.0f, 4.0f}, {1.0f, 4.0f, 9.0f}, -1.0f, -1.7f);
  SimulateModel(&host);
  ScanSet& ss = CurrentScanSet();
  std::mt19937 engine(1);
  std::normal_distribution<float> noise(0.0f, components == 1 ? 0.01f : 0.005f);
  for (int j = 1; j <= ss.count; ++j)
    for (int i = 1; i <= ss.points[j]; ++i) ss.signals[j][i] = ss.gridSignals[j][i] = ss.model[j][i] + noise(engine);
}

void Start(int components, int method) {
  ModelParams& mp = gModelParams;
  gFitEngineState = FitEngineState{};
  gFitEngineState.molarMassParameters = 0;
  gFitEngineState.useSimplex = method == 0;
  gFitEngineState.useMarquardt = method == 1;
  mp.concentrationFit[1] = mp.concentrationFit[2] = mp.concentrationFit[3] = 1;
  mp.sFit[1] = mp.massOrDFit[1] = 1;
  if (components == 1) {
    Place({7.0f, 5.5f, 4.0f}, {0, 0, 0}, -1.5f, -1.0f);
  } else {
    mp.nonidealTermFit[3] = mp.nonidealTermFit[4] = mp.nonidealTermFit[5] = 1;
    Place({1.2f, 5.0f, 3.7f}, {0.8f, 4.5f, 9.5f}, -1.5f, -1.0f);
  }
  SeedGaussRandom(1);
}

// Arguments: components (1, 2), method (0 simplex, 1 Marquardt).
void BM_NonidealComponentsFit(benchmark::State& state) {
  const int components = static_cast<int>(state.range(0));
  const int method = static_cast<int>(state.range(1));
  double perEvaluation = 0.0;
  bench::FitOutcome outcome;
  for (auto _ : state) {
    bench::CountingFitHost host;
    MakeData(components, host);
    Start(components, method);
    // One evaluation at the start, timed alone.
    const double once = bench::ProcessCpuAndFaults().first;
    SimulateModel(&host);
    perEvaluation = bench::ProcessCpuAndFaults().first - once;
    outcome = bench::TimedFit(host);
    state.SetIterationTime(outcome.cpu);
    bench::FreeCommonGridScans();
  }
  bench::CountFitOutcome(state, outcome);
  state.counters["evaluation_seconds"] = perEvaluation;
}

// Each fit once, in seconds of its own CPU time.
void OneTimedFit(benchmark::internal::Benchmark* b) { b->Unit(benchmark::kSecond)->Iterations(1)->UseManualTime(); }

}  // namespace

BENCHMARK(BM_NonidealComponentsFit)->ArgsProduct({{1, 2}, {0, 1}})->Apply(OneTimedFit);
BENCHMARK_MAIN();
