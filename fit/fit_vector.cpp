#include "fit/fit_vector.h"

#include <algorithm>
#include <cmath>

#include "data/scan_set.h"
#include "numerics/constants.h"
#include "fit/fit_engine_state.h"
#include "fit/model_evaluation_hooks.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/fit_end.h"

namespace {

FitOptionProvider gProvider = nullptr;

// The ranges in force (off outside a fit) and those of the last fit.
SpeciesFitRanges gRangesInForce;
SpeciesFitRanges gRangesOfLastFit;
// The last evaluation's write-back held a species of molar mass 0.
bool gMassless = false;

bool IsSelfAssociation() { return gModelSelectorFlags.AnySelfAssociationModel(); }
bool IsNonidealSpecies() { return gModelSelectorFlags.AnyNonidealSpeciesModel(); }

// Plain discrete species over sedimentation-velocity data: the models whose
// P[1..8] are the species' size and s as the Lamm solver takes them.
bool SpeciesRangesApply() {
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  const DataTypeFlags& data = CurrentDataTypeFlags();
  return sel.LammDiscreteModel && !IsSelfAssociation() && !IsNonidealSpecies() &&
         !sel.ConcDependentSolverSwitch && !sel.DlsCumulantModel && !data.dls && !data.electrophoresis &&
         !data.linearGeometry && !CurrentScanSet().equilibriumMode;
}

// D (1e-7 cm^2/s) per unit of s/M: D = s RT 1e-6 / ((1 - vbar rho) M); 0
// where the buoyancy vanishes.
double MassDiffusionFactor() {
  const double buoyancy = 1.0 - gSolutionConditions.vbarRho;
  if (!(std::fabs(buoyancy) > 1e-6)) return 0.0;
  return 8.31451e7 * gSolutionConditions.temperature * 1e-6 / std::fabs(buoyancy);
}

// The D (1e-7 cm^2/s) of a particle of frictional ratio ff0 that sediments
// (or floats) at |s| (S) in the solution's conditions; 0 where they give
// none. At fixed s the ratio goes as D^(-2/3) (s ~ M^(2/3), D ~ s^(-1/2)
// for a given shape), scaled here from the ratio of a reference D.
double DAtFrictionalRatio(float s, double ff0) {
  const double buoyancy = 1.0 - gSolutionConditions.vbarRho;
  const double magnitude = std::fabs(static_cast<double>(s));
  if (!(std::fabs(buoyancy) > 1e-6) || !(magnitude > 0.0) || !(ff0 > 0.0)) return 0.0;
  constexpr double kReferenceD = 1e-6;  // cm^2/s
  // A floating particle is lighter than the solvent: s and the buoyancy
  // share their sign.
  const double ratio = FrictionalRatioFromSD(buoyancy > 0.0 ? magnitude : -magnitude, kReferenceD);
  if (!(ratio > 0.0)) return 0.0;
  const double d = kReferenceD * 1e7 * std::pow(ratio / ff0, 1.5);
  return std::isfinite(d) ? d : 0.0;
}

// The limits of P[k] under the given ranges.
bool LimitsUnder(const SpeciesFitRanges& r, int k, float s, float* low, float* high) {
  if (!r.on || k < 1 || k > 8) return false;
  if (k >= 5) {
    *low = -r.sMax;
    *high = r.sMax;
    return true;
  }
  // No particle diffuses faster than one of the least frictional ratio at
  // its s: below s ~ 0 that D passes any bound and dMax holds.
  double dMax = r.dMax;
  if (r.ff0Min[k] > 0.0f) {
    const double dFloor = DAtFrictionalRatio(s, r.ff0Min[k]);
    if (dFloor > 0.0) dMax = std::clamp(dFloor, static_cast<double>(r.dMin), dMax);
  }
  // Nor slower than one of the largest: the solver's grid and steps follow
  // a boundary that steepens as the ratio grows (at f/f0 100-150 each
  // evaluation took 20-70 times one at a few). A species too slow to show
  // the data a travelling boundary is a level whatever its D, and cheap to
  // solve: there the floor, which grows as s^(-1/2) at a given ratio, would
  // only chase a fit walking s about 0 (over featureless scans it never
  // settled).
  double dMin = r.dMin;
  if (r.ff0Max[k] > 0.0f && std::fabs(s) >= r.sStill) {
    const double dCeiling = DAtFrictionalRatio(s, r.ff0Max[k]);
    if (dCeiling > 0.0) dMin = std::clamp(dCeiling, dMin, dMax);
  }
  if (!gFitEngineState.molarMassParameters) {
    *low = static_cast<float>(dMin);
    *high = static_cast<float>(dMax);
    return true;
  }
  // A molar mass is held where the D it implies at this s is in range.
  const double factor = MassDiffusionFactor() * std::fabs(static_cast<double>(s));
  if (!(factor > 0.0)) return false;
  *low = static_cast<float>(factor / dMax);
  *high = static_cast<float>(factor / dMin);
  return *high > 0.0f;
}

// The nonideal components' slots: log10 ks and log10 kd, and the loadings
// of components 1 to 3.
constexpr int kLogKsSlot = 10, kLogKdSlot = 11;
constexpr int kLoadingSlots[] = {9, 27, 31};
// D0 of components 1 to 3 (1e-7 cm^2/s).
constexpr int kNonidealDSlots[] = {1, 29, 33};

// The ends of log10 ks or kd under the given ranges at the loading now.
bool TermLimitsUnder(const SpeciesFitRanges& r, int k, float* low, float* high) {
  if (!r.nonidealTerms || (k != kLogKsSlot && k != kLogKdSlot)) return false;
  const double c = NonidealComponentsLoading();
  if (!(c > 0.0) || !std::isfinite(c)) return false;
  const bool ks = k == kLogKsSlot;
  *low = static_cast<float>(std::log10((ks ? r.ksLoadMin : r.kdLoadMin) / c));
  *high = static_cast<float>(std::log10((ks ? r.ksLoadMost : r.kdLoadMost) / c));
  return true;
}

// The ends of the nonideal models' s0 (k = 5) under the given ranges.
bool SLimitsUnder(const SpeciesFitRanges& r, int k, float* low, float* high) {
  if (!r.nonidealS || k != 5) return false;
  *low = -r.sMax;
  *high = r.sMax;
  return true;
}

// The ends of a nonideal component's D0 (k = 1, 29, 33) under the given ranges.
bool DLimitsUnder(const SpeciesFitRanges& r, int k, float* low, float* high) {
  if (!r.nonidealD || (k != kNonidealDSlots[0] && k != kNonidealDSlots[1] && k != kNonidealDSlots[2])) return false;
  *low = r.dMin;
  *high = r.dMax;
  return true;
}

double Get(const FitOptionEntry& e) {
  if (e.f) return *e.f;
  if (e.d) return *e.d;
  return 0.0;
}

void Set(const FitOptionEntry& e, double value) {
  if (e.f) *e.f = static_cast<float>(value);
  if (e.d) *e.d = value;
}

// Writes the plain vbar's companion product.
void AfterVbarWrite(const FitOptionEntry& e) {
  if (e.plainVbar)
    gSolutionConditions.vbarRho = static_cast<float>(Get(e) * e.densityFactor);
  if (e.follower) *e.follower = static_cast<float>(Get(e));
}

// The size entries point at the molar mass or the D by the parametrisation.
FitOptionEntries ResolveSizeEntries(FitOptionEntries options) {
  const bool mass = gFitEngineState.molarMassParameters != 0;
  for (int i : {kFitOptionBufferSize, kFitOptionReferenceSize}) {
    FitOptionEntry& e = options.entry[i];
    if (!e.f && !e.d) e.d = mass ? e.massValue : e.diffusionValue;
  }
  return options;
}

// Buffer and reference sizes after a full write-back: Mb at least 10 g/mol,
// D within [0.01, 1000] (1e-7 cm^2/s), on both stored values.
void ClampStoredSizes(const FitOptionEntry& e) {
  if (e.massValue && *e.massValue < 10.0) *e.massValue = 10.0;
  if (e.diffusionValue) {
    if (*e.diffusionValue > 1000.0) *e.diffusionValue = 1000.0;
    if (*e.diffusionValue <= 0.01) *e.diffusionValue = 0.01;
  }
}

enum class Mode { PackClamped, PackUnclamped, Full, Evaluation, Display };

// Fit options that an evaluation (and the display) holds at 0 from below.
bool OptionHeldAtZero(int i) {
  return i == kFitOptionWienerMagnitude || i == kFitOptionPhotophysicsRate || i == kFitOptionLimitingLevel;
}

// Evaluation write-back of P[k]; returns the value written.
float EvaluationValue(int k, float v) {
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  const FitEngineState& fs = gFitEngineState;
  if (k >= 1 && k <= 4) {
    const bool equilibriumData = CurrentScanSet().equilibriumMode != 0;
    if (sel.LammDiscreteModel && !equilibriumData && v < 0.0f) return 0.0f;
    if (IsSelfAssociation() && k != 3 && v < 0.0f) return 0.0f;
    // The nonideal components' solver takes the magnitude of D: the fit
    // holds the magnitude too, so the D reported is the one the model used.
    if (k == 1 && sel.NonidealMultipleSpeciesModel) return std::fabs(v);
    return v;
  }
  if (k >= 5 && k <= 8 && gRangesInForce.on) return std::clamp(v, -gRangesInForce.sMax, gRangesInForce.sMax);
  if (k == 5 && gRangesInForce.nonidealS) return std::clamp(v, -gRangesInForce.sMax, gRangesInForce.sMax);
  if (k >= 9 && k <= 12) return (!IsNonidealSpecies() && v < 0.0f) ? 0.0f : v;
  if (k == 13) return v < fs.meniscusMin ? fs.meniscusMin : (v > fs.meniscusMax ? fs.meniscusMax : v);
  if (k == 14 && gModelParams.cellLengthOption) return v;  // a cell length, not a radius
  if (k == 14) return v < fs.bottomMin ? fs.bottomMin : (v > fs.bottomMax ? fs.bottomMax : v);
  if (k >= 16 && k <= 19) return v < 0.0f ? 0.0f : v;
  if (k == 23 || k == 25 || k == 27 || k == 29 || k == 31 || k == 33) return v < 0.0f ? 0.0f : v;
  if (k == 26 || k == 30 || k == 34) return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v);
  return v;
}

