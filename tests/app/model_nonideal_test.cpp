// The nonideal sedimentation models from the window: the components of the
// multiple-species model entered in their dialog and simulated by Run, and
// the values the hindered-sedimentation dialog and the fit report derive.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <tuple>

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

// "with synthetic boundary" ticked in the dialog: the species start layered
// at the position entered, under an overlay of their fractions, and the
// report says where; unticked they start uniformly loaded again. The box
// stands where the user sees it, the Wiener skew box beside the terms too.
TEST_F(NonidealModels, TheSyntheticBoundaryBoxLayersTheStartAndTheReportSaysWhere) {
  Load();
  Window().Dispatch(893);
  const ScanSet& ss = CurrentScanSet();
  // The first scan's signal at 6.1 cm, 0.15 cm above where the boundary is
  // layered, and at 6.6 cm, below it.
  auto signalAt = [&](float r) {
    const int first = ss.order[1];
    for (int p = 1; p <= ss.points[first]; ++p)
      if (ss.radii[first][p] >= r) return ss.model[first][p];
    return -1.0f;
  };
  float layeredPlateau = 0;
  for (int synthetic : {1, 0}) {
    SCOPED_TRACE(synthetic);
    forms_.Expect({"Non-Ideal Sedimentation of Mulitple Species s=s0(1-ks*c), D0=D(1+kd*c) [no backdiffusion]",
                   {{405, "1.0"}, {406, "6.0"}, {407, "4.0"}, {412, "-10"}, {419, "-10"}, {443, "0"}, {426, "0"},
                    {439, "6.25"}, {420, "0.1"}, {435, "5.9500"}, {437, "7.1800"}},
                   {{402, 0}, {403, 0}, {404, 0}, {424, synthetic}}});
    Window().Dispatch(212);
    ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
    const FormDialog& shown = forms_.seen.back();
    for (int id : {424, 441}) {
      const FormControl* box = shown.Find(id);
      ASSERT_NE(box, nullptr);
      EXPECT_TRUE(box->visible) << id;
    }
    EXPECT_EQ(shown.Find(424)->label, "with synthetic boundary");
    // The overlay fractions stand where the user enters them, by name, with
    // their fit boxes.
    for (const auto& [edit, box, label] : {std::tuple{420, 423, "overlay fraction 1"},
                                           std::tuple{428, 446, "overlay fraction 2"},
                                           std::tuple{438, 408, "overlay fraction 3"}}) {
      EXPECT_TRUE(shown.Find(edit)->visible) << edit;
      EXPECT_EQ(shown.Find(edit)->label, label);
      EXPECT_TRUE(shown.Find(box)->visible) << box;
    }
    EXPECT_EQ(shown.Find(424)->state, 1 - synthetic);  // as the switch was left
    EXPECT_EQ(gModelParams.syntheticBoundary, synthetic);
    // Its own state, not a fit flag of the slot whose box it borrows.
    EXPECT_EQ(gModelParameterVector.F[4], 0);
    Window().Dispatch(213);  // Run
    EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
    // Far from either boundary the overlay's tenth above and the loading
    // (diluted radially) below it, the same as without the layering.
    if (synthetic) {
      EXPECT_NEAR(signalAt(6.1f), 0.1f * signalAt(6.6f), 0.005f);
      layeredPlateau = signalAt(6.6f);
    } else {
      EXPECT_GT(signalAt(6.1f), 0.9f);
      EXPECT_NEAR(signalAt(6.6f), layeredPlateau, 0.005f);
    }
    FitInfoLines lines;
    ASSERT_TRUE(ComposeFitInfoLines(MainFitHost(), lines));
    if (synthetic)
      EXPECT_EQ(lines.line[13], "synthetic boundary at 6.250 cm, overlay conc1 fraction = 0.100");
    else
      EXPECT_EQ(lines.line[13].find("synthetic boundary"), std::string::npos) << lines.line[13];
  }
}

