#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>

#include "distributions/prior_knowledge.h"
#include "distributions/conti_grid.h"
#include "distributions/distribution_loader.h"
#include "distributions/hydrodynamics.h"
#include "distributions/mixed_grid.h"
#include "distributions/prior_assembly.h"
#include "fit/model_selector.h"
#include "platform/scripted_ui.h"
#include "run_test_support.h"

using namespace runtest;

namespace {

void WriteValues(const std::string& path, const std::vector<float>& v) {
  std::ofstream f(path);
  for (float x : v) f << x << "\n";
}

struct GridTest : ::testing::Test {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope{ui};
  Experiment e{3, 60};
  void TearDown() override { std::remove(GridFilePath().c_str()); }
};

}  // namespace

TEST_F(GridTest, LinearAndLogarithmicSGrids) {
  ContiSettings& cs = Conti();
  SetGrid(1.0f, 10.0f, 0);
  cs.resolution = 100.5f;
  ASSERT_TRUE(SetupContiGrid());
  ASSERT_EQ(cs.gridSize, 100);
  EXPECT_FLOAT_EQ(cs.sValues[1], 1.0f);
  EXPECT_FLOAT_EQ(cs.sValues[100], 10.0f);
  EXPECT_NEAR(cs.sValues[51] - cs.sValues[50], 9.0 / 99, 1e-5);
  EXPECT_FLOAT_EQ(cs.molarMasses[37], CalculateM(cs.sValues[37]));
  EXPECT_EQ(cs.prior[5], 0.01);
  // The grid file holds what was built.
  std::vector<float> file;
  ASSERT_TRUE(ReadGridFile(file));
  ASSERT_EQ(file.size(), 100u);
  EXPECT_NEAR(file[36], cs.sValues[37], 1e-5);

  cs.logSpacedGrid = 1;
  SetGrid(0.0f, 10.0f, 30);
  ASSERT_TRUE(SetupContiGrid());
  EXPECT_NEAR(cs.sValues[1], 0.05, 1e-6);
  EXPECT_NEAR(cs.sValues[30], 10.0, 1e-4);
  EXPECT_NEAR(cs.sValues[12] / cs.sValues[11], cs.sValues[25] / cs.sValues[24], 1e-5);
  // A negative end falls back to the linear grid and clears the switch.
  SetGrid(-2.0f, 10.0f, 13);
  ASSERT_TRUE(SetupContiGrid());
  EXPECT_EQ(cs.logSpacedGrid, 0);
  EXPECT_FLOAT_EQ(cs.sValues[2], -1.0f);
}

TEST_F(GridTest, TheLogGridMinimumMakesItLinearOnlyBelowTheMinimum) {
  ContiSettings& cs = Conti();
  EXPECT_EQ(ContiSettings{}.useMinimumS, 1);  // on at 10 S from the start
  EXPECT_EQ(ContiSettings{}.minimumSValue, 10.0f);
  enum Shape { Log, LinearThenLog, Linear };
  struct Case {
    const char* what;
    uint8_t use;
    float minimum;
    Shape shape;
  } cases[] = {
      {"switched off", 0, 10.0f, Log},
      {"inside the range", 1, 10.0f, LinearThenLog},
      {"below smin: all of the range lies above it", 1, 0.5f, Log},
      {"at smin", 1, 1.0f, Log},
      {"above smax: all of the range lies below it", 1, 30.0f, Linear},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    cs.logSpacedGrid = 1;
    cs.useMinimumS = c.use;
    cs.minimumSValue = c.minimum;
    SetGrid(1.0f, 20.0f, 60);
    ASSERT_TRUE(SetupContiGrid());
    ASSERT_EQ(cs.gridSize, 60);
    const float* s = cs.sValues;
    const double firstStep = s[2] - s[1], lastStep = s[60] - s[59];
    EXPECT_NEAR(s[1], 1.0f, 1e-5);
    // The mixed grid ends within its last step of smax.
    EXPECT_NEAR(s[60], 20.0f, c.shape == LinearThenLog ? lastStep : 1e-3);
    const double firstRatio = s[2] / s[1], lastRatio = s[60] / s[59];
    switch (c.shape) {
      case Log:
        EXPECT_NEAR(firstRatio, lastRatio, 1e-4);
        break;
      case Linear:
        EXPECT_NEAR(firstStep, lastStep, 1e-4);
        break;
      case LinearThenLog:
        EXPECT_NEAR(s[3] - s[2], firstStep, 1e-4);  // equal steps below 10 S
        EXPECT_GT(lastStep, 1.5 * firstStep);       // growing steps above it
        break;
    }
  }
}

