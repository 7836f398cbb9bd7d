#pragma once
// The solvers' stop at equilibrium. A step is quiet when it is long (at
// least kQuietStepLength s), its relative change per second is below the
// solver's tolerance and, at that rate, the profile could not change by
// more than kSteadyChange before the last scan either (a slow approach to
// equilibrium would otherwise stop percents short of it). Eleven quiet
// steps in a row are equilibrium.

inline constexpr int kQuietStepsForEquilibrium = 11;
inline constexpr double kQuietStepLength = 30.0;  // s
inline constexpr double kSteadyChange = 1e-5;     // relative change still allowed before the last scan

// dt: the step (s); ratePerSecond: its relative change per second;
// remaining: time left to the last scan (s).
inline bool IsQuietStep(double dt, double ratePerSecond, double tolerance, double remaining) {
  return dt >= kQuietStepLength && ratePerSecond < tolerance && ratePerSecond * remaining < kSteadyChange;
}

// Counts quiet steps in a row; any other step starts the count again.
class CQuietSteps {
 public:
  // True from the eleventh quiet step in a row on.
  bool Count(bool quiet) {
    run_ = quiet ? run_ + 1 : 0;
    return run_ >= kQuietStepsForEquilibrium;
  }

 private:
  int run_ = 0;
};
