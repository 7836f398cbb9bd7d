// Static-grid path of CLammIdeal: linear finite elements on fixed nodes,
//   M dc/dt = K c,  M_ij = int r phi_i phi_j dr,
//   K_ij = s w^2 int r^2 phi_i' phi_j dr - D int r phi_i' phi_j' dr,
// advanced by Crank-Nicolson (M - dt/2 K) c_new = (M + dt/2 K) c_old with
// adaptive steps, an active region [start, end] outside which the solution is
// depleted (before start) or an analytic plateau (after end), and an optional
// outflow ("back-diffusion shut-off") row at the end of the active region.
#include <algorithm>
#include <cmath>

#include "lamm/fe_integrals.h"
#include "lamm/lamm_ideal.h"
#include "lamm/quiet_steps.h"
#include "lamm/static_grid_kernels.h"
#include "numerics/constants.h"
#include "platform/error_box.h"

namespace {
// Longest step on a layered grid as a fraction of the time the boundary
// takes to move, or to widen, by its own width: beside the change rule, and
// for a sedimenting species alone (see TimeLoopStaticGrid).
constexpr double kWidthFraction = 0.06, kWidthFractionAlone = 0.05;

double W2s(double rpm, double s) {
  const double w = RpmToOmega(rpm);
  return w * w * s * 1e-13;
}
}  // namespace

double CLammIdeal::NodeWeight(int i) const {
  if (nonUniformGrid_) return static_cast<double>(FEIntegralSedimentation(r_, N_, i, N_));
  const double h = (bottom_ - meniscus_) / (N_ - 1);
  if (i == 1) return h * (3 * r_[1] + h) / 6;
  if (i == N_) return h * (3 * r_[N_] - h) / 6;
  return r_[i] * h;
}

double CLammIdeal::CellContent() const {
  double sum = 0;
  for (int i = 1; i <= N_; ++i) sum += NodeWeight(i) * c_[i];
  return sum * kSectorFactor;
}

// One row i of M and K for an operator whose last row is n.
void CLammIdeal::SetStaticRow(int i, int n) {
  const double D = D_, w2s = w2s_;
  if (nonUniformGrid_) {
    Mlo_[i] = i > 1 ? static_cast<double>(FEIntegralMassNonUniform(r_, N_, i, i - 1, n)) : 0;
    Mdi_[i] = static_cast<double>(FEIntegralMassNonUniform(r_, N_, i, i, n));
    Mup_[i] = i < n ? static_cast<double>(FEIntegralMassNonUniform(r_, N_, i, i + 1, n)) : 0;
    auto k = [&](int j) {
      return w2s * static_cast<double>(FEIntegralSedimentationNonUniform(r_, N_, i, j, n)) -
             D * static_cast<double>(FEIntegralDiffusionNonUniform(r_, N_, i, j, n));
    };
    Klo_[i] = i > 1 ? k(i - 1) : 0;
    Kdi_[i] = k(i);
    Kup_[i] = i < n ? k(i + 1) : 0;
  } else {
    const double h = (bottom_ - meniscus_) / (N_ - 1);
    const double r = r_[i];
    if (i == 1) {
      Mlo_[i] = 0;
      Mdi_[i] = h * (h / 4 + r) / 3;
      Mup_[i] = h * (h / 2 + r) / 6;
      Klo_[i] = 0;
      Kdi_[i] = -w2s * (h * h / 12 + r * h / 3 + r * r / 2) - D * (r + h / 2) / h;
      Kup_[i] = -w2s * (h * h / 4 + 2 * r * h / 3 + r * r / 2) + D * (r + h / 2) / h;
    } else if (i < n) {
      Mlo_[i] = h * (r - h / 2) / 6;
      Mdi_[i] = 2 * r * h / 3;
      Mup_[i] = h * (r + h / 2) / 6;
      Klo_[i] = w2s * (h * h / 4 + r * r / 2 - 2 * r * h / 3) + D * (r - h / 2) / h;
      Kdi_[i] = -2 * w2s * r * h / 3 - 2 * D * r / h;
      Kup_[i] = -w2s * (h * h / 4 + 2 * r * h / 3 + r * r / 2) + D * (r + h / 2) / h;
    } else {
      Mlo_[i] = h * (r - h / 2) / 6;
      Mdi_[i] = h * (r - h / 4) / 3;
      Mup_[i] = 0;
      Klo_[i] = w2s * (h * h / 4 + r * r / 2 - 2 * r * h / 3) + D * (r - h / 2) / h;
      Kdi_[i] = w2s * (h * h / 12 + r * r / 2 - r * h / 3) - D * (r - h / 2) / h;
      Kup_[i] = 0;
    }
  }
  if (localSolvent_) {
    // The buffer's s and D weighted by the local factors.
    auto k = [&](int j) { return w2s * factors_.MomentB(i, j, n) - D * factors_.MomentA(i, j, n); };
    Klo_[i] = i > 1 ? k(i - 1) : 0;
    Kdi_[i] = k(i);
    Kup_[i] = i < n ? k(i + 1) : 0;
  }
  if (shutOff_) {
    const int end = s_ > 0 ? n : 1;
    const double e = localSolvent_ ? factors_.e[end] : 1.0, eq = localSolvent_ ? e * factors_.q[end] : 1.0;
    if (s_ > 0 && i == n) {
      const double h = r_[n] - r_[n - 1];
      Klo_[n] += e * D * r_[n] / h;
      Kdi_[n] -= eq * w2s * r_[n] * r_[n] + e * D * r_[n] / h;
    } else if (s_ < 0 && i == 1) {
      const double h = r_[2] - r_[1];
      Kup_[1] += e * D * r_[1] / h;
      Kdi_[1] += eq * w2s * r_[1] * r_[1] - e * D * r_[1] / h;
    }
  }
}

