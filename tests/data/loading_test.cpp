#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <functional>

#include "data/scan_grid.h"
#include "data/speed_steps_at_load.h"
#include "data/time_stamps.h"
#include "numerics/arrays.h"
#include "numerics/ccurve.h"
#include "platform/paths.h"
#include "platform/process_launcher.h"
#include "tests/data/loading_fixture.h"

using loading_test::MakeScan;
using loading_test::ReadText;
using loading_test::WriteScan;
using loading_test::WriteText;

namespace {

std::vector<std::string> LoadedNames() {
  const ScanSet& s = CurrentScanSet();
  std::vector<std::string> names;
  for (int k = 1; k <= s.count; ++k) names.push_back(s.fileNames[s.order[k]]);
  return names;
}

}  // namespace

// Equilibrium data carry most of their information at the bottom: the
// default right limit stays 0.01 cm inside it (the limit check's margin).
TEST_F(LoadingTest, EquilibriumDataGetTheWholeColumnAsDefaultFitRange) {
  const auto names = WriteSeries({1000, 2000});
  CurrentScanSet().equilibriumMode = 1;
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
  const ScanSet& s = CurrentScanSet();
  EXPECT_FLOAT_EQ(s.leftFitLimit, 5.9f + 0.01f);
  EXPECT_FLOAT_EQ(s.rightFitLimit, 7.1f - 0.01f);
  EXPECT_GE(s.lastFitPoint[1], s.points[1] - 2);
}

TEST_F(LoadingTest, SelectionIsSortedByTimeWithDefaultsFromTheFirstScan) {
  const auto names = WriteSeries({3000, 1000, 2000, 1000});
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
  const ScanSet& s = CurrentScanSet();
  const LoadTargets& t = CurrentLoadTargets();
  ASSERT_EQ(s.count, 4);
  // Equal times keep their selection order.
  EXPECT_EQ(LoadedNames(), (std::vector<std::string>{Name(2), Name(4), Name(3), Name(1)}));
  EXPECT_FLOAT_EQ(*t.meniscus, 5.9f);
  EXPECT_FLOAT_EQ(*t.bottom, 7.1f);
  EXPECT_FLOAT_EQ(*t.meniscusParameter, 5.9f);
  EXPECT_FLOAT_EQ(*t.bottomParameter, 7.1f);
  // meniscus + 0.005 is raised to meniscus + 0.01 by the limit check.
  EXPECT_FLOAT_EQ(s.leftFitLimit, 5.9f + 0.01f);
  EXPECT_FLOAT_EQ(s.rightFitLimit, 7.1f - 0.15f);
  EXPECT_GE(s.radii[1][s.firstFitPoint[1]], s.leftFitLimit);
  EXPECT_LT(s.radii[1][s.firstFitPoint[1] - 1], s.leftFitLimit);
  EXPECT_LE(s.radii[1][s.lastFitPoint[1]], s.rightFitLimit);
  EXPECT_GT(s.radii[1][s.lastFitPoint[1] + 1], s.rightFitLimit);
  EXPECT_FLOAT_EQ(*t.temperature, 20.0f + 273.15f);
  EXPECT_FLOAT_EQ(*t.RT, (20.0f + 273.15f) * 8.31451f * 1e7f);
  EXPECT_EQ(CurrentDataPaths().notesFile, dir / "notes.RA1");
  EXPECT_EQ(CurrentDataPaths().parameterFile, dir / "~tmppars.RA1");
  EXPECT_EQ(CurrentDataPaths().distributionFile, dir / "sdist.RA1");
  EXPECT_EQ(s.residuals[2][7], s.signals[2][7]);
  EXPECT_EQ(s.model[2][7], 0.0f);
  ASSERT_NE(s.dataCurve[3], nullptr);
  EXPECT_EQ(s.dataCurve[3]->Count(), 121);
  EXPECT_DOUBLE_EQ(s.signalPerConcentration, 1.0);

  // Absorbance scans go onto an interpolated grid one step above the mean first radius.
  EXPECT_EQ(s.gridOwned, 1);
  EXPECT_NEAR(s.grid[1], 5.901f, 1e-5);
  EXPECT_GT(s.grid[s.gridLength], 7.1f);
  EXPECT_LT(s.grid[s.gridLength], 7.1f + 0.0021f);
  for (int j = 100; j <= 1000; j += 300)
    EXPECT_NEAR(s.gridSignals[3][j], 0.1 + 0.5 * (s.grid[j] - 5.9) + 0.02, 2e-5);
  ASSERT_FALSE(ui.progress.empty());
  EXPECT_LT(ui.progress.back().second, 0.0);
  ExpectNoFailures();
}

