#pragma once
// The direct boundary model of a g(s*) curve: every s* value is taken as a
// non-diffusing species of amount g(s*) ds that sediments from the
// meniscus, diluted radially: at scan j (omega^2 t_j) it adds
//   a_k exp(-2 omega^2 t_j s_k 1e-13)   for r >= meniscus exp(omega^2 t_j s_k 1e-13)
// (s in Svedberg, r in cm) to the model.
#include <functional>

class CCurve;

// What the step needs from the layers above: the systematic noise of the
// fixed model curves by the current noise model, and the redraw of the
// distribution plot in the ls-g*(s) mode.
struct DirectBoundaryHooks {
  std::function<void()> computeFixedNoise;
  std::function<void()> redrawDistribution;
  bool distributionPlotPresent = false;
};

DirectBoundaryHooks& DirectBoundary();

// curve: the g(s*) curve (x = s*, y = g, n points equally spaced in s*);
// the middle argument is not read.
void MakeDirectBoundaryModelFromGss(const CCurve& curve, int flag, int n);
