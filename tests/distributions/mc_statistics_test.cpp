#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "distributions/conti_settings.h"
#include "distributions/monte_carlo.h"
#include "distributions/normal_equations.h"
#include "distributions/work_blocks.h"
#include "fit/model_selector.h"
#include "fit/serial_fit_settings.h"
#include "test_support.h"
#include "tests/support/temp_folder.h"

namespace {

using conti_test::RandomKernels;
using conti_test::TestScans;

TEST(MonteCarloSelect, KthSmallestMatchesSortedOrder) {
  std::mt19937 gen(7);
  std::uniform_int_distribution<int> u(0, 20);  // many ties
  for (int n : {1, 2, 3, 7, 100, 257}) {
    std::vector<float> v(static_cast<size_t>(n) + 1);
    for (int i = 1; i <= n; ++i) v[i] = static_cast<float>(u(gen));
    std::vector<float> sorted(v.begin() + 1, v.end());
    std::sort(sorted.begin(), sorted.end());
    for (int k : {1, (n + 1) / 2, n}) {
      std::vector<float> w = v;
      EXPECT_EQ(monte_carlo::select(k, n, w.data()), sorted[k - 1]) << "n " << n << " k " << k;
      std::vector<float> rest(w.begin() + 1, w.end());
      std::sort(rest.begin(), rest.end());
      EXPECT_EQ(rest, sorted);  // only rearranged
    }
  }
}

TEST(MonteCarloLimits, SelectionIndicesAndStems) {
  struct Case {
    int n;
    float c;
    int lower, upper;
    const char* upperStem;
    const char* lowerStem;
  };
  const Case cases[] = {
      {100, 0.68f, 16, 84, "lim840", "lim160"},
      {100, 0.95f, 2, 97, "lim975", "lim 25"},
      {1000, 0.9f, 50, 950, "lim950", "lim 50"},
      // Too few iterations for the tail: the lower index is raised to 1.
      {3, 0.68f, 1, 2, "lim840", "lim160"},
      {2, 0.9f, 1, 1, "lim950", "lim 50"},
  };
  for (const Case& k : cases) {
    int lo = 0, hi = 0;
    MonteCarloLimitIndices(k.n, k.c, &lo, &hi);
    EXPECT_EQ(lo, k.lower) << k.n << " " << k.c;
    EXPECT_EQ(hi, k.upper) << k.n << " " << k.c;
    EXPECT_EQ(MonteCarloUpperStem(k.c), k.upperStem);
    EXPECT_EQ(MonteCarloLowerStem(k.c), k.lowerStem);
  }
}

// The right-hand side for new data equals what a complete build of the
// normal equations gives for the same data, for every noise model.
TEST(MonteCarloRhs, EqualsTheNormalEquationBuilder) {
  const int n = 6, m = 5, r = 40, first = 4, last = 35;
  TestScans scans(m, r, first, last, true);
  RandomKernels(n, m, r, 11);
  std::mt19937 gen(3);
  std::normal_distribution<float> g(0.0f, 1.0f);
  for (int j = 1; j <= m; ++j)
    for (int i = 1; i <= r; ++i) scans.s.gridSignals[j][i] = 0.5f + g(gen);
  NeqInputs().baselineValue = 0.3f;
  for (NoiseModel model :
       {NoiseModel::Plain, NoiseModel::Baseline, NoiseModel::TI, NoiseModel::RI, NoiseModel::TIRI}) {
    ASSERT_TRUE(BuildNormalEquations(CurrentScanSet(), model, 0));
    NormalEquationBlock& b = NeqBlock();
    const std::vector<double> rhs(b.rhs + 1, b.rhs + n + 1);
    const double squares = b.sumSquaresData;
    for (int threads : {0, 3}) {
      for (int i = 1; i <= n; ++i) b.rhs[i] = 0.0;
      b.sumSquaresData = 0.0;
      MonteCarloRhs(model, threads);
      for (int i = 1; i <= n; ++i)
        EXPECT_NEAR(b.rhs[i], rhs[i - 1], 1e-5 * (1.0 + std::fabs(rhs[i - 1])))
            << static_cast<int>(model) << " " << i << " threads " << threads;
      EXPECT_NEAR(b.sumSquaresData, squares, 1e-5 * squares) << static_cast<int>(model);
    }
  }
  NeqInputs().baselineValue = 0.0f;
  FreeNormalEquationBlock();
  FreeDistributionWorkArrays(n);
}

// A series of n rows with known values at every grid point.
class MonteCarloFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = Conti();
    savedFlags_ = gModelSelectorFlags;
    gModelSelectorFlags = ModelSelectorFlags();
    gModelSelectorFlags.CSModel = 1;
    s_ = {0, 1, 2, 3, 4, 5, 6};
    c_.assign(7, 0.0f);
    ContiSettings& cs = Conti();
    cs.gridSize = 6;
    cs.sValues = s_.data();
    cs.distribution = c_.data();
  }
  void TearDown() override {
    FreeMonteCarloArrays();
    Conti() = saved_;
    gModelSelectorFlags = savedFlags_;
    gSerialFitSettings.running = 0;
  }
  std::vector<float> ReadColumn(const std::string& stem, int column) {
    std::ifstream in(folder_ / (stem + ".dat"));
    std::vector<float> v;
    float x, y;
    while (in >> x >> y) v.push_back(column == 0 ? x : y);
    return v;
  }
  teststate::TempFolder scratch_;
  const std::filesystem::path folder_{scratch_.path()};
  std::vector<float> s_, c_;
  ContiSettings saved_;
  ModelSelectorFlags savedFlags_;
};

