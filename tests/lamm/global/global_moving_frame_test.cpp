// The moving-frame solver on the global grid arrays: the same numbers as the
// solver object's moving-frame path, the amount in the cell across frame
// shifts, and the step control at scan times.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "fit/lamm_grid.h"
#include "fit/lamm_start_state.h"
#include "lamm/global/global_moving_frame.h"
#include "lamm/lamm_run_state.h"
#include "lamm/lamm_settings.h"
#include "lamm/moving_frame_core.h"
#include "tests/fit/fit_test_support.h"
#include "tests/lamm/lamm_test_support.h"

namespace {

constexpr double kMeniscus = 6.0, kBottom = 7.25;  // exact in float

LammSolverSettings MovingFrameSettings(int n) {
  LammSolverSettings st = lammtest::FixedGrid(n);
  st.claverieAlgorithm = 0;
  st.movingHatAlgorithm = 1;
  st.gridSize.inUse = n;
  return st;
}

// Scans at the given times (constant speed, scan radii = 300 points).
void LoadTimes(const std::vector<double>& times, double rpm) {
  std::vector<float> r;
  for (int i = 0; i < 300; ++i) r.push_back(static_cast<float>(kMeniscus + 1.2 * i / 299));
  fittest::LoadScansAtTimes(times, rpm, r);
  gModelParams.meniscus = static_cast<float>(kMeniscus);
  gModelParams.bottom = static_cast<float>(kBottom);
}

// Runs one species on the global arrays from a uniform loading c0.
void RunGlobal(double s, double D, double rpm, double c0) {
  LammRunState& rs = CurrentLammRunState();
  rs = LammRunState{};
  rs.s = s;
  rs.D = D;
  rs.sStar = LammSettings().automaticSGrid ? s : LammSettings().gridS;
  FreeLammArrays();
  ASSERT_TRUE(AllocLammArrays());
  LammGrid& g = CurrentLammGrid();
  for (int i = 1; i <= g.AllocatedGridSize; ++i) g.Concentration[i] = c0;
  SetAccelerationPhase();
  rs.rpm = rs.fullSpeed = rpm;
  SetLammSolverStartState(nullptr, true);
  SimulateMovingFrameLamm();
}

class GlobalMovingFrame : public ::testing::Test {
 protected:
  void SetUp() override { fittest::ResetFitState(); }
  void TearDown() override {
    fittest::ClearLammRun();
  }
};

TEST_F(GlobalMovingFrame, AgreesWithTheSolverObjectsMovingFrame) {
  struct Case {
    double s, D, maxDc;
  };
  // Stored period factorization (max dc/c 1), fixed steps (0.3), flotation.
  for (const Case c : {Case{6.0, 5e-7, 1.0}, Case{6.0, 5e-7, 0.3}, Case{-3.0, 4e-7, 1.0},
                       Case{0.5, 8e-7, 1.0}}) {
    SCOPED_TRACE(c.s);
    const std::vector<double> times = {700, 1500, 2350};
    lammtest::Experiment e;
    e.s = c.s;
    e.D = c.D;
    e.meniscus = kMeniscus;
    e.bottom = kBottom;
    e.times = times;
    e.Build();
    LammSolverSettings st = MovingFrameSettings(400);
    st.workingMaxDcOverC = c.maxDc;
    auto L = lammtest::MakeSolver(e, st);
    ASSERT_EQ(L->CheckAndRun(), 0);
    ASSERT_TRUE(L->MovingFrameChosen());
    const int N = L->NodeCount();

    LammSettings() = st;
    LammSettings().gridSize.inUse = N;
    LoadTimes(times, e.rpm);
    RunGlobal(c.s, c.D, e.rpm, 1.0);
    ASSERT_EQ(LammSettings().singularMatrixError, 0);
    const LammGrid& g = CurrentLammGrid();
    ASSERT_EQ(g.AllocatedGridSize, N);
    EXPECT_DOUBLE_EQ(CurrentLammRunState().t, times.back());
    EXPECT_DOUBLE_EQ(L->Time(), times.back());
    UpdateMovingGridRadii();
    L->UpdateMovingGridRadii();
    double worst = 0, worstR = 0;
    for (int i = 1; i <= N; ++i) {
      worst = std::max(worst, std::fabs(g.Concentration[i] - L->Concentration()[i]));
      worstR = std::max(worstR, std::fabs(g.Radius[i] - L->NodeRadii()[i]));
    }
    EXPECT_LT(worst, 1e-12);
    EXPECT_LT(worstR, 1e-12);
  }
}

TEST_F(GlobalMovingFrame, AmountStaysInTheCellAcrossFrameShifts) {
  // A shift only re-indexes the nodes: the amount is kept to rounding. The
  // steps between shifts keep it to their time-discretisation error, which
  // is largest with whole frame periods as steps and material piling up at
  // the bottom.
  struct Case {
    double s, D, maxDc, runTolerance;
  };
  for (const Case c : {Case{5.0, 6e-7, 1.0, 1e-4}, Case{5.0, 6e-7, 0.3, 1e-5},
                       Case{12.0, 3e-7, 0.3, 5e-4}, Case{-4.0, 5e-7, 1.0, 5e-5}}) {
    SCOPED_TRACE(c.s);
    LammSettings() = MovingFrameSettings(500);
    LammSettings().massConservationCheck = 1;
    LammSettings().workingMaxDcOverC = c.maxDc;
    LoadTimes({600, 1200, 1800}, 50000);
    RunGlobal(c.s, c.D, 50000, 1.0);
    ASSERT_GT(GlobalMovingFrameShifts(), 10);
    EXPECT_LT(GlobalMovingFrameShiftAmountChange(), 1e-12);
    const double loaded = 1.2 * 0.03490658503988659 * (kBottom * kBottom - kMeniscus * kMeniscus) / 2;
    EXPECT_NEAR(CurrentLammRunState().totalAmount / loaded, 1.0, c.runTolerance);
    EXPECT_DOUBLE_EQ(GlobalMovingFrameAmount(), CurrentLammRunState().totalAmount);
  }
}

TEST_F(GlobalMovingFrame, ASlowApproachToEquilibriumIsFollowedToTheLastScan) {
  // A loose tolerance makes the steps "quiet" long before the last scan;
  // at the rate still left the profile moves on by far more than the stop
  // allows, so the solve must go on (a stop on quiet steps alone left half
  // the bottom's height out of the last scan). Oracle: the same solve that
  // never stops early.
  auto lastScan = [](double tolerance) {
    LammSettings() = MovingFrameSettings(400);
    LammSettings().equilibriumThreshold = tolerance;
    LoadTimes({3000, 60000, 200000}, 12000);
    RunGlobal(2.0, 6e-7, 12000, 1.0);
    const ScanSet& ss = CurrentScanSet();
    const int j = ss.order[ss.count];
    return std::vector<float>(ss.model[j] + 1, ss.model[j] + 1 + ss.points[j]);
  };
  const std::vector<float> full = lastScan(0.0);
  fittest::ClearScans();
  const std::vector<float> loose = lastScan(1e-3);
  ASSERT_EQ(full.size(), loose.size());
  double worst = 0, top = 0;
  for (std::size_t i = 0; i < full.size(); ++i) {
    worst = std::max(worst, static_cast<double>(std::fabs(full[i] - loose[i])));
    top = std::max(top, static_cast<double>(full[i]));
  }
  EXPECT_GT(top, 1.5);  // material has piled up towards the bottom
  EXPECT_LT(worst, 1e-3 * top);
}

TEST_F(GlobalMovingFrame, ZeroFrameCoefficientNeverShifts) {
  LammSettings() = MovingFrameSettings(300);
  LammSettings().automaticSGrid = 0;
  LammSettings().gridS = 0;
  LammSettings().workingMaxDcOverC = 0.5;  // the step is max dc/c itself (s)
  LoadTimes({100, 200}, 50000);
  RunGlobal(4.0, 6e-7, 50000, 1.0);
  EXPECT_EQ(GlobalMovingFrameShifts(), 0);
  EXPECT_EQ(CurrentLammRunState().iteration, 1 + 400);  // 200 s in steps of 0.5 s
  EXPECT_DOUBLE_EQ(CurrentLammRunState().t, 200.0);
}

TEST_F(GlobalMovingFrame, ScansInsideAFramePeriodAreHitExactly) {
  // 50 nodes: a period of several hundred seconds, scans in between.
  LammSettings() = MovingFrameSettings(50);
  const std::vector<double> times = {130.5, 131.25, 407.0};
  LoadTimes(times, 50000);
  RunGlobal(3.0, 6e-7, 50000, 1.0);
  EXPECT_DOUBLE_EQ(CurrentLammRunState().t, 407.0);
  ScanSet& ss = CurrentScanSet();
  for (int j = 1; j <= ss.count; ++j) EXPECT_GT(ss.model[j][150], 0.5f) << j;
}

// A smaller grid made after a solve, whose arrays the allocator happened to
// place where the frame's were: the frame's old size must not reach them.
TEST_F(GlobalMovingFrame, AGridMadeAgainKeepsItsRadiiUntilTheFrameIsBoundToIt) {
  LammSettings() = MovingFrameSettings(200);
  LoadTimes({600}, 50000);
  RunGlobal(4.0, 6.0, 50000, 1.0);
  ASSERT_EQ(GlobalMovingFrameCore().N, 200);
  ASSERT_TRUE(SetLammGridSize(100));
  LammGrid& g = CurrentLammGrid();
  const std::vector<double> radii(g.Radius + 1, g.Radius + 101);
  CMovingFrameCore& core = GlobalMovingFrameCore();
  core.xi = g.FrameRadius;
  core.r = g.Radius;
  UpdateMovingGridRadii();
  EXPECT_EQ(std::vector<double>(g.Radius + 1, g.Radius + 101), radii);
  EXPECT_EQ(g.Radius[100], kBottom);
}

TEST_F(GlobalMovingFrame, NothingRunsWithoutArraysOrWithASpeedProfile) {
  LammSettings() = MovingFrameSettings(100);
  LoadTimes({600}, 50000);
  FreeLammArrays();
  CurrentLammRunState().running = 1;
  SimulateMovingFrameLamm();
  EXPECT_EQ(CurrentLammRunState().iteration, 0);
}

}  // namespace
