#include "plot/fit_redraw.h"

#include <cmath>
#include <cstdint>

#include "platform/clock.h"
#include "plot/plot_window_set.h"
#include "plot/residual_bitmap.h"

void RedrawFitProgress() {
  PlotWindowSet& w = CurrentPlotWindows();
  if (!w.updateBitmapDuringFit && !w.updateResidualsDuringFit && !w.updateDataDuringFit &&
      !w.updateDistributionDuringFit)
    return;
  const auto now = static_cast<std::uint32_t>(platform::Clock().TickCountMs());
  const bool first = !w.fitRedrawStarted;
  if (!first) {
    const double interval = std::floor(static_cast<double>(w.fitRedrawInterval) * 1000.0);
    // Modular difference: the tick count wraps after 49 days.
    if (!(static_cast<double>(static_cast<std::uint32_t>(now - w.lastFitRedraw)) > interval)) return;
  }
  w.fitRedrawStarted = 1;
  const PlotWindowHooks& h = PlotHooks();
  if (w.updateDataDuringFit && h.paintDataPlot) h.paintDataPlot();
  if (w.updateResidualsDuringFit && h.paintResidualPlots) h.paintResidualPlots();
  if (w.updateBitmapDuringFit) {
    if (platform::DrawSurface* surface = h.surface ? h.surface() : nullptr) DrawResidualsBitmap(*surface);
  }
  if (w.updateDistributionDuringFit && h.paintDistributionPlot) h.paintDistributionPlot();
  if (h.flush) h.flush();
  w.lastFitRedraw = first ? now : static_cast<std::uint32_t>(platform::Clock().TickCountMs());
}
