// Integrating a computed distribution: 1000 ranges over a 1000-point c(s)
// grid (the ranges-file report, 10^6 trapezoid segments), and the peak walk
// at every grid index (most are rejected at once; the maxima walk their
// flanks) of a distribution with 20 peaks.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "distributions/conti_settings.h"
#include "distributions/integration_ranges.h"
#include "distributions/peak_area.h"
#include "fit/model_selector.h"

namespace {

constexpr int kGrid = 1000;

// s = 0.02 .. 20 S with 20 Gaussian peaks of 0.1 S width.
struct Distribution {
  std::vector<float> s = std::vector<float>(kGrid + 1), c = std::vector<float>(kGrid + 1);
  Distribution() {
    for (int i = 1; i <= kGrid; ++i) {
      s[i] = 0.02f * i;
      double v = 0;
      for (int k = 1; k <= 20; ++k) v += (1.0 + 0.1 * k) * std::exp(-std::pow((s[i] - k + 0.5) / 0.1, 2));
      c[i] = static_cast<float>(v);
    }
    gModelSelectorFlags = ModelSelectorFlags{};
    gModelSelectorFlags.DistributionModel = gModelSelectorFlags.CSModel = 1;
    ContiSettings& cs = Conti();
    cs.gridSize = kGrid;
    cs.sValues = cs.molarMasses = s.data();
    cs.distribution = c.data();
  }
};

void BM_ThousandRangesReport(benchmark::State& state) {
  Distribution d;
  std::mt19937 gen(5);
  std::uniform_real_distribution<float> u(0.0f, 20.0f);
  std::vector<IntegrationRange> ranges(1000);
  for (auto& r : ranges) {
    const float a = u(gen), b = u(gen);
    r = {std::min(a, b), std::max(a, b)};
  }
  for (auto _ : state) {
    const RangesReport report = IntegrateRangeList(ranges, "ranges.dat");
    benchmark::DoNotOptimize(report.rows.data());
  }
  state.counters["segments"] = static_cast<double>(ranges.size()) * (kGrid - 1);
}
BENCHMARK(BM_ThousandRangesReport)->Unit(benchmark::kMillisecond);

void BM_PeakWalkAtEveryIndex(benchmark::State& state) {
  Distribution d;
  for (auto _ : state) {
    double sum = 0;
    for (int i = 1; i <= kGrid; ++i) sum += IntegratePeakAt(i, 0.9f).area;
    benchmark::DoNotOptimize(sum);
  }
}
BENCHMARK(BM_PeakWalkAtEveryIndex)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
