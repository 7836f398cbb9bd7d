#pragma once
// The plot layer's program-wide records as a fresh process has them: no
// distribution plot, and the per-scan rmsd table written to the working
// folder rather than into a folder an earlier test made and removed.
#include "plot/distribution_plot.h"
#include "plot/plot_window_set.h"

namespace teststate {

inline void ResetPlotState() {
  DistributionPlotWindow().Destroy();
  CurrentPlotWindows().scanRmsPath = PlotWindowSet{}.scanRmsPath;
  CurrentPlotWindows().worstScan = 0;
}

}  // namespace teststate
