// The Model menu: each command checks that the loaded data suit the model,
// clears the previous model, sets its own switches and menu mark and the
// solver switches, and puts the model's start values into the parameter
// vector. The distribution family's switch logic lives with the
// distributions; the window keeps help, refusals and menu marks.
#include "app/model_commands.h"

#include "app/road_services.h"
#include "app/txla_window.h"
#include "app/main_window_flags.h"
#include "app/window_fit_host.h"
#include "distributions/conti_models.h"
#include "data/scan_set.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/lamm_settings.h"
#include "numerics/error_box.h"
#include "numerics/sounds.h"
#include "platform/user_interface.h"

namespace {

constexpr int n = kComponentSlots;

float& P(int i) { return gModelParameterVector.P[i]; }

void ReallocLammArraysIfPresent() {
  RoadServices& r = Road();
  if (r.lammArraysAllocated && r.lammArraysAllocated()) {
    if (r.freeLammArrays) r.freeLammArrays();
    if (r.allocLammArrays) r.allocLammArrays();
  }
}

void ReleaseDistributionArrays() {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  if ((m.DistributionModel || m.SedTransformModel) && Road().freeDistributionArrays)
    Road().freeDistributionArrays();
}

}  // namespace

bool RefuseModelFor(const char* text) {
  PlaySoundInfo();
  platform::UI().MessageBox("ERROR", text, platform::BoxButtons::Ok, platform::BoxIcon::Error);
  return true;
}

bool RefuseDlsData() {
  if (!CurrentDataTypeFlags().dls) return false;
  return RefuseModelFor("this model is not implemented for DLS data");
}

void SetLammAlgorithms(int automatic, int claverie, int movingHat) {
  LammSolverSettings& l = LammSettings();
  if (automatic >= 0) l.automaticAlgorithm = static_cast<std::uint8_t>(automatic);
  if (claverie >= 0) l.claverieAlgorithm = static_cast<std::uint8_t>(claverie);
  if (movingHat >= 0) l.movingHatAlgorithm = static_cast<std::uint8_t>(movingHat);
}

void TXLAWindow::CmDiscreteSpeciesModel() {
  ModelSelectorFlags& m = gModelSelectorFlags;
  ReleaseDistributionArrays();
  const bool otherGeometry = m.ZoneCentrifugationModel || m.DlsStokesRadiiModel || m.DlsCumulantModel ||
                             m.LinearLammModel || m.ExternalLoadingCellModel || m.ElectrophoresisCVModel ||
                             m.Model282;
  if (m.LammDiscreteModel && !otherGeometry) return;
  const bool fromCumulants = m.DlsCumulantModel;
  ClearModelSelection();
  m.LammDiscreteModel = 1;
  SetLammAlgorithms(1, -1, -1);
  CheckMenuItem(198, true);
  if (fromCumulants) {
    // Back to one species.
    for (int k = 2; k <= n; ++k) {
      gModelParams.included[k] = 0;
      P(k) = P(n + k) = P(2 * n + k) = 0;
    }
  }
  for (int k = 1; k <= n; ++k) gModelParams.extra[k] = 0;
  FixAllParameters();
  for (int k = 2 * n + 1; k <= 3 * n; ++k) P(k) = 0;
  UnpackModelParameters();
  ReallocLammArraysIfPresent();
}

namespace {

// The discrete species in a Lamm geometry of their own: linear, external
// loading cell, and the static-grid variant without menu item.
void SelectGeometryModel(TXLAWindow& w, unsigned char ModelSelectorFlags::*own, int item) {
  ModelSelectorFlags& m = gModelSelectorFlags;
  ReleaseDistributionArrays();
  ClearModelSelection();
  m.LammDiscreteModel = 1;
  m.*own = 1;
  SetLammAlgorithms(0, 1, 0);
  w.CheckMenuItem(item, true);
  FixAllParameters();
  for (int k = 2 * n + 1; k <= 3 * n; ++k) P(k) = 0;
  UnpackModelParameters();
  ReallocLammArraysIfPresent();
}

}  // namespace

