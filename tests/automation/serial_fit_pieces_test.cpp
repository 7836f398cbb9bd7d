// The pieces of the serial fits that need no window: the error texts, the
// corrections line of the summary, the series files PELDO writes and the
// numbers a row of them names; and a series driven through a stand-in for
// the window, whose Run leaves the error code the test chooses.
#include <gtest/gtest.h>

#include <algorithm>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "automation/serial/fluorescence_correction_record.h"
#include "automation/serial/serial_fit.h"
#include "data/load_hooks.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "distributions/conti_run.h"
#include "distributions/conti_settings.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/serial_fit_settings.h"
#include "numerics/arrays.h"
#include "platform/scripted_ui.h"
#include "tests/support/file_text.h"

namespace {

namespace fs = std::filesystem;

TEST(SerialFitPieces, ErrorCodesGiveTheirTexts) {
  const struct {
    int code;
    const char* text;
  } cases[] = {
      {1, "max #iteration exceeded in NNLS"},
      {2, "matrix not positive definite in NNLS"},
      {3, "problem in regularization, cannot reach chi-square increase"},
      {4, "Maximum number of iterations exceeded in zbrent"},
      {5, "too many iterations finding root"},
      {6, "problem with regularization, caught at P = ?"},
      {7, "could not create MC directory"},
      {8, "too many iterations finding root"},
      {9, "zero differential in mlcof"},
      {10, "Nelder-Mead not converged"},
      {11, "error occured (invalid error code)"},
      {0, "error occured (invalid error code)"},
      {-3, "error occured (invalid error code)"},
  };
  for (const auto& c : cases) EXPECT_EQ(SerialFitErrorText(c.code), c.text) << c.code;
}

TEST(SerialFitPieces, CorrectionsLineNamesOnlyWhatFloats) {
  FluorescenceCorrectionValues kbleachOnly;
  kbleachOnly.timeDependentOn = kbleachOnly.photobleachingOn = kbleachOnly.kbleachFloating = true;
  kbleachOnly.kbleach = 0.25f;
  kbleachOnly.alim = 0.5f;
  FluorescenceCorrectionValues driftOnly;
  driftOnly.timeDependentOn = driftOnly.driftOn = driftOnly.driftFloating = true;
  driftOnly.drift = 0.01f;
  FluorescenceCorrectionValues several = kbleachOnly;
  several.convolutionOn = several.convolutionFloating = true;
  several.convolutionWidth = 0.0125f;
  several.shadowOn = true;  // fixed: not named
  several.alimFloating = several.driftOn = several.driftFloating = true;
  several.drift = 0.02f;
  several.gradientOn = several.gradientFloating = true;
  several.gradient = -0.5f;
  const struct {
    const char* name;
    FluorescenceCorrectionValues values;
    const char* line;
  } cases[] = {
      {"nothing on", {}, ""},
      {"kbleach only", kbleachOnly, "\t\t\t - kbleach = 0.2500 1/h (floating)\t\t\t\n"},
      {"drift alone writes no line", driftOnly, ""},
      {"several", several,
       "\t\t\tconvol = 0.013 | - kbleach = 0.2500 1/h (floating) - Alim = 50.0000 % (floating)"
       " - drift = 2.000 %/h (floating)gradient = -0.500\t\t\t\n"},
  };
  for (const auto& c : cases) EXPECT_EQ(FloatingCorrectionsLine(c.values), c.line) << c.name;
}

TEST(SerialFitPieces, StandInCorrectionsGiveBackWhatTheyWereGiven) {
  FluorescenceCorrectionValues v;
  v.shadowOn = true;
  v.shadow = 0.3f;
  const FluorescenceCorrectionValues before = FluorescenceCorrections().Get();
  FluorescenceCorrections().Set(v);
  EXPECT_TRUE(FluorescenceCorrections().Get().shadowOn);
  EXPECT_EQ(FluorescenceCorrections().Get().shadow, 0.3f);
  FluorescenceCorrections().Set(before);
}

TEST(SerialFitPieces, SeriesFilesTakeEveryCompleteRowAndRefuseBadOnes) {
  const SeriesFile rows = ParseSeriesFile("None RA1 1 100 10\nrun_ IP2 5 9 2\n\nx RA3 3 1 1", false);
  ASSERT_TRUE(rows.ok);
  ASSERT_EQ(rows.rows.size(), 3u);
  EXPECT_EQ(rows.rows[0].prefix, "");
  EXPECT_EQ(rows.rows[0].extension, "RA1");
  EXPECT_EQ(rows.rows[0].step, 10);
  EXPECT_EQ(rows.rows[1].prefix, "run_");
  EXPECT_EQ(rows.rows[1].first, 5);
  // The last row, though no line end follows it.
  EXPECT_EQ(rows.rows[2].prefix, "x");
  EXPECT_EQ(rows.rows[2].last, 1);

  const SeriesFile lists = ParseSeriesFile("/d/list.RA1\r\n/d/list.RA2\n", true);
  ASSERT_TRUE(lists.ok);
  EXPECT_EQ(lists.listPaths, (std::vector<std::string>{"/d/list.RA1", "/d/list.RA2"}));

  const struct {
    const char* text;
    bool listOfLists;
  } refused[] = {
      {"None RA1 1 100 0\n", false},   // a step that never advances
      {"None RA1 1 100 -2\n", false},
      {"None RA1 1 100\n", false},
      {"None RA1 one 100 1\n", false},
      {"/d/list.RA1 more\n", true},
  };
  for (const auto& c : refused) EXPECT_FALSE(ParseSeriesFile(c.text, c.listOfLists).ok) << c.text;
}

class SeriesRows : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / "tarnel_series_rows";
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    folder_ = dir_.string() + "/";
  }
  void TearDown() override { fs::remove_all(dir_); }
  void Touch(const SeriesRow& row, int number) { std::ofstream(SeriesFilePath(folder_, row, number)) << "x\n"; }

  fs::path dir_;
  std::string folder_;
};

