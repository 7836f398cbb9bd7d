#pragma once
// The run planner's result folder: numbered folders under the program's
// temporary folder, and the files of a simulated programme written into the
// folder of a result path ".../optimizedoverspeedstepsN/optimizedoverspeedstepsN.txt":
//   the path itself             speed steps "%f\t%f\t%f" (s, rpm, rpm/s)
//   <name>_rpmtimecourse<ext>   corner points (h, rpm)
//   simparams<ext>              copy of the planning preference file
//   <name>.EQU                  instrument method file
//   00NNN.R00, eq.R00, initialK.R00, initial_speedsteps.txt   simulated scans
#include <string>

class CApproachToEqSim;

// The first "<prefix>N/optimizedoverspeedstepsN.txt" (N = 1, 2, ...) under
// folder whose text file does not exist.
std::string NextNumberedResultPath(const std::string& folder, const std::string& prefix);

// The result path of the next planning run. Creates its folder: true when
// the folder is there to write into; when it existed already, the user is
// told and the path is still used. False (told) when it cannot be made.
bool PrepareResultFolder(const std::string& resultPath);

// A fresh numbered backup folder under the temporary folder; no file is
// written into it and a failure is not reported.
void BackupOptimizedSpeedSteps();

// Speed steps at path, then the corner points, the preference file's copy,
// and with show the editor on the path. False when path could not be opened.
bool WriteRpmTimeCourse(const CApproachToEqSim& sim, const std::string& path, bool show);
void WriteSimulatedApproachScans(const CApproachToEqSim& sim, const std::string& resultPath);
bool WriteEquMethodFile(const CApproachToEqSim& sim, const std::string& resultPath, float cycleTime,
                        int temperature, int finalScans, int maxScansPerStep, int flag);

// A path beside resultPath: its folder with fileName.
std::string BesideResultPath(const std::string& resultPath, const std::string& fileName);
