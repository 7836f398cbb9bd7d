#include "fit/fit_driver.h"

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
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/fit_report.h"
#include "fit/fit_vector.h"
#include "fit/fit_target.h"
#include "fit/marquardt.h"
#include "fit/model_evaluation_hooks.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/nelder_mead.h"
#include "fit/nonideal_species.h"
#include "fit/rmsd.h"
#include "fit/serial_fit_settings.h"
#include "fit/simulation_switches.h"
#include "fit/species_slots.h"
#include "fit/fit_end.h"
#include "fit/simplex_end_check.h"
#include "fit/simplex_restarts.h"
#include "numerics/arrays.h"
#include "numerics/constants.h"
#include "numerics/random.h"
#include "platform/error_box.h"
#include "platform/input_events.h"

namespace {
FitRunEnd FitByChosenMethod(FitHost* host);
}  // namespace

namespace {

// Nested FitCurrentModel calls (annealing's finishing pass is one).
int& FitDepth() {
  static int depth = 0;
  return depth;
}

class FitDepthScope {
 public:
  FitDepthScope() : outermost_(FitDepth()++ == 0) {}
  ~FitDepthScope() { --FitDepth(); }
  FitDepthScope(const FitDepthScope&) = delete;
  FitDepthScope& operator=(const FitDepthScope&) = delete;
  bool Outermost() const { return outermost_; }

 private:
  bool outermost_;
};

std::vector<float> PackedFitVector() {
  const int n = ParametersToFitVector(0, nullptr);
  std::vector<float> v(static_cast<size_t>(n) + 1, 0.0f);
  PackFitVectorUnclamped(n, v.data());
  return v;
}

// The model's curves and noise as an evaluation left them, to be put back
// to the last bit: an evaluation may start its solves from the previous
// ones, so that evaluating a point again can differ in the last bits.
class CurvesKept {
 public:
  CurvesKept() {
    const ScanSet& ss = CurrentScanSet();
    for (int j = 1; j <= ss.count; ++j) {
      const size_t u = static_cast<size_t>(j);
      const int length = u < ss.points.size() ? ss.points[u] + 1 : 0;
      model_.push_back(Copy(u < ss.model.size() ? ss.model[u] : nullptr, length));
      residuals_.push_back(Copy(u < ss.residuals.size() ? ss.residuals[u] : nullptr, length));
    }
    ti_ = Copy(ss.tiNoise, ss.gridLength + 1);
    ri_ = Copy(ss.riNoise, ss.count + 1);
  }
  void PutBack() const {
    ScanSet& ss = CurrentScanSet();
    for (int j = 1; j <= ss.count && static_cast<size_t>(j) <= model_.size(); ++j) {
      const size_t u = static_cast<size_t>(j);
      if (u < ss.model.size()) Paste(model_[u - 1], ss.model[u]);
      if (u < ss.residuals.size()) Paste(residuals_[u - 1], ss.residuals[u]);
    }
    Paste(ti_, ss.tiNoise);
    Paste(ri_, ss.riNoise);
  }

