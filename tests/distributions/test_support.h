#pragma once
// Shared set-up of the distribution tests: random dense problems written
// straight into the module's normal-equation block.
#include <cmath>
#include <random>
#include <vector>

#include "distributions/conti_context.h"
#include "distributions/work_blocks.h"

namespace conti_test {

// Design matrix X (rows = data points, n columns) and data y; the block
// receives A = X'X (normal and regularised), b = X'y, S = y'y.
struct DenseProblem {
  int rows = 0, n = 0;
  std::vector<double> X;  // row-major rows x n
  std::vector<double> y;
  double& x(int r, int c) { return X[static_cast<size_t>(r) * n + (c - 1)]; }
};

inline void LoadIntoBlock(DenseProblem& p) {
  AllocNormalEquationBlock(p.n, 1, 1);
  NormalEquationBlock& b = NeqBlock();
  b.sumSquaresData = 0.0;
  for (int r = 0; r < p.rows; ++r) b.sumSquaresData += p.y[r] * p.y[r];
  for (int i = 1; i <= p.n; ++i) {
    double s = 0.0;
    for (int r = 0; r < p.rows; ++r) s += p.x(r, i) * p.y[r];
    b.rhs[i] = s;
    for (int j = 1; j <= i; ++j) {
      double t = 0.0;
      for (int r = 0; r < p.rows; ++r) t += p.x(r, i) * p.x(r, j);
      b.normalMatrix[i][j] = b.normalMatrix[j][i] = t;
      b.regularizedMatrix[i][j] = b.regularizedMatrix[j][i] = t;
    }
  }
}

inline DenseProblem RandomProblem(int rows, int n, unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> g(0.0, 1.0);
  DenseProblem p;
  p.rows = rows;
  p.n = n;
  p.X.resize(static_cast<size_t>(rows) * n);
  p.y.resize(rows);
  for (auto& v : p.X) v = g(gen);
  for (auto& v : p.y) v = g(gen);
  return p;
}

// 20 scans x 300 points of boundaries that move with the amplitude index
// k = 1..n; the data are the boundaries weighted by truth(k) plus Gaussian
// noise 0.01. Loaded into the block, with a run context of 20 scans of 300
// points that shows no messages.
template <class Truth>
void LoadMovingBoundaries(int n, unsigned seed, Truth truth) {
  const int rows = 6000;
  DenseProblem p;
  p.rows = rows;
  p.n = n;
  p.X.resize(static_cast<size_t>(rows) * n);
  p.y.resize(rows);
  std::mt19937 gen(seed);
  std::normal_distribution<double> g(0.0, 0.01);
  for (int r = 0; r < rows; ++r) {
    const double t = (r % 300) / 300.0, scan = (r / 300 + 1) / 20.0;
    double y = 0.0;
    for (int k = 1; k <= n; ++k) {
      const double centre = 0.1 + 0.8 * scan * k / n;
      const double v = 0.5 * std::erfc((centre - t) / (0.02 + 0.05 * scan));
      p.x(r, k) = v;
      y += v * truth(k);
    }
    p.y[r] = y + g(gen);
  }
  LoadIntoBlock(p);
  ContiRunContext& ctx = ContiContext();
  ctx = ContiRunContext{};
  ctx.fitRangePoints = 300;
  ctx.scanCount = 20;
  ctx.infoMessages = false;
}

}  // namespace conti_test

#include "data/scan_set.h"
#include "numerics/arrays.h"

namespace conti_test {

// A scan set of m scans on a common grid of r points (radii 6.0 + 0.001 i),
// each scan's own radii equal to the grid, with the fit range first..last.
struct TestScans {
  ScanSet own;
  ScanSet& s;
  // current: fill the program-wide scan set instead of a private one.
  TestScans(int m, int r, int first, int last, bool current = false)
      : s(current ? CurrentScanSet() : own) {
    AllocateScanTables(s, m);
    s.gridOwned = 1;
    s.gridLength = r;
    s.grid = vector(1, r);
    for (int i = 1; i <= r; ++i) s.grid[i] = 6.0f + 0.001f * i;
    s.firstGridPoint = first;
    s.lastGridPoint = last;
    for (int j = 1; j <= m; ++j) {
      s.gridSignals[j] = vector(1, r);
      s.radii[j] = vector(1, r);
      s.model[j] = vector(1, r);
      s.gridModel[j] = vector(1, r);
      s.points[j] = r;
      s.order[j] = j;
      s.firstFitPoint[j] = first;
      s.lastFitPoint[j] = last;
      for (int i = 1; i <= r; ++i) s.radii[j][i] = s.grid[i];
    }
  }
  ~TestScans() {
    FreeScanGridArrays(s);
    FreeScanSetArrays(s);
  }
  TestScans(const TestScans&) = delete;
  TestScans& operator=(const TestScans&) = delete;
};

// Kernel block of n kernels with random values in [0, 1) (well conditioned).
inline void RandomKernels(int n, int m, int r, unsigned seed) {
  AllocDistributionWorkArrays(n, m, r);
  AllocNormalEquationBlock(n, m, r);
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  for (int k = 1; k <= n; ++k)
    for (int j = 1; j <= m; ++j)
      for (int i = 1; i <= r; ++i) WorkBlock().lammSolutions[k][j][i] = u(gen);
}

}  // namespace conti_test
