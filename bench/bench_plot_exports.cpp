// The temp files of the outside plotters for 100 scans of 1000 points: the
// curve files with their times, the data-fit-residuals matrix, the
// equilibrium and DLS files and the distribution, each and all together.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "automation/plot_exports.h"
#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "numerics/arrays.h"
#include "platform/program_paths.h"

namespace {

constexpr int kScans = 100;
constexpr int kPoints = 1000;
constexpr int kGrid = 200;

struct LoadedRun {
  std::filesystem::path dir;

  LoadedRun() {
    dir = std::filesystem::temp_directory_path() / ("tarnel_bench_plots_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    platform::ProgramPaths.TempFolder = dir.string() + "/";
    ScanSet& s = CurrentScanSet();
    AllocateScanTables(s, kScans);
    for (int i = 1; i <= kScans; ++i) {
      s.points[i] = kPoints;
      s.radii[i] = vector(1, kPoints);
      s.signals[i] = vector(1, kPoints);
      s.model[i] = vector(1, kPoints);
      s.residuals[i] = vector(1, kPoints);
      const float boundary = 6.0f + 0.01f * static_cast<float>(i);
      for (int k = 1; k <= kPoints; ++k) {
        const float r = 5.9f + 0.0012f * static_cast<float>(k);
        s.radii[i][k] = r;
        s.model[i][k] = 0.5f * (1.0f + std::erf((r - boundary) / 0.05f));
        s.signals[i][k] = s.model[i][k] + 0.003f * std::sin(97.0f * r);
        s.residuals[i][k] = s.signals[i][k] - s.model[i][k];
      }
      s.records[i].timeRead = 300.0 * i;
      s.order[i] = kScans + 1 - i;  // loaded latest first
      s.firstFitPoint[i] = 1;
      s.lastFitPoint[i] = kPoints;
    }
    s.gridOwned = 1;
    s.gridLength = kPoints;
    s.grid = vector(1, kPoints);
    s.tiNoise = vector(1, kPoints);
    s.tiNoiseSubtracted = vector(1, kPoints);
    s.riNoise = vector(1, kScans);
    for (int k = 1; k <= kPoints; ++k) {
      s.grid[k] = s.radii[1][k];
      s.tiNoise[k] = 0.001f * std::cos(31.0f * s.grid[k]);
      s.tiNoiseSubtracted[k] = 0.0005f;
    }
    for (int i = 1; i <= kScans; ++i) s.riNoise[i] = 0.001f * static_cast<float>(i);
    s.firstGridPoint = 1;
    s.lastGridPoint = kPoints;
    gFitEngineState.fitTINoise = 1;
    gModelParams.riNoiseFit = 1;
    ContiSettings& c = Conti();
    c.gridSize = kGrid;
    c.sValues = vector(1, kGrid);
    c.distribution = vector(1, kGrid);
    for (int g = 1; g <= kGrid; ++g) {
      c.sValues[g] = 0.1f * static_cast<float>(g);
      c.distribution[g] = std::exp(-0.5f * std::pow((c.sValues[g] - 5.0f) / 0.4f, 2.0f));
    }
  }
  ~LoadedRun() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

LoadedRun& Run() {
  static LoadedRun run;
  return run;
}

void Report(benchmark::State& state) {
  std::int64_t bytes = 0;
  for (const auto& e : std::filesystem::directory_iterator(Run().dir)) bytes += static_cast<std::int64_t>(e.file_size());
  state.counters["MB_on_disk"] = static_cast<double>(bytes) / 1e6;
}

void BM_FitAndDataCurves(benchmark::State& state) {
  Run();
  for (auto _ : state) {
    benchmark::DoNotOptimize(WriteDataCurvesForPlot());
    benchmark::DoNotOptimize(WriteFitCurvesForPlot());
  }
}
BENCHMARK(BM_FitAndDataCurves)->Unit(benchmark::kMillisecond);

void BM_SvdfrMatrix(benchmark::State& state) {
  Run();
  for (auto _ : state) benchmark::DoNotOptimize(WriteSvdfrData(nullptr));
}
BENCHMARK(BM_SvdfrMatrix)->Unit(benchmark::kMillisecond);

void BM_EquilibriumFile(benchmark::State& state) {
  Run();
  for (auto _ : state) benchmark::DoNotOptimize(WriteSEDataFile());
}
BENCHMARK(BM_EquilibriumFile)->Unit(benchmark::kMillisecond);

void BM_DlsFile(benchmark::State& state) {
  Run();
  for (auto _ : state) benchmark::DoNotOptimize(WriteDlsDataFile());
}
BENCHMARK(BM_DlsFile)->Unit(benchmark::kMillisecond);

// Everything the Plot menu and PELDO can ask for at once.
void BM_AllTempFiles(benchmark::State& state) {
  Run();
  for (auto _ : state) {
    benchmark::DoNotOptimize(WriteDataCurvesForPlot());
    benchmark::DoNotOptimize(WriteFitCurvesForPlot());
    benchmark::DoNotOptimize(WriteDistributionForPlot(true, nullptr));
    benchmark::DoNotOptimize(WriteDistributionForPlot(false, nullptr));
    benchmark::DoNotOptimize(WriteSvdfrData(nullptr));
    benchmark::DoNotOptimize(WriteSEDataFile());
    benchmark::DoNotOptimize(WriteDlsDataFile());
  }
  Report(state);
}
BENCHMARK(BM_AllTempFiles)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
