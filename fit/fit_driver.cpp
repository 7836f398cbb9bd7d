#include "fit/fit_driver.h"

#include <cmath>
#include <functional>
#include <memory>

#include "fit/annealing.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/fit_report.h"
#include "fit/fit_vector.h"
#include "fit/fit_target.h"
#include "fit/marquardt.h"
#include "fit/nelder_mead.h"
#include "fit/serial_fit_settings.h"
#include "fit/simulation_switches.h"
#include "numerics/arrays.h"
#include "numerics/random.h"
#include "platform/input_events.h"

namespace {

constexpr float kNelderMeadTolerance = 0.0005f;
// The relative width a restart draws the s and M of an absent species with.
constexpr float kAbsentSpeciesSpread = 0.3f;
constexpr int kLargestGrid = 2147483646;

void SetGrid(FitHost* host, long long size) {
  host->SetLammGridSize(size > kLargestGrid ? kLargestGrid : static_cast<int>(size));
}

// Threshold of a quantity whose previous value was 0.
float ZeroThreshold(FitEntryKind kind, float maxRelativeChange) {
  switch (kind) {
    case FitEntryKind::BufferS:
    case FitEntryKind::MeniscusDifference: return 0.1f * maxRelativeChange;
    case FitEntryKind::WienerMagnitude: return 1e-5f;
    default: return maxRelativeChange;
  }
}

// Relative change |previous - current| / |previous|; the magnitude of the
// divisor keeps a negative parameter from passing with a negative ratio.
bool Changed(float previous, float current, float threshold, float maxRelativeChange) {
  if (previous == 0.0f) return std::fabs(current) > threshold;
  return std::fabs(previous - current) / std::fabs(previous) > maxRelativeChange;
}

// A tenth of the way coordinate j has come from `start`, where that is
// more than the starting spread of a simplex around `at`; 0 elsewhere.
float TravelSpread(const float* at, const float* start, int j) {
  const float spread = 0.1f * std::fabs(at[j] - start[j]);
  return spread > gFitEngineState.initialRandomization * std::fabs(at[j]) ? spread : 0.0f;
}

bool Travelled(int n, const float* at, const float* start) {
  for (int j = 1; j <= n; ++j)
    if (TravelSpread(at, start, j) > 0.0f) return true;
  return false;
}

// Vertices 2..n+1 moved further by Gaussian steps of the travel spread.
void WidenSimplex(int n, float** p, const float* start) {
  for (int j = 1; j <= n; ++j) {
    const float spread = TravelSpread(p[1], start, j);
    if (spread > 0.0f)
      for (int i = 2; i <= n + 1; ++i) p[i][j] += GaussRandom(spread);
  }
}

}  // namespace

bool RestartConverged(int n, const float* previous, const float* current, const FitEntryKind* kinds,
                      float previousRmsd, float rmsd, float maxRelativeChange, const unsigned char* ignored) {
  if (Changed(previousRmsd, rmsd, maxRelativeChange, maxRelativeChange)) return false;
  for (int j = 1; j <= n; ++j)
    if ((!ignored || !ignored[j]) && Changed(previous[j], current[j], ZeroThreshold(kinds[j], maxRelativeChange), maxRelativeChange))
      return false;
  return true;
}

void DrawFitCurvesDuringFit(FitHost* host) {
  if (!host || !host->HasPlotWindows()) return;
  ComposeFitInfoText(host);
  host->DrawFitCurves();
}

