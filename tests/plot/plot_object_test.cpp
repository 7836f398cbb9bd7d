#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/clipboard.h"
#include "platform/metafile.h"
#include "plot/adhoc_plot.h"
#include "plot/cwinplot.h"
#include "plot/plot_clipboard.h"
#include "plot/screen_button.h"

#include "numerics/arrays.h"

#include "curve_test_support.h"

using namespace platform;

namespace {

using plottest::Data;

std::vector<float> Ramp(int n) {
  std::vector<float> v;
  for (int i = 0; i < n; ++i) v.push_back(static_cast<float>(i));
  return v;
}

}  // namespace

TEST(PlotObject, ColoursOfNewCurves) {
  CWINPlot plot;
  EXPECT_EQ(plot.curveCount, 0);
  EXPECT_EQ(plot.ColorForIndex(0), 0x000000u);
  EXPECT_EQ(plot.ColorForIndex(-1), 0xc8c8c8u);
  EXPECT_EQ(plot.ColorForIndex(23), 0x00ff00u);
  Data a({1, 2}, {1, 2}), b({1, 2}, {3, 4}), c({1, 2}, {5, 6});
  plot.AddCurve(&a.curve);
  plot.AddCurve(&b.curve);
  plot.AddCurve(&c.curve);
  EXPECT_EQ(plot.GetCurveColor(0), 0x0000ffu);
  EXPECT_EQ(plot.GetCurveColor(1), 0x0000ffu);
  EXPECT_EQ(plot.GetCurveColor(2), 0x00ffffu);
  EXPECT_EQ(plot.GetCurveColor(7), 0u);
  plot.SetCurveColor(7, 0x123456);  // ignored
  EXPECT_EQ(plot.curveColorSet.size(), 3u);
}

TEST(PlotObject, SettersClampAndNormalise) {
  CWINPlot plot;
  plot.SetYRange(3, 1);
  EXPECT_EQ(plot.hasYRange, 1);
  EXPECT_EQ(plot.yRangeLow, 1.0f);
  EXPECT_EQ(plot.yRangeHigh, 3.0f);
  plot.SetYRange(2, 2);
  EXPECT_EQ(plot.hasYRange, 0);

  Data d(Ramp(100), Ramp(100));
  plot.AddCurve(&d.curve);
  plot.SetCurveRange(0, -5, 1000000);
  EXPECT_EQ(plot.curveFrom[0], 0);
  EXPECT_EQ(plot.curveTo[0], 99);

  plot.SetDefaultStyle(7);
  EXPECT_EQ(plot.defaultStyle, 3);
  plot.SetDefaultStyle(-1);
  EXPECT_EQ(plot.defaultStyle, -1);

  plot.SetExtraDataScale(0, 0);
  EXPECT_EQ(plot.extraScaleHigh, 1.0f);
  plot.SetExtraDataScale(2, 2);
  EXPECT_EQ(plot.extraScaleLow, 2.0f);
  EXPECT_EQ(plot.extraScaleHigh, 4.0f);

  std::string longText(150, 'a');
  EXPECT_EQ(plot.SetXLabel(longText.c_str()).size(), 99u);
  EXPECT_EQ(plot.hasXLabel, 1);

  CVector band(2, 1);
  for (int k = 0; k < 11; ++k) plot.AddHighlight(&band);
  EXPECT_EQ(plot.highlightCount, 10);

  CWINPlot empty;
  empty.RemoveLastCurve();
  EXPECT_EQ(empty.curveCount, 0);
}

TEST(PlotObject, ColourRamp) {
  CWINPlot plot;
  const COLORREF c = plot.ColorForValue(0.3f);
  EXPECT_EQ(GetRValue(c), 0);
  EXPECT_EQ(GetGValue(c), 127);
  EXPECT_EQ(GetBValue(c), 255);
  EXPECT_EQ(plot.ColorForValue(1.0f), 0x0000bfu);
  EXPECT_EQ(plot.ColorForValue(0.0f), 0xff0000u | 0x00ffffu);  // white end
  plot.SetRampPurpleLow(true);
  EXPECT_EQ(plot.ColorForValue(1.0f), 0x000000u);
  plot.SetRampBlackForMissing();
  EXPECT_EQ(plot.ColorForValue(-1.0f), 0x000000u);
}

