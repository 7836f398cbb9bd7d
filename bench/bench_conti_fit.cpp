// A c(s) fit as the Fit command runs it: resolution 100, meniscus and f/f0
// floated, Nelder-Mead restarts, on 50 scans x 500 points with 8 threads.
// Every evaluation solves 100 Lamm equations, builds the normal equations
// and solves the non-negative least-squares problem. Beside it, the bundled
// example's c(s) fit by annealing as the window runs it (one thread): its
// first Fit and a second Fit from where the first ended.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "bench_experiment.h"
#include "data/load_hooks.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "distributions/conti_context.h"
#include "distributions/conti_fit.h"
#include "distributions/conti_grid.h"
#include "distributions/conti_lamm_list.h"
#include "distributions/conti_run.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/work_blocks.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/fit_end.h"
#include "lamm/lamm_settings.h"
#include "numerics/arrays.h"
#include "numerics/random.h"
#include "platform/paths.h"

namespace {

constexpr int kScans = 50;
constexpr int kPoints = 500;
constexpr int kThreads = 8;
constexpr float kMeniscus = 6.0f, kBottom = 7.2f;

// 50 scans at 50000 rpm every 150 s from 600 s, on a common grid from the
// meniscus to the bottom; data of two species (4 and 7.5 S, f/f0 1.25)
// simulated by the run itself (plateau 3), plus noise 0.005.
void MakeExperiment() {
  bench::MakeCommonGridScans(kScans, kPoints, kMeniscus, kBottom, 6.05f, 7.1f, 50000.0f,
                             [](int j) { return 600 + (j - 1) * 150.0; });
  ScanSet& s = CurrentScanSet();
  gModelParams.meniscus = kMeniscus;
  gModelParams.bottom = kBottom;
  PackModelParameters();
  gSolutionConditions = SolutionConditions{};
  gSolutionConditions.vbar = 0.73f;
  gSolutionConditions.density = 0.99823f;
  gSolutionConditions.vbarRho = 0.73f * 0.99823f;
  ContiSettings& cs = bench::UseCs(100.0f, 1.25f);
  cs.maxEntropy = 0;
  cs.confidenceLevel = 0.68f;
  cs.multipleThreads = 1;
  cs.normalEquationThreads = kThreads;
  LammListThreads() = kThreads;
  ContiContext().infoMessages = false;
  ContiContext().drawingEnabled = false;
  LammSettings() = LammSolverSettings{};

  SetupContiGrid();
  for (int i = 1; i <= cs.gridSize; ++i) cs.distribution[i] = 0.0f;
  const int a = static_cast<int>((4.0f - cs.sMin) / (cs.sMax - cs.sMin) * (cs.gridSize - 1)) + 1;
  const int b = static_cast<int>((7.5f - cs.sMin) / (cs.sMax - cs.sMin) * (cs.gridSize - 1)) + 1;
  cs.distribution[a] = 1.8f;
  cs.distribution[b] = 1.2f;
  cs.synthetic = 1;
  RunContiSed();
  cs.synthetic = 0;
  std::mt19937 gen(1);
  std::normal_distribution<float> noise(0.0f, 0.005f);
  for (int j = 1; j <= kScans; ++j)
    for (int i = 1; i <= kPoints; ++i) s.signals[j][i] = s.gridSignals[j][i] = s.model[j][i] + noise(gen);
}

void Float(float meniscus, float ff0) {
  gModelParams.meniscus = meniscus;
  gModelParams.meniscusFit = 1;
  Conti().ffValue = ff0;
  Conti().fitFfValue = 1;
  PackModelParameters();
  FitEngineState& fs = gFitEngineState;
  fs.meniscusMin = 5.9f;
  fs.meniscusMax = 6.1f;
  fs.useSimplex = 1;
  fs.useMarquardt = fs.useAnnealing = 0;
}

// One evaluation of the objective (Lamm solutions, normal equations, NNLS).
void BM_ContiEvaluation(benchmark::State& state) {
  MakeExperiment();
  Float(6.005f, 1.3f);
  bench::QuietFitHost host;
  SetupContiGrid();
  gFitEngineState.fitRunning = 1;
  gFitEngineState.stopRequested = 0;
  float p[3] = {0.0f, 1.3f, 6.005f};
  double lamm = 0, neq = 0, reg = 0;
  for (auto _ : state) {
    p[2] = 6.005f;
    benchmark::DoNotOptimize(ContiSimplexSim(p, &host));
    const ContiRunTimings& t = LastContiRunTimings();
    lamm += t.lamm;
    neq += t.normalEquations;
    reg += t.regularization;
  }
  gFitEngineState.fitRunning = 0;
  const double n = static_cast<double>(state.iterations());
  state.counters["lamm_ms"] = 1e3 * lamm / n;
  state.counters["neq_ms"] = 1e3 * neq / n;
  state.counters["nnls_ms"] = 1e3 * reg / n;
  state.counters["evaluations_per_s"] = benchmark::Counter(n, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ContiEvaluation)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// The whole Fit command from meniscus 6.010 cm and f/f0 1.40.
void BM_ContiFitSimplex(benchmark::State& state) {
  MakeExperiment();
  bench::QuietFitHost host;
  bench::TimeFitCommand(state, host, [] {
    Float(6.010f, 1.40f);
    SeedGaussRandom(3);
  });
  state.counters["meniscus"] = gModelParams.meniscus;
  state.counters["ff0"] = Conti().ffValue;
  state.counters["rmsd"] = gFitEngineState.currentRmsd;
}
BENCHMARK(BM_ContiFitSimplex)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

// The bundled example (examples/cofs, 36 scans, 2.5, 5 and 8 S with TI and
// RI noise) loaded, c(s) at resolution 100, maximum entropy, the meniscus
// fitted, one thread, by annealing at its defaults (then Levenberg-
// Marquardt); then Fit again from where it ended. As the parameter file
// has it: 0.5-12 S, f/f0 1.3, TI and RI noise, meniscus 6.00-6.04 cm from
// 6.01, fitted over 6.05-7.1 cm, P 0.68. As the window leaves it after a
// load (window): the first and last radii as meniscus and bottom, the fit
// limits and meniscus range the load sets, the c(s) defaults (0.1-20 S,
// f/f0 1.2, P 0.95), no noise fitted; fitFf floats f/f0 too. Counters of
// each Fit: CPU seconds (user and system), the rmsd and meniscus it ended
// at and how it ended (1 reached, 2 a limit, 3 undetermined, 4 not
// reached); the label gives rmsd, meniscus and f/f0 to all their digits.
struct ExampleSetup {
  bool window = false;
  bool fitFf = false;
};
void BM_ExampleAnnealing(benchmark::State& state, ExampleSetup setup) {
  std::vector<std::string> names;
  for (int k = 1; k <= 36; ++k) {
    char file[16];
    std::snprintf(file, sizeof file, "%05d.RA1", k);
    names.push_back(file);
  }
  double cpu[2] = {0, 0}, rmsd[2] = {0, 0}, meniscus[2] = {0, 0}, ff0[2] = {0, 0};
  int end[2] = {0, 0};
  for (auto _ : state) {
    gModelParams = ModelParams{};
    gFitEngineState = FitEngineState{};
    gModelParams.meniscus = setup.window ? 0.0f : 6.01f;
    gModelParams.bottom = setup.window ? 0.0f : 7.2f;
    CurrentScanSet().leftFitLimit = CurrentScanSet().rightFitLimit = 0.0f;
    CurrentLoadTargets().meniscus = &gModelParams.meniscus;
    CurrentLoadTargets().bottom = &gModelParams.bottom;
    // A copy of the scans: the run writes its grid beside them.
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("tarnel_bench_conti_fit." + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    for (const std::string& name : names)
      std::filesystem::copy_file(std::filesystem::path(TARNEL_SOURCE_DIR) / "examples" / "cofs" / name, folder / name,
                                 std::filesystem::copy_options::overwrite_existing);
    if (!LoadAllData(MakeSelection(folder.string(), names))) {
      std::filesystem::remove_all(folder);
      state.SkipWithError("the example did not load");
      return;
    }
    ScanSet& ss = CurrentScanSet();
    if (setup.window) {
      // As the window's load leaves the meniscus range: 0.02 cm below the
      // meniscus, up to just inside the fit range.
      gFitEngineState.meniscusMin = gModelParams.meniscus - 0.02f;
      gFitEngineState.meniscusMax = std::min(gModelParams.meniscus + 0.02f, ss.leftFitLimit - 0.001f);
    }
    if (!setup.window) ss.leftFitLimit = 6.05f;
    if (!setup.window) ss.rightFitLimit = 7.1f;
    for (int j = 1; j <= ss.count && !setup.window; ++j) {
      int first = 1, last = ss.points[j];
      while (ss.radii[j][first] < ss.leftFitLimit) ++first;
      while (ss.radii[j][last] > ss.rightFitLimit) --last;
      ss.firstFitPoint[j] = first;
      ss.lastFitPoint[j] = last;
    }
    if (!setup.window) ss.firstGridPoint = ss.firstFitPoint[1];
    if (!setup.window) ss.lastGridPoint = ss.lastFitPoint[1];
    LammSettings() = LammSolverSettings{};
    gSolutionConditions = SolutionConditions{};
    gSolutionConditions.vbar = 0.73f;
    gSolutionConditions.density = 1.0f;
    gSolutionConditions.vbarRho = 0.73f;
    ContiSettings& cs = bench::UseCs(100.0f, setup.window ? 1.2f : 1.3f);
    cs.sMin = setup.window ? 0.1f : 0.5f;
    cs.sMax = setup.window ? 20.0f : 12.0f;
    cs.maxEntropy = 1;
    cs.confidenceLevel = setup.window ? 0.95f : 0.68f;
    cs.multipleThreads = 0;
    cs.normalEquationThreads = 1;
    cs.fitFfValue = setup.fitFf ? 1 : 0;
    LammListThreads() = 1;
    ContiContext().infoMessages = false;
    ContiContext().drawingEnabled = false;
    FitEngineState& fs = gFitEngineState;
    fs.useAnnealing = 1;
    fs.useSimplex = fs.useMarquardt = 0;
    fs.fitTINoise = setup.window ? 0 : 1;
    if (!setup.window) fs.meniscusMin = 6.0f;
    if (!setup.window) fs.meniscusMax = 6.04f;
    gModelParams.riNoiseFit = setup.window ? 0 : 1;
    gModelParams.meniscusFit = 1;
    PackModelParameters();
    SeedGaussRandom(3);
    bench::QuietFitHost host;
    for (int fit = 0; fit < 2; ++fit) {
      LastFitEnd() = FitEndRecord{};
      const double before = bench::ProcessCpuAndFaults().first;
      ContiFit(&host);
      cpu[fit] = bench::ProcessCpuAndFaults().first - before;
      rmsd[fit] = fs.currentRmsd;
      meniscus[fit] = gModelParams.meniscus;
      ff0[fit] = Conti().ffValue;
      const FitEndKind kind = LastFitEnd().kind;
      end[fit] = kind == FitEndKind::Reached  ? 1
                 : kind == FitEndKind::Limit ? 2
                 : kind == FitEndKind::Undetermined ? 3
                                                    : 4;
    }
    state.SetIterationTime(cpu[0] + cpu[1]);
    FreeDistributionArrays();
    std::filesystem::remove_all(folder);
  }
  const char* which[2] = {"first_", "second_"};
  for (int fit = 0; fit < 2; ++fit) {
    const std::string w = which[fit];
    state.counters[w + "cpu_seconds"] = cpu[fit];
    state.counters[w + "rmsd"] = rmsd[fit];
    state.counters[w + "meniscus"] = meniscus[fit];
    state.counters[w + "fit_end"] = end[fit];
  }
  char label[160];
  std::snprintf(label, sizeof label, "first rmsd=%.9g meniscus=%.9g ff0=%.9g, second rmsd=%.9g meniscus=%.9g ff0=%.9g",
                rmsd[0], meniscus[0], ff0[0], rmsd[1], meniscus[1], ff0[1]);
  state.SetLabel(label);
}

// Each fit once, in seconds of its own CPU time.
void OneTimedFit(benchmark::internal::Benchmark* b) { b->Unit(benchmark::kSecond)->Iterations(1)->UseManualTime(); }

BENCHMARK_CAPTURE(BM_ExampleAnnealing, parameter_file, ExampleSetup{})
    ->Apply(OneTimedFit);
BENCHMARK_CAPTURE(BM_ExampleAnnealing, window, ExampleSetup{.window = true})
    ->Apply(OneTimedFit);
BENCHMARK_CAPTURE(BM_ExampleAnnealing, window_fit_ff, ExampleSetup{.window = true, .fitFf = true})
    ->Apply(OneTimedFit);
BENCHMARK_CAPTURE(BM_ExampleAnnealing, parameter_file_fit_ff, ExampleSetup{.fitFf = true})
    ->Apply(OneTimedFit);

}  // namespace

BENCHMARK_MAIN();
