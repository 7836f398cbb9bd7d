// A c(s) analysis in the desktop window as a user drives it: the picture
// after Fit, the report's numbers, and a Fit stopped by a key press.
// The program's headers come first: Qt's keyword macros must not reach them.
#include "desktop_road_fixture.h"

#include <QApplication>
#include <QImage>
#include <cmath>
#include <cstdlib>

#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "fit/fit_report.h"
#include "fit/rmsd.h"
#include "numerics/statistics.h"
#include "platform/input_events.h"
#include "platform/qt/frame_window.h"
#include "desktop_support.h"
#include "plot/cwinplot.h"
#include "plot/distribution_plot.h"
#include "plot/plot_window_set.h"
#include "plot/residual_bitmap.h"

// The scan set has a member of that name.
#undef signals

namespace {

class RoadFitWindow : public DesktopRoadTest {
 protected:
  // Six scans loaded, c(s) chosen with s 1..10 and the frictional ratio
  // fitted, shown in a window of the plots' own size.
  void ContinuousAnalysis() {
    Qt().Resize(1400, 1000);
    Qt().Show();
    RunContinuous(6, "40");
  }

  // Pixels that are not white inside a plot's rectangle of the canvas.
  int Inked(const CWINPlot* p) {
    const QImage& image = Qt().Canvas().Image();
    int n = 0;
    if (!p) return 0;
    for (int y = std::max(p->plotTop, 0); y < std::min(p->plotBottom, image.height()); ++y)
      for (int x = std::max(p->plotLeft, 0); x < std::min(p->plotRight, image.width()); ++x)
        if ((image.pixel(x, y) & 0xffffff) != 0xffffff) ++n;
    return n;
  }
};

TEST_F(RoadFitWindow, PlotsStayAfterAFitThatAPaintRequestInterrupted) {
  ContinuousAnalysis();
  const PlotWindowSet& w = CurrentPlotWindows();
  ASSERT_GT(Inked(w.dataPlot), 500);
  // The window is uncovered while the fit computes: a paint request
  // arrives and Qt gets to handle it.
  int pumps = 0;
  platform::SetEventPump([&] {
    if (++pumps == 2) Qt().Invalidate(true);
    QCoreApplication::processEvents();
  });
  Window().Dispatch(215);
  platform::SetEventPump({});
  Drain();
  EXPECT_GT(pumps, 2);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_GT(Inked(w.dataPlot), 500);
  EXPECT_GT(Inked(w.residualPlot), 200);
  EXPECT_GT(Inked(DistributionPlotWindow().Plot()), 200);
  // The report tells the rmsd of the model that is shown.
  const double reported = ReportedRmsd();
  EXPECT_GT(reported, 0.0);
  EXPECT_NEAR(reported, CalcRmsd(), 5e-7);
  Qt().Resize(1200, 900);
  Drain();
  EXPECT_NEAR(ReportedRmsd(), reported, 5e-7);
}

// After a Run the report shows no step counter; a Fit then writes its
// progress where the last report stood, with none of that report's lines
// (its header, its rmsd) left standing above the progress.
TEST_F(RoadFitWindow, TheProgressOfAFitTakesThePlaceOfTheLastReport) {
  ContinuousAnalysis();
  Drain();
  EXPECT_EQ(LastFitInfoLines().line[2], "");
  // Without the scans drawn, whatever stands where the report stood is text.
  // (The display switch outlives the test: it is put back at its end.)
  struct DataShownAgain {
    ~DataShownAgain() { CurrentPlotWindows().showData = 1; }
  } shownAgain;
  CurrentPlotWindows().showData = 0;
  Qt().Invalidate(true);
  Drain();
  const QImage& image = Qt().Canvas().Image();
  // The report's last lines (runs test, vbar) lie below the eight lines of
  // progress (y = 70 .. 210), at the left end of the data plot.
  ASSERT_NE(CurrentPlotWindows().dataPlot, nullptr);
  const int left = CurrentPlotWindows().dataPlot->plotLeft * image.width() / 1400 + 4;
  auto lowerLinesInk = [&] {
    int n = 0;
    for (int y = 226; y < 270; ++y)
      for (int x = left; x < left + 40; ++x)
        if ((image.pixel(x, y) & 0xffffff) != 0xffffff) ++n;
    return n;
  };
  ASSERT_GT(lowerLinesInk(), 50) << "the report of the Run is not shown";
  int during = -1;
  platform::SetEventPump([&] {
    if (during < 0 && gFitEngineState.evaluationsThisRun >= 2) during = lowerLinesInk();
  });
  Window().Dispatch(215);
  platform::SetEventPump({});
  Drain();
  EXPECT_EQ(during, 0);
  EXPECT_NE(LastFitInfoLines().line[2], "");
  // A Run after the fit shows the counters of none.
  ui_->lenient = true;
  Window().Dispatch(213);
  Drain();
  EXPECT_EQ(LastFitInfoLines().line[2], "");
}

TEST_F(RoadFitWindow, AFitStoppedByAKeyReportsTheStateItShows) {
  ContinuousAnalysis();
  const float runRmsd = CalcRmsd();
  // The user presses a key while the third evaluation computes.
  platform::SetEventPump([&] {
    if (gFitEngineState.evaluationsThisRun >= 5 && !platform::KeyDownPending()) {
      platform::PostKeyDown('x');
      platform::SetEventPump({});
    }
  });
  ui_->lenient = true;
  Window().Dispatch(215);
  Drain();
  const double reported = ReportedRmsd();
  EXPECT_TRUE(std::isfinite(reported));
  EXPECT_GT(reported, 0.0);
  EXPECT_NEAR(reported, CalcRmsd(), 5e-7);
  EXPECT_LE(reported, runRmsd * 1.0001);
  const ContiSettings& cs = Conti();
  float largest = 0;
  for (int i = 1; i <= cs.gridSize; ++i) largest = std::max(largest, cs.distribution[i]);
  EXPECT_GT(largest, 0.0f);
}

TEST_F(RoadFitWindow, TheReportCarriesTheRunsTestAndTheHistogramOfTheResiduals) {
  ContinuousAnalysis();
  // A model that alternates around the data of one scan, point by point:
  // every point starts a new run. With N = 10 points, n+ = n- = 5:
  // mu = 6, sigma^2 = 50 (50 - 10) / (100 * 9), Z = |10 - 6 + 0.5| / sigma.
  ScanSet& s = CurrentScanSet();
  auto report = [&] {
    WindowFlags().FitInfoPending = true;
    Qt().Invalidate(true);
    Drain();
    return LastFitInfoLines().line[12];
  };
  for (int i = 1; i <= s.count; ++i)
    for (int k = 1; k <= s.points[i]; ++k) s.model[i][k] = s.signals[i][k] + (k % 2 ? 0.01f : -0.01f);
  // Residuals in two spikes at +-rmsd are far from a Gaussian histogram.
  std::string line = report();
  EXPECT_EQ(line.find("Residuals Histogram H = 0.0%"), std::string::npos) << line;
  EXPECT_EQ(line.find("Runs test Z (#stddev) = 0.00"), std::string::npos) << line;
  for (int i = 1; i <= s.count; ++i) {
    s.firstFitPoint[i] = 10;
    s.lastFitPoint[i] = i == 1 ? 19 : 9;
  }
  line = report();
  char expected[64];
  std::snprintf(expected, sizeof expected, "Runs test Z (#stddev) = %.2f, ", 4.5 / std::sqrt(2000.0 / 900.0));
  EXPECT_EQ(line.rfind(expected, 0), 0u) << line;
}

}  // namespace
