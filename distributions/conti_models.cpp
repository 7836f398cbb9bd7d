#include "distributions/conti_models.h"

#include <cmath>

#include "data/scan_set.h"
#include "data/rotor_speed_profile.h"
#include "distributions/conti_parameters.h"
#include "distributions/conti_settings.h"
#include "fit/fit_engine_state.h"
#include "distributions/distribution_arrays.h"
#include "distributions/hydrodynamics.h"
#include "fit/clear_model_selection.h"
#include "fit/model_params.h"
#include "fit/scan_times.h"
#include "lamm/coefficients/nonideal_coefficients.h"
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

constexpr int kN = kComponentSlots;  // species slots of the fit vector

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

void StoreRange() {
  ModelParameterVector& v = gModelParameterVector;
  v.P[1] = Conti().sMin;
  v.P[kN + 1] = Conti().sMax;
}

// s from M at the temperature of the last scan: D of the global f/f0 and
// the Svedberg relation.
float SFromMass(float M, float t) { return SFromMD(M, DFromMGlobalFf0(M, t), t); }

// An s range from the previous model's: a molar-mass range (of a data set
// with scans) converted to s, else lo to hi.
void SRangeFromPrevious(ContiSettings& cs, const ModelStartData& data, float lo, float hi) {
  if (data.scanCount > 0 && cs.sMin > 1000.0f) {
    cs.sMin = SFromMass(cs.sMin, data.lastScanTemperature);
    cs.sMax = SFromMass(cs.sMax, data.lastScanTemperature);
  } else {
    cs.sMin = lo;
    cs.sMax = hi;
  }
}

}  // namespace

// ---- first starts ------------------------------------------------------------
// What a member of the family shows when chosen for the first time (and when
// a saved file or the unattended run chooses it, before the file's values
// are read): the family's grid, solution and solver from the settings, and
// the member's own range and values. The constant part is the member's row
// in the model table; the rest depends on the data and the stored values.

