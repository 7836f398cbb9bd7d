#pragma once
// The fit driver of every model that is not a continuous distribution or an
// equilibrium model: chooses the minimiser, runs it over the fit vector of
// the floated quantities and leaves the best parameter set in the model.
#include <functional>

#include "fit/end_placements.h"
#include "fit/fit_end.h"

class FitHost;

// Nelder-Mead over the n floated quantities from their current values,
// restarted around the best vertex. Each restart starts with the size per
// quantity the run before ended with (LearntSpread), and the s and M of a
// species without amplitude widely; from the second restart on, its last
// vertex repeats the step the run before made where that step was longer
// than the spread. A restart that changes the rmsd and every quantity by at
// most maxRelativeChange and lowers the rmsd by less than
// kFitSimplexTolerance of itself has settled; it is confirmed by restarts of
// a new fit's own size (MakeInitialSimplex, widened by a tenth of the way
// each quantity has come from its start): the fit has reached its minimum
// when two of them in a row lower the rmsd by no more than that tolerance
// or than one unit of chi-square; one that does lower it is followed by
// the small restarts again. The fit also ends at a stop, when
// kMaxNelderMeadRestarts restarts did not settle or a run spent
// kMaxNelderMeadEvaluations (either said, best vertex kept), or where two
// restarts in a row moved a quantity the data do not determine (named).
// p[1..n+1][1..n] and y[1..n+1] are the caller's work arrays; afterFirstRun
// runs once after the first minimisation, beforeRestart before each
// restart. The best vertex is written back for display; returns its index
// and whether the restarts ran out without settling.
struct SimplexRestartsEnd {
  int best = 1;
  bool ranOutOfRestarts = false;
};
SimplexRestartsEnd MinimizeWithRestarts(FitHost* host, int n, float** p, float* y, float maxRelativeChange,
                         const std::function<void()>& afterFirstRun = {},
                         const std::function<void()>& beforeRestart = {});
// 1 when done (also with nothing floated), 0 when refused. A fit of two or
// more discrete species of velocity data is checked where it ends: each
// species moved from where it is, and one with no say in the misfit (or a
// small share of the loadings) placed beside the others; with a loading
// held, sizes moved more widely, a species with a held share moved widely
// and exchanged with each other species (plainly and at sizes scaled), the
// trials ranked by their loadings solved freely and the lowest solved under
// the held ones; where none is lower, the end is judged against the fit
// with its loadings free (a bounded relaxation whose own end is checked as
// a Fit's is, out of a misfit too): the species with a held share given
// each boundary found there, solved under the held loadings and run on by
// a short simplex; where that lowers chi-square by a unit, the fit goes on
// from there (a bounded number of times; once from where the free fit,
// lower than the end, leads where that point is not lower) and tells the
// end of its last run.
int FitCurrentModel(FitHost* host);
// Recomposes the fit report and redraws the fitted curves.
void DrawFitCurvesDuringFit(FitHost* host);
// Convergence test of a Nelder-Mead restart: converged unless the rmsd or
// any entry changed by more than maxRelativeChange relative to its previous
// magnitude. An entry whose previous value was 0 is judged by its current
// magnitude (0.1 x maxRelativeChange for the buffer s and the meniscus
// difference, 1e-5 for the Wiener magnitude). Arrays one-based, length n;
// entries with ignored[j] set (ignored may be null) are not judged.
enum class FitEntryKind;
bool RestartConverged(int n, const float* previous, const float* current, const FitEntryKind* kinds,
                      float previousRmsd, float rmsd, float maxRelativeChange,
                      const unsigned char* ignored = nullptr);