TEST_F(GridTest, MassGridOfCMHasExactEnds) {
  ContiSettings& cs = Conti();
  gModelSelectorFlags.CSModel = 0;
  SetGrid(10000.0f, 500000.0f, 25);
  ASSERT_TRUE(SetupContiGrid());
  EXPECT_EQ(cs.molarMasses[1], 10000.0f);
  EXPECT_EQ(cs.molarMasses[25], 500000.0f);
  const double step = std::pow(cs.molarMasses[3], 0.66666666) - std::pow(cs.molarMasses[2], 0.66666666);
  EXPECT_NEAR(std::pow(cs.molarMasses[20], 0.66666666) - std::pow(cs.molarMasses[19], 0.66666666), step,
              1e-3 * step);
  EXPECT_EQ(cs.sValues[10], 0.0f);
}

TEST_F(GridTest, GridFileSetsTheRangeAndTheTwoDimensionalSize) {
  ContiSettings& cs = Conti();
  std::vector<float> v;
  for (int i = 0; i < 37; ++i) v.push_back(0.5f + 0.25f * i * (1 + 0.01f * i));
  WriteValues(GridFilePath(), v);
  cs.gridFromFile = 1;
  cs.logSpacedGrid = 1;
  SetGrid(1.0f, 2.0f, 10);
  // c(s,f/f0) with a requested 10 x 4 grid: the file's 37 points decide.
  gModelSelectorFlags.CSModel = 0;
  gModelSelectorFlags.CSff0Model = 1;
  cs.ffMin = 1.0f;
  cs.ffMax = 2.5f;
  cs.ffResolution = 4.0f;
  ASSERT_TRUE(SetupContiGrid());
  EXPECT_EQ(cs.gridSize, 37);
  EXPECT_EQ(cs.resolution, 37.0f);
  EXPECT_EQ(cs.sMin, v.front());
  EXPECT_EQ(cs.sMax, v.back());
  EXPECT_EQ(cs.logSpacedGrid, 0);
  EXPECT_EQ(gModelParameterVector.P[1], v.front());
  EXPECT_EQ(gModelParameterVector.P[5], v.back());
  EXPECT_EQ(gModelParameterVector.P[9], 37.0f);
  ASSERT_EQ(cs.grid2DSize, 37 * 4);
  EXPECT_EQ(WorkBlock().gridPoints, 37 * 4);
  const int last = 37 * 4;
  EXPECT_EQ(cs.grid2DS[last], v.back());
  EXPECT_FLOAT_EQ(cs.grid2DFf[last], 2.5f);
  EXPECT_FLOAT_EQ(cs.grid2DFf[38], 1.5f);
  EXPECT_FLOAT_EQ(cs.grid2DM[last], CalculateMff02(v.back(), 2.5f));
  const float D = cs.grid2DD[last];
  EXPECT_NEAR(SFromMD(cs.grid2DM[last], D, 20.0f) / v.back(), 1.0, 1e-5);
  EXPECT_NEAR(DFromStokesRadius(cs.grid2DStokes[last] * 1e-9f, 20.0f) / D, 1.0, 1e-5);
  // An empty grid file refuses the set-up.
  WriteValues(GridFilePath(), {});
  EXPECT_FALSE(SetupContiGrid());
  gModelSelectorFlags.CSff0Model = 0;
}

