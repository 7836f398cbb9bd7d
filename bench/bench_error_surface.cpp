// Cost of the error-surface maps on an analytic model: a 10 x 10 raster over
// (P[5], P[1]) with P[7] refitted at every node, against 100 plain
// restart-until-converged simplex fits of P[7] alone.
#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "bench_experiment.h"
#include "data/scan_set.h"
#include "fit/error_surface.h"
#include "fit/fit_driver.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/model_params.h"
#include "numerics/arrays.h"
#include "numerics/random.h"

namespace {

constexpr int kPoints = 100;
constexpr float kCentre = 6.6f;

struct Quadratic {
  float operator()(const float* P, float x) const {
    const float d = x - kCentre;
    return P[5] + d * (P[1] + d * P[7]);
  }
};

class QuadraticHost : public bench::ScanModelHost<Quadratic> {
 public:
  void CheckLeftFitLimit() override {}
  void CheckRightFitLimit() override {}
};

void LoadData() {
  SeedGaussRandom(3);
  bench::LoadSingleScan(kPoints, [](float x) {
    const float d = x - kCentre;
    return 0.8f + 0.5f * d + 0.2f * d * d + GaussRandom(0.01f);
  });
}

void Start() {
  bench::StartParameters({{5, 0.8f}, {1, 0.5f}, {7, 0.1f}}, {7});
  gFitEngineState = FitEngineState{};
}

void BM_RasterTenByTen(benchmark::State& state) {
  LoadData();
  QuadraticHost host;
  const std::string path = (std::filesystem::temp_directory_path() / "tarnel_bench_contour.dat").string();
  long evaluations = 0;
  for (auto _ : state) {
    Start();
    host.evaluations = 0;
    ContourSM(&host, path.c_str(), {0.75f, 0.84f, 0.01f}, {0.45f, 0.54f, 0.01f}, 0.0f, 0.75f, 0.45f);
    evaluations += host.evaluations;
  }
  state.counters["evaluations_per_map"] = bench::PerIteration(state, static_cast<double>(evaluations));
  FreeScanSetArrays(CurrentScanSet());
}

void BM_HundredPlainFits(benchmark::State& state) {
  LoadData();
  QuadraticHost host;
  long evaluations = 0;
  for (auto _ : state) {
    host.evaluations = 0;
    for (int i = 0; i < 100; ++i) {
      Start();
      gModelParameterVector.P[5] = 0.75f + 0.01f * static_cast<float>(i / 10);
      gModelParameterVector.P[1] = 0.45f + 0.01f * static_cast<float>(i % 10);
      FitCurrentModel(&host);
    }
    evaluations += host.evaluations;
  }
  state.counters["evaluations_per_100_fits"] = bench::PerIteration(state, static_cast<double>(evaluations));
  FreeScanSetArrays(CurrentScanSet());
}

BENCHMARK(BM_RasterTenByTen)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HundredPlainFits)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
