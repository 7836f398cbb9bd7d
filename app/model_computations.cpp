// Which chosen models Run and Fit cannot compute in this program yet: the
// distributions of electrophoresis. Their commands still choose them; Run
// and Fit say that the computation is missing instead of computing a
// sector-shaped cell.
#include "app/model_commands.h"
#include "fit/model_selector.h"

bool ModelNeedsUnbuiltComputation() {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  return m.ElectrophoresisLsgModel || m.ElectrophoresisCVModel;
}
