#include "fit/nonideal_species.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "data/scan_set.h"
#include "fit/end_placements.h"
#include "fit/fit_budget.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/fit_target.h"
#include "fit/fit_vector.h"
#include "fit/marquardt.h"
#include "fit/nelder_mead.h"
#include "fit/rmsd.h"
#include "fit/serial_fit_settings.h"
#include "fit/fit_report_inputs.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/simulation_switches.h"
#include "fit/species_slots.h"
#include "fit/fit_end.h"
#include "lamm/coefficients/nonideal_coefficients.h"
#include "lamm/lamm_ideal.h"
#include "platform/input_events.h"

void LoadNonidealComponents(CLammIdeal& solver) {
  const AssociationModelParams& as = gAssociationModelParams;
  const ModelParams& mp = gModelParams;
  // The non-ideal terms: 3, 4, 5 concentration, s and D of the second
  // component, 7, 8, 9 those of the third (D in 1e-7 cm^2/s like the first).
  const float* term = mp.nonidealTerm;
  const double c1 = mp.concentration[1];
  const double s1 = as.nonidealS, D1 = std::fabs(as.nonidealD) * 1e-7;
  const bool one = term[3] <= 0 && term[7] <= 0;
  const double conc[] = {0, c1, term[3], term[7]};
  const double s[] = {0, s1, term[4], term[8]};
  const double D[] = {0, D1, std::fabs(term[5]) * 1e-7, std::fabs(term[9]) * 1e-7};
  const double weight[] = {0, as.extinction[1], as.extinction[2], as.extinction[3]};
  const double overlay[] = {0, term[2], term[6], term[10]};
  solver.SetSolventComponents({.model = true, .concDependentSolver = true, .tableModel = true,
                               .count = one ? 1 : 3, .concentrations = conc, .sValues = s,
                               .dValues = D, .weights = weight, .s = s1, .D = D1, .c0 = c1,
                               .syntheticBoundary = mp.syntheticBoundary != 0,
                               .boundaryPosition = term[1], .overlayFractions = overlay});
  ConcDependentModel model;
  model.nonideality = true;
  model.a = as.logKs;
  model.b = as.logKd;
  model.scale = CurrentScanSet().signalPerConcentration > 0 ? CurrentScanSet().signalPerConcentration : 1.0;
  model.scheme = s1 < 0 ? -2.0f : 2.0f;
  solver.SetConcDependentModel(model);
}

void FillNonidealReportInputs(FitReportInputs& in) {
  FitReportInputs::Nonideal& n = in.nonideal;
  const float* P = gModelParameterVector.P;
  const SolutionConditions& sc = gSolutionConditions;
  n.hardSphere = gModelSelectorFlags.NonidealVariantModel != 0;
  n.syntheticBoundary = gModelSelectorFlags.NonidealMultipleSpeciesModel && gModelParams.syntheticBoundary;
  n.sticky = StickyHardSphereFlag != 0;
  if (gFitEngineState.molarMassParameters) {
    n.impliedM = P[1];
    n.D = static_cast<float>(SpeciesDiffusion(P[5], P[1]) * 1e7);
  } else {
    n.D = P[1];
    n.impliedM = MolarMassFromSAndD(P[5], P[1], sc.vbar * sc.density, sc.temperature);
  }
  n.impliedFf0 = FrictionalRatioFromMassAndS(n.impliedM, P[5], sc.vbar, sc.density, sc.viscosity);
  const double signal = CurrentScanSet().signalPerConcentration;
  const float load = static_cast<float>(signal > 0 ? P[9] / signal : P[9]);
  const float k = std::fabs(P[10]), tau = std::fabs(P[11]);
  n.reducedB2 = static_cast<float>(HardSphereCorrectionFactor(tau));
  // ml/g from the change over the next mg/ml.
  n.ks1 = 1000 * ConcentrationFactorSDifference(1, k, tau, n.impliedFf0, sc.vbar);
  n.ksLoad = 1000 * ConcentrationFactorSDifference(load, k, tau, n.impliedFf0, sc.vbar);
  n.kd1 = 1000 * ConcentrationFactorDDifference(1, k, tau, n.impliedFf0, sc.vbar);
  n.kdLoad = 1000 * ConcentrationFactorDDifference(load, k, tau, n.impliedFf0, sc.vbar);
  n.volumeFraction = static_cast<float>(HydrodynamicVolumeFraction(load, k, n.impliedFf0, sc.vbar));

  // Nonideal c(s): its two terms are log10 ks and kd, or, in the hard-sphere
  // variant, the volume correction and the Baxter temperature.
  FitReportInputs::Conti& c = in.conti;
  const AssociationModelParams& as = gAssociationModelParams;
  c.logKs = as.logKs;
  c.logKd = as.logKd;
  c.nonidealHardSphere = gModelSelectorFlags.NonidealCSVariant != 0;
  c.nonidealSticky = c.nonidealHardSphere && StickyHardSphereFlag != 0;
  const float volume = std::fabs(as.logKs), baxter = std::fabs(as.logKd);
  c.nonidealVolumeCorrection = volume;
  c.nonidealBaxterT = baxter;
  c.nonidealReducedB2 = static_cast<float>(HardSphereCorrectionFactor(baxter));
  c.ks1 = 1000 * ConcentrationFactorSDifference(1, volume, baxter, c.ffValue, sc.vbar);
  c.ks100 = 1000 * ConcentrationFactorSDifference(100, volume, baxter, c.ffValue, sc.vbar);
  c.kd1 = 1000 * ConcentrationFactorDDifference(1, volume, baxter, c.ffValue, sc.vbar);
  c.kd100 = 1000 * ConcentrationFactorDDifference(100, volume, baxter, c.ffValue, sc.vbar);
}

