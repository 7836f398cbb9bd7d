// Which chosen models Run and Fit cannot compute in this program yet: the
// distributions of equilibrium data. Their commands still choose them; Run
// and Fit say that the computation is missing instead of computing
// sedimentation-velocity kernels.
#include "app/model_commands.h"
#include "data/scan_set.h"
#include "fit/model_selector.h"

bool ModelNeedsUnbuiltComputation() {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  return m.DistributionModel && !m.SedTransformModel && CurrentScanSet().equilibriumMode;
}
