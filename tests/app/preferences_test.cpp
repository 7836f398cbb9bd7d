#include <cmath>

#include "app_fixture.h"

using Preferences = AppTest;


TEST_F(Preferences, FullFileRoundTripsEveryLine) {
  auto w = AgreedWindow();
  // Non-default values on every line.
  Options().FitRedrawResidualsBitmap = true;
  Options().FitRedrawDistributionPlot = true;
  SoundState.soundsOn = false;
  Options().ScanColorFromTime = false;
  Options().InfoWizardMessages = 0;
  Conti().maxEntropy = 0;
  Conti().secondDerivative = 1;
  Options().IntegrationRangesFromFile = true;
  Conti().normalEquationThreads = 6;
  gFitEngineState.useSimplex = 0;
  gFitEngineState.useMarquardt = 1;
  Conti().suppressBaselineCorrelation = 0;
  Options().LammThreadCount = 3;
  Options().FitUpdateInterval = 2.5f;
  Options().AlwaysLoadG2m1 = true;
  Options().TimeStampCheck = 0;
  Options().TimeStampTolerance = 1.25;
  Options().ErrorPropagationToSw = true;
  CurrentDataTypeFlags().excludeSpikes = 0;
  CurrentDataTypeFlags().absorbanceSpikeThreshold = 0.25f;
  CurrentDataTypeFlags().fluorescenceSpikeThreshold = 50.0f;
  CurrentDataTypeFlags().flagTooStrongGradients = 0;
  CurrentScanSet().radialResolution = 0.002f;
  ASSERT_EQ(SaveParameterPreferences(*w), 1);
  EXPECT_EQ(PreferenceLines(),
            (std::vector<std::string>{"1", "0.0020", "1", "0", "0", "1", "0", "0", "0", "2", "1",
                                      "6", "3", "0", "3", "2.5", "1", "-25000", "25000", "1", "0",
                                      "2.500e-01", "5.000e+01", "0"}));

  // Back to the defaults, then read the file again.
  Options() = ProgramOptions{};
  Conti() = ContiSettings{};
  gFitEngineState = FitEngineState{};
  CurrentDataTypeFlags() = DataTypeFlags{};
  CurrentScanSet().radialResolution = 0.001f;
  SoundState.soundsOn = true;
  ASSERT_EQ(LoadParameterPreferences(*w), 1);
  EXPECT_TRUE(Options().DisclaimerAccepted);
  EXPECT_FLOAT_EQ(CurrentScanSet().radialResolution, 0.002f);
  EXPECT_TRUE(Options().FitRedrawResidualsBitmap);
  EXPECT_FALSE(Options().FitRedrawResidualsPlot);
  EXPECT_TRUE(Options().FitRedrawDistributionPlot);
  EXPECT_FALSE(SoundState.soundsOn);
  EXPECT_FALSE(Options().ScanColorFromTime);
  EXPECT_EQ(Options().InfoWizardMessages, 0);
  EXPECT_EQ(Conti().secondDerivative, 1);
  EXPECT_EQ(Conti().maxEntropy, 0);
  EXPECT_EQ(Conti().normalEquationThreads, 6);
  EXPECT_EQ(gFitEngineState.useMarquardt, 1);
  EXPECT_EQ(gFitEngineState.useSimplex, 0);
  EXPECT_EQ(Conti().suppressBaselineCorrelation, 0);
  EXPECT_EQ(Options().LammThreadCount, 3);
  EXPECT_FLOAT_EQ(Options().FitUpdateInterval, 2.5f);
  EXPECT_TRUE(Options().AlwaysLoadG2m1);
  EXPECT_EQ(Options().TimeStampCheck, 0);
  EXPECT_NEAR(Options().TimeStampTolerance, 1.25, 1e-12);
  EXPECT_TRUE(Options().ErrorPropagationToSw);
  EXPECT_EQ(CurrentDataTypeFlags().excludeSpikes, 0);
  EXPECT_FLOAT_EQ(CurrentDataTypeFlags().absorbanceSpikeThreshold, 0.25f);
  EXPECT_FLOAT_EQ(CurrentDataTypeFlags().fluorescenceSpikeThreshold, 50.0f);
  EXPECT_EQ(CurrentDataTypeFlags().flagTooStrongGradients, 0);
  // The method line changed the method in force, so the file was rewritten
  // at once: nothing asked, nothing failed.
  EXPECT_TRUE(ui_->failures.empty());
  EXPECT_TRUE(w->IsMenuItemChecked(824));
  EXPECT_FALSE(w->IsMenuItemChecked(826));
  EXPECT_TRUE(w->IsMenuItemChecked(294));
  EXPECT_FALSE(w->IsMenuItemChecked(295));
}

