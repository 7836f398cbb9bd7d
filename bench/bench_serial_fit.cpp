// The serial fit by folder number over 8 copies of the bundled example
// (36 scans each), Run only, against the same 8 sets loaded and run one by
// one by hand: what the series adds (its questions, result files, xp and
// exchange files, log) per set. Then batches of unattended runs: one run of
// the example alone and 8 at once (one program folder, one thread each),
// wall time and throughput (8 x alone / together). Each run includes the
// two pauses of 1 s of an unattended run. Last the unattended Run (run,
// noise subtraction, no fit) of 100 and 400 scans x 1000 points of three
// species: the program's CPU seconds, page faults and its peak memory per
// data point.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "automation/automation_run.h"
#include "bench_child_run.h"
#include "automation/ini_custom_pars.h"
#include "automation/serial/serial_fit.h"
#include "data/load_hooks.h"
#include "data/scan_file.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "distributions/conti_run.h"
#include "distributions/conti_startup.h"
#include "fit/model_selector.h"
#include "numerics/constants.h"
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

// The program on the parameter file of `folder`, started there.
pid_t StartRunIn(const fs::path& folder) {
  const std::string home = (Root() / "home").string();
  fs::create_directories(home);
  return StartUnattendedRun(folder.string(), home);
}

pid_t StartRun(int k) { return StartRunIn(Root() / std::to_string(k)); }

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

// m scans of 1000 points, 600 to 8000 s at 50000 rpm, of 2.5, 5 and 8 S
// boundaries (an erfc front on the radial dilution), TI and RI noise; the
// parameter file of the example with the scan range and without the fit.
fs::path MakeLargeSet(int m) {
  const fs::path set = Root() / ("large" + std::to_string(m));
  if (fs::exists(set / "params.xml")) return set;
  fs::create_directories(set / "data");
  constexpr int kPoints = 1000;
  const double meniscus = 6.02, omega = RpmToOmega(50000.0f);
  std::vector<float> radii(kPoints + 1), signal(kPoints + 1);
  for (int j = 1; j <= kPoints; ++j) radii[j] = static_cast<float>(5.99 + (j - 1) * 0.00116);
  const double species[3][3] = {{2.5e-13, 6.0e-7, 0.25}, {5.0e-13, 4.2e-7, 0.5}, {8.0e-13, 3.3e-7, 0.2}};
  for (int k = 1; k <= m; ++k) {
    const double t = 600.0 + (8000.0 - 600.0) * (k - 1) / (m - 1);
    ScanRecord rec;
    rec.type = 'R';
    rec.cell = 1;
    rec.temperature = 20.0f;
    rec.rpm = 50000.0f;
    rec.time = rec.timeRead = t;
    rec.w2t = omega * omega * t;
    rec.wavelength = 280.0f;
    rec.points = kPoints;
    const double ri = 0.02 * std::sin(1.7 * k);
    for (int j = 1; j <= kPoints; ++j) {
      const double r = radii[j];
      double c = 0;
      for (const auto& sp : species) {
        const double front = meniscus * std::exp(sp[0] * omega * omega * t);
        if (r >= meniscus) c += sp[2] * std::exp(-2 * sp[0] * omega * omega * t) * 0.5 * std::erfc((front - r) / (2 * std::sqrt(sp[1] * t)));
      }
      signal[j] = static_cast<float>(c + 0.01 * std::sin(37.0 * r) + ri + 0.003 * std::sin(911.0 * j + 3.1 * k));
    }
    char name[16];
    std::snprintf(name, sizeof name, "%05d.RA1", k);
    WriteScanFile((set / "data" / name).string().c_str(), kPoints, radii.data(), signal.data(), nullptr, "bench", 0, rec);
  }
  std::ifstream in(fs::path(TARNEL_SOURCE_DIR) / "examples" / "cofs" / "params.xml");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto set_ = [&](const std::string& tag, const std::string& value) {
    const std::size_t a = text.find("<" + tag + ">"), b = text.find("</" + tag + ">");
    if (a != std::string::npos && b != std::string::npos) text.replace(a + tag.size() + 2, b - a - tag.size() - 2, value);
  };
  set_("LastScan", std::to_string(m));
  set_("AutoFit", "FALSE");
  std::ofstream(set / "params.xml") << text;
  return set;
}

// The program's CPU seconds (user + system), peak resident kB and page
// faults (first touches of fresh memory, on a virtual machine a large part
// of the CPU seconds).
struct ProgramUse {
  double cpu = 0;
  long peakKb = 0, faults = 0;
};
ProgramUse RunProgramIn(const fs::path& folder) {
  const pid_t pid = StartRunIn(folder);
  int status = 0;
  rusage use{};
  wait4(pid, &status, 0, &use);
  const double cpu = use.ru_utime.tv_sec + use.ru_stime.tv_sec + 1e-6 * (use.ru_utime.tv_usec + use.ru_stime.tv_usec);
  return {cpu, use.ru_maxrss, use.ru_minflt};
}

void BM_UnattendedRun(benchmark::State& state) {
  const int m = static_cast<int>(state.range(0));
  const fs::path set = MakeLargeSet(m);
  double cpu = 0, faults = 0;
  long peak = 0;
  for (auto _ : state) {
    const ProgramUse u = RunProgramIn(set);
    state.SetIterationTime(u.cpu);
    cpu += u.cpu;
    faults += static_cast<double>(u.faults);
    peak = std::max(peak, u.peakKb);
  }
  state.counters["cpu_s"] = cpu / static_cast<double>(state.iterations());
  state.counters["faults"] = faults / static_cast<double>(state.iterations());
  state.counters["kB_per_point"] = static_cast<double>(peak) / (m * 1000.0);
}

}  // namespace

BENCHMARK(BM_UnattendedRun)->ArgNames({"scans"})->Arg(100)->Arg(400)->Unit(benchmark::kMillisecond)->Iterations(3)->UseManualTime();
BENCHMARK(BM_SerialFitRunOnly)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_SingleRuns)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_Batch)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();
BENCHMARK_MAIN();
