#include "distributions/conti_fit.h"

#include <algorithm>
#include <limits>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "data/scan_set.h"
#include "distributions/conti_context.h"
#include "distributions/conti_detection.h"
#include "distributions/conti_fit_display.h"
#include "distributions/conti_fit_work.h"
#include "distributions/conti_fit_vector.h"
#include "distributions/conti_grid.h"
#include "distributions/conti_model_family.h"
#include "distributions/conti_run.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_transforms.h"
#include "distributions/hydrodynamics.h"
#include "distributions/nnls.h"
#include "distributions/normal_equations.h"
#include "distributions/work_blocks.h"
#include "fit/annealing.h"
#include "fit/fit_budget.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/fit_target.h"
#include "fit/fit_vector.h"
#include "fit/marquardt.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/nelder_mead.h"
#include "fit/serial_fit_settings.h"
#include "fit/fit_end.h"
#include "fit/simulation_switches.h"
#include "numerics/arrays.h"
#include "platform/error_box.h"
#include "numerics/random.h"
#include "platform/diagnostics.h"
#include "platform/input_events.h"
#include "platform/paths.h"

using namespace conti_fit_work;

bool ContiRestartsConverged(const float* q, const float* p, int n, float r, float y, float tol) {
  if (r != 0.0f && std::fabs(y - r) / std::fabs(r) > tol) return false;
  for (int i = 1; i <= n; ++i) {
    if (q[i] != 0.0f) {
      if (std::fabs(q[i] - p[i]) / std::fabs(q[i]) > tol) return false;
    } else if (std::fabs(p[i]) > tol) {
      return false;
    }
  }
  return true;
}

