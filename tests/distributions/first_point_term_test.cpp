// Grid point 1 of some distributions holds a term that is no part of the
// distribution (the buffer's signal, a discrete species): every transform,
// integral, drawn range and load keeps it apart. Checked by the sum rule:
// the trapezoid area of the density equals the sum of the amplitudes of
// the distribution's own points, whatever the grid spacing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <vector>

#include "distributions/conti_grid.h"
#include "distributions/conti_run.h"
#include "distributions/distribution_loader.h"
#include "distributions/distribution_transforms.h"
#include "distributions/hydrodynamics.h"
#include "distributions/integrate_distribution.h"
#include "distributions/normal_equations.h"
#include "distributions/work_blocks.h"
#include "fit/model_evaluation.h"
#include "distributions/range_selection.h"
#include "platform/scripted_ui.h"
#include "run_test_support.h"

using namespace runtest;

namespace {

constexpr int kN = 12;
constexpr float kTerm = 2.0f;  // amplitude of point 1

struct Model {
  const char* name;
  void (*choose)(ModelSelectorFlags&);
  bool buffer;
  bool separate;  // point 1 is no part of the distribution
};

const Model kModels[] = {
    {"c(s)", [](ModelSelectorFlags&) {}, false, false},
    {"c(s) with buffer sedimentation", [](ModelSelectorFlags&) {}, true, true},
    {"c(s) with 1 discrete", [](ModelSelectorFlags& m) { m.CSWith1DiscreteModel = 1; }, false, true},
    {"nonideal c(s)",
     [](ModelSelectorFlags& m) {
       m.CSModel = 0;
       m.NonidealCSModel = 1;
     },
     false, true},
    {"c(M) with buffer sedimentation", [](ModelSelectorFlags& m) { m.CSModel = 0; }, true, true},
};

// Grid abscissa of point i: unequal steps, point 1 set apart by the caller.
float Abscissa(int i) { return 1.0f + 0.5f * i + 0.04f * i * i; }
float Amplitude(int i) { return 0.1f + 0.05f * static_cast<float>((i * 7) % 5); }

struct FirstPointTest : SmallRunTest {
  void TearDown() override {
    SmallRunTest::TearDown();
    ContiHooks().bufferCorrection = false;
    std::remove(GridFilePath().c_str());
  }
  // The model's arrays with amplitudes: point 1 holds kTerm.
  const float* Fill(const Model& m) {
    gModelSelectorFlags = ModelSelectorFlags{};
    gModelSelectorFlags.DistributionModel = 1;
    gModelSelectorFlags.CSModel = 1;
    m.choose(gModelSelectorFlags);
    ContiHooks().bufferCorrection = m.buffer;
    Conti().transformedToCM = 0;
    FreeDistributionArrays();
    AllocDistributionArrays(kN, 0, 0);
    ContiSettings& cs = Conti();
    const bool mass = gModelSelectorFlags.CSModel == 0 && !gModelSelectorFlags.AnyLsgModel() &&
                      !gModelSelectorFlags.NonidealCSModel;
    float* x = mass ? cs.molarMasses : cs.sValues;
    for (int i = 1; i <= kN; ++i) {
      x[i] = mass ? 1e4f * Abscissa(i) : Abscissa(i);
      cs.distribution[i] = i == 1 ? kTerm : Amplitude(i);
    }
    return x;
  }
  static double OwnSum(bool separate) {
    double sum = 0;
    for (int i = separate ? 2 : 1; i <= kN; ++i) sum += i == 1 ? kTerm : Amplitude(i);
    return sum;
  }
};

}  // namespace

TEST_F(FirstPointTest, DensityIntegralAndRunningIntegralKeepPointOneApart) {
  for (const Model& m : kModels) {
    const float* x = Fill(m);
    ContiSettings& cs = Conti();
    ConvertAmplitudesToDensity();
    const int k0 = m.separate ? 2 : 1;
    if (m.separate) { EXPECT_EQ(cs.distribution[1], kTerm) << m.name; }
    // Sum rule: the trapezoid area over the distribution's points.
    double area = 0;
    for (int i = k0; i < kN; ++i) area += 0.5 * (cs.distribution[i] + cs.distribution[i + 1]) * (x[i + 1] - x[i]);
    const double own = OwnSum(m.separate);
    EXPECT_NEAR(area, own, 1e-5 * own) << m.name;
    // The integration over the whole axis finds the same.
    float c = 0, mean = 0, total = 0;
    IntegrateDistribution(0.0f, 1e9f, &c, &mean, &total);
    EXPECT_NEAR(c, own, 1e-5 * own) << m.name;
    EXPECT_NEAR(total, own, 1e-5 * own) << m.name;
    // The running integral starts at 0 on the first own point and ends at
    // the sum; point 1 stays the term.
    DifferentialToIntegralDistribution();
    if (m.separate) { EXPECT_EQ(cs.distribution[1], kTerm) << m.name; }
    EXPECT_EQ(cs.distribution[k0], 0.0f) << m.name;
    EXPECT_NEAR(cs.distribution[kN], own, 1e-5 * own) << m.name;
  }
}

