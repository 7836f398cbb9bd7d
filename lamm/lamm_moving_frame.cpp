// Moving-frame path of CLammIdeal. Interior nodes travel with the frame,
// r_i(t) = xi_i exp(k (t - t0)), k = w^2 s* 1e-13 (1/s), the end nodes stay at
// meniscus m and bottom b (cm). In the frame coordinate xi = r / f,
// f = exp(k (t - t0)), the Galerkin form with test functions xi phi_i is
//
//   M dc/dt = L c,   L = -(D / f^2) A - C,   C = k Motion - k_s Sed,
//
// M, A, Sed, Motion the frame integrals, k_s = w^2 s 1e-13. Crank-Nicolson
// with the mass matrix averaged over the step; after each frame period P
// (nodes moved by one geometric ratio q) the solution is re-indexed by one
// node and the frame restarts, so interior matrix rows never change.
#include <algorithm>
#include <cmath>

#include "lamm/fe_integrals.h"
#include "lamm/lamm_ideal.h"
#include "numerics/error_box.h"

namespace {
constexpr double kPi = 3.141592653589793;
constexpr double kSectorFactor = 1.2 * 0.03490658503988659;
constexpr double kSteadyChange = 1e-5;

double Omega2(double rpm) {
  const double w = rpm * (1.0 / 60.0) * 2 * kPi;
  return w * w;
}

// Frame-motion velocity at node k: interior nodes move, the ends do not.
double V(const double* xi, int N, int k) { return (k == 1 || k == N) ? 0.0 : xi[k]; }
}  // namespace

// ------------------------------------------------------------ frame integrals

double CLammIdeal::FrameIntegralMass(int i, int j) const {
  return static_cast<double>(FEIntegralMassNonUniform(xi_, N_, i, j, N_));
}

double CLammIdeal::FrameIntegralWeight(int i) const {
  return static_cast<double>(FEIntegralSedimentation(xi_, N_, i, N_));
}

double CLammIdeal::FrameIntegralDiffusion(int i, int j) const {
  double v = static_cast<double>(FEIntegralDiffusionNonUniform(xi_, N_, i, j, N_));
  if (steep_ && s_ < 0) {
    const double t = xi_[1] / (xi_[2] - xi_[1]);
    if (i == 1 && j == 1) v -= t;
    if (i == 1 && j == 2) v += t;
  } else if (steep_ && s_ > 0) {
    const double t = xi_[N_] / (xi_[N_] - xi_[N_ - 1]);
    if (i == N_ && j == N_) v -= t;
    if (i == N_ && j == N_ - 1) v += t;
  }
  return v;
}

double CLammIdeal::FrameIntegralSedimentation(int i, int j) const {
  double v = static_cast<double>(FEIntegralSedimentationNonUniform(xi_, N_, i, j, N_));
  // Outflow where the species piles up: the flux k_s r^2 c leaves the cell.
  if (steep_ && s_ < 0 && i == 1 && j == 1) v += xi_[1] * xi_[1];
  if (steep_ && s_ > 0 && i == N_ && j == N_) v -= xi_[N_] * xi_[N_];
  return v;
}

double CLammIdeal::FrameIntegralMotion(int i, int j) const {
  if (i < 1 || j < 1 || i > N_ || j > N_ || std::abs(i - j) > 1) return 0;
  // Sum over the elements [a, b] that carry both hats; i is the test hat,
  // j the differentiated one.
  double sum = 0;
  for (int e = std::max(1, std::max(i, j) - 1); e <= std::min(i, j) && e < N_; ++e) {
    const double a = xi_[e], b = xi_[e + 1];
    const double va = V(xi_, N_, e), vb = V(xi_, N_, e + 1);
    const double pa = (va * (3 * a + b) + vb * (a + b)) / 12;
    const double pb = (va * (a + b) + vb * (a + 3 * b)) / 12;
    const bool ia = i == e, ja = j == e;
    if (ia && ja) sum += pa;
    else if (ia && !ja) sum -= pa;
    else if (!ia && ja) sum += pb;
    else sum -= pb;
  }
  return sum;
}

