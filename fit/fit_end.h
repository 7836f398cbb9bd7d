#pragma once
// How a fit ends, for every method alike: the kinds of end (FitEndKind),
// the record of the last one (LastFitEnd, RecordFitEnd), what a run returns
// to its caller (FitRunEnd), the statistical tests an end is judged by (a
// negligible step, StalledSteps; a quantity the data do not determine; no
// material, FallWithinNoise), each in units of chi-square of the noise,
// and how an end is told (a box, the log line, the result file's
// <FitEnd>: the Report* functions below). The whole fit's bound in time is
// in fit/fit_budget.h.
//
// Steps of a fit (Marquardt-Levenberg steps, simplex restarts) that move a
// parameter for a fall of the misfit the noise cannot tell from none: where
// the data do not determine a quantity (an f/f0 over featureless scans, the
// s and M of a species with no amplitude) every step takes it further, for
// a fall of the sum of squares far above the iterations' own small change
// but below what the data can tell.
//
// The test is statistical, so that it means the same at 300 points as at
// 40 000: with sigma the noise, taken from the fit's rmsd (never below the
// resolution of single-precision signals, RmsdResolution), a fall of the
// sum of squares S of N points by dS is dS / sigma^2 = N dS / S units of
// chi-square. A step is stalled when that is below kStalledChiSquare (one
// unit) while it moves some entry by more than kStalledMove of its value or
// of its start, whichever is larger in magnitude (absolutely where both are
// 0: a quantity near 0, such as a log10 K, has no scale of its own there),
// or by more than maxRelativeChange when that is larger. Moving a quantity
// the data determine that far raises chi-square by far more than a unit;
// one they do not determine moves that far for less than the noise tells.
// Two accepted stalled steps in a row end the fit at its best point, and
// the entries they moved are named as not determined by the data.
#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

class FitHost;

// How a Fit ended. Every end is one of three: the method's own criteria met
// (Reached), a named limit (its count of evaluations, restarts or
// iterations, the annealing schedule, the time bound), or a quantity the data
// do not determine (Undetermined); besides those a Fit can be stopped by the
// user, or end away from a minimum where no step from its best point could
// be taken (NotReached: the model could not be computed, or was not lower,
// along every step tried).
enum class FitEndKind : unsigned char { None, Reached, Limit, Undetermined, NotReached, Stopped };
// The end of the last Fit (None before the first) and what was said of it:
// the window's note, the unattended run's log and result file.
struct FitEndRecord {
  FitEndKind kind = FitEndKind::None;
  std::string text;
};
FitEndRecord& LastFitEnd();

// What one run of a minimiser returns to its caller besides the end it told:
// its result (1 done, also when ended by the whole fit's bound or with
// nothing floated; 0 refused, stopped or failed) and which of its own ends
// it came to, for a caller that goes on from ends.
struct FitRunEnd {
  int result = 0;
  // Marquardt-Levenberg ran out of its iterations away from a minimum (the
  // end told names that limit).
  bool ranOutOfIterations = false;
  // The simplex's restarts ran out without settling.
  bool ranOutOfRestarts = false;
  // Marquardt-Levenberg ended because every trial from its point was
  // rejected (told stopped away from a minimum).
  bool stoppedAfterRejectedTrials = false;
  // A stop of the user's ended it (also one taken before its first step).
  bool stoppedByTheUser = false;
};

// The largest frictional ratio a fit takes (the parameter file's limit):
// beyond it D is so small that the boundaries steepen past what the grid
// resolves, and each evaluation grows slower without telling the data apart.
// A fit that presses against it stays there and the report says so.
constexpr float kMaxFrictionalRatio = 100.0f;
// The smallest: that of a sphere. A fit takes no f/f0 below it (nor below
// the value it starts from, when that is lower): below it D grows beyond any
// particle's, and over featureless scans a fit would walk f/f0 towards 0.
constexpr float kMinFrictionalRatio = 1.0f;

constexpr double kStalledChiSquare = 1.0;
constexpr double kStalledMove = 0.1;

// The smallest rmsd the fit can tell from 0: a few roundings of the
// single-precision signals inside the fit limits (their rms, relative 4
// float epsilons; 1e-30 without signals). An rmsd below it is an exact fit,
// and changes of it are rounding.
double RmsdResolution();

