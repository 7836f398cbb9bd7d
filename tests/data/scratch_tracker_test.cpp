// The scratch tracker against scans whose dip was moved by known amounts:
// the shifts it finds must be those amounts. Also the window size, the
// refusals that keep the window on the grid, the store limit and the file.
#include "data/scratch_tracker.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "numerics/random.h"
#include "platform/scripted_ui.h"
#include "tests/data/repair_scans.h"

namespace {

class ScratchTracker : public ::testing::Test {
 protected:
  ScratchTracker() : scope_(ui_) {}
  ~ScratchTracker() override { FreeScanData(); }

  // Twelve scans on a 0.001 cm grid over 6.0 .. 7.0 cm: a Gaussian dip
  // (sigma 0.0015 cm, depth 0.03) at 6.5 cm + d_i, d_1 = 0 and the others
  // uniform in +-0.002 cm, slopes 0.2 + 0.05 i, noise 0.0005.
  void MakeScratchedScans(unsigned seed, int scans = 12) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> uniform(-0.002, 0.002);
    std::normal_distribution<double> noise(0.0, 0.0005);
    d_.assign(static_cast<std::size_t>(scans) + 1, 0.0);
    for (int i = 2; i <= scans; ++i) d_[i] = uniform(gen);
    std::vector<std::vector<double>> values(static_cast<std::size_t>(scans) + 1);
    for (int i = 1; i <= scans; ++i)
      for (int j = 1; j <= 1001; ++j) {
        const double r = 6.0 + 0.001 * (j - 1);
        const double dip = r - 6.5 - d_[i];
        values[i].push_back(0.1 * i + (0.2 + 0.05 * i) * (r - 6.0) - 0.03 * std::exp(-dip * dip / (2 * 0.0015 * 0.0015)) +
                            noise(gen));
      }
    repair_test::MakeInterferenceSet(scans, 6.0, 0.001, 1001, [&](int i, double r) {
      const int j = static_cast<int>(std::lround((r - 6.0) / 0.001));
      return values[i][j];
    });
  }

  platform::ScriptedUserInterface ui_;
  platform::ScopedUI scope_;
  std::vector<double> d_;
};

TEST_F(ScratchTracker, RecoversTheShiftsOfTheDip) {
  for (unsigned seed : {1u, 2u, 3u}) {
    MakeScratchedScans(seed);
    SeedGaussRandom(seed);
    CScratchTracker t;
    ASSERT_EQ(t.PrepareWindow(CurrentScanSet(), 0.01, 0.002), ScratchWindowResult::Ok);
    EXPECT_EQ(t.windowPoints(), 11);
    EXPECT_EQ(t.halfWidth(), 5);
    ASSERT_EQ(t.SetPosition(6.4995), ScratchWindowResult::Ok);
    EXPECT_EQ(t.centreIndex(), 501);
    EXPECT_NEAR(t.windowRadius(1), 6.496, 1e-6);  // one point after the first index
    EXPECT_NEAR(t.windowRadius(t.halfWidth()), 6.5, 1e-6);
    const double e = t.OptimizeShifts();
    EXPECT_GT(e, 0);
    EXPECT_EQ(t.shiftsOut()[1], 0.0);
    EXPECT_EQ(t.currentShift(1), 0.0);
    for (int p = 1; p <= 12; ++p) {
      EXPECT_NEAR(t.shiftsOut()[p], d_[p] - d_[1], 2.5e-4) << "seed " << seed << " scan " << p;
      EXPECT_LE(std::fabs(t.shiftsOut()[p]), 0.1);
      // The track passes through the shifted window centre.
      EXPECT_NEAR(t.centreRadius()[p], 6.5 + t.shiftsOut()[p], 1e-6);
    }
    EXPECT_GE(t.restarts(), 2);
  }
}

TEST_F(ScratchTracker, ObjectiveIsZeroForScansThatDifferByOffsetAndSlope) {
  // Scan i = scan 1 + a_i + b_i (r - 6.5): nothing is left once offsets and
  // slopes are taken out, so E(0) = 0 up to rounding.
  repair_test::MakeInterferenceSet(4, 6.0, 0.001, 1001, [](int i, double r) {
    return std::sin(40 * r) + 0.1 * i + 0.3 * i * (r - 6.5);
  });
  CScratchTracker t;
  ASSERT_EQ(t.PrepareWindow(CurrentScanSet(), 0.02, 0.002), ScratchWindowResult::Ok);
  ASSERT_EQ(t.SetPosition(6.3), ScratchWindowResult::Ok);
  const double zero[5] = {0, 0, 0, 0, 0};
  EXPECT_NEAR(t.Evaluate(zero), 0, 1e-9);
  // The slopes returned are each scan's own slope plus the common one.
  for (int p = 2; p <= 4; ++p) EXPECT_NEAR(t.slopesOut()[p] - t.slopesOut()[1], 0.3 * (p - 1), 2e-3);
  const double moved[5] = {0, 0, 0.003, 0, 0};
  EXPECT_GT(t.Evaluate(moved), 1e-3);
}

