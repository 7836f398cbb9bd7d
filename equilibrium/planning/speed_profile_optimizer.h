#pragma once
// Overspeed programmes for sedimentation equilibrium: a short vector of
// profile parameters x[1..P] becomes a programme of speed steps, the
// programme is simulated with CApproachToEqSim, and its time to equilibrium
// (hours, with penalties) is minimised by Nelder-Mead with random restarts
// or by simplex annealing.
//
// Two parameterisations over the overspeed time T, with the final speed F:
//   stepwise:     rpm(t) = F x_i on the i-th of P equal intervals of [0, T];
//   exponential:  rpm(t) = F (1 + x_{i+1} exp(-t / tau)), tau = 5 h |x_1|
//                 (at least 0.5 h), i the interval of P - 1 equal ones;
// both F after T, optionally rounded to a step, clamped to 3000..50000 rpm.
//
// Parameters, column and species come from CurrentTimeToEqParams(); x lives
// in its profileParameters.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "numerics/arrays.h"

class CApproachToEqSim;
class FitHost;
struct TimeToEqParams;

struct SpeedProfileOptimizerState {
  // The simulation of the last evaluated programme.
  std::unique_ptr<CApproachToEqSim> trial;
  // Whether trial ran to the end; the vector it was built from.
  bool trialValid = false;
  std::vector<float> trialX;
  float optimisationTime = 50000;  // s, simulated duration of every trial
  int nSpecies = 0;
  std::vector<float> fraction, s, D;  // [1..nSpecies]
  int evaluations = 0;      // of the current Nelder-Mead call, as it counts them
  int objectiveCalls = 0;   // simulations since the optimisation began
  int restarts = 0;         // restarts of the last OptimizeSpeedProfile
  bool penalty = false;     // only while Nelder-Mead searches
  bool returnPenalty = true;
  bool annealing = false;   // AnnealSpeedProfile (and its refinement) runs
  float startValue = 0;     // h, objective of the starting programme
  float bestValue = 1e10f;  // lowest objective so far
  // Bounds that let an unattended search end: the objective moves in steps
  // of the stored-profile interval, so parameters may never settle.
  int maxRestarts = 12;
  int maxObjectiveCalls = 600;
  // Draws the trial's deviation and speed course as the progress plot
  // (installed by the window; absent headless).
  std::function<void(const CApproachToEqSim& trial, float hours)> drawProgressPlot;
};
SpeedProfileOptimizerState& SpeedProfileOptimizer();

inline constexpr float kFailedObjective = 1e10f;
inline constexpr float kProgressRange = 0.1f;   // y range of the progress plot
inline constexpr float kProgressTopRpm = 35000; // drawn at the top of that range
inline constexpr float kDecayTimeScale = 5.0f;  // h per unit of x_1
inline constexpr float kLowestFirstParameter = 0.2f;

// The starting simplex p[1..n+1][1..n] around x[1..n]: vertex 1 is x, the
// others scatter by Gaussian deviates of 0.15 x (plus 0.15 where they come
// out below 0.15 in size); their first parameter is raised to
// kLowestFirstParameter, and with raiseFirst that of vertex 1 too.
void ScatterSpeedProfileSimplex(float** p, const float* x, int n, bool raiseFirst);

// Stores the duration of the trials and their species (1-based arrays),
// clears the optimised time, makes x (all 1) when absent.
void SetOptimizationBase(float tConstSeconds, int n, const float* fraction, const float* s,
                         const float* D);

// Speed (rpm) of the programme x at t (s).
float SpeedAtTime(const TimeToEqParams& p, const float* x, float t, bool rounding, float roundTo);

// The programme of x: steps at times (s) ramping at accs (rpm/s) to rpms,
// ordered in time, the last one reaching the final speed at the overspeed
// time. In just-run mode the chosen speed file instead.
bool BuildSpeedProfileFromParameters(const TimeToEqParams& p, const float* x, int& n, FloatVec& times,
                                     FloatVec& rpms, FloatVec& accs, bool rounding, float minStep);

// A speed-steps file, or an instrument method file (converted beside it
// into "speedsteps.txt" first). One step is a valid programme.
bool ReadSpeedStepsForRun(const std::string& path, int& n, FloatVec& times, FloatVec& rpms,
                          FloatVec& accs);

// Builds sim's grid for hours of the planning column, gives it the solution
// and the initial condition of the parameters (history, initial speed or
// step). Refused: the column or species cannot be simulated (sim.refusal
// says why); NoStart: the initial condition could not be formed.
enum class PlanningStart { Ready, Refused, NoStart };
PlanningStart SetupPlanningSimulation(CApproachToEqSim& sim, FitHost* window, float hours, int nSpecies,
                             const float* fraction, const float* s, const float* D);

// Time to equilibrium (h) of the programme x with the penalties; 1e10 when
// it cannot be built or simulated.
float SimulateSpeedProfileObjective(float* x, FitHost* window);

// Minimises the objective from the record's x and leaves the best vector
// there; false without a window.
bool OptimizeSpeedProfile(FitHost* window);

// Downhill simplex over p[1..P+1][1..P] with values y (all evaluated);
// the best vertex ends in slot 1 when it converges.
void NelderMeadSpeedProfile(FitHost* window, float** p, float* y, int P, float ftol, int& evaluations);

// Status line and (for a new best) progress plot of x.
void PlotTimeToEqProgress(float value, float* x, FitHost* window);

// Simplex annealing over the fit engine's temperature schedule, then a
// plain refinement from the best point found.
bool AnnealSpeedProfile(FitHost* window);
void AnnealSpeedProfileStep(float temperature, FitHost* window, float** p, float* y, int n, float* pb,
                            float* yb, float ftol, int& budget);

// The status line of the progress display.
std::string TimeToEqProgressText(const TimeToEqParams& p, float value, const float* x);
