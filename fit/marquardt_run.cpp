#include "fit/marquardt.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>
#include <limits>
#include <string>
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
#include "fit/marquardt_loop.h"
#include "fit/marquardt_work.h"

using namespace marquardt_work;

namespace {

// The entries of species' s or size the last steps pressed against the end
// of their physical range (blocked there).
std::vector<int> EntriesPressedAgainstTheirRange(int n) {
  const MarquardtWorkArrays& w = Work();
  std::vector<int> held;
  std::vector<unsigned char> ranged(static_cast<size_t>(n) + 1, 0);
  FitVectorEntriesInSpeciesRanges(n, ranged.data());
  for (int j = 1; j <= n; ++j)
    if (w.blocked[j] != 0 && ranged[static_cast<size_t>(j)]) held.push_back(j);
  return held;
}

// The result of a completed run in model units kept for
// LastMarquardtResult, and written to the host's parameter listing where
// the run writes one.
void StoreResultAndListing(FitHost* host, int n, const MarquardtOptions& options) {
  const MarquardtResult result = MarquardtResultOfWork(n);
  if (options.writesListing) WriteMarquardtListing(host->MarquardtListingPath(), result);
  RestoreMarquardtResult(result);
}

// Tells how a run ended (nothing where it reached its minimum or was ended
// by the whole fit's bound, which tells itself).
void TellMarquardtRunEnd(FitHost* host, bool completed, bool budget, bool started, bool stoppedAtStart,
                         bool uncomputedStart, bool done, bool undetermined, bool shrunk,
                         const std::vector<int>& flat, const std::vector<int>& held, const std::vector<int>& moved) {
  const FitEngineState& fs = gFitEngineState;
  if (completed && !budget) {
    // A quantity held at its range's end that the data leave open there
    // (a tenth of it moves chi-square by less than a unit) was led there by
    // no fall of the misfit: it is named open, not pressed beyond the range.
    const bool heldOpen = std::all_of(held.begin(), held.end(), [&](int j) {
      return std::find(flat.begin(), flat.end(), j) != flat.end();
    });
    if (!flat.empty() && heldOpen)
      ReportMarquardtEnd(host, true, FitVectorEntryNames(flat), false, true, {});
    else
      ReportMarquardtEnd(host, undetermined, FitVectorEntryNames(moved), shrunk, done,
                         FitVectorEntryNames(held));
  } else if (uncomputedStart && !budget) {
    // As the finishing pass of annealing it starts where the schedule ended,
    // not at the values the user entered.
    const bool afterAnnealing = fs.useAnnealing && fs.annealStartTemperature > 0.0f && fs.annealTemperature == 0.0f;
    const char* where = afterAnnealing ? "the best point the annealing found" : "the starting values";
    ReportStoppedAwayFromMinimum(host, std::string("the model could not be computed at ") + where +
                                           " (a species of molar mass 0, or one the solver cannot compute), so no "
                                           "step was taken");
  } else if (!completed && !budget && !stoppedAtStart && fs.mlError) {
    ReportStoppedAwayFromMinimum(host, "the curvature there could not be computed");
  } else if (!completed && !budget && started) {
    RecordFitEnd(host, FitEndKind::Stopped, "the fit was stopped: the best parameters found are kept");
  }
}

}  // namespace

int MLOptimize(FitHost* host) { return RunMarquardt(host).result; }

MarquardtResult MarquardtResultOfWork(int n) {
  const MarquardtWorkArrays& w = Work();
  MarquardtResult result;
  for (int i = 1; i <= n; ++i) {
    result.value.push_back(w.simulation[i]);
    const double c = w.covariance[i][i];
    result.error.push_back(c > 0.0 ? std::sqrt(c) : 0.0);
    std::vector<double> row;
    for (int j = 1; j <= n; ++j) row.push_back(w.covariance[i][j]);
    result.covariance.push_back(row);
  }
  return result;
}

void WriteMarquardtListing(const std::string& path, const MarquardtResult& result) {
  if (path.empty()) return;
  const size_t n = result.value.size();
  // Whole or not at all: parallel runs may share the program folder.
  platform::CheckedOutputFile file(path);
  if (FILE* f = file.get()) {
    for (size_t i = 0; i < n; ++i) {
      std::fprintf(f, "%zu: %e\t(%e)\t - ", i + 1, result.value[i], result.error[i]);
      for (size_t j = 0; j < n; ++j) std::fprintf(f, "%e\t", result.covariance[i][j]);
      std::fprintf(f, "\n");
    }
  }
  const bool written = file.get() && file.Commit();
  if (!written && platform::FirstWriteFailure(path)) ErrorBox(("\n\aAttention: could not write " + path).c_str());
}