// The buffer's term on the smallest grid: 1, 2, 3 S with amplitudes
// 2 (the buffer), 1, 1: the buffer stays 2 and the first s point becomes
// 2 c / (s3 - s2) = 2.
TEST_F(FirstPointTest, BufferTermOfASmallGrid) {
  Fill(kModels[1]);
  ContiSettings& cs = Conti();
  cs.gridSize = 3;
  for (int i = 1; i <= 3; ++i) cs.sValues[i] = static_cast<float>(i);
  cs.distribution[1] = 2.0f;
  cs.distribution[2] = cs.distribution[3] = 1.0f;
  ConvertAmplitudesToDensity();
  EXPECT_EQ(cs.distribution[1], 2.0f);
  EXPECT_EQ(cs.distribution[2], 2.0f);
  EXPECT_EQ(cs.distribution[3], 2.0f);
  cs.gridSize = kN;
}

TEST_F(FirstPointTest, TransformsLeaveTheTermAndKeepTheArea) {
  for (const Model& m : {kModels[1], kModels[2]}) {
    Fill(m);
    ContiSettings& cs = Conti();
    ConvertAmplitudesToDensity();
    std::vector<float> before(cs.distribution, cs.distribution + kN + 1);
    auto area = [&] {
      double a = 0;
      for (int i = 2; i < kN; ++i)
        a += 0.5 * (cs.distribution[i] + cs.distribution[i + 1]) * (cs.sValues[i + 1] - cs.sValues[i]);
      return a;
    };
    // s20,w: densities per S scale by 1/f, the area stays; the term stays.
    const double a0 = area();
    const float f = SToS20w(1.0f, 0.0012f, 1.01f, 0.73f, 0.73f);
    ASSERT_TRUE(TransformDistributionToS20(0.0012f, 1.01f, 0.73f, 0.73f));
    EXPECT_EQ(cs.distribution[1], kTerm) << m.name;
    EXPECT_FLOAT_EQ(cs.distribution[5], before[5] / f) << m.name;
    EXPECT_NEAR(area(), a0, 1e-5 * a0) << m.name;
    // Stokes radius: the area of the own points stays.
    ASSERT_TRUE(TransformDistributionToStokesRadius(0.73f));
    EXPECT_EQ(cs.distribution[1], kTerm) << m.name;
    EXPECT_NEAR(area(), a0, 1e-3 * a0) << m.name;
    // Division by a signal per size leaves the term.
    const std::string path = platform::SystemTempFolder() + "first_point_coeffs.dat";
    { std::ofstream(path) << "2\n"; }
    const float third = cs.distribution[3];
    ASSERT_TRUE(CorrectDistributionForSignal(path));
    std::remove(path.c_str());
    EXPECT_EQ(cs.distribution[1], kTerm) << m.name;
    EXPECT_FLOAT_EQ(cs.distribution[3], third / 2) << m.name;
  }
}

// A discrete species' s lies anywhere: the drawn range starts at the first
// grid point of the distribution, never at it.
TEST_F(FirstPointTest, DrawnRangeStartsAtTheDistribution) {
  Fill(kModels[2]);
  ContiSettings& cs = Conti();
  cs.sValues[1] = 7.5f;  // the discrete species, beyond most of the grid
  const RangePolyline p = DistributionRangePolyline(0.0f, 100.0f);
  ASSERT_EQ(p.x.size(), static_cast<size_t>(kN - 1 + 1));
  EXPECT_EQ(p.x.front(), cs.sValues[2]);
  EXPECT_EQ(p.y.front(), cs.distribution[2]);
  EXPECT_EQ(p.x.back(), cs.sValues[kN]);
  // Without the separate term point 1 is the start.
  Fill(kModels[0]);
  const RangePolyline q = DistributionRangePolyline(0.0f, 100.0f);
  EXPECT_EQ(q.x.front(), Conti().sValues[1]);
}

