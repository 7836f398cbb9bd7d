// The Model menu's c(M) priors, DLS, equilibrium, boundary-transform and
// electrophoresis models: refusals, switches, start values, and Run for the
// models whose computation this program lacks.
#include <cmath>

#include "app/commands/model/model_commands_equilibrium.h"
#include "distributions/conti_parameters.h"
#include "distributions/hydrodynamics.h"
#include "models/reacting/hetero_association.h"
#include "road_support.h"

namespace {

class ModelChoice : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    HydroConstants() = HydroModelConstants{};
    StoredEquilibriumStartValues() = EquilibriumStartValues{};
    CurrentHeteroAssociationState() = HeteroAssociationState{};
    Window();
  }
  static float P(int i) { return gModelParameterVector.P[i]; }
  static int F(int i) { return gModelParameterVector.F[i]; }
  bool Clean() const { return ui_->failures.empty() && ui_->AllConsumed(); }
};

TEST_F(ModelChoice, WrongKindOfDataIsRefusedWithoutChange) {
  struct Case {
    bool dls;
    std::vector<int> ids;
    const char* text;
  } cases[] = {{true, {277, 278, 279, 288, 539, 293, 292, 501, 291, 267}, "this model is not implemented for DLS data"},
               {false, {503, 522, 502, 536, 890}, "need DLS data for this analysis"}};
  for (const Case& c : cases) {
    CurrentDataTypeFlags().dls = c.dls;
    for (int id : c.ids) {
      SCOPED_TRACE(id);
      ui_->ExpectBox("ERROR", c.text);
      Window().Dispatch(id);
      EXPECT_EQ(gModelSelectorFlags.DistributionModel + gModelSelectorFlags.SedTransformModel +
                    gModelSelectorFlags.LammDiscreteModel + gModelSelectorFlags.Model267,
                0);
      EXPECT_FALSE(Window().IsMenuItemChecked(id));
    }
  }
  EXPECT_TRUE(Clean()) << ui_->failures.front();
}

TEST_F(ModelChoice, DlsModelsTakeTheirRangesAndStokesRadii) {
  CurrentDataTypeFlags().dls = 1;
  const ModelSelectorFlags& m = gModelSelectorFlags;
  // The species entered (as D) before the distributions took the slots.
  gFitEngineState.molarMassParameters = 0;
  gSolutionConditions.temperature = 298.15f;
  gModelParams.massOrD[1] = 21.4f;  // D in 1e-7 cm^2/s
  gModelParams.massOrD[2] = 0.0f;
  gModelParams.included[2] = 1;
  PackModelParameters();
  Window().Dispatch(503);
  EXPECT_EQ(m.DlsIRhModel + m.DistributionModel, 2);
  EXPECT_EQ((std::vector<float>{P(1), P(5), Conti().confidenceLevel}), (std::vector<float>{1, 50, 0.55f}));
  Window().Dispatch(502);
  EXPECT_EQ(m.DlsIRhModel, 0);  // one DLS distribution at a time
  EXPECT_EQ(m.DlsIDModel, 1);
  EXPECT_EQ((std::vector<float>{P(1), P(5)}), (std::vector<float>{0.1f, 10}));
  EXPECT_FALSE(Window().IsMenuItemChecked(503));
  EXPECT_TRUE(Window().IsMenuItemChecked(502));
  EXPECT_FALSE(Window().IsMenuItemChecked(235));

  ui_->ExpectPrompt("DISCRETE STOKES RADII", "absolute viscosity of solvent (Poise)", std::nullopt);
  Window().Dispatch(536);
  EXPECT_EQ(m.DlsStokesRadiiModel, 0);
  EXPECT_EQ(ui_->initialTexts.back(), "0.010020");  // water, in poise
  ui_->ExpectPrompt("DISCRETE STOKES RADII", "absolute viscosity of solvent (Poise)", "0.02004");
  Window().Dispatch(536);
  EXPECT_NEAR(gSolutionConditions.viscosity, 2.0, 1e-5);
  EXPECT_EQ(m.LammDiscreteModel + m.DlsStokesRadiiModel, 2);
  // Stokes-Einstein at 25 C in twice the water viscosity: R = k T / (6 pi eta D), nm.
  const double R = 1.380649e-23 * 298.15 / (6 * M_PI * 2 * 0.001002 * 21.4e-7 * 1e-4) * 1e9;
  EXPECT_NEAR(P(1), R, 1e-3 * R);
  EXPECT_EQ(gModelParams.included[2], 0);
  EXPECT_EQ(F(15), 1);  // the baseline floats, nothing else
  EXPECT_EQ(F(1), 0);
  // Chosen again while in use: the viscosity is the newest entry, the radius
  // typed stays, and a cancel changes nothing.
  gModelParameterVector.P[1] = 3.5f;
  UnpackModelParameters();
  ui_->ExpectPrompt("DISCRETE STOKES RADII", "absolute viscosity of solvent (Poise)", "0.03006");
  Window().Dispatch(536);
  ui_->ExpectPrompt("DISCRETE STOKES RADII", "absolute viscosity of solvent (Poise)", std::nullopt);
  Window().Dispatch(536);
  EXPECT_NEAR(gSolutionConditions.viscosity, 3.0, 1e-5);
  EXPECT_FLOAT_EQ(P(1), 3.5f);
  EXPECT_EQ(F(15), 1);
  EXPECT_EQ(m.LammDiscreteModel + m.DlsStokesRadiiModel, 2);
  EXPECT_TRUE(Window().IsMenuItemChecked(536));

  Window().Dispatch(890);
  EXPECT_EQ(m.DlsCumulantModel, 1);
  EXPECT_EQ(m.DlsStokesRadiiModel, 0);
  EXPECT_EQ(F(9), 1);
  for (int k = 2; k <= 4; ++k) EXPECT_EQ(gModelParams.included[k] + F(8 + k) + P(k), 0) << k;
  EXPECT_TRUE(Clean()) << ui_->failures.front();
}

