#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "distributions/conti_models.h"
#include "distributions/conti_parameters.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "platform/scripted_ui.h"
#include "run_test_support.h"
#include "tests/support/fit_state.h"

namespace {

float* P() { return gModelParameterVector.P; }
int* F() { return gModelParameterVector.F; }

// Puts the saved settings back but keeps the arrays, views and plot that
// exist now (they are released by their owners, never by a copy).
void RestoreContiValues(const ContiSettings& saved) {
  const ContiSettings now = Conti();
  ContiSettings& cs = Conti();
  cs = saved;
  for (auto member : {&ContiSettings::ffValues, &ContiSettings::ffWork, &ContiSettings::grid2DS,
                      &ContiSettings::grid2DM, &ContiSettings::grid2DD, &ContiSettings::grid2DStokes,
                      &ContiSettings::grid2DFf, &ContiSettings::grid2DAmplitude, &ContiSettings::ffPrior,
                      &ContiSettings::timeCourseWindowTimes, &ContiSettings::sValues,
                      &ContiSettings::molarMasses, &ContiSettings::unitWeights,
                      &ContiSettings::distribution, &ContiSettings::companionDistribution})
    cs.*member = now.*member;
  cs.prior = now.prior;
  cs.priorCompanion = now.priorCompanion;
  cs.solutionVector = now.solutionVector;
  cs.savedSolutionVector = now.savedSolutionVector;
  cs.timeCourseDistributions = now.timeCourseDistributions;
  cs.distributionPlot = now.distributionPlot;
  cs.distributionX = now.distributionX;
  cs.distributionY = now.distributionY;
  cs.progressIndicator = now.progressIndicator;
  cs.gridSize = now.gridSize;
  cs.grid2DSize = now.grid2DSize;
  cs.ffCount = now.ffCount;
}

struct ContiParametersTest : ::testing::Test {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope{ui};
  ContiSettings savedConti = Conti();

  void SetUp() override {
    teststate::ResetFitState();
    RegisterContiParameterDerivation();
    ContiSolventGradient() = false;
  }
  void TearDown() override {
    teststate::ResetFitState();
    ContiSolventGradient() = false;
    RestoreContiValues(savedConti);
  }

  // What the dialog of a plain c(s) leaves in the vector.
  static void EnterPlainCs() {
    float* p = P();
    p[1] = 0.5f;      // smin
    p[5] = 14.0f;     // smax
    p[9] = 150.7f;    // resolution
    p[2] = 0.683f;    // confidence level
    p[11] = 1.37f;    // f/f0
    p[3] = 0.7312f;   // vbar
    p[7] = 1.0123f;   // density
    p[12] = 0.0125f;  // viscosity, poise
    p[4] = 0.31f;     // hydration
    F()[11] = 1;
    F()[3] = 0;
    F()[4] = 1;
  }
};

}  // namespace

TEST_F(ContiParametersTest, UnpackGivesTheRunItsSettingsAndPackKeepsThem) {
  gModelSelectorFlags.DistributionModel = 1;
  gModelSelectorFlags.CSModel = 1;
  EnterPlainCs();
  UnpackModelParameters();
  for (int round = 0; round < 2; ++round) {
    const ContiSettings& cs = Conti();
    const SolutionConditions& sol = gSolutionConditions;
    EXPECT_EQ(cs.sMin, 0.5f);
    EXPECT_EQ(cs.sMax, 14.0f);
    EXPECT_EQ(cs.resolution, 150.0f);  // whole grid points only
    EXPECT_EQ(cs.confidenceLevel, 0.683f);
    EXPECT_EQ(cs.ffValue, 1.37f);
    EXPECT_EQ(cs.fitFfValue, 1);
    EXPECT_EQ(cs.gridFromFile, 0);
    EXPECT_EQ(cs.logSpacedGrid, 1);
    EXPECT_EQ(sol.vbar, 0.7312f);
    EXPECT_EQ(sol.density, 1.0123f);
    EXPECT_FLOAT_EQ(sol.vbarRho, 0.7312f * 1.0123f);
    EXPECT_NEAR(sol.viscosity, 0.0125 / 0.01002, 1e-6);  // relative to water at 20 degC
    EXPECT_EQ(sol.hydration, 0.31f);
    // The globals hold the slots: a pack from them restores the vector.
    for (int i = 1; i <= kParameterSlots; ++i) P()[i] = -99.0f;
    PackModelParameters();
    EXPECT_EQ(P()[1], 0.5f);
    EXPECT_EQ(P()[5], 14.0f);
    EXPECT_EQ(P()[9], 150.7f);
    EXPECT_EQ(P()[11], 1.37f);
    EXPECT_EQ(P()[12], 0.0125f);
  }
}

