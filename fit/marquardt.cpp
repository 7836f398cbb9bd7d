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
#include "fit/marquardt_work.h"
#include "platform/input_events.h"
#include "fit/simulation_switches.h"
#include "numerics/arrays.h"
#include "platform/error_box.h"
#include "numerics/linear_solvers.h"
#include "platform/paths.h"

using namespace marquardt_work;

namespace {

MarquardtResult gLastResult;

}  // namespace

namespace marquardt_work {

MarquardtWorkArrays& Work() { return gFitEngineState.mlWork; }

// Parameters a (normalised) into the float vector of model units.
float* ToModelUnits(const double* a, int n) {
  MarquardtWorkArrays& w = Work();
  for (int j = 1; j <= n; ++j) w.simulation[j] = static_cast<float>(a[j]);
  ScaleFitParameters(w.simulation, n);
  return w.simulation;
}

// The normalised value of entry j that the target left in the model-unit
// vector: a target keeps its parameters within their limits and writes the
// value it used back, so a point beyond a limit reads as the limit.
double TakenValue(const double* a, int j) {
  const MarquardtWorkArrays& w = Work();
  float asked = static_cast<float>(a[j]);
  if (w.scale[j] != 0.0f) asked *= w.scale[j];
  if (w.simulation[j] == asked) return a[j];
  return w.scale[j] != 0.0f ? static_cast<double>(w.simulation[j]) / w.scale[j] : w.simulation[j];
}

// A target's value for a trial it could compute (a rejected one, or one
// whose misfit is not a number, is not).
bool Scored(float value) { return value < kRejectedTrial; }

bool AllFinite(double** m, const double* v, int n) {
  for (int j = 1; j <= n; ++j) {
    if (v && !std::isfinite(v[j])) return false;
    for (int k = 1; k <= n && m; ++k)
      if (!std::isfinite(m[j][k])) return false;
  }
  return true;
}

// Inverse of the symmetric matrix m, column by column.
void Invert(double** m, double** result, int n) {
  MarquardtWorkArrays& w = Work();
  DoubleVec column(1, n);
  for (int j = 1; j <= n; ++j) {
    for (int i = 1; i <= n; ++i) w.delta[i] = (i == j) ? 1.0 : 0.0;
    SolveNormalEquationsD(m, w.delta, n, column, w.work);
    for (int i = 1; i <= n; ++i) result[i][j] = column[i];
  }
}

// Evaluates the fit's result, the model left holding its curves. A point
// whose model cannot be computed again (the solver gave a trial a misfit it
// does not give twice) is no result: the steps are retraced to the last
// point that can be, the start at the latest. True when it went back.
bool EndAtComputedPoint(FitHost* host, double* a, int n, std::vector<std::vector<double>>& trail) {
  bool back = false;
  while (!Scored(SimplexSim(ToModelUnits(a, n), host)) && !gFitEngineState.stopRequested) {
    while (!trail.empty() && std::equal(&a[1], &a[1] + n, trail.back().begin())) trail.pop_back();
    if (trail.empty()) break;
    std::copy(trail.back().begin(), trail.back().end(), &a[1]);
    back = true;
  }
  return back;
}

// The step (alpha + lambda diag alpha) delta = beta into w.delta, the
// damped curvature in w.covariance; false when alpha or beta are not finite.
// An entry held at a limit takes no step beyond it (the target would put it
// back, and the others' steps, solved with it, would be off): the others are
// solved without it. A step away from the limit frees it.
bool SolveDampedStep(double lambda, int n) {
  MarquardtWorkArrays& w = Work();
  const float damping = static_cast<float>(1.0 + lambda);
  for (int j = 1; j <= n; ++j) {
    for (int k = 1; k <= n; ++k) w.covariance[j][k] = w.alpha[j][k];
    w.covariance[j][j] = w.alpha[j][j] * damping;
  }
  if (!AllFinite(w.covariance, w.beta, n)) return false;
  SolveNormalEquationsD(w.covariance, w.beta, n, w.delta, w.work);
  bool held = false;
  for (int j = 1; j <= n; ++j) {
    if (w.blocked[j] == 0) continue;
    if (w.delta[j] * w.blocked[j] > 0.0)
      held = true;
    else
      w.blocked[j] = 0;
  }
  if (held) {
    DoubleVec b(1, n);
    for (int j = 1; j <= n; ++j) b[j] = w.beta[j];
    for (int j = 1; j <= n; ++j) {
      if (w.blocked[j] == 0) continue;
      b[j] = 0.0;
      for (int k = 1; k <= n; ++k) w.covariance[j][k] = w.covariance[k][j] = 0.0;
    }
    SolveNormalEquationsD(w.covariance, b, n, w.delta, w.work);
  }
  return true;
}

// No fitted entry of the step in w.delta moves by more than mlNegligibleStep
// (relative to a nonzero entry, absolutely where it is 0).
bool StepNegligible(const double* a, const int* flags, int n) {
  const MarquardtWorkArrays& w = Work();
  for (int j = 1; j <= n; ++j) {
    if (!flags[j]) continue;
    const double rel = a[j] != 0.0 ? std::fabs(w.delta[j] / a[j]) : std::fabs(w.delta[j]);
    if (!(rel <= gFitEngineState.mlNegligibleStep)) return false;
  }
  return true;
}

// The step in w.delta, by the linearised misfit, lowers chi-square by at
// least one unit (sigma from the rmsd of the accepted point): a step short
// against its entries' values can still be one the data ask for (the
// meniscus, whose few microns tell against its 6 cm).
bool StepLowersByAUnit(int n) {
  const MarquardtWorkArrays& w = Work();
  const double points = std::max(gFitEngineState.mlPointCount, 1.0);
  const double resolution = RmsdResolution();
  const double sigma2 = std::max(w.acceptedChiSquare / points, resolution * resolution);
  double fall = 0.0;
  for (int j = 1; j <= n; ++j) {
    double curvature = 0.0;
    for (int k = 1; k <= n; ++k) curvature += w.alpha[j][k] * w.delta[k];
    fall += w.delta[j] * (2.0 * w.beta[j] - curvature);
  }
  return std::isfinite(fall) && fall >= kStalledChiSquare * sigma2;
}

// A point whose linearised misfit lies within a unit of chi-square of its
// minimum is one as far as the data tell (sigma from the rmsd there).
bool WithinUnitOfMinimum(int n) {
  const double points = std::max(gFitEngineState.mlPointCount, 1.0);
  const double sigma2 = std::max(Work().acceptedChiSquare / points, RmsdResolution() * RmsdResolution());
  const double expected = MarquardtExpectedFall(n);
  return expected >= 0.0 && expected < kStalledChiSquare * sigma2;
}

// The rmsd of an exact fit, in roundings of the signals (RmsdResolution):
// the Lamm solution of a model that fits exactly carries the rounding of its
// single-precision steps, some tens of the signals' roundings, and below it
// the steps only chase that rounding, each "falling" by a few per cent.
constexpr double kExactFitRoundings = 25.0;

// A sum of squares at which the fit is exact as far as its model can be
// computed: below the absolute tiny sum, or an rmsd within the rounding of
// the model's solution.
bool ExactFitChiSquare(double chisq) {
  const FitEngineState& fs = gFitEngineState;
  const double points = std::max(fs.mlPointCount, 1.0);
  const double exact = kExactFitRoundings * RmsdResolution();
  return chisq < fs.mlTinyChiSquare || chisq / points <= exact * exact;
}

}  // namespace marquardt_work

