#include "fit/clear_model_selection.h"

#include "data/scan_set.h"
#include "fit/model_selector.h"
#include "fit/model_table.h"
#include "fit/scan_times.h"
#include "lamm/lamm_settings.h"

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
  GiveBackGridSize(lamm.gridSize);
  sel.LammDiscreteModel = 0;
  sel.ConcDependentSolverSwitch = 0;
  if (hooks.equilibriumTestMode()) hooks.exitEquilibriumTestMode();
  sel.ClearSwitches();
  if (hooks.mStarAnalysisActive()) hooks.closeMStarAnalysis();
  for (const ModelRow& row : ModelTable()) hooks.checkMenuItem(row.id, false);
}
