// The test of approach to equilibrium: series ordering, the curves of a
// pass, the saved files, and the time course of scans approaching
// equilibrium, whose rmsd against the last scan decays with the slowest
// mode of the Lamm equation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "../support/finite_volume_lamm.h"
#include "data/realtime_update.h"
#include "eq_scans.h"
#include "equilibrium/eqtools/eq_test_mode.h"
#include "platform/scripted_ui.h"

namespace {

eqtest::Scan Flat(int cell, float wavelength, float rpm, double time, const std::string& file, double level) {
  return eqtest::LineScan(cell, wavelength, rpm, time, file, level, 60, 0.005, 0.2);
}

struct TestMode : ::testing::Test {
  void SetUp() override { EqTest() = EqTestSeriesSet{}; }
  void TearDown() override {
    EqTest() = EqTestSeriesSet{};
    CurrentRealtimeState().series.clear();
    eqtest::Clear();
  }
};

TEST_F(TestMode, SeriesBySpeedWithLastSpeedAndExtensions) {
  // A run at 20 krpm first, then 10 krpm, then 15 krpm: 15 krpm is the last.
  eqtest::Load({Flat(1, 280, 20000, 100, "00003.RA1", 0.1), Flat(1, 280, 10000, 200, "00004.RA1", 0.2),
                Flat(2, 280, 10000, 210, "00007.RA2", 0.3), Flat(1, 280, 15000, 300, "00005.RA1", 0.4),
                Flat(1, 280, 15000, 310, "00006.RA1", 0.5), Flat(2, 280, 15000, 320, "00008.RA2", 0.6),
                Flat(2, 280, 15000, 330, "00002.RA2", 0.7)});
  ASSERT_EQ(GroupEqTestSeries(), 5);
  const EqTestSeriesSet& t = EqTest();
  std::vector<float> speeds;
  std::vector<bool> last;
  for (const EqTestSeries& e : t.series) {
    speeds.push_back(CurrentScanSet().records[e.First()].rpm);
    last.push_back(e.lastSpeed);
  }
  EXPECT_EQ(speeds, (std::vector<float>{10000, 10000, 15000, 15000, 20000}));
  EXPECT_EQ(last, (std::vector<bool>{false, false, true, true, false}));
  EXPECT_EQ(t.highestSpeed, 20000);
  EXPECT_EQ(t.nextLowerSpeed, 15000);
  EXPECT_FALSE(t.oneCellOnly);  // cells 1 and 2 both have series of two scans
  const std::vector<RealtimeSeries>& ext = CurrentRealtimeState().series;
  ASSERT_EQ(ext.size(), 2u);
  EXPECT_EQ(ext[0].extension, ".RA1");
  EXPECT_EQ(ext[0].firstNumber, 3);
  EXPECT_EQ(ext[1].extension, ".RA2");
  EXPECT_EQ(ext[1].firstNumber, 2);
}

TEST_F(TestMode, ExcludedCellsAndOneCellOnly) {
  eqtest::Load({Flat(1, 280, 15000, 100, "00001.RA1", 0.1), Flat(1, 280, 15000, 200, "00002.RA1", 0.2),
                Flat(2, 280, 15000, 300, "00003.RA2", 0.3)});
  EqTest().excluded.push_back({1, 283});
  ASSERT_EQ(GroupEqTestSeries(), 2);
  EXPECT_TRUE(EqTest().oneCellOnly);  // cell 2 has one scan only
  EXPECT_FALSE(EqTest().included[1]);
  EXPECT_TRUE(EqTest().included[2]);
  EXPECT_TRUE(IsExcludedEqTestSeries(1));
  EXPECT_FALSE(IsExcludedEqTestSeries(3));
}

TEST_F(TestMode, CurvesOfAPassAndTheirFiles) {
  // Three scans closing in on the last by offsets and a slope.
  eqtest::Load({Flat(1, 280, 15000, 3600, "00001.RA1", 0.5), Flat(1, 280, 15000, 7200, "00002.RA1", 0.4),
                Flat(1, 280, 15000, 10800, "00003.RA1", 0.3)});
  ScanSet& ss = CurrentScanSet();
  for (int i = 1; i <= 60; ++i) ss.signals[1][i] += 0.1f * (ss.radii[1][i] - 7.0f);
  ASSERT_EQ(GroupEqTestSeries(), 1);
  SetEqTestRangeFromFitLimits(1);
  EXPECT_FALSE(SetEqTestRangeFromRadii(1, 7.3f, 7.4f));  // no point there
  EXPECT_TRUE(SetEqTestRangeFromRadii(1, 7.1001f, 6.9501f));  // either order
  EXPECT_EQ(EqTest().first[1], 12);
  EXPECT_EQ(EqTest().last[1], 41);
  MakeEqTestCurves();
  const EqTestSeries& e = EqTest().series[0];
  ASSERT_EQ(e.dt.size(), 3u);
  EXPECT_FLOAT_EQ(e.dt[1], -2.0f);
  EXPECT_FLOAT_EQ(e.dt[2], -1.0f);
  EXPECT_NEAR(e.rmsd[1], 0.1 * 0.005 * std::sqrt((30.0 * 30 - 1) / 12), 1e-6);
  EXPECT_NEAR(e.rmsd[2], 0.0, 1e-6);
  EXPECT_NEAR(e.rmsdLastTwo, 0.0, 1e-6);
  ASSERT_EQ(e.rel.size(), 31u);
  // The last scan is a line: relative signal from -0.5 to 0.5 over the range.
  EXPECT_NEAR(e.rel[1], -0.5, 1e-5);
  EXPECT_NEAR(e.rel[30], 0.5, 1e-5);
  EXPECT_NEAR(e.relR[1] + e.relR[30], 0.0, 1e-5);

  const std::vector<std::string> files = SaveEqTestFiles("approach.txt");
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0], "approach_1.txt");
  std::ifstream in(files[0]);
  std::string line;
  std::getline(in, line);
  char expected[100];
  std::snprintf(expected, sizeof expected, "%f %f %f", 1.0, -2.0, static_cast<double>(e.rmsd[1]));
  EXPECT_EQ(line, expected);
}

