#pragma once
// CApproachToEqSim: the approach of a solution column to sedimentation
// equilibrium under a rotor-speed programme, and its distance from the final
// equilibrium at every stored time.
//
// Each species k (loading fraction f_k, s_k in S, D_k in cm^2/s) follows the
// Lamm equation in the sector m < r < b (cm) from unit loading,
//
//   dc/dt = (1/r) d/dr [ r D dc/dr - s w(t)^2 r^2 c ],   zero flux at m and b,
//
// solved on the static finite-element grid (CLammIdeal, lists on the Lamm
// worker threads) and stored every scanInterval seconds on radii spaced
// radialStep from the meniscus. The total is sum_k f_k c_k; it is compared
// with the ideal equilibrium at finalRpm (equilibrium_closed_forms.h) over
// leftLimit < r < rightLimit.
//
// Calling order: Reset (the constructor does it), SetupRun, SetInitialCondition
// (unless the run starts from uniform loading at rest), SetSpeedSteps
// (optional), Run, ComputeDistanceToEq. All arrays are 1-based and owned.
#include <memory>
#include <string>
#include <vector>

#include "data/rotor_speed_profile.h"
#include "data/scan_set.h"
#include "numerics/arrays.h"

class CCurve;
class CLammIdeal;
class CVector;
class FitHost;

class CApproachToEqSim {
 public:
  CApproachToEqSim();
  ~CApproachToEqSim();
  CApproachToEqSim(const CApproachToEqSim&) = delete;
  CApproachToEqSim& operator=(const CApproachToEqSim&) = delete;

  // Every member back to its value after construction.
  void Reset();
  // The solution the solver's grid choice sees (common vbar in ml/g, density
  // in g/ml, viscosity relative to water at 20 C); 0.73, 1, 1 by default.
  void SetSolution(float vbar, float density, float relativeViscosity);
  // Grid, stored times, headers and the equilibrium profile. fraction, s and
  // D are 1-based. False, with the reason in refusal, for a maximum time not
  // finite and above 0 (or of more than kMaxStoredProfiles profiles), a
  // column that is not m < b, a final speed not above 0, no species, a
  // species without finite s and positive D, or no stored radius strictly
  // between the limits.
  bool SetupRun(FitHost* window, float maxTimeHours, float bottom, float meniscus,
                float rightLimit, float leftLimit, int nSpecies, const float* fraction,
                const float* s, const float* D, float temperature, float finalRpm);
  // The profile the run starts from: with historyDuration > 0 the result of
  // continuing the loaded scans' rotor-speed history for that long (the
  // header speed is that of the last scan in time order of scans); else, for
  // stepPosition at or below the meniscus, the equilibrium at initialRpm, and
  // for a step inside the column a smoothed step to the plateau of
  // StepPlateauConcentration. False before SetupRun, for a history without
  // loaded scans, or when the history could not be simulated.
  bool SetInitialCondition(float initialRpm, const CRotorSpeedProfile* historyProfile,
                           float historyDuration, float stepPosition,
                           const ScanSet& scans = CurrentScanSet());
  // One species from uniform loading over the history; c0 x its profile at
  // the end of it ([1..nPoints]).
  FloatVec SimulateHistory(float c0, double s, double D);
  // The speed programme: n steps starting at times (s), ramping at accs
  // (rpm/s) to rpms; mode goes to the solver with them.
  void SetSpeedSteps(int n, const float* times, const float* rpms, const float* accs, int mode);
  // Solves every species and forms total. False for a solver error (reported
  // through the window) or a stop request during the solution.
  bool Run();
  // timeSec, timeHours, maxDev, rmsDev and the first stored times (before the
  // last) with rms below epsRms and maximum below epsMax.
  void ComputeDistanceToEq(float epsRms, float epsMax);
  // Highest total at the bottom over all stored times, relative to the
  // equilibrium there (at the last stored radius not beyond the bottom).
  float MaxBottomOverconcentration() const;
  // int c r dr over the stored radii (trapezoids with exact end cells); 0 for null.
  float RadialIntegral(const float* profile) const;
  // Corner points (h, rpm) of the speed programme, 2 nSteps + 1 of them
  // (a run without programme counts as one step to finalRpm at 280 rpm/s).
  // *t and *rpm are new 1-based arrays for the caller to free with
  // free_vector(p, 1, *n); on request also views of them and their curve
  // (the caller deletes those). False for a null output pointer.
  bool BuildRpmTimeCourse(int* n, float** t, float** rpm, CVector** tView = nullptr,
                          CVector** rpmView = nullptr, CCurve** curve = nullptr) const;

