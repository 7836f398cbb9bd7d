#include "numerics/nnls_lib.h"

#include <cmath>

#include "platform/error_box.h"
#include "numerics/linear_solvers.h"

namespace {

// In-place Cholesky of R[1..m][1..m] (upper triangle read, L written below
// the diagonal, its diagonal into p); false when a diagonal sum is not
// positive.
bool Factor(double** R, int m, double* p) {
  for (int i = 1; i <= m; ++i)
    for (int j = i; j <= m; ++j) {
      double sum = R[i][j];
      for (int k = i - 1; k >= 1; --k) sum -= R[i][k] * R[j][k];
      if (i == j) {
        if (!(sum > 0)) return false;
        p[i] = std::sqrt(sum);
      } else {
        R[j][i] = sum / p[i];
      }
    }
  return true;
}

void Solve(double** R, int m, const double* p, const double* b, double* x) {
  for (int i = 1; i <= m; ++i) {
    double sum = b[i];
    for (int k = i - 1; k >= 1; --k) sum -= R[i][k] * x[k];
    x[i] = sum / p[i];
  }
  for (int i = m; i >= 1; --i) {
    double sum = x[i];
    for (int k = i + 1; k <= m; ++k) sum -= R[k][i] * x[k];
    x[i] = sum / p[i];
  }
}

}  // namespace

bool NNLSLib(int n, int* P, double* x, double* w, const double* b, double** A, double* rb,
             double** R, double* z, double* zr, double* p, double* limitOut,
             double* iterationsOut) {
  const double limit = static_cast<double>(n) * n;
  double iterations = 0;
  bool result = true;
  for (int i = 1; i <= n; ++i) {
    P[i] = 0;
    x[i] = 0;
  }
  for (;;) {
    iterations += 1;
    if (iterations > limit) {
      ErrorBox("max #iteration exceeded in NNLS");
      dcholsolve(A, const_cast<double*>(b), n, x, p);
      for (int i = 1; i <= n; ++i)
        if (x[i] < 0) x[i] = 0;
      result = false;
      break;
    }
    int t = 0;
    for (int i = 1; i <= n; ++i) {
      double s = b[i];
      for (int j = 1; j <= n; ++j) s -= A[i][j] * x[j];
      w[i] = s;
      if (!P[i] && w[i] > 1e-10 && (t == 0 || w[i] > w[t])) t = i;
    }
    if (t == 0) break;
    P[t] = 1;
    bool firstSolve = true;
    for (;;) {
      int m = 0;
      for (int i = 1; i <= n; ++i) {
        if (!P[i]) continue;
        ++m;
        int l = 0;
        for (int j = 1; j <= n; ++j) {
          if (!P[j]) continue;
          R[m][++l] = A[i][j];
        }
        rb[m] = b[i];
      }
      if (!Factor(R, m, p)) {
        ErrorBox("matrix not positive definite in NNLS");
        result = dcholsolve(A, const_cast<double*>(b), n, x, p);
        if (limitOut) *limitOut = limit;
        if (iterationsOut) *iterationsOut = iterations;
        return result;
      }
      Solve(R, m, p, rb, zr);
      for (int i = 1, k = 0; i <= n; ++i) z[i] = P[i] ? zr[++k] : 0.0;

      if (firstSolve && z[t] <= 0) break;  // x stays; t stays passive
      firstSolve = false;

      bool feasible = true;
      for (int i = 1; i <= n; ++i)
        if (P[i] && z[i] < 0) feasible = false;
      if (feasible) {
        for (int i = 1; i <= n; ++i) x[i] = z[i];
        break;
      }
      double alpha = 2;
      int limiting = 0;
      for (int i = 1; i <= n; ++i) {
        if (!P[i] || z[i] > 0 || !(x[i] - z[i] > 0)) continue;
        const double a = x[i] / (x[i] - z[i]);
        if (a < alpha) {
          alpha = a;
          limiting = i;
        }
      }
      if (limiting == 0) {  // no step limit: take the trial solution
        for (int i = 1; i <= n; ++i) x[i] = z[i] > 0 ? z[i] : 0;
        for (int i = 1; i <= n; ++i)
          if (P[i] && z[i] <= 0) P[i] = 0;
        break;
      }
      for (int i = 1; i <= n; ++i) x[i] += alpha * (z[i] - x[i]);
      // The limiting index always leaves, so the inner loop ends.
      x[limiting] = 0;
      for (int i = 1; i <= n; ++i) {
        if (P[i] && std::fabs(x[i]) < 1e-8) {
          P[i] = 0;
          x[i] = 0;
        }
        if (x[i] < 0) {
          x[i] = 0;
          P[i] = 0;
        }
      }
      bool any = false;
      for (int i = 1; i <= n; ++i) any = any || P[i];
      if (!any) break;
    }
  }
  if (limitOut) *limitOut = limit;
  if (iterationsOut) *iterationsOut = iterations;
  return result;
}
