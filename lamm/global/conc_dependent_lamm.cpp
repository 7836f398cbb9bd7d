// Static-grid concentration-dependent Lamm solver on the global arrays
// (equations in the header).
#include "lamm/global/conc_dependent_lamm.h"

#include <algorithm>
#include <cmath>

#include "data/rotor_speed_profile.h"
#include "lamm/fe_integrals.h"
#include "lamm/global/conc_dependent_coefficients.h"
#include "lamm/global/global_lamm_hooks.h"
#include "lamm/global/static_grid_lamm.h"
#include "lamm/lamm_conc_dependent.h"
#include "lamm/lamm_grid_arrays.h"
#include "lamm/lamm_run_state.h"
#include "lamm/lamm_settings.h"
#include "lamm/quiet_steps.h"
#include "numerics/constants.h"

namespace {
constexpr int kMaxNegativeEvents = 10;
// Relative change that the present rate may still bring before the last
// scan when the run stops at equilibrium.
// Largest dc/c an adaptive step aims at while s and D follow c: the
// coefficients of a step are those of its start (and of its predictor), and
// longer steps leave the boundary a few 1e-3 of the loading behind.
constexpr double kConcDependentMaxDc = 0.2;

struct StaticTwin {
  int N = 0;
  double h = 0, m = 0, b = 0;
  double *r = nullptr, *c = nullptr, *cp = nullptr, *cpred = nullptr, *s = nullptr, *D = nullptr;
  double *I[7] = {}, *J[7] = {};
  double *Mlo = nullptr, *Mdi = nullptr, *Mup = nullptr;
  double *Alo = nullptr, *Adi = nullptr, *Aup = nullptr;
  double *Llo = nullptr, *Ldi = nullptr, *Lup = nullptr;
  double *Rlo = nullptr, *Rdi = nullptr, *Rup = nullptr;
  double *rhs = nullptr, *gam = nullptr;
  CConcDependentCoefficients coef;
  ConcStepControl ctl;
  int scheme = 1;
  int steps = 0;
  bool fixed = false, equilibrium = false;
  double s1 = 0, s2 = 0;
  double lastDt = 1.0;  // length of the last step taken
};

StaticTwin gTwin;

LammRunState& RS() { return CurrentLammRunState(); }

void Bind() {
  LammGrid& g = CurrentLammGrid();
  StaticTwin& T = gTwin;
  T.N = g.AllocatedGridSize;
  T.m = CurrentGlobalLammHooks().meniscus();
  T.b = CurrentGlobalLammHooks().bottom();
  T.h = (T.b - T.m) / (T.N - 1);
  T.r = g.Radius;
  T.c = g.Concentration;
  T.cp = g.PreviousConcentration;
  T.rhs = g.RightHandSide;
  T.gam = g.TridagWork;
  T.cpred = g.ConcDependentArrays[0];
  T.s = g.ConcDependentArrays[1];
  T.D = g.ConcDependentArrays[2];
  for (int p = 0; p < 7; ++p) {
    T.I[p] = g.ConcDependentArrays[3 + p];
    T.J[p] = g.ConcDependentArrays[10 + p];
  }
  T.Mlo = g.MassSub, T.Mdi = g.MassDiag, T.Mup = g.MassSuper;
  T.Alo = g.StiffnessOldSub, T.Adi = g.StiffnessOldDiag, T.Aup = g.StiffnessOldSuper;
  T.Llo = g.SystemSub, T.Ldi = g.SystemDiag, T.Lup = g.SystemSuper;
  T.Rlo = g.StiffnessNewSub, T.Rdi = g.StiffnessNewDiag, T.Rup = g.StiffnessNewSuper;
}

// The solver needs the uniform grid: a profile loaded on other radii is
// carried over by linear interpolation.
void MakeGridUniform() {
  StaticTwin& T = gTwin;
  bool uniform = true;
  for (int i = 1; i <= T.N && uniform; ++i)
    uniform = std::fabs(T.r[i] - (T.m + (i - 1) * T.h)) <= 1e-9 * T.b;
  if (uniform) return;
  for (int i = 1; i <= T.N; ++i) T.cp[i] = T.c[i];
  int k = 1;
  for (int i = 1; i <= T.N; ++i) {
    const double x = i == T.N ? T.b : T.m + (i - 1) * T.h;
    while (k < T.N - 1 && T.r[k + 1] < x) ++k;
    const double w = std::clamp((x - T.r[k]) / (T.r[k + 1] - T.r[k]), 0.0, 1.0);
    T.rhs[i] = T.cp[k] + w * (T.cp[k + 1] - T.cp[k]);
  }
  for (int i = 1; i <= T.N; ++i) {
    T.c[i] = T.rhs[i];
    T.r[i] = i == T.N ? T.b : T.m + (i - 1) * T.h;
  }
}

void PrecomputeConcDependentIntegrals(double rpm) {
  StaticTwin& T = gTwin;
  const double w2 = SvedbergOmega2(rpm);
  const int N = T.N;
  for (int i = 1; i <= N; ++i) {
    T.Mlo[i] = i > 1 ? static_cast<double>(FEIntegralA(T.r, N, T.m, T.b, i, i - 1)) : 0.0;
    T.Mdi[i] = static_cast<double>(FEIntegralA(T.r, N, T.m, T.b, i, i));
    T.Mup[i] = i < N ? static_cast<double>(FEIntegralA(T.r, N, T.m, T.b, i, i + 1)) : 0.0;
    const int pj[7] = {i - 1, i, i - 1, i, i + 1, i, i + 1};
    const int pk[7] = {i - 1, i - 1, i, i, i, i + 1, i + 1};
    for (int p = 0; p < 7; ++p) {
      T.I[p][i] = static_cast<double>(FEIntegralB(T.r, N, T.m, T.b, i, pj[p], pk[p]));
      T.J[p][i] = w2 * static_cast<double>(FEIntegralC(T.r, N, T.m, T.b, i, pj[p], pk[p]));
    }
  }
}

void AssembleConcDependentTransport() {
  StaticTwin& T = gTwin;
  const int N = T.N;
  const double *s = T.s, *D = T.D;
  const double *I0 = T.I[0], *I1 = T.I[1], *I2 = T.I[2], *I3 = T.I[3], *I4 = T.I[4], *I5 = T.I[5],
               *I6 = T.I[6];
  const double *J0 = T.J[0], *J1 = T.J[1], *J2 = T.J[2], *J3 = T.J[3], *J4 = T.J[4], *J5 = T.J[5],
               *J6 = T.J[6];
  // Entries 0 and N + 1 of s and D are never read with a non-zero integral.
  for (int i = 1; i <= N; ++i) {
    const double sm = i > 1 ? s[i - 1] : 0, sp = i < N ? s[i + 1] : 0;
    const double Dm = i > 1 ? D[i - 1] : 0, Dp = i < N ? D[i + 1] : 0;
    T.Alo[i] = sm * J0[i] + s[i] * J2[i] - (Dm * I0[i] + D[i] * I2[i]);
    T.Adi[i] = sm * J1[i] + s[i] * J3[i] + sp * J5[i] - (Dm * I1[i] + D[i] * I3[i] + Dp * I5[i]);
    T.Aup[i] = s[i] * J4[i] + sp * J6[i] - (D[i] * I4[i] + Dp * I6[i]);
  }
  T.Alo[1] = 0;
  T.Aup[N] = 0;
}

void BuildCrankNicolsonMatrices(double dt) {
  StaticTwin& T = gTwin;
  const double q = dt / 2;
  for (int i = 1; i <= T.N; ++i) {
    T.Llo[i] = T.Mlo[i] - q * T.Alo[i];
    T.Ldi[i] = T.Mdi[i] - q * T.Adi[i];
    T.Lup[i] = T.Mup[i] - q * T.Aup[i];
    T.Rlo[i] = T.Mlo[i] + q * T.Alo[i];
    T.Rdi[i] = T.Mdi[i] + q * T.Adi[i];
    T.Rup[i] = T.Mup[i] + q * T.Aup[i];
  }
}

bool OutOfRange() {
  LammSettings().nonidealityOutOfRange = 1;
  return false;
}

bool PlainCoefficients() {
  StaticTwin& T = gTwin;
  return T.coef.Plain(T.cp, T.s, T.D, T.N) || OutOfRange();
}

// L x = R c_prev; on a singular system x = c_prev and the flag is raised.
void SolveStep(double dt, double* x) {
  StaticTwin& T = gTwin;
  AssembleConcDependentTransport();
  BuildCrankNicolsonMatrices(dt);
  TridiagonalMultiply(T.Rlo, T.Rdi, T.Rup, T.cp, T.rhs, T.N);
  if (!SolveTridiagonal(T.Llo, T.Ldi, T.Lup, T.rhs, x, T.gam, T.N)) {
    LammSettings().singularMatrixError = 1;
    for (int i = 1; i <= T.N; ++i) x[i] = T.cp[i];
  }
}

bool Failed() {
  const LammSolverSettings& st = LammSettings();
  return st.singularMatrixError || st.discretizationError || st.nonidealityOutOfRange;
}

void Predict(double dt) {
  StaticTwin& T = gTwin;
  LammRunState& rs = RS();
  RS().dt = dt;
  if (!PlainCoefficients()) return;
  if (LammSettings().rampRotorSpeed && rs.accelerating) {
    rs.rpm = RotorSpeedDuringAcceleration(rs.t, dt);
    PrecomputeConcDependentIntegrals(rs.rpm);
  }
  SolveStep(dt, T.cpred);
}

void Correct() {
  StaticTwin& T = gTwin;
  if (Failed()) {
    for (int i = 1; i <= T.N; ++i) T.c[i] = T.cp[i];
    return;
  }
  if (T.scheme == 1) {
    for (int i = 1; i <= T.N; ++i) T.c[i] = T.cpred[i];
    return;
  }
  const bool ok = T.scheme == 2 ? T.coef.Averaged(T.cp, T.cpred, T.s, T.D, T.N)
                                : T.coef.Midpoint(T.cp, T.cpred, T.s, T.D, T.N);
  if (!ok) {
    OutOfRange();
    for (int i = 1; i <= T.N; ++i) T.c[i] = T.cp[i];
    return;
  }
  SolveStep(RS().dt, T.c);
}

double RelativeChange() {
  StaticTwin& T = gTwin;
  bool undershoot = false;
  const double e = RelativeStepChange(T.cpred, T.cp, 1, T.N, 1e-8, undershoot);
  return undershoot ? T.ctl.Undershoot() : e;
}

void ConcDependentAdvanceTime() {
  StaticTwin& T = gTwin;
  LammRunState& rs = RS();
  ++T.steps;
  T.lastDt = rs.dt;
  if (AdvanceRunClock(rs.dt)) PrecomputeConcDependentIntegrals(rs.rpm);
  if (LammSettings().massConservationCheck) rs.totalAmount = TotalAmountConcDependent();
}

// Step limits of the acceleration phase and of the next scan time.
double LimitForAcceleration(double dt) {
  const LammRunState& rs = RS();
  if (!LammSettings().rampRotorSpeed || !rs.accelerating) return dt;
  dt = std::min(dt, rs.maxStepAccelerating);
  if (rs.maxStepAccelerating > 0 && rs.t + dt > rs.accelerationEnd) dt = rs.accelerationEnd - rs.t;
  return dt;
}

double LimitForScan(double dt, bool clear) {
  LammRunState& rs = RS();
  if (rs.pendingFlag && rs.t + dt > rs.pendingTime) {
    if (clear) rs.pendingFlag = 0;
    dt = rs.pendingTime - rs.t;
  }
  return dt;
}

}  // namespace