TEST_F(LoadingTest, LoadEveryThirdOfSevenFiles) {
  const auto names = WriteSeries({100, 200, 300, 400, 500, 600, 700});
  CurrentScanSet().loadEvery = 3;
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
  EXPECT_EQ(LoadedNames(), (std::vector<std::string>{Name(1), Name(4), Name(7)}));
  ExpectNoFailures();
}

TEST_F(LoadingTest, OneFileAsksForEquilibriumMode) {
  const auto names = WriteSeries({100, 200});
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
  ui.ExpectBox("ERROR", "only one file selected");
  ui.ExpectBox("LOAD ERROR", "switch to Equilibrium Data Mode?", platform::IDNO);
  EXPECT_FALSE(LoadAllData(MakeSelection(dir.path(), {names[0]})));
  EXPECT_EQ(CurrentScanSet().count, 2);  // the loaded set stays

  CurrentScanSet().radialResolution = 0.005f;  // no averaging in equilibrium mode
  ui.ExpectBox("ERROR", "only one file selected");
  ui.ExpectBox("LOAD ERROR", "switch to Equilibrium Data Mode?", platform::IDYES);
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), {names[0]})));
  EXPECT_EQ(CurrentScanSet().count, 1);
  EXPECT_EQ(CurrentScanSet().equilibriumMode, 1);
  EXPECT_EQ(CurrentScanSet().points[1], 121);
  ExpectNoFailures();
}

TEST_F(LoadingTest, AnUnreadableFileIsSkippedAndALoadWithoutScansFails) {
  auto names = WriteSeries({100, 200});
  names.insert(names.begin() + 1, "00099.RA1");
  ui.ExpectBox("LOAD ERROR", "the file cannot be read (missing, not readable or not a regular file)\n"
                             "This file is skipped; the other files are loaded.\n" + dir / "00099.RA1");
  EXPECT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
  ASSERT_EQ(CurrentScanSet().count, 2);
  EXPECT_EQ(CurrentScanSet().fileNames[2], names[2]);
  // The unattended run takes a named scan that is missing as a failure.
  std::uint8_t automation = 1;
  std::uint8_t* const saved = CurrentLoadTargets().automationRun;
  CurrentLoadTargets().automationRun = &automation;
  ui.ExpectBox("LOAD ERROR", dir / "00099.RA1");
  EXPECT_FALSE(LoadAllData(MakeSelection(dir.path(), names)));
  CurrentLoadTargets().automationRun = saved;
  EXPECT_EQ(CurrentScanSet().count, 0);
  // A load of which no file can be read says so once and loads nothing.
  ui.ExpectBox("LOAD ERROR", "the file cannot be read (missing, not readable or not a regular file)\n"
                             "None of the selected files can be loaded: nothing was loaded.\n" + dir / "00098.RA1");
  EXPECT_FALSE(LoadAllData(MakeSelection(dir.path(), {"00097.RA1", "00098.RA1"})));
  EXPECT_EQ(CurrentScanSet().count, 0);
  // Over a loaded set, that set stays as it was.
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), {names[0], names[2]})));
  const float lastSignal = CurrentScanSet().signals[2][CurrentScanSet().points[2]];
  const std::string folder = CurrentDataPaths().dataFolder;
  ui.ExpectBox("LOAD ERROR", "the file cannot be read (missing, not readable or not a regular file)\n"
                             "None of the selected files can be loaded: nothing was loaded.\n"
                             "The data loaded before are kept.\n" + dir / "elsewhere/00098.RA1");
  EXPECT_FALSE(LoadAllData(MakeSelection(dir / "elsewhere", {"00097.RA1", "00098.RA1"})));
  ASSERT_EQ(CurrentScanSet().count, 2);
  EXPECT_EQ(CurrentScanSet().fileNames[2], names[2]);
  EXPECT_EQ(CurrentScanSet().signals[2][CurrentScanSet().points[2]], lastSignal);
  EXPECT_EQ(CurrentDataPaths().dataFolder, folder);

  auto scan = MakeScan(5.9f, 0.01f, 121, [](float r) { return r; });
  scan.type = 'P';
  WriteScan(dir / "00003.IP1", scan);
  ui.ExpectBox("ERROR", "mixed data types");
  EXPECT_FALSE(LoadAllData(MakeSelection(dir.path(), {Name(1), "00003.IP1"})));
  EXPECT_EQ(CurrentScanSet().count, 0);
  EXPECT_EQ(CurrentScanSet().mixedTypes, 1);
  ExpectNoFailures();
}

