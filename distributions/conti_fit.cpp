#include "distributions/conti_fit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "data/scan_set.h"
#include "distributions/conti_detection.h"
#include "distributions/conti_fit_display.h"
#include "distributions/conti_grid.h"
#include "distributions/conti_run.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_transforms.h"
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

// ---- the fit vector -------------------------------------------------------------

// The quantities of the continuous models, in their fixed order.
enum EntryId {
  kVbar = 1,
  kCone,
  kBleachRate,
  kBleachLimit,
  kDrift,
  kConvolution,
  kMagnification,
  kNonlinear,
  kDepletionS,
  kDepletionD,
  kDepletionAmplitude,
  kBufferAmplitude,
  kBufferSize,
  kBufferS,
  kMeniscusDifference,
  kConcentrationRatio,
  kReferenceSize,
  kReferenceS,
  kFf0,
  kSecondFf0,
  kFloatingVbar,
  kScalingKs,
  kScalingBs,
  kPersistenceLength,
  kInvariantD,
  kNonideal1,
  kNonideal2,
  kDiscreteS,
  kDiscreteSize,
  kMeniscus,
  kBottom,
  kLamella,
  kConstantD,
};

// The fit engine's option entries that the continuous fit shares, by entry.
constexpr int kOptionOf[kReferenceS + 1] = {
    0,
    kFitOptionVbar,
    kFitOptionConeRadius,
    kFitOptionPhotophysicsRate,
    kFitOptionLimitingLevel,
    kFitOptionLinearDrift,
    kFitOptionConvolutionWidth,
    kFitOptionMagnificationGradient,
    kFitOptionNonlinearPower,
    kFitOptionDepletionS,
    kFitOptionDepletionD,
    kFitOptionDepletionAmplitude,
    kFitOptionBufferSignal,
    kFitOptionBufferSize,
    kFitOptionBufferS,
    kFitOptionMeniscusDifference,
    kFitOptionRelativeConcentration,
    kFitOptionReferenceSize,
    kFitOptionReferenceS,
};

struct Entry {
  int id = 0;
  float* f = nullptr;
  double* d = nullptr;
  int mirror = 0;            // P[] slot that mirrors the value, 0 for none
  bool plainVbar = false;    // the vbar of the solution conditions (vbar x rho follows)
  bool massSize = false;     // buffer or reference size given as molar mass
  int mirrorDiscrete = 0;    // second mirror of the discrete component
  float* follower = nullptr; // the solvated vbar beside the apparent one
};

double Get(const Entry& e) { return e.f ? *e.f : (e.d ? *e.d : 0.0); }

void Set(const Entry& e, double v) {
  if (e.f) *e.f = static_cast<float>(v);
  if (e.d) *e.d = v;
  if (e.mirror) gModelParameterVector.P[e.mirror] = static_cast<float>(v);
  if (e.mirrorDiscrete) gModelParameterVector.P[e.mirrorDiscrete] = static_cast<float>(v);
  if (e.follower) *e.follower = static_cast<float>(v);
}

bool TwoDimensional() { return F().AnyCsff0Model(); }
bool Bimodal() { return F().AnyBimodalCsModel(); }
bool DiscreteDVariant() { return F().CSWith1DiscreteModel && !F().CSWith1DiscreteComponent; }
bool ZoneGeometry() {
  return F().ZoneCentrifugationModel || F().ZoneCentrifugationCSModel ||
         F().ZoneCentrifugationLsgModel;
}
bool OneDiscreteComponent() {
  const ModelSelectorFlags& f = F();
  return f.BimodalFF0With1DiscreteCSModel || TwoDimensional() || f.CSWith1DiscreteModel ||
         f.CSWith1DiscreteComponent || f.CSWithMsTableModel ||
         (f.HybridCSLsgModel && Conti().hybridDiscrete) || f.NonidealCSModel ||
         f.LsgStarWith1DiscreteModel;
}

// Positions of the entries whose simplex spread differs, recorded while packing.
struct Positions {
  int meniscus = 0, bottom = 0, lamella = 0, ff0 = 0, nonideal1 = 0, nonideal2 = 0;
} gPositions;

// Meniscus and bottom the radial grid was last made for.
float gGridMeniscus = 0.0f, gGridBottom = 0.0f;

// Sum of squared residuals of the last evaluation.
double gSumSquares = 1e10;

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

