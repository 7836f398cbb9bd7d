#include "fit/fit_target.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "data/scan_set.h"
#include "fit/fit_budget.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/fit_vector.h"
#include "fit/model_params.h"
#include "fit/nelder_mead.h"
#include "fit/rmsd.h"
#include "fit/simulation_switches.h"
#include "fit/fit_end.h"
#include "platform/error_box.h"
#include "platform/input_events.h"

int CheckFitLimitsBeforeFit(FitHost* host) {
  ScanSet& ss = CurrentScanSet();
  // A fit refused here ran no step: it has no end to tell (the fit's scope
  // has already taken it as reached until told otherwise).
  auto refuse = [](FitHost* h, const char* text) {
    LastFitEnd() = FitEndRecord{};
    h->PlaySoundError();
    h->MessageBox("ERROR", text);
    return 0;
  };
  const ModelParams& mp = gModelParams;
  if (ss.count < 1 || !host->HasPlotWindows() || static_cast<int>(ss.firstFitPoint.size()) <= ss.count ||
      static_cast<int>(ss.lastFitPoint.size()) <= ss.count)
    return refuse(host, "load data first");
  const bool dls = CurrentDataTypeFlags().dls != 0;
  if (!dls && (mp.meniscus == 0.0f || mp.bottom == 0.0f)) return refuse(host, "set meniscus and bottom first");
  if (!dls && (ss.leftFitLimit == 0.0f || ss.leftFitLimit < mp.meniscus)) {
    ss.leftFitLimit = mp.meniscus;
    host->MessageBox("", "setting left fit limit to meniscus");
    host->CheckLeftFitLimit();
  }
  if (!dls && (ss.rightFitLimit == 0.0f || ss.rightFitLimit > mp.bottom)) {
    ss.rightFitLimit = mp.bottom;
    host->MessageBox("", "setting right fit limit to bottom");
    host->CheckRightFitLimit();
  }
  // Scans whose every point the spike filter took out on loading come here.
  const FittedData data = FittedDataInsideTheFitLimits();
  if (data.points == 0) return refuse(host, "no data points inside the fit limits");
  // The misfits, the minimisers' values and the loadings are single
  // precision: data whose squares sum beyond its range give no number to
  // minimise (a fit of them ended at rmsd NaN, blaming the species).
  if (!(data.squares <= std::numeric_limits<float>::max())) {
    char text[200];
    std::snprintf(text, sizeof text,
                  "the data cannot be fitted: values of up to %.3g inside the fit limits are too large for the "
                  "fit's single-precision sums",
                  data.largest);
    return refuse(host, text);
  }
  return 1;
}

namespace {

// Nested FitSolverBoxScopes.
int& ScopeDepth() {
  static int depth = 0;
  return depth;
}

// The gate counts for as long as the evaluation runs, also when a fatal
// error ends it.
class CountingWhile {
 public:
  CountingWhile() { platform::CurrentErrorBoxGate().counting = true; }
  ~CountingWhile() { platform::CurrentErrorBoxGate().counting = false; }
};

// The model over all scans, inside a Fit with the solvers' boxes gated and
// their failures counted: true when none was reported.
bool EvaluateCounted(FitHost* host) {
  if (ScopeDepth() == 0) {
    host->SimulateModel();
    return true;
  }
  const long before = platform::CurrentErrorBoxGate().failures;
  {
    CountingWhile counting;
    host->SimulateModel();
  }
  return platform::CurrentErrorBoxGate().failures == before;
}

// Nested UnsolvedMasslessTrialsScopes.
int& UnsolvedMasslessDepth() {
  static int depth = 0;
  return depth;
}

}  // namespace

UnsolvedMasslessTrialsScope::UnsolvedMasslessTrialsScope() { ++UnsolvedMasslessDepth(); }

UnsolvedMasslessTrialsScope::~UnsolvedMasslessTrialsScope() { --UnsolvedMasslessDepth(); }

FitSolverBoxScope::FitSolverBoxScope() {
  if (ScopeDepth()++ == 0) platform::CurrentErrorBoxGate().oneShown = false;
}

FitSolverBoxScope::~FitSolverBoxScope() { --ScopeDepth(); }