const MarquardtResult& LastMarquardtResult() { return gLastResult; }
void RestoreMarquardtResult(const MarquardtResult& result) { gLastResult = result; }

double MarquardtExpectedFall(int n) {
  MarquardtWorkArrays& w = Work();
  if (!SolveDampedStep(kMarquardtStartLambda, n) || !AllFinite(nullptr, w.delta, n)) return -1.0;
  double fall = 0.0;
  for (int j = 1; j <= n; ++j) {
    fall += 2.0 * w.beta[j] * w.delta[j];
    for (int k = 1; k <= n; ++k) fall -= w.delta[j] * w.alpha[j][k] * w.delta[k];
  }
  return std::isfinite(fall) ? std::max(fall, 0.0) : -1.0;
}

bool MarquardtStepShrunkByRejections(const double* a, const int* flags, int n, double lambda) {
  if (!(lambda > kMarquardtStartLambda)) return false;
  MarquardtWorkArrays& w = Work();
  if (!SolveDampedStep(kMarquardtStartLambda, n) || !AllFinite(nullptr, w.delta, n)) return false;
  if (StepNegligible(a, flags, n) && !StepLowersByAUnit(n)) return false;
  return !WithinUnitOfMinimum(n);
}

bool MarquardtAtStatisticalMinimum(int n) {
  // The held entries as they were: a fit that goes on steps as it would have.
  const std::vector<int> blocked = Work().blocked;
  const bool within = WithinUnitOfMinimum(n);
  Work().blocked = blocked;
  return within;
}

