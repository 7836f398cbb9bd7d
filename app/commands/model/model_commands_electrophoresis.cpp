// The electrophoresis models of the Model menu: discrete species and the
// least-squares g*(v) in the linear geometry of a constant force. The
// column runs from the meniscus over the stored column length.
#include "app/commands/model/model_commands.h"
#include "app/window/txla_window.h"
#include "fit/clear_model_selection.h"
#include "distributions/conti_models.h"
#include "distributions/model_entries.h"
#include "fit/fit_engine_state.h"
#include "fit/model_ids.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/model_table.h"

namespace {

constexpr int n = kComponentSlots;

float& P(int i) { return gModelParameterVector.P[i]; }

}  // namespace

void TXLAWindow::CmElectrophoresisLsgModel() {
  if (RefuseDlsData()) return;
  ModelSelectorFlags& m = gModelSelectorFlags;
  m.ConcDependentLammModel = 0;
  ReleaseDistributionArrays();
  ClearSelectionForModel();
  CmLsgStarModel();
  MarkChosenModel(*this, kCmElectrophoresisLsgModel);
  m.LammDiscreteModel = 0;
  m.ElectrophoresisLsgModel = 1;
  UnpackModelParameters();
  ReallocLammArraysIfPresent();
}

void TXLAWindow::CmElectrophoresisLammModel() {
  if (RefuseDlsData()) return;
  ModelSelectorFlags& m = gModelSelectorFlags;
  m.ConcDependentLammModel = 0;
  ReleaseDistributionArrays();
  ClearSelectionForModel();
  m.LammDiscreteModel = 1;
  m.ElectrophoresisLammModel = 1;
  CheckMenuItem(kCmElectrophoresisLammModel, true);
  // The cell ends where the data's column does.
  ModelParams& mp = gModelParams;
  P(14) = mp.bottom = mp.meniscus + mp.electrophoresisColumnLength;
  if (gFitEngineState.molarMassParameters) SetFitMAndS(*this, false);
  UnpackModelParameters();
  ReallocLammArraysIfPresent();
}
