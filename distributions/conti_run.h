#pragma once
// The c(s) run: grid, one species per grid point, their Lamm solutions as
// the kernels, the normal equations of the chosen noise model, the
// regularised non-negative solution, and the displayed distribution with
// the model, residual and noise arrays of the scans.
#include <cstdint>
#include <string>
#include <vector>

#include "distributions/conti_run_hooks.h"

class FitHost;

// Time spent in the stages of the last run (s), for the benchmarks and the
// diagnostics log.
struct ContiRunTimings {
  double lamm = 0.0;
  double normalEquations = 0.0;
  double regularization = 0.0;
  double total = 0.0;
};
ContiRunTimings& LastContiRunTimings();

void RunContiSed();

// The distribution on the screen before a Run sets its grid up again, 1-D
// and c(s,f/f0) alike: a Run the user stops shows it again, on the grid it
// had, rather than the cleared arrays of the new set-up.
struct ShownDistribution {
  bool kept = false;
  int n = 0, n2 = 0, nf = 0;
  uint8_t show2D = 0;
  std::vector<float> s, M, c, companion;
  std::vector<float> amplitude2D, M2D, s2D, ff2D, D2D, stokes2D, ff;
  void Keep();
  // The arrays of the kept grid (made again when the Run replaced them),
  // their values and the plot drawn from them.
  void PutBack() const;

 private:
  static void Copy(std::vector<float>& to, const float* from, int count);
  static void Back(const std::vector<float>& from, float* to);
};
// The time a Run command may take (s): past it the Run ends as if stopped,
// shows the distribution from before it and says so.
constexpr double kRunTimeBoundSeconds = 1800.0;
constexpr const char* kRunTimeBoundText =
    "the Run did not end in 30 minutes and was stopped: the distribution shown before it is kept";
// Distributions of DLS data are sums of g(1) kernels: when the sets hold
// g(2)-1 the user is asked to convert them; false when not converted.
bool DlsDataAsFieldAutocorrelation();
// The silent evaluation of a time-course window; false when stopped.
bool RunContiSedQuiet();
// Builds the normal equations for the current kernel block (pen colour 1
// blue, 2 purple for the progress line); false when none were built.
bool ContiNormalEquations(int penColour);
// Solves the built normal equations with the chosen regularisation (Tikhonov
// scaling, maximum entropy, or both with the Tikhonov solution kept aside).
void SolveWithChosenRegularization();
