#pragma once
// Evaluation of the selected model over all loaded scans: the model curve of
// every scan for the current parameters. Discrete non-interacting species
// are solved one after the other, each by its own finite-element Lamm
// solver; the linear terms (amplitudes, TI and RI noise, baseline) follow
// algebraically. Signal units as loaded (OD, fringes); s in Svedberg, D in
// 1e-7 cm^2/s (or M in g/mol), radii in cm, times in s.
#include "fit/fit_host.h"
#include "fit/model_evaluation_hooks.h"

class CLammIdeal;

// Loads one solver for species slot k with the current settings (output to
// the scans' own model arrays, or to slot k's curves on the common grid).
void LoadSpeciesSolver(CLammIdeal& solver, int k, double s, double D, double amplitude);

// The non-interacting discrete-species model.
void SimulateDiscreteSpecies(FitHost* host);
// The selected model over all scans.
void SimulateModel(FitHost* host);

// Set at every evaluation.
extern unsigned char gModelEvaluated;

// A fit host whose model evaluation is SimulateModel; windows and tools
// derive from it and add their drawing.
class CModelFitHost : public FitHost {
 public:
  void SimulateModel() override { ::SimulateModel(this); }
};
