#pragma once
// Dense solves of symmetric double systems (1-based), used where a solver
// needs the unconstrained solution of its whole system.

// Solves A x = b by Cholesky factorisation of a copy (work: n x n, 1-based
// rows). Falls back to Gaussian elimination with partial pivoting when the
// factorisation meets a non-positive pivot; returns 1 after Cholesky, 0
// after the fallback (also 0 when even elimination finds a singular matrix,
// with x then zero). A and b are left unchanged.
int dcholsolve(double** a, const double* b, int n, double* x, double** work);

// As dcholsolve, but rows (and columns) of A that vanish are left out and
// their unknowns set to 0, so a system with dropped variables stays solvable.
int SolveNormalEquationsD(double** a, const double* b, int n, double* x, double** work,
                          int* keep);
