#include "distributions/maxent_step_mt.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <limits>

#include "distributions/neq_threads.h"
#include "platform/error_box.h"
#include "numerics/linear_solvers.h"
#include "platform/input_events.h"

namespace {

constexpr double kBoundary = 1e-14;    // an amplitude this small sits at its bound
constexpr double kFloor = 1e-20;       // the smallest amplitude the logarithm sees
constexpr double kHoldRatio = 0.01;    // a point this close to its bound is held
constexpr double kStepShrink = 0.9;
const double kLnBaseline = std::log(0.001);

}  // namespace

MTMaxEntmrqstep::MTMaxEntmrqstep() = default;

void MTMaxEntmrqstep::Setup(int count, double* const* normalMatrix, const double* rhs, const Inputs& in) {
  n = count;
  in_ = in;
  const size_t side = static_cast<size_t>(n) + 1;
  a_.assign(side * side, 0.0);
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) a_[i * side + j] = normalMatrix[i][j];
  rhs_.assign(rhs, rhs + side);
  rhs_[0] = 0.0;
  c.assign(side, 0.0);
  l.assign(side, 0.0);
  delta.assign(side, 0.0);
  freeFlags.assign(side, 1);
  curvature = a_;
  held_.assign(side, 0);
  free_.assign(side, 0);
  factor_.assign(side * side, 0.0);
  work_.assign(side, 0.0);
  if (in_.priorInUse && in_.prior.size() < side) in_.prior.resize(side, in_.m);
  if (in_.b.size() < side) in_.b.resize(side, 0.0);
}

void MTMaxEntmrqstep::SetStep(float mu, bool bounded, const double* direction, const double* cOld,
                              const int* flags) {
  multiplier = mu;
  boundedMode = bounded;
  cOld_ = cOld;
  for (int i = 1; i <= n; ++i) {
    delta[i] = mu * direction[i];
    freeFlags[i] = flags ? flags[i] : 1;
  }
}

void MTMaxEntmrqstep::SolveWithoutHeld() {
  const size_t side = static_cast<size_t>(n) + 1;
  int m = 0;
  for (int i = 1; i <= n; ++i)
    if (!held_[i]) free_[++m] = i;
  // L L' = A over the free points, row k of L at factor_[k * side].
  bool positive = true;
  for (int k = 1; k <= m && positive; ++k) {
    double* lk = factor_.data() + k * side;
    const double* ak = a_.data() + free_[k] * side;
    for (int l = 1; l <= k; ++l) {
      const double* ll = factor_.data() + l * side;
      double sum = ak[free_[l]];
      for (int q = 1; q < l; ++q) sum -= lk[q] * ll[q];
      if (l < k) {
        lk[l] = sum / ll[l];
      } else if (sum > 0.0) {
        lk[k] = std::sqrt(sum);
      } else {
        positive = false;
      }
    }
  }
  for (int i = 1; i <= n; ++i) work_[i] = 0.0;
  if (positive) {
    for (int k = 1; k <= m; ++k) {
      const double* lk = factor_.data() + k * side;
      double sum = rhs_[free_[k]];
      for (int q = 1; q < k; ++q) sum -= lk[q] * work_[q];
      work_[k] = sum / lk[k];
    }
    for (int k = m; k >= 1; --k) {
      double sum = work_[k];
      for (int q = k + 1; q <= m; ++q) sum -= factor_[q * side + k] * work_[q];
      work_[k] = sum / factor_[k * side + k];
    }
    for (int i = 1; i <= n; ++i) delta[i] = 0.0;
    for (int k = 1; k <= m; ++k) delta[free_[k]] = multiplier * work_[k];
    return;
  }
  // Not positive definite over the free points: the general solver (which
  // allocates) with the held rows and columns cleared.
  std::vector<double> copy(a_), b(rhs_), x(side), p(side);
  std::vector<double*> rows(side);
  for (size_t i = 0; i < side; ++i) rows[i] = copy.data() + i * side;
  for (int i = 1; i <= n; ++i)
    if (held_[i])
      for (int j = 1; j <= n; ++j) rows[i][j] = rows[j][i] = 0.0;
  SolveNormalEquationsD(rows.data(), b.data(), n, x.data(), p.data());
  for (int i = 1; i <= n; ++i) delta[i] = multiplier * x[i];
}

