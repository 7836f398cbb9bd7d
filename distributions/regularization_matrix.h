#pragma once
// Tikhonov-Phillips regularisation: regularizedMatrix = normalMatrix +
// alpha * H, H the squared second-derivative operator D'D (rows (1,-2,1))
// over the amplitudes along s, optionally weighted by a prior (the penalty
// then acts on c/p), and for c(s,f/f0) also along f/f0.
struct NormalEquationBlock;

// Geometry of the regularised amplitudes.
struct RegularizationShape {
  int m = 0;                            // amplitudes along s (per f/f0 slice)
  bool firstAmplitudeSeparate = false;  // amplitude 1 (slice 1) is left out
  bool twoDimensional = false;
  int ffCount = 1;                      // n_f, number of f/f0 slices
  double ffWeight = 10.0;               // w of the f/f0 direction
  const double* prior = nullptr;        // p[1..m] or nullptr
  const float* ffPrior = nullptr;       // pf[1..n_f] or nullptr
};

// Adds alpha * (D'D)[i][j] of n points to rows/columns offset+1..offset+n
// of a, each term divided by w[i]*w[j] when w is given (w 1-based over the
// n points). Exact D'D for every n >= 3; nothing for n < 3.
void AddSecondDerivativeOperator(double** a, int offset, int n, double alpha,
                                 const double* w = nullptr, int stride = 1);

// The module's call: uses the module's block, the settings' prior and the
// run context.
void AddRegularizationMatrix(double alpha);
// On any block.
void AddRegularizationMatrix(NormalEquationBlock& block, const RegularizationShape& shape,
                             double alpha);

// Prior values with every value <= 0 raised to a small positive floor
// (1e-6 of the largest value), so that divisions and logarithms stay finite.
void FloorPrior(const double* p, double* out, int n);
