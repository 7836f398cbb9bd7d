// A long experiment at low speed, approaching sedimentation equilibrium:
// 20 scans at 10000 rpm evenly spaced from 3500 s to 84700 s, 250 points
// each on a 6.86-7.14 cm column; data of one species (loading 1.0, 4.5 S,
// f/f0 1.3) simulated by the program's own solver, plus noise 0.004.
// Measured: one species alone (steps, nodes), the species list of a c(s)
// run (100 points from 0.1 to 10 S), the whole run with TI and RI noise and
// a Simplex fit of meniscus and f/f0 from a start (meniscus in 1e-3 cm, f/f0
// in 1e-2: the arguments).
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_experiment.h"
#include "data/rotor_speed_profile.h"
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
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_settings.h"
#include "numerics/arrays.h"
#include "numerics/random.h"
#include "platform/automatic_ui.h"
#include "platform/paths.h"
#include "platform/scripted_ui.h"

namespace {

constexpr int kScans = 20, kPoints = 250, kThreads = 8;
constexpr float kMeniscus = 6.86f, kBottom = 7.14f, kRpm = 10000;

double ScanTimeOf(int j) { return 3500.0 + (84700.0 - 3500.0) * (j - 1) / (kScans - 1); }

// One 4.5 S species simulated into the scans already laid out, with the
// c(s) settings both experiments fit with.
void SimulateOneSpecies() {
  gModelParams.meniscusFit = 0;
  gSolutionConditions = SolutionConditions{};
  gSolutionConditions.vbar = 0.73f;
  gSolutionConditions.density = 0.99823f;
  gSolutionConditions.vbarRho = 0.73f * 0.99823f;
  gModelSelectorFlags = ModelSelectorFlags{};
  gModelSelectorFlags.DistributionModel = 1;
  gModelSelectorFlags.CSModel = 1;
  ContiSettings& cs = Conti();
  cs.sMin = 0.1f;
  cs.sMax = 10.0f;
  cs.resolution = 100.0f;
  cs.ffValue = 1.3f;
  cs.fitFfValue = 0;
  cs.logSpacedGrid = cs.gridFromFile = 0;
  cs.maxEntropy = 1;
  cs.confidenceLevel = 0.68f;
  cs.multipleThreads = 1;
  cs.normalEquationThreads = kThreads;
  LammListThreads() = kThreads;
  ContiContext().infoMessages = false;
  ContiContext().drawingEnabled = false;
  LammSettings() = LammSolverSettings{};
  gFitEngineState.fitTINoise = 0;
  gModelParams.riNoiseFit = 0;
  PackModelParameters();
  SetupContiGrid();
  for (int i = 1; i <= cs.gridSize; ++i) cs.distribution[i] = 0.0f;
  cs.distribution[45] = 1.0f;  // grid point 45 of 0.1, 0.2, ... is 4.5 S
  cs.synthetic = 1;
  RunContiSed();
  cs.synthetic = 0;
}

void MakeExperiment() {
  bench::MakeCommonGridScans(kScans, kPoints, kMeniscus, kBottom, 6.87f, 7.13f, kRpm, ScanTimeOf);
  ScanSet& s = CurrentScanSet();
  gModelParams.meniscus = kMeniscus;
  gModelParams.bottom = kBottom;
  SimulateOneSpecies();
  std::mt19937 gen(11);
  std::normal_distribution<float> noise(0.0f, 0.004f);
  for (int j = 1; j <= kScans; ++j)
    for (int i = 1; i <= kPoints; ++i)
      s.signals[j][i] = s.gridSignals[j][i] = s.model[j][i] + noise(gen);
  gFitEngineState.fitTINoise = 1;
  gModelParams.riNoiseFit = 1;
  PackModelParameters();
}

// The 4.5 S species alone on its own solver at the default settings.
void BM_LowSpeedSpecies(benchmark::State& state) {
  std::vector<ScanRecord> records(kScans + 1);
  std::vector<float> grid(kPoints + 1);
  std::vector<std::vector<float>> out(kScans + 1, std::vector<float>(kPoints + 1));
  std::vector<float*> ptr(kScans + 1, nullptr);
  for (int j = 1; j <= kScans; ++j) {
    records[j].rpm = kRpm;
    records[j].temperature = 20;
    records[j].time = records[j].timeRead = ScanTimeOf(j);
    ptr[j] = out[j].data();
  }
  for (int i = 1; i <= kPoints; ++i) grid[i] = kMeniscus + (kBottom - kMeniscus) * (i - 0.5f) / kPoints;
  const double s = state.range(0) / 10.0;
  const LammSolverSettings st;
  double nodes = 0, steps = 0;
  for (auto _ : state) {
    CLammIdeal L;
    L.MarkLoaded();
    L.SetOutputParameters(s, 6e-7 * std::sqrt(4.5 / s), kMeniscus, kBottom, 1.0, 6.87f, 7.13f);
    L.SetScanTimes({.records = records.data(), .output = ptr.data(), .grid = grid.data(),
                    .gridLength = kPoints, .scanCount = kScans, .absorbanceData = true});
    SetModelOptionsFromSettings(L, st, st.workingMaxDcOverC, st.gridSize.setting);
    L.SetSolventAndComputeFrictionalRatio(20, 0.73, 0.99823, 1.0);
    benchmark::DoNotOptimize(L.CheckAndRun());
    nodes = L.NodeCount();
    steps = L.AcceptedSteps();
  }
  state.counters["N"] = nodes;
  state.counters["steps"] = steps;
  state.counters["ns_per_node_step"] = benchmark::Counter(
      nodes * steps * static_cast<double>(state.iterations()) * 1e-9,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_LowSpeedSpecies)->ArgName("s_x10")->Arg(1)->Arg(10)->Arg(30)->Arg(45)->Arg(100)->Unit(benchmark::kMillisecond);

// The c(s) run as the Run command does it, on 1 and 8 threads.
void BM_LowSpeedRun(benchmark::State& state) {
  platform::AutomaticUserInterface ui;
  platform::ScopedUI scope(ui);
  MakeExperiment();
  const int threads = static_cast<int>(state.range(0));
  Conti().multipleThreads = threads > 1;
  Conti().normalEquationThreads = threads;
  LammListThreads() = threads;
  bench::RunSplit split;
  for (auto _ : state) {
    RunContiSed();
    split.Add();
  }
  split.Report(state);
  LammListThreads() = kThreads;
}
BENCHMARK(BM_LowSpeedRun)->ArgName("threads")->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

// One evaluation of the fit's objective (Lamm solutions, normal equations,
// NNLS) at meniscus 6.865 cm and f/f0 1.40.
void BM_LowSpeedFitEvaluation(benchmark::State& state) {
  platform::AutomaticUserInterface ui;
  platform::ScopedUI scope(ui);
  MakeExperiment();
  bench::QuietFitHost host;
  gModelParams.meniscus = 6.865f;
  gModelParams.meniscusFit = 1;
  Conti().ffValue = 1.40f;
  Conti().fitFfValue = 1;
  PackModelParameters();
  SetupContiGrid();
  gFitEngineState.fitRunning = 1;
  gFitEngineState.stopRequested = 0;
  float p[3] = {0.0f, 1.40f, 6.865f};
  bench::RunSplit split;
  for (auto _ : state) {
    p[1] = 1.40f;
    p[2] = 6.865f;
    benchmark::DoNotOptimize(ContiSimplexSim(p, &host));
    split.Add();
  }
  gFitEngineState.fitRunning = 0;
  gModelParams.meniscusFit = 0;
  Conti().fitFfValue = 0;
  split.Report(state);
}
BENCHMARK(BM_LowSpeedFitEvaluation)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1.0);

// The Fit command with meniscus and f/f0 floated (Simplex, default settings).
void BM_LowSpeedFitMeniscusFf0(benchmark::State& state) {
  platform::AutomaticUserInterface ui;
  platform::ScopedUI scope(ui);
  MakeExperiment();
  bench::QuietFitHost host;
  bench::TimeFitCommand(state, host, [&] {
    gModelParams.meniscus = state.range(0) * 1e-3f;
    gModelParams.meniscusFit = 1;
    Conti().ffValue = state.range(1) * 1e-2f;
    Conti().fitFfValue = 1;
    PackModelParameters();
    FitEngineState& fs = gFitEngineState;
    fs.meniscusMin = 6.80f;
    fs.meniscusMax = 6.869f;  // below the left fit limit
    fs.useSimplex = 1;
    fs.useMarquardt = fs.useAnnealing = 0;
    SeedGaussRandom(3);
  });
  state.counters["meniscus"] = gModelParams.meniscus;
  state.counters["ff0"] = Conti().ffValue;
  state.counters["rmsd"] = gFitEngineState.currentRmsd;
}
BENCHMARK(BM_LowSpeedFitMeniscusFf0)
    ->ArgNames({"meniscus_mcm", "ff0_x100"})
    ->Args({6865, 140})
    ->Args({6850, 160})
    ->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

// The unattended fit of meniscus and f/f0 with TI and RI noise on a
// low-speed set like a measured one: 20 scans at 10000 rpm over 23.5 h after
// a run at 3000 rpm (speed steps: 3000 rpm from the start, 10000 rpm from
// 1800 s, 200 rpm/s), a short column (6.850 to 7.140 cm), fit limits 6.87
// and 0.015 cm short of the bottom; one species of 4.5 S at f/f0 1.3 with
// TI and RI noise and white noise 0.004. Its meniscus, 6.850 cm, lies below
// the limits 6.855-6.868 the fit may use (argument 1), so the best meniscus
// is the lower limit; argument 0 gives limits 6.80-6.869 that hold it.
// The fit starts from meniscus 6.860 cm and f/f0 ff0_x100 / 100. Ends, and
// prints its time and evaluations (Simplex: marquardt 0, Marquardt-
// Levenberg: 1).
constexpr float kStepMeniscus = 6.850f;

double SteppedScanTimeOf(int j) { return 2400.0 + (84600.0 - 2400.0) * (j - 1) / (kScans - 1); }

void MakeSteppedExperiment() {
  auto profile = std::make_unique<CRotorSpeedProfile>();
  const float t[] = {0.0f, 0.0f, 1800.0f}, v[] = {0.0f, 3000.0f, kRpm}, a[] = {0.0f, 200.0f, 200.0f};
  profile->SetSteps(2, t, v, a);
  CurrentSpeedProfile.Replace(std::move(profile));
  bench::MakeCommonGridScans(kScans, kPoints, kStepMeniscus, kBottom, 6.87f, kBottom - 0.015f, kRpm,
                             SteppedScanTimeOf);
  ScanSet& s = CurrentScanSet();
  gModelParams.meniscus = kStepMeniscus;
  gModelParams.bottom = kBottom;
  SimulateOneSpecies();
  std::mt19937 gen(23);
  std::normal_distribution<float> noise(0.0f, 0.004f), offset(0.0f, 0.01f);
  for (int j = 1; j <= kScans; ++j) {
    const float ri = offset(gen);
    for (int i = 1; i <= kPoints; ++i) {
      const float ti = 0.01f * std::sin(37.0f * s.grid[i]);
      s.signals[j][i] = s.gridSignals[j][i] = s.model[j][i] + ti + ri + noise(gen);
    }
  }
  gFitEngineState.fitTINoise = 1;
  gModelParams.riNoiseFit = 1;
  PackModelParameters();
}

void BM_LowSpeedFitMeniscusAtLimit(benchmark::State& state) {
  platform::AutomaticUserInterface ui;
  platform::ScopedUI scope(ui);
  MakeSteppedExperiment();
  bench::QuietFitHost host;
  const bool marquardt = state.range(0) != 0, pinned = state.range(1) != 0;
  bench::TimeFitCommand(state, host, [&] {
    gModelParams.meniscus = 6.860f;
    gModelParams.meniscusFit = 1;
    Conti().ffValue = state.range(2) * 1e-2f;
    Conti().fitFfValue = 1;
    PackModelParameters();
    FitEngineState& fs = gFitEngineState;
    fs.meniscusMin = pinned ? 6.855f : 6.80f;
    fs.meniscusMax = pinned ? 6.868f : 6.869f;
    fs.useSimplex = marquardt ? 0 : 1;
    fs.useMarquardt = marquardt ? 1 : 0;
    fs.useAnnealing = 0;
    SeedGaussRandom(3);
  });
  state.counters["meniscus"] = gModelParams.meniscus;
  state.counters["ff0"] = Conti().ffValue;
  state.counters["rmsd"] = gFitEngineState.currentRmsd;
  CurrentSpeedProfile.Clear();
}
BENCHMARK(BM_LowSpeedFitMeniscusAtLimit)
    ->ArgNames({"marquardt", "pinned", "ff0_x100"})
    ->Args({0, 1, 140})
    ->Args({1, 1, 140})
    ->Args({0, 1, 200})
    ->Args({1, 1, 200})
    ->Args({0, 0, 140})
    ->Args({1, 0, 140})
    ->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
