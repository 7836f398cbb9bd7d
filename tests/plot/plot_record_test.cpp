#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/metafile.h"
#include "plot/cwinplot.h"
#include "plot/plot_fonts.h"

#include "curve_test_support.h"

using namespace platform;

namespace {

using plottest::Data;
using plottest::Ops;
using plottest::Has;

}  // namespace

TEST(PlotRecord, EmptyPlotRecordsNothing) {
  CWINPlot plot;
  const int metafiles = LiveMetafileCount();
  EXPECT_FALSE(plot.Plot());
  EXPECT_EQ(plot.lastMetafile, 0u);
  EXPECT_EQ(LiveMetafileCount(), metafiles);
}

TEST(PlotRecord, FrameAxesAndCurveAreRecordedWithoutLeaks) {
  Data d({0, 10}, {0, 100});
  CWINPlot plot;
  plot.SetPlotRect(50, 10, 950, 500);
  plot.SetXLabel("r (cm)");
  plot.AddCurve(&d.curve);
  const int objects = LiveGdiObjectCount();
  ASSERT_TRUE(plot.Plot());
  const HMETAFILE first = plot.lastMetafile;
  ASSERT_TRUE(plot.Plot());
  EXPECT_FALSE(MetafileContents(first));  // the previous picture was deleted
  EXPECT_EQ(LiveGdiObjectCount(), objects);
  auto ops = Ops(plot.lastMetafile);
  EXPECT_EQ(ops.front(), "SetWindowExt(1399,1000)");
  EXPECT_TRUE(Has(ops, "Rectangle(13,950,699,50)"));  // the frame
  EXPECT_TRUE(Has(ops, "TextOut(356,977,\"r (cm)\")"));
  // Major x ticks every 5 with numbers below the axis.
  const int px = static_cast<int>(5.0 * plot.xScale + plot.xOffset);
  EXPECT_TRUE(Has(ops, "TextOut(" + std::to_string(px) + ",960,\"5\")"));
  EXPECT_TRUE(Has(ops, "LineTo(" + std::to_string(px) + ",958)"));
}

TEST(PlotRecord, NarrowMarginsDropTheYAxis) {
  Data d({0, 10}, {0, 100});
  CWINPlot plot;
  plot.narrowMargins = 1;
  plottest::ShowIn(plot, d);
  ASSERT_TRUE(plot.Plot());
  const std::string yTick = "LineTo(" + std::to_string(plot.plotLeft - 8) + ",";
  for (const auto& op : Ops(plot.lastMetafile)) EXPECT_NE(op.rfind(yTick, 0), 0u) << op;
  EXPECT_EQ(plot.frameLeft, plot.plotLeft - 5);
  EXPECT_EQ(plot.frameRight, plot.plotRight + 5);
}

TEST(PlotRecord, WidestYNumberWidensTheFrame) {
  Data d({0, 10}, {0, 100000});
  CWINPlot plot;
  plottest::ShowIn(plot, d);
  ASSERT_TRUE(plot.Plot());
  // "100000" has 6 characters: 17 x 6 = 102.
  EXPECT_EQ(plot.frameLeft, plot.plotLeft - 8 - 10 - 102);
}

// The y axis's numbers and label as a window shows them: a mirrored number
// that the window's edge would cut is left out, the label stands left of
// the widest number, and a label longer than the plot is high is written
// smaller.
TEST(PlotRecord, AxisNumbersAndLabelKeepClearOfTheEdgeAndOfEachOther) {
  Data d({0, 10}, {0, 1200});
  CWINPlot plot;
  plot.SetPlotRect(50, 75, 475, 975);  // the data plot's place, ending at x = 1365
  plot.ShowYAxisTitle();
  plot.SetYLabel("fluorescence (counts)");
  plot.AddCurve(&d.curve);
  plot.SetRanges(0, 10, 0, 1200);
  ASSERT_TRUE(plot.Plot());
  const auto ops = Ops(plot.lastMetafile);
  const std::string right = "TextOut(" + std::to_string(plot.plotRight + 10) + ",";
  const std::string left = "TextOut(" + std::to_string(plot.plotLeft - 10) + ",";
  int rightNumbers = 0, leftThousands = 0, labelX = 0;
  for (const auto& op : ops) {
    if (op.rfind(right, 0) == 0) {
      ++rightNumbers;
      EXPECT_EQ(op.find("000\""), std::string::npos) << op;
    }
    if (op.rfind(left, 0) == 0 && op.find("\"1000\"") != std::string::npos) ++leftThousands;
    if (op.find("fluorescence (counts)") != std::string::npos) labelX = std::stoi(op.substr(8));
  }
  EXPECT_GT(rightNumbers, 0);  // the short ones stay
  EXPECT_EQ(leftThousands, 1);
  EXPECT_LE(labelX, plot.plotLeft - 8 - 6 - AxisNumberWidth("1000"));

  // 48 characters beside a plot 375 units high.
  CWINPlot tall;
  tall.SetPlotRect(525, 550, 925, 975);
  tall.SetYLabel("Mwapp(c) [=(1/k)*{(1/2)(1/(c*r))*(dc/dr)}] (kDa)");
  tall.AddCurve(&d.curve);
  ASSERT_TRUE(tall.Plot());
  std::string font;
  for (const auto& op : Ops(tall.lastMetafile)) {
    if (op.rfind("SelectFont(", 0) == 0) font = op;
    if (op.find("Mwapp(c)") != std::string::npos) break;
  }
  const int height = std::stoi(font.substr(11));
  EXPECT_LT(height, LabelFontHeight);
  EXPECT_LE(48 * height * 55 / 100, 400);
}

TEST(PlotRecord, PointsAboveARangeThatCannotMoveDoNotLoopForever) {
  Data d({0, 10}, {0, 100});
  CWINPlot plot;
  plottest::ShowIn(plot, d);
  plot.SetRanges(0, 10, 0, 50);
  plot.xRangeFixed = 0;  // y stays fixed, so a rescale cannot bring 100 in
  EXPECT_TRUE(plot.Plot());
  EXPECT_EQ(plot.yMax, 50.0f);
}

TEST(PlotRecord, PointsOutsideAFreeRangeRescale) {
  Data d({0, 10}, {0, 100});
  CWINPlot plot;
  plottest::ShowIn(plot, d);
  d.y[1] = 300;  // the data changed behind the plot's back
  EXPECT_TRUE(plot.Plot());
  EXPECT_NEAR(plot.yMax, 315.0f, 1e-3f);
  EXPECT_EQ(PointsOutsideYRange, 0);
}

TEST(PlotRecord, MarkersAreSingleLines) {
  Data d({0, 10}, {0, 100});
  CWINPlot plot;
  plottest::ShowIn(plot, d);
  HMETAFILE mf = plot.RecordMarker(5, 0x0000ff);
  const int px = static_cast<int>(5.0 * plot.xScale + plot.xOffset);
  EXPECT_EQ(Ops(mf), (std::vector<std::string>{"SetWindowExt(1399,1000)", "SelectPen(0,0,0x0000ff)",
                                               "SelectBrush(0x0000ff)", "MoveTo(" + std::to_string(px) + ",948)",
                                               "LineTo(" + std::to_string(px) + ",51)", "SelectPen(0,0,0x000000)",
                                               "SelectBrush(0xffffff)"}));
  DeleteMetaFile(mf);
}
