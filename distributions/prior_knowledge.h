#pragma once
// Prior knowledge for the regularised c(s): discrete species placed on the
// s grid, a prior imported from a KVD file, and the state of the prior
// dialog that chooses between a prior file, peaks and species.
//
// A discrete species of signal S at the weighted-average s value t (S) is
// placed on four consecutive grid points x0 < x1 < x2 < x3 as the
// piecewise-linear profile through (x0, 0), (x1, h + w), (x2, h - w),
// (x3, 0) with h = 2 S / ((x2 - x0) + (x3 - x1)), the trapezoid of area S.
// The tilt w moves the profile's centre of mass
//   F / A,  A = integral y ds,  F = integral s y ds
// onto t; the values h + w and h - w go to grid points j and j + 1.
#include <string>
#include <vector>

// The prior probability of the regularised distributions: whether one is in
// force, where it comes from, and what the prior dialog keeps between its
// runs. One record with the functions that change it, so that a run, the
// dialog and the discrete-species command never hold pieces of it that
// disagree.
struct PriorPeak {
  double location = 0.0, width = -1.0, amplitude = 0.0;
};
struct PriorKnowledge {
  // ---- in force
  bool use = false;              // the distribution is regularised against the prior
  bool discreteSpecies = false;  // the prior comes from the peaks of the current distribution
  bool imported = false;         // the prior is the table imported from a KVD file
  bool ffGaussians = false;      // c(s,f/f0): the f/f0 Gaussians give a prior over f/f0
  bool oneShot = false;          // the prior in force is dropped by the next run

  // ---- sources
  std::string priorFile;                     // two columns: abscissa, prior value; empty = none
  std::vector<double> importedX, importedY;  // 1-based imported table (entry 0 unused)
  PriorPeak peaks[11];                       // rows 1..10
  PriorPeak secondPeaks[11];                 // c(s,f/f0): over the 2-D abscissa

  // ---- the dialog's memory
  bool fileEverChosen = false;  // a prior file name was chosen once
  std::string parkedFile;       // a prior file switched off, kept to come back
  bool kvdFile = false;         // the "KVD file" box starts ticked
  bool collectMode = false;     // the discrete-species command only fills the peak table
  int collectCount = 0;         // rows it filled
};
PriorKnowledge& Priors();

// The user's choice: switching the prior on or off ends a one-shot prior,
// so the next run computes with what was chosen last.
void SwitchPriorOn();
void SwitchPriorOff();
// The prior in force (from discrete species) lives until the next run.
void KeepPriorUntilNextRun();
// Called by every run before it computes: drops a one-shot prior (prior
// and discrete-species switches off). True when it dropped one.
bool DropOneShotPrior();
// Whether the "Use Prior Probabilities" menu item carries its check mark.
bool PriorMenuChecked();

// The four nodes, the mean height and the target read by
// PriorBoundaryObjective.
struct PriorBoundaryProfile {
  double x0 = 0, x1 = 0, x2 = 0, x3 = 0;
  double h = 0;
  double target = 0;
};
PriorBoundaryProfile& CurrentPriorBoundaryProfile();

// F/A - target of the current profile at the tilt w; the target itself
// when the area is 0.
double PriorBoundaryObjective(double w);
// The same for a given profile.
double PriorBoundaryObjective(const PriorBoundaryProfile& p, double w);

// Places the species of signal S at the target s value t over grid[j-1..j+2]
// (1-based s grid in S) and writes its two values into values[j], values[j+1];
// 2h and 0 when grid[j] equals t. The tilt is the root of the objective in
// [-h, h] (tolerance 1e-4).
void PlaceDiscreteSpecies(const double* grid, int j, double S, double t, double* values);

// Parks a prior file in use, or brings a parked one back.
void ParkPriorFile();
void RestorePriorFile();

// The prior from a KVD file: a profile (rows 1..R-2, falling s) and two
// species (rows R-1, R: s and amplitude) over the current c(s) grid, plus
// 0.01 times the second amplitude everywhere. 1 when built; 0 after its
// message ("Could Not Open MaxEnt Prior File", "KV boundary out of
// s-range", or the model refusal).
int ImportMaxEntPriorFile(const std::string& path);

// The f/f0 Gaussians of the c(s,f/f0) prior: entries 1..10 of centre (f/f0),
// half-width and enhancement; an entry with a 0 ends the table.
struct FfGaussianTable {
  double centre[11] = {}, halfWidth[11] = {}, enhancement[11] = {};
};
FfGaussianTable& FfGaussians();
