// A whole c(s) run: grid (0.5-15 S), one Lamm solution per grid point, the
// normal equations of the TI+RI noise model and maximum entropy at P = 0.68,
// on 50 scans x 500 points and 100 scans x 1000 points, with 1 and 8
// threads, the grid species on the c(s) list's own workers (pool 0) or on
// the Lamm solver's persistent pool (pool 1). Counters give the split: Lamm solutions, normal equations,
// regularised solve (seconds per run). The DLS I(Rh) run (100 grid points,
// 20 sets x 200 lag times, one core; lamm_s is the kernels) and a time
// course of 30 windows of the same sets. The c(M) of equilibrium data:
// its Boltzmann kernels alone (100 grid points, 9 scans x 500 points) and
// the whole run on them.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>

#include "bench_experiment.h"
#include "data/scan_set.h"
#include "distributions/conti_context.h"
#include "distributions/conti_grid.h"
#include "distributions/conti_lamm_list.h"
#include "distributions/conti_lamm_pool.h"
#include "distributions/conti_run.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/dls_time_course.h"
#include "distributions/work_blocks.h"
#include "lamm/lamm_nonideal.h"
#include "lamm/lamm_threads.h"
#include "models/nonideal/mean_field/conti_nonid.h"
#include "models/nonideal/mean_field/mean_field.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/lamm_settings.h"
#include "models/equilibrium_curves/equilibrium_curves.h"
#include "numerics/arrays.h"
#include "platform/automatic_ui.h"
#include "platform/paths.h"
#include "platform/scripted_ui.h"

