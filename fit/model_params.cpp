#include "fit/model_params.h"

#include <vector>

#include "fit/fit_engine_state.h"
#include "fit/model_selector.h"

ModelParams gModelParams;
ModelParameterVector gModelParameterVector;
SolutionConditions gSolutionConditions;
AssociationModelParams gAssociationModelParams;

namespace {

std::vector<ParameterDerivation>& Derivations() {
  static std::vector<ParameterDerivation> list;
  return list;
}

// Non-ideal terms 1, 2, 3, 6, 7 and 10 are positions, fractions and loading
// concentrations; the s and D terms (4, 5, 8, 9) may be negative.
bool TermIsNonNegative(int j) { return j != 4 && j != 5 && j != 8 && j != 9; }

// D (or M) of the n-mer of a two-state self-association. In the diffusion
// parametrisation D_n = D_1 * (s_n / s_1) / n (Stokes-Einstein with f_n = M_n (1 - vbar rho) / s_n).
float DerivedNmerValue(float monomer, float sMonomer, float sNmer, int n, float fallback) {
  if (gFitEngineState.molarMassParameters) return static_cast<float>(n) * monomer;
  if (sMonomer == 0.0f) return fallback;  // no ratio to take; keep the entered value
  return monomer * sNmer / sMonomer / static_cast<float>(n);
}

void DeriveModelFamilies(bool packing) {
  ModelSelectorFlags& sel = gModelSelectorFlags;
  ModelParams& mp = gModelParams;
  float* P = gModelParameterVector.P;
  int* F = gModelParameterVector.F;
  AssociationModelParams& as = gAssociationModelParams;

  if (sel.NonidealCSModel || sel.ConcDependentSolverSwitch) {
    if (packing) {
      P[20] = as.logKs;
      F[20] = as.logKsFit;
      P[21] = as.logKd;
      F[21] = as.logKdFit;
      // The nonideal c(s) shows its log kd in component 4's second field,
      // and a saved analysis keeps it there: one value, whichever way in.
      if (sel.NonidealCSModel) P[4] = mp.massOrD[4] = as.logKd;
    } else {
      as.logKs = P[20];
      as.logKsFit = F[20];
      as.logKd = P[21];
      as.logKdFit = F[21];
    }
  }

  if (sel.MonomerDimerModel || sel.MonomerTrimerModel) {
    const int n = sel.MonomerDimerModel ? 2 : 3;
    as.monomer = P[1];
    as.monomerFit = F[1];
    as.logK = P[3];
    as.logKFit = F[3];
    as.sMonomer = P[5];
    as.sMonomerFit = F[5];
    as.sNmer = P[6];
    as.sNmerFit = F[6];
    as.totalConcentration = P[11];
    as.totalConcentrationFit = F[11];
    as.nmer = P[2];
    F[2] = 0;
    as.nmer = DerivedNmerValue(P[1], P[5], P[6], n, as.nmer);
    if (!packing) {
      P[2] = as.nmer;
      mp.massOrD[2] = as.nmer;
    }
  }

  if (sel.MonomerTetramerOctamerModel || sel.MonomerDimerTetramerModel) {
    as.monomer3 = P[1];
    as.monomer3Fit = F[1];
    F[2] = 0;
    F[12] = 0;
    as.logK3a = P[3];
    as.logK3aFit = F[3];
    as.logK3b = P[7];
    as.logK3bFit = F[7];
    as.s3[1] = P[5];
    as.s3Fit[1] = F[5];
    as.s3[2] = P[6];
    as.s3Fit[2] = F[6];
    as.s3[3] = P[8];
    as.s3Fit[3] = F[8];
    as.totalConcentration = P[11];
    as.totalConcentrationFit = F[11];
    const float first = sel.MonomerDimerTetramerModel ? 2.0f : 4.0f;
    as.nmer3a = first * P[1];
    as.nmer3b = 2.0f * first * P[1];
  }

  if (sel.NonidealSingleSpeciesModel || sel.NonidealMultipleSpeciesModel) {
    as.nonidealConcentration = P[9];
    as.nonidealConcentrationFit = F[9];
    as.nonidealS = P[5];
    as.nonidealSFit = F[5];
    as.logKs = P[10];
    as.logKsFit = F[10];
    as.nonidealD = P[1];
    as.nonidealDFit = F[1];
    as.logKd = P[11];
    as.logKdFit = F[11];
  }

  for (ParameterDerivation d : Derivations()) d(packing);
}

}  // namespace

void RegisterParameterDerivation(ParameterDerivation derivation) {
  for (ParameterDerivation d : Derivations())
    if (d == derivation) return;
  Derivations().push_back(derivation);
}

void ClearParameterDerivations() { Derivations().clear(); }

