#include "fit/fit_budget.h"

#include <string>

#include "fit/fit_end.h"
#include "fit/fit_engine_state.h"
#include "fit/serial_fit_settings.h"
#include "numerics/random.h"
#include "platform/clock.h"
#include "platform/input_events.h"

FitBudgetScope::FitBudgetScope(FitHost* host) : host_(host) {
  FitEngineState& fs = gFitEngineState;
  BeginFitDraws();
  if (fs.fitScopeDepth++ == 0) {
    stopState_.emplace();
    fs.fitEvaluations = 0;
    fs.budgetSpent = 0;
    // Reached unless the fit says otherwise on its way out.
    LastFitEnd() = FitEndRecord{FitEndKind::Reached, "the fit reached its minimum"};
    fs.fitStartSeconds = static_cast<double>(platform::Clock().TickCountMs()) / 1000.0;
  }
}

FitBudgetScope::~FitBudgetScope() {
  FitEngineState& fs = gFitEngineState;
  EndFitDraws();
  if (--fs.fitScopeDepth != 0) return;
  // The stop state goes back as it was before the fit with stopState_.
  fs.stopRequested = 0;
  if (fs.budgetSpent) ReportFitBudgetSpent(host_);
}

bool FitEvaluationAllowed() {
  FitEngineState& fs = gFitEngineState;
  if (fs.fitScopeDepth == 0 || !fs.fitRunning) return true;
  if (!(static_cast<double>(platform::Clock().TickCountMs()) / 1000.0 - fs.fitStartSeconds < fs.maxFitSeconds)) {
    platform::ArmStopDeadline(0);
    fs.budgetSpent = 2;
    fs.stopRequested = 1;
    return false;
  }
  ++fs.fitEvaluations;
  // The kernels' polls end this evaluation if the fit's time runs out in it.
  platform::ArmStopDeadline(fs.fitStartSeconds + fs.maxFitSeconds);
  return true;
}

bool FitEvaluationOutOfTime(bool cutShort) {
  if (gFitEngineState.fitScopeDepth == 0) return false;
  const bool passed = platform::StopDeadlinePassed();
  platform::ArmStopDeadline(0);
  if (!passed) return false;
  FitEngineState& fs = gFitEngineState;
  fs.budgetSpent = 2;
  fs.stopRequested = 1;
  platform::StopFlag() = false;
  return cutShort;
}

bool FitStoppedByBudget() { return gFitEngineState.fitScopeDepth > 0 && gFitEngineState.budgetSpent != 0; }

