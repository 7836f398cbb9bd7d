// Fits of 1 to 3 non-interacting discrete species (s and molar mass
// floated, loadings linear) over featureless scans the size of the bundled
// example's: 36 scans of 390 radii (6.0-7.2 cm, fitted 6.05-7.1 cm) at
// 50000 rpm from 600 s, 300 s apart, every value 0.5 plus noise of 0.01 (or
// every value 0.5 exactly, or two scans 5 minutes or 3 hours apart), by the
// simplex, Levenberg-Marquardt and annealing at their defaults, one thread.
// The counters: CPU seconds of the fit, its evaluations, its rmsd and how it
// ended (1 reached, 2 a limit, 3 undetermined, 4 not reached), the species
// annealing took as gone from the fit range without solving them, those it
// wrote from the plateau's closed form and those it took from its memory of
// species solved with the same settings before.
// Nothing in such data settles the species: each fit must end by itself.
// The noisy_window variant fits by annealing as the window does (see Setup).
#include <benchmark/benchmark.h>

#include <random>
#include <string>

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
#include "lamm/lamm_threads.h"
#include "numerics/random.h"

namespace {

enum class Data { Noisy, Flat, TwoScansMinutes, TwoScansHours };

// As the window fits the bundled example's scans made featureless: the
// first and last radii of the data (5.99 and 7.151 cm) taken as meniscus and
// bottom, fitted 6.0-7.001 cm, TI and RI noise, the Lamm-equation dialog's
// defaults, the species as a user types them (4 S / 50 kDa, 7 S / 100 kDa).
// second: Fit again from where the first Fit ended, as a user presses Fit a
// second time; the counters are then the second Fit's (the first's CPU
// seconds as first_cpu_seconds).
// typed: the species a user typed in another case (0.9 / 20 kDa / 2 S,
// 0.5 / 80 kDa / 5.5 S, 0.2 / 200 kDa / 9 S) and the meniscus held at 6.02.
struct Setup {
  bool window = false;
  bool second = false;
  bool typed = false;
};

void MakeSet(Data data, Setup setup) {
  const int scans = data == Data::TwoScansMinutes || data == Data::TwoScansHours ? 2 : 36;
  const double apart = data == Data::TwoScansHours ? 10200.0 : 300.0;
  const auto time = [apart](int j) { return 600.0 + apart * (j - 1); };
  if (setup.typed)  // the window keeps the fit range 0.01 cm clear of the meniscus
    bench::MakeCommonGridScans(scans, 388, 5.99f, 7.151f, 6.03f, 7.001f, 50000.0f, time);
  else if (setup.window)
    bench::MakeCommonGridScans(scans, 388, 5.99f, 7.151f, 6.0f, 7.001f, 50000.0f, time);
  else
    bench::MakeCommonGridScans(scans, 390, 6.0f, 7.2f, 6.05f, 7.1f, 50000.0f, time);
  ScanSet& ss = CurrentScanSet();
  std::mt19937 engine(7);
  std::normal_distribution<float> noise(0.0f, 0.01f);
  for (int j = 1; j <= ss.count; ++j)
    for (int i = 1; i <= ss.points[j]; ++i)
      ss.signals[j][i] = ss.gridSignals[j][i] = 0.5f + (data == Data::Flat ? 0.0f : noise(engine));
  LammSettings() = LammSolverSettings{};
  // One thread: the CPU seconds are those of one, not the workers' sum.
  LammThreadCount() = 1;
  if (!setup.window) LammSettings().rampRotorSpeed = 0;
  gSolutionConditions.vbarRho = 0.73f;
  gSolutionConditions.temperature = 293.15f;
}

void StartSpecies(int species, int method, Setup setup) {
  gModelSelectorFlags = ModelSelectorFlags{};
  gModelSelectorFlags.LammDiscreteModel = 1;
  ModelParams& mp = gModelParams;
  mp = ModelParams{};
  mp.meniscus = setup.typed ? 6.02f : setup.window ? 5.99f : 6.0f;
  mp.bottom = setup.window ? 7.151f : 7.2f;
  gFitEngineState = FitEngineState{};
  gFitEngineState.molarMassParameters = 1;
  gFitEngineState.useSimplex = method == 0;
  gFitEngineState.useMarquardt = method == 1;
  gFitEngineState.useAnnealing = method == 2;
  const float s[3] = {2.0f, 5.0f, 9.0f}, M[3] = {20000.0f, 80000.0f, 200000.0f};
  const float sWindow[3] = {4.0f, 7.0f, 10.0f}, MWindow[3] = {50000.0f, 100000.0f, 200000.0f};
  const float cWindow[3] = {0.5f, 0.3f, 0.2f};
  const float sTyped[3] = {2.0f, 5.5f, 9.0f}, MTyped[3] = {20000.0f, 80000.0f, 200000.0f};
  const float cTyped[3] = {0.9f, 0.5f, 0.2f};
  for (int k = 1; k <= species; ++k) {
    mp.included[k] = mp.sFit[k] = mp.massOrDFit[k] = 1;
    mp.s[k] = setup.typed ? sTyped[k - 1] : setup.window ? sWindow[k - 1] : s[k - 1];
    mp.massOrD[k] = setup.typed ? MTyped[k - 1] : setup.window ? MWindow[k - 1] : M[k - 1];
    mp.concentration[k] = setup.typed ? cTyped[k - 1] : setup.window ? cWindow[k - 1] : 0.5f;
  }
  // Every loading fitted: the window solves them as linear amplitudes.
  mp.concentrationsLinear = 1;
  if (setup.window) {
    gFitEngineState.fitTINoise = 1;
    mp.riNoiseFit = 1;
  }
  PackModelParameters();
  SeedGaussRandom(3);
}

void BM_FeaturelessDiscreteFit(benchmark::State& state, Data data, Setup setup = {}) {
  const int species = static_cast<int>(state.range(0));
  const int method = static_cast<int>(state.range(1));
  double firstCpu = 0.0;
  long empty = 0, plateau = 0, memo = 0;
  bench::FitOutcome outcome;
  for (auto _ : state) {
    MakeSet(data, setup);
    StartSpecies(species, method, setup);
    bench::CountingFitHost host;
    if (setup.second) firstCpu = bench::TimedFit(host).cpu;
    const long emptyBefore = UnsolvedEmptySpeciesCount(), plateauBefore = PlateauSpeciesCount(),
               memoBefore = MemoisedSpeciesCount();
    outcome = bench::TimedFit(host);
    empty = UnsolvedEmptySpeciesCount() - emptyBefore;
    plateau = PlateauSpeciesCount() - plateauBefore;
    memo = MemoisedSpeciesCount() - memoBefore;
    state.SetIterationTime(outcome.cpu);
    bench::FreeCommonGridScans();
  }
  bench::CountFitOutcome(state, outcome);
  if (setup.second) state.counters["first_cpu_seconds"] = firstCpu;
  state.counters["empty_species"] = static_cast<double>(empty);
  state.counters["plateau_species"] = static_cast<double>(plateau);
  state.counters["memo_species"] = static_cast<double>(memo);
}

// Each fit once, in seconds of its own CPU time.
void OneTimedFit(benchmark::internal::Benchmark* b) { b->Unit(benchmark::kSecond)->Iterations(1)->UseManualTime(); }

}  // namespace

