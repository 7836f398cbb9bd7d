#pragma once
// Loading a distribution from a two-column file (synthetic data), the test
// whether the c(s,f/f0) kernels must be rebuilt, the prior probability over
// the grid, and the s grid that is linear up to a minimum s-value and grows
// in proportion to s above it.
#include <string>
#include <vector>

// The sources of the prior probability (the prior dialog's state).
struct PriorPeak {
  double location = 0.0, width = -1.0, amplitude = 0.0;
};
struct PriorSources {
  std::string priorFile;                  // two columns: abscissa, prior value; empty = none
  std::vector<double> importedX, importedY;  // 1-based imported table (entry 0 unused)
  PriorPeak peaks[11];                    // rows 1..10
  PriorPeak secondPeaks[11];              // c(s,f/f0): over the 2-D abscissa
};
PriorSources& Priors();

bool LoadDistributionFromFile(const std::string& path);
bool ContiFF0GridChanged();
int AssemblePriorProbability();
void MakeMixedLogGrid(float* out, float smin, float smax, float sm, int n);
int GrowGridFrom(float* x, int nmax, int m, float smin, float smax, float sm, int* first);