double CLammIdeal::FrameIntegralCombined(int i, int j) const {
  double v = FrameIntegralMotion(i, j) -
             static_cast<double>(FEIntegralSedimentationNonUniform(xi_, N_, i, j, N_));
  // The same outflow terms as Motion - Sedimentation carries: -xi_1^2 at
  // the meniscus for flotation, +xi_N^2 at the bottom for sedimentation.
  if (steep_ && s_ < 0 && i == 1 && j == 1) v -= xi_[1] * xi_[1];
  if (steep_ && s_ > 0 && i == N_ && j == N_) v += xi_[N_] * xi_[N_];
  return v;
}

double CLammIdeal::FrameC(int i, int j) const {
  return kF_ * FrameIntegralMotion(i, j) - kS_ * FrameIntegralSedimentation(i, j);
}

// ------------------------------------------------------------ grid and bands

void CLammIdeal::SetupMovingFrameGrid() {
  const double m = meniscus_, b = bottom_;
  const double w2 = Omega2(rpm_);
  kS_ = w2 * s_ * 1e-13;
  kF_ = w2 * sStar_ * 1e-13;
  t0_ = t_;
  period_ = sStar_ == 0 ? 1e10 : std::log(b / m) * (1.0 / (N_ - 1)) * (1.0 / std::fabs(kF_));
  const double q = std::pow(b / m, 1.0 / (N_ - 1));
  xi_[1] = m;
  if (sStar_ >= 0) {
    for (int i = 2; i <= N_ - 1; ++i) xi_[i] = m * std::pow(b / m, (i - 1.5) / (N_ - 1));
  } else {
    xi_[2] = m * std::pow(b / m, 1.5 / (N_ - 1));
    for (int i = 3; i <= N_ - 1; ++i) xi_[i] = xi_[i - 1] * q;
  }
  xi_[N_] = b;
  for (int i = 1; i <= N_; ++i) r_[i] = xi_[i];
  nonUniformGrid_ = true;
}

void CLammIdeal::AssembleMovingFrameMatrices() {
  SetupMovingFrameGrid();
  for (int i = 1; i <= N_; ++i) {
    const int j0 = i - 1, j2 = i + 1;
    Klo_[i] = i > 1 ? FrameIntegralDiffusion(i, j0) : 0;
    Kdi_[i] = FrameIntegralDiffusion(i, i);
    Kup_[i] = i < N_ ? FrameIntegralDiffusion(i, j2) : 0;
    Blo_[i] = i > 1 ? kS_ * FrameIntegralSedimentation(i, j0) : 0;
    Bdi_[i] = kS_ * FrameIntegralSedimentation(i, i);
    Bup_[i] = i < N_ ? kS_ * FrameIntegralSedimentation(i, j2) : 0;
    Clo_[i] = i > 1 ? FrameC(i, j0) : 0;
    Cdi_[i] = FrameC(i, i);
    Cup_[i] = i < N_ ? FrameC(i, j2) : 0;
    Mlo_[i] = i > 1 ? FrameIntegralMass(i, j0) : 0;
    Mdi_[i] = FrameIntegralMass(i, i);
    Mup_[i] = i < N_ ? FrameIntegralMass(i, j2) : 0;
  }
  const double m = meniscus_, b = bottom_;
  const double x2 = xi_[2], x3 = xi_[3], y1 = xi_[N_ - 1], y2 = xi_[N_ - 2];
  E_[1] = (x2 * x2 + m * x2 - 2 * m * m) / 6;
  E_[2] = (x2 + m + x3) * (x3 - m) / 6;
  E_[3] = x2 * x2 / 3 - x2 * m / 6 - m * m / 6;
  E_[4] = x3 * x3 / 3 - x3 * x2 / 6 - x2 * x2 / 6;
  E_[5] = (y1 * y1 + y2 * y1 - 2 * y2 * y2) / 6;
  E_[6] = (b * b + y1 * b - 2 * y1 * y1) / 6;
  E_[7] = (y1 + y2 + b) * (b - y2) / 6;
  E_[8] = b * b / 3 - b * y1 / 6 - y1 * y1 / 6;
}

