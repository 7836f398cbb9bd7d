// The names a fit's messages and report give the entries of its vector.
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
#include <string>
#include <vector>

std::string FitVectorEntryName(int k) {
  static const char* const kOptionNames[kFitOptionCount + 1] = {
      "", "vbar", "excit. cone", "W-skew", "kbleach", "Alim", "drift", "convolution", "radial mag factor",
      "nonlin coeff", "JO-s", "JO-D", "JO-amp", "JO-Ks", "buffer signal", "buffer D or Mb", "buffer s",
      "meniscus diff (s-r)", "conc. ratio (s/r)", "reference D or Mb", "reference s"};
  const FitOptionEntries options = CurrentFitOptions();
  int count = 0;
  for (int i = 1; i <= kFitOptionCount; ++i)
    if (options.entry[i].present && ++count == k) return kOptionNames[i];
  for (int slot = 1; slot <= kParameterSlots; ++slot) {
    if (!gModelParameterVector.F[slot] || ++count != k) continue;
    // The species table of the discrete species; other models keep other
    // quantities in these slots.
    const std::string species = std::to_string((slot - 1) % 4 + 1);
    if (gModelSelectorFlags.LammDiscreteModel && slot <= 12)
      return slot <= 4 ? (gFitEngineState.molarMassParameters ? "M" : "D") + species
                       : (slot <= 8 ? "s" : "c") + species;
    // The nonideal components' first one and their common ks and kd, as
    // the report labels them.
    if (gModelSelectorFlags.NonidealMultipleSpeciesModel) {
      if (slot == 1) return "D1";
      if (slot == 5) return "s1";
      if (slot == 9) return "c1";
      if (slot == 10) return "log10(ks)";
      if (slot == 11) return "log10(kd)";
    }
    // The single species as the report labels it.
    if (gModelSelectorFlags.NonidealSingleSpeciesModel) {
      const bool hardSphere = gModelSelectorFlags.NonidealVariantModel != 0;
      if (slot == 1) return gFitEngineState.molarMassParameters ? "M" : "D";
      if (slot == 5) return "s";
      if (slot == 9) return "c";
      if (slot == 10) return hardSphere ? "vol.corr." : "log10(ks)";
      if (slot == 11) return hardSphere ? "Baxter t" : "log10(kd)";
    }
    if (slot == 13) return "meniscus";
    if (slot == 14) return "bottom";
    if (slot == 15) return "baseline";
    return "P[" + std::to_string(slot) + "]";
  }
  return {};
}

std::vector<std::string> FitVectorEntryNames(const std::vector<int>& entries) {
  std::vector<std::string> names;
  for (int k : entries) names.push_back(FitVectorEntryName(k));
  return names;
}
