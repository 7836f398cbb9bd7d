#pragma once
// Shared set-up of the distribution tests: random dense problems written
// straight into the module's normal-equation block.
#include <random>
#include <vector>

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

}  // namespace conti_test
