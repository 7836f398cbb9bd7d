#include "fit/clear_model_selection.h"

#include "data/scan_set.h"
#include "fit/model_selector.h"
#include "fit/model_table.h"
#include "fit/scan_times.h"
#include "lamm/lamm_settings.h"

void GiveBackReplacedGridSize() {
  ModelSelectorFlags& sel = gModelSelectorFlags;
  if (!sel.GridSizeOverridden) return;
  LammSolverSettings& lamm = LammSettings();
  // (What the user set while the distribution was in use is theirs.)
  sel.DistributionGridSize = lamm.feGridSize;
  if (sel.ReplacedGridSize > 0) lamm.feGridSize = sel.ReplacedGridSize;
  lamm.gridSizeInUse = sel.ReplacedGridSizeInUse > 0 ? sel.ReplacedGridSizeInUse : lamm.feGridSize;
  sel.GridSizeOverridden = 0;
  sel.ReplacedGridSize = sel.ReplacedGridSizeInUse = 0;
}

void ClearModelSelection() {
  ModelSelectorFlags& sel = gModelSelectorFlags;
  ModelSelectionHooks& hooks = CurrentModelSelectionHooks();
  LammSolverSettings& lamm = LammSettings();
  if (sel.TimesFromW2tByModel) {
    SwitchOffTimesFromW2t(nullptr);
    sel.TimesFromW2tByModel = 0;
    hooks.message("switching off times from w^2t option");
  }
  hooks.switchOffWienerSkewing();
  CurrentScanSet().dataChanged = 1;
  lamm.automaticAlgorithm = 1;
  GiveBackReplacedGridSize();
  sel.LammDiscreteModel = 0;
  sel.ConcDependentSolverSwitch = 0;
  if (hooks.equilibriumTestMode()) hooks.exitEquilibriumTestMode();
  sel.ClearSwitches();
  if (hooks.mStarAnalysisActive()) hooks.closeMStarAnalysis();
  for (const ModelRow& row : ModelTable()) hooks.checkMenuItem(row.id, false);
}
