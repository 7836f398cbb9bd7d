#include "app/commands/model/boundary_analysis_commands.h"

#include <memory>
#include <vector>

#include "app/window/road_services.h"
#include "app/window/txla_window.h"
#include "distributions/analysis/extrapolation_plot.h"
#include "distributions/analysis/lsgs_extrapolation.h"
#include "distributions/analysis/van_holde_weischet.h"
#include "numerics/ccurve.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"

namespace {

// The graph of the extrapolation plot and the curves it draws (owned here:
// a CWINPlot does not own its curves).
struct ExtrapolationGraph {
  std::unique_ptr<CWINPlot> plot;
  std::vector<std::unique_ptr<CCurve>> curves;
  void Release() {
    plot.reset();
    curves.clear();
  }
};

ExtrapolationGraph& Graph() {
  static ExtrapolationGraph* g = new ExtrapolationGraph();
  return *g;
}

// Per row the fraction s-values at x = 1/sqrt(t) that their lines took,
// coloured as the scans;
// then per fraction its line down to x = 0 in the colour of the first row.
void RebuildExtrapolationGraph() {
  ExtrapolationGraph& g = Graph();
  g.Release();
  const ExtrapolationPlotData& d = ExtrapolationPlot();
  if (!d.shown || d.rows < 1 || d.fractions < 1) return;
  const PlotWindowSet& w = CurrentPlotWindows();
  g.plot = std::make_unique<CWINPlot>();
  g.plot->SetPlotRect(w.dataTop, w.layoutLeft, w.dataBottom, w.layoutRight);
  g.plot->symbolSize = 5;
  std::vector<float> x, y;
  for (int k = 1; k <= d.rows; ++k) {
    ExtrapolationPlotRowPoints(d, k, x, y);
    if (x.empty()) continue;
    g.curves.push_back(std::make_unique<CCurve>(x.data(), y.data(), static_cast<int>(x.size()), 0, 0));
    g.plot->AddCurve(g.curves.back().get());
    g.plot->SetCurveColor(g.plot->curveCount - 1, ScanColor(k));
    g.plot->SetCurveStyle(g.plot->curveCount - 1, 2);
  }
  const platform::COLORREF lineColour = ScanColor(1);
  std::vector<float> lx(static_cast<size_t>(d.rows) + 1), ly(lx.size());
  for (int j = 1; j <= d.fractions; ++j) {
    for (int k = 0; k <= d.rows; ++k) {
      lx[k] = k < d.rows ? d.x[k + 1] : 0.0f;
      ly[k] = d.Line(j, lx[k]);
    }
    g.curves.push_back(std::make_unique<CCurve>(lx.data(), ly.data(), d.rows + 1, 0, 0));
    g.plot->AddCurve(g.curves.back().get());
    g.plot->SetCurveColor(g.plot->curveCount - 1, lineColour);
    g.plot->SetCurveStyle(g.plot->curveCount - 1, -1);
  }
  g.plot->SetXLabel("1/sqrt(time) [1/sqrt(sec)]");
  g.plot->SetYLabel("s(app) [S]");
  g.plot->Rescale();
  g.plot->Plot();
}

}  // namespace

void InstallBoundaryAnalyses(TXLAWindow& window) {
  RoadServices& r = Road();
  r.runVanHoldeWeischet = [] { RunVanHoldeWeischet(); };
  r.runLsgs = [] { RunLsgs(); };
  TXLAWindow* w = &window;
  ExtrapolationPlotDisplay().changed = [w] {
    RebuildExtrapolationGraph();
    w->Frame().Invalidate(true);
  };
  r.extrapolationPlot = []() -> CWINPlot* {
    return ExtrapolationPlot().shown ? Graph().plot.get() : nullptr;
  };
}

void UninstallBoundaryAnalyses() {
  ExtrapolationPlotDisplay().changed = nullptr;
  Graph().Release();
}
