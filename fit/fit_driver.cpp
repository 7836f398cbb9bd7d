#include "fit/fit_driver.h"

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
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/fit_report.h"
#include "fit/fit_vector.h"
#include "fit/fit_target.h"
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
#include "fit/fit_end.h"
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
constexpr int kLargestGrid = 2147483646;

void SetGrid(FitHost* host, long long size) {
  host->SetLammGridSize(size > kLargestGrid ? kLargestGrid : static_cast<int>(size));
}

// Threshold of a quantity whose previous value was 0.
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

// A restart is still improving while it lowers the rmsd by more than the
// spread its runs end at, and by more than its rounding (an exact fit's
// rmsd wanders among roundings, relatively far).
bool StillImproving(float previousRmsd, float rmsd, double resolution) {
  return rmsd < previousRmsd * (1.0f - kFitSimplexTolerance) && previousRmsd > resolution;
}

// An rmsd within the rounding of the signals of 0 is that of an exact fit:
// what is left of it says nothing of a change.
float Resolved(float rmsd, double resolution) { return rmsd > resolution ? rmsd : 0.0f; }

// The restart that confirms an end lowered the rmsd by more than the runs
// resolve: by more than the spread they end at, and by at least a unit of
// chi-square in noise terms (sigma the rmsd), which the data can tell.
bool ConfirmationLowered(float previousRmsd, float rmsd, double resolution, double points) {
  return StillImproving(previousRmsd, rmsd, resolution) &&
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
  // of the simplex agree to kFitSimplexTolerance.
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
    NelderMeadMinimize(host, p, y, n, kFitSimplexTolerance, SimplexSim, &nfunk, nullptr, 0, false);
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
      settled = !ConfirmationLowered(previousRmsd, y[best], resolution, fs.rmsdPointCount);
    else
      settled = converged && !StillImproving(previousRmsd, y[best], resolution);
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

namespace {

// Trials a fit's end check makes on its own: no solver box and no
// discretization warning (the user asked for none of them); one that cannot
// be computed is rejected. The fit's own evaluations show theirs as before.
struct QuietTrials {
  platform::QuietErrorBoxes boxes;
  const unsigned char warned = gSimulationSwitches.discretizationWarningShown;
  QuietTrials() { gSimulationSwitches.discretizationWarningShown = 1; }
  ~QuietTrials() { gSimulationSwitches.discretizationWarningShown = warned; }
  QuietTrials(const QuietTrials&) = delete;
  QuietTrials& operator=(const QuietTrials&) = delete;
};

// P[1..4] are the species' size (M or D), P[5..8] their s, P[9..12] their
// loadings.
constexpr int kSpeciesSlots = 4;
constexpr int kLoadingOffset = 2 * kSpeciesSlots;

// Discrete species of a sedimentation-velocity fit. With loadings solved as
// linear amplitudes a species can lose its loading to the solve while its s
// and size stay wherever the fit left them (one species alone too: with TI
// and RI noise fitted, a boundary that misses the data's gets none); with a
// loading held (a fit of the total and fractions), the held one can end on
// the boundary of another species, the others making up for it, where no
// step of s and size leads across.
bool SpeciesEndsArePlaced() {
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  if (!sel.LammDiscreteModel || sel.AnySelfAssociationModel() || sel.AnyNonidealSpeciesModel()) return false;
  if (!SpeciesFitRangesForCurrentFit().on) return false;
  const ModelEvaluationHooks& hooks = CurrentModelEvaluationHooks();
  if (hooks.bufferSedimentationOn && hooks.bufferSedimentationOn()) return false;
  int included = 0;
  for (int k = 1; k <= kSpeciesSlots; ++k) included += gModelParams.included[k] ? 1 : 0;
  return included > 0;
}

// The quantities an end by "the data do not determine" names.
std::vector<std::string> NamedUndetermined(const FitEndRecord& end) {
  static const std::string kHead = "the data do not determine ";
  std::vector<std::string> names;
  if (end.kind != FitEndKind::Undetermined || end.text.compare(0, kHead.size(), kHead) != 0) return names;
  const std::string list = end.text.substr(kHead.size(), end.text.find(':') - kHead.size());
  size_t from = 0;
  while (from <= list.size()) {
    size_t comma = list.find(", ", from), conj = list.find(" and ", from);
    const size_t cut = std::min(comma, conj);
    names.push_back(list.substr(from, cut == std::string::npos ? std::string::npos : cut - from));
    if (cut == std::string::npos) break;
    from = cut + (cut == comma ? 2 : 5);
  }
  return names;
}

// Whether a species of sedimentation coefficient s (S) leaves the fit range
// in its plateau in every scan: its sharp boundary, from the meniscus (or,
// floating, from the bottom), reaches no fitted radius by the last scan. The
// range then sees a level of it, which the baseline and the noise terms can
// take up as well: it stands in for them rather than for a species.
bool BoundaryNeverInTheFitRange(float s) {
  const ScanSet& ss = CurrentScanSet();
  const ModelParams& mp = gModelParams;
  if (ss.count < 1 || static_cast<int>(ss.records.size()) <= ss.count) return false;
  double w2tLast = 0.0;
  for (int j = 1; j <= ss.count; ++j) {
    const ScanRecord& rec = ss.records[j];
    w2tLast = std::max(w2tLast, rec.w2t > 0.0 ? rec.w2t : Omega2(rec.rpm) * rec.time);
  }
  const double travelled = static_cast<double>(s) * 1e-13 * w2tLast;
  if (!(w2tLast > 0.0) || !(ss.leftFitLimit > mp.meniscus) || !(ss.rightFitLimit < mp.bottom)) return false;
  return travelled >= 0.0 ? mp.meniscus * std::exp(travelled) < ss.leftFitLimit
                          : mp.bottom * std::exp(travelled) > ss.rightFitLimit;
}

// Whether a species of sedimentation coefficient s (S) has left the fit
// range by the first scan: its sharp boundary, from the meniscus, lies
// beyond the right fit limit then. The range sees no boundary of it, only
// what diffusion leaves behind, a level or a slope.
bool BoundaryPastTheFitRangeByTheFirstScan(float s) {
  const ScanSet& ss = CurrentScanSet();
  const ModelParams& mp = gModelParams;
  if (!(s > 0.0f) || ss.count < 1 || static_cast<int>(ss.records.size()) <= ss.count) return false;
  double w2tFirst = HUGE_VAL;
  for (int j = 1; j <= ss.count; ++j) {
    const ScanRecord& rec = ss.records[j];
    w2tFirst = std::min(w2tFirst, rec.w2t > 0.0 ? rec.w2t : Omega2(rec.rpm) * rec.time);
  }
  if (!(w2tFirst > 0.0) || !std::isfinite(w2tFirst) || !(ss.rightFitLimit > mp.meniscus)) return false;
  return mp.meniscus * std::exp(static_cast<double>(s) * 1e-13 * w2tFirst) > ss.rightFitLimit;
}

// The s at which a species placed anew is tried: kAnewSValues of them,
// evenly in log s, from the s whose boundary just enters the fit range by
// the last scan to the s whose boundary leaves it by the first. Empty where
// the scans carry no times.
constexpr int kAnewSValues = 10;
std::vector<float> SInView() {
  const ScanSet& ss = CurrentScanSet();
  const ModelParams& mp = gModelParams;
  std::vector<float> values;
  if (ss.count < 1 || static_cast<int>(ss.records.size()) <= ss.count) return values;
  double w2tFirst = HUGE_VAL, w2tLast = 0.0;
  for (int j = 1; j <= ss.count; ++j) {
    const ScanRecord& rec = ss.records[j];
    const double w2t = rec.w2t > 0.0 ? rec.w2t : Omega2(rec.rpm) * rec.time;
    if (!(w2t > 0.0)) continue;
    w2tFirst = std::min(w2tFirst, w2t);
    w2tLast = std::max(w2tLast, w2t);
  }
  const double left = std::max(static_cast<double>(ss.leftFitLimit), static_cast<double>(mp.meniscus));
  if (!(w2tLast > 0.0) || !(mp.meniscus > 0.0f) || !(ss.rightFitLimit > left)) return values;
  // Where the fit range starts at the meniscus, a boundary is in view once
  // it has moved by a hundredth of the range.
  const double enter = std::max(std::log(left / mp.meniscus), 0.01 * std::log(ss.rightFitLimit / left));
  const double low = enter / w2tLast * 1e13, high = std::log(ss.rightFitLimit / mp.meniscus) / w2tFirst * 1e13;
  if (!(high > low) || !(low > 0.0)) return values;
  for (int i = 0; i < kAnewSValues; ++i)
    values.push_back(static_cast<float>(low * std::pow(high / low, (i + 0.5) / kAnewSValues)));
  return values;
}

// The frictional ratios a species placed anew is tried at: its own size
// tells nothing where it has no say (a flat level of a few daltons).
constexpr float kAnewFrictionalRatios[] = {1.2f, 1.5f, 2.0f};
// The positions across its fit limits at which a fitted meniscus (and
// bottom) is tried with each species placed anew at a misfit end (at the
// middle frictional ratio).
constexpr int kAnewCellEndPositions = 3;

// The size (M, or D x 1e7) of a species of s (S) at frictional ratio `ff0`
// in the solution's conditions, scaled from the ratio a reference size
// gives: at fixed s, f/f0 grows as M^(2/3), and D goes as 1/M. 0 where the
// conditions give none.
float SizeAtFrictionalRatio(float s, float ff0) {
  if (!(s > 0.0f) || !(gSolutionConditions.vbarRho < 1.0f)) return 0.0f;
  const bool mass = gFitEngineState.molarMassParameters != 0;
  const float reference = mass ? 1e5f : 1.0f;
  const double ratio = FrictionalRatioFromSD(s, SpeciesDiffusion(s, reference));
  if (!(ratio > 0.0)) return 0.0f;
  const double size = reference * std::pow(ff0 / ratio, mass ? 1.5 : -1.5);
  return std::isfinite(size) && size > 0.0 ? static_cast<float>(size) : 0.0f;
}

// Whether species k of the model's present state has no say in the
// misfit: the linear solve gave it no loading, its s is held at an end of
// its range (it left the cell before the first scan) or so small that its
// boundary never enters the fit range, its size is held at the least its s
// allows (a level or an offset taken up by a particle smaller than any of
// that s), or the end names its s or size as
// not determined by the data (a species floated out of view, its loading
// taken for a baseline).
bool WithoutASay(int k, const std::vector<std::string>& named) {
  const ModelParameterVector& pv = gModelParameterVector;
  if (gModelParams.scaleFactor[k] == 0.0f) return true;
  float low = 0.0f, high = 0.0f;
  const float s = pv.P[k + kSpeciesSlots];
  if (SpeciesFitLimits(k + kSpeciesSlots, s, &low, &high) && (s <= low || s >= high)) return true;
  if (BoundaryNeverInTheFitRange(s) || SpeciesFlatBeforeTheFirstScan(k) || SpeciesAtItsLeastSize(k)) return true;
  auto isNamed = [&named](const std::string& name) {
    return std::find(named.begin(), named.end(), name) != named.end();
  };
  const std::string number = std::to_string(k);
  return (pv.F[k] && isNamed((gFitEngineState.molarMassParameters ? "M" : "D") + number)) ||
         (pv.F[k + kSpeciesSlots] && isNamed("s" + number));
}

// A species with no say in the misfit makes the end a fit of fewer species
// than the model has: its s and size no longer change the misfit, and the
// minimiser, finding no slope along them, settles there (a species that
// started far off can lose its loading on the way, while another takes up
// the boundaries of two). Such a point is no minimum of the model asked
// for when the species, placed beside one that has its say, lowers
// chi-square. Nor is an end whose species, each moved a little from where
// it is (the others held, the loadings solved anew), lowers it: a species
// can settle in a valley of its own beside the truth's, where no step of
// the minimiser's size leads across. A species with a small share of the
// loadings may be one on its way out (near 0 S it stands in for a
// baseline), and at an end away from a minimum any species may be
// misplaced: they are placed beside the others too. Two species can also
// be displaced together, where no move of one alone gets out (one taking up
// the boundaries of two, or a species with little say beside one it pulls
// a little off): they are moved as a pair. Each placement is tried once;
// when the lowest lowers chi-square by at least one unit in noise terms the
// model is left there, otherwise at the end it was given.
constexpr double kMinorShare = 0.1;
// A move from where a species is: s and size by these factors.
constexpr float kNearSFactors[] = {0.8f, 1.0f, 1.25f};
// Beside another, more widely: where a species has no say, its own s and
// size tell nothing of where it belongs.
constexpr float kBesideSFactors[] = {1.0f / 3.0f, 0.5f, 0.8f, 1.0f, 1.25f, 2.0f, 3.0f};
constexpr float kSizeFactors[] = {1.0f / 3.0f, 1.0f, 3.0f};
// With loadings held, more widely: a species whose loading is bound to a
// share cannot trade it for another's, and can settle at a size far from
// its own (a sharp boundary where a twelfth of the molar mass belongs).
constexpr float kWideSizeFactors[] = {0.1f, 1.0f / 3.0f, 1.0f, 3.0f, 10.0f};
// A species placed beside another (at that one's size) with that one's s
// moved too, by these factors: a species with little say leaves the others
// a little off, making up for where it sits, and placed where it belongs
// it gets no loading until they move back.
constexpr float kFellowSFactors[] = {0.99f, 0.995f, 1.005f, 1.01f};
// Two species parted from where one that has its say is: the other at that
// one's s times `s` and that one at its s over `s`; the other's size that
// one's times `size`, that one's over `size`. A species that takes up the
// boundaries of two sits between them, and its fellow, moved alone, cannot
// take over either: each loses what the pair explains.
struct Split {
  float s, size;
};
constexpr Split kSplits[] = {{1.1f, 1.0f}, {1.25f, 1.0f}, {1.6f, 1.0f}, {1.0f, 1.6f}};
// Two species placed around one that has its say, one at its s times
// `slower`, the other at its s times `faster`. An end can hold one boundary
// for three, the other two standing in for baselines (a flat profile the
// noise terms take up, at a loading that runs away, and a boundary spread
// past the data): each placed alone beside the boundary lowers nothing, for
// the other still takes up what it would.
struct Around {
  float slower, faster;
};
constexpr Around kArounds[] = {{0.5f, 1.6f}, {0.5f, 2.0f}, {2.0f / 3.0f, 1.5f}, {1.0f / 3.0f, 3.0f}};
// A species with a held share moved: its size alone by kHeldSizeFactors;
// its s by kHeldSFactors with the size the same frictional ratio gives,
// times kExchangeSizeFactors.
constexpr float kHeldSizeFactors[] = {0.1f, 1.0f / 3.0f, 3.0f, 10.0f};
constexpr float kHeldSFactors[] = {0.5f, 2.0f / 3.0f, 1.5f, 2.0f};
// Exchanged with another: at that one's s and size times
// kExchangeSizeFactors, that one at its s times kExchangeSFactors and the
// size the same frictional ratio gives, times kExchangeSizeFactors.
constexpr float kExchangeSizeFactors[] = {1.0f / 3.0f, 1.0f, 3.0f};
constexpr float kExchangeSFactors[] = {2.0f / 3.0f, 0.8f, 1.0f, 1.25f, 1.5f};
// With loadings held, the trials solved under them (SolveUnderHeldLoadings),
// of each kind (one species moved, two together).
constexpr int kHeldSolvedTrials = 4;
// The evaluations the short simplex run from the lowest point placed under
// the held loadings may spend; the runs of the fit with loadings free, and
// the evaluations they may spend together each time they go on (from the
// end, from a lower placement, from a point out of a misfit).
constexpr int kHeldRunEvaluations = 800;
constexpr int kFreeFitRuns = 3;
constexpr int kFreeFitEvaluations = 800;
// The steps SolveUnderHeldLoadings takes about a loading: this part of it,
// and at least this part of the total.
constexpr double kLoadingStep = 0.1;
constexpr double kLoadingStepFloor = 0.05;
// A species flat at the end of its size range placed slower than one that
// has its say (its s times `slower`), that one moved faster (times
// `faster`). An end can hold a slow species as a flat level, its boundary
// taken up by the next species, which sits slower and smaller than its own
// to make up for it: wherever the flat one is placed alone, that one is in
// its way, and both moved at once land in a valley that lies above the end
// but leads down to the minimum. From the lowest of these the fit goes on
// once, whether or not it lies lower, and keeps the lower of the two ends.
constexpr float kApartSlower[] = {1.0f / 3.0f, 0.5f, 2.0f / 3.0f};
constexpr float kApartFaster[] = {1.1f, 1.25f};
// The fall of chi-square (in noise terms) by which two species moved
// together show the end was no minimum. Such a move frees four quantities
// at once, and the lowest of some dozens of them lowers chi-square over
// featureless noise by a few units (2.8 for three species fitted to noise
// by annealing), where going on finds nothing and costs a whole fit; a
// pair displaced together lay 20 to 4 000 units above the minimum.
constexpr double kPairMoveChiSquare = 10.0;
// The evaluations a short simplex run from a placement may spend before the
// placement is judged (see FollowedPlacement).
constexpr int kFollowEvaluations = 150;
// The s factor by which the species with the largest share is parted from
// the end's smallest one, both at its size, to be followed: two close
// species merged into one (8.0 and 8.9 S at 20-24 kDa, taken for one of
// 8.4 S beside a spurious one of 10.6 S with 5 % of the loading). Their
// valley is narrow: parted by the splits above (1.1 and up) and followed,
// they settled beside it, and by 1.03 or 1.07 too.
constexpr float kCloseSplit = 1.05f;

// Whether species q's share is held. Loadings fitted as the total (the
// first included species' entry) and the others' fractions of it: species q
// carries the share f_q, the first what the others leave. A held total
// binds no species.
bool ShareHeld(int q) {
  return gModelParams.included[q] && q != FirstIncludedSpecies(kSpeciesSlots) &&
         !gModelParameterVector.F[kLoadingOffset + q];
}

// The fitted loadings (total and shares) written so that the species carry
// `amplitude` (one-based by species) as far as the held ones allow: a
// fitted total is the sum of the amplitudes (what the data determine best,
// where two boundaries share a loading either way), each fitted share
// gives its species its amplitude, a held share stays with its species, and
// the first species carries what is left. The held entries are taken from
// `saved`. False where no total is left.
bool LoadingsFromAmplitudes(const double* amplitude, const float* saved) {
  ModelParameterVector& pv = gModelParameterVector;
  const ModelParams& mp = gModelParams;
  const int first = FirstIncludedSpecies(kSpeciesSlots);
  if (!first) return false;
  for (int q = 1; q <= kSpeciesSlots; ++q)
    if (!pv.F[kLoadingOffset + q]) pv.P[kLoadingOffset + q] = saved[kLoadingOffset + q];
  double total = saved[kLoadingOffset + first];
  if (pv.F[kLoadingOffset + first]) {
    total = 0.0;
    for (int q = 1; q <= kSpeciesSlots; ++q)
      if (mp.included[q]) total += amplitude[q];
    pv.P[kLoadingOffset + first] = static_cast<float>(total);
  }
  if (!(total > 0.0)) return false;
  for (int q = 1; q <= kSpeciesSlots; ++q)
    if (mp.included[q] && q != first && pv.F[kLoadingOffset + q])
      pv.P[kLoadingOffset + q] = static_cast<float>(amplitude[q] / total);
  return true;
}

// The misfit at the s and sizes in the model with the fitted loadings (the
// total and the shares not held) at their best under the held ones, from
// the loadings there. In the total T and the fitted species' own loadings
// T f_q every species' loading is linear, and so the misfit squared a
// quadratic: it is taken from its values about the start (1 + 2d + d(d-1)/2
// evaluations for d fitted loadings) and evaluated at its minimum. The
// lowest point evaluated is left in the model and packed into `v`; returns
// its rmsd (kRejectedTrial where none could be computed).
float SolveUnderHeldLoadings(int n, float* v, FitHost* host) {
  ModelParameterVector& pv = gModelParameterVector;
  const ModelParams& mp = gModelParams;
  const int first = FirstIncludedSpecies(kSpeciesSlots);
  const bool totalFitted = pv.F[kLoadingOffset + first] != 0;
  const double heldTotal = pv.P[kLoadingOffset + first];
  std::vector<int> shares;
  for (int q = 1; q <= kSpeciesSlots; ++q)
    if (mp.included[q] && q != first && pv.F[kLoadingOffset + q]) shares.push_back(q);
  const int offset = totalFitted ? 1 : 0;
  const int d = offset + static_cast<int>(shares.size());
  std::vector<double> start(static_cast<size_t>(d)), step(start), at(start), lowestAt(start);
  if (totalFitted) start[0] = heldTotal;
  for (size_t i = 0; i < shares.size(); ++i)
    start[offset + i] = static_cast<double>(pv.P[kLoadingOffset + shares[i]]) * heldTotal;
  const double scale = std::fabs(heldTotal);
  for (int i = 0; i < d; ++i) step[i] = kLoadingStep * std::max(std::fabs(start[i]), kLoadingStepFloor * scale);
  double lowest = HUGE_VAL;
  // The misfit squared at loadings y, the lowest kept.
  auto misfit = [&](const std::vector<double>& y) {
    const double total = totalFitted ? y[0] : heldTotal;
    if (!(total > 0.0) || gFitEngineState.stopRequested) return HUGE_VAL;
    pv.P[kLoadingOffset + first] = static_cast<float>(total);
    for (size_t i = 0; i < shares.size(); ++i)
      pv.P[kLoadingOffset + shares[i]] = static_cast<float>(y[offset + i] / total);
    PackFitVectorUnclamped(n, v);
    const float rmsd = SimplexSim(v, host);
    if (!(rmsd < kRejectedTrial)) return HUGE_VAL;
    const double f = static_cast<double>(rmsd) * rmsd;
    if (f < lowest) {
      lowest = f;
      lowestAt = y;
    }
    return f;
  };
  const double f0 = misfit(start);
  std::vector<double> up(static_cast<size_t>(d)), down(up), gradient(up);
  std::vector<std::vector<double>> curvature(static_cast<size_t>(d), std::vector<double>(static_cast<size_t>(d)));
  bool quadratic = std::isfinite(f0);
  for (int i = 0; i < d && quadratic; ++i) {
    at = start;
    at[i] = start[i] + step[i];
    up[i] = misfit(at);
    at[i] = start[i] - step[i];
    down[i] = misfit(at);
    gradient[i] = (up[i] - down[i]) / (2.0 * step[i]);
    curvature[i][i] = (up[i] - 2.0 * f0 + down[i]) / (step[i] * step[i]);
    quadratic = std::isfinite(up[i]) && std::isfinite(down[i]);
  }
  for (int i = 0; i < d && quadratic; ++i)
    for (int j = i + 1; j < d && quadratic; ++j) {
      at = start;
      at[i] += step[i];
      at[j] += step[j];
      const double both = misfit(at);
      curvature[i][j] = curvature[j][i] = (both - up[i] - up[j] + f0) / (step[i] * step[j]);
      quadratic = std::isfinite(both);
    }
  // The minimum where the curvature is positive definite (Cholesky).
  if (quadratic && d > 0) {
    std::vector<std::vector<double>> l(curvature);
    for (int j = 0; j < d && quadratic; ++j) {
      for (int k = 0; k < j; ++k) l[j][j] -= l[j][k] * l[j][k];
      quadratic = l[j][j] > 0.0;
      if (!quadratic) break;
      l[j][j] = std::sqrt(l[j][j]);
      for (int i = j + 1; i < d; ++i) {
        for (int k = 0; k < j; ++k) l[i][j] -= l[i][k] * l[j][k];
        l[i][j] /= l[j][j];
      }
    }
    if (quadratic) {
      std::vector<double> z(static_cast<size_t>(d));
      for (int i = 0; i < d; ++i) {
        z[i] = -gradient[i];
        for (int k = 0; k < i; ++k) z[i] -= l[i][k] * z[k];
        z[i] /= l[i][i];
      }
      for (int i = d - 1; i >= 0; --i) {
        for (int k = i + 1; k < d; ++k) z[i] -= l[k][i] * z[k];
        z[i] /= l[i][i];
      }
      for (int i = 0; i < d; ++i) at[i] = start[i] + z[i];
      misfit(at);
    }
  }
  if (!std::isfinite(lowest)) return kRejectedTrial;
  misfit(lowestAt);
  return static_cast<float>(std::sqrt(lowest));
}

// The points of an end out of a misfit to go on from, lowest first: the
// lowest of each way out (a flat species parted from another, a species
// placed beyond the others or beside them from below 0 S, one splitting
// another).
using PointsToGoOnFrom = std::vector<std::vector<float>>;
EndPlacement PlaceSpeciesWithoutASay(FitHost* host, const FitEndRecord& endRecord,
                                     PointsToGoOnFrom* apartPoints = nullptr);

// The evaluations a simplex run of the end check may still spend. A run
// counts its own from 0 up to kMaxNelderMeadEvaluations, so the check's
// smaller allotments are kept by its target: once one is spent, every
// further point is refused unevaluated (as one the model cannot compute),
// and the run ends on its best vertex as its simplex shrinks onto it.
int gEndCheckEvaluationsLeft = 0;
float AllottedSimplexSim(float* v, FitHost* host) {
  if (gEndCheckEvaluationsLeft <= 0) return kRejectedTrial;
  --gEndCheckEvaluationsLeft;
  return SimplexSim(v, host);
}

// A short simplex run over every quantity from the placement `v`
// (`allotment` evaluations): the quantities it did not move follow it. `v`
// becomes the lowest point found; returns its rmsd.
float FollowedPlacement(int n, std::vector<float>& v, FitHost* host, int allotment = kFollowEvaluations) {
  FloatMat simplex(1, n + 1, 1, n);
  FloatVec values(1, n + 1);
  float** p = simplex;
  for (int j = 1; j <= n; ++j) p[1][j] = v[j];
  gEndCheckEvaluationsLeft = allotment;
  MakeInitialSimplex(n, p);
  EvaluateSimplexFromStart(host, p, values, n, AllottedSimplexSim);
  int evaluations = 0;
  NelderMeadMinimize(host, p, values, n, kFitSimplexTolerance, AllottedSimplexSim, &evaluations, nullptr, 0, false);
  const int low = LowestVertex(values, n);
  for (int j = 1; j <= n; ++j) v[j] = p[low][j];
  return values[low];
}

// The held loadings relaxed: from the s and sizes in the model, simplex
// runs over the s and sizes alone with every loading solved linearly
// (kFreeFitEvaluations together each time they go on), their ends checked
// as a Fit's end of free loadings is (every species placed beside the
// others, at most kMaxEndPlacements times, and out of a misfit once), find
// where the species belong with loadings free, which lies no higher than
// any point under the held ones. Where it lies lower than `endRmsd` by what
// two species moved together must show, the species with a held share is
// given each species' place there in turn (its loading belongs to one of
// those boundaries, the others take up the rest), the fitted loadings set
// from the free amplitudes and solved under the held ones; from the lowest
// a short simplex run over every quantity goes on (kHeldRunEvaluations).
// `saved` holds the end's parameters; the lowest point is packed into `v`;
// returns its rmsd (kRejectedTrial where none, or where the free fit lies no
// lower).
float PlaceUnderHeldLoadingsFromFreeFit(int n, const float* saved, float endRmsd, float* v, FitHost* host) {
  FitEngineState& fs = gFitEngineState;
  ModelParameterVector& pv = gModelParameterVector;
  ModelParams& mp = gModelParams;
  unsigned char loadingFlags[kSpeciesSlots + 1];
  for (int q = 1; q <= kSpeciesSlots; ++q) {
    loadingFlags[q] = pv.F[kLoadingOffset + q];
    pv.F[kLoadingOffset + q] = 0;
  }
  mp.concentrationsLinear = 1;
  const int m = ParametersToFitVector(0, nullptr);
  float freeRmsd = kRejectedTrial;
  float freeP[kParameterSlots + 1];
  double amplitude[kSpeciesSlots + 1] = {};
  if (m > 0) {
    FloatMat simplex(1, m + 1, 1, m);
    FloatVec values(1, m + 1);
    float** p = simplex;
    int evaluations = 0;
    // Simplex runs from a new simplex around the best vertex, until a run
    // lowers the rmsd no more than the runs resolve (or the budget is spent).
    auto freeFit = [&] {
      gEndCheckEvaluationsLeft = kFreeFitEvaluations;
      PackFitVectorUnclamped(m, p[1]);
      float previous = kRejectedTrial;
      for (int run = 0; run < kFreeFitRuns && !fs.stopRequested && gEndCheckEvaluationsLeft > 0; ++run) {
        MakeInitialSimplex(m, p);
        EvaluateSimplexFromStart(host, p, values, m, AllottedSimplexSim);
        NelderMeadMinimize(host, p, values, m, kFitSimplexTolerance, AllottedSimplexSim, &evaluations, nullptr, 0,
                           false);
        const int low = LowestVertex(values, m);
        if (low != 1)
          for (int j = 1; j <= m; ++j) p[1][j] = p[low][j];
        const bool settled = !(values[low] < previous * (1.0f - kFitSimplexTolerance));
        previous = std::min(previous, values[low]);
        if (settled) break;
      }
      return SimplexSim(p[1], host);
    };
    freeRmsd = freeFit();
    // With loadings free the runs can settle as any fit of free loadings
    // can, two species on one boundary and another boundary missing, or one
    // standing in for a baseline while another spreads across two
    // boundaries: their end is checked as a Fit's end is
    // (FitWithEndPlacements). From a lower placement the runs go on. Out of
    // a misfit, once, they go on from the lowest point of each way out
    // (the lowest of all can lie in the valley the end is in: a species
    // split off the one beside it, where a species placed beyond the
    // fastest, higher at first, leads to the minimum), each with an
    // allotment of its own, and the lowest end is kept.
    bool apartTried = false;
    PointsToGoOnFrom apartPoints;
    std::vector<float> runsEnd(static_cast<size_t>(m) + 1);
    for (int placement = 0; placement < kMaxEndPlacements && !fs.stopRequested; ++placement) {
      std::copy(p[1], p[1] + m + 1, runsEnd.begin());
      EndPlacement placed = PlaceSpeciesWithoutASay(host, FitEndRecord{FitEndKind::NotReached, {}}, &apartPoints);
      fs.fitRunning = 1;
      if (placed == EndPlacement::Stopped) fs.stopRequested = 1;
      if (placed == EndPlacement::Apart && apartTried) {
        // The model is left at a point it does not go on from: back to the end.
        SimplexSim(p[1], host);
        break;
      }
      if (placed == EndPlacement::Lower) {
        freeRmsd = freeFit();
        continue;
      }
      if (placed != EndPlacement::Apart) break;
      apartTried = true;
      const float before = freeRmsd;
      float lowestEnd = freeRmsd;
      std::vector<float> lowestAt(runsEnd);
      for (const std::vector<float>& from : apartPoints) {
        if (fs.stopRequested) break;
        std::copy(from.begin(), from.end(), p[1]);
        SimplexSim(p[1], host);
        const float y = freeFit();
        if (y < lowestEnd) {
          lowestEnd = y;
          std::copy(p[1], p[1] + m + 1, lowestAt.begin());
        }
      }
      std::copy(lowestAt.begin(), lowestAt.end(), p[1]);
      freeRmsd = SimplexSim(p[1], host);
      // A lower end is checked in turn; the end stands otherwise.
      if (!(freeRmsd < before)) break;
    }
    for (int q = 1; q <= kSpeciesSlots; ++q) amplitude[q] = mp.included[q] ? mp.scaleFactor[q] : 0.0;
    std::copy(pv.P, pv.P + kParameterSlots + 1, freeP);
  }
  mp.concentrationsLinear = 0;
  for (int q = 1; q <= kSpeciesSlots; ++q) {
    pv.F[kLoadingOffset + q] = loadingFlags[q];
    pv.P[kLoadingOffset + q] = saved[kLoadingOffset + q];
    mp.concentration[q] = saved[kLoadingOffset + q];
  }
  const double points = fs.rmsdPointCount, resolution = RmsdResolution();
  if (fs.stopRequested || !(freeRmsd < kRejectedTrial) ||
      ChiSquareFall(endRmsd, freeRmsd, points, resolution) < kPairMoveChiSquare)
    return kRejectedTrial;
  // The places a held share is given: its own, and each other species'
  // whose s and size are fitted.
  std::vector<float> lowestAt(static_cast<size_t>(n) + 1);
  float lowest = kRejectedTrial;
  std::vector<int> heldShares;
  for (int h = 1; h <= kSpeciesSlots; ++h)
    if (ShareHeld(h) && pv.F[h] && pv.F[h + kSpeciesSlots]) heldShares.push_back(h);
  if (heldShares.empty()) heldShares.push_back(0);
  for (int h : heldShares)
    for (int o = 1; o <= kSpeciesSlots && !fs.stopRequested; ++o) {
      if (h ? !(o == h || (mp.included[o] && pv.F[o] && pv.F[o + kSpeciesSlots])) : o != 1) continue;
      std::copy(freeP, freeP + kParameterSlots + 1, pv.P);
      double placed[kSpeciesSlots + 1];
      std::copy(amplitude, amplitude + kSpeciesSlots + 1, placed);
      if (h && o != h) {
        std::swap(pv.P[h], pv.P[o]);
        std::swap(pv.P[h + kSpeciesSlots], pv.P[o + kSpeciesSlots]);
        std::swap(placed[h], placed[o]);
      }
      if (!LoadingsFromAmplitudes(placed, saved)) continue;
      const float y = SolveUnderHeldLoadings(n, v, host);
      if (y < lowest) {
        lowest = y;
        std::copy(v, v + n + 1, lowestAt.begin());
      }
    }
  if (!(lowest < kRejectedTrial) || fs.stopRequested) return kRejectedTrial;
  std::vector<float> followed(lowestAt);
  const float y = FollowedPlacement(n, followed, host, kHeldRunEvaluations);
  for (int j = 1; j <= n; ++j) v[j] = y < lowest ? followed[j] : lowestAt[j];
  return std::min(lowest, y);
}

// The standard errors by which the residuals' serial ratio must lie below
// white noise's before an end is taken for a misfit that the minimiser left
// in a valley of its own: one-sided, a white end passes this way once in
// some 30 000 fits, while an end that leaves a boundary unexplained lies
// tens to hundreds of them below (two species merged into one beside a
// spurious third, 2.5 % above the minimum over 27 000 points: 8).
constexpr double kMisfitStandardErrors = 4.0;

// An end whose residuals are no white noise, where every species has its
// say, can still lie in a valley of its own: a species walked to s at or
// below 0 (its boundary floating up from the bottom, standing in for
// another's), or two boundaries merged into one with a spurious small
// species beside them. No small move leads out, and the way out starts
// above the end: such a species is placed beside each other species at
// positive s, or splits it (the two at its s times and over a factor, each
// at the size the same frictional ratio gives), and the lowest of these is
// a point to go on from once (EndPlacement::Apart): its fit ends lower, or
// the end stands. Each species is placed anew across the fit range's s
// besides (see PlaceSpeciesWithoutASay).
// An exact fit's residuals are roundings, which run as they will.
bool EndLeavesAMisfit() { return CalcRmsd() > RmsdResolution() && ResidualsRunTogether(kMisfitStandardErrors); }
constexpr float kMisfitSplitFactors[] = {1.1f, 1.25f, 1.6f, 2.0f};

// At such an end, (a, k): species a moved by species k, which has positive
// s. Any species may be the one out of place: three species all slower than
// the fastest boundary (0.7, 1.5 and 5.6 S for 1.3, 4.9 and 10.8 S) end
// eleven times the noise away with no small or floating one among them,
// and one of them placed beyond the fastest, twice as fast, leads out. A
// floating one is placed beside every other; the others only beyond the
// fastest (beside a slower one, the lowest of many such trials led a
// simplex from two merged species into another valley).
std::vector<std::pair<int, int>> PlacementsOutOfAMisfit(bool misfit) {
  std::vector<std::pair<int, int>> placements;
  if (!misfit) return placements;
  const ModelParameterVector& pv = gModelParameterVector;
  const ModelParams& mp = gModelParams;
  for (int a = 1; a <= kSpeciesSlots; ++a) {
    if (!mp.included[a] || !pv.F[a + kSpeciesSlots]) continue;
    for (int k = 1; k <= kSpeciesSlots; ++k)
      if (k != a && mp.included[k] && pv.P[k + kSpeciesSlots] > 0.0f) placements.emplace_back(a, k);
  }
  return placements;
}

EndPlacement PlaceSpeciesWithoutASay(FitHost* host, const FitEndRecord& endRecord, PointsToGoOnFrom* apartPoints) {
  FitEngineState& fs = gFitEngineState;
  ModelParameterVector& pv = gModelParameterVector;
  ModelParams& mp = gModelParams;
  const int n = ParametersToFitVector(0, nullptr);
  if (n == 0) return EndPlacement::None;
  // The check's trials show no solver box: the user asked for none of them
  // (a species placed at the edge of the s the fit range sees, where the
  // grid cannot resolve its boundary), and one that cannot be computed is
  // rejected. The fit's own evaluations show theirs as before.
  QuietTrials quiet;
  // Judged on the end as the fit left it, before any trial.
  const bool misfit = EndLeavesAMisfit();
  std::vector<float> end(static_cast<size_t>(n) + 1), trial(end), best(end), bestPair(end);
  PackFitVectorUnclamped(n, end.data());
  // Loadings fitted with s and size (a share or the total held) keep no
  // loading a trial asks for: each trial, and the end's judgement of which
  // species have a say, takes the loadings the s and sizes ask for, solved
  // linearly.
  bool fittedLoadings = false;
  for (int q = 1; q <= kSpeciesSlots; ++q)
    fittedLoadings = fittedLoadings || (mp.included[q] && pv.F[kLoadingOffset + q] && !mp.concentrationsLinear);
  // The solve writes every loading; the held ones are given back.
  auto solveLoadingsLinearly = [&](std::vector<float>& v) {
    float held[kSpeciesSlots + 1], heldEntry[kSpeciesSlots + 1];
    for (int q = 1; q <= kSpeciesSlots; ++q) {
      held[q] = mp.concentration[q];
      heldEntry[q] = pv.P[kLoadingOffset + q];
    }
    mp.concentrationsLinear = 1;
    const float rmsd = SimplexSim(v.data(), host);
    mp.concentrationsLinear = 0;
    for (int q = 1; q <= kSpeciesSlots; ++q)
      if (!pv.F[kLoadingOffset + q]) {
        mp.concentration[q] = held[q];
        pv.P[kLoadingOffset + q] = heldEntry[q];
      }
    return rmsd;
  };
  const unsigned char redraw = gSimulationSwitches.redrawDuringSimulation;
  gSimulationSwitches.redrawDuringSimulation = 0;
  fs.fitRunning = 1;
  // With fitted loadings, the end's loadings solved freely: the species
  // that have a say are judged by those.
  if (fittedLoadings) {
    std::vector<float> at(end);
    solveLoadingsLinearly(at);
  }
  // The species placed and the one it is placed beside (itself: moved from
  // where it is).
  std::vector<std::pair<int, int>> pairs;
  std::vector<int> heard;
  const std::vector<std::string> named = NamedUndetermined(endRecord);
  double total = 0.0;
  // Species without a say that still carry a loading, less than a minor
  // share of what the species with a say at positive s carry: a level
  // beside the boundaries of the data (not the level of featureless scans,
  // which carries all there is).
  bool level[kSpeciesSlots + 1] = {};
  float share[kSpeciesSlots + 1] = {};
  for (int k = 1; k <= kSpeciesSlots; ++k)
    if (mp.included[k]) {
      share[k] = std::fabs(mp.scaleFactor[k]);
      total += std::fabs(mp.scaleFactor[k]);
      if (!WithoutASay(k, named))
        heard.push_back(k);
      else
        level[k] = mp.scaleFactor[k] != 0.0f;
    }
  double boundaries = 0.0;
  for (int k : heard)
    if (pv.P[k + kSpeciesSlots] > 0.0f) boundaries += std::fabs(mp.scaleFactor[k]);
  for (int k = 1; k <= kSpeciesSlots; ++k)
    level[k] = level[k] && std::fabs(mp.scaleFactor[k]) < kMinorShare * boundaries;
  bool anyMinor = false;
  for (int a = 1; a <= kSpeciesSlots; ++a) {
    if (!mp.included[a] || (!pv.F[a] && !pv.F[a + kSpeciesSlots])) continue;
    const bool mute = std::find(heard.begin(), heard.end(), a) == heard.end();
    const bool minor = std::fabs(mp.scaleFactor[a]) < kMinorShare * total;
    anyMinor = anyMinor || minor;
    if (!mute && endRecord.kind != FitEndKind::Undetermined) pairs.emplace_back(a, a);
    for (int k : heard)
      if (k != a && (mute || minor || endRecord.kind == FitEndKind::NotReached)) pairs.emplace_back(a, k);
  }
  // The species parted from one that has its say: (its fellow, that one).
  std::vector<std::pair<int, int>> splits;
  for (int k : heard)
    for (int a = 1; a <= kSpeciesSlots; ++a)
      if (a != k && mp.included[a] && pv.F[a + kSpeciesSlots] && pv.F[k + kSpeciesSlots]) splits.emplace_back(a, k);
  // Two others placed around one that has its say: (that one, the slower, the faster).
  std::vector<std::array<int, 3>> arounds;
  for (int k : heard)
    for (int a = 1; a <= kSpeciesSlots; ++a)
      for (int b = a + 1; b <= kSpeciesSlots; ++b)
        if (a != k && b != k && mp.included[a] && mp.included[b] && pv.F[a + kSpeciesSlots] &&
            pv.F[b + kSpeciesSlots] && pv.F[k + kSpeciesSlots])
          arounds.push_back({k, a, b});
  // With a share held, two species whose s and size are fitted exchanged:
  // the held share goes to the other boundary, where no step of s and size
  // carries it.
  std::vector<std::pair<int, int>> exchanges;
  if (!mp.concentrationsLinear)
    for (int a = 1; a <= kSpeciesSlots; ++a)
      for (int k = a + 1; k <= kSpeciesSlots; ++k)
        if (mp.included[a] && mp.included[k] && (ShareHeld(a) || ShareHeld(k)) && pv.F[a] && pv.F[k] &&
            pv.F[a + kSpeciesSlots] && pv.F[k + kSpeciesSlots])
          exchanges.emplace_back(a, k);
  // A flat species parted from one that has its say: (the flat one, that one).
  std::vector<std::pair<int, int>> aparts;
  for (int a = 1; a <= kSpeciesSlots; ++a)
    if (SpeciesFlatBeforeTheFirstScan(a) && pv.F[a] && pv.F[a + kSpeciesSlots])
      for (int k : heard)
        if (k != a && pv.F[k + kSpeciesSlots]) aparts.emplace_back(a, k);
  const std::vector<std::pair<int, int>> outOfAMisfit = PlacementsOutOfAMisfit(misfit);
  // Species placed anew: one without a say, and at a misfit any species whose s
  // is fitted. Beside the others there may be no place for it where a boundary
  // of the data is (one species alone; none at positive s; the data's boundary
  // far slower or faster than any other's), and at a misfit its own size can say
  // nothing of where it belongs: a species spread flat at a frictional ratio far
  // below 1 (0.98 S at 800 Da), taking up a slow boundary and a baseline at
  // once, the meniscus and the others displaced to make up for it, is no
  // floating one, yet no move from its own s and size or beside the others leads
  // down. It is tried at every s whose boundary the fit range sees, at the sizes
  // of a few frictional ratios, the others held (at an end without a misfit only
  // where no move above lowered it). A species alone is placed so only: moved a
  // little from where it has its say, it takes the minimiser's own steps.
  // Nothing lies below an exact fit.
  std::vector<int> anew;
  int included = 0;
  for (int a = 1; a <= kSpeciesSlots; ++a) {
    if (!mp.included[a]) continue;
    ++included;
    if (!pv.F[a + kSpeciesSlots]) continue;
    const bool mute = std::find(heard.begin(), heard.end(), a) == heard.end();
    if (mute || misfit) anew.push_back(a);
  }
  if (included == 1) pairs.clear();
  const bool exact = !(CalcRmsd() > RmsdResolution());
  const std::vector<float> inView = anew.empty() || exact ? std::vector<float>() : SInView();
  if (inView.empty()) anew.clear();
  if (pairs.empty() && splits.empty() && arounds.empty() && exchanges.empty() && aparts.empty() &&
      outOfAMisfit.empty() && anew.empty()) {
    if (fittedLoadings) {
      platform::InputHold hold;
      SimplexSim(end.data(), host);
    }
    fs.fitRunning = 0;
    gSimulationSwitches.redrawDuringSimulation = redraw;
    return EndPlacement::None;
  }
  // The end's own misfit, by the same target as the trials.
  std::vector<float> at(end);
  const float endRmsd = SimplexSim(at.data(), host);
  // The lowest of the moves of one species, and of two moved together.
  float lowest = endRmsd, lowestPair = endRmsd, lowestApart = kRejectedTrial;
  std::vector<float> bestApart(end);
  // The ways out of a misfit (and out of a level, kLevelPlaced), each with
  // its lowest point (kNotApart: a trial judged by whether it lies lower).
  enum { kNotApart, kFlatParted, kPlacedOut, kSplitOut, kLevelPlaced, kWaysOut };
  float lowestOfWay[kWaysOut];
  std::vector<float> bestOfWay[kWaysOut];
  // Of each kind of trial, the lowest that moved the misfit by at least a
  // unit of chi-square (a move the solve gives no loading changes nothing).
  float lowestMoved[2] = {kRejectedTrial, kRejectedTrial};
  std::vector<float> bestMoved[3];
  for (int w = 0; w < kWaysOut; ++w) lowestOfWay[w] = kRejectedTrial;
  float saved[kParameterSlots + 1];
  std::copy(pv.P, pv.P + kParameterSlots + 1, saved);
  const std::vector<float> near(std::begin(kNearSFactors), std::end(kNearSFactors));
  const std::vector<float> beside(std::begin(kBesideSFactors), std::end(kBesideSFactors));
  const std::vector<float> sizes(std::begin(kSizeFactors), std::end(kSizeFactors));
  const std::vector<float> wideSizes(std::begin(kWideSizeFactors), std::end(kWideSizeFactors));
  // One trial: the end's parameters changed by `move`, the loadings solved
  // anew; the lowest of its kind is kept.
  // The kinds of trial: one species moved, two together, two exchanged
  // where one has a held share (plainly, or at sizes scaled).
  enum { kOne, kTwo, kExchange, kHeldExchange, kKinds };
  struct Candidate {
    float bound;
    bool pair;
    int kind;
    std::array<float, kParameterSlots + 1> P;
  };
  std::vector<Candidate> candidates;
  // `apart`: the way out of a misfit the trial takes (a flat species parted
  // from another among them), kept apart from the others' lowest, and the
  // lowest of each way as well.
  auto tryMove = [&](int kind, auto&& move, int apart = kNotApart) {
    const bool pair = kind == kTwo || kind == kHeldExchange;
    if (fs.stopRequested) return;
    std::copy(saved, saved + kParameterSlots + 1, pv.P);
    move();
    if (fittedLoadings) {
      // Then held where the user holds them; the trial is ranked by the
      // misfit of its loadings solved freely, which is no higher (a flat
      // species parted is taken at those loadings as they are).
      PackFitVectorUnclamped(n, trial.data());
      const float solved = solveLoadingsLinearly(trial);
      double amplitude[kSpeciesSlots + 1];
      for (int q = 1; q <= kSpeciesSlots; ++q) amplitude[q] = mp.included[q] ? mp.scaleFactor[q] : 0.0;
      if (!(solved < kRejectedTrial) || fs.stopRequested || !LoadingsFromAmplitudes(amplitude, saved)) return;
      if (!apart) {
        Candidate c{solved, pair, kind, {}};
        std::copy(pv.P, pv.P + kParameterSlots + 1, c.P.begin());
        candidates.push_back(c);
        return;
      }
    }
    PackFitVectorUnclamped(n, trial.data());
    const float y = SimplexSim(trial.data(), host);
    const int of = pair ? 1 : 0;
    if (apart == kNotApart && !fittedLoadings && y < lowestMoved[of] &&
        -ChiSquareFall(endRmsd, y, fs.rmsdPointCount, RmsdResolution()) >= kStalledChiSquare) {
      lowestMoved[of] = y;
      bestMoved[of] = trial;
    }
    if (apart != kNotApart && y < lowestOfWay[apart]) {
      lowestOfWay[apart] = y;
      bestOfWay[apart] = trial;
    }
    if (apart != kNotApart && y < lowestApart) {
      lowestApart = y;
      bestApart = trial;
    }
    float& low = pair ? lowestPair : lowest;
    if (y < low) {
      low = y;
      (pair ? bestPair : best) = trial;
    }
  };
  // Species a at species k's s and size times the factors, k at its s
  // times kFactor.
  auto place = [&](int a, int k, float sf, float mf, float kFactor) {
    if (pv.F[a]) pv.P[a] = mf * saved[k];
    if (pv.F[a + kSpeciesSlots]) pv.P[a + kSpeciesSlots] = sf * saved[k + kSpeciesSlots];
    if (pv.F[k + kSpeciesSlots]) pv.P[k + kSpeciesSlots] = kFactor * saved[k + kSpeciesSlots];
  };
  for (const auto& [a, k] : pairs) {
    for (float sf : a == k ? near : beside)
      for (float mf : fittedLoadings ? wideSizes : sizes)
        // Beside itself, or on the other: no move, or two the solve cannot part.
        if (sf != 1.0f || mf != 1.0f) tryMove(kOne, [&] { place(a, k, sf, mf, 1.0f); });
    if (a != k && pv.F[k + kSpeciesSlots])
      for (float sf : beside)
        for (float kFactor : kFellowSFactors)
          if (sf != 1.0f) tryMove(kTwo, [&] { place(a, k, sf, 1.0f, kFactor); });
  }
  for (const auto& [a, k] : splits)
    for (const Split& split : kSplits)
      // Parted in size alone, two species whose sizes are held are one.
      if (split.s != 1.0f || pv.F[a] || pv.F[k]) tryMove(kTwo, [&] {
        pv.P[a + kSpeciesSlots] = split.s * saved[k + kSpeciesSlots];
        pv.P[k + kSpeciesSlots] = saved[k + kSpeciesSlots] / split.s;
        if (pv.F[a]) pv.P[a] = split.size * saved[k];
        if (pv.F[k]) pv.P[k] = saved[k] / split.size;
      });
  // At the size the same frictional ratio gives: M as s^1.5, D as s^-0.5.
  auto sizeAt = [&](int k, float factor) {
    return saved[k] * std::pow(factor, gFitEngineState.molarMassParameters ? 1.5f : -0.5f);
  };
  for (const auto& [k, a, b] : arounds)
    for (const Around& around : kArounds)
      tryMove(kTwo, [&] {
        pv.P[a + kSpeciesSlots] = around.slower * saved[k + kSpeciesSlots];
        pv.P[b + kSpeciesSlots] = around.faster * saved[k + kSpeciesSlots];
        if (pv.F[a]) pv.P[a] = sizeAt(k, around.slower);
        if (pv.F[b]) pv.P[b] = sizeAt(k, around.faster);
      });
  for (const auto& [a, k] : aparts)
    for (float slower : kApartSlower)
      for (float faster : kApartFaster)
        tryMove(
            kTwo,
            [&] {
              pv.P[a + kSpeciesSlots] = slower * saved[k + kSpeciesSlots];
              pv.P[k + kSpeciesSlots] = faster * saved[k + kSpeciesSlots];
              pv.P[a] = sizeAt(k, slower);
              if (pv.F[k]) pv.P[k] = sizeAt(k, faster);
            },
            kFlatParted);
  for (const auto& [a, k] : exchanges)
    tryMove(kExchange, [&] {
      std::swap(pv.P[a], pv.P[k]);
      std::swap(pv.P[a + kSpeciesSlots], pv.P[k + kSpeciesSlots]);
    });
  // A species with a held share carries a loading no step of its own
  // changes: where its boundary is not the one that loading belongs to, its
  // s and size must move by more than any step does, and the others with
  // it. It is moved widely (its size across, and its s with the size the
  // same frictional ratio gives), and exchanged with each other species at
  // sizes scaled: a species spread across two boundaries sharpens once it
  // holds one.
  for (int h = 1; h <= kSpeciesSlots && fittedLoadings; ++h) {
    if (!ShareHeld(h) || !pv.F[h] || !pv.F[h + kSpeciesSlots]) continue;
    for (float mf : kHeldSizeFactors)
      tryMove(kOne, [&] { pv.P[h] = mf * saved[h]; });
    for (float sf : kHeldSFactors)
      for (float mf : kExchangeSizeFactors)
        tryMove(kOne, [&] {
          pv.P[h + kSpeciesSlots] = sf * saved[h + kSpeciesSlots];
          pv.P[h] = mf * sizeAt(h, sf);
        });
    for (const auto& [a, k] : exchanges) {
      if (a != h && k != h) continue;
      const int o = a == h ? k : a;
      for (float hf : kExchangeSizeFactors)
        for (float sf : kExchangeSFactors)
          for (float of : kExchangeSizeFactors)
            // Unscaled, the plain exchange above.
            if (hf != 1.0f || sf != 1.0f || of != 1.0f) tryMove(kHeldExchange, [&] {
                pv.P[h + kSpeciesSlots] = saved[o + kSpeciesSlots];
                pv.P[h] = hf * saved[o];
                pv.P[o + kSpeciesSlots] = sf * saved[h + kSpeciesSlots];
                pv.P[o] = of * sizeAt(h, sf);
              });
    }
  }
  // Where no trial above lowered the end (with loadings fitted, before they
  // are solved under the held ones).
  const bool loweredSoFar =
      !fittedLoadings && (ChiSquareFall(endRmsd, lowest, fs.rmsdPointCount, RmsdResolution()) >= kStalledChiSquare ||
                          ChiSquareFall(endRmsd, lowestPair, fs.rmsdPointCount, RmsdResolution()) >= kPairMoveChiSquare);
  // At a misfit the fitted meniscus and bottom are placed anew with the
  // species: the end can hold the meniscus at a limit of its range, where
  // the boundaries of the data start elsewhere than any species placed
  // there can (one species of 9.3 S at -2.2 S, the meniscus pressed 0.04 cm
  // out: every s in view lay above that end).
  std::vector<std::pair<int, float>> cellEnds(1, {0, 0.0f});
  if (misfit)
    for (int slot : {13, 14}) {
      if (!pv.F[slot] || (slot == 14 && mp.cellLengthOption)) continue;
      const float low = slot == 13 ? fs.meniscusMin : fs.bottomMin, high = slot == 13 ? fs.meniscusMax : fs.bottomMax;
      if (!(high > low)) continue;
      for (int i = 0; i < kAnewCellEndPositions; ++i)
        cellEnds.emplace_back(slot, low + (high - low) * (i + 0.5f) / kAnewCellEndPositions);
    }
  // Each a move of two quantities out of many trials, judged as a pair. At
  // a misfit they are tried even where a small move lowered the end: such a
  // fall leads the fit on into the same arrangement (a boundary of the data
  // left to the noise terms and a flat level beside the others) until the
  // checks run out.
  if (!loweredSoFar || misfit)
    for (int a : anew) {
      // A level beside the boundaries of the data can stand in for what the
      // others' displacement leaves (0.04 S at a loading of 0.013 beside one
      // species spread across two boundaries, 330 units of chi-square above
      // the minimum): placed where a boundary is, it gives that level up,
      // and every such point lies 20 to 40 units above the end until the
      // others move back. The lowest of them is a point to go on from once,
      // as a way out of a misfit is; the end stands unless that fit ends
      // lower.
      const int way = !misfit && !fittedLoadings && level[a] ? kLevelPlaced : kNotApart;
      for (float sv : inView)
        for (float ff0 : kAnewFrictionalRatios) {
          const float size = pv.F[a] ? SizeAtFrictionalRatio(sv, ff0) : 0.0f;
          for (const auto& [slot, value] : cellEnds)
            // Each position at one frictional ratio: its boundary's place,
            // not its breadth, is what the meniscus changes.
            if (!slot || ff0 == kAnewFrictionalRatios[1] || !(size > 0.0f))
              tryMove(
                  kTwo,
                  [&] {
                    pv.P[a + kSpeciesSlots] = sv;
                    if (size > 0.0f) pv.P[a] = size;
                    if (slot) pv.P[slot] = value;
                  },
                  way);
          if (!(size > 0.0f)) break;
        }
    }
  if (fittedLoadings) {
    // The trials whose freely solved loadings leave a misfit low enough to
    // show the end was no minimum, lowest first: each solved under the
    // held loadings, at most kHeldSolvedTrials of each kind.
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& x, const Candidate& y) { return x.bound < y.bound; });
    int solvedOfKind[kKinds] = {};
    for (const Candidate& c : candidates) {
      if (fs.stopRequested) break;
      const double fall = ChiSquareFall(endRmsd, c.bound, fs.rmsdPointCount, RmsdResolution());
      if (fall < kStalledChiSquare) break;
      if ((c.pair && fall < kPairMoveChiSquare) || (c.kind != kExchange && solvedOfKind[c.kind] >= kHeldSolvedTrials))
        continue;
      ++solvedOfKind[c.kind];
      std::copy(c.P.begin(), c.P.end(), pv.P);
      const float y = SolveUnderHeldLoadings(n, trial.data(), host);
      float& low = c.pair ? lowestPair : lowest;
      if (y < low) {
        low = y;
        (c.pair ? bestPair : best) = trial;
      }
    }
    // Where none of them is lower, the held loadings can still bind the
    // species where they are, too far from where they belong for any move
    // of one or two (a held share on another species' boundary, every
    // species displaced to make up for it): the end is judged against the
    // fit with its loadings free, as two species moved together.
    const double points = fs.rmsdPointCount, resolution = RmsdResolution();
    if (!fs.stopRequested && ChiSquareFall(endRmsd, lowest, points, resolution) < kStalledChiSquare &&
        ChiSquareFall(endRmsd, lowestPair, points, resolution) < kPairMoveChiSquare) {
      std::copy(saved, saved + kParameterSlots + 1, pv.P);
      const float y = PlaceUnderHeldLoadingsFromFreeFit(n, saved, endRmsd, trial.data(), host);
      if (y < lowestPair) {
        lowestPair = y;
        bestPair = trial;
      }
      // Not lower by that margin, the point still lies where the fit with
      // loadings free, lower by it, leads: the held share on a boundary
      // there, the others short of their places (two species at one s,
      // their sizes traded), which the short run does not reach. The fit
      // goes on from it once and keeps the lower end.
      if (y < kRejectedTrial && y < lowestApart && ChiSquareFall(endRmsd, y, points, resolution) < kPairMoveChiSquare) {
        lowestApart = y;
        bestApart = trial;
      }
    }
  }
  // Out of a misfit only where no trial above lowered the end: a fit that
  // goes on from a lower point anyway costs no more.
  const bool lowered =
      ChiSquareFall(endRmsd, lowest, fs.rmsdPointCount, RmsdResolution()) >= kStalledChiSquare ||
      ChiSquareFall(endRmsd, lowestPair, fs.rmsdPointCount, RmsdResolution()) >= kPairMoveChiSquare;
  // The fastest boundary of the data: a boundary beyond it is one no other
  // species has. A species whose boundary has left the fit range by the
  // first scan shows none, only a level or a slope (140 S at 12 kDa,
  // standing in for a baseline): beyond it lies nothing to place.
  int fastest = 0;
  for (int q = 1; q <= kSpeciesSlots; ++q)
    if (mp.included[q] && !BoundaryPastTheFitRangeByTheFirstScan(saved[q + kSpeciesSlots]) &&
        (fastest == 0 || saved[q + kSpeciesSlots] > saved[fastest + kSpeciesSlots]))
      fastest = q;
  if (!lowered)
    for (const auto& [a, k] : outOfAMisfit) {
      const bool floating = saved[a + kSpeciesSlots] <= 0.0f;
      if (floating || k == fastest)
        for (float sf : beside)
          if (floating || sf > 1.0f)
            for (float mf : sizes) tryMove(kOne, [&] { place(a, k, sf, mf, 1.0f); }, kPlacedOut);
      if (pv.F[k + kSpeciesSlots])
        for (float f : kMisfitSplitFactors)
          for (float af : {f, 1.0f / f}) {
            tryMove(
                kTwo,
                [&] {
                  pv.P[a + kSpeciesSlots] = af * saved[k + kSpeciesSlots];
                  pv.P[k + kSpeciesSlots] = saved[k + kSpeciesSlots] / af;
                  if (pv.F[a]) pv.P[a] = sizeAt(k, af);
                  if (pv.F[k]) pv.P[k] = sizeAt(k, 1.0f / af);
                },
                kSplitOut);
            // At the sizes of a few frictional ratios too: a species spread
            // across two boundaries (far broader than any molecule of its s)
            // split at its own frictional ratio gives two as broad.
            for (float ff0 : kAnewFrictionalRatios) {
              if (!pv.F[a] && !pv.F[k]) break;
              const float sa = af * saved[k + kSpeciesSlots], sk = saved[k + kSpeciesSlots] / af;
              const float ma = SizeAtFrictionalRatio(sa, ff0), mk = SizeAtFrictionalRatio(sk, ff0);
              if (!(ma > 0.0f) || !(mk > 0.0f)) break;
              tryMove(
                  kTwo,
                  [&] {
                    pv.P[a + kSpeciesSlots] = sa;
                    pv.P[k + kSpeciesSlots] = sk;
                    if (pv.F[a]) pv.P[a] = ma;
                    if (pv.F[k]) pv.P[k] = mk;
                  },
                  kSplitOut);
            }
          }
    }
  // Where no trial lowered an end that holds a species with a small share
  // of the loadings, or whose residuals leave a misfit, the placements are
  // judged once the quantities they did not move have followed them: a
  // species merged from two beside a spurious small one is held there by
  // the others, which make up for both (a third species, the meniscus
  // 0.005 cm short), and every placement lies above the end until they
  // move back (the small one placed beside the merged one lay 60 units of
  // chi-square above an end 6 500 above the minimum, and 700 below it
  // after a short run). The lowest placement of each kind
  // that moved the misfit goes on so, and beside an end with a small share
  // the largest share parted a little from it (kCloseSplit); the lowest of
  // those counts as two species moved together, as it frees every quantity.
  if (!fs.stopRequested && !exact && (misfit || anyMinor) &&
      ChiSquareFall(endRmsd, lowest, fs.rmsdPointCount, RmsdResolution()) < kStalledChiSquare &&
      ChiSquareFall(endRmsd, lowestPair, fs.rmsdPointCount, RmsdResolution()) < kPairMoveChiSquare)
    for (int of = 0; of < 3 && !fs.stopRequested; ++of) {
      if (of == 2) {
        // The largest share parted a little from the smallest beside it.
        int k = 0, a = 0;
        for (int q : heard)
          if (pv.F[q + kSpeciesSlots] && (k == 0 || share[q] > share[k])) k = q;
        for (int q = 1; q <= kSpeciesSlots; ++q)
          if (q != k && mp.included[q] && pv.F[q + kSpeciesSlots] &&
              (a == 0 || share[q] < share[a]))
            a = q;
        if (!anyMinor || k == 0 || a == 0) break;
        std::copy(saved, saved + kParameterSlots + 1, pv.P);
        pv.P[k + kSpeciesSlots] = kCloseSplit * saved[k + kSpeciesSlots];
        pv.P[a + kSpeciesSlots] = saved[k + kSpeciesSlots] / kCloseSplit;
        if (pv.F[a]) pv.P[a] = saved[k];
        bestMoved[of].assign(end.size(), 0.0f);
        PackFitVectorUnclamped(n, bestMoved[of].data());
      } else if (!(lowestMoved[of] < kRejectedTrial)) {
        continue;
      }
      std::vector<float> followed(bestMoved[of]);
      const float y = FollowedPlacement(n, followed, host);
      if (y < lowestPair) {
        lowestPair = y;
        bestPair = followed;
      }
    }
  std::copy(saved, saved + kParameterSlots + 1, pv.P);
  fs.fitRunning = 0;
  const bool stopped = fs.stopRequested != 0;
  const double points = fs.rmsdPointCount, resolution = RmsdResolution();
  const bool singleLower = ChiSquareFall(endRmsd, lowest, points, resolution) >= kStalledChiSquare;
  const bool pairLower = ChiSquareFall(endRmsd, lowestPair, points, resolution) >= kPairMoveChiSquare;
  if (pairLower && (!singleLower || lowestPair < lowest)) best = bestPair;
  const bool lower = !stopped && (singleLower || pairLower);
  const bool apart = !stopped && !lower && lowestApart < kRejectedTrial;
  if (apart && apartPoints) {
    std::vector<int> ways;
    for (int w = kNotApart + 1; w < kWaysOut; ++w)
      if (lowestOfWay[w] < kRejectedTrial) ways.push_back(w);
    std::stable_sort(ways.begin(), ways.end(), [&](int x, int y) { return lowestOfWay[x] < lowestOfWay[y]; });
    apartPoints->clear();
    for (int w : ways) apartPoints->push_back(bestOfWay[w]);
    if (apartPoints->empty()) apartPoints->push_back(bestApart);
  }
  fs.stopRequested = 0;
  {
    platform::InputHold hold;
    SimplexSim(lower ? best.data() : apart ? bestApart.data() : end.data(), host);
  }
  gSimulationSwitches.redrawDuringSimulation = redraw;
  return stopped ? EndPlacement::Stopped : lower ? EndPlacement::Lower : apart ? EndPlacement::Apart : EndPlacement::None;
}

