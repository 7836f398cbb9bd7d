#include "app/screens/eq_test_screen.h"

#include <algorithm>

#include "app/window/window_services.h"
#include "equilibrium/eqtools/eq_test_mode.h"
#include "numerics/ccurve.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"

EqTestPlots& EqTestPlotSet() {
  static EqTestPlots p;
  return p;
}

void FreeEqTestCurves() {
  PlotWindowSet& w = CurrentPlotWindows();
  for (CWINPlot* p : {w.dataPlot, w.residualPlot, EqTestPlotSet().testPlot.get()})
    if (p && EqTest().testPlots) p->ClearCurves();
  EqTestPlotSet().curves.clear();
}

CCurve* EqTestCurve(const std::vector<float>& x, const std::vector<float>& y) {
  const int n = static_cast<int>(std::min(x.size(), y.size())) - 1;
  EqTestPlotSet().curves.push_back(std::make_unique<CCurve>(const_cast<float*>(x.data()),
                                                            const_cast<float*>(y.data()), std::max(n, 0), 1, 1));
  return EqTestPlotSet().curves.back().get();
}

void ExitEqTestMode(TXLAWindow& w) {
  EqTestSeriesSet& t = EqTest();
  t.testMode = 0;
  t.selecting = false;
  if (!t.testPlots) return;
  FreeEqTestCurves();
  t.series.clear();
  t.curveCount = -1;
  EqTestPlotSet().testPlot.reset();
  t.testPlots = false;
  // The data and residual plots anew, titled by the kind of data.
  SetPlotAxisTitles();
  UpdateResidualsPlot(true);
  UpdateResidualHistogram();
  RedrawDataPlot(true);
  RequestRepaint(w);
}

CWINPlot* EqTestPlot() { return EqTest().testPlots ? EqTestPlotSet().testPlot.get() : nullptr; }