TEST_F(LoadingTest, ListFileRoundTrip) {
  const auto names = WriteSeries({300, 100, 200});
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
  BuildTmpFileList(0);
  ASSERT_TRUE(WriteFileNameList(false));
  const std::string list = dir / "list.RA1";
  EXPECT_EQ(ReadText(list),
            "newformat n=1\n" + dir.path() + "\n" + Name(2) + "\n" + Name(3) + "\n" + Name(1) + "\n");
  FreeScanData();
  FreeFileNameList();
  ASSERT_TRUE(LoadFileNameList(list));
  ASSERT_EQ(CurrentFileNameList().count, 3);
  EXPECT_EQ(CurrentFileNameList().names[1], dir / Name(2));
  EXPECT_EQ(AllScanFilesExist(), 1);
  ASSERT_TRUE(LoadListedScans());
  EXPECT_EQ(LoadedNames(), (std::vector<std::string>{Name(2), Name(3), Name(1)}));
  // Leaving out a scan by its number.
  BuildTmpFileList(3);
  EXPECT_EQ(CurrentFileNameList().count, 2);
  ExpectNoFailures();
}

TEST_F(LoadingTest, ListFileForms) {
  const auto names = WriteSeries({100, 200, 300, 400, 500, 600, 700});
  std::string backslashed = dir.path();
  for (char& c : backslashed)
    if (c == '/') c = '\\';
  std::string seven;
  for (const auto& n : names) seven += n + "\n";
  struct Case {
    const char* name;
    std::string text;
    int expected;
    int every;
  };
  const Case cases[] = {
      {"comments", "newformat n=1\n% a comment line\n" + dir.path() + "\n00001.RA1 % at the end\n00002.RA1\n", 2, 1},
      {"old form", dir.path() + "\n00001_RA1\n00002_RA1\n00003_RA1\n", 3, 1},
      {"count 0", "newformat n=0\n" + dir.path() + "\n" + seven, 7, 1},
      {"negative count", "newformat n=-2\n" + dir.path() + "\n" + seven, 7, 1},
      {"every third", "newformat n=3\n" + dir.path() + "\n" + seven, 3, 3},
      {"windows folder", "newformat n=1\n" + backslashed + "\r\n00001.RA1\r\n00002.RA1\r\n", 2, 1},
  };
  for (const Case& c : cases) {
    WriteText(dir / "mylist", c.text);
    ASSERT_TRUE(LoadFileNameList(dir / "mylist")) << c.name;
    EXPECT_EQ(CurrentFileNameList().count, c.expected) << c.name;
    EXPECT_EQ(CurrentScanSet().loadEvery, c.every) << c.name;
    ASSERT_TRUE(LoadListedScans()) << c.name;
    EXPECT_EQ(CurrentScanSet().count, c.expected) << c.name;
    EXPECT_EQ(CurrentScanSet().fileNames[1], Name(1)) << c.name;
  }
  std::string many = "newformat n=1\n" + dir.path() + "\n";
  for (int k = 1; k <= 1001; ++k) many += Name(k) + "\n";
  WriteText(dir / "mylist", many);
  ui.ExpectBox("LOAD ERROR", "too many scans selected");
  EXPECT_FALSE(LoadFileNameList(dir / "mylist"));
  EXPECT_FALSE(LoadFileNameList(dir / "no such list"));
  ExpectNoFailures();
}