TEST_F(TestMode, AFileThatCannotBeOpenedStopsTheSaving) {
  eqtest::Load({Flat(1, 280, 15000, 3600, "00001.RA1", 0.5), Flat(1, 280, 15000, 7200, "00002.RA1", 0.4),
                Flat(1, 280, 20000, 9000, "00003.RA1", 0.5), Flat(1, 280, 20000, 9900, "00004.RA1", 0.4)});
  ASSERT_EQ(GroupEqTestSeries(), 2);
  for (int i = 1; i <= 2; ++i) SetEqTestRangeFromFitLimits(i);
  MakeEqTestCurves();
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  ui.ExpectBox("", "Attention: could not open missing/approach_1.txt");
  EXPECT_TRUE(SaveEqTestFiles("missing/approach.txt").empty());
  EXPECT_TRUE(ui.failures.empty());
  EXPECT_TRUE(ui.AllConsumed());
}

// Scans from rest at 15000 rpm every 1800 s: late in the run the rmsd
// against the last scan falls as exp(-lambda t), lambda the slowest mode,
// D pi^2 beta / (b - m)^2 with beta = 1 + (alpha / 2 pi)^2 and alpha the
// column's Peclet number s w^2 r (b - m) / D.
TEST_F(TestMode, ApproachScansDecayWithTheSlowestMode) {
  const double s = 3.0, D = 4.5e-7, m = 6.9, b = 7.2, rpm = 15000;
  std::vector<double> times, radii;
  for (int k = 1; k <= 118; ++k) times.push_back(1800.0 * k);
  for (int i = 0; i <= 140; ++i) radii.push_back(6.91 + 0.002 * i);
  const auto profiles = FiniteVolumeApproach(s, D, m, b, [&](double) { return rpm; }, {0.0}, times, radii);
  std::vector<eqtest::Scan> scans;
  for (int k = 0; k < 118; ++k) {
    eqtest::Scan sc;
    sc.rpm = static_cast<float>(rpm);
    sc.time = times[k];
    char name[16];
    std::snprintf(name, sizeof name, "%05d.RA1", k + 1);
    sc.file = name;
    for (int i = 0; i <= 140; ++i) {
      sc.r.push_back(static_cast<float>(radii[i]));
      sc.y.push_back(static_cast<float>(profiles[k][i]));
    }
    scans.push_back(sc);
  }
  eqtest::Load(scans);
  ASSERT_EQ(GroupEqTestSeries(), 1);
  SetEqTestRangeFromFitLimits(1);
  MakeEqTestCurves();
  const EqTestSeries& e = EqTest().series[0];
  // Least-squares slope of ln rmsd against time where the slowest mode
  // dominates and float rounding does not.
  double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
  for (int j = 1; j < e.Count(); ++j) {
    if (e.rmsd[j] > 1e-2 || e.rmsd[j] < 1e-5) continue;
    const double x = e.dt[j] * 3600.0, y = std::log(e.rmsd[j]);
    n += 1;
    sx += x;
    sy += y;
    sxx += x * x;
    sxy += x * y;
  }
  ASSERT_GT(n, 10);
  const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
  const double w = rpm * std::numbers::pi / 30;
  const double alpha = s * 1e-13 * w * w * 0.5 * (m + b) * (b - m) / D;
  const double beta = 1 + std::pow(alpha / (2 * std::numbers::pi), 2);
  const double lambda = D * std::numbers::pi * std::numbers::pi * beta / ((b - m) * (b - m));
  // rmsd_j ~ exp(-lambda t_j): against dt_j = t_j - t_L the slope is -lambda.
  EXPECT_NEAR(slope, -lambda, 0.05 * lambda);
}

}  // namespace
