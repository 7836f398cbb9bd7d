// The first start of every model. The constant part is the model's row in
// the table of models; what follows from the data, the settings and the
// values kept outside the entries is written here, in three steps: over the
// start-up entries (the species, the family's slots, the nonideality), the
// row's start before the model's command runs, and the part that follows the
// switches the command set (the species models' solver, fit boxes and
// stored values), read before the command and written after it.
#include "distributions/model_starts.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "data/rotor_speed_profile.h"
#include "data/scan_set.h"
#include "distributions/conti_model_store.h"
#include "distributions/conti_parameters.h"
#include "distributions/conti_settings.h"
#include "distributions/hydrodynamics.h"
#include "fit/fit_engine_state.h"
#include "fit/hetero_association_record.h"
#include "fit/model_ids.h"
#include "fit/model_params.h"
#include "fit/model_table.h"
#include "lamm/coefficients/mass_action.h"
#include "lamm/lamm_settings.h"

namespace {

constexpr int kN = kComponentSlots;  // species slots of the fit vector

}  // namespace

// ---- the start of the entries ---------------------------------------------------

void WriteStartUpSpecies() {
  ModelParams& mp = gModelParams;
  ModelParameterVector& v = gModelParameterVector;
  // One component, nothing floated.
  mp.included[1] = 1;
  v.P[2 * kN + 1] = 0.5f;
  v.P[1] = gFitEngineState.molarMassParameters ? 50000.0f : 5.0f;
  v.P[kN + 1] = 4.0f;
}

void WriteFamilySlotsStart(int id, float vbar) {
  if (!DistributionKey(id)) return;
  ModelParameterVector& v = gModelParameterVector;
  const ContiSettings& cs = Conti();
  const int ffSlot = 2 * kN + 3;
  if (id == kCmFixFF0FloatingVbarCSModel) {
    v.P[3] = cs.ffValue;
    v.P[ffSlot] = vbar;
    return;
  }
  if (id != kCmElectrophoresisCVModel) v.P[3] = vbar;
  if (!ModelBorrowsSlot(id, kBorrowsFfSlot)) {
    v.P[ffSlot] = cs.ffValue;
    v.F[ffSlot] = cs.fitFfValue;
  }
}

void WriteNonidealLimitStart(int id) {
  if (id != kCmNonidealCSModel && id != kCmNonidealCSModel1100) return;
  AssociationModelParams& as = gAssociationModelParams;
  as.logKs = as.logKd = -6.0f;
  as.logKsFit = as.logKdFit = 0;
}

