// The Data-menu commands that edit and rewrite the loaded scans, reached
// through the window's response table with scripted answers: the numbers
// they propose, what they change, what they write, and that a cancelled
// question leaves everything as it was.
#include <cmath>
#include <cstdlib>

#include "app/commands/data/raw_data_commands.h"
#include "app/commands/model/wiener_skew_entries.h"
#include "app/dialogs/matrix_dialogs.h"
#include "data/data_messages.h"
#include "data/raw_data_workers.h"
#include "data/scan_file.h"
#include "data/wiener_skew.h"
#include "fit/fit_report_inputs.h"
#include "fit/fit_vector.h"
#include "numerics/arrays.h"
#include "plot/cwinplot.h"
#include "road_support.h"

namespace {

using platform::IDNO;
using platform::IDYES;

class RawDataCommands : public RoadTest {
 protected:
  std::vector<std::string> FilesIn(const std::filesystem::path& folder) const {
    std::vector<std::string> names;
    if (!std::filesystem::exists(folder)) return names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  void ExpectAllAnswered() {
    for (const auto& f : ui_->failures) ADD_FAILURE() << f;
    EXPECT_TRUE(ui_->AllConsumed());
  }
};

TEST_F(RawDataCommands, RadialRecalibrationMapsTheTransitionsAndKeepsTheMiddle) {
  LoadRun(2);
  ScanSet& s = CurrentScanSet();
  const float before = s.radii[1][56];  // 6.50 cm
  const float end = s.radii[2][120];
  ui_->ExpectBox("RECALIBRATE RADIUS", "transition from fringes to grey")
      .ExpectPrompt("RECALIBRATE RADIUS", "left transition grey-black was at", std::string("5.9"))
      .ExpectPrompt("RECALIBRATE RADIUS", "right transition grey-black was at", std::string("7.1"))
      .ExpectBox("", "save new data?", IDNO);
  Window().Dispatch(549);
  ExpectAllAnswered();
  const double a = 1.2 / 1.3, b = 5.9 - a * 5.85;  // 0.923077, 0.5
  EXPECT_NEAR(a, 0.923077, 1e-6);
  EXPECT_NEAR(b, 0.5, 1e-6);
  EXPECT_NEAR(s.radii[1][56], before, 2e-6);
  EXPECT_NEAR(s.radii[2][120], a * end + b, 2e-6);
  EXPECT_NEAR(a * 5.85 + b, 5.9, 1e-9);
  EXPECT_NEAR(a * 7.15 + b, 7.1, 1e-9);

  // Cancelled at the second number: nothing moves.
  ui_->ExpectBox("RECALIBRATE RADIUS", "")
      .ExpectPrompt("RECALIBRATE RADIUS", "left", std::string("5.8"))
      .ExpectPrompt("RECALIBRATE RADIUS", "right", std::nullopt);
  const float now = s.radii[2][120];
  Window().Dispatch(549);
  EXPECT_EQ(s.radii[2][120], now);
  ExpectAllAnswered();
}

TEST_F(RawDataCommands, TimeOffsetProposesTheMatchingW2tOffset) {
  LoadRun(2);
  ScanSet& s = CurrentScanSet();
  const double t1 = s.records[1].time, w1 = s.records[1].w2t;
  ui_->ExpectBox("TIME OFFSET", "power failure")
      .ExpectPrompt("TIME OFFSET", "elapsed time offset (sec)", std::string("100"))
      .ExpectPrompt("TIME OFFSET", "elapsed w^2t offset (rad^2/sec)", std::string("2741556778"))
      .ExpectBox("", "save new data?", IDNO);
  Window().Dispatch(550);
  ExpectAllAnswered();
  ASSERT_GE(ui_->initialTexts.size(), 2u);
  // (0.10471975511965977 x 50000)^2 x 100
  EXPECT_NEAR(std::atof(ui_->initialTexts[1].c_str()), 2.741557e9, 1e3);
  EXPECT_DOUBLE_EQ(s.records[1].time, t1 + 100);
  EXPECT_NEAR(s.records[1].w2t, w1 + 2741556778.0, 200.0);
}

TEST_F(RawDataCommands, FringeThresholdBelowHalfAFringeRunsAtHalf) {
  LoadRun(2);
  ScanSet& s = CurrentScanSet();
  CurrentDataTypeFlags().interference = 1;
  for (int k = 70; k <= s.points[1]; ++k) s.signals[1][k] += 3.0f;  // three whole fringes
  ui_->ExpectPrompt("REMOVE INTEGRAL FRINGE JUMP WITHIN SCAN", "enter threshold value", std::string("0.3"))
      .ExpectBox("REMOVE INTEGRAL FRINGE JUMP WITHIN SCAN", "threshold cannot be smaller than 0.5")
      .ExpectBox("REMOVE INTEGRAL FRINGE JUMP WITHIN SCAN", "judge from residuals?", IDNO)
      .ExpectBox("", "save data?", IDNO);
  Window().Dispatch(287);
  ExpectAllAnswered();
  EXPECT_LT(std::fabs(s.signals[1][70] - s.signals[1][69]), 0.5f);
}

TEST_F(RawDataCommands, RotorStretchWritesAndReloadsTheShiftedSet) {
  LoadRun(2);
  const std::filesystem::path folder = dir_ / "unstretch";
  ui_->ExpectPrompt("Undo Rotor Stretch", "rotor (4 or 8)", std::string("8"))
      .ExpectBox("Undo Rotor Stretch", "save new data?", IDYES)
      .ExpectFiles("select save path", Chosen({(folder / "newscandata").string()}))
      .ExpectBox("Undo Rotor Stretch", "maintain field?", IDYES)
      .ExpectPrompt("Undo Rotor Stretch", "stretch module", std::string("9.59e-6"))
      .ExpectBox("Undo Rotor Stretch", "reload stretched data?", IDYES);
  Window().Dispatch(927);
  ExpectAllAnswered();
  EXPECT_EQ(FilesIn(folder), (std::vector<std::string>{"1200.ra1", "1800.ra1", "list.ra1"}));
  const ScanSet& s = CurrentScanSet();
  ASSERT_EQ(s.count, 2);
  EXPECT_EQ(s.fileNames[1], "1200.ra1");
  EXPECT_NEAR(s.radii[1][1], 5.95 - 0.023975, 6e-5);
  EXPECT_EQ(s.records[1].rpm, 50091.0f);  // floor(50000 sqrt(6.545 / (6.545 - 0.023975)))
  EXPECT_FALSE(Window().RunBusy);
}

TEST_F(RawDataCommands, RotorStretchWithoutSavingWritesNothing) {
  LoadRun(2);
  ui_->ExpectPrompt("Undo Rotor Stretch", "rotor (4 or 8)", std::string("1e30"))
      .ExpectBox("Undo Rotor Stretch", "invalid rotor")
      .ExpectBox("Undo Rotor Stretch", "save new data?", IDNO)
      .ExpectBox("Undo Rotor Stretch", "nothing written");
  Window().Dispatch(927);
  ExpectAllAnswered();
  EXPECT_FALSE(std::filesystem::exists(dir_ / "unstretch"));
  EXPECT_EQ(CurrentScanSet().fileNames[1], "00001.ra1");
}

TEST_F(RawDataCommands, AutomaticRotorStretchAsksOnlyForTheRotor) {
  LoadRun(2);
  AutocorrectLoad() = 1;
  ui_->ExpectPrompt("Undo Rotor Stretch", "rotor (4 or 8) or 0 for manual", std::string("4"));
  Window().Dispatch(927);
  AutocorrectLoad() = 0;
  ExpectAllAnswered();
  const ScanSet& s = CurrentScanSet();
  ASSERT_EQ(s.count, 2);
  EXPECT_NE(s.dataFolder.find("unstretch"), std::string::npos);
  EXPECT_NEAR(s.radii[2][1], 5.95 - 8.62e-6 * 2500, 6e-5);
}

TEST_F(RawDataCommands, ExcludingTheDisplayedRangeCutsItsPointsAndOffersToSave) {
  LoadRun(2);
  CWINPlot& plot = *CurrentPlotWindows().dataPlot;
  plot.xMin = 6.0f;
  plot.xMax = 6.2f;
  ui_->ExpectBox("exclude data from scans", "is the displayed radial range the region to exclude?", IDYES)
      .ExpectBox("", "save new data?", IDNO);
  Window().Dispatch(581);
  ExpectAllAnswered();
  EXPECT_EQ(CurrentScanSet().points[1], 99);
  EXPECT_EQ(CurrentScanSet().points[2], 99);
  // "No" changes nothing.
  ui_->ExpectBox("exclude data from scans", "", IDNO);
  Window().Dispatch(581);
  EXPECT_EQ(CurrentScanSet().points[1], 99);
  ExpectAllAnswered();
}

TEST_F(RawDataCommands, AverageScansCancelledKeepsTheSet) {
  LoadRun(3);
  ui_->ExpectFiles("select filename for averaged scan", platform::FileDialogResult{});
  Window().Dispatch(917);
  EXPECT_EQ(CurrentScanSet().count, 3);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "average.ra1"));
  ui_->ExpectFiles("select filename for averaged scan", Chosen({(dir_ / "average.ra1").string()}));
  Window().Dispatch(917);
  ExpectAllAnswered();
  EXPECT_EQ(CurrentScanSet().count, 1);
  EXPECT_EQ(CurrentScanSet().fileNames[1], "average.ra1");
}

