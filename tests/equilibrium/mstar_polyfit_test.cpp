// The polynomial least-squares fit against polynomials it must reproduce
// exactly, the mean, and its refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "equilibrium/mstar/polyfit.h"
#include "platform/scripted_ui.h"

namespace {

struct Points {
  std::vector<double> x{0.0}, y{0.0};
  void Add(double xv, double yv) {
    x.push_back(xv);
    y.push_back(yv);
  }
  int n() const { return static_cast<int>(x.size()) - 1; }
};

}  // namespace

TEST(Polyfit, PolynomialsThroughAsManyPointsAsCoefficientsAreExact) {
  struct Case {
    int order;
    std::vector<double> coefficients;  // of x^0, x^1, ...
  };
  const Case cases[] = {{1, {2.0, -3.0}}, {2, {0.5, 1.5, -0.25}}};
  for (const Case& c : cases) {
    Points p;
    auto value = [&](double x) {
      double v = 0, power = 1;
      for (double k : c.coefficients) {
        v += k * power;
        power *= x;
      }
      return v;
    };
    for (int i = 0; i <= c.order; ++i) p.Add(1.0 + i, value(1.0 + i));
    std::vector<float> xe{0, -1.0f, 0.0f, 2.5f, 10.0f}, ye(5, 0.0f);
    polyfit(c.order, p.x.data(), p.y.data(), p.n(), xe.data(), ye.data(), 4, nullptr, nullptr, 0, 0, 0);
    for (int i = 1; i <= 4; ++i) EXPECT_NEAR(ye[i], value(xe[i]), 1e-4) << c.order << " at " << xe[i];
  }
}

TEST(Polyfit, CubicSampledAtCellRadiiIsReproduced) {
  // Radii near 7 cm: without the shift the powers would swamp the normal equations.
  auto cubic = [](double x) { return 0.3 - 2.0 * (x - 7) + 5.0 * (x - 7) * (x - 7) + 40.0 * std::pow(x - 7, 3); };
  Points p;
  for (int i = 0; i < 60; ++i) p.Add(6.9 + 0.005 * i, cubic(6.9 + 0.005 * i));
  double c[5] = {}, x0 = 0;
  ASSERT_TRUE(PolyfitCoefficients(3, p.x.data(), p.y.data(), p.n(), c, &x0));
  EXPECT_EQ(x0, 6.9);
  for (double x : {6.85, 6.95, 7.05, 7.2, 7.25})
    EXPECT_NEAR(PolyfitValue(3, c, x0, x), cubic(x), 1e-9 * std::fabs(cubic(x))) << x;
}

TEST(Polyfit, OrderZeroIsTheMean) {
  Points p;
  for (double v : {1.0, 4.0, 2.5, 8.5}) p.Add(p.n() + 6.9, v);
  std::vector<float> xe{0, 3.0f, 7.0f}, ye(3, 0.0f);
  polyfit(0, p.x.data(), p.y.data(), p.n(), xe.data(), ye.data(), 2, nullptr, nullptr, 0, 0, 0);
  EXPECT_FLOAT_EQ(ye[1], 4.0f);
  EXPECT_FLOAT_EQ(ye[2], 4.0f);
}

TEST(Polyfit, SecondEvaluationOnlyInsideItsBounds) {
  Points p;
  for (int i = 0; i < 5; ++i) p.Add(i, 2.0 * i + 1.0);
  std::vector<float> xe{0, 0.0f}, ye(2, 0.0f);
  std::vector<float> xb{0, 0.999f, 1.0f, 2.0f, 3.0f, 3.001f}, yb(6, -7.0f);
  polyfit(1, p.x.data(), p.y.data(), p.n(), xe.data(), ye.data(), 1, xb.data(), yb.data(), 5, 1.0f, 3.0f);
  EXPECT_EQ(yb[1], 0.0f);
  EXPECT_NEAR(yb[2], 3.0f, 1e-5);
  EXPECT_NEAR(yb[3], 5.0f, 1e-5);
  EXPECT_NEAR(yb[4], 7.0f, 1e-5);
  EXPECT_EQ(yb[5], 0.0f);
}

TEST(Polyfit, NegativeOrderZeroesTheFirstEvaluationOnly) {
  Points p;
  p.Add(1, 1);
  p.Add(2, 2);
  std::vector<float> xe{0, 1.0f, 2.0f}, ye{0, 5.0f, 5.0f}, xb{0, 1.5f}, yb{0, 9.0f};
  polyfit(-1, p.x.data(), p.y.data(), p.n(), xe.data(), ye.data(), 2, xb.data(), yb.data(), 1, 0.0f, 3.0f);
  EXPECT_EQ(ye[1], 0.0f);
  EXPECT_EQ(ye[2], 0.0f);
  EXPECT_EQ(yb[1], 9.0f);
}

TEST(Polyfit, EqualAbscissaeAreRefusedWithOutputsUnchanged) {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  ui.ExpectBox("Error", "error in polyfit");
  Points p;
  for (double v : {1.0, 2.0, 3.0}) p.Add(7.0, v);
  std::vector<float> xe{0, 7.0f}, ye{0, 42.0f}, xb{0, 7.0f}, yb{0, 43.0f};
  polyfit(1, p.x.data(), p.y.data(), p.n(), xe.data(), ye.data(), 1, xb.data(), yb.data(), 1, 6.0f, 8.0f);
  EXPECT_EQ(ye[1], 42.0f);
  EXPECT_EQ(yb[1], 43.0f);
  EXPECT_TRUE(ui.AllConsumed());
  EXPECT_TRUE(ui.failures.empty());
}
