// Recording plots: a data plot of many scans, and one extra curve drawn over it.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "platform/metafile.h"
#include "plot/cwinplot.h"
#include "plot/direct_curve.h"

namespace {

struct Scans {
  std::vector<std::vector<float>> x, y;
  std::vector<std::unique_ptr<CVector>> vx, vy;
  std::vector<std::unique_ptr<CCurve>> curves;
  Scans(int count, int points) {
    for (int s = 0; s < count; ++s) {
      x.emplace_back(points);
      y.emplace_back(points);
      for (int i = 0; i < points; ++i) {
        x[s][i] = 6.0f + 1.2f * i / points;
        y[s][i] = 1.0f / (1.0f + std::exp(-(x[s][i] - 6.2f - 0.04f * s) * 60.0f));
      }
      vx.push_back(std::make_unique<CVector>());
      vy.push_back(std::make_unique<CVector>());
      vx.back()->AttachData(x[s].data(), points);
      vy.back()->AttachData(y[s].data(), points);
      curves.push_back(std::make_unique<CCurve>(vx.back().get(), vy.back().get()));
    }
  }
};

void BM_PlotRecord(benchmark::State& state) {
  Scans scans(static_cast<int>(state.range(0)), 1500);
  CWINPlot plot;
  plot.SetPlotRect(50, 10, 475, 990);
  plot.SetDefaultStyle(2);
  for (auto& c : scans.curves) plot.AddCurve(c.get());
  for (auto _ : state) benchmark::DoNotOptimize(plot.Plot());
  state.SetItemsProcessed(state.iterations() * state.range(0) * 1500);
}
BENCHMARK(BM_PlotRecord)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond);

void BM_DirectCurve(benchmark::State& state) {
  Scans scans(1, static_cast<int>(state.range(0)));
  CWINPlot plot;
  plot.SetPlotRect(50, 10, 475, 990);
  plot.AddCurve(scans.curves[0].get());
  for (auto _ : state) {
    HMETAFILE mf = DrawCurveInWindow(&plot, scans.curves[0].get(), 0x0000ff, -1, 1);
    platform::DeleteMetaFile(mf);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_DirectCurve)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