void TXLAWindow::CmLinearLammModel() {
  if (RefuseDlsData()) return;
  if (gModelSelectorFlags.LinearLammModel && gModelSelectorFlags.LammDiscreteModel) return;
  SelectGeometryModel(*this, &ModelSelectorFlags::LinearLammModel, 280);
}

void TXLAWindow::CmExternalLoadingCellModel() {
  if (RefuseDlsData()) return;
  float& volume = ExternalLoadingOilVolume();
  float answer = volume;
  if (!InputFloat(&answer, 0.01f, true, "enter volume of oil used in run [ml]", "EXTERNAL LOADING GEOMETRY"))
    answer = 0;
  volume = answer;
  if (gModelSelectorFlags.ExternalLoadingCellModel && gModelSelectorFlags.LammDiscreteModel) return;
  SelectGeometryModel(*this, &ModelSelectorFlags::ExternalLoadingCellModel, 281);
}

void TXLAWindow::CmModel282() {
  if (gModelSelectorFlags.Model282 && gModelSelectorFlags.LammDiscreteModel) return;
  SelectGeometryModel(*this, &ModelSelectorFlags::Model282, 282);
}

void TXLAWindow::CmMonomerDimerModel() {
  if (RefuseDlsData()) return;
  ModelSelectorFlags& m = gModelSelectorFlags;
  ReleaseDistributionArrays();
  if (m.MonomerDimerModel) return;
  ClearModelSelection();
  m.MonomerDimerModel = 1;
  CheckMenuItem(197, true);
  FixAllParameters();
  // The dimer's D (or M) follows from the monomer's.
  gModelParameterVector.F[2 * n + 2] = 0;
  gModelParams.extra[2] = 0;
  FixAllParameters();
  UnpackModelParameters();
  ReallocLammArraysIfPresent();
}

void TXLAWindow::CmMonomerTrimerModel() {
  if (RefuseDlsData()) return;
  ModelSelectorFlags& m = gModelSelectorFlags;
  ReleaseDistributionArrays();
  if (m.MonomerTrimerModel) return;
  ClearModelSelection();
  m.MonomerTrimerModel = 1;
  CheckMenuItem(229, true);
  FixAllParameters();
  UnpackModelParameters();
  ReallocLammArraysIfPresent();
}

void TXLAWindow::CmZoneCentrifugationSpeciesModel() {
  ModelSelectorFlags& m = gModelSelectorFlags;
  ReleaseDistributionArrays();
  if (m.LammDiscreteModel && m.ZoneCentrifugationModel) return;
  ClearModelSelection();
  m.LammDiscreteModel = 1;
  m.ZoneCentrifugationModel = 1;
  LammSolverSettings& l = LammSettings();
  l.modelInitialDistribution = 1;
  l.experimentalInitialDistribution = 0;
  SetLammAlgorithms(0, 0, 1);
  CheckMenuItem(246, true);
  for (int k = 2 * n + 1; k <= 3 * n; ++k) P(k) = 0;
  gModelParams.extra[4] = 0;
  FixAllParameters();
  P(23) = StoredZoneLoadingValue();
  gModelParameterVector.F[23] = 1;
  UnpackModelParameters();
  ReallocLammArraysIfPresent();
}

void TXLAWindow::CmFaxenSimulation() {
  RunState().FaxenSimulation = true;
  CmRun();
  RunState().FaxenSimulation = false;
}

float& ExternalLoadingOilVolume() {
  static float volume = 0.01f;
  return volume;
}

float& StoredZoneLoadingValue() {
  static float value = 0.1f;
  return value;
}

// ---- the distribution family ------------------------------------------------

