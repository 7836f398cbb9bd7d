#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "data/rotor_speed_profile.h"
#include "data/scan_set.h"
#include "platform/paths.h"
#include "platform/scripted_ui.h"
#include "tests/data/loading_test_support.h"
#include "tests/support/file_text.h"

using loading_test::ReadText;
using loading_test::TempFolder;
using loading_test::WriteText;

namespace {

using teststate::FileLines;

void Steps(CRotorSpeedProfile& p, std::vector<float> t, std::vector<float> s,
           std::vector<float> a) {
  t.insert(t.begin(), 0.0f);
  s.insert(s.begin(), 0.0f);
  a.insert(a.begin(), 0.0f);
  p.SetSteps(static_cast<int>(t.size()) - 1, t.data(), s.data(), a.data());
}

// A folder of its own, a scripted user, and the speed-step file's path in
// the folder: a test's, or a row's of a table.
struct SpeedStepScene {
  TempFolder dir;
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scoped{ui};
  const std::string path = dir / "speedsteps.txt";
};
class SpeedProfileFiles : public ::testing::Test, protected SpeedStepScene {};
using SpeedProfileFix = SpeedProfileFiles;
using SpeedProfileMethod = SpeedProfileFiles;

}  // namespace

TEST(SpeedProfileRead, TwoSoundStepsWithOrWithoutFinalNewline) {
  for (const char* text : {"0 40000 200\n600\t50000 200\n", "0 40000 200\n600 50000 200"}) {
    SpeedStepScene f;
    WriteText(f.path, text);
    CRotorSpeedProfile p;
    EXPECT_TRUE(p.ReadFile(f.path)) << text;
    ASSERT_EQ(p.stepCount, 2);
    EXPECT_TRUE(p.multiStep);
    EXPECT_FLOAT_EQ(p.startTimes[2], 600.0f);
    EXPECT_FLOAT_EQ(p.speeds[2], 50000.0f);
    EXPECT_FLOAT_EQ(p.accelerations[1], 200.0f);
    EXPECT_EQ(p.fileName, f.path);
    EXPECT_TRUE(f.ui.transcript.empty());
    EXPECT_TRUE(f.ui.failures.empty());
  }
}

TEST(SpeedProfileRead, BadFilesAreRefusedWithTheirMessage) {
  struct Case {
    const char* name;
    const char* text;
  };
  const Case cases[] = {
      {"trailing empty line", "0 40000 200\n600 50000 200\n\n"},
      {"zero acceleration", "0 40000 0\n600 50000 200\n"},
      {"empty file", ""},
      {"garbage row", "0 40000 200\nabc\n"},
      // Speeds no rotor turns (after the last scan, where no scan contradicts
      // them), a rotor at rest, and numbers that are none.
      {"speed of 1e38 rpm", "0 50000 200\n100000 1e38 200\n"},
      {"speed just above the fastest rotor", "0 50000 200\n100000 200001 200\n"},
      {"rotor at rest", "0 50000 200\n100000 0 200\n"},
      {"backwards rotor", "0 -50000 200\n"},
      {"speed not a number", "0 50000 200\n100000 nan 200\n"},
      {"infinite acceleration", "0 50000 inf\n"},
  };
  for (const Case& c : cases) {
    SpeedStepScene f;
    WriteText(f.path, c.text);
    f.ui.ExpectBox("Error", "Attention: bad speedstep data in " + f.path);
    CRotorSpeedProfile p;
    EXPECT_FALSE(p.ReadFile(f.path)) << c.name;
    EXPECT_EQ(p.stepCount, 0) << c.name;
    EXPECT_FALSE(p.multiStep);
    EXPECT_TRUE(f.ui.failures.empty()) << c.name << ": " << f.ui.failures.front();
    EXPECT_EQ(f.ui.beeps, 1);
  }
}

TEST(SpeedProfileRead, MissingFileAndSingleStep) {
  TempFolder dir;
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scoped(ui);
  CRotorSpeedProfile p;
  ui.ExpectBox("Error", "Attention: could not open " + (dir / "none.txt"));
  EXPECT_FALSE(p.ReadFile(dir / "none.txt"));
  EXPECT_EQ(p.stepCount, 0);

  // A single step is read but is no multi-speed profile.
  WriteText(dir / "one.txt", "0 40000 200\n");
  EXPECT_FALSE(p.ReadFile(dir / "one.txt"));
  EXPECT_EQ(p.stepCount, 1);
  EXPECT_FALSE(p.multiStep);
  EXPECT_TRUE(ui.failures.empty());
}