int MinimizeWithRestarts(FitHost* host, int n, float** p, float* y, float maxRelativeChange,
                         const std::function<void()>& afterFirstRun, const std::function<void()>& beforeRestart) {
  FitEngineState& fs = gFitEngineState;
  FloatVec previous(1, n);
  FloatVec current(1, n);
  std::unique_ptr<FitEntryKind[]> kinds(new FitEntryKind[n + 1]);
  FitVectorEntryKinds(n, kinds.get());
  int nfunk = 0;

  PackFitVectorUnclamped(n, p[1]);
  FloatVec start(1, n);
  for (int j = 1; j <= n; ++j) start[j] = p[1][j];
  // The restarts draw a quantity held at 0 with at least the spread of its
  // start (the absolute spread of a start at or beyond the clamp). Relative
  // to a point near the clamp the spread would vanish: a run that ended near
  // it, for a narrow valley flattening there, would restart in a simplex
  // too small to see the slope, and settle where it stopped.
  FloatVec heldScale(1, n);
  {
    std::unique_ptr<unsigned char[]> held(new unsigned char[n + 1]);
    FitVectorEntriesHeldAtZero(n, held.get());
    for (int j = 1; j <= n; ++j) heldScale[j] = !held[j] ? 0.0f : (start[j] > 0.0f ? start[j] : 1.0f);
  }
  MakeInitialSimplex(n, p);
  EvaluateSimplexFromStart(host, p, y, n, SimplexSim);
  // The first run approaches the minimum; the restarts end where the values
  // of the simplex agree to kFitSimplexTolerance.
  NelderMeadMinimize(host, p, y, n, kNelderMeadTolerance, SimplexSim, &nfunk);
  int best = LowestVertex(y, n);
  FloatVec extent(1, n), spread(1, n), runStart(1, n);
  SimplexExtents(p, n, best, extent);
  UnpackFitVectorForDisplay(p[best]);
  PackFitVectorUnclamped(n, previous);
  float previousRmsd = y[best];
  if (afterFirstRun) afterFirstRun();

  // Species whose amplitude is 0 at the best vertex, before and after a
  // restart: their s and M do not change the rmsd, so neither they nor a
  // restart's draws of them tell whether the fit has settled.
  std::unique_ptr<unsigned char[]> absentBefore(new unsigned char[n + 1]);
  std::unique_ptr<unsigned char[]> absent(new unsigned char[n + 1]);
  std::unique_ptr<unsigned char[]> ignored(new unsigned char[n + 1]);
  for (int j = 1; j <= n; ++j) absentBefore[j] = 0;

  bool settled = false;
  // A restart that settled was one of the size the run before it ended with;
  // before the fit ends, one restart spread by a tenth of the way the fit has
  // come tries again (when that is wider than the starting spread). Along a
  // narrow valley, or with a quantity near a clamp at 0, a small simplex
  // settles where a wider one walks on.
  bool probed = false, probing = false;
  for (int restart = 0; restart < kMaxNelderMeadRestarts && !fs.stopRequested; ++restart) {
    if (beforeRestart) beforeRestart();
    // Restart around the best vertex found so far (vertex 1 after a
    // converged run, but not after a collapse or the evaluation limit).
    if (best != 1)
      for (int j = 1; j <= n; ++j) p[1][j] = p[best][j];
    // The best vertex first: its evaluation tells which species are absent there.
    y[1] = SimplexSim(p[1], host);
    FitVectorEntriesOfAbsentSpecies(n, absent.get());
    // The size the run before ended with, not scaled down to where values
    // agree to the tolerance: along the narrow curved valleys of these
    // models (a photobleaching rate and level with the loading) a restart
    // that small creeps and settles on the slope.
    for (int j = 1; j <= n; ++j) {
      // An absent species comes back only from where it has an amplitude:
      // its s and M are drawn as widely as a start may lie from the truth.
      spread[j] = absent[j] ? kAbsentSpeciesSpread * std::fabs(p[1][j]) : LearntSpread(extent[j], p[1][j], 0.0f);
    }
    MakeInitialSimplex(n, p, heldScale, spread);
    if (probing) WidenSimplex(n, p, start);
    // The step the run before made, once more: along a valley the runs
    // creep, each a little further, and settle on its slope.
    if (restart > 0) {
      bool far = false;
      for (int j = 1; j <= n; ++j) far = far || std::fabs(p[1][j] - runStart[j]) > spread[j];
      if (far)
        for (int j = 1; j <= n; ++j) p[n + 1][j] = 2.0f * p[1][j] - runStart[j];
    }
    for (int j = 1; j <= n; ++j) runStart[j] = p[1][j];
    for (int i = 2; i <= n + 1; ++i) y[i] = SimplexSim(p[i], host);
    NelderMeadMinimize(host, p, y, n, kFitSimplexTolerance, SimplexSim, &nfunk);
    best = LowestVertex(y, n);
    SimplexExtents(p, n, best, extent);
    UnpackFitVectorForDisplay(p[best]);
    PackFitVectorUnclamped(n, current);

    for (int j = 1; j <= n; ++j) ignored[j] = absentBefore[j] && absent[j];
    // Settled when the restart moved nothing by more than the tolerance and
    // found no lower rmsd than the spread its runs end at: one that still
    // improves is followed by another, of the size this one ended with (or
    // by the widened one, which then confirms the end).
    const bool converged = RestartConverged(n, previous, current, kinds.get(), previousRmsd, y[best],
                                            maxRelativeChange, ignored.get());
    settled = converged && !(y[best] < previousRmsd * (1.0f - kFitSimplexTolerance));
    for (int j = 1; j <= n; ++j) {
      previous[j] = current[j];
      absentBefore[j] = absent[j];
    }
    previousRmsd = y[best];
    probing = false;
    if (converged && !probed) {
      probed = true;
      if (Travelled(n, p[best], start)) {
        probing = true;
        settled = false;
        continue;
      }
    }
    if (settled) break;
  }
  if (!settled && !fs.stopRequested) ReportRestartsExhausted(host);
  return best;
}

