#include "numerics/linear_fit.h"

double LinearFitWithResidual(float* intercept, float* slope, const float* x, const float* y, int n,
                             bool* degenerate) {
  double sx = 0, sxx = 0, sy = 0, sxy = 0;
  bool distinct = false;
  for (int i = 1; i <= n; ++i) {
    sx += x[i];
    sxx += static_cast<double>(x[i]) * x[i];
    sy += y[i];
    sxy += static_cast<double>(x[i]) * y[i];
    if (x[i] != x[1]) distinct = true;
  }
  double a = 0, b = 0;
  const double denominator = n * sxx - sx * sx;
  // Equal x make the denominator zero, or a rounding residue of either sign.
  const bool flat = n < 1 || !distinct || !(denominator > 0);
  if (n >= 1 && flat) {
    a = sy / n;
  } else if (!flat) {
    b = (n * sxy - sx * sy) / denominator;
    a = (sy - b * sx) / n;
  }
  if (degenerate) *degenerate = flat;
  *intercept = static_cast<float>(a);
  *slope = static_cast<float>(b);
  double ssr = 0;
  for (int i = 1; i <= n; ++i) {
    const double r = y[i] - (a + b * x[i]);
    ssr += r * r;
  }
  return ssr;
}