void CLammIdeal::UpdateSedimentationTerms() {
  kS_ = Omega2(rpm_) * s_ * 1e-13;
  for (int i = 1; i <= N_; ++i) {
    Blo_[i] = i > 1 ? kS_ * FrameIntegralSedimentation(i, i - 1) : 0;
    Bdi_[i] = kS_ * FrameIntegralSedimentation(i, i);
    Bup_[i] = i < N_ ? kS_ * FrameIntegralSedimentation(i, i + 1) : 0;
    Clo_[i] = i > 1 ? FrameC(i, i - 1) : 0;
    Cdi_[i] = FrameC(i, i);
    Cup_[i] = i < N_ ? FrameC(i, i + 1) : 0;
  }
  storedReady_ = false;  // the stored period system holds the old speed
}

void CLammIdeal::SetFrameEndRadii(double tau) {
  const double e = std::exp(kF_ * tau);
  xi_[1] = meniscus_ / e;
  xi_[N_] = bottom_ / e;
}

namespace {
// The eight boundary positions (1,1) (1,2) (2,1) (2,2) (N-1,N-1) (N-1,N)
// (N,N-1) (N,N) as (row, column) pairs.
void BoundaryPair(int k, int N, int& i, int& j) {
  static const int rows[8] = {1, 1, 2, 2, -1, -1, 0, 0};
  static const int cols[8] = {1, 2, 1, 2, -1, 0, -1, 0};
  i = rows[k] <= 0 ? N + rows[k] : rows[k];
  j = cols[k] <= 0 ? N + cols[k] : cols[k];
}

double& Band(double* lo, double* di, double* up, int i, int j) {
  if (j == i - 1) return lo[i];
  if (j == i + 1) return up[i];
  return di[i];
}
}  // namespace

void CLammIdeal::FrameBoundaryEntries(double store[4][8]) const {
  for (int k = 0; k < 8; ++k) {
    int i, j;
    BoundaryPair(k, N_, i, j);
    store[0][k] = FrameIntegralMass(i, j);
    store[1][k] = FrameIntegralDiffusion(i, j);
    store[2][k] = kS_ * FrameIntegralSedimentation(i, j);
    store[3][k] = FrameC(i, j);
  }
}

void CLammIdeal::RefreshBoundaryEntries() {
  double now[4][8];
  FrameBoundaryEntries(now);
  for (int k = 0; k < 8; ++k) {
    int i, j;
    BoundaryPair(k, N_, i, j);
    Band(Mlo_, Mdi_, Mup_, i, j) = now[0][k];
    Band(Klo_, Kdi_, Kup_, i, j) = now[1][k];
    Band(Blo_, Bdi_, Bup_, i, j) = now[2][k];
    Band(Clo_, Cdi_, Cup_, i, j) = now[3][k];
  }
}

void CLammIdeal::UpdateMovingFrameBoundaries(double tau) {
  const double x1 = xi_[1], xN = xi_[N_];
  SetFrameEndRadii(tau);
  FrameBoundaryEntries(endStore_);
  xi_[1] = x1;
  xi_[N_] = xN;
}

