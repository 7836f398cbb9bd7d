#include "distributions/prior_knowledge.h"
#include "distributions/regularization_matrix.h"

#include <algorithm>
#include <vector>

#include "distributions/conti_context.h"
#include "distributions/conti_settings.h"
#include "distributions/work_blocks.h"

void FloorPrior(const double* p, double* out, int n) {
  double largest = 0.0;
  for (int i = 1; i <= n; ++i) largest = std::max(largest, p[i]);
  const double floor = largest > 0.0 ? 1e-6 * largest : 1e-30;
  for (int i = 1; i <= n; ++i) out[i] = p[i] > 0.0 ? p[i] : floor;
}

// Index of point i (1..n) of the operator in the matrix: offset + (i-1)*stride + 1.
void AddSecondDerivativeOperator(double** a, int offset, int n, double alpha, const double* w,
                                 int stride) {
  if (n < 3) return;
  auto at = [&](int i) { return offset + (i - 1) * stride + 1; };
  // D'D = sum over the rows r of D of d_r d_r', d_r = (1, -2, 1) at r..r+2.
  static const double d[3] = {1.0, -2.0, 1.0};
  for (int r = 1; r <= n - 2; ++r)
    for (int u = 0; u < 3; ++u)
      for (int v = 0; v < 3; ++v) {
        const int i = r + u, j = r + v;
        double term = alpha * d[u] * d[v];
        if (w) term /= w[i] * w[j];
        a[at(i)][at(j)] += term;
      }
}

void AddRegularizationMatrix(NormalEquationBlock& b, const RegularizationShape& s,
                             double alpha) {
  const int m = s.m;
  const int total = s.twoDimensional ? m * std::max(1, s.ffCount) : m;
  for (int i = 1; i <= total; ++i)
    std::copy(b.normalMatrix[i] + 1, b.normalMatrix[i] + total + 1, b.regularizedMatrix[i] + 1);
  if (alpha == 0.0) return;
  // Floored prior weights along s (and f/f0), held in the max-ent work row
  // and the curvature gradient row, which are free at this point.
  const double* w = nullptr;
  if (s.prior) {
    FloorPrior(s.prior, b.maxEntWork, m);
    w = b.maxEntWork;
  }
  double** R = b.regularizedMatrix;
  const int slices = s.twoDimensional ? std::max(1, s.ffCount) : 1;
  for (int q = 1; q <= slices; ++q) {
    const int base = (q - 1) * m;
    if (q == 1 && s.firstAmplitudeSeparate)
      AddSecondDerivativeOperator(R, base + 1, m - 1, alpha, w ? w + 1 : nullptr);
    else
      AddSecondDerivativeOperator(R, base, m, alpha, w);
  }
  if (!s.twoDimensional || slices < 2) return;
  const double* pf = nullptr;
  if (s.ffPrior) {
    for (int q = 1; q <= slices; ++q) b.curvatureGradient[q] = s.ffPrior[q];
    FloorPrior(b.curvatureGradient, b.curvatureGradient, slices);
    pf = b.curvatureGradient;
  }
  const double aw = alpha * s.ffWeight;
  for (int i = 1; i <= m; ++i) {
    AddSecondDerivativeOperator(R, i - 1, slices, aw, pf, m);
    // First differences at both ends of the f/f0 axis, weight 10.
    auto idx = [&](int q) { return (q - 1) * m + i; };
    auto add = [&](int q1, int q2, double v) {
      double term = aw * 10.0 * v;
      if (pf) term /= pf[q1] * pf[q2];
      R[idx(q1)][idx(q2)] += term;
    };
    const int nf = slices;
    add(1, 1, 1.0);
    add(2, 2, 1.0);
    add(1, 2, -1.0);
    add(2, 1, -1.0);
    add(nf - 1, nf - 1, 1.0);
    add(nf, nf, 1.0);
    add(nf - 1, nf, -1.0);
    add(nf, nf - 1, -1.0);
  }
}

void AddRegularizationMatrix(double alpha) {
  const ContiSettings& cs = Conti();
  const ContiRunContext& ctx = ContiContext();
  NormalEquationBlock& b = NeqBlock();
  RegularizationShape s;
  s.twoDimensional = ctx.twoDimensional;
  s.ffCount = ctx.twoDimensional ? std::max(1, cs.ffCount) : 1;
  s.m = ctx.twoDimensional ? b.gridPoints / s.ffCount
                           : (b.fixedComponent ? b.gridPoints - 1 : b.gridPoints);
  s.firstAmplitudeSeparate = ctx.firstAmplitudeSeparate;
  s.ffWeight = cs.ffDirectionWeight;
  s.prior = (Priors().use && cs.prior) ? cs.prior : nullptr;
  s.ffPrior = (ctx.twoDimensional && Priors().ffGaussians && cs.ffPrior) ? cs.ffPrior : nullptr;
  AddRegularizationMatrix(b, s, alpha);
}
