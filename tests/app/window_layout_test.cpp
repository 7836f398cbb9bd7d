// Where the window puts its plots and its texts: light scattering data loaded
// after a c(s) analysis take the whole plot area again, and the fit report
// of a small window leaves the data plot visible.
// The program's headers come first: Qt's keyword macros must not reach them.
#include "desktop_road_fixture.h"

#include <QApplication>
#include <QImage>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "app/plot_events/plot_mouse.h"
#include "app/window/window_services.h"
#include "platform/frame_window.h"
#include "platform/window_messages.h"
#include "plot/cwinplot.h"
#include "plot/distribution_plot.h"
#include "plot/plot_window_set.h"
#include "platform/qt/frame_window.h"
#include "desktop_support.h"

// The scan set has a member of that name.
#undef signals

namespace {

class WindowLayout : public DesktopRoadTest {
 protected:
  void Shown(int width, int height) {
    Qt().Resize(width, height);
    Qt().Show();
    Qt().Invalidate(true);
    Drain();
  }
  void Repainted() {
    Qt().Invalidate(true);
    Drain();
  }
  // Pixels other than the white background in the rows [top, bottom) and
  // columns [left, right) of the client area.
  int InkIn(int left, int top, int right, int bottom) {
    const QImage& image = Qt().Canvas().Image();
    int n = 0;
    for (int y = std::max(0, top); y < std::min(image.height(), bottom); ++y)
      for (int x = std::max(0, left); x < std::min(image.width(), right); ++x)
        if ((image.pixel(x, y) & 0xffffff) != 0xffffff) ++n;
    return n;
  }
  // c(s) over 1..10 S, run once: the distribution takes the lower third.
  void ContinuousRun() { RunContinuous(5, "30"); }
  // Three light scattering sets of 40 lag times 1e-7 .. 1 s, single
  // exponential decays.
  std::vector<std::string> WriteDlsSets() {
    std::vector<std::string> paths;
    for (int set = 1; set <= 3; ++set) {
      char line[160];
      std::string text = "set " + std::to_string(set) + "\n";
      std::snprintf(line, sizeof line, "A %f %d %.2f %f %f %f %e\n", 20.0, 10 * set, 1000.0, 1.333, 0.01002, 90.0,
                    6.328e-7);
      text += line;
      for (int k = 0; k < 40; ++k) {
        const double lag = std::pow(10.0, -7.0 + 7.0 * k / 39.0);
        std::snprintf(line, sizeof line, "   %1.5e  %1.5e \n", lag, 0.8 * std::exp(-2.0 * 1000.0 * set * lag));
        text += line;
      }
      const std::string path = (dir_ / ("0000" + std::to_string(set) + ".dlsdat")).string();
      std::ofstream(path) << text;
      paths.push_back(path);
    }
    return paths;
  }
  void LoadDls() {
    ui_->ExpectFiles("select files in set 1 to fit", Chosen(WriteDlsSets()));
    Window().Dispatch(298);
    ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
    Drain();
  }
};

TEST_F(WindowLayout, LightScatteringDataAfterADistributionTakeTheWholePlotArea) {
  Shown(1000, 700);
  ContinuousRun();
  const PlotWindowSet& w = CurrentPlotWindows();
  ASSERT_NE(w.dataPlot, nullptr);
  ASSERT_EQ(w.dataPlot->plotBottom, 350) << "the c(s) run did not make room for its distribution";
  LoadDls();
  ASSERT_EQ(CurrentDataTypeFlags().dls, 1);
  ASSERT_NE(w.dataPlot, nullptr);
  ASSERT_NE(w.residualPlot, nullptr);
  // The plain screen: data 50..475, residuals from 550 (the bitmap strip of
  // three sets above them) down to 950.
  EXPECT_EQ(w.dataPlot->plotTop, 50);
  EXPECT_EQ(w.dataPlot->plotBottom, 475);
  EXPECT_EQ(w.residualPlot->plotTop, 550 + (w.showBitmap ? 3 : 0));
  EXPECT_EQ(w.residualPlot->plotBottom, 950);
  Repainted();
  // The rows that the distribution had (630..950 of 1000) show the
  // residuals of the new data, which before a fit are the data themselves.
  const int height = Qt().Canvas().Image().height(), width = Qt().Canvas().Image().width();
  EXPECT_GT(InkIn(width / 10, height * 66 / 100, width * 9 / 10, height * 92 / 100), 300);
  // Nothing is drawn between the data plot's axis labels and the residual
  // plot's frame, where the compressed residual plot stood.
  EXPECT_EQ(InkIn(width / 10, height * 510 / 1000, width * 9 / 10, height * 525 / 1000), 0);
}

// At the plots' own size the report stands right of the data plot's frame:
// the axis label and the tick values left of it read as without a report.
TEST_F(WindowLayout, TheReportLeavesTheDataPlotsAxisLabelUncovered) {
  Shown(1400, 1000);
  ContinuousRun();
  Repainted();
  const CWINPlot* plot = CurrentPlotWindows().dataPlot;
  ASSERT_NE(plot, nullptr);
  ASSERT_TRUE(WindowFlags().FitInfoShown);
  const QImage& canvas = Qt().Canvas().Image();
  const int frame = plot->plotLeft * canvas.width() / 1400;
  ASSERT_GT(frame, 40);
  const QImage withReport = canvas.copy(0, 0, frame - 1, plot->plotBottom);
  // The report is there, right of the frame.
  EXPECT_GT(InkIn(frame, 8, frame + 300, 30), 20);
  WindowFlags().FitInfoShown = false;
  Repainted();
  const QImage without = Qt().Canvas().Image().copy(0, 0, frame - 1, plot->plotBottom);
  int differing = 0;
  for (int y = 0; y < without.height(); ++y)
    for (int x = 0; x < without.width(); ++x)
      if (withReport.pixel(x, y) != without.pixel(x, y)) ++differing;
  EXPECT_EQ(differing, 0);
}

// c(M) takes values like 5e-05 per dalton: the labels of its right axis end
// inside the window, clear of its right edge.
TEST_F(WindowLayout, TheMolarMassDistributionsRightLabelsEndInsideTheWindow) {
  Shown(1400, 1000);
  LoadRun(5);
  gFitEngineState.fitTINoise = 0;
  ui_->lenient = true;
  Window().Dispatch(235);
  forms_.Expect({"", {{405, "30"}}, {{431, 0}, {455, 0}, {434, 0}, {436, 0}}});
  Window().Dispatch(212);
  Window().Dispatch(213);
  Drain();
  Repainted();
  const CWINPlot* plot = DistributionPlotWindow().Plot();
  ASSERT_NE(plot, nullptr);
  ASSERT_LT(plot->yMax, 1e-3f) << "not a c(M) per dalton";
  const int width = Qt().Canvas().Image().width();
  // The labels are there, right of the frame...
  EXPECT_GT(InkIn(plot->plotRight * width / 1400 + 12, plot->plotTop, width - 4, plot->plotBottom), 100);
  // ...and none reaches the window's last columns.
  EXPECT_EQ(InkIn(width - 4, plot->plotTop - 10, width, plot->plotBottom + 10), 0);
}

// A zoomed data plot shows nothing beside its frame: no data symbols, model
// curves or marker lines of values the zoom left out. A new load starts a
// new zoom history: zoom back does not return to a range of the data before.
TEST_F(WindowLayout, AZoomDrawsNothingBesideTheFrameAndALoadStartsANewHistory) {
  Shown(1400, 1000);
  ContinuousRun();
  CWINPlot* plot = CurrentPlotWindows().dataPlot;
  ASSERT_NE(plot, nullptr);
  ASSERT_GT(gModelParams.meniscus, 5.9f);
  // A band drawn from 6.2 to 6.5 cm and over the middle of the boundaries.
  PushRangeHistory(DataRange{6.2f, 6.5f, 0.2f, 0.7f});
  CurrentZoomBand().zoomed = 1;
  plot->SetRanges(6.2f, 6.5f, 0.2f, 0.7f);
  RedrawDataPlot(false);
  Repainted();
  const QImage& image = Qt().Canvas().Image();
  const int left = plot->plotLeft * image.width() / 1400, right = plot->plotRight * image.width() / 1400;
  const int top = plot->plotTop * image.height() / 1000, bottom = plot->plotBottom * image.height() / 1000;
  // Coloured pixels (scans, models, markers; the frame, ticks and labels are
  // black or grey) in the strips left and right of the frame and above it.
  auto coloured = [&](int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = std::max(0, y0); y < std::min(image.height(), y1); ++y)
      for (int x = std::max(0, x0); x < std::min(image.width(), x1); ++x) {
        const QRgb p = image.pixel(x, y);
        const int r = qRed(p), g = qGreen(p), b = qBlue(p);
        if (std::max({r, g, b}) - std::min({r, g, b}) > 40) ++n;
      }
    return n;
  };
  ASSERT_GT(coloured(left + 2, top + 2, right - 1, bottom - 1), 500) << "the zoomed scans are not drawn";
  EXPECT_EQ(coloured(0, top - 2, left - 1, bottom + 2), 0);
  EXPECT_EQ(coloured(right + 2, top - 2, image.width(), bottom + 2), 0);
  EXPECT_EQ(coloured(left, top - 12, right, top - 1), 0);
  ASSERT_EQ(RangeHistory.depth, 1);

  // Other data: zoom back has nothing of the earlier set's to go to.
  LoadRun(4);
  EXPECT_EQ(RangeHistory.depth, 0);
  plot = CurrentPlotWindows().dataPlot;
  ASSERT_NE(plot, nullptr);
  const float xMin = plot->xMin, xMax = plot->xMax;
  Window().OnMouse(platform::MouseMessage::RButtonDblClk, platform::MK_RBUTTON, image.width() / 2,
                   (plot->plotTop + plot->plotBottom) / 2 * image.height() / 1000);
  EXPECT_FLOAT_EQ(CurrentPlotWindows().dataPlot->xMin, xMin);
  EXPECT_FLOAT_EQ(CurrentPlotWindows().dataPlot->xMax, xMax);
  EXPECT_EQ(RangeHistory.depth, 0);
}

}  // namespace
