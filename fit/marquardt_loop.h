#pragma once
// The iterations of a Marquardt-Levenberg run, one loop for the discrete
// fit (RunMarquardt) and the c(s) family's (MLContiFit). Parameters a are
// in normalised units, one-based, over the work arrays of fit/marquardt.h;
// each iteration is one mlmin: solve (alpha + lambda diag alpha) delta =
// beta, keep the trial when chi-square falls (lambda / 10), else reject it
// (lambda x 10).
//
// A run ends
//  - by small change: two small changes in a row (a negligible step, or an
//    accepted one whose relative fall of chi-square is below mlSmallChange);
//    a clear fall between them starts the count again, a rejected trial
//    neither counts nor breaks the row;
//  - by stalled steps: two accepted steps in a row that move an entry for
//    less than a unit of chi-square (StalledSteps);
//  - where every trial from the accepted point was rejected and the step at
//    the starting damping is not negligible (MarquardtAfterRejectedTrials:
//    longer derivative steps, quantities the data leave open, or no way on);
//  - at mlMaxIterations iterations, by a stop or by an error of the curvature.
//
// The two fits differ only where a MarquardtLoopRules field says so; the
// defaults are the discrete fit's.
#include <functional>
#include <vector>

#include "fit/fit_end.h"
#include "fit/fit_target.h"
#include "fit/marquardt.h"

class FitHost;

struct MarquardtLoopRules {
  // The model evaluation (SimplexSim when null; the c(s) fits pass their
  // own, which solves the distribution's amplitudes inside every call).
  FitTarget target = nullptr;
  // The iterations count on in fs.minimiserRuns (a run that checks another
  // method's end reports the fit's own counters).
  bool continuesCounters = false;
  // Whether a sum of squares is an exact fit. At an exact fit a rejected or
  // negligible step also ends the run (exactEndsWithoutFall).
  std::function<bool(double chisq)> exactFit;
  bool exactEndsWithoutFall = true;
  // Whether the misfit itself is asked (MarquardtProbeEnd) before an end by
  // small change is taken, and where every trial was rejected and longer
  // derivative steps found no way on.
  bool probesEnds = false;
  // Asked before each iteration: false ends the run (null: always true).
  std::function<bool()> goesOn;
  // Called just before each iteration's mlmin, and after it.
  std::function<void()> beforeStep, afterStep;
  // After a rejected trial: true ends the run there as reached (null: never).
  std::function<bool()> endsAtRejectedTrial;
  // Called at each small change that counts towards the end.
  std::function<void()> atSmallChange;
  // Each accepted point is added to it (the start first; null: none kept).
  std::vector<std::vector<double>>* trail = nullptr;
};

// How the iterations ended.
enum class MarquardtLoopEnd {
  Iterating,     // none of the ends below: stopped, an error, or out of iterations
  Reached,       // by small change, or at a point the probes or the rules call a minimum
  Stalled,       // steps that moved entries for almost no fall (StalledSteps)
  Open,          // every trial rejected where only quantities the data leave open move
  RejectedAway,  // every trial rejected, no way on found
};
struct MarquardtLoopResult {
  MarquardtLoopEnd end = MarquardtLoopEnd::Iterating;
  std::vector<int> open;  // the quantities of an Open end
  int iterations = 0;
};

// Normalises the start the work arrays hold in w.simulation (model units):
// every entry starts at 1 and is fitted, one whose value is 0 at 0 and
// unscaled; unit[j] is 1 or 0 accordingly.
void NormaliseMarquardtStart(double* a, float* unit, int n);

// The first curvature at a (mlmin with lambda < 0): sets *lambda, fs.mlError
// and fs.mlChiSquare; a point the model cannot compute ends with mlError.
void StartMarquardtCurvature(FitHost* host, double* a, int n, double* chisq, double* lambda, FitTarget target);

// The iterations from the accepted start a to one of the ends above.
MarquardtLoopResult IterateMarquardt(FitHost* host, double* a, const float* unit, int n, double* chisq,
                                     double* lambda, StalledSteps& stalled, const MarquardtLoopRules& rules);
