#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "distributions/integrate_distribution.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "two_peak_distribution.h"

namespace {

// Puts c(x) on the grid x[1..n] of Conti() as a c(s) distribution.
class IntegrationFixture : public DistributionTest {
 protected:
  void Load(const std::vector<float>& x, const std::vector<float>& c) {
    x_.assign(1, 0.0f);
    c_.assign(1, 0.0f);
    x_.insert(x_.end(), x.begin(), x.end());
    c_.insert(c_.end(), c.begin(), c.end());
    Conti().gridSize = static_cast<int>(x.size());
    Conti().sValues = x_.data();
    Conti().molarMasses = x_.data();
    Conti().distribution = c_.data();
  }
  // c(x) = x on 0, 1, ..., 10.
  void LoadRamp() {
    std::vector<float> x, c;
    for (int i = 0; i <= 10; ++i) {
      x.push_back(static_cast<float>(i));
      c.push_back(static_cast<float>(i));
    }
    Load(x, c);
  }
  std::vector<float> x_, c_;
};

TEST_F(IntegrationFixture, RampMomentsMatchClosedForms) {
  LoadRamp();
  float area, mean, total, sd, mn, mz;
  IntegrateDistribution(2.0f, 5.0f, &area, &mean, &total, &sd, &mn, &mz);
  // int_2^5 x dx = 10.5, int x^2 = 39, int x^3 = 152.25, int 1 = 3.
  EXPECT_NEAR(area, 10.5, 1e-6);
  EXPECT_NEAR(mean, 3.714286, 1e-6);
  EXPECT_NEAR(sd, 0.839096, 1e-6);
  EXPECT_NEAR(mn, 3.5, 1e-6);
  EXPECT_NEAR(mz, 3.903846, 1e-6);
  EXPECT_NEAR(total, 50.0, 1e-6);
}

TEST_F(IntegrationFixture, LimitsInsideSegmentsAreInterpolated) {
  LoadRamp();
  float area, mean, total;
  // Both limits inside one segment: int_2.25^2.75 x dx = 1.25.
  IntegrateDistribution(2.25f, 2.75f, &area, &mean, &total);
  EXPECT_NEAR(area, 1.25, 1e-6);
  EXPECT_NEAR(mean, (2.75 * 2.75 * 2.75 - 2.25 * 2.25 * 2.25) / 3.0 / 1.25, 1e-5);
  // Limits beyond the grid on both sides enclose everything.
  IntegrateDistribution(-5.0f, 50.0f, &area, &mean, &total);
  EXPECT_NEAR(area, total, 1e-6);
  EXPECT_NEAR(mean, 1000.0 / 3.0 / 50.0, 1e-5);
}

TEST_F(IntegrationFixture, EmptyRangesGiveZeros) {
  LoadRamp();
  struct Case {
    float lo, hi;
  };
  // Equal limits; a range that ends at the grid's first point; a range that
  // starts at its last point.
  for (Case k : {Case{3.0f, 3.0f}, Case{-2.0f, 0.0f}, Case{10.0f, 12.0f}}) {
    float area = -1, mean = -1, total = -1, sd = -1, mn = -1, mz = -1;
    IntegrateDistribution(k.lo, k.hi, &area, &mean, &total, &sd, &mn, &mz);
    EXPECT_EQ(area, 0.0f) << k.lo << " " << k.hi;
    EXPECT_EQ(mean, 0.0f);
    EXPECT_EQ(total, 0.0f);
    EXPECT_EQ(sd, 0.0f);
    EXPECT_EQ(mn, 0.0f);
    EXPECT_EQ(mz, 0.0f);
  }
}

TEST_F(IntegrationFixture, SegmentsTouchingTheLimitsContributeNothing) {
  // A box c = 1 on [4, 6], 0 elsewhere, on an integer grid: the range
  // [6, 8] starts where the box's last segment ends, [2, 4] ends where it
  // begins: only the segments 6-7 and 3-4 respectively fall inside.
  std::vector<float> x, c;
  for (int i = 0; i <= 10; ++i) {
    x.push_back(static_cast<float>(i));
    c.push_back(i >= 4 && i <= 6 ? 1.0f : 0.0f);
  }
  Load(x, c);
  float area, mean, total;
  IntegrateDistribution(6.0f, 8.0f, &area, &mean, &total);
  EXPECT_NEAR(area, 0.5, 1e-7);  // the ramp down from 6 to 7
  IntegrateDistribution(7.0f, 9.0f, &area, &mean, &total);
  EXPECT_EQ(area, 0.0f);
  IntegrateDistribution(1.0f, 3.0f, &area, &mean, &total);
  EXPECT_EQ(area, 0.0f);
}

TEST_F(IntegrationFixture, NonPositiveLowerLimitLeavesNumberAndZAveragesAtZero) {
  LoadRamp();
  float area, mean, total, sd, mn = -1, mz = -1;
  IntegrateDistribution(0.0f, 5.0f, &area, &mean, &total, &sd, &mn, &mz);
  EXPECT_NEAR(area, 12.5, 1e-6);
  EXPECT_EQ(mn, 0.0f);
  EXPECT_EQ(mz, 0.0f);
  // Without the standard-deviation pointer neither average is computed.
  mn = mz = -1;
  IntegrateDistribution(1.0f, 5.0f, &area, &mean, &total, nullptr, &mn, &mz);
  EXPECT_EQ(mn, 0.0f);
  EXPECT_EQ(mz, 0.0f);
}

TEST_F(IntegrationFixture, DiscreteFirstPointIsLeftOut) {
  // Point 1 carries a discrete component of a large amplitude at x = 0.5.
  std::vector<float> x = {0.5f, 1.0f, 2.0f, 3.0f}, c = {100.0f, 1.0f, 1.0f, 1.0f};
  Load(x, c);
  gModelSelectorFlags.CSWith1DiscreteModel = 1;
  float area, mean, total;
  IntegrateDistribution(0.0f, 10.0f, &area, &mean, &total);
  EXPECT_NEAR(area, 2.0, 1e-6);
  EXPECT_NEAR(total, 2.0, 1e-6);
  EXPECT_NEAR(mean, 2.0, 1e-6);
  gModelSelectorFlags.CSWith1DiscreteModel = 0;
  IntegrateDistribution(0.0f, 10.0f, &area, &mean, &total);
  EXPECT_NEAR(area, 27.25, 1e-5);
}

TEST_F(IntegrationFixture, CofMIntegratesOverTheMassAxis) {
  std::vector<float> s = {1, 2, 3, 4}, c = {1, 1, 1, 1};
  Load(s, c);
  std::vector<float> m = {0, 1e4f, 2e4f, 3e4f, 4e4f};
  Conti().molarMasses = m.data();
  gModelSelectorFlags = ModelSelectorFlags();
  gModelSelectorFlags.DistributionModel = 1;
  float area, mean, total;
  IntegrateDistribution(1e4f, 3e4f, &area, &mean, &total);
  EXPECT_NEAR(area, 2e4, 1e-2);
  EXPECT_NEAR(mean, 2e4, 1e-2);
}

TEST_F(IntegrationFixture, DlsRadiusInLogUnitsReturnsTenToTheMeanPlusNine) {
  // log10 radius grid -9.5 .. -8.5 with a symmetric triangle about -9.
  std::vector<float> x = {-9.5f, -9.0f, -8.5f}, c = {0.0f, 1.0f, 0.0f};
  Load(x, c);
  gModelSelectorFlags = ModelSelectorFlags();
  gModelSelectorFlags.DlsIRhModel = 1;
  float area, mean, total, sd = -1, mn = -1, mz = -1;
  IntegrateDistribution(-10.0f, -8.0f, &area, &mean, &total, &sd, &mn, &mz);
  EXPECT_NEAR(area, 0.5, 1e-6);
  EXPECT_NEAR(mean, 1.0, 1e-5);  // 10^(-9 + 9)
  EXPECT_EQ(sd, 0.0f);
  EXPECT_EQ(mn, 0.0f);
  EXPECT_EQ(mz, 0.0f);
  // In linear units the grid and the limits become 10^(v + 9).
  Conti().dlsLinearAxis = 1;
  IntegrateDistribution(-10.0f, -8.0f, &area, &mean, &total);
  const double a = std::pow(10.0, -0.5), b = 1.0, d = std::pow(10.0, 0.5);
  EXPECT_NEAR(area, 0.5 * (d - a), 1e-5);
  // Triangle on [a, d] peaking at b: mean = (a + b + d) / 3.
  EXPECT_NEAR(mean, (a + b + d) / 3.0, 1e-5);
}

TEST_F(IntegrationFixture, TwoDimensionalRectangleAverages) {
  ContiSettings& cs = Conti();
  gModelSelectorFlags.CSModel = 0;
  gModelSelectorFlags.CSff0Model = 1;
  // Four points: two inside the rectangle s in [1, 3], f/f0 in [1.1, 1.5].
  std::vector<float> S = {0, 2, 2, 5, 2}, FF = {0, 1.2f, 1.4f, 1.2f, 2.0f};
  std::vector<float> M = {0, 1e4f, 3e4f, 9e4f, 9e4f}, D = {0, 6e-7f, 4e-7f, 1e-7f, 1e-7f};
  std::vector<float> R = {0, 3, 5, 9, 9}, Z = {0, 1, 3, 7, 7};
  cs.grid2DSize = 4;
  cs.grid2DS = S.data();
  cs.grid2DFf = FF.data();
  cs.grid2DM = M.data();
  cs.grid2DD = D.data();
  cs.grid2DStokes = R.data();
  cs.grid2DAmplitude = Z.data();
  cs.csffRangeFfMin = 1.1f;
  cs.csffRangeFfMax = 1.5f;
  std::vector<float> x = {1, 2, 3}, c = {0, 0, 0};
  Load(x, c);
  float area, mean, total;
  IntegrateDistribution(1.0f, 3.0f, &area, &mean, &total);
  EXPECT_NEAR(cs.csffWeightAverageM, (1e4 + 9e4) / 4.0, 1e-2);
  EXPECT_NEAR(cs.csffStokesRadius, 4.5, 1e-6);
  EXPECT_NEAR(cs.csffFf, (1.2 + 3 * 1.4) / 4.0, 1e-6);
  EXPECT_NEAR(cs.csffStokesRadiusSD, std::sqrt((1.5 * 1.5 + 3 * 0.5 * 0.5) / 4.0), 1e-6);
  EXPECT_NEAR(cs.csffMSD, std::sqrt((1.5e4 * 1.5e4 + 3 * 0.5e4 * 0.5e4) / 4.0), 1e-2);
  // M from the weight-average s and D by the Svedberg relation.
  const double dw = (6e-7 + 3 * 4e-7) / 4.0;
  const double expected = 2e-13 * 8.31451e7 * gSolutionConditions.temperature /
                          (dw * (1.0 - gSolutionConditions.vbarRho));
  EXPECT_NEAR(cs.csffMFromSD / expected, 1.0, 1e-5);
  // The M-versus-f/f0 switch puts M on the first axis.
  cs.display2DSwitch[3] = 1;
  IntegrateDistribution(2e4f, 1e5f, &area, &mean, &total);
  EXPECT_NEAR(cs.csffWeightAverageM, (3 * 3e4 + 7 * 9e4) / 10.0, 1e-2);
  // Nothing inside: all averages 0.
  IntegrateDistribution(1e6f, 2e6f, &area, &mean, &total);
  EXPECT_EQ(cs.csffWeightAverageM, 0.0);
  EXPECT_EQ(cs.csffMFromSD, 0.0);
}

}  // namespace
