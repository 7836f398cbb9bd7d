#include <cmath>
#include <string>
#include <vector>

#include "area_fixture.h"
#include "data/rotor_speed_profile.h"
#include "numerics/ccurve.h"

#ifdef TARNEL_HAVE_QT
#include "platform/qt/qt_canvas.h"
#endif

using namespace plottest;

namespace {

void SetTemperatures(const std::vector<float>& inTimeOrder) {
  ScanSet& s = CurrentScanSet();
  for (size_t i = 1; i <= inTimeOrder.size(); ++i) s.records[static_cast<size_t>(s.order[i])].temperature = inTimeOrder[i - 1];
}

}  // namespace

class AdHocPlots : public PlotTest {
 protected:
  void SetUp() override {
    PlotTest::SetUp();
    PlotHooks().requestRepaint = [this] { ++repaints_; };
    PlotHooks().checkMenuItem = [this](int id, bool on) { checks_.push_back({id, on}); };
  }
  int repaints_ = 0;
  std::vector<std::pair<int, bool>> checks_;
};

TEST_F(AdHocPlots, TemperatureCheck) {
  struct Case {
    std::vector<float> temperatures;
    bool passes;
  } cases[] = {{{20.0f, 20.4f, 21.0f}, true},
               {{20.0f, 21.1f}, false},
               {{20.0f, 19.5f, 18.9f}, false},
               {{25.0f}, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.temperatures.size());
    ClearPlotState();
    PlotHooks().requestRepaint = [this] { ++repaints_; };
    repaints_ = 0;
    LoadScans({.scans = static_cast<int>(c.temperatures.size())}, [](int, float r) { return r; });
    SetTemperatures(c.temperatures);
    if (!c.passes) ui_.ExpectBox("ERROR", "temperature fluctuations exceed 1.0 degrees");
    EXPECT_EQ(CheckTemperatureFluctuations(1.0f), c.passes);
    EXPECT_EQ(CurrentAdHocPlot().adHocPlot != nullptr, !c.passes);
    EXPECT_EQ(repaints_, c.passes ? 0 : 2);
    EXPECT_TRUE(ui_.AllConsumed());
  }
  EXPECT_TRUE(ui_.failures.empty());
}

TEST_F(AdHocPlots, TimePlotsOfTemperatureAndRotorSpeed) {
  LoadScans({.scans = 4}, [](int, float r) { return r; });
  ScanSet& s = CurrentScanSet();
  for (int i = 1; i <= 4; ++i) {
    s.records[static_cast<size_t>(s.order[i])].temperature = 20.0f + 0.1f * i;
    s.records[static_cast<size_t>(s.order[i])].rpm = 1000.0f * i;
  }
  ShowTemperaturePlot();
  AdHocPlotArrays& a = CurrentAdHocPlot();
  ASSERT_NE(a.adHocPlot, nullptr);
  ASSERT_EQ(a.adHocCount, 4);
  for (int i = 1; i <= 4; ++i) {
    EXPECT_EQ(a.adHocArrays[1][i], static_cast<float>(300 * i));  // elapsed time, time order
    EXPECT_FLOAT_EQ(a.adHocArrays[2][i], 20.0f + 0.1f * i);
  }
  CWINPlot& t = *a.adHocPlot;
  EXPECT_EQ(t.xLabel, "elapsed time (sec)");
  EXPECT_EQ(t.yLabel, "temperature (C)");
  EXPECT_EQ(t.GetCurveStyle(0), 6);
  EXPECT_TRUE(t.connectPoints);
  EXPECT_EQ(t.plotTop, 50);
  EXPECT_EQ(t.plotBottom, 950);
  EXPECT_FALSE(a.rotorSpeedOverlay);

  ShowRotorSpeedPlot();
  ASSERT_NE(a.adHocPlot, nullptr);
  EXPECT_EQ(a.adHocPlot->yLabel, "rpm");
  EXPECT_EQ(a.adHocArrays[2][3], 3000.0f);
  EXPECT_TRUE(a.adHocPlot->connectPoints);  // no speed profile in use
  EXPECT_TRUE(a.rotorSpeedOverlay);
  EXPECT_EQ(repaints_, 2);
}