  // Index of the last stored radius not beyond the bottom.
  int BottomIndex() const;

  // fileName in the folder of resultPath: "%f\t%f\t%f\n" (h, rms and
  // maximum deviation) for every stored time but the last. False when the
  // file could not be opened (reported).
  bool WriteDeltaEqFile(const std::string& resultPath, const std::string& fileName) const;
  // The corner points (h, rpm) of the speed steps, "%f\t%f\n" lines, the
  // last without line end; shown in the text editor on request.
  bool WriteRpmTimeCourseFile(const std::string& path, bool show) const;

  static constexpr int kMaxStoredProfiles = 100000;

  // ---- set-up --------------------------------------------------------
  float scanInterval = 1800;  // s
  float radialStep = 0.002f;  // cm
  int nScans = 0;
  int nPoints = 0;
  int leftIndex = 0;   // first radius > leftLimit
  int rightIndex = 0;  // last radius <= rightLimit
  FloatVec radius;     // [1..nPoints]
  FloatVec eqProfile;  // [1..nPoints]
  FloatMat total;      // [1..nScans][1..nPoints]
  std::vector<FloatVec> initial;     // [1..nSpecies], each [1..nPoints]
  std::vector<FloatMat> perSpecies;  // [1..nSpecies], each [1..nScans][1..nPoints]
  IntVec scanIndex;                  // [1..nScans], identity
  std::vector<ScanRecord> scanRecords;  // [1..nScans]
  ScanRecord initialRecord;
  std::unique_ptr<CRotorSpeedProfile> history;
  float initialDuration = 0;
  FitHost* window = nullptr;
  float leftLimit = 0, rightLimit = 0;
  float meniscus = 6.75f, bottom = 7.2f;
  float temperature = 4.0f;
  float finalRpm = 10000;
  int nSpecies = 1;
  DoubleVec fraction, sValue, dValue;  // [1..nSpecies]
  int errorCode = 0;
  // The solver's grid runs from gridPoints/2 to 2 gridPoints nodes. 400 keeps
  // the discretisation error of the default column (about 5e-5 rms from the
  // analytic equilibrium) well below the equilibrium criteria; 80 left it at
  // 1.2e-3, above the default target of 1e-3.
  int gridPoints = 400;
  float epsRms = 0.001f, epsMax = 0.001f;
  float tEqRms = -1, tEqMax = -1;
  FloatVec timeSec, timeHours, maxDev, rmsDev;  // [1..nScans]
  int indexMax = 1, indexRms = 1;
  bool hasSpeedSteps = false;
  int nSteps = 0;
  FloatVec stepTime, stepRpm, stepAcc;  // [1..nSteps]
  int stepMode = 0;
  std::string refusal;  // why SetupRun refused

  // ---- initial condition ----------------------------------------------
  bool hasInitialCondition = false;  // the run does not start from uniform loading at rest
  bool stepInitial = false;          // a step inside the column: compared mass-normalised
  float vbar = 0.73f, density = 1.0f, relativeViscosity = 1.0f;

 private:
  void PrepareSolver(CLammIdeal& L, double s, double D) const;
  void FillHeader(ScanRecord& h, double t, float rpm) const;
  bool setUp_ = false;
};

// The run planner's simulation of the constant-speed reference run; made at
// start-up, replaced by every planning command.
std::unique_ptr<CApproachToEqSim>& ConstantSpeedSimulation();
