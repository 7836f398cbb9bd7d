#include "distributions/conti_models.h"

#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "fit/clear_model_selection.h"
#include "fit/scan_times.h"
#include "lamm/lamm_settings.h"
#include "platform/sounds.h"
#include "platform/user_interface.h"
#include "fit/model_selector.h"
#include "fit/model_table.h"

namespace {

// The mean distance of the points of the earliest scan (cm); 0 without scans.
// Data recorded at a coarse spacing need no pre-averaging.
float MeanPointSpacing() {
  const ScanSet& s = CurrentScanSet();
  if (s.count < 1 || static_cast<int>(s.order.size()) <= 1) return 0.0f;
  const int i = s.order[1];
  if (i < 1 || i > s.count || s.points[i] < 2 || !s.radii[i]) return 0.0f;
  return (s.radii[i][s.points[i]] - s.radii[i][1]) / static_cast<float>(s.points[i] - 1);
}

}  // namespace

// ---- Model menu commands -----------------------------------------------------

namespace {

bool RefuseDls(const ContiModelCommandContext& ctx) {
  if (!ctx.dlsDataLoaded) return false;
  PlaySoundInfo();
  platform::Tell("ERROR", "this model is not implemented for DLS data", platform::BoxIcon::Error);
  return true;
}

// Every variant switch of the distribution family (the family switch and
// the plain c(s) switch excepted).
void ClearVariantSwitches(ModelSelectorFlags& f) {
  for (unsigned char* p :
       {&f.CMPriorVbarModel, &f.CMInvariantDModel, &f.CMPowerLawModel, &f.LsgStarModel,
        &f.LsgStarWith1DiscreteModel, &f.NonidealCSModel, &f.HybridCSLsgModel,
        &f.CSWithMsTableModel, &f.ElectrophoresisCVModel, &f.ConformationalChangeCSModel,
        &f.BimodalFF0CSModel, &f.BimodalFF0With1DiscreteCSModel, &f.WormlikeChainCSModel,
        &f.GeneralScalingLawCSModel, &f.FMScalingLawModel, &f.FixFF0FloatingVbarCSModel,
        &f.CSff0Model, &f.CSff0With1DiscreteModel, &f.CSWith1DiscreteModel,
        &f.CSWith1DiscreteComponent, &f.CSModel521, &f.CSInvariantDModel,
        &f.ZoneCentrifugationCSModel})
    *p = 0;
  // The geometry of a zone or electrophoresis distribution goes with it:
  // the next member of the family sediments in a plain cell.
  if (f.DistributionModel) {
    f.ZoneCentrifugationModel = f.ZoneCentrifugationLsgModel = 0;
    f.ElectrophoresisLsgModel = f.ElectrophoresisLammModel = 0;
  }
}

// The DLS distributions describe DLS data only: choosing the family for
// sedimentation data drops their switches, which would otherwise show the
// result as a radius distribution (the DLS commands raise theirs again).
void DropDlsDistributionsWithoutDlsData(ModelSelectorFlags& f, const ContiModelCommandContext& ctx) {
  if (!ctx.dlsDataLoaded) f.DlsIRhModel = f.DlsIRhTimeCourseModel = f.DlsIDModel = 0;
}

}  // namespace

void SetSecondDerivativeRegularization(bool quiet, const std::string& caption) {
  ContiSettings& cs = Conti();
  if (cs.secondDerivative || cs.showBothRegularizations) return;
  if (!quiet) platform::Tell(caption, "Please Note: Switching now to Tikhonov-Phillips Regularization");
  cs.secondDerivative = 1;
  cs.maxEntropy = 0;
}

ContiModelCommandResult CmContinuousCMModel(const ContiModelCommandContext& ctx) {
  ContiModelCommandResult r;
  ModelSelectorFlags& f = gModelSelectorFlags;
  ContiSettings& cs = Conti();
  LammSolverSettings& ls = LammSettings();
  const std::uint8_t automatic = ls.automaticAlgorithm;
  if (ls.timesFromW2t) {
    SwitchOffTimesFromW2t(ctx.host);
    // Already off: the reset below must not switch it off a second time.
    f.TimesFromW2tByModel = 0;
    platform::Tell("", "switching off times from w^2t option");
  }
  if (ctx.dlsDataLoaded && !(f.DlsIRhTimeCourseModel || f.DlsIDModel || f.DlsIRhModel) &&
      RefuseDls(ctx)) {
    r.refused = true;
    return r;
  }
  // The model's own entries or the start of its row are in place: only its
  // switches are set, its regularisation, grid and range are in place.
  if (ctx.startToMaxEntropy && !ctx.reducedLsgMenu && !ctx.quiet)
    platform::Tell("continuous distribution", "Please Note: Switching now to Maximum Entropy Regularization");
  DropDlsDistributionsWithoutDlsData(f, ctx);
  ClearVariantSwitches(f);
  // The variants lose their menu marks with their switches (the window
  // marks c(M) or c(s) after).
  for (const ModelRow& row : ModelTable())
    if (row.id != kCmContinuousCMModel && row.id != kCmContinuousCSModel)
      CurrentModelSelectionHooks().checkMenuItem(row.id, false);
  // The extrapolation of ls-g*(s) area fractions raises the family switch
  // too, but is a boundary transform: leaving it is a change of family.
  if (f.DistributionModel && !f.SedTransformModel) {
    if (f.CSModel) {
      f.CSModel = 0;
      RebuildDistributionPlotKeepingRange(cs);
      if (!ctx.reducedLsgMenu) r.invalidate = true;
    }
    r.reallocLamm = true;
    return r;
  }
  ClearModelSelection();
  f.DistributionModel = 1;
  f.CSModel = 0;
  r.reallocLamm = true;
  // The reset starts the solver choice afresh; the entries keep theirs.
  ls.automaticAlgorithm = automatic;
  // (The reset above gave back a size replaced before.)
  PutDistributionGridSize(ls.gridSize);
  return r;
}

