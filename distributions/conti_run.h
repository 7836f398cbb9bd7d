#pragma once
// The c(s) run: grid, one species per grid point, their Lamm solutions as
// the kernels, the normal equations of the chosen noise model, the
// regularised non-negative solution, and the displayed distribution with
// the model, residual and noise arrays of the scans.
#include <functional>
#include <string>

// Time spent in the stages of the last run (s), for the benchmarks and the
// diagnostics log.
struct ContiRunTimings {
  double lamm = 0.0;
  double normalEquations = 0.0;
  double regularization = 0.0;
  double total = 0.0;
};
ContiRunTimings& LastContiRunTimings();

// Outside corrections the run consults (buffer sedimentation of the
// extended models). Off unless the layer that owns them switches them on.
struct ContiRunHooks {
  bool bufferCorrection = false;
  bool bufferConcentrationFitted = false;  // else fixed: kernel 1 enters with amplitude 1
  double bufferConcentration = 0.0;  // the run's result, element 1 of the solution
  // Writes the buffer signal into kernel column 1 after the grid species.
  std::function<void()> updateBufferSedimentation;
  // The fitted buffer concentration, handed back to the correction's record.
  std::function<void(double concentration)> bufferConcentrationSolved;
  // Equilibrium data: kernel column k holds the Boltzmann curves of buoyant
  // mass Mb (g/mol) and amplitude 1 instead of a Lamm solution.
  std::function<void(int k, double Mb)> equilibriumKernels;
};
ContiRunHooks& ContiHooks();

void RunContiSed();
// Distributions of DLS data are sums of g(1) kernels: when the sets hold
// g(2)-1 the user is asked to convert them; false when not converted.
bool DlsDataAsFieldAutocorrelation();
// The silent evaluation of a time-course window; false when stopped.
bool RunContiSedQuiet();
// Builds the normal equations for the current kernel block (pen colour 1
// blue, 2 purple for the progress line); false when none were built.
bool ContiNormalEquations(int penColour);