TEST_F(Preferences, OnlyTheDisclaimerLineAsksForTheUpdatePreferencesAndCompletesTheFile) {
  WritePreferences({"1"});
  ui_->ExpectBox("SET PREFERENCE", "update residuals bitmap during fit?", platform::IDYES);
  ui_->ExpectBox("SET PREFERENCE", "update residuals plot during fit?", platform::IDNO);
  auto w = MakeWindow();
  ExpectScriptMet();
  EXPECT_TRUE(Options().DisclaimerAccepted);
  EXPECT_TRUE(Options().FitRedrawResidualsBitmap);
  EXPECT_FALSE(Options().FitRedrawResidualsPlot);
  const auto lines = PreferenceLines();
  ASSERT_EQ(lines.size(), 24u);
  EXPECT_EQ(lines[0], "1");
  EXPECT_EQ(lines[2], "1");
  EXPECT_EQ(lines[3], "0");
  EXPECT_EQ(lines[11], "2");   // two normal-equation threads
  EXPECT_EQ(lines[17], "99");  // time-stamp check on, tolerance 1.001
}

TEST_F(Preferences, ToleranceLinesAndTheirEdges) {
  auto check = [&](double tolerance, bool on, const std::string& line18,
                   const std::string& line19, bool onAfter, double toleranceAfter) {
    auto w = AgreedWindow();
    Options().TimeStampTolerance = tolerance;
    Options().TimeStampCheck = on;
    ASSERT_EQ(SaveParameterPreferences(*w), 1);
    const auto lines = PreferenceLines();
    EXPECT_EQ(lines[17], line18);
    EXPECT_EQ(lines[18], line19);
    Options() = ProgramOptions{};
    ASSERT_EQ(LoadParameterPreferences(*w), 1);
    EXPECT_EQ(Options().TimeStampCheck != 0, onAfter);
    EXPECT_NEAR(Options().TimeStampTolerance, toleranceAfter, 1e-12);
    EXPECT_EQ(w->IsMenuItemChecked(902), onAfter);
  };
  // 1.001 - 1 lies just below 0.001: written as 99, read back as 1.00099.
  check(1.001, true, "99", "99", true, 1.00099);
  // A tolerance of exactly 1 writes 0, which reads as the check switched off.
  check(1.0, true, "0", "0", false, 1.0);
  check(1.001, false, "-100", "99", false, 1.00099);
}

TEST_F(Preferences, OutOfRangeChoicesChangeNothing) {
  for (const char* line10 : {"0", "4", "2.5"}) {
    Conti() = ContiSettings{};
    WriteAgreedDefaults();
    auto lines = PreferenceLines();
    lines[9] = line10;
    lines[11] = "2.7";
    WritePreferences(lines);
    auto w = MakeWindow();
    EXPECT_EQ(Conti().maxEntropy, 1) << line10;
    EXPECT_EQ(Conti().secondDerivative, 0) << line10;
    EXPECT_EQ(Conti().normalEquationThreads, 2);  // integer part of 2.7
  }
}