int FitCurrentModel(FitHost* host) {
  FitEngineState& fs = gFitEngineState;
  FitBudgetScope wholeFit(host);
  if (fs.useAnnealing && fs.annealTemperature > 0.0f) return SimulatedAnnealingFit(host, FitCurrentModel);
  if (fs.useMarquardt) return MLOptimize(host);
  if (fs.useAnnealing && fs.annealFinalMarquardt && fs.annealTemperature == 0.0f) return MLOptimize(host);

  fs.minimiserRuns = 0;
  fs.fitRunning = 1;
  gSimulationSwitches.discretizationWarningShown = 0;
  gSimulationSwitches.inhomogeneousWarningShown = 0;
  const unsigned char redraw = gSimulationSwitches.redrawDuringSimulation;
  gSimulationSwitches.redrawDuringSimulation = 0;
  auto leave = [&](int result) {
    fs.fitRunning = 0;
    gSimulationSwitches.redrawDuringSimulation = redraw;
    return result;
  };
  if (!host) return leave(0);
  if (!CheckFitLimitsBeforeFit(host)) return leave(0);
  host->RequestRepaint();

  fs.stopRequested = 0;
  fs.evaluationsThisRun = 0;
  fs.evaluationsTotal = 0;

  const int gridSize = host->LammGridSize();
  if (fs.halveGridFirst) host->SetLammGridSize(gridSize / 2);

  ComposeFitInfoText(host);
  fs.startRmsd = fs.startRmsdCopy = fs.currentRmsd;

  const int n = ParametersToFitVector(0, nullptr);
  if (n == 0) {
    if (fs.halveGridFirst) host->SetLammGridSize(gridSize);
    return leave(1);
  }

  FloatMat simplex(1, n + 1, 1, n);
  FloatVec y(1, n + 1);
  float** p = simplex;
  const int best = MinimizeWithRestarts(
      host, n, p, y, fs.maxRelativeChange,
      [&] {
        if (fs.halveGridFirst) host->SetLammGridSize(gridSize);
      },
      [&] {
        if (fs.doubleGridPerRestart) SetGrid(host, 2LL * host->LammGridSize());
      });

  fs.fitRunning = 0;
  // A fit ended by its budget was not interrupted: a series goes on.
  if (fs.stopRequested && !FitStoppedByBudget()) {
    host->RaiseRealtimeInterrupt();
    gSerialFitSettings.abortRequest = 1;
  }
  fs.stopRequested = 0;
  {
    platform::InputHold hold;
    SimplexSim(p[best], host);
  }
  gSimulationSwitches.redrawDuringSimulation = redraw;
  if (fs.saveBestDuringFit) host->TmpSaveBestParams(0);
  host->RequestRepaint();
  DrawFitCurvesDuringFit(host);
  if (host->LammGridSize() >= kLargestGrid)
    host->MessageBox("", "gridsize reached upper limit!", platform::BoxIcon::Warning);
  return 1;
}
