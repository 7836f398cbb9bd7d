// The left button and the pointer over the plots of the main window: a
// press picks up a radius marker (or stops a running computation), the
// pointer drags its cursor line, the release drops it for confirmation.
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "app/marker_moves.h"
#include "app/markers.h"
#include "app/mstar_screen.h"
#include "app/plot_mouse.h"
#include "app/pointer_hit_tests.h"
#include "app/road_services.h"
#include "app/txla_window.h"
#include "app/startup.h"
#include "app/window_services.h"
#include "plot/cwinplot.h"
#include "platform/draw_surface.h"
#include "platform/frame_window.h"
#include "platform/input_events.h"

namespace {

bool AdHocPlotShown() { return Road().otherScreenShown && Road().otherScreenShown(); }
bool MStarShown() { return Road().mStarScreenShown && Road().mStarScreenShown(); }

// Markers tested at a press, first hit wins.
constexpr MarkerKind kPickUpOrder[kMarkerCount] = {
    MarkerKind::LeftFitLimit, MarkerKind::RightFitLimit, MarkerKind::Meniscus,
    MarkerKind::MeniscusMin,  MarkerKind::MeniscusMax,   MarkerKind::Bottom,
    MarkerKind::BottomMin,    MarkerKind::BottomMax,     MarkerKind::ReferenceMeniscus,
};

// Window pixels to the data units of a plot, through the 1400 x 1000 layout.
float DataX(const TXLAWindow& w, const CWINPlot& plot, int px) {
  const int ux = w.ClientWidthF > 0 ? static_cast<int>(px * 1.4f * 1000 / w.ClientWidthF) : 0;
  return (ux - plot.xOffset) / plot.xScale;
}
float DataY(const TXLAWindow& w, const CWINPlot& plot, int py) {
  const int uy = w.ClientHeightF > 0 ? static_cast<int>(py * 1000 / w.ClientHeightF) : 0;
  return (uy - plot.yOffset) / plot.yScale;
}

}  // namespace

// The first guards of every button handler: an ad-hoc plot over the window
// takes no clicks, and a click during Run or Fit only asks it to stop.
static bool ButtonBlocked(const TXLAWindow& w) {
  if (AdHocPlotShown()) return true;
  if (w.RunBusy || w.FitBusy) {
    platform::StopFlag() = true;
    return true;
  }
  return false;
}

ZoomBand& CurrentZoomBand() {
  static ZoomBand band;
  return band;
}

void TXLAWindow::EvLButtonDown(unsigned, int x, int y) {
  if (ButtonBlocked(*this)) return;
  PlotMouseHooks& hooks = MouseHooks();
  const int width = frame_->ClientWidth(), height = frame_->ClientHeight();
  if (hooks.pointerModeLButtonDown && hooks.pointerModeLButtonDown(x, y)) return;
  if (MStarShown() && width > 0 && height > 0 &&
      MStarScreenClick(*this, std::floor(1000.0f * x / width), std::floor(1000.0f * y / height)))
    return;
  if (hooks.pressScreenButtons && width > 0 && height > 0 &&
      hooks.pressScreenButtons(std::floor(1000.0f * x / width), std::floor(1000.0f * y / height)))
    return;
  MarkerDragState& d = MarkerDrag();
  if (d.awaitingConfirmation) {
    MoveMarkers(false);
    return;
  }
  if (!ZoomDragging && IsPointerInPlotRange(*this, x, y) && MarkerPlot()) {
    for (int k = 0; k < kMarkerCount; ++k) d.column[k] = MarkerColumn(*this, MarkerValue(static_cast<MarkerKind>(k)));
    for (MarkerKind kind : kPickUpOrder) {
      const int k = static_cast<int>(kind);
      if (std::abs(x - d.column[k]) < d.hitTolerance) {
        d.selected[k] = 1;
        break;
      }
    }
    for (std::uint8_t selected : d.selected) {
      if (!selected) continue;
      d.dragging = 1;
      MarkerSettings().cursorLineShown = true;
      DrawCursorMarkerXor(*this, x, false);
      if (hooks.mouseTrackReset) hooks.mouseTrackReset();
      if (hooks.mouseTrackAdd) hooks.mouseTrackAdd(x, y);
      return;
    }
  }
  if (hooks.pointReadout) hooks.pointReadout(x, y);
}

void TXLAWindow::EvMouseMove(unsigned, int x, int y) {
  if (RunBusy || FitBusy) {
    platform::StopFlag() = true;
    return;
  }
  if (AdHocPlotShown() || !MarkerPlot()) return;
  MarkerDragState& d = MarkerDrag();
  if (d.dragging) {
    PlotMouseHooks& hooks = MouseHooks();
    if (!d.awaitingConfirmation && hooks.mouseTrackAdd) hooks.mouseTrackAdd(x, y);
    DrawCursorMarkerXor(*this, x, true);
    d.dropX = x;
    MarkerSettings().cursorRadius = RadiusAtColumn(*this, x);
    return;
  }
  ZoomBand& band = CurrentZoomBand();
  if (ZoomDragging && band.started && band.dataZoom) {
    band.current = {x, y};
    DrawCursorLineXor(*this, band.start.x, band.start.y, band.previous.x, band.previous.y);
    DrawCursorLineXor(*this, band.start.x, band.start.y, x, y);
    band.previous = band.current;
    if (x > band.rightmost.x) band.rightmost.x = x;
    if (x < band.leftmost.x) band.leftmost.x = x;
  }
}

