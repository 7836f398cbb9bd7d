// The fluorescence corrections as the user sets them: the question chains of
// the menu commands (only the second id of each pair has a menu item to tick), the tool box with its unit conversions and refusals,
// and the menu check marks after a reload of the saved parameters.
#include <cmath>
#include <memory>
#include <string>

#include "app/commands/options/fluorescence_commands.h"
#include "app/dialogs/form_dialog.h"
#include "app_fixture.h"
#include "automation/serial/fluorescence_correction_record.h"
#include "data/fluorescence_corrections.h"
#include "data/scan_loading.h"
#include "fit/saved_params.h"

namespace {

using platform::IDNO;
using platform::IDYES;

class FluorescenceCommands : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    WriteAgreedDefaults();
    formScope_ = std::make_unique<ScopedFormRunner>(forms_);
    window_ = MakeWindow();
    CurrentDataTypeFlags().fluorescence = 1;
  }
  void TearDown() override {
    formScope_.reset();
    window_.reset();
    AppTest::TearDown();
  }
  FdsSignalParams& P() { return CurrentFdsSignalParams(); }
  bool Checked(int id) { return window_->IsMenuItemChecked(id); }
  void Box(const char* caption, const char* text, int answer) { ui_->ExpectBox(caption, text, answer); }
  void Prompt(const char* caption, const char* prompt, const char* reply) { ui_->ExpectPrompt(caption, prompt, reply); }
  void Done() {
    ExpectScriptMet();
    EXPECT_TRUE(forms_.failures.empty());
  }
  // The tool box with these entries typed in, confirmed.
  void ToolBox(std::vector<std::pair<int, std::string>> texts, std::vector<std::pair<int, int>> states = {}) {
    forms_.Expect({"Tools For Fitting Fluorescence AUC data", std::move(texts), std::move(states), true});
    window_->Dispatch(915);
  }

  ScriptedFormRunner forms_;
  std::unique_ptr<ScopedFormRunner> formScope_;
  std::unique_ptr<TXLAWindow> window_;
};

TEST_F(FluorescenceCommands, OtherDataAskFirstAndNoSwitchesTheCorrectionOff) {
  CurrentDataTypeFlags().fluorescence = 0;
  P().useConvolution = P().fitConvolutionWidth = 1;
  window_->CheckMenuItem(911, true);
  window_->CheckMenuItem(912, true);
  Box("Signal Radial Convolution", "this is intended for fluorescence data - proceed anyway?", IDNO);
  window_->Dispatch(912);
  Done();
  EXPECT_EQ(P().useConvolution, 0);
  EXPECT_EQ(P().fitConvolutionWidth, 0);
  EXPECT_FALSE(Checked(911));
  EXPECT_FALSE(Checked(912));
}

TEST_F(FluorescenceCommands, RadialConvolutionShadowAndGradientTakeTheirValues) {
  Box("Signal Radial Convolution", "use radial convolution?", IDYES);
  Prompt("Signal Radial Convolution", "characteristic width (cm)", "0.05");
  Box("Signal Radial Convolution", "fit characteristic convolution width?", IDYES);
  Prompt("Signal Radial Convolution", "consider dist factor", "3");
  window_->Dispatch(911);
  Box("Signal Excitation Shadow", "account for excitation shadow at bottom of cell??", IDYES);
  Prompt("Signal Excitation Shadow", "cone radius (cm)", "0.12");
  Box("Signal Excitation Shadow", "fit cone radius?", IDNO);
  window_->Dispatch(914);
  Box("Signal Amplitude Change With Radius", "use radial magnification gradient?", IDYES);
  Prompt("Signal Amplitude Change With Radius", "1+da/dr", "1.02");
  Box("Signal Amplitude Change With Radius", "fit radial magnification gradient?", IDYES);
  window_->Dispatch(907);
  Done();
  EXPECT_EQ(P().useConvolution, 1);
  EXPECT_FLOAT_EQ(P().convolutionWidth, 0.05f);
  EXPECT_EQ(P().fitConvolutionWidth, 1);
  EXPECT_FLOAT_EQ(P().convolutionCutoff, 3.0f);
  EXPECT_EQ(P().useShadow, 1);
  EXPECT_FLOAT_EQ(P().coneRadius, 0.12f);
  EXPECT_EQ(P().fitConeRadius, 0);
  EXPECT_EQ(P().useRadialGradient, 1);
  EXPECT_FLOAT_EQ(P().radialGradient, 1.02f);
  EXPECT_EQ(P().fitRadialGradient, 1);
  for (int id : {907, 912, 914}) EXPECT_TRUE(Checked(id)) << id;
}