float SimplexSim(float* v, FitHost* host) {
  FitEngineState& fs = gFitEngineState;
  ModelParams& mp = gModelParams;
  if (host) host->WriteDiagnostics("\nEnter SimplexSim");
  if (fs.stopRequested || !FitEvaluationAllowed()) return 1e10f;
  // A trial holding a value that is not finite (a step that overflowed
  // along a quantity the data leave open) never reaches the model's
  // entries: the model would compute with it, and a misfit that does not
  // depend on it would keep it.
  const int n = ParametersToFitVector(0, nullptr);
  for (int j = 1; j <= n; ++j)
    if (!std::isfinite(v[j])) return kRejectedTrial;
  if (fs.gridMeniscus == 0.0f) {
    if (host) host->MakeRadialGrid();
    fs.gridMeniscus = gModelParameterVector.P[13];
  }
  if (fs.gridBottom == 0.0f) {
    if (host) host->MakeRadialGrid();
    fs.gridBottom = gModelParameterVector.P[14];
  }
  UnpackFitVectorForEvaluation(v);
  // A species of molar mass 0 is none: the trial is rejected, which shortens
  // a step across 0.
  const bool massless = EvaluationHasMasslessSpecies();
  if ((mp.meniscus != fs.gridMeniscus || mp.bottom != fs.gridBottom) && host) host->MakeRadialGrid();
  ++fs.evaluationsThisRun;
  ++fs.evaluationsTotal;
  if (host && host->DrawingEnabled()) {
    const bool staticGrid = gSimulationSwitches.staticGridSolverRan != 0;
    char text[200];
    if (fs.useMarquardt)
      std::snprintf(text, sizeof text,
                    staticGrid ? "sim #%d, ML step #%d, step #%d    " : "sim #%d, ML step #%d, step #%d   ",
                    fs.evaluationsTotal, fs.minimiserRuns, fs.evaluationsThisRun);
    else if (fs.useAnnealing)
      std::snprintf(text, sizeof text,
                    staticGrid ? "sim #%d, SA step #%d, step#%d, T=%.3f    "
                               : "sim #%d, SA step #%d, step#%d, T=%.3f     ",
                    fs.evaluationsTotal, fs.minimiserRuns, fs.evaluationsThisRun, fs.annealTemperature);
    else
      std::snprintf(text, sizeof text, staticGrid ? "s%d, step #%d     " : "s%d, step #%d    ", fs.minimiserRuns,
                    fs.evaluationsThisRun);
    host->DrawText(10, 30, text);
    if (fs.useMarquardt) {
      std::snprintf(text, sizeof text, "testrmsd=%f (n=%.0f,lambda=%.1e          )", fs.mlTestRmsd,
                    fs.mlPointCount, fs.mlLambda);
      host->DrawText(10, 50, text);
    }
  }
  // Unsolved, the loadings stay as the last solved trial left them, as after
  // curves that could not be computed; the time bound and a stop still count.
  if (massless && UnsolvedMasslessDepth() > 0) {
    FitEvaluationOutOfTime(false);
    if (!FitStoppedByBudget() && PollFitStop()) return 1e10f;
    return kRejectedTrial;
  }
  // Solved, it shows no box of its own.
  bool computed;
  {
    platform::QuietErrorBoxes quiet(massless);
    computed = !host || EvaluateCounted(host);
  }
  // A stop taken here may have cut the simulation short: a part of a model
  // has no misfit and must never count as the best vertex. The time bound
  // passing during an evaluation computed whole ends the fit after it, with
  // its misfit counted.
  const bool whole = !platform::StopFlag().load();
  if (FitEvaluationOutOfTime(!whole)) return 1e10f;
  if (!(whole && FitStoppedByBudget()) && PollFitStop()) return 1e10f;
  const float rmsd = CalcRmsd();
  if (host) host->WriteDiagnostics(" --> SimplexSim DONE");
  // A step the solvers could not compute is a rejected step, never a result.
  if (!computed || !std::isfinite(rmsd) || massless) return kRejectedTrial;
  return rmsd;
}

bool PollFitStop() {
  // The window takes the presses that came meanwhile (no more often than the
  // desktop allows).
  platform::PumpEvents();
  if (platform::TakeAnyInput()) platform::StopFlag() = true;
  if (platform::StopFlag().exchange(false)) {
    gFitEngineState.stopRequested = 1;
    // The rest of the fit is its ending: further presses are no new stops.
    platform::HoldInput();
  }
  return gFitEngineState.stopRequested != 0;
}
