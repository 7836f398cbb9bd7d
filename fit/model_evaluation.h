#pragma once
// Evaluation of the selected model over all loaded scans: the model curve of
// every scan for the current parameters. Discrete non-interacting species
// are solved one after the other, each by its own finite-element Lamm
// solver; the linear terms (amplitudes, TI and RI noise, baseline) follow
// algebraically. Signal units as loaded (OD, fringes); s in Svedberg, D in
// 1e-7 cm^2/s (or M in g/mol), radii in cm, times in s.
#include <functional>

#include "fit/fit_host.h"

class CLammIdeal;

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

// Loads one solver for species slot k with the current settings (output to
// the scans' own model arrays, or to slot k's curves on the common grid).
void LoadSpeciesSolver(CLammIdeal& solver, int k, double s, double D, double amplitude);

// The non-interacting discrete-species model.
void SimulateDiscreteSpecies(FitHost* host);
// The selected model over all scans.
void SimulateModel(FitHost* host);

// D (cm^2/s) of a slot from its entries: D = entry x 1e-7, or with the
// molar-mass parametrisation D = s 1e-13 R T / ((1 - vbar rho) M)
// (M <= 0 taken as 1e-10); always the magnitude.
double SpeciesDiffusion(float s, float massOrD);

// The slots of one evaluation, shared by the species loops of the solvers.
// First included slot of 1..n, 0 when none.
int FirstIncludedSpecies(int n);
// The buffer slot n: included, scaled by the buffer signal (with linear
// concentrations by 1, the signal then set to 1), its sedimentation updated.
void ScaleBufferSpecies(FitHost* host, int n, bool algebraic);
// Loading fraction f of included slot k: the first included slot takes what
// the others leave of 1 (the buffer slot not counted), the others their
// concentration entry; never negative.
double SpeciesFraction(int k, int first, int n, bool buffer);
// Amplitude f c_first of a slot (1 instead of 0 with linear concentrations),
// also stored as the slot's scale factor.
double SpeciesAmplitude(int k, int first, double f, bool algebraic);

// Set at every evaluation.
extern unsigned char gModelEvaluated;

// A fit host whose model evaluation is SimulateModel; windows and tools
// derive from it and add their drawing.
class CModelFitHost : public FitHost {
 public:
  void SimulateModel() override { ::SimulateModel(this); }
};
