#include "distributions/conti_models.h"

#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "fit/model_selector.h"

namespace {
const ModelSelectorFlags& F() { return gModelSelectorFlags; }
}  // namespace

bool DlsDistributionModel() {
  return F().DlsIRhModel || F().DlsIRhTimeCourseModel || F().DlsIDModel;
}

bool TwoDimensionalModel() { return F().CSff0Model || F().CSff0With1DiscreteModel; }

bool LsgModel() {
  return F().LsgStarModel || F().LsgStarWith1DiscreteModel || F().HybridCSLsgModel;
}

bool SBasedModel() {
  const ModelSelectorFlags& f = F();
  return f.CSModel || f.ElectrophoresisCVModel || f.ConformationalChangeCSModel ||
         f.FixFF0FloatingVbarCSModel || f.GeneralScalingLawCSModel || f.WormlikeChainCSModel ||
         f.BimodalFF0CSModel || f.BimodalFF0With1DiscreteCSModel || f.CSWith1DiscreteModel ||
         f.CSWith1DiscreteComponent || f.CSWithMsTableModel || f.CSInvariantDModel ||
         f.NonidealCSModel || f.CSModel521 || LsgModel() || TwoDimensionalModel() ||
         f.ZoneCentrifugationCSModel || f.ZoneCentrifugationLsgModel || f.ElectrophoresisLsgModel;
}

bool MassGridModel() {
  return !SBasedModel() && !DlsDistributionModel() && !CurrentDataTypeFlags().dls;
}

bool LeadingTermModel() {
  const ModelSelectorFlags& f = F();
  return f.LsgStarWith1DiscreteModel || f.CSWith1DiscreteModel || f.CSWith1DiscreteComponent ||
         f.BimodalFF0With1DiscreteCSModel || f.CSWithMsTableModel || f.NonidealCSModel ||
         (f.HybridCSLsgModel && Conti().hybridDiscrete);
}

bool GridIsOwnMass() {
  const ModelSelectorFlags& f = F();
  return f.ElectrophoresisLsgModel || f.ElectrophoresisCVModel || f.ZoneCentrifugationLsgModel;
}
