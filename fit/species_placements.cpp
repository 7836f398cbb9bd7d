#include "fit/species_placements.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "data/scan_set.h"
#include "fit/annealing.h"
#include "fit/end_placements.h"
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
#include "fit/species_placement_tools.h"
#include "fit/species_slots.h"
#include "numerics/arrays.h"
#include "numerics/constants.h"
#include "numerics/random.h"
#include "platform/error_box.h"
#include "platform/input_events.h"

namespace {

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
// times kExchangeSizeFactors. Where they come from: a held share can bind
// its species to a boundary far from its own (two species, the second's
// share held, ended 16 to 25 % above the minimum with one at 1/14 of the
// molar mass that belongs there), so its size is moved as widely as
// kWideSizeFactors reach, a decade either way, in the steps of about 3
// (sqrt 10) of kSizeFactors, leaving out 1 (no move); its s is moved as
// far as a start may lie from the truth (the tables start species at half
// and twice their s), at 1.5 and 2 either way, and at each the size
// stays with the frictional ratio or moves by one of those steps.
constexpr float kHeldSizeFactors[] = {0.1f, 1.0f / 3.0f, 3.0f, 10.0f};
constexpr float kHeldSFactors[] = {0.5f, 2.0f / 3.0f, 1.5f, 2.0f};
// Exchanged with another: at that one's s and size times
// kExchangeSizeFactors, that one at its s times kExchangeSFactors and the
// size the same frictional ratio gives, times kExchangeSizeFactors. The
// exchanged species takes the other's boundary, its size within one step
// of 3 of the other's (its own ratio need not hold there); the other
// takes the held one's place within 1.5 in s, evenly in log s (2/3 and 1.5,
// 0.8 and 1.25 are reciprocal), 1 included: the plain exchange of places.
constexpr float kExchangeSizeFactors[] = {1.0f / 3.0f, 1.0f, 3.0f};
constexpr float kExchangeSFactors[] = {2.0f / 3.0f, 0.8f, 1.0f, 1.25f, 1.5f};
// With loadings held, the trials solved under them (SolveUnderHeldLoadings),
// of each kind (one species moved, two together).
constexpr int kHeldSolvedTrials = 4;
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
// The s factor by which the species with the largest share is parted from
// the end's smallest one, both at its size, to be followed: two close
// species merged into one (8.0 and 8.9 S at 20-24 kDa, taken for one of
// 8.4 S beside a spurious one of 10.6 S with 5 % of the loading). Their
// valley is narrow: parted by the splits above (1.1 and up) and followed,
// they settled beside it, and by 1.03 or 1.07 too.
constexpr float kCloseSplit = 1.05f;

// Out of a misfit a species splits another: the two at that one's s times
// and over these factors (see EndLeavesAMisfit).
constexpr float kMisfitSplitFactors[] = {1.1f, 1.25f, 1.6f, 2.0f};

}  // namespace

namespace {

// The search of PlaceSpeciesWithoutASay: the end it starts from, the
// placements it tries and the lowest points they give, each step of it a
// member. Its trials change the model's parameters and put them back.
class SpeciesPlacementSearch {
 public:
  SpeciesPlacementSearch(FitHost* host, int n, PointsToGoOnFrom* apartPoints)
      : host(host), n(n), apartPoints(apartPoints), end(static_cast<size_t>(n) + 1), trial(end), best(end),
        bestPair(end), bestApart(end) {}

  EndPlacement Run(const FitEndRecord& endRecord);

 private:
  // The ways out of a misfit (and out of a level, kLevelPlaced), each with
  // its lowest point (kNotApart: a trial judged by whether it lies lower).
  enum { kNotApart, kFlatParted, kPlacedOut, kSplitOut, kLevelPlaced, kWaysOut };
  // The kinds of trial: one species moved, two together, two exchanged
  // where one has a held share (plainly, or at sizes scaled).
  enum { kOne, kTwo, kExchange, kHeldExchange, kKinds };
  struct Candidate {
    float bound;
    bool pair;
    int kind;
    std::array<float, kParameterSlots + 1> P;
  };

