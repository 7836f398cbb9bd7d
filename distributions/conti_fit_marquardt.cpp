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
#include "fit/marquardt_loop.h"
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

namespace {

// The end of a Marquardt-Levenberg fit at the point a (normalised units).
void MarquardtEvaluateAt(FitHost* host, const double* a, int n) {
  MarquardtWorkArrays& w = FS().mlWork;
  for (int i = 1; i <= n; ++i) w.simulation[i] = static_cast<float>(a[i]);
  ScaleFitParameters(w.simulation, n);
  FS().fitRunning = 0;
  Conti().finalEvaluation = 1;
  ContiSimplexSim(w.simulation, host);
}

// How the iterations of a fit came out, for its ending.
struct ContiMarquardtOutcome {
  bool completed = false, started = false, budget = false, noMaterial = false;
  bool undetermined = false, shrunk = false, done = false;
  double noMaterialFall = 0.0;
  // The quantities an undetermined end names.
  std::vector<int> named;
};

// The ending of a fit at a (normalised units): the covariance pass and the
// result's evaluation where it completed, the point it stopped at where
// not; the end told. Returns the fit's result.
int EndContiMarquardtFit(FitHost* host, double* a, int n, double chisq, unsigned char redraw,
                         const ContiMarquardtOutcome& o) {
  FitEngineState& fs = FS();
  MarquardtWorkArrays& w = fs.mlWork;
  // The covariance pass and the evaluation of the result are the ending:
  // no press cuts them short.
  platform::InputHold hold;
  if (o.completed) {
    fs.mlLambda = 0.0;
    mlmin(host, a, w.fitFlags, n, &chisq, &fs.mlLambda, ContiSimplexSim);
    MarquardtEvaluateAt(host, a, n);
    WriteMarquardtListing(host->MarquardtListingPath(), MarquardtResultOfWork(n));
    FreeMarquardtArrays();
    host->EraseFitProgressIndicator();
    host->RequestRepaint();
    DisplayBestContiParams(host);
    FinishDistribution();
    gSimulationSwitches.redrawDuringSimulation = redraw;
    SaveBest(host);
    Trace(" --> MLContiFit o.done.");
    if (!o.budget && o.noMaterial)
      ReportNoMaterial(host, ContiEntryNames(AllEntries(n)), o.noMaterialFall, gBestEvidence.amplitudes);
    else if (!o.budget)
      ReportMarquardtEnd(host, o.undetermined, ContiEntryNames(o.named), o.shrunk, o.done);
    return 1;
  }
  // A o.budget spent before the first curvature was whole ends without the
  // covariance pass, but as no interruption.
  if (!o.budget && o.started && fs.mlError)
    ReportStoppedAwayFromMinimum(host, "the curvature there could not be computed");
  else if (!o.budget && o.started)
    RecordFitEnd(host, FitEndKind::Stopped, "the fit was stopped: the best parameters found are kept");
  if (!o.budget) RaiseInterruptFlags(host);
  fs.stopRequested = 0;
  SetupContiGrid();
  MarquardtEvaluateAt(host, a, n);
  FreeMarquardtArrays();
  host->RequestRepaint();
  DisplayBestContiParams(host);
  FinishDistribution();
  gSimulationSwitches.redrawDuringSimulation = redraw;
  if (fs.saveBestDuringFit) SaveBest(host);
  host->EraseFitProgressIndicator();
  return o.budget ? 1 : 0;
}

}  // namespace

