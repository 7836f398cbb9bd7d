#pragma once
// The hooks of the model evaluation, in a file of their own below every
// file of the evaluation: the scan output, the linear terms and the species
// loops reach them without calling up into the evaluation.
// s in Svedberg, D in cm^2/s, radii in cm, times in s.
#include <functional>

class CLammIdeal;
class FitHost;

// Corrections and models owned by layers above the fit engine, reached
// through these calls; each does nothing (or answers "off") until set.
struct ModelEvaluationHooks {
  // Nonlinear detection: transform of the data (mode 1 while simulating,
  // then the stored mode) and the inverse on the models.
  std::function<void(int mode)> nonlinearTransform;
  std::function<void()> nonlinearInverse;
  // Buffer sedimentation: on/off, its signal value, and the update that
  // writes the buffer's contribution into the models.
  std::function<bool()> bufferSedimentationOn;
  std::function<double&()> bufferSignal;
  std::function<void(FitHost*)> updateBufferSedimentation;
  // Fluorescence-detection options and the inhomogeneous solvent, handed to
  // each solver before its run.
  std::function<void(CLammIdeal&)> applySolverOptions;
  // Set once a plot refresh is due.
  std::function<void()> markPlotsForRefresh;
  // Draws scan j's model in the colour of species k while a global-array
  // solver runs with the live display.
  std::function<void(int scan, int species)> drawScanModel;
  // Global-array static-grid solver of the per-species evaluation: the
  // current species (its s, D and amplitude already on the grid and in the
  // run state) from the grid's initial concentration; returns a CLammIdeal
  // result code.
  std::function<int()> simulateStaticGridLamm;
  // Sharp-boundary curve of a species without diffusion: plateau
  // c0 exp(-2 k t) behind the boundary m exp(k t), k = s w^2 (1/s), on the
  // scan's radii (cm) at time t (s).
  std::function<void(float c0, double t, double k, const float* r, float* out, int n)>
      sharpBoundaryCurve;
  // f/f0 of a species from s (S) and D (cm^2/s) at the solution conditions.
  std::function<double(double s, double D)> frictionalRatio;
  // Equilibrium data: the Boltzmann curves of species slot k with buoyant
  // mass Mb (g/mol) and its amplitude, into the models or the slot's curves;
  // unset while the equilibrium models are not installed.
  std::function<void(int k, double Mb, double amplitude)> equilibriumCurves;
  // The reacting system A + B <-> AB: its evaluation, whether its flux
  // tables read the keys during a run (the scan output then leaves them),
  // and its signal, refreshed before a scan is stored.
  std::function<void(FitHost*)> simulateHeteroAssociation;
  std::function<bool()> heteroAssociationKeysTaken;
  std::function<void()> heteroAssociationSignal;
};
ModelEvaluationHooks& CurrentModelEvaluationHooks();

// Defaults of the hooks that the per-species branch uses.
void SharpBoundaryCurveSector(float c0, double t, double k, const float* r, float* out, int n);
double FrictionalRatioFromSD(double s, double D);