TEST_F(RawDataCommands, SaveRawDataSetBySpeedNamesOrUnderAPrefix) {
  LoadRun(2);
  const std::filesystem::path out = dir_ / "out";
  std::filesystem::create_directories(out);
  ui_->ExpectBox("", "save data with wavelength/speed information in filename", IDYES)
      .ExpectFiles("select directory ", Chosen({(out / "20k280_001.ra1").string()}));
  Window().Dispatch(263);
  ui_->ExpectBox("", "save data with wavelength/speed information in filename", IDNO)
      .ExpectFiles("save raw data in new directory", Chosen({(out / "x.rxx").string()}));
  Window().Dispatch(263);
  ExpectAllAnswered();
  EXPECT_EQ(FilesIn(out),
            (std::vector<std::string>{"50k280_0001.ra1", "50k280_0002.ra1", "x00001.ra1", "x00002.ra1"}));
  EXPECT_FALSE(Window().DialogOpen);
}

TEST_F(RawDataCommands, InvertAndSubtractConstantChangeTheSignalsInPlace) {
  LoadRun(2);
  ScanSet& s = CurrentScanSet();
  const float v = s.signals[2][100];
  // A range set before (a zoom, a noise subtraction) does not hold the inverted signals.
  CurrentPlotWindows().dataPlot->SetRanges(5.9f, 7.2f, 0.0f, 0.6f);
  ui_->ExpectBox("", "save new data?", IDNO);
  Window().Dispatch(535);
  EXPECT_FLOAT_EQ(s.signals[2][100], -v);
  // The y axis follows the signals below zero: the range set before is mirrored.
  const CWINPlot* plot = CurrentPlotWindows().dataPlot;
  ASSERT_NE(plot, nullptr);
  EXPECT_FLOAT_EQ(plot->yMin, -0.6f);
  EXPECT_FLOAT_EQ(plot->yMax, 0.0f);
  EXPECT_FLOAT_EQ(plot->xMin, 5.9f);
  ui_->ExpectPrompt("SUBTRACT CONSTANT", "subtract constant (e.g. known baseline)", std::string("0.25"))
      .ExpectBox("", "save data?", IDNO);
  Window().Dispatch(634);
  EXPECT_FLOAT_EQ(s.signals[2][100], -v - 0.25f);
  EXPECT_EQ(s.dataChanged, 1);
  // Cancelled: no change.
  ui_->ExpectPrompt("SUBTRACT CONSTANT", "", std::nullopt);
  Window().Dispatch(634);
  EXPECT_FLOAT_EQ(s.signals[2][100], -v - 0.25f);
  ExpectAllAnswered();
}

