#include "app/wiring/saved_params_wiring.h"

#include "app/commands/model/model_commands.h"
#include "app/window/main_window_flags.h"
#include "app/window/txla_window.h"
#include "data/load_hooks.h"
#include "data/scan_grid.h"
#include "data/scan_loading.h"
#include "distributions/conti_models.h"
#include "distributions/conti_settings.h"
#include "distributions/model_entries.h"
#include "fit/model_ids.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/saved_params.h"
#include "platform/menu_model.h"

namespace {

// The model left and its entries as a saved parameter file began to be read.
ModelEntryTrip& ModelLeftForFile() {
  static ModelEntryTrip trip;
  return trip;
}

// The models without a menu item, by what their parameter box calls them.
std::string HiddenModelName(int key) {
  switch (key) {
    case kCmMonomerDimerModel: return "rapid monomer-dimer self-association";
    case kCmMonomerTrimerModel: return "rapid monomer-trimer self-association";
    case kCmMonomerTetramerOctamerModel: return "1-4-8 rapid self-association";
    case kCmMonomerDimerTetramerModel: return "1-2-4 rapid self-association";
    case kCmModel267: return "A + B <--> AB";
    case kCmEquilibriumModel523: return "A + B <--> AB at sedimentation equilibrium";
    case kCmEquilibriumModel284: return "noninteracting species at sedimentation equilibrium";
    case kCmCSModel521: return "Continuous c(s) for linear rods";
    case kCmNonidealSingleSpeciesModel1099: return "Hindered Sedimentation";
    case kCmNonidealCSModel1100: return "Hindered Sedimentation Coefficient Distribution c(s)";
    default: return {};
  }
}

}  // namespace

void ConnectSavedParamsToWindow(TXLAWindow& window) {
  TXLAWindow* w = &window;
  CurrentLoadHooks().offerRestorePreviousAnalysis = [w] {
    ForgetPreviousAnalysisOfNewData(*w);
    return OfferRestorePreviousAnalysis(CurrentDataPaths().parameterFile,
                                        CommandLineState().AutomationMode != 0);
  };
  CurrentLoadHooks().newDataAboutToLoad = ModelsBeforeNewData;
  CurrentLoadHooks().newDataLoaded = ModelsAfterNewData;
  SavedParamsHooks& h = CurrentSavedParamsHooks();
  h.reselectModel = [w](int key) {
    if (key == kCmGeneralScalingLawCSModel || key == kCmFMScalingLawModel) {
      // The scaling-law commands start from the stored law: store the saved
      // one first (Ks in component 3's concentration, bs in its extra value).
      const ModelParams& mp = gModelParams;
      ContiModelStore& st = ContiStore();
      st.scalingExponent = mp.extra[3];
      st.scalingExponentFit = mp.extraFit[3];
      st.scalingPrefactor = mp.concentration[3];
      st.scalingPrefactorFit = mp.concentrationFit[3];
      // f(M) keeps the fit of bs beside component 2's concentration.
      if (key == kCmFMScalingLawModel) st.scalingExponentFit = mp.concentrationFit[2];
    }
    // Chosen as from the menu, from the model in use before the file.
    const ModelCommandsFromFile fromFile(ModelLeftForFile());
    w->Dispatch(key);
  };
  h.reloadModelEntry = [w](bool read) {
    if (!read) {
      ModelLeftForFile() = BeginReloadedModel();
      return;
    }
    // c(s,f/f0) keeps the weight of its f/f0 direction in slot 11, which
    // the file carries as component 3's concentration.
    if (gModelSelectorFlags.AnyCsff0Model()) Conti().ffDirectionWeight = gModelParams.concentration[3];
    FinishReloadedModel(ModelLeftForFile());
    // The file set the switches without the reset that unmarks the menu.
    MarkSelectedModel(*w);
  };
  h.modelName = [w](int key) {
    const platform::MenuNode* item = w->Frame().Menu().Find(key);
    return item ? platform::PlainMenuText(item->text) : HiddenModelName(key);
  };
  h.checkFitLimits = [] {
    // The limits the analysis was fitted with, kept inside the data.
    CheckLeftFitLimit(0.0f);
    CheckRightFitLimit();
    KeepFitLimitsOnTheData();
  };
}

void DisconnectSavedParamsFromWindow() {
  CurrentLoadHooks().newDataAboutToLoad = [] {};
  CurrentLoadHooks().newDataLoaded = [] {};
  SavedParamsHooks& h = CurrentSavedParamsHooks();
  h.reselectModel = nullptr;
  h.reloadModelEntry = nullptr;
  h.modelName = nullptr;
  h.checkFitLimits = nullptr;
}