void CLammIdeal::PrecomputeFramePeriodSystem() {
  const double P = period_;
  const double f1 = std::exp(kF_ * P);
  const double d0 = D_, d1 = D_ / (f1 * f1);
  SetFrameEndRadii(0);
  RefreshBoundaryEntries();
  UpdateMovingFrameBoundaries(P);
  // Mass averaged over the period at its eight time-dependent entries.
  double Mbar[8];
  for (int k = 0; k < 8; ++k) {
    int i, j;
    BoundaryPair(k, N_, i, j);
    Mbar[k] = 0.5 * (Band(Mlo_, Mdi_, Mup_, i, j) + endStore_[0][k]);
  }
  for (int i = 1; i <= N_; ++i) {
    Tlo_[i] = Mlo_[i] + 0.5 * P * (-d0 * Klo_[i] - Clo_[i]);
    Tdi_[i] = Mdi_[i] + 0.5 * P * (-d0 * Kdi_[i] - Cdi_[i]);
    Tup_[i] = Mup_[i] + 0.5 * P * (-d0 * Kup_[i] - Cup_[i]);
    Slo_[i] = Mlo_[i] - 0.5 * P * (-d1 * Klo_[i] - Clo_[i]);
    Srat_[i] = Mup_[i] - 0.5 * P * (-d1 * Kup_[i] - Cup_[i]);  // left super-diagonal for now
    Spiv_[i] = Mdi_[i] - 0.5 * P * (-d1 * Kdi_[i] - Cdi_[i]);
  }
  for (int k = 0; k < 8; ++k) {
    int i, j;
    BoundaryPair(k, N_, i, j);
    const double l0 = -d0 * Band(Klo_, Kdi_, Kup_, i, j) - Band(Clo_, Cdi_, Cup_, i, j);
    const double l1 = -d1 * endStore_[1][k] - endStore_[3][k];
    Band(Tlo_, Tdi_, Tup_, i, j) = Mbar[k] + 0.5 * P * l0;
    Band(Slo_, Spiv_, Srat_, i, j) = Mbar[k] - 0.5 * P * l1;
  }
  // Factorise the left matrix in place: Spiv the pivots, Srat the ratios.
  double upPrev = Srat_[1];
  for (int i = 2; i <= N_; ++i) {
    const double ratio = upPrev / Spiv_[i - 1];
    upPrev = Srat_[i];
    Srat_[i] = ratio;
    Spiv_[i] = Spiv_[i] - Slo_[i] * ratio;
  }
  Srat_[1] = 0;
  // Kept as reciprocal pivots and sub-diagonal / pivot: the period steps then
  // substitute without divisions.
  for (int i = 1; i <= N_; ++i) {
    Spiv_[i] = 1.0 / Spiv_[i];
    Slo_[i] *= Spiv_[i];
  }
  storedReady_ = true;
}

void CLammIdeal::SolveStoredFactorization(const double* rhs, double* u) const {
  double y = rhs[1] * Spiv_[1];
  u[1] = y;
  for (int i = 2; i <= N_; ++i) {
    y = rhs[i] * Spiv_[i] - Slo_[i] * y;
    u[i] = y;
  }
  for (int i = N_ - 1; i >= 1; --i) {
    y = u[i] - Srat_[i + 1] * y;
    u[i] = y;
  }
}

bool CLammIdeal::TridagMovingFrame(const double* a, const double* b, const double* c,
                                   const double* r, double* u, int n) {
  // Every pivot is checked: a zero or non-finite one is a singular system.
  double bet = b[1];
  if (bet == 0 || !std::isfinite(bet)) {
    if (!inWorker_) ErrorBox("Error 1 in tridag");
    errTridag_ = 1;
    pivotFailed_ = true;
    return false;
  }
  u[1] = r[1] / bet;
  for (int j = 2; j <= n; ++j) {
    gam_[j] = c[j - 1] / bet;
    bet = b[j] - a[j] * gam_[j];
    if (bet == 0 || !std::isfinite(bet)) {
      if (!inWorker_) ErrorBox("Error 2 in tridag");
      errTridag_ = 1;
      pivotFailed_ = true;
      return false;
    }
    u[j] = (r[j] - a[j] * u[j - 1]) / bet;
  }
  for (int j = n - 1; j >= 1; --j) u[j] -= gam_[j + 1] * u[j + 1];
  return true;
}

