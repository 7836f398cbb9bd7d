// The planning record: the derived species quantities, and the preference
// file with its companions through a write and a read.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "equilibrium/planning/time_to_eq_params.h"
#include "fit/model_params.h"
#include "platform/scripted_ui.h"
#include "tests/support/temp_folder.h"

namespace {

class PlanningFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = (dir_ / "tarnelsimappeqparams.ini").string();
    ui_.lenient = true;
  }
  void WriteLines(const std::vector<std::string>& lines, const std::string& path) {
    std::ofstream out(path);
    for (const auto& l : lines) out << l << "\n";
  }
  std::vector<std::string> DefaultLines() {
    std::vector<std::string> lines;
    for (float v : TimeToEqLines(TimeToEqParams{})) lines.push_back(std::to_string(v));
    return lines;
  }
  teststate::TempFolder folder_;
  const std::filesystem::path dir_{folder_.path()};
  std::string path_;
  platform::ScriptedUserInterface ui_;
  platform::ScopedUI scope_{ui_};
};

TimeToEqParams DefaultsInWater() {
  TimeToEqParams p;
  p.vbar1 = p.vbar2 = 0.73f;
  p.density = 1.0f;
  p.viscosity = 0.001002f;
  return p;
}

}  // namespace

TEST(PlanningParameters, SpeciesCompletedFromMassAndShape) {
  gSolutionConditions = SolutionConditions{};
  TimeToEqParams p = DefaultsInWater();
  CompleteTimeToEqSpecies(p);
  EXPECT_NEAR(p.s1, 4.144, 0.001);
  EXPECT_NEAR(p.D1, 5.755e-7, 0.001e-7);
  EXPECT_NEAR(p.s2, 6.578, 0.001);
  EXPECT_NEAR(TimeToEqLines(p)[34], 5.755, 0.001);
  // Given by s, the shape follows: back to 1.4.
  p.species1ByFf0 = 0;
  p.ff01 = 9;
  CompleteTimeToEqSpecies(p);
  EXPECT_NEAR(p.ff01, 1.4, 1e-5);
  // The species' own vbar counts, whatever the program's solvent.
  gSolutionConditions.vbarRho = 0.6f;
  TimeToEqParams q = DefaultsInWater();
  CompleteTimeToEqSpecies(q);
  EXPECT_NEAR(q.D1, 5.755e-7, 0.001e-7);
  gSolutionConditions = SolutionConditions{};
  // Nothing sensible to form: the entries stay.
  TimeToEqParams r = DefaultsInWater();
  r.M2 = 0;
  r.vbar1 = 1.0f;
  CompleteTimeToEqSpecies(r);
  EXPECT_EQ(r.s1, 4.31f);
  EXPECT_EQ(r.D1, 0.0f);
  EXPECT_EQ(r.s2, 6.5f);
}

TEST_F(PlanningFiles, RoundTripWithCompanions) {
  TimeToEqParams p = DefaultsInWater();
  CompleteTimeToEqSpecies(p);
  p.finalRpm = 22000;
  p.parameterCount = 7;
  p.continueHistory = 1;
  p.historyDuration = 54000;
  p.history = std::make_unique<CRotorSpeedProfile>();
  const float t[] = {0, 0, 7200, 30000}, v[] = {0, 20000, 30000, 15000}, a[] = {0, 200, 200, 280};
  p.history->SetSteps(3, t, v, a);
  ASSERT_TRUE(SaveTimeToEqPreferences(p, path_));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "tarnelsimappeqparams_iniduration.ini"));
  EXPECT_TRUE(std::filesystem::exists(dir_ / "tarnelsimappeqparams_speedsteps.ini"));

  TimeToEqParams q;
  ASSERT_TRUE(LoadTimeToEqPreferences(q, path_));
  const std::vector<float> a1 = TimeToEqLines(p), a2 = TimeToEqLines(q);
  for (size_t i = 0; i < a1.size(); ++i) EXPECT_NEAR(a2[i], a1[i], 1e-6 * std::max(1.0f, std::fabs(a1[i]))) << i + 1;
  EXPECT_EQ(q.historyDuration, 54000);
  ASSERT_TRUE(q.history);
  ASSERT_EQ(q.history->stepCount, 3);
  EXPECT_EQ(q.history->speeds[3], 15000);
  EXPECT_EQ(q.history->startTimes[2], 7200);

  // A history at rest (no steps) writes no steps file and reads back as such.
  p.history->FreeSteps();
  std::filesystem::remove(dir_ / "tarnelsimappeqparams_speedsteps.ini");
  ASSERT_TRUE(SaveTimeToEqPreferences(p, path_));
  EXPECT_TRUE(LoadTimeToEqPreferences(q, path_));
  EXPECT_EQ(q.history->stepCount, 0);
  EXPECT_TRUE(ui_.transcript.empty());
}