void CLammIdeal::BuildStaticMatrices(int n) {
  n = std::min(n, N_);
  w2s_ = W2s(rotor_.rpm, s_);
  if ((accelerating_ || schedule_) && autoShutOff_ && !shutOff_ &&
      NeedsBackDiffusionShutOff(t_, rotor_.rpm, s_, D_))
    shutOff_ = true;
  for (int i = 1; i <= n; ++i) SetStaticRow(i, n);
  matrixExtent_ = builtExtent_ = n;
  rebuilt_ = true;
}

void CLammIdeal::MoveActiveEndRows(int n) {
  if (n == matrixExtent_) return;
  rebuilt_ = true;
  if (n > builtExtent_) {
    BuildStaticMatrices(n);
    return;
  }
  const int old = matrixExtent_;
  // The old end rows become interior rows of the whole operator again, then
  // rows n-1 and n take the formulas of an operator ending at n.
  for (int i = std::max(1, old - 1); i <= old; ++i) SetStaticRow(i, N_);
  for (int i = std::max(1, n - 1); i <= n; ++i) SetStaticRow(i, n);
  matrixExtent_ = n;
}

void CLammIdeal::BuildStepMatrices(double dt, int n) {
  n = std::min(n, N_);
  const double h = 0.5 * dt;
  for (int i = 1; i <= n; ++i) {
    Alo_[i] = Mlo_[i] - h * Klo_[i];
    Adi_[i] = Mdi_[i] - h * Kdi_[i];
    Aup_[i] = Mup_[i] - h * Kup_[i];
    Blo_[i] = Mlo_[i] + h * Klo_[i];
    Bdi_[i] = Mdi_[i] + h * Kdi_[i];
    Bup_[i] = Mup_[i] + h * Kup_[i];
  }
}

void CLammIdeal::TridiagMatVecActive(const double* lo, const double* di, const double* up,
                                     const double* x, double* out, int n) const {
  int first = 1;
  if (start_ >= 4) {
    for (int i = 1; i <= start_ - 2; ++i) out[i] = 0;
    first = start_ - 1;
  }
  if (n == 1) {
    out[1] = di[1] * x[1];
    return;
  }
  if (first == 1) out[1] = di[1] * x[1] + up[1] * x[2];
  for (int i = std::max(first, 2); i < n; ++i)
    out[i] = lo[i] * x[i - 1] + di[i] * x[i] + up[i] * x[i + 1];
  out[n] = lo[n] * x[n - 1] + di[n] * x[n];
}

bool CLammIdeal::TridagActive(const double* lo, const double* di, const double* up,
                              const double* rhs, double* x, int n) {
  // Thomas elimination without pivoting; every pivot is checked. The kept
  // factors are the reciprocal pivots and lo/pivot, so that the substitutions
  // of the following steps are multiply-add chains without divisions.
  double p = di[1];
  if (p == 0 || !std::isfinite(p)) {
    if (!inWorker_) ErrorBox("Error 1 in tridag");
    abortFlag_ = pivotFailed_ = true;
    return false;
  }
  piv_[1] = 1.0 / p;
  work_[1] = 0;
  for (int i = 2; i <= n; ++i) {
    gam_[i] = up[i - 1] * piv_[i - 1];
    p = di[i] - lo[i] * gam_[i];
    if (p == 0 || !std::isfinite(p)) {
      if (!inWorker_) ErrorBox("Error 2 in tridag");
      abortFlag_ = pivotFailed_ = true;
      return false;
    }
    piv_[i] = 1.0 / p;
    work_[i] = lo[i] * piv_[i];
  }
  TridagActiveReuse(lo, rhs, x, n);
  return true;
}

void CLammIdeal::TridagActiveReuse(const double* /*lo*/, const double* rhs, double* x,
                                   int n) const {
  const int first = start_ >= 4 ? start_ - 1 : 1;
  // Forward substitution over the active rows; the depleted rows before them
  // carry zero right-hand sides and stay zero.
  for (int i = 1; i < first; ++i) x[i] = 0;
  const double* ip = piv_;
  const double* lp = work_;
  double y = rhs[first] * ip[first];
  x[first] = y;
  for (int i = first + 1; i <= n; ++i) {
    y = rhs[i] * ip[i] - lp[i] * y;
    x[i] = y;
  }
  for (int i = n - 1; i >= first; --i) {
    y = x[i] - gam_[i + 1] * y;
    x[i] = y;
  }
}

