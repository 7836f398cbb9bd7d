#include "app/eqtools_commands.h"

#include "app/road_services.h"
#include "app/txla_window.h"
#include "app/window_fit_host.h"
#include "equilibrium/eqtools/equilibrium_model.h"

void ConnectEqTools(TXLAWindow& w) {
  (void)w;
  RoadServices& r = Road();
  r.runEquilibrium = [] { RunEquilibrium(MainFitHost()); };
  // Fit starts from a run of the current parameters.
  r.fitEquilibrium = [] {
    if (RunEquilibrium(MainFitHost())) FitEquilibrium(MainFitHost());
  };
}

void DisconnectEqTools() { FreeEquilibriumWorkArrays(); }
