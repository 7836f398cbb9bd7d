#include "distributions/conti_fit.h"

#include <algorithm>
#include <limits>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "data/scan_set.h"
#include "distributions/conti_context.h"
#include "distributions/conti_detection.h"
#include "distributions/conti_fit_display.h"
#include "distributions/conti_fit_work.h"
#include "distributions/conti_fit_vector.h"
#include "distributions/conti_grid.h"
#include "distributions/conti_model_family.h"
#include "distributions/conti_run.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_transforms.h"
#include "distributions/hydrodynamics.h"
#include "distributions/nnls.h"
#include "distributions/normal_equations.h"
#include "distributions/work_blocks.h"
#include "fit/annealing.h"
#include "fit/fit_budget.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/fit_target.h"
#include "fit/fit_vector.h"
#include "fit/marquardt.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/nelder_mead.h"
#include "fit/serial_fit_settings.h"
#include "fit/fit_end.h"
#include "fit/simulation_switches.h"
#include "numerics/arrays.h"
#include "platform/error_box.h"
#include "numerics/random.h"
#include "platform/diagnostics.h"
#include "platform/input_events.h"
#include "platform/paths.h"

using namespace conti_fit_work;

namespace conti_fit_work {

LastEvaluation gLastEvaluation;
MaterialEvidence gBestEvidence;
ResidualMemory* gResiduals = nullptr;

const ModelSelectorFlags& F() { return gModelSelectorFlags; }
FitEngineState& FS() { return gFitEngineState; }

double gSumSquares = 1e10;
double gFittedPoints = 0;

// Records the evidence of the evaluation just solved when it is the lowest
// of the fit. Not for the models whose noise-only misfit is not the centred
// data's alone (a fixed buffer component, time courses, groups of scans,
// DLS data).
void RecordMaterialEvidence(const ScanSet& sc, double points) {
  const NormalEquationBlock& b = NeqBlock();
  const NormalEquationInputs& in = NeqInputs();
  if (!b.block || !b.solution || b.fixedComponent || in.timeCourse || in.groupFirst != 0 ||
      CurrentDataTypeFlags().dls || !(points > 0.0))
    return;
  if (gBestEvidence.valid && !(gSumSquares < gBestEvidence.sumSquares)) return;
  const double radii = static_cast<double>(sc.lastGridPoint - sc.firstGridPoint + 1), scans = sc.count;
  double noise = 0.0;
  switch (ChooseNoiseModel(in)) {
    case NoiseModel::TIRI: noise = radii + scans - 1.0; break;
    case NoiseModel::TI: noise = radii; break;
    case NoiseModel::RI: noise = scans; break;
    case NoiseModel::Baseline: noise = 1.0; break;
    case NoiseModel::Plain: noise = 0.0; break;
    default: return;
  }
  gBestEvidence = MaterialEvidence{gSumSquares, b.sumSquaresData, points, noise, b.gridPoints, sc.count, true};
}

// Whether the systematic noise terms alone leave no more of the data than
// their noise: the sum of squares they leave, in units of the noise of
// NoiseFromNeighbours, against its degrees of freedom nu (the points less
// the noise terms'). For noise alone that chi-square is nu with a spread
// of sqrt(2 nu), widened by the noise estimate's own (relative sqrt(3/M)
// from M neighbour differences: the squares of adjacent differences share a
// point) as if the two were independent: sqrt(2 nu + 3 nu^2 / M). Beyond
// that at the probability kNoMaterialProbability the data hold a signal
// the noise terms cannot take up, whatever the distribution made of it.
// A TI noise may already have been taken off the scans (as after a Run
// with the noise subtracted): the mean of S scans at each radius, which
// leaves each neighbour difference a variance of only 2 sigma^2 (1 - 1/S).
// The noise is taken as large as that allows, S / (S - 1) times the
// estimate, whatever is fitted now: the test errs only towards noise.
// Without a noise estimate (no two neighbours) or degrees of freedom there
// is nothing to judge by: true.
bool NoiseTermsTakeUpData(const MaterialEvidence& e, double resolution) {
  const double nu = e.points - e.noiseParameters;
  if (!(e.noiseOnly > e.points * resolution * resolution)) return true;
  double differences = 0.0;
  double sigma2 = NoiseFromNeighbours(&differences);
  if (e.scans > 1) sigma2 *= e.scans / (e.scans - 1.0);
  sigma2 = std::max(sigma2, resolution * resolution);
  if (!(differences > 0.0) || !(nu > 0.0)) return true;
  const double chiSquare = e.noiseOnly / sigma2;
  const double spread = std::sqrt(2.0 * nu + 3.0 * nu * nu / differences);
  return 0.5 * std::erfc((chiSquare - nu) / (spread * std::sqrt(2.0))) > kNoMaterialProbability;
}

// Whether the best evaluation so far shows no material beyond the noise:
// the noise terms alone take the data up to their noise
// (NoiseTermsTakeUpData), and the distribution lowers chi-square no more
// than fitting noise would (FallWithinNoise, with the n fitted quantities).
// Then no fitted quantity of the fit is determined by the data. Data the
// noise terms cannot take up hold material even when the distribution
// takes none of it (an s range beside the boundaries, too few points): the
// fit of such a model ends as any fit of it does. `fall` receives the fall
// of chi-square the distribution gave.
bool DataShowNoMaterial(int n, double* fall) {
  const MaterialEvidence& e = gBestEvidence;
  *fall = 0.0;
  const double resolution = RmsdResolution();
  return e.valid &&
         FallWithinNoise(e.noiseOnly, e.sumSquares, e.points, e.noiseParameters, e.amplitudes, n, resolution,
                         fall) &&
         NoiseTermsTakeUpData(e, resolution);
}

float Evaluated(float* p, FitHost* host, float rmsd);

// Whether an evaluation depends on the fitted parameters alone: not so for a
// mean field taken from outside or a zone shown as it goes.
bool ParametersAlone() { return !F().NonidealCSModel && !ZoneGeometry(); }

EvaluatedPoints* gEvaluated = nullptr;

void RecordResiduals(const float* p, float rmsd) {
  ResidualMemory& m = *gResiduals;
  m.last.clear();
  const ScanSet& s = CurrentScanSet();
  for (int j = 1; j <= s.count; ++j) {
    const size_t u = static_cast<size_t>(j);
    if (u >= s.model.size() || u >= s.signals.size() || u >= s.firstFitPoint.size() || u >= s.lastFitPoint.size() ||
        !s.model[j] || !s.signals[j]) {
      m.last.clear();
      return;
    }
    for (int i = std::max(1, s.firstFitPoint[j]); i <= std::min(s.points[j], s.lastFitPoint[j]); ++i)
      m.last.push_back(s.signals[j][i] - s.model[j][i]);
  }
  if (rmsd < m.bestValue) {
    m.bestValue = rmsd;
    m.best = m.last;
    const int n = gEvaluated ? gEvaluated->n : 0;
    m.bestPoint.assign(p, p + n + 1);
  }
}

// ---- the drivers' shared steps ------------------------------------------------

void Trace(const char* text) { platform::WriteDiagnostics(text); }

std::vector<int> AllEntries(int n) {
  std::vector<int> entries;
  for (int i = 1; i <= n; ++i) entries.push_back(i);
  return entries;
}

std::vector<std::string> ContiEntryNames(const std::vector<int>& entries) {
  std::vector<std::string> names;
  for (int i : entries) names.push_back(ContiFitVectorEntryName(i));
  return names;
}

// TmpSaveBestParams is kept for the models whose saved parameter set can
// be restored; `smallStep` is the Marquardt-Levenberg save after a small
// step, which keeps the hybrid model.
bool SaveBestApplies(bool smallStep) {
  const ModelSelectorFlags& f = F();
  const bool on = f.CSModel || f.CSWith1DiscreteModel || f.CSWith1DiscreteComponent ||
                  TwoDimensional() || f.GeneralScalingLawCSModel || f.FMScalingLawModel;
  const bool excluded =
      f.LsgStarModel || (f.HybridCSLsgModel && !smallStep) || f.CSModel521 ||
      f.CSInvariantDModel || f.CSWithMsTableModel || f.NonidealCSModel ||
      f.ConformationalChangeCSModel || f.FixFF0FloatingVbarCSModel || f.WormlikeChainCSModel ||
      Bimodal() || f.CMPriorVbarModel || f.LsgStarWith1DiscreteModel ||
      CurrentDataTypeFlags().dls || (f.ElectrophoresisCVModel && Conti().constantDSwitch) ||
      CurrentScanSet().equilibriumMode;
  return on && !excluded;
}

void SaveBest(FitHost* host, bool smallStep) {
  if (SaveBestApplies(smallStep)) host->TmpSaveBestParams(0);
}

void RaiseInterruptFlags(FitHost* host) {
  gSerialFitSettings.abortRequest = 1;
  if (host) host->RaiseRealtimeInterrupt();
}

// The largest f/f0 at which the data can still tell f/f0 apart: with D
// falling as f/f0^-3/2 at a given s, the boundaries of every species grow
// narrower, until even the broadest, of the smallest s of the grid, spreads
// by diffusion over less than two spacings of the radii by the last scan
// (sqrt(2 D t) below 2 dr: a feature narrower than two samples is not
// resolved). Beyond, a larger f/f0 only steepens boundaries the data cannot
// resolve (over featureless scans it fits the noise a little better, step by
// step), while the solver's grid and time steps follow them and each
// evaluation grows slower without bound. Never above kMaxFrictionalRatio,
// never below the value the fit starts from.
float FrictionalRatioCeiling() {
  const ScanSet& ss = CurrentScanSet();
  const ContiSettings& cs = Conti();
  float ceiling = kMaxFrictionalRatio;
  if (ss.count < 1 || static_cast<int>(ss.radii.size()) <= 1 || !ss.radii[1] || !cs.sValues) return ceiling;
  double tLast = 0.0;
  for (int j = 1; j <= ss.count && j < static_cast<int>(ss.records.size()); ++j)
    tLast = std::max(tLast, ss.records[j].time);
  const int first = std::max(1, ss.firstFitPoint[1]), last = std::min(ss.points[1], ss.lastFitPoint[1]);
  if (!(tLast > 0.0) || last <= first) return ceiling;
  const double dr = (static_cast<double>(ss.radii[1][last]) - ss.radii[1][first]) / (last - first);
  float sLeast = 0.0f;
  for (int i = 1; i <= cs.gridSize; ++i)
    if (cs.sValues[i] > 0.0f && (sLeast == 0.0f || cs.sValues[i] < sLeast)) sLeast = cs.sValues[i];
  if (!(sLeast > 0.0f) || !(dr > 0.0)) return ceiling;
  const float T = ss.records[ss.count].temperature;
  const double dAtOne = SvedbergD(CalculateMff02(sLeast, 1.0f), sLeast, T);
  const double dLeast = 4.0 * dr * dr / (2.0 * tLast);
  if (!(dAtOne > dLeast)) return ceiling;
  const double resolved = std::pow(dAtOne / dLeast, 2.0 / 3.0);
  if (resolved < ceiling) ceiling = static_cast<float>(resolved);
  if (cs.ffValue > ceiling) ceiling = cs.ffValue;
  if (cs.secondFf > ceiling) ceiling = cs.secondFf;
  return std::min(ceiling, kMaxFrictionalRatio);
}

// The smallest f/f0 a fit takes: kMinFrictionalRatio, or the value it
// starts from when lower (never a value the user entered moved by the
// start); none where the value the entry holds is a D (c(v) with its
// constant D, c(M) with invariant D) or the data are DLS data.
float FrictionalRatioFloor() {
  const ContiSettings& cs = Conti();
  if (F().ElectrophoresisCVModel || F().CMInvariantDModel || CurrentDataTypeFlags().dls) return 0.0f;
  float floor = kMinFrictionalRatio;
  if (cs.fitFfValue && cs.ffValue < floor) floor = cs.ffValue;
  if (Bimodal() && cs.fitSecondFf && cs.secondFf < floor) floor = cs.secondFf;
  return std::max(floor, 0.0f);
}

// Whether a fitted f/f0 stands at its ceiling.
bool AtFrictionalRatioCeiling() {
  const ContiSettings& cs = Conti();
  return conti_fit_vector::EntryPositions().ff0 > 0 && cs.ffValue >= ContiFrictionalRatioCeilingInUse();
}

// The common start of the three drivers; false when a check fails.
bool CommonStart(FitHost* host, unsigned char* redraw) {
  FitEngineState& fs = FS();
  Conti().finalEvaluation = 0;
  *redraw = gSimulationSwitches.redrawDuringSimulation;
  gSimulationSwitches.redrawDuringSimulation = 0;
  if (!host || !CheckFitLimitsBeforeFit(host) || !SetupContiGrid()) {
    gSimulationSwitches.redrawDuringSimulation = *redraw;
    return false;
  }
  fs.fitRunning = 1;
  fs.evaluationsThisRun = 0;
  fs.evaluationsTotal = 0;
  gLastEvaluation.valid = false;
  gBestEvidence.valid = false;
  SetContiFrictionalRatioCeiling(FrictionalRatioCeiling());
  SetContiFrictionalRatioFloor(FrictionalRatioFloor());
  DisplayBestContiParams(host);
  return true;
}

// The distribution of the current parameters, regularised, on the screen.
void FinishDistribution() {
  ShowContiSolution();
  Conti().finalEvaluation = 0;
}

// Nothing floats: no optimiser runs, but the distribution shown belongs to
// the current parameters (the grid set-up has just reset the blocks).
int NothingFloats(FitHost* host, unsigned char redraw) {
  FitEngineState& fs = FS();
  fs.fitRunning = 0;
  Conti().finalEvaluation = 1;
  {
    platform::InputHold hold;
    ContiSimplexSim(nullptr, host);
  }
  FinishDistribution();
  gSimulationSwitches.redrawDuringSimulation = redraw;
  return 1;
}

// Vertices other than `keep` scattered around vertex `centre` by Gaussian
// deviates of spread(i) x 0.1 x value.
void Scatter(float** p, int n, int centre, int keep) {
  for (int j = 1; j <= n + 1; ++j) {
    if (j == centre || j == keep) continue;
    for (int i = 1; i <= n; ++i)
      p[j][i] = p[centre][i] + GaussRandom(ContiSimplexSpread(i) * 0.1f * p[centre][i]);
  }
}

// Vertices other than `centre` drawn around it with the widths a restart
// learnt (absolute, per coordinate).
void ScatterLearnt(float** p, int n, int centre, const float* spread) {
  for (int j = 1; j <= n + 1; ++j) {
    if (j == centre) continue;
    for (int i = 1; i <= n; ++i) p[j][i] = p[centre][i] + LearntStep(spread[i]);
  }
}

void StopEnd(FitHost* host) {
  // The budget refuses an evaluation before it starts: nothing was cut
  // short, and a series goes on.
  if (FitStoppedByBudget()) {
    FS().stopRequested = 0;
    return;
  }
  RecordFitEnd(host, FitEndKind::Stopped, "the fit was stopped: the best parameters found are kept");
  RaiseInterruptFlags(host);
  FS().stopRequested = 0;
  SetupContiGrid();
}

}  // namespace conti_fit_work

