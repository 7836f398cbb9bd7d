#include <gtest/gtest.h>

#include <cmath>

#include "distributions/prior_knowledge.h"
#include "distributions/conti_context.h"
#include "distributions/conti_settings.h"
#include "distributions/max_entropy.h"
#include "distributions/normal_equations.h"
#include "distributions/nnls.h"
#include "distributions/regularization_matrix.h"
#include "distributions/regularization_scaling.h"
#include "numerics/statistics.h"
#include "platform/scripted_ui.h"
#include "test_support.h"

namespace {

// H = regularised - normal for alpha = 1 on a zero normal matrix.
std::vector<std::vector<double>> Operator(const RegularizationShape& s) {
  const int total = s.twoDimensional ? s.m * s.ffCount : s.m;
  AllocNormalEquationBlock(total, 1, 1);
  AddRegularizationMatrix(NeqBlock(), s, 1.0);
  std::vector<std::vector<double>> h(total + 1, std::vector<double>(total + 1));
  for (int i = 1; i <= total; ++i)
    for (int j = 1; j <= total; ++j) h[i][j] = NeqBlock().regularizedMatrix[i][j];
  return h;
}

}  // namespace

TEST(RegularizationMatrix, AnnihilatesConstantsAndLinesAndIsSymmetric) {
  for (int m : {3, 4, 5, 6, 17, 100}) {
    RegularizationShape s;
    s.m = m;
    auto h = Operator(s);
    double trace = 0.0;
    for (int i = 1; i <= m; ++i) {
      double ones = 0.0, line = 0.0;
      for (int j = 1; j <= m; ++j) {
        ones += h[i][j];
        line += h[i][j] * j;
        EXPECT_EQ(h[i][j], h[j][i]);
      }
      EXPECT_EQ(ones, 0.0) << "m " << m;
      EXPECT_EQ(line, 0.0) << "m " << m;
      trace += h[i][i];
    }
    EXPECT_EQ(trace, 6.0 * m - 12.0);
  }
}

TEST(RegularizationMatrix, SixPointOperatorRows) {
  RegularizationShape s;
  s.m = 6;
  auto h = Operator(s);
  const double expect[7][7] = {{0},
                               {0, 1, -2, 1, 0, 0, 0},
                               {0, -2, 5, -4, 1, 0, 0},
                               {0, 1, -4, 6, -4, 1, 0},
                               {0, 0, 1, -4, 6, -4, 1},
                               {0, 0, 0, 1, -4, 5, -2},
                               {0, 0, 0, 0, 1, -2, 1}};
  for (int i = 1; i <= 6; ++i)
    for (int j = 1; j <= 6; ++j) EXPECT_EQ(h[i][j], expect[i][j]) << i << "," << j;
}

TEST(RegularizationMatrix, ZeroAlphaCopiesAndFirstComponentStaysUnregularised) {
  conti_test::DenseProblem p = conti_test::RandomProblem(30, 8, 5);
  conti_test::LoadIntoBlock(p);
  NormalEquationBlock& b = NeqBlock();
  RegularizationShape s;
  s.m = 8;
  s.firstAmplitudeSeparate = true;
  AddRegularizationMatrix(b, s, 0.0);
  for (int i = 1; i <= 8; ++i)
    for (int j = 1; j <= 8; ++j) EXPECT_EQ(b.regularizedMatrix[i][j], b.normalMatrix[i][j]);
  AddRegularizationMatrix(b, s, 3.0);
  for (int j = 1; j <= 8; ++j) {
    EXPECT_EQ(b.regularizedMatrix[1][j], b.normalMatrix[1][j]);
    EXPECT_EQ(b.regularizedMatrix[j][1], b.normalMatrix[j][1]);
  }
  EXPECT_DOUBLE_EQ(b.regularizedMatrix[2][2] - b.normalMatrix[2][2], 3.0);
  EXPECT_DOUBLE_EQ(b.regularizedMatrix[5][5] - b.normalMatrix[5][5], 18.0);
}