// Units of chi-square by which a step from oldRmsd to newRmsd over `points`
// points lowered the misfit, sigma from newRmsd (at least `resolution`).
double ChiSquareFall(double oldRmsd, double newRmsd, double points, double resolution);

// Whether the species of a distribution fit explain no more of the data
// than noise would: `noiseOnly` is the sum of squares the systematic noise
// terms alone leave (no species at all, a linear solve), `fit` the fit's,
// over `points` points of which the noise terms take `noiseParameters`
// degrees of freedom; the species have `amplitudes` amplitudes and
// `nonlinear` quantities were fitted around them. The fall from
// noiseOnly to fit is judged by the F test against what that many free
// parameters lower the sum of squares by when they fit noise alone: true
// when noise alone gives a fall that large with a probability above
// kNoMaterialProbability (also when nothing fell beyond the rounding of
// `resolution`, the smallest rmsd the fit tells from 0, as over scans the
// noise terms take whole). Without degrees of freedom left to judge by,
// false. `chiSquareFall` (optional) receives the fall in units of
// chi-square, sigma^2 from the fit's sum of squares per degree of freedom.
// The probability is small: the non-negative solve picks, and the fitted
// quantities shape, the boundaries that match the noise best, so a fall
// in noise alone exceeds the test's plain quantiles far more often than
// they say, while a boundary of real material lowers chi-square by
// orders of magnitude more.
constexpr double kNoMaterialProbability = 1e-6;
bool FallWithinNoise(double noiseOnly, double fit, double points, double noiseParameters, int amplitudes,
                     int nonlinear, double resolution, double* chiSquareFall = nullptr);

class StalledSteps {
 public:
  // start[1..n]: the values the fit started from (null: none, the values
  // themselves are the scale).
  StalledSteps(int n, const float* start)
      : n_(n), moved_(static_cast<size_t>(n) + 1, 0), now_(moved_), start_(moved_.size(), 0.0),
        perSignal_(moved_.size(), 0.0), resolution_(RmsdResolution()) {
    for (int j = 1; j <= n && start; ++j) start_[static_cast<size_t>(j)] = std::fabs(start[j]);
  }
  // After an accepted step (or a restart) from before[1..n] to after[1..n]
  // that took the rmsd of `points` points from oldRmsd to newRmsd. True
  // when it is the second stalled step in a row: the fit ends.
  // A minimiser that knows the fall its next full step expects (the
  // Gauss-Newton step's, as a sum of squares) passes it as `expected`: the
  // step is stalled only when that fall too is below a unit of chi-square
  // (a fit still far from its minimum falls slowly along a valley, yet its
  // linearised misfit still sees the minimum many units below; sigma is not
  // yet the noise there). A negative `expected` is not known.
  template <typename T>
  bool Accepted(const T* before, const T* after, double oldRmsd, double newRmsd, double maxRelativeChange,
                double points, double expected = -1.0) {
    const double move = maxRelativeChange > kStalledMove ? maxRelativeChange : kStalledMove;
    for (int j = 1; j <= n_; ++j) {
      const size_t u = static_cast<size_t>(j);
      const double b = before[j], a = after[j];
      const double scale = std::fabs(b) > start_[u] ? std::fabs(b) : start_[u];
      const double least = std::max(scale != 0.0 ? move * scale : move, perSignal_[u] * newRmsd);
      now_[u] = std::fabs(a - b) > least;
    }
    return Judge(oldRmsd, newRmsd, points, expected);
  }
  // Entry j (one-based) is in units of the signal (NamedInSignalUnits),
  // `perSignal` units of the vectors passed making one of the signal: as
  // in the end test's probes, a move of it counts only beyond the noise (the
  // rmsd after the step). A baseline the data determine at 1e-5 moves by
  // more than a tenth of itself for almost no fall; by the rmsd it would
  // raise chi-square by N units.
  void InSignalUnits(int j, double perSignal) {
    if (j >= 1 && j <= n_) perSignal_[static_cast<size_t>(j)] = std::fabs(perSignal);
  }
  // The entries (one-based) that the stalled steps moved.
  std::vector<int> Moved() const;

