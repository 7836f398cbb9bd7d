#include "data/nonlinear_detection.h"

#include <cstdint>

#include "data/fluorescence_corrections.h"
#include "data/load_hooks.h"
#include "data/scan_grid.h"
#include "data/scan_set.h"

bool NonlinearDetectionTransform(double power, double baseline, bool show) {
  if (!NonlinearDetectionTransformScans(power, baseline, show)) return false;
  NonlinearDetectionTables& tables = CurrentNonlinearDetectionTables();
  if (!tables.skipRegrid) {
    LoadHooks& hooks = CurrentLoadHooks();
    // The grid preparation re-applies the stored transform; this one is it.
    const std::uint8_t guard = tables.transformGuard;
    tables.transformGuard = 1;
    PrepareScanGrid();
    tables.transformGuard = guard;
    hooks.redrawDataPlot(true);
    hooks.updateResidualsPlot();
    hooks.updateResidualHistogram();
    hooks.calcRmsd();
  }
  return true;
}

bool NonlinearDetectionTransformGuarded(double power, double baseline, bool show) {
  const FdsSignalParams& params = CurrentFdsSignalParams();
  NonlinearDetectionTables& tables = CurrentNonlinearDetectionTables();
  if (!params.useNonlinearDetection) return false;
  tables.transformGuard = 1;
  NonlinearDetectionTransform(power, baseline, show);
  tables.transformGuard = 0;
  return true;
}

bool ApplyNonlinearDetection(bool regrid) {
  const FdsSignalParams& params = CurrentFdsSignalParams();
  NonlinearDetectionTables& tables = CurrentNonlinearDetectionTables();
  if (CurrentScanSet().count < 1 || !params.useNonlinearDetection || tables.transformGuard) return false;
  const std::uint8_t before = tables.skipRegrid;
  if (!regrid) tables.skipRegrid = 1;
  const bool done =
      NonlinearDetectionTransform(params.appliedPower, params.appliedBaseline, params.showTransformed != 0);
  tables.skipRegrid = before;
  return done;
}
