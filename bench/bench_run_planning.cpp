// Run planning: one objective evaluation of a speed programme (the default
// column 6.75-7.2 cm, 15000 rpm final speed, 39 h stored every 1800 s, two
// species: 70 % of 65 kDa and 30 % of 130 kDa, f/f0 1.4, water at 20 C) on
// 1 and 2 Lamm worker threads; and the whole computation of the planning
// command on the defaults (constant-speed run, search with steps of 1 and
// 100 rpm, result files), stepwise and exponential, with the number of
// simulations and restarts it took.
// Arguments: threads (evaluation); exponential, threads (command).
#include <benchmark/benchmark.h>

#include <filesystem>

#include "equilibrium/planning/approach_to_eq_sim.h"
#include "equilibrium/planning/minimum_time_to_eq.h"
#include "equilibrium/planning/speed_profile_optimizer.h"
#include "equilibrium/planning/time_to_eq_params.h"
#include "fit/fit_host.h"
#include "lamm/lamm_threads.h"
#include "numerics/random.h"
#include "platform/input_events.h"
#include "platform/program_paths.h"

namespace {

class QuietHost : public FitHost {
 public:
  void SimulateModel() override {}
};

void DefaultParameters(bool twoSpecies) {
  TimeToEqParams& p = CurrentTimeToEqParams();
  ResetTimeToEqParams(p);
  p.s1 = 4.14408f;
  p.D1 = 5.75543e-7f;
  p.vbar1 = p.vbar2 = 0.73f;
  p.density = 1.0f;
  p.viscosity = 0.001002f;
  if (twoSpecies) {
    p.secondSpecies = 1;
    p.fraction2 = 0.3f;
    p.s2 = 6.57832f;
    p.D2 = 4.56809e-7f;
  }
}

void BM_ObjectiveEvaluation(benchmark::State& state) {
  LammThreadCount() = static_cast<int>(state.range(0));
  platform::StopFlag() = false;
  DefaultParameters(true);
  CurrentTimeToEqParams().exponential = 0;
  const float f[] = {0, 0.7f, 0.3f}, s[] = {0, 4.14408f, 6.57832f}, D[] = {0, 5.75543e-7f, 4.56809e-7f};
  SetOptimizationBase(39 * 3600.0f, 2, f, s, D);
  std::vector<float> x = {0, 1.5f, 1.3f, 1, 1, 1};
  float value = 0;
  for (auto _ : state) {
    value = SimulateSpeedProfileObjective(x.data(), nullptr);
    benchmark::DoNotOptimize(value);
  }
  state.counters["objective_h"] = value;
}

void BM_PlanningCommand(benchmark::State& state) {
  LammThreadCount() = static_cast<int>(state.range(1));
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "tarnel_bench_run_planning";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  platform::ProgramPaths.SimAppEqParamsIniPath = (dir / "tarnelsimappeqparams.ini").string();
  QuietHost host;
  MinimumTimeToEqOutcome outcome;
  int calls = 0, restarts = 0;
  for (auto _ : state) {
    DefaultParameters(false);
    CurrentTimeToEqParams().exponential = static_cast<std::uint8_t>(state.range(0));
    SaveTimeToEqPreferences(CurrentTimeToEqParams(), platform::ProgramPaths.SimAppEqParamsIniPath);
    SpeedProfileOptimizer() = SpeedProfileOptimizerState{};
    SeedGaussRandom(1);
    platform::StopFlag() = false;
    const std::string result = (dir / "optimizedoverspeedsteps1.txt").string();
    CalculateMinimumTimeToEq(&host, PlanningMaximumHours(), result, outcome);
    calls = SpeedProfileOptimizer().objectiveCalls;
    restarts = SpeedProfileOptimizer().restarts;
  }
  state.counters["simulations"] = calls;
  state.counters["restarts_last_search"] = restarts;
  state.counters["t_const_h"] = outcome.constantHours;
  state.counters["t_opt_h"] = outcome.optimisedHours;
  std::filesystem::remove_all(dir);
}

}  // namespace

BENCHMARK(BM_ObjectiveEvaluation)->Arg(1)->Arg(2)->ArgNames({"threads"})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PlanningCommand)
    ->ArgsProduct({{0, 1}, {2, 8}})
    ->ArgNames({"exponential", "threads"})
    ->Unit(benchmark::kSecond)
    ->Iterations(1)
    ->UseRealTime();

BENCHMARK_MAIN();