int MLContiFit(FitHost* host) {
  FitEngineState& fs = FS();
  OneEndBox oneBox(host);
  FitBudgetScope wholeFit(host);
  unsigned char redraw = 0;
  if (!CommonStart(host, &redraw)) return 0;
  Trace("\nEntering MLContiFit");
  host->ShowFitProgressIndicator();
  fs.startRmsd = fs.startRmsdCopy = 1e10f;
  const int n = ContiParametersToFitVector(0, nullptr);
  if (n == 0) {
    host->EraseFitProgressIndicator();
    return NothingFloats(host, redraw);
  }
  if (!AllocMarquardtArrays(n)) {
    host->EraseFitProgressIndicator();
    fs.fitRunning = 0;
    gSimulationSwitches.redrawDuringSimulation = redraw;
    return 0;
  }
  MarquardtWorkArrays& w = fs.mlWork;
  // An evaluation depends on the parameters alone: a rejected trial needs no
  // derivatives.
  w.rejectBeforeDerivatives = ParametersAlone();
  // Derivative steps of their own: f/f0 and the s of a component by 1e-3 of
  // the value, meniscus and bottom by 1e-4 (a few microns the data see), in
  // place of the discrete entries' 5e-4.
  ContiDerivativeSteps();
  ContiParametersToFitVector(n, w.simulation);
  DoubleVec a(1, n);
  // The normalised entries start at 1, those that started at 0 at 0.
  FloatVec unit(1, n);
  NormaliseMarquardtStart(a, unit, n);
  fs.mlChiSquare = 0.0;
  fs.stopRequested = 0;
  double chisq = 0.0;
  StartMarquardtCurvature(host, a, n, &chisq, &fs.mlLambda, ContiSimplexSim);
  if (fs.saveBestDuringFit) SaveBest(host);
  bool completed = !fs.stopRequested && !fs.mlError;
  // The curvature of the start is whole: the covariance pass can use it.
  const bool started = completed;
  StalledSteps stalled(n, unit);
  MarquardtLoopResult iterations;
  // Data that show no material beyond the noise determine none of the
  // fitted quantities: the fit ends at its last accepted point, from its
  // start on (see NelderMeadRestarts).
  double noMaterialFall = 0.0;
  bool noMaterial = completed && DataShowNoMaterial(n, &noMaterialFall);
  if (completed && !noMaterial) {
    // The loop of the discrete fit, with the rules of the c(s) family's
    // misfit. Every evaluation solves the distribution's amplitudes (and the
    // noise) by a non-negative linear solve whose active set changes with
    // f/f0 and the meniscus: the misfit is rough where the derivatives
    // assume it smooth. At f/f0 1.304 the linearised misfit put the minimum
    // 0.004 units of chi-square away while it lay 55 units lower at 1.3015.
    // So an end by small change, and one where every trial was rejected and
    // longer derivative steps found no way on, asks the misfit itself first
    // (probesEnds). An exact fit is known by the absolute tiny sum alone, and
    // a rejected step is no sign of one: the rounding of the Lamm solution
    // that ExactFitChiSquare allows for is not what the solve leaves.
    MarquardtLoopRules rules;
    rules.target = ContiSimplexSim;
    rules.exactFit = [&fs](double c) { return c < fs.mlTinyChiSquare; };
    rules.exactEndsWithoutFall = false;
    rules.probesEnds = true;
    rules.goesOn = [&] { return !(noMaterial = DataShowNoMaterial(n, &noMaterialFall)); };
    // f/f0 at its ceiling, where every evaluation is slowest: a step the
    // data ask for (not shortened by rejections, or from a point the
    // linearised misfit puts within a unit of its minimum) that falls by
    // less than a unit of chi-square ends the fit there, reached, without
    // the n evaluations of its derivatives; and so does a rejected step from
    // a point the linearised misfit puts within a unit of its minimum:
    // further rejections would only shrink the step for nothing the data
    // can see.
    rules.beforeStep = [&] {
      w.endWithinUnit = AtFrictionalRatioCeiling() &&
                        (fs.mlLambda <= kMarquardtStartLambda || MarquardtAtStatisticalMinimum(n));
    };
    rules.afterStep = [&w] { w.endWithinUnit = false; };
    rules.endsAtRejectedTrial = [n] { return AtFrictionalRatioCeiling() && MarquardtAtStatisticalMinimum(n); };
    rules.atSmallChange = [&] {
      if (fs.saveBestDuringFit) SaveBest(host, true);
      DisplayBestContiParams(host);
    };
    iterations = IterateMarquardt(host, a, unit, n, &chisq, &fs.mlLambda, stalled, rules);
    completed = !fs.stopRequested && !fs.mlError;
  }
  const bool undetermined =
      iterations.end == MarquardtLoopEnd::Stalled || iterations.end == MarquardtLoopEnd::Open;
  const bool shrunk = iterations.end == MarquardtLoopEnd::RejectedAway;
  const bool done = iterations.end == MarquardtLoopEnd::Reached;
  // The quantities the data do not determine where every trial was rejected.
  const std::vector<int>& open = iterations.open;
  // A stopped fit ends at the best point it has seen.
  if (fs.stopRequested) TakeBestPointSeen(a, n, started ? chisq : std::numeric_limits<double>::infinity());
  // A fit ended by its budget ends as a completed one, at its last
  // accepted point or a better one seen (a trial cut short was not taken).
  const bool budget = FitStoppedByBudget() && !fs.mlError;
  if (budget && started) {
    completed = true;
    fs.stopRequested = 0;
  }
  const ContiMarquardtOutcome outcome{.completed = completed,
                                      .started = started,
                                      .budget = budget,
                                      .noMaterial = noMaterial,
                                      .undetermined = undetermined,
                                      .shrunk = shrunk,
                                      .done = done,
                                      .noMaterialFall = noMaterialFall,
                                      .named = open.empty() ? stalled.Moved() : open};
  return EndContiMarquardtFit(host, a, n, chisq, redraw, outcome);
}
