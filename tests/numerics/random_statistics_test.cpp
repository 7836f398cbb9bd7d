#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <set>
#include <vector>

#include "numerics/arrays.h"
#include "numerics/brent_root.h"
#include "numerics/random.h"
#include "numerics/statistics.h"
#include "platform/clock.h"
#include "platform/scripted_ui.h"

namespace {

// The minimal standard generator in 64-bit arithmetic, independent of
// Schrage's factorisation.
int64_t NextMinimalStandard(int64_t x) { return (16807 * x) % 2147483647; }

class SeededClock {
 public:
  explicit SeededClock(std::time_t now) {
    clock_.now = now;
    platform::SetClock(&clock_);
    ResetRandomGenerators();
  }
  ~SeededClock() {
    platform::SetClock(nullptr);
    SeedRandomGenerators(20061);
  }

 private:
  platform::ManualClock clock_;
};

}  // namespace

TEST(Ran1Test, FollowsTheMinimalStandardSequence) {
  std::vector<int64_t> seq{1};
  for (int k = 0; k < 10040; ++k) seq.push_back(NextMinimalStandard(seq.back()));
  EXPECT_EQ(seq[1], 16807);
  EXPECT_EQ(seq[2], 282475249);
  EXPECT_EQ(seq[3], 1622650073);
  EXPECT_EQ(seq[4], 984943658);
  EXPECT_EQ(seq[10000], 1043618065);

  // Forty warm-up steps, then one step per draw; every draw is an earlier
  // value of the sequence (from the shuffle table), scaled to (0, 1).
  int seed = -1;
  for (int k = 1; k <= 10000; ++k) {
    const float u = ran1(&seed);
    ASSERT_EQ(seed, seq[static_cast<size_t>(40 + k)]) << k;
    ASSERT_GT(u, 0.0f);
    ASSERT_LT(u, 1.0f);
    if (k <= 50) {
      bool found = false;
      for (int m = 9; m < 40 + k; ++m)
        found = found || std::fabs(u - static_cast<float>(seq[static_cast<size_t>(m)] / 2147483647.0)) < 1e-7f;
      EXPECT_TRUE(found) << k;
    }
  }
}

TEST(Ran1Test, SeedsRepeatAndZeroCountsAsOne) {
  auto draws = [](int seed) {
    std::vector<float> v;
    for (int k = 0; k < 100; ++k) v.push_back(ran1(&seed));
    return v;
  };
  EXPECT_EQ(draws(-3), draws(-3));
  EXPECT_EQ(draws(0), draws(-1));
  EXPECT_NE(draws(-3), draws(-1));
  int seed = -7;
  double sum = 0;
  for (int k = 0; k < 100000; ++k) sum += ran1(&seed);
  EXPECT_NEAR(sum / 100000, 0.5, 0.005);
}

TEST(CombinedGeneratorTest, UniformDrawsRepeatForOneClockSeed) {
  std::vector<double> first, second;
  {
    SeededClock c(1234567);
    for (int k = 0; k < 10; ++k) first.push_back(UniformRandom(0, 1));
  }
  {
    SeededClock c(1234567);
    for (int k = 0; k < 10; ++k) second.push_back(UniformRandom(0, 1));
  }
  EXPECT_EQ(first, second);
  SeededClock c(99);
  EXPECT_EQ(UniformRandom(2, 2), 2.0);
  double sum = 0, sum2 = 0;
  const int n = 200000;
  for (int k = 0; k < n; ++k) {
    const double u = UniformRandom(-1, 3);
    ASSERT_GE(u, -1.0);
    ASSERT_LT(u, 3.0);
    sum += u;
    sum2 += u * u;
  }
  EXPECT_NEAR(sum / n, 1.0, 0.02);
  EXPECT_NEAR(sum2 / n - (sum / n) * (sum / n), 16.0 / 12, 0.02);
}

TEST(CombinedGeneratorTest, GaussianPairsAndMoments) {
  float a, b;
  double a2, b2;
  {
    SeededClock c(42);
    a = GaussRandom(1);
    b = GaussRandom(10);
  }
  {
    SeededClock c(42);
    a2 = GaussRandom2(1);
    b2 = GaussRandom2(1);
  }
  EXPECT_EQ(a, static_cast<float>(a2));           // p2 f
  EXPECT_FLOAT_EQ(b, 10 * static_cast<float>(b2));  // 10 p1 f of the same pair

  SeededClock c(7);
  double sum = 0, sum2 = 0, sum4 = 0;
  const int n = 200000;
  for (int k = 0; k < n; ++k) {
    const double g = GaussRandom(2);
    sum += g;
    sum2 += g * g;
    sum4 += g * g * g * g;
  }
  EXPECT_NEAR(sum / n, 0.0, 0.02);
  EXPECT_NEAR(sum2 / n, 4.0, 0.05);
  EXPECT_NEAR(sum4 / n / 16.0, 3.0, 0.1);  // normal kurtosis
}