FitRunEnd FitByChosenMethod(FitHost* host);

// "s1 and M1 (9.52 S, 10023 Da) give a frictional ratio of 0.18".
std::string SpeciesRatioText(int k, double ratio) {
  const ModelParams& mp = gModelParams;
  char text[160];
  std::snprintf(text, sizeof text,
                gFitEngineState.molarMassParameters
                    ? "s%d and M%d (%.3g S, %.0f Da) give a frictional ratio of %.2f"
                    : "s%d and D%d (%.3g S, %.3g x 1e-7 cm^2/s) give a frictional ratio of %.2f",
                k, k, mp.s[k], mp.massOrD[k], ratio);
  return text;
}

// The first species with s and size whose frictional ratio lies below a
// sphere's (no molecule is smaller than a sphere of its mass): "s3 and M3
// (7.34 S, 27535 Da) give a frictional ratio of 0.45"; empty where none.
std::string SpeciesBelowASphere() {
  const ModelParams& mp = gModelParams;
  const ModelParameterVector& pv = gModelParameterVector;
  for (int k = 1; k <= kSpeciesSlots; ++k) {
    if (!mp.included[k] || (!pv.F[k] && !pv.F[k + kSpeciesSlots]) || !(mp.s[k] > 0.0f)) continue;
    const double ratio = FrictionalRatioFromSD(mp.s[k], SpeciesDiffusion(mp.s[k], mp.massOrD[k]));
    if (!(ratio > 0.0) || ratio >= 1.0) continue;
    return SpeciesRatioText(k, ratio);
  }
  return {};
}