namespace {

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

// ---- the start of the row, before the command -----------------------------------
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

// ---- the start that follows the switches, after the command ----------------------

namespace {

const SpeciesStart* StartOf(int id) {
  const ModelRow* row = FindModelRow(id);
  return row && row->startValues.species.Any() ? &row->startValues.species : nullptr;
}

// The non-ideal term of species 2 and 3 (quantity 0 loading, 1 s, 2 D).
constexpr int TermSlot(int species, int quantity) { return 24 + (species == 2 ? 3 : 7) + quantity; }

// The multiple non-ideal species keep species 2 and 3 in non-ideal terms
// (loading by weight, s, D) and their log ks and kd where the other species
// models keep the fractions of species 2 and 3: species 1's concentration
// is the total, the others' are fractions of it.
void SpeciesIntoNonidealTerms() {
  const ModelParams& mp = gModelParams;
  float* P = gModelParameterVector.P;
  const float total = P[2 * kN + 1];
  float rest = 1.0f;
  for (int k = 2; k <= 3; ++k) {
    // (A species not included leaves its terms' start, without loading.)
    const float fraction = mp.included[k] ? P[2 * kN + k] : 0.0f;
    rest -= fraction;
    P[TermSlot(k, 0)] = total * fraction;
    if (!mp.included[k]) continue;
    P[TermSlot(k, 1)] = P[kN + k];
    P[TermSlot(k, 2)] = P[k];
  }
  P[2 * kN + 1] = total * std::max(rest, 0.0f);
  // (The model's record follows: the start's next steps pack it.)
  UnpackModelParameters();
}

void SpeciesFromNonidealTerms() {
  ModelParams& mp = gModelParams;
  float* P = gModelParameterVector.P;
  float total = P[2 * kN + 1];
  for (int k = 2; k <= 3; ++k) total += std::max(P[TermSlot(k, 0)], 0.0f);
  for (int k = 2; k <= 3; ++k) {
    const float loading = std::max(P[TermSlot(k, 0)], 0.0f);
    mp.included[k] = loading > 0 ? 1 : 0;
    P[2 * kN + k] = mp.concentration[k] = total > 0 ? loading / total : 0.0f;
    P[kN + k] = mp.s[k] = loading > 0 ? P[TermSlot(k, 1)] : 0.0f;
    P[k] = mp.massOrD[k] = loading > 0 ? P[TermSlot(k, 2)] : 0.0f;
  }
  P[2 * kN + 1] = mp.concentration[1] = total;
  for (int j = 1; j <= kNonidealTerms; ++j) P[24 + j] = kInitialNonidealTerms[j];
  UnpackModelParameters();
}

// The species the slots took from model `from`, in the quantities of model
// `id`: a Stokes radius is no diffusion coefficient, a model of one set of
// cumulants hands on one species, and the multiple non-ideal species keep
// species 2 and 3 in their non-ideal terms.
void ConvertSpecies(int id, int from) {
  if (from == id || !SpeciesModelKey(from)) return;
  if (id == kCmNonidealMultipleSpeciesModel) SpeciesIntoNonidealTerms();
  if (from == kCmNonidealMultipleSpeciesModel) SpeciesFromNonidealTerms();
  ModelParams& mp = gModelParams;
  float* P = gModelParameterVector.P;
  const float celsius = gSolutionConditions.temperature - kAbsoluteZero;
  const SpeciesQuantity was = SpeciesQuantityOf(from), to = SpeciesQuantityOf(id);
  for (int k = 1; k <= kN && was != to; ++k) {
    if (to == SpeciesQuantity::MassOrD) {
      // Stokes radius (nm) to D (1e-7 cm^2/s).
      const float radius = P[k];
      P[k] = mp.massOrD[k] = radius > 0 ? DFromStokesRadius(radius * 1e-9f, celsius) * 1e7f : 0.0f;
    } else if (P[k] > 0) {
      // Stokes-Einstein maps D to the radius by the radius's own formula.
      P[k] = mp.massOrD[k] = DFromStokesRadius2(P[k] * 1e-7f, celsius) * 1e9f;
    } else {
      mp.included[k] = 0;
    }
  }
  const SpeciesStart* before = StartOf(from);
  const SpeciesStart* own = StartOf(id);
  if (!before || !before->oneSpecies || (own && own->oneSpecies)) return;
  for (int k = 2; k <= kN; ++k) {
    mp.included[k] = 0;
    P[k] = mp.massOrD[k] = 0;
    P[kN + k] = mp.s[k] = 0;
    P[2 * kN + k] = mp.concentration[k] = 0;
  }
}

}  // namespace

EquilibriumStartValues& StoredEquilibriumStartValues() {
  static EquilibriumStartValues v;
  return v;
}

StoredStartValues TakeStoredStart(int id) {
  StoredStartValues out;
  const SpeciesStart* own = StartOf(id);
  if (!own) return out;
  auto put = [&](int i, float value) { out.P.emplace_back(i, value); };
  auto fit = [&](int i, int box) { out.F.emplace_back(i, box); };
  switch (own->stored) {
    case StoredStart::None:
      break;
    case StoredStart::ThreeStateAssociation: {
      // The n-mers' masses (or D) follow from the monomer's.
      const AssociationModelParams& st = gAssociationModelParams;
      put(1, st.monomer3);
      fit(1, st.monomer3Fit);
      put(2, own->oligomerA * st.monomer3);
      put(2 * kN + 4, own->oligomerB * st.monomer3);
      fit(2, 0);
      fit(2 * kN + 4, 0);
      put(3, st.logK3a);
      fit(3, st.logK3aFit);
      put(kN + 1, st.s3[1]);
      fit(kN + 1, st.s3Fit[1]);
      put(kN + 2, st.s3[2]);
      fit(kN + 2, st.s3Fit[2]);
      put(kN + 3, st.logK3b);
      fit(kN + 3, st.logK3bFit);
      put(kN + 4, st.s3[3]);
      fit(kN + 4, st.s3Fit[3]);
      put(2 * kN + 3, st.totalConcentration);
      fit(2 * kN + 3, st.totalConcentrationFit);
      break;
    }
    case StoredStart::ReactingSystem: {
      // (The complex, slot 3, follows from the mass action.)
      const HeteroAssociationState& st = CurrentHeteroAssociationState();
      for (const auto& [i, value] : {std::pair{1, st.DA}, {2, st.DB}, {4, st.epsA}, {5, st.sA}, {6, st.sB},
                                     {7, st.sAB}, {8, st.logK}, {9, st.loadA}, {10, st.loadB}, {12, st.epsB}})
        put(i, value);
      break;
    }
    case StoredStart::EquilibriumAssociation: {
      const EquilibriumStartValues& st = StoredEquilibriumStartValues();
      for (const auto& [i, value] : {std::pair{9, st.concentration1}, {10, st.concentration2}, {4, st.massOrD4},
                                     {12, st.concentration4}, {1, st.massOrD1}, {2, st.massOrD2}, {8, st.s4}})
        put(i, value);
      for (int i = 5; i <= 7; ++i) {
        put(i, 1.0f);
        fit(i, 0);
      }
      put(3, st.massOrD1 + st.massOrD2);
      // A zero divisor gives no complex rather than a NaN start value.
      const double a = st.massOrD4 != 0 ? static_cast<double>(st.concentration1) / st.massOrD4 : 0.0;
      const double b = st.concentration4 != 0 ? static_cast<double>(st.concentration2) / st.concentration4 : 0.0;
      put(11, static_cast<float>(SmallerComplexRoot(a, b, std::pow(10.0, static_cast<double>(st.s4)))));
      break;
    }
    case StoredStart::NonidealSpecies: {
      const AssociationModelParams& st = gAssociationModelParams;
      put(10, st.logKs);
      put(11, st.logKd);
      break;
    }
  }
  return out;
}

void WriteSpeciesStart(int id, int speciesFrom, const StoredStartValues& stored) {
  const SpeciesStart* own = StartOf(id);
  if (!own) return;
  LammSolverSettings& ls = LammSettings();
  if (own->automatic >= 0) ls.automaticAlgorithm = static_cast<std::uint8_t>(own->automatic);
  if (own->claverie >= 0) ls.claverieAlgorithm = static_cast<std::uint8_t>(own->claverie);
  if (own->movingHat >= 0) ls.movingHatAlgorithm = static_cast<std::uint8_t>(own->movingHat);
  if (own->fixedTimeStep >= 0) ls.fixedTimeStep = static_cast<std::uint8_t>(own->fixedTimeStep);
  if (own->modelInitial) {
    ls.modelInitialDistribution = 1;
    ls.experimentalInitialDistribution = 0;
  }
  ModelParams& mp = gModelParams;
  ModelParameterVector& v = gModelParameterVector;
  if (TakesSpeciesKey(id)) ConvertSpecies(id, speciesFrom);
  for (int k = 1; k <= kN; ++k)
    if (own->emptyExtras & (1u << (k - 1))) v.P[15 + k] = mp.extra[k] = 0;
  if (own->fixAll) FixAllParameters();
  if (own->emptyThirdSlots) {
    for (int k = 2 * kN + 1; k <= 3 * kN; ++k) v.P[k] = 0;
  }
  if (own->floatBaseline) v.F[3 * kN + 3] = 1;
  if (own->oneSpecies) {
    // One set of cumulants: component 1 alone, its amplitude floating.
    mp.included[1] = 1;
    v.F[2 * kN + 1] = 1;
    for (int k = 2; k <= kN; ++k) {
      mp.included[k] = 0;
      v.F[2 * kN + k] = 0;
      v.P[k] = 0;
    }
  }
  if (own->zoneLoading) {
    // The lamella loaded on top of the column is what the zone fit adjusts.
    v.P[23] = FindModelRow(id)->startValues.loading;
    v.F[23] = 1;
  }
  if (own->fitNoise) {
    gFitEngineState.fitTINoise = 1;
    mp.riNoiseFit = 1;
  }
  for (const auto& [i, value] : stored.P) v.P[i] = value;
  for (const auto& [i, box] : stored.F) v.F[i] = box;
  if (own->stored == StoredStart::NonidealSpecies) {
    // The species takes component 1's s and D.
    AssociationModelParams& st = gAssociationModelParams;
    v.P[kN + 1] = st.nonidealS = mp.s[1];
    v.P[1] = st.nonidealD = mp.massOrD[1];
  }
  UnpackModelParameters();
}