void ScaleFitParameters(float* v, int n) {
  const float* scale = Work().scale;
  for (int j = 1; j <= n; ++j)
    if (scale[j] != 0.0f) v[j] *= scale[j];
}

void FreeMarquardtArrays() {
  MarquardtWorkArrays& w = Work();
  if (!w.allocated) return;
  const int m = w.n;
  free_dmatrix(w.covariance, 1, m, 1, m);
  free_dmatrix(w.inverse, 1, m, 1, m);
  free_dmatrix(w.alpha, 1, m, 1, m);
  free_dvector(w.work, 1, m);
  free_dvector(w.trial, 1, m);
  free_dvector(w.beta, 1, m);
  free_dvector(w.delta, 1, m);
  free_dvector(w.derivativePoint, 1, m);
  free_dvector(w.perturbed, 1, m);
  free_dvector(w.stepFactor, 1, m);
  free_dvector(w.absoluteStep, 1, m);
  free_vector(w.simulation, 1, m);
  free_vector(w.scale, 1, m);
  free_ivector(w.fitFlags, 1, m);
  for (size_t s = 1; s < w.derivatives.size(); ++s) {
    if (w.derivatives[s]) free_matrix(w.derivatives[s], 1, m, w.first[s], w.last[s]);
    if (w.modelCopy[s]) free_vector(w.modelCopy[s], w.first[s], w.last[s]);
  }
  w = MarquardtWorkArrays{};
}

int AllocMarquardtArrays(int n) {
  FreeMarquardtArrays();
  MarquardtWorkArrays& w = Work();
  w.n = n;
  // A fit's own choices never pass to the next fit.
  w.rejectBeforeDerivatives = w.endWithinUnit = w.endedWithinUnit = false;
  w.derivativeStepLengthenings = 0;
  w.bestSeenChiSquare = std::numeric_limits<double>::infinity();
  w.bestSeen.clear();
  w.covariance = dmatrix(1, n, 1, n);
  w.inverse = dmatrix(1, n, 1, n);
  w.alpha = dmatrix(1, n, 1, n);
  w.work = dvector(1, n);
  w.trial = dvector(1, n);
  w.beta = dvector(1, n);
  w.delta = dvector(1, n);
  w.derivativePoint = dvector(1, n);
  w.perturbed = dvector(1, n);
  w.stepFactor = dvector(1, n);
  w.absoluteStep = dvector(1, n);
  w.simulation = vector(1, n);
  w.scale = vector(1, n);
  w.fitFlags = ivector(1, n);
  w.blocked.assign(static_cast<std::size_t>(n) + 1, 0);
  const ScanSet& ss = CurrentScanSet();
  const int scans = ss.count;
  w.derivatives.assign(scans + 1, nullptr);
  w.modelCopy.assign(scans + 1, nullptr);
  w.first.assign(scans + 1, 1);
  w.last.assign(scans + 1, 0);
  for (int s = 1; s <= scans; ++s) {
    const int first = ss.firstFitPoint[s], last = ss.lastFitPoint[s];
    if (last < first) continue;
    w.first[s] = first;
    w.last[s] = last;
    w.derivatives[s] = matrix(1, n, first, last);
    w.modelCopy[s] = vector(first, last);
  }
  w.allocated = true;
  return 1;
}