std::vector<Entry> CollectEntries() {
  std::vector<Entry> list;
  ContiSettings& cs = Conti();
  ModelParams& mp = gModelParams;
  const int* FF = gModelParameterVector.F;
  const bool mass = FS().molarMassParameters != 0;
  const FitOptionEntries options = CurrentFitOptions();
  for (int id = kVbar; id <= kReferenceS; ++id) {
    const FitOptionEntry& o = options.entry[kOptionOf[id]];
    if (!o.present) continue;
    if (id == kBufferAmplitude && mp.algebraicAmplitudes) continue;
    Entry e;
    e.id = id;
    e.f = o.f;
    e.d = o.d;
    e.plainVbar = o.plainVbar;
    e.follower = o.follower;
    if (id == kBufferSize || id == kReferenceSize) {
      e.massSize = mass;
      if (!e.f && !e.d) e.d = mass ? o.massValue : o.diffusionValue;
    }
    if (e.f || e.d) list.push_back(e);
  }
  auto add = [&list](int id, float* f, int mirror, int mirrorDiscrete = 0) {
    Entry e;
    e.id = id;
    e.f = f;
    e.mirror = mirror;
    e.mirrorDiscrete = mirrorDiscrete;
    list.push_back(e);
  };
  const ModelSelectorFlags& f = F();
  if (!TwoDimensional() && cs.fitFfValue) add(kFf0, &cs.ffValue, 11);
  if (Bimodal() && cs.fitSecondFf) add(kSecondFf0, &cs.secondFf, 10);
  if (f.FixFF0FloatingVbarCSModel && FF[11]) add(kFloatingVbar, &gSolutionConditions.vbar, 11);
  if ((f.GeneralScalingLawCSModel || f.FMScalingLawModel) && cs.fitScalingKs)
    add(kScalingKs, &cs.scalingKs, 11);
  if ((f.GeneralScalingLawCSModel || f.FMScalingLawModel) && cs.fitScalingBs)
    add(kScalingBs, &cs.scalingBs, 18);
  if (f.WormlikeChainCSModel && cs.fitWormPersistenceLength)
    add(kPersistenceLength, &cs.wormPersistenceLength, 11);
  if (f.CSInvariantDModel && cs.fitInvariantD) add(kInvariantD, &cs.invariantD, 11);
  if (f.NonidealCSModel && mp.value20Fit) add(kNonideal1, &mp.value20, 20);
  if (f.NonidealCSModel && mp.value21Fit) add(kNonideal2, &mp.value21, 21);
  if (OneDiscreteComponent()) {
    // The hybrid keeps its threshold in P[10], its discrete species beside it in 16 and 17.
    const bool secondSlots =
        f.CSff0With1DiscreteModel || f.BimodalFF0With1DiscreteCSModel || f.HybridCSLsgModel;
    if (cs.fitDiscreteS) add(kDiscreteS, &cs.discreteS, secondSlots ? 17 : 6);
    if (DiscreteDVariant() ? cs.fitDiscreteD : cs.fitDiscreteM)
      add(kDiscreteSize, DiscreteDVariant() ? &cs.discreteD : &cs.discreteM,
          secondSlots ? 16 : 10);
  }
  if (FF[13]) add(kMeniscus, &mp.meniscus, 13);
  if (FF[14]) add(kBottom, &mp.bottom, 14);
  if (ZoneGeometry() && FF[23]) add(kLamella, &mp.zoneValue, 23);
  if (f.ElectrophoresisCVModel && cs.constantDSwitch && cs.fitConstantD)
    add(kConstantD, &cs.constantD, 3);
  return list;
}

// vbar x density of the solvent after vbar moved: the buoyancy belongs to
// the buffer the cell holds, not to water.
void UpdateVbarRho() {
  gSolutionConditions.vbarRho = gSolutionConditions.vbar * gSolutionConditions.density;
}

// Packing limits; the corrected value goes into the model as well.
double PackValue(const Entry& e) {
  double x = Get(e);
  double c = x;
  switch (e.id) {
    case kVbar: if (x < 0.0) c = 0.01; break;
    case kBufferSize: if (!e.massSize && x < 0.01) c = 0.01; break;
    case kConcentrationRatio: if (x <= 0.0001) c = 0.0001; break;
    case kReferenceSize: if (!e.massSize && x < 0.0) c = 0.01; break;
    case kFf0:
    case kSecondFf0: if (x < 0.0) c = 0.01; break;
    case kFloatingVbar: if (x < 0.1) c = 0.1; break;
    case kScalingKs: if (x < 1e-8) c = 1e-8; break;
    case kScalingBs: if (x < 0.001) c = 0.001; break;
    case kPersistenceLength: if (x < 0.1) c = 0.1; break;
    case kInvariantD: if (x < 0.0) c = 0.001; break;
    case kDiscreteSize: if (x < 0.0) c = 0.01; break;
    default: break;
  }
  if (c != x || e.mirror) Set(e, c);
  if (e.id == kFloatingVbar || (e.id == kVbar && e.plainVbar && c != x)) UpdateVbarRho();
  return c;
}

