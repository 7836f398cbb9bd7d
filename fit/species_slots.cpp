#include "fit/species_slots.h"

#include <cmath>

#include "fit/fit_engine_state.h"
#include "fit/model_evaluation_hooks.h"
#include "fit/model_params.h"

namespace {
constexpr double kGasConstant = 8.31451e7;  // erg / (mol K)
}  // namespace

double SpeciesDiffusion(float s, float massOrD) {
  double D;
  if (gFitEngineState.molarMassParameters) {
    const double M = massOrD <= 0.0f ? 1e-10 : massOrD;
    const double RT = kGasConstant * gSolutionConditions.temperature;
    D = s * 1e-13 * RT / ((1.0 - gSolutionConditions.vbarRho) * M);
  } else {
    D = massOrD * 1e-7;
  }
  return std::fabs(D);
}

int FirstIncludedSpecies(int n) {
  for (int k = 1; k <= n; ++k)
    if (gModelParams.included[k]) return k;
  return 0;
}

void ScaleBufferSpecies(FitHost* host, int n, bool algebraic) {
  ModelParams& mp = gModelParams;
  ModelEvaluationHooks& hooks = CurrentModelEvaluationHooks();
  mp.included[n] = 1;
  double& signal = hooks.bufferSignal();
  if (!algebraic) {
    mp.scaleFactor[n] = static_cast<float>(signal);
  } else {
    signal = 1.0;
    mp.scaleFactor[n] = 1.0f;
  }
  hooks.updateBufferSedimentation(host);
}

double SpeciesFraction(int k, int first, int n, bool buffer) {
  const ModelParams& mp = gModelParams;
  double f;
  if (k == first) {
    f = 1.0;
    const int last = buffer ? n - 1 : n;
    for (int q = k + 1; q <= last; ++q)
      if (mp.included[q]) f -= mp.concentration[q];
  } else {
    f = mp.concentration[k];
  }
  return f < 0.0 ? 0.0 : f;
}

double SpeciesAmplitude(int k, int first, double f, bool algebraic) {
  ModelParams& mp = gModelParams;
  double amplitude = f * mp.concentration[first];
  if (algebraic && amplitude == 0.0) amplitude = 1.0;
  mp.scaleFactor[k] = static_cast<float>(amplitude);
  return amplitude;
}