TEST_F(RawDataCommands, ColumnCountAndHalfGridAreToggles) {
  Window();
  DataTypeFlags& flags = CurrentDataTypeFlags();
  struct Case {
    const char* reply;
    bool on;
    int columns;
  } cases[] = {{"1e30", false, 2}, {"1", false, 2}, {"3.7", true, 3}};
  for (const Case& c : cases) {
    flags.nColumnsMode = 0;
    ui_->ExpectPrompt("SET N COLUMNS", "enter number of columns", std::string(c.reply));
    if (!c.on) ui_->ExpectBox("SET N COLUMNS", "between 2 and 100");
    Window().Dispatch(265);
    EXPECT_EQ(flags.nColumnsMode != 0, c.on) << c.reply;
    EXPECT_EQ(flags.nColumns, c.columns) << c.reply;
    EXPECT_EQ(Window().IsMenuItemChecked(265), c.on);
  }
  Window().Dispatch(265);  // and off again, without a question
  EXPECT_EQ(flags.nColumnsMode, 0);
  EXPECT_FALSE(Window().IsMenuItemChecked(265));

  Window().Dispatch(269);
  EXPECT_EQ(gFitEngineState.halveGridFirst, 1);
  Window().Dispatch(269);
  EXPECT_EQ(gFitEngineState.halveGridFirst, 0);
  ExpectAllAnswered();
}

