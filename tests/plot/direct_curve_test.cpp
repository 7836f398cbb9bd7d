#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "numerics/arrays.h"
#include "platform/metafile.h"
#include "plot/direct_curve.h"

#include "curve_test_support.h"

using namespace platform;

namespace {

using plottest::Data;
using plottest::IdentityPlot;

// The calls of a metafile drawn for the test alone, which it then frees.
std::vector<std::string> Ops(HMETAFILE mf) {
  auto out = plottest::Ops(mf);
  DeleteMetaFile(mf);
  return out;
}

// The drawing calls between the object set-up and the clean-up.
std::vector<std::string> Drawing(HMETAFILE mf) {
  auto all = Ops(mf);
  EXPECT_GE(all.size(), 5u);
  EXPECT_EQ(all.front(), "SetWindowExt(1399,1000)");
  return std::vector<std::string>(all.begin() + 3, all.end() - 2);
}

// Point numbers (1-based) drawn, read from the first-point moves of style 7.
std::vector<int> DrawnPoints(CWINPlot& plot, Data& d, int first, int last) {
  std::vector<int> points;
  for (const auto& op : Drawing(DrawCurveInDC(&plot, &d.curve, first, last, 0, 7, 0)))
    if (op.rfind("LineTo(", 0) == 0) points.push_back(std::stoi(op.substr(7)));
  for (int& p : points) p = (p - 1) / 10;  // point k sits at x = 10 k; its dot ends at 10 k + 1
  return points;
}

// A plot whose transform is the identity over 0..1000 on both axes.
class DirectCurve : public ::testing::Test {
 protected:
  DirectCurve() { IdentityPlot(plot); }
  CWINPlot plot;
};

}  // namespace

TEST_F(DirectCurve, CrossStyleRecordsTheExactStrokes) {
  Data d({100}, {200});
  auto ops = Ops(DrawCurveInDC(&plot, &d.curve, 1, 1, 0x0000ff, 1, 3));
  EXPECT_EQ(ops, (std::vector<std::string>{
                     "SetWindowExt(1399,1000)", "SelectPen(0,0,0x0000ff)", "SelectBrush(0x0000ff)", "MoveTo(100,200)",
                     "MoveTo(97,203)", "LineTo(104,198)", "MoveTo(97,197)", "LineTo(104,204)", "MoveTo(100,200)",
                     "SelectPen(0,0,0x000000)", "SelectBrush(0xffffff)"}));
  EXPECT_EQ(plot.symbolSize, 10);  // put back after the call
}

TEST_F(DirectCurve, IndexRangeRule) {
  std::vector<float> xs, ys;
  for (int k = 1; k <= 10; ++k) {
    xs.push_back(10.0f * k);
    ys.push_back(5);
  }
  Data d(xs, ys);
  struct Case {
    int first, last;
    int from, to;
  } cases[] = {{1, 10, 1, 10}, {3, 7, 3, 7}, {3, 3, 3, 10}, {9, 10, 1, 10}, {3, 12, 3, 10}, {0, 5, 1, 5}};
  for (const auto& c : cases) {
    std::vector<int> want;
    for (int k = c.from; k <= c.to; ++k) want.push_back(k);
    EXPECT_EQ(DrawnPoints(plot, d, c.first, c.last), want) << c.first << ".." << c.last;
  }
  EXPECT_EQ(DrawCurveInDC(&plot, &d.curve, 5, 3, 0, 7, 0), 0u);
}

