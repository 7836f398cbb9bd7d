#include "models/buffer/buffer_sed_solver.h"

#include <algorithm>
#include <cmath>

#include "numerics/constants.h"
#include "platform/error_box.h"

namespace {
constexpr double kTolerance = 1.0;               // T: largest relative change per step
constexpr double kUpperTarget = 0.2 * kTolerance;
constexpr double kLowerTarget = 0.05 * kTolerance;
constexpr double kRampStepLimit = 10.0;           // s
constexpr int kMaxRetries = 10;
constexpr int kSteadySteps = 11;
// The first steps are damped (backward Euler), and a step grows at most to
// twice the last: Crank-Nicolson carries short waves with dt lambda >> 1 on
// almost undamped (amplification -> -1), and the estimate below does not see
// them, so steps that grow tenfold leave the start's transient ringing at
// the 1e-4 level for the whole run.
constexpr int kDampedSteps = 6;
constexpr double kGrowth = 2.0;

}  // namespace

bool TridagBufferSed(const double* a, const double* b, const double* c, const double* r, double* u,
                     int n, double* gam, double* bet) {
  if (b[1] == 0.0) {
    ErrorBox("Error 1 in tridag");
    return false;
  }
  bet[1] = b[1];
  u[1] = r[1] / bet[1];
  for (int j = 2; j <= n; ++j) {
    gam[j] = c[j - 1] / bet[j - 1];
    bet[j] = b[j] - a[j] * gam[j];
    if (bet[j] == 0.0) {
      ErrorBox("Error 2 in tridag");
      return false;
    }
    u[j] = (r[j] - a[j] * u[j - 1]) / bet[j];
  }
  for (int j = n - 1; j >= 1; --j) u[j] -= gam[j + 1] * u[j + 1];
  return true;
}

CBufferSedSolver::CBufferSedSolver() {
  const std::size_t n = kNodes + 1;
  for (std::vector<double>* v : {&r_, &c_, &cOld_, &rhs_, &al_, &ad_, &au_, &bl_, &bd_, &bu_, &ll_,
                                 &ld_, &lu_, &rl_, &rd_, &ru_, &gam_, &bet_, &invBet_, &start_})
    v->assign(n, 0.0);
}

// Mass matrix A (integrals of r phi_i phi_j) and stiffness matrix B of the
// sedimentation and diffusion fluxes, for the current rotor speed.
void CBufferSedSolver::Assemble() {
  const int N = kNodes;
  const double h = h_, D = D_;
  const double w = RpmToOmega(rpm_);
  const double W = w * w * s_ * 1e-13;
  for (int i = 1; i <= N; ++i) {
    const double r = r_[i];
    const double r2 = r * r / 2.0;
    al_[i] = (r - h / 2) * h / 6;
    au_[i] = (r + h / 2) * h / 6;
    ad_[i] = 2 * r * h / 3;
    bl_[i] = W * (r2 - 2 * r * h / 3 + h * h / 4) + (r - h / 2) * D / h;
    bu_[i] = -W * (r2 + 2 * r * h / 3 + h * h / 4) + (r + h / 2) * D / h;
    bd_[i] = -2 * W * r * h / 3 - 2 * r * D / h;
  }
  const double m = r_[1], b = r_[N];
  ad_[1] = (m + h / 4) * h / 3;
  bd_[1] = -W * (m * m / 2 + m * h / 3 + h * h / 12) - (m + h / 2) * D / h;
  al_[1] = bl_[1] = 0.0;
  ad_[N] = (b - h / 4) * h / 3;
  bd_[N] = W * (b * b / 2 - b * h / 3 + h * h / 12) - (b - h / 2) * D / h;
  au_[N] = bu_[N] = 0.0;
  factoredDt_ = -1.0;
}

// L = A - theta dt B, R = A + (1 - theta) dt B: theta 1/2 Crank-Nicolson,
// theta 1 backward Euler.
void CBufferSedSolver::BuildSystem(double dt, double theta) {
  const double a = theta * dt, b = (1.0 - theta) * dt;
  for (int i = 1; i <= kNodes; ++i) {
    ll_[i] = al_[i] - a * bl_[i];
    ld_[i] = ad_[i] - a * bd_[i];
    lu_[i] = au_[i] - a * bu_[i];
    rl_[i] = al_[i] + b * bl_[i];
    rd_[i] = ad_[i] + b * bd_[i];
    ru_[i] = au_[i] + b * bu_[i];
  }
}

