#pragma once
// The c(s) run's hooks, in a file of their own below the run, the species
// lists and the model predicates that read them, so that none of these
// calls up into the run.
#include <functional>

class FitHost;

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