// The model quantities that P[k] mirrors, written at once by the evaluation
// so that the caller sees the state of the vector before the model unpacks.
void WriteMirror(int k, float value) {
  ModelParams& mp = gModelParams;
  switch (k) {
    case 13:
      mp.meniscus = value;
      if (mp.cellLengthOption) {
        mp.bottom = mp.meniscus + mp.cellLength;
        gModelParameterVector.P[14] = mp.bottom;
      }
      break;
    case 14:
      if (mp.cellLengthOption) {
        mp.cellLength = value;
        mp.bottom = mp.meniscus + mp.cellLength;
        gModelParameterVector.P[14] = mp.bottom;
      } else {
        mp.bottom = value;
      }
      break;
    case 15: mp.baseline = value; break;
    case 20: mp.value20 = value; break;
    case 21: mp.value21 = value; break;
    case 22: mp.value22 = value; break;
    case 23: mp.zoneValue = value; break;
    case 24: mp.startTime = value; break;
    default:
      if (k >= 25 && k <= 34) mp.nonidealTerm[k - 24] = value;
      break;
  }
}

int Walk(Mode mode, int n, float* v) {
  const FitOptionEntries options = ResolveSizeEntries(CurrentFitOptions());
  const bool mass = gFitEngineState.molarMassParameters != 0;
  int count = 0;
  for (int i = 1; i <= kFitOptionCount; ++i) {
    const FitOptionEntry& e = options.entry[i];
    if (!e.present) continue;
    ++count;
    if (!v || count > n) continue;
    switch (mode) {
      case Mode::PackUnclamped:
        v[count] = static_cast<float>(Get(e));
        break;
      case Mode::PackClamped: {
        double x = Get(e);
        double clamped = x;
        if (i == kFitOptionVbar && x < 0.0) clamped = 0.01;
        if (i == kFitOptionBufferSize && !mass && x < 0.01) clamped = 0.01;
        if (i == kFitOptionRelativeConcentration && x < 0.0001) clamped = 0.0001;
        if (i == kFitOptionReferenceSize && !mass && x < 0.0) clamped = 0.01;
        if (clamped != x) {
          Set(e, clamped);
          if (i == kFitOptionVbar) AfterVbarWrite(e);
        }
        v[count] = static_cast<float>(clamped);
        break;
      }
      case Mode::Full: {
        double x = v[count];
        switch (i) {
          case kFitOptionVbar:
          case kFitOptionWienerMagnitude:
          case kFitOptionPhotophysicsRate:
          case kFitOptionLimitingLevel:
          case kFitOptionBufferSignal:
            if (x < 0.0) x = 0.0;
            break;
          case kFitOptionConeRadius:
            x = x < 0.01 ? 0.01 : (x > 1.0 ? 1.0 : x);
            break;
          case kFitOptionConvolutionWidth:
            x = x < 0.0 ? 0.01 : (x > 1.0 ? 1.0 : x);
            break;
          case kFitOptionRelativeConcentration:
            if (x <= 0.0001) x = 0.0001;
            break;
          case kFitOptionBufferSize:
          case kFitOptionReferenceSize:
            x = std::fabs(x);
            break;
          default:
            break;
        }
        Set(e, x);
        if (i == kFitOptionBufferSize || i == kFitOptionReferenceSize) ClampStoredSizes(e);
        if (i == kFitOptionVbar) AfterVbarWrite(e);
        break;
      }
      case Mode::Evaluation:
      case Mode::Display: {
        // Display shows the vertex as it is but for the signs; an evaluation
        // also keeps the convolution width in its range and follows vbar.
        const bool evaluation = mode == Mode::Evaluation;
        double x = v[count];
        if (OptionHeldAtZero(i) && x < 0.0) v[count] = static_cast<float>(x = 0.0);
        switch (i) {
          case kFitOptionConvolutionWidth:
            if (evaluation) {
              if (x > 1.0) x = 1.0;
              if (x <= 0.001) x = 0.001;
            }
            break;
          case kFitOptionBufferSize:
          case kFitOptionReferenceSize:
            x = std::fabs(x);
            break;
          default:
            break;
        }
        // The vertex holds what was evaluated: a minimiser goes on from a limit, not beyond it.
        if (evaluation) v[count] = static_cast<float>(x);
        Set(e, x);
        if (evaluation && i == kFitOptionVbar) AfterVbarWrite(e);
        break;
      }
    }
  }

  float* P = gModelParameterVector.P;
  const int* F = gModelParameterVector.F;
  int sizeEntry[5] = {};
  int termEntry[kLogKdSlot + 1] = {};
  int dEntry[kNonidealDSlots[2] + 1] = {};
  for (int k = 1; k <= kParameterSlots; ++k) {
    if (!F[k]) continue;
    ++count;
    if (k <= 4) sizeEntry[k] = count;
    if (k == kLogKsSlot || k == kLogKdSlot) termEntry[k] = count;
    if (k == kNonidealDSlots[0] || k == kNonidealDSlots[1] || k == kNonidealDSlots[2]) dEntry[k] = count;
    if (!v || count > n) continue;
    switch (mode) {
      case Mode::PackClamped:
      case Mode::PackUnclamped:
        v[count] = P[k];
        break;
      case Mode::Full:
      case Mode::Display:
        P[k] = v[count];
        break;
      case Mode::Evaluation: {
        const float value = EvaluationValue(k, v[count]);
        v[count] = value;
        P[k] = value;
        WriteMirror(k, value);
        break;
      }
    }
  }
  // A size is held after every s is in place: the range of a molar mass
  // follows its species' s. A molar mass of 0 (asked at or below it) is no
  // species: the target rejects the trial, which shortens a step across 0,
  // rather than landing on the flattest species the range holds.
  if (mode == Mode::Evaluation) gMassless = false;
  if (mode == Mode::Evaluation && gRangesInForce.on && v) {
    for (int k = 1; k <= 4; ++k) {
      float low = 0, high = 0;
      if (!sizeEntry[k] || sizeEntry[k] > n || !LimitsUnder(gRangesInForce, k, P[k + 4], &low, &high)) continue;
      if (mass && P[k] <= 0.0f) {
        gMassless = true;
        continue;
      }
      const float value = std::clamp(P[k], low, high);
      if (value == P[k]) continue;
      P[k] = value;
      v[sizeEntry[k]] = value;
    }
  }
  // The nonideal terms after every loading is in place: their range
  // follows the total loading.
  if (mode == Mode::Evaluation && gRangesInForce.nonidealTerms && v) {
    for (int k : {kLogKsSlot, kLogKdSlot}) {
      float low = 0, high = 0;
      if (!termEntry[k] || termEntry[k] > n || !TermLimitsUnder(gRangesInForce, k, &low, &high)) continue;
      const float value = std::clamp(P[k], low, high);
      if (!(value != P[k])) continue;
      P[k] = value;
      v[termEntry[k]] = value;
    }
  }
  // The components' D0 after the magnitude and the hold at 0.
  if (mode == Mode::Evaluation && gRangesInForce.nonidealD && v) {
    for (int k : kNonidealDSlots) {
      float low = 0, high = 0;
      if (!dEntry[k] || dEntry[k] > n || !DLimitsUnder(gRangesInForce, k, &low, &high)) continue;
      // The single species' solver takes the magnitude of D as well.
      const float given = gModelSelectorFlags.NonidealSingleSpeciesModel ? std::fabs(P[k]) : P[k];
      const float value = std::clamp(given, low, high);
      if (!(value != P[k])) continue;
      P[k] = value;
      v[dEntry[k]] = value;
      WriteMirror(k, value);
    }
  }
  if (mode == Mode::Evaluation) {
    if (gModelSelectorFlags.MonomerDimerTetramerModel) {
      P[2] = 2.0f * P[1];
      P[12] = 4.0f * P[1];
    } else if (gModelSelectorFlags.MonomerTetramerOctamerModel) {
      P[2] = 4.0f * P[1];
      P[12] = 8.0f * P[1];
    }
  }
  return count;
}

}  // namespace

