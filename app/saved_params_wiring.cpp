#include "app/saved_params_wiring.h"

#include "app/txla_window.h"
#include "data/load_hooks.h"
#include "data/scan_grid.h"
#include "data/scan_loading.h"
#include "fit/model_selector.h"
#include "fit/saved_params.h"

namespace {

// Model command of each distribution code of the saved file.
int ModelCommandOfCode(int code) {
  switch (code) {
    case 2: return 531;
    case 3: return 595;
    case 4: return 598;
    case 5: return 872;
    case 6: return 887;
    case 7: return 585;
    case 7001: return 1100;
    default: return 275;  // "Continuous c(s) Distribution"
  }
}

}  // namespace

void ConnectSavedParamsToWindow(TXLAWindow& window) {
  TXLAWindow* w = &window;
  CurrentLoadHooks().offerRestorePreviousAnalysis = [] {
    return OfferRestorePreviousAnalysis(CurrentDataPaths().parameterFile,
                                        CommandLineState().AutomationMode != 0);
  };
  SavedParamsHooks& h = CurrentSavedParamsHooks();
  h.reselectDistributionModel = [w](int code) {
    gModelSelectorFlags.ClearSwitches();
    w->Dispatch(ModelCommandOfCode(code));
  };
  h.checkFitLimits = [] {
    CheckLeftFitLimit();
    CheckRightFitLimit();
  };
}

void DisconnectSavedParamsFromWindow() {
  SavedParamsHooks& h = CurrentSavedParamsHooks();
  h.reselectDistributionModel = nullptr;
  h.checkFitLimits = nullptr;
}
