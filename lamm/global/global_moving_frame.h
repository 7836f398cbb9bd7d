#pragma once
// Moving-frame Lamm solver of the model evaluation on the global grid
// arrays (LammGrid): one species (s, D of LammRunState) from the run state's
// start time until the scan output has delivered the last scan, the user
// stops it or the system turns singular. Numerics in the shared moving-frame
// core; here the step-length control: a fixed step, or with max dc/c >= 1
// whole frame periods that reuse one stored factorization, shortened to land
// on scan times and on the end of the rotor acceleration.
//
// Error flags: LammSettings().singularMatrixError (singular step system) and
// LammSettings().discretizationError (non-finite concentrations).

struct CMovingFrameCore;

// The frame of the global arrays: the moving-frame solvers of the model
// evaluation share it, so that UpdateMovingGridRadii places the nodes of
// whichever ran last.
CMovingFrameCore& GlobalMovingFrameCore();

// Runs the current species; does nothing with a measured rotor-speed
// profile or without allocated grid arrays.
void SimulateMovingFrameLamm();
// One time step; returns 1.0 (the step length on the first step).
double LammStepMovingFrame();
// Frame end radii for t' = t - t0: xi_1 = m / exp(k t'), xi_N = b / exp(k t').
void SetFrameEndRadii(double tPrime);
// Radius[i] = FrameRadius[i] exp(k (t - t0)) inside, the ends at m and b.
void UpdateMovingGridRadii();
// Thomas algorithm with the elimination ratios in TridagWork; every pivot
// is checked (a zero or non-finite one raises the singular-matrix flag).
bool TridagMovingGridLamm(const double* a, const double* b, const double* c, const double* r,
                          double* u, int n);
// Amount in the sector at the current time (signal x cm^3).
double GlobalMovingFrameAmount();
// Frame shifts of the last run.
int GlobalMovingFrameShifts();
// Largest relative change of the amount in the cell at a frame shift of the
// last run with the mass-conservation check on (the shift re-indexes the
// nodes and keeps the amount).
double GlobalMovingFrameShiftAmountChange();
// After a run in the plain sector (no local solvent factors): the signed relative
// difference between the amount in the cell at its start and now (0 where
// no such balance is kept); the closed cell keeps its amount.
double GlobalMovingFrameAmountImbalance();
