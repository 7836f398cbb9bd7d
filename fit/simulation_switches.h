#pragma once
// Switches of the model evaluation that the fit drivers save, change and
// restore around a fit.
struct SimulationSwitches {
  // While on, the evaluation redraws the plots as it goes (a single Run).
  unsigned char redrawDuringSimulation = 0;
  // The "change grid size and readjust max dc/c" box was shown in this fit.
  unsigned char discretizationWarningShown = 0;
  // The inhomogeneous-solvent box of a concentration-dependent model (or of
  // a species without diffusion) was shown in this fit.
  unsigned char inhomogeneousWarningShown = 0;
  // The last simulation ran on the static-grid Lamm solver (its progress and
  // report texts differ in trailing blanks); cleared by Run.
  unsigned char staticGridSolverRan = 0;
  // Every simulated species is a constant signal: the amplitude solves that
  // need a curve shape are skipped.
  unsigned char constantSignal = 0;
};

extern SimulationSwitches gSimulationSwitches;
