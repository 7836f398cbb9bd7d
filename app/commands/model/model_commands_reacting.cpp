// The reacting system A + B <-> AB in local equilibrium (hidden command 267):
// a Lamm model of its own, parametrised by molar masses and s (its start,
// the last values the model held, is its row's).
#include "app/commands/model/model_commands.h"
#include "app/window/txla_window.h"
#include "fit/clear_model_selection.h"
#include "distributions/model_entries.h"
#include "fit/fit_engine_state.h"
#include "fit/lamm_grid.h"
#include "fit/model_ids.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/model_table.h"
#include "lamm/lamm_settings.h"
#include "models/reacting/hetero_association.h"

void TXLAWindow::CmModel267() {
  if (RefuseDlsData()) return;
  ReleaseDistributionArrays();
  ClearSelectionForModel();
  if (!gFitEngineState.molarMassParameters) CmFitMAndS();
  gModelParams.experimentalInitialDistribution = 0;
  gModelParams.concentrationsLinear = 0;
  gModelSelectorFlags.Model267 = 1;
  CheckMenuItem(kCmModel267, true);
  UnpackModelParameters();
  CurrentLammGrid().reactingSystem = true;
  ReallocLammArraysIfPresent();
}