// Read beside the scans, an overlapping ramp is moved in memory and said;
// nothing is written into the data folder.
TEST_F(SpeedProfileFix, RampOverlapIsMovedInMemoryAndTheFolderIsLeftAsItWas) {
  const std::string original = "0 40000 200\n150 50000 200\n";
  WriteText(path, original);
  ui.ExpectBox("Error", "ERROR: rotor speed profile " + path + " fixed in memory (the file is unchanged)");
  CRotorSpeedProfile p;
  EXPECT_TRUE(p.ReadFile(path));
  EXPECT_FLOAT_EQ(p.startTimes[2], 200.0f);
  EXPECT_EQ(p.fileName, path);
  EXPECT_EQ(ReadText(path), original);
  EXPECT_FALSE(platform::FileExists(path + "_fixed"));
  EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();
  // Asked for explicitly, the repair is saved under a new name.
  Steps(p, {0, 150}, {40000, 50000}, {200, 200});
  ui.ExpectBox("Error", "ERROR: rotor speed profile " + path + " fixed in " + path + "_fixed");
  EXPECT_TRUE(p.FixFile(true));
  EXPECT_EQ(ReadText(path + "_fixed"),
            "0.000000\t40000.000000\t200.000000\n200.000000\t50000.000000\t200.000000\n");
  EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();
}

// Steps no repair can make sound, and more steps than any run has: no
// profile results, and the reason is said.
TEST(SpeedProfileRead, UnrepairableAndEndlessFilesLeaveNoSteps) {
  TempFolder dir;
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scoped(ui);
  const std::string path = dir / "speedsteps.txt";
  CRotorSpeedProfile p;
  WriteText(path, "0 40000 200\nnan 50000 200\n");
  ui.ExpectBox("Error", "ERROR: rotor speed profile " + path + " could not be fixed");
  EXPECT_FALSE(p.ReadFile(path));
  EXPECT_EQ(p.stepCount, 0);
  std::string many;
  for (int j = 0; j <= kMaxSpeedSteps; ++j) many += std::to_string(1000 * j) + " 40000 200\n";
  WriteText(path, many);
  ui.ExpectBox("Error", "Attention: " + path + " holds more than 1000 speed steps");
  EXPECT_FALSE(p.ReadFile(path));
  EXPECT_EQ(p.stepCount, 0);
  // As many as allowed are read.
  many.erase(many.rfind('\n', many.size() - 2) + 1);
  WriteText(path, many);
  EXPECT_TRUE(p.ReadFile(path));
  EXPECT_EQ(p.stepCount, kMaxSpeedSteps);
  EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();
  EXPECT_FALSE(platform::FileExists(path + "_fixed"));
}

TEST_F(SpeedProfileFix, SoundnessOfStartTimes) {
  CRotorSpeedProfile p;
  Steps(p, {0, 200, 250}, {40000, 50000, 30000}, {200, 200, 100});
  EXPECT_TRUE(p.FixFile(false));
  Steps(p, {0, 200, 240}, {40000, 50000, 30000}, {200, 200, 100});
  EXPECT_FALSE(p.FixFile(false));
  EXPECT_FLOAT_EQ(p.startTimes[3], 240.0f);  // no repair asked
}

TEST(SpeedProfileTable, BreakpointsOfTheSpeedCourse) {
  CRotorSpeedProfile p;
  Steps(p, {0}, {40000}, {200});
  ASSERT_EQ(p.GetTableSize(), 3);
  const float* t = p.GetTimeTable();
  const float* s = p.GetSpeedTable();
  const float expectT[] = {0, 0, 200, 800};
  const float expectS[] = {0, 0, 40000, 40000};
  for (int i = 1; i <= 3; ++i) {
    EXPECT_FLOAT_EQ(t[i], expectT[i]);
    EXPECT_FLOAT_EQ(s[i], expectS[i]);
  }
  // A deceleration ramps down over |dv / a|.
  Steps(p, {0, 1000}, {40000, 20000}, {200, 400});
  p.BuildTimeSpeedTable();
  ASSERT_EQ(p.GetTableSize(), 5);
  const float t2[] = {0, 0, 200, 1000, 1050, 1650};
  const float s2[] = {0, 0, 40000, 40000, 20000, 20000};
  for (int i = 1; i <= 5; ++i) {
    EXPECT_FLOAT_EQ(p.GetTimeTable()[i], t2[i]);
    EXPECT_FLOAT_EQ(p.GetSpeedTable()[i], s2[i]);
  }
}

