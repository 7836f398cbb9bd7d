#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/draw_context.h"
#include "plot/cwinplot.h"

#include "curve_test_support.h"

using namespace platform;

namespace {

using plottest::Data;

// One curve on an identity transform over 0..1000.
struct Fixture {
  Data data;
  CWINPlot plot;
  explicit Fixture(std::vector<float> xs, std::vector<float> ys, int style) : data(std::move(xs), std::move(ys)) {
    plot.AddCurve(&data.curve);
    plot.SetCurveStyle(0, style);
    plottest::IdentityPlot(plot);
    plot.plotLeft = 100;
    plot.plotBottom = 900;
  }
  std::vector<std::string> Draw() {
    RecordingDC dc;
    plot.DrawCurve(dc, 0);
    auto ops = dc.Describe();
    // Without the object set-up (pen, brush) and restoration.
    return std::vector<std::string>(ops.begin() + 2, ops.end() - 2);
  }
};

std::vector<std::string> Only(const std::vector<std::string>& ops, const std::string& prefix) {
  std::vector<std::string> out;
  for (const auto& op : ops)
    if (op.rfind(prefix, 0) == 0) out.push_back(op);
  return out;
}

}  // namespace

TEST(DrawCurve, InvalidIndexDrawsNothingAndCreatesNothing) {
  Fixture f({1, 2}, {1, 2}, -1);
  const int objects = LiveGdiObjectCount();
  for (int i : {-1, 1}) {
    RecordingDC dc;
    f.plot.DrawCurve(dc, i);
    EXPECT_TRUE(dc.Ops().empty());
  }
  RecordingDC dc;
  f.plot.DrawCurve(dc, 0);
  EXPECT_EQ(LiveGdiObjectCount(), objects);
}

TEST(DrawCurve, PolylineBreaksAtInvisiblePointsAndFallingX) {
  Fixture f({10, 20, 2000, 30, 40, 5}, {10, 20, 20, 30, 40, 5}, -1);
  EXPECT_EQ(f.Draw(), (std::vector<std::string>{"MoveTo(10,10)", "MoveTo(10,10)", "LineTo(20,20)", "MoveTo(30,30)",
                                                "LineTo(40,40)", "LineTo(5,5)"}));
  f.plot.dcOption3 = 1;
  EXPECT_EQ(f.Draw().back(), "MoveTo(5,5)");
}

TEST(DrawCurve, StepAndRangeChooseThePoints) {
  std::vector<float> xs;
  for (int k = 0; k < 10; ++k) xs.push_back(10.0f * k + 10);
  Fixture f(xs, xs, 7);
  f.plot.curveStep = 3;
  f.plot.SetCurveRange(0, 2, 100);
  EXPECT_EQ(Only(f.Draw(), "LineTo"), (std::vector<std::string>{"LineTo(31,31)", "LineTo(61,61)", "LineTo(91,91)"}));
  // Style 20 ignores the start of the range.
  f.plot.curveStep = 1;
  f.plot.SetCurveStyle(0, 20);
  auto ops = f.Draw();
  ASSERT_EQ(ops.size(), 1u);
  EXPECT_EQ(ops[0].rfind("Polygon(10 10,20 20", 0), 0u);
}

TEST(DrawCurve, ZeroSizeSymbolsAreSinglePixels) {
  for (int style : {1, 2, 3, 5, 6, 9, 10, 11, 15, 17, 18}) {
    Fixture f({50}, {60}, style);
    f.plot.symbolSize = 0;
    auto ops = f.Draw();
    EXPECT_EQ(Only(ops, "LineTo"), (std::vector<std::string>{"LineTo(51,61)"})) << "style " << style;
    EXPECT_EQ(Only(ops, "MoveTo").size() + 1, ops.size()) << "style " << style;  // no shapes
  }
  Fixture stem({50}, {60}, 8);
  stem.plot.symbolSize = 0;
  EXPECT_EQ(stem.Draw(), (std::vector<std::string>{"MoveTo(50,60)", "MoveTo(50,60)", "MoveTo(50,0)", "LineTo(50,60)"}));
}

TEST(DrawCurve, LogAxisPlacesZeroLeftOfThePlot) {
  Fixture f({0, 10}, {5, 5}, 7);
  f.plot.logX = 1;
  f.plot.xScale = 100;
  f.plot.xOffset = 0;
  f.plot.symbolSize = 0;
  EXPECT_EQ(Only(f.Draw(), "LineTo"), (std::vector<std::string>{"LineTo(81,6)", "LineTo(101,6)"}));
}

TEST(DrawCurve, PointsAboveTheRangeRequestARescale) {
  Fixture f({10, 20}, {10, 2000}, -1);
  PointsOutsideYRange = 0;
  f.Draw();
  EXPECT_EQ(PointsOutsideYRange, 1);
  PointsOutsideYRange = 0;
}

TEST(DrawCurve, ExtraValuesColourPointsAndDrawEnvelopes) {
  Fixture f({10, 10, 20}, {30, 40, 30}, 7);
  float extra[4] = {0, 1, 4, 2};  // 1-based
  f.plot.SetExtraData(0, extra, 1, 3, 1);
  f.plot.symbolSize = 0;
  const int objects = LiveGdiObjectCount();
  auto ops = f.Draw();
  EXPECT_EQ(LiveGdiObjectCount(), objects);
  EXPECT_EQ(f.plot.extraMax, 4.0f);
  // Point 2 has the largest value: the top of the ramp.
  EXPECT_NE(std::find(ops.begin(), ops.end(), "SelectPen(0,0," + std::string("0x0000bf") + ")"), ops.end());
  // Envelope over x: x 10 -> 4, x 20 -> 2, drawn in blue at y = 1000 * e / 4.
  auto blue = std::find(ops.begin(), ops.end(), "SelectPen(0,0,0xff0000)");
  ASSERT_NE(blue, ops.end());
  EXPECT_EQ(*(blue + 2), "MoveTo(10,1000)");
  EXPECT_EQ(*(blue + 3), "LineTo(20,500)");
  auto green = std::find(ops.begin(), ops.end(), "SelectPen(0,0,0x00ff00)");
  ASSERT_NE(green, ops.end());
  EXPECT_EQ(*(green + 2), "MoveTo(500,30)");  // y 30 -> 2
  EXPECT_EQ(*(green + 3), "LineTo(1000,40)");

  // Values all 0: every point at the low end of the ramp (white), none in
  // the curve's own colour, and no envelope of nothing.
  Fixture empty({10, 10, 20}, {30, 40, 30}, 7);
  float zeros[4] = {0, 0, 0, 0};
  empty.plot.SetExtraData(0, zeros, 1, 3, 1);
  empty.plot.symbolSize = 0;
  ops = empty.Draw();
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "SelectPen(0,0,0xffffff)"), 3);
  EXPECT_EQ(std::find(ops.begin(), ops.end(), "SelectPen(0,0,0xff0000)"), ops.end());
}