namespace {

// The products of a nonideality term and the total loading (ks c, kd c) a
// term is placed at: none to speak of, then from a few per cent of the
// boundary's s or D to a change the solver still computes (ks c < 1).
constexpr double kPlacedKsLoads[] = {1e-4, 0.03, 0.1, 0.2, 0.35, 0.6};
constexpr double kPlacedKdLoads[] = {1e-4, 0.01, 0.03, 0.1, 0.3};
// ks sharpens the boundary as the loading falls behind it; without it a fit
// takes the sharpening up by a smaller D (a third of the true one at ks c
// 0.2), so D goes with a placed ks by these factors as well.
constexpr float kDWithKsFactors[] = {0.25f, 0.4f, 0.63f, 1.0f, 1.6f, 2.5f, 4.0f};
// The data determine D far more finely than these factors: from an end
// pressed to ks 0 (s0 3.15 for 4, D 2.53 for 5.5, rmsd 4 times the noise)
// ks c 0.2 with D 2.5 times the end's lay at twice the end's rmsd and
// nothing was placed, though the floor lies at the noise. So D is refined
// between the best factor's neighbours by this many golden sections.
constexpr int kDRefinements = 10;
// D0 (1 + kd c) is what the plateau's boundary spreads by; over the boundary
// c varies, so the D placed with kd goes a little either side of it.
constexpr float kDWithKdFactors[] = {0.97f, 1.0f, 1.03f};
// The fall of chi-square (units, sigma the rmsd) that shows an end was no
// minimum: the solver's time steps follow the parameters and make chi-square
// rough by some units, and a check that went on for less would go on, whole
// fit after whole fit, from every minimum. An end on a valley's slope lies
// hundreds of units above its floor.
constexpr double kLowerByChiSquare = 10.0;

// The model's parameter slots: D (or M), s and loading of component 1, the
// log10 of ks and kd.
constexpr int kSize = 1, kS = 5, kLoading = 9, kLogKs = 10, kLogKd = 11;


EndPlacement PlaceNonidealityAnew(FitHost* host) {
  FitEngineState& fs = gFitEngineState;
  ModelParameterVector& pv = gModelParameterVector;
  if (!pv.F[kLogKs] && !pv.F[kLogKd]) return EndPlacement::None;
  const float* term = gModelParams.nonidealTerm;
  const double signal = CurrentScanSet().signalPerConcentration > 0 ? CurrentScanSet().signalPerConcentration : 1.0;
  // The total loading in the solver's units, as the terms act on it.
  const double load = (std::fabs(pv.P[kLoading]) + std::max(term[3], 0.0f) + std::max(term[7], 0.0f)) / signal;
  if (!(load > 0.0)) return EndPlacement::None;
  const int n = ParametersToFitVector(0, nullptr);
  if (n == 0) return EndPlacement::None;
  std::vector<float> end(static_cast<size_t>(n) + 1), trial(end), best(end);
  PackFitVectorUnclamped(n, end.data());
  const unsigned char redraw = gSimulationSwitches.redrawDuringSimulation;
  gSimulationSwitches.redrawDuringSimulation = 0;
  fs.fitRunning = 1;
  std::vector<float> at(end);
  const float endRmsd = SimplexSim(at.data(), host);
  float lowest = endRmsd;
  bool found = false;
  std::vector<float> saved(pv.P, pv.P + kParameterSlots + 1);
  const bool mass = fs.molarMassParameters != 0;
  const double ksLoad = std::pow(10.0, static_cast<double>(saved[kLogKs])) * load;
  const double kdLoad = std::pow(10.0, static_cast<double>(saved[kLogKd])) * load;
  // One trial: the end with s and D times the factors and the terms at
  // the loads given; the lowest is kept. Returns the trial's rmsd.
  auto tryAt = [&](double ks, double kd, double sFactor, double dFactor) {
    if (fs.stopRequested) return HUGE_VALF;
    std::copy(saved.begin(), saved.end(), pv.P);
    if (pv.F[kLogKs]) pv.P[kLogKs] = static_cast<float>(std::log10(ks / load));
    if (pv.F[kLogKd]) pv.P[kLogKd] = static_cast<float>(std::log10(kd / load));
    if (pv.F[kS]) pv.P[kS] = static_cast<float>(sFactor * saved[kS]);
    // A molar mass goes with s over D.
    if (pv.F[kSize])
      pv.P[kSize] = static_cast<float>(mass ? saved[kSize] * (pv.F[kS] ? sFactor : 1.0) / dFactor : dFactor * saved[kSize]);
    PackFitVectorUnclamped(n, trial.data());
    const float y = SimplexSim(trial.data(), host);
    if (y < lowest) {
      lowest = y;
      best = trial;
      found = true;
    }
    return y;
  };
  // ks placed with s0 moved to keep s0 (1 - ks c), the plateau's s (the
  // solver's linear factor; s0 / (1 + ks c) put s0 4 % low at ks c 0.2, a
  // boundary far off, and no trial came near the floor).
  if (pv.F[kLogKs])
    for (double ks : kPlacedKsLoads) {
      const double sFactor = (1.0 - std::min(ksLoad, kNonidealKsLoadMost)) / (1.0 - ks);
      if (!pv.F[kSize]) {
        tryAt(ks, kdLoad, sFactor, 1.0);
        continue;
      }
      constexpr int kFactors = static_cast<int>(std::size(kDWithKsFactors));
      float y[kFactors];
      int b = 0;
      for (int j = 0; j < kFactors; ++j) {
        y[j] = tryAt(ks, kdLoad, sFactor, kDWithKsFactors[j]);
        if (y[j] < y[b]) b = j;
      }
      // The best factor bracketed by its neighbours, narrowed by golden
      // sections in log D.
      double a = std::log(kDWithKsFactors[std::max(b - 1, 0)]);
      double c = std::log(kDWithKsFactors[std::min(b + 1, kFactors - 1)]);
      constexpr double kGolden = 0.6180339887498949;
      double u = c - kGolden * (c - a), v = a + kGolden * (c - a);
      float yu = tryAt(ks, kdLoad, sFactor, std::exp(u)), yv = tryAt(ks, kdLoad, sFactor, std::exp(v));
      for (int step = 2; step < kDRefinements && !fs.stopRequested; ++step) {
        if (yu < yv) {
          c = v;
          v = u;
          yv = yu;
          u = c - kGolden * (c - a);
          yu = tryAt(ks, kdLoad, sFactor, std::exp(u));
        } else {
          a = u;
          u = v;
          yu = yv;
          v = a + kGolden * (c - a);
          yv = tryAt(ks, kdLoad, sFactor, std::exp(v));
        }
      }
    }
  // kd placed with D0 moved to keep D0 (1 + kd c).
  if (pv.F[kLogKd])
    for (double kd : kPlacedKdLoads)
      for (float dFactor : kDWithKdFactors)
        if (pv.F[kSize] || dFactor == 1.0f) tryAt(ksLoad, kd, 1.0, dFactor * (1.0 + kdLoad) / (1.0 + kd));
  std::copy(saved.begin(), saved.end(), pv.P);
  fs.fitRunning = 0;
  const bool stopped = fs.stopRequested != 0;
  const bool lower = found && !stopped &&
                     ChiSquareFall(endRmsd, lowest, fs.rmsdPointCount, RmsdResolution()) >= kLowerByChiSquare;
  fs.stopRequested = 0;
  {
    platform::InputHold hold;
    SimplexSim(lower ? best.data() : end.data(), host);
  }
  gSimulationSwitches.redrawDuringSimulation = redraw;
  return stopped ? EndPlacement::Stopped : lower ? EndPlacement::Lower : EndPlacement::None;
}

// The iterations the valley's Levenberg-Marquardt steps take at most: the
// ten units of chi-square that tell an end on the slope show within them.
// From an end with log10 kd held 1.4 decades off (the rest fitted) they
// lowered chi-square by 42-190 units in 10 iterations, of the 65-220 a
// whole run found; over two components a whole run crept on for its 100
// iterations (900 evaluations, 95 s of one thread), each step lowering
// chi-square a little, and the simplex goes on from their end anyway.
constexpr int kValleyIterations = 10;
// The valley's derivatives are taken over steps this many times the fit's
// own (1.0005 -> 1.005 of a value). The solver's steps follow the parameters,
// so chi-square (10 000 points, noise 0.01) jumps by 1-2 units between
// parameters 1e-6 apart; over the fit's own derivative steps that roughness
// swamped the slope along the floor, every trial from an end 340 units
// above it was rejected, and the end was put back as "reached".
constexpr double kValleyDerivativeStep = 10.0;

// Levenberg-Marquardt from the simplex's end: the simplex settles on the
// slope of the valley where D and kd trade (at log10 kd -2.4 for -10, 2 %
// above its floor), its vertices off the narrow floor all higher, while
// steps that move D with kd go on down. Where they lower chi-square by ten
// units or more within kValleyIterations the end was no minimum; otherwise
// the end is put back as it was, its note too.
EndPlacement StepDownTheValley(FitHost* host) {
  FitEngineState& fs = gFitEngineState;
  const int n = ParametersToFitVector(0, nullptr);
  if (n == 0) return EndPlacement::None;
  std::vector<float> end(static_cast<size_t>(n) + 1);
  PackFitVectorUnclamped(n, end.data());
  const float endRmsd = CalcRmsd();
  const FitEndRecord endRecord = LastFitEnd();
  // The steps' own end (their limit among them) is no end of the fit.
  const int iterations = fs.mlMaxIterations;
  const std::int32_t errorCode = gSerialFitSettings.errorCode;
  fs.mlMaxIterations = std::min(iterations, kValleyIterations);
  const double stepFactor = fs.mlParamStepFactor, stepAbsolute = fs.mlParamStepAbsolute;
  fs.mlParamStepFactor = 1.0 + kValleyDerivativeStep * (stepFactor - 1.0);
  fs.mlParamStepAbsolute = kValleyDerivativeStep * stepAbsolute;
  MLOptimize(host);
  fs.mlParamStepFactor = stepFactor;
  fs.mlParamStepAbsolute = stepAbsolute;
  fs.mlMaxIterations = iterations;
  gSerialFitSettings.errorCode = errorCode;
  if (fs.stopRequested && !FitStoppedByBudget()) return EndPlacement::Stopped;
  const float rmsd = CalcRmsd();
  if (std::isfinite(rmsd) && rmsd < endRmsd &&
      ChiSquareFall(endRmsd, rmsd, fs.rmsdPointCount, RmsdResolution()) >= kLowerByChiSquare)
    return EndPlacement::Lower;
  fs.stopRequested = 0;
  LastFitEnd() = endRecord;
  platform::InputHold hold;
  SimplexSim(end.data(), host);
  return EndPlacement::None;
}

// A start a fit cannot go from: what is wrong with it and what to enter
// (empty: none), and whether the model can be computed there at all.
struct StartProblem {
  std::string text;
  bool computable = true;
};

// log10 ks or kd (slot k) against the range a fit of it holds it in: named
// above its upper end, with the range at the loading c (mg/ml). ks c above 1
// is named whether fitted or not: the solver computes nothing there.
StartProblem TermAboveItsRange(int k, double c) {
  const ModelParameterVector& pv = gModelParameterVector;
  const bool ks = k == kLogKs;
  const double logK = pv.P[k], kc = std::pow(10.0, logK) * c;
  const double most = ks ? kNonidealKsLoadMost : kNonidealKdLoadMost;
  const bool uncomputable = ks && !(kc <= 1.0);
  if (!(kc > most && (pv.F[k] || uncomputable)) && std::isfinite(logK)) return {};
  const char* name = ks ? "log10(ks)" : "log10(kd)";
  const char* term = ks ? "ks" : "kd";
  const double least = kNonidealTermLoadLeast;
  char text[500];
  std::snprintf(text, sizeof text,
                "%s = %.3f puts %s c at %.4g (c the components' total loading, %.4g mg/ml)%s; %s lies above its fit "
                "range %.3f to %.3f (%s c from %.3g to %.4g): enter a value within it",
                name, logK, term, kc, c,
                uncomputable ? ", where s = s0 (1 - ks c) falls below 0 and the model cannot be computed" : "", name,
                std::log10(least / c), std::log10(most / c), term, least, most);
  return {text, !uncomputable};
}

// The starting value the components' model cannot be computed at, or a
// fitted term above its range, named with what to enter; empty for a start
// a fit can go from. A fit from there would take no step (Levenberg-Marquardt
// forms no derivatives at a point it cannot compute) or leave the value the
// user entered without saying why.
StartProblem StartOutsideTheModel() {
  const float* P = gModelParameterVector.P;
  char text[300];
  if (!(P[kSize] != 0.0f) || !std::isfinite(P[kSize])) {
    std::snprintf(text, sizeof text, "D1 = %.3f, and the components' solver needs a D above 0: enter a D1 above 0",
                  P[kSize]);
    return {text, false};
  }
  if (!(P[kS] != 0.0f) || !std::isfinite(P[kS])) {
    std::snprintf(text, sizeof text, "s1 = %.3f, and the components' solver needs an s other than 0: enter an s1 "
                  "other than 0", P[kS]);
    return {text, false};
  }
  const double c = NonidealComponentsLoading();
  if (!(c > 0.0) || !std::isfinite(c)) return {};
  for (int k : {kLogKs, kLogKd}) {
    StartProblem above = TermAboveItsRange(k, c);
    if (!above.text.empty()) return above;
  }
  return {};
}

}  // namespace

