// The release speed of a drag and the slide computed from it.
#include "app/plot_input/mouse_flick.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "app/plot_input/marker_moves.h"
#include "platform/clock.h"

namespace {

TEST(ReleaseSpeed, SlopeOfTheFittedParabolaAtTheLastSample) {
  struct Case {
    const char* name;
    std::vector<double> t, x;
    double speed, tolerance;
  };
  std::vector<double> t8, steady, curved;
  for (int k = 0; k < 8; ++k) {
    const double s = 0.01 * k;
    t8.push_back(10.0 * k);
    steady.push_back(100 + 5 * k);  // 500 px/s in whole pixels
    curved.push_back(100 + 500 * s + 2000 * s * s);
  }
  std::vector<double> late = t8;
  late.back() = late[6] + 310;
  const Case cases[] = {
      {"steady", t8, steady, 500, 0.5},
      {"curved", t8, curved, 780, 1e-6},  // 500 + 2 * 2000 * 0.07
      {"two samples", {0, 20}, {40, 30}, -500, 1e-9},
      {"one sample", {0}, {40}, 0, 0},
      {"equal times", {5, 5, 5}, {1, 2, 3}, 0, 0},
      {"pointer stopped", late, steady, 0, 0},
      {"two distinct times", {0, 0, 10, 10}, {0, 2, 5, 7}, 500, 1e-9},
  };
  for (const Case& c : cases) EXPECT_NEAR(ReleaseSpeed(c.t, c.x), c.speed, c.tolerance) << c.name;
}

class MouseTrack : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetClock(&clock_);
    MouseSliding() = MouseSlidingFlags{};
    MouseSlide() = MouseSlideState{};
  }
  void TearDown() override {
    platform::SetClock(nullptr);
    MouseSliding() = MouseSlidingFlags{};
    MouseSlide() = MouseSlideState{};
  }
  void Drag(int from, int step, int samples) {
    MouseTrackReset();
    for (int k = 0; k < samples; ++k) {
      MouseTrackAdd(from + step * k, 300);
      clock_.SleepMs(10);
    }
  }
  platform::ManualClock clock_;
};

TEST_F(MouseTrack, KeepsTheLastEightSamplesOnTheProgramClock) {
  MouseSliding().slidingOff = 0;
  MouseTrackReset();
  MouseTrackAdd(5000, 300);  // pushed out by the eight that follow
  clock_.SleepMs(10);
  for (int k = 0; k < 8; ++k) {
    MouseTrackAdd(100 + 5 * k, 300);
    clock_.SleepMs(10);
  }
  EXPECT_EQ(MouseSlide().count, 8);
  EXPECT_EQ(MouseSlide().x[0], 100);
  EXPECT_NEAR(MouseTrackVelocity(), 500, 0.5);
  EXPECT_NEAR(MouseSlide().speed, 500, 0.5);
  Drag(100, 5, 1);
  EXPECT_EQ(MouseTrackVelocity(), 0);
}

TEST_F(MouseTrack, DoesNothingWhileSlidingIsOff) {
  Drag(100, 5, 8);
  EXPECT_EQ(MouseSlide().count, 0);
  EXPECT_EQ(MouseTrackVelocity(), 0);
  std::vector<int> pos{1};
  std::vector<double> dt{1};
  EXPECT_FALSE(MouseFlickContinue(0, 1000, 135, pos, dt));
  EXPECT_TRUE(pos.empty() && dt.empty());
}

TEST_F(MouseTrack, AReleasedDragSlidesOnAndSlowsDown) {
  MouseSliding().slidingOff = 0;
  MouseSliding().bouncing = 0;
  Drag(100, 5, 8);
  std::vector<int> pos;
  std::vector<double> dt;
  ASSERT_TRUE(MouseFlickContinue(0, 1000, 135, pos, dt));
  EXPECT_EQ(pos.front(), 135);
  EXPECT_EQ(dt.front(), 0);
  // About v^2 / 2|a| = 62 px, plus the whole-pixel rounding of each step.
  EXPECT_GT(pos.back(), 135 + 62);
  EXPECT_LT(pos.back(), 135 + 62 + 60);
  // After a pause the marker stays where it was dropped.
  clock_.SleepMs(400);
  MouseTrackAdd(135, 300);
  EXPECT_FALSE(MouseFlickContinue(0, 1000, 135, pos, dt));
}