TEST_F(FluorescenceCommands, DepletionEntersDInUnitsOf1e7AndKsAsItsLogarithm) {
  struct Case {
    const char* ks;
    float logKs;
  };
  for (const Case& c : {Case{"0.002", -2.69897f}, Case{"0", -8.0f}, Case{"-3", -8.0f}}) {
    const char* caption = "Johnston Ogston Signal Depletion";
    Box(caption, "account for Johnston Ogston anomaly of moving signal depletion?", IDYES);
    Prompt(caption, "s-value of depletion (S)", "4.5");
    Box(caption, "fit s-value?", IDYES);
    Prompt(caption, "D-value of depletion (F)", "5");
    Box(caption, "fit D-value?", IDNO);
    Prompt(caption, "amplitude of depletion (S)", "0.25");
    Box(caption, "fit amplitude?", IDYES);
    Prompt(caption, "ks-value", c.ks);
    Box(caption, "fit ks-value?", IDYES);
    window_->Dispatch(925);
    Done();
    EXPECT_FLOAT_EQ(P().depletionS, 4.5f);
    EXPECT_NEAR(P().depletionD, 5e-7, 1e-13);
    EXPECT_FLOAT_EQ(P().depletionAmplitude, 0.25f);
    EXPECT_NEAR(P().depletionLogKs, c.logKs, 1e-5) << c.ks;
  }
  // The offered D is the stored one in the entry's units.
  EXPECT_NEAR(std::stod(ui_->initialTexts[5]), 5.0, 1e-4) << ui_->initialTexts[5];
  Box("Johnston Ogston Signal Depletion", "account for Johnston Ogston anomaly of moving signal depletion?", IDNO);
  window_->Dispatch(925);
  Done();
  EXPECT_EQ(P().useDepletion, 0);
  EXPECT_EQ(P().fitDepletionS + P().fitDepletionD + P().fitDepletionAmplitude, 0);
  EXPECT_EQ(P().fitDepletionKs, 1);
}

TEST_F(FluorescenceCommands, DriftWithTimeStoresPercentagesAsFractions) {
  const char* caption = "Signal Amplitude Change With Time";
  Box(caption, "use linear temporal magnification drift?", IDYES);
  Prompt(caption, "(df/dt) [%%/h]", "5");
  Box(caption, "fit temporal magnification drift?", IDYES);
  Box(caption, "use exponential photophysics model?", IDYES);
  Prompt(caption, "rate [per h]", "0.3");
  Prompt(caption, "limiting signal level [%%]", "80");
  Box(caption, "fit limiting signal level?", IDNO);
  Box(caption, "fit temporal magnification drift?", IDYES);
  window_->Dispatch(910);
  Done();
  EXPECT_FLOAT_EQ(P().linearDrift, 0.05f);
  EXPECT_FLOAT_EQ(P().limitingLevel, 0.8f);
  EXPECT_FLOAT_EQ(P().driftRate, 0.3f);
  EXPECT_EQ(P().useDrift + P().useLinearDrift + P().useExponentialDrift, 3);
  EXPECT_EQ(P().fitLinearDrift + P().fitDriftRate, 2);
  EXPECT_EQ(P().fitLimitingLevel, 0);
  EXPECT_TRUE(Checked(910));
  // Both declined: everything of the drift is off.
  Box(caption, "use linear temporal magnification drift?", IDNO);
  Box(caption, "use exponential photophysics model?", IDNO);
  window_->Dispatch(909);
  Done();
  EXPECT_EQ(P().useDrift + P().useLinearDrift + P().fitLinearDrift + P().useExponentialDrift + P().fitDriftRate, 0);
  EXPECT_FALSE(Checked(910));
}

TEST_F(FluorescenceCommands, NonlinearDetectionRefusesPowersAtOrBelowZero) {
  const char* caption = "Nonlinear Detection";
  Box(caption, "account for nonlinear detection", IDYES);
  Prompt(caption, "power coeff d(log(a))/dc", "-1");
  Box(caption, "fit power coefficient?", IDYES);
  Prompt(caption, "baseline for power law", "0.2");
  Box(caption, "want to show transformed data (YES) or original (NO)?", IDYES);
  window_->Dispatch(908);
  Done();
  EXPECT_FLOAT_EQ(P().detectionPower, 0.01f);
  EXPECT_FLOAT_EQ(P().detectionBaseline, 0.2f);
  EXPECT_EQ(P().showTransformed, 1);
  EXPECT_TRUE(Checked(908));
  Box(caption, "account for nonlinear detection", IDNO);
  window_->Dispatch(906);
  Done();
  EXPECT_EQ(P().useNonlinearDetection + P().fitDetectionPower, 0);
  EXPECT_FALSE(Checked(908));
}

