#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "distributions/sharp_boundary.h"
#include "run_test_support.h"

using namespace runtest;

namespace {

struct Profile {
  std::vector<float> r, c;
  explicit Profile(int n, float from = 5.9f, float to = 7.3f) : r(n + 1), c(n + 1, -1.0f) {
    for (int i = 1; i <= n; ++i) r[i] = from + (to - from) * (i - 1) / (n - 1);
  }
  int n() const { return static_cast<int>(r.size()) - 1; }
  void Run(float c0, double t) { ContiShapeModelCurve(c0, t, r.data(), c.data(), n()); }
};

struct SharpBoundaryTest : ::testing::Test {
  Experiment e{2, 20};
  SharpBoundaryState saved = SharpBoundary();
  void TearDown() override {
    SharpBoundary() = saved;
    Conti().linearElectrophoresis = 0;
    gModelSelectorFlags.ZoneCentrifugationModel = 0;
  }
};

}  // namespace

TEST_F(SharpBoundaryTest, SectorStepWithRadialDilution) {
  const double k = 4e-13 * 2.74e7;  // 4 S at 50000 rpm
  SharpBoundary().k = k;
  Profile p(300);
  for (double t : {0.0, 1500.0, 6000.0}) {
    p.Run(0.8f, t);
    const double rb = 6.0 * std::exp(k * t), cp = 0.8 * std::exp(-2 * k * t);
    for (int i = 1; i <= p.n(); ++i)
      EXPECT_FLOAT_EQ(p.c[i], p.r[i] >= rb ? static_cast<float>(cp) : 0.0f) << t << " " << p.r[i];
  }
  // k = 0 is taken as flotation: boundary at the bottom, undiluted below it.
  SharpBoundary().k = 0.0;
  p.Run(0.8f, 3000.0);
  for (int i = 1; i <= p.n(); ++i) EXPECT_FLOAT_EQ(p.c[i], p.r[i] <= 7.2f ? 0.8f : 0.0f);
}

TEST_F(SharpBoundaryTest, LinearGeometryNeverDilutesAndZoneHasTwoBoundaries) {
  Conti().linearElectrophoresis = 1;
  SharpBoundary().k = 1e-4;  // cm/s
  Profile p(200);
  p.Run(1.0f, 3000.0);
  for (int i = 1; i <= p.n(); ++i) EXPECT_FLOAT_EQ(p.c[i], p.r[i] >= 6.3f ? 1.0f : 0.0f) << p.r[i];
  Conti().linearElectrophoresis = 0;
  gModelSelectorFlags.ZoneCentrifugationModel = 1;
  gModelParams.zoneValue = 0.05f;
  const double k = 4e-13 * 2.74e7;
  SharpBoundary().k = k;
  p.Run(1.0f, 3000.0);
  const double lead = 6.0 * std::exp(k * 3000), trail = 6.05 * std::exp(k * 3000);
  for (int i = 1; i <= p.n(); ++i)
    EXPECT_EQ(p.c[i] > 0.0f, p.r[i] >= lead && p.r[i] < trail) << p.r[i];
}

TEST_F(SharpBoundaryTest, ScanTimeShiftsTheBoundaryAndTiltsThePlateau) {
  LammSettings().simulateTimeResolution = 1;
  LammSettings().scanVelocity = 2.43f;
  const double k = 4e-13 * 2.74e7, v = 2.43 / 60, t = 3000;
  SharpBoundary().k = k;
  Profile p(400);
  p.Run(1.0f, t);
  const double dt = (6.0 * std::exp(k * t) - 6.0) / v;
  const double rb = 6.0 * std::exp(k * (t + dt)), cp = std::exp(-2 * k * (t + dt));
  for (int i = 1; i <= p.n(); ++i) {
    const double expected = p.r[i] >= rb ? cp * std::exp(-2 * k * (p.r[i] - 6.0) / v) : 0.0;
    EXPECT_NEAR(p.c[i], expected, 1e-6) << p.r[i];
  }
  LammSettings().simulateTimeResolution = 0;
}

TEST_F(SharpBoundaryTest, DensityGradientWithoutGradientIsTheOrdinaryProfile) {
  const double k = 4e-13 * 2.74e7;
  SharpBoundaryState& st = SharpBoundary();
  st.k = k;
  Profile plain(500), gradient(500);
  plain.Run(1.0f, 4000.0);
  st.densityGradient = true;
  st.speciesS = 4.0;
  st.gradientDensity = 0.99823;
  st.gradientViscosity = 1.0;
  st.gradientCoefficient = 0.0;
  st.rpm = 60.0 * std::sqrt(2.74e7) / (2 * 3.141592653589793);
  gradient.Run(1.0f, 4000.0);
  int differ = 0;
  for (int i = 1; i <= 500; ++i)
    if (std::fabs(plain.c[i] - gradient.c[i]) > 1e-4) ++differ;
  EXPECT_LE(differ, 1);  // at most the point at the step itself
  // A floating species: no characteristic reaches the end; the loop ends
  // with the points and the profile stays finite.
  st.speciesS = -4.0;
  st.gradientCoefficient = 0.01;
  gradient.Run(1.0f, 4000.0);
  for (int i = 1; i <= 500; ++i) EXPECT_TRUE(std::isfinite(gradient.c[i]));
}