double TotalAmountConcDependent() {
  const StaticTwin& T = gTwin;
  const int N = T.N;
  if (N < 2 || !T.c) return 0;
  const double h = T.h;
  double sum = h / 6 * ((3 * T.r[1] + h) * T.c[1] + (3 * T.r[N] - h) * T.c[N]);
  for (int i = 2; i < N; ++i) sum += h * T.r[i] * T.c[i];
  return sum * kSectorFactor;
}

bool ConcDependentEquilibriumReached() { return gTwin.equilibrium; }
int ConcDependentStepCount() { return gTwin.steps; }

double LammStepConcDependent() {
  StaticTwin& T = gTwin;
  LammRunState& rs = RS();
  const LammSolverSettings& st = LammSettings();
  const int N = T.N;
  for (int i = 1; i <= N; ++i) T.cp[i] = T.c[i];
  double dt = rs.dt;
  if (T.fixed) dt = st.workingMaxDcOverC;
  dt = LimitForAcceleration(dt);
  dt = LimitForScan(dt, true);
  if (dt <= 0) {
    rs.dt = T.lastDt = 1.0;
    return 1.0;
  }
  Predict(dt);
  if (Failed()) {
    for (int i = 1; i <= N; ++i) T.c[i] = T.cp[i];
    return 1.0;
  }
  const bool onScan = rs.t + dt == rs.pendingTime;
  if (onScan && T.steps > 0) {
    Correct();
    ConcDependentAdvanceTime();
    return 1.0;
  }
  if (T.steps == 0) {
    Correct();
    ConcDependentAdvanceTime();
    return dt;
  }
  double rate = RelativeChange();
  if (T.fixed) {
    Correct();
    ConcDependentAdvanceTime();
    return rate;
  }
  // A boundary that should pile up at the bottom but falls there: shorter.
  const bool sediments = T.s1 >= 0 && T.s2 > 0, floats = T.s1 < 0 && T.s2 < 0;
  if (((sediments && T.cpred[N] < T.cp[N]) || (floats && T.cpred[N] > T.cp[N])) && dt >= 1) {
    dt /= 2;
    Predict(dt);
    rate = RelativeChange();
  }
  while (rate > T.ctl.tol && !Failed()) {
    if (T.ctl.forced > kMaxNegativeEvents) {
      LammSettings().discretizationError = 1;
      break;
    }
    dt = LimitForAcceleration(T.ctl.Shrink(rate, dt));
    Predict(dt);
    rate = RelativeChange();
  }
  if (Failed()) {
    for (int i = 1; i <= N; ++i) T.c[i] = T.cp[i];
    return rate;
  }
  Correct();
  ConcDependentAdvanceTime();
  double next = T.ctl.Grow(rate, dt);
  next = LimitForScan(next, false);
  next = LimitForAcceleration(next);
  rs.dt = next;
  return rate;
}

