// The program's headers come first: Qt's keyword macros must not reach them.
#include "road_support.h"

#include <QApplication>
#include <QImage>

#include "app/window/program_options.h"
#include "fit/rmsd.h"
#include "platform/draw_context.h"
#include "desktop_support.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"

namespace {

std::vector<std::string> Lines(const platform::RecordingDC& dc) {
  std::vector<std::string> out;
  for (const std::string& d : dc.Describe())
    if (d.rfind("MoveTo", 0) == 0 || d.rfind("LineTo", 0) == 0) out.push_back(d);
  return out;
}

class RoadPaint : public RoadTest {
 protected:
  void LoadRun() {
    RoadTest::LoadRun(3);
    ASSERT_NE(CurrentPlotWindows().dataPlot, nullptr);
  }
};

TEST_F(RoadPaint, DashedMarkersDivideThePlotHeightAndLeaveTheBottomEmpty) {
  LoadRun();
  TXLAWindow& w = Window();
  w.ClientWidthF = 1400;
  w.ClientHeightF = 1000;
  const CWINPlot& plot = *CurrentPlotWindows().dataPlot;
  const int top = plot.plotTop, bottom = plot.plotBottom;

  platform::RecordingDC none, one, solid, three;
  DrawLimitMarkers(none, w, 300, kFitRangeColor, 0);
  EXPECT_TRUE(Lines(none).empty());
  DrawLimitMarkers(one, w, 300, kFitRangeColor, 1);
  DrawVerticalMarker(solid, w, 300, kFitRangeColor);
  EXPECT_EQ(one.Describe(), solid.Describe());
  EXPECT_EQ(Lines(solid), (std::vector<std::string>{"MoveTo(300," + std::to_string(top) + ")",
                                                     "LineTo(300," + std::to_string(bottom) + ")"}));

  DrawLimitMarkers(three, w, 300, kFitRangeColor, 3);
  const double seg = (bottom - top) / 7.0;
  std::vector<std::string> expected;
  for (int i = 1; i <= 3; ++i) {
    const double y1 = top + (2.0 * i - 2.0) * seg;
    expected.push_back("MoveTo(300," + std::to_string(static_cast<int>(std::floor(y1))) + ")");
    expected.push_back("LineTo(300," + std::to_string(static_cast<int>(std::floor(y1 + seg))) + ")");
  }
  EXPECT_EQ(Lines(three), expected);
  // The marker of a radius sits where the plot draws that radius.
  EXPECT_EQ(MarkerColumn(w, 6.5f), PixelTrunc(plot.xScale * 6.5 + plot.xOffset));
}

TEST_F(RoadPaint, APaintWithoutEraseBecomesOneErasingRepaint) {
  TXLAWindow& w = Window();
  auto& frame = Headless(w);
  // Without data only the first paint's disclaimer shows.
  w.Paint(true);
  EXPECT_FALSE(WindowFlags().DisclaimerTextPending);
  EXPECT_FALSE(WindowFlags().EraseRepaintPending);
  LoadRun();
  const int before = frame.invalidations;
  w.Paint(false);
  EXPECT_TRUE(WindowFlags().EraseRepaintPending);
  EXPECT_EQ(frame.invalidations, before + 1);
  EXPECT_TRUE(frame.pendingErase);
  frame.Update();
  EXPECT_FALSE(WindowFlags().EraseRepaintPending);
  // Nothing is painted while a run computes or a load dialog is open.
  w.RunBusy = true;
  w.Paint(false);
  EXPECT_FALSE(WindowFlags().EraseRepaintPending);
  w.RunBusy = false;
}

class RoadPaintQt : public RoadPaint {
 protected:
  void SetUp() override {
    RoadPaint::SetUp();
    StartOffscreenDesktop();
  }
  void TearDown() override {
    window_.reset();
    platform::SetFrameWindowFactory({});
    RoadPaint::TearDown();
  }
  QImage Shot() {
    const std::string path = (dir_ / "shot.png").string();
    EXPECT_TRUE(Window().Frame().SaveClientImage(path, 1400, 1000));
    return QImage(QString::fromStdString(path));
  }
  // Pixels of one colour (0x00BBGGRR) in a column over the data plot.
  static int InColumn(const QImage& image, int x, platform::COLORREF c) {
    const CWINPlot& p = *CurrentPlotWindows().dataPlot;
    const QRgb want = qRgb(platform::GetRValue(c), platform::GetGValue(c), platform::GetBValue(c));
    int n = 0;
    for (int y = p.plotTop; y < p.plotBottom; ++y) n += (image.pixel(x, y) & 0xffffff) == (want & 0xffffff);
    return n;
  }
};

TEST_F(RoadPaintQt, MarkersFollowTheirValuesAndTheCursorLineUndoesItself) {
  LoadRun();
  ModelParams& mp = gModelParams;
  mp.meniscus = 5.955f;
  mp.bottom = 7.18f;
  SetDefaultMeniscusBottomLimits();
  TXLAWindow& w = Window();
  QImage image = Shot();
  EXPECT_GT(InColumn(image, MarkerColumn(w, mp.meniscus), kMeniscusColor), 100);
  EXPECT_GT(InColumn(image, MarkerColumn(w, mp.bottom), kBottomColor), 100);
  EXPECT_GT(InColumn(image, MarkerColumn(w, CurrentScanSet().rightFitLimit), kFitLimitColor), 100);
  EXPECT_GT(InColumn(image, MarkerColumn(w, gFitEngineState.bottomMin), kFitRangeColor), 50);
  // A range limit beyond the plot's radii would stand beside its frame: it
  // is not drawn.
  const CWINPlot& plot = *CurrentPlotWindows().dataPlot;
  if (gFitEngineState.bottomMax > plot.xMax) {
    EXPECT_EQ(InColumn(image, MarkerColumn(w, gFitEngineState.bottomMax), kFitRangeColor), 0);
  } else {
    EXPECT_GT(InColumn(image, MarkerColumn(w, gFitEngineState.bottomMax), kFitRangeColor), 50);
  }

  // A meniscus of 0 takes the dashed ranges with it, not the bottom.
  const float menMax = gFitEngineState.meniscusMax;
  mp.meniscus = 0;
  image = Shot();
  EXPECT_EQ(InColumn(image, MarkerColumn(w, gFitEngineState.bottomMax), kFitRangeColor), 0);
  EXPECT_EQ(InColumn(image, MarkerColumn(w, menMax), kFitRangeColor), 0);
  EXPECT_GT(InColumn(image, MarkerColumn(w, mp.bottom), kBottomColor), 100);

  // The inverted cursor line drawn twice at one column leaves the pixels.
  platform::DrawSurface* surface = w.Frame().Surface();
  ASSERT_NE(surface, nullptr);
  const int x = MarkerColumn(w, 6.6f);
  const platform::Bitmap before = surface->CopyPixels(0, 0, 1400, 1000);
  DrawCursorMarkerXor(w, x, false);
  EXPECT_FALSE(surface->CopyPixels(0, 0, 1400, 1000) == before);
  DrawCursorMarkerXor(w, x, false);
  EXPECT_TRUE(surface->CopyPixels(0, 0, 1400, 1000) == before);
  // Column 0 with erasing removes the last line and draws none.
  DrawCursorMarkerXor(w, x, false);
  DrawCursorMarkerXor(w, 0, true);
  EXPECT_TRUE(surface->CopyPixels(0, 0, 1400, 1000) == before);
  EXPECT_EQ(CursorColumn(), 0);
}

// The disclaimer's grey lines start at (10, 55) and step down to y = 175;
// the plots cover all but their first letters.
TEST_F(RoadPaintQt, TheDisclaimerShowsOnAnEmptyWindowOnly) {
  const auto greyAtLeft = [](const QImage& image) {
    int n = 0;
    for (int y = 40; y < 200; ++y)
      for (int x = 0; x < 80; ++x) n += (image.pixel(x, y) & 0xffffff) == 0x646464;
    return n;
  };
  // Nothing loaded: the first paint shows it, later ones an empty window.
  EXPECT_GT(greyAtLeft(Shot()), 50);
  EXPECT_EQ(greyAtLeft(Shot()), 0);
  // Data loaded before the window's first paint (an unattended run in the
  // window): the plots' screen comes without a column of cut words beside it.
  LoadRun();
  WindowFlags().DisclaimerTextPending = true;
  EXPECT_EQ(greyAtLeft(Shot()), 0);
  EXPECT_FALSE(WindowFlags().DisclaimerTextPending);
}

// The histogram beside the residuals is drawn from the residuals of the
// model in memory: after a run it must not keep the bins of the data as
// loaded (residuals = signals, bins of plus or minus five times ~0.5 OD).
TEST_F(RoadPaintQt, TheResidualHistogramFollowsTheResidualsItIsShownWith) {
  LoadRun();
  Options().ShowResidualsHistogram = true;
  PlotWindowSet& w = CurrentPlotWindows();
  w.showHistogram = 1;
  Shot();
  ASSERT_GT(w.binCount, 0);
  const float loaded = w.binArrays[2][1];
  ScanSet& s = CurrentScanSet();
  for (int i = 1; i <= s.count; ++i)
    for (int k = 1; k <= s.points[i]; ++k) s.model[i][k] = 0.5f;
  ModelsPlusNoiseAsData(0.002, 7);
  Shot();
  ASSERT_GT(w.binCount, 0);
  EXPECT_NE(w.binArrays[2][1], loaded);
  EXPECT_NEAR(w.binArrays[2][1], -5.0f * CalcRmsd(), 1e-6f);
  Options().ShowResidualsHistogram = false;
  w.showHistogram = 0;
}

}  // namespace
