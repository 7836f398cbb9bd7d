#include "fit/annealing.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "fit/fit_budget.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/fit_report.h"
#include "fit/fit_target.h"
#include "fit/fit_vector.h"
#include "fit/model_evaluation.h"
#include "fit/model_selector.h"
#include "fit/nelder_mead.h"
#include "fit/simulation_switches.h"
#include "fit/fit_end.h"
#include "numerics/arrays.h"
#include "numerics/random.h"
#include "platform/clock.h"
#include "platform/input_events.h"

namespace {

// The degrees of freedom from which the best sum of squares stands for the
// noise in the schedule's end: its relative standard error sqrt(2 / (N - n))
// is then at most a half. Over fewer (the shifted valley of Rosenbrock's
// three residuals and two quantities: one, whose floor is no noise at all)
// the schedule runs whole.
constexpr double kStallFreedom = 8.0;

// Thermal fluctuation tt * ln(u), never negative for tt <= 0.
float Fluctuation(float tt) {
  return tt * std::log(ran1(&gFitEngineState.annealSeed));
}

// The points one schedule has evaluated, by the bits of the point it asked
// for: the point the target took (within its limits) and its misfit. Bounded
// by the schedule's own evaluations.
struct EvaluatedPoint {
  std::vector<float> taken;  // [0..n-1]
  float misfit;
};
// With a taker, the points taken are kept as well (by their own bits), and
// the points asked that were answered from them. Bounded by the schedule's
// own calls of the target.
struct RememberedPoints {
  FitTarget target = nullptr;
  FitPointTaker take = nullptr;
  int n = 0;
  std::unordered_map<std::string, EvaluatedPoint> points;
  std::vector<float> scratch;  // [1..n]
};
RememberedPoints* gRemembered = nullptr;

std::string PointKey(const float* p, int n) {
  const size_t bytes = sizeof(float) * static_cast<size_t>(n);
  std::string key(bytes, '\0');
  std::memcpy(key.data(), p + 1, bytes);
  return key;
}

float RememberingTarget(float* p, FitHost* host) {
  RememberedPoints& r = *gRemembered;
  // After a stop the target itself refuses, as it would every point.
  if (gFitEngineState.stopRequested) return r.target(p, host);
  std::string key = PointKey(p, r.n);
  if (const auto it = r.points.find(key); it != r.points.end()) {
    std::copy(it->second.taken.begin(), it->second.taken.end(), p + 1);
    return it->second.misfit;
  }
  if (r.take) {
    r.scratch.assign(p, p + 1 + r.n);
    r.take(r.scratch.data(), host);
    if (const auto it = r.points.find(PointKey(r.scratch.data(), r.n)); it != r.points.end()) {
      const EvaluatedPoint known = it->second;
      std::copy(known.taken.begin(), known.taken.end(), p + 1);
      r.points.emplace(std::move(key), known);
      return known.misfit;
    }
  }
  const float misfit = r.target(p, host);
  // A misfit refused for a stop or the time bound is no misfit of the point.
  if (!gFitEngineState.stopRequested && !FitStoppedByBudget()) {
    EvaluatedPoint known{std::vector<float>(p + 1, p + 1 + r.n), misfit};
    if (r.take) r.points.emplace(PointKey(p, r.n), known);
    r.points.emplace(std::move(key), std::move(known));
  }
  return misfit;
}

}  // namespace

float AnnealingTemperature(int k, int steps, float t0) {
  if (steps <= 1) return t0;
  const float x = 1.0f - static_cast<float>(k) / static_cast<float>(steps - 1);
  return t0 * x * x;
}

float TryAnnealingPoint(float tt, FitHost* host, float** p, float* y, float* psum, int n, float* pb, float* yb,
                        FitTarget target, int ihi, float* yhi, float fac) {
  // The trial vertex is reused from call to call (one-based, n entries).
  static thread_local std::vector<float> trial;
  trial.resize(static_cast<size_t>(n) + 1);
  float* ptry = trial.data();
  const float fac1 = (1.0f - fac) / static_cast<float>(n);
  const float fac2 = fac1 - fac;
  for (int j = 1; j <= n; ++j) ptry[j] = psum[j] * fac1 - p[ihi][j] * fac2;
  const float ytry = target(ptry, host);
  if (ytry <= *yb) {
    for (int j = 1; j <= n; ++j) pb[j] = ptry[j];
    *yb = ytry;
  }
  const float yflu = ytry - Fluctuation(tt);
  if (yflu < *yhi) {
    y[ihi] = ytry;
    *yhi = yflu;
    for (int j = 1; j <= n; ++j) {
      psum[j] += ptry[j] - p[ihi][j];
      p[ihi][j] = ptry[j];
    }
  }
  return yflu;
}

