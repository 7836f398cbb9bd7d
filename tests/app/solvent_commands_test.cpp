// Command 542 and its dialog "Inhomogeneous Solvent Parameters": what OK
// stores, what Cancel and refused entries leave alone, the list files, and
// the conversion of the species to 20 degC water and back.
#include <cmath>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/commands/options/solvent_commands.h"
#include "app/dialogs/form_dialog.h"
#include "app_fixture.h"
#include "distributions/conti_parameters.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_vector.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/solvent_gradient.h"
#include "lamm/global/conc_dependent_coefficients.h"

namespace {

constexpr const char* kCaption = "Inhomogeneous Solvent Parameters";

class SolventCommands : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    Reset();
    WriteAgreedDefaults();
    ui_->lenient = true;
    formScope_ = std::make_unique<ScopedFormRunner>(forms_);
    window_ = MakeWindow();
  }
  void TearDown() override {
    formScope_.reset();
    window_.reset();
    Reset();
    AppTest::TearDown();
  }
  static void Reset() {
    CurrentSolventGradientSettings() = SolventGradientSettings{};
    CurrentCosoluteCoefficients() = CosoluteCoefficients{};
    gModelSelectorFlags = ModelSelectorFlags{};
    gModelParams = ModelParams{};
    gModelParameterVector = ModelParameterVector{};
    gSolutionConditions = SolutionConditions{};
    gFitEngineState.molarMassParameters = 0;
    ContiSolventGradient() = false;
  }
  void Open(std::vector<std::pair<int, std::string>> texts, std::vector<std::pair<int, int>> states,
            bool accept = true) {
    forms_.Expect({kCaption, std::move(texts), std::move(states), accept});
    window_->Dispatch(542);
  }
  int Count(const std::string& text) const {
    int n = 0;
    for (const auto& t : ui_->transcript) n += t.text == text;
    return n;
  }

  ScriptedFormRunner forms_;
  std::unique_ptr<ScopedFormRunner> formScope_;
  std::unique_ptr<TXLAWindow> window_;
};

TEST_F(SolventCommands, CancelAndRefusedEntriesChangeNothing) {
  Open({{842, "1.2"}, {851, "80"}}, {{857, 1}}, false);
  // Refused with the model off as well: a typo, a density of 0, too small a
  // cosolute grid; each time the dialog stays open and is then cancelled.
  for (const auto& [id, text] : std::vector<std::pair<int, std::string>>{
           {838, "0.7x3"}, {842, "0"}, {843, "0"}, {838, "1.0017731"}}) {
    forms_.Expect({kCaption, {{id, text}}, {}, true});
    Open({}, {}, false);
  }
  // Too small a cosolute grid, and grids no int can count.
  for (const char* grid : {"2", "3e9", "1e30"}) {
    forms_.Expect({kCaption, {{851, grid}}, {{844, 1}, {840, 0}}, true});
    Open({}, {}, false);
  }
  EXPECT_EQ(forms_.canCloseRefusals, 7);
  EXPECT_TRUE(forms_.failures.empty());
  const SolventGradientSettings& sg = CurrentSolventGradientSettings();
  EXPECT_FALSE(sg.UseInhomogeneousSolvent);
  EXPECT_FLOAT_EQ(sg.BufferDensity1atm, 0.99823f);
  EXPECT_EQ(sg.CosoluteGridSize, 0);
  EXPECT_EQ(sg.VbarSolvated, 0.0f);
  EXPECT_FLOAT_EQ(gSolutionConditions.vbar, 0.73f);
  // The dialog showed the settings as the program starts with them.
  const FormDialog& shown = forms_.seen.front();
  EXPECT_EQ(shown.Find(838)->text, "0.7300");
  EXPECT_EQ(shown.Find(841)->text, "4.5910");
  EXPECT_EQ(shown.Find(842)->text, "0.998230");
  EXPECT_EQ(shown.Find(843)->text, "0.0100");
  EXPECT_EQ(shown.Find(845)->text, "0.7300");
  EXPECT_EQ(shown.Find(865)->text, "30.00");
  EXPECT_EQ(shown.Find(851)->text, "50");
}

