#pragma once
// Non-negative least squares on double-precision normal equations: the x >= 0
// minimising x^T A x / 2 - b^T x for symmetric A (n x n), by the active-set
// method with a Cholesky solve of the passive subsystem. Work arrays are the
// caller's, all one-based over 1..n: P passive-set flags, w gradient
// b - A x, rb reduced right side, R reduced matrix, z trial solution, zr
// reduced solution, p Cholesky diagonal. True when the optimality test
// (every w outside the passive set <= 1e-10) was met. When the iteration
// limit n^2 is exceeded the unconstrained solution with negative entries
// cleared is returned as false; a passive subsystem that is not positive
// definite gives the unconstrained solution and dcholsolve's result.
// limitOut and iterationsOut, when given, receive n^2 and the outer
// iterations made.
bool NNLSLib(int n, int* P, double* x, double* w, const double* b, double** A, double* rb,
             double** R, double* z, double* zr, double* p, double* limitOut,
             double* iterationsOut);