void SetFitOptionProvider(FitOptionProvider provider) { gProvider = provider; }

FitOptionEntries CurrentFitOptions() {
  FitOptionEntries options;
  if (gProvider) gProvider(options);
  return options;
}

int FitOptionCount(const FitOptionEntries& options) {
  int m = 0;
  for (int i = 1; i <= kFitOptionCount; ++i)
    if (options.entry[i].present) ++m;
  return m;
}

int ParametersToFitVector(int n, float* v) { return Walk(Mode::PackClamped, n, v); }
int PackFitVectorUnclamped(int n, float* v) { return Walk(Mode::PackUnclamped, n, v); }
void FitVectorToParameters(const float* v) {
  // The full write-back never changes the vector itself.
  Walk(Mode::Full, kParameterSlots + kFitOptionCount, const_cast<float*>(v));
}
void UnpackFitVectorForEvaluation(float* v) { Walk(Mode::Evaluation, kParameterSlots + kFitOptionCount, v); }
void UnpackFitVectorForDisplay(float* v) { Walk(Mode::Display, kParameterSlots + kFitOptionCount, v); }

void FitVectorDerivativeSteps(int n, double* factor, double* absolute) {
  const FitOptionEntries options = CurrentFitOptions();
  const bool mass = gFitEngineState.molarMassParameters != 0;
  int count = 0;
  auto put = [&](double f, double h0) {
    ++count;
    if (count <= n) {
      factor[count] = f;
      absolute[count] = h0;
    }
  };
  for (int i = 1; i <= kFitOptionCount; ++i) {
    if (!options.entry[i].present) continue;
    switch (i) {
      case kFitOptionVbar: put(1.0001, 0.0001); break;
      case kFitOptionConeRadius:
      case kFitOptionPhotophysicsRate:
      case kFitOptionLimitingLevel:
      case kFitOptionLinearDrift:
      case kFitOptionConvolutionWidth: put(1.001, 0.001); break;
      case kFitOptionWienerMagnitude: put(1.01, 1e-6); break;
      case kFitOptionMagnificationGradient:
      case kFitOptionNonlinearPower:
      case kFitOptionDepletionS:
      case kFitOptionDepletionD:
      case kFitOptionDepletionAmplitude:
      case kFitOptionDepletionKs: put(1.0001, 0.0001); break;
      case kFitOptionBufferSignal:
      case kFitOptionBufferS:
      case kFitOptionReferenceS: put(1.001, 0.001); break;
      case kFitOptionBufferSize:
      case kFitOptionReferenceSize: put(1.01, mass ? 0.0 : 0.1); break;
      case kFitOptionMeniscusDifference: put(1.0001, 0.001); break;
      case kFitOptionRelativeConcentration: put(1.01, 0.01); break;
      default: put(1.001, 0.001); break;
    }
  }
  for (int k = 1; k <= kParameterSlots; ++k)
    if (gModelParameterVector.F[k]) put(gFitEngineState.mlParamStepFactor, gFitEngineState.mlParamStepAbsolute);
}