// ---- the objective ---------------------------------------------------------------

float ContiSimplexSim(float* p, FitHost* host) {
  FitEngineState& fs = FS();
  ContiSettings& cs = Conti();
  if (fs.stopRequested || !FitEvaluationAllowed()) return 1e10f;
  // A trial holding a value that is not finite never reaches the model's
  // entries (see SimplexSim).
  if (p)
    for (int j = 1, m = ContiParametersToFitVector(0, nullptr); j <= m; ++j)
      if (!std::isfinite(p[j])) return kRejectedTrial;
  Trace("\nEntering ContiSimplexSim");
  ++fs.evaluationsThisRun;
  if (p) ContiFitVectorToParameters(p, host);
  // The point as the model took it, within its limits.
  const int n = p ? ContiParametersToFitVector(0, nullptr) : 0;
  const bool memo = p && fs.fitRunning && !cs.finalEvaluation && n > 0 && ParametersAlone();
  if (memo && gLastEvaluation.valid && static_cast<int>(gLastEvaluation.point.size()) == n &&
      std::equal(gLastEvaluation.point.begin(), gLastEvaluation.point.end(), p + 1)) {
    gSumSquares = gLastEvaluation.sumSquares;
    gFittedPoints = gLastEvaluation.points;
    return Evaluated(p, host, gLastEvaluation.rmsd);
  }
  gLastEvaluation.valid = false;
  gSumSquares = 1e10;
  cs.silent = 1;
  if (ZoneGeometry()) DisplayBestContiParams(host);
  if (F().NonidealCSModel && ContiFitDisplay().checkExternalMeanField)
    ContiFitDisplay().checkExternalMeanField();
  // The run clears the stop flag when it gives up on an interrupted
  // computation and marks the data as changed; either tells of the key.
  ScanSet& sc = CurrentScanSet();
  const unsigned char changed = sc.dataChanged;
  sc.dataChanged = 0;
  RunContiSed();
  // Cut short because the fit's time ran out: refused like the evaluation
  // after it would be, no interruption passed on. Computed whole, it counts.
  if (FitEvaluationOutOfTime(sc.dataChanged != 0 || platform::StopFlag().load())) {
    sc.dataChanged = changed;
    cs.silent = 0;
    return 1e10f;
  }
  const bool interrupted = sc.dataChanged != 0 || platform::StopFlag().load();
  sc.dataChanged = changed || sc.dataChanged;
  Trace("\n start CalculateppAFit in ContiSimplexSim");
  CalculateppAFit();
  Trace(" --> done");
  cs.silent = 0;
  if (interrupted) {
    RaiseInterruptFlags(host);
    // The rest of the fit is its ending: further presses are no new stops.
    platform::HoldInput();
    platform::StopFlag() = false;
    fs.stopRequested = 1;
    // The interrupted evaluation has no misfit: it must never count as the
    // best vertex.
    return 1e10f;
  }
  // A parameter set the species could not be simulated at has no misfit: it
  // must never count as the best vertex.
  if (cs.lastRunFailed) return 1e10f;
  const double points = static_cast<double>(sc.lastGridPoint - sc.firstGridPoint + 1) * sc.count;
  if (NeqBlock().block && points > 0) {
    gSumSquares = ChiSquareFromNormalEquations();
    if (fs.fitRunning && !cs.finalEvaluation) RecordMaterialEvidence(sc, points);
  }
  gFittedPoints = points;
  const float rmsd = DetectionObjectiveRmsd(
      static_cast<float>(std::sqrt(std::fabs(gSumSquares) / (points > 0 ? points : 1.0))));
  if (memo && rmsd < 1e9f) {
    gLastEvaluation.point.assign(p + 1, p + 1 + n);
    gLastEvaluation.sumSquares = gSumSquares;
    gLastEvaluation.points = gFittedPoints;
    gLastEvaluation.rmsd = rmsd;
    gLastEvaluation.valid = true;
  }
  return Evaluated(p, host, rmsd);
}

