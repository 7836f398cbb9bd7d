#include "fit/model_selector.h"

ModelSelectorFlags gModelSelectorFlags;

void ModelSelectorFlags::ClearSwitches() {
  const ModelSelectorFlags kept = *this;
  *this = ModelSelectorFlags{};
  CSModel = kept.CSModel;
  ConcDependentLammModel = kept.ConcDependentLammModel;
  NonidealCSVariant = kept.NonidealCSVariant;
  TimesFromW2tByModel = kept.TimesFromW2tByModel;
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
