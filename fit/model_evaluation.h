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

// For as long as it lives (the annealing schedule), a discrete species far
// out in s costs no more than one near the data. Such a schedule walks
// species to the ends of their s range, where the moving frame the solver
// chooses for a large s takes a step per element the boundary travels
// (tens of thousands over the run). A species that has left the fit range
// before the first scan (CLammIdeal::FitRangeEmptyInEveryScan) is not
// solved: its curves are 0 in every scan, which is all the fit reads of it.
// Nor is one whose fit range lies in the plateau in every scan, neither end
// of the cell reaching it (CLammIdeal::FitRangeInPlateauInEveryScan): its
// curves there are the closed form c0 exp(-2 s w^2 t), where the solver
// would follow a boundary the fit does not see (over featureless scans the
// schedule walks a species of s near 0 to the smallest D of its range, its
// boundary at the meniscus as steep as the range allows).
// One that has crossed the cell and collects in a layer wider than the
// grid's spacing is solved on the static grid
// (CLammIdeal::SetWideEndLayersOnStaticGrid). The result's own evaluation,
// outside the scope, solves every species as any other evaluation does.
class OutlyingSpeciesScope {
 public:
  OutlyingSpeciesScope();
  ~OutlyingSpeciesScope();
  OutlyingSpeciesScope(const OutlyingSpeciesScope&) = delete;
  OutlyingSpeciesScope& operator=(const OutlyingSpeciesScope&) = delete;
};
// Species the evaluations under such a scope took as gone, not solving them.
long UnsolvedEmptySpeciesCount();
// Species they wrote from the plateau's closed form.
long PlateauSpeciesCount();

// For as long as it lives (one annealing fit, its finishing pass
// included), a species is solved once for each set of settings it is run
// with (CLammIdeal::PlainRunKey): solved again with the same, its curves on
// the common grid are those the solver wrote the first time, bit for bit,
// taken from memory; solved at another loading (with linear amplitudes,
// the one the last evaluation left), those curves in proportion to it,
// as the solver writes them within its rounding. A fit moves one species
// of several at a time in many
// of its evaluations (each derivative of Levenberg-Marquardt, each trial
// of the end check), and holds a species at the end of its range while the
// others move: the species it did not move were solved anew at every such
// evaluation. Bounded: the curves of the kMemoSpecies species used last,
// and at most kMemoBytes of them.
class SpeciesSolveMemoScope {
 public:
  SpeciesSolveMemoScope();
  ~SpeciesSolveMemoScope();
  SpeciesSolveMemoScope(const SpeciesSolveMemoScope&) = delete;
  SpeciesSolveMemoScope& operator=(const SpeciesSolveMemoScope&) = delete;
  static constexpr int kMemoSpecies = 32;
  static constexpr size_t kMemoBytes = size_t{64} << 20;
};
// Species the evaluations under such a scope took from memory.
long MemoisedSpeciesCount();

// Set at every evaluation.
extern unsigned char gModelEvaluated;

// A fit host whose model evaluation is SimulateModel; windows and tools
// derive from it and add their drawing.
class CModelFitHost : public FitHost {
 public:
  void SimulateModel() override { ::SimulateModel(this); }
};
