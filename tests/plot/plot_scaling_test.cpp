#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "plot/cwinplot.h"

#include "curve_test_support.h"

namespace {

using plottest::Data;

}  // namespace

TEST(PlotScaling, SinglePointGetsUnitMarginsAroundIt) {
  Data d({5}, {5});
  CWINPlot plot;
  plottest::ShowIn(plot, d);
  EXPECT_FLOAT_EQ(plot.xMin, 3.9f);
  EXPECT_FLOAT_EQ(plot.xMax, 6.1f);
  EXPECT_FLOAT_EQ(plot.yMin, 3.895f);
  EXPECT_FLOAT_EQ(plot.yMax, 6.1f);
}

TEST(PlotScaling, LowerYMarginOnlyForPositiveRanges) {
  struct Case {
    float lo, hi;
    int includesZero;
    float wantMin, wantMax;
  } cases[] = {
      {0.5f, 2.0f, 0, 0.42125f, 2.075f},
      {0.02f, 2.0f, 0, 0.0f, 2.099f},
      {-1.0f, 1.0f, 0, -1.0f, 1.1f},
      {2.0f, 4.0f, 1, 0.0f, 4.2f},
  };
  for (const auto& c : cases) {
    Data d({0, 1}, {c.lo, c.hi});
    CWINPlot plot;
    plot.yIncludesZero = c.includesZero;
    plottest::ShowIn(plot, d);
    EXPECT_NEAR(plot.yMin, c.wantMin, 1e-5f) << c.lo << ".." << c.hi;
    EXPECT_NEAR(plot.yMax, c.wantMax, 1e-5f) << c.lo << ".." << c.hi;
  }
}

TEST(PlotScaling, TransformsMapTheRangeOntoThePlotRectangle) {
  Data d({0, 10}, {0, 100});
  CWINPlot plot;
  plot.SetPlotRect(50, 10, 950, 500);
  EXPECT_EQ(plot.frameLeft, 5);
  // The first curve draws the plot at once, which widens the frame to the
  // left for the y numbers.
  plot.AddCurve(&d.curve);
  EXPECT_EQ(plot.plotLeft, 13);
  EXPECT_EQ(plot.plotRight, 699);
  EXPECT_LT(plot.frameLeft, 5);
  EXPECT_EQ(plot.frameBottom, 978);
  EXPECT_EQ(plot.frameRight, 707);
  EXPECT_EQ(plot.frameTop, 42);
  EXPECT_NEAR(plot.xMin * plot.xScale + plot.xOffset, 13.0f, 1e-3f);
  EXPECT_NEAR(plot.xMax * plot.xScale + plot.xOffset, 699.0f, 1e-3f);
  EXPECT_NEAR(plot.yMin * plot.yScale + plot.yOffset, 950.0f, 1e-3f);
  EXPECT_NEAR(plot.yMax * plot.yScale + plot.yOffset, 50.0f, 1e-3f);
  EXPECT_LT(plot.yScale, 0.0f);
}

TEST(PlotScaling, FixedRangesKeepTransformsUntilSetAgain) {
  Data d({0, 10}, {0, 100});
  CWINPlot plot;
  plottest::ShowIn(plot, d);
  plot.SetRanges(2, 8, 10, 90);
  const float xs = plot.xScale, ys = plot.yScale;
  plot.SetPlotRect(100, 100, 900, 900);
  EXPECT_EQ(plot.xScale, xs);
  EXPECT_EQ(plot.yScale, ys);
  EXPECT_EQ(plot.plotLeft, 139);  // 100 x 1.4f truncates to 139
  plot.SetRanges(2, 8, 10, 90);
  EXPECT_FLOAT_EQ(plot.xScale, (1259.0f - 139.0f) / 6.0f);
  EXPECT_EQ(plot.scaleChanged, 1);
}