  // The solve writes every loading; the held ones are given back.
  float SolveLoadingsLinearly(std::vector<float>& v);
  // Which species are placed where: the lists below, from the end.
  void CollectPlacements(const FitEndRecord& endRecord);
  // One trial: the end's parameters changed by `move`, the loadings solved
  // anew; the lowest of its kind is kept. `apart`: the way out of a misfit
  // the trial takes (a flat species parted from another among them), kept
  // apart from the others' lowest, and the lowest of each way as well.
  template <typename Move>
  void TryMove(int kind, Move&& move, int apart = kNotApart);
  // Species a at species k's s and size times the factors, k at its s
  // times kFactor.
  void Place(int a, int k, float sf, float mf, float kFactor);
  // At the size the same frictional ratio gives: M as s^1.5, D as s^-0.5.
  float SizeAt(int k, float factor) const;
  void TryMovesBesideAndApart();
  void TryHeldShareMoves();
  void TryPlacingAnew();
  void SolveCandidatesUnderHeldLoadings();
  void TryOutOfAMisfit();
  void FollowLowestPlacements();
  EndPlacement Conclude();

  FitEngineState& fs = gFitEngineState;
  ModelParameterVector& pv = gModelParameterVector;
  ModelParams& mp = gModelParams;
  FitHost* const host;
  const int n;
  PointsToGoOnFrom* const apartPoints;
  bool misfit = false;
  std::vector<float> end, trial, best, bestPair;
  // Loadings fitted with s and size (a share or the total held) keep no
  // loading a trial asks for: each trial, and the end's judgement of which
  // species have a say, takes the loadings the s and sizes ask for, solved
  // linearly.
  bool fittedLoadings = false;
  unsigned char redraw = 0;
  // The species placed and the one it is placed beside (itself: moved from
  // where it is); the species that have their say.
  std::vector<std::pair<int, int>> pairs;
  std::vector<int> heard;
  double total = 0.0;
  // Species without a say that still carry a loading, less than a minor
  // share of what the species with a say at positive s carry.
  bool level[kSpeciesSlots + 1] = {};
  float share[kSpeciesSlots + 1] = {};
  bool anyMinor = false;
  // The species parted from one that has its say: (its fellow, that one).
  std::vector<std::pair<int, int>> splits;
  // Two others placed around one that has its say: (that one, the slower, the faster).
  std::vector<std::array<int, 3>> arounds;
  // With a share held, two species whose s and size are fitted exchanged.
  std::vector<std::pair<int, int>> exchanges;
  // A flat species parted from one that has its say: (the flat one, that one).
  std::vector<std::pair<int, int>> aparts;
  std::vector<std::pair<int, int>> outOfAMisfit;
  // Species placed anew, and the s they are tried at.
  std::vector<int> anew;
  bool exact = false;
  std::vector<float> inView;
  // The end's own misfit, by the same target as the trials.
  float endRmsd = 0.0f;
  // The lowest of the moves of one species, and of two moved together.
  float lowest = 0.0f, lowestPair = 0.0f, lowestApart = kRejectedTrial;
  std::vector<float> bestApart;
  float lowestOfWay[kWaysOut];
  std::vector<float> bestOfWay[kWaysOut];
  // Of each kind of trial, the lowest that moved the misfit by at least a
  // unit of chi-square (a move the solve gives no loading changes nothing).
  float lowestMoved[2] = {kRejectedTrial, kRejectedTrial};
  std::vector<float> bestMoved[3];
  float saved[kParameterSlots + 1];
  const std::vector<float> near{std::begin(kNearSFactors), std::end(kNearSFactors)};
  const std::vector<float> beside{std::begin(kBesideSFactors), std::end(kBesideSFactors)};
  const std::vector<float> sizes{std::begin(kSizeFactors), std::end(kSizeFactors)};
  const std::vector<float> wideSizes{std::begin(kWideSizeFactors), std::end(kWideSizeFactors)};
  std::vector<Candidate> candidates;
  // The misfit of each point tried, by its bits (PointKey): within the
  // search a point is evaluated once.
  std::map<std::vector<unsigned>, float> misfitAt;
};

float SpeciesPlacementSearch::SolveLoadingsLinearly(std::vector<float>& v) {
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
}

void SpeciesPlacementSearch::CollectPlacements(const FitEndRecord& endRecord) {
  // The species placed and the one it is placed beside (itself: moved from
  // where it is).
  const std::vector<std::string> named = NamedUndetermined(endRecord);
  // Species without a say that still carry a loading, less than a minor
  // share of what the species with a say at positive s carry: a level
  // beside the boundaries of the data (not the level of featureless scans,
  // which carries all there is).
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
  for (int k : heard)
    for (int a = 1; a <= kSpeciesSlots; ++a)
      if (a != k && mp.included[a] && pv.F[a + kSpeciesSlots] && pv.F[k + kSpeciesSlots]) splits.emplace_back(a, k);
  // Two others placed around one that has its say: (that one, the slower, the faster).
  for (int k : heard)
    for (int a = 1; a <= kSpeciesSlots; ++a)
      for (int b = a + 1; b <= kSpeciesSlots; ++b)
        if (a != k && b != k && mp.included[a] && mp.included[b] && pv.F[a + kSpeciesSlots] &&
            pv.F[b + kSpeciesSlots] && pv.F[k + kSpeciesSlots])
          arounds.push_back({k, a, b});
  // With a share held, two species whose s and size are fitted exchanged:
  // the held share goes to the other boundary, where no step of s and size
  // carries it.
  if (!mp.concentrationsLinear)
    for (int a = 1; a <= kSpeciesSlots; ++a)
      for (int k = a + 1; k <= kSpeciesSlots; ++k)
        if (mp.included[a] && mp.included[k] && (ShareHeld(a) || ShareHeld(k)) && pv.F[a] && pv.F[k] &&
            pv.F[a + kSpeciesSlots] && pv.F[k + kSpeciesSlots])
          exchanges.emplace_back(a, k);
  // A flat species parted from one that has its say: (the flat one, that one).
  for (int a = 1; a <= kSpeciesSlots; ++a)
    if (SpeciesFlatBeforeTheFirstScan(a) && pv.F[a] && pv.F[a + kSpeciesSlots])
      for (int k : heard)
        if (k != a && pv.F[k + kSpeciesSlots]) aparts.emplace_back(a, k);
  outOfAMisfit = PlacementsOutOfAMisfit(misfit);
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
  int included = 0;
  for (int a = 1; a <= kSpeciesSlots; ++a) {
    if (!mp.included[a]) continue;
    ++included;
    if (!pv.F[a + kSpeciesSlots]) continue;
    const bool mute = std::find(heard.begin(), heard.end(), a) == heard.end();
    if (mute || misfit) anew.push_back(a);
  }
  if (included == 1) pairs.clear();
  exact = !(CalcRmsd() > RmsdResolution());
  inView = anew.empty() || exact ? std::vector<float>() : SInView();
  if (inView.empty()) anew.clear();
}

template <typename Move>
void SpeciesPlacementSearch::TryMove(int kind, Move&& move, int apart) {
  const bool pair = kind == kTwo || kind == kHeldExchange;
  if (fs.stopRequested) return;
  std::copy(saved, saved + kParameterSlots + 1, pv.P);
  move();
  if (fittedLoadings) {
    // Then held where the user holds them; the trial is ranked by the
    // misfit of its loadings solved freely, which is no higher (a flat
    // species parted is taken at those loadings as they are).
    PackFitVectorUnclamped(n, trial.data());
    const float solved = SolveLoadingsLinearly(trial);
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
  // A point already tried (a move that changed nothing, or two moves to one
  // place) has the misfit it had.
  const bool keyed = !mp.concentrationsLinear;
  const std::vector<unsigned> key = keyed ? PointKey(n, trial.data()) : std::vector<unsigned>();
  const auto tried = keyed ? misfitAt.find(key) : misfitAt.end();
  const float y = tried != misfitAt.end() ? tried->second : SimplexSim(trial.data(), host);
  if (keyed && tried == misfitAt.end() && !fs.stopRequested) misfitAt.emplace(key, y);
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
}

void SpeciesPlacementSearch::Place(int a, int k, float sf, float mf, float kFactor) {
  if (pv.F[a]) pv.P[a] = mf * saved[k];
  if (pv.F[a + kSpeciesSlots]) pv.P[a + kSpeciesSlots] = sf * saved[k + kSpeciesSlots];
  if (pv.F[k + kSpeciesSlots]) pv.P[k + kSpeciesSlots] = kFactor * saved[k + kSpeciesSlots];
}

float SpeciesPlacementSearch::SizeAt(int k, float factor) const {
  return saved[k] * std::pow(factor, gFitEngineState.molarMassParameters ? 1.5f : -0.5f);
}

void SpeciesPlacementSearch::TryMovesBesideAndApart() {
  for (const auto& [a, k] : pairs) {
    for (float sf : a == k ? near : beside)
      for (float mf : fittedLoadings ? wideSizes : sizes)
        // Beside itself, or on the other: no move, or two the solve cannot part.
        if (sf != 1.0f || mf != 1.0f) TryMove(kOne, [&] { Place(a, k, sf, mf, 1.0f); });
    if (a != k && pv.F[k + kSpeciesSlots])
      for (float sf : beside)
        for (float kFactor : kFellowSFactors)
          if (sf != 1.0f) TryMove(kTwo, [&] { Place(a, k, sf, 1.0f, kFactor); });
  }
  for (const auto& [a, k] : splits)
    for (const Split& split : kSplits)
      // Parted in size alone, two species whose sizes are held are one.
      if (split.s != 1.0f || pv.F[a] || pv.F[k]) TryMove(kTwo, [&] {
        pv.P[a + kSpeciesSlots] = split.s * saved[k + kSpeciesSlots];
        pv.P[k + kSpeciesSlots] = saved[k + kSpeciesSlots] / split.s;
        if (pv.F[a]) pv.P[a] = split.size * saved[k];
        if (pv.F[k]) pv.P[k] = saved[k] / split.size;
      });
  for (const auto& [k, a, b] : arounds)
    for (const Around& around : kArounds)
      TryMove(kTwo, [&] {
        pv.P[a + kSpeciesSlots] = around.slower * saved[k + kSpeciesSlots];
        pv.P[b + kSpeciesSlots] = around.faster * saved[k + kSpeciesSlots];
        if (pv.F[a]) pv.P[a] = SizeAt(k, around.slower);
        if (pv.F[b]) pv.P[b] = SizeAt(k, around.faster);
      });
  for (const auto& [a, k] : aparts)
    for (float slower : kApartSlower)
      for (float faster : kApartFaster)
        TryMove(
            kTwo,
            [&] {
              pv.P[a + kSpeciesSlots] = slower * saved[k + kSpeciesSlots];
              pv.P[k + kSpeciesSlots] = faster * saved[k + kSpeciesSlots];
              pv.P[a] = SizeAt(k, slower);
              if (pv.F[k]) pv.P[k] = SizeAt(k, faster);
            },
            kFlatParted);
  for (const auto& [a, k] : exchanges)
    TryMove(kExchange, [&] {
      std::swap(pv.P[a], pv.P[k]);
      std::swap(pv.P[a + kSpeciesSlots], pv.P[k + kSpeciesSlots]);
    });
}

void SpeciesPlacementSearch::TryHeldShareMoves() {
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
      TryMove(kOne, [&] { pv.P[h] = mf * saved[h]; });
    for (float sf : kHeldSFactors)
      for (float mf : kExchangeSizeFactors)
        TryMove(kOne, [&] {
          pv.P[h + kSpeciesSlots] = sf * saved[h + kSpeciesSlots];
          pv.P[h] = mf * SizeAt(h, sf);
        });
    for (const auto& [a, k] : exchanges) {
      if (a != h && k != h) continue;
      const int o = a == h ? k : a;
      for (float hf : kExchangeSizeFactors)
        for (float sf : kExchangeSFactors)
          for (float of : kExchangeSizeFactors)
            // Unscaled, the plain exchange above.
            if (hf != 1.0f || sf != 1.0f || of != 1.0f) TryMove(kHeldExchange, [&] {
                pv.P[h + kSpeciesSlots] = saved[o + kSpeciesSlots];
                pv.P[h] = hf * saved[o];
                pv.P[o + kSpeciesSlots] = sf * saved[h + kSpeciesSlots];
                pv.P[o] = of * SizeAt(h, sf);
              });
    }
  }
}

void SpeciesPlacementSearch::TryPlacingAnew() {
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
              TryMove(
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
}

void SpeciesPlacementSearch::SolveCandidatesUnderHeldLoadings() {
  if (fittedLoadings) {
    // The trials whose freely solved loadings leave a misfit low enough to
    // show the end was no minimum, lowest first: each solved under the
    // held loadings, at most kHeldSolvedTrials of each kind.
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& x, const Candidate& y) { return x.bound < y.bound; });
    int solvedOfKind[kKinds] = {};
    std::set<std::vector<unsigned>> solvedCandidates;
    for (const Candidate& c : candidates) {
      if (fs.stopRequested) break;
      const double fall = ChiSquareFall(endRmsd, c.bound, fs.rmsdPointCount, RmsdResolution());
      if (fall < kStalledChiSquare) break;
      if ((c.pair && fall < kPairMoveChiSquare) || (c.kind != kExchange && solvedOfKind[c.kind] >= kHeldSolvedTrials))
        continue;
      ++solvedOfKind[c.kind];
      // Two moves can ask for one point (a species moved onto its own
      // place): solved once, it gives what it gave.
      std::vector<unsigned> key(c.P.size());
      std::memcpy(key.data(), c.P.data(), c.P.size() * sizeof(float));
      if (!solvedCandidates.insert(key).second) continue;
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
}

void SpeciesPlacementSearch::TryOutOfAMisfit() {
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
            for (float mf : sizes) TryMove(kOne, [&] { Place(a, k, sf, mf, 1.0f); }, kPlacedOut);
      if (pv.F[k + kSpeciesSlots])
        for (float f : kMisfitSplitFactors)
          for (float af : {f, 1.0f / f}) {
            TryMove(
                kTwo,
                [&] {
                  pv.P[a + kSpeciesSlots] = af * saved[k + kSpeciesSlots];
                  pv.P[k + kSpeciesSlots] = saved[k + kSpeciesSlots] / af;
                  if (pv.F[a]) pv.P[a] = SizeAt(k, af);
                  if (pv.F[k]) pv.P[k] = SizeAt(k, 1.0f / af);
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
              TryMove(
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
}

void SpeciesPlacementSearch::FollowLowestPlacements() {
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
}

EndPlacement SpeciesPlacementSearch::Conclude() {
  std::copy(saved, saved + kParameterSlots + 1, pv.P);
  fs.fitRunning = 0;
  const bool stopped = fs.stopRequested != 0;
  const double points = fs.rmsdPointCount, resolution = RmsdResolution();
  const bool singleLower = ChiSquareFall(endRmsd, lowest, points, resolution) >= kStalledChiSquare;
  const bool pairLower = ChiSquareFall(endRmsd, lowestPair, points, resolution) >= kPairMoveChiSquare;
  if (pairLower && (!singleLower || lowestPair < lowest)) best = bestPair;
  const bool lower = !stopped && (singleLower || pairLower);
  // A point above the end is gone on from only where that can lower the end
  // by a unit (WithinReachOfTheEnd); each way out likewise.
  const bool apart = !stopped && !lower && lowestApart < kRejectedTrial && WithinReachOfTheEnd(endRmsd, lowestApart);
  if (apart && apartPoints) {
    std::vector<int> ways;
    for (int w = kNotApart + 1; w < kWaysOut; ++w)
      if (lowestOfWay[w] < kRejectedTrial && WithinReachOfTheEnd(endRmsd, lowestOfWay[w])) ways.push_back(w);
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

EndPlacement SpeciesPlacementSearch::Run(const FitEndRecord& endRecord) {
  // The check's trials show no solver box: the user asked for none of them
  // (a species placed at the edge of the s the fit range sees, where the
  // grid cannot resolve its boundary), and one that cannot be computed is
  // rejected. The fit's own evaluations show theirs as before.
  QuietTrials quiet;
  // Judged on the end as the fit left it, before any trial.
  misfit = EndLeavesAMisfit();
  PackFitVectorUnclamped(n, end.data());
  for (int q = 1; q <= kSpeciesSlots; ++q)
    fittedLoadings = fittedLoadings || (mp.included[q] && pv.F[kLoadingOffset + q] && !mp.concentrationsLinear);
  redraw = gSimulationSwitches.redrawDuringSimulation;
  gSimulationSwitches.redrawDuringSimulation = 0;
  fs.fitRunning = 1;
  // With fitted loadings, the end's loadings solved freely: the species
  // that have a say are judged by those.
  if (fittedLoadings) {
    std::vector<float> at(end);
    SolveLoadingsLinearly(at);
  }
  CollectPlacements(endRecord);
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
  std::vector<float> at(end);
  endRmsd = SimplexSim(at.data(), host);
  lowest = lowestPair = endRmsd;
  bestApart = end;
  for (int w = 0; w < kWaysOut; ++w) lowestOfWay[w] = kRejectedTrial;
  std::copy(pv.P, pv.P + kParameterSlots + 1, saved);
  TryMovesBesideAndApart();
  TryHeldShareMoves();
  TryPlacingAnew();
  SolveCandidatesUnderHeldLoadings();
  TryOutOfAMisfit();
  FollowLowestPlacements();
  return Conclude();
}

}  // namespace

EndPlacement PlaceSpeciesWithoutASay(FitHost* host, const FitEndRecord& endRecord, PointsToGoOnFrom* apartPoints) {
  const int n = ParametersToFitVector(0, nullptr);
  if (n == 0) return EndPlacement::None;
  return SpeciesPlacementSearch(host, n, apartPoints).Run(endRecord);
}
