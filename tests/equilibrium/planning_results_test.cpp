// The run planner's files: numbered result folders, the deviation time
// courses, the speed steps in their three forms, the simulated scans, and
// speed files read back for a run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "equilibrium/planning/approach_to_eq_sim.h"
#include "equilibrium/planning/planning_result_files.h"
#include "equilibrium/planning/speed_profile_optimizer.h"
#include "equilibrium/planning/time_to_eq_params.h"
#include "platform/program_paths.h"
#include "platform/scripted_ui.h"
#include "tests/support/file_text.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

constexpr float kS = 4.14408f, kD = 5.75543e-7f;


int Lines(const std::string& text) {
  int n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

class PlanningResults : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(dir_ / "temp");
    saved_ = platform::ProgramPaths;
    platform::ProgramPaths.TempFolder = (dir_ / "temp").string() + "/";
    platform::ProgramPaths.SimAppEqParamsIniPath = (dir_ / "tarnelsimappeqparams.ini").string();
    ResetTimeToEqParams(CurrentTimeToEqParams());
    ASSERT_TRUE(SaveTimeToEqPreferences(CurrentTimeToEqParams(), platform::ProgramPaths.SimAppEqParamsIniPath));
    result_ = (dir_ / "temp" / "optimizedoverspeedsteps2" / "optimizedoverspeedsteps2.txt").string();
    fs::create_directories(dir_ / "temp" / "optimizedoverspeedsteps2");
  }
  void TearDown() override {
    platform::ProgramPaths = saved_;
    ResetTimeToEqParams(CurrentTimeToEqParams());
  }
  void Setup(CApproachToEqSim& sim, float hours) {
    const float f[] = {0, 1}, s[] = {0, kS}, D[] = {0, kD};
    ASSERT_TRUE(sim.SetupRun(nullptr, hours, 7.2f, 6.75f, 7.15f, 6.77f, 1, f, s, D, 20, 15000));
  }
  teststate::TempFolder folder_;
  const fs::path dir_{folder_.path()};
  std::string result_;
  platform::ProgramPathsRecord saved_;
};

}  // namespace

TEST_F(PlanningResults, NumberedFolders) {
  const std::string temp = platform::ProgramPaths.TempFolder;
  const fs::path first = dir_ / "temp" / "optimizedoverspeedsteps1";
  EXPECT_EQ(NextNumberedResultPath(temp, "optimizedoverspeedsteps"), (first / "optimizedoverspeedsteps1.txt").string());
  // An empty folder 1 is taken again: the user hears that it exists.
  fs::create_directories(first);
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope(ui);
  ui.ExpectBox("", "could not create new config directory");
  EXPECT_TRUE(PrepareResultFolder(NextNumberedResultPath(temp, "optimizedoverspeedsteps")));
  // Folders 1 and 2 holding their files: 3.
  std::ofstream(first / "optimizedoverspeedsteps1.txt") << "x";
  std::ofstream(result_) << "x";
  const std::string third = NextNumberedResultPath(temp, "optimizedoverspeedsteps");
  EXPECT_EQ(third, (dir_ / "temp" / "optimizedoverspeedsteps3" / "optimizedoverspeedsteps3.txt").string());
  EXPECT_TRUE(PrepareResultFolder(third));
  EXPECT_TRUE(fs::is_directory(dir_ / "temp" / "optimizedoverspeedsteps3"));
  // A folder that cannot be made stops the run.
  std::ofstream(dir_ / "blocked") << "a file";
  ui.ExpectBox("", "could not create new config directory");
  EXPECT_FALSE(PrepareResultFolder((dir_ / "blocked" / "sub" / "x.txt").string()));
  EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();

  BackupOptimizedSpeedSteps();
  BackupOptimizedSpeedSteps();  // no file inside: the same folder again
  EXPECT_TRUE(fs::is_directory(dir_ / "temp" / "backupoptimizedoverspeedsteps1"));
  EXPECT_FALSE(fs::exists(dir_ / "temp" / "backupoptimizedoverspeedsteps2"));
}

