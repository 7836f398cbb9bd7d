#include "fit/marquardt.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

#include "data/scan_set.h"
#include "fit/fit_budget.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/fit_report.h"
#include "fit/fit_target.h"
#include "fit/fit_vector.h"
#include "fit/serial_fit_settings.h"
#include "fit/fit_end.h"
#include "platform/input_events.h"
#include "fit/simulation_switches.h"
#include "numerics/arrays.h"
#include "platform/error_box.h"
#include "numerics/linear_solvers.h"
#include "platform/paths.h"

#include "fit/marquardt_work.h"

using namespace marquardt_work;

namespace marquardt_work {

// The entries whose own curvature at `a` (alpha of the last accepted point,
// normalised units) puts chi-square, sigma from the rmsd, less than
// kStalledChiSquare above its value a move of kStalledMove away (for an
// entry in units of the signal, at least the noise: perSignal[j] normalised
// units make one of the signal, 0 for other entries; null: none).
std::vector<int> EntriesTheCurvatureLeavesOpen(const double* a, const float* unit, int n, double chisq,
                                               const std::vector<double>* perSignal) {
  const FitEngineState& fs = gFitEngineState;
  MarquardtWorkArrays& w = Work();
  std::vector<int> open;
  const double points = std::max(fs.mlPointCount, 1.0);
  const double resolution = RmsdResolution();
  const double sigma2 = std::max(chisq / points, resolution * resolution);
  if (ExactFitChiSquare(chisq)) return open;
  for (int j = 1; j <= n; ++j) {
    // No slope at all: an entry the model does not read at this point (an
    // amplitude the linear solve sets), not one the data leave open.
    const double curvature = w.alpha[j][j];
    if (!std::isfinite(curvature) || !(curvature > 0.0)) continue;
    double move = kStalledMove * std::max(std::fabs(a[j]), static_cast<double>(std::fabs(unit[j])));
    if (move == 0.0) move = kStalledMove;
    // A quantity in units of the signal moves by at least the noise, as in
    // the end test's probes.
    if (perSignal && static_cast<size_t>(j) < perSignal->size())
      move = std::max(move, (*perSignal)[static_cast<size_t>(j)] * std::sqrt(sigma2));
    if (move * move * curvature / sigma2 < kStalledChiSquare) open.push_back(j);
  }
  return open;
}

}  // namespace marquardt_work

