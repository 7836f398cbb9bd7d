#include "distributions/model_molar_mass.h"

#include "distributions/conti_settings.h"
#include "distributions/hydrodynamics.h"
#include "distributions/ms_table.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"

float MolarMassUnderModel(float s) {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  const ContiSettings& cs = Conti();
  const float celsius = gSolutionConditions.temperature - kAbsoluteZero;
  float M = CalculateM(s);
  if (m.AnyBimodalCsModel()) {
    if (cs.secondFfSMin <= s && s <= cs.secondFfSMax) M = CalculateMff02(s, cs.secondFf);
  } else if (m.GeneralScalingLawCSModel) {
    M = MFromSPowerLaw(s);
  } else if (m.WormlikeChainCSModel) {
    M = CalculateMofSforWormLikeChain(s);
  } else if (m.CSWithMsTableModel) {
    M = static_cast<float>(InterpolateSMTable(s));
  } else if (m.ConformationalChangeCSModel) {
    if (cs.conformationSMin <= s && s <= cs.conformationSMax) M = cs.conformationM;
  } else if (m.CSInvariantDModel) {
    // The Svedberg relation is symmetric in D and M.
    M = DFromSM(s, cs.invariantD * 1e-7f, celsius);
  }
  return M;
}
