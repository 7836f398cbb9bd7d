#include "distributions/mixed_grid.h"

#include "distributions/conti_context.h"
#include "numerics/arrays.h"

int GrowGridFrom(float* x, int nmax, int m, float smin, float smax, float sm, int* first) {
  for (int i = 1; i <= nmax; ++i) x[i] = smin + (i - 1) * (smax - smin) / (m - 1);
  int j = 1;
  while (j < nmax && !(x[j + 1] >= sm)) ++j;
  if (j >= nmax) return -1;
  const float h = (smax - smin) / (m - 1);
  float v = x[j] + h;
  int i = j + 1;
  while (v <= smax && i < m && i < nmax) {
    const float d = (v / sm) * h;
    x[i] = x[i - 1] + d;
    v = x[i] + d;
    x[i + 1] = v;
    ++i;
  }
  if (first) *first = j;
  return i;
}

void MakeMixedLogGrid(float* out, float smin, float smax, float sm, int n) {
  const int nmax = 2 * n;
  float* x = vector(1, nmax + 1);
  for (int i = 1; i <= n; ++i) x[i] = smin + (i - 1) * (smax - smin) / (n - 1);
  if (smin < sm && sm < smax && n >= 11) {
    int first = 0;
    int k = GrowGridFrom(x, nmax, n, smin, smax, sm, &first);
    int m = n;
    while (k >= 0 && k < n && m < 100 * n) {
      ++m;
      k = GrowGridFrom(x, nmax, m, smin, smax, sm, &first);
    }
    if (k > n) k = GrowGridFrom(x, nmax, m - 1, smin, smax, sm, &first);
    if (k < 0) {
      for (int i = 1; i <= n; ++i) x[i] = smin + (i - 1) * (smax - smin) / (n - 1);
      ContiErrorOrCode(
          "problem in log-spaced grid - turn off minimum s-value for log-spaced grid "
          "(Size-Distribution Options)",
          0);
    } else if (k < n) {
      for (int i = k + 1; i <= n; ++i) x[i] = 2.0f * x[i] - x[i - 1];
    }
  }
  for (int i = 1; i <= n; ++i) out[i] = x[i];
  free_vector(x, 1, nmax + 1);
}