TEST(CombinedGeneratorTest, AFixedGaussianSeedRepeatsWhateverTheClock) {
  auto draws = [](std::time_t now, unsigned seed) {
    SeededClock c(now);
    SeedGaussRandom(seed);
    std::vector<float> v;
    for (int k = 0; k < 20; ++k) v.push_back(GaussRandom(1));
    return v;
  };
  EXPECT_EQ(draws(1, 5), draws(1000000, 5));
  EXPECT_NE(draws(1, 5), draws(1, 6));
  // The seed does not touch the second Gaussian stream.
  SeededClock c(42);
  const double clockSeeded = GaussRandom2(1);
  ResetRandomGenerators();
  SeedGaussRandom(42);
  EXPECT_EQ(GaussRandom2(1), clockSeeded);
}

TEST(CombinedGeneratorTest, FixedSeedsForEveryGeneratorRepeatWhateverTheClock) {
  struct Draws {
    std::vector<double> uniform, gauss, gauss2;
    bool operator==(const Draws&) const = default;
  };
  auto draws = [](std::time_t now, unsigned seed) {
    SeededClock c(now);
    SeedRandomGenerators(seed);
    Draws d;
    for (int k = 0; k < 20; ++k) {
      d.uniform.push_back(UniformRandom(0, 1));
      d.gauss.push_back(GaussRandom(1));
      d.gauss2.push_back(GaussRandom2(1));
    }
    return d;
  };
  const Draws a = draws(1, 5), b = draws(1796653768, 5), other = draws(1, 6);
  EXPECT_EQ(a.uniform, b.uniform);
  EXPECT_EQ(a.gauss, b.gauss);
  EXPECT_EQ(a.gauss2, b.gauss2);
  EXPECT_NE(a.uniform, other.uniform);
  EXPECT_NE(a.gauss, other.gauss);
  EXPECT_NE(a.gauss2, other.gauss2);
  // Three streams, not one stream three times.
  EXPECT_NE(a.gauss, a.gauss2);
}

TEST(CombinedGeneratorTest, ShufflersKeepEveryIndex) {
  SeededClock c(5);
  int a[12];
  for (float fraction : {0.0f, 0.3f, 1.0f}) {
    ASSERT_TRUE(RandomSelectFraction2(a, 1, 5, fraction));
    std::set<int> s(a + 1, a + 6);
    EXPECT_EQ(s, (std::set<int>{1, 2, 3, 4, 5}));
  }
  ASSERT_TRUE(RandomSelectFraction2(a, 3, 11, 0.5f));
  EXPECT_EQ(a[1], 1);
  EXPECT_EQ(a[2], 2);
  EXPECT_EQ(std::set<int>(a + 3, a + 12), (std::set<int>{3, 4, 5, 6, 7, 8, 9, 10, 11}));
  for (int k = 1; k <= 11; ++k) a[k] = k;
  ASSERT_TRUE(RandomSelectFraction(a, 1, 11, 2.0f));
  EXPECT_EQ(std::set<int>(a + 1, a + 12).size(), 11u);
  EXPECT_FALSE(RandomSelectFraction(nullptr, 1, 5, 1));
  EXPECT_FALSE(RandomSelectFraction2(a, 0, 5, 1));
  EXPECT_FALSE(RandomSelectFraction2(a, 5, 4, 1));
  ASSERT_TRUE(RandomSelectFraction2(a, 4, 4, 1));
  EXPECT_EQ(a[4], 4);
}

TEST(SpecialFunctionsTest, GammaAndIncompleteBeta) {
  EXPECT_NEAR(gammln(1.0), 0.0, 1e-10);
  EXPECT_NEAR(gammln(2.0), 0.0, 1e-10);
  EXPECT_NEAR(gammln(0.5), 0.5723649429247001, 1e-9);
  EXPECT_NEAR(gammln(10.0), std::log(362880.0), 1e-9);
  EXPECT_NEAR(gammln(100.5), std::lgamma(100.5), 1e-8);
  for (double a : {0.5, 1.0, 3.0})
    for (double b : {0.5, 2.0, 7.0}) {
      EXPECT_EQ(betai(a, b, 0), 0.0);
      EXPECT_EQ(betai(a, b, 1), 1.0);
      for (double x : {0.1, 0.5, 0.8})
        EXPECT_NEAR(betai(a, b, x), 1 - betai(b, a, 1 - x), 1e-7);
    }
  for (double x : {0.05, 0.3, 0.9}) {
    EXPECT_NEAR(betai(1, 1, x), x, 1e-7);
    EXPECT_NEAR(betai(3, 1, x), x * x * x, 1e-7);
    EXPECT_NEAR(betai(1, 4, x), 1 - std::pow(1 - x, 4), 1e-7);
  }
}