TEST(RegularizationMatrix, PriorWeightsDivideTheOperator) {
  const int m = 7;
  std::vector<double> ones(m + 1, 1.0), prior(m + 1);
  for (int i = 1; i <= m; ++i) prior[i] = 0.5 + 0.25 * i;
  RegularizationShape plain;
  plain.m = m;
  auto h0 = Operator(plain);
  RegularizationShape unit = plain;
  unit.prior = ones.data();
  auto h1 = Operator(unit);
  RegularizationShape weighted = plain;
  weighted.prior = prior.data();
  auto hp = Operator(weighted);
  for (int i = 1; i <= m; ++i)
    for (int j = 1; j <= m; ++j) {
      EXPECT_EQ(h1[i][j], h0[i][j]);
      EXPECT_NEAR(hp[i][j], h0[i][j] / (prior[i] * prior[j]), 1e-14);
    }
}

TEST(RegularizationMatrix, NonPositivePriorValuesAreFloored) {
  const int m = 5;
  std::vector<double> prior = {0, 1.0, 0.0, -2.0, 1.0, 2.0};
  RegularizationShape s;
  s.m = m;
  s.prior = prior.data();
  auto h = Operator(s);
  for (int i = 1; i <= m; ++i)
    for (int j = 1; j <= m; ++j) EXPECT_TRUE(std::isfinite(h[i][j]));
  EXPECT_GT(h[3][3], 1e6);  // floor 1e-6 * max = 2e-6
}

TEST(RegularizationMatrix, TwoDimensionalFfDirection) {
  RegularizationShape s;
  s.m = 4;
  s.twoDimensional = true;
  s.ffCount = 10;
  s.ffWeight = 10.0;
  auto h = Operator(s);
  const int m = 4;
  auto idx = [&](int q, int i) { return (q - 1) * m + i; };
  // Amplitude (1, 1): s-direction D'D corner 1 plus f/f0 corner 11 * w.
  EXPECT_DOUBLE_EQ(h[idx(1, 1)][idx(1, 1)], 1.0 + 110.0);
  EXPECT_DOUBLE_EQ(h[idx(1, 2)][idx(2, 2)], -120.0);
  EXPECT_DOUBLE_EQ(h[idx(2, 3)][idx(2, 3)], 5.0 + 150.0);
  EXPECT_DOUBLE_EQ(h[idx(5, 3)][idx(5, 3)], 5.0 + 60.0);
  EXPECT_DOUBLE_EQ(h[idx(10, 4)][idx(10, 4)], 1.0 + 110.0);
  for (size_t i = 1; i < h.size(); ++i)
    for (size_t j = 1; j < h.size(); ++j) EXPECT_EQ(h[i][j], h[j][i]);
  // With a discrete first component, slice 1 is regularised along s from
  // its second point on; the f/f0 direction still covers amplitude (1, 1).
  s.firstAmplitudeSeparate = true;
  s.m = 5;
  auto hd = Operator(s);
  auto id = [&](int q, int i) { return (q - 1) * 5 + i; };
  EXPECT_DOUBLE_EQ(hd[id(1, 1)][id(1, 1)], 110.0);
  EXPECT_EQ(hd[id(1, 1)][id(1, 2)], 0.0);
  EXPECT_DOUBLE_EQ(hd[id(1, 2)][id(1, 2)], 1.0 + 110.0);
  EXPECT_DOUBLE_EQ(hd[id(2, 1)][id(2, 1)], 1.0 + 150.0);
}

namespace {

// A c(s)-like problem: smooth overlapping kernels, a smooth true
// distribution, Gaussian noise. 20 scans x 300 points, 100 amplitudes.
void SmoothProblem(unsigned seed) {
  conti_test::LoadMovingBoundaries(100, seed, [](int k) { return std::exp(-std::pow((k - 40.0) / 8.0, 2)); });
}

}  // namespace

TEST(RegularizationScaling, ReachesTheFRatioTargetAndGrowsWithAlpha) {
  for (float P : {0.68f, 0.95f}) {
    SmoothProblem(3);
    Conti().confidenceLevel = P;
    ScaleRegularization();
    const RegularizationState& st = Regularization();
    const double F = P == 0.68f ? 1.012253 : 1.043762;
    EXPECT_FLOAT_EQ(st.degreesOfFreedom, 5900.0f);
    EXPECT_NEAR(st.targetRatio, F, 2e-6);
    const double ratio = st.chiSquareCurrent / st.chiSquareReference;
    EXPECT_LE(std::fabs(ratio - F), 0.01 * (F - 1.0)) << "P " << P;
    for (int i = 1; i <= 100; ++i) EXPECT_GE(NeqBlock().solution[i], 0.0);
  }
  double previous = -1.0;
  for (float x = -12.0f; x <= 4.0f; x += 1.0f) {
    const float dev = RegularizationChiSquareDeviation(x);
    EXPECT_GE(dev, previous - 1e-6f) << "x " << x;
    previous = dev;
  }
}

