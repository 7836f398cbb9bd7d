// Confidence limits by parameter scanning on a straight line whose profile
// rmsd is known in closed form: with y = a + b (x - xbar), fixing a and
// refitting b gives r(a)^2 = rhat^2 + (a - ahat)^2.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fit/error_surface.h"
#include "fit/fit_driver.h"
#include "fit_test_support.h"
#include "numerics/random.h"
#include "numerics/statistics.h"
#include "platform/input_events.h"

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

// The line loaded, a host of its model, the scans cleared after the test.
class LineProfile : public ::testing::Test {
 protected:
  void TearDown() override { fittest::ClearScans(); }
  const LineData d = LoadLine(kPoints);
  AnalyticHost host = LineHost(d.xbar);
};
using ErrorSurface = LineProfile;
using ContourMaps = LineProfile;

TEST_F(ErrorSurface, SLimitsMatchTheClosedFormProfile) {
  const double F = FRatioForConfidence(0.683, kPoints - 1, kPoints);
  EXPECT_NEAR(F, 1.100367, 1e-5);
  // Fifty points: F(0.683; 49, 50) and its critical-rmsd factor.
  const double F50 = FRatioForConfidence(0.683, 49, 50);
  EXPECT_NEAR(F50, 1.145430, 1e-5);
  EXPECT_NEAR(std::sqrt(F50 * 50 / 49), 1.081113, 1e-5);
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
}

TEST_F(ErrorSurface, MLimitsWithNothingElseFloatedCostOneEvaluationPerRefit) {
  gModelParameterVector.F[5] = gModelParams.sFit[1] = 0;
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
}

TEST_F(ErrorSurface, AParameterTheModelIgnoresEndsNotDetermined) {
  const double xbar = d.xbar;
  host.model = [xbar](const float* P, float x, int) { return 0.8f + P[1] * static_cast<float>(x - xbar); };
  ScanLimit lower, upper;
  CalcErrorInS(&host, 0.01f, static_cast<float>(1.05 * d.rhat), &lower, &upper);
  EXPECT_EQ(lower.status, ScanLimitStatus::NotDetermined);
  EXPECT_EQ(upper.status, ScanLimitStatus::NotDetermined);
}

TEST_F(ErrorSurface, AStepThatCannotMoveEndsAtOnce) {
  for (float step : {0.0f, std::nanf("")}) {
    host.evaluations = 0;
    ScanLimit lower, upper;
    CalcErrorInS(&host, step, static_cast<float>(1.05 * d.rhat), &lower, &upper);
    EXPECT_EQ(lower.status, ScanLimitStatus::NotDetermined);
    EXPECT_EQ(upper.status, ScanLimitStatus::NotDetermined);
    EXPECT_EQ(host.evaluations, 1);  // only the model of the restored parameters
  }
}

TEST_F(ErrorSurface, AStopRestoresEveryParameterAndEndsBothSides) {
  gModelParameterVector.F[1] = gModelParams.massOrDFit[1] = 0;
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
  EXPECT_FALSE(platform::InputHeld());
  EXPECT_FALSE(platform::StopFlag().load());
}

TEST_F(ErrorSurface, RefusedFitLimitsReturnZero) {
  fittest::ResetFitState();
  fittest::ClearScans();
  host.model = [](const float*, float, int) { return 0.0f; };
  EXPECT_EQ(FitWithFixedParameters(&host), 0.0f);
  gFitEngineState.stopRequested = 1;
  EXPECT_EQ(FitWithFixedParameters(&host), -1.0f);
}

// Rmsd maps over (a, b) = (P[5], P[1]) with nothing else floated: each node
// is one evaluation and its rmsd the closed form
// r^2 = rhat^2 + (a - ahat)^2 + (Sxx/N)(b - bhat)^2.
double ProfileRmsd(const LineData& d, double a, double b) {
  return std::sqrt(d.rhat * d.rhat + (a - d.ahat) * (a - d.ahat) + d.sxx / kPoints * (b - d.bhat) * (b - d.bhat));
}

std::vector<std::vector<double>> ReadRows(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::vector<double>> rows;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::vector<double> row;
    double v;
    while (fields >> v) row.push_back(v);
    if (!row.empty()) rows.push_back(row);
  }
  return rows;
}

std::string MapPath(const char* name) {
  return (std::filesystem::temp_directory_path() / (std::string("tarnel_error_surface_") + name)).string();
}

TEST_F(ContourMaps, NodeCounts) {
  struct Case {
    float from, to, step;
    int count;
  } cases[] = {{1, 2, 0.2f, 6}, {1, 2, 5, 1}, {1, 1, 0.1f, 1}, {3, 1, -1, 3}, {1, 3, -1, 0}, {3, 1, 1, 0}};
  for (const Case& c : cases) EXPECT_EQ(ContourNodeCount(c.from, c.to, c.step), c.count) << c.from << " " << c.step;
}