TEST_F(AdHocPlots, SymbolSizeAndCapsFollowTheScanCount) {
  struct Case {
    int scans, symbol, cap;
  } cases[] = {{99, 10, 15}, {100, 5, 7}};
  for (const Case& c : cases) {
    ClearPlotState();
    LoadScans({.scans = c.scans, .points = 10}, [](int, float r) { return r; });
    ShowTemperaturePlot();
    EXPECT_EQ(CurrentAdHocPlot().adHocPlot->symbolSize, c.symbol);
    EXPECT_EQ(ErrorBarHalfWidth, c.cap);
  }
}

TEST_F(AdHocPlots, HistogramCommandYesChangesOnlyThePreference) {
  auto noise = [](int scan, float r) { return 0.01f * std::sin(91.0f * r + static_cast<float>(scan)); };
  LoadScans({.scans = 5, .points = 200}, noise);
  SetPlotAxisTitles();
  PlotWindowSet& w = CurrentPlotWindows();
  ui_.ExpectBox("SET PREFERENCE", "switch default histogram display off?", platform::IDYES);
  ShowResidualsHistogram();
  EXPECT_FALSE(w.showHistogram);
  EXPECT_EQ(w.residualPlot->plotRight, 1364);  // the residual plot takes the width back
  EXPECT_EQ(CurrentAdHocPlot().adHocPlot, nullptr);
  EXPECT_EQ(checks_, (std::vector<std::pair<int, bool>>{{943, false}}));

  ui_.ExpectBox("SET PREFERENCE", "switch default histogram display on?", platform::IDNO);
  ShowResidualsHistogram();
  EXPECT_FALSE(w.showHistogram);
  AdHocPlotArrays& a = CurrentAdHocPlot();
  ASSERT_NE(a.adHocPlot, nullptr);
  EXPECT_EQ(a.adHocPlot->xLabel, "residual value");
  EXPECT_EQ(a.adHocPlot->yLabel, "frequency");
  ASSERT_EQ(a.adHocPlot->curveCount, 2);
  EXPECT_EQ(a.adHocPlot->GetCurveStyle(0), 21);
  EXPECT_EQ(a.adHocPlot->GetCurveStyle(1), 12);
  EXPECT_EQ(a.adHocPlot->GetCurveColor(1), 0x0000ffu);
  double total = 0;
  for (int k = 1; k <= a.adHocCount; ++k) total += a.adHocArrays[2][k];
  EXPECT_EQ(total, 5 * 200);
  EXPECT_EQ(checks_.size(), 1u);
  EXPECT_TRUE(ui_.failures.empty());
}

TEST_F(AdHocPlots, BuffersAreFreedAndReplacedWithoutLeaks) {
  LoadScans({.scans = 6}, [](int, float r) { return r; });
  const int curves = CCurve::LiveCount();
  ShowTemperaturePlot();
  ShowRotorSpeedPlot();  // before any painting: the first plot is replaced
  EXPECT_EQ(CCurve::LiveCount(), curves + 1);
  AdHocPlotArrays& a = CurrentAdHocPlot();
  a.adHocKeepRanges = 1;
  FreeAdHocPlotArrays();
  EXPECT_EQ(CCurve::LiveCount(), curves);
  EXPECT_EQ(a.adHocPlot, nullptr);
  EXPECT_EQ(a.adHocArrays[1], nullptr);
  EXPECT_EQ(a.adHocCount, 0);
  EXPECT_FALSE(a.rotorSpeedOverlay);
  EXPECT_FALSE(a.adHocKeepRanges);
}

#ifdef TARNEL_HAVE_QT
TEST_F(AdHocPlots, PaintingShowsThePlotOnceAndFreesIt) {
  LoadScans({.scans = 6}, [](int, float r) { return r; });
  ShowRotorSpeedPlot();
  EnsureGuiApp();
  platform::qt::QtCanvas canvas(700, 500);
  canvas.Clear();
  int overlays = 0;
  EXPECT_TRUE(PaintPendingAdHocPlot(canvas, [&] { ++overlays; }));
  EXPECT_EQ(overlays, 1);
  EXPECT_TRUE(CurrentAdHocPlot().adHocShown);
  EXPECT_EQ(CurrentAdHocPlot().adHocPlot, nullptr);
  int dark = 0;
  const platform::Bitmap shown = canvas.ToBitmap();
  for (platform::COLORREF c : shown.Pixels()) dark += c == 0;
  EXPECT_GT(dark, 500);  // frame, ticks, labels and symbols
  EXPECT_FALSE(PaintPendingAdHocPlot(canvas));
}
#endif