void FitVectorEntryKinds(int n, FitEntryKind* kinds) {
  const FitOptionEntries options = CurrentFitOptions();
  int count = 0;
  for (int i = 1; i <= kFitOptionCount; ++i) {
    if (!options.entry[i].present) continue;
    if (++count > n) return;
    kinds[count] = i == kFitOptionBufferS              ? FitEntryKind::BufferS
                   : i == kFitOptionMeniscusDifference ? FitEntryKind::MeniscusDifference
                   : i == kFitOptionWienerMagnitude    ? FitEntryKind::WienerMagnitude
                                                       : FitEntryKind::General;
  }
  for (int k = 1; k <= kParameterSlots; ++k) {
    if (!gModelParameterVector.F[k]) continue;
    if (++count > n) return;
    kinds[count] = FitEntryKind::ParameterP;
  }
}

void FitVectorEntriesHeldAtZero(int n, unsigned char* held) {
  const FitOptionEntries options = CurrentFitOptions();
  int count = 0;
  for (int i = 1; i <= kFitOptionCount; ++i) {
    if (!options.entry[i].present) continue;
    if (++count > n) return;
    held[count] = OptionHeldAtZero(i) ? 1 : 0;
  }
  for (int k = 1; k <= kParameterSlots; ++k) {
    if (!gModelParameterVector.F[k]) continue;
    if (++count > n) return;
    // The evaluation's own rule: a parameter held at 0 turns any negative value into 0.
    held[count] = EvaluationValue(k, -1.0f) == 0.0f ? 1 : 0;
  }
}

