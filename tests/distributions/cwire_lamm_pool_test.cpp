#include <gtest/gtest.h>

#include <vector>

#include "distributions/conti_lamm_list.h"
#include "distributions/conti_lamm_pool.h"
#include "lamm/lamm_threads.h"
#include "platform/scripted_ui.h"
#include "run_test_support.h"

using namespace runtest;

namespace {

struct Result {
  std::vector<float> distribution;
  std::vector<float> model;  // every scan's model on its own radii
};

// One maximum-entropy c(s) run of noisy two-species data; the kernels are
// solved by the given list solver with the given worker count.
Result RunWith(LammListSolver solver, int threads) {
  SetLammListSolver(solver);
  const int saved = LammListThreads();
  LammListThreads() = threads;
  Conti().multipleThreads = 1;
  RunContiSed();
  Conti().multipleThreads = 0;
  LammListThreads() = saved;
  SetLammListSolver(nullptr);
  Result r;
  r.distribution.assign(Conti().distribution + 1, Conti().distribution + Conti().gridSize + 1);
  const ScanSet& s = CurrentScanSet();
  for (int j = 1; j <= s.count; ++j) r.model.insert(r.model.end(), s.model[j] + 1, s.model[j] + s.points[j] + 1);
  return r;
}

}  // namespace

TEST(LammPoolListSolver, KernelsAreThoseOfTheCallingThreadForAnyWorkerCount) {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  Experiment e(5, 90);
  SetGrid(1.0f, 10.0f, 14);
  ASSERT_TRUE(MakeSyntheticData(e, {{4, 0.5f}, {10, 0.3f}}));
  e.AddGaussianNoise(0.003f, 11);
  Conti().maxEntropy = 1;
  Conti().confidenceLevel = 0.68f;
  const Result reference = RunWith(nullptr, 1);
  ASSERT_EQ(reference.distribution.size(), 14u);
  const int poolThreads = LammThreadCount();
  for (int threads : {1, 2, 3, 5}) {
    const Result pooled = RunWith(SolveContiSpeciesOnLammPool, threads);
    ASSERT_EQ(pooled.distribution.size(), reference.distribution.size());
    for (size_t i = 0; i < reference.distribution.size(); ++i)
      EXPECT_EQ(pooled.distribution[i], reference.distribution[i]) << threads << " threads, point " << i + 1;
    ASSERT_EQ(pooled.model.size(), reference.model.size());
    int differing = 0;
    for (size_t i = 0; i < reference.model.size(); ++i) differing += pooled.model[i] != reference.model[i];
    EXPECT_EQ(differing, 0) << threads << " threads";
    EXPECT_EQ(LammThreadCount(), poolThreads);  // the pool's own setting is left as it was
  }
  EXPECT_TRUE(ui.failures.empty()) << ui.failures[0];
}