// ------------------------------------------------------------ stepping

void CLammIdeal::ClampOverflowAtEnds() {
  if (D_ > 2e-8) return;
  if (s_ > 0 && std::fabs(c_[N_]) >= 1e30)
    for (int i = N_; i >= std::max(1, N_ - 20); --i)
      if (std::fabs(c_[i]) > 1e35) c_[i] *= 0.1;
  if (s_ < 0 && std::fabs(c_[1]) >= 1e15)
    for (int i = 1; i <= std::min(20, N_); ++i)
      if (std::fabs(c_[i]) > 1e15) c_[i] *= 0.1;
}

void CLammIdeal::CrankNicolsonMovingFrameStep(double dt) {
  if ((linearRamp_ || schedule_) && accelerating_) {
    RotorOmegaInStep(t_, dt);
    UpdateSedimentationTerms();
  }
  const bool stored = (periodStepping_ && storedUse_) || (dt == period_ && t_ - t0_ == 0);
  if (stored && !accelerating_) {
    if (!storedReady_) PrecomputeFramePeriodSystem();
    SetFrameEndRadii(0);
    // rhs = T c_old
    rhs_[1] = Tdi_[1] * cPrev_[1] + Tup_[1] * cPrev_[2];
    for (int i = 2; i < N_; ++i)
      rhs_[i] = Tlo_[i] * cPrev_[i - 1] + Tdi_[i] * cPrev_[i] + Tup_[i] * cPrev_[i + 1];
    rhs_[N_] = Tlo_[N_] * cPrev_[N_ - 1] + Tdi_[N_] * cPrev_[N_];
    SolveStoredFactorization(rhs_, c_);
    ClampOverflowAtEnds();
    return;
  }
  const double tau = t_ - t0_;
  const double f0 = std::exp(kF_ * tau), f1 = std::exp(kF_ * (tau + dt));
  const double d0 = D_ / (f0 * f0), d1 = D_ / (f1 * f1);
  SetFrameEndRadii(tau);
  RefreshBoundaryEntries();
  UpdateMovingFrameBoundaries(tau + dt);
  for (int k = 0; k < 8; ++k) {
    int i, j;
    BoundaryPair(k, N_, i, j);
    double& m = Band(Mlo_, Mdi_, Mup_, i, j);
    m = 0.5 * (m + endStore_[0][k]);
  }
  for (int i = 1; i <= N_; ++i) {
    L0lo_[i] = -d0 * Klo_[i] - Clo_[i];
    L0di_[i] = -d0 * Kdi_[i] - Cdi_[i];
    L0up_[i] = -d0 * Kup_[i] - Cup_[i];
    L1lo_[i] = -d1 * Klo_[i] - Clo_[i];
    L1di_[i] = -d1 * Kdi_[i] - Cdi_[i];
    L1up_[i] = -d1 * Kup_[i] - Cup_[i];
  }
  for (int k = 0; k < 8; ++k) {
    int i, j;
    BoundaryPair(k, N_, i, j);
    Band(L1lo_, L1di_, L1up_, i, j) = -d1 * endStore_[1][k] - endStore_[3][k];
  }
  const double h = 0.5 * dt;
  // rhs = (M + dt/2 L0) c_old, left = M - dt/2 L1
  for (int i = 1; i <= N_; ++i) {
    double v = (Mdi_[i] + h * L0di_[i]) * cPrev_[i];
    if (i > 1) v += (Mlo_[i] + h * L0lo_[i]) * cPrev_[i - 1];
    if (i < N_) v += (Mup_[i] + h * L0up_[i]) * cPrev_[i + 1];
    rhs_[i] = v;
    Alo_[i] = Mlo_[i] - h * L1lo_[i];
    Adi_[i] = Mdi_[i] - h * L1di_[i];
    Aup_[i] = Mup_[i] - h * L1up_[i];
  }
  // The averaged mass entries are for this step only.
  RefreshBoundaryEntries();
  if (!TridagMovingFrame(Alo_, Adi_, Aup_, rhs_, c_, N_)) {
    for (int i = 1; i <= N_; ++i) c_[i] = cPrev_[i];
    return;
  }
  ClampOverflowAtEnds();
}