// A grid file no distribution can be computed on is refused with its
// reason: every spacing and kernel divides by the steps (equal values gave
// a distribution of inf, zeros of NaN), and a value without a molar mass has
// no diffusion coefficient.
TEST_F(GridTest, GridFilesNoDistributionCanUseAreRefusedWithTheReason) {
  ContiSettings& cs = Conti();
  struct Case {
    const char* name;
    std::string text;
    std::string reason;
  };
  auto repeated = [](const char* line, int n) {
    std::string t;
    for (int i = 0; i < n; ++i) t += line;
    return t;
  };
  const std::string path = GridFilePath();
  const std::string unusable = "the grid of " + path + " cannot be used: ";
  const Case cases[] = {
      {"fifty equal values", repeated("5\n", 50), unusable + "value 2 (5) is not above value 1 (5): the s-values must increase"},
      {"a hundred zeros", repeated("0\n", 100), unusable + "value 2 (0) is not above value 1 (0)"},
      {"one value", "5\n", unusable + "it holds 1 s-value, a grid needs at least two"},
      {"descending", "3\n2\n1\n", unusable + "value 2 (2) is not above value 1 (3)"},
      {"a step back at the end", "1\n2\n3\n2.999\n", unusable + "value 4 (2.999) is not above value 3 (3)"},
      {"not a number", "1\n2\nnan\n4\n", unusable + "value 3 (nan) is no finite number"},
      {"infinite", "1\n2\ninf\n", unusable + "value 3 (inf) is no finite number"},
      {"no molar mass", "1\n2\n1e30\n", unusable + "value 3 (1e+30 S) gives no finite molar mass"},
      {"empty", "", "cannot read the s-values of the grid from " + path + ": it holds no number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      std::ofstream(path, std::ios::binary) << c.text;
    }
    cs.gridFromFile = 1;
    SetGrid(1.0f, 10.0f, 10);
    ui.ExpectBox("Error", c.reason);
    EXPECT_FALSE(SetupContiGrid());
    EXPECT_TRUE(ui.AllConsumed());
    EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();
    ui.failures.clear();
    // The settings the user entered stay as they were.
    EXPECT_EQ(cs.sMin, 1.0f);
    EXPECT_EQ(cs.sMax, 10.0f);
    EXPECT_EQ(cs.resolution, 10.0f);
  }
  // The two-point grid and a grid of negative s (flotation) are grids; the
  // file decides the size, whatever resolution stands in the settings.
  cs.resolution = 1e30f;
  for (const char* text : {"1\n2\n", "-10\n-5\n-1\n"}) {
    std::ofstream(path, std::ios::binary) << text;
    EXPECT_TRUE(SetupContiGrid()) << text;
    EXPECT_EQ(cs.gridSize, text[1] == '\n' ? 2 : 3);
  }
  cs.gridFromFile = 0;
}

// A grid whose work storage the computer cannot hold is refused before
// anything is allocated, with the figures; sizes past every integer type too.
TEST_F(GridTest, SizesBeyondTheComputerAreRefusedBeforeAllocating) {
  ContiSettings& cs = Conti();
  SetGrid(1.0f, 10.0f, 10);
  ASSERT_TRUE(SetupContiGrid());  // a grid in place, to be released
  for (const float resolution : {1e7f, 3e9f, 1e30f}) {
    SCOPED_TRACE(resolution);
    SetGrid(1.0f, 10.0f, 10);
    cs.resolution = resolution;
    ui.ExpectBox("Error", "GB of work storage over 3 scans of " + std::to_string(CurrentScanSet().gridLength) + " points");
    EXPECT_FALSE(SetupContiGrid());
    EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();
    ui.failures.clear();
    EXPECT_EQ(cs.sValues, nullptr);  // the earlier grid released, nothing new allocated
    EXPECT_EQ(cs.resolution, resolution);
  }
  // The s x f/f0 grid counts whole: 100 s-points times a million ratios.
  SetGrid(1.0f, 10.0f, 100);
  gModelSelectorFlags.CSModel = 0;
  gModelSelectorFlags.CSff0Model = 1;
  cs.ffResolution = 1e6f;
  ui.ExpectBox("Error", "resolution: 100000000 grid points need");
  EXPECT_FALSE(SetupContiGrid());
  EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();
  ui.failures.clear();
  cs.ffResolution = 10.0f;
  gModelSelectorFlags.CSff0Model = 0;
  gModelSelectorFlags.CSModel = 1;
  // A grid file as long: refused the same way once its values are known.
  {
    std::ofstream f(GridFilePath());
    for (int i = 1; i <= 2000000; ++i) f << i << "\n";
  }
  cs.gridFromFile = 1;
  ui.ExpectBox("Error", "the grid of " + GridFilePath() + ": 2000000 grid points need");
  EXPECT_FALSE(SetupContiGrid());
  EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();
  cs.gridFromFile = 0;
}

