// Scan output of the global-array solvers: the rotor speed of the
// acceleration phase, the progress texts, the scan assembled slice by slice
// during a finite scan time, and failures that never reach the scans.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "fit/lamm_grid.h"
#include "fit/lamm_scan_output.h"
#include "fit/lamm_start_state.h"
#include "fit_test_support.h"
#include "lamm/global/global_moving_frame.h"
#include "lamm/lamm_run_state.h"
#include "lamm/lamm_settings.h"
#include "platform/scripted_ui.h"

namespace {

class ScanOutput : public fittest::FitStateTest {
 protected:
  void SetUp() override {
    FitStateTest::SetUp();
    LammSettings().rampRotorSpeed = 0;
  }
  // One scan at 600 s on 50 radii, and 200 nodes of the moving frame
  // holding 1; false where the grid cannot be made.
  static bool UniformMovingFrame() {
    Setup(600, 50, 200);
    LammSettings().claverieAlgorithm = 0;
    LammSettings().movingHatAlgorithm = 1;
    if (!SetLammGridSize(200)) return false;
    LammGrid& g = CurrentLammGrid();
    for (int i = 1; i <= 200; ++i) g.Concentration[i] = 1.0;
    return true;
  }
  // One scan at time t with n radii from `from` (default the meniscus 6.0)
  // to 7.2 cm, and a grid of N nodes holding c(r) = r.
  static void Setup(double t, int n, int N, float from = 6.0f) {
    std::vector<std::vector<float>> x(1), y(1);
    for (int i = 0; i < n; ++i) {
      x[0].push_back(from + (7.2f - from) * i / (n - 1));
      y[0].push_back(0.0f);
    }
    fittest::LoadScans(x, y);
    ScanSet& ss = CurrentScanSet();
    ss.records[1].time = ss.records[1].timeRead = t;
    ss.records[1].rpm = 40000;
    LammSettings().movingHatAlgorithm = 0;
    LammSettings().claverieAlgorithm = 1;
    LammSettings().gridSize.inUse = N;
    FreeLammArrays();
    ASSERT_TRUE(AllocLammArrays());
    LammGrid& g = CurrentLammGrid();
    for (int i = 1; i <= N; ++i) g.Concentration[i] = g.Radius[i];
    LammRunState& rs = CurrentLammRunState();
    rs.scanCounter = 1;
    rs.nextScanTime = t;
    rs.running = 1;
    rs.species = 1;
  }
};

TEST_F(ScanOutput, RotorSpeedDuringAcceleration) {
  LammRunState& rs = CurrentLammRunState();
  rs.fullSpeed = 50000;
  rs.acceleration = 300;
  rs.accelerationEnd = 5;  // below 10 s: full speed at once
  rs.accelerating = 1;
  EXPECT_EQ(RotorSpeedDuringAcceleration(0, 1), 50000);
  EXPECT_EQ(rs.accelerating, 0);
  rs.accelerationEnd = 50000.0 / 300;
  rs.accelerating = 1;
  // Root mean square of the speeds at both ends of the step.
  EXPECT_DOUBLE_EQ(RotorSpeedDuringAcceleration(10, 2), std::sqrt((3000.0 * 3000 + 3600.0 * 3600) / 2));
  EXPECT_EQ(rs.accelerating, 1);
  EXPECT_EQ(RotorSpeedDuringAcceleration(166, 10), 50000);  // capped at full speed
  EXPECT_EQ(RotorSpeedDuringAcceleration(170, 1), 50000);
  EXPECT_EQ(rs.accelerating, 0);
}

TEST_F(ScanOutput, ProgressTexts) {
  fittest::AnalyticHost host;
  LammRunState& rs = CurrentLammRunState();
  ShowStepText();  // no progress window: nothing
  EXPECT_TRUE(host.texts.empty());
  rs.progressWindow = &host;
  rs.dt = 2.5;
  rs.iteration = 17;
  rs.t = 1234.4;
  rs.totalAmount = 0.5;
  ShowStepText();
  ShowIterationText();
  ShowTimeText();
  LammSettings().massConservationCheck = 1;
  ShowTimeText();
  ShowStepResultText(0.25f);
  const std::vector<std::string> expected = {
      "10,70:dt = 2.500000 sec  ", "10,90:#it = 17   ", "10,110:t = 1234 sec  ",
      "10,110:t = 1234 sec (M=0.500000) ", "10,130:ri=0.250000  "};
  EXPECT_EQ(host.texts, expected);
}

TEST_F(ScanOutput, ProfileReachesTheScanAtItsTime) {
  Setup(600, 50, 200);
  LammRunState& rs = CurrentLammRunState();
  ScanSet& ss = CurrentScanSet();
  rs.t = 599;
  ShowSimulationProgress(1.0);
  EXPECT_EQ(ss.model[1][10], 0.0f);  // before the scan time: nothing
  rs.t = 600;
  ShowSimulationProgress(1.0);
  for (int p = 1; p <= 50; ++p) ASSERT_NEAR(ss.model[1][p], ss.radii[1][p], 1e-5) << p;
  EXPECT_EQ(rs.running, 0);  // the last scan ends the solve
}

TEST_F(ScanOutput, TheAirGapAboveTheMeniscusHoldsNoSignal) {
  Setup(600, 60, 200, 5.97f);
  ASSERT_EQ(CurrentLammGrid().Radius[1], 6.0);
  LammRunState& rs = CurrentLammRunState();
  ScanSet& ss = CurrentScanSet();
  rs.t = 600;
  ShowSimulationProgress(1.0);
  int air = 0;
  for (int p = 1; p <= 60; ++p) {
    if (ss.radii[1][p] < 6.0f) {
      ++air;
      EXPECT_EQ(ss.model[1][p], 0.0f) << p;
    } else {
      EXPECT_NEAR(ss.model[1][p], ss.radii[1][p], 1e-5) << p;
    }
  }
  EXPECT_EQ(air, 2);
}

TEST_F(ScanOutput, FiniteScanTimeAssemblesTheScanFromSlices) {
  Setup(600, 100, 300);
  CurrentDataTypeFlags().absorbance = 1;
  LammSettings().simulateTimeResolution = 1;
  LammSettings().scanVelocity = 1.2f;  // 60 s across the cell
  LammRunState& rs = CurrentLammRunState();
  LammGrid& g = CurrentLammGrid();
  ScanSet& ss = CurrentScanSet();
  // A sharp boundary (no diffusion) takes the most slices, 1000 of 0.06 s.
  rs.D = 0;
  const double tau = (7.2f - 6.0f) / (1.2f / 60.0f) / 1000;
  rs.t = 600;
  int calls = 0;
  // The profile rises by 1 per second while the scanner passes: each node
  // keeps the value of the time its slice was taken.
  while (rs.running && calls < 2000) {
    for (int i = 1; i <= g.AllocatedGridSize; ++i) g.Concentration[i] = rs.t - 600;
    ShowSimulationProgress(1.0);
    ++calls;
    if (rs.pendingFlag) rs.t = rs.pendingTime;
  }
  EXPECT_EQ(calls, 1000);
  EXPECT_NEAR(rs.t, 600 + 1000 * tau, 1e-4);
  // A point at radius r was read when the scanner got there.
  for (int p = 5; p <= 95; p += 10) {
    const double r = ss.radii[1][p];
    const double when = (r - 6.0) / (1.2 / 60.0);
    EXPECT_NEAR(ss.model[1][p], when, 2 * tau + 1e-3) << r;
  }
}

TEST_F(ScanOutput, NonFiniteConcentrationsAreAFailureNotAScan) {
  ASSERT_TRUE(UniformMovingFrame());
  LammGrid& g = CurrentLammGrid();
  g.Concentration[100] = std::numeric_limits<double>::quiet_NaN();
  LammRunState& rs = CurrentLammRunState();
  rs.s = 4.0;
  rs.D = 6e-7;
  SetAccelerationPhase();
  SetLammSolverStartState(nullptr, true);
  SimulateMovingFrameLamm();
  EXPECT_EQ(LammSettings().discretizationError, 1);
  EXPECT_EQ(CurrentScanSet().model[1][25], 0.0f);
}

TEST_F(ScanOutput, ASingularSystemIsReportedAndKeepsTheOldProfile) {
  ASSERT_TRUE(UniformMovingFrame());
  LammGrid& g = CurrentLammGrid();
  LammRunState& rs = CurrentLammRunState();
  rs.s = 4.0;
  rs.D = std::numeric_limits<double>::infinity();
  SetAccelerationPhase();
  SetLammSolverStartState(nullptr, true);
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scoped(ui);
  ui.ExpectBox("Error", "Error 1 in tridag");
  SimulateMovingFrameLamm();
  EXPECT_EQ(LammSettings().singularMatrixError, 1);
  EXPECT_TRUE(ui.failures.empty()) << ui.failures[0];
  EXPECT_TRUE(ui.AllConsumed());
  for (int i = 1; i <= 200; ++i) ASSERT_EQ(g.Concentration[i], 1.0) << i;
}

}  // namespace
