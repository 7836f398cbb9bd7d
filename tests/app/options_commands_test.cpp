// Options commands: the M-and-s conversion both ways, the radial resolution,
// the cell change, the worst scan, the screening switches, the initial-data
// polynomial, the start-time offset and its fitting, the Simplex settings
// and the notes file, with the inputs that must be refused.
#include <cmath>
#include <string>

#include "data/load_hooks.h"
#include "data/scan_loading.h"
#include "fit/fit_engine_state.h"
#include "lamm/lamm_settings.h"
#include "road_support.h"

namespace {

class OptionsCommands : public RoadTest {
 protected:
  void TearDown() override {
    CurrentPlotWindows().worstScan = 0;
    RoadTest::TearDown();
  }
};

TEST_F(OptionsCommands, FitMAndSConvertsDiffusionToMolarMassAndBack) {
  Window();
  gFitEngineState.molarMassParameters = 0;
  gModelParams.s[1] = 4.0f;
  gModelParams.massOrD[1] = 6.0f;
  gModelParams.s[2] = -2.0f;  // a floating species converts by |s|
  gModelParams.massOrD[2] = 3.0f;
  gModelParams.massOrD[3] = 0.0f;
  PackModelParameters();
  ui_->ExpectBox("", "assuming t = 20 'C");
  Window().Dispatch(217);
  EXPECT_FLOAT_EQ(*CurrentLoadTargets().RT, 2.436002e10f);
  EXPECT_EQ(gFitEngineState.molarMassParameters, 1);
  EXPECT_NEAR(gModelParams.massOrD[1], 60148.2, 0.1);
  EXPECT_NEAR(gModelParams.massOrD[2], 2e-6 * 2.436002e10 / (0.27 * 3.0), 0.05);
  EXPECT_EQ(gModelParams.massOrD[3], 0.0f);
  EXPECT_FLOAT_EQ(gModelParameterVector.P[1], gModelParams.massOrD[1]);

  ui_->ExpectBox("", "assuming t = 20 'C");
  Window().Dispatch(217);
  EXPECT_EQ(gFitEngineState.molarMassParameters, 0);
  EXPECT_NEAR(gModelParams.massOrD[1], 6.0, 5e-6);
  EXPECT_NEAR(gModelParams.massOrD[2], 3.0, 5e-6);

  // Without buoyancy there is no conversion: the form stays as it is.
  gSolutionConditions.vbarRho = 1.0f;
  ui_->ExpectBox("", "assuming t = 20 'C");
  ui_->ExpectBox("FIT M AND S", "cannot be converted");
  Window().Dispatch(217);
  EXPECT_EQ(gFitEngineState.molarMassParameters, 0);
  EXPECT_NEAR(gModelParams.massOrD[1], 6.0, 5e-6);
  ExpectScriptMet();
}

TEST_F(OptionsCommands, RadialResolutionHasAFloorAndAsksOnlyWhenItChanges) {
  LoadRun(3);
  const char* caption = "SET RADIAL RESOLUTION";
  ui_->ExpectPrompt(caption, "defaut 0.001 (=all data):", std::string("0.0005"));
  ui_->ExpectBox(caption, "setting to minimum 0.001 (all data)");
  Window().Dispatch(590);
  EXPECT_FLOAT_EQ(CurrentScanSet().radialResolution, 0.001f);

  ui_->ExpectPrompt(caption, "defaut 0.001 (=all data):", std::string("0.002"));
  ui_->ExpectBox(caption, "save as startup default?", platform::IDNO);
  ui_->ExpectBox(caption, "reload now?", platform::IDYES);
  Window().Dispatch(590);
  EXPECT_FLOAT_EQ(CurrentScanSet().radialResolution, 0.002f);
  EXPECT_EQ(CurrentScanSet().count, 3);
  EXPECT_FALSE(Window().DialogOpen);

  ui_->ExpectPrompt(caption, "defaut 0.001 (=all data):", std::string("0.002"));
  Window().Dispatch(590);
  ExpectScriptMet();
}

TEST_F(OptionsCommands, ChangeCellLoadsTheSameScansOfAnotherCell) {
  WriteRun(".ra2", 3);
  LoadRun(3);
  ui_->lenient = true;  // the load and the run after it may advise
  ui_->ExpectPrompt("LOAD DATA", "cell number:", std::string("9"));
  Window().Dispatch(828);
  EXPECT_EQ(CurrentScanSet().fileNames[1].back(), '1');

  ui_->ExpectPrompt("LOAD DATA", "cell number:", std::string("2.7"));
  Window().Dispatch(828);
  const FileNameList& list = CurrentFileNameList();
  ASSERT_EQ(list.count, 3);
  for (int i = 1; i <= list.count; ++i) EXPECT_EQ(list.names[i].back(), '2') << list.names[i];
  EXPECT_EQ(Headless(Window()).Title(), "SEDIMENTATION ANALYSIS -> " + list.names[1] + "...");
  EXPECT_EQ(CurrentScanSet().count, 3);
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(CurrentScanSet().fileNames[i].back(), '2');
}

TEST_F(OptionsCommands, ExcludeWorstScanNeedsARatingAndAScanLeftOver) {
  LoadRun(3);
  ui_->ExpectBox("REMOVING SCAN", "fit first");
  Window().Dispatch(591);
  EXPECT_EQ(CurrentScanSet().count, 3);

  const ScanSet& s = CurrentScanSet();
  CurrentPlotWindows().worstScan = s.order[2];
  const std::string worst = s.fileNames[static_cast<std::size_t>(s.order[2])];
  ui_->ExpectBox("REMOVING SCAN", "removing " + worst);
  Window().Dispatch(591);
  ASSERT_EQ(CurrentScanSet().count, 2);
  for (int i = 1; i <= 2; ++i) EXPECT_NE(CurrentScanSet().fileNames[i], worst);
  EXPECT_FALSE(Window().DialogOpen);

  // A rating of scans that have been replaced since names none of the new.
  CurrentPlotWindows().worstScan = CurrentScanSet().order[2];
  LoadRun(3);
  ui_->ExpectBox("REMOVING SCAN", "fit first");
  Window().Dispatch(591);
  EXPECT_EQ(CurrentScanSet().count, 3);
  ExpectScriptMet();
}

TEST_F(OptionsCommands, TheLastScanIsNeverExcluded) {
  LoadRun(2);
  CurrentPlotWindows().worstScan = CurrentScanSet().order[1];
  ui_->ExpectBox("REMOVING SCAN", "removing ");
  Window().Dispatch(591);
  ASSERT_EQ(CurrentScanSet().count, 1);
  CurrentPlotWindows().worstScan = 1;
  ui_->ExpectBox("REMOVING SCAN", "cannot be removed");
  Window().Dispatch(591);
  EXPECT_EQ(CurrentScanSet().count, 1);
  ExpectScriptMet();
}

TEST_F(OptionsCommands, ScreeningSwitchesAskTheirLevelsWhenSwitchedOn) {
  Window();
  DataTypeFlags& f = CurrentDataTypeFlags();
  ui_->ExpectBox("EXCLUDE EXCESS GRADIENTS", "save current preferences?", platform::IDNO);
  Window().Dispatch(868);
  EXPECT_EQ(f.flagTooStrongGradients, 0);
  ui_->ExpectPrompt("EXCLUDE EXCESS GRADIENTS", "maximum gradient allowed (signal/cm):", std::string("250"));
  ui_->ExpectBox("EXCLUDE EXCESS GRADIENTS", "save current preferences?", platform::IDNO);
  Window().Dispatch(868);
  EXPECT_EQ(f.flagTooStrongGradients, 1);
  EXPECT_FLOAT_EQ(f.maxGradient, 250.0f);

  // On: No keeps it on and asks the levels again.
  ui_->ExpectBox("EXCLUDE SPIKES", "turn off?", platform::IDNO);
  ui_->ExpectPrompt("EXCLUDE SPIKES", "level considered as spike", std::string("0.3"));
  ui_->ExpectPrompt("EXCLUDE SPIKES", "spike threshold for FDS:", std::string("80"));
  ui_->ExpectBox("EXCLUDE SPIKES", "save current preferences?", platform::IDNO);
  Window().Dispatch(247);
  EXPECT_EQ(f.excludeSpikes, 1);
  EXPECT_FLOAT_EQ(f.absorbanceSpikeThreshold, 0.3f);
  EXPECT_FLOAT_EQ(f.fluorescenceSpikeThreshold, 80.0f);
  ui_->ExpectBox("EXCLUDE SPIKES", "turn off?", platform::IDYES);
  ui_->ExpectBox("EXCLUDE SPIKES", "save current preferences?", platform::IDNO);
  Window().Dispatch(247);
  EXPECT_EQ(f.excludeSpikes, 0);
  ExpectScriptMet();
}

TEST_F(OptionsCommands, StartTimeOffsetAndItsFitGoTogether) {
  Window();
  ModelParams& mp = gModelParams;
  // Fitting t0 with the offset off switches the offset on first.
  ui_->ExpectPrompt("SET SIMULATION START TIME", "offset by (sec)", std::string("30"));
  Window().Dispatch(255);
  EXPECT_EQ(mp.startTimeOffsetOn, 1);
  EXPECT_EQ(mp.startTimeFit, 1);
  EXPECT_EQ(gModelParameterVector.F[24], 1);
  EXPECT_FLOAT_EQ(gModelParameterVector.P[24], 30.0f);

  // The offset off takes its fit with it; the value is still asked.
  ui_->ExpectPrompt("SET SIMULATION START TIME", "offset by (sec)", std::string("12.5"));
  Window().Dispatch(256);
  EXPECT_EQ(mp.startTimeOffsetOn, 0);
  EXPECT_EQ(mp.startTimeFit, 0);
  EXPECT_EQ(gModelParameterVector.F[24], 0);
  EXPECT_FLOAT_EQ(gModelParameterVector.P[24], 12.5f);
  ExpectScriptMet();
}

TEST_F(OptionsCommands, NumbersThatWouldBreakTheirUsersAreRefused) {
  Window();
  InitialDataScan& d = CurrentScanSet().initialData;
  d.polynomialOrder = 1;
  ui_->ExpectPrompt("", "polynom order = ", std::string("11"));
  ui_->ExpectBox("", "0 to 10");
  Window().Dispatch(219);
  EXPECT_EQ(d.polynomialOrder, 1);
  ui_->ExpectPrompt("", "polynom order = ", std::string("3.6"));
  ui_->ExpectPrompt("", "extrapolation distance factor", std::string("2"));
  Window().Dispatch(219);
  EXPECT_EQ(d.polynomialOrder, 3);
  EXPECT_FLOAT_EQ(d.extrapolationDistance, 2.0f);

  gFitEngineState.initialRandomization = 0.01f;
  ui_->ExpectPrompt("", "maximum relativ change < ", std::string("1e-5"));
  ui_->ExpectPrompt("", "%initial randomization in simplex", std::string("0"));
  ui_->ExpectBox("", "above 0");
  Window().Dispatch(224);
  EXPECT_NEAR(LammSettings().equilibriumThreshold, 1e-5, 1e-12);
  EXPECT_FLOAT_EQ(gFitEngineState.initialRandomization, 0.01f);
  ui_->ExpectPrompt("", "maximum relativ change < ", std::nullopt);
  ui_->ExpectPrompt("", "%initial randomization in simplex", std::string("0.05"));
  Window().Dispatch(224);
  EXPECT_FLOAT_EQ(gFitEngineState.initialRandomization, 0.05f);

  // Notes exist only beside a single loaded file.
  CurrentDataPaths().notesFile.clear();
  ui_->ExpectBox("NOTES", "single loaded data file");
  Window().Dispatch(216);
  CurrentDataPaths().notesFile = (dir_ / "notes.ra1").string();
  Window().Dispatch(216);
  EXPECT_EQ(processes_.calls, std::vector<std::string>{"edit " + (dir_ / "notes.ra1").string()});
  ExpectScriptMet();
}

}  // namespace