TEST_F(SolventCommands, CsClAndTheCosoluteFiles) {
  ui_->ExpectFiles("Select NONIDEAL D(c) Data File", {});
  Open({{851, "75.9"}}, {{844, 1}, {840, 0}, {850, 1}, {863, 0}, {858, 1}});
  const SolventGradientSettings& sg = CurrentSolventGradientSettings();
  EXPECT_EQ(sg.CosoluteGridSize, 75);
  EXPECT_EQ(sg.CosoluteGridSizeEntry, 75);
  EXPECT_TRUE(sg.CsClAt25C);
  EXPECT_TRUE(sg.NonidealCosolute);  // a cancelled D(c) file keeps CsCl
  EXPECT_TRUE(sg.DynamicGradient && sg.SedimentingCosolute && !sg.StaticGradient);
  EXPECT_EQ(Count("Could Not Open New NONIDEAL D(c) Data File"), 1);
  // Without lists the buffer is water at 20 degC.
  EXPECT_FLOAT_EQ(sg.BufferDensity1atm, 0.99823f);
  EXPECT_FLOAT_EQ(sg.BufferViscosity1atm, 0.001002f);
  EXPECT_FLOAT_EQ(sg.ViscosityRatio, 1.0f);

  // A chosen s(c) file replaces the path; a cancelled one of a nonideal
  // (not CsCl) cosolute makes it ideal.
  ui_->ExpectFiles("Select NONIDEAL s(c) Data File", {true, {"my-s.dat"}});
  Open({}, {{850, 0}, {847, 1}, {859, 1}});
  EXPECT_EQ(CurrentCosoluteCoefficients().sPath, "my-s.dat");
  EXPECT_TRUE(sg.NonidealCosolute);
  ui_->ExpectFiles("Select NONIDEAL D(c) Data File", {});
  Open({}, {{858, 1}});
  EXPECT_FALSE(sg.NonidealCosolute);

  // A density list read at once sets the buffer at the loading concentration.
  std::ofstream("rho.dat") << "0.99823\n0\n12.7\n";
  ui_->ExpectFiles("Select DENSITY(c) Data File", {true, {"rho.dat"}});
  Open({{846, "1.5"}}, {{860, 1}, {856, 1}});
  EXPECT_NEAR(sg.BufferDensity1atm, 1.188730, 1e-6);
  EXPECT_EQ(sg.DensityCoefficientFile, "rho.dat");
  EXPECT_TRUE(sg.WaterCompressibilityApplied);
  EXPECT_DOUBLE_EQ(sg.Compressibility, 4.591e-4);

  // A density list that gives no density refuses the model.
  std::ofstream("zero.dat") << "0\n";
  ui_->ExpectFiles("Select DENSITY(c) Data File", {true, {"zero.dat"}});
  Open({}, {{860, 1}, {857, 1}});
  EXPECT_FALSE(sg.UseInhomogeneousSolvent);
  EXPECT_EQ(Count("the buffer density must be positive"), 1);
}

TEST_F(SolventCommands, SwitchingOnConvertsToWaterOnceAndOffConvertsBack) {
  ModelParams& mp = gModelParams;
  mp.componentCount = 2;
  mp.s[1] = 4.0f;
  mp.massOrD[1] = 5.0f;
  mp.s[2] = 2.0f;
  mp.massOrD[2] = -1.0f;
  const std::vector<std::pair<int, std::string>> buffer = {{838, "0.73"}, {842, "1.05"}, {843, "0.011"}};
  Open(buffer, {{857, 1}});
  const SolventGradientSettings& sg = CurrentSolventGradientSettings();
  EXPECT_TRUE(sg.UseInhomogeneousSolvent && sg.StandardConditionsApplied);
  EXPECT_TRUE(ContiSolventGradient());
  EXPECT_NEAR(sg.ViscosityRatio, 1.097804, 1e-6);
  EXPECT_NEAR(mp.s[1], 5.101938, 2e-5);
  EXPECT_NEAR(mp.massOrD[1], 5.489022, 2e-5);
  EXPECT_EQ(mp.massOrD[2], 0.0f);
  EXPECT_FLOAT_EQ(gSolutionConditions.density, 0.99823f);
  EXPECT_FLOAT_EQ(gSolutionConditions.viscosity, 1.0f);
  EXPECT_FALSE(CurrentFitOptions().entry[kFitOptionVbar].present);
  Open(buffer, {{857, 1}, {839, 1}});
  EXPECT_NEAR(mp.s[1], 5.101938, 2e-5);
  // vbar is now fitted, against 20 degC water.
  const FitOptionEntry vbarEntry = CurrentFitOptions().entry[kFitOptionVbar];
  EXPECT_TRUE(vbarEntry.present && vbarEntry.plainVbar);
  EXPECT_EQ(vbarEntry.f, &gSolutionConditions.vbar);
  EXPECT_FLOAT_EQ(vbarEntry.densityFactor, 0.99823f);
  EXPECT_EQ(Count("changing s and D (and M) to standard conditions!"), 1);
  Open({}, {{857, 0}});
  EXPECT_FALSE(CurrentFitOptions().entry[kFitOptionVbar].present);
  EXPECT_NEAR(mp.s[1], 4.0, 2e-5);
  EXPECT_NEAR(mp.massOrD[1], 5.0, 2e-5);
  EXPECT_FLOAT_EQ(gSolutionConditions.density, 1.05f);
  EXPECT_NEAR(gSolutionConditions.viscosity, 1.097804, 1e-6);
  EXPECT_FALSE(ContiSolventGradient());
  EXPECT_EQ(Count("changing s and D (and M) back to experimental conditions!"), 1);
  // On again: the note of the static gradient came once in this run.
  Open({}, {{857, 1}});
  Open({}, {{857, 0}});
  EXPECT_EQ(Count("this is only implemented for regular Lamm equation models and ls-g*(s)\nlike discrete "
                  "noninteracting species (boundary and analytical zone centrifugation)\nc(s) and c(M) "
                  "distributions"),
            1);
  // Off without a conversion: no message.
  Open({}, {{857, 0}});
  EXPECT_EQ(Count("changing s and D (and M) back to experimental conditions!"), 2);
  // With M and s the masses stay and only s changes.
  gFitEngineState.molarMassParameters = 1;
  mp.massOrD[1] = 66000.0f;
  Open(buffer, {{857, 1}});
  EXPECT_EQ(mp.massOrD[1], 66000.0f);
  EXPECT_GT(mp.s[1], 4.5f);
  EXPECT_TRUE(forms_.failures.empty());
}

