#pragma once
// Moving-frame Lamm solver of the model evaluation for one species whose s
// and D depend on the local total concentration (the species record of
// fit/conc_dependent_coefficients.h), on the global grid arrays (LammGrid).
// Interior nodes travel with the frame coefficient s_grid (S),
//
//   r_i(t) = xi_i E(t),  E = exp(k (t - t0)),  k = s_grid w^2 1e-13,
//
// meniscus m and bottom b (cm) stay; after each frame period
// P = ln(b/m) / (k (N - 1)) the solution moves back one node and the frame
// restarts. In the frame coordinate xi the equation reads
//
//   dc/dt = (1/xi) d/dxi [ (D(c)/E^2) xi dc/dxi - s(c) w^2 1e-13 xi^2 c ] + k xi dc/dxi,
//
// with no flux at the ends and s, D interpolated linearly between the nodes.
// The amount in the sector is 1.2 x 0.0349 x E^2 sum_i (M c)_i.
// The nodes move with the frame (velocity k r inside, 0 at the fixed ends),
// so the weak form with hat functions that travel with them reads
//
//   d/dt (E^2 M c) = E^2 (S - G) c - B c,
//   M = int xi phi_i phi_j,  S = sum_k s_k w^2 1e-13 int xi^2 phi_i' phi_j phi_k,
//   B = sum_k D_k int xi phi_i' phi_j' phi_k,  G = k int xi u phi_i' phi_j,
//
// u the node velocity field per unit rate (xi inside, 0 at the ends); its
// columns sum to zero, so every step keeps the amount in the sector. Each
// fixed-length step is a Crank-Nicolson predictor with the coefficients of
// the step start and a corrector with coefficients averaged over the step;
// the first and last elements, whose ends move in xi, are integrated at the
// start and at the end of every step.
//
// s_grid: with "automatic s_grid" the model's own (mean of monomer and
// oligomer s, or s at the first node), else the Lamm settings' value. A
// floating frame (s_grid < 0) runs the static-grid twin instead.
// Error flags of LammSettings(): singular matrix, nonideality out of range.

// The whole run: the species from LammGrid's Concentration at the run
// state's clock until the last scan. Returns 0, or the static twin's code.
int SimulateNonidealMovingFrameLamm();
// One fixed step (a frame shift first when one is due); 1.0, or the step
// length of the first step.
double NonidealMovingFrameStep();
// Amount in the sector at the current time (signal x cm^3).
double TotalAmountNonidealMovingFrame();
// Frame shifts and steps of the last run; the frame coefficient it used.
int NonidealMovingFrameShifts();
int NonidealMovingFrameSteps();
double NonidealMovingFrameSGrid();