void FitVectorEntriesOfAbsentSpecies(int n, unsigned char* absent) {
  const ModelParams& mp = gModelParams;
  const bool discrete = gModelSelectorFlags.LammDiscreteModel && !IsSelfAssociation() && !IsNonidealSpecies();
  int count = FitOptionCount(CurrentFitOptions());
  for (int j = 1; j <= n && j <= count; ++j) absent[j] = 0;
  for (int k = 1; k <= kParameterSlots; ++k) {
    if (!gModelParameterVector.F[k]) continue;
    if (++count > n) return;
    // P[1..4] are the species' M or D, P[5..8] their s.
    const int species = k <= 4 ? k : (k <= 8 ? k - 4 : 0);
    absent[count] = discrete && species > 0 && mp.included[species] && mp.scaleFactor[species] == 0.0f ? 1 : 0;
  }
}

double NonidealComponentsLoading() {
  const float* P = gModelParameterVector.P;
  const double signal = CurrentScanSet().signalPerConcentration;
  double total = std::fabs(P[kLoadingSlots[0]]);
  if (gModelSelectorFlags.NonidealMultipleSpeciesModel)
    for (int k : {kLoadingSlots[1], kLoadingSlots[2]}) total += std::max(P[k], 0.0f);
  return total / (signal > 0.0 ? signal : 1.0);
}

