#include <gtest/gtest.h>

#include <cmath>

#include "lamm/coefficients/association_models.h"

namespace {

constexpr float s1 = 4, s2 = 6, s3 = 9, D1 = 6e-7f, D2 = 4.5e-7f, D3 = 3.5e-7f;

TEST(AssociationModels, CubicRootSolvesTheTrimerBalanceOverTwelveDecades) {
  for (double K = 1e-6; K <= 1.01e6; K *= 10)
    for (double c = 1e-6; c <= 1.01e6; c *= 10) {
      const double t = AssociationCubicRoot(c, K);
      EXPECT_LE(std::fabs(K * t * t * t + t - c) / c, 1e-7) << "K " << K << " c " << c;
    }
  EXPECT_EQ(AssociationCubicRoot(0, 1), 0);
}

TEST(AssociationModels, ClosedFormsAtKnownMonomerFractions) {
  double s, D;
  DimerAverages(2, 1, s1, s2, D1, D2, s, D);  // m = 1
  EXPECT_NEAR(s, (s1 + s2) / 2, 1e-6);
  EXPECT_NEAR(D, (D1 + 2 * D2) / 3, 1e-12);
  TrimerAverages(2, 1, s1, s2, D1, D2, s, D);  // t = 1
  EXPECT_NEAR(s, (s1 + s2) / 2, 1e-6);
  EXPECT_NEAR(D, (D1 + 3 * D2) / 4, 1e-12);
  for (auto f : {DimerAverages, TrimerAverages}) {
    f(0, 1, s1, s2, D1, D2, s, D);
    EXPECT_FLOAT_EQ(s, s1);
    EXPECT_FLOAT_EQ(D, D1);
  }
}

TEST(AssociationModels, ThreeSpeciesSchemesAtUnitMonomer) {
  ThreeSpeciesScheme p{false, 1, 1, s1, s2, s3, D1, D2, D3};  // monomer-dimer-tetramer
  EXPECT_DOUBLE_EQ(AssociationTotalFromMonomer(p, 1), 3);
  EXPECT_NEAR(AssociationWeightedS(p, 1), (s1 + s2 + s3) / 3, 1e-6);
  EXPECT_NEAR(AssociationWeightedD(p, 1), (D1 + 2 * D2 + 4 * D3) / 7, 1e-12);
  p.tetramerOctamer = true;
  EXPECT_DOUBLE_EQ(AssociationTotalFromMonomer(p, 1), 3);
  EXPECT_NEAR(AssociationWeightedD(p, 1), (D1 + 4 * D2 + 8 * D3) / 13, 1e-12);
}

TEST(AssociationModels, TableLookupInterpolatesAndHoldsItsEnds) {
  const ThreeSpeciesScheme p{false, 1, 1, s1, s2, s3, D1, D2, D3};
  CAssociationTable table;
  ASSERT_TRUE(table.Build(p, 1e-3, 1e2, 2000, NonidealityModel{}));
  double s, D;
  table.Lookup(0, s, D);
  EXPECT_DOUBLE_EQ(s, AssociationWeightedS(p, 1e-3));
  table.Lookup(1e12, s, D);
  EXPECT_DOUBLE_EQ(s, AssociationWeightedS(p, 1e2));
  // The last interval interpolates like every other one.
  CAssociationTable two;
  ASSERT_TRUE(two.Build(p, 1.0, 2.0, 2, NonidealityModel{}));
  const double mid = 0.5 * (AssociationTotalFromMonomer(p, 1.0) + AssociationTotalFromMonomer(p, 2.0));
  two.Lookup(mid, s, D);
  EXPECT_NEAR(s, 0.5 * (AssociationWeightedS(p, 1.0) + AssociationWeightedS(p, 2.0)), 1e-12);
  // Between rows, close to the closed form at the monomer of that total;
  // increasing and then decreasing totals both find their rows.
  for (double x : {0.01, 0.3, 1.0, 7.0, 2.0, 0.05}) {
    table.Lookup(AssociationTotalFromMonomer(p, x), s, D);
    EXPECT_NEAR(s, AssociationWeightedS(p, x), 1e-4) << x;
    EXPECT_NEAR(D, AssociationWeightedD(p, x), 1e-11) << x;
  }
}

TEST(AssociationModels, LinearNonidealityStopsSedimentationAndRefusesNegativeDiffusion) {
  NonidealityModel m;
  m.on = true;
  m.ks = 0.1;
  m.kd = -0.05;
  double fs, fd;
  ASSERT_TRUE(m.Factors(5, 1, 1, fs, fd));
  EXPECT_NEAR(fs, 0.5, 1e-7);
  EXPECT_NEAR(fd, 0.75, 1e-7);
  ASSERT_TRUE(m.Factors(15, 1, 1, fs, fd));  // ks c > 1
  EXPECT_EQ(fs, 0.0);
  EXPECT_FALSE(m.Factors(20, 1, 1, fs, fd));  // 1 + kd c = 0
}

}  // namespace
