#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

#include "distributions/conti_grid.h"
#include "distributions/distribution_transforms.h"
#include "distributions/hydrodynamics.h"
#include "distributions/prior_knowledge.h"
#include "numerics/ccurve.h"
#include "platform/scripted_ui.h"
#include "run_test_support.h"

using namespace runtest;

namespace {

// Records what the distribution graph was asked to show.
struct RecordingHost : DistributionPlotHost {
  std::vector<DistributionPlotSpec> built;
  int destroyed = 0, redrawn = 0;
  void Build(const DistributionPlotSpec& s) override { built.push_back(s); }
  void Destroy() override { ++destroyed; }
  long Redraw() override {
    ++redrawn;
    return 42;
  }
};

struct DisplayTest : ::testing::Test {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope{ui};
  RecordingHost host;
  Experiment e{2, 30};
  void SetUp() override { SetDistributionPlotHost(&host); }
  void TearDown() override {
    FreeDistributionArrays();
    SetDistributionPlotHost(nullptr);
    gModelSelectorFlags = ModelSelectorFlags{};
    Conti().showBothRegularizations = 0;
    std::remove(GridFilePath().c_str());
  }
  // A one-point-per-S grid 1..n with the given amplitudes.
  void Grid(int n) {
    SetGrid(1.0f, static_cast<float>(n), n);
    ASSERT_TRUE(SetupContiGrid());
  }
};

}  // namespace

TEST_F(DisplayTest, AmplitudesBecomeDensitiesPerGridWidth) {
  Grid(6);
  ContiSettings& cs = Conti();
  for (int i = 1; i <= 6; ++i) cs.distribution[i] = 1.0f;
  cs.sValues[6] = 7.0f;  // unequal last interval
  ConvertAmplitudesToDensity();
  EXPECT_FLOAT_EQ(cs.distribution[1], 2.0f);  // end: 2 c / (x2 - x1)
  EXPECT_FLOAT_EQ(cs.distribution[3], 1.0f);
  EXPECT_FLOAT_EQ(cs.distribution[5], 1.0f / 1.5f);
  EXPECT_FLOAT_EQ(cs.distribution[6], 1.0f);
  EXPECT_FLOAT_EQ(cs.totalAmplitude, 6.0f);
  // A leading discrete term keeps its amplitude.
  gModelSelectorFlags.CSWith1DiscreteModel = 1;
  for (int i = 1; i <= 6; ++i) cs.distribution[i] = 1.0f;
  ConvertAmplitudesToDensity();
  EXPECT_FLOAT_EQ(cs.distribution[1], 1.0f);
  EXPECT_FLOAT_EQ(cs.distribution[2], 2.0f);
  DistArrays().lastSpec.yTitle = "c(s)";
  DifferentialToIntegralDistribution();
  EXPECT_FLOAT_EQ(cs.distribution[1], 1.0f);
  EXPECT_FLOAT_EQ(cs.distribution[2], 0.0f);
  EXPECT_FLOAT_EQ(cs.distribution[3], 1.5f);
  // The axis says what the curve is now.
  EXPECT_EQ(DistArrays().lastSpec.yTitle, "integral of c(s)");
  // One point: nothing to convert.
  cs.gridSize = 1;
  cs.distribution[1] = 3.0f;
  ConvertAmplitudesToDensity();
  EXPECT_EQ(cs.distribution[1], 3.0f);
  cs.gridSize = 6;
}

TEST_F(DisplayTest, StokesRadiusTransformKeepsTheArea) {
  Grid(20);
  ContiSettings& cs = Conti();
  auto area = [&] {
    double a = 0;
    for (int i = 1; i < 20; ++i)
      a += 0.5 * (cs.distribution[i] + cs.distribution[i + 1]) * (cs.sValues[i + 1] - cs.sValues[i]);
    return a;
  };
  for (int i = 1; i <= 20; ++i) cs.distribution[i] = std::exp(-0.1f * (i - 8) * (i - 8));
  const double before = area();
  ASSERT_TRUE(TransformDistributionToStokesRadius(0.73f));
  EXPECT_NEAR(cs.sValues[4], S20ToStokesRadius(4.0f, 0.73f) * 1e9f, 1e-4);
  EXPECT_NEAR(area(), before, 1e-3 * before);  // the endpoint rule of the transform
  EXPECT_EQ(host.built.back().xTitle, "Rh [nm]");
  // s20,w: values scale by the factor, densities by its inverse; c(M) refuses.
  Grid(5);
  cs.distribution[3] = 2.0f;
  const float f = SToS20w(1.0f, 0.0012f, 1.01f, 0.73f, 0.73f);
  ASSERT_TRUE(TransformDistributionToS20(0.0012f, 1.01f, 0.73f, 0.73f));
  EXPECT_FLOAT_EQ(cs.sValues[3], 3.0f * f);
  EXPECT_FLOAT_EQ(cs.distribution[3], 2.0f / f);
  gModelSelectorFlags.CSModel = 0;
  EXPECT_FALSE(TransformDistributionToS20(0.0012f, 1.01f, 0.73f, 0.73f));
}

TEST_F(DisplayTest, SignalCorrectionDividesByThePowerSeries) {
  Grid(4);
  ContiSettings& cs = Conti();
  for (int i = 1; i <= 4; ++i) cs.distribution[i] = 6.0f;
  const std::string path = platform::SystemTempFolder() + "csrun_coeffs.dat";
  { std::ofstream(path) << "1\n0.5\n"; }  // a(R) = 1 + R/2
  ASSERT_TRUE(CorrectDistributionForSignal(path));
  EXPECT_FLOAT_EQ(cs.distribution[2], 3.0f);
  EXPECT_FLOAT_EQ(cs.distribution[4], 2.0f);
  std::remove(path.c_str());
}

