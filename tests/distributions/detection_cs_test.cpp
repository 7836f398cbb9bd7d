// c(s) of fluorescence scans whose detector responds nonlinearly. The scans
// are made from a known distribution, then bent by the inverse power law
// g(x) = (x - b)^(1/p) + b; with the correction on (power p, baseline b) the
// run must see straight signals again and find the distribution, while the
// user keeps looking at the copy they chose.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "data/fluorescence_corrections.h"
#include "distributions/conti_fit.h"
#include "distributions/conti_fit_display.h"
#include "fit/fit_host.h"
#include "fit/fit_vector.h"
#include "fit/fluorescence_options.h"
#include "numerics/random.h"
#include "platform/scripted_ui.h"
#include "run_test_support.h"

using namespace runtest;

namespace {

constexpr float kPower = 1.4f;
constexpr float kBaseline = 0.05f;

class Host : public FitHost {
 public:
  void SimulateModel() override {}
};

float TI(int i) { return 0.02f * std::sin(0.3f * i); }
float RI(int j) { return 0.03f * j; }

struct DetectionRun : ::testing::Test {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope{ui};
  Experiment e{6, 100};
  std::vector<std::vector<float>> straight, measured;

  void SetUp() override {
    FreeNonlinearDetectionTables();
    CurrentFdsSignalParams() = FdsSignalParams{};
    CurrentDataTypeFlags() = DataTypeFlags{};  // whatever an earlier test loaded
    SetGrid(1.0f, 10.0f, 16);
    Conti().maxEntropy = 0;
    Conti().confidenceLevel = 0.5f;
    ASSERT_TRUE(MakeSyntheticData(e, {{4, 0.6f}, {11, 0.3f}}));
  }
  void TearDown() override {
    FreeNonlinearDetectionTables();
    CurrentFdsSignalParams() = FdsSignalParams{};
    gFitEngineState.fitTINoise = 0;
    gModelParams.riNoiseFit = 0;
    PackModelParameters();
    SetFitOptionProvider(nullptr);
  }
  // The straight signals (with noise `ti`, `ri` added) as the detector
  // would report them.
  void Bend(float ti(int) = nullptr, float ri(int) = nullptr) {
    ScanSet& s = CurrentScanSet();
    straight.assign(e.scans + 1, {});
    measured.assign(e.scans + 1, {});
    for (int j = 1; j <= e.scans; ++j) {
      straight[j].assign(e.points + 1, 0.0f);
      measured[j].assign(e.points + 1, 0.0f);
      for (int i = 1; i <= e.points; ++i) {
        const float x = s.signals[j][i] + (ti ? ti(i) : 0.0f) + (ri ? ri(j) : 0.0f);
        straight[j][i] = x;
        const float y = x > kBaseline ? std::pow(x - kBaseline, 1.0f / kPower) + kBaseline : x;
        measured[j][i] = s.signals[j][i] = s.gridSignals[j][i] = y;
      }
    }
  }
  static void DetectionOn(bool showTransformed) {
    FdsSignalParams& p = CurrentFdsSignalParams();
    p.useNonlinearDetection = 1;
    p.detectionPower = kPower;
    p.detectionBaseline = kBaseline;
    p.showTransformed = showTransformed ? 1 : 0;
  }
  // Largest |scan value - expected| over the fitted points.
  double Worst(float* const* arrays, const std::vector<std::vector<float>>& expected) const {
    const ScanSet& s = CurrentScanSet();
    double worst = 0.0;
    for (int j = 1; j <= e.scans; ++j)
      for (int i = s.firstFitPoint[j]; i <= s.lastFitPoint[j]; ++i)
        worst = std::max(worst, static_cast<double>(std::fabs(arrays[j][i] - expected[j][i])));
    return worst;
  }
};

TEST_F(DetectionRun, LinearisedScansGiveTheDistributionAndTheMeasuredOnesComeBack) {
  Bend();
  DetectionOn(false);
  RunContiSed();
  EXPECT_TRUE(ui.failures.empty());
  ExpectGridAmplitudes(16, {{4, 0.6}, {11, 0.3}}, 2e-4);
  const ScanSet& s = CurrentScanSet();
  // The measured signals exactly as loaded, the model mapped back beside them.
  EXPECT_EQ(Worst(s.signals.data(), measured), 0.0);
  EXPECT_LT(Worst(s.model.data(), measured), 1e-4);
  EXPECT_EQ(CurrentFdsSignalParams().transformShown, 0);
  EXPECT_LT(NonlinearDetectionRmsd(), 1e-4f);
  EXPECT_EQ(s.dataChanged, 0);
}

TEST_F(DetectionRun, WithTheCorrectionOffTheBentScansAreFittedAsTheyAre) {
  Bend();
  CurrentFdsSignalParams().detectionPower = kPower;  // entered, but not in use
  RunContiSed();
  const ScanSet& s = CurrentScanSet();
  EXPECT_EQ(Worst(s.signals.data(), measured), 0.0);
  // Straight kernels cannot follow the bend: the amplitudes move away from
  // the truth and the misfit is far above the float noise of the first test.
  EXPECT_GT(std::fabs(Amplitude(4) - 0.6) + std::fabs(Amplitude(11) - 0.3), 0.01);
  EXPECT_GT(Worst(s.model.data(), measured), 1e-3);
}

TEST_F(DetectionRun, ARefusedRunLeavesTheMeasuredScansOnView) {
  Bend();
  DetectionOn(false);
  SetGrid(10.0f, 105.0f, 20);  // beyond what the first scan can show
  ui.ExpectBox("", "sedimentation coefficient #20 (105.000S) is exceeding maximum observable s-values");
  RunContiSed();
  EXPECT_EQ(CurrentFdsSignalParams().transformShown, 0);
  EXPECT_EQ(Worst(CurrentScanSet().signals.data(), measured), 0.0);
}

TEST_F(DetectionRun, SyntheticScansComeOutAsTheDetectorReportsThem) {
  Bend();  // the straight synthetic signals of the set-up, and their bent image
  DetectionOn(false);
  ASSERT_TRUE(MakeSyntheticData(e, {{4, 0.6f}, {11, 0.3f}}));
  EXPECT_LT(Worst(CurrentScanSet().signals.data(), measured), 1e-6);
}

TEST_F(DetectionRun, ShownLinearisedScansKeepTheFittedNoise) {
  Bend(TI, RI);
  DetectionOn(true);
  gFitEngineState.fitTINoise = 1;
  gModelParams.riNoiseFit = 1;
  PackModelParameters();
  RunContiSed();
  ExpectGridAmplitudes(16, {{4, 0.6}, {11, 0.3}}, 5e-4);
  const ScanSet& s = CurrentScanSet();
  EXPECT_EQ(CurrentFdsSignalParams().transformShown, 1);
  EXPECT_LT(Worst(s.signals.data(), straight), 1e-5);
  EXPECT_LT(Worst(s.model.data(), straight), 2e-4);
  // TI and RI are found up to the constant they share.
  const float offset = s.tiNoise[50] - TI(50);
  for (int i = s.firstGridPoint; i <= s.lastGridPoint; i += 9)
    EXPECT_NEAR(s.tiNoise[i] - TI(i), offset, 2e-4) << i;
  for (int j = 1; j <= e.scans; ++j) EXPECT_NEAR(s.riNoise[j] - RI(j), -offset, 2e-4) << j;
}

TEST_F(DetectionRun, TheFitJudgesTheMeasuredSignalsAndFindsThePower) {
  Bend();
  e.AddGaussianNoise(0.002f, 11);
  for (int j = 1; j <= e.scans; ++j)
    for (int i = 1; i <= e.points; ++i) measured[j][i] = CurrentScanSet().signals[j][i];
  DetectionOn(false);
  Host host;
  ASSERT_TRUE(SetupContiGrid());
  // One evaluation: the misfit is that of the measured signals, the
  // linearised ones stay in place for the fill-in that follows.
  const float rmsd = ContiSimplexSim(nullptr, &host);
  EXPECT_FLOAT_EQ(rmsd, NonlinearDetectionRmsd());
  EXPECT_NEAR(rmsd, 0.002, 0.0003);
  EXPECT_EQ(CurrentFdsSignalParams().transformShown, 1);
  EXPECT_EQ(gFitEngineState.stopRequested, 0);

  // The power floated from a wrong start comes back to the minimum of the
  // misfit, next to the detector's.
  SetFitOptionProvider(ProvideFluorescenceFitOptions);
  CurrentFdsSignalParams().fitDetectionPower = 1;
  CurrentFdsSignalParams().detectionPower = 1.2f;
  FitEngineState& fs = gFitEngineState;
  fs.useSimplex = 1;
  fs.useMarquardt = fs.useAnnealing = 0;
  fs.stopRequested = 0;
  // The minimum of the misfit over the power, in steps of 0.002: the
  // noise puts it near, not at, the detector's power.
  float lowest = 1e10f, atLowest = 0.0f;
  for (int k = 0; k <= 80; ++k) {
    float v[2] = {0.0f, 1.30f + 0.002f * k};
    const float value = ContiSimplexSim(v, &host);
    if (value < lowest) {
      lowest = value;
      atLowest = v[1];
    }
  }
  ASSERT_EQ(fs.stopRequested, 0);
  CurrentFdsSignalParams().detectionPower = 1.2f;
  SeedGaussRandom(5);
  ASSERT_EQ(ContiFit(&host), 1);
  EXPECT_NEAR(CurrentFdsSignalParams().detectionPower, atLowest, 0.004);
  EXPECT_LE(fs.currentRmsd, lowest * (1 + 1e-5f));
  EXPECT_NEAR(CurrentFdsSignalParams().detectionPower, kPower, 0.04);
  EXPECT_NEAR(fs.currentRmsd, 0.002, 0.0003);
  // The display step put the measured signals back.
  EXPECT_EQ(CurrentFdsSignalParams().transformShown, 0);
  EXPECT_EQ(Worst(CurrentScanSet().signals.data(), measured), 0.0);
  EXPECT_EQ(fs.fitRunning, 0);
}

TEST(ContiFitSignalCorrections, LineNamesEachCorrectionInUseInItsOrder) {
  struct Case {
    const char* name;
    void (*set)(FdsSignalParams&);
    const char* line;
  };
  const Case cases[] = {
      {"none", [](FdsSignalParams&) {}, ""},
      {"detection floated, linearised on view",
       [](FdsSignalParams& p) {
         p.useNonlinearDetection = p.fitDetectionPower = p.showTransformed = 1;
         p.detectionPower = 1.4f;
         p.detectionBaseline = 0.05f;
       },
       " - nonlin coeff = 1.4000 (floating), nonlin baseline = 0.050000 [showing transformed]"},
      {"detection fixed, measured on view",
       [](FdsSignalParams& p) {
         p.useNonlinearDetection = 1;
         p.detectionPower = 0.8f;
       },
       " - nonlin coeff = 0.8000 (fix), nonlin baseline = 0.000000 [showing non-transformed]"},
      {"all of them",
       [](FdsSignalParams& p) {
         p.useShadow = 1;
         p.coneRadius = 0.13f;
         p.useDrift = p.useExponentialDrift = p.fitDriftRate = 1;
         p.driftRate = 0.5f;
         p.limitingLevel = 0.85f;
         p.useLinearDrift = p.fitLinearDrift = 1;
         p.linearDrift = 0.02f;
         p.useConvolution = 1;
         p.convolutionWidth = 0.01f;
         p.useRadialGradient = p.fitRadialGradient = 1;
         p.radialGradient = 1.03f;
         p.useNonlinearDetection = 1;
         p.detectionPower = 1.25f;
         p.useDepletion = p.fitDepletionS = 1;
         p.depletionS = 4.25f;
         p.depletionD = 6.5e-7f;
         p.depletionAmplitude = 0.5f;
       },
       " - excit. cone = 0.1300 (fix) - kbleach = 0.5000 1/h (floating) - Alim = 85.0000 % (fix)"
       " - drift = 2.000 %/h (floating) - w convolution (fix) - radial mag factor = 1.0300 (floating)"
       " - nonlin coeff = 1.2500 (fix), nonlin baseline = 0.000000 [showing non-transformed]"
       " - JO-s = 4.2500 (float) - JO-D = 6.5000 (fix) - JO-amp = 0.5000 (fix)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FdsSignalParams& p = CurrentFdsSignalParams();
    p = FdsSignalParams{};
    c.set(p);
    EXPECT_EQ(ComposeContiFitLines()[7], c.line);
  }
  CurrentFdsSignalParams() = FdsSignalParams{};
}

}  // namespace