namespace {

// The family's grid as the settings make it, and its regularisation:
// maximum entropy for the members that show c(s).
void WriteFamilyGridStart(bool maxEntropy, ModelStartNotes& notes) {
  ContiSettings& cs = Conti();
  ModelParameterVector& v = gModelParameterVector;
  if (maxEntropy && cs.secondDerivative) {
    cs.secondDerivative = 0;
    cs.maxEntropy = 1;
    notes.toMaxEntropy = true;
  }
  cs.gridFromFile = 0;
  cs.logSpacedGrid = 0;
  v.F[3] = v.F[4] = 0;
  v.dialogF[3] = v.dialogF[4] = 0;
}

// The family's common start; true when the s range became molar masses.
bool WriteFamilyStart(const ModelStartData& data) {
  ContiSettings& cs = Conti();
  LammSolverSettings& ls = LammSettings();
  ModelParameterVector& v = gModelParameterVector;
  bool toMolarMass = false;
  ls.experimentalInitialDistribution = 0;
  ls.modelInitialDistribution = 1;
  if (cs.sMin < 100.0f && !data.dls && !data.electrophoresis) {
    cs.sMin = CalculateM(cs.sMin);
    cs.sMax = CalculateM(cs.sMax);
    toMolarMass = true;
  }
  const SolutionConditions& sol = gSolutionConditions;
  v.P[1] = cs.sMin;
  v.P[kN + 1] = cs.sMax;
  v.P[2 * kN + 1] = cs.resolution;
  v.P[2 * kN + 3] = cs.ffValue;
  v.F[2 * kN + 3] = cs.fitFfValue;
  v.P[3] = sol.vbar;
  v.P[kN + 3] = sol.density;
  v.P[2 * kN + 4] = sol.viscosity * 0.01002f;
  v.P[4] = sol.hydration;  // read back as the hydration by every unpack
  v.P[2] = cs.confidenceLevel;
  ls.claverieAlgorithm = 0;
  ls.movingHatAlgorithm = 1;
  ls.automaticSGrid = 1;
  ls.automaticAlgorithm = 1;
  return toMolarMass;
}

// A c(s) member's range and own values, after the family's start (its range
// is then one of molar masses for sedimentation data with scans).
void WriteDistributionStart(int id, ModelStartData& data) {
  ContiSettings& cs = Conti();
  ContiModelStore& st = ContiStore();
  ModelParameterVector& v = gModelParameterVector;
  const bool mAndS = data.fitMAndS;
  auto setMAndS = [&] { data.fitMAndS = true; };
  // The one discrete component of the variants that have it.
  auto putDiscrete = [&] {
    v.P[16] = st.discreteM;
    v.F[16] = st.discreteMFit;
    v.P[17] = st.discreteSecond;
    v.F[17] = st.discreteSecondFit;
  };
  const StartSRange range = ModelStartSRange(id);
  if (id == kCmCSInvariantDModel) {
    if (data.scanCount > 0 && cs.sMin > 1000.0f) {
      cs.sMin = 1.0f;
      cs.sMax = 10.0f;
    } else {
      cs.sMin = range.lo;
      cs.sMax = range.hi;
    }
  } else {
    SRangeFromPrevious(cs, data, range.lo, range.hi);
  }
  StoreRange();
  switch (id) {
    case kCmCSWith1DiscreteModel:
      v.P[10] = mAndS ? st.discreteM : st.discreteS;
      v.P[6] = st.discreteSecond;
      break;
    case kCmCSWithMsTableModel:
      setMAndS();
      v.P[10] = st.discreteM;
      v.P[6] = st.discreteSecond;
      cs.fitFfValue = 0;
      v.F[2 * kN + 3] = 0;
      break;
    case kCmConformationalChangeCSModel:
      v.P[10] = st.conformation[0];
      v.P[6] = st.conformation[1];
      v.P[8] = st.conformation[2];
      break;
    case kCmBimodalFF0CSModel:
    case kCmBimodalFF0With1DiscreteCSModel:
      v.P[10] = st.bimodal[0];
      v.P[6] = st.bimodal[1];
      v.P[8] = st.bimodal[2];
      v.F[6] = st.bimodalSecondFit;
      if (id == kCmBimodalFF0With1DiscreteCSModel) {
        putDiscrete();
      }
      break;
    case kCmFixFF0FloatingVbarCSModel:
      cs.fitFfValue = 0;
      v.P[2 * kN + 3] = gSolutionConditions.vbar;
      v.F[2 * kN + 3] = static_cast<int>(st.vbarFit);
      v.P[3] = cs.ffValue;
      break;
    case kCmGeneralScalingLawCSModel:
      cs.fitFfValue = 0;
      v.P[2 * kN + 3] = st.scalingPrefactor;
      v.F[2 * kN + 3] = st.scalingPrefactorFit;
      v.P[18] = st.scalingExponent;
      v.F[18] = st.scalingExponentFit;
      break;
    case kCmWormlikeChainCSModel:
      cs.fitFfValue = 0;
      v.P[2 * kN + 3] = st.wormPersistence;
      v.F[2 * kN + 3] = st.wormPersistenceFit;
      v.P[10] = st.worm[0];
      v.P[6] = st.worm[1];
      v.P[8] = st.worm[2];
      break;
    case kCmCSff0Model:
    case kCmCSff0With1DiscreteModel:
      setMAndS();
      v.P[10] = st.ffDimension[0];
      v.P[6] = st.ffDimension[1];
      v.P[8] = st.ffDimension[2];
      cs.fitFfValue = 0;
      v.F[2 * kN + 3] = 0;
      if (id == kCmCSff0With1DiscreteModel) {
        putDiscrete();
      }
      break;
    case kCmCSInvariantDModel:
      v.P[2 * kN + 3] = st.invariantD;
      v.F[2 * kN + 3] = 0;
      break;
    case kCmCSModel521:
      v.P[2 * kN + 3] = st.rodValue;
      break;
    default:
      break;
  }
}

void UseSecondDerivative(ContiSettings& cs) {
  cs.secondDerivative = 1;
  cs.maxEntropy = 0;
}

// The Lamm solver of a model of its own geometry: its switches, nothing
// floated and the third block of slots empty (the grid's resolution and
// the f/f0 are written after).
void PlainGeometryStart(int automatic, int claverie, int movingHat) {
  LammSolverSettings& ls = LammSettings();
  ls.automaticAlgorithm = static_cast<std::uint8_t>(automatic);
  ls.claverieAlgorithm = static_cast<std::uint8_t>(claverie);
  ls.movingHatAlgorithm = static_cast<std::uint8_t>(movingHat);
  ModelParameterVector& v = gModelParameterVector;
  for (int i = 1; i <= kParameterSlots; ++i) v.F[i] = 0;
  for (int k = 2 * kN + 1; k <= 3 * kN; ++k) v.P[k] = 0;
}

// The start of the family with the member's regularisation after it. The
// family itself goes to maximum entropy for the members that show c(s).
void WriteFamilyStartOf(const ModelRow& row, ModelStartData& data, ModelStartNotes& notes) {
  WriteFamilyGridStart(row.startValues.regularisation != StartRegularisation::Kept && row.id != kCmFMScalingLawModel,
                       notes);
  notes.rangeToMolarMass = WriteFamilyStart(data);
}

// The ls-g*(s) start the zone and electrophoresis forms stand on.
void WriteLsgStart(int id, ModelStartData& data, ModelStartNotes& notes) {
  ContiSettings& cs = Conti();
  WriteFamilyStartOf(*FindModelRow(kCmLsgStarModel), data, notes);
  if (cs.maxEntropy) {
    UseSecondDerivative(cs);
    notes.toSecondDerivative = true;
  }
  WriteLsgGridStart(id, id == kCmLsgStarModel && data.multiSpeed);
}

}  // namespace