// Arguments: species (1-3), method (0 simplex, 1 Marquardt, 2 annealing).
BENCHMARK_CAPTURE(BM_FeaturelessDiscreteFit, noisy, Data::Noisy)
    ->ArgsProduct({{1, 2, 3}, {0, 1, 2}})
    ->Apply(OneTimedFit);
BENCHMARK_CAPTURE(BM_FeaturelessDiscreteFit, flat, Data::Flat)
    ->ArgsProduct({{1, 2, 3}, {0, 1, 2}})
    ->Apply(OneTimedFit);
BENCHMARK_CAPTURE(BM_FeaturelessDiscreteFit, two_scans_minutes, Data::TwoScansMinutes)
    ->ArgsProduct({{1, 2, 3}, {0, 1, 2}})
    ->Apply(OneTimedFit);
BENCHMARK_CAPTURE(BM_FeaturelessDiscreteFit, two_scans_hours, Data::TwoScansHours)
    ->ArgsProduct({{1, 2, 3}, {0, 1, 2}})
    ->Apply(OneTimedFit);
// Annealing as the window fits (species 1-3).
BENCHMARK_CAPTURE(BM_FeaturelessDiscreteFit, noisy_window, Data::Noisy, Setup{.window = true})
    ->ArgsProduct({{1, 2, 3}, {2}})
    ->Apply(OneTimedFit);
// A second annealing Fit from where the first ended (species 1-3).
BENCHMARK_CAPTURE(BM_FeaturelessDiscreteFit, noisy_window_second, Data::Noisy, Setup{.window = true, .second = true})
    ->ArgsProduct({{1, 2, 3}, {2}})
    ->Apply(OneTimedFit);
BENCHMARK_CAPTURE(BM_FeaturelessDiscreteFit, flat_window_second, Data::Flat, Setup{.window = true, .second = true})
    ->ArgsProduct({{1, 2, 3}, {2}})
    ->Apply(OneTimedFit);
BENCHMARK_CAPTURE(BM_FeaturelessDiscreteFit, two_scans_hours_window_second, Data::TwoScansHours,
                  Setup{.window = true, .second = true})
    ->ArgsProduct({{1, 2, 3}, {2}})
    ->Apply(OneTimedFit);
// As typed there, the first Fit and a second from its end (species 1-3).
BENCHMARK_CAPTURE(BM_FeaturelessDiscreteFit, two_scans_hours_typed, Data::TwoScansHours,
                  Setup{.window = true, .typed = true})
    ->ArgsProduct({{1, 2, 3}, {2}})
    ->Apply(OneTimedFit);
BENCHMARK_CAPTURE(BM_FeaturelessDiscreteFit, two_scans_hours_typed_second, Data::TwoScansHours,
                  Setup{.window = true, .second = true, .typed = true})
    ->ArgsProduct({{1, 2, 3}, {2}})
    ->Apply(OneTimedFit);
BENCHMARK_CAPTURE(BM_FeaturelessDiscreteFit, noisy_second, Data::Noisy, Setup{.second = true})
    ->ArgsProduct({{1, 2, 3}, {2}})
    ->Apply(OneTimedFit);
BENCHMARK_MAIN();