TEST_F(ModelChoice, DiscreteSpeciesTurnStokesRadiiBackIntoDiffusionCoefficients) {
  CurrentDataTypeFlags().dls = 1;
  gFitEngineState.molarMassParameters = 0;  // the species are entered as D
  gSolutionConditions.temperature = 298.15f;
  gModelParams.massOrD[1] = 21.4f;  // D in 1e-7 cm^2/s
  gModelParams.massOrD[2] = 3.5f;
  gModelParams.included[1] = gModelParams.included[2] = 1;
  PackModelParameters();
  ui_->ExpectPrompt("DISCRETE STOKES RADII", "absolute viscosity of solvent (Poise)", "0.02004");
  Window().Dispatch(536);
  ASSERT_LT(P(1), 1.0f);  // a radius in nm
  // A species without a radius has no diffusion coefficient either.
  gModelParameterVector.P[3] = 0.0f;
  Window().Dispatch(198);
  EXPECT_EQ(gModelSelectorFlags.LammDiscreteModel, 1);
  EXPECT_EQ(gModelSelectorFlags.DlsStokesRadiiModel, 0);
  // Radius and back, in the same solvent: the coefficients as they were.
  EXPECT_NEAR(P(1), 21.4f, 1e-4 * 21.4f);
  EXPECT_NEAR(P(2), 3.5f, 1e-4 * 3.5f);
  EXPECT_EQ(P(3), 0.0f);
  EXPECT_NEAR(gModelParams.massOrD[1], 21.4f, 1e-4 * 21.4f);
  EXPECT_TRUE(Clean()) << ui_->failures.front();
}