TEST(SpeedProfileFile, SaveReadRoundTripAndCopy) {
  TempFolder dir;
  CRotorSpeedProfile p;
  Steps(p, {0, 900.5f, 4000}, {15000, 30000, 45000}, {300, 250, 200});
  p.speedCheckMode = 1;
  ASSERT_TRUE(p.Save(dir / "steps.txt"));
  CRotorSpeedProfile q;
  ASSERT_TRUE(q.ReadFile(dir / "steps.txt"));
  ASSERT_EQ(q.stepCount, 3);
  for (int j = 1; j <= 3; ++j) {
    EXPECT_FLOAT_EQ(q.startTimes[j], p.startTimes[j]);
    EXPECT_FLOAT_EQ(q.speeds[j], p.speeds[j]);
    EXPECT_FLOAT_EQ(q.accelerations[j], p.accelerations[j]);
  }
  CRotorSpeedProfile c;
  c.CopyFrom(p);
  EXPECT_EQ(c.stepCount, 3);
  EXPECT_EQ(c.speedCheckMode, 1);
  EXPECT_EQ(c.fileName, dir / "steps.txt");
  EXPECT_FLOAT_EQ(c.GetFinalSpeed(), 45000.0f);
  EXPECT_EQ(c.breakpointCount, 0);
}

TEST(SpeedProfileStretch, SpeedsFollowTheStretchFormula) {
  TempFolder dir;
  CRotorSpeedProfile p;
  Steps(p, {0, 1000}, {10000, 50000}, {200, 200});
  const float R = 7.2f, k = 1.0e-4f;
  ASSERT_TRUE(p.ApplyRotorStretch(R, k, dir / "stretched.txt"));
  for (int j = 1; j <= 2; ++j) {
    const double r = j == 1 ? 10000.0 : 50000.0;
    const double expected = std::floor(r * std::sqrt(R / (R - k * r * r * 1e-6)));
    EXPECT_NEAR(p.speeds[j], expected, 1.0);
  }
  EXPECT_GT(p.speeds[2], 50000.0f);
  EXPECT_TRUE(platform::FileExists(dir / "stretched.txt"));
  // A stretch without a positive denominator changes nothing.
  const float before = p.speeds[2];
  EXPECT_FALSE(p.ApplyRotorStretch(1.0f, 1.0f, dir / "bad.txt"));
  EXPECT_FLOAT_EQ(p.speeds[2], before);
}

TEST_F(SpeedProfileMethod, ThreeStepsWriteScanningHoldAndRestEntries) {
  CRotorSpeedProfile p;
  // A trailing step at the last speed produces no entry.
  Steps(p, {0, 3600, 11220, 20000}, {10000, 30000, 40000, 40000}, {200, 200, 100, 100});
  const std::string method = dir / "plan.EQU";
  ASSERT_TRUE(p.WriteMethodRows(method, 300.0f, 20, 30, 20, false));
  const std::vector<std::string> lines = FileLines(method);
  ASSERT_EQ(lines.size(), 600u);
  const std::vector<std::string> head = {
      "10000", "200", "0:01", "20", "9",  "NO",  // ramp 75 s -> 1 min; 3540 s / 390 s
      "10000", "200", "0:59", "20", "0",  "NO",  // hold 3600 - 60 s
      "30000", "200", "0:02", "20", "19", "NO",  // 7500 s / 390 s
      "30000", "200", "2:05", "20", "0",  "NO",  // hold of 2 h 5 min
      "40000", "100", "0:02", "20", "30", "NO",  // last change takes the final count
      "40000", "100", "hold", "20", "0",  "NO",
      "0",     "400", "0:00", "20", "0",  "NO"};
  for (std::size_t i = 0; i < head.size(); ++i) EXPECT_EQ(lines[i], head[i]) << "line " << i + 1;
  EXPECT_EQ(lines[594], "0");
  const std::string text = ReadText(method);
  EXPECT_EQ(text.substr(text.size() - 3), "\nNO");
  EXPECT_EQ(ReadText(dir / "plan.MethodRows.txt"),
            "10000\t200\t0:01\t20\t9\n"
            "10000\t200\t0:59\t20\t0\n"
            "30000\t200\t0:02\t20\t19\n"
            "30000\t200\t2:05\t20\t0\n"
            "40000\t100\t0:02\t20\t30\n"
            "40000\t100\thold\t20\t0\n");

  // Reading the method back gives the steps' start times on whole minutes.
  CRotorSpeedProfile back;
  ASSERT_TRUE(back.CreateFromEqu(method));
  ASSERT_EQ(back.stepCount, 3);
  const float t[] = {0, 0, 3600, 11220};
  const float s[] = {0, 10000, 30000, 40000};
  for (int j = 1; j <= 3; ++j) {
    EXPECT_FLOAT_EQ(back.startTimes[j], t[j]);
    EXPECT_FLOAT_EQ(back.speeds[j], s[j]);
  }
  EXPECT_TRUE(ui.transcript.empty());
}

