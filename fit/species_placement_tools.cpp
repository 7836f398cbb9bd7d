#include "fit/species_placement_tools.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
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
// the scans carry no times. Ten: the span of s in view is the ratio of the
// last scan's omega^2 t to the first's times that of the range's log
// radii, some tens to a few hundred for a run, so that neighbouring values
// lie a factor of about 1.4 to 1.8 apart in s, no wider than the steps of
// kBesideSFactors; each value costs one evaluation per frictional ratio.
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

// The steps SolveUnderHeldLoadings takes about a loading: this part of it,
// and at least this part of the total.
constexpr double kLoadingStep = 0.1;
constexpr double kLoadingStepFloor = 0.05;
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
  // The loadings of the last point evaluated: the model holds it.
  std::vector<double> last;
  // The misfit squared at loadings y, the lowest kept.
  auto misfit = [&](const std::vector<double>& y) {
    const double total = totalFitted ? y[0] : heldTotal;
    if (!(total > 0.0) || gFitEngineState.stopRequested) return HUGE_VAL;
    last = y;
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
  // The model is left at the lowest point: evaluated anew only where a
  // later point was evaluated after it.
  if (last != lowestAt) misfit(lowestAt);
  return static_cast<float>(std::sqrt(lowest));
}

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
float FollowedPlacement(int n, std::vector<float>& v, FitHost* host, int allotment) {
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

bool WithinReachOfTheEnd(float endRmsd, float pointRmsd) {
  if (!(pointRmsd < kRejectedTrial)) return true;
  // N (point^2 - end^2) / sigma^2 <= N end^2 / sigma^2.
  const double end2 = static_cast<double>(endRmsd) * endRmsd, point2 = static_cast<double>(pointRmsd) * pointRmsd;
  return point2 - end2 <= end2;
}

std::vector<unsigned> PointKey(int n, const float* v) {
  static_assert(sizeof(unsigned) == sizeof(float));
  std::vector<unsigned> key(static_cast<size_t>(n));
  for (int j = 1; j <= n; ++j) std::memcpy(&key[static_cast<size_t>(j) - 1], &v[j], sizeof(float));
  return key;
}
