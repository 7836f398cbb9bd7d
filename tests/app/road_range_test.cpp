#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "app/commands/distribution/integration_range.h"
#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/coefficients/nonideal_coefficients.h"
#include "numerics/arrays.h"

namespace {

// Radii whose apparent s* are 0.5, 1.0, ..., 10 S at w^2t = 1e11.
struct Ladder {
  static constexpr int n = 20;
  static constexpr double m = 6.0, w2t = 1e11;
  std::vector<float> r = std::vector<float>(n + 1);
  int** colours = imatrix(1, n, 1, 3);
  Ladder() {
    for (int i = 1; i <= n; ++i) r[i] = static_cast<float>(m * std::exp(w2t * 0.5 * i * 1e-13 + 1e-7));
  }
  ~Ladder() { free_imatrix(colours, 1, n, 1, 3); }
  std::vector<int> Rgb(int i) const { return {colours[i][1], colours[i][2], colours[i][3]}; }
};

TEST(RoadRange, PointsInsideAreRedAndTheEdgesFadeOverTheBroadening) {
  Ladder l;
  // s1 = 3.2, s2 = 6.2 S, broadening sigma^2 = 0.25 S^2.
  const RangeColouring range = ColourScanByRange(l.r.data(), 1, Ladder::n, Ladder::m, Ladder::w2t, 0.25, 3.2f,
                                                 6.2f, false, l.colours);
  for (int i = 7; i <= 12; ++i) EXPECT_EQ(l.Rgb(i), (std::vector<int>{255, 0, 0})) << i;  // 3.5 .. 6 S
  // 0.3 S beyond the upper end: w = exp(-0.36) of the way to red.
  const double w = std::exp(-0.09 / 0.25);
  EXPECT_EQ(l.Rgb(13), (std::vector<int>{150 + static_cast<int>(std::floor(105 * w)), 150 + static_cast<int>(std::floor(-150 * w)),
                                           150 + static_cast<int>(std::floor(-150 * w))}));
  // Far outside: grey (the floor of a vanishing fade may take one unit off).
  for (int i : {1, 20})
    for (int c : l.Rgb(i)) EXPECT_NEAR(c, 150, 1) << i;
  // The range runs from the last point below with w <= 0.05 (2.5 S: w =
  // exp(-0.49/0.25) = 0.14 is above, 2.0 S: exp(-1.44/0.25) below) to the
  // last point above with w >= 0.05 (7.0 S: exp(-0.64/0.25) = 0.077, 7.5 S:
  // 0.001).
  EXPECT_EQ(range.first, 4);
  EXPECT_EQ(range.last, 14);
}

TEST(RoadRange, ARangeReachingTheLastFitPointEndsThereUnlessErrorsArePropagated) {
  Ladder l;
  // Upper end 9.9 S: the last point (10 S) lies just beyond with w close to 1.
  RangeColouring range =
      ColourScanByRange(l.r.data(), 1, Ladder::n, Ladder::m, Ladder::w2t, 0.25, 3.2f, 9.9f, false, l.colours);
  EXPECT_EQ(range.last, Ladder::n);
  range = ColourScanByRange(l.r.data(), 1, Ladder::n, Ladder::m, Ladder::w2t, 0.25, 3.2f, 9.9f, true, l.colours);
  EXPECT_EQ(range.first, -1);
  EXPECT_EQ(range.last, -1);
}

}  // namespace

TEST(RoadRange, NonidealModelsMoveThePaintedLimitsWithTheConcentration) {
  ModelSelectorFlags& f = gModelSelectorFlags;
  ScanSet& s = CurrentScanSet();
  const double c0Before = s.referenceTotalConcentration;
  const float ksBefore = gModelParameterVector.P[20];
  gModelParameterVector.P[20] = -2.0f;  // ks = 0.01 per signal unit
  // (nonideal c(s), c0, total signal T) -> limit 5 S moved to 5 (1 - T/c0 10^k)
  const struct {
    bool nonideal;
    double c0;
    float total, moved;
  } cases[] = {{true, 2.0, 4.0f, 5.0f * (1 - 2 * 0.01f)},
               {true, 1.0, 10.0f, 5.0f * (1 - 10 * 0.01f)},
               {true, 0.0, 4.0f, 5.0f},    // no reference concentration
               {false, 2.0, 4.0f, 5.0f}};  // ideal models keep their limits
  for (const auto& c : cases) {
    f.NonidealCSModel = c.nonideal;
    s.referenceTotalConcentration = c.c0;
    EXPECT_NEAR(ConcentrationMovedLimit(5.0f, c.total), c.moved, 1e-5) << c.nonideal << " " << c.c0;
  }
  f.NonidealCSModel = 0;
  s.referenceTotalConcentration = c0Before;
  gModelParameterVector.P[20] = ksBefore;
}

TEST(RoadRange, TheHardSphereVariantMovesEachLimitByTheMaterialBelowIt) {
  ModelSelectorFlags& f = gModelSelectorFlags;
  ContiSettings& cs = Conti();
  ScanSet& s = CurrentScanSet();
  // The records it reads start from their defaults, whatever ran before.
  const ModelSelectorFlags savedFlags = f;
  const ContiSettings saved = cs;
  const SolutionConditions savedConditions = gSolutionConditions;
  const unsigned char savedSticky = StickyHardSphereFlag;
  const DataTypeFlags savedTypes = CurrentDataTypeFlags();
  CurrentDataTypeFlags() = DataTypeFlags{};  // light-scattering data integrate from the first point
  f = ModelSelectorFlags{};
  StickyHardSphereFlag = 0;
  cs = ContiSettings{};
  gSolutionConditions = SolutionConditions{};
  const double c0Before = s.referenceTotalConcentration;
  const float p20 = gModelParameterVector.P[20], p21 = gModelParameterVector.P[21];
  // A flat c(s) of 0.2 per S from 0.5 to 10 S, after the separate first point.
  std::vector<float> sv(22, 0.0f), c(22, 0.0f);
  for (int i = 2; i <= 21; ++i) {
    sv[i] = 0.5f * (i - 1);
    c[i] = 0.2f;
  }
  cs.gridSize = 21;
  cs.sValues = sv.data();
  cs.distribution = c.data();
  cs.ffValue = 1.2f;
  f.NonidealCSModel = f.NonidealCSVariant = 1;
  s.referenceTotalConcentration = 1.0;
  gModelParameterVector.P[20] = 1.0f;   // volume correction factor
  gModelParameterVector.P[21] = -1.0f;  // plain hard spheres
  const double f3 = ConcentrationMovedLimit(3.0f, 2.0f) / 3.0, f9 = ConcentrationMovedLimit(9.0f, 2.0f) / 9.0;
  // Slower with concentration, and slower still for the limit with more material below it.
  EXPECT_LT(f3, 1.0);
  EXPECT_GT(f3, 0.9);
  EXPECT_LT(f9, f3);
  // No material below the lowest limit: it stays.
  EXPECT_FLOAT_EQ(ConcentrationMovedLimit(0.2f, 2.0f), 0.2f);
  f = savedFlags;
  s.referenceTotalConcentration = c0Before;
  gModelParameterVector.P[20] = p20;
  gModelParameterVector.P[21] = p21;
  cs = saved;
  gSolutionConditions = savedConditions;
  StickyHardSphereFlag = savedSticky;
  CurrentDataTypeFlags() = savedTypes;
}
