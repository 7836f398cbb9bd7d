// The tables of the Copy commands: the scan table of 200 scans of 2000
// points (800,000 cells, each scan with its own radii) and the column table
// of the same signals over one radial grid, as the interference data copy
// them.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include "numerics/clipboard_tables.h"

namespace {

constexpr int kScans = 200;
constexpr int kPoints = 2000;

struct Scans {
  std::vector<std::vector<float>> x, y;
  std::vector<const float*> px, py;
  std::vector<int> first, last;

  Scans() : x(kScans + 1), y(kScans + 1), px(kScans + 1), py(kScans + 1), first(kScans + 1, 1), last(kScans + 1) {
    for (int k = 1; k <= kScans; ++k) {
      // Scans lose a few points at the end as their fit limits differ.
      const int n = kPoints - (k % 7);
      x[k].resize(kPoints + 1);
      y[k].resize(kPoints + 1);
      const float boundary = 6.0f + 0.004f * static_cast<float>(k);
      for (int i = 1; i <= kPoints; ++i) {
        const float r = 5.9f + 0.0006f * static_cast<float>(i) + 1e-5f * static_cast<float>(k);
        x[k][i] = r;
        y[k][i] = 0.5f * (1.0f + std::erf((r - boundary) / 0.03f)) + 0.003f * std::sin(97.0f * r);
      }
      px[k] = x[k].data();
      py[k] = y[k].data();
      last[k] = n;
    }
  }
};

const Scans& Data() {
  static const Scans s;
  return s;
}

void BM_ScanTable200x2000(benchmark::State& state) {
  const Scans& s = Data();
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::string text = ScanTableText(s.px.data(), s.py.data(), s.first.data(), s.last.data(), kScans);
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.counters["cells"] = 2.0 * kScans * kPoints;
  state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_ScanTable200x2000)->Unit(benchmark::kMillisecond);

void BM_ColumnTable200x2000(benchmark::State& state) {
  const Scans& s = Data();
  std::size_t bytes = 0;
  for (auto _ : state) {
    std::string text = ColumnsTableText(s.px[1], s.py.data(), 1, kPoints, kScans, nullptr, s.last.data());
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.counters["cells"] = (kScans + 1.0) * kPoints;
  state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_ColumnTable200x2000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