TEST_F(ContiParametersTest, OutsideTheFamilyNothingIsTouched) {
  gModelSelectorFlags.LammDiscreteModel = 1;
  Conti().sMin = 3.0f;
  Conti().resolution = 77.0f;
  EnterPlainCs();
  UnpackModelParameters();
  PackModelParameters();
  EXPECT_EQ(Conti().sMin, 3.0f);
  EXPECT_EQ(Conti().resolution, 77.0f);
  EXPECT_EQ(gSolutionConditions.vbar, 0.73f);
  EXPECT_EQ(F()[4], 1);  // a fit flag of component 4 here
}

// Each variant reads its own slots; the values are distinct so that a slot
// read into the wrong field shows.
struct VariantCase {
  const char* name;
  std::function<void(ModelSelectorFlags&)> select;
  std::function<void(float*, int*)> enter;
  std::function<void(const ContiSettings&, const SolutionConditions&, const float*, const int*)> check;
};

void PrintTo(const VariantCase& c, std::ostream* os) { *os << c.name; }

class ContiVariantTest : public ContiParametersTest,
                         public ::testing::WithParamInterface<VariantCase> {};

TEST_P(ContiVariantTest, VariantValuesSurvivePackAndUnpack) {
  const VariantCase& c = GetParam();
  gModelSelectorFlags.DistributionModel = 1;
  c.select(gModelSelectorFlags);
  EnterPlainCs();
  c.enter(P(), F());
  UnpackModelParameters();
  c.check(Conti(), gSolutionConditions, P(), F());
  PackModelParameters();
  c.check(Conti(), gSolutionConditions, P(), F());
  UnpackModelParameters();
  c.check(Conti(), gSolutionConditions, P(), F());
}