int MTMaxEntmrqstep::Run() {
  failed = stopped = false;
  scale = 1.0;
  const double* old = cOld_;
  bool nonPositive = false;
  for (int i = 1; i <= n; ++i) {
    c[i] = old[i] + delta[i];
    nonPositive = nonPositive || c[i] <= 0.0;
  }
  if (nonPositive || boundedMode) {
    // Points that would cross their bound are taken out of the step system
    // one at a time, first index first; each removal leaves one point fewer
    // that can be removed, so n passes always suffice.
    auto crossing = [&](int i) {
      return !held_[i] && delta[i] < 0.0 && (old[i] <= kBoundary || (boundedMode && !freeFlags[i]));
    };
    std::fill(held_.begin(), held_.end(), 0);
    for (int pass = 0; pass < n; ++pass) {
      int k = 0;
      for (int i = 1; i <= n && !k; ++i)
        if (crossing(i)) k = i;
      if (!k) break;
      held_[k] = 1;
      SolveWithoutHeld();
    }
    for (int i = 1; i <= n; ++i) c[i] = old[i] + delta[i];
  }

  if (!in_.alternativeStep) {
    if (!boundedMode)
      for (int i = 1; i <= n; ++i) freeFlags[i] = 1;
    for (int i = 1; i <= n; ++i) {
      if (c[i] > 0.0) continue;
      if (old[i] < 0.0) {
        failed = true;
        objective = entropy = std::numeric_limits<double>::infinity();
        return 0;
      }
      // At its bound and not moving: it limits nothing.
      if (delta[i] == 0.0) continue;
      const double ratio = std::fabs(old[i] / delta[i]);
      if (ratio < kHoldRatio) {
        freeFlags[i] = 0;
        boundedMode = true;
      }
      scale = std::min(scale, ratio);
    }
    if (scale <= kHoldRatio)
      scale *= kStepShrink;
    else
      boundedMode = false;
  } else {
    for (int i = 1; i <= n; ++i) {
      if (c[i] >= 0.0) continue;
      if (old[i] < 0.0) {
        failed = true;
        objective = entropy = std::numeric_limits<double>::infinity();
        return 0;
      }
      scale = std::min(scale, std::fabs(old[i] / delta[i]));
    }
  }
  for (int i = 1; i <= n; ++i) c[i] = std::max(old[i] + scale * delta[i], kFloor);
  Objective();
  return 0;
}

void MTMaxEntmrqstep::Objective() {
  if (platform::StopFlag().load()) {
    stopped = true;
    return;
  }
  const size_t side = static_cast<size_t>(n) + 1;
  const int from = in_.leadingTerm ? 2 : 1;
  const double h = 0.5 * in_.alpha;
  double chi = in_.sumSquares, sumE = 0.0;
  curvature = a_;
  for (int i = 1; i <= n; ++i) {
    const double* Ai = a_.data() + i * side;
    double ac = 0.0;
    for (int j = 1; j <= n; ++j) ac += Ai[j] * c[j];
    chi += c[i] * ac - 2.0 * c[i] * in_.b[i];
    delta[i] = in_.b[i] - ac;
    if (i < from) continue;
    const double m = in_.priorInUse ? in_.prior[i] : in_.m;
    l[i] = std::log(c[i] / m);
    if (i == 1 && in_.suppressBaselineCorrelation) l[i] -= kLnBaseline;
    if (in_.priorInUse) {
      delta[i] -= h * l[i];
      sumE += c[i] * l[i] + m - c[i];
    } else {
      delta[i] -= h * (1.0 + l[i]);
      sumE += c[i] * l[i];
    }
    curvature[i * side + i] += h / c[i];
  }
  entropy = -sumE;
  objective = chi + in_.alpha * sumE;
  if (in_.suppressBaselineCorrelation && in_.priorInUse && from == 1 && n >= 1) {
    entropy += 0.999 * in_.prior[1];
    objective -= 0.999 * in_.alpha * in_.prior[1];
  }
}

void RunMaxEntTrials(std::vector<MTMaxEntmrqstep>& trials, int threads) {
  const int count = static_cast<int>(trials.size());
  if (threads <= 1) {
    for (MTMaxEntmrqstep& t : trials) t.Run();
    return;
  }
  std::atomic<int> next{0}, done{0};
  std::function<void(int)> job = [&](int) {
    for (int k = next++; k < count; k = next++) {
      trials[k].Run();
      ++done;
    }
  };
  NeqThreadPool::Instance().Run(
      std::min(threads, count), job, [&] { return done.load() == count; },
      [] {
        platform::PollStop();
      });
}