TEST_F(ScratchTracker, WindowSizeAndRefusals) {
  MakeScratchedScans(1);
  ScanSet& s = CurrentScanSet();
  CScratchTracker t;
  // k grows by two until the width is reached, and stops beyond 100.
  EXPECT_EQ(t.PrepareWindow(s, 1.0, 0.002), ScratchWindowResult::Ok);
  EXPECT_EQ(t.windowPoints(), 101);
  EXPECT_EQ(t.PrepareWindow(s, 0.004, 0.002), ScratchWindowResult::Ok);
  EXPECT_EQ(t.windowPoints(), 5);
  EXPECT_EQ(t.PrepareWindow(s, 0.002, 0.002), ScratchWindowResult::TooFewPoints);
  EXPECT_FALSE(t.HasWork());

  ASSERT_EQ(t.PrepareWindow(s, 0.01, 0.002), ScratchWindowResult::Ok);
  // Too close to either end of the grid for the 11 points.
  EXPECT_EQ(t.SetPosition(6.0025), ScratchWindowResult::PastGrid);
  EXPECT_EQ(t.SetPosition(6.9955), ScratchWindowResult::PastGrid);
  EXPECT_EQ(t.SetPosition(6.0055), ScratchWindowResult::Ok);
  EXPECT_EQ(t.firstIndex(), 2);
  // Beyond the fit limits' last grid point.
  s.lastGridPoint = 900;
  EXPECT_EQ(t.SetPosition(6.95), ScratchWindowResult::OutsideFitLimits);

  MakeScratchedScans(1, 1);
  EXPECT_EQ(t.PrepareWindow(CurrentScanSet(), 0.01, 0.002), ScratchWindowResult::TooFewScans);
}

TEST_F(ScratchTracker, IdenticalScansShowTheBoxAndTheSearchEnds) {
  repair_test::MakeInterferenceSet(12, 6.0, 0.001, 1001, [](int, double r) { return std::cos(30 * r); });
  ui_.ExpectBox("Error", "Error in Optimize Shift Nelder-Mead");
  SeedGaussRandom(5);
  CScratchTracker t;
  ASSERT_EQ(t.PrepareWindow(CurrentScanSet(), 0.01, 0.002), ScratchWindowResult::Ok);
  ASSERT_EQ(t.SetPosition(6.5), ScratchWindowResult::Ok);
  EXPECT_EQ(t.OptimizeShifts(), 0.0);
  EXPECT_TRUE(ui_.AllConsumed());
  EXPECT_TRUE(ui_.failures.empty());
  for (int p = 1; p <= 12; ++p) EXPECT_NEAR(t.shiftsOut()[p], 0, 1e-9);
}

TEST_F(ScratchTracker, StoreStopsAt99AndTheFileHoldsEveryStoredScratch) {
  MakeScratchedScans(2);
  SeedGaussRandom(2);
  CScratchTracker t;
  t.BeginStore(12);
  EXPECT_FALSE(t.StoreScratch());  // nothing located yet
  std::vector<std::vector<double>> slopes, shifts;
  for (double r : {6.4995, 6.2995}) {
    ASSERT_EQ(t.PrepareWindow(CurrentScanSet(), 0.01, 0.002), ScratchWindowResult::Ok);
    ASSERT_EQ(t.SetPosition(r), ScratchWindowResult::Ok);
    t.OptimizeShifts();
    slopes.push_back(t.slopesOut());
    shifts.push_back(t.shiftsOut());
    ASSERT_TRUE(t.StoreScratch());
    t.FreeWork();
  }
  EXPECT_EQ(t.StoredCentre(1), 501);
  EXPECT_EQ(t.StoredCentre(2), 301);
  const std::string path = testing::TempDir() + "/two.scratch";
  ASSERT_TRUE(t.WriteScratchFile(path));
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "2 12 6.500000 6.300000");
  for (int p = 1; p <= 12; ++p) {
    ASSERT_TRUE(std::getline(in, line));
    std::istringstream row(line);
    for (int r = 0; r < 2; ++r) {
      double slope = 0, shift = 0;
      row >> slope >> shift;
      EXPECT_NEAR(slope, slopes[r][p], 1e-5);
      EXPECT_NEAR(shift, shifts[r][p], 1e-6);
    }
    std::string rest;
    EXPECT_FALSE(row >> rest);
  }
  EXPECT_FALSE(std::getline(in, line));

  // Fill up to 99; the next one is refused and nothing changes.
  ASSERT_EQ(t.PrepareWindow(CurrentScanSet(), 0.01, 0.002), ScratchWindowResult::Ok);
  ASSERT_EQ(t.SetPosition(6.4995), ScratchWindowResult::Ok);
  t.Evaluate(std::vector<double>(13, 0.0).data());
  while (t.StoredCount() < 99) ASSERT_TRUE(t.StoreScratch());
  EXPECT_TRUE(t.StoreFull());
  EXPECT_FALSE(t.StoreScratch());
  EXPECT_EQ(t.StoredCount(), 99);
  t.FreeStore();
  EXPECT_FALSE(t.WriteScratchFile(path + "2"));  // nothing stored: no file
  EXPECT_FALSE(std::ifstream(path + "2").good());
}

}  // namespace