TEST_F(GridTest, FlotationMassesKeepTheSignAndTinyResolutionIsRefused) {
  ContiSettings& cs = Conti();
  gSolutionConditions.vbar = 1.1f;
  gSolutionConditions.vbarRho = 1.1f * 0.99823f;
  SetGrid(-10.0f, -1.0f, 10);
  ASSERT_TRUE(SetupContiGrid());
  EXPECT_GT(cs.molarMasses[1], 0.0f);  // negative s floats: positive mass
  EXPECT_FLOAT_EQ(cs.molarMasses[1], CalculateM(-10.0f));
  SetGrid(1.0f, 10.0f, 1);
  ui.ExpectBox("Error", "resolution must be at least 2");
  EXPECT_FALSE(SetupContiGrid());
  EXPECT_TRUE(ui.failures.empty());
}

TEST_F(GridTest, LsgRangeQuestionIsAskedOnceUntilAnsweredNo) {
  ContiSettings& cs = Conti();
  gModelSelectorFlags.CSModel = 0;
  gModelSelectorFlags.LsgStarModel = 1;
  CurrentScanSet().fitLimitQuestionAsked = 0;
  SetGrid(150.0f, 200.0f, 10);  // every boundary beyond the data
  ui.ExpectBox("ERROR", "smin 150.00 too low - boundary would be beyond right fit limit", platform::IDNO);
  EXPECT_FALSE(SetupContiGrid());
  ui.ExpectBox("ERROR", "smin 150.00 too low", platform::IDYES);
  EXPECT_TRUE(SetupContiGrid());
  EXPECT_TRUE(SetupContiGrid());  // not asked again
  CurrentScanSet().fitLimitQuestionAsked = 0;
  SetGrid(0.01f, 0.02f, 10);  // too slow to reach the left limit
  ui.ExpectBox("ERROR", "smax 0.02 too low - boundary does not reach left fit limit", platform::IDYES);
  EXPECT_TRUE(SetupContiGrid());
  EXPECT_TRUE(ui.failures.empty()) << ui.failures[0];
  EXPECT_TRUE(ui.AllConsumed());
  gModelSelectorFlags.LsgStarModel = 0;
  (void)cs;
}

TEST(MixedGrid, LinearBelowTheMinimumAndProportionalAbove) {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  std::vector<float> s(51);
  MakeMixedLogGrid(s.data(), 0.0f, 20.0f, 2.0f, 50);
  const float h = 20.0f / 49;
  EXPECT_FLOAT_EQ(s[1], 0.0f);
  EXPECT_NEAR(s[5] - s[4], s[2] - s[1], 1e-5);  // linear below s_m
  for (int i = 2; i <= 50; ++i) EXPECT_GT(s[i], s[i - 1]) << i;
  // Above s_m the step grows in proportion to s, and the grid spans the range.
  EXPECT_NEAR((s[45] - s[44]) / (s[30] - s[29]), s[44] / s[29], 0.1 * s[44] / s[29]);
  EXPECT_LT(std::fabs(s[50] - 20.0f), s[50] - s[49]);
  EXPECT_TRUE(ui.transcript.empty());
  // Too few points or s_m outside the range: the linear grid.
  std::vector<float> t(11);
  MakeMixedLogGrid(t.data(), 0.0f, 9.0f, 2.0f, 10);
  for (int i = 1; i <= 10; ++i) EXPECT_FLOAT_EQ(t[i], i - 1.0f);
  MakeMixedLogGrid(s.data(), 0.0f, 20.0f, 30.0f, 50);
  EXPECT_NEAR(s[50], 20.0f, 1e-5);
  EXPECT_NEAR(s[26] - s[25], h, 1e-5);
  EXPECT_TRUE(ui.transcript.empty());
}

