// The rotor-speed conversions every layer shares, against 2 pi rpm / 60
// worked out in extended precision.
#include <gtest/gtest.h>

#include <cmath>

#include "numerics/constants.h"

namespace {

static_assert(Omega2(0.0) == 0.0);

TEST(RotorSpeed, OmegaSquaredMatchesTwoPiRpmOverSixtySquared) {
  const long double pi = 3.141592653589793238462643383279502884L;
  for (double rpm : {1.0, 1000.0, 3000.0, 42000.0, 50000.0, 60000.0}) {
    const long double w = 2.0L * pi * rpm / 60.0L;
    EXPECT_NEAR(RpmToOmega(rpm) / static_cast<double>(w), 1.0, 1e-15) << rpm;
    EXPECT_NEAR(Omega2(rpm) / static_cast<double>(w * w), 1.0, 2e-15) << rpm;
    // s in Svedberg times this is s w^2 in 1/s.
    EXPECT_NEAR(SvedbergOmega2(rpm) / static_cast<double>(w * w * 1e-13L), 1.0, 3e-15) << rpm;
    const double w64 = RpmToOmega(rpm);
    EXPECT_EQ(Omega2(rpm), w64 * w64) << "the square of the one angular velocity";
  }
  // One revolution per second is 2 pi rad/s.
  EXPECT_DOUBLE_EQ(RpmToOmega(60.0), 2.0 * kPi);
}

}  // namespace
