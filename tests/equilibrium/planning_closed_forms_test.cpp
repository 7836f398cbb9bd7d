// Closed forms of ideal equilibrium against numbers worked out by hand and
// against the conservation of the loaded mass.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "equilibrium/planning/equilibrium_closed_forms.h"
#include "equilibrium/planning/rotor_speed_estimate.h"
#include "equilibrium/planning/time_to_eq_params.h"
#include "fit/model_params.h"

namespace {

// r-weighted mean of f over [m, b] by Simpson's rule on n intervals.
template <typename F>
double WeightedMean(F f, double m, double b, int n = 4000) {
  const double h = (b - m) / n;
  double sum = 0;
  for (int i = 0; i <= n; ++i) {
    const double r = m + i * h, w = (i == 0 || i == n) ? 1 : (i % 2 ? 4 : 2);
    sum += w * f(r) * r;
  }
  return sum * h / 3.0 / (0.5 * (b * b - m * m));
}

}  // namespace

TEST(EquilibriumClosedForms, ProfilesKeepTheLoadedMassForEverySign) {
  // sigma from strongly floating through the uniform limit to a steep gradient.
  for (double sigma : {-40.0, -1.0, -1e-9, 0.0, 1e-12, 1e-6, 0.3, 5.0, 60.0}) {
    const double mean = WeightedMean(
        [&](double r) { return IdealEquilibriumConcentration(sigma, r, 6.75, 7.2); }, 6.75, 7.2,
        40000);
    EXPECT_NEAR(mean, 1.0, 1e-7) << sigma;
  }
}

TEST(EquilibriumClosedForms, ExtremeGradientsStayFinite) {
  for (double sigma : {-1e4, -700.0, 700.0, 1e4}) {
    for (double r : {6.75, 6.9, 7.2}) {
      const double c = IdealEquilibriumConcentration(sigma, r, 6.75, 7.2);
      EXPECT_TRUE(std::isfinite(c) && c >= 0) << sigma << " " << r;
    }
    const double plateau = StepPlateauConcentration(sigma, 7.0, 6.75, 7.2);
    EXPECT_TRUE(std::isfinite(plateau) && plateau >= 0) << sigma;
  }
  // The ratio of bottom to meniscus is exp(sigma (b^2 - m^2)).
  const double sigma = 0.7;
  EXPECT_NEAR(IdealEquilibriumConcentration(sigma, 7.2, 6.75, 7.2) /
                  IdealEquilibriumConcentration(sigma, 6.75, 6.75, 7.2),
              std::exp(sigma * (7.2 * 7.2 - 6.75 * 6.75)), 1e-9);
}

TEST(EquilibriumClosedForms, StepPlateau) {
  // Uniform limit: the plateau carries the column's mass on the shorter column.
  EXPECT_NEAR(StepPlateauConcentration(0.0, 7.0, 6.75, 7.2), 1.0, 1e-12);
  EXPECT_NEAR(StepPlateauConcentration(1e-10, 7.0, 6.75, 7.2),
              (7.2 * 7.2 - 6.75 * 6.75) / (7.2 * 7.2 - 7.0 * 7.0) *
                  (7.2 * 7.2 - 7.0 * 7.0) / (7.2 * 7.2 - 6.75 * 6.75),
              1e-8);
  // A(m) / A(r) by the written formula at a moderate gradient.
  const double s = 0.5, m = 6.75, b = 7.2, r = 7.0;
  auto A = [&](double x) { return (b * b - x * x) * s / (1 - std::exp(s * (x * x - b * b))); };
  EXPECT_NEAR(StepPlateauConcentration(s, r, m, b), A(m) / A(r), 1e-12);
  EXPECT_NEAR(StepPlateauConcentration(s, b, m, b), A(m) * 1.0, 1e-9);  // A(b) -> 1
}

TEST(EquilibriumClosedForms, TimeEstimateOfTheDefaultColumn) {
  EXPECT_NEAR(EstimateTimeToEquilibrium(15000, 20, 65000, 1.0f, 0.73f, 7.2f, 6.75f, 5.755e-7f, 1e-3f),
              39.09, 0.01);
  // Ten times stricter costs ln(10) slowest-mode decay times more.
  const float t3 = EstimateTimeToEquilibrium(15000, 20, 65000, 1, 0.73f, 7.2f, 6.75f, 5.755e-7f, 1e-3f);
  const float t4 = EstimateTimeToEquilibrium(15000, 20, 65000, 1, 0.73f, 7.2f, 6.75f, 5.755e-7f, 1e-4f);
  const double alpha = 293.15 * 1.662902e8 / ((7.2 * 7.2 - 6.75 * 6.75) * 0.27 * 65000 *
                                              std::pow(15000 * 0.10471976, 2));
  const double beta = 1 + 1 / (4 * M_PI * M_PI * alpha * alpha);
  EXPECT_NEAR((t4 - t3) * 3600, 0.45 * 0.45 / (5.755e-7 * M_PI * M_PI * beta) * std::log(10.0), 5.0);
  // Steep gradients (cosh overflowing in the written form) still give a time.
  EXPECT_TRUE(std::isfinite(
      EstimateTimeToEquilibrium(60000, 4, 5e6f, 1, 0.73f, 7.2f, 6.75f, 5e-8f, 1e-3f)));
}