TEST(PlotObject, HitTestConvertsBackToValues) {
  Data d({0, 10}, {0, 100});
  CWINPlot plot;
  EXPECT_FALSE(plot.HitTest(100, 100, nullptr, nullptr));
  plottest::ShowIn(plot, d);
  float x = 0, y = 0;
  ASSERT_TRUE(plot.HitTest(250, 500, &x, &y));
  EXPECT_NEAR(x, (350 - plot.xOffset) / plot.xScale, 1e-4f);
  EXPECT_NEAR(y, (500 - plot.yOffset) / plot.yScale, 1e-4f);
  EXPECT_FALSE(plot.HitTest(600, 500, nullptr, nullptr));  // 840 is right of the plot
  EXPECT_FALSE(plot.HitTest(250, 60, nullptr, nullptr));   // in the button strip
}

TEST(PlotObject, ButtonsFollowThePlotRectangle) {
  CWINPlot plot;
  plot.SetPlotRect(50, 10, 950, 500);
  plot.CreateButtons(7);
  ASSERT_EQ(plot.buttonCount, 5);
  const CScreenButton& b1 = *plot.buttons[1];
  EXPECT_EQ(b1.caption, "7");
  EXPECT_EQ(b1.kind, 1);
  EXPECT_EQ(b1.top, 51);
  EXPECT_EQ(b1.left, 679);
  EXPECT_EQ(b1.bottom, 71);
  EXPECT_EQ(b1.right, 699);
  const CScreenButton& b4 = *plot.buttons[4];
  EXPECT_EQ(b4.top, 71);
  EXPECT_EQ(b4.bottom, 81);
  EXPECT_EQ(b4.left, 690);
  EXPECT_NE(b4.face, 0u);
  plot.CreateButtons(12);
  EXPECT_EQ(plot.buttons[1]->caption, "12");
}

TEST(ScreenButton, ClicksToggleOnlyToggleButtons) {
  CScreenButton b;
  b.SetRect(0, 690, 10, 710);
  EXPECT_TRUE(b.Click(500, 5));  // 500 x 1.4 = 700
  EXPECT_EQ(b.on, 1);
  EXPECT_FALSE(b.Click(690, 5));
  EXPECT_TRUE(b.Click(500, 10));  // on the bottom edge
  EXPECT_EQ(b.on, 0);
  CScreenButton push;
  push.kind = 1;
  push.SetRect(0, 0, 10, 100);
  ASSERT_TRUE(push.Redraw());
  const HMETAFILE face = push.face;
  EXPECT_TRUE(push.Click(10, 5));
  EXPECT_EQ(push.on, 0);
  EXPECT_EQ(push.face, face);
  CScreenButton flat;
  flat.SetRect(0, 5, 10, 5);
  EXPECT_FALSE(flat.Click(5 / 1.4f, 5));
}

TEST(ScreenButton, RectangleTextAndHiddenButtons) {
  CScreenButton b;
  b.SetRect(10.9f, 20.5f, 30.2f, 40.99f);
  EXPECT_EQ(b.top, 10);
  EXPECT_EQ(b.left, 20);
  EXPECT_EQ(b.bottom, 30);
  EXPECT_EQ(b.right, 40);
  std::string text(1500, 'x');
  b.SetText(text.c_str(), 1500, "on", 2);
  EXPECT_EQ(b.caption.size(), 999u);
  EXPECT_EQ(b.onCaption, "on");
  b.hidden = 1;
  EXPECT_FALSE(b.Click(25, 20));
  EXPECT_TRUE(b.Redraw());
  EXPECT_EQ(b.face, 0u);
  RecordingDC dc;
  EXPECT_TRUE(b.RecordFace(dc));
  EXPECT_TRUE(dc.Ops().empty());
}