namespace marquardt_work {

// The sum of squares of the model the last evaluation left, over the fit
// limits (the sum mlcof forms).
double ModelSumOfSquares() {
  const MarquardtWorkArrays& w = Work();
  const ScanSet& ss = CurrentScanSet();
  double sum = 0.0;
  for (int s = 1; s <= ss.count; ++s) {
    if (!w.modelCopy[s]) continue;
    for (int k = w.first[s]; k <= w.last[s]; ++k) {
      const double dy = static_cast<double>(ss.signals[s][k]) - ss.model[s][k];
      sum += dy * dy;
    }
  }
  return sum;
}

// Keeps the point of an evaluation just made (the values the target took)
// when its sum of squares over the fit limits is the lowest yet.
void NoteEvaluatedPoint(const double* point, int n) {
  MarquardtWorkArrays& w = Work();
  const double sum = ModelSumOfSquares();
  if (!(sum < w.bestSeenChiSquare)) return;
  w.bestSeenChiSquare = sum;
  w.bestSeen.assign(static_cast<size_t>(n) + 1, 0.0);
  for (int j = 1; j <= n; ++j) w.bestSeen[static_cast<size_t>(j)] = TakenValue(point, j);
}

}  // namespace marquardt_work

bool TakeBestPointSeen(double* a, int n, double acceptedChiSquare) {
  const MarquardtWorkArrays& w = Work();
  if (static_cast<int>(w.bestSeen.size()) != n + 1 || !(w.bestSeenChiSquare < acceptedChiSquare)) return false;
  std::copy(w.bestSeen.begin() + 1, w.bestSeen.end(), &a[1]);
  return true;
}

