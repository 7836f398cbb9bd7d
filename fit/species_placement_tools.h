#pragma once
// What the checks of a discrete-species fit's end share: trials that show
// no box, the slots of the fit vector's species, where a species' boundary
// lies against the fit range, whether a species has its say in the misfit,
// loadings solved under held shares, a short simplex run that lets the
// other quantities follow a placement, and whether an end leaves a misfit.
#include <string>
#include <utility>
#include <vector>

#include "fit/fit_end.h"
#include "fit/simulation_switches.h"
#include "platform/error_box.h"

class FitHost;

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
// The quantities an end by "the data do not determine" names.
std::vector<std::string> NamedUndetermined(const FitEndRecord& end);
// Whether a species of s (S) leaves the fit range in its plateau in every
// scan (its boundary reaches no fitted radius by the last scan).
bool BoundaryNeverInTheFitRange(float s);
// Whether a species of s (S) has left the fit range by the first scan.
bool BoundaryPastTheFitRangeByTheFirstScan(float s);
// The kAnewSValues s at which a species placed anew is tried, evenly in
// log s across what the fit range sees; empty where the scans carry no times.
std::vector<float> SInView();
// The frictional ratios a species placed anew is tried at: its own size
// tells nothing where it has no say (a flat level of a few daltons). From
// a compact molecule (1.2) through a moderately asymmetric one (1.5) to an
// elongated one (2.0): at a given s the molar mass goes as (f/f0)^1.5, so
// neighbouring ratios lie a factor of 1.4 and 1.5 apart in M, half the
// step of 3 by which a species' own size is moved.
inline constexpr float kAnewFrictionalRatios[] = {1.2f, 1.5f, 2.0f};
// The positions across its fit limits at which a fitted meniscus (and
// bottom) is tried with each species placed anew at a misfit end (at the
// middle frictional ratio): the middles of the range's thirds, so that no
// position is more than a sixth of the range from any meniscus in it (an
// end held the meniscus 0.04 cm out at a limit of its range); each costs
// one evaluation per s in view.
inline constexpr int kAnewCellEndPositions = 3;
// The size (M, or D x 1e7) of a species of s (S) at frictional ratio ff0.
float SizeAtFrictionalRatio(float s, float ff0);
// Whether species k of the model's present state has no say in the misfit.
bool WithoutASay(int k, const std::vector<std::string>& named);
// Whether species q's share of the loadings is held.
bool ShareHeld(int q);
// The fitted loadings written so that the species carry `amplitude`, the
// held ones from `saved`; false where no total is left.
bool LoadingsFromAmplitudes(const double* amplitude, const float* saved);
// The fitted loadings at their best under the held ones; the lowest point
// left in the model and packed into v; its rmsd (kRejectedTrial for none).
float SolveUnderHeldLoadings(int n, float* v, FitHost* host);
// The evaluations a simplex run of the end check may still spend, and the
// target that keeps to them.
extern int gEndCheckEvaluationsLeft;
float AllottedSimplexSim(float* v, FitHost* host);
// A short simplex run over every quantity from the placement v; v becomes
// the lowest point found; returns its rmsd.
float FollowedPlacement(int n, std::vector<float>& v, FitHost* host, int allotment = kFollowEvaluations);
// Whether the end as the model holds it leaves residuals that run together
// (a misfit the minimiser left in a valley of its own).
bool EndLeavesAMisfit();
// At such an end, (a, k): species a moved by species k, which has positive s.
std::vector<std::pair<int, int>> PlacementsOutOfAMisfit(bool misfit);

// The rule by which a check of an end goes on from a point that lies above
// the end, in units of chi-square of the noise (sigma^2): the end's whole
// chi-square, N rmsd^2 / sigma^2, is what the noise leaves (N units) and
// what the model leaves beyond it, and no check can lower it by more than
// that. A point whose rise above the end is larger still has undone more
// of the data than the end explains short of an exact fit: the fit from it
// must fall that far before it lies a unit below the end, and going on
// from it finds nothing a step from the end would not. Ends of displaced
// species lie tens to thousands of units above the noise with their ways
// out tens of units above them; where the model itself comes no closer (a
// measured start the model splits systematically off), the ways out lay
// thirty times the end's whole chi-square above it. sigma cancels: the
// rule holds with the noise the data's neighbouring signals tell, which
// boundaries raise above the fit's own rmsd at a good end. True where
// going on may lower the end (also for a point not computed: nothing to
// judge by).
bool WithinReachOfTheEnd(float endRmsd, float pointRmsd);
// A point of the fit vector v[1..n] by its bits: one point is evaluated
// once within a check. Only where the loadings are fitted or held: solved
// linearly, each evaluation leaves the loadings it solved for the next to
// start from (a measured start is split by them), so one point need not
// give one misfit.
std::vector<unsigned> PointKey(int n, const float* v);
