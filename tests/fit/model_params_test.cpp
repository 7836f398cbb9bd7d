#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "fit/clear_model_selection.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/model_table.h"
#include "lamm/lamm_settings.h"
#include "tests/support/fit_state.h"

namespace {

class ModelParamsTest : public ::testing::Test {
 protected:
  void SetUp() override { teststate::ResetFitState(); }
  float* P = gModelParameterVector.P;
  int* F = gModelParameterVector.F;
};

TEST_F(ModelParamsTest, DefaultsFillTheSlotsOfComponentOne) {
  AllocParameterArrays();
  EXPECT_FLOAT_EQ(P[1], 50000.0f);  // molar-mass parametrisation is the default
  EXPECT_FLOAT_EQ(P[5], 4.0f);
  EXPECT_FLOAT_EQ(P[9], 0.5f);
  EXPECT_EQ(F[1] + F[5] + F[9], 3);
  EXPECT_FLOAT_EQ(P[25], 6.5f);
  EXPECT_FLOAT_EQ(P[28], 1.0f);
  EXPECT_FLOAT_EQ(P[34], 0.0f);
  for (int i = 25; i <= 34; ++i) EXPECT_EQ(F[i], 0) << i;

  gFitEngineState.molarMassParameters = 0;
  AllocParameterArrays();
  EXPECT_FLOAT_EQ(P[1], 5.0f);
}

TEST_F(ModelParamsTest, PackThenUnpackKeepsEveryGlobalAndClampsOnlyTheNonNegativeTerms) {
  ModelParams& mp = gModelParams;
  for (int k = 1; k <= 4; ++k) {
    mp.massOrD[k] = 10.0f * k;
    mp.s[k] = -1.5f * k;
    mp.concentration[k] = 0.1f * k;
    mp.extra[k] = 7.0f + k;
    mp.sFit[k] = k % 2;
  }
  mp.meniscus = 6.0f;
  mp.bottom = 7.2f;
  mp.baseline = -0.01f;
  mp.value20 = 3.0f;
  mp.value22 = -2.0f;
  mp.startTime = 120.0f;
  for (int j = 1; j <= 10; ++j) mp.nonidealTerm[j] = -static_cast<float>(j);
  const ModelParams before = mp;

  PackModelParameters();
  EXPECT_FLOAT_EQ(P[13], 6.0f);
  EXPECT_FLOAT_EQ(P[14], 7.2f);
  EXPECT_FLOAT_EQ(P[19], 11.0f);
  EXPECT_FLOAT_EQ(P[24], 120.0f);
  EXPECT_EQ(F[7], 1);
  UnpackModelParameters();

  for (int k = 1; k <= 4; ++k) {
    EXPECT_EQ(mp.massOrD[k], before.massOrD[k]);
    EXPECT_EQ(mp.s[k], before.s[k]);
    EXPECT_EQ(mp.concentration[k], before.concentration[k]);
    EXPECT_EQ(mp.extra[k], before.extra[k]);
    EXPECT_EQ(mp.sFit[k], before.sFit[k]);
  }
  EXPECT_EQ(mp.baseline, before.baseline);
  EXPECT_EQ(mp.value22, before.value22);
  EXPECT_EQ(mp.startTime, before.startTime);
  for (int j = 1; j <= 10; ++j) {
    const bool keepsSign = j == 4 || j == 5 || j == 8 || j == 9;
    EXPECT_FLOAT_EQ(mp.nonidealTerm[j], keepsSign ? -static_cast<float>(j) : 0.0f) << j;
  }
}

TEST_F(ModelParamsTest, ElectrophoresisBottomFollowsTheMeniscus) {
  gModelSelectorFlags.ElectrophoresisLammModel = 1;
  gModelParams.meniscus = 5.9f;
  gModelParams.bottom = 7.2f;
  PackModelParameters();
  EXPECT_FLOAT_EQ(P[14], 5.9f + 0.4f);
  P[13] = 6.1f;
  P[14] = 9.0f;
  UnpackModelParameters();
  EXPECT_FLOAT_EQ(gModelParams.bottom, 6.1f + 0.4f);
  EXPECT_FLOAT_EQ(P[14], 6.1f + 0.4f);
}

TEST_F(ModelParamsTest, SelfAssociationDerivesTheNmer) {
  struct Case {
    bool trimer;
    bool molarMass;
    float expected;
  } cases[] = {
      {false, false, 6.0f * 6.0f / 4.0f / 2.0f},
      {true, false, 6.0f * 6.0f / (3.0f * 4.0f)},
      {false, true, 12.0f},
      {true, true, 18.0f},
  };
  for (const Case& c : cases) {
    SetUp();
    gModelSelectorFlags.MonomerDimerModel = c.trimer ? 0 : 1;
    gModelSelectorFlags.MonomerTrimerModel = c.trimer ? 1 : 0;
    gFitEngineState.molarMassParameters = c.molarMass ? 1 : 0;
    P[1] = 6.0f;
    P[5] = 4.0f;
    P[6] = 6.0f;
    F[2] = 1;
    UnpackModelParameters();
    EXPECT_FLOAT_EQ(gAssociationModelParams.nmer, c.expected);
    EXPECT_FLOAT_EQ(P[2], c.expected);
    EXPECT_FLOAT_EQ(gModelParams.massOrD[2], c.expected);
    EXPECT_EQ(F[2], 0);
  }
}

TEST_F(ModelParamsTest, SelfAssociationWithZeroMonomerSKeepsTheEnteredValue) {
  gModelSelectorFlags.MonomerDimerModel = 1;
  gFitEngineState.molarMassParameters = 0;
  P[1] = 6.0f;
  P[2] = 3.3f;
  P[5] = 0.0f;
  P[6] = 6.0f;
  UnpackModelParameters();
  EXPECT_FLOAT_EQ(P[2], 3.3f);
}

TEST_F(ModelParamsTest, FixAllParametersClearsOnlyTheFlags) {
  AllocParameterArrays();
  gModelParams.meniscusFit = 1;
  gModelParams.nonidealTermFit[3] = 1;
  PackModelParameters();
  float values[35];
  for (int i = 1; i <= 34; ++i) values[i] = P[i];
  FixAllParameters();
  for (int i = 1; i <= 34; ++i) {
    EXPECT_EQ(F[i], 0) << i;
    EXPECT_EQ(P[i], values[i]) << i;
  }
  EXPECT_EQ(gModelParams.meniscusFit, 0);
  EXPECT_EQ(gModelParams.sFit[1], 0);
}

TEST_F(ModelParamsTest, RegisteredDerivationsRunAfterTheBuiltInOnes) {
  static int packs = 0, unpacks = 0;
  packs = unpacks = 0;
  RegisterParameterDerivation([](bool packing) { (packing ? packs : unpacks)++; });
  PackModelParameters();
  UnpackModelParameters();
  UnpackModelParameters();
  EXPECT_EQ(packs, 1);
  EXPECT_EQ(unpacks, 2);
}

TEST_F(ModelParamsTest, ComponentDefaultsMakeFloatedConcentrationsLinear) {
  gModelSelectorFlags.LammDiscreteModel = 1;
  ModelParams& mp = gModelParams;
  mp.included[1] = mp.included[2] = 1;
  mp.concentrationFit[1] = mp.concentrationFit[2] = 1;
  mp.sFit[3] = 1;  // not included: loses its fit
  ComponentDefaultsContext ctx;
  CheckComponentDefaults(ctx);
  EXPECT_EQ(mp.concentrationsLinear, 1);
  EXPECT_EQ(mp.concentrationFit[1], 0);
  EXPECT_EQ(mp.concentrationFit[2], 0);
  EXPECT_EQ(mp.sFit[3], 0);

  // One included component with a fixed concentration keeps them all nonlinear.
  mp.concentrationFit[1] = 1;
  mp.concentrationFit[2] = 0;
  CheckComponentDefaults(ctx);
  EXPECT_EQ(mp.concentrationsLinear, 0);
  EXPECT_EQ(mp.concentrationFit[1], 1);

  mp.concentrationFit[2] = 1;
  ctx.nonidealOption = true;
  CheckComponentDefaults(ctx);
  EXPECT_EQ(mp.concentrationsLinear, 0);
}

TEST_F(ModelParamsTest, ComponentDefaultsBaselineRules) {
  ModelParams& mp = gModelParams;
  ComponentDefaultsContext ctx;
  mp.baselineFit = 1;
  CheckComponentDefaults(ctx);
  EXPECT_EQ(mp.baselineFit, 0);
  EXPECT_EQ(mp.baselineLinear, 1);

  mp.baselineLinear = 0;
  mp.baselineFit = 1;
  mp.experimentalInitialDistribution = 1;
  gFitEngineState.fitTINoise = 1;
  CheckComponentDefaults(ctx);
  EXPECT_EQ(mp.baselineFit, 0);
  EXPECT_EQ(mp.baselineLinear, 1);  // the TI noise rule comes first
  EXPECT_EQ(gFitEngineState.fitTINoise, 0);
  EXPECT_FLOAT_EQ(mp.concentration[1], 1.0f);
  EXPECT_TRUE(ctx.experimentalDistributionDialogSwitch);
}

TEST(ModelSelectorFlagsTest, ClearSwitchesKeepsTheFamilySwitches) {
  ModelSelectorFlags f;
  f.LammDiscreteModel = f.EquilibriumModel523 = f.DistributionModel = 1;
  f.CSModel = f.ConcDependentLammModel = f.NonidealCSVariant = 1;
  f.ClearSwitches();
  EXPECT_EQ(f.LammDiscreteModel + f.EquilibriumModel523 + f.DistributionModel, 0);
  EXPECT_EQ(f.CSModel + f.ConcDependentLammModel + f.NonidealCSVariant, 3);
}

// Which array the distribution lives on, for every kind of model: the s
// grid, the molar-mass grid, and the array its plot is drawn over.
TEST(ModelSelectorFlagsTest, DistributionAxisQuestionsOverTheModelSwitches) {
  using Switch = unsigned char ModelSelectorFlags::*;
  struct Row {
    const char* name;
    std::vector<Switch> on;
    bool dlsData, transformedToCM;
    bool gridIsS, gridIsMass, shownIsMass;
  };
  const std::vector<Row> rows = {
      {"c(M)", {}, false, false, false, true, true},
      {"c(M) prior vbar", {&ModelSelectorFlags::CMPriorVbarModel}, false, false, false, true, true},
      {"f(M) scaling law", {&ModelSelectorFlags::FMScalingLawModel}, false, false, false, true, true},
      {"c(s)", {&ModelSelectorFlags::CSModel}, false, false, true, false, false},
      {"c(s) shown as c(M)", {&ModelSelectorFlags::CSModel}, false, true, true, false, true},
      {"c(s) rod", {&ModelSelectorFlags::CSModel521}, false, false, true, false, false},
      {"c(s) + 1 discrete", {&ModelSelectorFlags::CSWith1DiscreteModel}, false, false, true, false, false},
      {"bimodal f/f0", {&ModelSelectorFlags::BimodalFF0CSModel}, false, false, true, false, false},
      {"nonideal c(s)", {&ModelSelectorFlags::NonidealCSModel}, false, false, true, false, false},
      {"ls-g*(s)", {&ModelSelectorFlags::LsgStarModel}, false, false, true, false, false},
      {"hybrid", {&ModelSelectorFlags::HybridCSLsgModel}, false, false, true, false, false},
      {"c(s,f/f0)", {&ModelSelectorFlags::CSff0Model}, false, false, true, false, false},
      {"zone ls-g*", {&ModelSelectorFlags::ZoneCentrifugationLsgModel}, false, false, true, false, false},
      {"zone c(s)", {&ModelSelectorFlags::ZoneCentrifugationCSModel}, false, false, true, false, false},
      {"electrophoresis c(v)", {&ModelSelectorFlags::ElectrophoresisCVModel}, false, false, true, false, false},
      {"boundary transform", {&ModelSelectorFlags::SedTransformModel}, false, false, true, false, false},
      {"ls-g* extrapolation",
       {&ModelSelectorFlags::SedTransformModel, &ModelSelectorFlags::LsgExtrapolationModel},
       false, false, true, false, false},
      {"DLS I(D)", {&ModelSelectorFlags::DlsIDModel}, true, false, false, false, true},
      {"DLS I(Rh)", {&ModelSelectorFlags::DlsIRhModel}, true, false, false, false, false},
      {"DLS I(Rh) time course", {&ModelSelectorFlags::DlsIRhTimeCourseModel}, true, false, false, false, false},
      {"DLS data, no DLS model", {}, true, false, false, false, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    ModelSelectorFlags f;
    f.DistributionModel = 1;
    for (Switch s : r.on) f.*s = 1;
    EXPECT_EQ(f.GridIsS(), r.gridIsS);
    EXPECT_EQ(f.GridIsMass(r.dlsData), r.gridIsMass);
    EXPECT_EQ(f.AxisShownIsMass(r.dlsData, r.transformedToCM), r.shownIsMass);
    // No grid is both, and whatever is drawn over s has an s grid or DLS data.
    EXPECT_FALSE(f.GridIsS() && f.GridIsMass(r.dlsData));
    if (!f.AxisShownIsMass(r.dlsData, r.transformedToCM)) {
      EXPECT_TRUE(f.GridIsS() || f.AnyDlsDistributionModel() || r.dlsData);
    }
  }
}

TEST(ModelSelection, ResetUnticksEveryModelAndUndoesTheModelsChanges) {
  gModelSelectorFlags = ModelSelectorFlags{};
  ModelSelectorFlags& sel = gModelSelectorFlags;
  sel.LammDiscreteModel = sel.DistributionModel = sel.LsgStarModel = sel.CSModel = 1;
  sel.TimesFromW2tByModel = 1;
  LammSettings() = LammSolverSettings{};
  // A distribution's own size in use, which replaced 700.
  LammSettings().gridSize.replaced = 700;
  LammSettings().automaticAlgorithm = 0;
  LammSettings().timesFromW2t = 1;
  LammSettings().gridSize.inUse = 300;
  std::set<int> ticked;
  for (const ModelRow& row : ModelTable()) ticked.insert(row.id);
  std::vector<std::string> messages;
  bool exited = false;
  ModelSelectionHooks& hooks = CurrentModelSelectionHooks();
  const ModelSelectionHooks saved = hooks;
  hooks.checkMenuItem = [&](int id, bool checked) {
    if (!checked) ticked.erase(id);
  };
  hooks.message = [&](const std::string& m) { messages.push_back(m); };
  hooks.equilibriumTestMode = [] { return true; };
  hooks.exitEquilibriumTestMode = [&] { exited = true; };

  ClearModelSelection();
  EXPECT_TRUE(ticked.empty());
  EXPECT_EQ(sel.LammDiscreteModel + sel.DistributionModel + sel.LsgStarModel, 0);
  EXPECT_EQ(sel.CSModel, 1);
  EXPECT_EQ(sel.TimesFromW2tByModel, 0);
  EXPECT_EQ(LammSettings().automaticAlgorithm, 1);
  EXPECT_EQ(LammSettings().timesFromW2t, 0);
  EXPECT_EQ(LammSettings().gridSize.inUse, 700);
  EXPECT_FALSE(DistributionGridSizeInUse(LammSettings().gridSize));
  EXPECT_EQ(LammSettings().gridSize.setting, 1000);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0], "switching off times from w^2t option");
  EXPECT_TRUE(exited);
  EXPECT_EQ(ModelTable().size(), 50u);

  hooks = saved;
  LammSettings() = LammSolverSettings{};
  gModelSelectorFlags = ModelSelectorFlags{};
}

}  // namespace
