#include "lamm/coefficients/mass_action.h"

#include <algorithm>
#include <cmath>

// Taken as 2ab / (B + sqrt(B^2 - 4ab)) with B = a + b + 1/K, so that it stays
// exact when ab is small against B^2 (weak binding), where the textbook
// (B - sqrt(...)) / 2 cancels to nothing.
double SmallerComplexRoot(double a, double b, double K) {
  if (!(a > 0) || !(b > 0) || !(K > 0) || !std::isfinite(a) || !std::isfinite(b)) return 0.0;
  const double B = a + b + 1.0 / K;
  const double disc = std::max(0.0, B * B - 4.0 * a * b);
  return 2.0 * a * b / (B + std::sqrt(disc));
}