 private:
  bool Judge(double oldRmsd, double newRmsd, double points, double expected);
  int n_;
  int inRow_ = 0;
  std::vector<char> moved_, now_;  // [1..n]
  std::vector<double> start_;      // [1..n], magnitudes
  std::vector<double> perSignal_;  // [1..n], 0 for an entry not in units of the signal
  double resolution_;
};

// The noise of the scans as their own points tell it, free of any model:
// half the mean square of the differences of neighbouring signals inside
// the fit limits (for independent noise of variance sigma^2 each difference
// has variance 2 sigma^2). A boundary adds its small rise between
// neighbours and TI noise its own jaggedness: both only raise the
// estimate. `differences` receives their count.
double NoiseFromNeighbours(double* differences);

// Which fitted quantities the data leave open where a fit ended, by one test
// for every method (the simplex, Marquardt-Levenberg, annealing and their
// finishing passes, the continuous distributions' fits alike): each entry
// of the end point is moved by a tenth of its scale, either way, and named
// when neither move changes chi-square by a unit: dchi2 = N (r_moved^2 -
// r_end^2) / sigma^2, sigma the smaller of the end's rmsd (at least
// RmsdResolution) and the noise of neighbouring signals
// (NoiseFromNeighbours), as a model that cannot follow the data leaves an
// rmsd far above the noise.
// The scale is StalledSteps's: max(|end|, |start|), absolute (a step of a
// tenth) where both are 0.
//
// A quantity in units of the signal (a baseline, a loading) moves by at
// least the noise, r_end: a baseline b shifts all N points by its move d,
// so dchi2 = N d^2 / r_end^2, which is N units for d = r_end. A baseline the
// data determine at 1e-5 has a tenth of its value as its step, 1e-6, and
// dchi2 = N 1e-12 / 1e-4 < 1 for any N of a user's data: named wrongly
// without the floor. With it, a determined one moves chi-square by N, and
// one the data leave open (taken up by the noise terms) still by nothing.
//
// A side whose move the model does not take (a fit limit, a physical range
// holds the entry where it stood) or cannot compute (the target rejects it,
// as a species of molar mass 0 or below) tells nothing either way: the
// other side judges alone. A side held short of the tenth counts as far as
// it moved. Where neither side was computed and one lay beyond 0, the
// entry is moved to a tenth of its value; an entry no move of which was
// computed is not named. A quantity the fit pressed
// against a limit is judged by its inner side: a molar mass walked to 90 Da
// from a start of 69 kDa, a tenth of which reaches below 0, is open when
// 7 kDa more change chi-square by less than a unit. After a stop nothing
// is named.
struct FitEndPoint {
  std::vector<float> value;        // [1..n] the end point
  std::vector<float> start;        // [1..n] where the fit started
  std::vector<char> signalUnits;   // [1..n] 1 for a quantity in units of the signal
  double rmsd = 0.0;               // the target's misfit at the end point
  double points = 0.0;             // the points the rmsd is taken over
};
// Whether a quantity the report names so is in units of the signal: the
// loadings c1..c4, the baseline, a buffer's signal.
bool NamedInSignalUnits(const std::string& name);
// A move of the probes that lowered chi-square by a unit or more: the end
// is no minimum along that entry.
struct FitEndFall {
  int entry = 0;       // one-based; 0: no probe lowered chi-square that far
  double units = 0.0;  // the fall, in units of chi-square
};
// The entries (one-based) that the data leave open at `end`, probed through
// `target` (float(*)(float* v, FitHost*), which writes into v the point the
// model took): at most 2n evaluations, none for an exact fit (an rmsd below
// RmsdResolution) or without points. The model is left at the last probe:
// the caller evaluates the end point again. `fall` (optional) receives the
// largest fall a probe found, which tells nothing of the entry's side.
std::vector<int> EntriesTheDataLeaveOpen(FitHost* host, float (*target)(float* v, FitHost* host),
                                         const FitEndPoint& end, FitEndFall* fall = nullptr);