TEST(ScreenButton, FaceIsRecordedInPlotSpaceAndReplaced) {
  CScreenButton b;
  b.SetRect(10, 20, 30, 120);
  b.SetText("confirm", 7, "confirm", 7);
  ButtonFont();
  ButtonHeavyFont();
  const int metafiles = LiveMetafileCount();
  const int objects = LiveGdiObjectCount();
  ASSERT_TRUE(b.Redraw());
  ASSERT_TRUE(b.ToggleState());
  EXPECT_EQ(LiveMetafileCount(), metafiles + 1);  // the first face was deleted
  EXPECT_EQ(LiveGdiObjectCount(), objects);
  auto data = MetafileContents(b.face);
  ASSERT_TRUE(data);
  std::vector<std::string> ops;
  for (const auto& op : data->Ops()) ops.push_back(DescribeOp(op));
  EXPECT_EQ(ops.front(), "SetWindowExt(1399,1000)");
  EXPECT_NE(std::find(ops.begin(), ops.end(), "SelectBrush(0xe6e6e6)"), ops.end());  // on face
  EXPECT_NE(std::find(ops.begin(), ops.end(), "Rectangle(21,31,120,10)"), ops.end());
  EXPECT_NE(std::find(ops.begin(), ops.end(), "ExtTextOut(70,29,4,\"confirm\")"), ops.end());
}

TEST(AdHocPlot, SlotsFillInOrderAndSharedArraysAreFreedOnce) {
  auto* holder = new CAdHocPlot;
  float* x = vector(1, 3);
  for (int i = 1; i <= 3; ++i) x[i] = static_cast<float>(i);
  std::vector<int> slots;
  for (int c = 0; c < 3; ++c) {
    float* y = vector(1, 3);
    for (int i = 1; i <= 3; ++i) y[i] = static_cast<float>(c * i);
    slots.push_back(holder->AddCurve(3, x, y));
  }
  EXPECT_EQ(slots, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(holder->plot->curveCount, 3);
  EXPECT_EQ(holder->plot->curves[1], holder->curve[2]);
  delete holder;  // x is shared by all three slots
}

TEST(PlotClipboard, PictureAndValueLabels) {
  MemoryClipboard cb;
  SetClipboard(&cb);
  Data d({1, 2}, {3.0f, 2.5f});
  CWINPlot plot;
  plottest::ShowIn(plot, d);
  ASSERT_TRUE(plot.Plot());
  EXPECT_TRUE(CopyMetafileToClipboard(&plot.lastMetafile));
  EXPECT_EQ(cb.picture.mapMode, MM_ISOTROPIC);
  EXPECT_EQ(cb.picture.xExt, 13000);
  EXPECT_EQ(cb.picture.yExt, 9000);
  EXPECT_EQ(cb.picture.metafile, MetafileContents(plot.lastMetafile));
  cb.refuseOpen = true;
  EXPECT_FALSE(CopyMetafileToClipboard(&plot.lastMetafile));
  SetClipboard(nullptr);

  RecordingDC dc;
  DrawValueLabel(plot, dc, 10, 20, 0, 0);
  DrawValueLabel(plot, dc, 30, 40, 0, 1);
  EXPECT_EQ(dc.Describe(), (std::vector<std::string>{"MoveTo(10,20)", "SetTextAlign(1)", "TextOut(10,20,\"3\")",
                                                     "MoveTo(30,40)", "SetTextAlign(1)", "TextOut(30,40,\"2.5\")"}));
}

TEST(PlotFrames, FramesTakeOverThePlotsPicture) {
  const int invalid = InvalidMetafileDeletes();
  const int metafiles = LiveMetafileCount();
  {
    Data d({1, 2}, {1, 2});
    CWINPlotFrames frames;
    EXPECT_EQ(frames.GetFrame(1), 0u);
    frames.SetPlotRect(50, 10, 950, 500);
    frames.AddCurve(&d.curve);
    ASSERT_TRUE(frames.AllocFrames(2));
    EXPECT_EQ(frames.GetFrame(0), 0u);
    EXPECT_EQ(frames.GetFrame(3), 0u);
    EXPECT_TRUE(frames.RecordFrame(2));
    EXPECT_NE(frames.GetFrame(2), 0u);
    EXPECT_EQ(frames.GetFrame(1), 0u);
    EXPECT_EQ(frames.lastMetafile, 0u);
    EXPECT_FALSE(frames.RecordFrame(5));
  }
  EXPECT_EQ(InvalidMetafileDeletes(), invalid);
  EXPECT_EQ(LiveMetafileCount(), metafiles);
}