TEST_F(DisplayTest, GraphsTitlesCurvesAndRanges) {
  ContiSettings& cs = Conti();
  cs.showBothRegularizations = 1;
  Grid(8);
  ASSERT_FALSE(host.built.empty());
  DistributionPlotSpec s = host.built.back();
  EXPECT_EQ(s.xTitle, "sed coefficient [S]");
  EXPECT_EQ(s.yTitle, "c(s)");
  ASSERT_EQ(s.curveCount, 2);
  EXPECT_EQ(s.colours[1], 0xFF0000u);
  EXPECT_EQ(s.curves[0]->x->data, cs.sValues + 1);  // a view, not a copy
  EXPECT_EQ(DistArrays().layout[1], 350);
  EXPECT_EQ(RedrawDistributionPlot(), 42);
  FreeDistributionArrays();
  EXPECT_EQ(DistArrays().layout[1], 475);
  EXPECT_EQ(RedrawDistributionPlot(), 0);
  // Model commands without a graph only set the default range.
  gModelSelectorFlags.CSModel = 0;
  EXPECT_FALSE(MakeDistributionPlot());
  EXPECT_EQ(cs.sMin, 10000.0f);
  EXPECT_EQ(cs.sMax, 500000.0f);
  gModelSelectorFlags.CSModel = 1;
  MakeDistributionPlot();
  EXPECT_EQ(cs.sMin, 0.0f);
  EXPECT_EQ(cs.sMax, 20.0f);
  // Titles by model.
  gModelSelectorFlags.CSModel = 0;
  gModelSelectorFlags.HybridCSLsgModel = 1;
  Grid(8);
  EXPECT_EQ(host.built.back().yTitle, "c(s)/ls-g*(s)");
  gModelSelectorFlags.HybridCSLsgModel = 0;
  SetGrid(1e4f, 1e5f, 8);
  ASSERT_TRUE(SetupContiGrid());
  EXPECT_EQ(host.built.back().xTitle, "molar mass [Da]");
  EXPECT_EQ(host.built.back().curves[0]->x->data, cs.molarMasses + 1);
}

TEST_F(DisplayTest, PriorOfDiscreteSpeciesAndScalingLawTitles) {
  ContiSettings& cs = Conti();
  // (discrete-species prior, second peak table) -> y title of the c(s) plot
  const struct {
    bool prior;
    uint8_t second;
    const char* title;
  } priors[] = {{false, 0, "c(s)"}, {true, 0, "fraction"}, {true, 1, "c(s)"}};
  for (const auto& c : priors) {
    Priors().discreteSpecies = c.prior;
    cs.secondPeakTable = c.second;
    Grid(8);
    EXPECT_EQ(host.built.back().yTitle, c.title) << c.prior << int(c.second);
  }
  Priors().discreteSpecies = false;
  cs.secondPeakTable = 0;
  // f(M) only with a usable s(M) power law.
  gModelSelectorFlags.CSModel = 0;
  gModelSelectorFlags.FMScalingLawModel = 1;
  const struct {
    float ks, kb;
    const char* title;
  } laws[] = {{0.003f, 0.667f, "f(M)"}, {0.0f, 0.667f, "c(M)"}, {0.003f, 0.0f, "c(M)"}};
  for (const auto& c : laws) {
    cs.scalingKs = c.ks;
    cs.scalingBs = c.kb;
    SetGrid(1e4f, 1e5f, 8);
    ASSERT_TRUE(SetupContiGrid());
    EXPECT_EQ(host.built.back().yTitle, c.title) << c.ks << " " << c.kb;
  }
  cs.scalingKs = 0.003f;
  cs.scalingBs = 0.667f;
  gModelSelectorFlags.FMScalingLawModel = 0;
  gModelSelectorFlags.CSModel = 1;
}

TEST_F(DisplayTest, TransformToCMHappensOnce) {
  Grid(6);
  ContiSettings& cs = Conti();
  for (int i = 1; i <= 6; ++i) cs.distribution[i] = 1.0f;
  TransformDistributionPlotToCM();
  const float once = cs.distribution[3];
  // c(s) ds = c(M) dM on the inner points.
  EXPECT_NEAR(once, 1.0f * 1.0f / ((cs.molarMasses[4] - cs.molarMasses[2]) / 2), 1e-9);
  EXPECT_EQ(cs.distribution[1], 1.0f);
  TransformDistributionPlotToCM();
  EXPECT_EQ(cs.distribution[3], once);
  EXPECT_EQ(host.built.back().yTitle, "c(M)");
}

TEST_F(DisplayTest, SizeAndShapeMapLeavesOutTheDiscretePoint) {
  ContiSettings& cs = Conti();
  gModelSelectorFlags.CSModel = 0;
  gModelSelectorFlags.CSff0With1DiscreteModel = 1;
  cs.ffResolution = 3;
  cs.ffMin = 1.0f;
  cs.ffMax = 2.0f;
  SetGrid(1.0f, 5.0f, 5);
  ASSERT_TRUE(SetupContiGrid());
  const DistributionPlotSpec& s = host.built.back();
  EXPECT_TRUE(s.map2D);
  EXPECT_EQ(s.mapCount, 14);
  EXPECT_EQ(s.mapCurve->x->data, cs.grid2DS + 2);
  EXPECT_EQ(s.curveStyle, 11);
  EXPECT_EQ(s.annotation2, "ff0=2.00");
  cs.display2DSwitch[0] = 1;
  PlotHydrodynamicRelation();
  EXPECT_EQ(host.built.back().yTitle, "molar mass [Da]");
  EXPECT_EQ(host.built.back().curveStyle, 9);
  cs.display2DSwitch[0] = 0;
}