TEST_F(FluorescenceCommands, ToolBoxShowsAndStoresInTheUsersUnits) {
  P().linearDrift = 0.02f;
  P().depletionD = 4e-7f;
  P().depletionLogKs = -2.0f;
  ToolBox({{614, "5"}, {450, "80"}, {412, "0.002"}, {413, "6"}, {612, "1.05"}, {616, "0.2"}},
          {{621, 1}, {620, 1}, {835, 0}, {832, 1}, {615, 1}, {623, 1}, {401, 1}, {409, 1}});
  Done();
  ASSERT_EQ(forms_.seen.size(), 1u);
  const FormDialog& shown = forms_.seen[0];
  EXPECT_EQ(shown.controls.size(), 32u);
  EXPECT_EQ(shown.Find(614)->text, "2.0000");
  EXPECT_EQ(shown.Find(450)->text, "100.000");
  EXPECT_EQ(shown.Find(413)->text, "4.0000");
  EXPECT_EQ(shown.Find(412)->text, "0.01000");
  EXPECT_FLOAT_EQ(P().linearDrift, 0.05f);
  EXPECT_FLOAT_EQ(P().limitingLevel, 0.8f);
  EXPECT_NEAR(P().depletionLogKs, -2.69897, 1e-5);
  EXPECT_NEAR(P().depletionD, 6e-7, 1e-13);
  EXPECT_EQ(P().useDrift, 1);
  EXPECT_EQ(P().fitLinearDrift, 1);
  EXPECT_EQ(P().fitDriftRate, 0);  // its model is off
  for (int id : {907, 910, 914}) EXPECT_TRUE(Checked(id)) << id;
  EXPECT_FALSE(Checked(912));
  ToolBox({{412, "0"}});
  EXPECT_FLOAT_EQ(P().depletionLogKs, -8.0f);
}

TEST_F(FluorescenceCommands, ToolBoxRefusesWhatIsNotANumberAndCancelChangesNothing) {
  forms_.Expect({"", {{834, "abc"}}, {}, true});
  forms_.Expect({"", {{834, "-1"}}, {}, true});
  forms_.Expect({"", {{834, "0.5"}}, {}, false});
  window_->Dispatch(915);
  EXPECT_EQ(forms_.canCloseRefusals, 2);
  EXPECT_EQ(ui_->beeps, 2);
  ASSERT_EQ(ui_->transcript.size(), 2u);
  EXPECT_EQ(ui_->transcript[0].caption, "Input Error");
  EXPECT_EQ(ui_->transcript[0].text, "Invalid Entry");
  EXPECT_FLOAT_EQ(P().driftRate, 0.0f);
  // The baseline may be negative; the power may not.
  ToolBox({{627, "-0.1"}, {618, "-1"}});
  EXPECT_EQ(forms_.canCloseRefusals, 3);
}

TEST_F(FluorescenceCommands, ToolBoxSwitchingNonlinearDetectionOnTakesOnlyTheSwitch) {
  ToolBox({{618, "2"}, {627, "0.3"}}, {{626, 1}, {630, 1}, {640, 1}});
  EXPECT_EQ(P().useNonlinearDetection, 1);
  EXPECT_FLOAT_EQ(P().detectionPower, 1.0f);
  EXPECT_FLOAT_EQ(P().detectionBaseline, 0.0f);
  EXPECT_EQ(P().fitDetectionPower + P().showTransformed, 0);
  EXPECT_TRUE(Checked(908));
  // Once on, the entries count; a power of 0 is taken as 0.01.
  ToolBox({{618, "0"}, {627, "0.3"}}, {{630, 1}});
  EXPECT_FLOAT_EQ(P().detectionPower, 0.01f);
  EXPECT_FLOAT_EQ(P().detectionBaseline, 0.3f);
  EXPECT_EQ(P().fitDetectionPower, 1);
  ToolBox({}, {{626, 0}});
  EXPECT_EQ(P().useNonlinearDetection + P().fitDetectionPower + P().showTransformed, 0);
  EXPECT_FALSE(Checked(908));
}

