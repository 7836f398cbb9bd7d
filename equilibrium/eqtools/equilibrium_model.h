#pragma once
// Sedimentation equilibrium of one ideal species over all loaded scans: each
// scan is c_k exp(Mb sigma_k (r^2 - r0^2)) plus a radial profile common to
// all scans (TI noise) and an offset of its own (RI noise). The amplitudes
// and both noise components are linear and solved in one non-negative
// least-squares problem on the common grid; the buoyant molar mass Mb is the
// only nonlinear quantity, fitted by a restarted simplex.
class FitHost;

struct EquilibriumModelState {
  bool inFit = false;   // set around each fit evaluation: no alloc, unpack or finish
  double r0 = 0;        // reference radius (cm)
  double mb = 0;        // buoyant molar mass (g/mol) of the scan last set up
  double rpm = 0;
  double temperature = 0;  // degC
  double lastRmsd = 1e10;
  bool tiEliminated = true;  // false for a single scan: its RI offset only
};
EquilibriumModelState& EqModelState();

// exp((r^2 - r0^2) Mb w^2 / (2 R (T + 273.15))), w = 2 pi rpm / 60.
double EquilibriumExponential(double r, double mb, double rpm, double celsius, double r0);
// The exponent alone; the caller refuses values beyond float range.
double EquilibriumExponent(double r, double mb, double rpm, double celsius, double r0);

// Mb of the current parameters at the given temperature: (1 - vbar rho) M,
// or s R T / D with the molar-mass switch off. Returns false (Mb untouched)
// when D is not positive in that case.
bool CurrentBuoyantMass(double celsius, double* mb);

// One evaluation for the current parameters; false when nothing was computed
// (no scans, no cell, no D, no memory). A failed evaluation (overflowing
// exponent, NNLS failure) returns true with rmsd 1e10.
bool RunEquilibrium(FitHost* host);
// Fit of Mb (P[1], when floated) by restarted simplex; Run first.
void FitEquilibrium(FitHost* host);

// The pieces, on the module's work blocks (exposed for tests and bench).
bool AllocEquilibriumWorkArrays();
void FreeEquilibriumWorkArrays();
// Fills the normal equations from the data and the basis rows on [gL, gR].
void BuildEquilibriumNormalEquations();
// The rmsd on the common grid, from the normal equations.
double EquilibriumRmsdFromNormalEquations();
// The rmsd of data minus model at the scans' own points inside the fit
// limits (the model as ComputeEquilibriumModelAndNoise left it): what a
// Run reports and a Fit minimises.
double EquilibriumRmsdAtDataPoints();
void ComputeEquilibriumModelAndNoise();
void FinishEquilibriumRun(FitHost* host);
void ShowEquilibriumStep(FitHost* host);

// Restarts of the fit before it gives up converging.
constexpr int kMaxEquilibriumRestarts = 50;