// One step with the kept factors of A: c = A^-1 B x over the active rows,
// the product B x formed row by row inside the forward substitution, in the
// same arithmetic as TridiagMatVecActive followed by TridagActiveReuse.
void CLammIdeal::StepWithKeptFactors(const double* lo, const double* di, const double* up,
                                     const double* x, double* c, int n) const {
  const int first = start_ >= 4 ? start_ - 1 : 1;
  for (int i = 1; i < first; ++i) c[i] = 0;
  const double* ip = piv_;
  const double* lp = work_;
  double r;
  if (n == 1) r = di[1] * x[1];
  else if (first == 1) r = di[1] * x[1] + up[1] * x[2];
  else if (first < n) r = lo[first] * x[first - 1] + di[first] * x[first] + up[first] * x[first + 1];
  else r = lo[n] * x[n - 1] + di[n] * x[n];
  double y = r * ip[first];
  c[first] = y;
  for (int i = first + 1; i < n; ++i) {
    r = lo[i] * x[i - 1] + di[i] * x[i] + up[i] * x[i + 1];
    y = r * ip[i] - lp[i] * y;
    c[i] = y;
  }
  if (n > first) {
    r = lo[n] * x[n - 1] + di[n] * x[n];
    y = r * ip[n] - lp[n] * y;
    c[n] = y;
  }
  const double* g = gam_;
  for (int i = n - 1; i >= first; --i) {
    y = c[i] - g[i + 1] * y;
    c[i] = y;
  }
}

// The kept A eliminated once more, from row n up: q_n = di_n,
// q_i = di_i - up_i lo_{i+1} / q_{i+1}. False (nothing to use) when a pivot
// vanishes; the steps then keep to the factors from the top.
bool CLammIdeal::FactorFromBottom(int n) {
  bottomFactors_ = false;
  bottomFactorsFailed_ = true;  // until the elimination gets through
  const double *lo = Alo_, *di = Adi_, *up = Aup_;
  double q = di[n];
  if (q == 0 || !std::isfinite(q)) return false;
  bottomPiv_[n] = 1.0 / q;
  bottomLo_[n] = lo[n] * bottomPiv_[n];
  for (int i = n - 1; i >= 1; --i) {
    q = di[i] - up[i] * bottomLo_[i + 1];
    if (q == 0 || !std::isfinite(q)) return false;
    bottomPiv_[i] = 1.0 / q;
    bottomUp_[i] = up[i] * bottomPiv_[i];
    bottomLo_[i] = lo[i] * bottomPiv_[i];
  }
  const size_t stride = static_cast<size_t>(N_) + 2;  // n <= N_
  if (pairFactors_.size() < 4 * stride) pairFactors_.assign(4 * stride, 0.0);
  double *lp2 = pairFactors_.data(), *ju2 = lp2 + stride, *g2 = ju2 + stride, *jl2 = g2 + stride;
  for (int i = 2; i <= n; ++i) lp2[i] = work_[i] * work_[i - 1];
  for (int j = 1; j <= n - 2; ++j) ju2[j] = bottomUp_[j] * bottomUp_[j + 1];
  for (int i = 2; i <= n - 1; ++i) g2[i] = gam_[i] * gam_[i + 1];
  for (int j = 2; j <= n; ++j) jl2[j] = bottomLo_[j] * bottomLo_[j - 1];
  bottomFactors_ = true;
  bottomFactorsFailed_ = false;
  return true;
}