void PackModelParameters() {
  ModelParams& mp = gModelParams;
  float* P = gModelParameterVector.P;
  int* F = gModelParameterVector.F;

  for (int j = 1; j <= kNonidealTerms; ++j) {
    F[24 + j] = mp.nonidealTermFit[j] != 0 ? 1 : 0;
    P[24 + j] = mp.nonidealTerm[j];
  }
  P[24] = mp.startTime;
  F[24] = static_cast<int>(static_cast<signed char>(mp.startTimeFit));
  for (int k = 1; k <= kComponentSlots; ++k) {
    P[k] = mp.massOrD[k];
    F[k] = mp.massOrDFit[k];
    P[4 + k] = mp.s[k];
    F[4 + k] = mp.sFit[k];
    P[8 + k] = mp.concentration[k];
    F[8 + k] = mp.concentrationFit[k];
  }
  P[13] = mp.meniscus;
  F[13] = mp.meniscusFit;
  P[14] = mp.bottom;
  F[14] = mp.bottomFit;
  if (gModelSelectorFlags.ElectrophoresisLammModel) {
    mp.bottom = mp.meniscus + mp.electrophoresisColumnLength;
    P[14] = mp.bottom;
  }
  P[15] = mp.baseline;
  F[15] = mp.baselineFit;
  for (int k = 1; k <= kComponentSlots; ++k) {
    P[15 + k] = mp.extra[k];
    F[15 + k] = mp.extraFit[k];
  }
  P[20] = mp.value20;
  F[20] = mp.value20Fit;
  P[21] = mp.value21;
  F[21] = mp.value21Fit;
  P[22] = mp.value22;
  F[22] = mp.value22Fit;
  if (gModelSelectorFlags.ZoneCentrifugationModel) {
    P[23] = mp.zoneValue;
    F[23] = mp.zoneFit;
  }
  DeriveModelFamilies(true);
}

void UnpackModelParameters() {
  ModelParams& mp = gModelParams;
  float* P = gModelParameterVector.P;
  int* F = gModelParameterVector.F;

  for (int j = 1; j <= kNonidealTerms; ++j) {
    float v = P[24 + j];
    if (TermIsNonNegative(j) && v < 0.0f) v = 0.0f;
    mp.nonidealTerm[j] = v;
  }
  mp.startTime = P[24];
  for (int k = 1; k <= kComponentSlots; ++k) {
    mp.massOrD[k] = P[k];
    mp.massOrDFit[k] = F[k];
    mp.s[k] = P[4 + k];
    mp.sFit[k] = F[4 + k];
    mp.concentration[k] = P[8 + k];
    mp.concentrationFit[k] = F[8 + k];
  }
  mp.meniscus = P[13];
  mp.meniscusFit = F[13];
  mp.bottom = P[14];
  mp.bottomFit = F[14];
  if (gModelSelectorFlags.ElectrophoresisLammModel) {
    mp.bottom = mp.meniscus + mp.electrophoresisColumnLength;
    P[14] = mp.bottom;
  }
  mp.baseline = P[15];
  mp.baselineFit = F[15];
  for (int k = 1; k <= kComponentSlots; ++k) {
    mp.extra[k] = P[15 + k];
    mp.extraFit[k] = F[15 + k];
  }
  mp.value20 = P[20];
  mp.value20Fit = F[20];
  mp.value21 = P[21];
  mp.value21Fit = F[21];
  mp.value22 = P[22];
  mp.value22Fit = F[22];
  if (gModelSelectorFlags.ZoneCentrifugationModel) {
    mp.zoneValue = P[23];
    mp.zoneFit = F[23];
  }
  DeriveModelFamilies(false);
}

void FixAllParameters() {
  PackModelParameters();
  for (int i = 1; i <= gModelParams.parameterCount; ++i) gModelParameterVector.F[i] = 0;
  UnpackModelParameters();
}

void AllocParameterArrays() {
  ModelParams& mp = gModelParams;
  for (int k = 1; k <= mp.componentCount; ++k) {
    mp.included[k] = 0;
    mp.concentrationFit[k] = 0;
    mp.concentration[k] = 0;
    mp.massOrDFit[k] = 0;
    mp.massOrD[k] = 0;
    mp.sFit[k] = 0;
    mp.s[k] = 0;
    mp.extraFit[k] = 0;
    mp.extra[k] = 0;
  }
  for (int j = 1; j <= kNonidealTerms; ++j) {
    mp.nonidealTermFit[j] = 0;
    mp.nonidealTerm[j] = kInitialNonidealTerms[j];
  }
  mp.included[1] = 1;
  mp.concentrationFit[1] = 1;
  mp.concentration[1] = 0.5f;
  mp.startTime = 0;
  mp.massOrD[1] = gFitEngineState.molarMassParameters ? 50000.0f : 5.0f;
  mp.massOrDFit[1] = 1;
  mp.s[1] = 4.0f;
  mp.sFit[1] = 1;
  mp.baselineFit = 0;
  mp.baseline = 0;
  mp.value22 = 0;
  mp.value22Fit = 0;
  mp.zoneFit = 0;
  PackModelParameters();
}

