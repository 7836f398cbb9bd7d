// The left button and the pointer over the plots of the main window: a
// press picks up a radius marker (or stops a running computation), the
// pointer drags its cursor line, the release drops it for confirmation.
#include <cmath>
#include <cstdlib>

#include "app/marker_moves.h"
#include "app/markers.h"
#include "app/pointer_hit_tests.h"
#include "app/road_services.h"
#include "app/txla_window.h"
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

}  // namespace

void TXLAWindow::EvLButtonDown(unsigned, int x, int y) {
  if (AdHocPlotShown()) return;
  if (RunBusy || FitBusy) {
    platform::StopFlag() = true;
    return;
  }
  PlotMouseHooks& hooks = MouseHooks();
  const int width = frame_->ClientWidth(), height = frame_->ClientHeight();
  if (hooks.pointerModeLButtonDown && hooks.pointerModeLButtonDown(x, y)) return;
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
  if (!d.dragging) return;
  PlotMouseHooks& hooks = MouseHooks();
  if (!d.awaitingConfirmation && hooks.mouseTrackAdd) hooks.mouseTrackAdd(x, y);
  DrawCursorMarkerXor(*this, x, true);
  d.dropX = x;
  MarkerSettings().cursorRadius = RadiusAtColumn(*this, x);
}

void TXLAWindow::EvLButtonUp(unsigned, int x, int y) {
  if (AdHocPlotShown()) return;
  if (RunBusy || FitBusy) {
    platform::StopFlag() = true;
    return;
  }
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