// The strokes between set-up and clean-up, point for point, for each style
// and line rule.
TEST_F(DirectCurve, EachStyleDrawsItsExactStrokes) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    const char* name;
    std::vector<float> x, y;
    int style, size;
    bool connect;
    std::vector<std::string> strokes;
  };
  const Case cases[] = {
      {"triangles without connecting lines", {100, 130}, {200, 200}, 3, 6, false,
       {"MoveTo(100,200)", "MoveTo(94,203)", "LineTo(106,203)", "LineTo(100,191)", "LineTo(94,203)",
        "MoveTo(100,200)", "MoveTo(130,200)", "MoveTo(124,203)", "LineTo(136,203)", "LineTo(130,191)",
        "LineTo(124,203)", "MoveTo(130,200)"}},
      {"triangles joined", {100, 130}, {200, 200}, 3, 6, true,
       {"MoveTo(100,200)", "MoveTo(94,203)", "LineTo(106,203)", "LineTo(100,191)", "LineTo(94,203)",
        "MoveTo(100,200)", "LineTo(130,200)", "MoveTo(124,203)", "LineTo(136,203)", "LineTo(130,191)",
        "LineTo(124,203)", "MoveTo(130,200)"}},
      // A point above yMax and a missing one break the line.
      {"outside or missing points", {10, 20, 30, 40, 1000, 50}, {10, nan, 30, 40, 1001, 50}, -1, 0, false,
       {"MoveTo(10,10)", "MoveTo(30,30)", "LineTo(40,40)", "MoveTo(50,50)"}},
      {"points on the bounds are inside", {0, 1000}, {0, 1000}, -1, 0, false, {"MoveTo(0,0)", "LineTo(1000,1000)"}},
      // The thick line needs a previous point.
      {"thick line", {10, 20}, {10, 10}, 12, 0, false,
       {"MoveTo(10,10)", "MoveTo(20,10)", "MoveTo(10,9)", "LineTo(20,9)", "MoveTo(10,11)", "LineTo(20,11)",
        "MoveTo(9,10)", "LineTo(19,10)", "MoveTo(11,10)", "LineTo(21,10)", "MoveTo(20,10)"}},
      // Dashed: never a solid connection, even asked to connect (dot phase 1).
      {"dashed", {100, 130, 131}, {200, 200, 200}, 14, 0, true,
       {"MoveTo(100,200)", "MoveTo(100,200)", "LineTo(101,201)", "MoveTo(100,200)", "MoveTo(130,200)",
        "MoveTo(100,200)", "LineTo(105,200)", "MoveTo(110,200)", "LineTo(115,200)", "MoveTo(120,200)",
        "LineTo(125,200)", "MoveTo(130,200)", "MoveTo(131,200)", "MoveTo(131,200)", "LineTo(132,201)",
        "MoveTo(131,200)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    plot.connectPoints = c.connect;
    DotPhase = 1;
    Data d(c.x, c.y);
    EXPECT_EQ(Drawing(DrawCurveInDC(&plot, &d.curve, 1, static_cast<int>(c.x.size()), 0, c.style, c.size)), c.strokes);
  }
}

TEST_F(DirectCurve, PerPointColoursReachTheCentreLine) {
  Data d({10, 20}, {10, 10});
  int** colours = imatrix(1, 2, 1, 3);
  colours[1][1] = 255, colours[1][2] = 0, colours[1][3] = 0;
  colours[2][1] = 0, colours[2][2] = 0, colours[2][3] = 255 + 256;  // only the low byte counts
  const int objects = LiveGdiObjectCount();
  auto ops = Ops(DrawCurveInDC2(&plot, &d.curve, 1, 2, colours, 13, 0));
  EXPECT_EQ(LiveGdiObjectCount(), objects);
  free_imatrix(colours, 1, 2, 1, 3);
  // White offset lines, then the centre line in the colour of point 2.
  auto centre = ops.end();
  for (auto it = ops.begin(); it != ops.end(); ++it)
    if (*it == "SelectPen(0,0,0xff0000)") centre = it;
  ASSERT_NE(centre, ops.end());
  ASSERT_GE(centre - ops.begin(), 9);
  ASSERT_LE(ops.end() - centre, 3 + 2 + 2);
  EXPECT_EQ(*(centre - 9), "SelectPen(0,0,0xffffff)");
  EXPECT_EQ(*(centre + 1), "MoveTo(10,10)");
  EXPECT_EQ(*(centre + 2), "LineTo(20,10)");
}

TEST_F(DirectCurve, ScaledWrappersDivideByTheLargestValueOrPeak) {
  float* x = vector(1, 2);
  float* y = vector(1, 2);
  x[1] = 10, x[2] = 20;
  y[1] = 0, y[2] = 0;
  // An all-zero curve draws the zero line.
  EXPECT_EQ(Drawing(PlotFloatArraysScaled(&plot, x, y, 2, 50.0, 0, -1, 0)),
            (std::vector<std::string>{"MoveTo(10,0)", "LineTo(20,0)"}));
  double* dy = dvector(1, 2);
  dy[1] = 1e-31, dy[2] = 0;
  // The peak 1e-31 is below 1e-30: the values are divided by peak instead.
  EXPECT_EQ(Drawing(PlotFloatDoubleArraysScaled(&plot, x, dy, 2, 100.0, 0, -1, 0)),
            (std::vector<std::string>{"MoveTo(10,0)", "LineTo(20,0)"}));
  dy[1] = 2, dy[2] = 4;
  EXPECT_EQ(Drawing(PlotFloatDoubleArraysScaled(&plot, x, dy, 2, 100.0, 0, -1, 0)),
            (std::vector<std::string>{"MoveTo(10,50)", "LineTo(20,100)"}));
  free_dvector(dy, 1, 2);
  free_vector(x, 1, 2);
  free_vector(y, 1, 2);
}

TEST_F(DirectCurve, ErrorBarsStopAtTheLastPoint) {
  Data d({10, 20, 30}, {100, 100, 100});
  plot.AddCurve(&d.curve);
  IdentityPlot(plot);
  float errA[3] = {1, 2, 3}, errB[3] = {1, 2, 3};
  RecordingDC dc;
  plot.DrawErrorBars(dc, 0, errA, errB, -4, 3, 0x0000ff);
  int bars = 0;
  for (const auto& op : dc.Describe()) bars += op.rfind("LineTo(", 0) == 0;
  EXPECT_EQ(bars, 3 * 4);  // three points, four strokes each; no fourth point read
}