TEST_F(LoadingTest, TimeStampsScaleTimesIntoCorrectedCopies) {
  const auto names = WriteSeries({1000, 2800, 4600});
  const double base = 1.7e9;
  const double stamps[] = {base, base + 1805, base + 3610};
  for (int k = 0; k < 3; ++k)
    ASSERT_TRUE(platform::SetFileTimes(dir / names[k], stamps[k], stamps[k]));
  platform::RecordingProcessLauncher launcher;
  platform::SetProcesses(&launcher);
  *CurrentLoadTargets().checkTimeStamps = 1;
  ui.ExpectBox("CHECK TIME STAMP", "save corrected files and reload?", platform::IDYES);
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
  platform::SetProcesses(nullptr);

  const ScanSet& s = CurrentScanSet();
  ASSERT_EQ(s.count, 3);
  EXPECT_EQ(s.fileNames[1], "tcorr_" + Name(1));
  const double factor = 3610.0 / 3600.0;
  EXPECT_NEAR(s.records[3].time, 4600 * factor, 1.0);
  EXPECT_EQ(std::string(s.records[1].description).rfind("[TIMESTAMP CORRECTED 1.002778]", 0), 0u);
  // The copies carry the file times of the scans they were made from; the
  // originals are untouched.
  EXPECT_NEAR(platform::GetFileTimes(dir / ("tcorr_" + names[2]))->modification, stamps[2], 1.0);
  EXPECT_NE(ReadText(dir / names[0]).find("synthetic scan"), std::string::npos);
  EXPECT_EQ(ReadText(dir / names[0]).find("TIMESTAMP"), std::string::npos);
  EXPECT_NE(ReadText(dir / "list_corr.RA1").find("tcorr_00003.RA1"), std::string::npos);
  const std::string report = ReadText(dir / "timestampanalysis.RA1");
  EXPECT_NE(report.find("correction factor (delta-file timestamp/delta-recorded time) = 1.002778"),
            std::string::npos);
  ASSERT_FALSE(launcher.calls.empty());
  EXPECT_EQ(launcher.calls[0].rfind("edit ", 0), 0u);
  ExpectNoFailures();

  // Corrected scans are all marked and not analysed again.
  bool mixed = true;
  EXPECT_TRUE(ScansTimeStampStatus(mixed));
  EXPECT_FALSE(mixed);
  EXPECT_FALSE(CheckScanTimeStamps());
}

TEST_F(LoadingTest, TimeStampsTooCloseAskForAManualFactor) {
  const auto names = WriteSeries({1000, 1030});
  platform::RecordingProcessLauncher launcher;
  platform::SetProcesses(&launcher);
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
  bool error = true;
  EXPECT_EQ(AnalyzeTimeStamps(false, error, nullptr, nullptr), 0.0);
  EXPECT_FALSE(error);
  ui.ExpectBox("CHECK TIME STAMP", "no time stamp information available", platform::IDNO);
  EXPECT_FALSE(CheckScanTimeStamps());
  platform::SetProcesses(nullptr);
  ExpectNoFailures();
}

