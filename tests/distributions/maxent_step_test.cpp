// One trial of the maximum-entropy step, against values worked out
// independently, alone and as one of many trials on the worker pool.
#include "distributions/maxent_step_mt.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/input_events.h"

namespace {

struct Problem {
  double rows[4][4] = {{0, 0, 0, 0}, {0, 2, .5, 0}, {0, .5, 1, .2}, {0, 0, .2, 1.5}};
  double* A[4] = {rows[0], rows[1], rows[2], rows[3]};
  std::vector<double> b{0, 1, .5, .8};
  std::vector<double> cOld{0, .3, .2, .4};
  std::vector<double> direction{0, .1, -.05, .02};

  MTMaxEntmrqstep Trial(float multiplier) const {
    MTMaxEntmrqstep::Inputs in;
    in.b = b;
    in.sumSquares = 2.0;
    in.alpha = 0.1;
    in.m = 0.01;
    MTMaxEntmrqstep t;
    t.Setup(3, A, b.data(), in);
    t.SetStep(multiplier, false, direction.data(), cOld.data(), nullptr);
    return t;
  }
};

TEST(MaxEntStep, ObjectiveGradientAndCurvatureOfAFreeStep) {
  Problem p;
  MTMaxEntmrqstep t = p.Trial(1.0f);
  t.Run();
  ASSERT_FALSE(t.failed);
  EXPECT_DOUBLE_EQ(t.scale, 1.0);
  EXPECT_NEAR(t.objective, 1.415458, 1e-6);
  EXPECT_NEAR(t.entropy, -3.451581, 1e-6);
  const double gradient[] = {0, -0.109444, -0.119403, -0.096883};
  const double diagonal[] = {0, 2.125, 1.333333, 1.619048};
  for (int i = 1; i <= 3; ++i) {
    EXPECT_NEAR(t.delta[i], gradient[i], 1e-6) << i;
    EXPECT_NEAR(t.Curvature(i, i), diagonal[i], 1e-6) << i;
  }
  EXPECT_DOUBLE_EQ(t.Curvature(1, 2), 0.5);
  MTMaxEntmrqstep half = p.Trial(0.5f);
  half.Run();
  EXPECT_NEAR(half.objective, 1.413507, 1e-6);
}

TEST(MaxEntStep, PriorAndADiscreteFirstPoint) {
  // Point 1 is a discrete species: no entropy there; the others take the
  // prior's form, with their curvature term from point 2 on.
  Problem p;
  MTMaxEntmrqstep::Inputs in;
  in.b = p.b;
  in.sumSquares = 2.0;
  in.alpha = 0.1;
  in.priorInUse = true;
  in.prior = {0, 0.2, 0.1, 0.3};
  in.leadingTerm = true;
  MTMaxEntmrqstep t;
  t.Setup(3, p.A, p.b.data(), in);
  t.SetStep(1.0f, false, p.direction.data(), p.cOld.data(), nullptr);
  t.Run();
  EXPECT_NEAR(t.objective, 1.0735138106, 1e-9);
  EXPECT_NEAR(t.entropy, -0.0321381056, 1e-9);
  const double gradient[] = {0, 0.125, 0.0457267446, 0.1231763882};
  for (int i = 1; i <= 3; ++i) EXPECT_NEAR(t.delta[i], gradient[i], 1e-9) << i;
  EXPECT_DOUBLE_EQ(t.Curvature(1, 1), 2.0);
  EXPECT_NEAR(t.Curvature(2, 2), 1.0 + 0.05 / 0.15, 1e-12);
}

TEST(MaxEntStep, StepStopsShortOfTheBound) {
  struct Case {
    double cOld2, delta2;
    bool failed;
    double scale;
  };
  const Case cases[] = {
      {0.01, -0.05, false, 0.2},   // c_2 would become -0.04: the step is cut to 1/5
      {0.0, 0.0, false, 1.0},      // at the bound and not moving: nothing limits the step
      {-0.01, -0.05, true, 1.0},   // below the bound already: no trial vector
  };
  for (const Case& c : cases) {
    Problem p;
    p.cOld[2] = c.cOld2;
    p.direction[2] = c.delta2;
    MTMaxEntmrqstep t = p.Trial(1.0f);
    t.Run();
    EXPECT_EQ(t.failed, c.failed) << c.cOld2;
    if (c.failed) {
      EXPECT_TRUE(std::isinf(t.objective));
      continue;
    }
    EXPECT_NEAR(t.scale, c.scale, 1e-12) << c.cOld2;
    for (int i = 1; i <= 3; ++i) EXPECT_GT(t.c[i], 0.0);
    EXPECT_TRUE(std::isfinite(t.objective));
  }
}

TEST(MaxEntStep, AmplitudesAtTheBoundAreHeldOutOfTheStep) {
  // c_old,2 at 0 with a step towards negative values: row and column 2 leave
  // the step system, whose solution without them becomes the step.
  Problem p;
  p.cOld[2] = 0.0;
  MTMaxEntmrqstep t = p.Trial(1.0f);
  t.Run();
  ASSERT_FALSE(t.failed);
  // A without row/column 2: [[2, 0], [0, 1.5]] d = (1, .8).
  EXPECT_NEAR(t.c[1], 0.3 + 0.5, 1e-12);
  EXPECT_NEAR(t.c[3], 0.4 + 0.8 / 1.5, 1e-12);
  EXPECT_DOUBLE_EQ(t.c[2], 1e-20);
}

TEST(MaxEntStep, TrialsOnThePoolMatchTrialsInSequence) {
  Problem p;
  auto make = [&] {
    std::vector<MTMaxEntmrqstep> trials;
    for (int k = 1; k <= 8; ++k) trials.push_back(p.Trial(0.25f * k));
    return trials;
  };
  std::vector<MTMaxEntmrqstep> sequence = make();
  RunMaxEntTrials(sequence, 1);
  for (int threads : {2, 3, 8}) {
    std::vector<MTMaxEntmrqstep> pool = make();
    RunMaxEntTrials(pool, threads);
    for (size_t k = 0; k < pool.size(); ++k) {
      EXPECT_EQ(pool[k].objective, sequence[k].objective) << threads << " " << k;
      EXPECT_EQ(pool[k].delta, sequence[k].delta);
      EXPECT_EQ(pool[k].c, sequence[k].c);
    }
  }
}

TEST(MaxEntStep, AStopLeavesNoObjective) {
  Problem p;
  MTMaxEntmrqstep t = p.Trial(1.0f);
  platform::StopFlag() = true;
  t.Run();
  platform::StopFlag() = false;
  EXPECT_TRUE(t.stopped);
}

}  // namespace