TEST(RegularizationScaling, OutOfRangeConfidenceKeepsUnregularisedSolution) {
  for (float P : {0.5f, 1.0f}) {
    SmoothProblem(4);
    ContiContext().infoMessages = true;
    Conti().confidenceLevel = P;
    platform::ScriptedUserInterface ui;
    platform::ScopedUI scope(ui);
    ui.ExpectBox("", "no regularization:  either P < 0.5, P = 1, or to low resolution");
    ScaleRegularization();
    EXPECT_TRUE(ui.AllConsumed());
    EXPECT_TRUE(ui.failures.empty());
    EXPECT_EQ(Regularization().chiSquareCurrent, Regularization().chiSquareReference);
  }
}

TEST(RegularizationScaling, ConfidenceAboveOneIsAChiSquareRatio) {
  SmoothProblem(5);
  Conti().confidenceLevel = 1.2f;
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  ui.ExpectBox("", "P > 1 => interpreting P value as chi-square ratio");
  ContiContext().drawingEnabled = true;
  ScaleRegularization();
  const RegularizationState& st = Regularization();
  EXPECT_FLOAT_EQ(st.targetRatio, 1.2f);
  EXPECT_NEAR(st.chiSquareCurrent / st.chiSquareReference, 1.2, 0.002);
  ASSERT_FALSE(ui.statusTexts.empty());
  EXPECT_EQ(ui.statusTexts.back().rfind("Scaling regularization alpha=", 0), 0u);
  EXPECT_NE(ui.statusTexts.back().find(", ratio = "), std::string::npos);
  Conti().confidenceLevel = 0.95f;
}

TEST(MaxEntropy, ReachesTheFRatioTargetWithPositiveAmplitudes) {
  for (float P : {0.68f, 0.95f}) {
    SmoothProblem(6);
    Conti().confidenceLevel = P;
    Priors().use = false;
    RegularizeDistribution();
    const MaxEntState& me = MaxEnt();
    const double F = P == 0.68f ? 1.012253 : 1.043762;
    EXPECT_FLOAT_EQ(me.nu1, 5900.0f);
    EXPECT_NEAR(me.targetRatio, F, 2e-6);
    EXPECT_LE(std::fabs(me.chiSquareCurrent / me.chiSquareReference - F), 0.01 * (F - 1.0))
        << "P " << P;
    for (int i = 1; i <= 100; ++i) EXPECT_GE(NeqBlock().solution[i], 1e-20);
  }
  // The ratio grows with alpha.
  double previous = -1.0;
  for (double u = -12.0; u <= 2.0; u += 2.0) {
    const double dev = MaxEntChiSquareDeviation(u);
    EXPECT_GE(dev, previous - 1e-9) << "u " << u;
    previous = dev;
  }
  Conti().confidenceLevel = 0.95f;
}

TEST(MaxEntropy, PriorWithNonPositiveValuesStaysFinite) {
  SmoothProblem(7);
  std::vector<double> prior(101);
  for (int i = 1; i <= 100; ++i) prior[i] = (i < 20) ? 0.0 : std::exp(-std::pow((i - 40.0) / 15.0, 2));
  Priors().use = true;
  Conti().prior = prior.data();
  Conti().confidenceLevel = 0.68f;
  RegularizeDistribution();
  const MaxEntState& me = MaxEnt();
  EXPECT_TRUE(std::isfinite(me.entropy));
  EXPECT_LE(std::fabs(me.chiSquareCurrent / me.chiSquareReference - me.targetRatio),
            0.01 * (me.targetRatio - 1.0));
  Priors().use = false;
  Conti().prior = nullptr;
  Conti().confidenceLevel = 0.95f;
}

