// After a Monte-Carlo series the distribution, its block and the models are
// the best fit of the measured data again, whether the series ran to its end
// or a key stopped it; a stop is reported once and counts only completed
// simulations.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "distributions/monte_carlo.h"
#include "fit/serial_fit_settings.h"
#include "numerics/random.h"
#include "platform/input_events.h"
#include "platform/scripted_ui.h"
#include "monte_carlo_fixture.h"

using namespace runtest;

namespace {

class MonteCarloBestFit : public MonteCarloFixture {
 protected:
  MonteCarloBestFit() : MonteCarloFixture({6, 120, {{13, 0.6f}, {25, 0.4f}}, 5, 7}) {}
  // The regularised fit of the measured data as a Run leaves it.
  struct Fit {
    std::vector<float> distribution;
    std::vector<std::vector<float>> model;
  };
  static Fit Now() {
    Fit f;
    const ContiSettings& cs = Conti();
    f.distribution.assign(cs.distribution + 1, cs.distribution + 1 + cs.gridSize);
    const ScanSet& s = CurrentScanSet();
    for (int j = 1; j <= s.count; ++j) f.model.emplace_back(s.model[j] + 1, s.model[j] + 1 + s.points[j]);
    return f;
  }
  static void ExpectSame(const Fit& want, const Fit& got) {
    ASSERT_EQ(want.distribution.size(), got.distribution.size());
    float peak = 0;
    for (float v : want.distribution) peak = std::max(peak, std::fabs(v));
    for (size_t i = 0; i < want.distribution.size(); ++i)
      EXPECT_NEAR(got.distribution[i], want.distribution[i], 1e-3f * peak) << "s point " << i + 1;
    ASSERT_EQ(want.model.size(), got.model.size());
    for (size_t j = 0; j < want.model.size(); ++j)
      for (size_t p = 0; p < want.model[j].size(); ++p)
        ASSERT_NEAR(got.model[j][p], want.model[j][p], 1e-4f) << "scan " << j + 1 << " point " << p + 1;
  }
  Fit RunBestFit() {
    Conti().silent = 0;
    RunContiSed();
    return Now();
  }
};

TEST_F(MonteCarloBestFit, TheBestFitIsBackAfterTheSeries) {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  const Fit best = RunBestFit();
  EXPECT_EQ(RunMonteCarloDistributions(6, 0.68f, FileName(), false), 6);
  // Between the series and its end the plot shows the mean of the members.
  EXPECT_EQ(MonteCarlo().n, 6);
  EndMonteCarlo();
  ExpectSame(best, Now());
  EXPECT_TRUE(ui.failures.empty()) << (ui.failures.empty() ? "" : ui.failures[0]);
}

// A key typed while simulation 3 is made ends the series there: that
// simulation is dropped (the state before the step), two members count, the
// stop is said once, the keys are gone, and the best fit is back.
TEST_F(MonteCarloBestFit, AKeyStopsTheSeriesWithTheMembersCompleted) {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  const Fit best = RunBestFit();
  int shown = 0;
  MonteCarloDisplay().drawText = [&](int, int, const std::string&) {
    if (++shown == 3) {
      platform::PostKeyDown('x');
      platform::PostKeyDown('y');
    }
  };
  ui.ExpectBox("Monte Carlo for Distributions", "Monte-Carlo series stopped by the user after 2 of 50 simulations");
  EXPECT_EQ(RunMonteCarloDistributions(50, 0.68f, FileName(), false), 2);
  EXPECT_EQ(shown, 3);  // the fourth never started
  EXPECT_EQ(MonteCarlo().n, 2);
  EXPECT_FALSE(platform::KeyDownPending());
  EXPECT_FALSE(platform::StopFlag().load());
  EXPECT_EQ(Conti().monteCarloRun, 0);
  for (int i = 1; i <= MonteCarlo().sPoints; ++i) EXPECT_LE(MonteCarlo().lower[i], MonteCarlo().upper[i]);
  EndMonteCarlo();
  ExpectSame(best, Now());
  EXPECT_TRUE(ui.AllConsumed());
  EXPECT_TRUE(ui.failures.empty()) << (ui.failures.empty() ? "" : ui.failures[0]);
}

// Stopped before two members exist: no limits, the best fit stays.
TEST_F(MonteCarloBestFit, AStopBeforeTwoMembersGivesNoLimits) {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  const Fit best = RunBestFit();
  MonteCarloDisplay().drawText = [&](int, int, const std::string&) { platform::PostKeyDown('q'); };
  ui.ExpectBox("Monte Carlo for Distributions", "after 0 of 20 simulations\n(too few for confidence limits)");
  EXPECT_EQ(RunMonteCarloDistributions(20, 0.68f, FileName(), false), 0);
  EXPECT_FALSE(std::filesystem::exists(folder_ / "mean.dat"));
  EndMonteCarlo();
  ExpectSame(best, Now());
  EXPECT_TRUE(ui.AllConsumed());
}

}  // namespace
