// The solvers' stop at equilibrium: eleven quiet steps in a row.
#include "lamm/quiet_steps.h"

#include <gtest/gtest.h>

#include <string>

#include "numerics/constants.h"

namespace {

TEST(QuietSteps, StopsOnTheEleventhQuietStepInARow) {
  // q: quiet, n: not; the step (1-based) on which the counter first says stop.
  struct Case {
    std::string steps;
    int stopAt;
  } cases[] = {
      {std::string(11, 'q'), 11},
      {std::string(10, 'q'), 0},
      {std::string(10, 'q') + "n" + std::string(10, 'q'), 0},
      {std::string(10, 'q') + "n" + std::string(11, 'q'), 22},
      {"n" + std::string(12, 'q'), 12},
  };
  for (const Case& c : cases) {
    CQuietSteps quiet;
    int stop = 0;
    for (size_t i = 0; i < c.steps.size(); ++i)
      if (quiet.Count(c.steps[i] == 'q') && stop == 0) stop = static_cast<int>(i) + 1;
    EXPECT_EQ(stop, c.stopAt) << c.steps;
  }
}

TEST(QuietSteps, AQuietStepIsLongSlowAndCannotMoveTheProfileBeforeTheLastScan) {
  struct Case {
    double dt, rate, tolerance, remaining;
    bool quiet;
  } cases[] = {
      {30, 1e-9, 1e-7, 1000, true},
      {29.9, 1e-9, 1e-7, 1000, false},     // too short a step
      {60, 2e-7, 1e-7, 0, false},          // changing too fast
      {60, 1e-8, 1e-7, 1e4, false},        // would still move 1e-4 before the last scan
      {60, 1e-8, 1e-7, 999, true},         // 9.99e-6: just below what may still change
      {60, 0, 1e-7, 1e12, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsQuietStep(c.dt, c.rate, c.tolerance, c.remaining), c.quiet)
        << c.dt << " " << c.rate << " " << c.remaining;
}

TEST(RotorConstants, SectorFactorAndSedimentationRateFromFirstPrinciples) {
  // 1.2 cm path times a 2 degree sector; w = 2 pi rpm / 60.
  EXPECT_NEAR(kSectorFactor, 1.2 * 2.0 / 360.0 * 6.283185307179586, 1e-16);
  EXPECT_EQ(kPiF, 3.1415927f);
  const double w = 50000 * 6.283185307179586 / 60;
  EXPECT_NEAR(SvedbergOmega2(50000), w * w * 1e-13, 1e-15 * w * w * 1e-13);
  EXPECT_EQ(SvedbergOmega2(0), 0.0);
}

}  // namespace
