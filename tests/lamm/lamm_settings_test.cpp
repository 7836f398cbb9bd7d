#include "lamm/lamm_settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/scripted_ui.h"
#include "tests/support/file_text.h"

namespace {

std::string TempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() / ("lammprefs_" + name)).string();
}

using teststate::FileLines;

void Write(const std::string& path, const std::string& text) {
  std::ofstream(path) << text;
}

const std::vector<std::string> kDefaultLines = {
    "5.000000", "1.000000", "0.000100", "1.000000", "1000.000000", "5.000000", "2000.000000",
    "75.000000", "0.000000", "1.000000", "0.000000", "0.000000", "1.000000", "1.000000",
    "0.000000", "0.010000", "1.000000", "60.000000", "1.000000", "0.000000", "1.000000",
    "-6.000000", "0.000000", "0.000000", "2.430000", "0.008000", "1.000000", "10.000000"};

std::string Join(const std::vector<std::string>& lines, size_t count) {
  std::string s;
  for (size_t i = 0; i < count; ++i) s += lines[i] + "\n";
  return s;
}

}  // namespace

TEST(LammPreferenceFile, DefaultRecordWritesTheTwentyEightDefaultLines) {
  const std::string path = TempPath("defaults.ini");
  ASSERT_TRUE(SaveLammEqParameterPreferences(path, LammSolverSettings{}, 0.01f));
  EXPECT_EQ(FileLines(path), kDefaultLines);
}

TEST(LammPreferenceFile, ChangedValuesSurviveTheRoundTrip) {
  const std::string path = TempPath("roundtrip.ini");
  LammSolverSettings out;
  out.automaticSwitchS = 7.5f;
  out.shutOffBackDiffusion = 0;
  out.gridSize.setting = 321;
  out.timesFromW2t = 1;
  out.rampRotorSpeed = 0;
  out.gridS = 12.25;
  out.truncationLevel = 1e-9;  // only its logarithm survives six decimals
  out.scanVelocity = 1.5f;
  out.checkRotorAcceleration = 0;
  out.variableSpeedDiffusionShutOff = 4.0;
  ASSERT_TRUE(SaveLammEqParameterPreferences(path, out, 0.002f));

  LammSolverSettings in;
  float tol = 0;
  ASSERT_TRUE(ReadLammEqParameterPreferences(path, in, tol));
  EXPECT_FLOAT_EQ(in.automaticSwitchS, 7.5f);
  EXPECT_EQ(in.shutOffBackDiffusion, 0);
  EXPECT_EQ(in.gridSize.setting, 321);
  EXPECT_EQ(in.timesFromW2t, 1);
  EXPECT_EQ(in.rampRotorSpeed, 0);
  EXPECT_DOUBLE_EQ(in.gridS, 12.25);
  EXPECT_NEAR(in.truncationLevel / 1e-9, 1.0, 1e-6);
  EXPECT_FLOAT_EQ(in.scanVelocity, 1.5f);
  EXPECT_EQ(in.checkRotorAcceleration, 0);
  EXPECT_DOUBLE_EQ(in.variableSpeedDiffusionShutOff, 4.0);
  EXPECT_FLOAT_EQ(tol, 0.002f);
}

TEST(LammPreferenceFile, SwitchesCountsAndExtraLinesAreReadAsWritten) {
  const std::string path = TempPath("kinds.ini");
  std::vector<std::string> lines = kDefaultLines;
  lines[1] = "0.5";      // a switch above zero is on
  lines[3] = "-1.0";     // negative is off
  lines[4] = "1999.9";   // counts truncate
  lines.push_back("77");
  lines.push_back("88");  // lines 29 and 30 are ignored
  const std::string text = Join(lines, lines.size());
  Write(path, text);
  LammSolverSettings s;
  float tol = 0;
  ASSERT_TRUE(ReadLammEqParameterPreferences(path, s, tol));
  EXPECT_EQ(s.shutOffBackDiffusion, 1);
  EXPECT_EQ(s.automaticGridSize, 0);
  EXPECT_EQ(s.gridSize.setting, 1999);
  EXPECT_DOUBLE_EQ(s.truncationLevel, 1e-6);
  EXPECT_EQ(teststate::FileText(path), text);  // not rewritten
}

TEST(LammPreferenceFile, TwentySixLinesAreAcceptedAndTheFileIsCompleted) {
  const std::string path = TempPath("short.ini");
  Write(path, Join(kDefaultLines, 26));
  LammSolverSettings s;
  s.checkRotorAcceleration = 1;
  float tol = 0;
  ASSERT_TRUE(ReadLammEqParameterPreferences(path, s, tol));
  EXPECT_EQ(s.checkRotorAcceleration, 1);
  EXPECT_DOUBLE_EQ(s.variableSpeedDiffusionShutOff, 10.0);
  EXPECT_EQ(FileLines(path), kDefaultLines);
}