// The integer steps of a free slide written out independently: each 5 ms
// step moves ceil(v dt) pixels and takes 10 px/s off the speed.
int FreeSlideEnd(int start, int v) {
  for (; v > 0; v -= 10) start += (v + 199) / 200;
  return start;
}

TEST(SlideMotion, FreeSlideEndsWhereTheWholePixelStepsAddUpTo) {
  const MouseSlideState s;
  std::vector<int> pos;
  std::vector<double> dt;
  ASSERT_EQ(FreeSlideEnd(100, 1000), 400);  // v^2 / 2|a| alone would give 350
  for (bool bouncing : {false, true}) {
    ASSERT_TRUE(SlideMotion(1000, -100000, 100000, 100, bouncing, s, pos, dt));
    EXPECT_EQ(pos.back(), 400);
    ASSERT_EQ(pos.size(), dt.size());
    for (std::size_t k = 1; k < pos.size(); ++k) {
      EXPECT_GE(pos[k], pos[k - 1]);
      EXPECT_NEAR(dt[k], 0.005, 1e-9);
    }
    EXPECT_LE(pos.size(), 2 * 1000 / (2000 * 0.005) + 1);
    ASSERT_TRUE(SlideMotion(-1000, -100000, 100000, 100, bouncing, s, pos, dt));
    EXPECT_EQ(pos.back(), -200);
  }
}

TEST(SlideMotion, AtALimit) {
  const MouseSlideState s;
  std::vector<int> pos;
  std::vector<double> dt;
  struct Case {
    double v;
    int start;
    bool bouncing;
  };
  for (const Case& c : {Case{3000, 100, true}, Case{-3000, 250, true}, Case{3000, 100, false},
                        Case{-3000, 250, false}, Case{20000, 150, true}, Case{20000, 150, false}}) {
    ASSERT_TRUE(SlideMotion(c.v, 0, 300, c.start, c.bouncing, s, pos, dt)) << c.v;
    bool touched = false;
    for (int p : pos) {
      EXPECT_GE(p, 0) << c.v;
      EXPECT_LE(p, 300) << c.v;
      touched = touched || p == (c.v > 0 ? 300 : 0);
    }
    EXPECT_TRUE(touched) << c.v;
    // With bouncing on the marker settles on the limit it hit; off, it
    // rebounds with 70 % of its speed and stops inside.
    if (c.bouncing) { EXPECT_EQ(pos.back(), c.v > 0 ? 300 : 0) << c.v; }
    else EXPECT_NE(pos.back(), c.v > 0 ? 300 : 0) << c.v;
  }
}

TEST(SlideMotion, NoMotionFromBadInput) {
  const MouseSlideState s;
  std::vector<int> pos{7};
  std::vector<double> dt{7};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double v;
    int lower, upper;
  };
  for (const Case& c : {Case{0, 0, 300}, Case{nan, 0, 300}, Case{inf, 0, 300}, Case{-inf, 0, 300},
                        Case{1000, 300, 0}}) {
    EXPECT_FALSE(SlideMotion(c.v, c.lower, c.upper, 150, true, s, pos, dt)) << c.v;
    EXPECT_TRUE(pos.empty() && dt.empty()) << c.v;
  }
  // A finite but absurd speed is cut at 20,000 samples.
  ASSERT_TRUE(SlideMotion(1e12, -2000000000, 2000000000, 0, false, s, pos, dt));
  EXPECT_LE(pos.size(), 20000u);
  // Limits further apart than an int spans: every position stays between them.
  for (const double v : {1e12, -1e12, 3.5e9, -3.5e9}) {
    ASSERT_TRUE(SlideMotion(v, -2000000000, 2000000000, 1999999999, true, s, pos, dt)) << v;
    for (const int p : pos) ASSERT_TRUE(p >= -2000000000 && p <= 2000000000) << v << ": " << p;
  }
}

}  // namespace
