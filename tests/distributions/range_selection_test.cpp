#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "distributions/distribution_transforms.h"
#include "distributions/integrate_distribution.h"
#include "distributions/peak_area.h"
#include "distributions/range_selection.h"
#include "numerics/ccurve.h"
#include "platform/scripted_ui.h"
#include "run_test_support.h"
#include "two_peak_distribution.h"

using namespace runtest;

namespace {

TEST(RangePolyline, DrawnPartOfTheCurve) {
  // x = 1..10, c = x^2 (one-based).
  std::vector<float> x(11), c(11);
  for (int i = 1; i <= 10; ++i) {
    x[i] = static_cast<float>(i);
    c[i] = static_cast<float>(i * i);
  }
  struct Case {
    float a, b;
    std::vector<float> px, py;
  };
  const std::vector<Case> cases = {
      // Beyond the last point the end point is grid point 10, which comes twice.
      {2.5f, 12.0f, {2.5f, 3, 4, 5, 6, 7, 8, 9, 10, 10}, {6.5f, 9, 16, 25, 36, 49, 64, 81, 100, 100}},
      // A lower limit between grid points 1 and 2 starts at the limit itself.
      {1.5f, 3.0f, {1.5f, 2, 3, 3}, {2.5f, 4, 9, 9}},
      {0.0f, 1.5f, {1, 1.5f}, {1, 2.5f}},
      {4.25f, 4.75f, {4.25f, 4.75f}, {18.25f, 22.75f}},
      {11.0f, 12.0f, {}, {}},
      {-2.0f, 0.5f, {}, {}},
      {3.0f, 3.0f, {}, {}},
  };
  for (const Case& k : cases) {
    for (bool reversed : {false, true}) {
      const RangePolyline p = reversed ? IntegrationRangePolyline(x.data(), c.data(), 10, k.b, k.a)
                                       : IntegrationRangePolyline(x.data(), c.data(), 10, k.a, k.b);
      EXPECT_EQ(p.x, k.px) << k.a << ".." << k.b;
      EXPECT_EQ(p.y, k.py) << k.a << ".." << k.b;
    }
  }
}

TEST(RangeZoom, LimitsInEitherOrderIncludeTheirEndPoints) {
  std::vector<float> xs = {1, 2, 3, 4, 5}, ys = {0.5f, 2, 1, 3, -1};
  CVector x, y;
  x.Attach(xs.data(), 5, 0);
  y.Attach(ys.data(), 5, 0);
  const CCurve curve(&x, &y);
  struct Case {
    float x1, x2, lo, hi, yMax;
  };
  for (const Case& k : {Case{1, 3, 1, 3, 2}, Case{3, 1, 1, 3, 2}, Case{4, 4, 4, 4, 3}, Case{5, 6, 5, 6, 0},
                        Case{2.5f, 2.7f, 2.5f, 2.7f, 0}}) {
    const ZoomRange z = DistributionZoomRange(&curve, k.x1, k.x2);
    EXPECT_EQ(z.x1, k.lo);
    EXPECT_EQ(z.x2, k.hi);
    EXPECT_EQ(z.yMax, k.yMax) << k.x1 << ".." << k.x2;
  }
  const ZoomRange full = DistributionFullRange(&curve);
  EXPECT_EQ(full.x1, 1);
  EXPECT_EQ(full.x2, 5);
  EXPECT_EQ(full.yMax, 3);
}

TEST(SwErrorEstimate, TransportOfTheResidualsOverTime) {
  // R_j = c 2e-15 t_j: the residual boundary moves at 2e-15 cm/(s signal),
  // so sw is off by 2e-15 x 1e13 = 0.02 S.
  const double c = 0.75;
  std::vector<double> t = {600, 900, 1200, 1500, 1800}, R;
  for (double tj : t) R.push_back(c * 2e-15 * tj);
  SwErrorEstimate e = EstimateSwError(R, t, c);
  EXPECT_EQ(e.pairs, 4);
  EXPECT_NEAR(e.error, 0.02, 1e-12);
  EXPECT_EQ(SwErrorLine(e), "\nbased on residuals (shaded bitmap) via transport method, estimated error in sw is 2.0e-02 S");
  // Three usable pairs: a scan without residual transport and one taken at
  // the same time as its neighbour take their pairs out.
  std::vector<double> R2 = R, t2 = t;
  R2[4] = 0.0;
  e = EstimateSwError(R2, t2, c);
  EXPECT_EQ(e.pairs, 3);
  EXPECT_EQ(SwErrorLine(e), "");
  t2 = {600, 900, 900, 1500, 1800};
  e = EstimateSwError(R, t2, c);
  EXPECT_EQ(e.pairs, 3);
  EXPECT_TRUE(std::isfinite(e.error));
}

using SelectedRange = TwoPeakDistribution;

TEST_F(SelectedRange, ReportOfTheSedimentationCoefficientDistribution) {
  const SelectedRangeIntegral r = IntegrateRange(2.0f, 4.0f, 0, 0);
  EXPECT_NEAR(r.c, 0.751273, 1e-6);
  EXPECT_NEAR(r.total, 1.378646, 1e-6);
  const std::string text = SelectedRangeReport(r);
  EXPECT_EQ(text.rfind("Integral from 2.000000 to 4.000000:\nLoading Concentration [Signal] = 0.751273 (54.494% of "
                       "total)\nWeight (Signal) Average = 3.000000\n Std. deviation[as sqrt(second central moment)] = "
                       "0.301 (best done without regularization)\nsw transformed to 20,w conditions = ",
                       0),
            0u)
      << text;
  // The other kinds of distribution, over the same numbers.
  SelectedRangeIntegral k;
  k.x1 = -1.0f;
  k.x2 = 0.0f;
  k.c = 0.5f;
  k.total = 2.0f;
  k.average = 3.0f;
  k.sd = 0.3f;
  k.mz = 4.0f;
  struct Kind {
    bool dls;
    unsigned char ModelSelectorFlags::*flag;
    std::string text;
  };
  const std::vector<Kind> kinds = {
      {true, &ModelSelectorFlags::DlsIDModel,
       "Integral from 1000000.000000 to 10000000.000000 F:\nTotal Signal = 0.500000 (25.000% of total)\nSignal "
       "Average D = 3.000000 F"},
      {true, &ModelSelectorFlags::DlsIRhModel,
       "Integral from 100000000.000000 to 1000000000.000000 nm:\nTotal Signal = 0.500000 (25.000% of "
       "total)\nSignal Average R = 3.000000 nm"},
      {false, &ModelSelectorFlags::FMScalingLawModel,
       "Integral from -1.000000 to 0.000000:\nLoading Concentration [Signal] = 0.500000 (25.000% of "
       "total)\nWeight (Signal) Average = 3.000000\nz-Average = 4.000000\nMz/Mw = 1.333333\n Std. deviation[as "
       "sqrt(second central moment)] = 0.300 (best done without regularization)"},
      {false, &ModelSelectorFlags::ContiRegularizationSwitch,
       "Integral from -1.000000 to 0.000000:\nLoading Concentration [Signal] = 0.500000 (25.000% of "
       "total)\nWeight (Signal) Average = 3.000000\n Std. deviation[as sqrt(second central moment)] = 0.300 (best "
       "done without regularization)"},
  };
  for (const Kind& kind : kinds) {
    gModelSelectorFlags = ModelSelectorFlags{};
    gModelSelectorFlags.*kind.flag = 1;
    CurrentDataTypeFlags().dls = kind.dls;
    EXPECT_EQ(SelectedRangeReport(k), kind.text);
  }
  CurrentDataTypeFlags().dls = 0;
  gModelSelectorFlags.CSModel = gModelSelectorFlags.DistributionModel = 1;
  // An empty distribution: the total counts as 1, nothing is divided by 0.
  for (float& v : c_) v = 0.0f;
  const SelectedRangeIntegral e = IntegrateRange(2.0f, 4.0f, 0, 0);
  EXPECT_EQ(e.total, 1.0f);
  EXPECT_EQ(e.Percent(), 0.0f);
}

using TransformTest = SmallRunTest;

TEST_F(TransformTest, StandardConditionsKeepTheAreaAndTheSignalFileMustHoldCoefficients) {
  SetGrid(1.0f, 10.0f, 100);
  ASSERT_TRUE(SetupContiGrid());
  ContiSettings& cs = Conti();
  for (int i = 1; i <= cs.gridSize; ++i) cs.distribution[i] = std::exp(-std::pow(cs.sValues[i] - 5.0f, 2.0f));
  const std::vector<float> x0(cs.sValues, cs.sValues + 101), c0(cs.distribution, cs.distribution + 101);
  const double area0 = IntegratePiecewiseLinear(cs.sValues, cs.distribution, 1, 100, -1, 1e9, false, false).area;
  // vbar 0.73 in the experiment and at 20 C, density 1.0, 0.01002 Poise.
  ASSERT_TRUE(TransformDistributionToS20(0.001002f, 1.0f, 0.73f, 0.73f));
  for (int i : {1, 37, 100}) {
    EXPECT_NEAR(cs.sValues[i] / x0[i], 1.004786, 1e-6);
    EXPECT_NEAR(cs.distribution[i] * 1.004786, c0[i], 1e-6);
  }
  EXPECT_NEAR(IntegratePiecewiseLinear(cs.sValues, cs.distribution, 1, 100, -1, 1e9, false, false).area, area0,
              1e-6);

  ui.lenient = true;
  const std::string empty = platform::SystemTempFolder() + "no_coeffs.dat";
  { std::ofstream(empty) << ""; }
  EXPECT_FALSE(CorrectDistributionForSignal(empty));
  EXPECT_FALSE(CorrectDistributionForSignal(empty + ".missing"));
  EXPECT_NEAR(cs.distribution[37] * 1.004786, c0[37], 1e-6);
  std::remove(empty.c_str());
}

// c(s) of data with 0.6 at 3 S and 0.3 at 6 S under maximum entropy: the
// peak walk recovers the two loadings and their positions.
TEST(PeakWalkOnACsResult, FractionsAndPositionsOfTwoSpecies) {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope{ui};
  Experiment e(8, 120);
  SetGrid(1.0f, 10.0f, 37);  // 0.25 S steps: 3 S at 9, 6 S at 21
  ASSERT_TRUE(MakeSyntheticData(e, {{9, 0.6f}, {21, 0.3f}}));
  // A little noise gives the regularisation something to weigh.
  e.AddGaussianNoise(0.003f, 3);
  Conti().maxEntropy = 1;
  Conti().confidenceLevel = 0.68f;
  RunContiSed();
  ContiSettings& cs = Conti();
  EXPECT_TRUE(ui.failures.empty()) << (ui.failures.empty() ? "" : ui.failures[0]);
  CVector x, y;
  x.Attach(cs.sValues + 1, static_cast<unsigned>(cs.gridSize), 0);
  y.Attach(cs.distribution + 1, static_cast<unsigned>(cs.gridSize), 0);
  const CCurve curve(&x, &y);
  float px[3], py[3];
  int index[3];
  ASSERT_EQ(curve.FindPeaks(px, py, index, 2, 2), 2);
  struct Expected {
    double s, fraction;
  };
  std::vector<Expected> found;
  for (int k = 1; k <= 2; ++k) {
    const PeakArea a = IntegratePeakAt(index[k]);
    found.push_back({a.sw, a.fraction});
  }
  if (found[0].s > found[1].s) std::swap(found[0], found[1]);
  EXPECT_NEAR(found[0].s, 3.0, 0.02 * 3.0);
  EXPECT_NEAR(found[1].s, 6.0, 0.02 * 6.0);
  EXPECT_NEAR(found[0].fraction, 0.667, 0.02);
  EXPECT_NEAR(found[1].fraction, 0.333, 0.02);
}

}  // namespace
