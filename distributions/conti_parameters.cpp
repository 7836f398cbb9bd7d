#include "distributions/conti_parameters.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "distributions/conti_model_store.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "platform/user_interface.h"

namespace {

// Relative viscosity = viscosity in poise / 0.01002 (water at 20 degC),
// taken as the product with 99.8004 like every other reader of P[12].
constexpr float kPerPoise = 99.8004f;
constexpr float kWaterPoise = 0.01002f;

uint8_t Flag(int f) { return f != 0 ? 1 : 0; }

// The record field that slot i of P[] and F[] mirrors (slots 1-19).
struct SlotMirror {
  float* value = nullptr;
  int* fit = nullptr;
};
SlotMirror Mirror(int i) {
  ModelParams& mp = gModelParams;
  if (i >= 1 && i <= 4) return {&mp.massOrD[i], &mp.massOrDFit[i]};
  if (i >= 5 && i <= 8) return {&mp.s[i - 4], &mp.sFit[i - 4]};
  if (i >= 9 && i <= 12) return {&mp.concentration[i - 8], &mp.concentrationFit[i - 8]};
  if (i >= 16 && i <= 19) return {&mp.extra[i - 15], &mp.extraFit[i - 15]};
  return {};
}

// A slot the derivation corrects is corrected in its record field too:
// the next pack copies the records into P[] and must not bring back the
// value just refused.
void SetSlot(int i, float value) {
  gModelParameterVector.P[i] = value;
  if (float* v = Mirror(i).value) *v = value;
}
void SetSlotFit(int i, int fit) {
  gModelParameterVector.F[i] = fit;
  if (int* f = Mirror(i).fit) *f = fit;
}

// The discrete component's second value: the run takes a diffusion
// coefficient (1e-7 cm^2/s) in the plain one-discrete model and a molar mass
// (Da) everywhere else.
void SetDiscreteSecondValue(float value, int fit) {
  const ModelSelectorFlags& f = gModelSelectorFlags;
  ContiSettings& cs = Conti();
  if (f.CSWith1DiscreteModel && !f.CSWith1DiscreteComponent) {
    cs.discreteD = value;
    cs.fitDiscreteD = Flag(fit);
  } else {
    cs.discreteM = value;
    cs.fitDiscreteM = Flag(fit);
  }
}

void SetDiscreteS(float s, int fit) {
  Conti().discreteS = s;
  Conti().fitDiscreteS = Flag(fit);
}

// ls-g*(s) area fractions extrapolated over 1/sqrt(t): only the g*(s) grid
// and the van Holde-Weischet settings.
void DeriveExtrapolation(float* P) {
  ContiSettings& cs = Conti();
  LsgExtrapolationSettings& x = LsgExtrapolation();
  cs.resolution = std::floor(P[9]);
  cs.confidenceLevel = P[2];
  cs.sMin = P[1];
  cs.sMax = P[5];
  const int limit = static_cast<int>(cs.resolution);
  x.vhwResolution = static_cast<int>(std::floor(P[11]));
  if (x.vhwResolution > limit) {
    x.vhwResolution = limit;
    SetSlot(11, static_cast<float>(limit));
  }
  x.scansPerGStar = static_cast<int>(std::floor(P[3]));
}

// Density and viscosity from P[7] and P[12], unless a solvent gradient fixes them.
void DeriveSolvent(float* P) {
  SolutionConditions& sol = gSolutionConditions;
  if (!ContiSolventGradient()) {
    sol.density = P[7];
    sol.vbarRho = sol.vbar * sol.density;
    sol.viscosity = P[12] * kPerPoise;
    return;
  }
  // The stored poise value is a float: compare with the precision it can hold.
  const double viscosity = static_cast<double>(P[12]) * kPerPoise;
  const bool densityChanged = std::fabs(static_cast<double>(P[7]) - sol.density) > 1e-7;
  const bool viscosityChanged =
      std::fabs(viscosity - sol.viscosity) > 1e-7 * std::max(1.0, std::fabs(viscosity));
  if (densityChanged || viscosityChanged)
    platform::Tell("Parameter Error", "standard conditions cannot be changed - switch off solvent gradient",
                   platform::BoxIcon::Warning);
  SetSlot(7, sol.density);
  sol.vbarRho = sol.vbar * sol.density;
  SetSlot(12, sol.viscosity * kWaterPoise);
}

// The f/f0 axis of c(s,f/f0). The counts that size the 2-D arrays follow
// the request only while none are allocated: the grid set-up of the next run
// rebuilds the arrays for the new request, and nothing may read the arrays
// of the old one past their end in between.
void DeriveFfAxis(const float* P) {
  ContiSettings& cs = Conti();
  cs.ffMin = P[10];
  cs.ffMax = P[6];
  cs.ffResolution = std::floor(P[8]);
  if (DistArrays().allocated2D == 0 && DistArrays().allocatedFf == 0) {
    cs.ffCount = static_cast<int32_t>(cs.ffResolution);
    cs.grid2DSize = static_cast<int32_t>(cs.ffResolution * cs.resolution);
  }
}

}  // namespace

bool& ContiSolventGradient() {
  static bool on = false;
  return on;
}

LsgExtrapolationSettings& LsgExtrapolation() {
  static LsgExtrapolationSettings x;
  return x;
}

void RegisterContiParameterDerivation() { RegisterParameterDerivation(DeriveContiParameters); }