void mlcof(FitHost* host, double* a, int* flags, int n, double** alpha, double* beta, double* chisq,
           FitTarget target) {
  FitEngineState& fs = gFitEngineState;
  if (!target) target = SimplexSim;
  MarquardtWorkArrays& w = Work();
  const ScanSet& ss = CurrentScanSet();
  for (int j = 1; j <= n; ++j) {
    for (int k = 1; k <= j; ++k) alpha[j][k] = 0.0;
    beta[j] = 0.0;
  }
  *chisq = 0.0;

  const float atA = target(ToModelUnits(a, n), host);
  if (Scored(atA)) NoteEvaluatedPoint(a, n);
  if (fs.stopRequested) return;
  // A point the model cannot be computed at has no curvature: its sum of
  // squares is infinite, so that a trial step there is rejected.
  if (!Scored(atA)) {
    *chisq = std::numeric_limits<double>::infinity();
    return;
  }
  // A trial step beyond a limit is taken as the point at the limit.
  for (int j = 1; j <= n; ++j) a[j] = TakenValue(a, j);
  double points = 0;
  for (int s = 1; s <= ss.count; ++s) {
    if (!w.modelCopy[s]) continue;
    for (int k = w.first[s]; k <= w.last[s]; ++k) w.modelCopy[s][k] = ss.model[s][k];
    points += w.last[s] - w.first[s] + 1;
  }
  fs.mlPointCount = points;
  // A trial no lower than the accepted point is rejected whatever its
  // derivatives: n evaluations saved (the sum is the one formed below).
  if (alpha != w.alpha && w.rejectBeforeDerivatives) {
    double sum = 0.0;
    for (int s = 1; s <= ss.count; ++s) {
      if (!w.derivatives[s]) continue;
      for (int k = w.first[s]; k <= w.last[s]; ++k) {
        const double dy = static_cast<double>(ss.signals[s][k]) - w.modelCopy[s][k];
        sum += dy * dy;
      }
    }
    const bool within = w.endWithinUnit && sum < w.acceptedChiSquare &&
                        (w.acceptedChiSquare - sum) * std::max(points, 1.0) < kStalledChiSquare * sum;
    if (!(sum < w.acceptedChiSquare) || within) {
      *chisq = sum;
      fs.mlTestRmsd = points > 0 ? std::sqrt(sum / points) : 0.0;
      w.endedWithinUnit = within;
      return;
    }
  }

  for (int j = 1; j <= n; ++j) {
    const double x = w.stepFactor[j] * a[j];
    w.perturbed[j] = x != 0.0 ? x : w.absoluteStep[j];
  }
  for (int i = 1; i <= n; ++i) {
    if (host) host->DrawFitProgressIndicator(static_cast<double>(i) / n);
    if (!flags[i]) continue;
    for (int j = 1; j <= n; ++j) w.derivativePoint[j] = a[j];
    w.derivativePoint[i] = w.perturbed[i];
    double h = w.perturbed[i] - a[i];
    bool computed = true;
    if (h != 0.0) {
      computed = Scored(target(ToModelUnits(w.derivativePoint, n), host));
      if (computed) NoteEvaluatedPoint(w.derivativePoint, n);
      if (fs.stopRequested) return;
      // At a limit the step outwards goes nowhere, and beside a region the
      // model cannot be computed in it fails: the derivative is taken
      // inwards, over the step the target actually made.
      h = computed ? TakenValue(w.derivativePoint, i) - a[i] : 0.0;
      if (h == 0.0) {
        w.derivativePoint[i] = a[i] - (w.perturbed[i] - a[i]);
        computed = Scored(target(ToModelUnits(w.derivativePoint, n), host));
        if (computed) NoteEvaluatedPoint(w.derivativePoint, n);
        if (fs.stopRequested) return;
        h = computed ? TakenValue(w.derivativePoint, i) - a[i] : 0.0;
      }
    }
    // A derivative that cannot be formed holds the entry for this step (the
    // solver has said why already).
    if (h != 0.0 && computed) {
      for (int s = 1; s <= ss.count && computed; ++s) {
        if (!w.derivatives[s]) continue;
        for (int k = w.first[s]; k <= w.last[s]; ++k) {
          const float d = static_cast<float>((ss.model[s][k] - w.modelCopy[s][k]) / h);
          if (!std::isfinite(d)) {
            computed = false;
            break;
          }
          w.derivatives[s][i][k] = d;
        }
      }
      if (computed) continue;
    }
    if (computed) {
      if (gSerialFitSettings.running)
        gSerialFitSettings.errorCode = 9;
      else if (host)
        host->ErrorBox("zero differential in mlcof");
    }
    for (int s = 1; s <= ss.count; ++s)
      if (w.derivatives[s])
        for (int k = w.first[s]; k <= w.last[s]; ++k) w.derivatives[s][i][k] = 0.0f;
  }

  double sum = 0.0;
  for (int s = 1; s <= ss.count; ++s) {
    if (!w.derivatives[s]) continue;
    float** d = w.derivatives[s];
    for (int k = w.first[s]; k <= w.last[s]; ++k) {
      const double dy = static_cast<double>(ss.signals[s][k]) - w.modelCopy[s][k];
      for (int j = 1; j <= n; ++j) {
        if (!flags[j] || d[j][k] == 0.0f) continue;
        const double wj = d[j][k];
        for (int l = 1; l <= j; ++l)
          if (flags[l]) alpha[j][l] += wj * d[l][k];
        beta[j] += dy * wj;
      }
      sum += dy * dy;
    }
  }
  *chisq = sum;
  for (int j = 2; j <= n; ++j)
    for (int k = 1; k < j; ++k) alpha[k][j] = alpha[j][k];
  fs.mlTestRmsd = points > 0 ? std::sqrt(sum / points) : 0.0;
}

