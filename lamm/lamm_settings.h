#pragma once
// The numerical controls of every finite-element solution of the Lamm
// equation, kept in "tarnellammparams.ini" in the program folder, edited by
// the Lamm-equation dialog and read by every solver. One record exists
// (LammSettings()); it starts with the defaults below.
#include <cstdint>
#include <string>

#include "lamm/lamm_grid_size.h"

class CLammIdeal;

struct LammSolverSettings {
  // --- stored in "tarnellammparams.ini", in file order ---------------------
  float automaticSwitchS = 5.0f;          // 1: s (S) normalised to 30000 rpm
  std::uint8_t shutOffBackDiffusion = 1;   // 2
  double backDiffusionLevel = 0.0001;      // 3
  std::uint8_t automaticGridSize = 1;      // 4: "automatic dynamic grid size"
  // 5: "default FE grid size" is gridSize.setting; the record also holds
  // the size in use and the size a distribution replaced.
  LammGridSize gridSize;
  float pointsPerSigma = 5.0f;             // 6
  std::int32_t gridSizeUpperLimit = 2000;  // 7
  std::int32_t gridSizeLowerLimit = 75;    // 8
  std::uint8_t timesFromW2t = 0;           // 9: "times from wwt"
  std::uint8_t automaticAlgorithm = 1;     // 10
  std::uint8_t fixedTimeStep = 0;          // 11
  std::uint8_t claverieAlgorithm = 0;      // 12: static grid
  std::uint8_t movingHatAlgorithm = 1;     // 13: moving frame
  std::uint8_t automaticSGrid = 1;         // 14: "automatic s_grid"
  double gridS = 0.0;                      // 15: frame coefficient s* (S)
  // 16 is the fit tolerance, which belongs to the fit engine's state.
  double maxDcOverC = 1.0;                 // 17: "max dc/c"
  float automaticSwitchSOptimised = 60.0f; // 18: "when optimized"
  std::uint8_t optimiseTimeInvariantGrid = 1;   // 19
  std::uint8_t experimentalInitialDistribution = 0;  // 20
  std::uint8_t truncateGrid = 1;           // 21: "dynamically truncate grid"
  double truncationLevel = 1e-6;           // 22: the file holds log10 of it
  std::uint8_t simulateTimeResolution = 0;    // 23
  std::uint8_t simulateRadialResolution = 0;  // 24
  float scanVelocity = 2.43f;              // 25: cm/min
  float convolutionRange = 0.008f;         // 26: cm
  std::uint8_t checkRotorAcceleration = 1; // 27
  double variableSpeedDiffusionShutOff = 10.0;  // 28: multiple of the grid distance

  // --- not stored in the file -------------------------------------------
  std::uint8_t rampRotorSpeed = 1;               // opposite of timesFromW2t
  std::uint8_t modelInitialDistribution = 1;     // opposite of line 20
  double workingMaxDcOverC = 1.0;                // what the step control uses
  double lowerStepThreshold = 0.1;
  double upperStepThreshold = 0.5;
  double equilibriumThreshold = 1e-6;            // per s
  double tolerance = 1e-4;                       // "Tolerance"
  std::uint8_t truncatedGridActive = 0;          // set by the model evaluation
  std::int32_t massConservationCheck = 0;
  std::uint8_t liveDisplay = 0;
  // Hidden command 223: the final grid concentration becomes the model of
  // the last scan.
  std::uint8_t OptionToggle223 = 0;

  // Error flags of the global-array solvers; callers clear them before a run.
  std::int32_t discretizationError = 0;
  std::int32_t singularMatrixError = 0;
  std::int32_t nonidealityOutOfRange = 0;
  // First refusal or failure code of the last species list (0: every species solved).
  std::int32_t listError = 0;
};

// The program's one record, or the calling thread's own copy while one is in
// use (independent solves on worker threads; null gives the record back).
LammSolverSettings& LammSettings();
void UseThreadLammSettings(LammSolverSettings* own);

// Writes the 28 lines of the file ("%f\n" each). fitTolerance is the fit
// engine's relative-change threshold carried on line 16. False, after the
// error box "Attention: could not open %s", when the file cannot be written.
bool SaveLammEqParameterPreferences(const std::string& path, const LammSolverSettings& settings,
                                    float fitTolerance);

// Reads the file into settings (and line 16 into fitTolerance). A missing
// file is silently ignored; fewer than 26 values, or a grid size or limit
// that no int holds, keep the defaults after a message naming the file; 26
// or 27 values are applied and the file is rewritten complete.
// True when at least 26 values were read.
bool ReadLammEqParameterPreferences(const std::string& path, LammSolverSettings& settings,
                                    float& fitTolerance);

// Hands the settings to a solver as its model options, with the fixed choices
// every model evaluation makes (no forced steep start, f/f0 1, no solver
// switch, blend 1, step factor 2). stepBase (the dc/c limit the step control
// starts from) and defaultNodes (the grid size to start from) are the
// caller's: the fits pass what they allocated for.
void SetModelOptionsFromSettings(CLammIdeal& L, const LammSolverSettings& st, double stepBase,
                                 int defaultNodes);
