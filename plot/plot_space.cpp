#include "plot/plot_space.h"

#include <cmath>

int PlotSpaceWidth() {
  // Formed from the single-precision constants in wider precision: 1399.
  return static_cast<int>(std::floor(static_cast<double>(PlotXStretch) * static_cast<double>(PlotUnits)));
}

int PlotSpaceHeight() { return static_cast<int>(std::floor(PlotUnits)); }
