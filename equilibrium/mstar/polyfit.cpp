#include "equilibrium/mstar/polyfit.h"

#include <cmath>
#include <vector>

#include "platform/error_box.h"
#include "numerics/linear_solvers.h"

bool PolyfitCoefficients(int order, const double* x, const double* y, int n, double* c, double* x0) {
  if (order < 0 || n < 1) return false;
  const int m1 = order + 1;
  *x0 = x[1];
  std::vector<double> S(static_cast<size_t>(2 * order + 2), 0.0), T(static_cast<size_t>(m1 + 1), 0.0);
  for (int i = 1; i <= n; ++i) {
    const double d = x[i] - *x0;
    double power = 1.0;
    for (int k = 1; k <= 2 * order + 1; ++k) {
      S[static_cast<size_t>(k)] += power;
      if (k <= m1) T[static_cast<size_t>(k)] += power * y[i];
      power *= d;
    }
  }
  std::vector<double> storage(static_cast<size_t>((m1 + 1) * (m1 + 1)), 0.0);
  std::vector<double*> rows(static_cast<size_t>(m1 + 1));
  for (int j = 0; j <= m1; ++j) rows[static_cast<size_t>(j)] = storage.data() + j * (m1 + 1);
  double** a = rows.data();
  for (int j = 1; j <= m1; ++j)
    for (int k = 1; k <= m1; ++k) a[j][k] = S[static_cast<size_t>(j + k - 1)];
  std::vector<double> p(static_cast<size_t>(m1 + 1), 0.0);
  if (!dcholdc(a, m1, p.data())) return false;
  for (int j = 1; j <= m1; ++j)
    if (p[static_cast<size_t>(j)] == 0.0) return false;
  dcholsl(a, m1, p.data(), T.data(), c);
  for (int j = 1; j <= m1; ++j)
    if (!std::isfinite(c[j])) return false;
  return true;
}

double PolyfitValue(int order, const double* c, double x0, double v) {
  double sum = c[1];
  for (int j = 2; j <= order + 1; ++j) sum += c[j] * std::pow(v - x0, j - 1);
  return sum;
}

void polyfit(int order, const double* x, const double* y, int n, const float* xe, float* ye, int ne,
             const float* xb, float* yb, int nb, float lo, float hi) {
  if (order < 0) {
    for (int i = 1; i <= ne; ++i) ye[i] = 0.0f;
    return;
  }
  std::vector<double> c(static_cast<size_t>(order + 2), 0.0);
  double x0 = 0.0;
  if (!PolyfitCoefficients(order, x, y, n, c.data(), &x0)) {
    ErrorBox("error in polyfit");
    return;
  }
  for (int i = 1; i <= ne; ++i) ye[i] = static_cast<float>(PolyfitValue(order, c.data(), x0, xe[i]));
  if (!xb || !yb) return;
  for (int i = 1; i <= nb; ++i)
    yb[i] = (xb[i] >= lo && xb[i] <= hi) ? static_cast<float>(PolyfitValue(order, c.data(), x0, xb[i])) : 0.0f;
}