TEST_F(LoadingTest, SpeedStepsAtLoad) {
  // One speed and no speed-steps file: no profile.
  auto names = WriteSeries({1000, 2000, 3000});
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
  EXPECT_EQ(CurrentSpeedProfile.profile, nullptr);
  EXPECT_FALSE(CurrentSpeedProfile.inUse);

  // A speed-steps file that does not fit the scans is reported and never
  // used: the scans load without a profile, and the refusal names the file.
  WriteText(dir / "speedsteps.txt", "0 40000 200\n2500 50000 200\n");
  ui.ExpectBox("LOAD ERROR", "oops - speedsteps.txt rotor speed profile inconsistent with data");
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
  EXPECT_FALSE(CurrentSpeedProfile.inUse);
  EXPECT_EQ(CurrentSpeedProfile.profile, nullptr);
  EXPECT_EQ(CurrentSpeedClassification().refusedFile, dir / "speedsteps.txt");
  // Asked for again from the solver settings: dropped as well.
  ui.ExpectBox("LOAD ERROR", "oops - speedsteps.txt rotor speed profile inconsistent with data");
  EXPECT_FALSE(LoadSpeedStepsForData());
  EXPECT_EQ(CurrentSpeedProfile.profile, nullptr);
  // A file that fits is taken, and the refusal is forgotten.
  WriteText(dir / "speedsteps.txt", "0 40000 200\n");
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
  ASSERT_NE(CurrentSpeedProfile.profile, nullptr);
  EXPECT_EQ(CurrentSpeedProfile.profile->stepCount, 1);
  EXPECT_TRUE(CurrentSpeedClassification().refusedFile.empty());
  ExpectNoFailures();
}

