#include <gtest/gtest.h>

#include <cmath>

#include "lamm/coefficients/nonideal_coefficients.h"

namespace {

struct StickyOn {
  explicit StickyOn(bool on) { StickyHardSphereFlag = on ? 1 : 0; }
  ~StickyOn() { StickyHardSphereFlag = 0; }
};

// Values recomputed independently (double precision) from the closed forms:
// s0 4.3 S, D0 6.0 (read as 6e-7 cm^2/s), vbar 0.73, rho 0.99823, 20 degC.
TEST(NonidealCoefficients, HydrodynamicConversionsOfAGlobularProtein) {
  const float M = MolarMassFromSAndD(4.3f, 6.0f, 0.73f * 0.99823f, 20.0f);
  EXPECT_NEAR(M, 64388.0, 64388.0 * 2e-5);
  EXPECT_NEAR(FrictionalRatioFromMassAndS(M, 4.3f, 0.73f, 0.99823f, 1.0f), 1.3472, 2e-4);
  // Kelvin and Celsius give the same mass; D above 0.1 is in 1e-7 cm^2/s.
  EXPECT_FLOAT_EQ(MolarMassFromSAndD(4.3f, 6.0f, 0.73f, 293.15f), MolarMassFromSAndD(4.3f, 6.0f, 0.73f, 20.0f));
  EXPECT_FLOAT_EQ(MolarMassFromSAndD(4.3f, 0.2f, 0.73f, 20.0f), MassFromSD(4.3f, 2e-8f, 20.0f, 0.73f));
  EXPECT_FLOAT_EQ(MolarMassFromSAndD(4.3f, 0.1f, 0.73f, 20.0f), MassFromSD(4.3f, 0.1f, 20.0f, 0.73f));
  EXPECT_EQ(MassFromSD(4.3f, 0.0f, 20.0f, 0.73f), 0.0f);
  EXPECT_EQ(FrictionalRatioFromMassAndS(M, 4.3f, 0.73f, 0.99823f, 0.0f), 0.0f);  // no sphere
}

TEST(NonidealCoefficients, HardSphereFactorsAt50MgPerMl) {
  const double phi = VolumeFractionFromSD(50.0f, 1.0f, 4.3f, 6.0f, 0.73f, 0.99823f, 20.0f, 1.0f);
  EXPECT_NEAR(phi, 0.089242, 2e-6);
  const double fs = ConcentrationFactorS(50.0f, 1.0f, 0.0f, 4.3f, 6.0f, 0.73f, 0.99823f, 20.0f, 1.0f);
  const double fd = ConcentrationFactorD(50.0f, 1.0f, 0.0f, 4.3f, 6.0f, 0.73f, 0.99823f, 20.0f, 1.0f);
  EXPECT_NEAR(fs, 0.557461, 2e-6);
  EXPECT_NEAR(fd, 1.125253, 2e-6);
  double s = -7, D = -7;
  EXPECT_NEAR(ConcentrationFactorsSD(50.0f, 1.0f, 0.0f, 4.3f, 6e-7f, 0.73f, 0.99823f, 20.0f, 1.0f, &s, &D), phi,
              1e-6);
  EXPECT_NEAR(s, 4.3 * fs, 1e-5);
  EXPECT_NEAR(D, 6e-7 * fd, 1e-12);
  // Below zero nothing is touched; at zero both factors are exactly 1.
  s = D = -7;
  EXPECT_EQ(ConcentrationFactorsSD(-0.001f, 1.0f, 0.0f, 4.3f, 6.0f, 0.73f, 1.0f, 20.0f, 1.0f, &s, &D), 1.0);
  EXPECT_EQ(s, -7);
  EXPECT_EQ(D, -7);
  for (float c : {-0.001f, 0.0f}) {
    EXPECT_EQ(ConcentrationFactorS(c, 1.0f, 0.0f, 4.3f, 6.0f, 0.73f, 1.0f, 20.0f, 1.0f), 1.0);
    EXPECT_EQ(ConcentrationFactorD(c, 1.0f, 0.0f, 4.3f, 6.0f, 0.73f, 1.0f, 20.0f, 1.0f), 1.0);
  }
}

TEST(NonidealCoefficients, DifferencesOverTheNextMgPerMl) {
  EXPECT_NEAR(ConcentrationFactorSDifference(1, 1, 1, 1.2f, 0.73f), 8.1586e-3, 2e-7);
  EXPECT_NEAR(ConcentrationFactorDDifference(1, 1, 1, 1.2f, 0.73f), 1.8268e-3, 2e-7);
  EXPECT_FLOAT_EQ(ConcentrationFactorSDifference(1, 1, 1, 1.2f, 0.73f),
                  static_cast<float>(ConcentrationFactorSSimple(1, 1, 1, 1.2f, 0.73f) -
                                     ConcentrationFactorSSimple(2, 1, 1, 1.2f, 0.73f)));
}

// Attraction must lower D below the hard-sphere value: S(0) from the smaller
// root of the Baxter quadratic.
TEST(NonidealCoefficients, StickySpheresDiffuseSlowerThanHardSpheres) {
  StickyOn on(true);
  EXPECT_NEAR(BaxterStickinessRoot(0.0892f, 0.2f), 4.80176, 2e-4);
  EXPECT_NEAR(StickySphereStructureFactor(0.0892f, 0.2f), 1.10744, 2e-4);
  EXPECT_NEAR(StickySphereDiffusionFactor(0.0892f, 0.2f), 0.73380, 2e-4);
  EXPECT_LT(StickySphereDiffusionFactor(0.0892f, 0.2f), HardSphereDiffusionFactor(0.0892f));
  EXPECT_NEAR(HardSphereCorrectionFactor(0.2f), 1 - 1 / 0.8, 1e-7);
  // Weak stickiness approaches the hard spheres.
  EXPECT_NEAR(StickySphereDiffusionFactor(0.05f, 1e6f), HardSphereDiffusionFactor(0.05f), 1e-5);
}

struct OutOfRangeCase {
  const char* what;
  bool sticky;
  float phi, tau;
  double fs, fd;  // expected s and D factors
};

TEST(NonidealCoefficients, OutOfRangeInputsGiveTheirFixedValues) {
  const OutOfRangeCase cases[] = {
      {"phi exactly 1: both factors vanish", false, 1.0f, 0, 0.0, 0.0},
      {"sticky at phi exactly 1", true, 1.0f, 0.2f, 0.0, 0.0},
      {"phi above 1, plain", false, 1.0001f, 0, 1.0, -1.0},
      {"phi above 1, sticky", true, 1.0001f, 0.2f, -1.0, -1.0},
      {"sticky with tau 0", true, 0.05f, 0.0f, -1.0, -1.0},
      {"sticky with no real root", true, 0.3f, 0.01f, -99, -1.0},
      {"phi 0", false, 0.0f, 0, 1.0, 1.0},
  };
  for (const auto& c : cases) {
    StickyOn on(c.sticky);
    const double fs = c.sticky ? StickySphereSedimentationFactor(c.phi, c.tau) : HardSphereSedimentationFactor(c.phi);
    const double fd = c.sticky ? StickySphereDiffusionFactor(c.phi, c.tau) : HardSphereDiffusionFactor(c.phi);
    if (c.fs != -99) {
      EXPECT_EQ(fs, c.fs) << c.what;
    }
    EXPECT_EQ(fd, c.fd) << c.what;
    EXPECT_EQ(IsUsableConcentrationFactor(fd), c.fd >= 0) << c.what;
  }
  StickyOn on(true);
  EXPECT_EQ(HardSphereCorrectionFactor(0.0f), 1.0);
  EXPECT_TRUE(std::isnan(BaxterStickinessRoot(0.3f, 0.01f)));
  EXPECT_FALSE(IsUsableConcentrationFactor(std::nan("")));
}

}  // namespace
