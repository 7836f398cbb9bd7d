// Nonideal moving-frame Lamm solver on the global arrays (equations in the
// header). The frame geometry, the frame shift and the amount in the cell
// are the shared moving-frame core's; the concentration-dependent element
// integrals, the predictor-corrector and the step rules are here.
#include "lamm/global/nonideal_moving_frame.h"

#include <algorithm>
#include <cmath>

#include "lamm/coefficients/nonideal_coefficients.h"
#include "lamm/element_integrals.h"
#include "lamm/global/conc_dependent_coefficients.h"
#include "lamm/global/conc_dependent_lamm.h"
#include "lamm/global/global_lamm_hooks.h"
#include "lamm/global/global_moving_frame.h"
#include "lamm/global/static_grid_lamm.h"
#include "lamm/lamm_grid_arrays.h"
#include "lamm/lamm_run_state.h"
#include "lamm/lamm_settings.h"
#include "lamm/moving_frame_core.h"
#include "lamm/quiet_steps.h"
#include "numerics/constants.h"

namespace {

// Element integrals of one row i: mass, frame and the seven index patterns
// (column, coefficient node) (i-1,i-1) (i,i-1) (i-1,i) (i,i) (i+1,i) (i,i+1)
// (i+1,i+1) of diffusion (B) and sedimentation (C, times w).
struct RowIntegrals {
  double M[3] = {}, F[3] = {}, B[7] = {}, C[7] = {};
};

struct NonidealFrame {
  int N = 0;
  double w = 0, k = 0;
  double *c = nullptr, *cOld = nullptr, *cTrial = nullptr, *s = nullptr, *D = nullptr;
  double *B[7] = {}, *C[7] = {};
  double *Mlo = nullptr, *Mdi = nullptr, *Mup = nullptr;
  double *Flo = nullptr, *Fdi = nullptr, *Fup = nullptr;
  double *ARlo = nullptr, *ARdi = nullptr, *ARup = nullptr;
  double *ALlo = nullptr, *ALdi = nullptr, *ALup = nullptr;
  double *rhs = nullptr, *gam = nullptr;
  // Rows 1, 2, N-1, N at the start and at the end of the step.
  RowIntegrals start[4], end[4];
  int rows[4] = {};
  CConcDependentCoefficients coef;
  double dt0 = 1.0, dt = 1.0, sGrid = 0;
  int steps = 0, shifts = 0;
};

NonidealFrame gFrame;

LammRunState& RS() { return CurrentLammRunState(); }
CMovingFrameCore& Core() { return GlobalMovingFrameCore(); }

void ComputeRow(int i, RowIntegrals& out) {
  const NonidealFrame& F = gFrame;
  const double* xi = Core().xi;
  const int N = F.N;
  for (int d = 0; d < 3; ++d) {
    const int j = i - 1 + d;
    out.M[d] = CalcElementIntegral2I(xi, N, i, j);
    // The nodes' motion, k int xi u phi_i' phi_j (u the node velocity
    // field per unit rate: xi inside, 0 at the fixed ends).
    out.F[d] = -F.k * CalcElementIntegral2L(xi, N, j, i);
  }
  const int pj[7] = {i - 1, i, i - 1, i, i + 1, i, i + 1};
  const int pk[7] = {i - 1, i - 1, i, i, i, i + 1, i + 1};
  for (int p = 0; p < 7; ++p) {
    out.B[p] = CalcElementIntegral3B(xi, N, i, pj[p], pk[p]);
    out.C[p] = F.w * CalcElementIntegral3A(xi, N, i, pj[p], pk[p]);
  }
}

void StoreRow(int i, const RowIntegrals& v) {
  NonidealFrame& F = gFrame;
  F.Mlo[i] = v.M[0], F.Mdi[i] = v.M[1], F.Mup[i] = v.M[2];
  F.Flo[i] = v.F[0], F.Fdi[i] = v.F[1], F.Fup[i] = v.F[2];
  for (int p = 0; p < 7; ++p) {
    F.B[p][i] = v.B[p];
    F.C[p][i] = v.C[p];
  }
}

void Bind() {
  LammGrid& g = CurrentLammGrid();
  NonidealFrame& F = gFrame;
  CMovingFrameCore& f = Core();
  F.N = f.N = g.AllocatedGridSize;
  f.meniscus = CurrentGlobalLammHooks().meniscus();
  f.bottom = CurrentGlobalLammHooks().bottom();
  f.steep = false;
  f.quiet = true;
  f.xi = g.FrameRadius;
  f.r = g.Radius;
  f.c = F.c = g.Concentration;
  f.cPrev = F.cOld = g.PreviousConcentration;
  f.rhs = F.rhs = g.RightHandSide;
  f.gam = F.gam = g.TridagWork;
  f.Mlo = F.Mlo = g.MassSub, f.Mdi = F.Mdi = g.MassDiag, f.Mup = F.Mup = g.MassSuper;
  // The core's constant-coefficient bands are scratch here: its frame shift
  // refreshes their boundary entries.
  f.Klo = g.DiffusionStiffnessSub, f.Kdi = g.DiffusionStiffnessDiag, f.Kup = g.DiffusionStiffnessSuper;
  f.Blo = g.SedimentationStiffnessSub, f.Bdi = g.SedimentationStiffnessDiag,
  f.Bup = g.SedimentationStiffnessSuper;
  f.Clo = g.PeriodRhsSub, f.Cdi = g.PeriodRhsDiag, f.Cup = g.PeriodRhsSuper;
  F.Flo = g.FrameStiffnessSub, F.Fdi = g.FrameStiffnessDiag, F.Fup = g.FrameStiffnessSuper;
  F.ARlo = g.PeriodLhsSub, F.ARdi = g.PeriodLhsDiag, F.ARup = g.PeriodLhsSuper;
  F.ALlo = g.SystemSub, F.ALdi = g.SystemDiag, F.ALup = g.SystemSuper;
  F.cTrial = g.ConcDependentArrays[0];
  F.s = g.ConcDependentArrays[1];
  F.D = g.ConcDependentArrays[2];
  for (int p = 0; p < 7; ++p) {
    F.B[p] = g.ConcDependentArrays[3 + p];
    F.C[p] = g.ConcDependentArrays[10 + p];
  }
  const int n = F.N;
  const int rows[4] = {1, 2, n - 1, n};
  std::copy(rows, rows + 4, F.rows);
}

void SetupNonidealMovingFrame() {
  NonidealFrame& F = gFrame;
  LammRunState& rs = RS();
  CMovingFrameCore& f = Core();
  f.sStar = F.sGrid;
  f.storedReady = false;
  f.tridagError = 0;
  // Geometric grid, frame rate and period, mass bands and the end-element
  // constants of the frame shift.
  f.Assemble(rs.rpm, rs.t);
  F.w = SvedbergOmega2(rs.rpm);
  F.k = f.kF;
  F.shifts = 0;
  for (int i = 1; i <= F.N; ++i) {
    RowIntegrals v;
    ComputeRow(i, v);
    StoreRow(i, v);
  }
}

// A new rotor speed scales every sedimentation integral.
void UpdateMovingFrameOmegaIntegrals(double rpm) {
  NonidealFrame& F = gFrame;
  const double w = SvedbergOmega2(rpm);
  if (F.w == 0) return;
  const double q = w / F.w;
  for (int p = 0; p < 7; ++p)
    for (int i = 1; i <= F.N; ++i) F.C[p][i] *= q;
  for (RowIntegrals& v : F.start)
    for (double& x : v.C) x *= q;
  for (RowIntegrals& v : F.end)
    for (double& x : v.C) x *= q;
  F.w = w;
}

// The rows whose elements reach the moving ends, at the start and the end
// of the step; the ends of xi stay at their start positions.
void UpdateBoundaryElements(double tau, double dt) {
  NonidealFrame& F = gFrame;
  CMovingFrameCore& f = Core();
  f.SetFrameEndRadii(tau + dt);
  for (int q = 0; q < 4; ++q) ComputeRow(F.rows[q], F.end[q]);
  f.SetFrameEndRadii(tau);
  for (int q = 0; q < 4; ++q) {
    ComputeRow(F.rows[q], F.start[q]);
    StoreRow(F.rows[q], F.start[q]);
  }
}

// One row of the stiffness: sum_k s_k C - F - sum_k D_k B / E^2.
struct Stiffness {
  double lo, di, up;
};
Stiffness RowStiffness(int i, const double* B, const double* C, const double* Fr, double invE2) {
  const NonidealFrame& F = gFrame;
  const double *s = F.s, *D = F.D;
  const int N = F.N;
  const double sm = i > 1 ? s[i - 1] : 0, sp = i < N ? s[i + 1] : 0;
  const double Dm = i > 1 ? D[i - 1] : 0, Dp = i < N ? D[i + 1] : 0;
  Stiffness k;
  k.lo = sm * C[0] + s[i] * C[2] - Fr[0] - (Dm * B[0] + D[i] * B[2]) * invE2;
  k.di = sm * C[1] + s[i] * C[3] + sp * C[5] - Fr[1] - (Dm * B[1] + D[i] * B[3] + Dp * B[5]) * invE2;
  k.up = s[i] * C[4] + sp * C[6] - Fr[2] - (D[i] * B[4] + Dp * B[6]) * invE2;
  return k;
}

// The amount form of the step: with the mass E^2 M(t) of the moving cells,
//   E1^2 (M1 - dt/2 K1) c(t + dt) = E0^2 (M0 + dt/2 K0) c(t),
// whose column sums keep the amount in the sector exactly.
void AssembleNonidealMovingFrameMatrices(double dt) {
  NonidealFrame& F = gFrame;
  const int N = F.N;
  const double tau = RS().t - Core().t0;
  const double E0 = std::exp(F.k * tau), E1 = std::exp(F.k * (tau + dt));
  const double e0 = E0 * E0, e1 = E1 * E1;
  const double inv0 = 1 / e0, inv1 = 1 / e1;
  const double h = dt / 2;
  const double *s = F.s, *D = F.D;
  const double *B0 = F.B[0], *B1 = F.B[1], *B2 = F.B[2], *B3 = F.B[3], *B4 = F.B[4], *B5 = F.B[5],
               *B6 = F.B[6];
  const double *C0 = F.C[0], *C1 = F.C[1], *C2 = F.C[2], *C3 = F.C[3], *C4 = F.C[4], *C5 = F.C[5],
               *C6 = F.C[6];
  for (int i = 3; i <= N - 2; ++i) {
    const double Slo = s[i - 1] * C0[i] + s[i] * C2[i] - F.Flo[i];
    const double Sdi = s[i - 1] * C1[i] + s[i] * C3[i] + s[i + 1] * C5[i] - F.Fdi[i];
    const double Sup = s[i] * C4[i] + s[i + 1] * C6[i] - F.Fup[i];
    const double Dlo = D[i - 1] * B0[i] + D[i] * B2[i];
    const double Ddi = D[i - 1] * B1[i] + D[i] * B3[i] + D[i + 1] * B5[i];
    const double Dup = D[i] * B4[i] + D[i + 1] * B6[i];
    F.ARlo[i] = e0 * (F.Mlo[i] + h * Slo) - h * Dlo;
    F.ARdi[i] = e0 * (F.Mdi[i] + h * Sdi) - h * Ddi;
    F.ARup[i] = e0 * (F.Mup[i] + h * Sup) - h * Dup;
    F.ALlo[i] = e1 * (F.Mlo[i] - h * Slo) + h * Dlo;
    F.ALdi[i] = e1 * (F.Mdi[i] - h * Sdi) + h * Ddi;
    F.ALup[i] = e1 * (F.Mup[i] - h * Sup) + h * Dup;
  }
  for (int q = 0; q < 4; ++q) {
    const int i = F.rows[q];
    const RowIntegrals &a = F.start[q], &e = F.end[q];
    const Stiffness k0 = RowStiffness(i, a.B, a.C, a.F, inv0);
    const Stiffness k1 = RowStiffness(i, e.B, e.C, e.F, inv1);
    F.ARlo[i] = e0 * (a.M[0] + h * k0.lo);
    F.ARdi[i] = e0 * (a.M[1] + h * k0.di);
    F.ARup[i] = e0 * (a.M[2] + h * k0.up);
    F.ALlo[i] = e1 * (e.M[0] - h * k1.lo);
    F.ALdi[i] = e1 * (e.M[1] - h * k1.di);
    F.ALup[i] = e1 * (e.M[2] - h * k1.up);
  }
  F.ARlo[1] = F.ALlo[1] = 0;
  F.ARup[N] = F.ALup[N] = 0;
}

bool Failed() {
  const LammSolverSettings& st = LammSettings();
  return st.singularMatrixError || st.nonidealityOutOfRange;
}

// A_L x = A_R c_old; after a failure x = c_old.
void Solve(double* x) {
  NonidealFrame& F = gFrame;
  TridiagonalMultiply(F.ARlo, F.ARdi, F.ARup, F.cOld, F.rhs, F.N);
  if (!SolveTridiagonal(F.ALlo, F.ALdi, F.ALup, F.rhs, x, F.gam, F.N)) {
    LammSettings().singularMatrixError = 1;
    for (int i = 1; i <= F.N; ++i) x[i] = F.cOld[i];
  }
}

void NonidealMovingFrameTrialStep(double dt) {
  NonidealFrame& F = gFrame;
  LammRunState& rs = RS();
  F.dt = dt;
  if (!F.coef.Plain(F.cOld, F.s, F.D, F.N)) {
    LammSettings().nonidealityOutOfRange = 1;
    return;
  }
  if (LammSettings().rampRotorSpeed && rs.accelerating) {
    rs.rpm = RotorSpeedDuringAcceleration(rs.t, dt);
    UpdateMovingFrameOmegaIntegrals(rs.rpm);
  }
  UpdateBoundaryElements(rs.t - Core().t0, dt);
  AssembleNonidealMovingFrameMatrices(dt);
  Solve(F.cTrial);
}

void NonidealMovingFrameCorrector() {
  NonidealFrame& F = gFrame;
  if (!F.coef.Averaged(F.cOld, F.cTrial, F.s, F.D, F.N)) {
    LammSettings().nonidealityOutOfRange = 1;
    for (int i = 1; i <= F.N; ++i) F.c[i] = F.cOld[i];
    return;
  }
  AssembleNonidealMovingFrameMatrices(F.dt);
  Solve(F.c);
}

void NonidealMovingFrameAcceptStep() {
  NonidealFrame& F = gFrame;
  LammRunState& rs = RS();
  ++F.steps;
  rs.dt = F.dt;
  if (AdvanceRunClock(F.dt)) UpdateMovingFrameOmegaIntegrals(rs.rpm);
  const double frameEnd = Core().t0 + Core().period;
  if (std::fabs(rs.t - frameEnd) <= 1e-9 * std::max(1.0, frameEnd)) rs.t = frameEnd;
  if (LammSettings().massConservationCheck) rs.totalAmount = TotalAmountNonidealMovingFrame();
}

}  // namespace