// One rule for every speed-step file that cannot be used, whatever it is:
// refused, said (the reason, then the refusal), and never passed over as if
// there were none. A file whose lines end in CR alone is read line by line:
// its second step (50000 rpm from 500 s) contradicts the scans at 40000.
TEST_F(LoadingTest, EveryUnusableSpeedStepFileIsRefusedAndSaid) {
  alarm(60);  // a read that waits on the pipe fails here instead of hanging
  const auto names = WriteSeries({1000, 2000, 3000});
  namespace fs = std::filesystem;
  const std::string steps = dir / "speedsteps.txt";
  const struct {
    const char* kind;
    std::function<void()> make;
    const char* reason;
  } cases[] = {
      {"named pipe", [&] { ASSERT_EQ(mkfifo(steps.c_str(), 0644), 0); }, "is not a regular file"},
      {"folder", [&] { fs::create_directories(steps); }, "is not a regular file"},
      {"empty", [&] { WriteText(steps, ""); }, "bad speedstep data"},
      {"CR line ends", [&] { WriteText(steps, "0 40000 200\r500 50000 200\r"); }, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    fs::remove_all(steps);
    c.make();
    ui.lenient = true;
    ui.transcript.clear();
    ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
    EXPECT_EQ(CurrentSpeedProfile.profile, nullptr);
    EXPECT_EQ(CurrentSpeedClassification().refusedFile, steps);
    ASSERT_GE(ui.transcript.size(), c.reason ? 2u : 1u);
    if (c.reason) {
      EXPECT_NE(ui.transcript[ui.transcript.size() - 2].text.find(c.reason), std::string::npos)
          << ui.transcript[ui.transcript.size() - 2].text;
    }
    EXPECT_EQ(ui.transcript.back().text, "oops - speedsteps.txt rotor speed profile inconsistent with data");
  }
  // A file of one step that fits, with CR LF line ends, is taken.
  fs::remove_all(steps);
  WriteText(steps, "0 40000 200\r\n");
  ui.transcript.clear();
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
  ASSERT_NE(CurrentSpeedProfile.profile, nullptr);
  EXPECT_EQ(CurrentSpeedProfile.profile->stepCount, 1);
  EXPECT_TRUE(CurrentSpeedClassification().refusedFile.empty());
  alarm(0);
}

// Scans recorded at several speeds (a multi-speed equilibrium set) with no
// speed-steps file beside them load quietly without a profile: nothing is
// refused, so an unattended run of such a set goes on.
TEST_F(LoadingTest, SpeedChangesWithoutAFileLoadWithoutAProfileOrAMessage) {
  const float speeds[] = {8000, 11000, 15000};
  std::vector<std::string> names;
  for (int i = 0; i < 3; ++i) {
    auto scan = MakeScan(6.9f, 0.005f, 41, [](float r) { return r - 6.0f; });
    scan.time = 80000.0 * (i + 1);
    scan.rpm = speeds[i];
    scan.w2t = 1e10 * (i + 1);
    names.push_back(Name(i + 1));
    WriteScan(dir / names.back(), scan);
  }
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
  EXPECT_EQ(CurrentScanSet().count, 3);
  EXPECT_EQ(CurrentSpeedProfile.profile, nullptr);
  EXPECT_FALSE(CurrentSpeedProfile.inUse);
  EXPECT_TRUE(CurrentSpeedClassification().refusedFile.empty());
  EXPECT_FALSE(platform::FileExists(dir / "speedsteps.txt"));
  ExpectNoFailures();
}

TEST_F(LoadingTest, SpeedStepStartIsRecoveredFromOmegaSquaredT) {
  // Ramp at a from rest to 3000 rpm, hold, then at ts ramp at a to 50000 rpm.
  const double a = 280, rpm0 = 3000, rpm1 = 50000, ts = 1000;
  const double k = std::pow(3.14159265358979323846 / 30.0, 2);
  auto w2t = [&](double t) {
    const double T0 = rpm0 / a, T1 = (rpm1 - rpm0) / a;
    double w = rpm0 * rpm0 * rpm0 / (3 * a) + rpm0 * rpm0 * (std::min(t, ts) - T0);
    if (t > ts) {
      const double tr = std::min(t - ts, T1);
      w += rpm0 * rpm0 * tr + rpm0 * a * tr * tr + a * a * tr * tr * tr / 3;
      if (t > ts + T1) w += rpm1 * rpm1 * (t - ts - T1);
    }
    return k * w;
  };
  const double times[] = {300, 600, 900, 1500, 2000};
  std::vector<std::string> names;
  for (int i = 0; i < 5; ++i) {
    auto scan = MakeScan(5.9f, 0.01f, 121, [](float r) { return r - 5.0f; });
    scan.time = times[i];
    scan.rpm = static_cast<float>(i < 3 ? rpm0 : rpm1);
    scan.w2t = w2t(times[i]);
    names.push_back(Name(i + 1));
    WriteScan(dir / names.back(), scan);
  }
  ui.lenient = true;  // the load reports the missing speed-steps file
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
  ASSERT_TRUE(DetectRotorSpeedSteps(280.0f, 100.0f));
  const CRotorSpeedProfile& p = *CurrentSpeedProfile.profile;
  ASSERT_EQ(p.stepCount, 2);
  EXPECT_FLOAT_EQ(p.speeds[1], 3000.0f);
  EXPECT_FLOAT_EQ(p.speeds[2], 50000.0f);
  // w2t is stored with five significant digits in the scan files.
  EXPECT_NEAR(p.startTimes[2], ts, 3.0);
  EXPECT_GE(p.startTimes[2], 900.0f + 1.0f);
  EXPECT_TRUE(platform::FileExists(dir / "speedsteps.txt"));

  // The single-change estimate from one scan's w2t.
  ScanRecord r;
  r.time = 5000;
  r.rpm = static_cast<float>(rpm1);
  r.w2t = w2t(5000);
  EXPECT_NEAR(EstimateSpeedStepStartTime(static_cast<float>(rpm0), 280.0f, r), ts, 1.0);
}

TEST_F(LoadingTest, AddedFilesJoinTheSetInTimeOrder) {
  const auto names = WriteSeries({1000, 2000, 1500});
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), {names[0], names[1]})));
  LoadTargets& t = CurrentLoadTargets();
  *t.meniscus = 5.95f;  // a value the user set stays
  *t.checkTimeStamps = 1;
  auto marked = MakeScan(5.9f, 0.01f, 121, [](float r) { return r - 5.0f; });
  marked.description = "[T OK] marked";
  marked.time = 3000;
  WriteScan(dir / Name(4), marked);
  ui.ExpectBox("LOAD ERROR", dir / Name(4) + "\n time stamp correction discrepancy with previous data!");
  ASSERT_TRUE(AddMoreFiles(MakeSelection(dir.path(), {names[2], Name(4)})));
  EXPECT_EQ(LoadedNames(), (std::vector<std::string>{Name(1), Name(3), Name(2), Name(4)}));
  EXPECT_FLOAT_EQ(*t.meniscus, 5.95f);
  EXPECT_EQ(CurrentScanSet().gridLength > 0, true);

  // A file that cannot be added, or one loaded already (it would count
  // twice in every Run and Fit), leaves the set as it was.
  const float lastSignal = CurrentScanSet().signals[4][CurrentScanSet().points[4]];
  WriteScan(dir / Name(5), MakeScan(5.9f, 0.01f, 121, [](float r) { return r - 5.0f; }));
  // The same file reached through its folder's parent, through "." and a
  // doubled separator, through a symbolic link (beside it, or in another
  // folder to a link of the folder) and through a second hard link.
  const std::string roundabout = "../" + std::filesystem::path(dir.path()).filename().string() + "/" + Name(1);
  namespace fs = std::filesystem;
  const fs::path here(dir.path());
  fs::create_directory(here / "elsewhere");
  fs::create_symlink(here / Name(1), here / "link.RA1");
  fs::create_directory_symlink(here, here / "elsewhere" / "folder");
  fs::create_hard_link(here / Name(3), here / "elsewhere" / "hard.RA1");
  const std::string twice = "\nis loaded already: a scan counts once in every Run and Fit.\n"
                            "Nothing was added; the data loaded before are kept.";
  const struct {
    std::vector<std::string> names;
    std::string message;
  } refused[] = {
      {{Name(5), "00077.RA1"},
       "the file cannot be read (missing, not readable or not a regular file)\n"
       "Nothing was added; the data loaded before are kept.\n" + dir / "00077.RA1"},
      {{Name(5), names[2]}, dir / names[2] + twice},
      {{Name(5), roundabout}, dir / roundabout + twice},
      {{Name(5), Name(5)}, dir / Name(5) + twice},
      {{"./" + Name(2)}, dir / ("./" + Name(2)) + twice},
      {{"elsewhere//../" + Name(2)}, dir / ("elsewhere//../" + Name(2)) + twice},
      {{Name(5), "link.RA1"}, dir / "link.RA1" + twice},
      {{Name(5), "elsewhere/folder/" + Name(4)}, dir / ("elsewhere/folder/" + Name(4)) + twice},
      {{"elsewhere/hard.RA1"}, dir / "elsewhere/hard.RA1" + twice},
  };
  for (const auto& row : refused) {
    ui.ExpectBox("LOAD ERROR", row.message);
    EXPECT_FALSE(AddMoreFiles(MakeSelection(dir.path(), row.names))) << row.message;
    EXPECT_EQ(LoadedNames(), (std::vector<std::string>{Name(1), Name(3), Name(2), Name(4)}));
    EXPECT_EQ(CurrentScanSet().signals[4][CurrentScanSet().points[4]], lastSignal);
  }
  // A copy in another folder is another file, whatever its name and content.
  fs::create_directory(here / "copies");
  fs::copy_file(here / Name(1), here / "copies" / Name(1));
  ASSERT_TRUE(AddMoreFiles(MakeSelection(dir / "copies", {Name(1)})));
  EXPECT_EQ(CurrentScanSet().count, 5);
  ExpectNoFailures();
}

