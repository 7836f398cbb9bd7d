#pragma once
// Least-squares polynomial of order m through (x[i], y[i]), i = 1..n, in the
// shifted variable d = x - x[1]:
//   p(x) = sum_{j=1..m+1} c[j] (x - x[1])^(j-1),
// from the normal equations sum_i d_i^(j+k-2) c[k] = sum_i d_i^(j-1) y_i,
// solved by Cholesky. The M* analysis extrapolates signals and M* (radii in
// cm) with it; all arrays are one-based.

// The coefficients c[1..order+1] and the shift x0 = x[1]; false when the
// normal matrix is not positive definite (equal abscissae, n <= order).
// Callers make sure that n > order.
bool PolyfitCoefficients(int order, const double* x, const double* y, int n, double* c, double* x0);

// p at v from the coefficients of PolyfitCoefficients.
double PolyfitValue(int order, const double* c, double x0, double v);

// Fits and evaluates: ye[i] = p(xe[i]), i = 1..ne; with xb and yb given,
// yb[i] = p(xb[i]) for lo <= xb[i] <= hi and 0 elsewhere, i = 1..nb.
// order < 0 zeroes ye[1..ne] and touches nothing else. A failed solve shows
// "error in polyfit" and leaves ye and yb as they were.
void polyfit(int order, const double* x, const double* y, int n, const float* xe, float* ye, int ne,
             const float* xb, float* yb, int nb, float lo, float hi);
