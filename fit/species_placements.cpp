#include "fit/species_placements.h"

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

constexpr float kMisfitSplitFactors[] = {1.1f, 1.25f, 1.6f, 2.0f};


}  // namespace

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
