#pragma once
// Dense linear algebra on one-based arrays (indices 1..n): LU and Cholesky
// factorisations with their substitutions, the symmetric solver that drops
// all-zero rows, the non-negative active-set solver of normal equations,
// Savitzky-Golay coefficients and small determinants. Float and double
// variants differ in their constants (the LU's replacement of a zero pivot)
// and are not interchangeable. All workspace lives in the call; every routine
// may run on worker threads.

// Crout LU with implicit partial pivoting: a is replaced by L (below the
// diagonal, unit diagonal implied) and U of the row-permuted matrix; indx
// records the interchanges, d is +1 or -1 by their parity. A row without a
// non-zero element is fatal ("Singular matrix in routine ludcmp").
void ludcmp(float** a, int n, int* indx, float* d);
void dludcmp(double** a, int n, int* indx, double* d);
// Solves A x = b with the factors of ludcmp; b is replaced by x.
void lubksb(float** a, int n, int* indx, float* b);
void dlubksb(double** a, int n, int* indx, double* b);

// b := A^-1 b by one LU; with keepA the factorisation works on a copy.
void SolveLinearSystem(float** a, float* b, int n, bool keepA);
void SolveLinearSystemD(double** a, double* b, int n, bool keepA);

// Cholesky A = L L^T of the upper triangle of a: L goes below the diagonal,
// its diagonal into p. False as soon as a diagonal sum is not positive (or
// NaN); true for n < 1.
bool choldc(float** a, int n, float* p);
bool dcholdc(double** a, int n, double* p);
// x = A^-1 b from the factors of choldc; b unchanged.
void cholsl(float** a, int n, float* p, float* b, float* x);
void dcholsl(double** a, int n, double* p, double* b, double* x);

// b := A^-1 b through Cholesky on a copy; true when Cholesky served, false
// when the LU fallback did. a unchanged.
bool cholsolve(float** a, float* b, int n);
// x = A^-1 b (b unchanged, p workspace of n entries); true for Cholesky,
// false for the LU fallback. a unchanged.
bool dcholsolve(double** a, double* b, int n, double* x, double* p);

// Symmetric system with all-zero rows removed: x[i] = 0 for a row that is
// exactly zero, the reduced solution elsewhere. False only when the full
// (unreduced) system needed the LU fallback.
bool SolveNormalEquationsD(double** a, double* b, int n, double* x, double* p);

// Non-negative least squares on normal equations: b is replaced by the x >= 0
// that minimises x^T A x / 2 - b^T x (active set with Cholesky solves of the
// passive subsystem). When that factorisation fails, the whole system goes
// to SolveLinearSystem(a, b, n, keepA) without the sign constraint.
void SolveNormalEquations(float** a, float* b, int n, bool keepA);

// Savitzky-Golay coefficients for nl points left and nr right, polynomial
// order m and derivative ld, in wrap-around order: c[1] is offset 0, c[2]
// offset -1, ..., c[np] offset +1.
void savgol(float* c, int np, int nl, int nr, int ld, int m);

float Determinant2x2(float** m);
float Determinant3x3(float** m);

// Thomas algorithm for a[i] x[i-1] + b[i] x[i] + c[i] x[i+1] = r[i],
// i = 1..n (1-based), with the elimination ratios in gam. False on a zero or
// non-finite pivot (u then undefined).
bool SolveTridiagonal(const double* a, const double* b, const double* c, const double* r,
                      double* u, double* gam, int n);
// out = tridiag(a, b, c) x.
void TridiagonalMultiply(const double* a, const double* b, const double* c, const double* x,
                         double* out, int n);
