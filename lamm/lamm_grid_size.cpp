#include "lamm/lamm_grid_size.h"

void PutDistributionGridSize(LammGridSize& g) {
  if (!g.replaced) g.replaced = g.inUse;
  g.inUse = g.distribution;
}

void GiveBackGridSize(LammGridSize& g) {
  if (!g.replaced) return;
  g.inUse = *g.replaced;
  g.replaced.reset();
}

bool DistributionGridSizeInUse(const LammGridSize& g) { return g.replaced.has_value(); }

void SetGridSizeSetting(LammGridSize& g, std::int32_t n) {
  g.setting = g.inUse = n;
  if (g.replaced) g.replaced = g.distribution = n;
}

std::int32_t SavedGridSize(const LammGridSize& g) { return g.replaced ? g.distribution : g.setting; }

void TakeSavedGridSize(LammGridSize& g, std::int32_t n) {
  g.inUse = n;
  if (g.replaced) g.distribution = n;
}