TEST_F(RawDataCommands, WienerSkewingParametersAreValidatedAndReachTheFit) {
  Window();
  ui_->ExpectBox("Wiener Skewing", "simulate Wiener skewing", IDYES);
  Window().Dispatch(1108);
  WienerSkewSettings& w = CurrentWienerSkew();
  EXPECT_EQ(w.use, 1);
  // The matrix fit box: a check box before the magnitude, none before the
  // signal, both numbers offered with four decimals.
  const int magnitude = MatrixEditId(1, 1), signal = MatrixEditId(2, 1), fit = MatrixCheckId(1, 1);
  forms_.Expect({"Wiener skewing parameters:", {{magnitude, "2"}}, {{fit, 1}}, true});
  const std::string offeredSignal = data_messages::Format("%.4f", static_cast<double>(w.signalPerConcentration));
  EXPECT_TRUE(AskWienerSkewingParameters(Window()));
  ASSERT_FALSE(forms_.seen.empty());
  EXPECT_EQ(forms_.seen.back().Find(signal)->text, offeredSignal);
  EXPECT_EQ(forms_.seen.back().Find(MatrixCheckId(2, 1)), nullptr);
  EXPECT_FLOAT_EQ(w.magnitude, 2e-6f);
  EXPECT_EQ(w.fit, 1);
  const FitOptionEntries options = CurrentFitOptions();
  EXPECT_TRUE(options.entry[kFitOptionWienerMagnitude].present);
  EXPECT_EQ(options.entry[kFitOptionWienerMagnitude].f, &w.magnitude);
  FitReportInputs in;
  FillWienerReportInputs(in);
  EXPECT_TRUE(in.fds.wienerOn);
  EXPECT_FLOAT_EQ(in.fds.wienerMagnitude, 2e-6f);

  // A field without a number is named and the box stays open for it.
  forms_.Expect({"", {{magnitude, "x2"}}, {}, true});
  ui_->ExpectBox("errror", "not a number in mag (dr/(dw/dr)) (1e-6cm^2ml/mg):");
  forms_.Expect({"", {{magnitude, "2.5"}}, {}, true});
  EXPECT_TRUE(AskWienerSkewingParameters(Window()));
  EXPECT_FLOAT_EQ(w.magnitude, 2.5e-6f);

  // A negative magnitude with a positive signal is asked again; giving up
  // switches the correction off.
  forms_.Expect({"", {{magnitude, "-1"}, {signal, "1"}}, {}, true});
  ui_->ExpectBox("Error", "sorry: Wiener skewing parameter error - try again?", IDYES);
  forms_.Expect({"", {{magnitude, "3"}}, {}, true});
  EXPECT_TRUE(AskWienerSkewingParameters(Window()));
  EXPECT_FLOAT_EQ(w.magnitude, 3e-6f);
  forms_.Expect({"", {}, {}, false});
  ui_->ExpectBox("Error", "try again?", IDNO);
  EXPECT_FALSE(AskWienerSkewingParameters(Window()));
  EXPECT_EQ(w.use, 0);
  EXPECT_FALSE(CurrentFitOptions().entry[kFitOptionWienerMagnitude].present);
  for (const auto& f : forms_.failures) ADD_FAILURE() << f;
  ExpectAllAnswered();
}

