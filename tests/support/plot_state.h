#pragma once
// The plot layer's program-wide records as a fresh process has them: no
// distribution or ad-hoc plot, and the per-scan rmsd table written to the working
// folder rather than into a folder an earlier test made and removed.
#include "plot/adhoc_plot_arrays.h"
#include "plot/distribution_plot.h"
#include "plot/plot_window_set.h"

namespace teststate {

inline void ResetPlotState() {
  DistributionPlotWindow().Destroy();
  // An ad-hoc plot shown by an earlier test would take the next clicks.
  FreeAdHocPlotArrays();
  CurrentAdHocPlot().adHocShown = 0;
  CurrentPlotWindows().scanRmsPath = PlotWindowSet{}.scanRmsPath;
  CurrentPlotWindows().worstScan = 0;
}

}  // namespace teststate