// Species k's s and size as SpeciesBelowASphere tells them, where they give
// a frictional ratio at the least a fit allows (or a little below it, where
// the fit started there); empty otherwise (a species held at the largest D
// a solute has, its ratio above that least, or one a start put far below it,
// at 0.05: a species near equilibrium by the first scans, of which the data
// see s/D alone).
std::string SpeciesAtTheLeastRatio(int k) {
  const ModelParams& mp = gModelParams;
  const double ratio = FrictionalRatioFromSD(mp.s[k], SpeciesDiffusion(mp.s[k], mp.massOrD[k]));
  if (!(ratio >= 0.5 * kLeastSpeciesFrictionalRatio) || ratio > 1.02 * kLeastSpeciesFrictionalRatio) return {};
  return SpeciesRatioText(k, ratio);
}

// A Marquardt end every trial from which was rejected, where the check of
// the end found no way on: the misfit itself is asked, as the c(s) fits
// ask it (with the meniscus fitted the derivatives promise falls that no
// step gives at the minimum itself: four species fitted with three ended
// "stopped away" at the lowest rmsd of every method). Each fitted quantity
// is moved both ways by its standard error, the others following as the
// covariance ties them (at most kStalledMove of a value). Where every probe
// was computed and none lowers chi-square by a unit, the end is a minimum as
// far as the data tell and is told reached, unless a species there is
// smaller than a sphere of its mass: a minimum of the misfit, not of
// molecules (one species spread across two boundaries, at the best of
// four species fitted with three, or beside two on one boundary five times
// the noise away), told as such. Asked after the check, the probes change
// nothing the fit went through.
void TellRejectedEndByTheMisfit(FitHost* host, int codeBefore) {
  FitEngineState& fs = gFitEngineState;
  const MarquardtResult& result = LastMarquardtResult();
  const int n = ParametersToFitVector(0, nullptr);
  if (n <= 0 || static_cast<int>(result.covariance.size()) != n) return;
  std::vector<float> end(static_cast<size_t>(n) + 1), probe(end);
  PackFitVectorUnclamped(n, end.data());
  const float endRmsd = CalcRmsd();
  const double points = fs.rmsdPointCount, resolution = RmsdResolution();
  if (!(endRmsd > resolution)) return;
  const double sigma2 = static_cast<double>(endRmsd) * endRmsd;
  bool minimum = true, stopped = false;
  int probed = 0;
  {
    QuietTrials quiet;
    const unsigned char redraw = gSimulationSwitches.redrawDuringSimulation;
    gSimulationSwitches.redrawDuringSimulation = 0;
    fs.fitRunning = 1;
    for (int j = 1; j <= n && minimum && !fs.stopRequested; ++j) {
      const std::vector<double>& column = result.covariance[static_cast<size_t>(j) - 1];
      const double cjj = column[static_cast<size_t>(j) - 1];
      if (!std::isfinite(cjj) || !(cjj > 0.0)) continue;
      std::vector<double> d(static_cast<size_t>(n) + 1, 0.0);
      double largest = 0.0;
      for (int k = 1; k <= n; ++k) {
        d[k] = column[static_cast<size_t>(k) - 1] * std::sqrt(sigma2 / cjj);
        if (!std::isfinite(d[k])) d[k] = 0.0;
        if (end[k] != 0.0f) largest = std::max(largest, std::fabs(d[k] / end[k]));
      }
      const double shrink = largest > kStalledMove ? kStalledMove / largest : 1.0;
      ++probed;
      for (double sign : {1.0, -1.0}) {
        for (int k = 1; k <= n; ++k) probe[k] = static_cast<float>(end[k] + sign * shrink * d[k]);
        const float y = SimplexSim(probe.data(), host);
        if (!(y < kRejectedTrial) || ChiSquareFall(endRmsd, y, points, resolution) >= kStalledChiSquare)
          minimum = false;
      }
    }
    stopped = fs.stopRequested != 0;
    fs.stopRequested = 0;
    {
      platform::InputHold hold;
      SimplexSim(end.data(), host);
    }
    fs.fitRunning = 0;
    gSimulationSwitches.redrawDuringSimulation = redraw;
  }
  // Without a covariance (the end's own point could not be computed again)
  // nothing was asked.
  if (stopped || !minimum || probed == 0) return;
  const std::string sphere = SpeciesBelowASphere();
  if (!sphere.empty()) {
    if (gSerialFitSettings.running) gSerialFitSettings.errorCode = 10;
    RecordFitEnd(host, FitEndKind::NotReached,
                 "the fit ended at a minimum of the misfit (every step from there was rejected and no probe fell by a "
                 "unit of chi-square) where " + sphere + ", below a sphere's (1), which no molecule has: another "
                 "start, or another number of species, may fit the data better; the best parameters found are kept; "
                 "a second Fit, or the simplex, continues from there");
    return;
  }
  if (gSerialFitSettings.running) gSerialFitSettings.errorCode = codeBefore;
  RecordFitEnd(host, FitEndKind::Reached, "the fit reached its minimum");
}