// Unpacking limits; returns the value written into the model.
double UnpackValue(const Entry& e, double x) {
  const FitEngineState& fs = FS();
  switch (e.id) {
    case kVbar:
    case kBleachRate:
    case kBleachLimit:
    case kDepletionAmplitude:
    case kBufferAmplitude:
    case kFf0:
    case kSecondFf0:
    case kInvariantD:
    case kLamella:
      if (x < 0.0) x = 0.0;
      break;
    case kConstantD:
      // A constant D of 0 has no finite-element kernel.
      if (x < 0.01) x = 0.01;
      break;
    case kCone: x = x < 0.01 ? 0.01 : (x > 1.0 ? 1.0 : x); break;
    case kMagnification: x = x < 0.5 ? 0.5 : (x > 2.0 ? 2.0 : x); break;
    case kDepletionS:
    case kDepletionD:
      if (x < 0.0) x = 0.01;
      break;
    case kBufferSize:
    case kReferenceSize:
      x = std::fabs(x);
      if (e.massSize) {
        if (x < 10.0) x = 10.0;
      } else {
        if (x > 1000.0) x = 1000.0;
        if (x <= 0.01) x = 0.01;
      }
      break;
    case kConcentrationRatio: if (x < 0.0001) x = 0.0001; break;
    case kFloatingVbar: if (x <= 0.1) x = 0.1; break;
    case kScalingKs: if (x <= 1e-8) x = 1e-8; break;
    case kScalingBs: if (x <= 0.001) x = 0.001; break;
    case kPersistenceLength: if (x <= 0.1) x = 0.1; break;
    case kDiscreteSize: if (x < 0.0) x = 0.001; break;
    case kMeniscus:
      if (x > fs.meniscusMax) x = fs.meniscusMax;
      if (x < fs.meniscusMin) x = fs.meniscusMin;
      break;
    case kBottom:
      if (x > fs.bottomMax) x = fs.bottomMax;
      if (x < fs.bottomMin) x = fs.bottomMin;
      break;
    default: break;
  }
  Set(e, x);
  if (e.id == kFloatingVbar || (e.id == kVbar && e.plainVbar)) UpdateVbarRho();
  return x;
}

// ---- the drivers' shared steps ------------------------------------------------