FitRunEnd RunMarquardt(FitHost* host, const MarquardtOptions& options) {
  FitEngineState& fs = gFitEngineState;
  FitBudgetScope wholeFit(host);
  FitSolverBoxScope solverBoxes;
  FitRunEnd end;
  if (host) host->WriteDiagnostics("\nEnter MLOptimize");
  if (!options.continuesCounters) fs.minimiserRuns = 0;
  const unsigned char redraw = gSimulationSwitches.redrawDuringSimulation;
  gSimulationSwitches.redrawDuringSimulation = 0;
  if (!host || !CheckFitLimitsBeforeFit(host)) {
    gSimulationSwitches.redrawDuringSimulation = redraw;
    return end;
  }
  host->RequestRepaint();
  fs.stopRequested = 0;
  fs.evaluationsThisRun = 0;
  if (!options.continuesCounters) fs.evaluationsTotal = 0;
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
  // The normalised entries start at 1, those that started at 0 at 0.
  FloatVec unit(1, n);
  NormaliseMarquardtStart(a, unit, n);

  host->ShowFitProgressIndicator();
  fs.fitRunning = 1;
  double chisq = 0.0;
  double& lambda = fs.mlLambda;
  // The points the steps went through, the start first: the fit ends at the
  // last of them whose model can be computed again.
  std::vector<std::vector<double>> trail(1, std::vector<double>(&a[1], &a[1] + n));
  StartMarquardtCurvature(host, a, n, &chisq, &lambda, nullptr);
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
  StalledSteps stalled(n, unit);
  // The entries are normalised by their start (w.scale): 1 / |scale| of them
  // make one unit of the signal.
  std::vector<double> perSignal(static_cast<size_t>(n) + 1, 0.0);
  for (int j = 1; j <= n; ++j)
    if (w.scale[j] != 0.0f && NamedInSignalUnits(FitVectorEntryName(j))) {
      perSignal[static_cast<size_t>(j)] = 1.0 / std::fabs(w.scale[j]);
      stalled.InSignalUnits(j, perSignal[static_cast<size_t>(j)]);
    }
  // The discrete fit's rules are the loop's own: an exact fit by the
  // rounding of the Lamm solution (ExactFitChiSquare), no probes. An end
  // where every trial was rejected is not probed here (MarquardtProbeEnd, as
  // the c(s) fits do): where no probe falls, species may still lie in a
  // minimum of their own arrangement far above the best (two of 5.5 and
  // 3.8 S from twice their s, 1 200 units of chi-square above it), and the
  // fit driver goes on from a stopped-away end by placing species in pairs,
  // which it does not try from a reached one. The driver asks the misfit
  // once that check is done.
  MarquardtLoopRules rules;
  rules.continuesCounters = options.continuesCounters;
  rules.trail = &trail;
  rules.atSmallChange = [host, &fs] {
    if (fs.saveBestDuringFit) host->TmpSaveBestParams(0);
    ComposeFitInfoText(host);
  };
  MarquardtLoopResult iterations;
  if (started) iterations = IterateMarquardt(host, a, unit, n, &chisq, &lambda, stalled, rules);
  // Quantities the data leave open where every trial was rejected end the
  // run as one by small change that names them.
  bool done = iterations.end == MarquardtLoopEnd::Reached || iterations.end == MarquardtLoopEnd::Open;
  const bool undetermined = iterations.end == MarquardtLoopEnd::Stalled;
  const bool shrunk = iterations.end == MarquardtLoopEnd::RejectedAway;
  std::vector<int> flat = std::move(iterations.open);
  // The last iteration can come just as the steps arrive: the test by small
  // change needs two more, each rejected trial from the minimum one of them
  // at best. A point whose linearised misfit (at the starting damping, so
  // not shortened by those rejections) expects less than one unit of
  // chi-square of any step is a minimum as far as the data tell, whatever
  // iteration it came at: it ends as one, its quantities judged as at any end.
  if (started && !done && !undetermined && !shrunk && !fs.stopRequested && !fs.mlError && !FitStoppedByBudget() &&
      iterations.iterations >= fs.mlMaxIterations && (ExactFitChiSquare(chisq) || MarquardtAtStatisticalMinimum(n)))
    done = true;
  // An end by small change at a point where moving a quantity by a tenth
  // of its value (or of its start) changes chi-square by less than one unit
  // in noise terms, even with every other quantity held: the data do not
  // determine it there, and "reached" would pass an arbitrary value as a
  // result (a species of 1 Da beside a flat level over featureless scans).
  if (done && flat.empty() && !undetermined && !shrunk && !fs.stopRequested && !fs.mlError)
    flat = EntriesTheCurvatureLeavesOpen(a, unit, n, chisq, &perSignal);
  // A species' s or size the last steps pressed against the end of its
  // physical range: a minimum found there lies beyond the range, where the
  // species leaves the cell before the first scan or spreads no boundary
  // (the meniscus and bottom at the limits the user set are no such end:
  // the report names them at their limit).
  const std::vector<int> held = EntriesPressedAgainstTheirRange(n);
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
    StoreResultAndListing(host, n, options);
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
  TellMarquardtRunEnd(host, completed, budget, started, stoppedAtStart, uncomputedStart, done, undetermined, shrunk,
                      flat, held, stalled.Moved());
  end.result = completed || budget ? 1 : 0;
  return end;
}
