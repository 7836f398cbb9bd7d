#include "data/synthetic_data.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "data/scan_file.h"
#include "numerics/arrays.h"
#include "numerics/random.h"
#include "platform/diagnostics.h"
#include "platform/program_paths.h"
#include "tests/data/loading_fixture.h"
#include "tests/support/file_size_limit.h"

namespace {

class SyntheticDataTest : public LoadingTest {
 protected:
  SyntheticDataTest() {
    ResetSyntheticDataHooks();
    *CurrentLoadTargets().meniscus = 6.0f;
    *CurrentLoadTargets().bottom = 7.2f;
    // A stand-in for the model: a value that differs at every point.
    CurrentSyntheticDataHooks().simulateModel = [] {
      ScanSet& s = CurrentScanSet();
      for (int i = 1; i <= s.count; ++i)
        for (int k = 1; k <= s.points[i]; ++k) s.model[i][k] = 0.1f * i + s.radii[i][k];
    };
  }
  ~SyntheticDataTest() override { ResetSyntheticDataHooks(); }

  SyntheticRun Run(int scans) const {
    SyntheticRun r;
    r.radialStep = 0.01f;
    r.rpm = 50000;
    r.acceleration = -1;
    r.noise = 0;
    r.timeStep = 300;
    r.firstTime = 0;
    r.scanCount = scans;
    r.path = dir / "0000x.ra0";
    return r;
  }
};

TEST_F(SyntheticDataTest, GridCountsEveryPointUpToAndIncludingTheBottom) {
  // Summing 0.01 in float from 6.0 ends at 7.2000275 > 7.2 after 120 steps.
  float x = 6.0f;
  int accumulated = 0;
  while (x <= 7.2f) {
    ++accumulated;
    x += 0.01f;
  }
  EXPECT_EQ(accumulated, 120);
  EXPECT_EQ(SyntheticPointCount(6.0f, 7.2f, 0.01f), 121);
  EXPECT_EQ(SyntheticPointCount(6.0f, 7.2f, 0.001f), 1201);
  EXPECT_EQ(SyntheticPointCount(6.0f, 6.0f, 0.01f), 1);
  EXPECT_EQ(SyntheticPointCount(6.0f, 7.2f, 0.0f), 0);
  EXPECT_EQ(SyntheticPointCount(6.0f, 7.2f, -0.01f), 0);
  EXPECT_EQ(SyntheticPointCount(7.2f, 6.0f, 0.01f), 0);
  EXPECT_GT(SyntheticPointCount(6.0f, 7.2f, 1e-9f), kMaxSyntheticPoints);

  ASSERT_EQ(MakeSyntheticDataSet(Run(3)), SyntheticOutcome::Made);
  const ScanSet& s = CurrentScanSet();
  ASSERT_EQ(s.points[1], 121);
  EXPECT_FLOAT_EQ(s.radii[1][1], 6.0f);
  EXPECT_NEAR(s.radii[1][121], 7.2f, 1e-5);
  EXPECT_FLOAT_EQ(s.leftFitLimit, 6.01f);
  EXPECT_FLOAT_EQ(s.rightFitLimit, 7.19f);
}

TEST_F(SyntheticDataTest, ASeriesKeepsItsLimitsAndAsksNothing) {
  bool series = true;
  CurrentSyntheticDataHooks().seriesRunning = [&] { return series; };
  ScanSet& s = CurrentScanSet();
  s.leftFitLimit = 6.05f;
  s.rightFitLimit = 7.19f;
  // 6.0 to 7.2 by 0.11 ends at 7.1 cm, short of the limit.
  SyntheticRun r = Run(2);
  r.radialStep = 0.11f;
  ASSERT_EQ(MakeSyntheticDataSet(r), SyntheticOutcome::Made);
  EXPECT_FLOAT_EQ(s.leftFitLimit, 6.05f);
  EXPECT_NEAR(s.rightFitLimit, 7.1f, 1e-5);
  EXPECT_EQ(s.lastFitPoint[1], s.points[1]);
  ExpectNoFailures();
}

TEST_F(SyntheticDataTest, ScanTimesAndW2tFollowTheRunSchedule) {
  struct Case {
    float firstTime, acceleration;
    int scan;
    double t, w2t;
  };
  // (2 pi 50000 / 60)^2 = 2.7415568e7 rad^2/s^2; a 250 s linear run-up
  // at 200 rpm/s adds a third of 250 s at full speed.
  const double w2 = 2.7415568e7;
  const Case cases[] = {
      {0, -1, 1, 300, 300 * w2},      {0, -1, 2, 600, 600 * w2},
      {120, -1, 1, 120, 120 * w2},    {120, -1, 2, 420, 420 * w2},
      {0, 200, 1, 550, 300 * w2 + 2.2846306e9}, {0, 0, 3, 900, 900 * w2},
  };
  for (const Case& c : cases) {
    SyntheticRun r = Run(3);
    r.firstTime = c.firstTime;
    r.acceleration = c.acceleration;
    const SyntheticTime st = SyntheticScanTime(r, c.scan);
    EXPECT_NEAR(st.t, c.t, 1e-9) << c.firstTime << " " << c.acceleration << " " << c.scan;
    EXPECT_NEAR(st.w2t / c.w2t, 1.0, 1e-7) << c.firstTime << " " << c.acceleration;
  }
  SyntheticRun r = Run(2);
  r.acceleration = 200;
  ASSERT_EQ(MakeSyntheticDataSet(r), SyntheticOutcome::Made);
  const ScanRecord& rec = CurrentScanSet().records[2];
  EXPECT_DOUBLE_EQ(rec.timeRead, 850.0);
  EXPECT_DOUBLE_EQ(rec.time, 850.0);
  EXPECT_DOUBLE_EQ(rec.acceleration, 200.0);
  EXPECT_DOUBLE_EQ(rec.accelerationTime, 250.0);
}

TEST_F(SyntheticDataTest, WrittenScansReadBackAsTheSetInMemory) {
  SyntheticRun r = Run(2);
  ASSERT_EQ(MakeSyntheticDataSet(r), SyntheticOutcome::Made);
  const ScanSet& s = CurrentScanSet();
  EXPECT_EQ(s.count, 2);
  EXPECT_EQ(s.fileNames[1], "00001.ra0");
  EXPECT_EQ(s.dataFolder, dir.path());
  EXPECT_TRUE(SyntheticRmsdText().empty());
  for (int i = 1; i <= 2; ++i) {
    // No noise: the signal is the model itself.
    for (int k = 1; k <= s.points[i]; ++k) ASSERT_EQ(s.signals[i][k], s.model[i][k]);
    ScanRecord rec;
    int n = 0;
    float *radii = nullptr, *signals = nullptr, *third = nullptr;
    char name[16];
    std::snprintf(name, sizeof name, "%05d.ra0", i);
    ASSERT_EQ(ReadScanFile((dir / name).c_str(), &rec, &n, &radii, &signals, &third,
                           nullptr, 0.0f),
              1);
    EXPECT_EQ(rec.type, 'R');
    EXPECT_EQ(rec.cell, 1);
    EXPECT_FLOAT_EQ(rec.temperature, 20.0f);
    EXPECT_FLOAT_EQ(rec.wavelength, 100.0f);
    EXPECT_FLOAT_EQ(rec.rpm, 50000.0f);
    EXPECT_NEAR(rec.timeRead, 300.0 * i, 0.5);
    EXPECT_EQ(std::string(rec.description).find("synthetic"), 6u) << rec.description;
    EXPECT_EQ(rec.timeStampMarked, 1);
    ASSERT_EQ(n, 121);
    for (int k = 1; k <= n; ++k) EXPECT_NEAR(signals[k], s.signals[i][k], 1e-4);
    free_vector(radii, 1, n);
    free_vector(signals, 1, n);
    if (third) free_vector(third, 1, n);
  }
}

TEST_F(SyntheticDataTest, TheGeneratedSetSavesItsAnalysisInItsOwnFolder) {
  // Left over from a set loaded before: a fit of the generated scans must not
  // write its saved state over that set's analysis.
  LoadedDataPaths& paths = CurrentDataPaths();
  paths.parameterFile = "/elsewhere/~tmppars.ra1";
  paths.notesFile = "/elsewhere/notes.ra1";
  paths.distributionFile = "/elsewhere/sdist.ra1";
  ASSERT_EQ(MakeSyntheticDataSet(Run(2)), SyntheticOutcome::Made);
  EXPECT_EQ(paths.parameterFile, dir / "~tmppars.ra0");
  EXPECT_EQ(paths.notesFile, dir / "notes.ra0");
  EXPECT_EQ(paths.distributionFile, dir / "sdist.ra0");
}

TEST_F(SyntheticDataTest, NoiseIsAddedToTheModelAndItsDeviationReported) {
  CurrentLoadHooks().calcRmsd = [] {
    const ScanSet& s = CurrentScanSet();
    double sum = 0;
    int m = 0;
    for (int i = 1; i <= s.count; ++i)
      for (int k = 1; k <= s.points[i]; ++k, ++m) sum += std::pow(s.signals[i][k] - s.model[i][k], 2);
    return std::sqrt(sum / m);
  };
  SeedGaussRandom(7);
  SyntheticRun r = Run(20);
  r.noise = 0.01f;
  ASSERT_EQ(MakeSyntheticDataSet(r), SyntheticOutcome::Made);
  const ScanSet& s = CurrentScanSet();
  for (int i = 1; i <= s.count; ++i)
    for (int k = 1; k <= s.points[i]; ++k)
      ASSERT_FLOAT_EQ(s.signals[i][k], s.model[i][k] + s.residuals[i][k]);
  const double rmsd = CurrentLoadHooks().calcRmsd();
  EXPECT_NEAR(rmsd, 0.01, 0.0007);
  EXPECT_EQ(SyntheticRmsdText().rfind("mean dev = 0.0", 0), 0u) << SyntheticRmsdText();

  // The text goes into the window only while the user's diagnostics output is on.
  std::vector<std::string> drawn;
  CurrentLoadHooks().drawText = [&](const std::string& text, int, int) { drawn.push_back(text); };
  for (const bool on : {false, true}) {
    drawn.clear();
    platform::DiagnosticsState().DiagnosticsOn = on;
    // The scans written before are replaced only on Yes.
    ui.ExpectBox("GENERATE DATA", " already holds 20 of the scans to be written (00001.ra0, ...): replace them?",
                 platform::IDYES);
    ASSERT_EQ(MakeSyntheticDataSet(r), SyntheticOutcome::Made);
    platform::DiagnosticsState().DiagnosticsOn = false;
    EXPECT_EQ(drawn, on ? std::vector<std::string>{SyntheticRmsdText()} : std::vector<std::string>{});
  }
  EXPECT_TRUE(ui.AllConsumed());
  ExpectNoFailures();
}

TEST_F(SyntheticDataTest, InputsThatCannotMakeARunLeaveTheLoadedSetOrSayWhy) {
  ASSERT_EQ(MakeSyntheticDataSet(Run(2)), SyntheticOutcome::Made);
  SyntheticRun none = Run(0);
  none.radialStep = 0.02f;
  EXPECT_EQ(MakeSyntheticDataSet(none), SyntheticOutcome::NothingToDo);
  EXPECT_EQ(CurrentScanSet().count, 2);
  EXPECT_EQ(CurrentScanSet().points[1], 121);

  struct Case {
    float step;
    int rpm, scans;
    const char* message;  // empty: refused without a word
  };
  const Case cases[] = {
      {-0.01f, 50000, 2, ""},
      {0.0f, 50000, 2, ""},
      {1e-7f, 50000, 2, "more than 100000 points per scan"},
      {0.01f, 50000, 10001, "at most 10000 scans"},
      {0.01f, 0, 2, "rotor speed must be above 0"},
      {0.01f, -100, 2, "rotor speed must be above 0"},
  };
  for (const Case& c : cases) {
    if (*c.message) ui.ExpectBox("GENERATE DATA", c.message);
    SyntheticRun r = Run(c.scans);
    r.radialStep = c.step;
    r.rpm = c.rpm;
    EXPECT_EQ(MakeSyntheticDataSet(r), SyntheticOutcome::Refused) << c.step << " " << c.rpm;
    EXPECT_EQ(CurrentScanSet().count, 2);
  }
  EXPECT_TRUE(ui.AllConsumed());
  ExpectNoFailures();
}

// A folder that cannot be written is said once, before anything changes:
// the loaded set, its folder and the model's switches stay as they were.
TEST_F(SyntheticDataTest, AFolderThatCannotBeWrittenStopsBeforeAnythingChanges) {
  ASSERT_EQ(MakeSyntheticDataSet(Run(2)), SyntheticOutcome::Made);
  *CurrentLoadTargets().tiNoiseFitted = 1;
  const std::string folder = CurrentScanSet().dataFolder;
  SyntheticRun r = Run(3);
  r.path = dir / "missing/0000x.ra0";
  ui.ExpectBox("GENERATE DATA", "the folder " + (dir / "missing") + " cannot be written: no scans were generated");
  EXPECT_EQ(MakeSyntheticDataSet(r), SyntheticOutcome::Stopped);
  EXPECT_EQ(CurrentScanSet().count, 2);
  EXPECT_EQ(CurrentScanSet().dataFolder, folder);
  EXPECT_EQ(*CurrentLoadTargets().tiNoiseFitted, 1);
  EXPECT_TRUE(ui.AllConsumed());
  ExpectNoFailures();
}

// A folder whose disk is full takes no scan: the writer says so once, and
// the generated scans are not left loaded as if they had been written.
TEST_F(SyntheticDataTest, ScansAFullDiskCannotTakeAreNotLeftLoaded) {
  ui.lenient = true;
  SyntheticOutcome made = SyntheticOutcome::Made;
  ASSERT_TRUE(testsupport::WithFileSizeLimit(100, [&] { made = MakeSyntheticDataSet(Run(3)); }));
  EXPECT_EQ(made, SyntheticOutcome::Unwritten);
  EXPECT_EQ(CurrentScanSet().count, 0);
  EXPECT_FALSE(std::filesystem::exists(dir / "00002.ra0"));
}

// A distribution file that holds no distribution stops the command with a
// word, before the loaded set is replaced.
TEST_F(SyntheticDataTest, ADistributionFileOfGarbageIsSaidAndReplacesNothing) {
  ASSERT_EQ(MakeSyntheticDataSet(Run(2)), SyntheticOutcome::Made);
  CurrentSyntheticDataHooks().distributionModel = [] { return true; };
  const std::string folder = platform::ProgramPaths.ProgramFolder;
  platform::ProgramPaths.ProgramFolder = dir.path() + "/";
  const std::string file = dir / "distrib.dat";
  for (const std::string& text : {std::string("garbage \x01\x02 here\nmore of it\n"), std::string("\n\n")}) {
    SCOPED_TRACE(text);
    { std::ofstream(file, std::ios::binary) << text; }
    ui.ExpectBox("", "put synthetic distribution in")
        .ExpectBox("ATTENTION", "is synthetic distribution normalized?", platform::IDNO)
        .ExpectBox("GENERATE DATA", file + " holds no distribution: no scans were generated");
    EXPECT_EQ(MakeSyntheticDataSet(Run(3)), SyntheticOutcome::Stopped);
    EXPECT_EQ(CurrentScanSet().count, 2);
  }
  platform::ProgramPaths.ProgramFolder = folder;
  EXPECT_TRUE(ui.AllConsumed());
  ExpectNoFailures();
}

TEST_F(SyntheticDataTest, TheDistributionPathAsksForItsFileAndRunsOnScanOnesRadii) {
  SyntheticDataHooks& h = CurrentSyntheticDataHooks();
  std::vector<std::string> calls;
  h.distributionModel = [] { return true; };
  h.setSyntheticDistribution = [&](bool on) { calls.push_back(on ? "synthetic on" : "synthetic off"); };
  h.loadDistribution = [&](const std::string& path, bool normalised) {
    calls.push_back(std::filesystem::path(path).filename().string() + (normalised ? " normalised" : ""));
    return true;
  };
  h.runDistribution = [&] {
    const ScanSet& s = CurrentScanSet();
    calls.push_back(s.grid == s.radii[1] && s.gridLength == s.points[1] ? "run on scan 1" : "run elsewhere");
    for (int i = 1; i <= s.count; ++i)
      for (int k = 1; k <= s.points[i]; ++k) s.model[i][k] = 0.5f;
  };
  // The file is read before anything is replaced (here once more by the
  // stand-in loader).
  const std::string folder = platform::ProgramPaths.ProgramFolder;
  platform::ProgramPaths.ProgramFolder = dir.path() + "/";
  { std::ofstream(dir / "distrib.dat") << "2.0 0\n4.0 1\n6.0 0\n"; }
  ui.ExpectBox("", "put synthetic distribution in").ExpectBox("ATTENTION", "is synthetic distribution normalized?",
                                                                platform::IDYES);
  const SyntheticOutcome made = MakeSyntheticDataSet(Run(2));
  platform::ProgramPaths.ProgramFolder = folder;
  ASSERT_EQ(made, SyntheticOutcome::Made);
  const std::vector<std::string> expected = {"synthetic on", "distrib.dat normalised", "run on scan 1",
                                             "synthetic off"};
  EXPECT_EQ(calls, expected);
  EXPECT_EQ(CurrentScanSet().signals[2][7], 0.5f);
  EXPECT_EQ(CurrentDataTypeFlags().absorbance, 1);
  ExpectNoFailures();
}

}  // namespace