namespace conti_fit_work {

// What every evaluation that ends in a misfit does with it: the restarts'
// records, the counts and the progress lines.
float Evaluated(float* p, FitHost* host, float rmsd) {
  FitEngineState& fs = FS();
  fs.currentRmsd = rmsd;
  if (gEvaluated && p) gEvaluated->Add(p, rmsd);
  if (gResiduals && gEvaluated && p) RecordResiduals(p, rmsd);
  ++fs.evaluationsThisRun;
  ++fs.evaluationsTotal;
  Trace("\n start info output  in ContiSimplexSim");
  if (host && host->DrawingEnabled()) {
    char a[160], b[160];
    if (fs.useMarquardt) {
      std::snprintf(a, sizeof a, "sim #%d, ML step #%d, step #%d         ", fs.evaluationsTotal,
                    fs.minimiserRuns, fs.evaluationsThisRun);
      std::snprintf(b, sizeof b, "testrmsd=%f (n=%.0f,lambda=%.1e)     ", fs.mlTestRmsd,
                    fs.mlPointCount, fs.mlLambda);
    } else if (fs.useAnnealing) {
      std::snprintf(a, sizeof a, "sim #%d, SA step #%d, step #%d, T=%.3f        ",
                    fs.evaluationsTotal, fs.minimiserRuns, fs.evaluationsThisRun,
                    fs.annealTemperature);
      std::snprintf(b, sizeof b, "testrmsd=%e             ", fs.currentRmsd);
    } else {
      std::snprintf(a, sizeof a, "s%d, step #%d        ", fs.minimiserRuns, fs.evaluationsThisRun);
      std::snprintf(b, sizeof b, "testrmsd=%e             ", fs.currentRmsd);
    }
    Trace(" --> done(1)");
    host->DrawText(10, 30, a);
    host->DrawText(10, 50, b);
    Trace(" --> done(2)");
  }
  Trace("\nExit ContiSimplexSim");
  return rmsd;
}

}  // namespace conti_fit_work