void TXLAWindow::EvLButtonUp(unsigned, int x, int y) {
  if (ButtonBlocked(*this)) return;
  PlotMouseHooks& hooks = MouseHooks();
  if (hooks.pointerModeLButtonUp && hooks.pointerModeLButtonUp(x, y)) return;
  MarkerDragState& d = MarkerDrag();
  if (ZoomDragging || !d.dragging) return;
  d.dragging = 0;
  d.dropX = x;
  MarkerSettings().cursorRadius = RadiusAtColumn(*this, x);
  d.flickEnded = 0;
  if (!d.awaitingConfirmation) {
    if (hooks.mouseTrackAdd) hooks.mouseTrackAdd(x, y);
    ReleaseDraggedMarker();
  }
  // A key that ended the slide applied or discarded the edit already; an
  // applied meniscus or bottom may have opened its limits question, which
  // must stay answerable.
  if (d.flickEnded) return;
  d.awaitingConfirmation = 1;
  if (MStarShown()) {
    // The M* screen takes a dropped marker at once.
    MoveMarkers(true);
    return;
  }
  bool anySelected = false;
  for (std::uint8_t selected : d.selected) anySelected = anySelected || selected;
  if (anySelected && hooks.showMarkerConfirmButtons) hooks.showMarkerConfirmButtons(d.dropX, y, false);
}

void TXLAWindow::EvRButtonDown(unsigned, int x, int y) {
  if (ButtonBlocked(*this)) return;
  PlotMouseHooks& hooks = MouseHooks();
  if (hooks.pointerModeRButtonDown && hooks.pointerModeRButtonDown(x, y)) return;
  if (!MarkerPlot() || ZoomDragging) return;
  ZoomBand& band = CurrentZoomBand();
  band.start = band.current = band.previous = band.rightmost = band.leftmost = {x, y};
  ZoomDragging = true;
  band.distributionSelection = 0;
  band.dataZoom = IsPointerInPlotRange(*this, x, y) ? 1 : 0;
  if (!band.dataZoom) return;
  band.started = 1;
  frame_->SetCursor(platform::CursorKind::Cross);
  if (platform::DrawSurface* surface = frame_->Surface()) ZoomDC = surface->ClientDC().release();
}

void TXLAWindow::EvRButtonUp(unsigned, int x, int y) {
  if (ButtonBlocked(*this)) return;
  PlotMouseHooks& hooks = MouseHooks();
  if (hooks.pointerModeRButtonUp && hooks.pointerModeRButtonUp(x, y)) return;
  CWINPlot* plot = MarkerPlot();
  if (!plot) return;
  MarkerDragState& d = MarkerDrag();
  if (ZoomDragging) {
    ZoomBand& band = CurrentZoomBand();
    DrawCursorLineXor(*this, band.start.x, band.start.y, band.current.x, band.current.y);
    const int xmin = std::min(band.start.x, band.current.x), xmax = std::max(band.start.x, band.current.x);
    const int ymin = std::min(band.start.y, band.current.y), ymax = std::max(band.start.y, band.current.y);
    if (MStarRangeRequestPending()) {
      // The M* screen asked for a range: the drag gives it instead of zooming.
      MStarRangeDragEnded(*this, band.start.x, x);
    } else if (xmax - xmin > 10 && band.dataZoom) {
      // Window y grows downwards: the band's bottom is the data minimum.
      const DataRange range{DataX(*this, *plot, xmin), DataX(*this, *plot, xmax), DataY(*this, *plot, ymax),
                            DataY(*this, *plot, ymin)};
      PushRangeHistory(range);
      plot->SetRanges(range.xMin, range.xMax, range.yMin, range.yMax);
      plot->Plot();
      band.zoomed = 1;
      platform::RequestRepaint();
    }
    frame_->SetCursor(MStarRangeRequestPending() ? platform::CursorKind::Cross : platform::CursorKind::Arrow);
    delete static_cast<platform::DrawContext*>(ZoomDC);
    ZoomDC = nullptr;
    ZoomDragging = false;
    band.started = band.dataZoom = band.distributionSelection = 0;
    if (d.awaitingConfirmation) d.dropX = MarkerColumn(*this, MarkerSettings().cursorRadius);
  }
  if (d.awaitingConfirmation && d.meniscusLimitsFollow) MoveMarkers(false);
}
