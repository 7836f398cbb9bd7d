#pragma once
// Least squares of the equilibrium model written out in full, for scans on
// shared radii: scan k = a_k exp(Mb sigma_k (r^2 - r0^2)) + tau(r) + beta_k,
// with a TI value tau at every radius and an RI offset beta per scan (beta_1
// = 0: a constant is shared by tau and the betas). The normal equations of
// the sparse design are assembled and solved by Cholesky in double.
#include <cmath>
#include <vector>

namespace eqtest {

struct LsqScans {
  std::vector<double> r;                 // radii in the fit range
  std::vector<std::vector<double>> y;    // y[k][i]
  std::vector<double> sigma;             // w^2 / (2RT) of each scan
  double r0 = 7.0;
  bool ti = true;                        // with a TI value per radius
};

// The rmsd at buoyant mass mb, amplitudes free of sign; *positive tells
// whether they all came out positive (the program keeps them so).
inline double LsqRmsd(const LsqScans& s, double mb, bool* positive = nullptr) {
  const int n = static_cast<int>(s.y.size()), p = static_cast<int>(s.r.size());
  const int nt = s.ti ? p : 0, cols = n + nt + (n - 1);
  std::vector<double> A(static_cast<size_t>(cols) * cols, 0.0), b(cols, 0.0);
  double yy = 0;
  auto at = [&](int i, int j) -> double& { return A[static_cast<size_t>(i) * cols + j]; };
  for (int k = 0; k < n; ++k)
    for (int i = 0; i < p; ++i) {
      int idx[3];
      double val[3];
      int m = 0;
      idx[m] = k;
      val[m++] = std::exp(mb * s.sigma[k] * (s.r[i] * s.r[i] - s.r0 * s.r0));
      if (s.ti) {
        idx[m] = n + i;
        val[m++] = 1.0;
      }
      if (k > 0) {
        idx[m] = n + nt + k - 1;
        val[m++] = 1.0;
      }
      const double y = s.y[k][i];
      yy += y * y;
      for (int u = 0; u < m; ++u) {
        b[idx[u]] += val[u] * y;
        for (int v = 0; v < m; ++v) at(idx[u], idx[v]) += val[u] * val[v];
      }
    }
  // Cholesky A = L L^T in place (lower triangle), then the solution.
  for (int j = 0; j < cols; ++j) {
    double d = at(j, j);
    for (int q = 0; q < j; ++q) d -= at(j, q) * at(j, q);
    at(j, j) = std::sqrt(d);
    for (int i = j + 1; i < cols; ++i) {
      double v = at(i, j);
      for (int q = 0; q < j; ++q) v -= at(i, q) * at(j, q);
      at(i, j) = v / at(j, j);
    }
  }
  std::vector<double> z(cols), x(cols);
  for (int i = 0; i < cols; ++i) {
    double v = b[i];
    for (int q = 0; q < i; ++q) v -= at(i, q) * z[q];
    z[i] = v / at(i, i);
  }
  for (int i = cols - 1; i >= 0; --i) {
    double v = z[i];
    for (int q = i + 1; q < cols; ++q) v -= at(q, i) * x[q];
    x[i] = v / at(i, i);
  }
  if (positive) {
    *positive = true;
    for (int k = 0; k < n; ++k) *positive = *positive && x[k] > 0;
  }
  // Residual sum of squares = y.y - x.b at the solution.
  double xb = 0;
  for (int i = 0; i < cols; ++i) xb += x[i] * b[i];
  const double ssr = yy - xb;
  return std::sqrt(std::max(ssr, 0.0) / (static_cast<double>(n) * p));
}

// The buoyant mass of the least rmsd in [lo, hi]: a scan in 1 % steps, then
// golden sections around the best step.
inline double LsqMinimum(const LsqScans& s, double lo, double hi, double* rmsd = nullptr) {
  double best = lo, bestValue = LsqRmsd(s, lo);
  for (double m = lo * 1.01; m <= hi; m *= 1.01) {
    const double v = LsqRmsd(s, m);
    if (v < bestValue) {
      bestValue = v;
      best = m;
    }
  }
  double a = best / 1.01, c = best * 1.01;
  const double g = 0.5 * (std::sqrt(5.0) - 1);
  for (int it = 0; it < 40; ++it) {
    const double x1 = c - g * (c - a), x2 = a + g * (c - a);
    if (LsqRmsd(s, x1) < LsqRmsd(s, x2))
      c = x2;
    else
      a = x1;
  }
  const double m = 0.5 * (a + c);
  if (rmsd) *rmsd = LsqRmsd(s, m);
  return m;
}

}  // namespace eqtest