namespace {

// Bands of B (the right-hand side B x), the two sets of factors of A and
// the products of neighbouring factors.
struct BothEndsStep {
  const double *lo, *di, *up, *x;
  const double *ip, *lp, *g;   // from the top: 1/p_i, lo_i/p_i, up_{i-1}/p_{i-1}
  const double *jp, *ju, *jl;  // from the bottom: 1/q_i, up_i/q_i, lo_i/q_i
  const double *alo, *adi, *aup;
  const double *lp2, *ju2, *g2, *jl2;  // lp_i lp_{i-1}, ju_j ju_{j+1}, g_i g_{i+1}, jl_j jl_{j-1}
};

// False, with c unfinished, when the pivot of the middle row vanishes.
// Each substitution is a chain y_i = a_i - f_i y_{i-1} whose every link
// waits for the one before; taken two rows at a time,
//   y_{i+1} = (a_{i+1} - f_{i+1} a_i) + f_{i+1} f_i y_{i-1},
// the chain has half the links and y_i is formed beside it.
bool SolveFromBothEnds(const BothEndsStep& s, double* c, int first, int n) {
  const double *lo = s.lo, *di = s.di, *up = s.up, *x = s.x;
  const double *ip = s.ip, *lp = s.lp, *g = s.g, *jp = s.jp, *ju = s.ju, *jl = s.jl;
  const double *lp2 = s.lp2, *ju2 = s.ju2, *g2 = s.g2, *jl2 = s.jl2;
  const int k = (first + n) / 2;
  auto row = [&](int i) { return lo[i] * x[i - 1] + di[i] * x[i] + up[i] * x[i + 1]; };
  double y = (first == 1 ? di[1] * x[1] + up[1] * x[2] : row(first)) * ip[first];
  double z = (lo[n] * x[n - 1] + di[n] * x[n]) * jp[n];
  c[first] = y;
  c[n] = z;
  int i = first + 1, j = n - 1;
  for (; i + 1 < k && j - 1 > k; i += 2, j -= 2) {
    const double a0 = row(i) * ip[i], a1 = row(i + 1) * ip[i + 1];
    const double b0 = row(j) * jp[j], b1 = row(j - 1) * jp[j - 1];
    const double yi = a0 - lp[i] * y, zj = b0 - ju[j] * z;
    y = (a1 - lp[i + 1] * a0) + lp2[i + 1] * y;
    z = (b1 - ju[j - 1] * b0) + ju2[j - 1] * z;
    c[i] = yi;
    c[i + 1] = y;
    c[j] = zj;
    c[j - 1] = z;
  }
  for (; i < k; ++i) c[i] = y = row(i) * ip[i] - lp[i] * y;
  for (; j > k; --j) c[j] = z = row(j) * jp[j] - ju[j] * z;
  // Row k: lo x_{k-1} + di x_k + up x_{k+1} = r_k with x_{k-1} = y - g_k x_k
  // and x_{k+1} = z - jl_{k+1} x_k (y = 0 when k is the first row).
  const double above = k > first ? y : 0.0;
  const double pivot = s.adi[k] - (k > first ? s.alo[k] * g[k] : 0.0) - s.aup[k] * jl[k + 1];
  if (pivot == 0 || !std::isfinite(pivot)) return false;
  const double xk = (row(k) - s.alo[k] * above - s.aup[k] * z) / pivot;
  c[k] = xk;
  double u = xk, v = xk;
  i = k - 1;
  j = k + 1;
  for (; i - 1 >= first && j + 1 <= n; i -= 2, j += 2) {
    const double ui = c[i] - g[i + 1] * u, vj = c[j] - jl[j] * v;
    u = (c[i - 1] - g[i] * c[i]) + g2[i] * u;
    v = (c[j + 1] - jl[j + 1] * c[j]) + jl2[j + 1] * v;
    c[i] = ui;
    c[i - 1] = u;
    c[j] = vj;
    c[j + 1] = v;
  }
  for (; i >= first; --i) c[i] = u = c[i] - g[i + 1] * u;
  for (; j <= n; ++j) c[j] = v = c[j] - jl[j] * v;
  return true;
}

}  // namespace

// The step of StepWithKeptFactors solved from both ends at once: the rows
// above the middle row by the factors from the top, those below it by the
// factors from the bottom, the middle row from both neighbours. The two
// substitution chains are independent, so the processor runs them side by
// side; the solution is the same up to rounding.
void CLammIdeal::StepFromBothEnds(const double* lo, const double* di, const double* up,
                                  const double* x, double* c, int n) const {
  const int first = start_ >= 4 ? start_ - 1 : 1;
  for (int i = 1; i < first; ++i) c[i] = 0;
  const size_t stride = static_cast<size_t>(N_) + 2;  // n <= N_
  const double* lp2 = pairFactors_.data();
  const BothEndsStep s{lo,   di,         up,        x,         piv_,         work_,
                       gam_, bottomPiv_, bottomUp_, bottomLo_, Alo_,         Adi_,
                       Aup_, lp2,        lp2 + stride, lp2 + 2 * stride, lp2 + 3 * stride};
  if (!SolveFromBothEnds(s, c, first, n)) StepWithKeptFactors(lo, di, up, x, c, n);
}

void CLammIdeal::AdvanceStaticGrid(double dt) {
  if ((accelerating_ || schedule_) && speedChanging_) {
    RotorOmegaInStep(t_, dt);
    BuildStaticMatrices(end_);
  }
  if (end_ != matrixExtent_) MoveActiveEndRows(end_);
  w2sStep_ = w2s_;
  if (dt == cachedDt_ && !matricesChanged_ && !rebuilt_ && !speedChanging_) {
    // Worth a second elimination only for a long enough active region.
    const int first = start_ >= 4 ? start_ - 1 : 1;
    if (end_ - first >= 16 && !bottomFactorsFailed_ &&
        (bottomFactors_ || FactorFromBottom(end_)))
      StepFromBothEnds(Blo_, Bdi_, Bup_, cPrev_, c_, end_);
    else
      StepWithKeptFactors(Blo_, Bdi_, Bup_, cPrev_, c_, end_);
  } else {
    matricesChanged_ = false;
    bottomFactors_ = bottomFactorsFailed_ = false;
    cachedDt_ = dt;
    BuildStepMatrices(dt, end_);
    TridiagMatVecActive(Blo_, Bdi_, Bup_, cPrev_, rhs_, end_);
    if (!TridagActive(Alo_, Adi_, Aup_, rhs_, c_, end_)) {
      cachedDt_ = 0;  // the factors are incomplete
    }
    rebuilt_ = false;
  }
  if (start_ > 3 && !abortFlag_ && start_ + 3 <= end_) {
    double a = 0;
    for (int i = start_ - 1; i <= start_ + 3; ++i) a += c_[i];
    a *= 0.2;
    if (a < 10 * cThr_) {
      if ((c_[start_ - 1] - a) * (c_[start_] - a) >= 0 ||
          (c_[start_] - a) * (c_[start_ + 1] - a) == 0) {
        abortFlag_ = true;
      } else {
        static const double f[5] = {5.0 / 27, 10.0 / 27, 20.0 / 27, 40.0 / 27, 60.0 / 27};
        for (int k = 0; k < 5; ++k) c_[start_ - 1 + k] = a * f[k];
      }
    }
  }
  if (!abortFlag_) {
    const double plateau = std::exp(-2 * w2sStep_ * dt) * cPlateau_;
    for (int i = end_ + 1; i <= N_; ++i) c_[i] = plateau;
  } else {
    const int from = start_ < 4 ? 1 : start_ - 2;
    std::copy(cPrev_ + from, cPrev_ + end_ + 1, c_ + from);
  }
}