namespace {

// m scans of r points every 120 s from 300 s: two species, TI and RI
// offsets and noise, on the c(s) grid of 100 points.
void MakeExperiment(int m, int r) {
  bench::MakeTwoSpeciesCsExperiment(m, r, 100, [](int j) { return 300 + 120.0 * (j - 1); });
}

void BM_ContiRun(benchmark::State& state) {
  platform::AutomaticUserInterface ui;
  platform::ScopedUI scope(ui);
  const int resolution = static_cast<int>(state.range(0));
  const int scans = static_cast<int>(state.range(1));
  const int points = static_cast<int>(state.range(2));
  const int threads = static_cast<int>(state.range(3));
  SetLammListSolver(state.range(4) ? SolveContiSpeciesOnLammPool : nullptr);
  LammSettings() = LammSolverSettings{};
  MakeExperiment(scans, points);
  ContiSettings& cs = Conti();
  cs.resolution = static_cast<float>(resolution);
  cs.maxEntropy = 1;
  cs.confidenceLevel = 0.68f;
  cs.multipleThreads = threads > 1;
  cs.normalEquationThreads = threads;
  LammListThreads() = threads;
  gFitEngineState.fitTINoise = 1;
  gModelParams.riNoiseFit = 1;
  PackModelParameters();
  bench::TimeContiRuns(state, [] { LammSettings() = LammSolverSettings{}; });
  gFitEngineState.fitTINoise = 0;
  gModelParams.riNoiseFit = 0;
  SetLammListSolver(nullptr);
  bench::FreeCommonGridScans();
}

// The Run of 100 x 1000 on one thread is the unit of the unattended Run of
// 400 x 1000 (bench_serial_fit, side_by_side.sh row 4): four of these
// against the whole program. On an 8-core virtual machine (AVX-512), least
// of 5 with the two builds taking turns (a load of about 20 on the machine):
//   kernel block in 4 KiB pages:  unattended 2.64 CPU s, 100 172 faults;
//                                 4 x 100 0.355 CPU s, 19.5 faults per Run;
//                                 ratio 7.4
//   kernel block in large pages:  unattended 2.13 CPU s, 55 784 faults;
//                                 4 x 100 0.376 CPU s, 19.5 faults per Run;
//                                 ratio 5.7
// Most faults left are the packed design of the normal equations (182 MB at
// 400 scans, in 4 KiB pages); in large pages what fresh memory costs is the
// system zeroing it (about 0.6 GB/s there), the kernel block's 186 MB too.
BENCHMARK(BM_ContiRun)
    ->ArgNames({"res", "scans", "points", "threads", "pool"})
    ->Args({100, 50, 500, 1, 0})
    ->Args({100, 50, 500, 8, 0})
    ->Args({100, 50, 500, 8, 1})
    ->Args({200, 50, 500, 1, 0})
    ->Args({200, 50, 500, 8, 0})
    ->Args({200, 50, 500, 8, 1})
    ->Args({100, 100, 1000, 1, 0})
    ->Args({100, 100, 1000, 8, 0})
    ->Args({100, 100, 1000, 8, 1})
    ->Args({200, 100, 1000, 1, 0})
    ->Args({200, 100, 1000, 8, 0})
    ->Args({200, 100, 1000, 8, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

// m DLS sets every `interval` s of 200 lag times 1e-7 .. 1 s (log10 on the
// grid) holding g(1) of a 0.3 / 0.7 mixture of 2 and 20 nm with noise 1e-4;
// I(Rh) from 1 to 50 nm on 100 points, second-derivative regularisation.
void MakeDlsSets(int m, double interval) {
  bench::MakeCommonGridScans(m, 200, -7.0f, 0.0f, -7.0f, 0.0f, 0.0f, [=](int j) { return interval * (j - 1); });
  ScanSet& s = CurrentScanSet();
  s.dlsRecords.assign(static_cast<size_t>(m) + 1, DlsHeaderRecord{});
  std::mt19937 gen(5);
  std::normal_distribution<double> noise(0.0, 1e-4);
  const double q2 = 3.50141e14;
  auto d = [](double nm) { return 1.38065e-23 * 293.15 * 1e4 / (6 * M_PI * 0.001002 * nm * 1e-9); };
  for (int j = 1; j <= m; ++j) {
    DlsHeaderRecord& r = s.dlsRecords[static_cast<size_t>(j)];
    r.temperature = 20.0f;
    r.time = s.records[j].time;
    r.refractiveIndex = 1.333f;
    r.viscosity = 0.01002f;
    r.angle = 90.0f;
    r.wavelength = 633e-9f;
    r.points = 200;
    r.fieldFlag = 1;
    for (int i = 1; i <= 200; ++i) {
      const double tau = std::pow(10.0, static_cast<double>(s.grid[i]));
      const double g1 = 0.3 * std::exp(-1e-4 * d(2) * q2 * tau) + 0.7 * std::exp(-1e-4 * d(20) * q2 * tau);
      s.signals[j][i] = s.gridSignals[j][i] = static_cast<float>(g1 + noise(gen));
    }
  }
  CurrentDataTypeFlags().dls = 1;
  gModelParams.meniscus = -7.0f;
  gModelParams.bottom = 0.0f;
  gModelParams.baselineFit = 1;
  gModelParams.riNoiseFit = 0;
  gFitEngineState.fitTINoise = 0;
  PackModelParameters();
  gSolutionConditions.temperature = 293.15f;
  gSolutionConditions.viscosity = 1.0f;
  gModelSelectorFlags = ModelSelectorFlags{};
  gModelSelectorFlags.DistributionModel = 1;
  ContiSettings& cs = Conti();
  cs.sMin = 1.0f;
  cs.sMax = 50.0f;
  cs.resolution = 100;
  cs.logSpacedGrid = cs.gridFromFile = 0;
  cs.maxEntropy = 0;
  cs.confidenceLevel = 0.68f;
  cs.multipleThreads = 0;
  cs.timeCourseWindowMinutes = 1.0f;
  ContiContext().infoMessages = false;
}

void FreeDlsSets() {
  bench::FreeCommonGridScans();
  CurrentScanSet().dlsRecords.clear();
  CurrentDataTypeFlags().dls = 0;
  gModelSelectorFlags = ModelSelectorFlags{};
}

void BM_DlsIRhRun(benchmark::State& state) {
  platform::AutomaticUserInterface ui;
  platform::ScopedUI scope(ui);
  MakeDlsSets(20, 30.0);
  gModelSelectorFlags.DlsIRhModel = 1;
  bench::TimeContiRuns(state, [] {});
  FreeDlsSets();
}
BENCHMARK(BM_DlsIRhRun)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

// 61 sets every 30 s in windows of 1 min: 30 windows of 2 to 4 sets.
void BM_DlsTimeCourse(benchmark::State& state) {
  platform::AutomaticUserInterface ui;
  platform::ScopedUI scope(ui);
  MakeDlsSets(61, 30.0);
  gModelSelectorFlags.DlsIRhTimeCourseModel = 1;
  CurrentScanSet().dataFolder = platform::SystemTempFolder();
  for (auto _ : state) RunContiSedAndShow();
  state.counters["windows"] = Conti().timeCourseWindowCount;
  FreeDlsSets();
}
BENCHMARK(BM_DlsTimeCourse)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);



// 9 equilibrium scans (10000, 15000 and 20000 rpm, three each) of r
// points from 6.9 to 7.2 cm holding 50 kDa at 0.4 OD with noise 0.005;
// c(M) from 10 to 200 kDa on 100 points.
void MakeEquilibriumScans(int r) {
  bench::MakeCommonGridScans(9, r, 6.9f, 7.2f, 6.9f, 7.2f, 10000.0f, [](int j) { return 86400.0 * j; });
  ScanSet& s = CurrentScanSet();
  s.equilibriumMode = 1;
  gModelParams.meniscus = 6.9f;
  gModelParams.bottom = 7.2f;
  PackModelParameters();
  std::mt19937 gen(7);
  std::normal_distribution<float> noise(0.0f, 0.005f);
  for (int j = 1; j <= 9; ++j) {
    s.records[j].rpm = 10000.0f + 5000.0f * ((j - 1) / 3);
    BoltzmannCurve(13573.0, 0.4, EquilibriumSigma(s.records[j].rpm, 20), 6.9, 7.2, s.grid, s.signals[j], r);
    for (int i = 1; i <= r; ++i) s.gridSignals[j][i] = s.signals[j][i] += noise(gen);
  }
  gModelSelectorFlags = ModelSelectorFlags{};
  gModelSelectorFlags.DistributionModel = 1;
  ContiSettings& cs = Conti();
  cs.sMin = 10000.0f;
  cs.sMax = 200000.0f;
  cs.resolution = 100;
  cs.ffValue = 1.2f;
  cs.logSpacedGrid = cs.gridFromFile = 0;
  cs.maxEntropy = 0;
  cs.confidenceLevel = 0.68f;
  ContiContext().infoMessages = false;
  InstallEquilibriumCurveHooks();
}

void FreeEquilibriumScans() {
  FreeDistributionWorkArrays(WorkBlock().gridPoints);
  CurrentScanSet().equilibriumMode = 0;
  bench::FreeCommonGridScans();
  ContiHooks().equilibriumKernels = nullptr;
}

void BM_EquilibriumCofMKernels(benchmark::State& state) {
  const int r = static_cast<int>(state.range(0));
  MakeEquilibriumScans(r);
  AllocDistributionWorkArrays(100, 9, r);
  for (auto _ : state)
    for (int k = 1; k <= 100; ++k) ContiHooks().equilibriumKernels(k, 0.2715 * (10000.0 + 1900.0 * (k - 1)));
  state.counters["exp_per_s"] =
      benchmark::Counter(100.0 * 9 * r * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  FreeEquilibriumScans();
}
BENCHMARK(BM_EquilibriumCofMKernels)->Arg(500)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_EquilibriumCofMRun(benchmark::State& state) {
  platform::AutomaticUserInterface ui;
  platform::ScopedUI scope(ui);
  LammSettings() = LammSolverSettings{};
  MakeEquilibriumScans(500);
  gModelParams.baselineFit = 1;
  PackModelParameters();
  Conti().sMin = 10000.0f;
  Conti().sMax = 200000.0f;
  gModelParameterVector.P[1] = 10000.0f;
  gModelParameterVector.P[5] = 200000.0f;
  gModelParameterVector.P[9] = 100.0f;
  gModelParameterVector.P[2] = 0.68f;
  bench::TimeContiRuns(state, [] {});
  gModelParams.baselineFit = 0;
  FreeEquilibriumScans();
}
BENCHMARK(BM_EquilibriumCofMRun)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();

// The mean field of the nonideal c(s) without its Lamm solutions: the data
// table of 10 scans x 1200 points, and the field of 100 species x 22 frames
// x 100 radii summed and regridded onto 500 solver nodes.
void BM_NonidealMeanFieldPieces(benchmark::State& state) {
  const int scans = 10, points = 1200, species = 100;
  std::vector<double> times(scans + 1);
  std::vector<float> grid(points + 1);
  std::vector<std::vector<float>> signals(scans + 1, std::vector<float>(points + 1));
  std::vector<const float*> rows(scans + 1);
  for (int i = 1; i <= points; ++i) grid[i] = 6.0f + 1.2f * (i - 1) / (points - 1);
  for (int j = 1; j <= scans; ++j) {
    times[j] = 125.0 * j;
    const double rb = 6.0 * std::exp(1.370778e-5 * times[j]);
    for (int i = 1; i <= points; ++i) signals[j][i] = static_cast<float>(0.5 * std::erfc((rb - grid[i]) / 0.01));
    rows[j] = signals[j].data();
  }
  ExtrapolationInput in;
  in.scans = scans;
  in.times = times.data();
  in.signals = rows.data();
  in.grid = grid.data();
  in.first = 1;
  in.last = points;
  in.meniscus = 6.0;
  in.bottom = 7.2;
  in.lammGridPoints = 1000;
  CContiNonid o(500, 100);
  o.BuildFrameTimes(times[scans], nullptr);
  o.AllocProfileStore(species, 6.0, 7.2);
  for (int k = 1; k <= species; ++k)
    for (int f = 1; f <= o.frameCount; ++f)
      for (int i = 1; i <= 100; ++i) o.ProfileStore()[k][f][i] = static_cast<float>(1e-3 * k * f * i);
  std::vector<double> amplitudes(species + 1, 0.01);
  for (auto _ : state) {
    benchmark::DoNotOptimize(o.ExtrapolateFromData(in));
    o.ComputeCtotFromFit(1, species, amplitudes.data(), 6.0, 7.2);
  }
  state.counters["frames"] = o.frameCount;
}
BENCHMARK(BM_NonidealMeanFieldPieces)->Unit(benchmark::kMillisecond)->UseRealTime();

// Whole nonideal c(s) runs (ks = 0.01, kd = 0.005 ml/mg) on 20 scans x 500
// points, 50 grid species on 500 nodes, with the threads given: the first
// "best fit" run and a run that reuses its field, each in units of the
// species batches it ran.
void BM_NonidealRunPerBatch(benchmark::State& state) {
  platform::AutomaticUserInterface ui;
  platform::ScopedUI scope(ui);
  const int threads = static_cast<int>(state.range(0));
  LammSettings() = LammSolverSettings{};
  MakeExperiment(20, 500);
  InstallMeanFieldHooks();
  gModelSelectorFlags = ModelSelectorFlags{};
  gModelSelectorFlags.DistributionModel = 1;
  gModelSelectorFlags.NonidealCSModel = 1;
  gAssociationModelParams.logKs = -2.0f;
  gAssociationModelParams.logKd = -2.3f;
  PackModelParameters();
  ContiSettings& cs = Conti();
  cs.resolution = 50;
  cs.maxEntropy = 0;
  cs.confidenceLevel = 0.68f;
  cs.multipleThreads = threads > 1;
  cs.normalEquationThreads = threads;
  LammListThreads() = threads;
  MeanField() = MeanFieldSettings{};
  double batchSeconds = 0;
  int batches = 0;
  SetNonidealBatchRunner([&](const CLammNonIdeal& p, int n, const double* s, const double* D, const double* vbar) {
    const auto t0 = std::chrono::steady_clock::now();
    LammThreadCount() = threads;
    const ScanSet& sc = CurrentScanSet();
    const int code = CLRunMTList(&p, n, s, D, vbar, WorkBlock().lammSolutions, sc.grid, sc.gridLength, nullptr,
                                 nullptr);
    batchSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ++batches;
    return code;
  });
  // One run: its time over the mean time of its batches, and its batch count.
  auto timed = [&](double& perBatch, double& count) {
    LammSettings() = LammSolverSettings{};
    batchSeconds = 0;
    batches = 0;
    const auto t0 = std::chrono::steady_clock::now();
    RunContiSed();
    const double run = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    perBatch += batches > 0 ? run / (batchSeconds / batches) : 0.0;
    count += batches;
  };
  double first = 0, firstBatches = 0, reuse = 0, reuseBatches = 0;
  for (auto _ : state) {
    DeleteNonidealModel();
    timed(first, firstBatches);
    timed(reuse, reuseBatches);
  }
  const double n = static_cast<double>(state.iterations());
  state.counters["first_run_batches"] = firstBatches / n;
  state.counters["first_run_per_batch"] = first / n;
  state.counters["reuse_run_batches"] = reuseBatches / n;
  state.counters["reuse_run_per_batch"] = reuse / n;
  SetNonidealBatchRunner(nullptr);
  DeleteNonidealModel();
  gModelSelectorFlags = ModelSelectorFlags{};
  bench::FreeCommonGridScans();
}
BENCHMARK(BM_NonidealRunPerBatch)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