// ---- the drivers ----------------------------------------------------------------

namespace {

// Nested ContiFit calls (annealing's finishing pass is one).
int gContiFitDepth = 0;

std::vector<float> PackedContiFitVector() {
  const int n = ContiParametersToFitVector(0, nullptr);
  std::vector<float> v(static_cast<size_t>(n) + 1, 0.0f);
  ContiParametersToFitVector(n, v.data());
  return v;
}

// Whether the minimiser that ended the fit was Marquardt-Levenberg's. Its
// misfit is the sum of squares at the scans' own points inside the fit
// limits (mlcof forms it from the scans' models), while the simplex and the
// annealing minimise the common grid's (the rmsd ContiSimplexSim returns).
// The two differ: over pure noise about 0.5 in twenty scans the grid's
// fell by 735 units of chi-square with f/f0 a tenth higher where the
// scans' rose by 44, so that an end judged by the grid's was told away
// from a minimum Fit after Fit while Marquardt-Levenberg stayed put.
bool gEndedByMarquardt = false;

// The Marquardt-Levenberg misfit at p, as an rmsd over the scans' fitted
// points (their number in gFittedPoints); kRejectedTrial and the like as
// ContiSimplexSim gives them.
float ScanPointsRmsd(float* p, FitHost* host) {
  const float rmsd = ContiSimplexSim(p, host);
  if (!(rmsd < kRejectedTrial)) return rmsd;
  const ScanSet& ss = CurrentScanSet();
  double sum = 0.0, points = 0.0;
  for (int s = 1; s <= ss.count; ++s) {
    const int first = ss.firstFitPoint[s], last = ss.lastFitPoint[s];
    if (last < first || !ss.signals[s] || !ss.model[s]) continue;
    for (int k = first; k <= last; ++k) {
      const double dy = static_cast<double>(ss.signals[s][k]) - ss.model[s][k];
      sum += dy * dy;
    }
    points += last - first + 1;
  }
  gFittedPoints = points;
  return points > 0.0 ? static_cast<float>(std::sqrt(sum / points)) : rmsd;
}

// Once, where the whole fit ended: which of the fitted quantities the data
// leave open there, judged by the misfit the fit minimised (the
// distribution unregularised, as during the iterations; at the scans' own
// points after Marquardt-Levenberg, on the common grid else); then the end
// point evaluated again as the fit left it, regularised, and shown. A key
// during the test, even at the end point's own evaluation, tells the fit
// stopped there, as a key during the discrete fit's test does.
void JudgeTheContiEnd(FitHost* host, const std::vector<float>& start) {
  if (LastFitEnd().kind != FitEndKind::Reached || FS().budgetSpent) return;
  FitEndPoint end;
  end.value = PackedContiFitVector();
  const int n = static_cast<int>(end.value.size()) - 1;
  if (n < 1 || start.size() != end.value.size()) return;
  end.start = start;
  // The end's display gave the work arrays and the normal equations back:
  // the probes need them again, as a fit's start does, and without them the
  // evaluation that restores the end would show the distribution it finds
  // in place (already a density) divided by the grid's widths once more.
  if (!SetupContiGrid()) return;
  end.signalUnits.assign(end.value.size(), 0);
  for (int k = 1; k <= n; ++k)
    end.signalUnits[static_cast<size_t>(k)] = NamedInSignalUnits(ContiFitVectorEntryName(k));
  std::vector<float> at(end.value);
  Conti().finalEvaluation = 0;
  const auto misfit = gEndedByMarquardt ? ScanPointsRmsd : ContiSimplexSim;
  const int codeBefore = gSerialFitSettings.errorCode;
  end.rmsd = misfit(at.data(), host);
  end.points = gFittedPoints;
  const bool stoppedAtTheEnd = UserStopPending();
  if (!(end.rmsd < kRejectedTrial) || FS().stopRequested) end.rmsd = 0.0;
  bool restored = false;
  if (!stoppedAtTheEnd) TellWhatTheDataLeaveOpen(host, misfit, end, ContiFitVectorEntryName, [&] {
    restored = true;
    std::vector<float> back(end.value);
    Conti().finalEvaluation = 1;
    {
      platform::InputHold hold;
      ContiSimplexSim(back.data(), host);
    }
    FinishDistribution();
    DisplayBestContiParams(host);
    host->RequestRepaint();
  });
  // Nothing probed: the end's regularised solution, shown, as it was.
  if (!restored) {
    std::vector<float> back(end.value);
    FS().stopRequested = 0;
    Conti().finalEvaluation = 1;
    {
      platform::InputHold hold;
      ContiSimplexSim(back.data(), host);
    }
    FinishDistribution();
    DisplayBestContiParams(host);
  }
  if (stoppedAtTheEnd) {
    gSerialFitSettings.errorCode = codeBefore;
    TellStoppedAtTheEnd(host);
  }
}

}  // namespace