double TotalAmountNonidealMovingFrame() { return Core().TotalAmount(RS().t); }
int NonidealMovingFrameShifts() { return gFrame.shifts; }
int NonidealMovingFrameSteps() { return gFrame.steps; }
double NonidealMovingFrameSGrid() { return gFrame.sGrid; }

double NonidealMovingFrameStep() {
  NonidealFrame& F = gFrame;
  LammRunState& rs = RS();
  CMovingFrameCore& f = Core();
  double dt = F.steps == 0 ? 1.0 : F.dt0;
  if (std::fabs(rs.t - f.t0 - f.period) < 1e-10 * std::max(1.0, rs.t)) {
    f.ShiftFrame(rs.t);
    ++F.shifts;
  }
  if (rs.t + dt > f.t0 + f.period) dt = f.t0 + f.period - rs.t;
  for (int i = 1; i <= F.N; ++i) F.cOld[i] = F.c[i];
  if (LammSettings().rampRotorSpeed && rs.accelerating) {
    dt = std::min(dt, rs.maxStepAccelerating);
    if (rs.t + dt > rs.accelerationEnd) dt = rs.accelerationEnd - rs.t;
  }
  if (rs.pendingFlag && rs.t + dt > rs.pendingTime) {
    rs.pendingFlag = 0;
    dt = rs.pendingTime - rs.t;
  }
  if (dt <= 0) {
    rs.dt = 1.0;
    return 1.0;
  }
  const bool first = F.steps == 0;
  NonidealMovingFrameTrialStep(dt);
  if (Failed()) {
    for (int i = 1; i <= F.N; ++i) F.c[i] = F.cOld[i];
    return 1.0;
  }
  NonidealMovingFrameCorrector();
  if (Failed()) return 1.0;
  NonidealMovingFrameAcceptStep();
  return first ? dt : 1.0;
}

