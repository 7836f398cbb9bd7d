// The step of the static-grid path: the finite-element operator
//   M dc/dt = K c,  M_ij = int r phi_i phi_j dr,
//   K_ij = s w^2 int r^2 phi_i' phi_j dr - D int r phi_i' phi_j' dr,
// on fixed nodes with an optional outflow ("back-diffusion shut-off") row
// at the end of the active region, and one Crank-Nicolson step
// (M - dt/2 K) c_new = (M + dt/2 K) c_old over the active region, solved
// with the factors of the step kept while the step length stays.
#include <algorithm>
#include <cmath>

#include "lamm/fe_integrals.h"
#include "lamm/lamm_ideal.h"
#include "numerics/constants.h"
#include "platform/error_box.h"

namespace {

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
  // Beside it the same matrix is eliminated from row n up for
  // StepFromBothEnds: q_n = di_n, q_i = di_i - up_i lo_{i+1} / q_{i+1}; and
  // the forward substitution of this step follows the elimination row by
  // row. Each elimination is a chain of divisions that waits on itself, as
  // the substitution waits on its own multiply-adds; run in one loop the
  // three chains overlap. A vanishing pivot of the second only leaves the
  // steps to the factors from the top.
  bottomFactors_ = false;
  bottomFactorsFailed_ = true;  // until the elimination gets through
  double p = di[1];
  if (p == 0 || !std::isfinite(p)) {
    if (!inWorker_) ErrorBox("Error 1 in tridag");
    abortFlag_ = pivotFailed_ = true;
    return false;
  }
  // The factors go to the arrays through local pointers, and each chain
  // carries its last factor in a variable: read back from the array just
  // written, it would wait for its store on every row.
  double *piv = piv_, *gam = gam_, *work = work_;
  double *bPiv = bottomPiv_, *bUp = bottomUp_, *bLo = bottomLo_;
  double ip = piv[1] = 1.0 / p;
  work[1] = 0;
  // The depleted rows before the first active one carry zero right-hand
  // sides and stay zero.
  const int first = start_ >= 4 ? start_ - 1 : 1;
  for (int i = 1; i < first; ++i) x[i] = 0;
  double y = 0;
  if (first == 1) x[1] = y = rhs[1] * ip;
  double q = di[n], jl = 0;
  bool bottom = n >= 2 && q != 0 && std::isfinite(q);
  if (bottom) {
    const double jp = bPiv[n] = 1.0 / q;
    jl = bLo[n] = lo[n] * jp;
  }
  int i = 2;
  for (int j = n - 1; i <= n; ++i, --j) {
    const double g = gam[i] = up[i - 1] * ip;
    p = di[i] - lo[i] * g;
    if (p == 0 || !std::isfinite(p)) {
      if (!inWorker_) ErrorBox("Error 2 in tridag");
      abortFlag_ = pivotFailed_ = true;
      return false;
    }
    ip = piv[i] = 1.0 / p;
    const double lp = work[i] = lo[i] * ip;
    if (i > first) x[i] = y = rhs[i] * ip - lp * y;
    else if (i == first) x[i] = y = rhs[i] * ip;
    if (bottom) {
      q = di[j] - up[j] * jl;
      if (q == 0 || !std::isfinite(q)) {
        bottom = false;
        continue;
      }
      const double jp = bPiv[j] = 1.0 / q;
      bUp[j] = up[j] * jp;
      jl = bLo[j] = lo[j] * jp;
    }
  }
  bottomFactorsFailed_ = !bottom;
  for (i = n - 1; i >= first; --i) {
    y = x[i] - gam[i + 1] * y;
    x[i] = y;
  }
  return true;
}

// One step with the kept factors of A: c = A^-1 B x over the active rows,
// the product B x formed row by row inside the forward substitution, in the
// same arithmetic as TridiagMatVecActive followed by the substitutions of
// TridagActive.
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

// The products of neighbouring factors of both eliminations of the kept A
// (TridagActive), which StepFromBothEnds takes; made when the kept factors
// first serve a second step.
void CLammIdeal::PairFactors(int n) {
  const size_t stride = static_cast<size_t>(N_) + 2;  // n <= N_
  if (pairFactors_.size() < 4 * stride) pairFactors_.assign(4 * stride, 0.0);
  double *lp2 = pairFactors_.data(), *ju2 = lp2 + stride, *g2 = ju2 + stride, *jl2 = g2 + stride;
  for (int i = 2; i <= n; ++i) lp2[i] = work_[i] * work_[i - 1];
  for (int j = 1; j <= n - 2; ++j) ju2[j] = bottomUp_[j] * bottomUp_[j + 1];
  for (int i = 2; i <= n - 1; ++i) g2[i] = gam_[i] * gam_[i + 1];
  for (int j = 2; j <= n; ++j) jl2[j] = bottomLo_[j] * bottomLo_[j - 1];
  bottomFactors_ = true;
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
    // From both ends only over a long enough active region.
    const int first = start_ >= 4 ? start_ - 1 : 1;
    if (end_ - first >= 16 && !bottomFactorsFailed_) {
      if (!bottomFactors_) PairFactors(end_);
      StepFromBothEnds(Blo_, Bdi_, Bup_, cPrev_, c_, end_);
    } else {
      StepWithKeptFactors(Blo_, Bdi_, Bup_, cPrev_, c_, end_);
    }
  } else {
    matricesChanged_ = false;
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
