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

int FitCurrentModel(FitHost* host) {
  FitEngineState& fs = gFitEngineState;
  FitBudgetScope wholeFit(host);
  FitSolverBoxScope solverBoxes;
  SpeciesFitRangesScope physicalRanges;
  if (fs.useAnnealing && fs.annealTemperature > 0.0f) return SimulatedAnnealingFit(host, FitCurrentModel);
  if (gModelSelectorFlags.NonidealMultipleSpeciesModel) return FitNonidealComponents(host, FitByChosenMethod);
  return FitWithSpeciesEndChecks(host, FitByChosenMethod);
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
