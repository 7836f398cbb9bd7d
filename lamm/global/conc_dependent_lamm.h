#pragma once
// Static-grid Lamm solver of the model evaluation for one species whose s
// and D depend on the local total concentration (the species record of
// fit/conc_dependent_coefficients.h), on the global grid arrays (LammGrid):
//
//   dc/dt = (1/r) d/dr [ r D(c) dc/dr - s(c) w^2 1e-13 r^2 c ],  no flux at m and b,
//
// on a uniform grid r_i = m + (i - 1) h, with s and D interpolated linearly
// between the nodes (hat functions phi):
//
//   M dc/dt = A c,  M_ij = int r phi_i phi_j,
//   A_ij = sum_k [ s_k w^2 1e-13 int r^2 phi_i' phi_j phi_k - D_k int r phi_i' phi_j' phi_k ],
//
// Crank-Nicolson, (M - dt/2 A) c_new = (M + dt/2 A) c_old, with the
// coefficients of the start of the step (scheme 1), or a corrector with
// coefficients averaged over the step (2) or taken at the mean
// concentration (3); the step length follows the largest relative change.
// r in cm, t in s, s in S, D in cm^2/s, rotor speed in rpm.
//
// The run starts from LammGrid's Concentration at the run state's clock and
// ends after the last scan, at equilibrium (the remaining scans then get the
// final profile) or on an error flag of LammSettings(): singular matrix,
// discretization (more than 10 negative-concentration events), nonideality
// out of range (a node where 1 + ks c <= 0 or 1 + kd c <= 0).

// The whole run. Returns 0, or 4 for an integration scheme other than 1-3
// (nothing simulated).
int SimulateConcDependentLamm();
// One step with its length control; the largest relative change of the step.
double LammStepConcDependent();
// Amount in the sector (1.2 cm path, 2 degree sector; signal x cm^3).
double TotalAmountConcDependent();
// The last run reached equilibrium.
bool ConcDependentEquilibriumReached();
// Accepted steps of the last run.
int ConcDependentStepCount();
