// The serial fit by folder number over 8 copies of the bundled example
// (36 scans each), Run only, against the same 8 sets loaded and run one by
// one by hand: what the series adds (its questions, result files, xp and
// exchange files, log) per set. Then batches of unattended runs: one run of
// the example alone and 8 at once (one program folder, one thread each),
// wall time and throughput (8 x alone / together). Each run includes the
// two pauses of 1 s of an unattended run.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "automation/automation_run.h"
#include "bench_child_run.h"
#include "automation/ini_custom_pars.h"
#include "automation/serial/serial_fit.h"
#include "data/load_hooks.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "distributions/conti_run.h"
#include "distributions/conti_startup.h"
#include "fit/model_selector.h"
#include "platform/automatic_ui.h"
#include "platform/scripted_ui.h"

namespace {

namespace fs = std::filesystem;

constexpr int kSets = 8;

fs::path Root() { return fs::temp_directory_path() / "tarnel_bench_serial"; }

// Folders 1..8 (and a parameter file beside each for the batch).
void MakeSets() {
  static bool made = false;
  if (made) return;
  fs::remove_all(Root());
  const fs::path example = fs::path(TARNEL_SOURCE_DIR) / "examples" / "cofs";
  for (int k = 1; k <= kSets; ++k) {
    const fs::path set = Root() / std::to_string(k);
    fs::create_directories(set / "data");
    for (const auto& e : fs::directory_iterator(example)) {
      if (e.path().extension() != ".RA1") continue;
      fs::copy_file(e.path(), set / e.path().filename());
      fs::copy_file(e.path(), set / "data" / e.path().filename());
    }
    fs::copy_file(example / "params.xml", set / "params.xml");
  }
  made = true;
}

// Seconds spent in the c(s) runs themselves: the rest is what loading and
// the series add.
double g_runSeconds = 0;

void TimedRun() {
  const auto start = std::chrono::steady_clock::now();
  RunContiSed();
  g_runSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

class WindowStandIn : public ISerialFitWindow, public IAutomationWindow {
 public:
  void Command(int id) override {
    if (id == kSerialCmdRun) TimedRun();
  }
  void SetCaption(const std::string&) override {}
  void DrawText(const std::string&, int, int) override {}
  bool LoadXpFile(const std::string&) override { return true; }
  void RunMonteCarlo(int, const std::string&) override {}
  void SetWaitCursor(bool) override {}
  void RequestRepaint() override {}
  void CheckMenuItem(int, bool) override {}
  void SwitchOffHelpMessages() override {}
  void SetShowResidualsHistogram(bool) override {}
  void SetLammThreadCount(int) override {}
  void RelayoutAndRedrawPlots() override {}
  void ShowDataRange() override {}
  void ShowLastFitInfo() override {}
  std::vector<std::string> FitNotes() override { return {}; }
  bool CaptureClientArea(platform::Bitmap&) override { return false; }
  void Exit() override {}
};

void ListFolder(int k) {
  FileNameList& list = CurrentFileNameList();
  list.names.assign(1, std::string());
  for (int n = 1; n <= 36; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "%05d.RA1", n);
    list.names.push_back((Root() / std::to_string(k) / name).string());
  }
  list.count = 36;
}

// Set 1 loaded with the example's c(s) settings.
void SetUpFirstSet(WindowStandIn& window) {
  ConnectLoadTargetsToModelRecords();
  ConnectContinuousDistributions();
  CurrentLoadHooks().runModelFromTools = [] {};
  ListFolder(1);
  LoadListedScans();
  CIniCustomPars r;
  ReadAutomationParameterFile(r, (Root() / "1" / "params.xml").string());
  gModelSelectorFlags.DistributionModel = 1;
  gModelSelectorFlags.CSModel = 1;
  ApplyAutomationParameters(r, window);
}

// Seconds per set, of the benchmark's (real) time, and of it in the runs.
void PerSet(benchmark::State& state) {
  state.counters["s_per_set"] =
      benchmark::Counter(kSets, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["run_s_per_set"] = g_runSeconds / (kSets * static_cast<double>(state.iterations()));
  g_runSeconds = 0;
}

void BM_SerialFitRunOnly(benchmark::State& state) {
  MakeSets();
  platform::AutomaticUserInterface quiet;
  platform::ScopedUI scope(quiet);
  WindowStandIn window;
  SetUpFirstSet(window);
  for (auto _ : state) {
    platform::ScriptedUserInterface ui;
    ui.lenient = true;
    ui.ExpectBox("", "incremental cell number?", platform::IDNO)
        .ExpectBox("", "incremental highest subdirectory?", platform::IDYES)
        .ExpectBox("", "load xpfile", platform::IDNO)
        .ExpectPrompt("", "minimum subdir value", "1")
        .ExpectPrompt("", "maximum subdir value", std::to_string(kSets))
        .ExpectBox("", "fit each set?", platform::IDNO)
        .ExpectBox("", "restore previous params", platform::IDNO)
        .ExpectBox("", "with automatic integration?", platform::IDNO)
        .ExpectBox("", "with Monte-Carlo error analysis?", platform::IDNO);
    platform::ScopedUI series(ui);
    SerializeFitByCellOrDir(window);
    if (!ui.AllConsumed()) state.SkipWithError("the series asked other questions");
  }
  PerSet(state);
}

void BM_SingleRuns(benchmark::State& state) {
  MakeSets();
  platform::AutomaticUserInterface quiet;
  platform::ScopedUI scope(quiet);
  WindowStandIn window;
  SetUpFirstSet(window);
  for (auto _ : state) {
    for (int k = 1; k <= kSets; ++k) {
      ListFolder(k);
      LoadListedScans();
      TimedRun();
    }
  }
  PerSet(state);
}

pid_t StartRun(int k) {
  return StartUnattendedRun((Root() / std::to_string(k)).string(), (Root() / "home").string());
}

// Wall seconds of runs 1..n started together.
double Together(int n) {
  const auto start = std::chrono::steady_clock::now();
  std::vector<pid_t> pids;
  for (int k = 1; k <= n; ++k) pids.push_back(StartRun(k));
  for (pid_t pid : pids) waitpid(pid, nullptr, 0);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_Batch(benchmark::State& state) {
  MakeSets();
  fs::create_directories(Root() / "home");
  // The edited parameters: one computation thread per run.
  for (int k = 1; k <= kSets; ++k) {
    const fs::path p = Root() / std::to_string(k) / "params.xml";
    std::ifstream in(p);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string from = "<NumberComputationThreads>2</NumberComputationThreads>";
    const std::size_t at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), "<NumberComputationThreads>1</NumberComputationThreads>");
    std::ofstream(p) << text;
  }
  double alone = 0, together = 0;
  for (auto _ : state) {
    alone = Together(1);
    together = Together(kSets);
    state.SetIterationTime(together);
  }
  state.counters["alone_s"] = alone;
  state.counters["eight_s"] = together;
  state.counters["throughput_x"] = kSets * alone / together;
}

}  // namespace

BENCHMARK(BM_SerialFitRunOnly)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_SingleRuns)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_Batch)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();
BENCHMARK_MAIN();
