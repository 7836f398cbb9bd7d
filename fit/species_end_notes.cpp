#include "fit/species_end_notes.h"

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
#include "fit/species_placement_tools.h"
#include "fit/species_slots.h"
#include "numerics/arrays.h"
#include "numerics/constants.h"
#include "numerics/random.h"
#include "platform/error_box.h"
#include "platform/input_events.h"

namespace {

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

}  // namespace

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

namespace {

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

}  // namespace

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