TEST_F(SpeedProfileMethod, RampJustUnderAnHourIsWrittenAsFiftyNineMinutes) {
  CRotorSpeedProfile p;
  Steps(p, {0, 20000}, {7199.8f, 8000}, {3, 200});  // 7199.8 x 1.5 / 3 = 3599.9 s
  ASSERT_TRUE(p.WriteMethodRows(dir / "m.EQU", 60.0f, 4, 10, 50, false));
  const auto lines = FileLines(dir / "m.EQU");
  EXPECT_EQ(lines[0], "7199");
  EXPECT_EQ(lines[2], "0:59");
}

TEST_F(SpeedProfileMethod, RefusalsAndConversionBack) {
  CRotorSpeedProfile empty;
  EXPECT_FALSE(empty.WriteMethodRows(dir / "e.EQU", 60, 20, 10, 10, false));
  EXPECT_FALSE(platform::FileExists(dir / "e.EQU"));

  std::vector<float> t, s, a;
  for (int j = 0; j < 50; ++j) {
    t.push_back(1000.0f * j);
    s.push_back(1000.0f * (j + 1));
    a.push_back(100.0f);
  }
  CRotorSpeedProfile many;
  Steps(many, t, s, a);
  ui.ExpectBox("CALCULATE MINIMUM TIME TO EQ", "too many speed steps");
  EXPECT_FALSE(many.WriteMethodRows(dir / "m.EQU", 60, 20, 10, 10, false));
  EXPECT_FALSE(platform::FileExists(dir / "m.EQU"));

  // A single-speed profile is ramped, scanned and held.
  CRotorSpeedProfile one;
  Steps(one, {0}, {40000}, {200});
  ASSERT_TRUE(one.WriteMethodRows(dir / "one.EQU", 60, 20, 12, 10, true));
  EXPECT_EQ(ReadText(dir / "one.MethodRows.txt"),
            "40000\t200\t0:05\t20\t12\n40000\t200\thold\t20\t0\n");
  CRotorSpeedProfile back;
  EXPECT_FALSE(back.ReadFile(dir / "speedsteps.txt"));  // one step
  ASSERT_EQ(back.stepCount, 1);
  EXPECT_FLOAT_EQ(back.speeds[1], 40000.0f);
  EXPECT_TRUE(ui.failures.empty());
}

TEST_F(SpeedProfileMethod, ScanCycleTimeIsAskedWhenTheSecondEntryChangesSpeed) {
  const std::string method = dir / "hand.EQU";
  WriteText(method,
            "3000\n300\n1:00\n20\n10\nNO\n"
            "9000\n300\n0:30\n20\n5\nNO\n"
            "15000\n300\nhold\n20\n0\nNO");
  ui.ExpectPrompt("CREATE SPEEDSTEPS from EQU", "scan cycle time (sec)", "60");
  CRotorSpeedProfile p;
  ASSERT_TRUE(p.CreateFromEqu(method));
  ASSERT_EQ(p.stepCount, 3);
  // T = 3600 + 10 x 60; then + 1800 - 10 x 60 + 5 x 60.
  EXPECT_FLOAT_EQ(p.startTimes[2], 4200.0f);
  EXPECT_FLOAT_EQ(p.startTimes[3], 5700.0f);

  // Cancelling the prompt leaves the steps as they were.
  ui.ExpectPrompt("CREATE SPEEDSTEPS from EQU", "scan cycle time (sec)", std::nullopt);
  EXPECT_FALSE(p.CreateFromEqu(method));
  EXPECT_EQ(p.stepCount, 3);
  EXPECT_TRUE(ui.failures.empty());

  EXPECT_FALSE(ConvertEquToSpeedSteps(dir / "missing.EQU", dir / "out.txt"));
  EXPECT_EQ(ReadText(dir / "out.txt"), "");
}

