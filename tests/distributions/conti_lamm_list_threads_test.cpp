// The c(s) run's own species list on worker threads: the species are handed
// out slowest first, in an order and to threads that vary from run to run,
// and the result must not show it.
#include <gtest/gtest.h>

#include <vector>

#include "distributions/conti_lamm_list.h"
#include "platform/scripted_ui.h"
#include "run_test_support.h"

using namespace runtest;

namespace {

// Distribution and every scan's model of one maximum-entropy c(s) run with
// the species list on `threads` workers (1: the calling thread).
std::vector<float> RunOn(int threads) {
  const int saved = LammListThreads();
  LammListThreads() = threads;
  Conti().multipleThreads = threads > 1;
  RunContiSed();
  Conti().multipleThreads = 0;
  LammListThreads() = saved;
  std::vector<float> r(Conti().distribution + 1, Conti().distribution + Conti().gridSize + 1);
  const ScanSet& s = CurrentScanSet();
  for (int j = 1; j <= s.count; ++j) r.insert(r.end(), s.model[j] + 1, s.model[j] + s.points[j] + 1);
  return r;
}

}  // namespace

TEST(ContiSpeciesList, ResultsAreBitwiseThoseOfOneThreadForAnyWorkerCount) {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  Experiment e(5, 90);
  SetGrid(1.0f, 10.0f, 14);
  ASSERT_TRUE(MakeSyntheticData(e, {{4, 0.5f}, {10, 0.3f}}));
  e.AddGaussianNoise(0.003f, 12);
  Conti().maxEntropy = 1;
  Conti().confidenceLevel = 0.68f;
  const std::vector<float> single = RunOn(1);
  ASSERT_EQ(single.size(), 14u + 5u * 90u);
  for (int threads : {2, 3, 8, 20}) {
    const std::vector<float> pooled = RunOn(threads);
    ASSERT_EQ(pooled.size(), single.size());
    int differing = 0;
    for (size_t i = 0; i < single.size(); ++i) differing += pooled[i] != single[i];
    EXPECT_EQ(differing, 0) << threads << " threads";
  }
  EXPECT_TRUE(ui.failures.empty()) << ui.failures[0];
}
