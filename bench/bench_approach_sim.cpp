// The run planner's reference simulation: the default column (6.75-7.2 cm,
// limits 6.77-7.15 cm) at a constant 15000 rpm from uniform loading at rest,
// 39 h stored every 1800 s (78 profiles of 227 radii), for one species
// (65 kDa, f/f0 1.4, water at 20 C) and for two (70 % of it and 30 % of
// 130 kDa), on 1 and 2 Lamm worker threads, with the solver's node limits
// of 40/160 (gridPoints 80) and the chosen 200/800 (gridPoints 400); and
// the same under a speed programme (22500 rpm until 6300 s, then 15000 rpm),
// which runs on gridPoints nodes.
// Arguments: species, threads, gridPoints, programme. Reported per species.
#include <benchmark/benchmark.h>

#include "equilibrium/planning/approach_to_eq_sim.h"
#include "lamm/lamm_threads.h"
#include "platform/input_events.h"

namespace {

void BM_ConstantSpeedApproach(benchmark::State& state) {
  const int species = static_cast<int>(state.range(0));
  LammThreadCount() = static_cast<int>(state.range(1));
  platform::StopFlag() = false;
  const float f[] = {0, species == 1 ? 1.0f : 0.7f, 0.3f};
  const float s[] = {0, 4.14408f, 6.57832f}, D[] = {0, 5.75543e-7f, 4.56809e-7f};
  const float times[] = {0, 0, 6300, 30000}, rpms[] = {0, 22500, 15000, 15000},
              accs[] = {0, 280, 280, 280};
  float tEq = 0;
  for (auto _ : state) {
    CApproachToEqSim sim;
    sim.gridPoints = static_cast<int>(state.range(2));
    sim.SetupRun(nullptr, 39.0f, 7.2f, 6.75f, 7.15f, 6.77f, species, f, s, D, 20, 15000);
    if (state.range(3)) sim.SetSpeedSteps(3, times, rpms, accs, 2);
    sim.Run();
    sim.ComputeDistanceToEq(1e-3f, 1e-3f);
    tEq = sim.tEqRms / 3600;
    benchmark::DoNotOptimize(tEq);
  }
  state.counters["ms_per_species"] = benchmark::Counter(
      species * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
  state.counters["tEq_h"] = tEq;
}

}  // namespace

BENCHMARK(BM_ConstantSpeedApproach)
    ->ArgsProduct({{1, 2}, {1, 2}, {80, 400}, {0, 1}})
    ->ArgNames({"species", "threads", "gridPoints", "programme"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_MAIN();