void WriteLsgGridStart(int id, bool multiSpeed) {
  ContiSettings& cs = Conti();
  ModelParameterVector& v = gModelParameterVector;
  const StartValues& own = FindModelRow(id)->startValues;
  const StartSRange range = ModelStartSRange(id);
  const bool wide = multiSpeed && id != kCmZoneCentrifugationLsgModel;
  v.P[2] = cs.confidenceLevel = wide ? 0.95f : own.confidence;
  v.P[2 * kN + 1] = cs.resolution = own.resolution;
  v.P[1] = cs.sMin = wide ? 100.0f : range.lo;
  v.P[kN + 1] = cs.sMax = wide ? 100000.0f : range.hi;
  if (wide) v.F[13] = 1;
}

ModelStartData LoadedModelStartData() {
  ModelStartData d;
  const ScanSet& s = CurrentScanSet();
  d.dls = CurrentDataTypeFlags().dls != 0;
  d.electrophoresis = CurrentDataTypeFlags().electrophoresis != 0;
  d.scanCount = s.count;
  if (s.count > 0 && static_cast<int>(s.order.size()) > s.count)
    d.lastScanTemperature = s.records[s.order[s.count]].temperature;
  d.multiSpeed = CurrentSpeedProfile.Active();
  d.fitMAndS = gFitEngineState.molarMassParameters != 0;
  return d;
}

