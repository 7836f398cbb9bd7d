#include "fit/simplex_restarts.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "data/scan_set.h"
#include "fit/annealing.h"
#include "fit/fit_budget.h"
#include "fit/fit_end.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/fit_report.h"
#include "fit/fit_target.h"
#include "fit/fit_vector.h"
#include "fit/marquardt.h"
#include "fit/model_evaluation_hooks.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/nelder_mead.h"
#include "fit/nonideal_species.h"
#include "fit/rmsd.h"
#include "fit/serial_fit_settings.h"
#include "fit/simulation_switches.h"
#include "fit/species_slots.h"
#include "numerics/arrays.h"
#include "numerics/constants.h"
#include "numerics/random.h"
#include "platform/error_box.h"
#include "platform/input_events.h"

namespace {

constexpr float kNelderMeadTolerance = 0.0005f;
// The relative width a restart draws the s and M of an absent species with:
// as widely as a start may lie from the truth.
constexpr float kAbsentSpeciesSpread = 0.3f;
// The end spread LearntSpread is given for a restart: none, so the restart
// keeps the size the run before ended with (see RestartSpread).
constexpr float kUnscaledEndSpread = 0.0f;
// The scale of a quantity held at 0 whose start lies at or beyond the clamp:
// an absolute spread, where a relative one would vanish.
constexpr float kHeldScaleAtClamp = 1.0f;
// Where a quantity was 0 before a restart, the convergence test takes its
// magnitude now: the buffer s and the meniscus difference are offsets with
// no scale of their own, judged at a tenth of the tolerance; the Wiener
// magnitude is judged absolutely.
constexpr float kOffsetZeroThresholdFactor = 0.1f;
constexpr float kWienerZeroThreshold = 1e-5f;
float ZeroThreshold(FitEntryKind kind, float maxRelativeChange) {
  switch (kind) {
    case FitEntryKind::BufferS:
    case FitEntryKind::MeniscusDifference: return kOffsetZeroThresholdFactor * maxRelativeChange;
    case FitEntryKind::WienerMagnitude: return kWienerZeroThreshold;
    default: return maxRelativeChange;
  }
}

// Relative change |previous - current| / |previous|; the magnitude of the
// divisor keeps a negative parameter from passing with a negative ratio.
bool Changed(float previous, float current, float threshold, float maxRelativeChange) {
  if (previous == 0.0f) return std::fabs(current) > threshold;
  return std::fabs(previous - current) / std::fabs(previous) > maxRelativeChange;
}

// Scale of the quantities held at 0 (0 for the others, see
// MakeInitialSimplex): the restarts draw a quantity held at 0 with at least
// the spread of its start (the absolute spread of a start at or beyond the
// clamp). Relative to a point near the clamp the spread would vanish: a run
// that ended near it, for a narrow valley flattening there, would restart in
// a simplex too small to see the slope, and settle where it stopped.
void HeldAtZeroScale(int n, const float* start, float* heldScale) {
  std::unique_ptr<unsigned char[]> held(new unsigned char[n + 1]);
  FitVectorEntriesHeldAtZero(n, held.get());
  for (int j = 1; j <= n; ++j) heldScale[j] = !held[j] ? 0.0f : (start[j] > 0.0f ? start[j] : kHeldScaleAtClamp);
}

// The end of a run: its best vertex shown, the size per quantity the
// simplex ended with kept for the next restart, and the quantities of the
// best vertex packed into `at` for the convergence test. Returns the best.
int EndRun(int n, float** p, const float* y, float* extent, float* at) {
  const int best = LowestVertex(y, n);
  SimplexExtents(p, n, best, extent);
  UnpackFitVectorForDisplay(p[best]);
  PackFitVectorUnclamped(n, at);
  return best;
}

// Restart around the best vertex found so far (vertex 1 after a converged
// run, but not after a collapse or the evaluation limit).
void RestartAroundBest(int n, float** p, int best) {
  if (best != 1)
    for (int j = 1; j <= n; ++j) p[1][j] = p[best][j];
}

// The width a restart draws a quantity with: the size the run before ended
// with, not scaled down to where values agree to the tolerance (along the
// narrow curved valleys of these models, a photobleaching rate and level
// with the loading, a restart that small creeps and settles on the slope).
// An absent species comes back only from where it has an amplitude: its s
// and M are drawn as widely as a start may lie from the truth.
float RestartSpread(bool absentSpecies, float extent, float at) {
  return absentSpecies ? kAbsentSpeciesSpread * std::fabs(at) : LearntSpread(extent, at, kUnscaledEndSpread);
}

// The species whose amplitude is 0 at the best vertex, before and after a
// restart: their s and M do not change the rmsd, so neither they nor a
// restart's draws of them tell whether the fit has settled.
class AbsentSpecies {
 public:
  explicit AbsentSpecies(int n)
      : n_(n), before_(new unsigned char[n + 1]), now_(new unsigned char[n + 1]), ignored_(new unsigned char[n + 1]) {
    for (int j = 1; j <= n; ++j) before_[j] = 0;
  }
  // After the best vertex was evaluated for a restart.
  void MarkAtBest() { FitVectorEntriesOfAbsentSpecies(n_, now_.get()); }
  bool Absent(int j) const { return now_[j] != 0; }
  // The entries the convergence test leaves out: absent before and after.
  const unsigned char* Ignored() {
    for (int j = 1; j <= n_; ++j) ignored_[j] = before_[j] && now_[j];
    return ignored_.get();
  }
  void NextRestart() {
    for (int j = 1; j <= n_; ++j) before_[j] = now_[j];
  }

