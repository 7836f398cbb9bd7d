// Whole-fringe repairs by hand: the side rule against a scan with a known
// jump, the zoomed window at the ends of a scan, and the one-radius repair
// of all scans with steps just above and at half a fringe.
#include "data/fringe_jump_repair.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/scripted_ui.h"
#include "tests/data/repair_scans.h"

namespace {

double Clean(int, double r) { return 3.0 + 2.0 * (r - 6.0) * (r - 6.0); }

class FringeJumpRepair : public ::testing::Test {
 protected:
  FringeJumpRepair() : scope_(ui_) {}
  ~FringeJumpRepair() override { FreeScanData(); }
  platform::ScriptedUserInterface ui_;
  platform::ScopedUI scope_;
};

TEST_F(FringeJumpRepair, SideRuleShiftsOneSideOnlyAndNeverThePointItself) {
  struct Case {
    double side, x;
    double expected;
  };
  const FringeJumpPoint p{6.5, 0, 2.0};
  const Case cases[] = {{-1, 6.4, 2.0}, {-1, 6.5, 0}, {-1, 6.6, 0}, {1, 6.6, 2.0},
                        {1, 6.5, 0},    {1, 6.4, 0},  {0, 6.4, 0},  {0, 6.6, 0}};
  for (const Case& c : cases) {
    FringeJumpPoint q = p;
    q.side = c.side;
    EXPECT_EQ(FringeJumpShiftAt(q, c.x), c.expected) << c.side << " " << c.x;
  }
}

TEST_F(FringeJumpRepair, JumpBelowARadiusIsTakenOutExactly) {
  // +1 fringe below 6.5 cm; a jump point at 6.5, left side, shift -1.
  repair_test::MakeInterferenceSet(1, 6.0, 0.01, 101, [](int i, double r) { return Clean(i, r) + (r < 6.5 ? 1 : 0); });
  ScanSet& s = CurrentScanSet();
  FringeJumpPoint jumps[3];
  jumps[0] = {s.radii[1][51], -1.0, -1.0};
  ApplyFringeJumpPoints(s.radii[1], s.signals[1], 101, jumps, 3);
  for (int j = 1; j <= 101; ++j) {
    const double clean = Clean(1, s.radii[1][j]);
    if (j < 51)
      EXPECT_NEAR(s.signals[1][j], clean, 1e-6) << j;
    else
      EXPECT_NEAR(s.signals[1][j], static_cast<float>(clean), 1e-6) << j;  // untouched
  }
  // Jump points 2 and 3 take part only once placed.
  jumps[1] = {0, 1.0, 5.0};
  ApplyFringeJumpPoints(s.radii[1], s.signals[1], 101, jumps + 1, 2);
  EXPECT_NEAR(s.signals[1][101], Clean(1, s.radii[1][101]), 1e-5);
  jumps[1].radius = s.radii[1][100];
  ApplyFringeJumpPoints(s.radii[1], s.signals[1], 101, jumps + 1, 2);
  EXPECT_NEAR(s.signals[1][101], Clean(1, s.radii[1][101]) + 5, 1e-5);
  EXPECT_NEAR(s.signals[1][100], Clean(1, s.radii[1][100]), 1e-5);
}

TEST_F(FringeJumpRepair, WindowStaysInsideTheScan) {
  struct Case {
    int focus, n, start, points;
  };
  const Case cases[] = {
      {5, 200, 1, 41},     // near the start: from point 1
      {21, 200, 1, 41},    // exactly 20 before
      {100, 200, 80, 41},  // centred
      {190, 200, 160, 41}, // within 20 of the end
      {200, 200, 160, 41}, // the last point: n - 40 .. n
      {10, 30, 1, 30},     // a scan shorter than the window
      {1, 1, 1, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FringeJumpWindowStart(c.focus, c.n), c.start) << c.focus << "/" << c.n;
    EXPECT_EQ(FringeJumpWindowPoints(c.n), c.points);
  }
}

TEST_F(FringeJumpRepair, WindowIsCentredAndCorrectedByTheCurrentJump) {
  repair_test::MakeInterferenceSet(
      1, 6.0, 0.01, 60, [](int, double r) { return r < 6.5 ? 1.0 : 0.0; },
      [](int, double r) { return r < 6.5 ? 1.0 : 0.0; });
  ScanSet& s = CurrentScanSet();
  FringeJumpWindow w;
  const FringeJumpPoint current{s.radii[1][51], -1.0, -1.0};
  ComputeFringeJumpWindow(s.radii[1], s.signals[1], s.residuals[1], 60, 60, current, w);
  ASSERT_EQ(w.start, 20);
  ASSERT_EQ(w.points, 41);
  // Points 20..50 (31 of them) carry the fringe: mean 31/41.
  const double mean = 31.0 / 41.0;
  for (int j = 1; j <= 41; ++j) {
    const int k = 19 + j;
    const double raw = k < 51 ? 1.0 : 0.0;
    EXPECT_FLOAT_EQ(w.radii[j], s.radii[1][k]);
    EXPECT_NEAR(w.centredData[j], raw - mean, 1e-6);
    EXPECT_NEAR(w.centredResiduals[j], raw - mean, 1e-6);
    // Corrected: the step is gone, every point sits at -mean.
    EXPECT_NEAR(w.correctedData[j], -mean, 1e-6) << j;
    EXPECT_NEAR(w.correctedResiduals[j], -mean, 1e-6);
  }
}

class RadiusJump : public FringeJumpRepair {
 protected:
  // Ten scans over 6.00 .. 7.00 cm; residual steps across 6.5 cm.
  void Make() {
    repair_test::MakeInterferenceSet(
        10, 6.0, 0.01, 101, [](int i, double r) { return Clean(i, r) + i; },
        [this](int i, double r) { return r > 6.5 ? steps_[i] : 0.0; });
  }
  double steps_[11] = {0, 0, 0, 0.51, 0, 0.5, 0, -0.7, 0, 1.7, 0};
};

TEST_F(RadiusJump, StepsAboveHalfAFringeMoveOneFringeFromTheRightPoint) {
  Make();
  ScanSet& s = CurrentScanSet();
  RadiusJumpState st;
  ASSERT_TRUE(LocateRadiusJump(s, 6.5, 0.003, st));
  for (int i = 1; i <= 10; ++i) {
    EXPECT_EQ(st.right[i], 52);  // 6.51, first beyond 6.503
    EXPECT_EQ(st.left[i], 50);   // 6.49, last before 6.497
    EXPECT_FLOAT_EQ(st.scanNumber[i], static_cast<float>(i));
  }
  EXPECT_NEAR(st.adjustedRight[9], 0.7f, 1e-6);  // one fringe only, whatever the step
  EXPECT_NEAR(st.adjustedRight[7], 0.3f, 1e-6);
  EXPECT_FLOAT_EQ(st.adjustedRight[5], 0.5f);
  EXPECT_NEAR(st.meanRight, (0.51 + 0.5 - 0.7 + 1.7) / 10, 1e-6);
  EXPECT_EQ(st.meanLeft, 0.0f);

  EXPECT_EQ(ApplyRadiusJump(s, st), 3);
  const double expected[11] = {0, 0, 0, -1, 0, 0, 0, 1, 0, -1, 0};
  for (int i = 1; i <= 10; ++i)
    for (int j = 1; j <= 101; ++j) {
      const double clean = static_cast<float>(Clean(i, s.radii[i][j]) + i);
      EXPECT_NEAR(s.signals[i][j], clean + (j >= 52 ? expected[i] : 0), 1e-5) << i << " " << j;
    }
}

TEST_F(RadiusJump, ArrowStepsStayInsideEveryScan) {
  Make();
  ScanSet& s = CurrentScanSet();
  RadiusJumpState st;
  ASSERT_TRUE(LocateRadiusJump(s, 6.5, 0.003, st));
  EXPECT_TRUE(MoveRadiusJump(s, +1, st));
  EXPECT_EQ(st.right[1], 53);
  EXPECT_EQ(st.left[1], 51);
  // The right index reaches the last point after 48 more; the next is refused.
  for (int k = 0; k < 48; ++k) ASSERT_TRUE(MoveRadiusJump(s, +1, st));
  EXPECT_EQ(st.right[1], 101);
  EXPECT_FALSE(MoveRadiusJump(s, +1, st));
  EXPECT_EQ(st.right[1], 101);
  // Back to the first point on the left side.
  for (int k = 0; k < 98; ++k) ASSERT_TRUE(MoveRadiusJump(s, -1, st));
  EXPECT_EQ(st.left[1], 1);
  EXPECT_FALSE(MoveRadiusJump(s, -1, st));
}

TEST_F(RadiusJump, ScanWithoutAPointBeyondIsLeftOut) {
  Make();
  ScanSet& s = CurrentScanSet();
  s.points[9] = 50;  // ends at 6.49: nothing beyond 6.503
  RadiusJumpState st;
  ASSERT_TRUE(LocateRadiusJump(s, 6.5, 0.003, st));
  EXPECT_EQ(st.right[9], 0);
  EXPECT_EQ(st.left[9], 0);
  EXPECT_NEAR(st.meanRight, (0.51 + 0.5 - 0.7) / 9, 1e-6);
  const float before = s.signals[9][50];
  EXPECT_EQ(ApplyRadiusJump(s, st), 2);
  EXPECT_EQ(s.signals[9][50], before);
  // Its short length does not block the arrows of the others.
  EXPECT_TRUE(MoveRadiusJump(s, +1, st));
}

TEST_F(RadiusJump, NoResidualsNoPosition) {
  repair_test::MakeInterferenceSet(3, 6.0, 0.01, 101, Clean);
  RadiusJumpState st;
  EXPECT_FALSE(LocateRadiusJump(CurrentScanSet(), 6.5, 0.003, st));
  EXPECT_EQ(st.count, 0);
}

}  // namespace