TEST(FStatisticsTest, TailProbabilityAndCriticalRatioRoundTrip) {
  platform::ScriptedUserInterface ui;  // no box may appear
  platform::ScopedUI guard(ui);
  for (double nu : {1.0, 4.0, 30.0, 1000.0}) EXPECT_NEAR(FDistributionProbability(1.0, nu, nu), 0.5, 1e-7);
  // Two numerator degrees of freedom have a closed form.
  for (double nu2 : {3.0, 10.0, 200.0})
    for (double F : {0.5, 1.3, 4.0})
      EXPECT_NEAR(FDistributionProbability(F, 2, nu2), std::pow(1 + 2 * F / nu2, -nu2 / 2), 1e-7);
  EXPECT_EQ(FDistributionProbability(2, 0, 0), 0.0);

  struct Case {
    double P, nu1, nu2;
  } cases[] = {{0.683, 3, 3000}, {0.95, 5, 500}, {0.95, 1, 3}, {0.99, 2, 2}, {0.95, 1, 1},
               {0.683, 1, 10}, {0.3, 4, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.P << " " << c.nu1 << " " << c.nu2);
    const double F = FRatioForConfidence(c.P, c.nu1, c.nu2);
    EXPECT_NEAR(FDistributionProbability(F, c.nu1, c.nu2), 1 - c.P, 1e-6);
    EXPECT_NEAR(FRatioResidual(F), 0.0, 1e-6);
    if (c.nu1 == 2) {
      EXPECT_NEAR(F, c.nu2 / 2 * (std::pow(1 - c.P, -2 / c.nu2) - 1), 1e-5 * F);
    }
  }
  EXPECT_NEAR(FRatioForConfidence(0.95, 1, 3), 10.128, 1e-3);  // well above 2
  EXPECT_TRUE(ui.failures.empty());
}

TEST(BrentRootTest, FindsTheRootInEitherPrecisionAndOwnsUpToNonConvergence) {
  double root = 0;
  auto cube = [](double x) { return x * x * x - 2; };
  ASSERT_TRUE(BrentRoot(cube, 0.0, 2.0, cube(0.0), cube(2.0), 1e-12, 1e-16, 100, &root));
  EXPECT_NEAR(root, std::cbrt(2.0), 1e-11);
  float rootf = 0;
  auto cosine = [](float x) { return std::cos(x); };
  ASSERT_TRUE(BrentRoot(cosine, 3.0f, 1.0f, cosine(3.0f), cosine(1.0f), 1e-5f, 3e-8f, 100, &rootf));
  EXPECT_NEAR(rootf, 1.5707964f, 1e-5f);
  // An exact zero at an end is taken at once.
  auto line = [](double x) { return x - 1; };
  ASSERT_TRUE(BrentRoot(line, 0.0, 1.0, line(0.0), line(1.0), 1e-9, 1e-16, 100, &root));
  EXPECT_EQ(root, 1.0);
  // Too few steps: false, and the answer is left alone.
  root = -5;
  EXPECT_FALSE(BrentRoot(cube, 0.0, 2.0, cube(0.0), cube(2.0), 1e-12, 1e-16, 2, &root));
  EXPECT_EQ(root, -5.0);
}

TEST(FStatisticsTest, BrentReportsAMissingBracket) {
  platform::ScriptedUserInterface ui;
  ui.ExpectBox("", "Root must be bracketed in statzbrent");
  platform::ScopedUI guard(ui);
  statzbrent([](double x) { return x * x + 1; }, 0, 1, 1e-7);
  EXPECT_TRUE(ui.AllConsumed());
  EXPECT_NEAR(statzbrent([](double x) { return std::cos(x); }, 1, 2, 1e-10), M_PI / 2, 2e-7);
}

TEST(RunsTest, SignsOfOneScan) {
  // Residuals +, +, -, -, +: R = 3, n+ = 3, n- = 2.
  float d[] = {0, 1, 1, -1, -1, 1};
  float m[] = {0, 0, 0, 0, 0, 0};
  float* data[] = {nullptr, d};
  float* model[] = {nullptr, m};
  int order[] = {0, 1}, first[] = {0, 1}, last[] = {0, 5};
    EXPECT_NEAR(RunsTestZ(data, model, 1, 1, order, first, last), 0.109, 5e-4);
  // Two scans: each starts a new run.
  float* data2[] = {nullptr, d, d};
  float* model2[] = {nullptr, m, m};
  int order2[] = {0, 2, 1}, first2[] = {0, 1, 1}, last2[] = {0, 5, 5};
  const double n = 10, np = 6, nm = 4, R = 6;
  const double mu = 2 * np * nm / n + 1;
  const double s = std::sqrt(2 * np * nm * (2 * np * nm - n) / (n * n * (n - 1)));
  EXPECT_NEAR(RunsTestZ(data2, model2, 1, 2, order2, first2, last2), std::fabs(R - mu + 0.5) / s, 1e-5);
  last[1] = 1;
  EXPECT_EQ(RunsTestZ(data, model, 1, 1, order, first, last), 0.0f);
  EXPECT_EQ(RunsTestZ(data, model, 2, 1, order, first, last), 0.0f);
}
