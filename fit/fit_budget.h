#pragma once
// The whole Fit's bound in time, shared by every method.
#include <optional>

#include "platform/input_events.h"

class FitHost;

// Each minimiser keeps to its own cap: a Nelder-Mead run to 5000
// evaluations, an annealing step to its iterations, Marquardt-Levenberg to
// mlMaxIterations, the restarts to kMaxNelderMeadRestarts; a finishing pass
// is a minimiser of its own. Their product (restarts x runs, Marquardt
// iterations x derivatives) is bounded, but on a model whose evaluation
// grows slow where a trial step leads (a species hard to solve) it could
// take hours. So one Fit as a whole starts no evaluation once it has run
// for kMaxFitSeconds (an evaluation may take minutes where a trial step
// makes the species hard to solve): the evaluation after that is refused
// like a stopped one, the fit ends with the best state it found and says
// that it did not settle (error code 10 in a serial fit). A count of the
// whole fit's evaluations would cut what its minimisers do at their own
// defaults (annealing's 10 x 500 iterations and its finishing pass), so
// the evaluations are only counted (fitEvaluations), not capped. The
// evaluation of the result at the end is not counted. The bound is held in
// the engine's maxFitSeconds (fit/fit_engine_state.h).
// Marks one Fit for as long as it lives: the outermost scope starts the
// clock and the count, nested ones (a finishing pass) share them; when the
// outermost ends after the bound was reached, it tells so
// (ReportFitBudgetSpent). The outermost also owns the fit's stop state: the
// deadline of its evaluations, the hold of the input in its ending and a
// stop it raised end with it, on every way out.
class FitBudgetScope {
 public:
  explicit FitBudgetScope(FitHost* host);
  ~FitBudgetScope();
  FitBudgetScope(const FitBudgetScope&) = delete;
  FitBudgetScope& operator=(const FitBudgetScope&) = delete;

 private:
  FitHost* host_;
  std::optional<platform::StopStateScope> stopState_;
};
// Asked by a target before it evaluates: true while the fit may evaluate
// (always outside a Fit and in its ending, when fitRunning is off). The
// first refusal marks the budget spent and raises the fit's stop.
bool FitEvaluationAllowed();
// The stop the drivers see came from the budget, not from the user: the
// fit ends as a settled one would (its result evaluated, no interruption
// passed on), only said not to have settled. Only inside a Fit: its record
// (budgetSpent) stays for whoever asks how the last Fit ended, but an
// evaluation outside a Fit is not stopped by it.
bool FitStoppedByBudget();
// Asked by a target once its model is computed, with whether a poll cut
// the computation short: when the fit's time ran out during the evaluation
// the budget is spent and the fit stopped (as by FitEvaluationAllowed), and
// true is returned if the evaluation was cut short, so that it counts for
// nothing. One computed whole keeps its misfit: it may be the best point
// the fit has seen, which the fit then ends at. Disarms the deadline the
// evaluation was allowed with. Outside a Fit it does nothing: a deadline
// armed there (a Run's) is not the fit's to take.
bool FitEvaluationOutOfTime(bool cutShort);
