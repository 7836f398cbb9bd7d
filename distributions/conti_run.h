#pragma once
// The c(s) run: grid, one species per grid point, their Lamm solutions as
// the kernels, the normal equations of the chosen noise model, the
// regularised non-negative solution, and the displayed distribution with
// the model, residual and noise arrays of the scans.
#include <functional>
#include <string>

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
  // "Nonideal c(s)": the choice of the mean field before the grid is built,
  // the species list in its field (0 or the solver's error code; negative
  // when refused, its message shown), the field's refinement after the
  // normal equations, and the end of a run with TI or RI noise. Without
  // them the model is refused.
  std::function<void()> checkMeanField;
  std::function<int(int n, const double* s, const double* D, const double* vbar)> nonidealList;
  std::function<void()> refineMeanField;
  std::function<void()> endNonidealRun;
  // The main window's fit host, owner of the messages of the species lists'
  // solver errors (a too slow rotor acceleration leads to the timing
  // correction, which asks questions and may open the Lamm settings).
  // Without it the messages go to the program's plain boxes.
  std::function<FitHost*()> host;
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
// Solves the built normal equations with the chosen regularisation (Tikhonov
// scaling, maximum entropy, or both with the Tikhonov solution kept aside).
void SolveWithChosenRegularization();
