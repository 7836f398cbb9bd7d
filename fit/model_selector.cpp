#include "fit/model_selector.h"

#include "data/scan_set.h"
#include "fit/model_table.h"
#include "fit/scan_times.h"
#include "lamm/lamm_settings.h"

ModelSelectorFlags gModelSelectorFlags;

void ModelSelectorFlags::ClearSwitches() {
  const ModelSelectorFlags kept = *this;
  *this = ModelSelectorFlags{};
  CSModel = kept.CSModel;
  ConcDependentLammModel = kept.ConcDependentLammModel;
  NonidealCSVariant = kept.NonidealCSVariant;
  TimesFromW2tByModel = kept.TimesFromW2tByModel;
  GridSizeOverridden = kept.GridSizeOverridden;
}


ModelSelectionHooks& CurrentModelSelectionHooks() {
  static ModelSelectionHooks hooks = [] {
    ModelSelectionHooks h;
    h.message = [](const std::string&) {};
    h.switchOffWienerSkewing = [] {};
    h.equilibriumTestMode = [] { return false; };
    h.exitEquilibriumTestMode = [] {};
    h.mStarAnalysisActive = [] { return false; };
    h.closeMStarAnalysis = [] {};
    h.checkMenuItem = [](int, bool) {};
    return h;
  }();
  return hooks;
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
  if (sel.GridSizeOverridden) {
    lamm.gridSizeInUse = lamm.feGridSize;
    sel.GridSizeOverridden = 0;
  }
  sel.LammDiscreteModel = 0;
  sel.ConcDependentSolverSwitch = 0;
  if (hooks.equilibriumTestMode()) hooks.exitEquilibriumTestMode();
  sel.ClearSwitches();
  if (hooks.mStarAnalysisActive()) hooks.closeMStarAnalysis();
  for (const ModelRow& row : ModelTable()) hooks.checkMenuItem(row.id, false);
}
