#pragma once
#include <string>

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
  int trials = 0;                   // solves of the last search of alpha
  // Said when the last search (Tikhonov-Phillips or maximum entropy) ended
  // at a limit of its own rather than at the ratio it looked for (empty
  // otherwise).
  std::string limitNote;
  // The error box that search showed on ending there, when it showed one:
  // a report of that limit, not of a failed computation.
  std::string limitBox;
};

// The bracket of the search on x = ln(alpha/scale): alpha*H vanishes against
// A in double precision below the lowest x, alpha is capped at exp(100)*scale
// above the highest, and the search (steps of 1 from ln(1e-7), turning back
// once) needs at most the steps to cross that range twice.
constexpr float kRegularizationLowestX = -40.0f;
constexpr float kRegularizationHighestX = 101.0f;
constexpr int kRegularizationBracketSteps = 2 * 141 + 10;

RegularizationState& Regularization();

// Leaves the regularised (or, where regularisation does not apply, the
// unregularised) amplitudes in the block's solution.
void ScaleRegularization();

// chi2(alpha)/chi0 - target at alpha = exp(min(x, 100)) * scale.
float RegularizationChiSquareDeviation(float x);