TEST_F(ModelChoice, PowerLawAndVbarPriorsTakeTheirValuesOrSwitchOff) {
  ui_->ExpectPrompt("enter float", "Using power-law s(M) = a*M^b. Enter a:", "0.02");
  ui_->ExpectPrompt("enter float", "Using power-law s(M) = a*M^b. Enter b:", "0.5");
  ui_->ExpectBox("", "using power law s(M) \n(disregard f/f0 and viscosity entry)");
  Window().Dispatch(278);
  EXPECT_EQ(gModelSelectorFlags.CMPowerLawModel, 1);
  EXPECT_NEAR(SFromM(1e4f), 0.02 * 100, 1e-4);

  // Cancelling the third vbar question: vbar(M) off, the power law stays.
  ui_->ExpectBox("", "using vbar(M)= v0 + a*[(M/10^s)]^1/3");
  ui_->ExpectPrompt("", "Enter zero offset v0 (M=0):", "0.7");
  ui_->ExpectPrompt("", "Enter increment a:", "0.01");
  ui_->ExpectPrompt("", "Enter M-scale s:", std::nullopt);
  ui_->ExpectBox("", "information missing, switching off vbar(M)");
  Window().Dispatch(279);
  EXPECT_EQ(gModelSelectorFlags.CMPriorVbarModel, 0);
  EXPECT_FALSE(Window().IsMenuItemChecked(279));
  EXPECT_DOUBLE_EQ(HydroConstants().vbarOffset, 1.04248);
  EXPECT_FLOAT_EQ(static_cast<float>(HydroConstants().powerLawA), 0.02f);

  ui_->ExpectBox("", "using vbar(M)");
  ui_->ExpectPrompt("", "Enter zero offset v0 (M=0):", "0.7");
  ui_->ExpectPrompt("", "Enter increment a:", "0.01");
  ui_->ExpectPrompt("", "Enter M-scale s:", "5.9");
  ui_->ExpectBox("", "using vbar(M) relationship \n(disregard vbar entry)");
  Window().Dispatch(279);
  EXPECT_EQ(HydroConstants().vbarMassExponent, 5);
  EXPECT_NEAR(VbarFromMass(8e5f), 0.7 + 0.01 * 2, 1e-6);  // the run's vbar(M) takes the answers

  ui_->ExpectPrompt("", "Enter a:", std::nullopt);
  ui_->ExpectBox("", "information missing, switching off s(M)");
  Window().Dispatch(278);
  EXPECT_EQ(gModelSelectorFlags.CMPowerLawModel + gModelSelectorFlags.CMPriorVbarModel, 0);
  ui_->ExpectBox("", "distribution will be c(Mbuoyant)");
  Window().Dispatch(277);
  EXPECT_EQ(gModelSelectorFlags.CMInvariantDModel, 1);
  EXPECT_TRUE(Clean()) << ui_->failures.front();
}

TEST_F(ModelChoice, EquilibriumModelsFitBothNoisesAndStartAtMassAction) {
  ui_->ExpectBox("Equilibrium Analysis", "please load equilibrium data");
  Window().Dispatch(284);
  Window().Dispatch(284);  // on already: silent
  EXPECT_EQ(gModelSelectorFlags.EquilibriumModel284, 1);
  EXPECT_EQ(gFitEngineState.fitTINoise + gModelParams.riNoiseFit, 2);
  ui_->ExpectBox("ERROR", "load data first");  // the model runs, the data are missing
  Window().Dispatch(213);

  EquilibriumStartValues& st = StoredEquilibriumStartValues();
  st.concentration1 = 0.8f;
  st.massOrD4 = 2.0f;  // a = 0.4
  st.concentration2 = 0.3f;
  st.concentration4 = 1.0f;  // b = 0.3
  st.s4 = 1.0f;              // K = 10
  st.massOrD1 = 30000;
  st.massOrD2 = 20000;
  CurrentScanSet().equilibriumMode = 1;
  Window().Dispatch(523);
  CurrentScanSet().equilibriumMode = 0;
  EXPECT_EQ(gModelSelectorFlags.EquilibriumModel284, 0);
  EXPECT_EQ(gModelSelectorFlags.EquilibriumModel523, 1);
  EXPECT_FLOAT_EQ(P(3), 50000);
  for (int i = 5; i <= 7; ++i) EXPECT_EQ(P(i) + F(i), 1.0f);
  const double q = P(11);
  EXPECT_NEAR(q * q - (0.4 + 0.3 + 0.1) * q + 0.12, 0.0, 1e-6);
  EXPECT_LT(q, 0.3);
  EXPECT_TRUE(Clean()) << ui_->failures.front();
}

