// The least-squares g*(s) models of the Model menu: ls-g*(s), ls-g*(s) with
// one discrete Lamm-equation component and the hybrid c(s)/ls-g*(s). Each
// stands on the distribution family's common set-up; ls-g*(s) wants
// Tikhonov-Phillips regularisation, and on single-speed data scan times from
// omega^2 t, since its step functions carry no rotor acceleration.
#include "app/commands/model/model_commands.h"
#include "fit/clear_model_selection.h"

#include "app/window/txla_window.h"
#include "app/window/main_fit_host.h"
#include "data/rotor_speed_profile.h"
#include "data/scan_set.h"
#include "distributions/conti_models.h"
#include "distributions/conti_settings.h"
#include "distributions/model_entries.h"
#include "fit/model_ids.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/model_table.h"
#include "fit/scan_times.h"
#include "lamm/lamm_settings.h"
#include "platform/user_interface.h"

namespace {

bool AutomationMode() { return CommandLineState().AutomationMode != 0; }
bool MultiSpeedData() { return CurrentSpeedProfile.Active(); }

void TikhonovNote() { platform::Tell("ls-g(s)", "Please Note: Switching now to Tikhonov-Phillips Regularization"); }

// Scan times from omega^2 t for single-speed sedimentation-velocity data;
// true when this switched them on.
bool TimesFromW2tForLsg(bool tell) {
  const DataTypeFlags& df = CurrentDataTypeFlags();
  // Electrophoresis scans keep their elapsed times: their rotor speed is a placeholder.
  if (LammSettings().timesFromW2t || MultiSpeedData() || df.dls || df.floToolsData || df.electrophoresis)
    return false;
  ApplyTimesFromW2t(MainFitHost());
  if (tell) platform::Tell("", "switching on times from w^2t option");
  return true;
}

}  // namespace

void TXLAWindow::CmLsgStarModel() {
  if (RefuseDlsData()) return;
  ModelSelectorFlags& m = gModelSelectorFlags;
  const bool multiSpeed = MultiSpeedData();
  m.LsgStarModel = 1;
  CmContinuousCMModel();
  // The start switched to Tikhonov-Phillips: said before the scan times
  // change, unattended only for multi-speed runs.
  const bool toSecondDerivative = ModelStartJustWritten().toSecondDerivative;
  if (toSecondDerivative && !AutomationMode() && !multiSpeed) TikhonovNote();
  // Scan times from omega^2 t belong to the data, not to the entries.
  if (TimesFromW2tForLsg(!AutomationMode())) m.TimesFromW2tByModel = 1;
  m.LsgStarModel = 1;
  m.CSModel = 1;
  MarkChosenModel(*this, kCmLsgStarModel);
  if (toSecondDerivative && AutomationMode() && multiSpeed) TikhonovNote();
  UnpackModelParameters();
}

void TXLAWindow::CmLsgStarWith1DiscreteModel() {
  if (RefuseDlsData()) return;
  ModelSelectorFlags& m = gModelSelectorFlags;
  m.LsgStarWith1DiscreteModel = 1;
  CmContinuousCMModel();
  // The family's set-up clears every variant switch.
  m.LsgStarWith1DiscreteModel = 1;
  if (ModelStartJustWritten().toSecondDerivative && !MultiSpeedData()) TikhonovNote();
  TimesFromW2tForLsg(true);
  m.CSModel = 1;
  CheckMenuItem(kCmLsgStarWith1DiscreteModel, true);
  CheckMenuItem(kCmContinuousCMModel, false);
  UnpackModelParameters();
}

void TXLAWindow::CmHybridCSLsgModel() {
  ModelSelectorFlags& m = gModelSelectorFlags;
  // The bimodal c(s) with one discrete component lays the ground; its
  // regularisation note would only be taken back below.
  ContiModelCommandContext ctx = ModelCommandContext();
  ctx.quiet = true;
  const ContiModelCommandResult r = ::CmContinuousCSVariant(CsVariant::BimodalFf0With1Discrete, ctx);
  if (r.refused) return;
  CheckMenuItem(kCmContinuousCMModel, false);
  CheckMenuItem(kCmContinuousCSModel, false);
  CheckMenuItem(kCmBimodalFF0With1DiscreteCSModel, false);
  AfterContiCommand(*this, ctx, r);
  m.BimodalFF0With1DiscreteCSModel = 0;
  if (ModelStartJustWritten().toSecondDerivative && MultiSpeedData()) TikhonovNote();
  m.ContiRegularizationSwitch = 0;
  m.HybridCSLsgModel = 1;
  CheckMenuItem(kCmHybridCSLsgModel, true);
  UnpackModelParameters();
}

void TXLAWindow::CmZoneCentrifugationLsgModel() {
  if (RefuseDlsData()) return;
  ModelSelectorFlags& m = gModelSelectorFlags;
  ReleaseDistributionArrays();
  ClearSelectionForModel();
  CmLsgStarModel();
  if (!m.LsgStarModel) return;  // ls-g*(s) refused the data
  m.ZoneCentrifugationModel = 1;
  m.ZoneCentrifugationLsgModel = 1;
  m.LammDiscreteModel = 0;
  MarkChosenModel(*this, kCmZoneCentrifugationLsgModel);
  UnpackModelParameters();
  ReallocLammArraysIfPresent();
}
