#include <gtest/gtest.h>

#include "distributions/conti_models.h"
#include "distributions/hydrodynamics.h"
#include "distributions/model_starts.h"
#include "platform/scripted_ui.h"
#include "run_test_support.h"
#include "tests/support/distribution_state.h"
#include "tests/support/fit_state.h"

using namespace runtest;

namespace {

struct ModelCommands : ::testing::Test {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope{ui};
  Experiment e{2, 20};
  ContiModelCommandContext ctx;
  bool mAndS = false;
  void SetUp() override {
    teststate::ResetFitState();
    teststate::ResetDistributionState();
    ctx.fitMAndS = &mAndS;
    ctx.scanCount = 2;
    ctx.lastScanTemperature = 20.0f;
    Conti().secondDerivative = 0;
    Conti().maxEntropy = 1;
  }
  void TearDown() override { FreeDistributionArrays(); }
  // The first start of model `id`, as its entry puts it in place before
  // the command runs.
  void Start(int id) {
    ModelStartData data;
    data.dls = ctx.dlsDataLoaded;
    data.scanCount = ctx.scanCount;
    data.lastScanTemperature = ctx.lastScanTemperature;
    data.fitMAndS = mAndS;
    ctx.startToMaxEntropy = WriteModelStart(id, data).toMaxEntropy;
    mAndS = data.fitMAndS;
  }
};

}  // namespace

TEST_F(ModelCommands, FromAnotherFamilyToCMAndOnToAVariant) {
  ContiSettings& cs = Conti();
  cs.sMin = 1.0f;
  cs.sMax = 10.0f;
  gModelSelectorFlags.LammDiscreteModel = 1;
  Start(kCmContinuousCMModel);
  const ContiModelCommandResult r = CmContinuousCMModel(ctx);
  EXPECT_FALSE(r.refused);
  EXPECT_TRUE(gModelSelectorFlags.DistributionModel);
  EXPECT_FALSE(gModelSelectorFlags.LammDiscreteModel);
  EXPECT_FALSE(gModelSelectorFlags.CSModel);
  // The range in S became a range in molar mass.
  EXPECT_FLOAT_EQ(cs.sMin, CalculateM(1.0f));
  EXPECT_EQ(gModelParameterVector.P[1], cs.sMin);
  EXPECT_EQ(gModelParameterVector.P[5], cs.sMax);
  // The distribution's own grid size is in use; the default is not its.
  EXPECT_EQ(LammSettings().gridSize.inUse, 500);
  EXPECT_EQ(LammSettings().gridSize.setting, LammSolverSettings{}.gridSize.setting);
  // A variant converts the mass range back to s at the last scan's temperature.
  cs.sMin = 10000.0f;
  cs.sMax = 500000.0f;
  Start(kCmBimodalFF0CSModel);
  CmContinuousCSVariant(CsVariant::BimodalFf0, ctx);
  EXPECT_TRUE(gModelSelectorFlags.BimodalFF0CSModel);
  EXPECT_FALSE(gModelSelectorFlags.CSModel);
  EXPECT_FLOAT_EQ(cs.sMin, SFromMD(10000.0f, DFromMGlobalFf0(10000.0f, 20.0f), 20.0f));
  EXPECT_EQ(gModelParameterVector.P[10], 2.0f);
  // c(s) itself inside the family clears the variant and keeps the numbers.
  const float smin = cs.sMin;
  CmContinuousCSModel(ctx);
  EXPECT_TRUE(gModelSelectorFlags.CSModel);
  EXPECT_FALSE(gModelSelectorFlags.BimodalFF0CSModel);
  EXPECT_EQ(cs.sMin, smin);
  EXPECT_TRUE(ui.failures.empty()) << ui.failures[0];
}

TEST_F(ModelCommands, VariantWithoutScansTakesItsDefaultRange) {
  ctx.scanCount = 0;
  Start(kCmGeneralScalingLawCSModel);
  CmContinuousCSVariant(CsVariant::GeneralScalingLaw, ctx);
  EXPECT_EQ(Conti().sMin, 0.5f);
  EXPECT_EQ(Conti().sMax, 20.0f);
  EXPECT_EQ(gModelParameterVector.P[11], 0.003f);  // P[2n+3], the prefactor
  Start(kCmCSff0With1DiscreteModel);
  CmContinuousCSVariant(CsVariant::CsFf0With1Discrete, ctx);
  EXPECT_TRUE(gModelSelectorFlags.CSff0With1DiscreteModel);
  EXPECT_FALSE(gModelSelectorFlags.GeneralScalingLawCSModel);
  EXPECT_TRUE(mAndS);
  EXPECT_EQ(Conti().sMin, 0.1f);
}