INSTANTIATE_TEST_SUITE_P(
    Variants, ContiVariantTest,
    ::testing::Values(
        VariantCase{"FixedFf0FloatingVbar", [](ModelSelectorFlags& f) { f.FixFF0FloatingVbarCSModel = 1; },
                    [](float* p, int* fl) {
                      p[3] = 1.45f;   // f/f0
                      p[11] = 0.72f;  // vbar
                      fl[11] = 1;
                    },
                    [](const ContiSettings& cs, const SolutionConditions& sol, const float*, const int*) {
                      EXPECT_EQ(cs.ffValue, 1.45f);
                      EXPECT_EQ(sol.vbar, 0.72f);
                      EXPECT_EQ(cs.fitFfValue, 0);
                      EXPECT_EQ(ContiStore().vbarFit, 1.0f);
                      EXPECT_FLOAT_EQ(sol.vbarRho, 0.72f * 1.0123f);
                    }},
        VariantCase{"GeneralScalingLaw", [](ModelSelectorFlags& f) { f.FMScalingLawModel = 1; },
                    [](float* p, int* fl) {
                      p[11] = 0.0042f;
                      p[18] = 0.61f;
                      fl[18] = 1;
                      fl[10] = 1;
                    },
                    [](const ContiSettings& cs, const SolutionConditions&, const float*, const int* fl) {
                      EXPECT_EQ(cs.scalingKs, 0.0042f);
                      EXPECT_EQ(cs.fitScalingKs, 1);
                      EXPECT_EQ(cs.scalingBs, 0.61f);
                      EXPECT_EQ(cs.fitScalingBs, 1);
                      EXPECT_EQ(fl[18], 0);
                      EXPECT_EQ(cs.fitFfValue, 0);
                    }},
        VariantCase{"WormlikeChain", [](ModelSelectorFlags& f) { f.WormlikeChainCSModel = 1; },
                    [](float* p, int*) {
                      p[11] = 41.0f;
                      p[10] = 19.0f;
                      p[6] = 8700.0f;
                      p[8] = 0.45f;
                    },
                    [](const ContiSettings& cs, const SolutionConditions& sol, const float*, const int*) {
                      EXPECT_EQ(cs.wormPersistenceLength, 41.0f);
                      EXPECT_EQ(cs.fitWormPersistenceLength, 1);
                      EXPECT_EQ(cs.wormCrossSection, 19.0f);
                      EXPECT_EQ(cs.wormMonomerMass, 8700.0f);
                      EXPECT_EQ(cs.wormHydration, 0.45f);
                      EXPECT_EQ(sol.vbar, 0.7312f);
                      EXPECT_EQ(cs.fitFfValue, 0);
                    }},
        VariantCase{"BimodalWithDiscrete", [](ModelSelectorFlags& f) { f.BimodalFF0With1DiscreteCSModel = 1; },
                    [](float* p, int* fl) {
                      p[10] = 2.2f;
                      p[6] = 9.0f;
                      p[8] = 18.0f;
                      fl[6] = 1;
                      p[16] = 66000.0f;
                      p[17] = 4.1f;
                      fl[17] = 1;
                    },
                    [](const ContiSettings& cs, const SolutionConditions&, const float*, const int*) {
                      EXPECT_EQ(cs.secondFf, 2.2f);
                      EXPECT_EQ(cs.secondFfSMin, 9.0f);
                      EXPECT_EQ(cs.secondFfSMax, 18.0f);
                      EXPECT_EQ(cs.fitSecondFf, 1);
                      EXPECT_EQ(cs.discreteM, 66000.0f);
                      EXPECT_EQ(cs.discreteS, 4.1f);
                      EXPECT_EQ(cs.fitDiscreteS, 1);
                      EXPECT_EQ(cs.ffValue, 1.37f);
                    }},
        VariantCase{"OneDiscreteByD", [](ModelSelectorFlags& f) { f.CSWith1DiscreteModel = 1; },
                    [](float* p, int* fl) {
                      p[10] = 6.3f;  // D, 1e-7 cm^2/s
                      fl[10] = 1;
                      p[6] = 0.41f;
                    },
                    [](const ContiSettings& cs, const SolutionConditions&, const float*, const int*) {
                      EXPECT_EQ(cs.discreteD, 6.3f);
                      EXPECT_EQ(cs.fitDiscreteD, 1);
                      EXPECT_EQ(cs.discreteS, 0.41f);
                    }},
        VariantCase{"OneDiscreteByM", [](ModelSelectorFlags& f) { f.CSWith1DiscreteComponent = 1; },
                    [](float* p, int*) {
                      p[10] = 410.0f;
                      p[6] = 0.52f;
                    },
                    [](const ContiSettings& cs, const SolutionConditions&, const float*, const int*) {
                      EXPECT_EQ(cs.discreteM, 410.0f);
                      EXPECT_EQ(cs.discreteS, 0.52f);
                    }},
        VariantCase{"SizeAndShape", [](ModelSelectorFlags& f) { f.CSff0Model = 1; },
                    [](float* p, int*) {
                      p[10] = 1.1f;
                      p[6] = 2.6f;
                      p[8] = 7.9f;
                    },
                    [](const ContiSettings& cs, const SolutionConditions&, const float*, const int*) {
                      EXPECT_EQ(cs.ffMin, 1.1f);
                      EXPECT_EQ(cs.ffMax, 2.6f);
                      EXPECT_EQ(cs.ffResolution, 7.0f);
                      EXPECT_EQ(cs.ffCount, 7);
                      EXPECT_EQ(cs.grid2DSize, 7 * 150);
                    }},
        VariantCase{"ElectrophoresisConstantD", [](ModelSelectorFlags& f) { f.ElectrophoresisCVModel = 1; },
                    [](float* p, int* fl) {
                      p[3] = 3.3f;
                      fl[3] = 1;  // the fit flag of D, not "s grid from file"
                    },
                    [](const ContiSettings& cs, const SolutionConditions&, const float*, const int*) {
                      EXPECT_EQ(cs.constantD, 3.3f);
                      EXPECT_EQ(cs.fitConstantD, 1);
                      EXPECT_EQ(cs.gridFromFile, 0);
                    }}),
    [](const ::testing::TestParamInfo<VariantCase>& info) { return std::string(info.param.name); });

TEST_F(ContiParametersTest, SavedLogGridSwitchWinsOnceAfterAReload) {
  gModelSelectorFlags.DistributionModel = 1;
  gModelSelectorFlags.CSModel = 1;
  EnterPlainCs();
  F()[4] = 0;
  UnpackModelParameters();
  Conti().logSpacedGrid = 1;  // as the parameter file left it
  gModelParams.reloadGridFlag = 1;
  PackModelParameters();
  EXPECT_EQ(F()[4], 1);
  EXPECT_EQ(gModelParams.reloadGridFlag, 0);
  PackModelParameters();  // and it stays with the next pack
  EXPECT_EQ(F()[4], 1);
  EXPECT_EQ(Conti().logSpacedGrid, 1);
  gModelParams.massOrDFit[4] = 0;  // the dialog's box, unticked
  PackModelParameters();
  EXPECT_EQ(F()[4], 0);
  EXPECT_EQ(Conti().logSpacedGrid, 0);
}

