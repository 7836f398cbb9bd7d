#include "fit/marquardt_loop.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/marquardt.h"
#include "fit/marquardt_work.h"
#include "numerics/arrays.h"

using namespace marquardt_work;

void NormaliseMarquardtStart(double* a, float* unit, int n) {
  MarquardtWorkArrays& w = Work();
  for (int j = 1; j <= n; ++j) {
    const float v = w.simulation[j];
    w.scale[j] = v;
    a[j] = v != 0.0f ? 1.0 : 0.0;
    w.fitFlags[j] = 1;
    unit[j] = v != 0.0f ? 1.0f : 0.0f;
  }
}

void StartMarquardtCurvature(FitHost* host, double* a, int n, double* chisq, double* lambda, FitTarget target) {
  FitEngineState& fs = gFitEngineState;
  *lambda = -1.0;
  fs.mlError = 0;
  mlmin(host, a, Work().fitFlags, n, chisq, lambda, target);
  fs.mlChiSquare = *chisq;
}

MarquardtLoopResult IterateMarquardt(FitHost* host, double* a, const float* unit, int n, double* chisqAt,
                                     double* lambdaAt, StalledSteps& stalled, const MarquardtLoopRules& rules) {
  FitEngineState& fs = gFitEngineState;
  MarquardtWorkArrays& w = Work();
  double& chisq = *chisqAt;
  double& lambda = *lambdaAt;
  MarquardtLoopResult out;
  if (!rules.continuesCounters) fs.minimiserRuns = 0;
  auto exactFit = [&rules](double c) { return rules.exactFit ? rules.exactFit(c) : ExactFitChiSquare(c); };
  // The first small change of a pair: the second ends the run.
  bool armed = false, done = false;
  // Where the rules probe the misfit at an end by small change: true when a
  // probe a unit or more lower starts the run again from there (one that
  // cannot be computed leaves the end as the derivatives found it).
  auto probedOn = [&]() {
    if (!rules.probesEnds || exactFit(chisq)) return false;
    const bool retry =
        MarquardtProbeEnd(host, a, unit, n, &chisq, &lambda, rules.target) == MarquardtRejectedEnd::Retry;
    fs.mlChiSquare = chisq;
    if (retry) armed = false;
    return retry;
  };
  DoubleVec before(1, n);
  while (!fs.stopRequested && !done && out.iterations < fs.mlMaxIterations && (!rules.goesOn || rules.goesOn())) {
    ++out.iterations;
    ++fs.minimiserRuns;
    const double oldLambda = lambda, oldChisq = chisq;
    for (int j = 1; j <= n; ++j) before[j] = a[j];
    if (rules.beforeStep) rules.beforeStep();
    mlmin(host, a, w.fitFlags, n, &chisq, &lambda, rules.target);
    if (rules.afterStep) rules.afterStep();
    fs.mlChiSquare = chisq;
    if (rules.trail && !std::equal(&a[1], &a[1] + n, rules.trail->back().begin()))
      rules.trail->emplace_back(&a[1], &a[1] + n);
    if (fs.mlError || fs.stopRequested) break;
    // A trial the rules took as a minimum (endWithinUnit) ends the run there.
    if (w.endedWithinUnit) {
      done = true;
      break;
    }
    // An exact fit is a minimum: no step can lower what rounding is left.
    const bool exact = exactFit(chisq);
    const bool exactEnds = rules.exactEndsWithoutFall && exact;
    if (fs.mlStepNegligible) {
      // A step the rejections before it shrank is no end by small change:
      // every trial from here was rejected, the point is no minimum, unless
      // longer derivative steps find the way on or only quantities the
      // data do not determine are left to move.
      if (!exactEnds && MarquardtStepShrunkByRejections(a, w.fitFlags, n, lambda)) {
        MarquardtRejectedEnd next = MarquardtAfterRejectedTrials(a, unit, n, chisq, &lambda, &out.open);
        if (rules.probesEnds && next == MarquardtRejectedEnd::StoppedAway)
          next = MarquardtProbeEnd(host, a, unit, n, &chisq, &lambda, rules.target);
        fs.mlChiSquare = chisq;
        if (next == MarquardtRejectedEnd::Retry) {
          armed = false;
          continue;
        }
        out.end = next == MarquardtRejectedEnd::Undetermined ? MarquardtLoopEnd::Open
                  : next == MarquardtRejectedEnd::Reached    ? MarquardtLoopEnd::Reached
                                                             : MarquardtLoopEnd::RejectedAway;
        return out;
      }
      // A negligible step changes nothing, so a second one in a row would
      // only repeat it: two of them (or one after an armed fall) end the fit.
      if (armed) {
        if (probedOn()) continue;
        done = true;
      }
      armed = true;
    }
    if (done) break;
    const bool rejected = chisq > oldChisq || lambda > oldLambda || chisq == oldChisq;
    if (lambda > oldLambda && rules.endsAtRejectedTrial && rules.endsAtRejectedTrial()) {
      done = true;
      break;
    }
    if (!rejected && stalled.Accepted(static_cast<const double*>(before), static_cast<const double*>(a),
                                      std::sqrt(oldChisq / std::max(fs.mlPointCount, 1.0)),
                                      std::sqrt(chisq / std::max(fs.mlPointCount, 1.0)), fs.maxRelativeChange,
                                      fs.mlPointCount, MarquardtExpectedFall(n))) {
      out.end = MarquardtLoopEnd::Stalled;
      return out;
    }
    const bool clearFall = oldChisq > 0.0 && (oldChisq - chisq) / oldChisq >= fs.mlSmallChange && !exact;
    // The two small changes that end the fit come in a row: a clear fall
    // between them starts the count again (a rejected trial, which moves
    // nothing, neither counts nor breaks the row).
    if (clearFall) {
      armed = false;
      continue;
    }
    // Where the rules say so, a rejected step at an exact fit is one more
    // sign of the end.
    if (rejected && !exactEnds) continue;
    // A small fall of a step the damping shrank tells nothing of a minimum.
    if (!exact && MarquardtStepShrunkByRejections(a, w.fitFlags, n, oldLambda)) continue;
    if (armed) {
      if (probedOn()) continue;
      done = true;
    }
    armed = true;
    if (rules.atSmallChange) rules.atSmallChange();
  }
  if (done) out.end = MarquardtLoopEnd::Reached;
  return out;
}