void mlmin(FitHost* host, double* a, int* flags, int n, double* chisq, double* lambda,
           FitTarget target) {
  FitEngineState& fs = gFitEngineState;
  MarquardtWorkArrays& w = Work();
  if (host) host->WriteDiagnostics("\nEnter mlmin");
  fs.evaluationsThisRun = 0;

  if (*lambda < 0.0) {
    *lambda = kMarquardtStartLambda;
    mlcof(host, a, flags, n, w.alpha, w.beta, chisq, target);
    if (fs.stopRequested) return;
    // Nowhere to step from: the fit ends where it started.
    if (!std::isfinite(*chisq)) {
      fs.mlError = 1;
      return;
    }
    w.acceptedChiSquare = *chisq;
    for (int j = 1; j <= n; ++j) w.trial[j] = a[j];
  }

  if (*lambda == 0.0) {
    // Covariance pass: invert alpha in normalised units, convert alpha and
    // beta to model units and invert again.
    if (!AllFinite(w.alpha, w.beta, n)) {
      for (int j = 1; j <= n; ++j)
        for (int k = 1; k <= n; ++k) w.inverse[j][k] = w.covariance[j][k] = 0.0;
      return;
    }
    Invert(w.alpha, w.inverse, n);
    for (int j = 1; j <= n; ++j) {
      const double sj = w.scale[j];
      if (sj != 0.0) w.beta[j] /= sj;
      for (int k = 1; k <= n; ++k) {
        const double sk = w.scale[k];
        if (sj != 0.0) w.alpha[j][k] /= sj;
        if (sk != 0.0) w.alpha[j][k] /= sk;
      }
    }
    if (!AllFinite(w.alpha, nullptr, n)) {
      for (int j = 1; j <= n; ++j)
        for (int k = 1; k <= n; ++k) w.covariance[j][k] = 0.0;
      return;
    }
    Invert(w.alpha, w.covariance, n);
    return;
  }

  // Only computed points enter alpha and beta; should they still not be
  // finite, no step can be solved for and the steps end at the best point.
  if (!SolveDampedStep(*lambda, n)) {
    fs.mlError = 1;
    return;
  }

  // A curvature so near singular that no step comes out: a shorter one is
  // tried, as after a rejected step.
  if (!AllFinite(nullptr, w.delta, n)) {
    fs.mlStepNegligible = 0;
    *lambda *= 10.0;
    *chisq = w.acceptedChiSquare;
    return;
  }
  fs.mlStepNegligible = StepNegligible(a, flags, n) && !StepLowersByAUnit(n) ? 1 : 0;
  if (fs.mlStepNegligible) return;

  for (int j = 1; j <= n; ++j) {
    double t = a[j] + w.delta[j];
    if (a[j] != 0.0) {
      const double limit = fs.mlMaxFactor * std::fabs(a[j]);
      if (std::fabs(t) > limit) t = t > 0.0 ? limit : -limit;
    }
    w.trial[j] = t;
  }
  double trialChisq = 0.0;
  DoubleVec asked(1, n);
  for (int j = 1; j <= n; ++j) asked[j] = w.trial[j];
  mlcof(host, w.trial, flags, n, w.covariance, w.delta, &trialChisq, target);
  // A step the target put back where the entry was: a limit holds it there.
  for (int j = 1; j <= n && !fs.stopRequested; ++j)
    if (w.trial[j] != asked[j] && std::fabs(w.trial[j] - a[j]) <= 1e-6 * std::fabs(a[j]))
      w.blocked[j] = asked[j] > a[j] ? 1 : -1;
  if (!fs.stopRequested) {
    // A trial the model cannot be computed at has an infinite sum.
    if (!(trialChisq < w.acceptedChiSquare)) {
      *lambda *= 10.0;
      *chisq = w.acceptedChiSquare;
    } else {
      *lambda *= 0.1;
      w.acceptedChiSquare = trialChisq;
      *chisq = trialChisq;
      // Taken without its derivatives: the curvature is the one before.
      for (int j = 1; j <= n; ++j) {
        if (!w.endedWithinUnit) {
          for (int k = 1; k <= n; ++k) w.alpha[j][k] = w.covariance[j][k];
          w.beta[j] = w.delta[j];
        }
        a[j] = w.trial[j];
      }
    }
  }
  if (host) host->WriteDiagnostics(" --> done.");
}