TEST_F(LoadingTest, ListedPathsAreRewritten) {
  FileNameList& list = CurrentFileNameList();
  list.names = {"", "/data/run7/00001.RA1", "/data/run7/00002.RA1"};
  list.count = 2;
  SetCellDigitOfListedFiles(3);
  EXPECT_EQ(list.names[2], "/data/run7/00002.RA3");
  SetCellDigitOfListedFiles(9);  // digits 0 to 8 only
  EXPECT_EQ(list.names[2], "/data/run7/00002.RA3");
  SetNumberedFolderOfListedFiles(12);
  EXPECT_EQ(list.names[1], "/data/12/00001.RA3");
  SetFolderOfListedFiles("/elsewhere");
  EXPECT_EQ(list.names[1], "/elsewhere/00001.RA3");
  EXPECT_EQ(AllScanFilesExist(), 0);
}

TEST_F(LoadingTest, DistributionFileRoundTrip) {
  CurrentDataPaths().distributionFile = dir / "sdist.RA1";
  const float values[] = {0, 0.5f, 1.25f, 3.0f};
  ASSERT_TRUE(WriteDistributionFile(values, 3));
  int n = 0;
  float* back = ReadFloatListFromFile(&n);
  ASSERT_NE(back, nullptr);
  ASSERT_EQ(n, 3);
  for (int k = 1; k <= 3; ++k) EXPECT_FLOAT_EQ(back[k], values[k]);
  free_vector(back, 1, n);
  CurrentDataPaths().distributionFile = dir / "none";
  EXPECT_EQ(ReadFloatListFromFile(&n), nullptr);
  EXPECT_EQ(n, 0);
}

