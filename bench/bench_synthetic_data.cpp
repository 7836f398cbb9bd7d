// A synthetic data set of 50 scans x 1200 points made and written as scan
// files, the model left at 0 so that only the set-up and the writing count
// (the simulation itself is the model evaluation of bench_lamm).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "data/load_hooks.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "data/synthetic_data.h"
#include "platform/scripted_ui.h"

namespace {

void BM_SyntheticSet50x1200(benchmark::State& state) {
  platform::ScriptedUserInterface ui;
  ui.lenient = true;
  platform::ScopedUI scope(ui);
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("tarnel_bench_synthetic_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  ResetSyntheticDataHooks();
  *CurrentLoadTargets().meniscus = 6.0f;
  *CurrentLoadTargets().bottom = 7.199f;  // 1200 points at 0.001 cm
  SyntheticRun run;
  run.radialStep = 0.001f;
  run.rpm = 50000;
  run.noise = 0.01f;
  run.timeStep = 300;
  run.scanCount = 50;
  run.path = (dir / "0000x.ra0").string();
  for (auto _ : state) {
    // Into a fresh folder each time, as a user generates a new set: ext4
    // flushes files that are truncated and rewritten when they are closed.
    state.PauseTiming();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    state.ResumeTiming();
    benchmark::DoNotOptimize(MakeSyntheticDataSet(run));
  }
  state.counters["points"] = CurrentScanSet().points[1];
  FreeScanData();
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_SyntheticSet50x1200)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
