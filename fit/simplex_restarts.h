#pragma once
// The simplex fit of the floated quantities: Nelder-Mead from the current
// values, restarted around the best vertex until a restart no longer moves
// the rmsd or any quantity by what the data can tell, with the restart
// limits and the undetermined quantities told as ends. The fit driver and
// the error surface use it alike.
#include <functional>

class FitHost;

// Nelder-Mead over the n floated quantities from their current values,
// restarted around the best vertex. Each restart starts with the size per
// quantity the run before ended with (LearntSpread), and the s and M of a
// species without amplitude widely; from the second restart on, its last
// vertex repeats the step the run before made where that step was longer
// than the spread. A restart that changes the rmsd and every quantity by at
// most maxRelativeChange (the user's tolerance) and lowers the rmsd by less
// than the spread its runs end at (a thousandth of that tolerance, never
// below kFitSimplexTolerance) has settled; it is confirmed by restarts of
// a new fit's own size (MakeInitialSimplex, widened by a tenth of the way
// each quantity has come from its start): the fit has reached its minimum
// when two of them in a row lower the rmsd by no more than that spread
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