// ls-g*(s) and the hybrid model keep no molar masses: their range is drawn
// over s.
TEST_F(FirstPointTest, LsgRangeIsDrawnOverS) {
  for (auto choose : {+[](ModelSelectorFlags& m) { m.LsgStarModel = 1; },
                      +[](ModelSelectorFlags& m) { m.HybridCSLsgModel = 1; }}) {
    const Model lsg{"ls-g*(s)", choose, false, false};
    Fill(lsg);
    gModelSelectorFlags.CSModel = 0;
    choose(gModelSelectorFlags);
    ContiSettings& cs = Conti();
    EXPECT_EQ(RangeSelectionAxis(), cs.sValues);
    const RangePolyline p = DistributionRangePolyline(Abscissa(3), Abscissa(6));
    ASSERT_EQ(p.x.size(), 5u);
    EXPECT_EQ(p.x[1], cs.sValues[4]);
    EXPECT_EQ(p.y[1], cs.distribution[4]);
  }
}

// The drawn range and the integral read the array the model's grid lives
// on; only a c(s) shown as c(M) draws its range over the masses (its
// integration is refused).
TEST_F(FirstPointTest, RangeAndIntegralReadTheSameAxis) {
  for (const Model& m : kModels) {
    SCOPED_TRACE(m.name);
    const float* x = Fill(m);
    EXPECT_EQ(RangeSelectionAxis(), x);
    EXPECT_EQ(DistributionIntegrationAxis(), x);
  }
  Fill(kModels[0]);
  Conti().transformedToCM = 1;
  EXPECT_EQ(RangeSelectionAxis(), Conti().molarMasses);
  EXPECT_EQ(DistributionIntegrationAxis(), Conti().sValues);
  Conti().transformedToCM = 0;
}

// A loaded distribution is normalised over its own points; the term of
// point 1 keeps the value of the file.
TEST_F(FirstPointTest, LoadedDistributionNormalisesItsOwnPoints) {
  const std::string path = platform::SystemTempFolder() + "first_point_dist.txt";
  {
    std::ofstream f(path);
    f << 3.0 << " " << 5.0 << "\n";  // the discrete species
    for (int i = 2; i <= 6; ++i) f << i << " " << (i == 4 ? 2.0 : 1.0) << "\n";
  }
  gModelSelectorFlags = ModelSelectorFlags{};
  gModelSelectorFlags.DistributionModel = 1;
  gModelSelectorFlags.CSWith1DiscreteModel = 1;
  DistArrays().normaliseOnLoad = 1;
  ASSERT_TRUE(LoadDistributionFromFile(path));
  std::remove(path.c_str());
  ContiSettings& cs = Conti();
  ASSERT_EQ(cs.gridSize, 6);
  EXPECT_EQ(cs.distribution[1], 5.0f);
  // Sum 6 over area 5 (trapezoid over 2..6): every own value divided by 1.2.
  EXPECT_FLOAT_EQ(DistArrays().normalisationFactor, 6.0f / 5.0f);
  EXPECT_FLOAT_EQ(cs.distribution[4], 2.0f / 1.2f);
  EXPECT_FLOAT_EQ(cs.distribution[6], 1.0f / 1.2f);
}

// With a fixed buffer concentration the solve runs over kernels 2..n: its
// amplitudes belong one grid point up, and point 1 is the fixed buffer.
TEST_F(FirstPointTest, FixedBufferAmplitudesSitOnTheirOwnGridPoints) {
  Fill(kModels[1]);
  ModelEvaluationHooks& hooks = CurrentModelEvaluationHooks();
  const auto savedSignal = hooks.bufferSignal;
  double signal = 0.3;
  hooks.bufferSignal = [&signal]() -> double& { return signal; };
  const ScanSet& s = CurrentScanSet();
  ASSERT_TRUE(AllocNormalEquationBlock(kN, s.count, s.points[1]));
  NormalEquationBlock& b = NeqBlock();
  for (bool fixed : {false, true}) {
    b.fixedComponent = fixed;
    for (int i = 1; i <= kN; ++i) b.solution[i] = 0.01 * i;
    ASSERT_TRUE(CopySolutionToDistribution());
    const ContiSettings& cs = Conti();
    EXPECT_FLOAT_EQ(cs.distribution[1], fixed ? 0.3f : 0.01f);
    for (int i = 2; i <= kN; ++i) EXPECT_FLOAT_EQ(cs.distribution[i], 0.01f * (fixed ? i - 1 : i)) << i;
  }
  b.fixedComponent = false;
  FreeNormalEquationBlock();
  hooks.bufferSignal = savedSignal;
}
