#include <gtest/gtest.h>

#include <chrono>
#include <cmath>

#include "distributions/conti_run.h"
#include "distributions/regularization_scaling.h"
#include "platform/scripted_ui.h"
#include "run_test_support.h"

using namespace runtest;

namespace {

// Amplitude of grid point i from the displayed density on a linear grid.
double Amplitude(int i) {
  const ContiSettings& cs = Conti();
  const int n = cs.gridSize;
  const double h = cs.sValues[2] - cs.sValues[1];
  const double w = (i == 1 || i == n) ? h / 2 : h;
  return cs.distribution[i] * w;
}

}  // namespace

TEST(ContiRun, NoiselessGridSpeciesAreRecoveredExactly) {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  Experiment e(6, 100);
  SetGrid(1.0f, 10.0f, 16);
  ASSERT_TRUE(MakeSyntheticData(e, {{4, 0.6f}, {11, 0.3f}}));
  Conti().maxEntropy = 0;
  Conti().confidenceLevel = 0.5f;
  RunContiSed();
  EXPECT_TRUE(ui.failures.empty()) << (ui.failures.empty() ? "" : ui.failures[0]);
  for (int i = 1; i <= 16; ++i) {
    const double expected = i == 4 ? 0.6 : i == 11 ? 0.3 : 0.0;
    EXPECT_NEAR(Amplitude(i), expected, 1e-5 * 0.6) << i;
  }
}
