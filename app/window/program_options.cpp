#include "app/window/program_options.h"

#include "plot/plot_window_set.h"
#include "plot/residual_bitmap.h"

std::string WizardFooter;

ProgramOptions& Options() {
  static ProgramOptions options;
  return options;
}

void SyncPlotPreferences() {
  const ProgramOptions& o = Options();
  PlotWindowSet& w = CurrentPlotWindows();
  w.updateBitmapDuringFit = o.FitRedrawResidualsBitmap;
  w.updateResidualsDuringFit = o.FitRedrawResidualsPlot;
  w.updateDataDuringFit = o.FitRedrawDataPlot;
  w.updateDistributionDuringFit = o.FitRedrawDistributionPlot;
  w.fitRedrawInterval = o.FitUpdateInterval > 0 ? o.FitUpdateInterval : 1.0f;
  w.colorByTime = o.ScanColorFromTime;
  w.showHistogram = o.ShowResidualsHistogram;
  CurrentPeakBand().errorPropagation = o.ErrorPropagationToSw;
}