void CLammIdeal::FinishMovingFrameStep() {
  ++stepCount_;
  t_ += dt_;
  if (pendingEvent_ && std::fabs(t_ - pendingTime_) <= 1e-9 * std::max(1.0, pendingTime_))
    t_ = pendingTime_;
  if (!schedule_ && t_ >= accelDuration_ && accelerating_) {
    RotorOmegaInStep(t_, dt_);
    UpdateSedimentationTerms();
    accelerating_ = false;
  }
  if (schedule_ && !scheduleFinished_) {
    if (accelerating_) {
      RotorOmegaInStep(t_, dt_);
      UpdateSedimentationTerms();
    }
    UpdateSpeedStep(t_);
  }
  if (solverSetting_ != 0 || massTracking_) totalAmount_ = MovingFrameTotalAmount();
}

double CLammIdeal::MovingFrameTotalAmount() const {
  const double f = std::exp(kF_ * (t_ - t0_));
  // Frame end radii as they are at time t.
  double* xi = xi_;
  const double x1 = xi[1], xN = xi[N_];
  xi[1] = meniscus_ / f;
  xi[N_] = bottom_ / f;
  double sum = 0;
  for (int i = 1; i <= N_; ++i) sum += FrameIntegralWeight(i) * f * f * c_[i];
  xi[1] = x1;
  xi[N_] = xN;
  return sum * kSectorFactor;
}

void CLammIdeal::ShiftMovingFrame() {
  const double tau = t_ - t0_;
  const double e = std::exp(kF_ * tau), f2 = e * e;
  SetFrameEndRadii(tau);
  const int N = N_;
  const double m = meniscus_, b = bottom_;
  double W[5] = {0, FrameIntegralWeight(1), FrameIntegralWeight(2), FrameIntegralWeight(N - 1),
                 FrameIntegralWeight(N)};  // W1, W2, W_(N-1), W_N
  double* c = c_;
  double n1, n2, nN1, nN;  // new values of nodes 1, 2, N-1, N
  if (s_ < 0) {
    if (D_ != 0 || std::fabs(s_) <= 1e-10) {
      nN = c[N];
      nN1 = c[N] + (xi_[N - 1] - b) * (c[N - 1] - c[N]) / ((xi_[N - 1] - xi_[N]) * e);
    } else {
      nN = 0;
      const double E9 = (xi_[N] * xi_[N] + xi_[N - 1] * xi_[N] - 2 * xi_[N - 1] * xi_[N - 1]) / 6;
      const double Q = (c[N - 1] * E9 + W[4] * c[N]) * f2;
      nN1 = (Q - E_[5] * c[N - 1]) / E_[7];
    }
    const double Q = (c[3] * E_[4] + W[2] * c[2] + W[1] * c[1]) * f2;
    n2 = c[3];
    n1 = (Q - E_[3] * c[3]) / E_[1];
    if (n1 < n2) n1 = n2 = (n2 * E_[2] + n1 * E_[1]) / (E_[2] + E_[1]);
    for (int i = 3; i <= N - 2; ++i) c[i] = c[i + 1];
  } else {
    const double Q = (c[N - 2] * E_[5] + W[3] * c[N - 1] + W[4] * c[N]) * f2;
    nN1 = c[N - 2];
    nN = (Q - c[N - 2] * E_[6]) / E_[8];
    if (s_ > 0 && nN < nN1) nN1 = nN = (nN1 * E_[7] + nN * E_[8]) / (E_[8] + E_[7]);
    if (D_ != 0 || s_ <= 1e-10) {
      n1 = c[1];
      n2 = c[1] + (xi_[2] - m) * (c[2] - c[1]) / ((xi_[2] - xi_[1]) * e);
    } else {
      n1 = 0;
      n2 = (((xi_[2] * xi_[2] / 3 - xi_[2] * xi_[1] / 6 - xi_[1] * xi_[1] / 6) * f2 - E_[4]) *
                c[2] +
            W[1] * f2 * c[1]) /
           E_[2];
    }
    for (int i = N - 2; i >= 3; --i) c[i] = c[i - 1];
  }
  c[1] = n1;
  c[2] = n2;
  c[N - 1] = nN1;
  c[N] = nN;
  for (int i = 1; i <= N; ++i) cPrev_[i] = c[i];
  xi_[1] = m;
  xi_[N] = b;
  t0_ = t_;
  RefreshBoundaryEntries();
}

