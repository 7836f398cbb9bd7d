#include "fit/model_selector.h"

#include "data/scan_set.h"
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

const int kModelMenuItems[] = {198, 280, 281, 282, 291, 501, 536, 197, 229, 520, 228, 227, 893,
                               235, 526, 275, 267, 277, 278, 279, 288, 539, 950, 503, 522, 502,
                               292, 293, 284, 523, 246, 511, 510, 513, 514, 531, 521, 585, 587,
                               595, 598, 1099, 1100, 602, 603, 872, 887, 548, 870, 890};
const int kModelMenuItemCount = static_cast<int>(sizeof kModelMenuItems / sizeof kModelMenuItems[0]);

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
  for (int i = 0; i < kModelMenuItemCount; ++i) hooks.checkMenuItem(kModelMenuItems[i], false);
}
