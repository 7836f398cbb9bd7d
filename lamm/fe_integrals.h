#pragma once
// Closed-form integrals of linear hat functions phi_i on a radial grid
// x_1 < ... < x_N (cm) for the finite-element Lamm solvers. phi_1 lives on
// [x_1, x_2] only, phi_N on [x_(N-1), x_N]; every two-index integral is 0
// unless |i - j| <= 1 and both indices lie in 1..L.
//
// The node-radius routines take the last node L of the domain (the active
// end of the static grid); L >= N means the whole grid. The first index of
// a derivative routine is the differentiated hat.

// int r phi_i dr, the node weight.
long double FEIntegralSedimentation(const double* x, int N, int i, int L);
// int r phi_i phi_j dr, the mass matrix.
long double FEIntegralMassNonUniform(const double* x, int N, int i, int j, int L);
// int r phi_i' phi_j' dr, the diffusion stiffness.
long double FEIntegralDiffusionNonUniform(const double* x, int N, int i, int j, int L);
// int r^2 phi_i' phi_j dr, the sedimentation operator.
long double FEIntegralSedimentationNonUniform(const double* x, int N, int i, int j, int L);

// Uniform grid x_i = meniscus + (i-1) h, h = (bottom - meniscus)/(N - 1).
// FEIntegralA: int r phi_i phi_j dr (i must lie in 1..N).
long double FEIntegralA(const double* x, int N, double meniscus, double bottom, int i, int j);
// FEIntegralB: int r phi_i' phi_j' phi_k dr.
long double FEIntegralB(const double* x, int N, double meniscus, double bottom, int i, int j,
                        int k);
// FEIntegralC: int r^2 phi_i' phi_j phi_k dr (symmetric in j, k).
long double FEIntegralC(const double* x, int N, double meniscus, double bottom, int i, int j,
                        int k);