int ContiFit(FitHost* host) {
  const FitEngineState& fs = FS();
  OneEndBox oneBox(host);
  FitBudgetScope wholeFit(host);
  const bool outermost = gContiFitDepth++ == 0;
  struct Leave {
    ~Leave() { --gContiFitDepth; }
  } leave;
  const std::vector<float> start = outermost ? PackedContiFitVector() : std::vector<float>{};
  if (outermost) gEndedByMarquardt = false;
  int result;
  if (fs.useAnnealing && fs.annealTemperature > 0.0f)
    result = ContiSimulatedAnnealingFit(host);
  else if (fs.useMarquardt || (fs.useAnnealing && fs.annealFinalMarquardt && fs.annealTemperature == 0.0f)) {
    result = MLContiFit(host);
    gEndedByMarquardt = true;
  } else {
    result = NelderMeadRestarts(host);
    gEndedByMarquardt = false;
  }
  if (outermost && result == 1 && host) JudgeTheContiEnd(host, start);
  return result;
}

int ContiSimulatedAnnealingFit(FitHost* host) {
  FitEngineState& fs = FS();
  OneEndBox oneBox(host);
  FitBudgetScope wholeFit(host);
  unsigned char redraw = 0;
  if (!CommonStart(host, &redraw)) return 0;
  const int n = ContiParametersToFitVector(0, nullptr);
  if (n == 0) return NothingFloats(host, redraw);
  const float t0 = fs.annealStartTemperature;
  bool interrupted = false, noMaterial = false;
  double noMaterialFall = 0.0;
  fs.annealTemperature = t0;
  fs.minimiserRuns = 0;
  host->RequestRepaint();
  // The first run only approaches the minimum; the restarts end where the
  // values of the simplex agree to kFitSimplexTolerance.
  const float tol = 0.005f;
  fs.stopRequested = 0;
  fs.startRmsd = fs.startRmsdCopy = fs.currentRmsd;
  {
    FloatMat simplex(1, n + 1, 1, n);
    FloatVec y(1, n + 1), pb(1, n);
    float** p = simplex;
    ContiParametersToFitVector(n, p[1]);
    Scatter(p, n, 1, 1);
    const int b = EvaluateSimplexFromStart(host, p, y, n, ContiSimplexSim);
    ContiFitVectorToParameters(p[b], host);
    ContiParametersToFitVector(n, pb);
    float yb = y[b];
    fs.startRmsd = fs.startRmsdCopy = yb;
    // Data that show no material beyond the noise determine none of the
    // fitted quantities: no schedule and no finishing pass (see
    // NelderMeadRestarts); the best vertex of the start is the result.
    noMaterial = !fs.stopRequested && DataShowNoMaterial(n, &noMaterialFall);
    // The objective evaluates the point its unpacking takes (the vertex
    // gets it back), so that unpacking tells which points beyond a limit
    // were evaluated before.
    if (!noMaterial)
      RunAnnealingSchedule(host, p, y, n, pb, &yb, tol, ContiSimplexSim, t0, ParametersAlone(),
                           ContiFitVectorToParameters);
    interrupted = fs.stopRequested != 0;
    if (interrupted) StopEnd(host);
    fs.fitRunning = 0;
    Conti().finalEvaluation = 1;
    // The best point the schedule met, which the simplex may have left.
    platform::InputHold hold;
    ContiSimplexSim(pb, host);
    ContiFitVectorToParameters(pb, host);
  }
  gSimulationSwitches.redrawDuringSimulation = redraw;
  fs.annealTemperature = 0.0f;
  // A fit the user stopped is not started again for its finishing pass.
  if (!interrupted && !noMaterial && (fs.annealFinalMarquardt || fs.annealFinalSimplex)) {
    Conti().finalEvaluation = 0;
    ContiFit(host);
  } else {
    FinishDistribution();
    SaveBest(host);
    host->RequestRepaint();
    DisplayBestContiParams(host);
    if (!FitStoppedByBudget() && !interrupted && noMaterial)
      ReportNoMaterial(host, ContiEntryNames(AllEntries(n)), noMaterialFall, gBestEvidence.amplitudes);
    else if (!FitStoppedByBudget() && !interrupted)
      ReportAnnealingEnd(host, false);
  }
  fs.annealTemperature = t0;
  return 1;
}
