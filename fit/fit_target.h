#pragma once
// The target function of the discrete models, with the check every fit
// driver makes before it starts and the stop poll each evaluation ends on.
// Below the drivers: the minimisers take it as their FitTarget.

class FitHost;

// 1 when a fit may start; refuses without data or meniscus and bottom and
// moves fit limits that lie outside the cell (with a message).
int CheckFitLimitsBeforeFit(FitHost* host);
// What a target returns for a trial it does not score: after a stop, and
// for a step the model cannot be computed at (a solver failed, or the
// misfit is not finite). Above every computed rmsd, so no minimiser keeps
// such a trial, and finite, so their arithmetic stays finite.
constexpr float kRejectedTrial = 1e10f;

// The target function of the discrete models: unpacks v into the model,
// evaluates it over all scans and returns the rmsd; kRejectedTrial after a
// stop and for a trial that cannot be computed.
float SimplexSim(float* v, FitHost* host);

// Marks one Fit for as long as it lives (nested ones, a finishing pass,
// share it): of the solvers' error boxes of its evaluations only the fit's
// first is shown, and a failure they report rejects the trial.
class FitSolverBoxScope {
 public:
  FitSolverBoxScope();
  ~FitSolverBoxScope();
  FitSolverBoxScope(const FitSolverBoxScope&) = delete;
  FitSolverBoxScope& operator=(const FitSolverBoxScope&) = delete;
};
// For as long as it lives (the annealing schedule), a trial with a species
// of molar mass 0, rejected whatever its model, is rejected without solving
// it: such a schedule walks species far out in s with large D, where one
// solve costs most. The other minimisers still solve such a trial: its
// algebraic amplitudes become the loadings the next solves start from, and
// their paths follow from them.
class UnsolvedMasslessTrialsScope {
 public:
  UnsolvedMasslessTrialsScope();
  ~UnsolvedMasslessTrialsScope();
  UnsolvedMasslessTrialsScope(const UnsolvedMasslessTrialsScope&) = delete;
  UnsolvedMasslessTrialsScope& operator=(const UnsolvedMasslessTrialsScope&) = delete;
};
// Polls a key press or click into the stop flag, and turns the stop flag
// into stopRequested. True when a stop is now requested.
bool PollFitStop();