TEST_F(SeriesRows, AfterAFoundFileTheStepAppliesAndTheLastNumberIsAlwaysTried) {
  SeriesRow row{"", "RA1", 1, 100, 10};
  for (int n = 1; n <= 100; ++n)
    if (n != 41) Touch(row, n);
  EXPECT_EQ(SeriesFilePath(folder_, row, 7), folder_ + "00007.RA1");
  std::string problem;
  bool tooMany = true;
  EXPECT_EQ(SeriesRowNumbers(row, folder_, &tooMany, &problem),
            (std::vector<int>{1, 11, 21, 31, 42, 52, 62, 72, 82, 92, 100}));
  EXPECT_FALSE(tooMany);
  EXPECT_EQ(problem, "");

  // The last file missing: what was found stands, unless fewer than 2 files.
  fs::remove(SeriesFilePath(folder_, row, 100));
  EXPECT_EQ(SeriesRowNumbers(row, folder_, nullptr, &problem).back(), 92);
  const SeriesRow sparse{"p", "RA2", 1, 5, 1};
  Touch(sparse, 2);
  EXPECT_TRUE(SeriesRowNumbers(sparse, folder_, nullptr, &problem).empty());
  EXPECT_EQ(problem, "problem creating list RA2: only 1 files found");
}

// Run leaves a three-point distribution and the next of the chosen codes.
class StandInWindow : public ISerialFitWindow {
 public:
  std::vector<int> codes;
  std::vector<int> commands;
  int monteCarloRuns = 0;
  void Command(int id) override {
    commands.push_back(id);
    if (id != kSerialCmdRun) return;
    timeStampCheckAtRun.push_back(*CurrentLoadTargets().checkTimeStamps);
    ContiSettings& c = Conti();
    if (!c.sValues) {
      c.sValues = vector(1, 3);
      c.distribution = vector(1, 3);
    }
    c.gridSize = 3;
    for (int i = 1; i <= 3; ++i) {
      c.sValues[i] = 2.0f * i;
      c.distribution[i] = 0.1f * i;
    }
    LastContiRunTimings().total = 1.0;
    gSerialFitSettings.errorCode = codes.empty() ? 0 : codes.front();
    if (!codes.empty()) codes.erase(codes.begin());
  }
  void SetCaption(const std::string&) override {}
  void DrawText(const std::string&, int, int) override {}
  bool LoadXpFile(const std::string& path) override {
    xpFiles.push_back(path);
    // Only an xp file that is there loads; a failed load leaves the set in place.
    if (!fs::exists(path)) return false;
    // The stand-in xp file names the first four scans of its folder.
    FileNameList& list = CurrentFileNameList();
    list.names.assign(1, std::string());
    for (int n = 1; n <= 4; ++n)
      list.names.push_back((fs::path(path).parent_path() / ("0000" + std::to_string(n) + ".RA1")).string());
    list.count = 4;
    if (!LoadListedScans()) return false;
    // An xp file carries its own noise switches.
    gFitEngineState.fitTINoise = 0;
    gModelParams.riNoiseFit = 0;
    return true;
  }
  void RunMonteCarlo(int, const std::string&) override { ++monteCarloRuns; }
  std::vector<std::string> xpFiles;
  std::vector<int> timeStampCheckAtRun;
  void SetWaitCursor(bool) override {}
  void RequestRepaint() override {}
};