TEST_F(ModelChoice, ReactingSystemStartsAtItsMassActionInMolarMasses) {
  gFitEngineState.molarMassParameters = 0;
  gModelParameterVector.F[5] = 1;
  ui_->ExpectBox("", "assuming t = 20 'C");  // the switch to molar masses without data
  Window().Dispatch(267);
  EXPECT_EQ(gModelSelectorFlags.Model267, 1);
  EXPECT_EQ(gFitEngineState.molarMassParameters, 1);
  EXPECT_EQ(LammSettings().movingHatAlgorithm, 1);
  EXPECT_EQ((std::vector<float>{P(1), P(2), P(4), P(5), P(6), P(7), P(8), P(9), P(10), P(12)}),
            (std::vector<float>{100000, 100000, 1, 7, 7, 11, 0, 0.5f, 0.5f, 1}));
  EXPECT_EQ(P(3), 200000);                  // the complex: M_A + M_B
  EXPECT_NEAR(P(11), 0.133975, 1e-6);       // and its loading concentration
  EXPECT_EQ(gModelParams.concentration[3], P(11));
  for (int i = 1; i <= 34; ++i) EXPECT_EQ(F(i), 0) << i;
  // Selected again: the values it holds stay.
  gModelParameterVector.P[8] = 1;
  UnpackModelParameters();
  Window().Dispatch(267);
  EXPECT_EQ(P(8), 1);
  EXPECT_NEAR(P(11), 0.320871, 1e-6);
  EXPECT_TRUE(Clean()) << ui_->failures.front();
}

TEST_F(ModelChoice, BoundaryTransformsAskTheirQuestions) {
  LsgExtrapolation().vhwResolution = 30;
  LsgExtrapolation().scansPerGStar = 5;
  Conti().showBothRegularizations = 1;
  ui_->ExpectBox("ATTENTION", "c(s) will give better results");
  ui_->ExpectBox("", "show plot with extrapolation of s(app) vs 1/srqt(time)?", platform::IDYES);
  Window().Dispatch(293);
  Window().Dispatch(293);  // on already: silent
  const ModelSelectorFlags& m = gModelSelectorFlags;
  EXPECT_EQ(m.SedTransformModel + m.LsgExtrapolationModel + m.DistributionModel, 3);
  EXPECT_EQ((std::vector<float>{P(1), P(5), P(9), P(11), P(3), P(2)}), (std::vector<float>{1, 10, 50, 30, 5, 0.68f}));
  EXPECT_EQ(Conti().showBothRegularizations, 0);
  EXPECT_EQ(LsgExtrapolation().plotExtrapolation, 1);
  // Run computes the transform once scans are loaded.
  ui_->ExpectBox("ERROR", "load data first");
  Window().Dispatch(213);

  // van Holde-Weischet of interference data, first for flotation and the
  // resolution cancelled (the extrapolation stays, its noise fit too),
  // then chosen again for sedimentation.
  CurrentDataTypeFlags().interference = 1;
  gFitEngineState.fitTINoise = 1;
  ui_->ExpectBox("Van Holde Weischet Analysis", "van Holde-Weischet for sedimentation?", platform::IDNO);
  ui_->ExpectPrompt("Van Holde Weischet Analysis", "enter resolution", std::nullopt);
  Window().Dispatch(292);
  EXPECT_EQ(m.LsgExtrapolationModel, 1);
  EXPECT_EQ(m.SedTransformModel, 1);
  EXPECT_EQ(m.VanHoldeWeischetFlotation, 0);
  EXPECT_EQ(gFitEngineState.fitTINoise, 1);
  EXPECT_FALSE(Window().IsMenuItemChecked(292));
  EXPECT_TRUE(Window().IsMenuItemChecked(293));
  ui_->ExpectBox("Van Holde Weischet Analysis", "for sedimentation?", platform::IDYES);
  ui_->ExpectPrompt("Van Holde Weischet Analysis", "enter resolution", "40");
  ui_->ExpectBox("Van Holde Weischet Analysis", "this function is only for absorbance data");
  ui_->ExpectBox("", "show plot with extrapolation", platform::IDNO);
  Window().Dispatch(292);
  EXPECT_EQ(m.VanHoldeWeischetFlotation, 0);
  EXPECT_EQ(m.LsgExtrapolationModel, 0);
  EXPECT_EQ(gFitEngineState.fitTINoise, 0);
  EXPECT_TRUE(Window().IsMenuItemChecked(292));
  EXPECT_FALSE(Window().IsMenuItemChecked(293));
  EXPECT_FLOAT_EQ(Conti().resolution, 40.0f);

  Window().Dispatch(198);
  ui_->ExpectBox("Van Holde Weischet Analysis", "for sedimentation?", platform::IDYES);
  ui_->ExpectPrompt("Van Holde Weischet Analysis", "enter resolution", "25");
  ui_->ExpectBox("Van Holde Weischet Analysis",
                 "this function is only for absorbance data, \nrecommending extrapolation of s(app) vs "
                 "1/srqt(time) for interference data");
  ui_->ExpectBox("", "show plot with extrapolation", platform::IDNO);
  Window().Dispatch(292);
  EXPECT_EQ(LsgExtrapolation().plotExtrapolation, 0);
  EXPECT_TRUE(Window().IsMenuItemChecked(292));
  EXPECT_TRUE(Clean()) << ui_->failures.front();

  // Every signal but absorbance is warned about; fluorescence data carry
  // the absorbance mark too.
  const struct {
    const char* kind;
    uint8_t absorbance, intensity, fluorescence;
    bool warned;
  } kinds[] = {{"absorbance", 1, 0, 0, false},
               {"intensity", 0, 1, 0, true},
               {"fluorescence", 1, 0, 1, true}};
  for (const auto& k : kinds) {
    CurrentDataTypeFlags() = DataTypeFlags{};
    CurrentDataTypeFlags().absorbance = k.absorbance;
    CurrentDataTypeFlags().intensity = k.intensity;
    CurrentDataTypeFlags().fluorescence = k.fluorescence;
    Window().Dispatch(198);
    ui_->ExpectBox("Van Holde Weischet Analysis", "for sedimentation?", platform::IDYES);
    ui_->ExpectPrompt("Van Holde Weischet Analysis", "enter resolution", "25");
    if (k.warned)
      ui_->ExpectBox("Van Holde Weischet Analysis", "this function is only for absorbance data");
    ui_->ExpectBox("", "show plot with extrapolation", platform::IDNO);
    Window().Dispatch(292);
    EXPECT_TRUE(Clean()) << k.kind << ": " << ui_->failures.front();
  }
  CurrentDataTypeFlags() = DataTypeFlags{};

  // Chosen again while in use: the direction and the resolution are the
  // newest entries; nothing else is asked, switched off or unmarked.
  gFitEngineState.fitTINoise = 1;
  ui_->ExpectBox("Van Holde Weischet Analysis", "for sedimentation?", platform::IDNO);
  ui_->ExpectPrompt("Van Holde Weischet Analysis", "enter resolution", "35");
  Window().Dispatch(292);
  EXPECT_EQ(m.VanHoldeWeischetFlotation, 1);
  EXPECT_FLOAT_EQ(Conti().resolution, 35.0f);
  EXPECT_EQ(gFitEngineState.fitTINoise, 1);
  EXPECT_EQ(SelectedModelKey(), kCmVanHoldeWeischet);
  EXPECT_TRUE(Window().IsMenuItemChecked(292));
  EXPECT_TRUE(Clean()) << ui_->failures.front();
}