TEST_F(RawDataCommands, SavedFitParametersOnlyForTheCsModelsAndTheyComeBack) {
  LoadRun(2);
  gModelSelectorFlags.DistributionModel = 1;
  gModelSelectorFlags.LsgStarModel = 1;
  ui_->ExpectBox("SAVE PARAMETERS", "cannot save fit parameters of current model");
  Window().Dispatch(827);
  ExpectAllAnswered();
  // A notice with OK only: no Yes or No that would change nothing.
  EXPECT_EQ(ui_->transcript.back().buttons, platform::BoxButtons::Ok);

  gModelSelectorFlags.LsgStarModel = 0;
  gModelSelectorFlags.CSModel = 1;
  gModelParams.meniscus = 6.01f;
  PackModelParameters();
  const std::string saved = CurrentDataPaths().parameterFile;
  const std::string other = (dir_ / "~other.ra1").string();
  ui_->ExpectBox("SAVE PARAMETERS", "save in " + saved + " ?", IDNO)
      .ExpectFiles("export parameter file", Chosen({other}));
  Window().Dispatch(827);
  ExpectAllAnswered();
  ASSERT_FALSE(ui_->fileRequests.empty());
  EXPECT_TRUE(ui_->fileRequests.back().confirmOverwrite);
  EXPECT_TRUE(std::filesystem::exists(other));
  EXPECT_EQ(CurrentDataPaths().parameterFile, saved);

  gModelParams.meniscus = 5.9f;
  PackModelParameters();
  ui_->ExpectBox("LOAD PARAMETERS", "restore parameters from", IDNO)
      .ExpectFiles("export parameter file", Chosen({other}));
  Window().Dispatch(1098);
  ExpectAllAnswered();
  // The file to read is chosen without a question about replacing it.
  EXPECT_FALSE(ui_->fileRequests.back().confirmOverwrite);
  EXPECT_FLOAT_EQ(gModelParams.meniscus, 6.01f);
  EXPECT_EQ(CurrentDataPaths().parameterFile, saved);
  EXPECT_FALSE(Window().DialogOpen);

  // A cancelled dialog says so and leaves the path alone.
  ui_->ExpectBox("LOAD PARAMETERS", "", IDNO)
      .ExpectFiles("export parameter file", platform::FileDialogResult{})
      .ExpectBox("LOAD PARAMETERS", "sorry could not retrieve fit parameters file");
  Window().Dispatch(1098);
  ExpectAllAnswered();
  EXPECT_EQ(CurrentDataPaths().parameterFile, saved);
}

TEST_F(RawDataCommands, EditAndInitialDataFilesComeFromTheOpenDialog) {
  LoadRun(2);
  const std::string first = (dir_ / "00001.ra1").string();
  ui_->ExpectFiles("Select File to Edit", Chosen({first}));
  Window().Dispatch(201);
  ui_->ExpectFiles("Select File to Edit", platform::FileDialogResult{});
  Window().Dispatch(201);
  EXPECT_EQ(processes_.calls, std::vector<std::string>{"edit " + first});

  ui_->ExpectFiles("Select Initial Data", Chosen({first}));
  Window().Dispatch(202);
  EXPECT_EQ(CurrentScanSet().initialData.points, 120);
  ExpectAllAnswered();
}

TEST_F(RawDataCommands, AnEditorThatCannotStartIsSaidSo) {
  LoadRun(2);
  const std::string first = (dir_ / "00001.ra1").string();
  processes_.succeed = false;
  ui_->ExpectFiles("Select File to Edit", Chosen({first}))
      .ExpectBox("WARNING", "no text editor could be started for\n" + first +
                                "\n(set the VISUAL or EDITOR environment variable to the editor to use)");
  Window().Dispatch(201);
  EXPECT_EQ(processes_.calls, std::vector<std::string>{"edit " + first});
  processes_.succeed = true;
  ExpectAllAnswered();
}

}  // namespace