TEST(PlanningParameters, MeniscusFromFillVolume) {
  EXPECT_NEAR(MeniscusFromFillVolume(130, 7.2f), 6.8291, 1e-4);
  EXPECT_NEAR(MeniscusFromFillVolume(0, 7.2f), 7.2, 1e-6);
  // More than the sector holds below the rotor axis.
  EXPECT_TRUE(std::isnan(MeniscusFromFillVolume(1e5f, 7.2f)));
}

TEST(RotorSpeedEstimate, TwentyToTwoHundredKilodalton) {
  RotorSpeedEstimate e;
  ASSERT_EQ(RotorSpeedEstimateRefusal(20000, 200000, 6.8f, 7.2f, 0.73f, 1.0f), "");
  EstimateEquilibriumRotorSpeeds(20000, 200000, 6.8f, 7.2f, 0.73f, 1.0f, e);
  EXPECT_EQ(e.rpm[1], 4700);
  EXPECT_EQ(e.rpm[2], 17800);
  EXPECT_EQ(e.rpm[3], 30000);
  EXPECT_EQ(std::lround(e.hours), 74);
  // The ratios the speeds are chosen for, a little less after rounding down.
  EXPECT_LE(e.curve[1][100] / e.curve[1][1], 5.0f);
  EXPECT_GT(e.curve[1][100] / e.curve[1][1], 4.5f);
  EXPECT_LE(e.curve[5][100] / e.curve[5][1], 10.0f);
  EXPECT_GT(e.curve[5][100] / e.curve[5][1], 9.5f);
  EXPECT_LE(e.curve[6][1], 0.01);
  for (int i = 1; i <= 100; ++i)
    for (int k = 1; k <= 3; ++k) EXPECT_FLOAT_EQ(e.curve[6 + k][i], 0.5f * (e.curve[k][i] + e.curve[3 + k][i]));
  EXPECT_FLOAT_EQ(e.radius[1], 6.8f);
  EXPECT_FLOAT_EQ(e.radius[100], 7.2f);
}

TEST(RotorSpeedEstimate, EveryPlottedFormulaKeepsTheLoading) {
  // Sampled on 100 points the 200 kDa profile at 30000 rpm averages 1.037;
  // the formula itself averages exactly 1.
  const double phi = 0.27, T = 277.15;
  for (double M : {20000.0, 200000.0})
    for (double rpm : {4700.0, 17800.0, 30000.0}) {
      const double w = rpm * M_PI / 30;
      const double sigma = phi * M * w * w / (166290200.0 * T);
      EXPECT_NEAR(WeightedMean([&](double r) { return IdealEquilibriumConcentration(sigma, r, 6.8, 7.2); },
                               6.8, 7.2, 20000),
                  1.0, 1e-6)
          << M << " " << rpm;
    }
}

TEST(RotorSpeedEstimate, RefusesEntriesWithoutAnEquilibrium) {
  struct Case {
    float lo, hi, m, b, vbar;
  } cases[] = {{0, 2e5f, 6.8f, 7.2f, 0.73f},   {2e4f, -1, 6.8f, 7.2f, 0.73f},
               {2e4f, 2e5f, 7.2f, 7.2f, 0.73f}, {2e4f, 2e5f, 7.3f, 7.2f, 0.73f},
               {2e4f, 2e5f, 6.8f, 7.2f, 1.0f},  {2e4f, 2e5f, 6.8f, 7.2f, 1.2f}};
  for (const Case& c : cases)
    EXPECT_NE(RotorSpeedEstimateRefusal(c.lo, c.hi, c.m, c.b, c.vbar, 1.0f), "") << c.lo << " " << c.m;
  // A mass too small to deplete the meniscus by 60000 rpm: no third speed.
  RotorSpeedEstimate e;
  EstimateEquilibriumRotorSpeeds(300, 2000, 6.8f, 7.2f, 0.73f, 1.0f, e);
  EXPECT_EQ(e.rpm[3], 0);
}
