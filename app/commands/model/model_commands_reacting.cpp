// The reacting system A + B <-> AB in local equilibrium (hidden command 267):
// a Lamm model of its own, parametrised by molar masses and s, whose start
// values are the last values the model held.
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
  ModelSelectorFlags& m = gModelSelectorFlags;
  if (!ModelChosen(kCmModel267)) {
    ReleaseDistributionArrays();
    ClearSelectionForModel();
    if (!gFitEngineState.molarMassParameters) CmFitMAndS();
    const bool inPlace = ModelEntriesInPlace();
    if (!inPlace) {
      LammSolverSettings& l = LammSettings();
      l.movingHatAlgorithm = 1;
      l.modelInitialDistribution = 1;
      l.experimentalInitialDistribution = 0;
    }
    gModelParams.experimentalInitialDistribution = 0;
    gModelParams.concentrationsLinear = 0;
    if (!inPlace) FixAllParameters();
    m.Model267 = 1;
    CheckMenuItem(kCmModel267, true);
    if (inPlace) {
      UnpackModelParameters();
      CurrentLammGrid().reactingSystem = true;
      ReallocLammArraysIfPresent();
      return;
    }
  }
  const HeteroAssociationState& st = CurrentHeteroAssociationState();
  float* P = gModelParameterVector.P;
  P[1] = st.DA;
  P[2] = st.DB;
  P[4] = st.epsA;
  P[5] = st.sA;
  P[6] = st.sB;
  P[7] = st.sAB;
  P[8] = st.logK;
  P[9] = st.loadA;
  P[10] = st.loadB;
  P[12] = st.epsB;
  // The complex (slot 3) follows from the mass action.
  UnpackModelParameters();
  CurrentLammGrid().reactingSystem = true;
  ReallocLammArraysIfPresent();
}
