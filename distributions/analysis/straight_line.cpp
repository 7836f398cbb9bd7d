#include "distributions/analysis/straight_line.h"

#include <algorithm>

bool FitStraightLine(float* intercept, float* slope, const float* x, const float* y, int n) {
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  float lo = n >= 1 ? x[1] : 0.0f, hi = lo;
  for (int i = 1; i <= n; ++i) {
    sx += x[i];
    sy += y[i];
    sxx += static_cast<double>(x[i]) * x[i];
    sxy += static_cast<double>(x[i]) * y[i];
    lo = std::min(lo, x[i]);
    hi = std::max(hi, x[i]);
  }
  const double D = n * sxx - sx * sx;
  if (n < 2 || hi == lo || !(D > 0.0)) {
    *intercept = n >= 1 ? static_cast<float>(sy / n) : 0.0f;
    *slope = 0.0f;
    return false;
  }
  *intercept = static_cast<float>((sxx * sy - sx * sxy) / D);
  *slope = static_cast<float>((n * sxy - sx * sy) / D);
  return true;
}
