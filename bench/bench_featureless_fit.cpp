// An unattended c(s) fit on featureless scans: the bundled example's 36
// scans with every signal replaced by 0.5 + noise of 0.01, f/f0, meniscus
// (5.8 to 6.04 cm), bottom (7.11 to 7.6 cm) and baseline floated, one
// computation thread, by Levenberg-Marquardt and by the simplex; the first
// two scans alone (600 and 900 s) with f/f0 and the meniscus floated; the
// same floated quantities on scans of every value 0.5 (flat), of noise
// alone, and on the first and the last scan alone (600 and 11100 s); and,
// beside them, the example's own fit (its scans and parameter file, one
// thread). Nothing in featureless data settles f/f0: the fit must end by
// itself. Wall seconds of the whole run (loading, Run, noise, Fit, results
// and the two pauses of 1 s of an unattended run), its CPU seconds
// (cpu_seconds: user and system, one computation thread), how the fit ended
// (FitEnd of ResultParameters.xml: 1 reached, 2 a limit, 3 undetermined,
// 4 not reached) and whether it said which quantities the data leave
// undetermined. An unattended run knows no annealing: its variants fit in
// this process, on scans the size of the example's (36 scans of 390 radii,
// 6.0-7.2 cm, fitted 6.05-7.1 cm, 50000 rpm from 600 s, 300 s apart, or two
// scans 3 hours apart), every value 0.5 plus noise of 0.01, TI and RI
// noise, f/f0, meniscus and bottom floated, by annealing at its defaults
// (then Levenberg-Marquardt), one thread: CPU seconds of the fit, its
// evaluations and how it ended.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "bench_child_run.h"
#include "bench_experiment.h"
#include "distributions/conti_context.h"
#include "distributions/conti_fit.h"
#include "distributions/conti_lamm_list.h"
#include "distributions/conti_settings.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/fit_end.h"
#include "lamm/lamm_settings.h"
#include "numerics/random.h"