void CLammIdeal::FixNegativeMeniscus() {
  const double w1 = NodeWeight(1), w2 = NodeWeight(2);
  const double q = -c_[1] * w1 / w2;
  c_[1] = -c_[1];
  c_[2] = c_[2] - 2 * q;
}

void CLammIdeal::StepStaticGrid() {
  ++stepCount_;
  t_ += dt_;
  // Steps cut to a scan or event time end exactly on it, whatever the rounding.
  if (pendingEvent_ && std::fabs(t_ - pendingTime_) <= 1e-9 * std::max(1.0, pendingTime_)) {
    t_ = pendingTime_;
  }
  if (pendingEvent_ && t_ >= pendingTime_) pendingEvent_ = false;
  sw2Integral_ += w2sStep_ * dt_;
  if (!schedule_ && opt_.linearRamp && t_ >= rotor_.accelDuration && speedChanging_) {
    RotorOmegaInStep(t_, dt_);
    BuildStaticMatrices(N_);
    MoveActiveEndRows(end_);
    speedChanging_ = false;
  }
  if (schedule_ && !scheduleFinished_) {
    if (speedChanging_) {
      RotorOmegaInStep(t_, dt_);
      BuildStaticMatrices(N_);
      MoveActiveEndRows(end_);
    }
    UpdateSpeedStep(t_);
    if (scheduleFinished_) {
      // On the last plateau the speed is fixed: one last rebuild at it.
      rotor_.rpm = stepRpm_[steps_];
      BuildStaticMatrices(N_);
      MoveActiveEndRows(end_);
      speedChanging_ = false;
    }
  }
  if (-cThr_ < c_[1] && c_[1] < 0) FixNegativeMeniscus();
  if (massTracking_) cellContent_ = CellContent();
}

// Whether the element where the depletion starts (at the meniscus, for
// flotation at the bottom) is fine enough for the layer D / (s w^2 r) the
// species leaves there: beyond a cell Peclet number s w^2 r h / D of 2 the
// elements undershoot below zero at any step length, and refusing such
// steps only shrinks them without end (10 S with 1e-8 cm^2/s: millions).
bool CLammIdeal::DepletionLayerResolved() const {
  if (N_ < 2 || !(D_ > 0)) return false;
  const bool floating = s_ < 0;
  const double r = floating ? r_[N_] : r_[1];
  const double h = floating ? r_[N_] - r_[N_ - 1] : r_[2] - r_[1];
  return std::fabs(w2s_) * r * h <= 2 * D_;
}

double CLammIdeal::StepChangeAtBottom() {
  const double cmax = std::max(LargestValue(c_, start_, end_, 0.0), cPlateau0_);
  const double floor = 1e-4 * cmax;
  double change = 0;
  if (c_[end_] > floor && cPrev_[end_] >= floor)
    change = std::fabs((c_[end_] - cPrev_[end_]) / cPrev_[end_]);
  const bool layered = zone_.on || initialProfile_;
  if (!layered && t_ < 10 && DepletionLayerResolved()) {
    for (int i = end_ - 1; i >= start_; --i) {
      if (c_[i] < -cThr_) {
        ++retryCounter_;
        return 2 * opt_.stepTolerance;
      }
    }
  }
  // A NaN at the bottom node stays the result, as a NaN never gives way to
  // a larger value.
  if (!std::isnan(change)) change = LargestChange(c_, cPrev_, start_, end_ - 1, floor, change);
  // A non-finite solution is never a small change.
  if (!std::isfinite(change)) return 1e300;
  return change;
}

int CLammIdeal::AdvanceDepletedStart() {
  if (startTrimming_ && !fullGrid_) {
    const int before = start_;
    int i = start_;
    while (i <= end_ - 10 && (c_[i] + c_[i + 1] + c_[i + 2]) / 3 <= cThr_) {
      start_ = i;
      ++i;
    }
    start_ = std::min(start_, maxStart_);
    widthMax_ = std::max(widthMax_, end_ - start_);
    widthMin_ = std::min(widthMin_, end_ - start_);
    if (before != lastStart_) {
      lastStart_ = before;
      startChanged_ = true;
    }
  } else {
    start_ = 1;
  }
  return start_;
}