TEST_F(PlanningResults, DeviationCoursesAndSpeedSteps) {
  CApproachToEqSim constant;
  Setup(constant, 59.0f);
  ASSERT_EQ(constant.nScans, 118);
  ASSERT_TRUE(constant.Run());
  constant.ComputeDistanceToEq(1e-3f, 1e-3f);
  ASSERT_TRUE(constant.WriteDeltaEqFile(result_, "constantspeed_DeltaEQ.txt"));
  const std::string delta = teststate::FileText(fs::path(result_).parent_path() / "constantspeed_DeltaEQ.txt");
  EXPECT_EQ(Lines(delta), 117);
  char first[100];
  std::snprintf(first, sizeof first, "%f\t%f\t%f\n", 0.5, constant.rmsDev[1], constant.maxDev[1]);
  EXPECT_EQ(delta.substr(0, delta.find('\n') + 1), first);

  CApproachToEqSim trial;
  Setup(trial, 39.0f);
  const float t[] = {0, 0, 6300, 30000}, v[] = {0, 22500, 15000, 15000}, a[] = {0, 280, 280, 280};
  trial.SetSpeedSteps(3, t, v, a, 2);
  ASSERT_TRUE(WriteRpmTimeCourse(trial, result_, false));
  EXPECT_EQ(teststate::FileText(result_),
            "0.000000\t22500.000000\t280.000000\n6300.000000\t15000.000000\t280.000000\n"
            "30000.000000\t15000.000000\t280.000000");
  const fs::path folder = fs::path(result_).parent_path();
  EXPECT_EQ(teststate::FileText(folder / "optimizedoverspeedsteps2_rpmtimecourse.txt"),
            "0.000000\t0.000000\n0.022321\t22500.000000\n1.750000\t22500.000000\n1.757440\t15000.000000\n"
            "8.333333\t15000.000000\n8.333333\t15000.000000");
  EXPECT_EQ(teststate::FileText(folder / "simparams.txt"), teststate::FileText(platform::ProgramPaths.SimAppEqParamsIniPath));

  ASSERT_TRUE(WriteEquMethodFile(trial, result_, 90, 20, 0, 1, 1));
  EXPECT_TRUE(fs::exists(folder / "optimizedoverspeedsteps2.EQU"));
  // Read back for a run, through its conversion.
  int n = 0;
  FloatVec times, rpms, accs;
  ASSERT_TRUE(ReadSpeedStepsForRun((folder / "optimizedoverspeedsteps2.EQU").string(), n, times, rpms, accs));
  EXPECT_TRUE(fs::exists(folder / "speedsteps.txt"));
  ASSERT_GE(n, 2);
  EXPECT_EQ(rpms[1], 22500);
  EXPECT_EQ(rpms[n], 15000);

  // One step is a programme; an unreadable file is none.
  std::ofstream(dir_ / "one.txt") << "0\t20000\t280";
  ASSERT_TRUE(ReadSpeedStepsForRun((dir_ / "one.txt").string(), n, times, rpms, accs));
  EXPECT_EQ(n, 1);
  EXPECT_EQ(rpms[1], 20000);
  platform::ScriptedUserInterface ui;
  ui.lenient = true;
  platform::ScopedUI scope(ui);
  EXPECT_FALSE(ReadSpeedStepsForRun((dir_ / "none.txt").string(), n, times, rpms, accs));
  EXPECT_FALSE(ReadSpeedStepsForRun("", n, times, rpms, accs));
}

TEST_F(PlanningResults, SimulatedScansAndTheOneStepCornerFile) {
  CApproachToEqSim sim;
  sim.scanInterval = 1;
  Setup(sim, 1001 / 3600.0f);
  ASSERT_EQ(sim.nScans, 1001);
  CurrentTimeToEqParams().initialRpm = 8000;
  ASSERT_TRUE(sim.SetInitialCondition(8000, nullptr, 0, 0));
  const float t[] = {0, 0}, v[] = {0, 15000}, a[] = {0, 300};
  sim.SetSpeedSteps(1, t, v, a, 2);
  WriteSimulatedApproachScans(sim, result_);
  const fs::path folder = fs::path(result_).parent_path();
  for (const char* name : {"00001.R00", "00999.R00", "001000.R00", "001001.R00", "eq.R00", "initial1.R00"})
    EXPECT_TRUE(fs::exists(folder / name)) << name;
  EXPECT_NE(teststate::FileText(folder / "eq.R00").find(" simulated approach to equilibrium"), std::string::npos);
  EXPECT_NE(teststate::FileText(folder / "initial1.R00").find(" initial for approach to equilibrium"), std::string::npos);

  ASSERT_TRUE(sim.WriteRpmTimeCourseFile((folder / "one.txt").string(), false));
  EXPECT_EQ(teststate::FileText(folder / "one.txt"), "0.000000\t0.000000\n0.013889\t15000.000000");
}