TEST_F(Preferences, CorruptOrOverlongLinesNeverYieldGarbage) {
  WriteAgreedDefaults();
  auto lines = PreferenceLines();
  // An overlong line must not spill onto the next ones.
  lines[1] = "0.0030 " + std::string(300, 'x');
  lines[11] = "1e12";  // an absurd thread count stays a sane integer
  lines[14] = "-5";
  lines[21] = "1e999";  // not a finite number: reading stops here
  WritePreferences(lines);
  ui_->lenient = true;
  auto w = MakeWindow();
  EXPECT_FLOAT_EQ(CurrentScanSet().radialResolution, 0.003f);
  EXPECT_FALSE(Options().FitRedrawResidualsBitmap);  // line 3 still line 3
  EXPECT_EQ(Conti().normalEquationThreads, 1024);
  EXPECT_EQ(Options().LammThreadCount, 1);
  EXPECT_FLOAT_EQ(CurrentDataTypeFlags().absorbanceSpikeThreshold, 0.4f);
  EXPECT_EQ(CurrentDataTypeFlags().flagTooStrongGradients, 1);
  // The file was completed again with sound values only.
  const auto after = PreferenceLines();
  ASSERT_EQ(after.size(), 24u);
  for (const auto& l : after) EXPECT_EQ(l.find_first_not_of("0123456789.e+-"), std::string::npos) << l;
  EXPECT_EQ(after[21], "4.000e-01");
}

TEST_F(Preferences, TextInsteadOfANumberEndsReading) {
  WriteAgreedDefaults();
  auto lines = PreferenceLines();
  lines[4] = "on";
  WritePreferences(lines);
  ui_->lenient = true;
  Options().FitRedrawDataPlot = true;
  auto w = MakeWindow();
  // Lines 5 on count as missing: defaults, and the file is written whole.
  EXPECT_FALSE(Options().FitRedrawDataPlot);
  EXPECT_EQ(PreferenceLines().size(), 24u);
  EXPECT_EQ(PreferenceLines()[4], "0");
}

TEST_F(Preferences, SingleLineWriterStoresOnlyIntoALongEnoughFile) {
  auto w = AgreedWindow();
  EXPECT_EQ(SetParameterPreference(*w, 6, 1), 1);
  auto lines = PreferenceLines();
  ASSERT_EQ(lines.size(), 24u);
  EXPECT_EQ(lines[6], "1.000000");
  EXPECT_EQ(lines[0], "1.000000");
  EXPECT_EQ(lines[1], "0.001000");
  // Too short: nothing is stored.
  WritePreferences({"1", "0.001"});
  EXPECT_EQ(SetParameterPreference(*w, 8, 1), 0);
  EXPECT_EQ(PreferenceLines(), (std::vector<std::string>{"1", "0.001"}));
  std::filesystem::remove(ParamsIniPath());
  EXPECT_EQ(SetParameterPreference(*w, 0, 1), 0);
  EXPECT_FALSE(std::filesystem::exists(ParamsIniPath()));
}

TEST_F(Preferences, AutomationReadsOnlyTheDisclaimerLine) {
  WriteAgreedDefaults();
  auto lines = PreferenceLines();
  lines[6] = "1";
  WritePreferences(lines);
  SoundState.soundsOn = false;
  Services().takeAutomationCommandLine = [](int, char**) { return true; };
  auto w = MakeWindow();
  EXPECT_TRUE(Options().DisclaimerAccepted);
  EXPECT_FALSE(SoundState.soundsOn);
}

TEST_F(Preferences, UnwritableFileIsReported) {
  ParamsIniPath() = (dir_ / "no such folder" / "tarnelparams.ini").string();
  WriteAgreedDefaults();  // cannot be written either: no file, nothing read
  Options().DisclaimerAccepted = true;
  auto w = MakeWindow();
  ui_->ExpectBox("ERROR", "could not write to disk into directory", platform::IDOK);
  EXPECT_EQ(SaveParameterPreferences(*w), 0);
  EXPECT_TRUE(ui_->failures.empty());
}
