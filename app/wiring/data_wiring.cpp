#include "app/wiring/data_wiring.h"

#include "app/commands/distribution/distribution_commands.h"
#include "app/plot_events/plot_mouse.h"
#include "app/window/main_window_flags.h"
#include "app/window/road_services.h"
#include "app/window/txla_window.h"
#include "app/window/window_services.h"
#include "data/load_hooks.h"
#include "distributions/conti_models.h"
#include "distributions/conti_settings.h"
#include "distributions/integrate_distribution.h"
#include "platform/diagnostics.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"

void ConnectDataLayerToWindow(TXLAWindow& window) {
  TXLAWindow* w = &window;
  LoadHooks& h = CurrentLoadHooks();

  h.writeDiagnostics = [](const std::string& text) { platform::WriteDiagnostics(text); };

  // A noise subtraction shows the data as they now are: a new zoom level
  // around the fitted range, drawn at once.
  h.pushDataPlotZoom = [](float xMin, float xMax, float yMin, float yMax) {
    PushRangeHistory(DataRange{xMin, xMax, yMin, yMax});
    if (CWINPlot* plot = CurrentPlotWindows().dataPlot) plot->SetRanges(xMin, xMax, yMin, yMax);
    RedrawDataPlot(false);
  };

  // Zoom back after a load must not return to a range of the data before.
  h.startZoomHistory = [] {
    RangeHistory = RangeHistoryRecord{};
    CurrentZoomBand().zoomed = 0;
  };

  // The buffer-mismatch subtraction shows the changed data as "Data Range" does.
  h.showDataRange = [w] { w->CmDataRange(); };

  // Through the response table, so that a command still to come says so
  // under its own name.
  h.saveRawDataSet = [w] { w->Dispatch(263); };

  // The realtime update reruns the window's own commands.
  h.subtractAllNoiseCommand = [w] { w->CmSubtractAllNoise(); };
  // A poll without new files repaints the whole window: the report goes on
  // top of that picture rather than under it.
  h.showLastFitInfo = [] { WindowFlags().FitInfoPending = true; };
  h.toggleDisplayFlag210 = [w] { w->CmToggleDisplayFlag210(); };
  h.integrateDistribution = [](double s1, double s2) {
    float area = 0, mean = 0, total = 0;
    IntegrateDistribution(static_cast<float>(s1), static_cast<float>(s2), &area, &mean, &total);
    return static_cast<double>(area);
  };
  // A realtime reload shows the whole new distribution; a zoom the user set
  // during the update is put back over the new values.
  h.rescaleZoomedDistribution = [w] {
    const RangeSelectionState& sel = RangeSelection();
    if (sel.keepZoom) MaxDistributionValueInRange(*w, sel.zoomX1, sel.zoomX2);
  };
  h.clearDistributionZoom = [] { RangeSelection().keepZoom = false; };
  h.distributionGrid = [](int& size, int& firstIndex) -> const float* {
    const ContiSettings& cs = Conti();
    // Grid point 1 of the models with a leading discrete term is no s value.
    firstIndex = LeadingTermModel() ? 3 : 2;
    size = cs.distribution && cs.sValues ? cs.gridSize : 0;
    return size > 0 ? cs.sValues : nullptr;
  };
}
