#include "equilibrium/planning/planning_result_files.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "data/rotor_speed_profile.h"
#include "data/scan_file.h"
#include "equilibrium/planning/approach_to_eq_sim.h"
#include "equilibrium/planning/time_to_eq_params.h"
#include "platform/error_box.h"
#include "platform/paths.h"
#include "platform/process_launcher.h"
#include "platform/program_paths.h"
#include "platform/user_interface.h"

namespace {

constexpr const char* kScanDescription = " simulated approach to equilibrium";

// Each file whole under a temporary name; Close renames it into place.
FILE* OpenForWriting(platform::CheckedOutputFile& file, const std::string& path) {
  FILE* f = file.get();
  if (!f) ErrorBox(("\n\x07" "Attention: could not open " + path).c_str());
  return f;
}

bool Close(platform::CheckedOutputFile& file, const std::string& path) {
  if (file.Commit()) return true;
  ErrorBox(("\n\x07" "Attention: could not write " + path).c_str());
  return false;
}

// The path with "suffix" joined to its name (and the extension kept).
std::string WithName(const std::string& path, const std::string& name, const std::string& extension) {
  platform::PathParts parts = platform::SplitPath(path);
  parts.name = name;
  parts.extension = extension;
  return platform::JoinPath(parts);
}

}  // namespace

std::string BesideResultPath(const std::string& resultPath, const std::string& fileName) {
  return platform::SplitPath(resultPath).folder + fileName;
}

std::string NextNumberedResultPath(const std::string& folder, const std::string& prefix) {
  for (int n = 1;; ++n) {
    const std::string name = "optimizedoverspeedsteps" + std::to_string(n);
    const std::string path =
        platform::Combine(platform::Combine(folder, prefix + std::to_string(n)), name + ".txt");
    if (!platform::FileExists(path)) return path;
  }
}

bool PrepareResultFolder(const std::string& resultPath) {
  const std::string folder = platform::SplitPath(resultPath).folder;
  std::error_code error;
  const bool made = std::filesystem::create_directory(platform::ToNative(folder), error);
  if (made) return true;
  platform::Tell("", "could not create new config directory");
  // An existing folder is written into; one that cannot be made stops the run.
  return platform::DirectoryExists(folder);
}

void BackupOptimizedSpeedSteps() {
  const std::string path = NextNumberedResultPath(platform::ProgramPaths.TempFolder, "backupoptimizedoverspeedsteps");
  std::error_code error;
  std::filesystem::create_directory(platform::ToNative(platform::SplitPath(path).folder), error);
}

bool CApproachToEqSim::WriteDeltaEqFile(const std::string& resultPath, const std::string& fileName) const {
  const std::string path = BesideResultPath(resultPath, fileName);
  platform::CheckedOutputFile file(path);
  FILE* f = OpenForWriting(file, path);
  if (!f) return false;
  for (int i = 1; i <= nScans - 1; ++i) std::fprintf(f, "%f\t%f\t%f\n", timeHours[i], rmsDev[i], maxDev[i]);
  return Close(file, path);
}

bool CApproachToEqSim::WriteRpmTimeCourseFile(const std::string& path, bool show) const {
  platform::CheckedOutputFile file(path);
  FILE* f = OpenForWriting(file, path);
  if (!f) return false;
  const int n = hasSpeedSteps ? nSteps : 0;
  if (n >= 1) {
    std::fprintf(f, "%f\t%f\n", 0.0, 0.0);
    std::fprintf(f, "%f\t%f", stepRpm[1] / stepAcc[1] / 3600.0, stepRpm[1]);
    for (int i = 2; i <= n; ++i) {
      const double t = stepTime[i];
      std::fprintf(f, "\n%f\t%f\n", t / 3600.0, stepRpm[i - 1]);
      std::fprintf(f, "%f\t%f", (t + std::fabs(stepRpm[i] - stepRpm[i - 1]) / stepAcc[i]) / 3600.0, stepRpm[i]);
    }
  }
  const bool ok = Close(file, path);
  if (ok && show) platform::Processes().OpenTextEditor(path);
  return ok;
}

bool WriteRpmTimeCourse(const CApproachToEqSim& sim, const std::string& path, bool show) {
  platform::CheckedOutputFile file(path);
  FILE* f = OpenForWriting(file, path);
  if (!f) return false;
  const int n = sim.hasSpeedSteps ? sim.nSteps : 0;
  for (int i = 1; i <= n; ++i)
    std::fprintf(f, i < n ? "%f\t%f\t%f\n" : "%f\t%f\t%f", sim.stepTime[i], sim.stepRpm[i], sim.stepAcc[i]);
  if (!Close(file, path)) return false;
  const platform::PathParts parts = platform::SplitPath(path);
  sim.WriteRpmTimeCourseFile(WithName(path, parts.name + "_rpmtimecourse", parts.extension), false);
  // A copy of the preferences the plan was made with, through the checked
  // reader and writer like every other file.
  std::string preferences;
  if (platform::ReadRegularFile(platform::ToNative(platform::ProgramPaths.SimAppEqParamsIniPath), preferences,
                                false, platform::kSettingsFileLimit))
    platform::WriteWholeFile(WithName(path, "simparams", parts.extension), preferences);
  if (show) platform::Processes().OpenTextEditor(path);
  return true;
}

void WriteSimulatedApproachScans(const CApproachToEqSim& sim, const std::string& resultPath) {
  const std::string folder = platform::SplitPath(resultPath).folder;
  float* radius = sim.radius;
  char name[40];
  for (int i = 1; i <= sim.nScans; ++i) {
    std::snprintf(name, sizeof name, "00%03d.R00", i);
    WriteScanFile((folder + name).c_str(), sim.nPoints, radius, sim.total[i], nullptr, kScanDescription, 0,
                  sim.scanRecords[static_cast<size_t>(i)]);
  }
  if (sim.nScans >= 1)
    WriteScanFile((folder + "eq.R00").c_str(), sim.nPoints, radius, sim.eqProfile, nullptr, kScanDescription, 0,
                  sim.scanRecords[static_cast<size_t>(sim.nScans)]);
  const TimeToEqParams& p = CurrentTimeToEqParams();
  if (!(p.continueHistory || p.initialRpm > 0) || !sim.hasInitialCondition) return;
  for (int k = 1; k <= sim.nSpecies && static_cast<size_t>(k) < sim.initial.size(); ++k) {
    std::snprintf(name, sizeof name, "initial%d.R00", k);
    WriteScanFile((folder + name).c_str(), sim.nPoints, radius, sim.initial[static_cast<size_t>(k)], nullptr,
                  " initial for approach to equilibrium", 0, sim.initialRecord);
  }
  if (sim.history && sim.history->stepCount > 0) sim.history->Save(folder + "initial_speedsteps.txt");
}

bool WriteEquMethodFile(const CApproachToEqSim& sim, const std::string& resultPath, float cycleTime,
                        int temperature, int finalScans, int maxScansPerStep, int flag) {
  if (!sim.hasSpeedSteps || sim.nSteps < 1) return false;
  const platform::PathParts parts = platform::SplitPath(resultPath);
  CRotorSpeedProfile profile;
  profile.SetSteps(sim.nSteps, sim.stepTime, sim.stepRpm, sim.stepAcc);
  return profile.WriteMethodRows(WithName(resultPath, parts.name, ".EQU"), cycleTime, temperature, finalScans,
                                 maxScansPerStep, flag != 0);
}