// Whether the data press species k beyond its least size (a frictional
// ratio of 0.2 at its s): with its s a fiftieth further from 0 at its size,
// or its size a twentieth smaller at its s, both beyond that floor and the
// others held, chi-square falls by a unit or more (sigma from `endRmsd`).
// Where neither falls, the others may be making up for the floor (the
// meniscus 0.008 cm short beside a species held there): from its size a
// twentieth beyond the floor, with the floor lowered by a quarter, a short
// simplex run over every quantity (kFollowEvaluations) that ends with the
// species beyond the floor, lower by what a pair moved together must
// show, presses it too. The model is left at the end again.
bool PressedBeyondTheLeastSize(int k, float endRmsd, FitHost* host) {
  FitEngineState& fs = gFitEngineState;
  ModelParameterVector& pv = gModelParameterVector;
  ModelParams& mp = gModelParams;
  const bool mass = fs.molarMassParameters != 0;
  const float s = pv.P[k + kSpeciesSlots], size = pv.P[k];
  const float beyond = mass ? 0.95f * size : size / 0.95f;
  const double points = fs.rmsdPointCount, resolution = RmsdResolution();
  const int n = ParametersToFitVector(0, nullptr);
  std::vector<float> end(static_cast<size_t>(n) + 1);
  PackFitVectorUnclamped(n, end.data());
  bool pressed = false;
  QuietTrials quiet;
  const unsigned char redraw = gSimulationSwitches.redrawDuringSimulation;
  gSimulationSwitches.redrawDuringSimulation = 0;
  for (int way = 0; way < 2 && !pressed; ++way) {
    pv.P[k + kSpeciesSlots] = mp.s[k] = way == 0 ? 1.02f * s : s;
    pv.P[k] = mp.massOrD[k] = way == 0 ? size : beyond;
    host->SimulateModel();
    const float y = CalcRmsd();
    pressed = std::isfinite(y) && ChiSquareFall(endRmsd, y, points, resolution) >= kStalledChiSquare;
  }
  pv.P[k + kSpeciesSlots] = mp.s[k] = s;
  pv.P[k] = mp.massOrD[k] = size;
  if (!pressed && n > 0) {
    SpeciesFloorLowered lowered(k, 0.75f);
    pv.P[k] = beyond;
    std::vector<float> followed(end);
    PackFitVectorUnclamped(n, followed.data());
    pv.P[k] = size;
    fs.fitRunning = 1;
    const float y = FollowedPlacement(n, followed, host);
    SimplexSim(followed.data(), host);
    float low = 0.0f, high = 0.0f;
    const bool past = SpeciesFitLimits(k, pv.P[k + kSpeciesSlots], &low, &high) &&
                      (mass ? pv.P[k] < low : pv.P[k] > high);
    pressed = fs.stopRequested == 0 && past && ChiSquareFall(endRmsd, y, points, resolution) >= kPairMoveChiSquare;
    fs.stopRequested = 0;
    fs.fitRunning = 0;
  }
  // The end is put back whatever was asked meanwhile.
  const unsigned char stop = fs.stopRequested;
  fs.stopRequested = 0;
  {
    platform::InputHold hold;
    SimplexSim(end.data(), host);
  }
  fs.stopRequested = stop;
  gSimulationSwitches.redrawDuringSimulation = redraw;
  return pressed;
}