namespace {

// Steps to the minimum of a quadratic through the points evaluated so far,
// while the model expects a fall of more than half the spread the runs end
// at and each step finds a lower value: along the flat valley of f/f0 and
// the meniscus a simplex creeps, where the quadratic sees its floor. An
// accepted step replaces the best vertex; true when one was accepted.
bool QuadraticModelSteps(FitHost* host, float** p, float* y, int n, int b, const EvaluatedPoints& evaluated) {
  constexpr int kMaxSteps = 3;
  FloatVec trial(1, n);
  bool moved = false;
  for (int step = 0; step < kMaxSteps && !FS().stopRequested; ++step) {
    float drop = 0.0f;
    if (!QuadraticModelMinimum(evaluated, trial, &drop) || drop <= 0.5f * kFitSimplexTolerance) break;
    const float value = ContiSimplexSim(trial, host);
    if (!(value < y[b])) break;
    for (int i = 1; i <= n; ++i) p[b][i] = trial[i];
    y[b] = value;
    moved = true;
  }
  return moved;
}

// Levenberg-Marquardt steps on the residuals from the lowest point seen,
// the Jacobian by forward differences of the nonlinear parameters (the
// linear amplitudes and the noise solved inside every evaluation): along a
// narrow curved valley of f/f0 and the meniscus a simplex crawls, where a
// step of the linearised residuals crosses it in n + 1 evaluations. Ends
// when the step expected no fall above half the spread the runs end at
// (after an accepted step judged on the Jacobian carried over it), or found
// none after a few tries. A coordinate at a meniscus or bottom limit
// that the step would carry beyond it stays at the limit. The lowest point
// replaces the best vertex; `curvature` receives J^T J at the last Jacobian
// in the relative units of ShapeSimplex. Two accepted steps in a row that
// move an entry for almost no fall (StalledSteps, against the values the
// fit started from, `start`) end them, the entries they moved in
// `undetermined`. True when a Jacobian was formed.
bool MarquardtSteps(FitHost* host, float** p, float* y, int n, int b, ResidualMemory& memory,
                    QuadraticCurvature* curvature, bool* held, const float* start, std::vector<int>* undetermined) {
  *held = false;
  undetermined->clear();
  StalledSteps stalled(n, start);
  constexpr int kMaxJacobians = 6, kMaxTries = 4;
  if (memory.best.empty() || !(memory.bestValue <= y[b]) || static_cast<int>(memory.bestPoint.size()) != n + 1)
    return false;
  const FitEngineState& fs = FS();
  const Positions at = conti_fit_vector::EntryPositions();
  FloatVec x(1, n), trial(1, n);
  for (int i = 1; i <= n; ++i) x[i] = memory.bestPoint[i];
  float fx = memory.bestValue;
  std::vector<float> r0 = memory.best;
  const size_t m = r0.size();
  std::vector<double> jac(m * n), a(static_cast<size_t>(n) * n), g(static_cast<size_t>(n)), d, h(static_cast<size_t>(n));
  std::vector<char> free(static_cast<size_t>(n));
  double lambda = 1e-3;
  bool formed = false;
  // The first differences step a tenth of the starting simplex; later ones
  // where the rmsd rises by kDifferenceRise alone: in a valley a hundred
  // times narrower across than along, a step as long across as along
  // measures the curvature instead of the slope.
  constexpr double kDifferenceRise = 1e-4;
  std::vector<double> next(static_cast<size_t>(n));
  for (int i = 1; i <= n; ++i) next[i - 1] = 0.01 * ContiSimplexSpread(i) * (x[i] != 0.0f ? std::fabs(x[i]) : 0.1);
  // A simplex vertex may lie a few roundings inside the limit it was pressed
  // against; a held coordinate is stepped onto the limit itself.
  auto near = [](float v, float limit) { return std::fabs(v - limit) <= 3e-7f * std::fabs(limit); };
  auto limitOf = [&](int i, bool upper) {
    return i == at.meniscus ? (upper ? fs.meniscusMax : fs.meniscusMin) : (upper ? fs.bottomMax : fs.bottomMin);
  };
  auto atUpper = [&](int i, float v) {
    return (i == at.meniscus && (v >= fs.meniscusMax || near(v, fs.meniscusMax))) ||
           (i == at.bottom && (v >= fs.bottomMax || near(v, fs.bottomMax)));
  };
  auto atLower = [&](int i, float v) {
    return (i == at.meniscus && (v <= fs.meniscusMin || near(v, fs.meniscusMin))) ||
           (i == at.bottom && (v <= fs.bottomMin || near(v, fs.bottomMin)));
  };
  // The normal equations of the residuals r0 at x linearised with jac; a
  // coordinate at a limit that the gradient pushes beyond it is held.
  auto normalEquations = [&] {
    for (int i = 0; i < n; ++i) {
      double gi = 0.0;
      for (size_t e = 0; e < m; ++e) gi += jac[e * n + i] * r0[e];
      g[i] = gi;
      for (int j = 0; j <= i; ++j) {
        double aij = 0.0;
        for (size_t e = 0; e < m; ++e) aij += jac[e * n + i] * jac[e * n + j];
        a[i * n + j] = a[j * n + i] = aij;
      }
    }
    for (int i = 0; i < n; ++i)
      free[i] = !((atUpper(i + 1, x[i + 1]) && g[i] < 0.0) || (atLower(i + 1, x[i + 1]) && g[i] > 0.0));
  };
  // The relative fall of the rmsd the linearised residuals expect of step d.
  auto expectedFall = [&](double s0) {
    double fall = 0.0;
    for (int i = 0; i < n; ++i) {
      fall -= 2.0 * g[i] * d[i];
      for (int j = 0; j < n; ++j) fall -= d[i] * a[i * n + j] * d[j];
    }
    return 0.5 * fall / s0;
  };
  auto sumSquares = [&] {
    double s0 = 0.0;
    for (float e : r0) s0 += static_cast<double>(e) * e;
    return s0;
  };
  std::vector<float> previous;
  std::vector<double> step(static_cast<size_t>(n));
  for (int k = 0; k < kMaxJacobians && !fs.stopRequested; ++k) {
    const double s0 = sumSquares();
    if (!(s0 > 0.0)) break;
    for (int i = 1; i <= n && !fs.stopRequested; ++i) {
      const float length = static_cast<float>(next[i - 1]);
      for (int l = 1; l <= n; ++l) trial[l] = x[l];
      trial[i] = atUpper(i, x[i]) ? x[i] - length : x[i] + length;
      // A failed or stopped evaluation leaves the residuals of an earlier one.
      const float v = ContiSimplexSim(trial, host);
      h[i - 1] = static_cast<double>(trial[i]) - x[i];
      if (!(v < 1e9f) || memory.last.size() != m || h[i - 1] == 0.0) return formed;
      for (size_t e = 0; e < m; ++e) jac[e * n + i - 1] = (static_cast<double>(memory.last[e]) - r0[e]) / h[i - 1];
    }
    if (fs.stopRequested) break;
    normalEquations();
    formed = true;
    for (int i = 0; i < n; ++i) {
      const double rise = a[i * n + i] * h[i] * h[i] / (2.0 * s0);
      const double factor = rise > 0.0 ? std::sqrt(kDifferenceRise / rise) : 10.0;
      next[i] = std::fabs(h[i]) * std::clamp(factor, 0.1, 10.0);
    }
    if (curvature) {
      curvature->scale = h;
      curvature->hessian.assign(static_cast<size_t>(n) * n, 0.0);
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) curvature->hessian[i * n + j] = a[i * n + j] * h[i] * h[j] / s0;
    }
    *held = std::find(free.begin(), free.end(), 0) != free.end();
    bool accepted = false, done = false;
    for (int t = 0; t < kMaxTries && !fs.stopRequested; ++t) {
      if (!DampedGaussNewtonStep(a, g, n, lambda, free, d) || !(expectedFall(s0) > 0.5 * kFitSimplexTolerance)) {
        done = true;
        break;
      }
      for (int i = 1; i <= n; ++i)
        trial[i] = free[i - 1] ? static_cast<float>(x[i] + d[i - 1]) : limitOf(i, atUpper(i, x[i]));
      const float v = ContiSimplexSim(trial, host);
      if (v < fx && memory.last.size() == m) {
        if (stalled.Accepted(static_cast<const float*>(x), static_cast<const float*>(trial), fx, v,
                             fs.maxRelativeChange, gFittedPoints))
          *undetermined = stalled.Moved();
        for (int i = 1; i <= n; ++i) {
          step[i - 1] = static_cast<double>(trial[i]) - x[i];
          x[i] = trial[i];
        }
        fx = v;
        previous.swap(r0);
        r0 = memory.last;
        lambda = std::max(lambda * 0.1, 1e-7);
        accepted = true;
        break;
      }
      lambda *= 10.0;
    }
    if (!accepted || done || !undetermined->empty()) break;
    // The Jacobian carried over the step by Broyden's update (in the units
    // of the difference steps), so that it reproduces the change of the
    // residuals the step made: when the step it then proposes from the new
    // point expects no fall above half the spread the runs end at, a fresh
    // Jacobian would cost n evaluations to find that out.
    if (!BroydenUpdate(jac, m, n, step, h, previous, r0)) continue;
    normalEquations();
    if (!DampedGaussNewtonStep(a, g, n, lambda, free, d) || !(expectedFall(sumSquares()) > 0.5 * kFitSimplexTolerance))
      break;
  }
  // A difference point may have been lower than the last step.
  if (memory.bestValue < fx && static_cast<int>(memory.bestPoint.size()) == n + 1) {
    for (int i = 1; i <= n; ++i) x[i] = memory.bestPoint[i];
    fx = memory.bestValue;
  }
  if (fx < y[b]) {
    for (int i = 1; i <= n; ++i) p[b][i] = x[i];
    y[b] = fx;
  }
  return formed;
}