void Trace(const char* text) { platform::WriteDiagnostics(text); }

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
// in the relative units of ShapeSimplex. True when a Jacobian was formed.
bool MarquardtSteps(FitHost* host, float** p, float* y, int n, int b, ResidualMemory& memory,
                    QuadraticCurvature* curvature, bool* held) {
  *held = false;
  constexpr int kMaxJacobians = 6, kMaxTries = 4;
  if (memory.best.empty() || !(memory.bestValue <= y[b]) || static_cast<int>(memory.bestPoint.size()) != n + 1)
    return false;
  const FitEngineState& fs = FS();
  const Positions at = gPositions;
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
    if (!accepted || done) break;
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

void StopEnd(FitHost* host) {
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
  Scatter(p, n, 1, 1);
  EvaluateSimplexFromStart(host, p, y, n, ContiSimplexSim);
  int b = LowestVertex(y, n);
  QuadraticCurvature gaussNewton;
  bool held = false;
  // The residual steps start from the best vertex of the starting simplex:
  // damped, they find the valley from there at the cost of a few Jacobians,
  // where a first simplex run spends as many evaluations to approach it. A
  // simplex run approaches it when they cannot be taken there.
  bool haveGaussNewton = MarquardtSteps(host, p, y, n, b, residuals, &gaussNewton, &held);
  if (!haveGaussNewton && !fs.stopRequested) {
    NelderMeadMinimize(host, p, y, n, tol, ContiSimplexSim, &counter, &evaluated);
    b = LowestVertex(y, n);
    haveGaussNewton = MarquardtSteps(host, p, y, n, b, residuals, &gaussNewton, &held);
    if (!haveGaussNewton) QuadraticModelSteps(host, p, y, n, b, evaluated);
  }
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
  for (int restart = 0; restart < kMaxNelderMeadRestarts && !fs.stopRequested; ++restart) {
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
    const bool wide = restart == 0 && (!haveGaussNewton || held);
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
    NelderMeadMinimize(host, p, y, n, wide && haveGaussNewton ? tol : kFitSimplexTolerance, ContiSimplexSim,
                       &counter, &evaluated, haveGaussNewton && !wide ? 3 * (n + 1) : 0);
    b = LowestVertex(y, n);
    SimplexExtents(p, n, b, extent);
    endSpread = EndSpread(y, n);
    ContiFitVectorToParameters(p[b], host);
    ContiParametersToFitVector(n, now);
    // Settled when nothing moved by more than the tolerance and the rmsd
    // came down by less than the spread the runs end at: a restart that
    // still improves is followed by another.
    settled = ContiRestartsConverged(q, now, n, r, y[b], fs.maxRelativeChange) &&
              !(y[b] < r * (1.0f - kFitSimplexTolerance));
    // The next restart is judged from where the quadratic step took it.
    bool stepped = false;
    if (!settled) {
      const bool formed = MarquardtSteps(host, p, y, n, b, residuals, &gaussNewton, &held);
      haveGaussNewton = haveGaussNewton || formed;
      stepped = formed || QuadraticModelSteps(host, p, y, n, b, evaluated);
    }
    if (stepped) {
      ContiFitVectorToParameters(p[b], host);
      ContiParametersToFitVector(n, now);
    }
    for (int i = 1; i <= n; ++i) q[i] = now[i];
    r = y[b];
    if (settled) break;
  }
  // The best vertex is never given up by a restart, so p[b] is the best point seen.
  if (!settled && !fs.stopRequested) ReportRestartsExhausted(host);
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
  return 1;
}

}  // namespace

// ---- fit vector ------------------------------------------------------------------

int ContiParametersToFitVector(int n, float* p) {
  const std::vector<Entry> list = CollectEntries();
  gPositions = Positions{};
  const int count = static_cast<int>(list.size());
  for (int k = 1; k <= count; ++k) {
    const Entry& e = list[k - 1];
    switch (e.id) {
      case kMeniscus: gPositions.meniscus = k; break;
      case kBottom: gPositions.bottom = k; break;
      case kLamella: gPositions.lamella = k; break;
      case kFf0: gPositions.ff0 = k; break;
      case kNonideal1: gPositions.nonideal1 = k; break;
      case kNonideal2: gPositions.nonideal2 = k; break;
      default: break;
    }
    if (p && k <= n) p[k] = static_cast<float>(PackValue(e));
  }
  return count;
}

void ContiFitVectorToParameters(float* p, FitHost* host) {
  const std::vector<Entry> list = CollectEntries();
  for (size_t k = 1; k <= list.size(); ++k) {
    const Entry& e = list[k - 1];
    // The value the model takes goes back into the vertex: a minimiser
    // that stepped beyond a limit goes on from the limit, so every vertex
    // it keeps is a point it could evaluate.
    p[k] = static_cast<float>(UnpackValue(e, p[k]));
  }
  const ModelParams& mp = gModelParams;
  if (gGridMeniscus == 0.0f && gGridBottom == 0.0f) {
    gGridMeniscus = mp.meniscus;
    gGridBottom = mp.bottom;
  }
  if (mp.meniscus != gGridMeniscus || mp.bottom != gGridBottom) {
    if (host) host->MakeRadialGrid();
    gGridMeniscus = mp.meniscus;
    gGridBottom = mp.bottom;
  }
}

float ContiSimplexSpread(int i) {
  const Positions& at = gPositions;
  if (i == at.meniscus || i == at.bottom) return 0.01f;
  if (i == at.lamella || i == at.ff0) return 0.1f;
  if (i == at.nonideal1 || i == at.nonideal2) return 0.2f;
  return 1.0f;
}

