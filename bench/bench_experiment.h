#pragma once
// What the c(s) benchmarks share: a scan set on a common radial grid, a
// fit host that shows nothing, the split of runs and the Fit command timed.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <initializer_list>
#include <random>
#include <string>
#include <utility>

#include "data/scan_set.h"
#include "distributions/conti_context.h"
#include "distributions/conti_fit.h"
#include "distributions/conti_fit_display.h"
#include "distributions/conti_grid.h"
#include "distributions/conti_run.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "numerics/arrays.h"
#include "platform/paths.h"

namespace bench {

// The current scan set replaced by one scan of `points` radii x_k = 6.0 +
// 1.2 k / points cm (k = 1..points) with signal(x_k), called in that order;
// fitted over the whole cell, meniscus 6.0 and bottom 7.2 cm.
template <class Signal>
void LoadSingleScan(int points, Signal signal) {
  ScanSet& ss = CurrentScanSet();
  FreeScanSetArrays(ss);
  AllocateScanTables(ss, 1);
  ss.radii[1] = vector(1, points);
  ss.signals[1] = vector(1, points);
  ss.model[1] = vector(1, points);
  for (int k = 1; k <= points; ++k) {
    const float x = 6.0f + 1.2f * k / points;
    ss.radii[1][k] = x;
    ss.signals[1][k] = signal(x);
  }
  ss.points[1] = points;
  ss.order[1] = 1;
  ss.firstFitPoint[1] = 1;
  ss.lastFitPoint[1] = points;
  ss.fileNames[1] = "bench.ra1";
  ss.leftFitLimit = 6.0f;
  ss.rightFitLimit = 7.2f;
  gModelParams.meniscus = 6.0f;
  gModelParams.bottom = 7.2f;
}

// The parameter vector cleared to meniscus 6.0 and bottom 7.2 cm, then
// P[k] = v for each {k, v} of `values` and the parameters `fitted` floated.
inline void StartParameters(std::initializer_list<std::pair<int, float>> values, std::initializer_list<int> fitted) {
  gModelParameterVector = ModelParameterVector{};
  gModelParameterVector.P[13] = 6.0f;
  gModelParameterVector.P[14] = 7.2f;
  for (const auto& [k, v] : values) gModelParameterVector.P[k] = v;
  for (int k : fitted) gModelParameterVector.F[k] = 1;
}

// A fit host that shows no box and sounds no error.
class SilentFitHost : public FitHost {
 public:
  void MessageBox(const std::string&, const std::string&, platform::BoxIcon) override {}
  void ErrorBox(const std::string&) override {}
  void PlaySoundError() override {}
};

// A fit host whose model of scan 1 is Model{}(P, radius), and which counts
// its evaluations and shows nothing.
template <class Model>
class ScanModelHost : public SilentFitHost {
 public:
  long evaluations = 0;
  void SimulateModel() override {
    ScanSet& ss = CurrentScanSet();
    const float* P = gModelParameterVector.P;
    ++evaluations;
    for (int k = 1; k <= ss.points[1]; ++k) ss.model[1][k] = Model{}(P, ss.radii[1][k]);
  }
};

class QuietFitHost : public SilentFitHost {
 public:
  void SimulateModel() override {}
  void ShowBestContiVertex(float* vertex) override { ::ShowBestContiVertex(this, vertex); }
  bool DrawingEnabled() const override { return false; }
};

// The current scan set replaced by m scans at rpm, scan j taken at
// time(j) s, each of r points at the centres of r equal cells from `from`
// to `to` (cm), all arrays zero, fit limits [left, right] (cm).
template <class ScanTime>
void MakeCommonGridScans(int m, int r, float from, float to, float left, float right, float rpm,
                         ScanTime time) {
  ScanSet& s = CurrentScanSet();
  FreeScanGridArrays(s);
  FreeScanSetArrays(s);
  AllocateScanTables(s, m);
  s.dataFolder = platform::SystemTempFolder();
  s.fileNames[1] = "bench.ra1";
  s.gridOwned = 1;
  s.gridLength = r;
  s.grid = vector(1, r);
  for (int i = 1; i <= r; ++i) s.grid[i] = from + (to - from) * (i - 0.5f) / r;
  s.leftFitLimit = left;
  s.rightFitLimit = right;
  s.firstGridPoint = 1;
  while (s.grid[s.firstGridPoint] < s.leftFitLimit) ++s.firstGridPoint;
  s.lastGridPoint = r;
  while (s.grid[s.lastGridPoint] > s.rightFitLimit) --s.lastGridPoint;
  const double w = 2 * 3.141592653589793 * rpm / 60;
  for (int j = 1; j <= m; ++j) {
    ScanRecord& rec = s.records[j];
    rec.rpm = rpm;
    rec.temperature = 20;
    rec.time = rec.timeRead = time(j);
    rec.w2t = w * w * rec.time;
    rec.points = r;
    s.points[j] = r;
    s.order[j] = j;
    s.firstFitPoint[j] = s.firstGridPoint;
    s.lastFitPoint[j] = s.lastGridPoint;
    for (auto* a : {&s.radii, &s.signals, &s.model, &s.residuals, &s.gridSignals, &s.gridModel}) {
      (*a)[j] = vector(1, r);
      for (int i = 1; i <= r; ++i) (*a)[j][i] = 0.0f;
    }
    for (int i = 1; i <= r; ++i) s.radii[j][i] = s.grid[i];
  }
}

// The plain c(s) model, its grid from 0.5 to 15 S with `resolution` points
// at f/f0 `ff0`.
inline ContiSettings& UseCs(float resolution, float ff0) {
  gModelSelectorFlags = ModelSelectorFlags{};
  gModelSelectorFlags.DistributionModel = 1;
  gModelSelectorFlags.CSModel = 1;
  ContiSettings& cs = Conti();
  cs.sMin = 0.5f;
  cs.sMax = 15.0f;
  cs.resolution = resolution;
  cs.ffValue = ff0;
  return cs;
}

// On the m scans of r points and the c(s) settings in place: the data of two
// species (3 and 8 S, 0.6 and 0.3) by the run's own synthetic path, plus TI
// and RI offsets and noise 0.005.
inline void SimulateTwoSpeciesWithTiRiNoise(int m, int r) {
  ScanSet& s = CurrentScanSet();
  ContiSettings& cs = Conti();
  SetupContiGrid();
  const int n = cs.gridSize;
  for (int i = 1; i <= n; ++i) cs.distribution[i] = 0.0f;
  cs.distribution[n * 3 / 15] = 0.6f;
  cs.distribution[n * 8 / 15] = 0.3f;
  cs.synthetic = 1;
  RunContiSed();
  cs.synthetic = 0;
  std::mt19937 gen(3);
  std::normal_distribution<float> g(0.0f, 0.005f);
  for (int j = 1; j <= m; ++j)
    for (int i = 1; i <= r; ++i)
      s.signals[j][i] = s.gridSignals[j][i] =
          s.model[j][i] + 0.02f * std::sin(0.01f * i) + 0.01f * j + g(gen);
}

// m scans of r points in the cell 6.0-7.2 cm at 50000 rpm, scan j at
// time(j) s, fitted over 6.05-7.1 cm without noise terms; the plain c(s)
// on a linear grid at `resolution` and f/f0 1.2, and the data of
// SimulateTwoSpeciesWithTiRiNoise.
template <class ScanTime>
void MakeTwoSpeciesCsExperiment(int m, int r, float resolution, ScanTime time) {
  MakeCommonGridScans(m, r, 6.0f, 7.2f, 6.05f, 7.1f, 50000.0f, time);
  gModelParams.meniscus = 6.0f;
  gModelParams.bottom = 7.2f;
  gFitEngineState.fitTINoise = 0;
  gModelParams.riNoiseFit = 0;
  PackModelParameters();
  ContiSettings& cs = UseCs(resolution, 1.2f);
  cs.logSpacedGrid = cs.gridFromFile = 0;
  ContiContext().infoMessages = false;
  SimulateTwoSpeciesWithTiRiNoise(m, r);
}

// The distribution arrays and the scans of MakeCommonGridScans released.
inline void FreeCommonGridScans() {
  FreeDistributionArrays();
  ScanSet& s = CurrentScanSet();
  FreeScanGridArrays(s);
  FreeScanSetArrays(s);
}

// A counter of `total` per benchmark iteration.
inline benchmark::Counter PerIteration(const benchmark::State& state, double total) {
  return benchmark::Counter(total / static_cast<double>(state.iterations()));
}

// The process's CPU seconds (every thread) and minor page faults so far.
inline std::pair<double, double> ProcessCpuAndFaults() {
  rusage use{};
  getrusage(RUSAGE_SELF, &use);
  return {use.ru_utime.tv_sec + use.ru_stime.tv_sec + 1e-6 * (use.ru_utime.tv_usec + use.ru_stime.tv_usec),
          static_cast<double>(use.ru_minflt)};
}

// The split of the runs added (Lamm solutions, normal equations,
// regularised solve, whole run), reported per run in seconds, with the CPU
// seconds of all threads and the page faults per run.
class RunSplit {
 public:
  void Start() { start_ = ProcessCpuAndFaults(); }
  void Add() {
    const ContiRunTimings& t = LastContiRunTimings();
    sum_.lamm += t.lamm;
    sum_.normalEquations += t.normalEquations;
    sum_.regularization += t.regularization;
    sum_.total += t.total;
    const auto now = ProcessCpuAndFaults();
    cpu_ += now.first - start_.first;
    faults_ += now.second - start_.second;
    ++runs_;
  }
  void Report(benchmark::State& state) const {
    const double n = runs_ > 0 ? runs_ : 1;
    state.counters["lamm_s"] = sum_.lamm / n;
    state.counters["neq_s"] = sum_.normalEquations / n;
    state.counters["reg_s"] = sum_.regularization / n;
    state.counters["total_s"] = sum_.total / n;
    state.counters["cpu_s"] = cpu_ / n;
    state.counters["faults"] = faults_ / n;
  }

 private:
  ContiRunTimings sum_;
  std::pair<double, double> start_{0, 0};
  double cpu_ = 0, faults_ = 0;
  int runs_ = 0;
};

// The c(s) run once per benchmark iteration after prepare(), the split of
// the runs reported. One Run before the timed ones: a Run follows a Run.
template <class Prepare>
void TimeContiRuns(benchmark::State& state, Prepare prepare) {
  RunSplit split;
  prepare();
  RunContiSed();
  for (auto _ : state) {
    prepare();
    split.Start();
    RunContiSed();
    split.Add();
  }
  split.Report(state);
}

// The Fit command, once per benchmark iteration after start(); counters:
// evaluations per fit and per second.
template <class Start>
void TimeFitCommand(benchmark::State& state, FitHost& host, Start start) {
  int evaluations = 0;
  double seconds = 0;
  for (auto _ : state) {
    start();
    const auto t0 = std::chrono::steady_clock::now();
    ContiFit(&host);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    evaluations += gFitEngineState.evaluationsTotal;
  }
  state.counters["evaluations"] = evaluations / static_cast<double>(state.iterations());
  state.counters["evaluations_per_s"] = evaluations / seconds;
}

}  // namespace bench
