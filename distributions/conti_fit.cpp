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
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/fit_target.h"
#include "fit/fit_vector.h"
#include "fit/marquardt.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/nelder_mead.h"
#include "fit/serial_fit_settings.h"
#include "fit/stalled_steps.h"
#include "fit/simulation_switches.h"
#include "numerics/arrays.h"
#include "platform/error_box.h"
#include "numerics/random.h"
#include "platform/diagnostics.h"
#include "platform/input_events.h"
#include "platform/paths.h"

namespace {

const ModelSelectorFlags& F() { return gModelSelectorFlags; }
FitEngineState& FS() { return gFitEngineState; }

// The fit vector's model predicates and the positions of its entries.
using conti_fit_vector::Bimodal;
using conti_fit_vector::Positions;
using conti_fit_vector::TwoDimensional;
using conti_fit_vector::ZoneGeometry;

// Sum of squared residuals of the last evaluation, and its number of points.
double gSumSquares = 1e10;
double gFittedPoints = 0;

// The point of the last evaluation during a fit and its misfit, while the
// model still holds its curves: a minimiser that asks for the same point
// again (a step beyond a limit put back onto it, a derivative taken
// outwards at a limit) is given the same result without solving the
// species again. Forgotten at every fit's start, after an evaluation that
// did not end in a misfit, and for the result's own evaluation.
struct LastEvaluation {
  std::vector<float> point;
  double sumSquares = 0.0, points = 0.0;
  float rmsd = 0.0f;
  bool valid = false;
};
LastEvaluation gLastEvaluation;

// The lowest misfit a fit has evaluated so far, beside what the systematic
// noise terms alone leave of the data (the normal equations' sum of squares
// of the centred data) and the count of its amplitudes: whether the data
// show any material at all (FallWithinNoise). Every amplitude counts, not
// only the positive ones: the non-negative solve picks from all of them
// those that fit the noise best, and a few picked from a hundred lower
// chi-square by far more than a few chosen in advance. Forgotten at every
// fit's start.
struct MaterialEvidence {
  double sumSquares = 0.0, noiseOnly = 0.0, points = 0.0, noiseParameters = 0.0;
  int amplitudes = 0, scans = 0;
  bool valid = false;
};
MaterialEvidence gBestEvidence;

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

// The noise of the scans as their own points tell it, free of any model:
// half the mean square of the differences of neighbouring signals inside
// the fit limits (for independent noise of variance sigma^2 each difference
// has variance 2 sigma^2). A boundary adds its small rise between
// neighbours and TI noise its own jaggedness: both only raise the
// estimate. `differences` receives their count.
double NoiseFromNeighbours(double* differences) {
  const ScanSet& ss = CurrentScanSet();
  double sum = 0.0, count = 0.0;
  for (int s = 1; s <= ss.count; ++s) {
    const size_t u = static_cast<size_t>(s);
    if (u >= ss.signals.size() || u >= ss.firstFitPoint.size() || u >= ss.lastFitPoint.size() || !ss.signals[s])
      continue;
    const float* y = ss.signals[s];
    for (int k = std::max(1, ss.firstFitPoint[s]); k < ss.lastFitPoint[s]; ++k) {
      const double d = static_cast<double>(y[k + 1]) - y[k];
      sum += d * d;
      count += 1.0;
    }
  }
  *differences = count;
  return count > 0.0 ? sum / (2.0 * count) : 0.0;
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

// The points the Nelder-Mead restarts have evaluated (none outside them).
EvaluatedPoints* gEvaluated = nullptr;

// The residuals (data less model and noise at the scans' fitted points) of the
// last evaluation, and those of the lowest one with its point, while the
// Nelder-Mead restarts record them.
struct ResidualMemory {
  std::vector<float> last, best, bestPoint;
  float bestValue = 1e30f;
};
ResidualMemory* gResiduals = nullptr;

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
bool SaveBestApplies(bool smallStep = false) {
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

void SaveBest(FitHost* host, bool smallStep = false) {
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

}  // namespace

bool ContiRestartsConverged(const float* q, const float* p, int n, float r, float y, float tol) {
  if (r != 0.0f && std::fabs(y - r) / std::fabs(r) > tol) return false;
  for (int i = 1; i <= n; ++i) {
    if (q[i] != 0.0f) {
      if (std::fabs(q[i] - p[i]) / std::fabs(q[i]) > tol) return false;
    } else if (std::fabs(p[i]) > tol) {
      return false;
    }
  }
  return true;
}

namespace {

// Steps to the minimum of a quadratic through the points evaluated so far,
// while the model expects a fall of more than half the spread the runs end
// at and each step finds a lower value: along the flat valley of f/f0 and
// the meniscus a simplex creeps, where the quadratic sees its floor. An
// accepted step replaces the best vertex; true when one was accepted.
bool QuadraticModelSteps(FitHost* host, float** p, float* y, int n, int b, const EvaluatedPoints& evaluated) {
  constexpr int kMaxSteps = 3;
  FloatVec trial(1, n);
  bool moved = false;
  for (int step = 0; step < kMaxSteps && !FS().stopRequested; ++step) {
    float drop = 0.0f;
    if (!QuadraticModelMinimum(evaluated, trial, &drop) || drop <= 0.5f * kFitSimplexTolerance) break;
    const float value = ContiSimplexSim(trial, host);
    if (!(value < y[b])) break;
    for (int i = 1; i <= n; ++i) p[b][i] = trial[i];
    y[b] = value;
    moved = true;
  }
  return moved;
}

// Levenberg-Marquardt steps on the residuals from the lowest point seen,
// the Jacobian by forward differences of the nonlinear parameters (the
// linear amplitudes and the noise solved inside every evaluation): along a
// narrow curved valley of f/f0 and the meniscus a simplex crawls, where a
// step of the linearised residuals crosses it in n + 1 evaluations. Ends
// when the step expected no fall above half the spread the runs end at
// (after an accepted step judged on the Jacobian carried over it), or found
// none after a few tries. A coordinate at a meniscus or bottom limit
// that the step would carry beyond it stays at the limit. The lowest point
// replaces the best vertex; `curvature` receives J^T J at the last Jacobian
// in the relative units of ShapeSimplex. Two accepted steps in a row that
// move an entry for almost no fall (StalledSteps, against the values the
// fit started from, `start`) end them, the entries they moved in
// `undetermined`. True when a Jacobian was formed.
bool MarquardtSteps(FitHost* host, float** p, float* y, int n, int b, ResidualMemory& memory,
                    QuadraticCurvature* curvature, bool* held, const float* start, std::vector<int>* undetermined) {
  *held = false;
  undetermined->clear();
  StalledSteps stalled(n, start);
  constexpr int kMaxJacobians = 6, kMaxTries = 4;
  if (memory.best.empty() || !(memory.bestValue <= y[b]) || static_cast<int>(memory.bestPoint.size()) != n + 1)
    return false;
  const FitEngineState& fs = FS();
  const Positions at = conti_fit_vector::EntryPositions();
  FloatVec x(1, n), trial(1, n);
  for (int i = 1; i <= n; ++i) x[i] = memory.bestPoint[i];
  float fx = memory.bestValue;
  std::vector<float> r0 = memory.best;
  const size_t m = r0.size();
  std::vector<double> jac(m * n), a(static_cast<size_t>(n) * n), g(static_cast<size_t>(n)), d, h(static_cast<size_t>(n));
  std::vector<char> free(static_cast<size_t>(n));
  double lambda = 1e-3;
  bool formed = false;
  // The first differences step a tenth of the starting simplex; later ones
  // where the rmsd rises by kDifferenceRise alone: in a valley a hundred
  // times narrower across than along, a step as long across as along
  // measures the curvature instead of the slope.
  constexpr double kDifferenceRise = 1e-4;
  std::vector<double> next(static_cast<size_t>(n));
  for (int i = 1; i <= n; ++i) next[i - 1] = 0.01 * ContiSimplexSpread(i) * (x[i] != 0.0f ? std::fabs(x[i]) : 0.1);
  // A simplex vertex may lie a few roundings inside the limit it was pressed
  // against; a held coordinate is stepped onto the limit itself.
  auto near = [](float v, float limit) { return std::fabs(v - limit) <= 3e-7f * std::fabs(limit); };
  auto limitOf = [&](int i, bool upper) {
    return i == at.meniscus ? (upper ? fs.meniscusMax : fs.meniscusMin) : (upper ? fs.bottomMax : fs.bottomMin);
  };
  auto atUpper = [&](int i, float v) {
    return (i == at.meniscus && (v >= fs.meniscusMax || near(v, fs.meniscusMax))) ||
           (i == at.bottom && (v >= fs.bottomMax || near(v, fs.bottomMax)));
  };
  auto atLower = [&](int i, float v) {
    return (i == at.meniscus && (v <= fs.meniscusMin || near(v, fs.meniscusMin))) ||
           (i == at.bottom && (v <= fs.bottomMin || near(v, fs.bottomMin)));
  };
  // The normal equations of the residuals r0 at x linearised with jac; a
  // coordinate at a limit that the gradient pushes beyond it is held.
  auto normalEquations = [&] {
    for (int i = 0; i < n; ++i) {
      double gi = 0.0;
      for (size_t e = 0; e < m; ++e) gi += jac[e * n + i] * r0[e];
      g[i] = gi;
      for (int j = 0; j <= i; ++j) {
        double aij = 0.0;
        for (size_t e = 0; e < m; ++e) aij += jac[e * n + i] * jac[e * n + j];
        a[i * n + j] = a[j * n + i] = aij;
      }
    }
    for (int i = 0; i < n; ++i)
      free[i] = !((atUpper(i + 1, x[i + 1]) && g[i] < 0.0) || (atLower(i + 1, x[i + 1]) && g[i] > 0.0));
  };
  // The relative fall of the rmsd the linearised residuals expect of step d.
  auto expectedFall = [&](double s0) {
    double fall = 0.0;
    for (int i = 0; i < n; ++i) {
      fall -= 2.0 * g[i] * d[i];
      for (int j = 0; j < n; ++j) fall -= d[i] * a[i * n + j] * d[j];
    }
    return 0.5 * fall / s0;
  };
  auto sumSquares = [&] {
    double s0 = 0.0;
    for (float e : r0) s0 += static_cast<double>(e) * e;
    return s0;
  };
  std::vector<float> previous;
  std::vector<double> step(static_cast<size_t>(n));
  for (int k = 0; k < kMaxJacobians && !fs.stopRequested; ++k) {
    const double s0 = sumSquares();
    if (!(s0 > 0.0)) break;
    for (int i = 1; i <= n && !fs.stopRequested; ++i) {
      const float length = static_cast<float>(next[i - 1]);
      for (int l = 1; l <= n; ++l) trial[l] = x[l];
      trial[i] = atUpper(i, x[i]) ? x[i] - length : x[i] + length;
      // A failed or stopped evaluation leaves the residuals of an earlier one.
      const float v = ContiSimplexSim(trial, host);
      h[i - 1] = static_cast<double>(trial[i]) - x[i];
      if (!(v < 1e9f) || memory.last.size() != m || h[i - 1] == 0.0) return formed;
      for (size_t e = 0; e < m; ++e) jac[e * n + i - 1] = (static_cast<double>(memory.last[e]) - r0[e]) / h[i - 1];
    }
    if (fs.stopRequested) break;
    normalEquations();
    formed = true;
    for (int i = 0; i < n; ++i) {
      const double rise = a[i * n + i] * h[i] * h[i] / (2.0 * s0);
      const double factor = rise > 0.0 ? std::sqrt(kDifferenceRise / rise) : 10.0;
      next[i] = std::fabs(h[i]) * std::clamp(factor, 0.1, 10.0);
    }
    if (curvature) {
      curvature->scale = h;
      curvature->hessian.assign(static_cast<size_t>(n) * n, 0.0);
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) curvature->hessian[i * n + j] = a[i * n + j] * h[i] * h[j] / s0;
    }
    *held = std::find(free.begin(), free.end(), 0) != free.end();
    bool accepted = false, done = false;
    for (int t = 0; t < kMaxTries && !fs.stopRequested; ++t) {
      if (!DampedGaussNewtonStep(a, g, n, lambda, free, d) || !(expectedFall(s0) > 0.5 * kFitSimplexTolerance)) {
        done = true;
        break;
      }
      for (int i = 1; i <= n; ++i)
        trial[i] = free[i - 1] ? static_cast<float>(x[i] + d[i - 1]) : limitOf(i, atUpper(i, x[i]));
      const float v = ContiSimplexSim(trial, host);
      if (v < fx && memory.last.size() == m) {
        if (stalled.Accepted(static_cast<const float*>(x), static_cast<const float*>(trial), fx, v,
                             fs.maxRelativeChange, gFittedPoints))
          *undetermined = stalled.Moved();
        for (int i = 1; i <= n; ++i) {
          step[i - 1] = static_cast<double>(trial[i]) - x[i];
          x[i] = trial[i];
        }
        fx = v;
        previous.swap(r0);
        r0 = memory.last;
        lambda = std::max(lambda * 0.1, 1e-7);
        accepted = true;
        break;
      }
      lambda *= 10.0;
    }
    if (!accepted || done || !undetermined->empty()) break;
    // The Jacobian carried over the step by Broyden's update (in the units
    // of the difference steps), so that it reproduces the change of the
    // residuals the step made: when the step it then proposes from the new
    // point expects no fall above half the spread the runs end at, a fresh
    // Jacobian would cost n evaluations to find that out.
    if (!BroydenUpdate(jac, m, n, step, h, previous, r0)) continue;
    normalEquations();
    if (!DampedGaussNewtonStep(a, g, n, lambda, free, d) || !(expectedFall(sumSquares()) > 0.5 * kFitSimplexTolerance))
      break;
  }
  // A difference point may have been lower than the last step.
  if (memory.bestValue < fx && static_cast<int>(memory.bestPoint.size()) == n + 1) {
    for (int i = 1; i <= n; ++i) x[i] = memory.bestPoint[i];
    fx = memory.bestValue;
  }
  if (fx < y[b]) {
    for (int i = 1; i <= n; ++i) p[b][i] = x[i];
    y[b] = fx;
  }
  return formed;
}

// Records the points the restarts evaluate for as long as it lives.
struct RecordEvaluations {
  explicit RecordEvaluations(EvaluatedPoints* points, ResidualMemory* residuals) {
    gEvaluated = points;
    gResiduals = residuals;
  }
  ~RecordEvaluations() {
    gEvaluated = nullptr;
    gResiduals = nullptr;
  }
  RecordEvaluations(const RecordEvaluations&) = delete;
  RecordEvaluations& operator=(const RecordEvaluations&) = delete;
};

// One box for the whole Fit, at its end: what the regularisation of the
// result (or a solve of it) had to say is said with the fit's end, which a
// box shows also when the fit reached its minimum or was stopped. The
// outermost of nested drivers (a finishing pass after annealing) says it.
// Declared before the fit's budget scope, whose end it follows.
class OneEndBox {
 public:
  explicit OneEndBox(FitHost* host) : host_(host), hold_(host) {}
  ~OneEndBox() {
    if (!notes_.Outermost()) return;
    const std::string said = TakeContiFitNotes();
    if (said.empty()) return;
    FitEndRecord& end = LastFitEnd();
    end.text = end.text.empty() ? said : end.text + "; " + said;
    // The hold shows the ends it holds; these it does not.
    const bool unshown = end.kind == FitEndKind::None || end.kind == FitEndKind::Reached ||
                         end.kind == FitEndKind::Stopped;
    if (unshown && host_ && !SerialFitRunning()) host_->MessageBox("", end.text);
  }
  OneEndBox(const OneEndBox&) = delete;
  OneEndBox& operator=(const OneEndBox&) = delete;

 private:
  FitHost* host_;
  FitEndNoteHold hold_;
  ContiFitNotesScope notes_;
};

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

int NelderMeadRestarts(FitHost* host) {
  FitEngineState& fs = FS();
  unsigned char redraw = 0;
  if (!CommonStart(host, &redraw)) return 0;
  const int n = ContiParametersToFitVector(0, nullptr);
  if (n == 0) return NothingFloats(host, redraw);
  // A first run (where the residual steps cannot be taken) and a wide first
  // restart only approach the minimum; the restarts end where the values of
  // the simplex agree to kFitSimplexTolerance.
  const float tol = 0.005f;
  fs.startRmsd = fs.startRmsdCopy = 1e10f;
  int counter = 0;
  FloatMat simplex(1, n + 1, 1, n);
  FloatVec y(1, n + 1), q(1, n);
  float** p = simplex;
  fs.stopRequested = 0;
  EvaluatedPoints evaluated;
  evaluated.n = n;
  ResidualMemory residuals;
  RecordEvaluations recording(&evaluated, &residuals);
  ContiParametersToFitVector(n, p[1]);
  FloatVec start(1, n);
  for (int i = 1; i <= n; ++i) start[i] = p[1][i];
  Scatter(p, n, 1, 1);
  EvaluateSimplexFromStart(host, p, y, n, ContiSimplexSim);
  int b = LowestVertex(y, n);
  QuadraticCurvature gaussNewton;
  bool held = false;
  // The entries the residual steps or the restarts found the data not to
  // determine (see StalledSteps): the fit ends where they stalled.
  std::vector<int> undetermined;
  // Data that show no material beyond the noise determine none of the
  // fitted quantities: the fit ends at the best point seen, at its start
  // or after any run (each step would only fit the noise a little better,
  // f/f0 sharpening boundaries without end at growing cost).
  double noMaterialFall = 0.0;
  bool noMaterial = false;
  auto checkMaterial = [&] {
    if (!noMaterial && !fs.stopRequested && DataShowNoMaterial(n, &noMaterialFall)) {
      noMaterial = true;
      undetermined = AllEntries(n);
    }
    return noMaterial;
  };
  // The residual steps start from the best vertex of the starting simplex:
  // damped, they find the valley from there at the cost of a few Jacobians,
  // where a first simplex run spends as many evaluations to approach it. A
  // simplex run approaches it when they cannot be taken there.
  bool haveGaussNewton =
      !checkMaterial() && MarquardtSteps(host, p, y, n, b, residuals, &gaussNewton, &held, start, &undetermined);
  if (!haveGaussNewton && !fs.stopRequested && !checkMaterial()) {
    NelderMeadMinimize(host, p, y, n, tol, ContiSimplexSim, &counter, &evaluated);
    b = LowestVertex(y, n);
    haveGaussNewton = !checkMaterial() &&
                      MarquardtSteps(host, p, y, n, b, residuals, &gaussNewton, &held, start, &undetermined);
    if (!haveGaussNewton && !noMaterial) QuadraticModelSteps(host, p, y, n, b, evaluated);
  }
  checkMaterial();
  ContiFitVectorToParameters(p[b], host);
  ContiParametersToFitVector(n, q);
  float r = y[b];
  fs.startRmsd = fs.startRmsdCopy = r;
  // The restart is judged on the parameters as the model holds them, before
  // and after: both packed, so both within their limits.
  FloatVec now(1, n), extent(1, n), spread(1, n), modelMinimum(1, n);
  SimplexExtents(p, n, b, extent);
  float endSpread = EndSpread(y, n);
  bool settled = false;
  StalledSteps stalledRestarts(n, start);
  const double resolution = RmsdResolution();
  // The restart about to run confirms an end: a simplex of the start's own
  // size around the best vertex. Restarts shaped by the residuals shrink to
  // the size of the notches of a rough floor and settle in one, where a
  // simplex of the start's size walks on, as a second Fit would. The kernels
  // of ls-g*(s) have no diffusion: they are steps on the radial grid, and
  // chi-square in the meniscus is jagged at 1e-4 cm while it falls steadily
  // over 0.01 cm. The kernels of the other models are smooth in every
  // fitted quantity; there the restarts' own end holds.
  const bool roughFloor = LsgModel();
  bool confirming = false;
  for (int restart = 0; restart < kMaxNelderMeadRestarts && !fs.stopRequested && undetermined.empty(); ++restart) {
    // The first restart scatters as widely as the start when the residual
    // steps held a limit (a simplex shaped there stays on the slope where the
    // first run pressed the meniscus against its limit) or could not be
    // taken; it only approaches the minimum, and the residual steps go on
    // from where it ended. Every other restart is shaped by the curvature of
    // the residuals (else of the points seen so far), its values a spread at
    // which the runs end apart, and ends after a few steps when it has
    // nothing more to gain (at the size the run before ended with when the
    // points show no curvature).
    QuadraticCurvature curvature;
    float drop = 0.0f;
    const bool wide = (restart == 0 && (!haveGaussNewton || held)) || confirming;
    if (wide) {
      Scatter(p, n, b, b);
    } else if (haveGaussNewton) {
      if (b != 1) {
        for (int i = 1; i <= n; ++i) std::swap(p[1][i], p[b][i]);
        std::swap(y[1], y[b]);
        b = 1;
      }
      ShapeSimplex(gaussNewton, n, p, kFitSimplexTolerance);
    } else if (QuadraticModelMinimum(evaluated, modelMinimum, &drop, &curvature)) {
      if (b != 1) {
        for (int i = 1; i <= n; ++i) std::swap(p[1][i], p[b][i]);
        std::swap(y[1], y[b]);
        b = 1;
      }
      ShapeSimplex(curvature, n, p, kFitSimplexTolerance);
    } else {
      for (int i = 1; i <= n; ++i) spread[i] = LearntSpread(extent[i], p[b][i], endSpread);
      ScatterLearnt(p, n, b, spread);
    }
    for (int j = 1; j <= n + 1; ++j)
      if (j != b) y[j] = ContiSimplexSim(p[j], host);
    // A restart around a point the residual steps settled in checks it: one
    // that finds nothing lower by the tolerance is not shrunk to the spread.
    NelderMeadMinimize(host, p, y, n, wide && haveGaussNewton && !confirming ? tol : kFitSimplexTolerance,
                       ContiSimplexSim, &counter, &evaluated, haveGaussNewton && !wide ? 3 * (n + 1) : 0);
    b = LowestVertex(y, n);
    SimplexExtents(p, n, b, extent);
    endSpread = EndSpread(y, n);
    ContiFitVectorToParameters(p[b], host);
    ContiParametersToFitVector(n, now);
    // Settled when nothing moved by more than the tolerance and the rmsd
    // came down by less than the spread the runs end at: a restart that
    // still improves is followed by another.
    // An rmsd within the rounding of 0 (an exact fit) changes by rounding alone.
    const bool exact = r <= resolution && y[b] <= resolution;
    // A confirming restart ends the fit unless it lowered the rmsd by what
    // the data can tell (a unit of chi-square in noise terms); where it did,
    // the restarts go on from there.
    if (confirming)
      settled = !(y[b] < r * (1.0f - kFitSimplexTolerance) &&
                  ChiSquareFall(r, y[b], gFittedPoints, resolution) >= kStalledChiSquare);
    else
      settled = ContiRestartsConverged(q, now, n, exact ? 0.0f : r, exact ? 0.0f : y[b], fs.maxRelativeChange) &&
                (exact || !(y[b] < r * (1.0f - kFitSimplexTolerance)));
    // A restart that moves a quantity for almost nothing is no step towards
    // a minimum the data determine.
    if (!settled && stalledRestarts.Accepted(static_cast<const float*>(q), static_cast<const float*>(now), r, y[b],
                                             fs.maxRelativeChange, gFittedPoints))
      undetermined = stalledRestarts.Moved();
    // The next restart is judged from where the quadratic step took it.
    bool stepped = false;
    if (!settled && undetermined.empty() && !checkMaterial()) {
      const bool formed = MarquardtSteps(host, p, y, n, b, residuals, &gaussNewton, &held, start, &undetermined);
      haveGaussNewton = haveGaussNewton || formed;
      stepped = formed || QuadraticModelSteps(host, p, y, n, b, evaluated);
    }
    if (stepped) {
      ContiFitVectorToParameters(p[b], host);
      ContiParametersToFitVector(n, now);
    }
    for (int i = 1; i <= n; ++i) q[i] = now[i];
    r = y[b];
    // An exact fit is its own minimum.
    if (settled && (confirming || exact || !roughFloor)) break;
    confirming = settled;
    settled = false;
    checkMaterial();
  }
  // The best vertex is never given up by a restart, so p[b] is the best point seen.
  if (!settled && undetermined.empty() && !fs.stopRequested) ReportRestartsExhausted(host);
  if (fs.stopRequested) StopEnd(host);
  fs.fitRunning = 0;
  Conti().finalEvaluation = 1;
  {
    platform::InputHold hold;
    ContiSimplexSim(p[b], host);
  }
  ContiFitVectorToParameters(q, host);
  host->RequestRepaint();
  DisplayBestContiParams(host);
  FinishDistribution();
  gSimulationSwitches.redrawDuringSimulation = redraw;
  SaveBest(host);
  if (noMaterial)
    ReportNoMaterial(host, ContiEntryNames(undetermined), noMaterialFall, gBestEvidence.amplitudes);
  else if (!undetermined.empty())
    ReportUndetermined(host, ContiEntryNames(undetermined));
  return 1;
}

}  // namespace

// ---- the objective ---------------------------------------------------------------

float ContiSimplexSim(float* p, FitHost* host) {
  FitEngineState& fs = FS();
  ContiSettings& cs = Conti();
  if (fs.stopRequested || !FitEvaluationAllowed()) return 1e10f;
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

namespace {

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

}  // namespace

// ---- the drivers ----------------------------------------------------------------

int ContiFit(FitHost* host) {
  const FitEngineState& fs = FS();
  OneEndBox oneBox(host);
  FitBudgetScope wholeFit(host);
  if (fs.useAnnealing && fs.annealTemperature > 0.0f) return ContiSimulatedAnnealingFit(host);
  if (fs.useMarquardt) return MLContiFit(host);
  if (fs.useAnnealing && fs.annealFinalMarquardt && fs.annealTemperature == 0.0f)
    return MLContiFit(host);
  return NelderMeadRestarts(host);
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

namespace {

// The end of a Marquardt-Levenberg fit at the point a (normalised units).
void MarquardtEvaluateAt(FitHost* host, const double* a, int n) {
  MarquardtWorkArrays& w = FS().mlWork;
  for (int i = 1; i <= n; ++i) w.simulation[i] = static_cast<float>(a[i]);
  ScaleFitParameters(w.simulation, n);
  FS().fitRunning = 0;
  Conti().finalEvaluation = 1;
  ContiSimplexSim(w.simulation, host);
}

// The listing of the fitted parameters: value and standard error in model
// units, then the covariance row.
void WriteMarquardtListing(FitHost* host, int n) {
  const std::string path = host->MarquardtListingPath();
  const MarquardtWorkArrays& w = FS().mlWork;
  if (path.empty() || !w.covariance) return;
  // Whole or not at all: parallel runs may share the program folder.
  platform::CheckedOutputFile file(path);
  FILE* f = file.get();
  if (!f) {
    if (platform::FirstWriteFailure(path)) ErrorBox(("\n\aAttention: could not write " + path).c_str());
    return;
  }
  for (int i = 1; i <= n; ++i) {
    const double c = w.covariance[i][i];
    std::fprintf(f, "%d: %e\t(%e)\t - ", i, w.simulation[i], c > 0.0 ? std::sqrt(c) : 0.0);
    for (int j = 1; j <= n; ++j) std::fprintf(f, "%e\t", w.covariance[i][j]);
    std::fprintf(f, "\n");
  }
  if (!file.Commit() && platform::FirstWriteFailure(path))
    ErrorBox(("\n\aAttention: could not write " + path).c_str());
}

}  // namespace

int MLContiFit(FitHost* host) {
  FitEngineState& fs = FS();
  OneEndBox oneBox(host);
  FitBudgetScope wholeFit(host);
  unsigned char redraw = 0;
  if (!CommonStart(host, &redraw)) return 0;
  Trace("\nEntering MLContiFit");
  host->ShowFitProgressIndicator();
  fs.startRmsd = fs.startRmsdCopy = 1e10f;
  const int n = ContiParametersToFitVector(0, nullptr);
  if (n == 0) {
    host->EraseFitProgressIndicator();
    return NothingFloats(host, redraw);
  }
  if (!AllocMarquardtArrays(n)) {
    host->EraseFitProgressIndicator();
    fs.fitRunning = 0;
    gSimulationSwitches.redrawDuringSimulation = redraw;
    return 0;
  }
  MarquardtWorkArrays& w = fs.mlWork;
  // An evaluation depends on the parameters alone: a rejected trial needs no
  // derivatives.
  w.rejectBeforeDerivatives = ParametersAlone();
  ContiDerivativeSteps();
  ContiParametersToFitVector(n, w.simulation);
  DoubleVec a(1, n);
  for (int i = 1; i <= n; ++i) {
    const float v = w.simulation[i];
    w.scale[i] = v;
    a[i] = v != 0.0f ? 1.0 : 0.0;
    w.fitFlags[i] = 1;
  }
  fs.mlChiSquare = 0.0;
  fs.mlLambda = -1.0;
  fs.mlError = 0;
  fs.stopRequested = 0;
  double chisq = 0.0;
  mlmin(host, a, w.fitFlags, n, &chisq, &fs.mlLambda, ContiSimplexSim);
  fs.mlChiSquare = chisq;
  if (fs.saveBestDuringFit) SaveBest(host);
  bool completed = !fs.stopRequested && !fs.mlError;
  // The curvature of the start is whole: the covariance pass can use it.
  const bool started = completed;
  // The normalised entries start at 1, those that started at 0 at 0.
  FloatVec unit(1, n);
  for (int i = 1; i <= n; ++i) unit[i] = w.scale[i] != 0.0f ? 1.0f : 0.0f;
  StalledSteps stalled(n, unit);
  bool undetermined = false, shrunk = false, done = false;
  // The quantities the data do not determine where every trial was rejected.
  std::vector<int> open;
  // Data that show no material beyond the noise determine none of the
  // fitted quantities: the fit ends at its last accepted point, from its
  // start on (see NelderMeadRestarts).
  double noMaterialFall = 0.0;
  bool noMaterial = completed && DataShowNoMaterial(n, &noMaterialFall);
  if (completed && !noMaterial) {
    fs.minimiserRuns = 0;
    bool pending = false;
    DoubleVec before(1, n);
    // An end by small change or by negligible steps rests on derivatives
    // the misfit's roughness misleads as well: at f/f0 1.304 the linearised
    // misfit put the minimum 0.004 units of chi-square away while it lay 55
    // units lower at 1.3015. The misfit itself is asked; a probe a unit or
    // more lower starts the run again from there (one that cannot be
    // computed leaves the end as the derivatives found it).
    auto goesOn = [&]() {
      if (chisq < fs.mlTinyChiSquare) return false;
      const bool retry =
          MarquardtProbeEnd(host, a, unit, n, &chisq, &fs.mlLambda, ContiSimplexSim) == MarquardtRejectedEnd::Retry;
      fs.mlChiSquare = chisq;
      if (retry) pending = false;
      return retry;
    };
    while (!fs.stopRequested && !done && fs.minimiserRuns < fs.mlMaxIterations &&
           !(noMaterial = DataShowNoMaterial(n, &noMaterialFall))) {
      const double oldChisq = fs.mlChiSquare, oldLambda = fs.mlLambda;
      ++fs.minimiserRuns;
      for (int i = 1; i <= n; ++i) before[i] = a[i];
      // f/f0 at its ceiling, where every evaluation is slowest: a step the
      // data ask for (not shortened by rejections, or from a point the
      // linearised misfit puts within a unit of its minimum) that falls by
      // less than a unit of chi-square ends the fit there, reached, without
      // the n evaluations of its derivatives.
      w.endWithinUnit = AtFrictionalRatioCeiling() &&
                        (fs.mlLambda <= kMarquardtStartLambda || MarquardtAtStatisticalMinimum(n));
      mlmin(host, a, w.fitFlags, n, &chisq, &fs.mlLambda, ContiSimplexSim);
      w.endWithinUnit = false;
      fs.mlChiSquare = chisq;
      if (fs.mlError || fs.stopRequested) break;
      if (w.endedWithinUnit) {
        done = true;
        break;
      }
      if (fs.mlStepNegligible) {
        // A step the rejections before it shrank is no end by small change.
        if (MarquardtStepShrunkByRejections(a, w.fitFlags, n, fs.mlLambda)) {
          MarquardtRejectedEnd next = MarquardtAfterRejectedTrials(a, unit, n, chisq, &fs.mlLambda, &open);
          // The misfit is rough in f/f0 and the meniscus (the solve's active
          // set changes): every trial can be rejected at its minimum.
          if (next == MarquardtRejectedEnd::StoppedAway)
            next = MarquardtProbeEnd(host, a, unit, n, &chisq, &fs.mlLambda, ContiSimplexSim);
          fs.mlChiSquare = chisq;
          if (next == MarquardtRejectedEnd::Retry) {
            pending = false;
            continue;
          }
          undetermined = next == MarquardtRejectedEnd::Undetermined;
          done = next == MarquardtRejectedEnd::Reached;
          shrunk = next == MarquardtRejectedEnd::StoppedAway;
          break;
        }
        // Nothing moves any more: a second negligible step would repeat it.
        if (pending) {
          if (goesOn()) continue;
          done = true;
          break;
        }
        pending = true;
        continue;
      }
      // There, a rejected step from a point the linearised misfit puts
      // within a unit of chi-square of its minimum: it is one as far as the
      // data tell, and further rejections would only shrink the step for
      // nothing the data can see.
      if (fs.mlLambda > oldLambda && AtFrictionalRatioCeiling() && MarquardtAtStatisticalMinimum(n)) {
        done = true;
        break;
      }
      const bool fell = chisq < oldChisq && fs.mlLambda <= oldLambda;
      if (fell && stalled.Accepted(static_cast<const double*>(before), static_cast<const double*>(a),
                                   std::sqrt(oldChisq / std::max(fs.mlPointCount, 1.0)), std::sqrt(chisq / std::max(fs.mlPointCount, 1.0)),
                                   fs.maxRelativeChange, fs.mlPointCount, MarquardtExpectedFall(n))) {
        undetermined = true;
        break;
      }
      const bool small =
          fell && ((oldChisq - chisq) / oldChisq < fs.mlSmallChange || chisq < fs.mlTinyChiSquare);
      if (!small) continue;
      // A small fall of a step the damping shrank tells nothing of a minimum.
      if (chisq >= fs.mlTinyChiSquare && MarquardtStepShrunkByRejections(a, w.fitFlags, n, oldLambda)) continue;
      if (pending) {
        if (goesOn()) continue;
        done = true;
      }
      pending = true;
      if (fs.saveBestDuringFit) SaveBest(host, true);
      DisplayBestContiParams(host);
    }
    completed = !fs.stopRequested && !fs.mlError;
  }
  // A stopped fit ends at the best point it has seen.
  if (fs.stopRequested) TakeBestPointSeen(a, n, started ? chisq : std::numeric_limits<double>::infinity());
  // A fit ended by its budget ends as a completed one, at its last
  // accepted point or a better one seen (a trial cut short was not taken).
  const bool budget = FitStoppedByBudget() && !fs.mlError;
  if (budget && started) {
    completed = true;
    fs.stopRequested = 0;
  }
  // The covariance pass and the evaluation of the result are the ending:
  // no press cuts them short.
  platform::InputHold hold;
  if (completed) {
    fs.mlLambda = 0.0;
    mlmin(host, a, w.fitFlags, n, &chisq, &fs.mlLambda, ContiSimplexSim);
    MarquardtEvaluateAt(host, a, n);
    WriteMarquardtListing(host, n);
    FreeMarquardtArrays();
    host->EraseFitProgressIndicator();
    host->RequestRepaint();
    DisplayBestContiParams(host);
    FinishDistribution();
    gSimulationSwitches.redrawDuringSimulation = redraw;
    SaveBest(host);
    Trace(" --> MLContiFit done.");
    if (!budget && noMaterial)
      ReportNoMaterial(host, ContiEntryNames(AllEntries(n)), noMaterialFall, gBestEvidence.amplitudes);
    else if (!budget)
      ReportMarquardtEnd(host, undetermined, ContiEntryNames(open.empty() ? stalled.Moved() : open), shrunk, done);
    return 1;
  }
  // A budget spent before the first curvature was whole ends without the
  // covariance pass, but as no interruption.
  if (!budget && started && fs.mlError)
    ReportStoppedAwayFromMinimum(host, "the curvature there could not be computed");
  else if (!budget && started)
    RecordFitEnd(host, FitEndKind::Stopped, "the fit was stopped: the best parameters found are kept");
  if (!budget) RaiseInterruptFlags(host);
  fs.stopRequested = 0;
  SetupContiGrid();
  MarquardtEvaluateAt(host, a, n);
  FreeMarquardtArrays();
  host->RequestRepaint();
  DisplayBestContiParams(host);
  FinishDistribution();
  gSimulationSwitches.redrawDuringSimulation = redraw;
  if (fs.saveBestDuringFit) SaveBest(host);
  host->EraseFitProgressIndicator();
  return budget ? 1 : 0;
}