TEST_F(MonteCarloFiles, LimitsAndMeanGoToTheirFiles) {
  const int n = 100;
  ASSERT_TRUE(AllocMonteCarloArrays(n));
  MonteCarloState& mc = MonteCarlo();
  mc.folder = folder_.string() + "/";
  // Row k holds k x (grid point), in a scrambled order of k.
  std::vector<int> order(n);
  for (int k = 0; k < n; ++k) order[k] = k + 1;
  std::shuffle(order.begin(), order.end(), std::mt19937(5));
  for (int k = 1; k <= n; ++k)
    for (int i = 1; i <= 6; ++i) mc.Row(k)[i] = static_cast<float>(order[k - 1] * i);
  MonteCarloDistributionLimits(0.68f);
  const std::vector<float> upper = ReadColumn("lim840", 1), lower = ReadColumn("lim160", 1),
                           mean = ReadColumn("mean", 1), x = ReadColumn("mean", 0);
  ASSERT_EQ(upper.size(), 6u);
  ASSERT_EQ(lower.size(), 6u);
  ASSERT_EQ(mean.size(), 6u);
  for (int i = 1; i <= 6; ++i) {
    EXPECT_FLOAT_EQ(upper[i - 1], 84.0f * i);
    EXPECT_FLOAT_EQ(lower[i - 1], 16.0f * i);
    EXPECT_FLOAT_EQ(mean[i - 1], 50.5f * i);
    EXPECT_FLOAT_EQ(x[i - 1], static_cast<float>(i));
    EXPECT_FLOAT_EQ(Conti().distribution[i], 50.5f * i);  // the plot shows the mean
  }
  MonteCarloDistributionLimits(0.95f);
  EXPECT_TRUE(std::filesystem::exists(folder_ / "lim975.dat"));
  EXPECT_TRUE(std::filesystem::exists(folder_ / "lim 25.dat"));
  EXPECT_FLOAT_EQ(ReadColumn("lim975", 1)[0], 97.0f);
}

TEST_F(MonteCarloFiles, NonPositiveSignalsStayOutOfTheSwStatistics) {
  const int n = 10;
  ASSERT_TRUE(AllocMonteCarloArrays(n));
  MonteCarloState& mc = MonteCarlo();
  // Iterations 1..8: a box of height h_k over s = 2..4; iterations 9, 10:
  // nothing. The box between 2 and 4 integrates to 2 h over [2, 4].
  for (int k = 1; k <= n; ++k)
    for (int i = 1; i <= 6; ++i)
      mc.Row(k)[i] = (k <= 8 && i >= 2 && i <= 4) ? static_cast<float>(k) : 0.0f;
  gSerialFitSettings.running = 1;
  const MonteCarloSwResult r = MonteCarloSwStatistics(2.0f, 4.0f, 0.68f);
  EXPECT_EQ(r.swCount, 8);
  EXPECT_EQ(r.signalCount, 10);
  EXPECT_NEAR(r.meanSw, 3.0f, 1e-5);  // every box is centred at s = 3
  EXPECT_NEAR(r.sdSw, 0.0f, 1e-5);
  EXPECT_NEAR(r.meanC, 2.0 * 36 / 10.0, 1e-4);
  // Ten signals 0, 0, 2, 4, ..., 16: indices floor(1.6) = 1 and floor(8.4) = 8.
  EXPECT_FLOAT_EQ(r.lowerC, 0.0f);
  EXPECT_FLOAT_EQ(r.upperC, 12.0f);
  EXPECT_FLOAT_EQ(gSerialFitSettings.mcMeanC, r.meanC);
  EXPECT_FLOAT_EQ(gSerialFitSettings.mcUpperC, 12.0f);
  EXPECT_FLOAT_EQ(gSerialFitSettings.mcMeanSw, r.meanSw);
}

TEST_F(MonteCarloFiles, TableOfTheTwoDimensionalDistribution) {
  ContiSettings& cs = Conti();
  std::vector<float> S = {0, 1, 2}, M = {0, 1e4f, 2e4f}, FF = {0, 1.2f, 1.4f}, D = {0, 5e-7f, 4e-7f},
                     R = {0, 2, 3}, Z = {0, 0.5f, 0.25f};
  cs.grid2DSize = 2;
  cs.grid2DS = S.data();
  cs.grid2DM = M.data();
  cs.grid2DFf = FF.data();
  cs.grid2DD = D.data();
  cs.grid2DStokes = R.data();
  cs.grid2DAmplitude = Z.data();
  const std::string path = (folder_ / "table.dat").string();
  ASSERT_TRUE(SaveMonteCarloTable(path));
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "1.000000e+00 1.000000e+04 1.200000e+00 5.000000e-07 2.000000e+00 5.000000e-01");
}

}  // namespace