namespace {

namespace fs = std::filesystem;

fs::path Root() { return fs::temp_directory_path() / "tarnel_bench_featureless"; }

enum class Variant { Featureless, TwoScans, Example, Flat, Noise, HoursApart };

std::string SetName(const std::string& method, Variant v) {
  switch (v) {
    case Variant::TwoScans: return method + "_two_scans";
    case Variant::Example: return method + "_example";
    case Variant::Flat: return method + "_flat";
    case Variant::Noise: return method + "_noise";
    case Variant::HoursApart: return method + "_hours_apart";
    default: return method;
  }
}

// The scans once, the parameter file per method.
void MakeSet(const std::string& method, Variant variant) {
  const fs::path example = fs::path(TARNEL_SOURCE_DIR) / "examples" / "cofs";
  const fs::path set = Root() / SetName(method, variant);
  fs::remove_all(set);
  fs::create_directories(set / "data");
  std::mt19937 random(7);
  std::normal_distribution<double> noise(0.0, 0.01);
  for (const auto& e : fs::directory_iterator(example)) {
    if (e.path().extension() != ".RA1") continue;
    std::istringstream in(ReadAll(e.path()));
    std::ofstream out(set / "data" / e.path().filename(), std::ios::binary);
    std::string line;
    for (int row = 1; std::getline(in, line); ++row) {
      if (row <= 2) {
        out << line << "\n";
        continue;
      }
      if (variant == Variant::Example) {
        out << line << "\n";
        continue;
      }
      double r = 0, v = 0, third = 0;
      if (!(std::istringstream(line) >> r >> v >> third)) continue;
      char text[96];
      const double value = variant == Variant::Flat ? 0.5 : variant == Variant::Noise ? noise(random) : 0.5 + noise(random);
      std::snprintf(text, sizeof text, "   %.4f  %.5e   %.5e \n", r, value, third);
      out << text;
    }
  }
  std::string p = ReadAll(example / "params.xml");
  Replace(p, "<NumberComputationThreads>2", "<NumberComputationThreads>1");
  if (variant == Variant::Example) {
    std::ofstream(set / "params.xml") << p;
    return;
  }
  if (variant == Variant::TwoScans) {
    Replace(p, "<LastScan>36", "<LastScan>2");
    Replace(p, "<FrictionalRatioFitted>FALSE", "<FrictionalRatioFitted>TRUE");
    Replace(p, "<FittingAlgorithm>Simplex", "<FittingAlgorithm>" + method);
    std::ofstream(set / "params.xml") << p;
    return;
  }
  Replace(p, "<MeniscusLowerLimit>6.00", "<MeniscusLowerLimit>5.8");
  Replace(p, "<BottomLowerLimit>7.18", "<BottomLowerLimit>7.11");
  Replace(p, "<BottomUpperLimit>7.25", "<BottomUpperLimit>7.6");
  Replace(p, "<BottomFitted>FALSE", "<BottomFitted>TRUE");
  Replace(p, "<FrictionalRatioFitted>FALSE", "<FrictionalRatioFitted>TRUE");
  Replace(p, "<BaselineFitted>FALSE", "<BaselineFitted>TRUE");
  Replace(p, "<FittingAlgorithm>Simplex", "<FittingAlgorithm>" + method);
  if (variant == Variant::HoursApart) Replace(p, "<ScanInterval>1", "<ScanInterval>35");
  std::ofstream(set / "params.xml") << p;
}

double ChildrenCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         1e-6 * static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

void BM_FeaturelessFit(benchmark::State& state, const std::string& method, Variant variant) {
  MakeSet(method, variant);
  const std::string folder = (Root() / SetName(method, variant)).string();
  const std::string home = (Root() / "home").string();
  fs::create_directories(home);
  double seconds = 0, cpu = 0;
  for (auto _ : state) {
    const double cpuBefore = ChildrenCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = StartUnattendedRun(folder, home);
    int status = 0;
    waitpid(pid, &status, 0);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cpu = ChildrenCpuSeconds() - cpuBefore;
    state.SetIterationTime(seconds);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("the run did not end with status 0");
  }
  const std::string log = ReadAll(Root() / SetName(method, variant) / "automation.log");
  const std::string result = ReadAll(Root() / SetName(method, variant) / "ResultParameters.xml");
  const char* ends[] = {"<FitEnd>reached", "<FitEnd>limit", "<FitEnd>undetermined", "<FitEnd>not reached"};
  int end = 0;
  for (int k = 0; k < 4; ++k)
    if (result.find(ends[k]) != std::string::npos) end = k + 1;
  state.counters["fit_end"] = end;
  state.counters["seconds"] = seconds;
  state.counters["cpu_seconds"] = cpu;
  state.counters["said_undetermined"] = log.find("the data do not determine") != std::string::npos ? 1 : 0;
}

// Featureless scans in this process, fitted by annealing.
void BM_FeaturelessAnnealing(benchmark::State& state, bool hoursApart) {
  double cpu = 0.0;
  int end = 0, evaluations = 0;
  for (auto _ : state) {
    const double apart = hoursApart ? 10200.0 : 300.0;
    bench::MakeCommonGridScans(hoursApart ? 2 : 36, 390, 6.0f, 7.2f, 6.05f, 7.1f, 50000.0f,
                               [apart](int j) { return 600.0 + apart * (j - 1); });
    ScanSet& ss = CurrentScanSet();
    std::mt19937 engine(7);
    std::normal_distribution<float> noise(0.0f, 0.01f);
    for (int j = 1; j <= ss.count; ++j)
      for (int i = 1; i <= ss.points[j]; ++i) ss.signals[j][i] = ss.gridSignals[j][i] = 0.5f + noise(engine);
    LammSettings() = LammSolverSettings{};
    gSolutionConditions = SolutionConditions{};
    gSolutionConditions.vbar = 0.73f;
    gSolutionConditions.density = 0.99823f;
    gSolutionConditions.vbarRho = 0.73f * 0.99823f;
    gSolutionConditions.temperature = 293.15f;
    ContiSettings& cs = bench::UseCs(100.0f, 1.3f);
    cs.maxEntropy = 1;
    cs.confidenceLevel = 0.68f;
    cs.multipleThreads = 0;
    cs.normalEquationThreads = 1;
    cs.fitFfValue = 1;
    LammListThreads() = 1;
    ContiContext().infoMessages = false;
    ContiContext().drawingEnabled = false;
    gFitEngineState = FitEngineState{};
    FitEngineState& fs = gFitEngineState;
    fs.useAnnealing = 1;
    fs.useSimplex = fs.useMarquardt = 0;
    fs.fitTINoise = 1;
    fs.meniscusMin = 5.8f;
    fs.meniscusMax = 6.04f;
    fs.bottomMin = 7.11f;
    fs.bottomMax = 7.6f;
    gModelParams.riNoiseFit = 1;
    gModelParams.meniscus = 6.0f;
    gModelParams.meniscusFit = 1;
    gModelParams.bottom = 7.2f;
    gModelParams.bottomFit = 1;
    PackModelParameters();
    SeedGaussRandom(3);
    bench::QuietFitHost host;
    LastFitEnd() = FitEndRecord{};
    const double before = bench::ProcessCpuAndFaults().first;
    ContiFit(&host);
    cpu = bench::ProcessCpuAndFaults().first - before;
    evaluations = fs.evaluationsTotal;
    const FitEndKind kind = LastFitEnd().kind;
    end = kind == FitEndKind::Reached ? 1 : kind == FitEndKind::Limit ? 2 : kind == FitEndKind::Undetermined ? 3 : 4;
    state.SetIterationTime(cpu);
    bench::FreeCommonGridScans();
  }
  state.counters["cpu_seconds"] = cpu;
  state.counters["evaluations"] = evaluations;
  state.counters["fit_end"] = end;
}

}  // namespace

BENCHMARK_CAPTURE(BM_FeaturelessAnnealing, annealing, false)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_FeaturelessAnnealing, hours_apart_annealing, true)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_FeaturelessFit, marquardt, std::string("Levenberg-Marquardt"), Variant::Featureless)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_FeaturelessFit, simplex, std::string("Simplex"), Variant::Featureless)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_FeaturelessFit, two_scans_marquardt, std::string("Levenberg-Marquardt"), Variant::TwoScans)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_FeaturelessFit, two_scans_simplex, std::string("Simplex"), Variant::TwoScans)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_FeaturelessFit, flat_marquardt, std::string("Levenberg-Marquardt"), Variant::Flat)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_FeaturelessFit, flat_simplex, std::string("Simplex"), Variant::Flat)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_FeaturelessFit, noise_marquardt, std::string("Levenberg-Marquardt"), Variant::Noise)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_FeaturelessFit, noise_simplex, std::string("Simplex"), Variant::Noise)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_FeaturelessFit, hours_apart_marquardt, std::string("Levenberg-Marquardt"), Variant::HoursApart)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseManualTime();
BENCHMARK_CAPTURE(BM_FeaturelessFit, hours_apart_simplex, std::string("Simplex"), Variant::HoursApart)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseManualTime();
// The example's fit starts from a simplex drawn from the clock: one run is
// one draw among many (0.4-1.0 s CPU). bench_example_fit measures it start
// for start over fixed seeds.
BENCHMARK_CAPTURE(BM_FeaturelessFit, example_simplex, std::string("Simplex"), Variant::Example)
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseManualTime();
BENCHMARK_MAIN();
