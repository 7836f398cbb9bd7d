#include <gtest/gtest.h>

#include <vector>

#include "platform/scripted_ui.h"
#include "run_test_support.h"

using namespace runtest;

// The prior of c(s,f/f0) covers every amplitude of the 2-D grid (the
// regularisation reads it over all of them); with or without it the
// regularised map keeps the total loading of the data.
TEST(SizeAndShapePrior, RegularisedMapWithPriorKeepsTheLoading) {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  Experiment e(6, 100);
  ASSERT_TRUE(MakeSyntheticData(e, 1.0f, 10.0f, 10, {{3, 0.6f}, {8, 0.3f}}, 0.002f, 3));  // f/f0 1.2
  ContiSettings& cs = SizeAndShape();
  cs.maxEntropy = 0;
  cs.secondDerivative = 1;
  cs.confidenceLevel = 0.68f;
  Priors().use = false;
  RunContiSed();
  ASSERT_EQ(cs.grid2DSize, 30);
  const std::vector<float> plain(cs.grid2DAmplitude + 1, cs.grid2DAmplitude + 31);
  Priors().use = true;
  cs.csffRecompute = 1;
  RunContiSed();
  Priors().use = false;
  ASSERT_EQ(DistArrays().allocatedPrior, 30);  // the prior grew with the 2-D grid
  double total = 0, plainTotal = 0;
  for (int j = 1; j <= 30; ++j) {
    total += cs.grid2DAmplitude[j];
    plainTotal += plain[j - 1];
  }
  EXPECT_NEAR(total, 0.9, 0.03);
  EXPECT_NEAR(plainTotal, 0.9, 0.03);
  gModelSelectorFlags.CSff0Model = 0;
  cs.secondDerivative = 0;
  cs.maxEntropy = 1;
  EXPECT_TRUE(ui.failures.empty()) << ui.failures[0];
}