TEST_F(ModelCommands, DlsDataAreRefusedWithoutChange) {
  ctx.dlsDataLoaded = true;
  gModelSelectorFlags.LammDiscreteModel = 1;
  ui.ExpectBox("ERROR", "this model is not implemented for DLS data");
  ui.ExpectBox("ERROR", "this model is not implemented for DLS data");
  EXPECT_TRUE(CmContinuousCSVariant(CsVariant::WormlikeChain, ctx).refused);
  EXPECT_TRUE(CmContinuousCSModel(ctx).refused);
  EXPECT_TRUE(gModelSelectorFlags.LammDiscreteModel);
  EXPECT_FALSE(gModelSelectorFlags.DistributionModel);
  // A DLS distribution may use the common set-up.
  gModelSelectorFlags.DlsIDModel = 1;
  EXPECT_FALSE(CmContinuousCMModel(ctx).refused);
  EXPECT_TRUE(ui.failures.empty()) << ui.failures[0];
  EXPECT_TRUE(ui.AllConsumed());
}

TEST_F(ModelCommands, SedimentationScansDropAnEarlierDlsDistribution) {
  ModelSelectorFlags& f = gModelSelectorFlags;
  // A DLS analysis before, sedimentation scans loaded now: c(s), c(M) and a
  // variant each leave no DLS switch behind.
  f.DistributionModel = 1;
  f.DlsIRhModel = 1;
  EXPECT_FALSE(CmContinuousCSModel(ctx).refused);
  EXPECT_TRUE(f.CSModel);
  EXPECT_FALSE(f.DlsIRhModel);
  f.DlsIDModel = 1;
  EXPECT_FALSE(CmContinuousCMModel(ctx).refused);
  EXPECT_FALSE(f.DlsIDModel);
  f.DlsIRhTimeCourseModel = 1;
  EXPECT_FALSE(CmContinuousCSVariant(CsVariant::BimodalFf0, ctx).refused);
  EXPECT_TRUE(f.BimodalFF0CSModel);
  EXPECT_FALSE(f.DlsIRhTimeCourseModel);
  // With DLS data the common set-up keeps the DLS distribution it serves.
  ctx.dlsDataLoaded = true;
  f.DlsIRhModel = 1;
  EXPECT_FALSE(CmContinuousCMModel(ctx).refused);
  EXPECT_TRUE(f.DlsIRhModel);
  EXPECT_TRUE(ui.failures.empty()) << ui.failures[0];
}

// c(s) started from ls-g*(s) with Tikhonov-Phillips goes to maximum
// entropy and says so.
TEST_F(ModelCommands, AStartThatLeavesSecondDerivativeSwitchesToMaximumEntropy) {
  ContiSettings& cs = Conti();
  for (bool quiet : {false, true}) {
    gModelSelectorFlags.DistributionModel = 1;
    gModelSelectorFlags.LsgStarModel = 1;
    cs.secondDerivative = 1;
    cs.maxEntropy = 0;
    ctx.quiet = quiet;
    if (!quiet)
      ui.ExpectBox("continuous distribution", "Please Note: Switching now to Maximum Entropy Regularization");
    Start(kCmContinuousCSModel);
    CmContinuousCSModel(ctx);
    EXPECT_EQ(cs.secondDerivative, 0);
    EXPECT_EQ(cs.maxEntropy, 1);
  }
  // And the other way for the models that want Tikhonov-Phillips.
  ui.ExpectBox("ls-g(s)", "Please Note: Switching now to Tikhonov-Phillips Regularization");
  SetSecondDerivativeRegularization(false, "ls-g(s)");
  EXPECT_EQ(cs.secondDerivative, 1);
  EXPECT_EQ(cs.maxEntropy, 0);
  SetSecondDerivativeRegularization(false, "ls-g(s)");  // already on: silent
  EXPECT_TRUE(ui.failures.empty()) << ui.failures[0];
  EXPECT_EQ(ui.transcript.size(), 2u);
}