namespace {

// The data's ranges of s and D (sMax, dMin, dMax) from the scans' times and
// radial spacing and the fit limits of meniscus and bottom; false where the
// data give none.
bool DataRanges(SpeciesFitRanges& r) {
  const ScanSet& ss = CurrentScanSet();
  const FitEngineState& fs = gFitEngineState;
  const ModelParams& mp = gModelParams;
  if (ss.count < 1 || static_cast<int>(ss.records.size()) <= ss.count) return false;
  // The earliest and the latest scan: omega^2 t and t.
  double w2tFirst = 0.0, w2tLast = 0.0, tLast = 0.0;
  for (int j = 1; j <= ss.count; ++j) {
    const ScanRecord& rec = ss.records[j];
    const double w2t = rec.w2t > 0.0 ? rec.w2t : Omega2(rec.rpm) * rec.time;
    if (w2t > 0.0 && (w2tFirst == 0.0 || w2t < w2tFirst)) w2tFirst = w2t;
    w2tLast = std::max(w2tLast, w2t);
    tLast = std::max(tLast, rec.time);
  }
  // Radial spacing of the first scan's fitted points.
  double dr = 0.0;
  if (static_cast<int>(ss.radii.size()) > 1 && ss.radii[1] && static_cast<int>(ss.points.size()) > 1) {
    const int first = std::max(1, ss.firstFitPoint[1]), last = std::min(ss.points[1], ss.lastFitPoint[1]);
    if (last > first) dr = (static_cast<double>(ss.radii[1][last]) - ss.radii[1][first]) / (last - first);
  }
  // A scan of a single point in the fit limits has no spacing: it resolves
  // nothing finer than the fit range itself (over scans of 3 radii a fit
  // with no range walked s to 4e34 S and M to 1e24 g/mol).
  if (!(dr > 0.0)) dr = ss.rightFitLimit - ss.leftFitLimit;
  const double meniscus = std::min(mp.meniscus, fs.meniscusMin), bottom = std::max(mp.bottom, fs.bottomMax);
  if (!(w2tFirst > 0.0) || !(tLast > 0.0) || !(dr > 0.0) || !(meniscus > 0.0) || !(bottom > meniscus)) return false;
  // s: twice the s that carries a species across the whole column by the
  // first scan (beyond it, it left before any scan), at least 100 S.
  r.sMax = static_cast<float>(std::max(100.0, 2.0 * std::log(bottom / meniscus) / w2tFirst * 1e13));
  // D: down to a boundary that spreads over half a radial spacing by the
  // last scan; steeper ones the data cannot tell apart, while the solver's
  // grid and steps follow them.
  r.dMin = static_cast<float>(0.25 * dr * dr / (2.0 * tLast) * 1e7);
  // A species slower than one that moves a radial spacing from the
  // meniscus by the last scan shows the data no travelling boundary.
  r.sStill = static_cast<float>(std::log1p(dr / meniscus) / w2tLast * 1e13);
  // D up to the faster of any solute and the D that spreads a boundary over
  // the whole column by the first scan: beyond both a species has relaxed
  // to a nearly flat profile before any scan (over featureless scans D
  // walks there step by step), and no solute diffuses that fast.
  double tFirst = 0.0;
  for (int j = 1; j <= ss.count; ++j)
    if (ss.records[j].time > 0.0 && (tFirst == 0.0 || ss.records[j].time < tFirst)) tFirst = ss.records[j].time;
  const double column = bottom - meniscus;
  r.dFlat = static_cast<float>(tFirst > 0.0 ? column * column / (2.0 * tFirst) * 1e7 : 0.0);
  r.dMax = std::max(kFastestSoluteD, r.dFlat);
  return true;
}

// A D that lies outside [dMin, dMax] widens the range to it.
void WidenToD(SpeciesFitRanges& r, double d) {
  if (d > 0.0) r.dMin = std::min(r.dMin, static_cast<float>(d));
  if (d > 0.0 && std::isfinite(d)) r.dMax = std::max(r.dMax, static_cast<float>(d));
}

}  // namespace