void RankFluctuatedSimplex(const float* y, int n, float tt, int* ilo, int* ihi, float* ylo, float* ynhi,
                           float* yhi) {
  *ilo = 1;
  *ihi = 2;
  *ylo = y[1] + Fluctuation(tt);
  *ynhi = *ylo;
  *yhi = y[2] + Fluctuation(tt);
  if (*ylo > *yhi) {
    *ihi = 1;
    *ilo = 2;
    *ynhi = *yhi;
    *yhi = *ylo;
    *ylo = *ynhi;
  }
  for (int i = 3; i <= n + 1; ++i) {
    const float yt = y[i] + Fluctuation(tt);
    if (yt <= *ylo) {
      *ilo = i;
      *ylo = yt;
    }
    if (yt > *yhi) {
      *ynhi = *yhi;
      *ihi = i;
      *yhi = yt;
    } else if (yt > *ynhi) {
      *ynhi = yt;
    }
  }
}

int MoveAnnealingSimplex(float tt, FitHost* host, float** p, float* y, float* psum, int n, float* pb, float* yb,
                         FitTarget target, int ilo, int ihi, float ylo, float ynhi, float* yhi) {
  float ytry = TryAnnealingPoint(tt, host, p, y, psum, n, pb, yb, target, ihi, yhi, -1.0f);
  if (ytry <= ylo) {
    TryAnnealingPoint(tt, host, p, y, psum, n, pb, yb, target, ihi, yhi, 2.0f);
    return 2;
  }
  if (ytry < ynhi) return 1;
  const float ysave = *yhi;
  ytry = TryAnnealingPoint(tt, host, p, y, psum, n, pb, yb, target, ihi, yhi, 0.5f);
  if (ytry < ysave) return 2;
  ShrinkSimplex(host, p, y, psum, n, target, ilo);
  return 2 + n;
}

void AnnealingSimplexStep(float t, FitHost* host, float** p, float* y, int n, float* pb, float* yb, float ftol,
                          FitTarget target, int* iter) {
  FitEngineState& fs = gFitEngineState;
  fs.evaluationsThisRun = 0;
  FloatVec psum(1, n);
  ComputePsum(p, n, psum);
  const float tt = -t * *yb;
  int ilo = 1;
  // The vertex shown is reported (and saved) at the step's start and then
  // no more often than every kReportIntervalMs: the window took 4 ms to
  // draw the report, as long as half an evaluation of the schedule over
  // featureless scans, at each of its thousands of moves.
  constexpr std::uint64_t kReportIntervalMs = 100;
  bool reported = false;
  std::uint64_t reportedAt = 0;
  for (;;) {
    if (fs.stopRequested) return;
    int ihi = 2;
    float ylo = 0, ynhi = 0, yhi = 0;
    RankFluctuatedSimplex(y, n, tt, &ilo, &ihi, &ylo, &ynhi, &yhi);

    if (host) {
      if (gModelSelectorFlags.DistributionModel) {
        fs.currentRmsd = y[ilo];
        host->ShowBestContiVertex(p[ilo]);
      } else {
        FitVectorToParameters(p[ilo]);
        fs.currentRmsd = y[ilo];
        const std::uint64_t now = platform::Clock().TickCountMs();
        if (!reported || now - reportedAt >= kReportIntervalMs || now < reportedAt) {
          reported = true;
          reportedAt = now;
          ShowFitInfo(host);
          if (fs.saveBestDuringFit) host->TmpSaveBestParams(1);
        }
      }
    }

    if (RelativeSpread(ylo, yhi) < ftol || *iter < 0) break;
    *iter -= MoveAnnealingSimplex(tt, host, p, y, psum, n, pb, yb, target, ilo, ihi, ylo, ynhi, &yhi);
  }
  std::swap(y[1], y[ilo]);
  for (int j = 1; j <= n; ++j) std::swap(p[1][j], p[ilo][j]);
}

