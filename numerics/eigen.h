#pragma once
// Eigenvalues of symmetric matrices by cyclic Jacobi rotations (one-based).

// d[1..n] = eigenvalues, columns of v = eigenvectors of the symmetric a,
// nrot = rotations made. The elements of a above the diagonal are destroyed.
// More than 50 sweeps is fatal. The eigenvalues come out unsorted.
void jacobi(float** a, int n, float* d, float** v, int* nrot);
void djacobi(double** a, int n, double* d, double** v, int* nrot);

// d sorted descending; the columns of v move along.
void sort_select(float* d, float** v, int n);
void sort_select_d(double* d, double** v, int n);