TEST(MaxEntropy, SmallGridsAndOutOfRangeConfidenceAreNotRegularised) {
  conti_test::DenseProblem p = conti_test::RandomProblem(40, 9, 3);
  for (auto& v : p.X) v = std::fabs(v);
  conti_test::LoadIntoBlock(p);
  ContiContext() = ContiRunContext{};
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  RegularizeDistribution();  // 9 points: silently unregularised
  EXPECT_EQ(MaxEnt().chiSquareCurrent, MaxEnt().chiSquareReference);
  SmoothProblem(8);
  ContiContext().infoMessages = true;
  Conti().confidenceLevel = 1.0f;
  ui.ExpectBox("", "no regularization:  either P < 0.5, P = 1, or to low resolution");
  RegularizeDistribution();
  EXPECT_EQ(MaxEnt().chiSquareCurrent, MaxEnt().chiSquareReference);
  EXPECT_TRUE(ui.AllConsumed());
  EXPECT_TRUE(ui.failures.empty());
  Conti().confidenceLevel = 0.95f;
}

TEST(RegularizationScaling, FewDegreesOfFreedomNeedRatiosAboveTwo) {
  // 4 amplitudes, 2 scans x 4 points: nu = 4 and F(0.95; 4, 4) = 6.388.
  // Kernel k is point k of each scan; the data zigzag, which a smooth
  // distribution cannot follow, so large ratios are within reach.
  conti_test::DenseProblem p = conti_test::RandomProblem(8, 4, 17);
  const double y[8] = {1.0, 0.1, 1.02, 0.12, 0.98, 0.09, 1.01, 0.1};
  for (int r = 0; r < 8; ++r) {
    for (int k = 1; k <= 4; ++k) p.x(r, k) = (r % 4 == k - 1) ? 1.0 : 0.0;
    p.y[r] = y[r];
  }
  conti_test::LoadIntoBlock(p);
  ContiRunContext& ctx = ContiContext();
  ctx = ContiRunContext{};
  ctx.fitRangePoints = 4;
  ctx.scanCount = 2;
  ctx.infoMessages = false;
  Conti().confidenceLevel = 0.95f;
  ScaleRegularization();
  const RegularizationState& st = Regularization();
  EXPECT_NEAR(st.targetRatio, 6.388233, 1e-4);
  EXPECT_NEAR(st.chiSquareCurrent / st.chiSquareReference, st.targetRatio,
              0.01 * (st.targetRatio - 1.0));
}

TEST(Regularization, BothMethodsReachTheTargetOnBoundaryKernelsWithNoise) {
  // 200 sedimentation boundaries over 40 scans x 400 points, data with TI
  // and RI offsets and noise; the normal equations eliminate the offsets.
  const int n = 200, M = 40, R = 400;
  conti_test::TestScans t(M, R, 1, R);
  AllocDistributionWorkArrays(n, M, R);
  AllocNormalEquationBlock(n, M, R);
  std::mt19937 gen(5);
  std::normal_distribution<double> noise(0.0, 0.005);
  for (int j = 1; j <= M; ++j) {
    const double time = static_cast<double>(j) / M;
    for (int k = 1; k <= n; ++k)
      for (int i = 1; i <= R; ++i) {
        const double x = static_cast<double>(i) / R;
        WorkBlock().lammSolutions[k][j][i] = static_cast<float>(
            0.5 * std::erfc((0.05 + 0.9 * time * k / n - x) / (0.01 + 0.03 * std::sqrt(time))));
      }
    for (int i = 1; i <= R; ++i) {
      double y = 0.02 * std::sin(0.03 * i) + 0.01 * j / M + noise(gen);
      for (int k = 1; k <= n; ++k)
        y += 0.05 * std::exp(-std::pow((k - 80.0) / 10.0, 2)) * WorkBlock().lammSolutions[k][j][i];
      t.s.gridSignals[j][i] = static_cast<float>(y);
    }
  }
  ContiContext() = ContiRunContext{};
  ContiContext().infoMessages = false;
  NeqInputs() = NormalEquationInputs{};
  ASSERT_TRUE(BuildNormalEquations(t.s, NoiseModel::TIRI, 4));
  Conti().confidenceLevel = 0.68f;
  const double F = FRatioForConfidence(0.68, 16000.0 - n, 16000.0 - n);
  ScaleRegularization();
  EXPECT_LE(std::fabs(Regularization().chiSquareCurrent / Regularization().chiSquareReference - F),
            0.01 * (F - 1.0));
  RegularizeDistribution();
  EXPECT_LE(std::fabs(MaxEnt().chiSquareCurrent / MaxEnt().chiSquareReference - F),
            0.01 * (F - 1.0));
  Conti().confidenceLevel = 0.95f;
}