 private:
  static std::vector<float> Copy(const float* a, int length) {
    return a && length > 0 ? std::vector<float>(a, a + length) : std::vector<float>{};
  }
  static void Paste(const std::vector<float>& kept, float* a) {
    if (a && !kept.empty()) std::copy(kept.begin(), kept.end(), a);
  }
  std::vector<std::vector<float>> model_, residuals_;
  std::vector<float> ti_, ri_;
};

// Once, where the whole fit ended (every method and its finishing pass):
// which of the fitted quantities the data leave open there. The model, its
// curves and its entries are then those of the end again, bit for bit.
void JudgeTheEnd(FitHost* host, const std::vector<float>& start) {
  FitEndPoint end;
  end.value = PackedFitVector();
  const int n = static_cast<int>(end.value.size()) - 1;
  if (n < 1 || start.size() != end.value.size()) return;
  end.start = start;
  end.signalUnits.assign(end.value.size(), 0);
  for (int k = 1; k <= n; ++k) end.signalUnits[static_cast<size_t>(k)] = NamedInSignalUnits(FitVectorEntryName(k));
  end.rmsd = CalcRmsd();
  end.points = gFitEngineState.rmsdPointCount;
  const ModelParams params = gModelParams;
  const ModelParameterVector vector = gModelParameterVector;
  const CurvesKept curves;
  TellWhatTheDataLeaveOpen(host, SimplexSim, end, FitVectorEntryName, [&] {
    std::vector<float> at(end.value);
    {
      platform::InputHold hold;
      SimplexSim(at.data(), host);
    }
    gModelParams = params;
    gModelParameterVector = vector;
    curves.PutBack();
    CalcRmsd();
    host->RequestRepaint();
  });
}

}  // namespace

int FitCurrentModel(FitHost* host) {
  FitEngineState& fs = gFitEngineState;
  // The end is told once, as judged last: the judgement of the end may
  // name other quantities than the method's own end named.
  FitEndNoteHold told(host);
  FitBudgetScope wholeFit(host);
  FitSolverBoxScope solverBoxes;
  SpeciesFitRangesScope physicalRanges;
  FitDepthScope depth;
  const std::vector<float> start = depth.Outermost() ? PackedFitVector() : std::vector<float>{};
  int result;
  if (fs.useAnnealing && fs.annealTemperature > 0.0f)
    result = SimulatedAnnealingFit(host, FitCurrentModel);
  else if (gModelSelectorFlags.NonidealMultipleSpeciesModel)
    result = FitNonidealComponents(host, FitByChosenMethod);
  else
    result = FitWithSpeciesEndChecks(host, FitByChosenMethod);
  if (depth.Outermost() && result == 1 && host) JudgeTheEnd(host, start);
  return result;
}

namespace {

constexpr int kLargestGrid = 2147483646;

void SetGrid(FitHost* host, long long size) {
  host->SetLammGridSize(size > kLargestGrid ? kLargestGrid : static_cast<int>(size));
}

// Threshold of a quantity whose previous value was 0.
FitRunEnd FitByChosenMethod(FitHost* host) {
  FitEngineState& fs = gFitEngineState;
  if (!SimplexChosen()) return RunMarquardt(host);

  fs.minimiserRuns = 0;
  fs.fitRunning = 1;
  gSimulationSwitches.discretizationWarningShown = 0;
  gSimulationSwitches.inhomogeneousWarningShown = 0;
  const unsigned char redraw = gSimulationSwitches.redrawDuringSimulation;
  gSimulationSwitches.redrawDuringSimulation = 0;
  auto leave = [&](int result) {
    fs.fitRunning = 0;
    gSimulationSwitches.redrawDuringSimulation = redraw;
    FitRunEnd end;
    end.result = result;
    return end;
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
  const SimplexRestartsEnd restarts = MinimizeWithRestarts(
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
    RecordFitEnd(host, FitEndKind::Stopped, "the fit was stopped: the best parameters found are kept");
    host->RaiseRealtimeInterrupt();
    gSerialFitSettings.abortRequest = 1;
  }
  fs.stopRequested = 0;
  {
    platform::InputHold hold;
    SimplexSim(p[restarts.best], host);
  }
  gSimulationSwitches.redrawDuringSimulation = redraw;
  if (fs.saveBestDuringFit) host->TmpSaveBestParams(0);
  host->RequestRepaint();
  DrawFitCurvesDuringFit(host);
  if (host->LammGridSize() >= kLargestGrid)
    host->MessageBox("", "gridsize reached upper limit!", platform::BoxIcon::Warning);
  FitRunEnd end;
  end.result = 1;
  end.ranOutOfRestarts = restarts.ranOutOfRestarts;
  return end;
}

}  // namespace
