#pragma once
// Tikhonov-Phillips regularisation at a confidence level P: the parameter
// alpha is searched (on x = ln(alpha/scale)) so that the chi-square of the
// regularised non-negative solution exceeds the best chi-square chi0 by the
// ratio F that P demands (F statistics with nu = nu1 = nu2), or by P itself
// when P > 1.

struct RegularizationState {
  double chiSquareReference = 0.0;  // chi0 of the unregularised solution
  double chiSquareCurrent = 0.0;    // chi-square of the solution in place
  double scale = 0.0;               // trace(A) / (6m - 12)
  float targetRatio = 0.0f;
  float degreesOfFreedom = 0.0f;    // nu
  float lastAlpha = 0.0f;
  float lastDeviation = 0.0f;
  float alphaFactor = 0.0f;         // exp(root)
  int amplitudes = 0;               // m
};

RegularizationState& Regularization();

// Leaves the regularised (or, where regularisation does not apply, the
// unregularised) amplitudes in the block's solution.
void ScaleRegularization();

// chi2(alpha)/chi0 - target at alpha = exp(min(x, 100)) * scale.
float RegularizationChiSquareDeviation(float x);