// A species the data press beyond its least size when a fit ends: they want
// it smaller than any molecule is (one species of 10.2 S at 10.7 kDa, a
// ratio of 0.17, fitted from half its s, stopped on that floor at 8.9 S,
// 1.8 times the noise away, where no vertex of the simplex leads on along
// it; from twice its s, 1.5 % above the lowest point on the floor). The end
// is named as Marquardt-Levenberg names steps beyond a range, not reached.
void TellEndHeldAtTheLeastSize(FitHost* host) {
  if (!host || LastFitEnd().kind != FitEndKind::Reached) return;
  const float endRmsd = CalcRmsd();
  if (!(endRmsd > RmsdResolution())) return;
  std::vector<std::string> held;
  std::string least;
  for (int k = 1; k <= kSpeciesSlots; ++k) {
    if (!SpeciesAtItsLeastSize(k) || gModelParams.scaleFactor[k] == 0.0f) continue;
    if (PressedBeyondTheLeastSize(k, endRmsd, host))
      held.push_back((gFitEngineState.molarMassParameters ? "M" : "D") + std::to_string(k));
    else if (least.empty() && !SpeciesFlatBeforeTheFirstScan(k) && !BoundaryNeverInTheFitRange(gModelParams.s[k]))
      least = SpeciesAtTheLeastRatio(k);
  }
  // Not pressed beyond, a species held at the least ratio is still where no
  // molecule is: data with one below it (9.7-10.8 S at 10-11 kDa, a ratio
  // of 0.16-0.18) left every fit there 1.02 to 2 times the noise of the
  // fit that starts beyond it, with no probe from the end falling. (A
  // species flat before the first scan, or whose boundary never reaches
  // the fit range, shows the data no size of its own.)
  if (held.empty() && !least.empty()) {
    if (gSerialFitSettings.running) gSerialFitSettings.errorCode = 10;
    RecordFitEnd(host, FitEndKind::NotReached,
                 "the fit ended at a minimum of the misfit within its ranges, where " + least +
                     ", the least a fit allows, which no molecule has: another start, or another number of species, "
                     "may fit the data better; the best parameters found are kept; a second Fit, or the simplex, "
                     "continues from there");
  }
  if (held.empty()) return;
  std::string list;
  for (size_t i = 0; i < held.size(); ++i) list += (i == 0 ? "" : i + 1 == held.size() ? " and " : ", ") + held[i];
  ReportStoppedAwayFromMinimum(host, "its steps lead beyond the fit range of " + list + ", which is held at its limit");
}