namespace {

// With the entries `held` (and those a limit holds) kept where they are,
// the step at the starting damping from the accepted point expects a fall of
// less than one unit of chi-square (sigma from the rmsd there): the point is
// a minimum in the other entries as far as the data tell. Overwrites the
// scratch step like MarquardtExpectedFall.
// The derivative steps' lengthenings by ten a fit may make where every
// trial was rejected (MarquardtAfterRejectedTrials).
constexpr int kDerivativeStepLengthenings = 2;

bool WithinUnitOfMinimumHolding(const std::vector<int>& held, int n) {
  MarquardtWorkArrays& w = Work();
  const double points = std::max(gFitEngineState.mlPointCount, 1.0);
  const double sigma2 = std::max(w.acceptedChiSquare / points, RmsdResolution() * RmsdResolution());
  std::vector<char> fixed(static_cast<size_t>(n) + 1, 0);
  for (int j : held) fixed[static_cast<size_t>(j)] = 1;
  for (int j = 1; j <= n; ++j)
    if (w.blocked[j] != 0) fixed[static_cast<size_t>(j)] = 1;
  DoubleVec b(1, n);
  for (int j = 1; j <= n; ++j) {
    const bool fj = fixed[static_cast<size_t>(j)] != 0;
    b[j] = fj ? 0.0 : w.beta[j];
    for (int k = 1; k <= n; ++k) {
      const bool fk = fixed[static_cast<size_t>(k)] != 0;
      w.covariance[j][k] = fj || fk ? (j == k ? 1.0 : 0.0) : w.alpha[j][k];
    }
    if (!fj) w.covariance[j][j] *= 1.0 + kMarquardtStartLambda;
  }
  if (!AllFinite(w.covariance, b, n)) return false;
  SolveNormalEquationsD(w.covariance, b, n, w.delta, w.work);
  double fall = 0.0;
  for (int j = 1; j <= n; ++j) {
    if (fixed[static_cast<size_t>(j)]) continue;
    fall += 2.0 * b[j] * w.delta[j];
    for (int k = 1; k <= n; ++k)
      if (!fixed[static_cast<size_t>(k)]) fall -= w.delta[j] * w.alpha[j][k] * w.delta[k];
  }
  return std::isfinite(fall) && fall < kStalledChiSquare * sigma2;
}

// The probes around the accepted point a: for each entry the move its
// standard error allows, the others following it (the column of the inverse
// curvature, over the entries no limit holds, scaled to one unit of
// chi-square; an entry a limit holds, or whose column cannot be formed, is
// moved alone by the step its own curvature puts a unit above a). No move
// exceeds kStalledMove of an entry's value or start: the probe stays where
// the linearised misfit means something. Entries without curvature change
// no point of the model and are not moved. Fills the directions, one per
// row of `moves` ([1..n] each).
void ProbeDirections(const double* a, const float* unit, int n, double sigma2,
                     std::vector<std::vector<double>>* moves) {
  MarquardtWorkArrays& w = Work();
  std::vector<char> fixed(static_cast<size_t>(n) + 1, 0);
  for (int j = 1; j <= n; ++j) {
    const double c = w.alpha[j][j];
    if (w.blocked[j] != 0 || !std::isfinite(c) || !(c > 0.0)) fixed[static_cast<size_t>(j)] = 1;
  }
  for (int j = 1; j <= n; ++j)
    for (int k = 1; k <= n; ++k)
      w.covariance[j][k] = fixed[static_cast<size_t>(j)] || fixed[static_cast<size_t>(k)] ? 0.0 : w.alpha[j][k];
  const bool finite = AllFinite(w.covariance, nullptr, n);
  DoubleVec column(1, n);
  for (int j = 1; j <= n; ++j) {
    const double c = w.alpha[j][j];
    if (!std::isfinite(c) || !(c > 0.0)) continue;
    std::vector<double> d(static_cast<size_t>(n) + 1, 0.0);
    bool tied = false;
    if (finite && !fixed[static_cast<size_t>(j)]) {
      for (int k = 1; k <= n; ++k) w.delta[k] = k == j ? 1.0 : 0.0;
      SolveNormalEquationsD(w.covariance, w.delta, n, column, w.work);
      const double cjj = column[j];
      tied = std::isfinite(cjj) && cjj > 0.0 && AllFinite(nullptr, column, n);
      if (tied)
        for (int k = 1; k <= n; ++k) d[static_cast<size_t>(k)] = column[k] * std::sqrt(sigma2 / cjj);
    }
    if (!tied) d[static_cast<size_t>(j)] = std::sqrt(sigma2 / c);
    double largest = 0.0;
    for (int k = 1; k <= n; ++k) {
      double scale = std::max(std::fabs(a[k]), static_cast<double>(std::fabs(unit[k])));
      if (scale == 0.0) scale = 1.0;
      largest = std::max(largest, std::fabs(d[static_cast<size_t>(k)]) / scale);
    }
    if (largest > kStalledMove)
      for (double& x : d) x *= kStalledMove / largest;
    moves->push_back(std::move(d));
  }
}

enum class ProbeOutcome { Minimum, Lower, Uncomputed, Stopped };

// Evaluates the probes of ProbeDirections both ways from a (sum of squares
// *chisq there). Moves a to the lowest point they give, when it is lower,
// and *chisq with it. Uncomputed when some probe could not be computed (the
// way on may lie there: no minimum the fit can vouch for, however the
// others fell); else Lower when the lowest is a unit of chi-square or more
// below (sigma from the rmsd at a), Minimum otherwise.
ProbeOutcome ProbeAroundAcceptedPoint(FitHost* host, double* a, const float* unit, int n, double* chisq,
                                      FitTarget target) {
  const FitEngineState& fs = gFitEngineState;
  if (!target) target = SimplexSim;
  const double points = std::max(fs.mlPointCount, 1.0);
  const double resolution = RmsdResolution();
  const double sigma2 = std::max(*chisq / points, resolution * resolution);
  std::vector<std::vector<double>> moves;
  ProbeDirections(a, unit, n, sigma2, &moves);
  DoubleVec p(1, n);
  std::vector<double> lowestAt;
  double lowest = *chisq;
  bool uncomputed = false;
  for (const std::vector<double>& d : moves)
    for (double sign : {1.0, -1.0}) {
      for (int k = 1; k <= n; ++k) p[k] = a[k] + sign * d[static_cast<size_t>(k)];
      const bool computed = Scored(target(ToModelUnits(p, n), host));
      if (fs.stopRequested) return ProbeOutcome::Stopped;
      if (!computed) {
        uncomputed = true;
        continue;
      }
      NoteEvaluatedPoint(p, n);
      const double sum = ModelSumOfSquares();
      if (!(sum < lowest)) continue;
      lowest = sum;
      lowestAt.assign(static_cast<size_t>(n) + 1, 0.0);
      for (int k = 1; k <= n; ++k) lowestAt[static_cast<size_t>(k)] = TakenValue(p, k);
    }
  const bool fell = !lowestAt.empty() && *chisq - lowest >= kStalledChiSquare * sigma2;
  if (!lowestAt.empty()) {
    std::copy(lowestAt.begin() + 1, lowestAt.end(), &a[1]);
    *chisq = lowest;
    Work().acceptedChiSquare = lowest;
  }
  if (uncomputed) return ProbeOutcome::Uncomputed;
  return fell ? ProbeOutcome::Lower : ProbeOutcome::Minimum;
}

}  // namespace

MarquardtRejectedEnd MarquardtAfterRejectedTrials(const double* a, const float* unit, int n, double chisq,
                                                  double* lambda, std::vector<int>* open) {
  MarquardtWorkArrays& w = Work();
  std::vector<int> flat = EntriesTheCurvatureLeavesOpen(a, unit, n, chisq);
  if (!flat.empty() && WithinUnitOfMinimumHolding(flat, n)) {
    if (open) *open = std::move(flat);
    return MarquardtRejectedEnd::Undetermined;
  }
  if (w.derivativeStepLengthenings >= kDerivativeStepLengthenings) return MarquardtRejectedEnd::StoppedAway;
  ++w.derivativeStepLengthenings;
  for (int j = 1; j <= n; ++j) {
    w.stepFactor[j] = 1.0 + 10.0 * (w.stepFactor[j] - 1.0);
    w.absoluteStep[j] *= 10.0;
  }
  *lambda = -1.0;
  return MarquardtRejectedEnd::Retry;
}

MarquardtRejectedEnd MarquardtProbeEnd(FitHost* host, double* a, const float* unit, int n, double* chisq,
                                       double* lambda, FitTarget target) {
  switch (ProbeAroundAcceptedPoint(host, a, unit, n, chisq, target)) {
    case ProbeOutcome::Minimum: return MarquardtRejectedEnd::Reached;
    case ProbeOutcome::Lower: *lambda = -1.0; return MarquardtRejectedEnd::Retry;
    default: return MarquardtRejectedEnd::StoppedAway;
  }
}