int ContiDerivativeSteps() {
  const std::vector<Entry> list = CollectEntries();
  MarquardtWorkArrays& w = FS().mlWork;
  const int count = static_cast<int>(list.size());
  for (int k = 1; k <= count && k <= w.n; ++k) {
    const Entry& e = list[k - 1];
    const double v = Get(e);
    double f = 1.0001, h = 0.0001;
    switch (e.id) {
      case kBufferAmplitude:
      case kBufferS:
      case kReferenceS:
      case kFf0:
      case kSecondFf0:
      case kDiscreteS:
        f = 1.001, h = 0.001;
        break;
      case kBufferSize:
      case kReferenceSize:
        f = 1.01, h = e.massSize ? 10.0 : 0.1;
        break;
      case kMeniscusDifference:
      case kMeniscus:
      case kBottom:
      case kLamella:
        f = 1.0001, h = 0.001;
        break;
      case kConcentrationRatio:
      case kPersistenceLength:
      case kInvariantD:
      case kDiscreteSize:
      case kConstantD:
        f = 1.01, h = 0.01;
        break;
      case kScalingKs: f = 1.01, h = 1e-6; break;
      case kScalingBs: f = 1.01, h = 0.0001; break;
      case kNonideal1:
        if (v > -1.5) f = 1.0005, h = 0.0005;
        else if (v > -2.5) f = 1.001, h = 0.0005;
        else f = 1.005, h = 0.005;
        break;
      case kNonideal2:
        if (v > -1.5) f = 1.001, h = 0.001;
        else if (v > -2.5) f = 1.003, h = 0.003;
        else f = 1.01, h = 0.01;
        break;
      default: break;
    }
    w.stepFactor[k] = f;
    w.absoluteStep[k] = h;
  }
  return count;
}

// ---- the objective ---------------------------------------------------------------

float ContiSimplexSim(float* p, FitHost* host) {
  FitEngineState& fs = FS();
  ContiSettings& cs = Conti();
  if (fs.stopRequested) return 1e10f;
  Trace("\nEntering ContiSimplexSim");
  ++fs.evaluationsThisRun;
  if (p) ContiFitVectorToParameters(p, host);
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
  if (NeqBlock().block && points > 0) gSumSquares = ChiSquareFromNormalEquations();
  const float rmsd = DetectionObjectiveRmsd(
      static_cast<float>(std::sqrt(std::fabs(gSumSquares) / (points > 0 ? points : 1.0))));
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

// ---- the drivers ----------------------------------------------------------------

int ContiFit(FitHost* host) {
  const FitEngineState& fs = FS();
  if (fs.useAnnealing && fs.annealTemperature > 0.0f) return ContiSimulatedAnnealingFit(host);
  if (fs.useMarquardt) return MLContiFit(host);
  if (fs.useAnnealing && fs.annealFinalMarquardt && fs.annealTemperature == 0.0f)
    return MLContiFit(host);
  return NelderMeadRestarts(host);
}

int ContiSimulatedAnnealingFit(FitHost* host) {
  FitEngineState& fs = FS();
  unsigned char redraw = 0;
  if (!CommonStart(host, &redraw)) return 0;
  const int n = ContiParametersToFitVector(0, nullptr);
  if (n == 0) return NothingFloats(host, redraw);
  const float t0 = fs.annealStartTemperature;
  bool interrupted = false;
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
    RunAnnealingSchedule(host, p, y, n, pb, &yb, tol, ContiSimplexSim, t0);
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
  if (!interrupted && (fs.annealFinalMarquardt || fs.annealFinalSimplex)) {
    Conti().finalEvaluation = 0;
    ContiFit(host);
  } else {
    FinishDistribution();
    SaveBest(host);
    host->RequestRepaint();
    DisplayBestContiParams(host);
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
  if (completed) {
    fs.minimiserRuns = 0;
    bool pending = false, done = false;
    while (!fs.stopRequested && !done && fs.minimiserRuns < fs.mlMaxIterations) {
      const double oldChisq = fs.mlChiSquare, oldLambda = fs.mlLambda;
      ++fs.minimiserRuns;
      mlmin(host, a, w.fitFlags, n, &chisq, &fs.mlLambda, ContiSimplexSim);
      fs.mlChiSquare = chisq;
      if (fs.mlError || fs.stopRequested) break;
      if (fs.mlStepNegligible) {
        // Nothing moves any more: a second negligible step would repeat it.
        if (pending) break;
        pending = true;
        continue;
      }
      const bool fell = chisq < oldChisq && fs.mlLambda <= oldLambda;
      const bool small =
          fell && ((oldChisq - chisq) / oldChisq < fs.mlSmallChange || chisq < fs.mlTinyChiSquare);
      if (!small) continue;
      if (pending) done = true;
      pending = true;
      if (fs.saveBestDuringFit) SaveBest(host, true);
      DisplayBestContiParams(host);
    }
    completed = !fs.stopRequested && !fs.mlError;
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
    return 1;
  }
  RaiseInterruptFlags(host);
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
  return 0;
}