TEST_F(ContiParametersTest, NonidealCsPacksTheGridSwitchesIntoTheirFlags) {
  gModelSelectorFlags.DistributionModel = 1;
  gModelSelectorFlags.NonidealCSModel = 1;
  EnterPlainCs();
  UnpackModelParameters();
  Conti().gridFromFile = 1;
  Conti().logSpacedGrid = 0;
  PackModelParameters();
  EXPECT_EQ(F()[3], 1);
  EXPECT_EQ(F()[4], 0);
  EXPECT_EQ(Conti().gridFromFile, 1);
  // The dialog's non-ideal option in the discrete model leaves its fit flags alone.
  gModelSelectorFlags = ModelSelectorFlags{};
  gModelSelectorFlags.LammDiscreteModel = 1;
  gModelSelectorFlags.ConcDependentSolverSwitch = 1;
  gModelParams.massOrDFit[3] = 0;
  gModelParams.massOrDFit[4] = 1;
  PackModelParameters();
  EXPECT_EQ(F()[3], 0);
  EXPECT_EQ(F()[4], 1);
}

TEST_F(ContiParametersTest, SolventGradientKeepsTheStandardConditions) {
  gModelSelectorFlags.DistributionModel = 1;
  gModelSelectorFlags.CSModel = 1;
  EnterPlainCs();
  // Unchanged conditions are never refused, whatever the float rounding.
  for (float visc : {0.01002f, 0.0125f, 0.0231f, 0.0893f}) {
    ContiSolventGradient() = false;
    P()[12] = visc;
    UnpackModelParameters();
    ContiSolventGradient() = true;
    for (int i = 0; i < 5; ++i) {
      PackModelParameters();
      UnpackModelParameters();
    }
  }
  EXPECT_TRUE(ui.transcript.empty()) << ui.transcript[0].text;
  const float density = gSolutionConditions.density, viscosity = gSolutionConditions.viscosity;
  ui.ExpectBox("Parameter Error", "standard conditions cannot be changed - switch off solvent gradient");
  P()[7] = 1.1f;
  UnpackModelParameters();
  EXPECT_TRUE(ui.AllConsumed());
  EXPECT_TRUE(ui.failures.empty());
  EXPECT_EQ(P()[7], density);
  EXPECT_EQ(gSolutionConditions.density, density);
  EXPECT_EQ(gSolutionConditions.viscosity, viscosity);
  EXPECT_FLOAT_EQ(P()[12], viscosity * 0.01002f);
}

TEST_F(ContiParametersTest, InvariantDOfZeroBecomesOneTenBillionth) {
  gModelSelectorFlags.DistributionModel = 1;
  gModelSelectorFlags.CSInvariantDModel = 1;
  EnterPlainCs();
  P()[11] = 0.0f;
  ui.ExpectBox("Warning",
               "diffusion coefficient must be positive, current entry could cause crash\nhas been changed to 1e-10!");
  UnpackModelParameters();
  EXPECT_TRUE(ui.AllConsumed());
  EXPECT_EQ(P()[11], 0.001f);
  EXPECT_EQ(Conti().invariantD, 0.001f);  // 1e-7 cm^2/s units: 1e-10 cm^2/s
  PackModelParameters();  // told once
  EXPECT_TRUE(ui.failures.empty()) << ui.failures[0];
}

TEST_F(ContiParametersTest, ExtrapolationLimitsTheVanHoldeWeischetResolution) {
  gModelSelectorFlags.LsgExtrapolationModel = 1;
  float* p = P();
  p[9] = 80.9f;
  p[2] = 0.9f;
  p[1] = 1.0f;
  p[5] = 12.0f;
  p[11] = 120.4f;
  p[3] = 5.8f;
  UnpackModelParameters();
  EXPECT_EQ(Conti().resolution, 80.0f);
  EXPECT_EQ(Conti().confidenceLevel, 0.9f);
  EXPECT_EQ(LsgExtrapolation().vhwResolution, 80);
  EXPECT_EQ(p[11], 80.0f);
  EXPECT_EQ(LsgExtrapolation().scansPerGStar, 5);
  p[11] = 30.6f;
  UnpackModelParameters();
  EXPECT_EQ(LsgExtrapolation().vhwResolution, 30);
  EXPECT_EQ(p[11], 30.6f);
}