TEST(PlotScaling, SetRangesGuards) {
  Data d({0, 1}, {0, 1});
  CWINPlot plot;
  plottest::ShowIn(plot, d);
  plot.SetRanges(0, 1, 0, 5e10f);
  EXPECT_EQ(plot.yMax, 1.0f);
  EXPECT_EQ(plot.yRangeFixed, 1);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (auto r : {std::vector<float>{0, 1, 2, 2}, std::vector<float>{3, 3, 0, 1}, std::vector<float>{0, nan, 0, 1}}) {
    plot.SetRanges(r[0], r[1], r[2], r[3]);
    EXPECT_EQ(plot.xMin, 0.0f);
    EXPECT_EQ(plot.xMax, 1.0f);
    EXPECT_EQ(plot.yMax, 1.0f);
  }
  plot.RescaleAll();
  EXPECT_EQ(plot.xRangeFixed, 0);
  EXPECT_EQ(plot.yRangeFixed, 0);
}

TEST(PlotScaling, NoCurvesShowMinusOneToOneWithoutTransforms) {
  CWINPlot plot;
  plot.SetPlotRect(50, 10, 950, 500);
  plot.AutoScale();
  EXPECT_EQ(plot.xMin, -1.0f);
  EXPECT_EQ(plot.yMax, 1.0f);
  EXPECT_EQ(plot.xScale, 0.0f);
  plot.SetRanges(0, 5, 0, 5);
  EXPECT_EQ(plot.xRangeFixed, 0);
  EXPECT_EQ(plot.xMax, 1.0f);
}

TEST(PlotScaling, EmptyIndexWindowContributesZero) {
  Data a({5, 6}, {5, 6});
  Data b({}, {});
  CWINPlot plot;
  plottest::ShowIn(plot, a);
  plot.AddCurve(&b.curve);
  EXPECT_NEAR(plot.xMin, -0.3f, 1e-5f);  // 0 .. 6 with 5 % margins
  EXPECT_NEAR(plot.xMax, 6.3f, 1e-5f);
}

TEST(PlotScaling, NonFiniteValuesNeverReachRangesOrTransforms) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  Data d({nan, 1, 2, inf}, {nan, 3, inf, 5});
  CWINPlot plot;
  plottest::ShowIn(plot, d);
  for (float v : {plot.xMin, plot.xMax, plot.yMin, plot.yMax, plot.xScale, plot.xOffset, plot.yScale, plot.yOffset})
    EXPECT_TRUE(std::isfinite(v));
  EXPECT_NEAR(plot.xMin, 0.95f, 1e-5f);
  EXPECT_NEAR(plot.yMax, 5.1f, 1e-5f);
  // Equal bounds set without a guard leave the axis without a transform.
  plot.SetXScale(4, 4);
  EXPECT_EQ(plot.xScale, 0.0f);
  EXPECT_EQ(plot.xOffset, 0.0f);
  EXPECT_EQ(plot.ToPixelX(nan), 0);
}

TEST(PlotScaling, XWindowAutoscalesYWithoutMargins) {
  Data d({1, 2, 3, 4}, {5, 1, 7, 0});
  CWINPlot plot;
  plottest::ShowIn(plot, d);
  plot.SetXRangeAutoY(1.5f, 3.5f);
  EXPECT_EQ(plot.xRangeFixed, 1);
  EXPECT_EQ(plot.yRangeFixed, 0);
  EXPECT_EQ(plot.yMin, 1.0f);
  EXPECT_EQ(plot.yMax, 7.0f);
}

TEST(PlotScaling, SecondaryAxisValueAtRow) {
  CWINPlot plot;
  plot.SetPlotRect(100, 10, 900, 500);
  EXPECT_EQ(plot.PixelToY(500), 0.0f);
  plot.SetYRange(10, 2);
  EXPECT_FLOAT_EQ(plot.PixelToY(900), 2.0f);
  EXPECT_FLOAT_EQ(plot.PixelToY(100), 10.0f);
  EXPECT_FLOAT_EQ(plot.PixelToY(500), 6.0f);
}

TEST(PlotScaling, LogarithmicAxisFallsBackWithoutPositiveValues) {
  Data neg({-2, -1}, {1, 100});
  CWINPlot plot;
  plot.logX = 1;
  plot.logY = 1;
  plottest::ShowIn(plot, neg);
  EXPECT_EQ(plot.logX, 0);
  EXPECT_EQ(plot.logY, 1);
  // y decades 0..2 widened by 5 %: 10^-0.1 .. 10^2.1
  EXPECT_NEAR(std::log10(plot.yMin), -0.1f, 1e-5f);
  EXPECT_NEAR(plot.ToPixelY(1.0f), 950 - 900 * 0.1f / 2.2f, 1.0f);
  EXPECT_EQ(plot.ToPixelY(0.0f), plot.plotBottom - plot.offPlotDistance);
}

