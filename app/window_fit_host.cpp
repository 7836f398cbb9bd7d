#include "app/window_fit_host.h"

#include "app/main_window_flags.h"
#include "app/markers.h"
#include "app/plot_replay.h"
#include "app/road_services.h"
#include "app/txla_window.h"
#include "app/window_services.h"
#include "fit/model_evaluation.h"
#include "platform/draw_surface.h"

namespace {
WindowFitHost* gHost = nullptr;
}

WindowFitHost* MainFitHost() { return gHost; }
void SetMainFitHost(WindowFitHost* host) { gHost = host; }

void WindowFitHost::SimulateModel() { ::SimulateModel(this); }

bool WindowFitHost::HasPlotWindows() const {
  // Until the plots of the window are part of the build, the window itself
  // is what a fit draws into.
  if (!Road().dataPlot) return true;
  return Road().dataPlot() != nullptr;
}

bool WindowFitHost::DrawingEnabled() const { return true; }

void WindowFitHost::DrawText(int x, int y, const std::string& text) {
  platform::DrawSurface* surface = window_.Frame().Surface();
  if (!surface || !WindowFlags().WindowPainted) return;
  {
    auto dc = surface->ClientDC();
    dc->TextOut(x, y, text);
  }
  window_.Frame().FlushCanvas();
}

void WindowFitHost::RedrawFitProgress() {
  PaintDataPlot(window_);
  PaintResidualPlots(window_);
  RedrawPlotMarkers(window_);
  window_.Frame().FlushCanvas();
}

void WindowFitHost::DrawFitCurves() { RedrawFitProgress(); }

void WindowFitHost::RequestRepaint() { ::RequestRepaint(window_); }