// The single nonideal species generated and analysed in the M-and-s form
// (Generate > Single answering "M and s" Yes): the field the solver takes as
// M is labelled M, the report gives that M and the D it implies, and the
// Run of the species entered describes the data generated from it. An
// implied f/f0 below 1 is said to be below 1.
TEST_F(NonidealModels, TheSingleSpeciesInTheMassFormIsLabelledAndReportedAsTheSolverTakesIt) {
  Window().Dispatch(227);
  std::filesystem::create_directories(dir_ / "gen");
  ui_->ExpectBox("GENERATE DATA", "Fit with M and s instead D and s?", platform::IDYES);
  ui_->lenient = true;  // "assuming t = 20 'C"
  ui_->ExpectPrompt("GENERATE DATA", "density of points dr (cm)", "0.003")
      .ExpectPrompt("GENERATE DATA", "rotor speed (rpm)", "50000")
      .ExpectBox("GENERATE DATA", "simulate with rotor acceleration phase?", platform::IDNO)
      .ExpectPrompt("GENERATE DATA", "time interval of scans (sec)", "300")
      .ExpectPrompt("GENERATE DATA", "number of simulated scans", "30")
      .ExpectPrompt("GENERATE DATA", "std of noise (OD)", "0.005");
  forms_.Expect({"Non-Ideal Sedimentation",
                 {{405, "8"}, {406, "66000"}, {407, "4.4"}, {412, "-2"}, {419, "-10"}},
                 {{402, 0}, {403, 0}, {404, 0}}});
  ui_->ExpectFiles("save generated data as", Chosen({(dir_ / "gen" / "00001.ra1").string()}));
  Window().Dispatch(214);
  ui_->lenient = false;
  ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  ASSERT_EQ(gFitEngineState.molarMassParameters, 1);
  const FormControl* field = forms_.seen.back().Find(406);
  ASSERT_NE(field, nullptr);
  EXPECT_EQ(field->label, "M");
  ASSERT_GT(CurrentScanSet().count, 0);

  // (The pile-up at the bottom is steeper than the gradient check allows:
  // its box is no part of this.)
  ui_->lenient = true;
  Window().Dispatch(213);  // Run
  ui_->lenient = false;
  // The model entered is the one generated: what is left is the noise.
  EXPECT_NEAR(FitLimitRmsd(-1), 0.005, 0.0005);
  const SolutionConditions& sc = gSolutionConditions;
  const double D = 4.4e-13 * 8.314462618e7 * sc.temperature / ((1 - sc.vbarRho) * 66000.0) * 1e7;
  FitInfoLines lines;
  ASSERT_TRUE(ComposeFitInfoLines(MainFitHost(), lines));
  float s = 0, shownD = 0, M = 0, ff0 = 0;
  ASSERT_EQ(std::sscanf(lines.line[4].c_str(), "s = %f, D = %f, implies M= %f, ff0 = %f", &s, &shownD, &M, &ff0), 4)
      << lines.line[4];
  EXPECT_FLOAT_EQ(s, 4.4f);
  EXPECT_NEAR(shownD, D, 1e-3 * D);
  EXPECT_FLOAT_EQ(M, 66000.0f);
  EXPECT_GT(ff0, 1.0f);
  EXPECT_EQ(lines.line[4].find("below 1"), std::string::npos) << lines.line[4];

  // 20 kDa cannot sediment at 4.4 S: its f/f0 would be below 1.
  forms_.Expect({"Non-Ideal Sedimentation", {{406, "20000"}}, {}});
  Window().Dispatch(212);
  ASSERT_TRUE(ComposeFitInfoLines(MainFitHost(), lines));
  ASSERT_EQ(std::sscanf(lines.line[4].c_str(), "s = %f, D = %f, implies M= %f, ff0 = %f", &s, &shownD, &M, &ff0), 4);
  EXPECT_LT(ff0, 1.0f);
  EXPECT_NE(lines.line[4].find(" (below 1: not physical)"), std::string::npos) << lines.line[4];
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

  // The same species in the M-and-s form: its entry is M0, shown and taken
  // as the molar mass, and the values it implies are those of D0 above.
  gFitEngineState.molarMassParameters = 1;
  P[1] = 64388.0f;
  UnpackModelParameters();
  forms_.Expect({"Hindered Sedimentation", {}, {{411, 0}}});
  Window().Dispatch(212);
  ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  const FormDialog& massForm = forms_.seen.back();
  EXPECT_EQ(massForm.Find(EditForSlot(1))->label, "M0 (Da)");
  EXPECT_EQ(massForm.Find(EditForSlot(1))->text, "64388");
  EXPECT_EQ(massForm.Find(EditForSlot(7))->text, "64.4");
  EXPECT_EQ(massForm.Find(EditForSlot(12))->text, "1.347");
  MainFitHost()->FillFitReportInputs(in);
  EXPECT_FLOAT_EQ(in.nonideal.impliedM, 64388.0f);
  EXPECT_NEAR(in.nonideal.D, 6.0, 1e-3);
  EXPECT_NEAR(in.nonideal.impliedFf0, 1.3472, 2e-4);
  gFitEngineState.molarMassParameters = 0;
}

}  // namespace
