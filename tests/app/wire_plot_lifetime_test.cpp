// The data, residual and histogram plots view the curves of the scan set.
// Every way the scans go (a new load, a reload, the window itself going)
// must take the plots with them, or the next drawing reads freed memory.
#include <algorithm>

#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"
#include "road_support.h"

namespace {

class WirePlotLifetimeTest : public RoadTest {
 protected:
  void LoadRun() {
    RoadTest::LoadRun(3);
  }
  // True when some plot still holds a curve of the scan set.
  static bool PlotsViewScans() {
    const ScanSet& s = CurrentScanSet();
    const PlotWindowSet& w = CurrentPlotWindows();
    for (const CWINPlot* p : {w.dataPlot, w.residualPlot})
      if (p)
        for (const CCurve* c : p->curves)
          for (const auto* table : {&s.dataCurve, &s.residualCurve, &s.modelCurve, &s.signal2Curve})
            if (std::find(table->begin(), table->end(), c) != table->end()) return true;
    return false;
  }
};

}  // namespace

TEST_F(WirePlotLifetimeTest, PlotsGoBeforeTheScansTheyShow) {
  Window();
  LoadRun();
  ASSERT_NE(CurrentPlotWindows().dataPlot, nullptr);
  ASSERT_TRUE(PlotsViewScans());

  // A second load frees the first set: the plots of the new one are new.
  LoadRun();
  EXPECT_TRUE(PlotsViewScans());

  // The window goes while its scans stay loaded: its plots go with it, and a
  // window opened afterwards redraws without them.
  window_.reset();
  const PlotWindowSet& w = CurrentPlotWindows();
  EXPECT_EQ(w.dataPlot, nullptr);
  EXPECT_EQ(w.residualPlot, nullptr);
  EXPECT_EQ(w.histogramPlot, nullptr);
  FreeScanData();
  Window();
  RelayoutAndRedrawPlots();
  EXPECT_FALSE(PlotsViewScans());
  LoadRun();
  EXPECT_TRUE(PlotsViewScans());
}