TEST_F(PlanningFiles, ShortOrUnusableFilesLeaveTheRecord) {
  const std::vector<std::string> good = DefaultLines();
  struct Case {
    int line;  // 0: drop the last line
    const char* value;
    bool message;
  } cases[] = {{0, "", false},     {1, "nan", true}, {3, "0", true},  {4, "-280", true},
               {5, "0", true},      {15, "0.5", true}, {15, "1e6", true}, {19, "-1", true},
               {14, "inf", true},
               // Counts no int holds (a cast of them is undefined).
               {11, "1e30", true},  {15, "1e30", true}, {19, "2147483648", true}, {11, "-3e9", true}};
  for (const Case& c : cases) {
    std::vector<std::string> lines = good;
    if (c.line == 0)
      lines.pop_back();
    else
      lines[static_cast<size_t>(c.line - 1)] = c.value;
    WriteLines(lines, path_);
    TimeToEqParams p;
    p.finalRpm = 12345;
    ui_.transcript.clear();
    EXPECT_FALSE(LoadTimeToEqPreferences(p, path_)) << c.line << " " << c.value;
    EXPECT_EQ(p.finalRpm, 12345) << c.line;
    EXPECT_EQ(ui_.transcript.size(), c.message ? 1u : 0u) << c.line << " " << c.value;
  }
  // Lines beyond the 41st are ignored; counts are rounded down.
  std::vector<std::string> lines = good;
  lines[14] = "5.9";
  lines.push_back("17");
  WriteLines(lines, path_);
  TimeToEqParams p;
  p.profileParameters.assign(6, 1.0f);
  EXPECT_TRUE(LoadTimeToEqPreferences(p, path_));
  EXPECT_EQ(p.parameterCount, 5);
  EXPECT_EQ(p.profileParameters.size(), 6u);  // same count: the vector stays
  lines[14] = "6";
  WriteLines(lines, path_);
  EXPECT_TRUE(LoadTimeToEqPreferences(p, path_));
  EXPECT_TRUE(p.profileParameters.empty());
  EXPECT_FALSE(LoadTimeToEqPreferences(p, (dir_ / "missing.ini").string()));
}

TEST_F(PlanningFiles, MissingOrCorruptCompanions) {
  TimeToEqParams p;
  p.continueHistory = 1;
  ASSERT_TRUE(SaveTimeToEqPreferences(p, path_));
  const std::string duration = (dir_ / "tarnelsimappeqparams_iniduration.ini").string();
  std::filesystem::remove(duration);
  TimeToEqParams q;
  EXPECT_FALSE(LoadTimeToEqPreferences(q, path_));
  EXPECT_EQ(q.continueHistory, 1);  // the main values are taken
  ASSERT_EQ(ui_.transcript.size(), 1u);
  EXPECT_EQ(ui_.transcript[0].text, "error - auxillary duration parameter file " + duration +
                                        " is missing - please enter new in parameter box ");
  WriteLines({}, duration);
  EXPECT_FALSE(LoadTimeToEqPreferences(q, path_));
  EXPECT_NE(ui_.transcript.back().text.find("is corrupt"), std::string::npos);
  WriteLines({"3600"}, duration);
  WriteLines({"garbage"}, (dir_ / "tarnelsimappeqparams_speedsteps.ini").string());
  EXPECT_FALSE(LoadTimeToEqPreferences(q, path_));
  EXPECT_NE(ui_.transcript.back().text.find("auxillary speedsteps parameter file"), std::string::npos);
}