TEST_F(SolventCommands, SetVRhoKeepsTheModelsBufferAndAsksForTheApparentVbar) {
  ui_->lenient = false;
  // Without the model: both vbar prompts and the density.
  ui_->ExpectPrompt("", "partial spec. volume = ", "0.72")
      .ExpectPrompt("", "partial spec. volume at 20C = ", "0.72")
      .ExpectPrompt("", "buffer density = ", "1.01");
  window_->Dispatch(218);
  EXPECT_FLOAT_EQ(gSolutionConditions.vbarRho, 0.72f * 1.01f);
  EXPECT_EQ(gFitEngineState.fitVbar, 0);

  // With a sedimenting cosolute: the sequence and apparent vbar, the buffer
  // refused, and the question whether to fit vbar.
  SolventGradientSettings& sg = CurrentSolventGradientSettings();
  sg.UseInhomogeneousSolvent = true;
  sg.StaticGradient = false;
  sg.DynamicGradient = sg.SedimentingCosolute = true;
  gSolutionConditions.density = kWaterDensity20C;
  ui_->ExpectBox("INHOMOGENEOUS SOLVENT", "vbar at standard conditions and apparent vbar will be different")
      .ExpectPrompt("", "vbar (sequence) = ", "0.74")
      .ExpectPrompt("", "apparent vbar = ", "0.70")
      .ExpectBox("Error", "buffer conditions cannot be changed - if this is necessary switch off inhomogeneous solvent")
      .ExpectBox("INHOMOGENEOUS SOLVENT", "fit for partial specific volume of macromolecule?", platform::IDYES);
  window_->Dispatch(218);
  EXPECT_FLOAT_EQ(gSolutionConditions.vbar, 0.74f);
  EXPECT_FLOAT_EQ(sg.EffectiveVbar, 0.70f);
  EXPECT_FLOAT_EQ(sg.VbarSolvated, 0.70f);
  EXPECT_FLOAT_EQ(gSolutionConditions.density, kWaterDensity20C);
  EXPECT_TRUE(sg.FitVbar);
  EXPECT_EQ(gFitEngineState.fitVbar, 1);
  ExpectScriptMet();

  // Entry 1 of the fit vector is the apparent vbar: a fit moves it (and the
  // solvated vbar the dialog shows), not the sequence vbar.
  const FitOptionEntry entry = CurrentFitOptions().entry[kFitOptionVbar];
  ASSERT_TRUE(entry.present);
  EXPECT_EQ(entry.f, &sg.EffectiveVbar);
  EXPECT_FALSE(entry.plainVbar);
  const int n = ParametersToFitVector(0, nullptr);
  ASSERT_GE(n, 1);
  std::vector<float> v(static_cast<size_t>(n) + 1, 0.0f);
  ParametersToFitVector(n, v.data());
  EXPECT_FLOAT_EQ(v[1], 0.70f);
  v[1] = 0.71f;
  FitVectorToParameters(v.data());
  EXPECT_FLOAT_EQ(sg.EffectiveVbar, 0.71f);
  EXPECT_FLOAT_EQ(sg.VbarSolvated, 0.71f);
  EXPECT_FLOAT_EQ(gSolutionConditions.vbar, 0.74f);
}

}  // namespace