namespace {

std::vector<ScanRecord> Scans(const std::vector<std::pair<double, float>>& timeAndRpm) {
  std::vector<ScanRecord> scans(timeAndRpm.size() + 1);
  for (std::size_t i = 0; i < timeAndRpm.size(); ++i) {
    scans[i + 1].timeRead = timeAndRpm[i].first;
    scans[i + 1].rpm = timeAndRpm[i].second;
    scans[i + 1].cell = 2;
    scans[i + 1].wavelength = 280;
  }
  return scans;
}

}  // namespace

TEST(SpeedProfileCheck, ScansAgainstRampsAndSpeeds) {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scoped(ui);
  CRotorSpeedProfile p;
  // Ramps: 200 s, 50 s, 50 s.
  Steps(p, {0, 1000, 3000}, {40000, 50000, 60000}, {200, 200, 200});
  struct Case {
    double t;
    float rpm;
    bool ok;
    const char* message;  // empty: none
  };
  const Case cases[] = {
      {1049.5, 50000, true, ""},  // 0.5 s before the end of an intermediate ramp
      {1048.5, 50000, false, "inconsistent file 1 (t = 1048.500000, om = 50000.000000) with speed step 2"},
      {199.5, 40000, false, "inconsistent file 1 (t = 199.500000, om = 40000.000000) with speed step 1"},
      {201.0, 40000, true, ""},
      {3049.5, 60000, false, "inconsistent file 1 (t = 3049.500000, om = 60000.000000) with speed step 3"},
      {5000, 59990.1f, true, ""},  // 9.9 rpm off
      {5000, 59990, false, ""},    // 10 rpm off fails silently
      {0, 0, true, ""},            // before the first step: not checked
  };
  for (const Case& c : cases) {
    if (*c.message) ui.ExpectBox("Error", c.message);
    const auto scans = Scans({{c.t, c.rpm}});
    EXPECT_EQ(p.CheckAgainstScans(1, scans.data()), c.ok) << c.t;
    EXPECT_TRUE(ui.AllConsumed()) << c.t;
  }
  EXPECT_EQ(ui.transcript.size(), 3u);
  EXPECT_TRUE(ui.failures.empty());

  // A single step wants every scan after its ramp; an empty profile fits nothing.
  CRotorSpeedProfile one;
  Steps(one, {0}, {40000}, {200});
  EXPECT_TRUE(one.CheckAgainstScans(1, Scans({{200.5, 40000}}).data()));
  EXPECT_FALSE(one.CheckAgainstScans(1, Scans({{200.0, 40000}}).data()));
  CRotorSpeedProfile empty;
  EXPECT_FALSE(empty.CheckAgainstScans(1, Scans({{500, 40000}}).data()));
}

TEST(SpeedProfileCheck, ClassificationOfScanSpeeds) {
  struct Case {
    const char* name;
    std::vector<std::pair<double, float>> scans;
    bool changes, approach, ascending;
  };
  const Case cases[] = {
      {"one speed", {{100, 50000}, {200, 50005}}, false, false, false},
      {"ascending", {{100, 3000}, {200, 3000}, {900, 50000}}, true, false, true},
      {"descending early", {{100, 50000}, {900, 3000}}, true, false, false},
      {"lower speed after 10 h", {{100, 50000}, {40000, 10000}}, true, true, false},
  };
  for (const Case& c : cases) {
    auto scans = Scans(c.scans);
    bool approach = true, ascending = true;
    const int n = static_cast<int>(c.scans.size());
    EXPECT_EQ(ClassifyScanSpeeds(n, scans.data(), approach, ascending), c.changes) << c.name;
    EXPECT_EQ(approach, c.approach) << c.name;
    EXPECT_EQ(ascending, c.ascending) << c.name;
    EXPECT_EQ(ScansHaveSpeedChanges(n, scans.data()), c.changes) << c.name;
  }
  auto cells = Scans({{100, 3000}, {200, 50000}});
  cells[2].cell = 3;
  bool approach = false, ascending = false;
  EXPECT_TRUE(ClassifyScanSpeeds(2, cells.data(), approach, ascending));
  EXPECT_TRUE(approach);
}
