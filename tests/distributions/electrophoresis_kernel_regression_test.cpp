// The c(v) kernels against kernels the solver produced earlier (tests/data/
// reference/kernels), made with steps of at most a relative change of 0.5 at
// every node on an even grid at the element Peclet limit. The solver now
// steps by the travelling boundary on a grid that follows it; inside the fit
// limits the kernels stay within 3e-3 of the loading of the earlier ones
// (the earlier steps lagged the boundary too, by up to 2e-3). Solving them
// on worker threads, each on its own copy of the solver state, gives the
// same kernels to the last bit. The tolerance covers the earlier solver's
// lag only (1.76e-3 found): the three vector kernels, and D and the
// velocities perturbed by up to 4 ulps (4 seeds), leave the kernels
// unchanged to the last bit.
// Five velocities from a slow boundary to one that leaves the column before
// the last scan, six scans of 120 points, D = 5e-7 cm^2/s.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "distributions/conti_lamm_list.h"
#include "distributions/electrophoresis_kernels.h"
#include "fit/lamm_grid.h"
#include "platform/input_events.h"
#include "platform/scripted_ui.h"
#include "run_test_support.h"

using namespace runtest;

namespace {

constexpr double kD = 5e-7;
const std::vector<double> kVelocities = {1.0, 3.5, 7.0, 12.0, 20.0};

struct MobilityExperiment : Experiment {
  MobilityExperiment() : Experiment(6, 120) {
    rpm = 1;
    firstTime = 150;
    interval = 100;
    meniscus = 6.0f;
    bottom = 7.2f;
    left = 6.02f;
    right = 7.1f;
    Build();
    CurrentDataTypeFlags().electrophoresis = CurrentDataTypeFlags().absorbance = 1;
    gModelParams.electrophoresisColumnLength = 1.2f;
    ModelSelectorFlags& f = gModelSelectorFlags;
    f = ModelSelectorFlags{};
    f.DistributionModel = f.ElectrophoresisCVModel = f.ElectrophoresisLammModel = 1;
  }
  ~MobilityExperiment() {
    CurrentDataTypeFlags().electrophoresis = CurrentDataTypeFlags().absorbance = 0;
    FreeLammArrays();
    gModelSelectorFlags = ModelSelectorFlags{};
    LammSettings() = LammSolverSettings{};
  }
};

// One line per velocity and scan, in that order.
std::vector<std::vector<double>> ReadKernels() {
  std::ifstream in(std::string(TARNEL_REFERENCE_DIR) + "/kernels/electrophoresis-cv.txt");
  EXPECT_TRUE(in.good());
  std::vector<std::vector<double>> rows;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream is(line);
    rows.emplace_back();
    for (double v; is >> v;) rows.back().push_back(v);
  }
  return rows;
}

struct KernelRegressionTest : ::testing::Test {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope{ui};
};

}  // namespace

// Kernels of every velocity, solved on `threads` threads.
std::vector<float> SolveKernels(int threads, int scans, int points) {
  const int n = static_cast<int>(kVelocities.size());
  std::vector<double> v(kVelocities.size() + 1);
  for (int i = 1; i <= n; ++i) v[i] = kVelocities[i - 1];
  std::vector<float> rows;
  std::vector<int> progress;
  {
    CMobilityKernels k(kD);
    EXPECT_EQ(k.SolveList(n, v.data(), threads, [&](int i) { progress.push_back(i); }), 0);
  }
  if (threads == 1) {
    EXPECT_EQ(progress, (std::vector<int>{1, 2, 3, 4, 5}));
  }
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= scans; ++j) rows.insert(rows.end(), KernelRow(i, j) + 1, KernelRow(i, j) + points + 1);
  return rows;
}

TEST_F(KernelRegressionTest, KernelsStayWithinThreeThousandthsOfTheLoadingInsideTheFitLimits) {
  MobilityExperiment e;
  const int n = static_cast<int>(kVelocities.size());
  ASSERT_TRUE(AllocDistributionWorkArrays(n, e.scans, e.points));
  const std::vector<float> one = SolveKernels(1, e.scans, e.points);
  const auto expected = ReadKernels();
  ASSERT_EQ(static_cast<int>(expected.size()), n * e.scans);
  const ScanSet& sc = CurrentScanSet();
  double worst = 0;
  size_t q = 0;
  for (const std::vector<double>& row : expected) {
    ASSERT_EQ(static_cast<int>(row.size()), e.points);
    for (int p = 1; p <= e.points; ++p, ++q)
      if (sc.grid[p] >= e.left && sc.grid[p] <= e.right)
        worst = std::max(worst, std::fabs(one[q] - row[static_cast<size_t>(p - 1)]));
  }
  EXPECT_LE(worst, 3e-3);
  EXPECT_GT(worst, 1e-6);  // the kernels are the new solver's
  // Each worker on its own solver state, the velocities in another order:
  // the same kernels to the last bit.
  for (int threads : {2, 4}) {
    SCOPED_TRACE(threads);
    const std::vector<float> many = SolveKernels(threads, e.scans, e.points);
    EXPECT_EQ(many, one);
  }
  // The program's grid was not touched.
  EXPECT_FALSE(CurrentLammGrid().GridAllocated);
}

TEST_F(KernelRegressionTest, AKeyPressStopsTheWorkers) {
  MobilityExperiment e;
  ASSERT_TRUE(AllocDistributionWorkArrays(5, e.scans, e.points));
  const std::vector<double> v = {0, 20, 20, 20, 20, 20};
  platform::StopFlag() = false;
  platform::PostKeyDown();
  {
    CMobilityKernels k(kD);
    int shown = 0;
    k.SolveList(5, v.data(), 2, [&](int) { ++shown; });
    EXPECT_LT(shown, 5);
  }
  EXPECT_TRUE(platform::StopFlag().load());
  EXPECT_FALSE(platform::KeyDownPending());
  platform::StopFlag() = false;
}

TEST_F(KernelRegressionTest, RunOnTheListThreadsGivesTheSameDistribution) {
  MobilityExperiment e;
  ContiSettings& cs = Conti();
  cs.constantD = 20;  // 2e-6 cm^2/s: a quarter of the nodes
  cs.constantDSwitch = 1;
  cs.maxEntropy = 1;
  cs.confidenceLevel = 0.683f;
  SetGrid(1, 20, 20);
  PackModelParameters();
  ASSERT_TRUE(MakeSyntheticData(e, {{6, 0.4f}, {14, 0.6f}}));
  e.AddGaussianNoise(0.003f, 5);
  const int saved = LammListThreads();
  std::vector<std::vector<float>> runs;
  for (int threads : {1, 3}) {
    cs.multipleThreads = threads > 1;
    LammListThreads() = threads;
    RunContiSed();
    EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();
    runs.emplace_back(cs.distribution + 1, cs.distribution + cs.gridSize + 1);
  }
  LammListThreads() = saved;
  cs.multipleThreads = 0;
  ASSERT_EQ(runs[0].size(), 20u);
  EXPECT_EQ(runs[1], runs[0]);
  // The two velocities carry the signal.
  EXPECT_NEAR(runs[0][4] + runs[0][5] + runs[0][6], 0.4, 0.02);
  EXPECT_NEAR(runs[0][12] + runs[0][13] + runs[0][14], 0.6, 0.02);
}
