#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <utility>
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
  std::vector<float> x_, c_;
};

// Integrals over ranges of one-dimensional distributions, against closed
// forms. An expected zero is exact (nothing was summed or the average is
// not defined); NaN is not checked. The sums are of floats: measured at most
// 4e-7 off (the ramp's moments, given to six decimals), the same on every
// kernel; 1e-6 on values of 1 to 50 and 1e-2 on masses of 2e4 leave a few
// roundings more, 1e-5 a mean from interpolated limits or powers of ten.
TEST_F(IntegrationFixture, RangesOfOneDimensionalDistributions) {
  const double kAny = std::nan("");
  const std::vector<float> ramp = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};  // c(x) = x
  const double a = std::pow(10.0, -0.5), b = 1.0, d = std::pow(10.0, 0.5);
  struct Row {
    const char* name;
    std::vector<float> x, c;
    void (*arrange)();  // other models or axes than the plain c(s)
    float lo, hi;
    bool withSd;  // without its pointer no number or z average is computed
    double area, mean, total, sd, mn, mz;
    double tolerance, meanTolerance;
  };
  void (*const none)() = [] {};
  const std::vector<Row> rows = {
      // int_2^5 x dx = 10.5, int x^2 = 39, int x^3 = 152.25, int 1 = 3.
      {"ramp moments", ramp, ramp, none, 2.0, 5.0, true, 10.5, 3.714286, 50.0, 0.839096, 3.5, 3.903846,
       1e-6, 1e-6},
      {"both limits inside one segment", ramp, ramp, none, 2.25, 2.75, false, 1.25,
       (2.75 * 2.75 * 2.75 - 2.25 * 2.25 * 2.25) / 3.0 / 1.25, kAny, kAny, kAny, kAny, 1e-6,
       1e-5},
      {"limits beyond the grid enclose everything", ramp, ramp, none, -5.0, 50.0, false, 50.0,
       1000.0 / 3.0 / 50.0, 50.0, kAny, kAny, kAny, 1e-6, 1e-5},
      {"equal limits", ramp, ramp, none, 3.0, 3.0, true, 0, 0, 0, 0, 0, 0, 0, 0},
      {"a range ending at the first point", ramp, ramp, none, -2.0, 0.0, true, 0, 0, 0, 0, 0, 0, 0, 0},
      {"a range starting at the last point", ramp, ramp, none, 10.0, 12.0, true, 0, 0, 0, 0, 0, 0, 0, 0},
      // A box c = 1 on [4, 6]: [6, 8] starts where its last segment ends,
      // [2, 4] ends where it begins: only the segments 6-7 and 3-4 fall
      // inside; the ramp down from 6 to 7 holds 0.5.
      {"a box's last segment touching the lower limit", ramp, {0, 0, 0, 0, 1, 1, 1, 0, 0, 0, 0}, none, 6.0, 8.0,
       false, 0.5, kAny, kAny, kAny, kAny, kAny, 1e-7, 0},
      {"beyond the box", ramp, {0, 0, 0, 0, 1, 1, 1, 0, 0, 0, 0}, none, 7.0, 9.0, false, 0, kAny, kAny, kAny, kAny,
       kAny, 0, 0},
      {"before the box", ramp, {0, 0, 0, 0, 1, 1, 1, 0, 0, 0, 0}, none, 1.0, 3.0, false, 0, kAny, kAny, kAny, kAny,
       kAny, 0, 0},
      {"a non-positive lower limit leaves the number and z averages at zero", ramp, ramp, none, 0.0, 5.0, true,
       12.5, kAny, kAny, kAny, 0, 0, 1e-6, 0},
      {"without the standard deviation neither average", ramp, ramp, none, 1.0, 5.0, false, kAny, kAny, kAny, kAny,
       0, 0, 0, 0},
      // Point 1 carries a discrete component of a large amplitude at x = 0.5.
      {"a discrete first point is left out", {0.5, 1, 2, 3}, {100, 1, 1, 1},
       [] { gModelSelectorFlags.CSWith1DiscreteModel = 1; }, 0.0, 10.0, false, 2.0, 2.0, 2.0, kAny, kAny, kAny,
       1e-6, 1e-6},
      {"without the discrete model it counts", {0.5, 1, 2, 3}, {100, 1, 1, 1}, none, 0.0, 10.0, false, 27.25,
       kAny, kAny, kAny, kAny, kAny, 1e-5, 0},
      {"c(M) integrates over the mass axis", {1, 2, 3, 4}, {1, 1, 1, 1},
       [] {
         static std::vector<float> masses = {0, 1e4, 2e4, 3e4, 4e4};  // one-based
         Conti().molarMasses = masses.data();
         gModelSelectorFlags = ModelSelectorFlags();
         gModelSelectorFlags.DistributionModel = 1;
       },
       1e4, 3e4, false, 2e4, 2e4, kAny, kAny, kAny, kAny, 1e-2, 1e-2},
      // log10 radius -9.5 .. -8.5, a symmetric triangle about -9: the mean
      // is 10^(-9 + 9).
      {"a DLS radius in log units", {-9.5, -9.0, -8.5}, {0, 1, 0},
       [] {
         gModelSelectorFlags = ModelSelectorFlags();
         gModelSelectorFlags.DlsIRhModel = 1;
       },
       -10.0, -8.0, true, 0.5, 1.0, kAny, 0, 0, 0, 1e-6, 1e-5},
      // In linear units the grid and the limits become 10^(v + 9): a
      // triangle on [a, d] peaking at b, of mean (a + b + d) / 3.
      {"a DLS radius in linear units", {-9.5, -9.0, -8.5}, {0, 1, 0},
       [] {
         gModelSelectorFlags = ModelSelectorFlags();
         gModelSelectorFlags.DlsIRhModel = 1;
         Conti().dlsLinearAxis = 1;
       },
       -10.0, -8.0, false, 0.5 * (d - a), (a + b + d) / 3.0, kAny, kAny,
       kAny, kAny, 1e-5, 1e-5},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TearDown();
    SetUp();
    Load(row.x, row.c);
    row.arrange();
    float area = -1, mean = -1, total = -1, sd = -1, mn = -1, mz = -1;
    IntegrateDistribution(row.lo, row.hi, &area, &mean, &total, row.withSd ? &sd : nullptr, &mn, &mz);
    const std::pair<double, double> checks[] = {{area, row.area}, {total, row.total}, {sd, row.sd},
                                              {mn, row.mn},     {mz, row.mz}};
    const char* names[] = {"area", "total", "sd", "number average", "z average"};
    for (size_t k = 0; k < std::size(checks); ++k) {
      const auto [got, expected] = checks[k];
      if (std::isnan(expected)) continue;
      if (expected == 0.0) {
        EXPECT_EQ(got, 0.0) << names[k];
      } else {
        EXPECT_NEAR(got, expected, row.tolerance) << names[k];
      }
    }
    if (row.mean == 0.0) {
      EXPECT_EQ(mean, 0.0f);
    } else if (!std::isnan(row.mean)) {
      EXPECT_NEAR(mean, row.mean, row.meanTolerance);
    }
  }
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