 private:
  int n_;
  std::unique_ptr<unsigned char[]> before_, now_, ignored_;
};

// The point reached from `at` by the step from `from` to `at` once more:
// at + (at - from), written with one rounding instead of two.
float StepOnceMore(float at, float from) { return 2.0f * at - from; }

// The step the run before made, once more: along a valley the runs creep,
// each a little further, and settle on its slope. The last vertex goes there
// when the run before moved some quantity further than the restart's spread
// (a shorter step lies within the simplex already).
void RepeatLastStep(int n, float** p, const float* runStart, const float* spread) {
  bool far = false;
  for (int j = 1; j <= n; ++j) far = far || std::fabs(p[1][j] - runStart[j]) > spread[j];
  if (far)
    for (int j = 1; j <= n; ++j) p[n + 1][j] = StepOnceMore(p[1][j], runStart[j]);
}

// The relative spread of the vertex values at which a restart's run ends:
// kFitSimplexTolerance, a few roundings of a float above 0, at the default
// tolerance (maxRelativeChange, the relative change below which a restart
// counts as converged, 1 %), scaled with the user's tolerance where that is
// looser: each run then ends sooner (at 50 %, 5e-4, the spread of the fit's
// first run). No run resolves finer than that floor: a tighter tolerance
// asks the restarts alone to agree more closely. What judges the end stands
// at every tolerance: a restart of a new fit's size that lowers chi-square
// by a unit of the noise sends the fit on.
float RestartRunTolerance(float maxRelativeChange) {
  const float byDefault = FitEngineState().maxRelativeChange;
  return kFitSimplexTolerance * std::max(1.0f, maxRelativeChange / byDefault);
}

// A restart is still improving while it lowers the rmsd by more than the
// spread its runs end at, and by more than its rounding (an exact fit's
// rmsd wanders among roundings, relatively far).
bool StillImproving(float previousRmsd, float rmsd, double resolution, float runTolerance) {
  return rmsd < previousRmsd * (1.0f - runTolerance) && previousRmsd > resolution;
}

// An rmsd within the rounding of the signals of 0 is that of an exact fit:
// what is left of it says nothing of a change.
float Resolved(float rmsd, double resolution) { return rmsd > resolution ? rmsd : 0.0f; }

// The restart that confirms an end lowered the rmsd by more than the runs
// resolve: by more than the spread they end at, and by at least a unit of
// chi-square in noise terms (sigma the rmsd), which the data can tell.
bool ConfirmationLowered(float previousRmsd, float rmsd, double resolution, double points, float runTolerance) {
  return StillImproving(previousRmsd, rmsd, resolution, runTolerance) &&
         ChiSquareFall(previousRmsd, rmsd, points, resolution) >= kStalledChiSquare;
}

// The restarts of a new fit's size in a row that must find nothing lower
// before a fit has reached its minimum: each is one random draw, and over
// an objective with a rough floor (the nonideal models) one draw can miss
// the way down that the next one finds.
constexpr int kConfirmingRestarts = 2;
// The part of the way a quantity has come from its start that the
// restart confirming an end draws it with besides (see TravelSpread).
constexpr float kProbeTravelFraction = 0.1f;

// kProbeTravelFraction of the way coordinate j has come from `start`, where
// that is more than the starting spread of a simplex around `at`; 0 elsewhere.
float TravelSpread(const float* at, const float* start, int j) {
  const float spread = kProbeTravelFraction * std::fabs(at[j] - start[j]);
  return spread > gFitEngineState.initialRandomization * std::fabs(at[j]) ? spread : 0.0f;
}

// Vertices 2..n+1 moved further by Gaussian steps of the travel spread.
void WidenSimplex(int n, float** p, const float* start) {
  for (int j = 1; j <= n; ++j) {
    const float spread = TravelSpread(p[1], start, j);
    if (spread > 0.0f)
      for (int i = 2; i <= n + 1; ++i) p[i][j] += GaussRandom(spread);
  }
}

}  // namespace

