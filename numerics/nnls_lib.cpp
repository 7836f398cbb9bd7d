#include "numerics/nnls_lib.h"

#include <cmath>

#include "platform/error_box.h"
#include "numerics/linear_solvers.h"

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
      if (!dcholdc(R, m, p)) {
        ErrorBox("matrix not positive definite in NNLS");
        result = dcholsolve(A, const_cast<double*>(b), n, x, p);
        if (limitOut) *limitOut = limit;
        if (iterationsOut) *iterationsOut = iterations;
        return result;
      }
      dcholsl(R, m, p, rb, zr);
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
