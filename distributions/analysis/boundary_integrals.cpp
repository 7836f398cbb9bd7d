#include "distributions/analysis/boundary_integrals.h"

#include <algorithm>
#include <cmath>

namespace {

// Interpolant of interval [x_i, x_i+1] at u.
double Interpolate(const float* x, const float* y, int i, double u) {
  const double dx = static_cast<double>(x[i + 1]) - x[i];
  if (dx == 0.0) return y[i];
  return y[i] + (u - x[i]) * (static_cast<double>(y[i + 1]) - y[i]) / dx;
}

double Integral(const float* x, const float* y, double a, double b, int n) {
  double sum = 0.0;
  for (int i = 1; i < n; ++i) {
    const double lo = std::max(a, static_cast<double>(x[i]));
    const double hi = std::min(b, static_cast<double>(x[i + 1]));
    if (hi <= lo) continue;
    sum += (hi - lo) * (Interpolate(x, y, i, lo) + Interpolate(x, y, i, hi)) / 2.0;
  }
  return sum;
}

}  // namespace

float IntegrateTrapezoid(const float* x, const float* y, float a, float b, int n) {
  if (a > b) return -IntegrateTrapezoid(x, y, b, a, n);
  if (n < 2 || a == b || a >= x[n] || b <= x[1]) return 0.0f;
  return static_cast<float>(Integral(x, y, std::max(a, x[1]), std::min(b, x[n]), n));
}

float InverseCumulativeIntegral(float area, const float* x, const float* y, float x1, float xStart,
                                int n) {
  if (n < 1) return 0.0f;
  if (n < 2) return x[1];
  int i = 1;
  while (i < n && x[i] < xStart) ++i;
  // Running integral from x1 to x_i, one interval at a time.
  double F = Integral(x, y, x1, x[i], n);
  if (F > area) return x[i];
  for (; i < n; ++i) {
    const double from = std::max(static_cast<double>(x1), static_cast<double>(x[i]));
    const double next = F + (x[i + 1] > from ? Integral(x, y, from, x[i + 1], n) : 0.0);
    if (next > area) break;
    F = next;
  }
  if (i >= n) return x[n];
  const double dx = static_cast<double>(x[i + 1]) - x[i];
  const double k = dx != 0.0 ? (static_cast<double>(y[i + 1]) - y[i]) / dx : 0.0;
  const double rest = area - F;
  const double yi = y[i];
  const double root = std::sqrt(std::max(0.0, yi * yi + 2.0 * k * rest));
  const double denominator = yi + root;
  if (!(denominator > 0.0)) return x[i];
  const double u = x[i] + 2.0 * rest / denominator;
  return static_cast<float>(std::clamp(u, static_cast<double>(x[i]), static_cast<double>(x[i + 1])));
}