TEST_F(ContiParametersTest, AllocatedSizeAndShapeArraysKeepTheirCountsUntilTheNextGrid) {
  gModelSelectorFlags.DistributionModel = 1;
  gModelSelectorFlags.CSff0Model = 1;
  AllocDistributionArrays(20, 20 * 4, 4);
  Conti().ffCount = 4;
  EnterPlainCs();
  P()[8] = 9.0f;  // the dialog asks for 9 f/f0 values
  UnpackModelParameters();
  EXPECT_EQ(Conti().ffResolution, 9.0f);  // the next grid set-up builds 9
  EXPECT_EQ(Conti().ffCount, 4);          // the arrays in place still hold 4
  EXPECT_EQ(Conti().grid2DSize, 80);
  FreeDistributionArrays();
}

// The values in the vector, not the records, are what the run computes with.
TEST_F(ContiParametersTest, MeniscusAndFrictionalRatioInTheVectorReachTheRun) {
  using namespace runtest;
  ClearParameterDerivations();
  Experiment e(6, 100);
  gModelParams.meniscus = 6.02f;
  PackModelParameters();
  Conti().ffValue = 1.5f;
  ASSERT_TRUE(MakeSyntheticData(e, 1.0f, 10.0f, 16, {{4, 0.6f}, {11, 0.3f}}));

  RegisterContiParameterDerivation();
  gModelParams.meniscus = 6.0f;
  const SolutionConditions solvent = gSolutionConditions;
  PackModelParameters();  // the records' values: meniscus 6.0 in P[13]
  float* p = P();
  p[1] = 1.0f;
  p[5] = 10.0f;
  p[9] = 16.0f;
  p[2] = 0.5f;
  p[3] = solvent.vbar;
  p[7] = solvent.density;
  p[12] = 0.01002f;
  p[4] = 0.3f;
  Conti().maxEntropy = 0;
  auto runWith = [&](float meniscus, float ff0) {
    Conti().ffValue = 1.2f;
    Conti().sMin = 2.0f;
    p[13] = meniscus;
    p[11] = ff0;
    RunContiSed();
    double worst = 0;
    const ScanSet& s = CurrentScanSet();
    for (int j = 1; j <= 6; ++j)
      for (int i = s.firstGridPoint; i <= s.lastGridPoint; ++i)
        worst = std::max(worst, static_cast<double>(std::fabs(s.model[j][i] - s.signals[j][i])));
    return worst;
  };
  EXPECT_LT(runWith(6.02f, 1.5f), 1e-4);
  EXPECT_EQ(gModelParams.meniscus, 6.02f);
  EXPECT_EQ(Conti().ffValue, 1.5f);
  EXPECT_EQ(Conti().sMin, 1.0f);
  EXPECT_EQ(Conti().gridSize, 16);
  // Either value changed in the vector alone changes the fit.
  EXPECT_GT(runWith(6.0f, 1.5f), 1e-3);
  EXPECT_GT(runWith(6.02f, 1.2f), 1e-3);
  EXPECT_TRUE(ui.failures.empty()) << ui.failures[0];
}

TEST_F(ContiParametersTest, HybridTakesItsThresholdAndOptionalDiscreteSpeciesFromItsDialogSlots) {
  gModelSelectorFlags.DistributionModel = 1;
  gModelSelectorFlags.CSModel = 1;
  gModelSelectorFlags.HybridCSLsgModel = 1;
  EnterPlainCs();
  P()[10] = 6.5f;  // "ls-g*(s) for s >"
  P()[6] = 0.9f;   // no meaning in the hybrid: nothing may take it
  UnpackModelParameters();
  EXPECT_EQ(Conti().hybridThreshold, 6.5);
  EXPECT_EQ(Conti().hybridDiscrete, 0);
  // M and s of the discrete species (fields 443 and "s of discrete comp").
  P()[16] = 350.0f;
  P()[17] = 0.34f;
  F()[17] = 1;
  UnpackModelParameters();
  EXPECT_EQ(Conti().hybridDiscrete, 1);
  EXPECT_EQ(Conti().discreteM, 350.0f);
  EXPECT_EQ(Conti().discreteS, 0.34f);
  EXPECT_EQ(Conti().fitDiscreteS, 1);
  EXPECT_EQ(Conti().hybridThreshold, 6.5);  // the threshold is not the discrete M
  // Either value 0 takes the species out again.
  P()[17] = 0.0f;
  UnpackModelParameters();
  EXPECT_EQ(Conti().hybridDiscrete, 0);
}