// Records the points the restarts evaluate for as long as it lives.
struct RecordEvaluations {
  explicit RecordEvaluations(EvaluatedPoints* points, ResidualMemory* residuals) {
    gEvaluated = points;
    gResiduals = residuals;
  }
  ~RecordEvaluations() {
    gEvaluated = nullptr;
    gResiduals = nullptr;
  }
  RecordEvaluations(const RecordEvaluations&) = delete;
  RecordEvaluations& operator=(const RecordEvaluations&) = delete;
};



}  // namespace

namespace conti_fit_work {

int NelderMeadRestarts(FitHost* host) {
  FitEngineState& fs = FS();
  unsigned char redraw = 0;
  if (!CommonStart(host, &redraw)) return 0;
  const int n = ContiParametersToFitVector(0, nullptr);
  if (n == 0) return NothingFloats(host, redraw);
  // A first run (where the residual steps cannot be taken) and a wide first
  // restart only approach the minimum; the restarts end where the values of
  // the simplex agree to kFitSimplexTolerance.
  const float tol = 0.005f;
  fs.startRmsd = fs.startRmsdCopy = 1e10f;
  int counter = 0;
  FloatMat simplex(1, n + 1, 1, n);
  FloatVec y(1, n + 1), q(1, n);
  float** p = simplex;
  fs.stopRequested = 0;
  EvaluatedPoints evaluated;
  evaluated.n = n;
  ResidualMemory residuals;
  RecordEvaluations recording(&evaluated, &residuals);
  ContiParametersToFitVector(n, p[1]);
  FloatVec start(1, n);
  for (int i = 1; i <= n; ++i) start[i] = p[1][i];
  Scatter(p, n, 1, 1);
  EvaluateSimplexFromStart(host, p, y, n, ContiSimplexSim);
  int b = LowestVertex(y, n);
  QuadraticCurvature gaussNewton;
  bool held = false;
  // The entries the residual steps or the restarts found the data not to
  // determine (see StalledSteps): the fit ends where they stalled.
  std::vector<int> undetermined;
  // Data that show no material beyond the noise determine none of the
  // fitted quantities: the fit ends at the best point seen, at its start
  // or after any run (each step would only fit the noise a little better,
  // f/f0 sharpening boundaries without end at growing cost).
  double noMaterialFall = 0.0;
  bool noMaterial = false;
  auto checkMaterial = [&] {
    if (!noMaterial && !fs.stopRequested && DataShowNoMaterial(n, &noMaterialFall)) {
      noMaterial = true;
      undetermined = AllEntries(n);
    }
    return noMaterial;
  };
  // The residual steps start from the best vertex of the starting simplex:
  // damped, they find the valley from there at the cost of a few Jacobians,
  // where a first simplex run spends as many evaluations to approach it. A
  // simplex run approaches it when they cannot be taken there.
  bool haveGaussNewton =
      !checkMaterial() && MarquardtSteps(host, p, y, n, b, residuals, &gaussNewton, &held, start, &undetermined);
  if (!haveGaussNewton && !fs.stopRequested && !checkMaterial()) {
    NelderMeadMinimize(host, p, y, n, tol, ContiSimplexSim, &counter, &evaluated);
    b = LowestVertex(y, n);
    haveGaussNewton = !checkMaterial() &&
                      MarquardtSteps(host, p, y, n, b, residuals, &gaussNewton, &held, start, &undetermined);
    if (!haveGaussNewton && !noMaterial) QuadraticModelSteps(host, p, y, n, b, evaluated);
  }
  checkMaterial();
  ContiFitVectorToParameters(p[b], host);
  ContiParametersToFitVector(n, q);
  float r = y[b];
  fs.startRmsd = fs.startRmsdCopy = r;
  // The restart is judged on the parameters as the model holds them, before
  // and after: both packed, so both within their limits.
  FloatVec now(1, n), extent(1, n), spread(1, n), modelMinimum(1, n);
  SimplexExtents(p, n, b, extent);
  float endSpread = EndSpread(y, n);
  bool settled = false;
  StalledSteps stalledRestarts(n, start);
  const double resolution = RmsdResolution();
  // The restart about to run confirms an end: a simplex of the start's own
  // size around the best vertex. Restarts shaped by the residuals shrink to
  // the size of the notches of a rough floor and settle in one, where a
  // simplex of the start's size walks on, as a second Fit would. The kernels
  // of ls-g*(s) have no diffusion: they are steps on the radial grid, and
  // chi-square in the meniscus is jagged at 1e-4 cm while it falls steadily
  // over 0.01 cm. The kernels of the other models are smooth in every
  // fitted quantity; there the restarts' own end holds.
  const bool roughFloor = LsgModel();
  bool confirming = false;
  for (int restart = 0; restart < kMaxNelderMeadRestarts && !fs.stopRequested && undetermined.empty(); ++restart) {
    // The first restart scatters as widely as the start when the residual
    // steps held a limit (a simplex shaped there stays on the slope where the
    // first run pressed the meniscus against its limit) or could not be
    // taken; it only approaches the minimum, and the residual steps go on
    // from where it ended. Every other restart is shaped by the curvature of
    // the residuals (else of the points seen so far), its values a spread at
    // which the runs end apart, and ends after a few steps when it has
    // nothing more to gain (at the size the run before ended with when the
    // points show no curvature).
    QuadraticCurvature curvature;
    float drop = 0.0f;
    const bool wide = (restart == 0 && (!haveGaussNewton || held)) || confirming;
    if (wide) {
      Scatter(p, n, b, b);
    } else if (haveGaussNewton) {
      if (b != 1) {
        for (int i = 1; i <= n; ++i) std::swap(p[1][i], p[b][i]);
        std::swap(y[1], y[b]);
        b = 1;
      }
      ShapeSimplex(gaussNewton, n, p, kFitSimplexTolerance);
    } else if (QuadraticModelMinimum(evaluated, modelMinimum, &drop, &curvature)) {
      if (b != 1) {
        for (int i = 1; i <= n; ++i) std::swap(p[1][i], p[b][i]);
        std::swap(y[1], y[b]);
        b = 1;
      }
      ShapeSimplex(curvature, n, p, kFitSimplexTolerance);
    } else {
      for (int i = 1; i <= n; ++i) spread[i] = LearntSpread(extent[i], p[b][i], endSpread);
      ScatterLearnt(p, n, b, spread);
    }
    for (int j = 1; j <= n + 1; ++j)
      if (j != b) y[j] = ContiSimplexSim(p[j], host);
    // A restart around a point the residual steps settled in checks it: one
    // that finds nothing lower by the tolerance is not shrunk to the spread.
    NelderMeadMinimize(host, p, y, n, wide && haveGaussNewton && !confirming ? tol : kFitSimplexTolerance,
                       ContiSimplexSim, &counter, &evaluated, haveGaussNewton && !wide ? 3 * (n + 1) : 0);
    b = LowestVertex(y, n);
    SimplexExtents(p, n, b, extent);
    endSpread = EndSpread(y, n);
    ContiFitVectorToParameters(p[b], host);
    ContiParametersToFitVector(n, now);
    // Settled when nothing moved by more than the tolerance and the rmsd
    // came down by less than the spread the runs end at: a restart that
    // still improves is followed by another.
    // An rmsd within the rounding of 0 (an exact fit) changes by rounding alone.
    const bool exact = r <= resolution && y[b] <= resolution;
    // A confirming restart ends the fit unless it lowered the rmsd by what
    // the data can tell (a unit of chi-square in noise terms); where it did,
    // the restarts go on from there.
    if (confirming)
      settled = !(y[b] < r * (1.0f - kFitSimplexTolerance) &&
                  ChiSquareFall(r, y[b], gFittedPoints, resolution) >= kStalledChiSquare);
    else
      settled = ContiRestartsConverged(q, now, n, exact ? 0.0f : r, exact ? 0.0f : y[b], fs.maxRelativeChange) &&
                (exact || !(y[b] < r * (1.0f - kFitSimplexTolerance)));
    // A restart that moves a quantity for almost nothing is no step towards
    // a minimum the data determine.
    if (!settled && stalledRestarts.Accepted(static_cast<const float*>(q), static_cast<const float*>(now), r, y[b],
                                             fs.maxRelativeChange, gFittedPoints))
      undetermined = stalledRestarts.Moved();
    // The next restart is judged from where the quadratic step took it.
    bool stepped = false;
    if (!settled && undetermined.empty() && !checkMaterial()) {
      const bool formed = MarquardtSteps(host, p, y, n, b, residuals, &gaussNewton, &held, start, &undetermined);
      haveGaussNewton = haveGaussNewton || formed;
      stepped = formed || QuadraticModelSteps(host, p, y, n, b, evaluated);
    }
    if (stepped) {
      ContiFitVectorToParameters(p[b], host);
      ContiParametersToFitVector(n, now);
    }
    for (int i = 1; i <= n; ++i) q[i] = now[i];
    r = y[b];
    // An exact fit is its own minimum.
    if (settled && (confirming || exact || !roughFloor)) break;
    confirming = settled;
    settled = false;
    checkMaterial();
  }
  // The best vertex is never given up by a restart, so p[b] is the best point seen.
  if (!settled && undetermined.empty() && !fs.stopRequested) ReportRestartsExhausted(host);
  if (fs.stopRequested) StopEnd(host);
  fs.fitRunning = 0;
  Conti().finalEvaluation = 1;
  {
    platform::InputHold hold;
    ContiSimplexSim(p[b], host);
  }
  ContiFitVectorToParameters(q, host);
  host->RequestRepaint();
  DisplayBestContiParams(host);
  FinishDistribution();
  gSimulationSwitches.redrawDuringSimulation = redraw;
  SaveBest(host);
  if (noMaterial)
    ReportNoMaterial(host, ContiEntryNames(undetermined), noMaterialFall, gBestEvidence.amplitudes);
  else if (!undetermined.empty())
    ReportUndetermined(host, ContiEntryNames(undetermined));
  return 1;
}

}  // namespace conti_fit_work