// rhs = R c_old
void CBufferSedSolver::Solve() {
  const int N = kNodes;
  rhs_[1] = rd_[1] * cOld_[1] + ru_[1] * cOld_[2];
  for (int i = 2; i < N; ++i)
    rhs_[i] = rl_[i] * cOld_[i - 1] + rd_[i] * cOld_[i] + ru_[i] * cOld_[i + 1];
  rhs_[N] = rl_[N] * cOld_[N - 1] + rd_[N] * cOld_[N];
  // Back-substitution with the kept factors.
  c_[1] = rhs_[1] * invBet_[1];
  for (int j = 2; j <= N; ++j) c_[j] = (rhs_[j] - ll_[j] * c_[j - 1]) * invBet_[j];
  // The largest change and value ride along with the back-substitution,
  // off its dependency chain.
  double change = std::fabs(c_[N] - cOld_[N]), top = std::fabs(c_[N]);
  for (int j = N - 1; j >= 1; --j) {
    c_[j] -= gam_[j + 1] * c_[j + 1];
    change = std::max(change, std::fabs(c_[j] - cOld_[j]));
    top = std::max(top, std::fabs(c_[j]));
  }
  lastChange_ = change;
  lastTop_ = top;
}

bool CBufferSedSolver::Factor() {
  ++factorisations_;
  // The factorisation solves once for a zero right-hand side; only gam and
  // bet are kept.
  std::fill(rhs_.begin(), rhs_.end(), 0.0);
  if (!TridagBufferSed(ll_.data(), ld_.data(), lu_.data(), rhs_.data(), c_.data(), kNodes, gam_.data(),
                       bet_.data()))
    return false;
  for (int j = 1; j <= kNodes; ++j) invBet_[j] = 1.0 / bet_[j];
  return true;
}

double CBufferSedSolver::RotorSpeedDuring(double t, double dt) const {
  const double a0 = rampRate_ * t, a1 = rampRate_ * (t + dt);
  return std::min(finalRpm_, std::sqrt((a0 * a0 + a1 * a1) / 2));
}

bool CBufferSedSolver::TrialStep(double dt) {
  if (accelerating_) {
    if (rampEnd_ < 10.0) {
      rpm_ = finalRpm_;
      accelerating_ = false;
    } else {
      rpm_ = RotorSpeedDuring(t_, dt);
    }
    Assemble();
  }
  if (accepted_ < kDampedSteps) {
    // Two backward-Euler half steps: they damp the short-wave transient of
    // the uniform start, which Crank-Nicolson would carry on undamped (its
    // amplification tends to -1) once the steps grow to hundreds of seconds.
    factoredDt_ = -1.0;
    BuildSystem(dt / 2, 1.0);
    if (!Factor()) return Singular();
    Solve();
    start_.swap(cOld_);
    cOld_ = c_;
    Solve();
    start_.swap(cOld_);
    return true;
  }
  if (dt != factoredDt_) {
    BuildSystem(dt, 0.5);
    if (!Factor()) return Singular();
    factoredDt_ = dt;
  }
  Solve();
  return true;
}

bool CBufferSedSolver::Singular() {
  singular_ = true;
  c_ = cOld_;
  factoredDt_ = -1.0;
  return false;
}

// Largest relative change of the last trial step, nodes whose values and
// changes are below 1e-4 of the profile's maximum left out.
double CBufferSedSolver::RelativeChange() {
  const int N = kNodes;
  double top = c_[1];
  for (int i = 2; i <= N; ++i) top = std::max(top, c_[i]);
  const double threshold = 1e-4 * top;
  double e = 0.0;
  if (c_[N] >= threshold && cOld_[N] >= threshold) e = std::fabs((c_[N] - cOld_[N]) / cOld_[N]);
  for (int i = N - 1; i >= 1; --i) {
    if (c_[i] < -1e-8 && t_ < 10.0) {
      ++retries_;
      return 2.0 * kTolerance;
    }
    const double change = c_[i] - cOld_[i];
    if (std::fabs(change) < threshold) continue;
    double base = cOld_[i];
    if (base < threshold) {
      if (cOld_[i + 1] >= threshold)
        base = cOld_[i + 1];
      else if (i >= 2 && cOld_[i - 1] >= threshold)
        base = cOld_[i - 1];
      else
        continue;
    }
    // Divides only where the estimate grows.
    if (std::fabs(change) > e * base) e = std::fabs(change / base);
  }
  return e;
}

// The profile has settled when what it may still change, its rate of change
// times the diffusion time L^2/D of the column (an upper bound of its
// relaxation time), is below 1e-5 of its maximum. The rate of the step-size
// estimate cannot decide this: it leaves out changes below 1e-4 of the
// maximum per step, and a slow column creeping at that pace is far from
// equilibrium.
bool CBufferSedSolver::Settled(double taken) const {
  const double change = lastChange_, top = lastTop_;
  if (top == 0.0 || D_ <= 0.0) return false;
  const double L = r_[kNodes] - r_[1];
  return change / top / taken * (L * L / D_) < 1e-5;
}