class StandInSeries : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / "tarnel_stand_in_series";
    fs::remove_all(root_);
    gModelSelectorFlags = ModelSelectorFlags{};
    gModelSelectorFlags.DistributionModel = gModelSelectorFlags.CSModel = 1;
    gSerialFitSettings = SerialFitSettings{};
    // Folders 1 to 3, each with the example's first four scans.
    for (int k = 1; k <= 3; ++k) {
      fs::create_directories(root_ / std::to_string(k));
      for (int n = 1; n <= 4; ++n) {
        char name[16];
        std::snprintf(name, sizeof name, "%05d.RA1", n);
        fs::copy_file(fs::path(TARNEL_SOURCE_DIR) / "examples" / "cofs" / name, root_ / std::to_string(k) / name);
      }
    }
    FileNameList& list = CurrentFileNameList();
    list.names.assign(1, std::string());
    for (int n = 1; n <= 4; ++n) list.names.push_back((root_ / "1" / ("0000" + std::to_string(n) + ".RA1")).string());
    list.count = 4;
    ASSERT_TRUE(LoadListedScans());
  }
  void TearDown() override {
    ContiSettings& c = Conti();
    if (c.sValues) {
      free_vector(c.sValues, 1, 3);
      free_vector(c.distribution, 1, 3);
    }
    c = ContiSettings{};
    FreeScanData();
    FreeFileNameList();
    gModelSelectorFlags = ModelSelectorFlags{};
    gSerialFitSettings = SerialFitSettings{};
    fs::remove_all(root_);
  }
  std::string Read(const fs::path& p) const { return teststate::FileText(p); }
  // The answers to the questions of a series by folder.
  struct ByFolder {
    int first = 1, last = 1;
    bool xp = false;            // numbered xp files, noise switches kept
    bool ranges = true;         // one range, 1 to 5 S
    bool sizeAndShape = false;  // and f/f0 1.0 to 1.3
    bool monteCarlo = false;    // 2 iterations
  };
  void Answer(const ByFolder& a) {
    const auto yes = [](bool b) { return b ? platform::IDYES : platform::IDNO; };
    ui_.ExpectBox("SERIALIZE FIT", "incremental cell number?", platform::IDNO)
        .ExpectBox("SERIALIZE FIT", "incremental highest subdirectory?", platform::IDYES)
        .ExpectBox("SERIALIZE FIT", "load xpfile with incremental name (xp1.xp, xp2.xp...)?", yes(a.xp));
    if (a.xp) ui_.ExpectBox("SERIALIZE FIT", "restore TI & RI noise from current model?", platform::IDYES);
    ui_.ExpectPrompt("SERIALIZE FIT", "minimum subdir value", std::to_string(a.first))
        .ExpectPrompt("SERIALIZE FIT", "maximum subdir value", std::to_string(a.last))
        .ExpectBox("SERIALIZE FIT", "fit each set?", platform::IDNO)
        .ExpectBox("SERIALIZE FIT", "restore previous params if available?", platform::IDNO)
        .ExpectBox("SERIALIZE FIT", "with automatic integration?", yes(a.ranges));
    if (a.ranges) {
      ui_.ExpectPrompt("SERIALIZE FIT", "s min for integration", "1")
          .ExpectPrompt("SERIALIZE FIT", "s max for integration", "5");
      if (a.sizeAndShape)
        ui_.ExpectPrompt("SERIALIZE FIT", "ff0 min for integration", "1.0")
            .ExpectPrompt("SERIALIZE FIT", "ff0 max for integration", "1.3");
      ui_.ExpectBox("SERIALIZE FIT", "another integration range?", platform::IDNO);
    }
    ui_.ExpectBox("SERIALIZE FIT", "with Monte-Carlo error analysis?", yes(a.monteCarlo));
    if (a.monteCarlo) ui_.ExpectPrompt("SERIALIZE FIT", "# of MC iterations", "2");
  }

  fs::path root_;
  platform::ScriptedUserInterface ui_;
  StandInWindow window_;
};

