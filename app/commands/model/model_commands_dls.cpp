// The models of dynamic light scattering data: the intensity distributions
// of the hydrodynamic radius (also as a time course) and of the diffusion
// coefficient, which stand on the distribution family's set-up, and the
// discrete models of Stokes radii and of cumulants, which use the species
// slots of the discrete model.
#include "app/commands/model/model_commands.h"
#include "app/window/txla_window.h"
#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "distributions/hydrodynamics.h"
#include "fit/clear_model_selection.h"
#include "distributions/model_entries.h"
#include "fit/fit_engine_state.h"
#include "fit/model_ids.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/model_table.h"
#include "platform/error_box.h"

namespace {

// True (after the refusal box) when no DLS data are loaded.
bool RefuseWithoutDlsData() {
  if (CurrentDataTypeFlags().dls) return false;
  return RefuseModelFor("need DLS data for this analysis");
}

// (Its range and confidence level start from the model's row.)
void SelectDlsDistribution(TXLAWindow& w, unsigned char ModelSelectorFlags::*own, int item) {
  if (RefuseWithoutDlsData()) return;
  ModelSelectorFlags& m = gModelSelectorFlags;
  // Raised before the family's set-up, which refuses DLS data otherwise,
  // and again after its reset; one DLS distribution at a time.
  m.DlsIRhModel = m.DlsIRhTimeCourseModel = m.DlsIDModel = 0;
  m.*own = 1;
  w.CmContinuousCMModel();
  m.DlsIRhModel = m.DlsIRhTimeCourseModel = m.DlsIDModel = 0;
  m.*own = 1;
  UnpackModelParameters();
  MarkChosenModel(w, item);
}

// The discrete DLS models use the discrete-species slots, in D (their
// start, with the baseline floating, is their row's).
void SelectDiscreteDls(TXLAWindow& w, unsigned char ModelSelectorFlags::*own) {
  ModelSelectorFlags& m = gModelSelectorFlags;
  ReleaseDistributionArrays();
  ClearSelectionForModel();
  m.LammDiscreteModel = 1;
  m.*own = 1;
  if (gFitEngineState.molarMassParameters) SetFitMAndS(w, false);
}

}  // namespace

void TXLAWindow::CmDlsIRhModel() {
  SelectDlsDistribution(*this, &ModelSelectorFlags::DlsIRhModel, kCmDlsIRhModel);
}

void TXLAWindow::CmDlsIRhTimeCourseModel() {
  SelectDlsDistribution(*this, &ModelSelectorFlags::DlsIRhTimeCourseModel, kCmDlsIRhTimeCourseModel);
}

void TXLAWindow::CmDlsIDModel() {
  SelectDlsDistribution(*this, &ModelSelectorFlags::DlsIDModel, kCmDlsIDModel);
}

void TXLAWindow::CmDlsStokesRadiiModel() {
  if (RefuseWithoutDlsData()) return;
  SolutionConditions& sol = gSolutionConditions;
  // Asked in poise, kept relative to water at 20 C (0.001002 Pa s).
  float poise = 0;
  if (!InputFloat(&poise, 10.0f * sol.viscosity * 0.001002f, true, "absolute viscosity of solvent (Poise)",
                  "DISCRETE STOKES RADII"))
    return;
  sol.viscosity = 0.1f * poise / 0.001002f;
  if (ModelOptionsOnly(kCmDlsStokesRadiiModel)) return;
  SelectDiscreteDls(*this, &ModelSelectorFlags::DlsStokesRadiiModel);
  UnpackModelParameters();
  MarkChosenModel(*this, kCmDlsStokesRadiiModel);
}

void TXLAWindow::CmDlsCumulantModel() {
  if (RefuseWithoutDlsData()) return;
  SelectDiscreteDls(*this, &ModelSelectorFlags::DlsCumulantModel);
  UnpackModelParameters();
  MarkChosenModel(*this, kCmDlsCumulantModel);
}