TEST_F(FluorescenceCommands, ReloadedCorrectionsTickTheirMenuItems) {
  const std::string path = (dir_ / "~tmppars.fi1").string();
  P().useShadow = 1;
  P().useExponentialDrift = P().useDrift = 1;
  P().useDepletion = 1;
  ASSERT_TRUE(TmpSaveBestParams(path, false));
  CurrentFdsSignalParams() = FdsSignalParams{};
  ui_->lenient = true;
  ASSERT_EQ(ReloadParameters(path), 1);
  for (int id : {910, 914}) EXPECT_TRUE(Checked(id)) << id;
  for (int id : {907, 908, 912}) EXPECT_FALSE(Checked(id)) << id;
}

TEST_F(FluorescenceCommands, SortingAsksForListsAndFiltersBeforeCopying) {
  const char* caption = "SORT FLUORESCENCE AUC DATA";
  CurrentDataTypeFlags().fluorescence = 0;
  Box("Sort Fluorescence AUC data", "please load data", platform::IDOK);
  window_->Dispatch(903);
  Done();
  for (int k = 1; k <= 2; ++k) {
    std::ofstream out(dir_ / ("A0000" + std::to_string(k) + ".FI1"));
    out << "FDS Voltage: 650.7 Gain: 4 Range: 2\nF 1 20.0 50000 " << 100 * k << " 1.6e10 488 2\n";
    for (int i = 0; i < 20; ++i) out << 6.0 + 0.05 * i << " 100 1\n";
  }
  CurrentDataTypeFlags().fluorescence = 1;
  CurrentDataPaths().dataFolder = dir_.string() + "/";
  ScanSet& s = CurrentScanSet();
  AllocateScanTables(s, 1);
  s.fileNames[1] = "A00001.FI1";
  s.order[1] = 1;
  Box(caption, "sort all data in this folder?", IDYES);
  Box(caption, "make list files?", IDYES);
  Prompt(caption, "t min [sec]", "0");
  Prompt(caption, "t max [sec]", "36000");
  // Counts no int holds are refused where typed, with their range.
  Prompt(caption, "target # of scans", "1e30");
  Box(caption, "enter a whole number from 0 to 100000", platform::IDOK);
  Prompt(caption, "target # of scans", "360.7");  // 100 s apart
  Prompt(caption, "exclude fluorescence reference in cell#", "3e9");
  Box(caption, "enter a whole number from 0 to 99", platform::IDOK);
  Prompt(caption, "exclude fluorescence reference in cell#", "4");
  Box(caption, "exclude files with signal below thresold in [rmin rmax] interval?", IDNO);
  window_->Dispatch(903);
  Done();
  std::ifstream list(dir_ / "sorted" / "list.FI1_A_PMV650_r2_g4");
  std::stringstream text;
  text << list.rdbuf();
  // 200 s is not more than 100 s after 100 s.
  EXPECT_EQ(text.str(), "newformat n=1\n" + (dir_ / "sorted").string() + "\n00001.FI1_A_PMV650_r2_g4\n");
  FreeScanSetArrays(s);
  s = ScanSet{};
  CurrentDataPaths() = LoadedDataPaths{};
}

TEST_F(FluorescenceCommands, SerialFitsSaveAndPutBackTheCorrectionsThemselves) {
  P().useDrift = P().useExponentialDrift = P().fitDriftRate = 1;
  P().driftRate = 0.25f;
  P().useRadialGradient = P().fitRadialGradient = 1;
  P().radialGradient = 1.5f;
  const FluorescenceCorrectionValues saved = FluorescenceCorrections().Get();
  EXPECT_EQ(FloatingCorrectionsLine(saved), "\t\t\t - kbleach = 0.2500 1/h (floating)gradient = 1.500\t\t\t\n");
  CurrentFdsSignalParams() = FdsSignalParams{};
  FluorescenceCorrections().Set(saved);
  EXPECT_EQ(P().useDrift + P().useExponentialDrift + P().fitDriftRate + P().useRadialGradient, 4);
  EXPECT_FLOAT_EQ(P().driftRate, 0.25f);
  EXPECT_FLOAT_EQ(P().radialGradient, 1.5f);
  EXPECT_TRUE(Checked(907) && Checked(910));
  window_.reset();  // the stand-in returns with the window gone
  EXPECT_FALSE(FluorescenceCorrections().Get().gradientOn);
}

}  // namespace