int SimulateNonidealMovingFrameLamm() {
  LammGrid& g = CurrentLammGrid();
  NonidealFrame& F = gFrame;
  F.steps = 0;
  if (!g.GridAllocated || !g.FrameRadius || !g.ConcDependentArrays[16] || g.AllocatedGridSize < 5)
    return 0;
  LammSolverSettings& st = LammSettings();
  LammRunState& rs = RS();
  ConcDependentSpecies sp = CurrentConcDependentSpecies();
  st.singularMatrixError = st.discretizationError = st.nonidealityOutOfRange = 0;
  sp.scheme = 2.0f;  // predictor and averaged corrector, whatever the static twin uses
  F.coef.Setup(sp);
  // The user's max dc/c stays as it is; a slow frame takes tenths of it.
  double Ehi = st.workingMaxDcOverC;
  auto slowFrame = [&] {
    if (F.sGrid < 1 && Ehi >= 1) Ehi = 0.1;
  };
  F.sGrid = st.automaticSGrid ? (sp.s1 + sp.s2) / 2 : st.gridS;
  slowFrame();
  const double c1 = g.Concentration[1];
  if (sp.kind == ConcDependentSpecies::Kind::Nonideal && st.automaticSGrid) {
    if (F.coef.cosolute) {
      F.sGrid = CsClSedimentationCoefficient25C(c1);
    } else if (sp.hardSphere) {
      F.sGrid = ConcentrationFactorS(1.0f, static_cast<float>(F.coef.ks), static_cast<float>(F.coef.kd),
                                     static_cast<float>(sp.s1), static_cast<float>(sp.D1), sp.vbar,
                                     static_cast<float>(kWaterDensity20C), 20.0f, 1.0f) *
                sp.s1;
    } else {
      const double d = F.coef.ks * c1 + 1;
      if (!(d > 0)) {
        st.nonidealityOutOfRange = 1;
        return 0;
      }
      F.sGrid = sp.s1 / d;
    }
    slowFrame();
  }
  rs.s = sp.s1;
  rs.D = sp.D1;
  Bind();
  CMovingFrameCore& f = Core();
  // The frame shift reads the species' own s and D.
  f.s = sp.s1;
  f.D = sp.D1;
  if (F.sGrid < 0 || !std::isfinite(F.sGrid)) {
    // A floating frame would run its period backwards: the static twin
    // solves the same equation on fixed nodes.
    f.xi = nullptr;
    const std::uint8_t movingHat = st.movingHatAlgorithm;
    st.movingHatAlgorithm = 0;
    const int code = SimulateConcDependentLamm();
    st.movingHatAlgorithm = movingHat;
    return code;
  }
  SetupNonidealMovingFrame();
  F.dt0 = F.sGrid == 0 ? Ehi : Ehi * f.period;
  if (F.dt0 >= f.period) F.dt0 = f.period;
  for (int i = 1; i <= F.N; ++i) F.cOld[i] = F.c[i];
  F.dt = rs.dt = Ehi;
  // Once the fit range is empty nothing the scans show changes any more
  // (the ideal frame's depletion stop): the frame takes a step per element
  // its boundary travels, and a species that leaves the fit range early
  // took as many steps over the rest of the run (at 1000 S over 3.5 hours,
  // 10 s an evaluation, where a fit over featureless scans walked s).
  SetupDepletionStopTest();
  CQuietSteps quiet;
  while (rs.running && !Failed()) {
    const double q = NonidealMovingFrameStep();
    CurrentGlobalLammHooks().stepDone(q);
    if (Failed()) break;
    if (rs.running && IsDepletionStopReached()) {
      StopAndDeliverRemainingScans();
      break;
    }
    // Here any long step that hardly changes the profile counts, however
    // long the run still has to go.
    if (quiet.Count(F.dt >= kQuietStepLength && q / F.dt < st.equilibriumThreshold)) StopAndDeliverRemainingScans();
  }
  return 0;
}