TEST(LammPreferenceFile, UnreadableContentKeepsTheDefaultsAfterTheMessage) {
  struct Case {
    const char* name;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"header.ini", "Lamm settings\n" + Join(kDefaultLines, 28)},
      {"few.ini", Join(kDefaultLines, 25)},
      {"broken.ini", Join(kDefaultLines, 10) + "garbage\n" + Join(kDefaultLines, 28)},
      {"empty.ini", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = TempPath(c.name);
    Write(path, c.text);
    platform::ScriptedUserInterface ui;
    ui.ExpectBox("LAMM EQUATION PARAMETERS",
                 "cannot find " + path + " to initialize Lamm eq. preferences\n -> using defaults now");
    platform::ScopedUI guard(ui);
    LammSolverSettings s;
    s.gridSize.setting = 1000;
    float tol = 0.01f;
    EXPECT_FALSE(ReadLammEqParameterPreferences(path, s, tol));
    EXPECT_EQ(s.gridSize.setting, 1000);
    EXPECT_EQ(s.automaticSwitchS, 5.0f);
    EXPECT_FLOAT_EQ(tol, 0.01f);
    EXPECT_TRUE(ui.failures.empty());
    EXPECT_TRUE(ui.AllConsumed());
    EXPECT_EQ(teststate::FileText(path), c.text);  // left alone
  }
}

// The grid size and its limits are whole numbers: a value no int holds (a
// cast of it is undefined) refuses the whole file, which is named; so does a
// NaN or infinite value of any other line.
TEST(LammPreferenceFile, GridSizesNoIntHoldsKeepTheDefaultsAfterTheMessage) {
  const struct {
    int line;
    const char* value;
    const char* shown;
    const char* kind = "grid size";
  } cases[] = {{5, "nan", "nan"},        {5, "inf", "inf"},          {5, "1e30", "1e+30"},
               {7, "2147483648", "2.14748e+09"}, {8, "-1e10", "-1e+10"}, {7, "-inf", "-inf"},
               {3, "nan", "nan", "number"}, {16, "inf", "inf", "number"}, {26, "-nan", "-nan", "number"},
               {6, "nan", "nan", "number"}};
  const std::string path = TempPath("gridsize.ini");
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.line) + " " + c.value);
    std::vector<std::string> lines = kDefaultLines;
    lines[static_cast<size_t>(c.line - 1)] = c.value;
    lines[0] = "7.5";  // a value before the bad line is not taken either
    const std::string text = Join(lines, lines.size());
    Write(path, text);
    platform::ScriptedUserInterface ui;
    ui.ExpectBox("LAMM EQUATION PARAMETERS", "cannot use " + path +
                                                 " to initialize Lamm eq. preferences: line " +
                                                 std::to_string(c.line) + " holds " + c.shown + ", which is no " +
                                                 c.kind + "\n -> using defaults now");
    platform::ScopedUI guard(ui);
    LammSolverSettings s;
    float tol = 0.01f;
    EXPECT_FALSE(ReadLammEqParameterPreferences(path, s, tol));
    EXPECT_EQ(s.gridSize.setting, 1000);
    EXPECT_EQ(s.gridSizeUpperLimit, 2000);
    EXPECT_EQ(s.gridSizeLowerLimit, 75);
    EXPECT_EQ(s.automaticSwitchS, 5.0f);
    EXPECT_TRUE(ui.failures.empty());
    EXPECT_TRUE(ui.AllConsumed());
    EXPECT_EQ(teststate::FileText(path), text);  // left alone
  }
  // The largest grid an int holds is still a grid size.
  std::vector<std::string> lines = kDefaultLines;
  lines[6] = "2147483520";  // the float below 2^31
  Write(path, Join(lines, lines.size()));
  LammSolverSettings s;
  float tol = 0;
  ASSERT_TRUE(ReadLammEqParameterPreferences(path, s, tol));
  EXPECT_EQ(s.gridSizeUpperLimit, 2147483520);
}

TEST(LammPreferenceFile, MissingFileIsSilentAndCreatesNothing) {
  const std::string path = TempPath("absent.ini");
  std::filesystem::remove(path);
  platform::ScriptedUserInterface ui;
  platform::ScopedUI guard(ui);
  LammSolverSettings s;
  float tol = 0.01f;
  EXPECT_FALSE(ReadLammEqParameterPreferences(path, s, tol));
  EXPECT_TRUE(ui.transcript.empty());
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(LammPreferenceFile, UnwritableFileShowsTheErrorBox) {
  const std::string path = TempPath("no_such_folder/x.ini");
  platform::ScriptedUserInterface ui;
  ui.ExpectBox("Error", "Attention: could not open " + path);
  platform::ScopedUI guard(ui);
  EXPECT_FALSE(SaveLammEqParameterPreferences(path, LammSolverSettings{}, 0.01f));
  EXPECT_TRUE(ui.failures.empty());
}