TEST_F(StandInSeries, ErrorCodesOfTheAnalysisGoToEachSetsErrorFileAndTheLog) {
  platform::ScopedUI scope(ui_);
  window_.codes = {10, 11};
  Answer({.first = 1, .last = 2});
  const std::string first = (root_ / "1" / "00001.RA1").string(), second = (root_ / "2" / "00001.RA1").string();
  ui_.ExpectBox("SERIALIZE FIT", "serial fit: 0 analysed, 0 skipped, 2 failed\n" + first +
                                     ": failed (error code 10: Nelder-Mead not converged)\n" + second +
                                     ": failed (error code 11: error occured (invalid error code))");
  SerializeFitByCellOrDir(window_);
  EXPECT_TRUE(ui_.failures.empty()) << ui_.failures.front();
  EXPECT_TRUE(ui_.AllConsumed());
  EXPECT_EQ(window_.commands, (std::vector<int>{517, 213, 517, 213}));
  EXPECT_EQ(Read(root_ / "1" / "error.txt"), "Nelder-Mead not converged");
  EXPECT_EQ(Read(root_ / "2" / "error.txt"), "error occured (invalid error code)");
  EXPECT_EQ(Read(root_ / "1" / "distribution.RA1"),
            "2.000000e+00 1.000000e-01\n4.000000e+00 2.000000e-01\n6.000000e+00 3.000000e-01\n");
  EXPECT_EQ(Read(root_ / "2" / "ff0.RA1"), "1.200000e+00 \n");
  // Linear between the points: 0.1 x 1 + (0.1 + 0.15) / 2 x 1 over 1-5 S; all 0.8.
  std::istringstream integrals(Read(root_ / "2" / "integrals.RA1"));
  std::string header;
  std::getline(integrals, header);
  EXPECT_EQ(header, "smin, smax, c, sw, ctot");
  double smin = 0, smax = 0, c = 0, sw = 0, ctot = 0;
  integrals >> smin >> smax >> c >> sw >> ctot;
  EXPECT_EQ(smax, 5.0);
  EXPECT_NEAR(ctot, 0.8, 1e-6);
  EXPECT_GT(c, 0.0);
  EXPECT_LT(c, ctot);
  EXPECT_EQ(Read(root_ / "1" / "serialfit.log"),
            first + ": failed (error code 10: Nelder-Mead not converged)\n" + second +
                ": failed (error code 11: error occured (invalid error code))\n");
  EXPECT_EQ(gSerialFitSettings.running, 0);
}

TEST_F(StandInSeries, NumberedXpFilesLoadEachFolderAndTheNoiseSwitchesAreKeptOnRequest) {
  platform::ScopedUI scope(ui_);
  const auto ti = gFitEngineState.fitTINoise;
  const auto ri = gModelParams.riNoiseFit;
  gFitEngineState.fitTINoise = 1;
  gModelParams.riNoiseFit = 1;
  for (int k : {2, 3}) std::ofstream(root_ / std::to_string(k) / ("xp" + std::to_string(k) + ".xp")) << "xp\n";
  Answer({.first = 2, .last = 3, .xp = true, .ranges = false});
  ui_.ExpectBox("SERIALIZE FIT", "serial fit: 2 analysed, 0 skipped, 0 failed");
  SerializeFitByCellOrDir(window_);
  EXPECT_TRUE(ui_.failures.empty()) << ui_.failures.front();
  EXPECT_EQ(window_.xpFiles, (std::vector<std::string>{(root_ / "2" / "xp2.xp").string(),
                                                       (root_ / "3" / "xp3.xp").string()}));
  EXPECT_EQ(gFitEngineState.fitTINoise, 1);
  EXPECT_EQ(gModelParams.riNoiseFit, 1);
  gFitEngineState.fitTINoise = ti;
  gModelParams.riNoiseFit = ri;
}

