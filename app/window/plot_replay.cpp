#include "app/window/plot_replay.h"

#include "equilibrium/eqtools/eq_test_mode.h"
#include "app/window/program_options.h"
#include "app/window/main_window_flags.h"
#include "app/window/road_services.h"
#include "app/window/txla_window.h"
#include "data/scan_set.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/lamm_settings.h"
#include "plot/cwinplot.h"
#include "plot/direct_curve.h"
#include "plot/plot_window_set.h"
#include "platform/draw_surface.h"
#include "platform/metafile.h"

void SetCanvasMapping(platform::DrawContext& dc, int clientWidth, int clientHeight) {
  dc.SetMapMode(platform::MM_ANISOTROPIC);
  dc.SetWindowExt(1400, 1000);
  dc.SetViewportExt(clientWidth, clientHeight);
}

namespace {

bool On(const std::function<bool()>& f) { return f && f(); }

// Replays a metafile that belongs to the caller and deletes it.
void ReplayOwned(platform::DrawContext& dc, platform::HMETAFILE mf) {
  if (!mf) return;
  platform::PlayMetaFile(dc, mf);
  platform::DeleteMetaFile(mf);
}

template <typename Draw>
void OnMappedClient(TXLAWindow& window, Draw draw) {
  platform::DrawSurface* surface = window.Frame().Surface();
  if (!surface) return;
  {
    auto dc = surface->ClientDC();
    SetCanvasMapping(*dc, window.Frame().ClientWidth(), window.Frame().ClientHeight());
    draw(*dc);
  }
  window.Frame().FlushCanvas();
}

template <typename Draw>
void OnPixelClient(TXLAWindow& window, Draw draw) {
  platform::DrawSurface* surface = window.Frame().Surface();
  if (!surface) return;
  {
    auto dc = surface->ClientDC();
    draw(*dc);
  }
  window.Frame().FlushCanvas();
}

}  // namespace

void DrawDataPlotOverlays(platform::DrawContext& dc) {
  CWINPlot* plot = Road().dataPlot ? Road().dataPlot() : nullptr;
  if (!plot) return;
  ScanSet& s = CurrentScanSet();
  if (On(Road().showModelCurves)) {
    for (int k = 1; k <= s.count; ++k) {
      const int i = static_cast<int>(s.order.size()) > k ? s.order[k] : k;
      if (static_cast<int>(s.modelCurve.size()) <= i || !s.modelCurve[i]) continue;
      const platform::COLORREF colour = Road().scanColor ? Road().scanColor(k) : 0;
      ReplayOwned(dc, DrawCurveInWindow(plot, s.modelCurve[i], colour, -1, plot->symbolSize));
    }
  }
  if (gFitEngineState.fitTINoise && s.tiNoise && s.grid && s.gridLength > 0)
    ReplayOwned(dc, PlotFloatArrays(plot, s.grid, s.tiNoise, s.gridLength, 0, -1, plot->symbolSize));
  if (LammSettings().experimentalInitialDistribution && s.initialData.points > 0 && s.initialData.radii)
    ReplayOwned(dc, PlotFloatArrays(plot, s.initialData.radii, s.initialData.signals, s.initialData.points,
                                    0x00FF00, -1, plot->symbolSize));
}

void PaintDataPlot(TXLAWindow& window) {
  CWINPlot* plot = Road().dataPlot ? Road().dataPlot() : nullptr;
  if (!plot || !On(Road().showData)) return;
  OnMappedClient(window, [&](platform::DrawContext& dc) {
    if (plot->lastMetafile) platform::PlayMetaFile(dc, plot->lastMetafile);
  });
  if (Road().drawDataScreenMarkers)
    OnPixelClient(window, [&](platform::DrawContext& dc) { Road().drawDataScreenMarkers(dc, false); });
  OnMappedClient(window, [&](platform::DrawContext& dc) { DrawDataPlotOverlays(dc); });
}

void PaintResidualPlots(TXLAWindow& window) {
  CWINPlot* plot = Road().residualPlot ? Road().residualPlot() : nullptr;
  if (!plot) return;
  OnMappedClient(window, [&](platform::DrawContext& dc) {
    if (plot->lastMetafile) platform::PlayMetaFile(dc, plot->lastMetafile);
  });
  if (On(Road().showResidualsBitmap) && !CurrentDataTypeFlags().dls && Road().drawResidualsBitmap)
    Road().drawResidualsBitmap();
  // The histogram follows the residuals drawn, also between the steps of a fit.
  if (Options().ShowResidualsHistogram && !CurrentDataTypeFlags().dls && !EqTestModeOn()) {
    UpdateResidualBitmap(true);
    CWINPlot* histogram = Road().residualBitmapPlot ? Road().residualBitmapPlot() : nullptr;
    OnMappedClient(window, [&](platform::DrawContext& dc) {
      if (histogram && histogram->lastMetafile) platform::PlayMetaFile(dc, histogram->lastMetafile);
    });
  }
}

void PaintDistributionPlot(TXLAWindow& window) {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  if (!(m.DistributionModel || m.SedTransformModel) || !Road().redrawDistributionPlot) return;
  OnMappedClient(window, [&](platform::DrawContext& dc) { platform::PlayMetaFile(dc, Road().redrawDistributionPlot()); });
}