void CLammIdeal::UpdateMovingGridRadii() {
  if (!xi_) return;
  const double f = std::exp((t_ - t0_) * kF_);
  for (int i = 2; i <= N_ - 1; ++i) r_[i] = f * xi_[i];
  r_[1] = meniscus_;
  r_[N_] = bottom_;
}

double CLammIdeal::TimeLoopMovingFrame() {
  bool hit = false;
  if (!periodStepping_) {
    dt_ = dtFixed_;
    if (std::fabs(t_ - t0_ - period_) < 1e-10) ShiftMovingFrame();
    if (t_ + dt_ > t0_ + period_) dt_ = t0_ + period_ - t_;
    dt_ = LimitTimeStep(true, hit);
    for (int i = 1; i <= N_; ++i) cPrev_[i] = c_[i];
    if (pendingEvent_ && pendingTime_ < t_ + dt_) {
      pendingEvent_ = false;
      dt_ = pendingTime_ - t_;
    }
    if (dt_ <= 0) {
      dt_ = 1.0;
      return 1.0;
    }
    const int before = stepCount_;
    CrankNicolsonMovingFrameStep(dt_);
    if (errTridag_) return 1.0;
    FinishMovingFrameStep();
    return before == 0 ? dt_ : 1.0;
  }

  const double T = pendingTime_;
  auto cut = [&](double dt) {
    dt_ = dt;
    completeNext_ = storedUse_ = false;
    partial_ = true;
  };
  auto cuts = [&]() {
    if (pendingEvent_ && T < t_ + dt_) cut(T - t_);
    if (linearRamp_ && accelerating_ && !schedule_) {
      if (dt_ > maxStepAccelerating_) cut(maxStepAccelerating_);
      if (t_ + dt_ > accelDuration_) {
        cut(accelDuration_ - t_);
        hit = true;
      }
    }
    if (schedule_ && !scheduleFinished_) {
      if (!accelerating_) {
        if (currentStep_ < steps_ && !hit && stepStart_[currentStep_ + 1] < t_ + dt_) {
          cut(stepStart_[currentStep_ + 1] - t_);
          hit = true;
        }
      } else {
        if (dt_ > maxStepAccelerating_) cut(maxStepAccelerating_);
        if (!hit && stepEnd_[currentStep_] < t_ + dt_) {
          cut(stepEnd_[currentStep_] - t_);
          hit = true;
        }
      }
    }
    if (timed_ && timedNextTime_ < t_ + dt_) cut(timedNextTime_ - t_);
  };
  if (pendingEvent_ && T < t_ + dt_ && T <= t0_ + period_) {
    dt_ = stepCount_ <= 1 ? 1.0 : T - t_;
    dt_ = LimitTimeStep(true, hit);
    if (pendingEvent_ && T < t_ + dt_) {
      pendingEvent_ = false;
      dt_ = T - t_;
    }
    if (T - t_ == dt_) pendingEvent_ = false;
    partial_ = true;
    veryFirst_ = firstRunStep_ = storedUse_ = false;
  } else if (firstRunStep_) {
    storedUse_ = false;
    if (veryFirst_) {
      veryFirst_ = false;
      dt_ = period_ < 1.0 ? period_ : 1.0;
    } else {
      firstRunStep_ = false;
      partial_ = true;
      dt_ = 0.1 * period_;
    }
    dt_ = LimitTimeStep(true, hit);
  } else if (partial_) {
    partial_ = false;
    completeNext_ = true;
    storedUse_ = false;
    dt_ = t0_ + period_ - t_;
    cuts();
  } else if (completeNext_) {
    completeNext_ = partial_ = false;
    storedUse_ = true;
    dt_ = period_;
    cuts();
  }
  for (int i = 1; i <= N_; ++i) cPrev_[i] = c_[i];
  if (dt_ <= 0) {
    dt_ = 1.0;
    return 1.0;
  }
  CrankNicolsonMovingFrameStep(dt_);
  if (errTridag_) return 1.0;
  // A negative value at the end the species moves away from: smaller steps,
  // and at last its amount goes to the neighbour.
  const int endNode = s_ < 0 ? N_ : 1, neighbour = s_ < 0 ? N_ - 1 : 2;
  while (c_[endNode] < -0.001) {
    dt_ /= 2;
    storedUse_ = false;
    partial_ = true;
    if (dt_ <= 0.1) {
      const double we = FrameIntegralWeight(endNode), wn = FrameIntegralWeight(neighbour);
      c_[neighbour] += we * c_[endNode] / wn;
      cPrev_[neighbour] = c_[neighbour];
      c_[endNode] = cPrev_[endNode] = 0;
      break;
    }
    for (int i = 1; i <= N_; ++i) c_[i] = cPrev_[i];
    CrankNicolsonMovingFrameStep(dt_);
    if (errTridag_) return 1.0;
  }
  FinishMovingFrameStep();
  if (storedUse_ || std::fabs(t_ - t0_ - period_) < 1e-10) ShiftMovingFrame();
  return 1.0;
}