void RunAnnealingSchedule(FitHost* host, float** p, float* y, int n, float* pb, float* yb, float ftol,
                          FitTarget target, float t0, bool pointAlone, FitPointTaker take, double stallPoints) {
  FitEngineState& fs = gFitEngineState;
  fs.annealSeed = -3;
  ran1(&fs.annealSeed);
  const int steps = fs.annealSteps;
  UnsolvedMasslessTrialsScope unsolved;
  OutlyingSpeciesScope outlying;
  RememberedPoints remembered{target, take, n, {}, {}};
  struct Remembering {
    RememberedPoints* outer = gRemembered;
    ~Remembering() { gRemembered = outer; }
  } scope;
  if (pointAlone) {
    gRemembered = &remembered;
    target = RememberingTarget;
  }
  float before = *yb;
  int stalled = 0;
  const double resolution = stallPoints > 0.0 ? RmsdResolution() : 0.0;
  for (int k = 0; k < steps && !fs.stopRequested; ++k) {
    ++fs.minimiserRuns;
    fs.evaluationsThisRun = 0;
    int budget = fs.annealIterations;
    fs.annealTemperature = AnnealingTemperature(k, steps, t0);
    AnnealingSimplexStep(fs.annealTemperature, host, p, y, n, pb, yb, ftol, target, &budget);
    if (budget >= 1) break;
    if (stallPoints > 0.0) {
      stalled = ChiSquareFall(before, *yb, stallPoints, resolution) < kStalledChiSquare ? stalled + 1 : 0;
      before = *yb;
      if (stalled >= 2) break;
    }
  }
}


int SimulatedAnnealingFit(FitHost* host, int (*finishingPass)(FitHost* host)) {
  FitEngineState& fs = gFitEngineState;
  FitBudgetScope wholeFit(host);
  FitSolverBoxScope solverBoxes;
  SpeciesSolveMemoScope memo;
  fs.annealTemperature = fs.annealStartTemperature;
  fs.minimiserRuns = 0;
  const unsigned char redraw = gSimulationSwitches.redrawDuringSimulation;
  gSimulationSwitches.redrawDuringSimulation = 0;
  if (!host || !CheckFitLimitsBeforeFit(host)) {
    gSimulationSwitches.redrawDuringSimulation = redraw;
    return 0;
  }
  host->RequestRepaint();
  const float ftol = 0.0005f;
  bool interrupted = false;
  fs.stopRequested = 0;
  fs.evaluationsThisRun = 0;
  fs.evaluationsTotal = 0;
  fs.fitRunning = 1;
  ComposeFitInfoText(host);
  fs.startRmsd = fs.startRmsdCopy = fs.currentRmsd;

  const int n = ParametersToFitVector(0, nullptr);
  if (n == 0) {
    fs.fitRunning = 0;
    gSimulationSwitches.redrawDuringSimulation = redraw;
    return 1;
  }
  {
    FloatMat simplex(1, n + 1, 1, n);
    FloatVec y(1, n + 1);
    FloatVec pb(1, n);
    float** p = simplex;
    float yb = 1e10f;
    ParametersToFitVector(n, p[1]);
    MakeInitialSimplex(n, p);
    const int best = EvaluateSimplexFromStart(host, p, y, n, SimplexSim);
    yb = y[best];
    FitVectorToParameters(p[best]);
    ParametersToFitVector(n, pb);

    // Two steps running that each lower the best by less than a unit of
    // chi-square found nothing the data tell from it, and the fluctuations
    // of the steps left are smaller still: where a finishing pass refines
    // the best point anyway, the schedule ends there (over featureless
    // scans it otherwise ran all its steps at their full budget, at
    // 75-240 s of CPU; over 20 scans with one point each in the fit range,
    // 4500 evaluations of the single nonideal species, 70 s, the best
    // unchanged after the second step). The noise is the best sum of
    // squares over the degrees of freedom the N points leave, N - n: the
    // n quantities take up n units of chi-square of the noise, a part
    // that the rmsd alone misses where the points are few (5 quantities
    // over 20 points took a quarter of it). A fall of the sum of squares S by dS
    // is then (N - n) dS / S units.
    const bool finishing = fs.annealFinalMarquardt || fs.annealFinalSimplex;
    const double freedom = fs.rmsdPointCount - n;
    const double stallPoints = finishing && freedom >= kStallFreedom ? freedom : 0.0;
    RunAnnealingSchedule(host, p, y, n, pb, &yb, ftol, SimplexSim, fs.annealStartTemperature, false, nullptr,
                         stallPoints);

    interrupted = fs.stopRequested != 0;
    fs.fitRunning = 0;
    fs.stopRequested = 0;
    FitVectorToParameters(pb);
    platform::InputHold hold;
    SimplexSim(pb, host);
  }
  gSimulationSwitches.redrawDuringSimulation = redraw;
  if (fs.saveBestDuringFit) host->TmpSaveBestParams(0);

  fs.annealTemperature = 0.0f;
  // A fit the user stopped, or one that spent its budget, is not started
  // again for its finishing pass.
  if (interrupted || (!fs.annealFinalMarquardt && !fs.annealFinalSimplex)) {
    host->RequestRepaint();
    ComposeFitInfoText(host);
    if (!FitStoppedByBudget()) ReportAnnealingEnd(host, interrupted);
  } else {
    finishingPass(host);
  }
  fs.annealTemperature = fs.annealStartTemperature;
  return 1;
}
