#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "distributions/integrate_distribution.h"
#include "distributions/monte_carlo.h"
#include "numerics/random.h"
#include "fit/serial_fit_settings.h"
#include "numerics/arrays.h"
#include "numerics/random.h"
#include "platform/scripted_ui.h"
#include "monte_carlo_fixture.h"

using namespace runtest;

namespace {

// One species of 5 S (grid 1..10 S in 0.25 S steps) with noise 0.01 on
// scans simulated by the run; Tikhonov-Phillips at P = 0.68.
class MonteCarloSeries : public MonteCarloFixture {
 protected:
  MonteCarloSeries() : MonteCarloFixture({8, 120, {{17, 1.0f}}, 9, 3}) {}
  bool Exists(const std::string& stem) const { return std::filesystem::exists(folder_ / (stem + ".dat")); }
  // Makes the common grid a view of the scans' own radii and signals, as
  // the loader does for interference data.
  void ViewGrid() {
    ScanSet& s = CurrentScanSet();
    for (int j = 1; j <= s.count; ++j) {
      free_vector(s.gridSignals[j], 1, s.gridLength);
      s.gridSignals[j] = s.signals[j];
    }
    free_vector(s.grid, 1, s.gridLength);
    s.grid = s.radii[s.order[1]];
    s.gridOwned = 0;
  }
  // Rows k and l of the series differ somewhere.
  static bool RowsDiffer(int k, int l) {
    MonteCarloState& mc = MonteCarlo();
    for (int i = 1; i <= mc.G; ++i)
      if (mc.Row(k)[i] != mc.Row(l)[i]) return true;
    return false;
  }
};

TEST_F(MonteCarloSeries, LimitsBracketTheMeanAndFilesAppear) {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  const ScanSet& s = CurrentScanSet();
  const std::vector<float> measured(s.gridSignals[3] + 1, s.gridSignals[3] + s.gridLength + 1);
  const int n = 20;
  RunMonteCarloDistributions(n, 0.68f, FileName(), true);
  for (int k = 0; k <= n; ++k) EXPECT_TRUE(Exists(std::to_string(k))) << k;
  EXPECT_TRUE(Exists("lim840"));
  EXPECT_TRUE(Exists("lim160"));
  EXPECT_TRUE(Exists("mean"));
  MonteCarloState& mc = MonteCarlo();
  EXPECT_NEAR(mc.baseRmsd, 0.01, 0.001);
  EXPECT_EQ(Conti().monteCarloRun, 0);
  // Non-negative members skew the tails: the mean may lie above the upper
  // limit where only a few members are not 0, but not at the peak.
  for (int i = 1; i <= mc.sPoints; ++i) EXPECT_LE(mc.lower[i], mc.upper[i]) << i;
  EXPECT_LE(mc.lower[17], mc.mean[17]);
  EXPECT_GE(mc.upper[17], mc.mean[17]);
  EXPECT_GT(mc.upper[17], mc.lower[17]);
  EXPECT_TRUE(RowsDiffer(1, 2));
  // The measured data are back on the grid.
  for (int r = 1; r <= s.gridLength; ++r) ASSERT_EQ(s.gridSignals[3][r], measured[r - 1]) << r;

  // The integrated statistics of the peak: every series member holds the
  // species at its s with its amount.
  gSerialFitSettings.running = 1;
  const MonteCarloSwResult r = MonteCarloSwStatistics(4.0f, 6.0f, 0.68f);
  EXPECT_EQ(r.swCount, n);
  EXPECT_NEAR(r.meanSw, Conti().sValues[17], 0.02 * 5.0);
  EXPECT_LE(r.lowerSw, r.meanSw);
  EXPECT_GE(r.upperSw, r.meanSw);
  EXPECT_NEAR(r.meanC, 1.0, 0.05);
  EXPECT_GT(r.sdC, 0.0f);
  EXPECT_LT(r.sdC, 0.05f);
  EXPECT_TRUE(ui.failures.empty()) << (ui.failures.empty() ? "" : ui.failures[0]);
}

TEST_F(MonteCarloSeries, SyntheticScansReachTheGridForEveryDataKind) {
  struct Kind {
    const char* name;
    bool view;
    uint8_t absorbance, intensity, interference;
  };
  const Kind kinds[] = {{"intensity", false, 0, 1, 0}, {"interference", true, 0, 0, 1}};
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.name);
    DataTypeFlags& d = CurrentDataTypeFlags();
    d.absorbance = k.absorbance;
    d.intensity = k.intensity;
    d.interference = k.interference;
    if (k.view) ViewGrid();
    gSerialFitSettings.running = 1;  // no limits, files or messages
    RunMonteCarloDistributions(4, 0.68f, FileName(), false);
    EXPECT_TRUE(RowsDiffer(1, 2));
    EXPECT_TRUE(RowsDiffer(3, 4));
    const ScanSet& s = CurrentScanSet();
    if (k.view) {
      for (int j = 1; j <= s.count; ++j) EXPECT_EQ(s.gridSignals[j], s.signals[j]) << j;
    }
    EndMonteCarlo();
  }
}

TEST_F(MonteCarloSeries, FewerThanTwoIterationsDoNothing) {
  RunMonteCarloDistributions(1, 0.68f, FileName(), true);
  EXPECT_FALSE(Exists("0"));
  EXPECT_EQ(MonteCarlo().n, 0);
  EXPECT_EQ(Conti().monteCarloRun, 0);
}

TEST_F(MonteCarloSeries, TwoDimensionalSeriesWritesTablesAndMarginalLimits) {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  ModelSelectorFlags& f = gModelSelectorFlags;
  f.CSModel = 0;
  f.CSff0Model = 1;
  ContiSettings& cs = Conti();
  SetGrid(1.0f, 10.0f, 10);
  cs.ffMin = 1.0f;
  cs.ffMax = 2.0f;
  cs.ffResolution = 3.0f;
  RunMonteCarloDistributions(3, 0.68f, FileName(), true);
  const MonteCarloState& mc = MonteCarlo();
  ASSERT_EQ(mc.G, cs.grid2DSize);
  EXPECT_EQ(mc.G, 30);
  EXPECT_EQ(mc.sPoints, 10);
  for (const char* stem : {"0", "3", "_sum"}) {
    std::ifstream in(folder_ / (std::string(stem) + ".dat"));
    int lines = 0;
    std::string line;
    while (std::getline(in, line)) {
      std::istringstream values(line);
      double v;
      int columns = 0;
      while (values >> v) ++columns;
      EXPECT_EQ(columns, 6) << stem;
      ++lines;
    }
    EXPECT_EQ(lines, 30) << stem;
  }
  EXPECT_TRUE(Exists("lim840"));
  // The limits come from the c(s) marginals of the members.
  for (int i = 1; i <= 10; ++i) {
    float lo = 1e30f, hi = -1e30f;
    for (int k = 1; k <= 3; ++k) {
      lo = std::min(lo, MonteCarlo().Marginal(k)[i]);
      hi = std::max(hi, MonteCarlo().Marginal(k)[i]);
    }
    EXPECT_GE(mc.lower[i], lo) << i;
    EXPECT_LE(mc.upper[i], hi) << i;
  }
  EXPECT_TRUE(ui.failures.empty()) << (ui.failures.empty() ? "" : ui.failures[0]);
  f.CSff0Model = 0;
  f.CSModel = 1;
}

}  // namespace
