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

// What the prior dialog keeps between its runs beside Priors().
struct PriorDialogState {
  bool fileEverChosen = false;  // a prior file name was chosen once
  std::string parkedFile;       // a prior file switched off, kept to come back
  bool kvdFile = false;         // the "KVD file" box starts ticked
  bool collectMode = false;     // the discrete-species command only fills the peak table
  int collectCount = 0;         // rows it filled
};
PriorDialogState& PriorDialog();

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