void CheckComponentDefaults(ComponentDefaultsContext& context) {
  ModelSelectorFlags& sel = gModelSelectorFlags;
  ModelParams& mp = gModelParams;
  AssociationModelParams& as = gAssociationModelParams;

  if (context.equilibriumMode) {
    if (mp.s[1] == 0.0f) mp.s[1] = 1.0f;
  } else if (sel.EquilibriumModel523) {
    for (int k = 1; k <= 3; ++k)
      if (mp.s[k] == 0.0f) mp.s[k] = 1.0f;
  }

  if (!mp.baselineFit) {
    mp.baselineLinear = 0;
  } else if (!mp.experimentalInitialDistribution) {
    mp.baselineFit = 0;
    mp.baselineLinear = 1;
  } else {
    mp.baselineLinear = 0;
  }
  if (gFitEngineState.fitTINoise) {
    mp.baselineFit = 0;
    mp.value22Fit = 0;
    mp.baselineLinear = 1;
  }
  if (mp.riNoiseFit) mp.baselineLinear = 1;

  if (mp.experimentalInitialDistribution) {
    mp.concentrationFit[1] = 0;
    mp.concentration[1] = 1.0f;
    context.experimentalDistributionDialogSwitch = true;
    gFitEngineState.fitTINoise = 0;
  }

  if (sel.LammDiscreteModel) {
    // The cumulants keep their moments in the slots of species 2 and 3,
    // which the evaluation reads whether or not those species are included:
    // a moment the user floats stays floated.
    if (!sel.DlsCumulantModel) {
      for (int k = 1; k <= 3; ++k) {
        int* held = mp.heldFit[k];
        if (mp.included[k]) {
          if (!mp.concentrationFit[k] && !mp.massOrDFit[k] && !mp.sFit[k]) {
            mp.concentrationFit[k] = held[0];
            mp.massOrDFit[k] = held[1];
            mp.sFit[k] = held[2];
          }
          held[0] = held[1] = held[2] = 0;
          continue;
        }
        if (mp.concentrationFit[k] || mp.massOrDFit[k] || mp.sFit[k]) {
          held[0] = mp.concentrationFit[k];
          held[1] = mp.massOrDFit[k];
          held[2] = mp.sFit[k];
        }
        mp.concentrationFit[k] = 0;
        mp.massOrDFit[k] = 0;
        mp.sFit[k] = 0;
      }
    }
    if (!mp.experimentalInitialDistribution) {
      // Concentrations become linear amplitudes only when every included
      // component has its concentration floated.
      const int lastTested = context.bufferSedimentation ? 3 : 4;
      if (context.bufferSedimentation) {
        mp.massOrDFit[4] = 0;
        mp.sFit[4] = 0;
      }
      bool anyFit = false, allIncludedFit = true;
      int includedCount = 0;
      for (int k = 1; k <= lastTested; ++k) {
        if (mp.concentrationFit[k]) anyFit = true;
        if (mp.included[k]) {
          ++includedCount;
          if (mp.concentrationFit[k] != 1) allIncludedFit = false;
        }
      }
      bool linear = anyFit && allIncludedFit;
      if (context.bufferSedimentation) {
        if (!context.bufferSedimentationFit)
          linear = false;
        else
          mp.concentrationFit[4] = 1;
      } else if (context.dlsData && includedCount > 1 && !context.dlsDataSetSwitch) {
        linear = false;
      }
      if (context.nonidealOption) linear = false;
      mp.concentrationsLinear = linear ? 1 : 0;
      if (linear)
        for (int k = 1; k <= lastTested; ++k)
          if (mp.included[k]) mp.concentrationFit[k] = 0;
    } else {
      mp.concentrationsLinear = 0;
    }
  }

  const bool selfAssociation = sel.AnySelfAssociationModel();
  if (sel.AnyNonidealSpeciesModel() || selfAssociation || sel.Model267 || sel.DistributionModel)
    mp.concentrationsLinear = 0;
  if (selfAssociation) {
    if (mp.experimentalInitialDistribution) {
      mp.concentrationFit[3] = 0;
      mp.concentration[3] = 1.0f;
      as.totalConcentration = 1.0f;
    }
    if (sel.MonomerDimerModel || sel.MonomerTrimerModel) {
      const int n = sel.MonomerDimerModel ? 2 : 3;
      mp.massOrD[2] = DerivedNmerValue(mp.massOrD[1], mp.s[1], mp.s[2], n, mp.massOrD[2]);
    } else if (sel.MonomerTetramerOctamerModel) {
      mp.massOrD[2] = 4.0f * mp.massOrD[1];
      mp.concentration[4] = 8.0f * mp.massOrD[1];
    } else if (sel.MonomerDimerTetramerModel) {
      mp.massOrD[2] = 2.0f * mp.massOrD[1];
      mp.concentration[4] = 4.0f * mp.massOrD[1];
    }
  }
}
