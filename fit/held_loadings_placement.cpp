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

// The evaluations the short simplex run from the lowest point placed under
// the held loadings may spend; the runs of the fit with loadings free, and
// the evaluations they may spend together each time they go on (from the
// end, from a lower placement, from a point out of a misfit).
constexpr int kHeldRunEvaluations = 800;
constexpr int kFreeFitRuns = 3;
constexpr int kFreeFitEvaluations = 800;

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
      // An end a unit of chi-square lower is checked in turn; from a smaller
      // fall, which the noise cannot tell from none, the runs go on no more.
      if (ChiSquareFall(before, freeRmsd, fs.rmsdPointCount, RmsdResolution()) < kStalledChiSquare) break;
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