int FitNonidealComponents(FitHost* host, FitMethod method) {
  const StartProblem start = StartOutsideTheModel();
  if (!start.text.empty()) {
    if (gSerialFitSettings.running) gSerialFitSettings.errorCode = 10;
    RecordFitEnd(host, FitEndKind::NotReached,
                 std::string("the fit stopped away from a minimum: ") +
                     (start.computable ? "no step was taken from the starting values: "
                                       : "the model could not be computed at the starting values, so no step was "
                                         "taken: ") +
                     start.text);
    return 0;
  }
  // The simplex's restarts can run out on the way down a valley: each
  // restart of a new fit's size lowers chi-square by tens to thousands of
  // units, the restarts of the size it shrank to settle at once on the
  // solver's rough floor, and the 50 were spent with rmsd 18 % above the
  // floor (ks 5 % off) that Levenberg-Marquardt reached from the same
  // start. Such an end is checked like any other.
  return FitWithEndPlacements(
      host, method,
      [](FitHost* h) {
        FitEngineState& fs = gFitEngineState;
        EndPlacement placed = PlaceNonidealityAnew(h);
        // After a simplex run (an annealing's finishing pass may be either).
        const bool byMarquardt =
            fs.useMarquardt || (fs.useAnnealing && fs.annealFinalMarquardt && fs.annealTemperature == 0.0f);
        if (placed == EndPlacement::None && !byMarquardt) placed = StepDownTheValley(h);
        return placed;
      },
      true)
      .result;
}
