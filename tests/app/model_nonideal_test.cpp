// The nonideal sedimentation models from the window: the components of the
// multiple-species model entered in their dialog and simulated by Run, and
// the values the hindered-sedimentation dialog and the fit report derive.
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "app/window/txla_window.h"
#include "app/window/main_fit_host.h"
#include "app/window/window_services.h"
#include "distributions/conti_settings.h"
#include "fit/fit_report.h"
#include "lamm/coefficients/nonideal_coefficients.h"
#include "road_support.h"

namespace {

class NonidealModels : public RoadTest {
 protected:
  void Load() {
    LoadRun(4);
  }
  void TearDown() override {
    StickyHardSphereFlag = 0;
    gAssociationModelParams = AssociationModelParams{};
    RoadTest::TearDown();
  }
};

TEST_F(NonidealModels, MultipleSpeciesRunSimulatesTheComponentsEnteredInTheDialog) {
  Load();
  Window().Dispatch(893);
  forms_.Expect({"Non-Ideal Sedimentation of Mulitple Species s=s0(1-ks*c), D0=D(1+kd*c) [no backdiffusion]",
                 {{405, "1.0"}, {406, "6.0"}, {407, "4.0"}, {412, "-1.0"}, {419, "-1.7"}, {443, "0.5"},
                  {414, "9.0"}, {413, "4.0"}, {426, "0"}, {435, "5.9500"}, {437, "7.1800"}},
                 {{402, 0}, {403, 0}, {404, 0}}});
  ui_->ExpectPrompt("NONIDEAL COMPONENT 1", "extinction species 1:", std::string("1"));
  ui_->ExpectPrompt("NONIDEAL COMPONENT 2", "extinction species 2:", std::string("2"));
  Window().Dispatch(212);
  ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  const ModelParams& mp = gModelParams;
  EXPECT_FLOAT_EQ(mp.nonidealTerm[3], 0.5f);
  EXPECT_FLOAT_EQ(mp.nonidealTerm[4], 9.0f);
  EXPECT_FLOAT_EQ(mp.nonidealTerm[5], 4.0f);
  EXPECT_FLOAT_EQ(gAssociationModelParams.extinction[2], 2.0f);
  // The borrowed boxes keep their own meaning: no slot 2-4 got included.
  EXPECT_EQ(mp.included[2] + mp.included[3] + mp.included[4], 0);

  Window().Dispatch(213);  // Run
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  // The plateau of the last scan: both components' signal (1 x 1 + 0.5 x 2),
  // diluted radially, and never the ideal single species' 1.
  const ScanSet& ss = CurrentScanSet();
  const int last = ss.order[ss.count];
  float plateau = 0;
  for (int p = 1; p <= ss.points[last]; ++p)
    if (ss.radii[last][p] < 6.9f) plateau = std::max(plateau, ss.model[last][p]);
  EXPECT_GT(plateau, 1.7f);
  EXPECT_LT(plateau, 2.0f);
}

// Coming from the discrete model, the set-up turns the S range into molar
// masses; 0.1 S is some 200 Da, under the 1000 that otherwise marks a molar
// mass range, and the range must still come back in S.
TEST_F(NonidealModels, BothNonidealCsCommandsKeepTheRangeInSAndBringTheMeanFieldCommands) {
  for (const int command : {585, 1100}) {
    SCOPED_TRACE(command);
    Load();
    Window().Dispatch(198);  // discrete species first
    Conti().sMin = 0.1f;
    Conti().sMax = 20.0f;
    Window().Dispatch(command);
    EXPECT_NEAR(Conti().sMin, 0.1f, 0.002f);
    EXPECT_NEAR(Conti().sMax, 20.0f, 0.2f);
    EXPECT_FLOAT_EQ(gModelParameterVector.P[1], Conti().sMin);
    EXPECT_FLOAT_EQ(gModelParameterVector.P[kComponentSlots + 1], Conti().sMax);
    // The mean-field commands come into the menu with the model, and go.
    UpdateFloToolsMenu(Window());
    for (int id : {1103, 1104, 1105, 1106}) EXPECT_EQ(Window().Frame().Menu().Count(id), 1) << id;
    Window().Dispatch(198);
    UpdateFloToolsMenu(Window());
    EXPECT_EQ(Window().Frame().Menu().Count(1104), 0);
  }
}

TEST_F(NonidealModels, TheCsReportNamesTheNonidealityTermsInForce) {
  Load();
  Window().Dispatch(585);
  gAssociationModelParams.logKs = -2.5f;
  gAssociationModelParams.logKd = -1.25f;
  Conti().ffValue = 1.2f;
  FitInfoLines lines;
  ASSERT_TRUE(ComposeFitInfoLines(MainFitHost(), lines));
  EXPECT_EQ(lines.line[5].rfind("frict ratio = 1.200000, log10ks = -2.500000, log10kd = -1.250000", 0), 0u)
      << lines.line[5];

  // The hard-sphere variant reads them as volume correction and Baxter t.
  Window().Dispatch(1100);
  gAssociationModelParams.logKs = 1.5f;
  gAssociationModelParams.logKd = 0.0f;
  ASSERT_TRUE(ComposeFitInfoLines(MainFitHost(), lines));
  EXPECT_EQ(lines.line[5].rfind("frict ratio = 1.200000, hard sphere vol.corr. 1.500, ks(1mgml)=", 0), 0u)
      << lines.line[5];
  // Crowding slows sedimentation and speeds diffusion more at 100 mg/ml.
  float ks1 = 0, ks100 = 0;
  ASSERT_EQ(std::sscanf(lines.line[5].c_str() + lines.line[5].find("ks(1mgml)="), "ks(1mgml)=%f, ks(100)=%f",
                        &ks1, &ks100),
            2);
  EXPECT_GT(std::fabs(ks1), 0.0f);
  EXPECT_NE(ks1, ks100);
}

TEST_F(NonidealModels, HinderedSedimentationShowsWhatItsParametersImply) {
  Window();
  gSolutionConditions.vbar = 0.73f;
  gSolutionConditions.density = 0.99823f;
  gSolutionConditions.vbarRho = 0.73f * 0.99823f;
  gSolutionConditions.viscosity = 1.0f;
  gSolutionConditions.temperature = 293.15f;
  CurrentScanSet().signalPerConcentration = 1.0;
  Window().Dispatch(1099);
  float* P = gModelParameterVector.P;
  P[5] = 4.3f;   // s0
  P[1] = 6.0f;   // D0 (1e-7 cm^2/s)
  P[9] = 50.0f;  // load signal
  P[10] = -1.0f;  // shown as its magnitude
  P[11] = 0.2f;
  UnpackModelParameters();
  StickyHardSphereFlag = 1;
  forms_.Expect({"Hindered Sedimentation", {}, {{411, 0}}});
  Window().Dispatch(212);
  ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  const FormDialog& shown = forms_.seen.at(0);
  const struct {
    int slot;
    const char* text;
  } fields[] = {{10, "1.000"}, {11, "0.200"}, {7, "64.4"}, {12, "1.347"}, {4, "0.089"}, {6, "-0.250"}, {3, "0.73000"}};
  for (const auto& f : fields) EXPECT_EQ(shown.Find(EditForSlot(f.slot))->text, f.text) << f.slot;
  EXPECT_EQ(shown.Find(411)->state, 1);  // the sticky-sphere switch as it was
  EXPECT_EQ(StickyHardSphereFlag, 0);    // and as the user left it

  // The plain hard-sphere coefficients: ks and kd near 6.55 and 1.45 times
  // the volume fraction per mg/ml (phi = 0.001785 ml/mg here).
  FitReportInputs in;
  MainFitHost()->FillFitReportInputs(in);
  EXPECT_TRUE(in.nonideal.hardSphere);
  EXPECT_FALSE(in.nonideal.sticky);
  EXPECT_NEAR(in.nonideal.impliedM, 64388, 5);
  EXPECT_NEAR(in.nonideal.impliedFf0, 1.3472, 2e-4);
  EXPECT_NEAR(in.nonideal.ks1, 11.483, 0.005);
  EXPECT_NEAR(in.nonideal.kd1, 2.583, 0.005);
  EXPECT_NEAR(in.nonideal.ksLoad, 6.513, 0.005);
  EXPECT_NEAR(in.nonideal.kdLoad, 2.415, 0.005);
  EXPECT_NEAR(in.nonideal.volumeFraction, 0.089242, 2e-5);
}

}  // namespace
