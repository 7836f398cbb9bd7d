// The bundled example's unattended analysis (examples/cofs: load, Run, noise
// subtraction, the simplex fit of the meniscus, result files) on one
// computation thread, the simplex started from a fixed seed: one benchmark
// per seed (seed:1 to seed:12), so that two builds can be compared start for
// start rather than over whatever second each run begins in. The program
// runs as a child process of this one, through the program's own entry,
// its random generators seeded first. Counters: cpu_seconds (user and
// system of the whole run), evaluations (of the fit) and, as the label, the
// rmsd and the meniscus the fit reached. no_fit is the same run without its
// Fit: what the rest of the run costs. bench/example_fit_side_by_side.sh runs
// two builds' programs alternately and sums them up.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/startup/main_window_host.h"
#include "bench_child_run.h"
#include "app/startup/startup.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "numerics/random.h"
#include "numerics/vector_kernel.h"

#if defined(TARNEL_HAVE_QT)
#include "platform/qt/desktop_session.h"
#endif

namespace {

namespace fs = std::filesystem;

// A folder of this process's own: two benchmark programs may run at once
// (the builds a comparison takes turns between, or two people's).
fs::path Root() {
  return fs::temp_directory_path() / ("tarnel_bench_example_fit." + std::to_string(getpid()));
}

fs::path MakeSet(bool fit) {
  const fs::path example = fs::path(TARNEL_SOURCE_DIR) / "examples" / "cofs";
  const fs::path set = Root() / (fit ? "fit" : "no_fit");
  fs::remove_all(set);
  fs::create_directories(set / "data");
  for (const auto& e : fs::directory_iterator(example))
    if (e.path().extension() == ".RA1") fs::copy_file(e.path(), set / "data" / e.path().filename());
  std::string p = ReadAll(example / "params.xml");
  Replace(p, "<NumberComputationThreads>2", "<NumberComputationThreads>1");
  if (!fit) Replace(p, "<AutoFit>TRUE", "<AutoFit>FALSE");
  std::ofstream(set / "params.xml") << p;
  return set;
}

double ChildrenCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_CHILDREN, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         1e-6 * static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// The program's main() in a child, its generators seeded first; the fit's
// evaluation count, the rmsd of its last evaluation and the meniscus are
// written to "fit.end" in the folder.
[[noreturn]] void RunProgram(const fs::path& folder, const fs::path& home, unsigned seed) {
  if (chdir(folder.c_str()) != 0) _exit(120);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("TARNEL_HOME", home.c_str(), 1);
  std::freopen("run.stderr", "w", stderr);
  std::freopen("run.stdout", "w", stdout);
  static std::string program = TARNEL_PROGRAM, handshake = "bench", params = "params.xml";
  static char* argv[] = {program.data(), handshake.data(), params.data(), nullptr};
  static int argc = 3;
  std::atexit([] {
    char text[128];
    std::snprintf(text, sizeof text, "%d %.9g %.9g\n", gFitEngineState.evaluationsTotal,
                  static_cast<double>(gFitEngineState.currentRmsd), static_cast<double>(gModelParams.meniscus));
    std::ofstream("fit.end") << text;
  });
  ActiveVectorKernel();
  SeedRandomGenerators(seed);
  int status = 0;
  {
#if defined(TARNEL_HAVE_QT)
    platform::qt::DesktopSession desktop(argc, argv);
#endif
    RegisterMainWindow();
    status = OwlMain(argc, argv);
  }
  std::exit(status);
}

void BM_ExampleFit(benchmark::State& state, bool fit) {
  const unsigned seed = static_cast<unsigned>(state.range(0));
  const fs::path folder = MakeSet(fit);
  const fs::path home = Root() / "home";
  fs::create_directories(home);
  double cpu = 0;
  for (auto _ : state) {
    const double before = ChildrenCpuSeconds();
    const pid_t pid = fork();
    if (pid == 0) RunProgram(folder, home, seed);
    int status = 0;
    waitpid(pid, &status, 0);
    cpu = ChildrenCpuSeconds() - before;
    state.SetIterationTime(cpu);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("the run did not end with status 0");
  }
  int evaluations = 0;
  double rmsd = 0, meniscus = 0;
  std::istringstream(ReadAll(folder / "fit.end")) >> evaluations >> rmsd >> meniscus;
  state.counters["cpu_seconds"] = cpu;
  state.counters["evaluations"] = evaluations;
  char label[96];
  std::snprintf(label, sizeof label, "rmsd=%.7g meniscus=%.8g", rmsd, meniscus);
  state.SetLabel(label);
  fs::remove_all(Root());
}

}  // namespace

BENCHMARK_CAPTURE(BM_ExampleFit, fit, true)->DenseRange(1, 12)->ArgName("seed")->Iterations(1)->UseManualTime();
BENCHMARK_CAPTURE(BM_ExampleFit, no_fit, false)->Arg(1)->ArgName("seed")->Iterations(1)->UseManualTime();
BENCHMARK_MAIN();