TEST_F(ContourMaps, RasterVisitsEveryNodeInSweepOrderWithTheProfileRmsd) {
  const float relative = gFitEngineState.maxRelativeChange;
  const std::string path = MapPath("raster.dat");
  ASSERT_TRUE(ContourSM(&host, path.c_str(), {1, 3, 1}, {0, 2, 1}, 0.0f, 1, 1));
  const auto rows = ReadRows(path);
  ASSERT_EQ(rows.size(), 9u);
  const double order[8][2] = {{1, 1}, {1, 2}, {2, 2}, {2, 1}, {2, 0}, {3, 0}, {3, 1}, {3, 2}};
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(rows[i][0], order[i][0]) << i;
    EXPECT_EQ(rows[i][1], order[i][1]) << i;
    const double r = ProfileRmsd(d, order[i][0], order[i][1]);
    EXPECT_NEAR(rows[i][2], r, 1e-5 * r) << i;
  }
  EXPECT_EQ(rows[8], (std::vector<double>{0, 0, 0}));
  EXPECT_EQ(gModelParameterVector.F[5], 0);
  EXPECT_EQ(gModelParameterVector.F[1], 0);
  EXPECT_EQ(gFitEngineState.maxRelativeChange, relative);

  // Negative increments walk the same nodes from the other end.
  ASSERT_TRUE(ContourSM(&host, path.c_str(), {3, 1, -1}, {2, 0, -1}, 0.0f, 3, 2));
  const auto reversed = ReadRows(path);
  ASSERT_EQ(reversed.size(), 9u);
  EXPECT_EQ(reversed[0], (std::vector<double>{3, 2, reversed[0][2]}));
  EXPECT_EQ(reversed[8][0], 1);
  EXPECT_EQ(reversed[8][1], 0);
  for (const auto& row : reversed) EXPECT_NEAR(row[2], ProfileRmsd(d, row[0], row[1]), 1e-5 * row[2]);

  // An axis without nodes is refused before anything is written.
  std::filesystem::remove(path);
  EXPECT_FALSE(ContourSM(&host, path.c_str(), {1, 3, -1}, {0, 2, 1}, 0.0f, 1, 1));
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(ContourMaps, ProgressLinesWrapAfterFifteen) {
  for (int i = 1; i <= 32; ++i) ShowContourProgress(&host, 1.5f, 2.25f, 0.01f, i);
  // Wherever the counter stood, line 16 lands where line 1 did.
  for (int i = 0; i + 15 < 32; ++i)
    EXPECT_EQ(host.texts[i].substr(0, host.texts[i].find(':')),
              host.texts[i + 15].substr(0, host.texts[i + 15].find(':')));
  EXPECT_EQ(host.texts[31].substr(host.texts[31].find(':') + 1), "32: (1.50 , 2.25) 0.010000");
  EXPECT_EQ(host.texts[0].rfind("350,", 0), 0u);
}

TEST_F(ContourMaps, BoundaryTracingFollowsTheProfileEllipse) {
  const double level = 1.2 * d.rhat;
  const double ha = std::sqrt(level * level - d.rhat * d.rhat);
  const double hb = ha * std::sqrt(kPoints / d.sxx);
  const float sa = static_cast<float>(ha / 5), sb = static_cast<float>(hb / 5);
  const ContourAxis a{static_cast<float>(d.ahat - 10 * sa), static_cast<float>(d.ahat + 10 * sa), sa};
  const ContourAxis b{static_cast<float>(d.bhat - 10 * sb), static_cast<float>(d.bhat + 10 * sb), sb};
  const std::string path = MapPath("boundary.dat");
  ASSERT_TRUE(ContourSM(&host, path.c_str(), a, b, static_cast<float>(level), static_cast<float>(d.ahat),
                        static_cast<float>(d.bhat)));
  const auto points = ReadRows(path);
  ASSERT_GE(points.size(), 5u);
  for (const auto& p : points) EXPECT_NEAR(ProfileRmsd(d, p[0], p[1]), level, 0.01 * level) << p[0] << " " << p[1];
  EXPECT_EQ(points.front(), points.back());

  // A level below every node: no crossing, an empty file.
  host.boxes.clear();
  ASSERT_TRUE(ContourSM(&host, path.c_str(), a, b, static_cast<float>(0.5 * d.rhat), static_cast<float>(d.ahat),
                        static_cast<float>(d.bhat)));
  EXPECT_TRUE(ReadRows(path).empty());
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0], "|the rmsd map found no crossing of the contour level");
}

TEST_F(ContourMaps, StoppedNodesStayOutOfTheBoundary) {
  host.stopAfter = 1;
  const std::string path = MapPath("stopped.dat");
  ASSERT_TRUE(ContourSM(&host, path.c_str(), {0, 2, 0.5f}, {0, 1, 0.5f}, static_cast<float>(1.2 * d.rhat), 0.5f,
                        0.5f));
  EXPECT_TRUE(ReadRows(path).empty());
  EXPECT_EQ(gFitEngineState.stopRequested, 0);
  EXPECT_FALSE(platform::InputHeld());
  EXPECT_FALSE(platform::StopFlag().load());
}

TEST_F(ContourMaps, LogKProfileWritesOneRowPerNode) {
  const double xbar = d.xbar;
  // P[3] stands in for the intercept.
  host.model = [xbar](const float* P, float x, int) { return P[3] + P[1] * static_cast<float>(x - xbar); };
  const std::string path = MapPath("Kcontour.dat");
  ASSERT_TRUE(ContourLogK(&host, path.c_str(), {0.0f, 1.6f, 0.4f}));
  const auto rows = ReadRows(path);
  ASSERT_EQ(rows.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_NEAR(rows[i][0], 0.4 * i, 1e-6);
    // b is refitted at each node: only the intercept term remains.
    const double r = std::sqrt(d.rhat * d.rhat + (rows[i][0] - d.ahat) * (rows[i][0] - d.ahat));
    EXPECT_NEAR(rows[i][1], r, 1e-3 * r) << i;
  }
  EXPECT_EQ(gModelParameterVector.F[3], 0);
}

}  // namespace