SpeciesFitRanges SpeciesFitRangesForCurrentFit() {
  SpeciesFitRanges r;
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  const bool multiple = sel.NonidealMultipleSpeciesModel != 0;
  // The single species in its plain form: s0 and D0 in slots 5 and 1
  // (not its molar mass), log10 ks and kd in 10 and 11 (not the
  // hard-sphere variant's terms, nor a cosolute's tables).
  const AssociationModelParams& as = gAssociationModelParams;
  const bool single = sel.NonidealSingleSpeciesModel && !multiple;
  const bool singleTerms = single && !sel.NonidealVariantModel && !as.polynomialSD && !as.csClSD;
  if ((multiple || single) && !CurrentScanSet().equilibriumMode) {
    const ModelParameterVector& pv = gModelParameterVector;
    const double c = NonidealComponentsLoading();
    if ((multiple || singleTerms) && c > 0.0 && std::isfinite(c) && (pv.F[kLogKsSlot] || pv.F[kLogKdSlot])) {
      // Never above where the fit starts: there a term has no effect.
      auto least = [c](float logK) {
        return std::min(kNonidealTermLoadLeast, std::pow(10.0, static_cast<double>(logK)) * c);
      };
      r.ksLoadMin = least(pv.P[kLogKsSlot]);
      r.kdLoadMin = least(pv.P[kLogKdSlot]);
      r.ksLoadMost = kNonidealKsLoadMost;
      r.kdLoadMost = kNonidealKdLoadMost;
      if (single && as.repulsive) {
        // Never below where the fit starts either: the single species
        // computes any repulsive ks c.
        r.ksLoadMost = std::max(kNonidealSingleKsLoadMost, std::pow(10.0, static_cast<double>(pv.P[kLogKsSlot])) * c);
        r.kdLoadMost = std::max(kNonidealKdLoadMost, std::pow(10.0, static_cast<double>(pv.P[kLogKdSlot])) * c);
      } else if (single) {
        r.kdLoadMost = kNonidealKsLoadMost;
      }
      r.nonidealTerms = r.ksLoadMin > 0.0 && r.kdLoadMin > 0.0 && std::isfinite(r.ksLoadMost) &&
                        std::isfinite(r.kdLoadMost);
    }
    // The components' D0 as the discrete species' D, never narrower than
    // where the fit starts; the single species' only where slot 1 is a D.
    bool fitted = false;
    const bool dSlots = multiple || !gFitEngineState.molarMassParameters;
    for (int k : kNonidealDSlots) fitted = fitted || (dSlots && pv.F[k] != 0 && (multiple || k == 1));
    const bool sFitted = pv.F[5] != 0;
    if ((fitted || sFitted) && DataRanges(r)) {
      if (fitted) {
        for (int k : kNonidealDSlots)
          if (pv.F[k] && (multiple || k == 1)) WidenToD(r, std::fabs(static_cast<double>(pv.P[k])));
        r.nonidealD = r.dMin > 0.0f && r.dMax >= r.dMin;
      }
      if (sFitted) {
        r.sMax = std::max(r.sMax, std::fabs(pv.P[5]));
        r.nonidealS = r.sMax > 0.0f && std::isfinite(r.sMax);
      }
    }
    return r;
  }
  if (!SpeciesRangesApply() || !DataRanges(r)) return r;
  const FitEngineState& fs = gFitEngineState;
  const ModelParams& mp = gModelParams;
  // Never narrower than where the fit starts.
  const ModelParameterVector& pv = gModelParameterVector;
  const double factor = MassDiffusionFactor();
  for (int i = 1; i <= 4; ++i) {
    if (!mp.included[i]) continue;
    if (pv.F[i + 4]) r.sMax = std::max(r.sMax, std::fabs(pv.P[i + 4]));
    if (!pv.F[i]) continue;
    double d = pv.P[i];
    if (fs.molarMassParameters) d = pv.P[i] > 0.0f ? factor * std::fabs(pv.P[i + 4]) / pv.P[i] : 0.0;
    WidenToD(r, d);
    // Never above the frictional ratio a species starts from (D goes as
    // the ratio^(-3/2) at its s), a fiftieth below it: the start is
    // neither moved by the rounding of the ratio nor taken for a species
    // pressed at the floor (SpeciesAtItsLeastSize).
    const double dLeast = DAtFrictionalRatio(pv.P[i + 4], kLeastSpeciesFrictionalRatio);
    double ratio = kLeastSpeciesFrictionalRatio;
    if (d > 0.0 && dLeast > 0.0) ratio = std::min(ratio, 0.98 * ratio * std::pow(dLeast / d, 2.0 / 3.0));
    r.ff0Min[i] = static_cast<float>(ratio);
    // The largest, never below the ratio it starts from (then a fiftieth
    // above it), as the least is never above it.
    const double dMost = DAtFrictionalRatio(std::max(std::fabs(pv.P[i + 4]), r.sStill), kMaxFrictionalRatio);
    ratio = kMaxFrictionalRatio;
    if (d > 0.0 && dMost > 0.0) ratio = std::max(ratio, 1.02 * ratio * std::pow(dMost / d, 2.0 / 3.0));
    r.ff0Max[i] = static_cast<float>(ratio);
  }
  r.on = r.dMin > 0.0f && r.sMax > 0.0f;
  return r;
}

