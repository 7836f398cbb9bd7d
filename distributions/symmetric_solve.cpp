#include "distributions/symmetric_solve.h"

#include <cmath>
#include <vector>

namespace {

// Cholesky in place on w[1..n][1..n] (lower triangle); false on a
// non-positive pivot.
bool Cholesky(double** w, int n) {
  for (int j = 1; j <= n; ++j) {
    double s = w[j][j];
    for (int k = 1; k < j; ++k) s -= w[j][k] * w[j][k];
    if (!(s > 0.0)) return false;
    const double d = std::sqrt(s);
    w[j][j] = d;
    for (int i = j + 1; i <= n; ++i) {
      double t = w[i][j];
      const double* wi = w[i];
      const double* wj = w[j];
      for (int k = 1; k < j; ++k) t -= wi[k] * wj[k];
      w[i][j] = t / d;
    }
  }
  return true;
}

void CholeskySolve(double** w, int n, const double* b, double* x) {
  for (int i = 1; i <= n; ++i) {
    double s = b[i];
    for (int k = 1; k < i; ++k) s -= w[i][k] * x[k];
    x[i] = s / w[i][i];
  }
  for (int i = n; i >= 1; --i) {
    double s = x[i];
    for (int k = i + 1; k <= n; ++k) s -= w[k][i] * x[k];
    x[i] = s / w[i][i];
  }
}

// Gaussian elimination with partial pivoting on a copy; false if singular.
bool Eliminate(double** a, const double* b, int n, double* x, double** w) {
  std::vector<double> r(static_cast<size_t>(n) + 1);
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) w[i][j] = a[i][j];
    r[i] = b[i];
  }
  for (int c = 1; c <= n; ++c) {
    int piv = c;
    for (int i = c + 1; i <= n; ++i)
      if (std::fabs(w[i][c]) > std::fabs(w[piv][c])) piv = i;
    if (w[piv][c] == 0.0) return false;
    if (piv != c) {
      std::swap(w[piv], w[c]);
      std::swap(r[piv], r[c]);
    }
    for (int i = c + 1; i <= n; ++i) {
      const double f = w[i][c] / w[c][c];
      if (f == 0.0) continue;
      for (int j = c; j <= n; ++j) w[i][j] -= f * w[c][j];
      r[i] -= f * r[c];
    }
  }
  for (int i = n; i >= 1; --i) {
    double s = r[i];
    for (int j = i + 1; j <= n; ++j) s -= w[i][j] * x[j];
    x[i] = s / w[i][i];
  }
  return true;
}

}  // namespace

int dcholsolve(double** a, const double* b, int n, double* x, double** work) {
  // The row pointers of work may be permuted by the elimination; keep them.
  std::vector<double*> rows(work, work + n + 1);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= i; ++j) work[i][j] = a[i][j];
  if (Cholesky(work, n)) {
    CholeskySolve(work, n, b, x);
    return 1;
  }
  const bool ok = Eliminate(a, b, n, x, work);
  for (int i = 0; i <= n; ++i) work[i] = rows[i];
  if (!ok)
    for (int i = 1; i <= n; ++i) x[i] = 0.0;
  return 0;
}

int SolveNormalEquationsD(double** a, const double* b, int n, double* x, double** work,
                          int* keep) {
  // A vanished row stands for a variable held out of the solve: it gets a
  // unit diagonal and a zero right-hand side, so its unknown comes out 0.
  bool reduced = false;
  for (int i = 1; i <= n; ++i) {
    bool any = false;
    for (int j = 1; j <= n && !any; ++j) any = a[i][j] != 0.0;
    keep[i] = any ? 1 : 0;
    reduced = reduced || !any;
  }
  if (!reduced) return dcholsolve(a, b, n, x, work);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= i; ++j) work[i][j] = (keep[i] && keep[j]) ? a[i][j] : (i == j ? 1.0 : 0.0);
  std::vector<double> rb(b, b + n + 1);
  for (int i = 1; i <= n; ++i)
    if (!keep[i]) rb[i] = 0.0;
  if (Cholesky(work, n)) {
    CholeskySolve(work, n, rb.data(), x);
    return 1;
  }
  // Rare: the full elimination on a symmetric copy of the reduced system.
  std::vector<double> store(static_cast<size_t>(n + 1) * (n + 1));
  std::vector<double*> rows(static_cast<size_t>(n) + 1);
  for (int i = 0; i <= n; ++i) rows[i] = store.data() + static_cast<size_t>(i) * (n + 1);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j)
      rows[i][j] = (keep[i] && keep[j]) ? a[i][j] : (i == j ? 1.0 : 0.0);
  return dcholsolve(rows.data(), rb.data(), n, x, work);
}
