// Signal shape routines: the erfc fit against the library function, the
// Faxen boundary against the finite-element solution, the transmittance
// average, the bottom attenuation and the steep-boundary test.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "fit/signal_shapes.h"
#include "fit_test_support.h"
#include "lamm/lamm_settings.h"
#include "tests/lamm/lamm_test_support.h"

namespace {

using SignalShapes = fittest::FitStateTest;

TEST_F(SignalShapes, ErfcFitMatchesTheLibraryFunction) {
  // The fit's fractional error is below 1.2e-7; the result is then rounded
  // once to float (half an ulp).
  double worst = 0;
  for (int i = 0; i <= 40000; ++i) {
    const float x = -4.0f + 13.0f * static_cast<float>(i) / 40000;
    const double exact = std::erfc(static_cast<double>(x));
    if (exact < 1e-37) break;  // float underflow
    const double ulp = std::nextafter(static_cast<float>(exact), 10.0f) - static_cast<float>(exact);
    const double error = std::fabs(erfcApprox(x) - exact);
    ASSERT_LE(error, 1.2e-7 * exact + 0.5 * ulp) << x;
    worst = std::max(worst, error / exact);
  }
  EXPECT_LT(worst, 1.2e-7 + 6e-8);
  EXPECT_NEAR(erfcApprox(0.0f), 1.0f, 1.2e-7f);
  for (float x : {0.1f, 0.7f, 2.5f}) EXPECT_FLOAT_EQ(erfcApprox(-x), 2.0f - erfcApprox(x));
}

TEST_F(SignalShapes, FaxenBoundaryFollowsTheFiniteElementSolutionAtEarlyTimes) {
  lammtest::Experiment e;
  e.s = 4.3;
  e.D = 6e-7;
  // Early: the boundary has left the meniscus and not yet reached the bottom.
  e.times = {1200, 1800, 2400};
  e.Build();
  auto L = lammtest::MakeSolver(e, lammtest::FixedGrid(1500, 0.2));
  ASSERT_EQ(L->CheckAndRun(), 0);
  gModelParams.meniscus = static_cast<float>(e.meniscus);
  const double w = lammtest::Omega(e.rpm);
  const float a = static_cast<float>(e.s * 1e-13 * w * w);
  const int n = static_cast<int>(e.grid.size()) - 1;
  std::vector<float> faxen(n + 1);
  for (int k = 1; k <= 3; ++k) {
    FaxenApproximationCurve(1.0f, e.times[k - 1], e.grid.data(), faxen.data(), n, a,
                            static_cast<float>(e.D), static_cast<float>(e.meniscus));
    double worst = 0, at = 0;
    for (int j = 1; j <= n; ++j)
      if (e.grid[j] < 6.9f && std::fabs(double(faxen[j]) - e.out[k][j]) > worst) {
        worst = std::fabs(double(faxen[j]) - e.out[k][j]);
        at = e.grid[j];
      }
    EXPECT_LT(worst, 0.02) << "scan " << k << " at " << at;
  }
  // Far ahead of the boundary: the diluted plateau.
  const double t = 1800;
  const float r[2] = {0, 7.0f};
  float out[2];
  FaxenApproximationCurve(1.0f, t, r, out, 1, a, static_cast<float>(e.D), 6.0f);
  EXPECT_NEAR(out[1], std::exp(-2.0 * a * t), 1e-5);
}

TEST_F(SignalShapes, TransmittanceAverage) {
  const float r[6] = {0, 6.0f, 6.001f, 6.002f, 6.003f, 6.004f};
  float y[6] = {0, 0.1f, 0.5f, 1.0f, 2.0f, 60.0f};
  // Width 0: each point is its own window; 10^-60 underflows to 0 in float.
  float same[6];
  std::copy(y, y + 6, same);
  AverageAbsorbanceOverWindow(5, 0.0f, r, same);
  for (int i = 1; i <= 4; ++i) EXPECT_NEAR(same[i], y[i], 2e-6f) << i;
  EXPECT_EQ(same[5], 0.0f);
  // Window of three points, averaged in transmittance from the input values.
  AverageAbsorbanceOverWindow(5, 0.0025f, r, y);
  const double mean = (std::pow(10.0, -0.1) + std::pow(10.0, -0.5) + std::pow(10.0, -1.0)) / 3;
  EXPECT_NEAR(y[2], -std::log10(mean), 1e-6);
  EXPECT_NEAR(y[1], -std::log10((std::pow(10.0, -0.1) + std::pow(10.0, -0.5)) / 2), 1e-6);
}

TEST_F(SignalShapes, BottomAttenuationIsTheHiddenPartOfTheAperture) {
  gModelParams.bottom = 7.2f;
  const float d = 0.01f;
  const float r[6] = {0, 7.18f, 7.195f, 7.2f, 7.205f, 7.21f};
  float y[6] = {0, 1, 1, 1, 1, 1};
  RadialCorrection2(5, r, y, d);
  EXPECT_EQ(y[1], 1.0f);                    // u > d: unchanged
  EXPECT_NEAR(y[3], 0.5f, 1e-6f);           // at the bottom half the aperture is hidden
  EXPECT_EQ(y[5], 0.0f);                    // u <= -d
  EXPECT_GT(y[2], 0.5f);
  EXPECT_LT(y[4], 0.5f);
  EXPECT_NEAR(y[2] + y[4], 1.0f, 1e-4f);    // the segment is symmetric about the bottom
  float z[2] = {0, 0.7f};
  const float rz[2] = {0, 7.2f};
  RadialCorrection2(1, rz, z, 0.0f);
  EXPECT_EQ(z[1], 0.7f);
}

TEST_F(SignalShapes, GaussianSmoothingKeepsAConstantInsideTheCell) {
  gModelParams.meniscus = 5.0f;
  gModelParams.bottom = 8.0f;
  std::vector<float> r(101), y(101, 2.0f);
  for (int i = 1; i <= 100; ++i) r[i] = 6.0f + 0.01f * (i - 1);
  RadialCorrection1(100, r.data(), y.data(), 0.02f, 3.0f);
  // Inside, the window is full; at the ends the virtual points beyond the
  // data add weight but no signal.
  EXPECT_NEAR(y[50], 2.0f, 1e-5f);
  EXPECT_LT(y[1], 1.5f);
  EXPECT_LT(y[100], 1.5f);
}

TEST_F(SignalShapes, SteepBoundaryTest) {
  std::vector<std::vector<float>> x(1), s(1);
  for (int i = 0; i < 20; ++i) {
    x[0].push_back(6.0f + 0.06f * i);
    s[0].push_back(0.0f);
  }
  fittest::LoadScans(x, s);
  ScanSet& ss = CurrentScanSet();
  ss.records[1].rpm = 50000;
  ss.records[1].temperature = 20;
  ss.rightFitLimit = 7.1f;
  LammSettings().shutOffBackDiffusion = 1;
  EXPECT_FALSE(SteepBoundaryTest(-3.0, 6e-7));  // floating
  EXPECT_FALSE(SteepBoundaryTest(3.0, 0.0));
  EXPECT_TRUE(SteepBoundaryTest(10.0, 6e-7));   // sigma far above 100 at 50000 rpm
  ss.records[1].rpm = 3000;
  EXPECT_FALSE(SteepBoundaryTest(3.0, 6e-7));   // a gentle gradient at 3000 rpm
  LammSettings().shutOffBackDiffusion = 0;
  ss.records[1].rpm = 50000;
  EXPECT_FALSE(SteepBoundaryTest(10.0, 6e-7));
}

}  // namespace