bool RestartConverged(int n, const float* previous, const float* current, const FitEntryKind* kinds,
                      float previousRmsd, float rmsd, float maxRelativeChange, const unsigned char* ignored) {
  if (Changed(previousRmsd, rmsd, maxRelativeChange, maxRelativeChange)) return false;
  for (int j = 1; j <= n; ++j)
    if ((!ignored || !ignored[j]) && Changed(previous[j], current[j], ZeroThreshold(kinds[j], maxRelativeChange), maxRelativeChange))
      return false;
  return true;
}

void DrawFitCurvesDuringFit(FitHost* host) {
  if (!host || !host->HasPlotWindows()) return;
  ComposeFitInfoText(host);
  host->DrawFitCurves();
}

SimplexRestartsEnd MinimizeWithRestarts(FitHost* host, int n, float** p, float* y, float maxRelativeChange,
                                        const std::function<void()>& afterFirstRun,
                                        const std::function<void()>& beforeRestart) {
  FitEngineState& fs = gFitEngineState;
  FloatVec previous(1, n);
  FloatVec current(1, n);
  std::unique_ptr<FitEntryKind[]> kinds(new FitEntryKind[n + 1]);
  FitVectorEntryKinds(n, kinds.get());
  int nfunk = 0;

  PackFitVectorUnclamped(n, p[1]);
  FloatVec start(1, n);
  for (int j = 1; j <= n; ++j) start[j] = p[1][j];
  FloatVec heldScale(1, n);
  HeldAtZeroScale(n, start, heldScale);
  MakeInitialSimplex(n, p);
  EvaluateSimplexFromStart(host, p, y, n, SimplexSim);
  // The first run approaches the minimum; the restarts end where the values
  // of the simplex agree to the run tolerance the user's tolerance sets.
  const float runTolerance = RestartRunTolerance(maxRelativeChange);
  NelderMeadMinimize(host, p, y, n, kNelderMeadTolerance, SimplexSim, &nfunk, nullptr, 0, false);
  FloatVec extent(1, n), spread(1, n), runStart(1, n);
  int best = EndRun(n, p, y, extent, previous);
  float previousRmsd = y[best];
  if (afterFirstRun) afterFirstRun();

  AbsentSpecies absent(n);
  // The restart about to run confirms an end: it starts from a simplex of a
  // new fit's own size around the best vertex, not of the size the runs
  // before shrank to. A small simplex settles on the slope of a narrow
  // curved valley (or beside a quantity held at 0) where a wider one walks
  // on, as a second Fit would: the fit has reached its minimum only when
  // such a restart no longer lowers the rmsd by what the data can tell.
  bool confirming = false;
  int confirmations = 0;
  bool settled = false;
  StalledSteps stalled(n, start);
  for (int j = 1; j <= n; ++j)
    if (NamedInSignalUnits(FitVectorEntryName(j))) stalled.InSignalUnits(j, 1.0);
  const double resolution = RmsdResolution();
  FloatVec judged(1, n);
  std::vector<int> undetermined;
  for (int restart = 0; restart < kMaxNelderMeadRestarts && !fs.stopRequested && nfunk < kMaxNelderMeadEvaluations; ++restart) {
    if (beforeRestart) beforeRestart();
    RestartAroundBest(n, p, best);
    // The best vertex first: its evaluation tells which species are absent there.
    y[1] = SimplexSim(p[1], host);
    absent.MarkAtBest();
    if (confirming) {
      MakeInitialSimplex(n, p, heldScale);
      WidenSimplex(n, p, start);
    } else {
      for (int j = 1; j <= n; ++j) spread[j] = RestartSpread(absent.Absent(j), extent[j], p[1][j]);
      MakeInitialSimplex(n, p, heldScale, spread);
      if (restart > 0) RepeatLastStep(n, p, runStart, spread);
    }
    for (int j = 1; j <= n; ++j) runStart[j] = p[1][j];
    for (int i = 2; i <= n + 1; ++i) y[i] = SimplexSim(p[i], host);
    NelderMeadMinimize(host, p, y, n, runTolerance, SimplexSim, &nfunk, nullptr, 0, false);
    best = EndRun(n, p, y, extent, current);
    // A run cut short by the count of evaluations tells nothing of an end.
    if (nfunk >= kMaxNelderMeadEvaluations) break;

    // A restart of the size the run before ended with has settled when it
    // moved nothing by more than the tolerance and was no longer improving;
    // one that still improves is followed by another. A settled one is
    // confirmed by a restart of a new fit's size, which ends the fit unless
    // it lowered the rmsd; where it did, the restarts go on from there.
    const bool converged =
        RestartConverged(n, previous, current, kinds.get(), Resolved(previousRmsd, resolution),
                         Resolved(y[best], resolution), maxRelativeChange, absent.Ignored());
    if (confirming)
      settled = !ConfirmationLowered(previousRmsd, y[best], resolution, fs.rmsdPointCount, runTolerance);
    else
      settled = converged && !StillImproving(previousRmsd, y[best], resolution, runTolerance);
    // A restart that moves a quantity for almost nothing is no step towards
    // a minimum the data determine, a confirming one included; an absent
    // species' s and M move freely.
    const unsigned char* ignored = absent.Ignored();
    for (int j = 1; j <= n; ++j) judged[j] = ignored[j] ? previous[j] : current[j];
    if (!converged &&
        stalled.Accepted(static_cast<const float*>(previous), static_cast<const float*>(judged), previousRmsd,
                         y[best], maxRelativeChange, fs.rmsdPointCount)) {
      undetermined = stalled.Moved();
      break;
    }
    for (int j = 1; j <= n; ++j) previous[j] = current[j];
    absent.NextRestart();
    previousRmsd = y[best];
    if (settled && confirming && ++confirmations >= kConfirmingRestarts) break;
    if (!settled || !confirming) confirmations = 0;
    confirming = settled;
    settled = false;
  }
  // A settled end where the linear solve left a species without a loading
  // is no minimum in its s and size: they change no point of the model, and
  // the restarts, which leave them out of their test, settled around them
  // (a second Fit from such an end would call it reached). An exact fit is
  // a result whatever its species.
  if (undetermined.empty() && settled && !fs.stopRequested && Resolved(y[best], resolution) > 0.0f) {
    std::unique_ptr<unsigned char[]> without(new unsigned char[n + 1]);
    SimplexSim(p[best], host);
    FitVectorEntriesOfAbsentSpecies(n, without.get());
    for (int j = 1; j <= n; ++j)
      if (without[j]) undetermined.push_back(j);
  }
  bool ranOut = false;
  if (!undetermined.empty()) {
    ReportUndetermined(host, FitVectorEntryNames(undetermined));
  } else if (!settled && !fs.stopRequested && nfunk >= kMaxNelderMeadEvaluations) {
    ReportSimplexEvaluationsExhausted(host);
  } else if (!settled && !fs.stopRequested) {
    ReportRestartsExhausted(host);
    ranOut = true;
  }
  return {best, ranOut};
}