int CLammIdeal::ExtendActiveEnd(double t) {
  if (endLimitation_ && !fullGrid_ && end_ < N_) {
    // The plateau follows from the sedimentation the accepted steps applied.
    cPlateau_ = std::exp(-2 * sw2Integral_) * cPlateau0_;
    tPlateau_ = t;
    endThreshold_ = (1 - cThr_) * cPlateau_;
    const int lowest = std::max(end_ - extensionStep_, 3);
    for (int i = end_; i >= lowest; --i) {
      if ((c_[i] + c_[i - 1] + c_[i - 2]) / 3 < endThreshold_) {
        int newEnd = end_ + extensionStep_;
        if (newEnd > N_ - 10) newEnd = N_;
        MoveActiveEndRows(newEnd);
        end_ = newEnd;
        widthMax_ = std::max(widthMax_, end_ - start_);
        widthMin_ = std::min(widthMin_, end_ - start_);
        break;
      }
    }
  } else if (!endLimitation_ || fullGrid_) {
    end_ = N_;
  }
  return end_;
}

void CLammIdeal::FindBoundaryNode() {
  watchNode_ = N_;
  if (s_ > 0) {
    for (int i = 1; i <= N_; ++i)
      if (r_[i] > rightFitLimit_) {
        watchNode_ = i;
        break;
      }
  } else if (s_ < 0) {
    watchNode_ = 1;
    for (int i = 1; i <= N_; ++i)
      if (r_[i] <= leftFitLimit_) watchNode_ = i;
  }
  watchThreshold_ = watchFraction_ * c_[watchNode_];
  endCondition_ = false;
}

bool CLammIdeal::IsBoundaryReached() {
  // In a density gradient a depleted region may fill again.
  if (zone_.on || initialProfile_ || s_ == 0 || localSolvent_) return false;
  if (c_[watchNode_] < watchThreshold_ || watchNode_ < start_) {
    endCondition_ = true;
    return true;
  }
  return false;
}

// On a layered grid the nodes follow the boundary's width sqrt(2 D t) where
// it passes; the steps follow it as well, or Crank-Nicolson's error in the
// young, steep boundary outweighs the grid's. The steps up to the next scan
// are equal, so that one factorisation serves them all, and the step after
// a scan does not start from a remainder cut off before it.
bool CLammIdeal::EvenStepsToEvents() const {
  return layered_ && opt_.staticGrid && pendingEvent_ && !speedChanging_ && !schedule_ && !timed_.on &&
         !opt_.fixedTimeStep && N_ >= 2 &&
         layeredRadii_.size() == static_cast<size_t>(N_) + 1;
}

// A sedimenting species within the range the layered grid's rules were
// checked over (elsewhere the steps of before).
bool CLammIdeal::StepsByBoundaryAlone() const { return s_ > 0 && LayeredGridRange(); }

double CLammIdeal::EvenStepToEvent(double dt) {
  const double left = pendingTime_ - t_;
  if (!(left > 0) || !(dt > 0)) return dt;
  const double v = std::fabs(w2s_) * meniscus_;
  if (v > 0) {
    const double width = std::sqrt(2 * D_ * std::max(t_, 0.0)) + (r_[2] - r_[1]);
    // A slow species' depletion layer at the meniscus widens by diffusion,
    // at D / width, far faster than the boundary travels at first (0.5 S was
    // 1.05e-3 of the loading off at the first scan, now 1.7e-4). The
    // floating side's layer at the bottom is left to the travel alone (its
    // grid leaves no room for the error the shorter steps no longer offset),
    // and so is every species outside the layered grid's checked range.
    const bool alone = StepsByBoundaryAlone();
    const double widening = alone ? D_ / width : 0.0;
    dt = std::min(dt, (alone ? kWidthFractionAlone : kWidthFraction) * width / (v + widening));
  }
  // The step of the stretch stays while it still divides the time left and
  // the wanted step exceeds it by less than half.
  const double snap = 1e-9 * std::max(1.0, pendingTime_);
  if (evenDt_ > 0 && dt >= evenDt_ && dt < 1.5 * evenDt_) {
    const double k = std::round(left / evenDt_);
    if (k >= 1 && std::fabs(left - k * evenDt_) <= snap) return evenDt_;
  }
  evenDt_ = left / std::max(1.0, std::ceil(left / dt - 1e-9));
  return evenDt_;
}