TEST_F(LoadingTest, TimesAndW2tAreRebuiltFromFileStamps) {
  const auto names = WriteSeries({1000, 2000, 3000});
  const double base = 1.6e9;
  for (int k = 0; k < 3; ++k)
    ASSERT_TRUE(platform::SetFileTimes(dir / names[k], base + 1010.0 * k, base + 1010.0 * k));
  ASSERT_TRUE(LoadAllData(MakeSelection(dir.path(), names)));
  const ScanSet& s = CurrentScanSet();
  const ScanRecord second = s.records[2];
  // Scan 2 as reference after one No.
  ui.ExpectBox("FIX TIME AND W2T", "using #1 (" + (dir / names[0]) + ") as reference", platform::IDNO);
  ui.ExpectPrompt("FIX TIME AND W2T", "pick file #", "2");
  ui.ExpectBox("FIX TIME AND W2T", "using #2", platform::IDYES);
  ui.ExpectBox("FIX TIME AND W2T", "save new data?", platform::IDNO);
  CmRestoreTimeAndW2t();
  const double omega = 40000 * 0.10471976;
  EXPECT_DOUBLE_EQ(s.records[3].time, second.time + 1010.0);
  EXPECT_DOUBLE_EQ(s.records[1].timeRead, second.timeRead - 1010.0);
  EXPECT_NEAR(s.records[3].w2t, second.w2t + omega * omega * 1010.0, 1.0);
  EXPECT_DOUBLE_EQ(s.records[2].time, second.time);

  // Picking number 0 ends the command without changes.
  ui.ExpectBox("FIX TIME AND W2T", "using #1", platform::IDNO);
  ui.ExpectPrompt("FIX TIME AND W2T", "pick file #", "0");
  CmRestoreTimeAndW2t();
  EXPECT_DOUBLE_EQ(s.records[3].time, second.time + 1010.0);
  ExpectNoFailures();
}