TEST_F(GridTest, PriorFromPeakRowsSkipsUnusableRows) {
  ContiSettings& cs = Conti();
  SetGrid(0.0f, 10.0f, 101);
  ASSERT_TRUE(SetupContiGrid());
  PriorKnowledge& p = Priors();
  for (int k = 1; k <= 10; ++k) p.peaks[k] = PriorPeak{};
  p.peaks[1] = {3.0, 0.5, 2.0};   // Gaussian of area 2
  p.peaks[3] = {5.0, -1.0, 1.0};  // end-of-table width: skipped
  p.peaks[4] = {6.03, 0.0, 1.0};  // delta peak between grid points
  p.peaks[5] = {0.05, 0.0, 1.0};  // in the first interval: skipped
  Priors().use = true;
  AssemblePriorProbability();
  Priors().use = false;
  double gauss = 0, delta = 0, moment = 0;
  for (int i = 1; i <= 101; ++i) {
    const double v = cs.prior[i] - 0.001;
    if (cs.sValues[i] < 5.0f) gauss += v * 0.1;
    else if (cs.sValues[i] < 7.0f) { delta += v * 0.1; moment += v * 0.1 * cs.sValues[i]; }
  }
  EXPECT_NEAR(gauss, 2.0, 2e-3 * 2.0);
  EXPECT_NEAR(delta, 2.0, 2e-3);  // A = amplitude / spacing at both points
  EXPECT_NEAR(moment / delta, 6.03, 0.02);
  EXPECT_NEAR(cs.prior[1], 0.001, 1e-9);
  EXPECT_NEAR(cs.prior[51], 0.001, 1e-6);  // s = 5: the skipped row added nothing
}

// The second peak table of c(s,f/f0) lays its Gaussians over every point
// of the 2-D grid, whatever the f/f0 resolution.
TEST_F(GridTest, SecondPeakTablePriorCoversTheWholeTwoDimensionalGrid) {
  ContiSettings& cs = Conti();
  SetGrid(1.0f, 10.0f, 10);
  gModelSelectorFlags.CSModel = 0;
  gModelSelectorFlags.CSff0Model = 1;
  cs.ffMin = 1.0f;
  cs.ffMax = 2.0f;
  PriorKnowledge& p = Priors();
  for (int k = 1; k <= 10; ++k) p.secondPeaks[k] = PriorPeak{};
  p.secondPeaks[2] = {4.0, 1.5, 3.0};
  cs.secondPeakTable = 1;
  for (float resolution : {1.0f, 3.0f, 5.0f}) {
    cs.ffResolution = resolution;
    ASSERT_TRUE(SetupContiGrid());
    const int n2 = cs.grid2DSize;
    ASSERT_EQ(n2, 10 * static_cast<int>(resolution));
    AssemblePriorProbability();
    for (int j = 1; j <= n2; ++j) {
      const double dx = 4.0 - cs.grid2DS[j];
      EXPECT_NEAR(cs.prior[j], 0.001 + 3.0 * std::exp(-dx * dx / 2.25) / (1.772 * 1.5), 1e-9)
          << resolution << " " << j;
    }
  }
  cs.secondPeakTable = 0;
  gModelSelectorFlags.CSff0Model = 0;
}