double CLammIdeal::TimeLoopStaticGrid() {
  double prevDt = 1.0;
  if (opt_.fixedTimeStep) dt_ = opt_.stepTolerance;
  const int from = start_ < 4 ? 1 : start_ - 2;
  std::copy(c_ + from, c_ + end_ + 1, cPrev_ + from);
  bool hit = false;
  dt_ = LimitTimeStep(true, hit);
  // The event stays pending until a step accepted on it, so that retries
  // with smaller steps still end on it afterwards.
  if (EvenStepsToEvents()) dt_ = EvenStepToEvent(dt_);
  else if (pendingEvent_ && pendingTime_ < t_ + dt_) dt_ = pendingTime_ - t_;
  if (dt_ <= 0) {
    dt_ = 1.0;
    return 1.0;
  }
  AdvanceStaticGrid(dt_);
  if (abortFlag_) return 0;
  if (!AllWithinRange(c_, 1, N_)) {
    collapseFlag_ = true;
    return 0;
  }
  const bool layered = zone_.on || initialProfile_;
  if (layered && t_ < 10) {
    for (int i = 2; i <= N_ - 1; ++i) {
      if (c_[i] < 1e-10) {
        c_[i - 1] += static_cast<float>(0.5 * c_[i] * r_[i] / r_[i - 1]);
        c_[i + 1] += static_cast<float>(0.5 * c_[i] * r_[i] / r_[i + 1]);
        c_[i] = 0;
      }
    }
  }
  if (schedule_) {
    if (c_[1] < 0) {
      c_[2] += c_[1] * r_[1] / r_[2];
      c_[1] = 0;
    }
    for (int i = 2; i <= N_ - 1; ++i) {
      if (c_[i] < 0 && c_[i - 1] > 0 && c_[i + 1] > 0) {
        c_[i - 1] += 0.5 * c_[i] * r_[i] / r_[i - 1];
        c_[i + 1] += 0.5 * c_[i] * r_[i] / r_[i + 1];
        c_[i] = 0;
      }
    }
  }
  if (pendingEvent_ && pendingTime_ == t_ + dt_ && stepCount_ != 0) {
    StepStaticGrid();
    return 1.0;
  }
  if (stepCount_ != 0 || (c_[1] <= 0 && !layered)) {
    if (opt_.fixedTimeStep) {
      StepStaticGrid();
      return 1.0;
    }
    // A sedimenting species' steps on the layered grid follow its boundary
    // and depletion layer (EvenStepToEvent); the change at single nodes
    // would cut them for the boundary's leading edge, whose values are
    // tiny, at no gain (the 200-species list took 1.6 times the steps).
    // The first seconds keep the test for values below zero at the meniscus.
    // The change still tells a steady profile, and a solution that is no
    // longer finite still takes the shorter steps.
    double change = StepChangeAtBottom();
    if (EvenStepsToEvents() && StepsByBoundaryAlone() && t_ >= 10 && change < 1e300) {
      StepStaticGrid();
      dt_ = EvenStepToEvent(std::min(10 * dt_, dtMax_));
      bool reached = hit;
      dt_ = LimitTimeStep(false, reached);
      startChanged_ = false;
      return change;
    }
    while (change > opt_.stepTolerance) {
      if (retryCounter_ > 10) {
        collapseFlag_ = true;
        break;
      }
      if (abortFlag_) break;
      double x = change == 0 ? 0 : (opt_.stepTarget / change) * dt_;
      const double y = dt_ / opt_.stepFactor;
      prevDt = dt_;
      double dt = (x - y) * opt_.blend + y;
      if (dt >= 0.8 * prevDt && dt <= 1.2 * prevDt) dt /= 2;
      dt = std::min(dt, 10 * prevDt);
      dt = std::min(dt, dtMax_);
      if (dt < 1e-15) {
        dt = 1e-15;
        ++retryCounter_;
      }
      dt = std::max(dt, 0.1 * prevDt);
      dt_ = dt;
      dt_ = LimitTimeStep(true, hit);
      std::copy(cPrev_ + from, cPrev_ + end_ + 1, c_ + from);
      AdvanceStaticGrid(dt_);
      if (abortFlag_) break;
      change = StepChangeAtBottom();
    }
    if (collapseFlag_ || abortFlag_) {
      std::copy(cPrev_ + from, cPrev_ + end_ + 1, c_ + from);
      return change;
    }
    retryCounter_ = 1;
    StepStaticGrid();
    prevDt = dt_;
    double dt = dt_;
    if (change == 0) {
      dt = dt_ * 10;
    } else if (change < opt_.stepLowerTolerance) {
      const double x = (opt_.stepTarget / change) * dt_;
      const double y = dt_ * opt_.stepFactor;
      dt = (x - y) * opt_.blend + y;
      if (dt >= 0.9 * prevDt && dt <= 1.1 * prevDt) dt *= 2;
    }
    dt = std::min(dt, 10 * prevDt);
    dt = std::min(dt, dtMax_);
    dt = std::max(dt, 1e-15);
    dt = std::max(dt, 0.1 * prevDt);
    dt_ = dt;
    if (EvenStepsToEvents()) dt_ = EvenStepToEvent(dt_);
    else if (pendingEvent_ && pendingTime_ < t_ + dt_) dt_ = pendingTime_ - t_;
    bool hit2 = hit;
    dt_ = LimitTimeStep(false, hit2);
    startChanged_ = false;
    return change;
  }
  StepStaticGrid();
  return dt_;
}

