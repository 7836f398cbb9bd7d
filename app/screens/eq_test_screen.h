#pragma once
// The plots of the test of approach to equilibrium while they take over the
// data and residual plots: the third, small plot and the curves the three
// show, and leaving the test (a load, a model command or the parameter
// dialog leaves it as well as the test's own key).
#include <memory>
#include <vector>

class CCurve;
class CWINPlot;
class TXLAWindow;

struct EqTestPlots {
  std::unique_ptr<CWINPlot> testPlot;
  std::vector<std::unique_ptr<CCurve>> curves;
};
EqTestPlots& EqTestPlotSet();

// A curve of x against y (1-based) that the test's plots keep until the
// next drawing or the end of the test.
CCurve* EqTestCurve(const std::vector<float>& x, const std::vector<float>& y);
void FreeEqTestCurves();

// Leaves the test: its curves and third plot go, and the data and residual
// plots are drawn anew, titled by the kind of data.
void ExitEqTestMode(TXLAWindow& w);
// The third plot while the test shows it (null otherwise).
CWINPlot* EqTestPlot();