// The prior's peaks are entered in S: every model with an s grid reads them
// over the s values, also the variants selected without the c(s) switch and
// the ls-g*(s) family; c(M) and f(M) read them over the molar masses.
TEST_F(GridTest, PriorLiesOverTheAxisOfTheModelsGrid) {
  ContiSettings& cs = Conti();
  SetGrid(1.0f, 10.0f, 91);
  ASSERT_TRUE(SetupContiGrid());
  const int n = cs.gridSize;
  ASSERT_EQ(n, 91);
  // Two axes that cannot be mistaken for each other: s = 1..10 S in steps
  // of 0.1, M = 1e4 times that (a prior peak in S lies far below it).
  for (int i = 1; i <= n; ++i) {
    cs.sValues[i] = 1.0f + 0.1f * static_cast<float>(i - 1);
    cs.molarMasses[i] = 1e4f * cs.sValues[i];
  }
  using Switch = unsigned char ModelSelectorFlags::*;
  struct Case {
    const char* model;
    Switch on;  // nullptr: plain c(M)
    bool overS;
  };
  const Case cases[] = {
      {"c(s)", &ModelSelectorFlags::CSModel, true},
      {"linear rod (521)", &ModelSelectorFlags::CSModel521, true},
      {"invariant D", &ModelSelectorFlags::CSInvariantDModel, true},
      {"conformational change", &ModelSelectorFlags::ConformationalChangeCSModel, true},
      {"fixed f/f0, floating vbar", &ModelSelectorFlags::FixFF0FloatingVbarCSModel, true},
      {"general scaling law", &ModelSelectorFlags::GeneralScalingLawCSModel, true},
      {"wormlike chain", &ModelSelectorFlags::WormlikeChainCSModel, true},
      {"bimodal f/f0", &ModelSelectorFlags::BimodalFF0CSModel, true},
      {"bimodal f/f0 + discrete", &ModelSelectorFlags::BimodalFF0With1DiscreteCSModel, true},
      {"c(s) + discrete", &ModelSelectorFlags::CSWith1DiscreteModel, true},
      {"c(s) + discrete (M and s)", &ModelSelectorFlags::CSWith1DiscreteComponent, true},
      {"M(s) table", &ModelSelectorFlags::CSWithMsTableModel, true},
      {"c(s,f/f0)", &ModelSelectorFlags::CSff0Model, true},
      {"c(s,f/f0) + discrete", &ModelSelectorFlags::CSff0With1DiscreteModel, true},
      {"nonideal c(s)", &ModelSelectorFlags::NonidealCSModel, true},
      {"ls-g*(s)", &ModelSelectorFlags::LsgStarModel, true},
      {"ls-g*(s) + discrete", &ModelSelectorFlags::LsgStarWith1DiscreteModel, true},
      {"hybrid c(s)/ls-g*(s)", &ModelSelectorFlags::HybridCSLsgModel, true},
      {"zone c(s)", &ModelSelectorFlags::ZoneCentrifugationCSModel, true},
      {"zone ls-g*(s)", &ModelSelectorFlags::ZoneCentrifugationLsgModel, true},
      {"c(v)", &ModelSelectorFlags::ElectrophoresisCVModel, true},
      {"electrophoresis ls-g*", &ModelSelectorFlags::ElectrophoresisLsgModel, true},
      {"boundary transform", &ModelSelectorFlags::SedTransformModel, true},
      {"c(M)", nullptr, false},
      {"f(M) scaling law", &ModelSelectorFlags::FMScalingLawModel, false},
      {"c(M) power law", &ModelSelectorFlags::CMPowerLawModel, false},
      {"c(M) prior vbar", &ModelSelectorFlags::CMPriorVbarModel, false},
      {"c(M) invariant D", &ModelSelectorFlags::CMInvariantDModel, false},
  };
  PriorKnowledge& p = Priors();
  for (int k = 1; k <= 10; ++k) p.peaks[k] = PriorPeak{};
  p.peaks[1] = {5.0, 0.3, 1.0};
  p.use = true;
  for (const Case& c : cases) {
    gModelSelectorFlags = ModelSelectorFlags{};
    gModelSelectorFlags.DistributionModel = 1;
    if (c.on) gModelSelectorFlags.*c.on = 1;
    AssemblePriorProbability();
    const float* expected = c.overS ? cs.sValues : cs.molarMasses;
    for (int i = 1; i <= n; ++i) ASSERT_EQ(cs.priorCompanion[i], expected[i]) << c.model << " point " << i;
    // The peak at 5 S is where the s axis says 5 S, or nowhere on masses.
    int top = 1;
    for (int i = 2; i <= n; ++i)
      if (cs.prior[i] > cs.prior[top]) top = i;
    if (c.overS)
      EXPECT_NEAR(cs.sValues[top], 5.0f, 1e-4) << c.model;
    else
      EXPECT_NEAR(cs.prior[top], 0.001, 1e-9) << c.model;
  }
  // The prior of discrete species comes from the peaks of a c(s): over s
  // even while c(M) is chosen.
  gModelSelectorFlags = ModelSelectorFlags{};
  gModelSelectorFlags.DistributionModel = 1;
  p.use = false;
  p.discreteSpecies = true;
  AssemblePriorProbability();
  for (int i = 1; i <= n; ++i) ASSERT_EQ(cs.priorCompanion[i], cs.sValues[i]) << "point " << i;
  p.discreteSpecies = false;
}

