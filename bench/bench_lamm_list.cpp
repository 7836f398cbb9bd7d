// A c(s)-like list of 200 species (0.5 to 20 S at f/f0 1.2, vbar 0.73, water
// at 20 C) with 50 scans of 500 points at 50000 rpm in a 6.0-7.2 cm cell,
// solved by CLRunMTList on 1, 2, 4 and 8 worker threads (the argument), and
// the same species one after another on the calling thread. Reported per
// species; divide the 1-thread time by thread count x the n-thread time for
// the parallel efficiency.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "bench_solver_scans.h"
#include "data/scan_set.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_settings.h"
#include "lamm/lamm_threads.h"
#include "platform/input_events.h"

namespace {

constexpr int kSpecies = 200, kScans = 50, kPoints = 500;

struct ListData {
  std::vector<ScanRecord> records;
  std::vector<float> grid;
  std::vector<double> s, D;
  std::vector<std::vector<std::vector<float>>> store;
  std::vector<std::vector<float*>> scans;
  std::vector<float**> results;
  CLammIdeal templ;

  ListData() {
    records = bench::BenchRecords(kScans);
    grid = bench::BenchRadii(kPoints);
    // D from s at f/f0 = 1.2: s = M (1 - vbar rho) / (N_A f), f = 1.2 x 6 pi eta R0,
    // R0 = (3 M vbar / (4 pi N_A))^(1/3), D = s R T / (M (1 - vbar rho)).
    const double NA = 6.02214e23, R = 8.31451e7, T = 293.15, eta = 0.01002, v = 0.73, rho = 0.9982;
    const double pi = 3.141592653589793;
    const double c = 1.2 * 6 * pi * eta * std::cbrt(3 * v / (4 * pi * NA)) * NA / (1 - v * rho);
    s.assign(kSpecies + 1, 0);
    D.assign(kSpecies + 1, 0);
    for (int k = 1; k <= kSpecies; ++k) {
      s[k] = 0.5 + 19.5 * (k - 1) / (kSpecies - 1);
      const double M = std::pow(s[k] * 1e-13 * c, 1.5);
      D[k] = s[k] * 1e-13 * R * T / (M * (1 - v * rho));
    }
    store.assign(kSpecies + 1,
                 std::vector<std::vector<float>>(kScans + 1, std::vector<float>(kPoints + 1)));
    scans.assign(kSpecies + 1, std::vector<float*>(kScans + 1));
    results.assign(kSpecies + 1, nullptr);
    for (int k = 1; k <= kSpecies; ++k) {
      for (int j = 1; j <= kScans; ++j) scans[k][j] = store[k][j].data();
      results[k] = scans[k].data();
    }
    LammSolverSettings st;
    Load(templ, st, store[1]);
  }

  void Load(CLammIdeal& L, const LammSolverSettings& st, std::vector<std::vector<float>>&) {
    L.MarkLoaded();
    L.SetOutputParameters(4.3, 6e-7, 6.0, 7.2, 1.0, 6.05f, 7.1f);
    L.SetScanTimes({.records = records.data(), .output = scans[1].data(), .grid = grid.data(),
                    .gridLength = kPoints, .scanCount = kScans, .absorbanceData = true});
    SetModelOptionsFromSettings(L, st, st.workingMaxDcOverC, st.gridSize.setting);
    L.SetSolventAndComputeFrictionalRatio(20, 0.73, 0.9982, 1.0);
  }
};

ListData& Data() {
  static ListData d;
  return d;
}

void BM_List200Species(benchmark::State& state) {
  ListData& d = Data();
  LammThreadCount() = static_cast<int>(state.range(0));
  platform::StopFlag() = false;
  for (auto _ : state)
    benchmark::DoNotOptimize(CLRunMTList(&d.templ, kSpecies, d.s.data(), d.D.data(), nullptr,
                                         d.results.data(), d.grid.data(), kPoints, nullptr,
                                         nullptr));
  state.counters["ms_per_species"] = benchmark::Counter(
      kSpecies * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
}

// Each worker's share of the work, the solver's accepted steps x nodes
// summed per worker, largest over mean: when species k goes to worker
// k mod count (dealt), and when each free worker takes the next species of
// the list (in order, as the list runner hands them out) or of the list
// sorted by decreasing s (as the c(s) run hands them out); simulated with
// those costs.
void BM_List200SpeciesImbalance(benchmark::State& state) {
  ListData& d = Data();
  const int count = static_cast<int>(state.range(0));
  std::vector<double> cost(kSpecies + 1, 0.0);
  for (auto _ : state) {
    for (int k = 1; k <= kSpecies; ++k) {
      CLammIdeal L;
      LammSolverSettings st;
      d.Load(L, st, d.store[k]);
      L.SetSpeciesAndOutput(d.s[k], d.D[k], d.results[k], d.grid.data(), kPoints, nullptr, nullptr);
      L.CheckAndRun();
      cost[k] = static_cast<double>(L.NodeCount()) * L.AcceptedSteps();
    }
  }
  auto largestOverMean = [&](const std::vector<double>& work) {
    double total = 0, largest = 0;
    for (double w : work) {
      total += w;
      largest = std::max(largest, w);
    }
    return largest / (total / count);
  };
  std::vector<double> dealt(count, 0.0), inOrder(count, 0.0), largestS(count, 0.0);
  for (int k = 1; k <= kSpecies; ++k) {
    dealt[k % count] += cost[k];
    *std::min_element(inOrder.begin(), inOrder.end()) += cost[k];
    *std::min_element(largestS.begin(), largestS.end()) += cost[kSpecies + 1 - k];
  }
  // The list's work itself, steps x nodes summed over the species: the
  // machine-independent side of the grid's cost (no timing noise).
  double work = 0;
  for (int k = 1; k <= kSpecies; ++k) work += cost[k];
  state.counters["steps_x_nodes"] = work;
  state.counters["dealt_largest_over_mean"] = largestOverMean(dealt);
  state.counters["in_order_largest_over_mean"] = largestOverMean(inOrder);
  state.counters["largest_s_first_largest_over_mean"] = largestOverMean(largestS);
}

// The same species one after another, each on a new solver object.
void BM_List200SpeciesSequentialObjects(benchmark::State& state) {
  ListData& d = Data();
  for (auto _ : state)
    for (int k = 1; k <= kSpecies; ++k) {
      CLammIdeal L;
      LammSolverSettings st;
      d.Load(L, st, d.store[k]);
      L.SetSpeciesAndOutput(d.s[k], d.D[k], d.results[k], d.grid.data(), kPoints, nullptr, nullptr);
      benchmark::DoNotOptimize(L.CheckAndRun());
    }
  state.counters["ms_per_species"] = benchmark::Counter(
      kSpecies * static_cast<double>(state.iterations()),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert, benchmark::Counter::kIs1000);
}

}  // namespace

BENCHMARK(BM_List200Species)->Arg(1)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_List200SpeciesSequentialObjects)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_List200SpeciesImbalance)->Arg(2)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_MAIN();
