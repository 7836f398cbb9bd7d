// Confidence limits by parameter scanning on a straight line whose profile
// rmsd is known in closed form: with y = a + b (x - xbar), fixing a and
// refitting b gives r(a)^2 = rhat^2 + (a - ahat)^2.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "fit/error_surface.h"
#include "fit/fit_driver.h"
#include "fit_test_support.h"
#include "numerics/random.h"
#include "numerics/statistics.h"

namespace {

using fittest::AnalyticHost;

struct LineData {
  double xbar = 0, ahat = 0, bhat = 0, rhat = 0, sxx = 0;
};

constexpr int kPoints = 100;

LineData LoadLine(int points) {
  fittest::ResetFitState();
  SeedGaussRandom(7);
  std::vector<float> x(points), y(points);
  LineData d;
  for (int k = 0; k < points; ++k) x[k] = 6.0f + 1.2f * (k + 1) / points;
  for (float v : x) d.xbar += v;
  d.xbar /= points;
  for (int k = 0; k < points; ++k) y[k] = 0.8f + 0.5f * static_cast<float>(x[k] - d.xbar) + GaussRandom(0.01f);
  fittest::LoadScans({x}, {y});
  double sy = 0, sxy = 0;
  for (int k = 0; k < points; ++k) {
    const double dx = x[k] - d.xbar;
    sy += y[k];
    sxy += dx * y[k];
    d.sxx += dx * dx;
  }
  d.ahat = sy / points;
  d.bhat = sxy / d.sxx;
  double ssr = 0;
  for (int k = 0; k < points; ++k) {
    const double e = y[k] - d.ahat - d.bhat * (x[k] - d.xbar);
    ssr += e * e;
  }
  d.rhat = std::sqrt(ssr / points);
  float* P = gModelParameterVector.P;
  P[5] = static_cast<float>(d.ahat);
  P[1] = static_cast<float>(d.bhat);
  gModelParams.s[1] = P[5];
  gModelParams.massOrD[1] = P[1];
  gModelParameterVector.F[5] = gModelParams.sFit[1] = 1;
  gModelParameterVector.F[1] = gModelParams.massOrDFit[1] = 1;
  return d;
}

AnalyticHost LineHost(double xbar) {
  AnalyticHost host;
  host.model = [xbar](const float* P, float x, int) { return P[5] + P[1] * static_cast<float>(x - xbar); };
  return host;
}

TEST(ErrorSurface, SLimitsMatchTheClosedFormProfile) {
  const LineData d = LoadLine(kPoints);
  AnalyticHost host = LineHost(d.xbar);
  const double F = FRatioForConfidence(0.683, kPoints - 1, kPoints);
  EXPECT_NEAR(F, 1.100367, 1e-5);
  const double c = d.rhat * std::sqrt(F * kPoints / (kPoints - 1));
  EXPECT_NEAR(c / d.rhat, 1.054269, 1e-5);
  const double halfWidth = std::sqrt(c * c - d.rhat * d.rhat);
  EXPECT_NEAR(halfWidth / d.rhat, 0.333889, 1e-5);

  const ModelParameterVector before = gModelParameterVector;
  ScanLimit lower, upper;
  CalcErrorInS(&host, 0.001f, static_cast<float>(c), &lower, &upper);
  ASSERT_EQ(lower.status, ScanLimitStatus::Found);
  ASSERT_EQ(upper.status, ScanLimitStatus::Found);
  EXPECT_NEAR(lower.value, d.ahat - halfWidth, 0.02 * halfWidth);
  EXPECT_NEAR(upper.value, d.ahat + halfWidth, 0.02 * halfWidth);
  EXPECT_NEAR(upper.value - d.ahat, d.ahat - lower.value, 0.02 * halfWidth);

  // The scanned flag stays cleared; every value is back.
  EXPECT_EQ(gModelParameterVector.F[5], 0);
  EXPECT_EQ(gModelParams.sFit[1], 0);
  EXPECT_EQ(gModelParameterVector.F[1], 1);
  for (int k = 1; k <= kParameterSlots; ++k) EXPECT_EQ(gModelParameterVector.P[k], before.P[k]) << k;
  fittest::ClearScans();
}

TEST(ErrorSurface, MLimitsWithNothingElseFloatedCostOneEvaluationPerRefit) {
  const LineData d = LoadLine(kPoints);
  gModelParameterVector.F[5] = gModelParams.sFit[1] = 0;
  AnalyticHost host = LineHost(d.xbar);
  // With a fixed, the profile over b is r(b)^2 = rhat^2 + (Sxx/N)(b - bhat)^2.
  const double c = 1.2 * d.rhat;
  const double halfWidth = std::sqrt((c * c - d.rhat * d.rhat) * kPoints / d.sxx);
  ScanLimit lower, upper;
  CalcErrorInM(&host, 0.01f, static_cast<float>(c), &lower, &upper);
  ASSERT_EQ(lower.status, ScanLimitStatus::Found);
  ASSERT_EQ(upper.status, ScanLimitStatus::Found);
  EXPECT_NEAR(lower.value, d.bhat - halfWidth, 0.01 * halfWidth);
  EXPECT_NEAR(upper.value, d.bhat + halfWidth, 0.01 * halfWidth);

  gModelParameterVector.F[1] = 0;
  host.evaluations = 0;
  EXPECT_NEAR(FitWithFixedParameters(&host), d.rhat, 1e-6);
  EXPECT_EQ(host.evaluations, 1);
  fittest::ClearScans();
}

TEST(ErrorSurface, AParameterTheModelIgnoresEndsNotDetermined) {
  const LineData d = LoadLine(kPoints);
  AnalyticHost host;
  const double xbar = d.xbar;
  host.model = [xbar](const float* P, float x, int) { return 0.8f + P[1] * static_cast<float>(x - xbar); };
  ScanLimit lower, upper;
  CalcErrorInS(&host, 0.01f, static_cast<float>(1.05 * d.rhat), &lower, &upper);
  EXPECT_EQ(lower.status, ScanLimitStatus::NotDetermined);
  EXPECT_EQ(upper.status, ScanLimitStatus::NotDetermined);
  fittest::ClearScans();
}

TEST(ErrorSurface, AStopRestoresEveryParameterAndEndsBothSides) {
  const LineData d = LoadLine(kPoints);
  gModelParameterVector.F[1] = gModelParams.massOrDFit[1] = 0;
  AnalyticHost host = LineHost(d.xbar);
  host.stopAfter = 3;  // with nothing else floated: during the third refit
  const ModelParameterVector before = gModelParameterVector;
  const float s1 = gModelParams.s[1];
  ScanLimit lower, upper;
  CalcErrorInS(&host, 0.001f, static_cast<float>(1.05 * d.rhat), &lower, &upper);
  EXPECT_EQ(upper.status, ScanLimitStatus::Stopped);
  EXPECT_EQ(lower.status, ScanLimitStatus::Stopped);
  for (int k = 1; k <= kParameterSlots; ++k) EXPECT_EQ(gModelParameterVector.P[k], before.P[k]) << k;
  EXPECT_EQ(gModelParams.s[1], s1);
  EXPECT_EQ(gFitEngineState.stopRequested, 0);
  EXPECT_NEAR(gFitEngineState.currentRmsd, d.rhat, 1e-6);
  fittest::ClearScans();
}

TEST(ErrorSurface, RefusedFitLimitsReturnZero) {
  fittest::ResetFitState();
  fittest::ClearScans();
  AnalyticHost host;
  host.model = [](const float*, float, int) { return 0.0f; };
  EXPECT_EQ(FitWithFixedParameters(&host), 0.0f);
  gFitEngineState.stopRequested = 1;
  EXPECT_EQ(FitWithFixedParameters(&host), -1.0f);
}

}  // namespace
