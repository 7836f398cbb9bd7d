// Recording plots: a data plot of many scans, and one extra curve drawn over
// it; the data plot of n scans built curve by curve; the pointer over the
// plots; the M* screen's button faces replayed.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include <filesystem>

#include "app/plot_input/marker_moves.h"
#include "app/window/parameter_preferences.h"
#include "app/window/shell_services.h"
#include "app/window/txla_window.h"
#include "app/window/window_services.h"
#include "app/wiring/window_wiring.h"
#include "equilibrium/mstar/mstar_screen.h"
#include "data/scan_set.h"
#include "fit/model_params.h"
#include "numerics/arrays.h"
#include "platform/frame_window.h"
#include "platform/metafile.h"
#include "platform/program_paths.h"
#include "platform/scripted_ui.h"
#include "plot/mstar_plots.h"
#include "plot/screen_button.h"
#include "plot/cwinplot.h"
#include "plot/direct_curve.h"
#include "plot/plot_window_set.h"

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

// The data plot of n scans of 1000 points made as the program makes it:
// each scan's curve added, styled and coloured in turn, then the plot
// scaled. The time per plot grows with the points added, n x 1000.
void BM_AddScanCurves(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  Scans scans(n, 1000);
  for (auto _ : state) {
    CWINPlot plot;
    plot.SetPlotRect(50, 10, 475, 990);
    for (auto& c : scans.curves) {
      plot.AddCurve(c.get());
      plot.SetCurveStyle(plot.curveCount - 1, 6);
      plot.SetCurveColor(plot.curveCount - 1, 0x0000ff);
    }
    plot.Rescale();
    benchmark::DoNotOptimize(plot.yScale);
  }
  state.SetItemsProcessed(state.iterations() * n * 1000);
  state.SetComplexityN(n);
}
BENCHMARK(BM_AddScanCurves)->RangeMultiplier(2)->Range(25, 400)->Unit(benchmark::kMillisecond)->Complexity();

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


// A pointer move over the data plot of 50 scans of 2000 points, on a
// headless window: the marker hover and the scan-name hit tests of every
// scan in the data and the residual plot. The pointer lies right of the
// scans' middle, between their curves, so no point is hit and each test
// walks its scan up to the pointer.
void BM_PointerMoveHover(benchmark::State& state) {
  const auto dir = std::filesystem::temp_directory_path() / "tarnel_bench_pointer";
  std::filesystem::create_directories(dir);
  ParamsIniPath() = (dir / "tarnelparams.ini").string();
  LastFolderIniPath() = (dir / "tarnel.ini").string();
  platform::ProgramPaths.ProgramFolder = dir.string() + "/";
  platform::ScriptedUserInterface ui;
  ui.lenient = true;
  platform::ScopedUI scope(ui);
  const int count = 50, points = 2000;
  ScanSet& s = CurrentScanSet();
  AllocateScanTables(s, count);
  for (int k = 1; k <= count; ++k) {
    s.points[k] = points;
    s.radii[k] = vector(1, points);
    s.signals[k] = vector(1, points);
    s.residuals[k] = vector(1, points);
    for (int j = 1; j <= points; ++j) {
      s.radii[k][j] = 6.0f + 1.2f * (j - 1) / points;
      s.signals[k][j] = 0.1f * k;  // row 400 - 10 k
      s.residuals[k][j] = 0;
    }
  }
  PlotWindowSet& p = CurrentPlotWindows();
  // The window frees its plots.
  auto* data = new CWINPlot();
  auto* residuals = new CWINPlot();
  data->xScale = 1000, data->xOffset = -5900, data->yScale = -100, data->yOffset = 400;
  residuals->xScale = 1000, residuals->xOffset = -5900, residuals->yScale = -100, residuals->yOffset = 700;
  p.dataPlot = data;
  p.residualPlot = residuals;
  p.dataTop = 50;
  p.dataBottom = 475;
  gModelParams.meniscus = 5.95f;
  gModelParams.bottom = 7.25f;
  // The services the program installs at its start.
  Services() = ProgramShellServices();
  {
    TXLAWindow w(nullptr, "bench");
    w.Create();
    w.Frame().Resize(1400, 1000);
    w.Paint(true);
    // Column of 6.9 cm; rows midway between the curves of scans 1, 2 and 3.
    const int x = 1000, y[2] = {385, 375};
    int i = 0;
    for (auto _ : state) w.OnMouse(platform::MouseMessage::MouseMove, 0, x, y[++i & 1]);
    state.SetItemsProcessed(state.iterations() * count * 2);
  }
  FreeScanSetArrays(s);
}
BENCHMARK(BM_PointerMoveHover)->Unit(benchmark::kMicrosecond);

}  // namespace

#ifdef TARNEL_HAVE_QT
// Qt's keyword macros must not reach the code above.
#include <QtGlobal>

#include "platform/qt/qt_app.h"
#include "platform/qt/qt_canvas.h"

namespace {

// The faces of the M* screen's 4N + 9 buttons for N = 8 data sets, recorded
// once and replayed onto a 1400 x 1000 canvas as a paint does.
void BM_MStarScreenFaces(benchmark::State& state) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "bench_plot";
  static char* argv[] = {name, nullptr};
  platform::qt::EnsureApplication(argc, argv);
  const int N = static_cast<int>(state.range(0));
  MStarState st;
  st.count = N;
  st.sets.assign(static_cast<size_t>(N) + 1, MStarDataSet{});
  for (auto* v : {&st.k, &st.ca, &st.mwavg, &st.mwLin}) v->assign(static_cast<size_t>(N) + 1, 0.1f);
  std::vector<std::unique_ptr<CScreenButton>> buttons;
  for (const MStarButtonSpec& spec : MStarButtonLayout(st, true, false, 1400, 1000))
    if (spec.exists) buttons.push_back(MakeMStarButton(spec));
  platform::qt::QtCanvas canvas(1400, 1000);
  for (auto _ : state) {
    for (auto& b : buttons) b->Paint(canvas);
    benchmark::DoNotOptimize(canvas.Image().constBits());
  }
  state.counters["buttons"] = static_cast<double>(buttons.size());
}
BENCHMARK(BM_MStarScreenFaces)->Arg(8)->Unit(benchmark::kMillisecond);

}  // namespace
#endif

BENCHMARK_MAIN();