int SimulateConcDependentLamm() {
  LammGrid& g = CurrentLammGrid();
  StaticTwin& T = gTwin;
  T.steps = 0;
  T.equilibrium = false;
  if (!g.GridAllocated || !g.ConcDependentArrays[16] || g.AllocatedGridSize < 3) return 0;
  LammSolverSettings& st = LammSettings();
  LammRunState& rs = RS();
  const ConcDependentSpecies& sp = CurrentConcDependentSpecies();
  Bind();
  st.singularMatrixError = st.discretizationError = st.nonidealityOutOfRange = 0;
  const int code = T.coef.Setup(sp);
  if (code != 0) return code;
  T.scheme = static_cast<int>(sp.scheme);
  T.s1 = sp.kind == ConcDependentSpecies::Kind::DimerTetramer ||
                 sp.kind == ConcDependentSpecies::Kind::TetramerOctamer
             ? sp.s3[1]
             : sp.s1;
  T.s2 = sp.s2;
  MakeGridUniform();
  st.singularMatrixError = st.discretizationError = st.nonidealityOutOfRange = 0;
  // The highest concentration decides: a measured start may be depleted
  // at the meniscus where a loading is not.
  double top = T.c[1];
  for (int i = 2; i <= T.N; ++i) top = std::max(top, T.c[i]);
  if (T.coef.linear && T.coef.ks * top > 1) {
    st.nonidealityOutOfRange = 1;
    return 0;
  }
  for (int i = 1; i <= T.N; ++i) T.cp[i] = T.c[i];
  PrecomputeConcDependentIntegrals(rs.rpm);
  if (!PlainCoefficients()) return 0;
  AssembleConcDependentTransport();
  const double upper = std::min(st.workingMaxDcOverC, kConcDependentMaxDc);
  T.ctl.Start(upper, st.lowerStepThreshold * upper, st.upperStepThreshold * upper, 2.0, 1.0);
  T.ctl.dtMax = 1000.0;
  T.fixed = st.fixedTimeStep != 0;
  if (T.fixed) rs.dt = st.workingMaxDcOverC;  // the fixed step itself
  const double lastScan = CurrentGlobalLammHooks().lastScanTime();
  CQuietSteps quiet;
  while (rs.running && !Failed()) {
    const double rate = LammStepConcDependent();
    CurrentGlobalLammHooks().stepDone(rate);
    if (Failed()) break;
    // Eleven long steps in a row that hardly change anything: equilibrium.
    // Only a rate that could not change the profile noticeably before the
    // last scan either counts.
    const double perSecond = rate / T.lastDt;
    if (quiet.Count(IsQuietStep(T.lastDt, perSecond, st.equilibriumThreshold, std::max(0.0, lastScan - rs.t)))) {
      T.equilibrium = true;
      StopAndDeliverRemainingScans();
    }
  }
  return 0;
}