ContiModelCommandResult CmContinuousCSModel(const ContiModelCommandContext& ctx) {
  ModelSelectorFlags& f = gModelSelectorFlags;
  ContiSettings& cs = Conti();
  if (f.DistributionModel && !f.SedTransformModel && !f.LsgStarModel && !f.HybridCSLsgModel &&
      !f.LsgStarWith1DiscreteModel) {
    ContiModelCommandResult r;
    if (RefuseDls(ctx)) {
      r.refused = true;
      return r;
    }
    DropDlsDistributionsWithoutDlsData(f, ctx);
    ClearVariantSwitches(f);
    f.NonidealCSVariant = 0;
    f.CSModel = 1;
    r.invalidate = true;
    RebuildDistributionPlotKeepingRange(cs);
    return r;
  }
  ContiModelCommandResult r;
  if (RefuseDls(ctx)) {
    r.refused = true;
    return r;
  }
  f.CSModel = 1;
  r = CmContinuousCMModel(ctx);
  if (r.refused) return r;
  f.CSModel = 1;
  RebuildDistributionPlotKeepingRange(cs);
  return r;
}

ContiModelCommandResult CmContinuousCSVariant(CsVariant variant, const ContiModelCommandContext& ctx) {
  ContiModelCommandResult r;
  ModelSelectorFlags& f = gModelSelectorFlags;
  ContiSettings& cs = Conti();
  const bool mAndS = ctx.fitMAndS && *ctx.fitMAndS;
  unsigned char* own = nullptr;
  switch (variant) {
    case CsVariant::With1Discrete: own = mAndS ? &f.CSWith1DiscreteComponent : &f.CSWith1DiscreteModel; break;
    case CsVariant::MsTable: own = &f.CSWithMsTableModel; break;
    case CsVariant::ConformationalChange: own = &f.ConformationalChangeCSModel; break;
    case CsVariant::BimodalFf0: own = &f.BimodalFF0CSModel; break;
    case CsVariant::BimodalFf0With1Discrete: own = &f.BimodalFF0With1DiscreteCSModel; break;
    case CsVariant::FixFf0FloatingVbar: own = &f.FixFF0FloatingVbarCSModel; break;
    case CsVariant::GeneralScalingLaw: own = &f.GeneralScalingLawCSModel; break;
    case CsVariant::WormlikeChain: own = &f.WormlikeChainCSModel; break;
    case CsVariant::CsFf0: own = &f.CSff0Model; break;
    case CsVariant::CsFf0With1Discrete: own = &f.CSff0With1DiscreteModel; break;
    case CsVariant::InvariantD: own = &f.CSInvariantDModel; break;
    case CsVariant::LinearRod521: own = &f.CSModel521; break;
  }
  if (RefuseDls(ctx)) {
    r.refused = true;
    return r;
  }
  const bool twoD = variant == CsVariant::CsFf0 || variant == CsVariant::CsFf0With1Discrete;
  if (twoD && !f.CSff0Model && !f.CSff0With1DiscreteModel &&
      CurrentScanSet().radialResolution <= 0.001f && MeanPointSpacing() < 0.0029f) {
    PlaySoundInfo();
    platform::Tell(
        "ATTENTION",
        "radial pre-averaging of data points is recommended (at 0.003 cm)!\n(Loading Options->Set Radial Resolution)");
  }
  const bool ownInsteadOfCs = variant == CsVariant::InvariantD || variant == CsVariant::LinearRod521;
  if (ownInsteadOfCs)
    *own = 1;
  else
    f.CSModel = 1;
  r = CmContinuousCMModel(ctx);
  if (r.refused) return r;
  f.CSModel = 0;
  *own = 1;
  RebuildDistributionPlotKeepingRange(cs);
  return r;
}
