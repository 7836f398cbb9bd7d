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

constexpr int n = kComponentSlots;

float& P(int i) { return gModelParameterVector.P[i]; }

bool AutomationMode() { return CommandLineState().AutomationMode != 0; }
bool MultiSpeedData() { return CurrentSpeedProfile.Active(); }

void TikhonovNote() { platform::Tell("ls-g(s)", "Please Note: Switching now to Tikhonov-Phillips Regularization"); }

// Tikhonov-Phillips (second-derivative) regularisation, with its marks.
void UseSecondDerivative(TXLAWindow& w) {
  ContiSettings& cs = Conti();
  cs.secondDerivative = 1;
  cs.maxEntropy = 0;
  w.CheckMenuItem(294, true);
  w.CheckMenuItem(295, false);
}

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
  ContiSettings& cs = Conti();
  const bool multiSpeed = MultiSpeedData();
  m.LsgStarModel = 1;
  CmContinuousCMModel();
  if (ModelEntriesInPlace()) {
    // Scan times from omega^2 t belong to the data, not to the entries.
    if (TimesFromW2tForLsg(!AutomationMode())) m.TimesFromW2tByModel = 1;
    m.LsgStarModel = 1;
    m.CSModel = 1;
    CheckMenuItem(kCmLsgStarModel, true);
    UnpackModelParameters();
    return;
  }
  if (cs.maxEntropy && !AutomationMode()) {
    if (!multiSpeed) TikhonovNote();
    UseSecondDerivative(*this);
  }
  if (TimesFromW2tForLsg(!AutomationMode())) m.TimesFromW2tByModel = 1;
  m.LsgStarModel = 1;
  m.CSModel = 1;
  WriteLsgGridStart(kCmLsgStarModel, multiSpeed);
  CheckMenuItem(kCmLsgStarModel, true);
  if (cs.maxEntropy) {
    if (multiSpeed) TikhonovNote();
    UseSecondDerivative(*this);
  }
  UnpackModelParameters();
}

void TXLAWindow::CmLsgStarWith1DiscreteModel() {
  if (RefuseDlsData()) return;
  ModelSelectorFlags& m = gModelSelectorFlags;
  ContiSettings& cs = Conti();
  m.LsgStarWith1DiscreteModel = 1;
  CmContinuousCMModel();
  // The family's set-up clears every variant switch.
  m.LsgStarWith1DiscreteModel = 1;
  if (ModelEntriesInPlace()) {
    TimesFromW2tForLsg(true);
    m.CSModel = 1;
    CheckMenuItem(kCmLsgStarWith1DiscreteModel, true);
    CheckMenuItem(kCmContinuousCMModel, false);
    UnpackModelParameters();
    return;
  }
  if (!cs.showBothRegularizations) {
    if (!MultiSpeedData() && (cs.maxEntropy || !cs.secondDerivative)) TikhonovNote();
    UseSecondDerivative(*this);
  }
  TimesFromW2tForLsg(true);
  m.CSModel = 1;
  WriteLsgGridStart(kCmLsgStarWith1DiscreteModel, false);
  P(10) = cs.discreteM;
  P(6) = cs.discreteS;
  CheckMenuItem(kCmLsgStarWith1DiscreteModel, true);
  CheckMenuItem(kCmContinuousCMModel, false);
  if (!cs.secondDerivative && !cs.showBothRegularizations) {
    platform::Tell("ls-g(s)", "Please Note: Switching now on Tikhonov-Phillips Regularization");
    UseSecondDerivative(*this);
  }
  UnpackModelParameters();
}

void TXLAWindow::CmHybridCSLsgModel() {
  ModelSelectorFlags& m = gModelSelectorFlags;
  if (ModelChosen(kCmHybridCSLsgModel)) return;
  ContiSettings& cs = Conti();
  ModelParameterVector& v = gModelParameterVector;
  const bool maxEntropyBefore = cs.maxEntropy != 0;
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
  if (ModelEntriesInPlace()) {
    m.ContiRegularizationSwitch = 0;
    m.HybridCSLsgModel = 1;
    CheckMenuItem(kCmHybridCSLsgModel, true);
    UnpackModelParameters();
    return;
  }
  v.P[6] = 0;
  v.F[6] = 0;
  if (maxEntropyBefore && cs.maxEntropy && MultiSpeedData()) TikhonovNote();
  UseSecondDerivative(*this);
  v.P[2 * n + 1] = cs.resolution = 101;
  v.P[10] = v.P[6] = 0;
  v.F[10] = v.F[6] = 0;
  m.ContiRegularizationSwitch = 0;
  m.HybridCSLsgModel = 1;
  CheckMenuItem(kCmHybridCSLsgModel, true);
  v.P[10] = cs.discreteM;
  v.P[6] = cs.discreteS;
  UnpackModelParameters();
}

void TXLAWindow::CmZoneCentrifugationLsgModel() {
  if (RefuseDlsData()) return;
  ModelSelectorFlags& m = gModelSelectorFlags;
  ContiSettings& cs = Conti();
  ReleaseDistributionArrays();
  ClearSelectionForModel();
  CmLsgStarModel();
  if (!m.LsgStarModel) return;  // ls-g*(s) refused the data
  m.ZoneCentrifugationModel = 1;
  m.ZoneCentrifugationLsgModel = 1;
  m.LammDiscreteModel = 0;
  CheckMenuItem(kCmLsgStarModel, false);
  CheckMenuItem(kCmZoneCentrifugationLsgModel, true);
  if (ModelEntriesInPlace()) {
    UnpackModelParameters();
    ReallocLammArraysIfPresent();
    return;
  }
  SetLammAlgorithms(0, 0, 0);
  FixAllParameters();
  for (int k = 2 * n + 1; k <= 3 * n; ++k) P(k) = 0;
  WriteLsgGridStart(kCmZoneCentrifugationLsgModel, false);
  // The lamella loaded on top of the column is what the zone fit adjusts.
  P(23) = StoredZoneLoadingValue();
  gModelParameterVector.F[23] = 1;
  P(2 * n + 3) = cs.ffValue = 1.0f;
  UnpackModelParameters();
  ReallocLammArraysIfPresent();
}