// Whether Fit runs the simplex: Levenberg-Marquardt runs instead where it is
// the method chosen, and as the annealing schedule's finishing pass where
// that pass is asked of it.
bool SimplexChosen() {
  const FitEngineState& fs = gFitEngineState;
  return !fs.useMarquardt && !(fs.useAnnealing && fs.annealFinalMarquardt && fs.annealTemperature == 0.0f);
}

// A simplex that says it reached its minimum saw only its own vertices stop
// falling. In a narrow curved valley (three species whose loadings and
// sizes trade, the TI and RI noise and the meniscus making up for each) it
// shrinks across the valley and stops there, 1 000 units of chi-square
// above a minimum that Levenberg-Marquardt, stepping along the valley,
// reaches from that end in a few hundred evaluations, where every
// placement of species from the end lies higher. So a reached simplex end
// is checked by a Marquardt run from it. Lower by what two quantities moved
// together must show, the end was no minimum: Marquardt's end is kept where
// it reached one, and the simplex goes on from there where not. Otherwise
// the simplex's end stands as it was. A stop or the time bound during the
// check keeps the lower of the two. Returns the end of the fit's last run.
FitRunEnd CheckSimplexEndAlongTheValley(FitHost* host, const FitRunEnd& run,
                                        const std::function<EndPlacement(FitHost*)>& place) {
  FitEngineState& fs = gFitEngineState;
  if (run.result != 1 || !SimplexChosen() || LastFitEnd().kind != FitEndKind::Reached || fs.stopRequested ||
      FitStoppedByBudget())
    return run;
  const int n = ParametersToFitVector(0, nullptr);
  const float endRmsd = CalcRmsd();
  // Nothing lies below an exact fit.
  if (n == 0 || !(endRmsd > RmsdResolution())) return run;
  std::vector<float> endPoint(static_cast<size_t>(n) + 1);
  PackFitVectorUnclamped(n, endPoint.data());
  const FitEndRecord endRecord = LastFitEnd();
  const MarquardtResult endResult = LastMarquardtResult();
  const int codeBefore = gSerialFitSettings.errorCode;
  FitRunEnd check;
  {
    // Its trials show no solver box, and it writes no parameter listing:
    // the user asked for neither.
    QuietTrials quiet;
    MarquardtOptions options;
    options.writesListing = false;
    check = RunMarquardt(host, options);
  }
  const float checkedRmsd = CalcRmsd();
  const bool stopped = check.stoppedByTheUser;
  const bool cut = stopped || FitStoppedByBudget();
  const bool lower = cut ? checkedRmsd < endRmsd
                         : ChiSquareFall(endRmsd, checkedRmsd, fs.rmsdPointCount, RmsdResolution()) >= kPairMoveChiSquare;
  if (stopped) {
    RecordFitEnd(host, FitEndKind::Stopped, "the fit was stopped: the best parameters found are kept");
    host->RaiseRealtimeInterrupt();
    gSerialFitSettings.abortRequest = 1;
  }
  if (!lower) {
    {
      platform::InputHold hold;
      SimplexSim(endPoint.data(), host);
    }
    if (!stopped) LastFitEnd() = endRecord;
    RestoreMarquardtResult(endResult);
    gSerialFitSettings.errorCode = codeBefore;
    if (fs.saveBestDuringFit) host->TmpSaveBestParams(0);
    FitRunEnd kept = run;
    kept.ranOutOfIterations = kept.stoppedAfterRejectedTrials = false;
    return kept;
  }
  if (cut || LastFitEnd().kind == FitEndKind::Reached) {
    check.result = run.result;
    return check;
  }
  gSerialFitSettings.errorCode = codeBefore;
  LastFitEnd() = FitEndRecord{FitEndKind::Reached, "the fit reached its minimum"};
  return FitWithEndPlacements(host, FitByChosenMethod, place, true);
}

}  // namespace