void CLammIdeal::SolveMovingFrame() {
  fixedTimeStep_ = true;
  if (!allocated_ || !xi_) return;
  sStar_ = automaticSGrid_ ? s_ : sGridValue_;
  double phi = stepTolerance_;
  if (std::fabs(sStar_) < 1 && phi >= 1) phi = 0.1;
  double change = 1.0;
  errNonConvergence_ = errTridag_ = 0;
  pivotFailed_ = false;
  retryCounter_ = 0;
  stepCount_ = 0;
  totalAmount_ = 0;
  partial_ = completeNext_ = storedUse_ = false;
  storedReady_ = false;
  AssembleMovingFrameMatrices();
  dt_ = 1.0;
  dtFixed_ = sStar_ == 0 ? phi : phi * period_;
  if (dtFixed_ >= period_) {
    dtFixed_ = period_;
    PrecomputeFramePeriodSystem();
    periodStepping_ = true;
    firstRunStep_ = true;
  } else {
    periodStepping_ = false;
    storedUse_ = false;
  }
  veryFirst_ = true;
  FindBoundaryNode();
  int steady = 0;
  const double lastScanTime = ScanTime(scanCount_);
  while (running_ && !errTridag_ && !errNonConvergence_) {
    const double before = dt_;
    change = static_cast<float>(TimeLoopMovingFrame());
    if (errTridag_) break;
    for (int i = 1; i <= N_; ++i)
      if (!(std::fabs(c_[i]) < 1e100)) {
        errNonConvergence_ = 1;
        break;
      }
    if (errNonConvergence_) break;
    EachIterationOutput(change);
    change /= before;
    if (IsBoundaryReached()) running_ = false;
    const double remaining = std::max(0.0, lastScanTime - t_);
    if (before >= 30 && change < steadyTolerance_ && change * remaining < kSteadyChange) {
      if (++steady > 10) {
        endCondition_ = true;
        running_ = false;
      }
    } else {
      steady = 0;
    }
  }
}
