#pragma once
// Straight-line least squares over 1-based arrays.

// Fits y = intercept + slope x over points 1..n by the normal-equation sums
// and returns the sum of squared residuals. With fewer than two distinct x
// the slope is undefined: the line is then the mean of y with slope 0, and
// *degenerate (when given) is set; n < 1 gives 0, 0 and a residual of 0.
double LinearFitWithResidual(float* intercept, float* slope, const float* x, const float* y, int n,
                             bool* degenerate = nullptr);