int FitCurrentModel(FitHost* host) {
  FitEngineState& fs = gFitEngineState;
  FitBudgetScope wholeFit(host);
  FitSolverBoxScope solverBoxes;
  SpeciesFitRangesScope physicalRanges;
  if (fs.useAnnealing && fs.annealTemperature > 0.0f) return SimulatedAnnealingFit(host, FitCurrentModel);
  if (gModelSelectorFlags.NonidealMultipleSpeciesModel) return FitNonidealComponents(host, FitByChosenMethod);
  if (!SpeciesEndsArePlaced()) return FitByChosenMethod(host).result;
  // The simplex's restarts can run out beside a species standing in for a
  // baseline (0 S and 0 Da at a loading of thousands, the RI offsets making
  // up for it), the data's boundary unmodelled, each restart creeping on:
  // such an end is checked like any other.
  FitEndNoteHold told(host);
  const int codeBefore = gSerialFitSettings.errorCode;
  const std::function<EndPlacement(FitHost*)> place = [](FitHost* h) {
    return PlaceSpeciesWithoutASay(h, LastFitEnd());
  };
  const FitRunEnd run =
      CheckSimplexEndAlongTheValley(host, FitWithEndPlacements(host, FitByChosenMethod, place, true), place);
  if (run.result == 1 && LastFitEnd().kind == FitEndKind::NotReached && run.stoppedAfterRejectedTrials)
    TellRejectedEndByTheMisfit(host, codeBefore);
  if (run.result == 1) TellEndHeldAtTheLeastSize(host);
  return run.result;
}

