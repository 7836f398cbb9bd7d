#include <sys/stat.h>

#include "app/commands/data/list_file.h"
#include "data/fluorescence_corrections.h"
#include "data/scan_grid.h"
#include "fit/fit_engine_state.h"
#include "fit/saved_params.h"
#include "plot/plot_window_set.h"
#include "road_support.h"

namespace {

using platform::FileDialogResult;

TEST(RoadListFile, HeaderCommentsAndOldFormat) {
  struct Case {
    const char* text;
    int every;
    std::vector<std::string> entries;
  } cases[] = {
      {"newformat n=3\n/data\na.ra1\nb.ra1\n", 3, {"/data", "a.ra1", "b.ra1"}},
      {"NEWFORMAT N=12\n/data\na.ra1\n", 12, {"/data", "a.ra1"}},
      // A damaged count would step by zero or backwards through the files.
      {"newformat n=0\n/data\na.ra1\n", 1, {"/data", "a.ra1"}},
      {"newformat n=-4\n/data\na.ra1\n", 1, {"/data", "a.ra1"}},
      {"newformat n=x\n/data\na.ra1\n", 1, {"/data", "a.ra1"}},
      // Old lists: no header, underscores stand for dots.
      {"/data\na_ra1\nb_ra1\n", 1, {"/data", "a.ra1", "b.ra1"}},
      // "%" comments end at their line break, which stays; a line of only a
      // comment is dropped, and the first empty line ends the list.
      {"newformat n=2\n/data % the folder\na.ra1 % first\n% dropped scan\nb.ra1\n\nc.ra1\n", 2,
       {"/data", "a.ra1", "b.ra1"}},
      {"newformat n=1\r\n/data\r\na.ra1\r\n", 1, {"/data", "a.ra1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const ListFileSelection sel = ParseListText(c.text);
    EXPECT_EQ(sel.every, c.every);
    EXPECT_EQ(SelectionEntries(sel.selection), c.entries);
  }
  EXPECT_EQ(ComposeListText(2, {"/d", "a.ra1"}), "newformat n=2\n/d\na.ra1\n");
}

TEST(RoadFormatField, ValuesThatDoNotFitKeepTheirMagnitude) {
  EXPECT_EQ(FormatField("%.5f", 4.25), "4.25000");
  EXPECT_EQ(FormatField("%.4f", 6.0), "6.0000");
  EXPECT_EQ(FormatField("%.0f", 150000.0), "150000");
  // "%.5f" of these would need more than the 14 characters of the field.
  for (double v : {1.5e12, -3.25e9, 6.02e23, 123456789.123}) {
    const std::string t = FormatField("%.5f", v);
    EXPECT_LE(t.size(), 14u) << t;
    EXPECT_NEAR(std::atof(t.c_str()) / v, 1.0, 1e-6) << t;
  }
}

TEST_F(RoadTest, LoadNewFilesThroughTheDialogWritesTheListBesideTheScans) {
  const auto paths = WriteRun();
  LoadChosen(paths);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_EQ(CurrentScanSet().count, 4);
  EXPECT_EQ(Window().Frame().Title(), "SEDIMENTATION ANALYSIS -> " + paths[0] + "...");
  EXPECT_EQ(ReadFile((dir_ / "list.ra1").string()),
            "newformat n=1\n" + dir_.string() + "\n00001.ra1\n00002.ra1\n00003.ra1\n00004.ra1\n");
  EXPECT_FALSE(WindowFlags().FileDialogOpen);
}

// The same scans loaded again after a fit moved the meniscus towards the
// left fit limit: the fit range stays the one the user had (a fit keeps the
// meniscus 0.001 cm clear of it, a load 0.01 cm); a meniscus past the limit
// still moves it.
TEST_F(RoadTest, ReloadAfterAFitMovedTheMeniscusKeepsTheFitRange) {
  struct Case {
    float meniscusShift;  // cm from the left fit limit
    float left;           // expected left limit after the reload, relative to the one before
  } cases[] = {{-0.002f, 0.0f}, {-0.0095f, 0.0f}, {0.004f, 0.014f}};
  const auto paths = WriteRun();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.meniscusShift);
    LoadChosen(paths);
    ScanSet& s = CurrentScanSet();
    ASSERT_EQ(s.count, 4);
    gModelParams.meniscus = 5.95f;
    PackModelParameters();
    s.leftFitLimit = 6.0f;
    CheckLeftFitLimit();
    const int firstBefore = s.firstFitPoint[1];
    const int gridBefore = s.firstGridPoint;
    // Where the fit left the meniscus.
    gModelParams.meniscus = 6.0f + c.meniscusShift;
    PackModelParameters();
    LoadChosen(paths);
    EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
    EXPECT_NEAR(s.leftFitLimit, 6.0f + c.left, 1e-6f);
    if (c.left == 0.0f) {
      EXPECT_EQ(s.firstFitPoint[1], firstBefore);
      EXPECT_EQ(s.firstGridPoint, gridBefore);
      EXPECT_LE(gFitEngineState.meniscusMax, s.leftFitLimit - 0.001f + 1e-6f);
    }
  }
}

// The fit limits the user set with the cursor stay his: scans at other
// radii are fitted over what of them they hold (a right limit beyond them
// with the box), the first scans loaded again over all of them, and the
// analysis saved beside the other scans keeps them when it is restored.
TEST_F(RoadTest, FitLimitsTheUserSetComeBackWithTheirData) {
  const auto first = WriteRun();  // 5.95 - 7.14 cm
  std::filesystem::create_directories(dir_ / "inner");
  std::filesystem::create_directories(dir_ / "short");
  const auto inner = WriteRun(dir_ / "inner", ".ra1", 4, 'R', 6.5, 71);   // 6.5 - 7.2 cm
  const auto shorter = WriteRun(dir_ / "short", ".ra1", 4, 'R', 6.5, 41);  // 6.5 - 6.9 cm
  ScanSet& s = CurrentScanSet();
  auto enter = [&](float r) {
    MarkerSettings().cursorLineShown = true;
    MarkerSettings().cursorRadius = r;
    MarkerSettings().editMode = CursorEditMode::FitLimits;
    Window().OnChar(13, 1, 0);
  };
  auto expectLimits = [&](float left, float right) {
    EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
    ui_->failures.clear();
    EXPECT_NEAR(s.leftFitLimit, left, 1e-6f);
    EXPECT_NEAR(s.rightFitLimit, right, 1e-6f);
    for (int i = 1; i <= s.count; ++i) {
      EXPECT_GE(s.radii[i][s.firstFitPoint[i]], left - 1e-6f);
      EXPECT_LE(s.radii[i][s.lastFitPoint[i]], right + 1e-6f);
    }
  };
  LoadChosen(first);
  ASSERT_EQ(s.count, 4);
  enter(6.05f);
  enter(7.0f);
  expectLimits(6.05f, 7.0f);
  LoadChosen(inner);
  ASSERT_EQ(s.count, 4);
  expectLimits(6.5f, 7.0f);
  LoadChosen(first);
  expectLimits(6.05f, 7.0f);
  ui_->ExpectFiles("select files to fit", Chosen(shorter));
  ui_->ExpectPrompt("LOAD FILES", "load every n'th file:", std::string("1"));
  ui_->ExpectBox("Error", "possible problem with right limit in file 00001.ra1\nsetting right limit to 6.900");
  Window().Dispatch(200);
  expectLimits(6.5f, 6.9f);
  LoadChosen(first);
  expectLimits(6.05f, 7.0f);

  // Saved beside the inner scans, restored with them: the user's limits.
  LoadChosen(inner);
  ASSERT_TRUE(TmpSaveBestParams(CurrentDataPaths().parameterFile, false));
  const std::string saved = ReadFile(CurrentDataPaths().parameterFile);
  std::vector<std::string> lines;
  for (std::size_t a = 0, b; (b = saved.find('\n', a)) != std::string::npos; a = b + 1)
    lines.push_back(saved.substr(a, b - a));
  ASSERT_GE(lines.size(), 43u);
  EXPECT_EQ(lines[41], "6.050000");
  EXPECT_EQ(lines[42], "7.000000");
  LoadChosen(first);
  expectLimits(6.05f, 7.0f);
  ui_->lenient = true;
  ui_->ExpectFiles("select files to fit", Chosen(inner));
  ui_->ExpectPrompt("LOAD FILES", "load every n'th file:", std::string("1"));
  ui_->ExpectBox("", "load previous analysis?", platform::IDYES);
  Window().Dispatch(200);
  ui_->lenient = false;
  ExpectScriptMet();
  expectLimits(6.5f, 7.0f);
  LoadChosen(first);
  expectLimits(6.05f, 7.0f);
}

// TI and RI noise that an interference load switched on belong to those
// data: absorbance data loaded next start without them; what the user
// switched on for absorbance data stays.
TEST_F(RoadTest, NoiseSwitchedOnByInterferenceDataGoesWithThem) {
  const auto absorbance = WriteRun(".ra1", 4);
  const auto interference = WriteRun(".ip1", 4, 'P');
  auto load = [&](const std::vector<std::string>& paths) {
    LoadChosen(paths);
    ASSERT_EQ(CurrentScanSet().count, 4);
  };
  gFitEngineState.fitTINoise = 0;
  gModelParams.riNoiseFit = 0;
  load(interference);
  EXPECT_EQ(gFitEngineState.fitTINoise, 1);
  EXPECT_EQ(gModelParams.riNoiseFit, 1);
  load(interference);
  load(absorbance);
  EXPECT_EQ(gFitEngineState.fitTINoise, 0);
  EXPECT_EQ(gModelParams.riNoiseFit, 0);
  // The user's choice for absorbance data outlives loads of either kind.
  gFitEngineState.fitTINoise = 1;
  load(absorbance);
  EXPECT_EQ(gFitEngineState.fitTINoise, 1);
  load(interference);
  load(absorbance);
  EXPECT_EQ(gFitEngineState.fitTINoise, 1);
  EXPECT_EQ(gModelParams.riNoiseFit, 0);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

// The fluorescence corrections belong to fluorescence data: absorbance data
// loaded next are computed without them (the same rmsd as before they were
// set) and their menu items go unticked; a correction the user set for
// absorbance data, after the question, stays with absorbance data.
TEST_F(RoadTest, FluorescenceCorrectionsGoWithTheFluorescenceData) {
  const auto absorbance = WriteRun(".ra1", 4);
  const auto fluorescence = WriteRun(".fa1", 4, 'F');
  const char* caption = "Signal Amplitude Change With Radius";
  auto load = [&](const std::vector<std::string>& paths) {
    LoadChosen(paths);
    ASSERT_EQ(CurrentScanSet().count, 4);
  };
  auto gradient = [&](bool fluorescenceData) {
    if (!fluorescenceData)
      ui_->ExpectBox(caption, "this is intended for fluorescence data - proceed anyway?", platform::IDYES);
    ui_->ExpectBox(caption, "use radial magnification gradient?", platform::IDYES);
    ui_->ExpectPrompt(caption, "1+da/dr", std::string("1.02"));
    ui_->ExpectBox(caption, "fit radial magnification gradient?", platform::IDYES);
    Window().Dispatch(907);
    ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
    ASSERT_EQ(CurrentFdsSignalParams().useRadialGradient, 1);
    ASSERT_TRUE(Window().Frame().Menu().IsChecked(907));
  };
  auto run = [&] {
    Window().Dispatch(213);
    return FitLimitRmsd(-1.0);
  };
  load(absorbance);
  OneSpecies("5.0", "4.0");
  const double plain = run();
  load(fluorescence);
  ASSERT_EQ(CurrentDataTypeFlags().fluorescence, 1);
  gradient(true);
  load(absorbance);
  const FdsSignalParams& p = CurrentFdsSignalParams();
  EXPECT_EQ(p.useRadialGradient, 0);
  EXPECT_EQ(p.fitRadialGradient, 0);
  EXPECT_FLOAT_EQ(p.radialGradient, 1.02f);  // kept for the next time it is switched on
  EXPECT_FALSE(Window().Frame().Menu().IsChecked(907));
  EXPECT_FALSE(Window().Frame().Menu().IsChecked(905));
  // (A new load may settle the solver's grid a little differently: 1e-5.)
  EXPECT_NEAR(run(), plain, 1e-5 * plain);
  // Set for absorbance data, it outlives a load of absorbance data.
  gradient(false);
  load(absorbance);
  EXPECT_EQ(p.useRadialGradient, 1);
  EXPECT_TRUE(Window().Frame().Menu().IsChecked(907));
  EXPECT_GT(std::fabs(run() - plain), 0.01 * plain);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

TEST_F(RoadTest, EveryNthFileAndTheListFileRoundTrip) {
  const auto paths = WriteRun();
  ui_->ExpectFiles("select files to fit", Chosen(paths));
  ui_->ExpectPrompt("LOAD FILES", "load every n'th file:", std::string("2.7"));
  Window().Dispatch(200);
  EXPECT_EQ(CurrentScanSet().loadEvery, 2);
  EXPECT_EQ(CurrentScanSet().count, 2);
  // Loading the written list brings the same scans without asking for n.
  FreeScanData();
  ui_->ExpectFiles("select files to fit", Chosen({(dir_ / "list.ra1").string()}));
  Window().Dispatch(200);
  ExpectScriptMet();
  EXPECT_EQ(CurrentScanSet().count, 2);
  EXPECT_EQ(CurrentScanSet().loadEvery, 2);
}

TEST_F(RoadTest, ListWithMissingFilesOffersTheListsOwnFolder) {
  const auto paths = WriteRun();
  std::ofstream((dir_ / "list.ra1").string()) << "newformat n=1\n/nowhere/at/all\n00001.ra1\n00002.ra1\n";
  ui_->ExpectFiles("select files to fit", Chosen({(dir_ / "list.ra1").string()}));
  ui_->ExpectBox("LOAD ERROR",
                 "could not find files in /nowhere/at/all/00001.ra1 - use file from " + dir_.string() + "/ ?",
                 platform::IDYES);
  Window().Dispatch(200);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_EQ(CurrentScanSet().count, 2);
  EXPECT_FALSE(WindowFlags().ListFolder);
}

TEST_F(RoadTest, ASingleChosenScanLoadsWithoutAListFile) {
  const auto paths = WriteRun();
  ui_->ExpectFiles("select files to fit", Chosen({paths[1]}));
  ui_->ExpectPrompt("LOAD FILES", "load every n'th file:", std::string("0"));
  ui_->ExpectBox("ERROR", "only one file selected");
  ui_->ExpectBox("LOAD ERROR", "switch to Equilibrium Data Mode?", platform::IDYES);
  Window().Dispatch(200);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_EQ(CurrentScanSet().count, 1);
  EXPECT_EQ(CurrentScanSet().loadEvery, 1);  // below 1 counts as 1
  EXPECT_FALSE(std::filesystem::exists(dir_ / "list.ra1"));
}

TEST_F(RoadTest, CancelledEquilibriumLoadStillSwitchesToMolarMasses) {
  gFitEngineState.molarMassParameters = 0;
  ui_->ExpectFiles("select files in set 1 to fit", FileDialogResult{});
  Window().Dispatch(515);
  EXPECT_EQ(gFitEngineState.molarMassParameters, 1);
  EXPECT_TRUE(Window().IsMenuItemChecked(217));
  EXPECT_EQ(CurrentScanSet().equilibriumMode, 0);
}

TEST_F(RoadTest, DroppedFilesLoadOnlyAsSeveralAbsorbanceOrInterferenceScans) {
  const auto cell2 = WriteRun(".ra2");
  const auto intensity = WriteRun(".ri1", 3, 'I');
  Window();
  // One absorbance file alone, or intensity files, are not taken.
  Window().EvDropFiles({cell2[0]});
  Window().EvDropFiles(intensity);
  EXPECT_TRUE(ui_->transcript.empty());
  EXPECT_EQ(CurrentScanSet().count, 0);

  ui_->ExpectPrompt("LOAD FILES", "load every n'th file:", std::string("1"));
  Window().EvDropFiles(cell2);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_EQ(CurrentScanSet().count, 4);
  EXPECT_FALSE(Window().DialogOpen);

  // With scans loaded the drop asks first; No keeps them.
  ui_->ExpectBox("DROPPING FILES", "erase currently loaded data?", platform::IDNO);
  Window().EvDropFiles({cell2[0], cell2[2]});
  EXPECT_EQ(CurrentScanSet().count, 4);
  ui_->ExpectBox("DROPPING FILES", "erase currently loaded data?", platform::IDYES);
  ui_->ExpectPrompt("LOAD FILES", "load every n'th file:", std::string("3"));
  Window().EvDropFiles(cell2);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_EQ(CurrentScanSet().count, 2);  // files 0 and 3 of four
}

TEST_F(RoadTest, DroppedParameterFileAsksBeforeSwitching) {
  Window();
  ui_->ExpectBox("DROPPING FILES", "switch to parameter file /d/~tmppars.ra1?", platform::IDNO);
  Window().EvDropFiles({"/d/~tmppars.ra1"});
  ExpectScriptMet();
}

TEST_F(RoadTest, MultiSpeedLoadRestoresTheBitmapSwitchAndLowersItsFlags) {
  const auto paths = WriteRun();
  Window();
  CurrentPlotWindows().showBitmap = 1;
  ui_->ExpectFiles("select files to fit", Chosen(paths));
  ui_->ExpectPrompt("LOAD FILES", "load every n'th file:", std::string("1"));
  // The time stamps are tested unless every load tests them anyway.
  ui_->ExpectBox("CHECK TIME STAMP", "no time stamp information available", platform::IDNO);
  // The rotor-stretch correction asks only for the rotor; no rotor, no correction.
  ui_->ExpectPrompt("Undo Rotor Stretch", "rotor (4 or 8) or 0 for manual", std::nullopt);
  Window().Dispatch(949);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_EQ(CurrentScanSet().count, 4);
  EXPECT_EQ(CurrentPlotWindows().showBitmap, 1);
  EXPECT_EQ(AutocorrectLoad(), 0);
  EXPECT_FALSE(WindowFlags().FileDialogOpen);
  EXPECT_FALSE(WindowFlags().Autocorrect);
}

TEST_F(RoadTest, DroppedParameterFileRestoresTheAnalysisAndOpensTheDialog) {
  Window();
  gFitEngineState.molarMassParameters = 0;
  Window().Dispatch(198);
  gModelParams.s[1] = 4.25f;
  gModelParams.included[1] = 1;
  PackModelParameters();
  const std::string saved = (dir_ / "~tmppars.ra1").string();
  ASSERT_TRUE(TmpSaveBestParams(saved, false));
  gModelParams.s[1] = 9.0f;
  PackModelParameters();
  ui_->ExpectBox("DROPPING FILES", "switch to parameter file " + saved + "?", platform::IDYES);
  forms_.Expect({"noninteracting species model", {}, {}, false});
  Window().EvDropFiles({saved});
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  EXPECT_FLOAT_EQ(gModelParams.s[1], 4.25f);
  EXPECT_EQ(forms_.seen.at(0).Find(407)->text, "4.25000");
}

class RoadLoadFolder : public RoadTest {
 protected:
  // Every file of the scans' kind in the folder, as a select-all under the
  // dialog's scan filter returns them.
  FileDialogResult AllFiles() const {
    std::vector<std::string> paths;
    for (const auto& e : std::filesystem::directory_iterator(dir_)) {
      std::string ext = e.path().extension().string();
      for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (e.is_regular_file() && ext == ".ra1") paths.push_back(e.path().string());
    }
    std::sort(paths.begin(), paths.end());
    return Chosen(paths);
  }
  void LoadAll() {
    ui_->ExpectFiles("select files to fit", AllFiles());
    ui_->ExpectPrompt("LOAD FILES", "load every n'th file:", std::string("1"));
    Window().Dispatch(200);
  }
};

TEST_F(RoadLoadFolder, TheExampleFolderLoadsAgainBesideTheProgramsOwnFiles) {
  for (const auto& e : std::filesystem::directory_iterator(std::string(TARNEL_SOURCE_DIR) + "/examples/cofs"))
    if (e.path().extension() == ".RA1") std::filesystem::copy_file(e.path(), dir_ / e.path().filename());
  // What an analysis leaves beside the scans.
  std::ofstream(dir_ / "~tmppars.RA1") << "saved analysis\n";
  std::ofstream(dir_ / "sdist.RA1") << "1\n2\n3\n";
  // The fit parameters of "Save Fit Data" and the time-stamp report.
  std::ofstream(dir_ / "fitparams.RA1") << "meniscus 6.0\n";
  std::ofstream(dir_ / "timestampanalysis.RA1") << "file 1 time 300\n";
  for (int pass = 1; pass <= 2; ++pass) {
    SCOPED_TRACE(pass);
    // The reports are named in the one line; the list, the saved analysis
    // and the s grid are the load's own and go unmentioned.
    ui_->ExpectFiles("select files to fit", AllFiles());
    ui_->ExpectPrompt("LOAD FILES", "load every n'th file:", std::string("1"));
    ui_->ExpectBox("LOAD", "2 files written by this program (fitted data, residuals, noise or reports) were left out");
    Window().Dispatch(200);
    EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
    EXPECT_EQ(CurrentScanSet().count, 36);
    const std::string list = ReadFile((dir_ / "list.RA1").string());
    EXPECT_EQ(list.find("list.RA1"), std::string::npos);
    EXPECT_EQ(list.find("~tmppars"), std::string::npos);
  }
  // The dialog opens in the folder itself next time, and the s grid of the
  // distributions belongs there too.
  std::string folder;
  LoadLastDataDirectory(Window(), folder);
  EXPECT_EQ(folder, dir_.string() + "/");
  EXPECT_EQ(CurrentScanSet().dataFolder, dir_.string());
}

TEST_F(RoadLoadFolder, AnUnreadableFileIsNamedWithItsReasonAndSkipped) {
  WriteRun(".ra1", 4);
  std::ofstream(dir_ / "00003.ra1") << "synthetic velocity run\nR 1 20.0 50000 1800 1.2e10 280\n";
  std::ofstream(dir_ / "00005.ra1") << "a note that is not a scan\nsecond line\n";
  ui_->ExpectFiles("select files to fit", AllFiles());
  ui_->ExpectPrompt("LOAD FILES", "load every n'th file:", std::string("1"));
  ui_->ExpectBox("LOAD ERROR", "line 2: expected seven numbers after the type letter");
  ui_->ExpectBox("LOAD ERROR", "line 2: expected the scan header, starting with its type letter");
  Window().Dispatch(200);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  ASSERT_EQ(CurrentScanSet().count, 3);
  EXPECT_EQ(CurrentScanSet().fileNames[3], "00004.ra1");
  int named = 0;
  for (const auto& t : ui_->transcript) {
    if (t.caption != "LOAD ERROR") continue;
    EXPECT_EQ(t.icon, platform::BoxIcon::Error);
    named += t.text.find((dir_ / "00003.ra1").string()) != std::string::npos ||
             t.text.find((dir_ / "00005.ra1").string()) != std::string::npos;
  }
  EXPECT_EQ(named, 2);
}

TEST_F(RoadLoadFolder, ALoadThatReadsNothingKeepsTheSetShownAndItsMode) {
  WriteRun(".ra1", 4);
  LoadAll();
  ASSERT_NE(CurrentPlotWindows().dataPlot, nullptr);
  const std::string title = Window().Frame().Title();
  const std::string list = ReadFile((dir_ / "list.ra1").string());
  // One file that is no scan: said so, with no question of the equilibrium mode.
  const std::string note = (dir_ / "note.txt").string();
  std::ofstream(note) << "";
  ui_->ExpectFiles("select files to fit", Chosen({note}));
  ui_->ExpectPrompt("LOAD FILES", "load every n'th file:", std::string("1"));
  ui_->ExpectBox("LOAD ERROR", "the file is empty\nThe file is not a scan file: nothing was loaded.\n"
                               "The data loaded before are kept.\n" + note);
  Window().Dispatch(200);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_EQ(CurrentScanSet().count, 4);
  EXPECT_EQ(CurrentScanSet().equilibriumMode, 0);
  EXPECT_NE(CurrentPlotWindows().dataPlot, nullptr);
  EXPECT_EQ(Window().Frame().Title(), title);
  // Several files of which none reads: said once, and the list of the set shown stays.
  const std::string other = (dir_ / "other.ra1").string();
  std::ofstream(other) << "a note\nsecond line\n";
  ui_->ExpectFiles("select files to fit", Chosen({note, other}));
  ui_->ExpectPrompt("LOAD FILES", "load every n'th file:", std::string("1"));
  ui_->ExpectBox("LOAD ERROR", "line 2: expected the scan header, starting with its type letter (R, W, I, P, F or V)\n"
                               "None of the selected files can be loaded: nothing was loaded.\n"
                               "The data loaded before are kept.\n" + other);
  Window().Dispatch(200);
  ExpectScriptMet();
  EXPECT_EQ(CurrentScanSet().count, 4);
  EXPECT_EQ(ReadFile((dir_ / "list.ra1").string()), list);
}

// A list file that cannot be read (a folder of that name, a pipe) is said,
// with its name, and the scans loaded stay; nothing throws.
TEST_F(RoadLoadFolder, AnUnreadableListFileIsSaidAndTheLoadedSetStays) {
  WriteRun(".ra1", 4);
  LoadAll();
  ASSERT_EQ(CurrentScanSet().count, 4);
  std::filesystem::remove(dir_ / "list.ra1");
  std::filesystem::create_directories(dir_ / "list.ra1");
  ASSERT_EQ(mkfifo((dir_ / "list.ra2").c_str(), 0644), 0);
  for (const char* name : {"list.ra1", "list.ra2"}) {
    SCOPED_TRACE(name);
    const std::string path = (dir_ / name).string();
    ui_->ExpectFiles("select files to fit", Chosen({path}));
    ui_->ExpectBox("LOAD ERROR", path + " is not a regular file");
    Window().Dispatch(200);
    ExpectScriptMet();
    EXPECT_EQ(CurrentScanSet().count, 4);
    EXPECT_NE(CurrentPlotWindows().dataPlot, nullptr);
  }
}

}  // namespace