double CBufferSedSolver::Limit(double proposed, double old) const {
  double dt = std::min(proposed, kGrowth * old);
  dt = std::min(dt, dtMax_);
  dt = std::max(dt, 1e-15);
  return std::max(dt, 0.1 * old);
}

BufferSedOutcome CBufferSedSolver::Run(const BufferSedPass& pass, const Sink& sink,
                                       const StopPoll& stop) {
  if (pass.amplitude == 0.0) return BufferSedOutcome::Skipped;
  const int N = kNodes;
  h_ = (pass.bottom - pass.meniscus) / (N - 1);
  for (int i = 1; i <= N; ++i) {
    r_[i] = pass.meniscus + (i - 1) * h_;
    c_[i] = pass.amplitude;
  }
  D_ = pass.D;
  s_ = pass.s;
  finalRpm_ = rpm_ = pass.rpm;
  rampRate_ = pass.rampRate;
  rampEnd_ = pass.rampEnd;
  accelerating_ = pass.rampRate > 0.0 && pass.rampEnd > 0.0;
  singular_ = false;
  t_ = 0.0;
  accepted_ = factorisations_ = 0;
  retries_ = 1;
  Assemble();
  dtMax_ = s_ == 0.0 ? 1000.0 : 0.5 * rpm_ * rpm_ * D_ / std::fabs(s_);
  dtMax_ = std::max(10.0, std::min(dtMax_, 1000.0));

  const std::vector<double>& times = pass.outputTimes;
  const int outputs = static_cast<int>(times.size());
  int next = 0;
  auto emitDue = [&] {
    while (next < outputs && t_ >= times[static_cast<std::size_t>(next)]) sink(next++, c_.data());
  };
  emitDue();

  double dt = 1.0;
  int steady = 0;
  while (next < outputs) {
    const double remembered = dt == 0.0 ? 1.0 : dt;
    // ---- one adaptive step
    cOld_ = c_;
    const double tNext = times[static_cast<std::size_t>(next)];
    auto limits = [&](double d, bool& onOutput) {
      if (accelerating_) d = std::min({d, kRampStepLimit, rampEnd_ - t_});
      onOutput = t_ + d >= tNext;
      return onOutput ? tNext - t_ : d;
    };
    bool onOutput = false;
    double taken = 0.0;
    // A step cut short at an output time does not shrink the next one.
    const double proposed = dt;
    dt = limits(dt, onOutput);
    double e;
    if (dt <= 0.0) {
      dt = 1.0;
      e = 1.0;
    } else {
      if (!TrialStep(dt)) break;
      if (accepted_ == 0) {
        e = dt;
      } else if (onOutput) {
        e = 1.0;
      } else {
        e = RelativeChange();
        bool failed = false;
        while (e > kTolerance) {
          if (retries_ > kMaxRetries) {
            c_ = cOld_;
            return BufferSedOutcome::GaveUp;
          }
          const double target = e == 0.0 ? 0.0 : kUpperTarget / e * dt;
          double reduced = target;
          if (reduced > 0.8 * dt && reduced < 1.2 * dt) reduced = dt / 2;
          bool ignored = false;
          reduced = limits(Limit(reduced, dt), ignored);
          dt = reduced;
          ++retries_;
          c_ = cOld_;
          if (!TrialStep(dt)) {
            failed = true;
            break;
          }
          e = RelativeChange();
        }
        if (failed) break;
      }
      // Accept.
      retries_ = 1;
      ++accepted_;
      taken = onOutput ? tNext - t_ : dt;
      t_ = onOutput ? tNext : t_ + dt;
      if (accelerating_ && t_ >= rampEnd_) {
        rpm_ = finalRpm_;
        accelerating_ = false;
        Assemble();
      }
      // Next step size.
      if (onOutput) {
        dt = std::max(dt, proposed);
      } else {
        if (e == 0.0) dt *= 10.0;
        if (e < kLowerTarget) {
          const double target = e == 0.0 ? 0.0 : kUpperTarget / e * dt;
          double grown = target;
          if (grown > 0.9 * dt && grown < 1.1 * dt) grown = 2 * dt;
          dt = Limit(grown, dt);
        }
      }
    }
    // ---- output and stop tests
    if (stop && stop()) return BufferSedOutcome::Interrupted;
    emitDue();
    if (next >= outputs) return BufferSedOutcome::Completed;
    steady = remembered >= 30.0 && taken > 0.0 && Settled(taken) ? steady + 1 : 0;
    if (steady >= kSteadySteps) {
      // The profile no longer changes: it stands for every later time.
      while (next < outputs) sink(next++, c_.data());
      return BufferSedOutcome::SteadyState;
    }
  }
  if (singular_) return BufferSedOutcome::Singular;
  return next >= outputs ? BufferSedOutcome::Completed : BufferSedOutcome::GaveUp;
}