namespace {

FitRunEnd FitByChosenMethod(FitHost* host) {
  FitEngineState& fs = gFitEngineState;
  if (!SimplexChosen()) return RunMarquardt(host);

  fs.minimiserRuns = 0;
  fs.fitRunning = 1;
  gSimulationSwitches.discretizationWarningShown = 0;
  gSimulationSwitches.inhomogeneousWarningShown = 0;
  const unsigned char redraw = gSimulationSwitches.redrawDuringSimulation;
  gSimulationSwitches.redrawDuringSimulation = 0;
  auto leave = [&](int result) {
    fs.fitRunning = 0;
    gSimulationSwitches.redrawDuringSimulation = redraw;
    FitRunEnd end;
    end.result = result;
    return end;
  };
  if (!host) return leave(0);
  if (!CheckFitLimitsBeforeFit(host)) return leave(0);
  host->RequestRepaint();

  fs.stopRequested = 0;
  fs.evaluationsThisRun = 0;
  fs.evaluationsTotal = 0;

  const int gridSize = host->LammGridSize();
  if (fs.halveGridFirst) host->SetLammGridSize(gridSize / 2);

  ComposeFitInfoText(host);
  fs.startRmsd = fs.startRmsdCopy = fs.currentRmsd;

  const int n = ParametersToFitVector(0, nullptr);
  if (n == 0) {
    if (fs.halveGridFirst) host->SetLammGridSize(gridSize);
    return leave(1);
  }

  FloatMat simplex(1, n + 1, 1, n);
  FloatVec y(1, n + 1);
  float** p = simplex;
  const SimplexRestartsEnd restarts = MinimizeWithRestarts(
      host, n, p, y, fs.maxRelativeChange,
      [&] {
        if (fs.halveGridFirst) host->SetLammGridSize(gridSize);
      },
      [&] {
        if (fs.doubleGridPerRestart) SetGrid(host, 2LL * host->LammGridSize());
      });

  fs.fitRunning = 0;
  // A fit ended by its budget was not interrupted: a series goes on.
  if (fs.stopRequested && !FitStoppedByBudget()) {
    RecordFitEnd(host, FitEndKind::Stopped, "the fit was stopped: the best parameters found are kept");
    host->RaiseRealtimeInterrupt();
    gSerialFitSettings.abortRequest = 1;
  }
  fs.stopRequested = 0;
  {
    platform::InputHold hold;
    SimplexSim(p[restarts.best], host);
  }
  gSimulationSwitches.redrawDuringSimulation = redraw;
  if (fs.saveBestDuringFit) host->TmpSaveBestParams(0);
  host->RequestRepaint();
  DrawFitCurvesDuringFit(host);
  if (host->LammGridSize() >= kLargestGrid)
    host->MessageBox("", "gridsize reached upper limit!", platform::BoxIcon::Warning);
  FitRunEnd end;
  end.result = 1;
  end.ranOutOfRestarts = restarts.ranOutOfRestarts;
  return end;
}

}  // namespace
