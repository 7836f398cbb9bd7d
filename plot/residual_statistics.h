#pragma once
// The residual statistics beside the residual plot: a histogram of the
// residuals over +-5 rmsd with the least-squares scaled Gaussian.

// Histogram of the residuals inside the fit limits, bins over +-5 rmsd.
// Each non-null output receives a new 1-based float array of n entries
// (free_vector(p, 1, n)); returns n, or 0 (outputs untouched) for DLS data,
// no scans or an rmsd of 0.
int ComputeResidualStatistics(float** centres, float** lower, float** upper, float** counts, float** gauss,
                              float* misfit);