// The xp files of folders 1 and 3 are missing: those two sets fail and
// nothing is analysed in their name; the set of folder 2 is analysed once.
TEST_F(StandInSeries, AnXpFileThatDoesNotLoadFailsItsSetAndNoOtherSetIsAnalysedInItsName) {
  platform::ScopedUI scope(ui_);
  std::ofstream(root_ / "2" / "xp2.xp") << "xp\n";
  Answer({.first = 1, .last = 3, .xp = true, .ranges = false});
  const std::string why = ": failed (the xp file or the scans it names could not be loaded)";
  ui_.ExpectBox("SERIALIZE FIT", "serial fit: 1 analysed, 0 skipped, 2 failed\n" +
                                     (root_ / "1" / "xp1.xp").string() + why + "\n" +
                                     (root_ / "3" / "xp3.xp").string() + why);
  SerializeFitByCellOrDir(window_);
  EXPECT_TRUE(ui_.failures.empty()) << ui_.failures.front();
  EXPECT_EQ(std::count(window_.commands.begin(), window_.commands.end(), kSerialCmdRun), 1);
  EXPECT_TRUE(fs::exists(root_ / "2" / "distribution.RA1"));
  for (int k : {1, 3}) EXPECT_FALSE(fs::exists(root_ / std::to_string(k) / "distribution.RA1")) << k;
}

// A bound the loop counter cannot reach, or a series too long to end: refused before any set.
TEST_F(StandInSeries, FolderBoundsBeyondReachAreRefused) {
  platform::ScopedUI scope(ui_);
  for (const char* last : {"2e9", "1e30", "1001"}) {
    SCOPED_TRACE(last);
    ui_.ExpectBox("SERIALIZE FIT", "incremental cell number?", platform::IDNO)
        .ExpectBox("SERIALIZE FIT", "incremental highest subdirectory?", platform::IDYES)
        .ExpectBox("SERIALIZE FIT", "load xpfile with incremental name (xp1.xp, xp2.xp...)?", platform::IDNO)
        .ExpectPrompt("SERIALIZE FIT", "minimum subdir value", "1")
        .ExpectPrompt("SERIALIZE FIT", "maximum subdir value", last)
        .ExpectBox("SERIALIZE FIT", "a series covers at most 1000 numbers, each between -999999 and 999999");
    SerializeFitByCellOrDir(window_);
    EXPECT_TRUE(ui_.AllConsumed());
    EXPECT_TRUE(window_.commands.empty());
  }
}

TEST_F(StandInSeries, SizeAndShapeRangesAddTheirWeightAveragesToTheIntegrals) {
  platform::ScopedUI scope(ui_);
  gModelSelectorFlags.CSModel = 0;
  gModelSelectorFlags.CSff0Model = 1;
  // Three points of the s-f/f0 plane; the range takes the first two.
  ContiSettings& c = Conti();
  float** arrays[] = {&c.grid2DS, &c.grid2DM, &c.grid2DD, &c.grid2DStokes, &c.grid2DFf, &c.grid2DAmplitude};
  for (float** a : arrays) *a = vector(1, 3);
  c.grid2DSize = 3;
  const float values[][3] = {{2, 4, 6}, {1e4f, 2e4f, 3e4f}, {6e-7f, 5e-7f, 4e-7f}, {1, 2, 3}, {1.2f, 1.2f, 1.5f},
                             {0.1f, 0.2f, 0.3f}};
  for (int k = 0; k < 6; ++k)
    for (int i = 1; i <= 3; ++i) (*arrays[k])[i] = values[k][i - 1];
  Answer({.sizeAndShape = true});
  ui_.ExpectBox("SERIALIZE FIT", "serial fit: 1 analysed");
  SerializeFitByCellOrDir(window_);
  EXPECT_TRUE(ui_.failures.empty()) << ui_.failures.front();
  std::istringstream integrals(Read(root_ / "1" / "integrals.RA1"));
  std::string header;
  std::getline(integrals, header);
  EXPECT_EQ(header, "smin, smax, fmin, fmax, c, sw, fw, ctot, Mw, Mz, second central moment of Mz, R, "
                    "second central moment R");
  std::vector<double> row;
  for (double v; integrals >> v;) row.push_back(v);
  ASSERT_EQ(row.size(), 13u);
  EXPECT_FLOAT_EQ(row[2], 1.0f);
  EXPECT_FLOAT_EQ(row[3], 1.3f);
  EXPECT_NEAR(row[6], 1.2, 1e-6);                  // fw
  EXPECT_NEAR(row[8], (0.1e4 + 0.4e4) / 0.3, 0.1);   // Mw
  EXPECT_NEAR(row[10], std::sqrt(2e8 / 9), 0.01);  // sqrt(sum c (M - Mw)^2 / sum c)
  EXPECT_NEAR(row[11], 5.0 / 3, 1e-5);             // R
  EXPECT_NEAR(row[12], std::sqrt(2.0) / 3, 1e-5);
  for (float** a : arrays) {
    free_vector(*a, 1, 3);
    *a = nullptr;
  }
}

