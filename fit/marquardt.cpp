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

namespace {

MarquardtResult gLastResult;

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

}  // namespace

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

namespace {

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

}  // namespace

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

namespace {

// The entries whose own curvature at `a` (alpha of the last accepted point,
// normalised units) puts chi-square, sigma from the rmsd, less than
// kStalledChiSquare above its value a move of kStalledMove away.
std::vector<int> EntriesTheCurvatureLeavesOpen(const double* a, const float* unit, int n, double chisq) {
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
    if (move * move * curvature / sigma2 < kStalledChiSquare) open.push_back(j);
  }
  return open;
}

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

int MLOptimize(FitHost* host) { return RunMarquardt(host).result; }

FitRunEnd RunMarquardt(FitHost* host, const MarquardtOptions& options) {
  FitEngineState& fs = gFitEngineState;
  FitBudgetScope wholeFit(host);
  FitSolverBoxScope solverBoxes;
  FitRunEnd end;
  if (host) host->WriteDiagnostics("\nEnter MLOptimize");
  fs.minimiserRuns = 0;
  const unsigned char redraw = gSimulationSwitches.redrawDuringSimulation;
  gSimulationSwitches.redrawDuringSimulation = 0;
  if (!host || !CheckFitLimitsBeforeFit(host)) {
    gSimulationSwitches.redrawDuringSimulation = redraw;
    return end;
  }
  host->RequestRepaint();
  fs.stopRequested = 0;
  fs.evaluationsThisRun = 0;
  fs.evaluationsTotal = 0;
  ComposeFitInfoText(host);

  const int n = ParametersToFitVector(0, nullptr);
  if (n == 0) {
    gSimulationSwitches.redrawDuringSimulation = redraw;
    end.result = 1;
    return end;
  }
  AllocMarquardtArrays(n);
  MarquardtWorkArrays& w = Work();
  FitVectorDerivativeSteps(n, w.stepFactor, w.absoluteStep);
  ParametersToFitVector(n, w.simulation);
  DoubleVec a(1, n);
  for (int j = 1; j <= n; ++j) {
    const float v = w.simulation[j];
    w.scale[j] = v;
    a[j] = v != 0.0f ? 1.0 : 0.0;
    w.fitFlags[j] = 1;
  }

  host->ShowFitProgressIndicator();
  fs.fitRunning = 1;
  double chisq = 0.0;
  double& lambda = fs.mlLambda;
  lambda = -1.0;
  fs.mlError = 0;
  // The points the steps went through, the start first: the fit ends at the
  // last of them whose model can be computed again.
  std::vector<std::vector<double>> trail(1, std::vector<double>(&a[1], &a[1] + n));
  mlmin(host, a, w.fitFlags, n, &chisq, &lambda);
  fs.mlChiSquare = chisq;
  if (!std::equal(&a[1], &a[1] + n, trail.back().begin())) trail.emplace_back(&a[1], &a[1] + n);
  if (fs.saveBestDuringFit) host->TmpSaveBestParams(0);

  // A start whose model cannot be computed (a species of molar mass 0, one
  // beyond what the solver computes) has no curvature to step from: every
  // step would be "no lower" than a misfit never formed, and the fit would
  // end where it began, as if there were a minimum.
  const bool stoppedAtStart = fs.stopRequested != 0;
  const bool uncomputedStart = !stoppedAtStart && !std::isfinite(chisq);
  // The curvature of the start is whole: the covariance pass can use it.
  const bool started = !stoppedAtStart && !fs.mlError && !uncomputedStart;
  // The normalised entries start at 1, those that started at 0 at 0.
  FloatVec unit(1, n);
  for (int j = 1; j <= n; ++j) unit[j] = w.scale[j] != 0.0f ? 1.0f : 0.0f;
  StalledSteps stalled(n, unit);
  bool undetermined = false, shrunk = false, done = false;
  // Quantities the data do not determine at an end by small change.
  std::vector<int> flat;
  if (started) {
    fs.minimiserRuns = 0;
    bool armed = false;
    DoubleVec before(1, n);
    while (!fs.stopRequested && !done && fs.minimiserRuns < fs.mlMaxIterations) {
      ++fs.minimiserRuns;
      const double oldLambda = lambda, oldChisq = chisq;
      for (int j = 1; j <= n; ++j) before[j] = a[j];
      mlmin(host, a, w.fitFlags, n, &chisq, &lambda);
      fs.mlChiSquare = chisq;
      if (!std::equal(&a[1], &a[1] + n, trail.back().begin())) trail.emplace_back(&a[1], &a[1] + n);
      if (fs.mlError) break;
      // An exact fit is a minimum: no step can lower what rounding is left.
      const bool exact = ExactFitChiSquare(chisq);
      if (fs.mlStepNegligible) {
        // A step the rejections before it shrank is no end by small change:
        // every trial from here was rejected, the point is no minimum, unless
        // longer derivative steps find the way on or only quantities the
        // data do not determine are left to move.
        if (!exact && MarquardtStepShrunkByRejections(a, w.fitFlags, n, lambda)) {
          // Such an end is not probed here (MarquardtProbeEnd, as the c(s)
          // fits do): where no probe falls, species may still lie in a
          // minimum of their own arrangement far above the best (two of 5.5
          // and 3.8 S from twice their s, 1 200 units of chi-square above
          // it), and the fit driver goes on from a stopped-away end by
          // placing species in pairs, which it does not try from a reached
          // one. The driver asks the misfit once that check is done.
          const MarquardtRejectedEnd next = MarquardtAfterRejectedTrials(a, unit, n, chisq, &lambda, &flat);
          if (next == MarquardtRejectedEnd::Retry) {
            armed = false;
            continue;
          }
          if (next == MarquardtRejectedEnd::Undetermined) {
            done = true;
            break;
          }
          shrunk = true;
          break;
        }
        // A negligible step changes nothing, so a second one in a row would
        // only repeat it: two of them (or one after an armed fall) end the fit.
        if (armed) done = true;
        armed = true;
      }
      if (fs.stopRequested || done) break;
      const bool rejected = chisq > oldChisq || lambda > oldLambda || chisq == oldChisq;
      if (!rejected && stalled.Accepted(static_cast<const double*>(before), static_cast<const double*>(a),
                                        std::sqrt(oldChisq / std::max(fs.mlPointCount, 1.0)), std::sqrt(chisq / std::max(fs.mlPointCount, 1.0)),
                                        fs.maxRelativeChange, fs.mlPointCount, MarquardtExpectedFall(n))) {
        undetermined = true;
        break;
      }
      const bool clearFall = oldChisq > 0.0 && (oldChisq - chisq) / oldChisq >= fs.mlSmallChange && !exact;
      // At an exact fit a rejected step is one more sign of the end.
      if ((rejected && !exact) || clearFall) continue;
      // A small fall of a step the damping shrank tells nothing of a minimum.
      if (!exact && MarquardtStepShrunkByRejections(a, w.fitFlags, n, oldLambda)) continue;
      if (armed)
        done = true;
      else
        armed = true;
      if (fs.saveBestDuringFit) host->TmpSaveBestParams(0);
      ComposeFitInfoText(host);
    }
  }

  // The last iteration can come just as the steps arrive: the test by small
  // change needs two more, each rejected trial from the minimum one of them
  // at best. A point whose linearised misfit (at the starting damping, so
  // not shortened by those rejections) expects less than one unit of
  // chi-square of any step is a minimum as far as the data tell, whatever
  // iteration it came at: it ends as one, its quantities judged as at any end.
  if (started && !done && !undetermined && !shrunk && !fs.stopRequested && !fs.mlError && !FitStoppedByBudget() &&
      fs.minimiserRuns >= fs.mlMaxIterations && (ExactFitChiSquare(chisq) || MarquardtAtStatisticalMinimum(n)))
    done = true;
  // An end by small change at a point where moving a quantity by a tenth
  // of its value (or of its start) changes chi-square by less than one unit
  // in noise terms, even with every other quantity held: the data do not
  // determine it there, and "reached" would pass an arbitrary value as a
  // result (a species of 1 Da beside a flat level over featureless scans).
  if (done && flat.empty() && !undetermined && !shrunk && !fs.stopRequested && !fs.mlError)
    flat = EntriesTheCurvatureLeavesOpen(a, unit, n, chisq);
  // A species' s or size the last steps pressed against the end of its
  // physical range: a minimum found there lies beyond the range, where the
  // species leaves the cell before the first scan or spreads no boundary
  // (the meniscus and bottom at the limits the user set are no such end:
  // the report names them at their limit).
  std::vector<int> held;
  {
    std::vector<unsigned char> ranged(static_cast<size_t>(n) + 1, 0);
    FitVectorEntriesInSpeciesRanges(n, ranged.data());
    for (int j = 1; j <= n; ++j)
      if (w.blocked[j] != 0 && ranged[static_cast<size_t>(j)]) held.push_back(j);
  }
  // A stopped fit ends at the best point it has seen.
  if (fs.stopRequested && TakeBestPointSeen(a, n, started ? chisq : std::numeric_limits<double>::infinity()))
    trail.emplace_back(&a[1], &a[1] + n);
  // A fit ended by its budget ends as a completed one, at its last
  // accepted point or a better one seen (a trial cut short was not taken).
  end.stoppedByTheUser = fs.stopRequested != 0 && !FitStoppedByBudget();
  const bool budget = FitStoppedByBudget() && !fs.mlError;
  const bool completed = started && (!fs.stopRequested || budget) && !fs.mlError;
  // The covariance pass and the evaluation of the result are the ending:
  // no press cuts them short.
  platform::InputHold hold;
  if (completed) {
    fs.stopRequested = 0;
    lambda = 0.0;
    mlmin(host, a, w.fitFlags, n, &chisq, &lambda);
    fs.fitRunning = 0;
    if (EndAtComputedPoint(host, a, n, trail))
      for (int i = 1; i <= n; ++i)
        for (int j = 1; j <= n; ++j) w.covariance[i][j] = 0.0;

    // The result's evaluation tells which species the linear solve left
    // without a loading: their s and size change no point of the model, so
    // the curvature above saw nothing of them, and "reached" would pass the
    // values they started from as a result.
    if (done && !undetermined && !shrunk && !ExactFitChiSquare(chisq)) {
      std::vector<unsigned char> absent(static_cast<size_t>(n) + 1, 0);
      FitVectorEntriesOfAbsentSpecies(n, absent.data());
      for (int j = 1; j <= n; ++j)
        if (absent[static_cast<size_t>(j)] && std::find(flat.begin(), flat.end(), j) == flat.end()) flat.push_back(j);
      std::sort(flat.begin(), flat.end());
    }
    gLastResult = MarquardtResult{};
    for (int i = 1; i <= n; ++i) {
      gLastResult.value.push_back(w.simulation[i]);
      const double c = w.covariance[i][i];
      gLastResult.error.push_back(c > 0.0 ? std::sqrt(c) : 0.0);
      std::vector<double> row;
      for (int j = 1; j <= n; ++j) row.push_back(w.covariance[i][j]);
      gLastResult.covariance.push_back(row);
    }
    const std::string path = options.writesListing ? host->MarquardtListingPath() : std::string();
    // Whole or not at all: parallel runs may share the program folder.
    if (!path.empty()) {
      const bool written = platform::WriteThroughTemporary(path, [n](const std::string& temporary) {
        FILE* f = std::fopen(temporary.c_str(), "w");
        if (!f) return false;
        for (int i = 1; i <= n; ++i) {
          std::fprintf(f, "%d: %e\t(%e)\t - ", i, gLastResult.value[i - 1], gLastResult.error[i - 1]);
          for (int j = 1; j <= n; ++j) std::fprintf(f, "%e\t", gLastResult.covariance[i - 1][j - 1]);
          std::fprintf(f, "\n");
        }
        return std::fclose(f) == 0;
      });
      if (!written && platform::FirstWriteFailure(path))
        ErrorBox(("\n\aAttention: could not write " + path).c_str());
    }
  } else {
    fs.stopRequested = 0;
    fs.fitRunning = 0;
    EndAtComputedPoint(host, a, n, trail);
  }
  FreeMarquardtArrays();
  gSimulationSwitches.redrawDuringSimulation = redraw;
  if (fs.saveBestDuringFit) host->TmpSaveBestParams(0);
  host->RequestRepaint();
  ComposeFitInfoText(host);
  if (completed) host->WriteDiagnostics(" --> MLOptimize DONE");
  fs.fitRunning = 0;
  host->EraseFitProgressIndicator();
  end.ranOutOfIterations = completed && !budget && !done && !undetermined && !shrunk;
  end.stoppedAfterRejectedTrials = completed && !budget && shrunk && !undetermined;
  if (completed && !budget) {
    if (!flat.empty() && held.empty())
      ReportMarquardtEnd(host, true, FitVectorEntryNames(flat), false, true, {});
    else
      ReportMarquardtEnd(host, undetermined, FitVectorEntryNames(stalled.Moved()), shrunk, done,
                         FitVectorEntryNames(held));
  } else if (uncomputedStart && !budget) {
    ReportStoppedAwayFromMinimum(host, "the model could not be computed at the starting values (a species of molar "
                                       "mass 0, or one the solver cannot compute), so no step was taken");
  } else if (!completed && !budget && !stoppedAtStart && fs.mlError) {
    ReportStoppedAwayFromMinimum(host, "the curvature there could not be computed");
  } else if (!completed && !budget && started) {
    RecordFitEnd(host, FitEndKind::Stopped, "the fit was stopped: the best parameters found are kept");
  }
  end.result = completed || budget ? 1 : 0;
  return end;
}
