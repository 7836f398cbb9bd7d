#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "fit/fit_driver.h"
#include "fit/nelder_mead.h"
#include "fit_test_support.h"
#include "numerics/random.h"

namespace {

struct OptionStore {
  float cone = 0.3f, wiener = -2e-6f, convolution = 0.0005f;
  double bufferD = -5.0, bufferMb = 3.0, relativeConcentration = 0.0;
};
OptionStore gStore;

void ProvideOptions(FitOptionEntries& e) {
  e.entry[kFitOptionConeRadius] = {true, &gStore.cone};
  e.entry[kFitOptionWienerMagnitude] = {true, &gStore.wiener};
  e.entry[kFitOptionConvolutionWidth] = {true, &gStore.convolution};
  FitOptionEntry size;
  size.present = true;
  size.massValue = &gStore.bufferMb;
  size.diffusionValue = &gStore.bufferD;
  e.entry[kFitOptionBufferSize] = size;
  FitOptionEntry conc;
  conc.present = true;
  conc.d = &gStore.relativeConcentration;
  e.entry[kFitOptionRelativeConcentration] = conc;
}

class FitVectorTest : public fittest::FitStateTest {
 protected:
  void SetUp() override {
    FitStateTest::SetUp();
    gStore = OptionStore{};
    gFitEngineState.molarMassParameters = 0;
  }
};

TEST_F(FitVectorTest, CountingChangesNothing) {
  EXPECT_EQ(ParametersToFitVector(0, nullptr), 0);
  SetFitOptionProvider(ProvideOptions);
  F[5] = F[13] = 1;
  P[13] = 9.0f;
  EXPECT_EQ(ParametersToFitVector(0, nullptr), 7);
  EXPECT_EQ(gStore.bufferD, -5.0);
  EXPECT_EQ(gStore.relativeConcentration, 0.0);
  EXPECT_EQ(P[13], 9.0f);
}

TEST_F(FitVectorTest, OptionEntriesComeFirstInTheirOrderThenTheFloatedSlots) {
  SetFitOptionProvider(ProvideOptions);
  F[14] = F[5] = 1;
  P[5] = 4.5f;
  P[14] = 7.25f;
  float v[8] = {};
  ASSERT_EQ(ParametersToFitVector(7, v), 7);
  EXPECT_EQ(v[1], 0.3f);      // cone radius
  EXPECT_EQ(v[2], -2e-6f);    // Wiener magnitude, both present
  EXPECT_EQ(v[3], 0.0005f);   // convolution width
  EXPECT_EQ(v[4], 0.01f);     // negative buffer D packed as 0.01, also in the model
  EXPECT_EQ(gStore.bufferD, 0.01);
  EXPECT_EQ(v[5], 0.0001f);   // relative concentration
  EXPECT_EQ(v[6], 4.5f);
  EXPECT_EQ(v[7], 7.25f);
}

TEST_F(FitVectorTest, EveryWriteBackTakesTheMagnitudeOfANegativeBufferD) {
  SetFitOptionProvider(ProvideOptions);
  float v[6] = {0, 0.3f, 1e-6f, 0.1f, -40.0f, 0.5f};
  FitVectorToParameters(v);
  EXPECT_EQ(gStore.bufferD, 40.0);
  EXPECT_EQ(gStore.bufferMb, 10.0);  // the stored molar mass is raised to 10 as well
  gStore.bufferD = 0;
  UnpackFitVectorForEvaluation(v);
  EXPECT_EQ(gStore.bufferD, 40.0);
  EXPECT_EQ(v[4], 40.0f);  // the vertex holds what was evaluated
  v[4] = -40.0f;
  gStore.bufferD = 0;
  UnpackFitVectorForDisplay(v);
  EXPECT_EQ(gStore.bufferD, 40.0);
  EXPECT_EQ(v[4], -40.0f);  // shown, not evaluated: the vertex keeps its value
}

TEST_F(FitVectorTest, WriteBackClampsByEntry) {
  SetFitOptionProvider(ProvideOptions);
  float v[6] = {0, 2.0f, -1e-6f, 5.0f, 1.0f, -3.0f};
  FitVectorToParameters(v);
  EXPECT_EQ(gStore.cone, 1.0f);
  EXPECT_EQ(gStore.wiener, 0.0f);
  EXPECT_EQ(gStore.convolution, 1.0f);
  EXPECT_EQ(gStore.relativeConcentration, 0.0001);
  EXPECT_EQ(v[2], -1e-6f);
  // The evaluation clamps the Wiener magnitude in the vertex too, and keeps
  // the convolution width at 0.001 or more.
  float w[6] = {0, 2.0f, -1e-6f, 0.0f, 1.0f, 0.5f};
  UnpackFitVectorForEvaluation(w);
  EXPECT_EQ(w[2], 0.0f);
  EXPECT_EQ(gStore.convolution, 0.001f);
  EXPECT_EQ(gStore.cone, 2.0f);  // no clamp of the cone radius here
}

// The vertex takes the values evaluated: a minimiser that stepped beyond a
// limit goes on from the limit (else a restart would compare a clamped
// model with a vertex far outside and never settle).
TEST_F(FitVectorTest, EvaluationClampsMeniscusAndBottomInTheModelAndTheVertex) {
  F[13] = F[14] = F[9] = F[26] = 1;
  gModelSelectorFlags.LammDiscreteModel = 1;
  float v[5] = {0, -0.5f, 5.0f, 9.0f, 1.5f};
  UnpackFitVectorForEvaluation(v);
  EXPECT_EQ(P[9], 0.0f);
  EXPECT_EQ(P[13], 5.8f);
  EXPECT_EQ(gModelParams.meniscus, 5.8f);
  EXPECT_EQ(P[14], 7.3f);
  EXPECT_EQ(gModelParams.bottom, 7.3f);
  EXPECT_EQ(P[26], 1.0f);
  EXPECT_EQ(gModelParams.nonidealTerm[2], 1.0f);
  EXPECT_EQ(v[1], 0.0f);
  EXPECT_EQ(v[2], 5.8f);
  EXPECT_EQ(v[3], 7.3f);
  EXPECT_EQ(v[4], 1.0f);
  // The nonideal components' solver takes the magnitude of D: the model
  // and the vertex hold it, so the D reported is the one used.
  gModelSelectorFlags.LammDiscreteModel = 0;
  gModelSelectorFlags.NonidealMultipleSpeciesModel = 1;
  F[13] = F[14] = F[9] = F[26] = 0;
  F[1] = 1;
  float d[2] = {0, -5.5f};
  UnpackFitVectorForEvaluation(d);
  EXPECT_EQ(P[1], 5.5f);
  EXPECT_EQ(d[1], 5.5f);
}

TEST_F(FitVectorTest, EvaluationKeepsTheCellLength) {
  F[13] = F[14] = 1;
  gModelParams.cellLengthOption = 1;
  float v[3] = {0, 6.0f, 1.2f};
  UnpackFitVectorForEvaluation(v);
  EXPECT_EQ(gModelParams.cellLength, 1.2f);
  EXPECT_FLOAT_EQ(gModelParams.bottom, 7.2f);
  EXPECT_FLOAT_EQ(P[14], 7.2f);
}

TEST_F(FitVectorTest, EvaluationDerivesTheThreeStateRatios) {
  gModelSelectorFlags.MonomerTetramerOctamerModel = 1;
  F[1] = 1;
  float v[2] = {0, 30000.0f};
  UnpackFitVectorForEvaluation(v);
  EXPECT_EQ(P[2], 120000.0f);
  EXPECT_EQ(P[12], 240000.0f);
}

TEST_F(FitVectorTest, InitialSimplexRespectsLimitsAndMovesZeroStarts) {
  SeedGaussRandom(7);
  gModelSelectorFlags.LammDiscreteModel = 1;
  F[5] = F[13] = F[15] = F[26] = F[9] = 1;
  const int n = ParametersToFitVector(0, nullptr);
  ASSERT_EQ(n, 5);
  FloatMat simplex(1, n + 1, 1, n);
  float** p = simplex;
  p[1][1] = 0.0f;    // s starting at 0
  p[1][2] = 0.001f;  // concentration
  p[1][3] = 6.5f;    // meniscus at the upper limit
  p[1][4] = 0.0f;    // baseline
  p[1][5] = 0.99f;   // fraction
  gFitEngineState.meniscusMax = 6.5f;
  MakeInitialSimplex(n, p);
  bool moved = false;
  for (int i = 2; i <= n + 1; ++i) {
    moved = moved || p[i][1] != 0.0f;
    EXPECT_GE(p[i][2], 0.0f);
    EXPECT_LE(p[i][3], 6.5f);
    EXPECT_GE(p[i][3], 5.8f);
    EXPECT_NE(p[i][4], 0.0f);
    EXPECT_LE(p[i][5], 1.0f);
  }
  EXPECT_TRUE(moved);
}

// Held at 0 are exactly the entries that an evaluation of -1 writes back as 0.
TEST_F(FitVectorTest, EntriesHeldAtZeroAreThoseTheEvaluationPutsAtZero) {
  SetFitOptionProvider(ProvideOptions);
  gModelSelectorFlags.LammDiscreteModel = 1;
  gFitEngineState.meniscusMin = 5.8f;
  gFitEngineState.meniscusMax = 6.5f;
  F[1] = F[5] = F[9] = F[13] = F[15] = F[23] = F[24] = F[26] = 1;
  const int n = ParametersToFitVector(0, nullptr);
  ASSERT_EQ(n, 13);
  std::vector<unsigned char> held(n + 1, 7);
  FitVectorEntriesHeldAtZero(n, held.data());
  int count = 0;
  for (int j = 1; j <= n; ++j) {
    SCOPED_TRACE(j);
    std::vector<float> v(n + 1, 0.5f);
    v[5] = 6.0f;  // the relative concentration
    v[10] = 6.0f;  // the meniscus
    v[j] = -1.0f;
    UnpackFitVectorForEvaluation(v.data());
    EXPECT_EQ(held[j], v[j] == 0.0f ? 1 : 0);
    count += held[j];
  }
  // The Wiener magnitude; D and c0 of the discrete model; the zone value and the fraction.
  EXPECT_EQ(count, 5);
}

// A restart's simplex around a point near the clamp of a held quantity: the
// draws keep the spread of the quantity's scale and stay on the allowed side;
// quantities without a scale draw as they would without one.
TEST_F(FitVectorTest, HeldQuantitiesNearTheirClampKeepTheSpreadOfTheirScale) {
  F[5] = F[9] = F[15] = 1;
  const int n = 3;
  const float start[n + 1] = {0, 1e-4f, 1e-4f, 2.0f};
  const float scale[n + 1] = {0, 1.0f, 0.0f, 1.0f};
  FloatMat plain(1, n + 1, 1, n), held(1, n + 1, 1, n);
  for (int j = 1; j <= n; ++j) plain[1][j] = held[1][j] = start[j];
  SeedGaussRandom(3);
  MakeInitialSimplex(n, plain);
  SeedGaussRandom(3);
  MakeInitialSimplex(n, held, scale);
  const float r = gFitEngineState.initialRandomization;
  float widest = 0.0f;
  for (int i = 2; i <= n + 1; ++i) {
    EXPECT_GE(held[i][1], 0.0f);
    // Mirrored at 0: the same draw as far from the clamp as it fell.
    const float step = (plain[i][1] - start[1]) / start[1];  // the same normal draw times r
    EXPECT_NEAR(held[i][1], std::fabs(start[1] + step), 1e-6f);
    widest = std::fmax(widest, std::fabs(held[i][1] - start[1]));
    EXPECT_EQ(held[i][2], plain[i][2]);
    EXPECT_EQ(held[i][3], plain[i][3]);  // above its scale the spread is relative
  }
  EXPECT_GT(widest, 100.0f * r * start[1]);
}

// A restart's simplex of learnt widths: each coordinate drawn with its own
// absolute width and at least half of it away, the meniscus kept within its
// limits, a held quantity with no less than the spread of its scale.
TEST_F(FitVectorTest, LearntSpreadsSetTheWidthOfEachCoordinate) {
  F[5] = F[13] = F[9] = 1;
  gFitEngineState.meniscusMin = 5.99f;
  gFitEngineState.meniscusMax = 6.01f;
  const int n = 3;
  const float start[n + 1] = {0, 4.0f, 1e-4f, 6.0f};  // s, c0 (held at 0), meniscus
  const float spread[n + 1] = {0, 1e-3f, 1e-9f, 0.05f};
  const float scale[n + 1] = {0, 0.0f, 1.0f, 0.0f};
  const float r = gFitEngineState.initialRandomization;
  constexpr int kDraws = 400;
  double sum[n + 1] = {};
  SeedGaussRandom(5);
  for (int d = 0; d < kDraws; ++d) {
    FloatMat p(1, n + 1, 1, n);
    for (int j = 1; j <= n; ++j) p[1][j] = start[j];
    MakeInitialSimplex(n, p, scale, spread);
    for (int i = 2; i <= n + 1; ++i) {
      sum[1] += std::pow(p[i][1] - start[1], 2);
      EXPECT_GE(std::fabs(p[i][1] - start[1]), 0.5f * spread[1] * (1 - 1e-3f));  // never next to the best vertex
      sum[2] += std::pow(p[i][2] - start[2], 2);
      EXPECT_GE(p[i][2], 0.0f);
      EXPECT_GE(p[i][3], 5.99f);
      EXPECT_LE(p[i][3], 6.01f);
    }
  }
  const double draws = kDraws * n;
  EXPECT_NEAR(std::sqrt(sum[1] / draws), spread[1], 0.1 * spread[1]);
  EXPECT_NEAR(std::sqrt(sum[2] / draws), r, 0.1 * r);  // the scale's spread, not the learnt 1e-9
  // The learnt width: twice the extent a run ended with at the tolerance,
  // the size where values would agree to it after a looser end (1e-5 of
  // 4e-3: a twentieth), never below a thousandth of the starting spread.
  EXPECT_FLOAT_EQ(LearntSpread(0.01f, 4.0f, kFitSimplexTolerance), 2.0f * 0.01f);
  EXPECT_FLOAT_EQ(LearntSpread(0.01f, 4.0f, 0.0f), 2.0f * 0.01f);
  EXPECT_NEAR(LearntSpread(0.01f, 4.0f, 4e-3f), 2.0f * 0.01f / 20.0f, 1e-8f);
  EXPECT_FLOAT_EQ(LearntSpread(0.0f, 4.0f, 4e-3f), 1e-3f * r * 4.0f);
  EXPECT_FLOAT_EQ(LearntSpread(0.0f, 0.0f, 0.0f), 1e-3f * r);
  const float y[4] = {0, 1.0f, 1.5f, 0.5f};
  EXPECT_FLOAT_EQ(EndSpread(y, 2), 1.0f);
}

// The s and M of an included discrete species whose amplitude is 0 are
// marked; those of a species with an amplitude, and other entries, are not.
TEST_F(FitVectorTest, AbsentSpeciesAreThoseWithoutAmplitude) {
  gModelSelectorFlags.LammDiscreteModel = 1;
  gModelParams.included[1] = gModelParams.included[2] = 1;
  gModelParams.scaleFactor[1] = 0.0f;
  gModelParams.scaleFactor[2] = 0.4f;
  F[1] = F[2] = F[5] = F[6] = F[13] = 1;
  const int n = ParametersToFitVector(0, nullptr);
  ASSERT_EQ(n, 5);
  unsigned char absent[6] = {};
  FitVectorEntriesOfAbsentSpecies(n, absent);
  const unsigned char expected[6] = {0, 1, 0, 1, 0, 0};  // M1, M2, s1, s2, meniscus
  for (int j = 1; j <= n; ++j) EXPECT_EQ(absent[j], expected[j]) << j;
  gModelSelectorFlags.LammDiscreteModel = 0;
  FitVectorEntriesOfAbsentSpecies(n, absent);
  for (int j = 1; j <= n; ++j) EXPECT_EQ(absent[j], 0) << j;
}

}  // namespace

