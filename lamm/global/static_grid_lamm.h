#pragma once
// Static-grid Lamm solver of the model evaluation on the global grid arrays
// (LammGrid): one species (s of LammRunState in Svedberg, D in cm^2/s) on
// fixed nodes r_1 < ... < r_N (cm) from the run state's clock until the scan
// output has delivered the last scan, the species has left the fit range
// (depletion stop), the profile stands still (steady-state stop), the user
// stops it or a failure flag is raised. Linear finite elements,
//
//   M dc/dt = K c,   K = s' int w r phi_i' phi_j - D int w phi_i' phi_j'
//
// with, in a sector-shaped cell, w = r and s' = w^2 s 1e-13 (1/s); in the
// planar cells (linear Lamm equation, external loading cell with its taper,
// electrophoresis) w is the cross-section and electrophoresis drives with
// the constant velocity s' = s 1e-4 cm/s. Crank-Nicolson steps with an
// adaptive length; while the species sediments the depleted region at the
// meniscus and (with an open end) the undisturbed plateau are cut from the
// solve. Steps by the travelling boundary (LammRunState::boundaryStepFraction)
// keep the systems of their last few step lengths, and from an even loading
// hold the rows between the boundary and the layer at the far end, which keep
// the loading, out of the solve until either comes near. No flux at meniscus
// and bottom.
//
// Error flags: LammSettings().singularMatrixError (zero pivot, or a cut
// start region that filled up again) and LammSettings().discretizationError
// (step length collapsed, or an overflowing profile).
#include <functional>


// The solvent-gradient branches of the solver: an inhomogeneous solvent with
// per-node solvent factors, and a sedimenting cosolute. Off until set.
struct StaticGridSolventHooks {
  std::function<bool()> useInhomogeneousSolvent;
  std::function<bool()> sedimentingCosolute;
  std::function<bool()> dynamicGradient;
  std::function<void(const double* r, int n)> initLocalSDFactors;
  std::function<void(const double* r, int n)> updateLocalSDFactors;
  std::function<void()> initCosoluteGradient;
  std::function<void(double t)> setCosoluteTime;
  std::function<void()> stepCosoluteGradient;
  // Stiffness elements int phi_i' phi_j' D-weighted (A) and s-weighted (B),
  // and the open-end terms, with the local solvent factors.
  std::function<double(int i, int j)> densgradElementA, densgradElementB;
  std::function<double()> densgradEndTermD, densgradEndTermS;
  // Rows 1..n of the stiffness sw2 B - D A at once (the dynamic gradient
  // re-assembles every step).
  std::function<void(double sw2, double D, int n, double* lo, double* di, double* up)>
      solventStiffness;
};
StaticGridSolventHooks& CurrentStaticGridSolventHooks();

// Set by the per-species evaluation for a retry after a failed solve: a
// small negative value at the meniscus is then reflected.
extern unsigned char gStaticGridAfterFailedRun;
// Set by the per-species evaluation: the current species forms a steep
// equilibrium gradient, so that the undisturbed plateau may be cut from
// the solve.
extern unsigned char gSteepBoundary;

// Runs the current species on the global arrays; does nothing with a
// measured rotor-speed profile or without allocated grid arrays.
void SimulateStaticGridLamm();
// The hook of the per-species evaluation: the current species from the
// grid's initial concentration; 0, or 3 (singular) / 2 (no convergence).
int RunStaticGridLammSpecies();

// Stop node of the depletion test for the current species and fit limits:
// for s > 0 the first node beyond the right fit limit, for s < 0 the last
// node at or before the left one; its threshold 1e-4 of its present value.
// No test when the node would lie outside the grid or holds nothing yet.
void SetupDepletionStopTest();
// The species has left the fit range: the stop node has fallen below its
// threshold, or the cut start region has passed it.
bool IsDepletionStopReached();
// After an early stop (depletion or steady state) the scans not yet
// delivered get the final profile; clears the run flag.
void StopAndDeliverRemainingScans();

// Pieces of the run, exposed for the tests.
void AssembleStaticGridMatrices(int n);
// With the inhomogeneous solvent after its factors changed: the stiffness
// of rows 1..n again, the mass matrix kept.
void ReassembleSolventStiffness(int n);
void AssembleStaticGridMatricesRomberg();
double TotalAmountStaticGrid();
// After a solve of the plain sector cell without a cut plateau: the signed relative
// difference between the amount at its start and the amount now plus what
// left through an open bottom (0 where the solve keeps no such balance).
double StaticGridAmountImbalance();
// No balance until the next solve (before a solve that may not run).
void ForgetStaticGridAmountBalance();
double TotalAmountStaticGridRomberg();
// True when some c_i, i = 1..n, is NaN or beyond +-1e100: the step's test
// of a profile that overflowed.
bool StaticGridProfileOverflows(const double* c, int n);
// Accepted steps, depletion-stop node and active region of the last run.
int StaticGridStepCount();
// Systems factorised by the steps of the boundary rule in the last run.
int StaticGridFactorisationCount();
// Rows solved by the steps of the boundary rule in the last run, summed.
long StaticGridSolvedRowCount();
// Rows those systems eliminated, from the top and from the bottom, summed
// (two for each row of a system eliminated whole).
long StaticGridEliminatedRowCount();
int StaticGridStopNode();
bool StaticGridStoppedEarly();