TEST_F(ModelChoice, ElectrophoresisModelsUseTheColumn) {
  gModelParams.meniscus = 6.0f;
  gModelParams.electrophoresisColumnLength = 0.5f;
  PackModelParameters();
  Window().Dispatch(291);
  const ModelSelectorFlags& m = gModelSelectorFlags;
  const LammSolverSettings& l = LammSettings();
  EXPECT_EQ(m.LammDiscreteModel + m.ElectrophoresisLammModel, 2);
  EXPECT_FLOAT_EQ(gModelParams.bottom, 6.5f);
  EXPECT_EQ((std::vector<int>{l.automaticAlgorithm, l.claverieAlgorithm, l.movingHatAlgorithm}),
            (std::vector<int>{0, 1, 0}));
  EXPECT_TRUE(ui_->transcript.empty());
  // The discrete species run in the linear column; here only data is missing.
  ui_->ExpectBox("ERROR", "load data first");
  Window().Dispatch(213);
  ASSERT_TRUE(Clean()) << ui_->failures.front();

  ui_->lenient = true;
  Window().Dispatch(501);
  EXPECT_EQ(m.ElectrophoresisLsgModel, 1);
  EXPECT_EQ(m.LammDiscreteModel + m.ElectrophoresisLammModel, 0);
  EXPECT_FLOAT_EQ(P(9), 100);  // the resolution survives the cleared concentrations
}

}  // namespace
