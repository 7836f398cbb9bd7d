#include "fit/error_surface.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "fit/fit_driver.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/fit_report.h"
#include "fit/fit_vector.h"
#include "fit/model_params.h"
#include "fit/nelder_mead.h"
#include "numerics/arrays.h"

namespace {

constexpr float kNelderMeadTolerance = 0.0005f;
// Half-width of the band around the critical rmsd that ends a side.
constexpr float kRmsdBand = 1e-6f;
// A side whose step has shrunk below this fraction of the start value can
// no longer move the trial value in float precision.
constexpr float kSmallestRelativeStep = 1e-7f;

int LowestVertex(const float* y, int n) {
  int best = 1;
  for (int i = 2; i <= n + 1; ++i)
    if (y[i] < y[best]) best = i;
  return best;
}

// The scanned parameter: its slot in P and its species-1 mirror.
struct ScannedParameter {
  int slot;
  float* value;
  int* flag;
};

void SetScanned(const ScannedParameter& sp, float x) {
  gModelParameterVector.P[sp.slot] = x;
  *sp.value = x;
}

// Everything a refit may move, so that a side can be undone completely.
struct ParameterSnapshot {
  ModelParameterVector vector = gModelParameterVector;
  ModelParams params = gModelParams;
  void Restore(const ScannedParameter& sp) const {
    gModelParameterVector = vector;
    gModelParams = params;
    gModelParameterVector.F[sp.slot] = 0;
    *sp.flag = 0;
  }
};

// One side of the scan from p0 in the direction of h.
ScanLimit ScanSide(FitHost* host, const ScannedParameter& sp, float p0, float h, float c) {
  ScanLimit limit;
  const float smallest = kSmallestRelativeStep * std::max(1.0f, std::fabs(p0));
  SetScanned(sp, p0);
  float r = FitWithFixedParameters(host);
  int refits = 1;
  float x = p0 + h;
  float trial = p0;
  bool above = r > c - kRmsdBand;
  if (above) h = -0.5f * h;
  x += h;
  for (;;) {
    if (r == -1.0f) {
      limit.status = ScanLimitStatus::Stopped;
      return limit;
    }
    if (r == 0.0f) return limit;  // fit limits refused
    if (c - kRmsdBand < r && r < c + kRmsdBand) break;
    if (refits >= kMaxRefitsPerSide || std::fabs(h) < smallest) return limit;
    SetScanned(sp, x);
    trial = x;
    r = FitWithFixedParameters(host);
    ++refits;
    if (r == -1.0f) continue;
    // The step reverses and halves each time the rmsd crosses the band.
    if ((r < c + kRmsdBand && above) || (r > c + kRmsdBand && !above)) h = -0.5f * h;
    x += h;
    above = r > c - kRmsdBand;
  }
  // The trial value whose refit met the band, not the next trial value.
  limit.value = trial;
  limit.status = ScanLimitStatus::Found;
  return limit;
}

void ScanParameter(FitHost* host, const ScannedParameter& sp, float step, float c, ScanLimit* lower,
                   ScanLimit* upper) {
  gModelParameterVector.F[sp.slot] = 0;
  *sp.flag = 0;
  const ParameterSnapshot snapshot;
  const float p0 = gModelParameterVector.P[sp.slot];
  CalcRmsd();

  *upper = ScanSide(host, sp, p0, step, c);
  snapshot.Restore(sp);
  if (upper->status == ScanLimitStatus::Stopped) {
    lower->status = ScanLimitStatus::Stopped;
  } else {
    *lower = ScanSide(host, sp, p0, -step, c);
    snapshot.Restore(sp);
  }
  // The model arrays and the rmsd follow the restored parameters again.
  gFitEngineState.stopRequested = 0;
  if (host) host->SimulateModel();
  CalcRmsd();
}

}  // namespace

float FitWithFixedParameters(FitHost* host) {
  FitEngineState& fs = gFitEngineState;
  if (fs.stopRequested) return -1.0f;
  fs.minimiserRuns = 0;
  if (!host || !CheckFitLimitsBeforeFit(host)) return 0.0f;
  fs.stopRequested = 0;
  fs.evaluationsThisRun = 0;
  ComposeFitInfoText(host);

  const int m = ParametersToFitVector(0, nullptr);
  if (m == 0) {
    host->SimulateModel();
    PollFitStop();
    return CalcRmsd();
  }

  FloatMat simplex(1, m + 1, 1, m);
  FloatVec y(1, m + 1);
  FloatVec previous(1, m);
  FloatVec current(1, m);
  std::unique_ptr<FitEntryKind[]> kinds(new FitEntryKind[m + 1]);
  FitVectorEntryKinds(m, kinds.get());
  float** p = simplex;
  int nfunk = 0;

  PackFitVectorUnclamped(m, p[1]);
  MakeInitialSimplex(m, p);
  for (int i = m + 1; i >= 1; --i) y[i] = SimplexSim(p[i], host);
  NelderMeadMinimize(host, p, y, m, kNelderMeadTolerance, SimplexSim, &nfunk);
  int best = LowestVertex(y, m);
  UnpackFitVectorForDisplay(p[best]);
  PackFitVectorUnclamped(m, previous);
  float b = y[best];

  while (!fs.stopRequested) {
    if (best != 1)
      for (int j = 1; j <= m; ++j) p[1][j] = p[best][j];
    MakeInitialSimplex(m, p);
    for (int i = 1; i <= m + 1; ++i) y[i] = SimplexSim(p[i], host);
    NelderMeadMinimize(host, p, y, m, kNelderMeadTolerance, SimplexSim, &nfunk);
    best = LowestVertex(y, m);
    UnpackFitVectorForDisplay(p[best]);
    PackFitVectorUnclamped(m, current);
    const bool converged = RestartConverged(m, previous, current, kinds.get(), b, y[best], fs.maxRelativeChange);
    for (int j = 1; j <= m; ++j) previous[j] = current[j];
    b = y[best];
    if (converged) break;
  }

  // Leave the model arrays at the best vertex even after a stop.
  const unsigned char stop = fs.stopRequested;
  fs.stopRequested = 0;
  SimplexSim(p[best], host);
  fs.stopRequested = stop;
  host->TmpSaveBestParams(0);
  return b;
}

void CalcErrorInS(FitHost* host, float step, float criticalRmsd, ScanLimit* lower, ScanLimit* upper) {
  ModelParams& mp = gModelParams;
  ScanParameter(host, {5, &mp.s[1], &mp.sFit[1]}, step, criticalRmsd, lower, upper);
}

void CalcErrorInM(FitHost* host, float step, float criticalRmsd, ScanLimit* lower, ScanLimit* upper) {
  ModelParams& mp = gModelParams;
  ScanParameter(host, {1, &mp.massOrD[1], &mp.massOrDFit[1]}, step, criticalRmsd, lower, upper);
}