namespace {

ContiModelCommandContext ContiContext() {
  ContiModelCommandContext ctx;
  const ScanSet& s = CurrentScanSet();
  ctx.dlsDataLoaded = CurrentDataTypeFlags().dls != 0;
  ctx.electrophoresisDataLoaded = CurrentDataTypeFlags().electrophoresis != 0;
  ctx.scanCount = s.count;
  if (s.count > 0 && static_cast<int>(s.order.size()) > s.count)
    ctx.lastScanTemperature = s.records[s.order[s.count]].temperature;
  static bool fitMAndS = false;
  fitMAndS = gFitEngineState.molarMassParameters != 0;
  ctx.fitMAndS = &fitMAndS;
  ctx.host = MainFitHost();
  return ctx;
}

// The window's share after a command of the family: the M-and-s switch, the
// Lamm arrays and the repaint it asked for.
void AfterContiCommand(TXLAWindow& w, const ContiModelCommandContext& ctx, const ContiModelCommandResult& r) {
  gFitEngineState.molarMassParameters = *ctx.fitMAndS ? 1 : 0;
  w.CheckMenuItem(217, *ctx.fitMAndS);
  if (r.reallocLamm) ReallocLammArraysIfPresent();
  if (r.invalidate) w.Frame().Invalidate(true);
}

}  // namespace

void TXLAWindow::CmContinuousCMModel() {
  const ContiModelCommandContext ctx = ContiContext();
  const ContiModelCommandResult r = ::CmContinuousCMModel(ctx);
  if (r.refused) return;
  const ModelSelectorFlags& m = gModelSelectorFlags;
  CheckMenuItem(235, !m.CSModel);
  CheckMenuItem(275, m.CSModel != 0);
  AfterContiCommand(*this, ctx, r);
}

void TXLAWindow::CmContinuousCSModel() {
  const ContiModelCommandContext ctx = ContiContext();
  const ContiModelCommandResult r = ::CmContinuousCSModel(ctx);
  if (r.refused) return;
  for (int item : {277, 278, 279, 950, 288, 235, 887, 585, 1100, 587, 531, 514, 548, 870, 602, 872, 603, 595,
                   598, 526, 521})
    CheckMenuItem(item, false);
  CheckMenuItem(275, gModelSelectorFlags.CSModel != 0);
  AfterContiCommand(*this, ctx, r);
}

namespace {

// A c(s) variant: the family's set-up through the distribution code, then
// the window's marks (235 and 275 off, the variant's own item on).
void SelectVariant(TXLAWindow& w, CsVariant variant, int item) {
  const ContiModelCommandContext ctx = ContiContext();
  const ContiModelCommandResult r = ::CmContinuousCSVariant(variant, ctx);
  if (r.refused) return;
  w.CheckMenuItem(235, false);
  w.CheckMenuItem(275, false);
  w.CheckMenuItem(item, true);
  AfterContiCommand(w, ctx, r);
}

}  // namespace

void TXLAWindow::CmCSWith1DiscreteModel() { SelectVariant(*this, CsVariant::With1Discrete, 531); }
void TXLAWindow::CmCSWithMsTableModel() { SelectVariant(*this, CsVariant::MsTable, 587); }
void TXLAWindow::CmConformationalChangeCSModel() { SelectVariant(*this, CsVariant::ConformationalChange, 514); }
void TXLAWindow::CmBimodalFF0CSModel() { SelectVariant(*this, CsVariant::BimodalFf0, 548); }
void TXLAWindow::CmBimodalFF0With1DiscreteCSModel() {
  SelectVariant(*this, CsVariant::BimodalFf0With1Discrete, 870);
}
void TXLAWindow::CmFixFF0FloatingVbarCSModel() { SelectVariant(*this, CsVariant::FixFf0FloatingVbar, 602); }
void TXLAWindow::CmGeneralScalingLawCSModel() { SelectVariant(*this, CsVariant::GeneralScalingLaw, 872); }
void TXLAWindow::CmWormlikeChainCSModel() { SelectVariant(*this, CsVariant::WormlikeChain, 603); }
void TXLAWindow::CmCSff0Model() {
  CheckMenuItem(598, false);
  SelectVariant(*this, CsVariant::CsFf0, 595);
}
void TXLAWindow::CmCSff0With1DiscreteModel() {
  CheckMenuItem(595, false);
  SelectVariant(*this, CsVariant::CsFf0With1Discrete, 598);
}
void TXLAWindow::CmCSInvariantDModel() { SelectVariant(*this, CsVariant::InvariantD, 526); }
void TXLAWindow::CmCSModel521() { SelectVariant(*this, CsVariant::LinearRod521, 521); }
