#pragma once
// A finished Lamm solution on the solver's own radii becomes row k of the
// kernel block (the current scan of the module) on the data's radial grid.
// Source arrays are 1-based, radii in cm.

// The scan (1-based) whose kernel rows the transfers write; the list runs set 1.
int& KernelTransferScan();
// True while a synthetic data set is generated: destination is scan 1's radii.
bool& KernelTransferSynthetic();

void StoreGridPointSolution(int k, const double* radii, const double* values, int nSource);
void StoreGridPointSolutionF(int k, const double* radii, const float* values, int nSource);