void CLammIdeal::SolveStaticGrid() {
  if (!allocated_) return;
  double change = 1.0;
  cachedDt_ = 0;
  abortFlag_ = collapseFlag_ = pivotFailed_ = false;
  retryCounter_ = 0;
  stepCount_ = 0;
  evenDt_ = 0;
  sw2Integral_ = 0;
  start_ = 1;
  end_ = N_;
  lastStart_ = 1;
  speedChanging_ = accelerating_ || schedule_;
  shutOff_ = steep_;
  autoShutOff_ = opt_.backDiffusionCheck;
  matrixExtent_ = builtExtent_ = 0;
  rotor_.rpm = (accelerating_ || schedule_) ? RotorOmegaInStep(t_, 1.0) : rotor_.finalRpm;

  bool anyLoaded = false;
  for (int i = 1; i <= N_; ++i)
    if (c_[i] > 0) anyLoaded = true;
  if (!anyLoaded) {
    dt_ = 10;
    while (running_) {
      t_ += dt_;
      EachIterationOutput(change);
    }
    fullGrid_ = false;
    return;
  }

  cPlateau0_ = c_[1];
  const bool cosolute = localSolvent_ && solvent_.SedimentingCosolute;
  if (localSolvent_) InitLocalSolventFactors(r_);
  if (cosolute && !LammInitLoading()) return;
  BuildStaticMatrices(N_);
  maxStart_ = static_cast<int>(std::floor(0.95 * N_));
  const bool layered = zone_.on || initialProfile_;
  const double factor = opt_.truncationLevel;
  // Over a sedimenting cosolute the depleted region may fill again (the
  // solvent there changes as the cosolute leaves): no trimmed start, whose
  // check for a front that is no longer depleted would end the run late and
  // have it made again.
  const bool refill = localSolvent_ && solvent_.DynamicGradient && solvent_.SedimentingCosolute;
  if (!opt_.truncateDynamically || s_ <= 0 || layered || refill) {
    if (c_[1] > 0) {
      cThr_ = factor * c_[1];
    } else {
      double mean = 0;
      for (int i = 1; i <= N_; ++i) mean += c_[i];
      cThr_ = factor * mean / N_;
    }
    tracking_ = startTrimming_ = endLimitation_ = false;
    start_ = 1;
    end_ = N_;
  } else {
    tracking_ = true;
    cThr_ = factor * c_[1];
    start_ = 1;
    cPlateau_ = cPlateau0_;
    tPlateau_ = 0;
    extensionStep_ = std::max(1, static_cast<int>(std::floor(0.1 * N_)));
    startTrimming_ = true;
    endLimitation_ = false;
    end_ = N_;
    if (shutOff_ && !schedule_ && N_ > 20 && !localSolvent_) {
      endLimitation_ = true;
      end_ = std::max(extensionStep_, 12);
      MoveActiveEndRows(end_);
    }
  }
  widthMax_ = widthMin_ = end_ - start_;

  if (maxTimeGiven_) {
    dtMax_ = maxTimeValue_;
  } else if (s_ == 0) {
    dtMax_ = 1000;
  } else {
    dtMax_ = 0.5 * rotor_.finalRpm * rotor_.finalRpm * D_ / std::fabs(s_);
    if (dtMax_ > 1000) dtMax_ = 1000;
    if (dtMax_ < 10) dtMax_ = 10;
  }
  FindBoundaryNode();
  if (layered) dt_ = 0.1;

  int collapse = 0;
  CQuietSteps quiet;
  const double lastScanTime = ScanTime(scans_.scanCount);
  while (running_ && !abortFlag_ && !collapseFlag_) {
    const double stepDt = dt_ == 0 ? 1.0 : dt_;
    const double stepStart = t_;
    change = static_cast<float>(TimeLoopStaticGrid());
    if (tracking_) {
      AdvanceDepletedStart();
      ExtendActiveEnd(t_);
    }
    if (cosolute && !abortFlag_ && !collapseFlag_) {
      LammTimeStep(stepStart);
      if (errTridag_ || errConcDependent_) break;
      if (solvent_.DynamicGradient) {
        UpdateLocalSolventFactors(r_, r_);
        // Over the whole grid only the stiffness follows the solvent.
        if (end_ == N_ && matrixExtent_ == N_ && !shutOff_ && !speedChanging_) {
          factors_.Stiffness(w2s_, D_, N_, Klo_, Kdi_, Kup_);
          rebuilt_ = true;
        } else {
          BuildStaticMatrices(end_);
        }
      }
    }
    if (dt_ < 1e-12) {
      if (++collapse > 100) collapseFlag_ = true;
    } else {
      collapse = 0;
    }
    // The adaptive steps of a run take hundreds to some tens of thousands;
    // a step rule gone astray must not hold the caller for hours.
    if (!opt_.fixedTimeStep && stepCount_ >= stepLimit_) collapseFlag_ = true;
    if (abortFlag_ || collapseFlag_) break;
    EachIterationOutput(change);
    change = change / stepDt;
    if (IsBoundaryReached()) running_ = false;
    // Steady only when the present rate could not change the profile
    // noticeably before the last scan either; a slow approach to
    // equilibrium otherwise stops percents short of it.
    const double remaining = std::max(0.0, lastScanTime - t_);
    if (quiet.Count(IsQuietStep(stepDt, change, opt_.steadyTolerance, remaining))) {
      endCondition_ = true;
      running_ = false;
    }
  }
  // A zero pivot is a singular matrix; every other failure of the path
  // (collapsed steps, overflow, a broken start region) is non-convergence.
  if (pivotFailed_) errTridag_ = 1;
  else if (collapseFlag_ || abortFlag_) errNonConvergence_ = 1;
  fullGrid_ = false;
}