void DeriveContiParameters(bool packing) {
  const ModelSelectorFlags& f = gModelSelectorFlags;
  ModelParams& mp = gModelParams;
  float* P = gModelParameterVector.P;
  int* F = gModelParameterVector.F;
  ContiSettings& cs = Conti();
  SolutionConditions& sol = gSolutionConditions;

  // In the discrete-species models F[3] and F[4] are fit flags of their own:
  // the grid switches go there only for a distribution.
  if (packing && f.DistributionModel && (f.NonidealCSModel || f.ConcDependentSolverSwitch)) {
    SetSlotFit(3, cs.gridFromFile);
    SetSlotFit(4, cs.logSpacedGrid);
  }
  if (f.LsgExtrapolationModel) {
    DeriveExtrapolation(P);
    return;
  }
  if (!f.DistributionModel) return;

  cs.resolution = std::floor(P[9]);
  cs.confidenceLevel = P[2];
  cs.sMin = P[1];
  cs.sMax = P[5];
  if (!packing) cs.ffValue = P[11];
  if (f.FixFF0FloatingVbarCSModel) {
    cs.fitFfValue = 0;
    ContiStore().vbarFit = static_cast<float>(F[11]);
    cs.ffValue = P[3];
    sol.vbar = P[11];
  } else if (f.GeneralScalingLawCSModel || f.FMScalingLawModel) {
    cs.fitFfValue = 0;
    cs.scalingKs = P[11];
    cs.fitScalingKs = Flag(F[11]);
    cs.scalingBs = P[18];
    SetSlotFit(18, 0);
    if (f.FMScalingLawModel) cs.fitScalingBs = Flag(F[10]);
  } else if (f.WormlikeChainCSModel) {
    cs.fitFfValue = 0;
    cs.wormPersistenceLength = P[11];
    cs.fitWormPersistenceLength = Flag(F[11]);
    sol.vbar = P[3];
  } else {
    cs.fitFfValue = Flag(F[11]);
    // In c(v) the third value is the constant D, not a vbar.
    if (!f.ElectrophoresisCVModel) sol.vbar = P[3];
    cs.ffValue = P[11];
  }

  DeriveSolvent(P);
  sol.hydration = P[4];
  if (packing && mp.reloadGridFlag) {
    // The grid switch saved with the parameters wins once over the dialog's box.
    SetSlotFit(4, cs.logSpacedGrid);
    mp.reloadGridFlag = 0;
  } else {
    cs.logSpacedGrid = Flag(F[4]);
  }
  // c(v) keeps the fit flag of its constant D in F[3]; its grid is never read from a file.
  if (!f.ElectrophoresisCVModel) cs.gridFromFile = Flag(F[3]);

  if (f.ElectrophoresisCVModel) {
    cs.constantD = P[3];
    cs.fitConstantD = Flag(F[3]);
  }
  if (f.ConformationalChangeCSModel) {
    cs.conformationM = P[10];
    cs.conformationSMin = P[6];
    cs.conformationSMax = P[8];
  }
  if (f.AnyCsff0Model()) {
    DeriveFfAxis(P);
    if (f.CSff0With1DiscreteModel) {
      SetDiscreteSecondValue(P[16], F[16]);
      SetDiscreteS(P[17], F[17]);
    }
  }
  if (f.AnyBimodalCsModel()) {
    cs.secondFf = P[10];
    cs.secondFfSMin = P[6];
    cs.secondFfSMax = P[8];
    cs.fitSecondFf = Flag(F[6]);
    if (f.BimodalFF0With1DiscreteCSModel) {
      SetDiscreteSecondValue(P[16], F[16]);
      SetDiscreteS(P[17], F[17]);
    }
  }
  if (f.WormlikeChainCSModel) {
    cs.wormCrossSection = P[10];
    cs.wormMonomerMass = P[6];
    cs.wormHydration = P[8];
  }
  if (f.HybridCSLsgModel) {
    // The hybrid's dialog offers "ls-g*(s) for s >" in P[10] and, like the
    // bimodal model it is built on, the optional discrete species in P[16]
    // (M) and P[17] (s): without a threshold every grid point would be a
    // step function and the hybrid nothing but ls-g*(s). A species needs
    // both its M and its s; either 0 leaves it out.
    cs.hybridThreshold = P[10];
    cs.hybridDiscrete = P[16] > 0.0f && P[17] > 0.0f ? 1 : 0;
    if (cs.hybridDiscrete) {
      SetDiscreteSecondValue(P[16], F[16]);
      SetDiscreteS(P[17], F[17]);
    }
  }
  if (f.CSWith1DiscreteModel || f.CSWithMsTableModel || f.CSWith1DiscreteComponent ||
      f.NonidealCSModel || f.LsgStarWith1DiscreteModel) {
    SetDiscreteSecondValue(P[10], F[10]);
    SetDiscreteS(P[6], F[6]);
  }
  if (f.CSInvariantDModel) {
    if (P[11] == 0.0f) {
      platform::Tell(
          "Warning",
          "diffusion coefficient must be positive, current entry could cause crash\nhas been changed to 1e-10!",
          platform::BoxIcon::Warning);
      SetSlot(11, 0.001f);
    }
    cs.invariantD = P[11];
    cs.fitInvariantD = Flag(F[11]);
  }
  if (f.CSModel521) cs.ffValue = P[11];
  if (f.DlsIRhTimeCourseModel) cs.timeCourseWindowMinutes = P[11];
}