namespace {

struct Scaling {
  float xMin, xMax, yMin, yMax, xScale, xOffset, yScale, yOffset;
  int logX, logY;
  bool operator==(const Scaling&) const = default;
};

Scaling ScalingOf(const CWINPlot& p) {
  return {p.xMin, p.xMax, p.yMin, p.yMax, p.xScale, p.xOffset, p.yScale, p.yOffset, p.logX, p.logY};
}

}  // namespace

TEST(PlotScaling, CurvesAddedOneByOneScaleAsAWholeRescale) {
  // After every addition the ranges and transforms are, to the bit, those
  // of a rescale over all curves, whatever came between the additions:
  // index windows, a point mask, a replaced or removed curve, logarithmic
  // axes with curves that have no positive values.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::vector<Data> data;
  data.reserve(12);
  data.emplace_back(std::vector<float>{1, 2, 3}, std::vector<float>{0.5f, 4, 2});
  data.emplace_back(std::vector<float>{-3, 0.1f, 9}, std::vector<float>{-1, 3, 7});
  data.emplace_back(std::vector<float>{}, std::vector<float>{});
  data.emplace_back(std::vector<float>{2, nan, 12}, std::vector<float>{nan, 0.25f, 30});
  data.emplace_back(std::vector<float>{-5, -4}, std::vector<float>{-8, -2});
  data.emplace_back(std::vector<float>{4, 5, 6, 7}, std::vector<float>{100, 0.01f, 5, 6});
  struct Case {
    const char* what;
    int logX, logY, hideMarked;
    bool windows, replace, remove;
  } cases[] = {
      {"plain", 0, 0, 0, false, false, false},
      {"index windows set after each addition", 0, 0, 0, true, false, false},
      {"point mask", 0, 0, 1, false, false, false},
      {"logarithmic axes", 1, 1, 0, false, false, false},
      {"curve replaced and removed between additions", 0, 1, 0, false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CWINPlot plot, whole;
    for (CWINPlot* p : {&plot, &whole}) {
      p->SetPlotRect(50, 10, 950, 500);
      p->logX = static_cast<std::uint8_t>(c.logX);
      p->logY = static_cast<std::uint8_t>(c.logY);
      if (c.hideMarked) {
        const int mask[] = {0, 1, 0, 1, 1};
        p->SetCurveMask(mask, 4, 0, 0, 1);
        p->hideMarked = 1;
      }
    }
    for (size_t k = 0; k < data.size(); ++k) {
      SCOPED_TRACE(k);
      plot.AddCurve(&data[k].curve);
      whole.AddCurve(&data[k].curve);
      whole.Rescale();
      EXPECT_EQ(ScalingOf(plot), ScalingOf(whole));
      if (c.windows) {
        plot.SetCurveRange(static_cast<int>(k), 1, 2);
        whole.SetCurveRange(static_cast<int>(k), 1, 2);
      }
      if (c.replace && k == 1) {
        plot.SetCurve(0, &data[5].curve);
        whole.SetCurve(0, &data[5].curve);
      }
      if (c.remove && k == 3) {
        plot.RemoveLastCurve();
        whole.RemoveLastCurve();
      }
    }
  }
}

TEST(PlotScaling, AnAddedCurveMergesIntoTheExtentsOfTheLastScaling) {
  // Values changed in place after their curve was scaled count from the
  // next rescale on (the additions before it read each curve once).
  Data a({1, 2}, {1, 2});
  Data b({3, 4}, {3, 4});
  CWINPlot plot;
  plottest::ShowIn(plot, a);
  a.x[1] = 20;
  plot.AddCurve(&b.curve);
  EXPECT_NEAR(plot.xMax, 4.15f, 1e-5f);  // 1 .. 4 with 5 % margins
  plot.Rescale();
  EXPECT_NEAR(plot.xMax, 20.95f, 1e-5f);
}
