#include "lamm/global/global_solvent.h"

SolventGradientSettings& CurrentSolventGradientSettings() {
  static SolventGradientSettings settings;
  return settings;
}

LocalSolventFactors& CurrentLocalSolventFactors() {
  static LocalSolventFactors factors;
  return factors;
}

CosoluteState& CurrentCosolute() {
  static CosoluteState state;
  return state;
}
