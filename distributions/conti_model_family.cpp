#include "distributions/conti_model_family.h"

#include "data/scan_set.h"
#include "distributions/conti_run_hooks.h"
#include "distributions/conti_settings.h"
#include "fit/model_selector.h"

namespace {
const ModelSelectorFlags& F() { return gModelSelectorFlags; }
}  // namespace

bool DlsDistributionModel() { return F().AnyDlsDistributionModel(); }

bool TwoDimensionalModel() { return F().AnyCsff0Model(); }

bool LsgModel() { return F().AnyLsgModel(); }

bool SBasedModel() { return F().GridIsS(); }

bool MassGridModel() { return F().GridIsMass(CurrentDataTypeFlags().dls != 0); }

bool LeadingTermModel() {
  return F().FirstPointOutsideDistribution(ContiHooks().bufferCorrection, Conti().hybridDiscrete != 0);
}

bool GridIsOwnMass() {
  const ModelSelectorFlags& f = F();
  return f.ElectrophoresisLsgModel || f.ElectrophoresisCVModel || f.ZoneCentrifugationLsgModel;
}