ModelStartNotes WriteModelStart(int id, ModelStartData& data) {
  ModelStartNotes notes;
  const ModelRow* row = FindModelRow(id);
  if (!row) return notes;
  ContiSettings& cs = Conti();
  ModelParameterVector& v = gModelParameterVector;
  LammSolverSettings& ls = LammSettings();
  const StartValues& own = row->startValues;
  auto range = [&](float lo, float hi) {
    v.P[1] = cs.sMin = lo;
    v.P[kN + 1] = cs.sMax = hi;
  };
  switch (id) {
    case kCmContinuousCMModel:
    case kCmCMInvariantDModel:
    case kCmCMPowerLawModel:
    case kCmCMPriorVbarModel:
      WriteFamilyStartOf(*row, data, notes);
      break;
    case kCmContinuousCSModel:
    case kCmCSWith1DiscreteModel:
    case kCmCSWithMsTableModel:
    case kCmConformationalChangeCSModel:
    case kCmBimodalFF0CSModel:
    case kCmBimodalFF0With1DiscreteCSModel:
    case kCmFixFF0FloatingVbarCSModel:
    case kCmGeneralScalingLawCSModel:
    case kCmWormlikeChainCSModel:
    case kCmCSff0Model:
    case kCmCSff0With1DiscreteModel:
    case kCmCSInvariantDModel:
    case kCmCSModel521:
      WriteFamilyStartOf(*row, data, notes);
      WriteDistributionStart(id, data);
      break;
    case kCmHybridCSLsgModel: {
      // It stands on the bimodal c(s) with one discrete component; its
      // discrete component is the one the distributions keep.
      WriteFamilyStartOf(*row, data, notes);
      WriteDistributionStart(kCmBimodalFF0With1DiscreteCSModel, data);
      notes.toSecondDerivative = cs.maxEntropy != 0;
      UseSecondDerivative(cs);
      v.P[2 * kN + 1] = cs.resolution = own.resolution;
      v.F[10] = v.F[6] = 0;
      v.P[10] = cs.discreteM;
      v.P[6] = cs.discreteS;
      break;
    }
    case kCmLsgStarModel:
      WriteLsgStart(id, data, notes);
      break;
    case kCmLsgStarWith1DiscreteModel:
      WriteFamilyStartOf(*row, data, notes);
      if (!cs.showBothRegularizations) {
        notes.toSecondDerivative = cs.maxEntropy || !cs.secondDerivative;
        UseSecondDerivative(cs);
      }
      WriteLsgGridStart(id, false);
      v.P[10] = cs.discreteM;
      v.P[6] = cs.discreteS;
      break;
    case kCmZoneCentrifugationLsgModel:
    case kCmElectrophoresisLsgModel:
      WriteLsgStart(kCmLsgStarModel, data, notes);
      PlainGeometryStart(0, 0, 0);
      WriteLsgGridStart(id, false);
      if (own.loading > 0) {
        // The lamella loaded on top of the column is what the zone fit adjusts.
        v.P[23] = own.loading;
        v.F[23] = 1;
      }
      if (own.ffValue > 0) v.P[2 * kN + 3] = cs.ffValue = own.ffValue;
      break;
    case kCmZoneCentrifugationCSModel:
      WriteFamilyStartOf(*row, data, notes);
      range(row->startS.lo, row->startS.hi);
      v.P[23] = own.loading;
      v.F[23] = 1;
      ls.modelInitialDistribution = 1;
      ls.experimentalInitialDistribution = 0;
      if (!cs.secondDerivative && !cs.showBothRegularizations) {
        UseSecondDerivative(cs);
        notes.toSecondDerivative = true;
      }
      v.P[2] = cs.confidenceLevel = own.confidence;
      ls.automaticAlgorithm = ls.claverieAlgorithm = 0;
      ls.movingHatAlgorithm = 1;
      break;
    case kCmDlsIRhModel:
    case kCmDlsIRhTimeCourseModel:
    case kCmDlsIDModel:
      WriteFamilyStartOf(*row, data, notes);
      range(row->startS.lo, row->startS.hi);
      v.P[2] = cs.confidenceLevel = own.confidence;
      if (id == kCmDlsIRhTimeCourseModel) v.P[2 * kN + 3] = cs.ffValue;
      break;
    case kCmFMScalingLawModel: {
      WriteFamilyStartOf(*row, data, notes);
      range(row->startS.lo, row->startS.hi);
      // The scaling law as last stored (a saved file stores its own first).
      const ContiModelStore& st = ContiStore();
      cs.fitFfValue = 0;
      v.P[2 * kN + 3] = cs.scalingKs = st.scalingPrefactor;
      v.F[2 * kN + 3] = cs.fitScalingKs = static_cast<std::uint8_t>(st.scalingPrefactorFit);
      v.P[18] = cs.scalingBs = st.scalingExponent;
      v.F[18] = cs.fitScalingBs = static_cast<std::uint8_t>(st.scalingExponentFit);
      if (!cs.secondDerivative && !cs.showBothRegularizations) {
        UseSecondDerivative(cs);
        notes.toSecondDerivative = true;
      }
      break;
    }
    case kCmNonidealCSModel:
    case kCmNonidealCSModel1100: {
      WriteFamilyStartOf(*row, data, notes);
      // The family's molar masses go back to S even where the low end (0.1 S
      // is some 200 Da) lies below the 1000 that otherwise tells the two apart.
      if (notes.rangeToMolarMass || (cs.sMin > 1000.0f && data.scanCount > 0)) {
        cs.sMin = SFromMass(cs.sMin, data.lastScanTemperature);
        cs.sMax = SFromMass(cs.sMax, data.lastScanTemperature);
      }
      StoreRange();
      ContiModelStore& st = ContiStore();
      AssociationModelParams& nonideal = gAssociationModelParams;
      if (id == kCmNonidealCSModel1100) {
        nonideal.logKs = std::fabs(nonideal.logKs);
        nonideal.logKd = std::fabs(nonideal.logKd);
      } else if (!st.nonidealStartGiven && nonideal.logKs == 0.0f && nonideal.logKd == 0.0f) {
        // log10 k = 0 is k = 1 ml/mg, a strong concentration dependence that
        // would bend the distribution unasked: the first start is the ideal
        // limit, k = 1e-6 ml/mg.
        nonideal.logKs = nonideal.logKd = -6.0f;
      }
      st.nonidealStartGiven = true;
      v.P[20] = nonideal.logKs;
      v.P[21] = nonideal.logKd;
      // The discrete component starts as a small buffer-like species; the one
      // of "Continuous c(s) With 1 Discrete Component" keeps its own entries.
      v.P[10] = own.discreteM;
      v.P[6] = own.discreteS;
      v.F[10] = v.F[6] = 0;
      break;
    }
    case kCmElectrophoresisCVModel:
      WriteFamilyStartOf(*row, data, notes);
      ls.automaticAlgorithm = 0;
      ls.claverieAlgorithm = 1;
      ls.movingHatAlgorithm = 0;
      for (int k = 2 * kN + 1; k <= 3 * kN; ++k) v.P[k] = 0;
      v.P[2] = cs.confidenceLevel = own.confidence;
      v.P[2 * kN + 1] = cs.resolution = own.resolution;
      range(row->startS.lo, row->startS.hi);
      // The constant D of the velocity distribution, as last entered.
      if (cs.constantD <= 0) cs.constantD = own.constantD;
      v.P[3] = cs.constantD;
      v.F[3] = cs.fitConstantD;
      break;
    case kCmExtrapolateLsgAreaFractions: {
      const LsgExtrapolationSettings& x = LsgExtrapolation();
      v.P[1] = row->startS.lo;
      v.P[kN + 1] = row->startS.hi;
      v.P[2 * kN + 1] = own.resolution;
      v.P[11] = static_cast<float>(x.vhwResolution);
      v.P[3] = static_cast<float>(x.scansPerGStar);
      v.P[2] = cs.confidenceLevel = own.confidence;
      break;
    }
    default:
      return notes;
  }
  notes.written = true;
  return notes;
}

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
  ContiModelStore& st = ContiStore();
  r.reallocLamm = true;
  // The reset starts the solver choice afresh; the entries keep theirs.
  ls.automaticAlgorithm = automatic;
  // (The reset above gave back a size replaced before.)
  f.GridSizeOverridden = 1;
  f.ReplacedGridSize = ls.feGridSize;
  f.ReplacedGridSizeInUse = ls.gridSizeInUse;
  ls.feGridSize = f.DistributionGridSize > 0 ? f.DistributionGridSize : st.distributionGridSize;
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
