#pragma once
// Numerical core of the moving-frame finite-element solution of the Lamm
// equation, shared by the solver object and the global-array solver of the
// model evaluation. Interior nodes travel with the frame,
//
//   r_i(t) = xi_i exp(k (t - t0)),  k = w^2 s* 1e-13 (1/s),  w = 2 pi rpm / 60,
//
// the end nodes stay at meniscus m and bottom b (cm). In the frame
// coordinate xi = r / f, f = exp(k (t - t0)), the Galerkin form with test
// functions xi phi_i is
//
//   M dc/dt = L c,   L = -(D / f^2) A - C,   C = k Motion - k_s Sed,
//
// with M, A, Sed, Motion the frame integrals and k_s = w^2 s 1e-13 (s in
// Svedberg, D in cm^2/s). Time steps are Crank-Nicolson with the mass matrix
// averaged over the step at its time-dependent end entries; after each frame
// period P = ln(b/m) / ((N-1) |k|) the nodes have moved one geometric ratio,
// the solution is re-indexed by one node and the frame restarts, so interior
// matrix rows never change.
//
// The core owns no storage: the caller points the 1-based arrays (N+1
// doubles each) at its own memory. Step-length control stays with the
// callers; everything that decides the numbers of a step lives here.
struct LocalSolventFactors;

struct CMovingFrameCore {
  // ---- species, cell and grid ----
  int N = 0;
  double meniscus = 0, bottom = 0;
  double s = 0, D = 0, sStar = 0;  // Svedberg, cm^2/s, Svedberg
  bool steep = false;  // outflow terms at the end the species piles up against
  bool quiet = false;  // no message boxes (worker threads)
  // Inhomogeneous solvent: diffusion and sedimentation integrals weighted by
  // these factors (with moments prepared on xi); null for a uniform solvent.
  const LocalSolventFactors* solvent = nullptr;

  // ---- frame clock and rates ----
  double kS = 0, kF = 0, t0 = 0, period = 1e10;
  double E[9] = {};             // boundary coefficients of the frame shift
  double endStore[4][8] = {};   // mass, diffusion, sedimentation, C at the end entries
  bool storedReady = false;     // the stored period system matches the rates
  int tridagError = 0;          // 1 first pivot, 2 a later pivot was zero or not finite

  // ---- caller storage ----
  double *xi = nullptr, *r = nullptr, *c = nullptr, *cPrev = nullptr, *rhs = nullptr,
         *gam = nullptr;
  double *Mlo = nullptr, *Mdi = nullptr, *Mup = nullptr;     // mass
  double *Klo = nullptr, *Kdi = nullptr, *Kup = nullptr;     // diffusion stiffness
  double *Blo = nullptr, *Bdi = nullptr, *Bup = nullptr;     // sedimentation x k_s
  double *Clo = nullptr, *Cdi = nullptr, *Cup = nullptr;     // frame stiffness
  double *L0lo = nullptr, *L0di = nullptr, *L0up = nullptr;  // stiffness, old time
  double *L1lo = nullptr, *L1di = nullptr, *L1up = nullptr;  // stiffness, new time
  double *Alo = nullptr, *Adi = nullptr, *Aup = nullptr;     // left matrix of a step
  double *Tlo = nullptr, *Tdi = nullptr, *Tup = nullptr;     // period right-hand matrix
  double *Slo = nullptr, *Spiv = nullptr, *Srat = nullptr;   // period left matrix, factorised
  // The period's left matrix is factorised from both ends, meeting at row
  // `twist` (0: from the top alone): rows above it as before, rows below it
  // from the bottom (Spiv the reciprocal pivots, Slo the super-diagonal over
  // the pivot, Srat the sub-diagonal over the pivot), row `twist` by its own
  // entries and the reciprocal of its combined pivot. The two sweeps of a
  // period step are then independent chains that run side by side.
  int twist = 0;
  double twistLo = 0, twistUp = 0, twistPivot = 0;

  // ---- frame integrals on xi (indices outside 1..N give 0) ----
  double IntegralMass(int i, int j) const;           // int r phi_i phi_j dr
  double IntegralWeight(int i) const;                // int r phi_i dr
  double IntegralDiffusion(int i, int j) const;      // int r phi_i' phi_j' dr
  double IntegralSedimentation(int i, int j) const;  // int r^2 phi_i' phi_j dr
  double IntegralMotion(int i, int j) const;         // frame motion, u = xi inside
  double IntegralCombined(int i, int j) const;       // Motion - Sedimentation
  double FrameStiffness(int i, int j) const;         // k Motion - k_s Sedimentation

  // ---- set-up ----
  // Frame radii (and r) for the current s*, rates for rpm, t0 = t.
  void SetupGrid(double rpm, double t);
  void Assemble(double rpm, double t);
  void UpdateSedimentationTerms(double rpm);
  // After the solvent factors changed: diffusion, sedimentation and frame
  // stiffness again.
  void UpdateSolventTerms(double rpm);

  // ---- the pieces of a step ----
  void SetFrameEndRadii(double tau);
  void RefreshBoundaryEntries();
  void BoundaryEntriesAt(double tau);
  // Assembles and factorises the system of one full period from t0; false
  // (after "Error 1/2 in tridag") on a zero or non-finite pivot.
  bool PrecomputeFramePeriodSystem();
  // One period step from the stored factorization: c = S^-1 T cPrev.
  void SolveStoredPeriodStep();
  bool Tridag(const double* a, const double* b, const double* cc, const double* right, double* u,
              int n);
  void ClampOverflowAtEnds();

  // One Crank-Nicolson step of length dt from time t, cPrev -> c; stored:
  // a full period from t0 with the stored factorization. False on a
  // singular system (c then equals cPrev).
  bool Step(double t, double dt, bool stored);
  // First step from a layered start (a measured profile): a quarter of the
  // time diffusion takes across the finest element. A start with kinks or
  // steps where it meets its extrapolations rings under Crank-Nicolson steps
  // far longer than that; steps doubling from it damp the kinks as diffusion
  // does before they reach the frame's own lengths.
  double LayeredFirstStep() const;
  // The step at time t of a layered start that began at `start` with the
  // step `first`: at most half the time since the start (a kink widens as
  // the root of its age), cut at the frame's end; 0 once that reaches
  // `frameStep`, the step the frame takes itself.
  double LayeredStep(double first, double start, double t, double frameStep) const;
  // Re-indexes the solution by one node at t = t0 + P and restarts the frame.
  void ShiftFrame(double t);
  // r_i = xi_i exp(k (t - t0)) inside, r_1 = m, r_N = b.
  void UpdateRadii(double t);
  // Amount in the sector at time t (1.2 cm path, 2 degree sector).
  double TotalAmount(double t) const;
};