// Tells the end Undetermined (ReportUndetermined, the entries' names from
// `name`) when the fit ended reached, or named what the data leave open by
// a test of its own, and the data leave entries open: the names are the
// probes'. Such a named end where nothing is open is told reached. An end
// by a limit, a stop, no material or another test stays as told (its point
// is no minimum the fit settled on). A reached end from which a probe's move lowers
// chi-square by a unit or more is none either: it is told stopped away from
// a minimum (ReportStoppedAwayFromMinimum, naming the entry and the fall),
// whatever else the probes found. A key of the user's during the probes
// ends the fit stopped (TellStoppedAtTheEnd): a test cut short tells
// nothing. `restore` evaluates the end point again, as the fit left it,
// after any probe. True when the end was told again.
bool TellWhatTheDataLeaveOpen(FitHost* host, float (*target)(float* v, FitHost* host), const FitEndPoint& end,
                              std::string (*name)(int k), const std::function<void()>& restore);

// The end of a Fit, told once: recorded in LastFitEnd()
// for the unattended run's log and result file, and, unless a
// serial fit is running (which asks nothing and has its error codes) or the
// end was reached, shown in a box. The ends that leave work undone say that
// a second Fit continues from there.
void RecordFitEnd(FitHost* host, FitEndKind kind, const std::string& text);
// A stop the user gave (not the whole fit's time bound) waits to be taken.
bool UserStopPending();
// Tells a fit stopped by the user at the best point it found, and passes
// the interruption on to a serial fit and the real-time update.
void TellStoppedAtTheEnd(FitHost* host);
// While one lives, RecordFitEnd records without showing: a driver that may
// go on from an end shows only the last. The outermost shows, when it ends,
// the last end recorded while it lived, as RecordFitEnd would have.
class FitEndNoteHold {
 public:
  explicit FitEndNoteHold(FitHost* host);
  ~FitEndNoteHold();
  FitEndNoteHold(const FitEndNoteHold&) = delete;
  FitEndNoteHold& operator=(const FitEndNoteHold&) = delete;

 private:
  FitHost* host_;
};
// "reached", "limit", "undetermined", "not reached", "stopped" ("" for None).
std::string FitEndKindName(FitEndKind kind);
// The text that goes with a fit ended by a limit: "<what>: the best
// parameters found are kept; a second Fit continues from there".
std::string LimitEndText(const std::string& what);

// Tells that the fit ended because the data do not determine the named
// quantities.
void ReportUndetermined(FitHost* host, const std::vector<std::string>& names);
// Tells that the fit ended because its species' `amplitudes` amplitudes
// lower chi-square by no more (`fall` units) than they would fitting noise
// alone: the data show no sedimenting material, and so do not determine the
// named quantities.
void ReportNoMaterial(FitHost* host, const std::vector<std::string>& names, double fall, int amplitudes);
// Tells that Marquardt-Levenberg ran its iterations out.
void ReportIterationLimit(FitHost* host);
// Tells that no step from the best point could be taken: it is no minimum
// the fit found, and why.
void ReportStoppedAwayFromMinimum(FitHost* host, const std::string& why);
// Tells how a Marquardt-Levenberg fit that ran to its own end ended:
// stalled on quantities the data do not determine (named), every step from
// its best point rejected (shrunk), its iterations spent (not done), or
// settled with its steps pressing the species' quantities `held` against
// the end of their physical range (a species pushed to the s at which it
// leaves the cell before the first scan: no minimum inside the range);
// nothing when it reached its minimum.
void ReportMarquardtEnd(FitHost* host, bool undetermined, const std::vector<std::string>& names, bool shrunk,
                        bool done, const std::vector<std::string>& held = {});
// Tells that the restarts ran out without settling (error code 10 in a
// serial fit, a message otherwise; kMaxNelderMeadRestarts).
void ReportRestartsExhausted(FitHost* host);
// Tells, likewise, that the fit's simplex runs spent their
// kMaxNelderMeadEvaluations without settling.
void ReportSimplexEvaluationsExhausted(FitHost* host);
// The end of an annealing fit without a finishing pass: its schedule is the
// limit that ended it (or the user stopped it).
void ReportAnnealingEnd(FitHost* host, bool interrupted);
// Tells that the whole fit's time bound (maxFitSeconds) ended it.
void ReportFitBudgetSpent(FitHost* host);