SpeciesFitRangesScope::SpeciesFitRangesScope() {
  if (gRangesInForce.on || gRangesInForce.nonidealTerms || gRangesInForce.nonidealD || gRangesInForce.nonidealS)
    return;
  outer_ = true;
  gRangesInForce = gRangesOfLastFit = SpeciesFitRangesForCurrentFit();
}

SpeciesFitRangesScope::~SpeciesFitRangesScope() {
  if (outer_) gRangesInForce = SpeciesFitRanges{};
}

SpeciesFloorLowered::SpeciesFloorLowered(int k, float factor) {
  if (k < 1 || k > 4) return;
  k_ = k;
  kept_ = gRangesInForce.ff0Min[k];
  gRangesInForce.ff0Min[k] = factor * kept_;
}

SpeciesFloorLowered::~SpeciesFloorLowered() {
  if (k_) gRangesInForce.ff0Min[k_] = kept_;
}

bool EvaluationHasMasslessSpecies() { return gMassless; }

bool SpeciesFitLimits(int k, float s, float* low, float* high) {
  return LimitsUnder(gRangesOfLastFit, k, s, low, high);
}

bool SpeciesFlatBeforeTheFirstScan(int k) {
  const SpeciesFitRanges& r = gRangesOfLastFit;
  const ModelParameterVector& pv = gModelParameterVector;
  if (!r.on || !(r.dFlat > 0.0f) || k < 1 || k > 4 || !gModelParams.included[k]) return false;
  const double d = gFitEngineState.molarMassParameters
                       ? (pv.P[k] > 0.0f ? MassDiffusionFactor() * std::fabs(pv.P[k + 4]) / pv.P[k] : 0.0)
                       : pv.P[k];
  // sqrt(2 D t) at least 70 % of the column: a fit walks a species that
  // stands in for a level towards the range's end, and stops short of it
  // where the level no longer changes the misfit.
  return d >= 0.5 * r.dFlat;
}

bool SpeciesAtItsLeastSize(int k) {
  const ModelParameterVector& pv = gModelParameterVector;
  float low = 0.0f, high = 0.0f;
  if (k < 1 || k > 4 || !pv.F[k] || !gModelParams.included[k] || !SpeciesFitLimits(k, pv.P[k + 4], &low, &high))
    return false;
  // Within a hundredth of the frictional ratio there (M goes as the
  // ratio^(3/2), D as its -3/2 power): a fit walking along the floor
  // leaves the size where the last s put it, a little above the floor of
  // an s that then moved down.
  constexpr float kNear = 1.015f;
  return gFitEngineState.molarMassParameters ? pv.P[k] <= kNear * low : kNear * pv.P[k] >= high;
}

bool NonidealTermLimits(int k, float* low, float* high) { return TermLimitsUnder(gRangesOfLastFit, k, low, high); }

bool NonidealDiffusionLimits(int k, float* low, float* high) { return DLimitsUnder(gRangesOfLastFit, k, low, high); }

bool NonidealSLimits(int k, float* low, float* high) { return SLimitsUnder(gRangesOfLastFit, k, low, high); }

void FitVectorEntriesInSpeciesRanges(int n, unsigned char* ranged) {
  const ModelParams& mp = gModelParams;
  int count = FitOptionCount(CurrentFitOptions());
  for (int j = 1; j <= n && j <= count; ++j) ranged[j] = 0;
  for (int k = 1; k <= kParameterSlots; ++k) {
    if (!gModelParameterVector.F[k]) continue;
    if (++count > n) return;
    // P[1..4] are the species' M or D, P[5..8] their s.
    const int species = k <= 4 ? k : (k <= 8 ? k - 4 : 0);
    float low = 0.0f, high = 0.0f;
    ranged[count] = species > 0 && SpeciesFitLimits(k, mp.s[species], &low, &high) ? 1 : 0;
    if (NonidealTermLimits(k, &low, &high) && gModelParameterVector.P[k] >= high) ranged[count] = 1;
    if (NonidealDiffusionLimits(k, &low, &high)) ranged[count] = 1;
    if (NonidealSLimits(k, &low, &high)) ranged[count] = 1;
  }
}