TEST_F(StandInSeries, TheTimeStampCheckIsOffOnlyWhileTheSeriesRuns) {
  platform::ScopedUI scope(ui_);
  std::uint8_t& check = *CurrentLoadTargets().checkTimeStamps;
  check = 1;
  const char* question = "Need to switch off time stamp check - are all files corrected? Proceed? "
                         "(Otherwise exit and do timestamp corrections first)";
  ui_.ExpectBox("SERIALIZE FIT", question, platform::IDNO);
  SerializeFitByCellOrDir(window_);
  EXPECT_TRUE(ui_.AllConsumed());
  EXPECT_EQ(check, 1);
  // Switched off for the series, on again after it, and after a series
  // that ends before its first set.
  ui_.ExpectBox("SERIALIZE FIT", question, platform::IDYES);
  Answer({.first = 2, .last = 2});
  ui_.ExpectBox("SERIALIZE FIT", "serial fit: 1 analysed");
  SerializeFitByCellOrDir(window_);
  EXPECT_TRUE(ui_.failures.empty()) << ui_.failures.front();
  EXPECT_EQ(window_.timeStampCheckAtRun, std::vector<int>{0});
  EXPECT_EQ(check, 1);
  ui_.ExpectBox("SERIALIZE FIT", question, platform::IDYES)
      .ExpectBox("SERIALIZE FIT", "incremental cell number?", platform::IDNO)
      .ExpectBox("SERIALIZE FIT", "incremental highest subdirectory?", platform::IDNO)
      .ExpectBox("SERIALIZE FIT", "nothing to serialize");
  SerializeFitByCellOrDir(window_);
  EXPECT_TRUE(ui_.AllConsumed());
  EXPECT_EQ(check, 1);
  check = 0;
}

TEST_F(StandInSeries, UnwritableResultsAndMonteCarloFolderFailTheirSetAndSaySo) {
  platform::ScopedUI scope(ui_);
  std::ofstream(root_ / "3" / "MCdata") << "a file, not a folder\n";
  fs::create_directories(root_ / "2" / "ff0.RA1");  // no file can take its name
  Answer({.first = 2, .last = 3, .monteCarlo = true});
  ui_.ExpectBox("SERIALIZE FIT", "serial fit: 0 analysed, 0 skipped, 2 failed\n" +
                                     (root_ / "2" / "00001.RA1").string() + ": failed (could not write " +
                                     (root_ / "2" / "ff0.RA1").string() + ")\n" +
                                     (root_ / "3" / "00001.RA1").string() +
                                     ": failed (error code 7: could not create MC directory)");
  SerializeFitByCellOrDir(window_);
  EXPECT_TRUE(ui_.failures.empty()) << ui_.failures.front();
  EXPECT_EQ(window_.monteCarloRuns, 1);
  EXPECT_TRUE(fs::is_directory(root_ / "2" / "MCdata"));
  EXPECT_EQ(Read(root_ / "2" / "MCintegrals.RA1").rfind("smin\tsmax\tsavg\tsstd\tslow\tsup\tcavg\tcstd\tclow\tcup (P = 0.68)\n1.000000e+00\t5.000000e+00\t", 0), 0u);
  EXPECT_FALSE(fs::exists(root_ / "3" / "MCintegrals.RA1"));
  EXPECT_EQ(Read(root_ / "3" / "error.txt"), "could not create MC directory");
}

}  // namespace