TEST_F(GridTest, LoadedDistributionKeepsMassesForCMAndNormalises) {
  ContiSettings& cs = Conti();
  const std::string path = platform::SystemTempFolder() + "csrun_dist.txt";
  {
    std::ofstream f(path);
    for (int i = 1; i <= 5; ++i) f << 1000.0f * i << " " << (i == 3 ? 2.0f : 1.0f) << "\n";
  }
  gModelSelectorFlags.CSModel = 0;  // c(M)
  DistArrays().normaliseOnLoad = true;
  ASSERT_TRUE(LoadDistributionFromFile(path));
  EXPECT_EQ(cs.gridSize, 5);
  EXPECT_EQ(cs.molarMasses[2], 2000.0f);
  EXPECT_EQ(cs.sValues[2], 0.0f);
  // sum 6 over a trapezoid area of 5000: every value is divided by 6/5000.
  EXPECT_NEAR(DistArrays().normalisationFactor, 6.0 / 5000, 1e-9);
  EXPECT_NEAR(cs.distribution[3], 2.0 * 5000 / 6, 1e-2);
  {
    std::ofstream f(path);
    for (int i = 1; i <= 4; ++i) f << i << " 0\n";
  }
  gModelSelectorFlags.CSModel = 1;
  ASSERT_TRUE(LoadDistributionFromFile(path));
  EXPECT_EQ(cs.sValues[4], 4.0f);
  EXPECT_EQ(cs.molarMasses[4], 0.0f);
  EXPECT_NEAR(DistArrays().normalisationFactor, 6.0 / 5000, 1e-9);  // previous factor kept
  std::remove(path.c_str());
}

TEST_F(GridTest, DlsGridsHoldLogRadiusAndLogD) {
  ContiSettings& cs = Conti();
  CurrentDataTypeFlags().dls = 1;
  gModelSelectorFlags.CSModel = 0;
  gModelSelectorFlags.DlsIRhModel = 1;
  cs.dlsSpacingMixed = 1;  // logarithmic in Rh
  SetGrid(1.0f, 100.0f, 21);
  ASSERT_TRUE(SetupContiGrid());
  EXPECT_NEAR(cs.sValues[1], -9.0, 1e-5);
  EXPECT_NEAR(cs.sValues[21], -7.0, 1e-5);
  EXPECT_NEAR(cs.sValues[11], -8.0, 1e-5);
  EXPECT_NEAR(std::pow(10.0, cs.molarMasses[11]), DFromStokesRadius(1e-8f, 20.0f), 1e-4 * 2e-7);
  cs.dlsSpacingMixed = 0;
  gModelSelectorFlags.DlsIRhModel = 0;
  gModelSelectorFlags.DlsIDModel = 1;
  cs.dlsSpacingLinear = 1;  // linear in D, from 1 to 11 (1e-7 cm^2/s)
  SetGrid(1.0f, 11.0f, 11);
  ASSERT_TRUE(SetupContiGrid());
  EXPECT_NEAR(std::pow(10.0, cs.molarMasses[6]), 6e-7, 1e-11);
  EXPECT_NEAR(std::pow(10.0, cs.sValues[6]), StokesRadiusFromD(6e-7f, 20.0f), 1e-14);
  cs.dlsSpacingLinear = 0;
  gModelSelectorFlags.DlsIDModel = 0;
  gModelSelectorFlags.CSModel = 1;
  CurrentDataTypeFlags().dls = 0;
}
