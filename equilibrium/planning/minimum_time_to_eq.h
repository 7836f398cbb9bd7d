#pragma once
// The run planner: the approach to equilibrium at constant final speed,
// then the overspeed programme that reaches the same equilibrium sooner
// (or, in just-run mode, the programme of a chosen speed file), with the
// result files written beside the result path.
#include <string>

class FitHost;

struct MinimumTimeToEqOutcome {
  float constantHours = 0;   // time to equilibrium at constant speed
  bool constantReached = false;  // the criterion was met within the simulated time
  float simulatedHours = 0;  // the constant-speed run's simulated time
  bool constantFailed = false;   // no constant-speed run (set-up, start or solver)
  float optimisedHours = 0;
  bool optimisedReached = false;
  bool trialFailed = false;  // the chosen programme could not be simulated
  bool cancelled = false;    // a prompt was cancelled
  bool trialShown = false;   // the plots may show the trial
  bool userStopped = false;  // a key ended the search: the best programme found is kept
};

// Runs the planning of CurrentTimeToEqParams() over maxHours and writes the
// files at resultPath. Returns the constant-speed time (h), 0 when stopped
// early (skipped completion, no start, a cancelled prompt), -1 when the
// constant-speed run failed; outcome tells the details.
float CalculateMinimumTimeToEq(FitHost* window, float maxHours, const std::string& resultPath,
                               MinimumTimeToEqOutcome& outcome);

// The summary line of a finished planning run.
std::string MinimumTimeToEqSummary(const MinimumTimeToEqOutcome& outcome, const std::string& resultPath);

// The larger of 1.5 x the closed-form estimates of the species of the
// planning parameters (the second only with its switch on), in hours.
float PlanningMaximumHours();
