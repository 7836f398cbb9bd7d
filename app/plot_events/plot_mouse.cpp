// The mouse over the plots of the main window: a left press picks up a
// radius marker (or stops a running computation, or reads out the point
// under the pointer), the pointer drags its cursor line and highlights the
// markers it passes, the release drops it for confirmation; the right
// button stretches a band that zooms the data plot or selects a range of
// the distribution.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "plot/text_in_place.h"
#include "app/commands/distribution/distribution_commands.h"
#include "app/commands/distribution/integration_range.h"
#include "equilibrium/eqtools/eq_test_mode.h"
#include "app/window/main_window_flags.h"
#include "app/plot_input/marker_moves.h"
#include "app/plot_input/markers.h"
#include "app/screens/mstar_screen.h"
#include "app/plot_events/plot_mouse.h"
#include "app/plot_input/pointer_hit_tests.h"
#include "app/window/road_services.h"
#include "app/window/txla_window.h"
#include "app/window/window_services.h"
#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/serial_fit_settings.h"
#include "models/buffer/buffer_sed_settings.h"
#include "plot/adhoc_plot_arrays.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"
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

int PlotUnitX(const TXLAWindow& w, int px) {
  return w.ClientWidthF > 0 ? static_cast<int>(px * 1.4f * 1000 / w.ClientWidthF) : 0;
}
int PlotUnitY(const TXLAWindow& w, int py) {
  return w.ClientHeightF > 0 ? static_cast<int>(py * 1000 / w.ClientHeightF) : 0;
}

// With the integration button down the band spans the distribution plot's
// whole height, except for the two-dimensional c(s, f/f0), whose band
// selects an f/f0 range too.
CWINPlot* DistributionPlot() { return Conti().distributionPlot; }

// An integration mode left over from a distribution that has gone (a new
// load, another model) must not stretch a band over the data plot.
bool FullHeightBand() {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  return RangeSelection().forIntegration && DistributionPlot() && !m.CSff0Model && !m.CSff0With1DiscreteModel;
}

// Hover colours (0x00bbggrr).
constexpr platform::COLORREF kHoverMeniscus = 0x0000b4;
constexpr platform::COLORREF kHoverFitLimit = 0x00b400;
constexpr platform::COLORREF kHoverRangeLimit = 0x505050;
constexpr platform::COLORREF kHoverBottom = 0xffb4b4;
constexpr platform::COLORREF kHoverReference = 0x960096;

// The marker under the pointer highlighted in its hover colour; true on a hit.
bool HoverMarkers(TXLAWindow& w, int x) {
  MarkerDragState& d = MarkerDrag();
  for (int k = 0; k < kMarkerCount; ++k) d.column[k] = MarkerColumn(w, MarkerValue(static_cast<MarkerKind>(k)));
  const bool mStar = MStarShown();
  const BufferSedSettings& b = gBufferSedSettings;
  auto near = [&](int column) { return column - 2 < x && x < column + 2; };
  struct Entry {
    MarkerKind kind;
    platform::COLORREF colour;
    bool tested, highlighted;
  };
  const Entry entries[] = {
      {MarkerKind::Meniscus, kHoverMeniscus, true, true},
      {MarkerKind::RightFitLimit, kHoverFitLimit, true, !mStar},
      {MarkerKind::MeniscusMin, kHoverRangeLimit, !mStar, true},
      {MarkerKind::MeniscusMax, kHoverRangeLimit, !mStar, true},
      {MarkerKind::BottomMin, kHoverRangeLimit, !mStar, true},
      {MarkerKind::BottomMax, kHoverRangeLimit, !mStar, true},
      {MarkerKind::LeftFitLimit, kHoverFitLimit, true, !mStar},
      {MarkerKind::Bottom, kHoverBottom, true, true},
  };
  bool hit = false;
  for (const Entry& e : entries) {
    const int column = d.column[static_cast<int>(e.kind)];
    if (!e.tested || !near(column)) continue;
    if (e.highlighted) DrawLimitMarkersXor(w, column, e.colour, 30);
    hit = true;
    break;
  }
  // Over a dropped marker waiting for confirmation nothing is highlighted.
  if (!hit && d.awaitingConfirmation && near(d.dropX)) hit = true;
  if (!hit && !mStar && b.BufferSedOn && b.MeniscusMismatch) {
    const int column = d.column[static_cast<int>(MarkerKind::ReferenceMeniscus)];
    if (near(column)) {
      DrawLimitMarkersXor(w, column, kHoverReference, 30);
      hit = true;
    }
  }
  return hit;
}

// Scans in time order; the order table may be absent before a load fills it.
int ScanAtPosition(const ScanSet& s, int i) {
  return i < static_cast<int>(s.order.size()) && s.order[i] > 0 ? s.order[i] : i;
}

// The position in time order of the first scan with a data point, else a
// residual point, inside the box around the pointer; 0 for none.
int ScanUnderPointer(float x, float y, float bx, float by) {
  const ScanSet& s = CurrentScanSet();
  for (int i = 1; i <= s.count; ++i)
    if (HitTestDataPoint(ScanAtPosition(s, i), x, y, bx, by)) return i;
  if (!CurrentPlotWindows().residualPlot) return 0;
  for (int i = 1; i <= s.count; ++i)
    if (HitTestResidualPoint(ScanAtPosition(s, i), x, y, bx, by)) return -i;
  return 0;
}

void ShowScanName(TXLAWindow& w, int x, int y) {
  const LogicalPointer p = PointerInLogicalUnits(x, y, w.Frame().ClientWidth(), w.Frame().ClientHeight());
  const int i = std::abs(ScanUnderPointer(p.x, p.y, p.bx, p.by));
  const PlotMouseHooks& hooks = MouseHooks();
  if (i > 0) {
    if (hooks.showScanNameButton) hooks.showScanNameButton(i, x, y);
  } else if (hooks.deleteScanNameButton) {
    hooks.deleteScanNameButton();
  }
}

// Radius and signal of the point under a press, or blanks.
void PointReadout(TXLAWindow& w, int x, int y) {
  const ScanSet& s = CurrentScanSet();
  if (s.count < 1) return;
  const PlotMouseHooks& hooks = MouseHooks();
  const float dx = w.ClientWidthF > 0 ? std::trunc(3 * 1400 / w.ClientWidthF) : 0;
  const float dy = w.ClientHeightF > 0 ? std::trunc(3 * 1000 / w.ClientHeightF) : 0;
  const int found = ScanUnderPointer(static_cast<float>(PlotUnitX(w, x)), static_cast<float>(PlotUnitY(w, y)), dx, dy);
  if (found == 0) {
    PointerReadout& r = CurrentPointerReadout();
    std::snprintf(r.lines[0], sizeof r.lines[0], "%14s", "");
    std::snprintf(r.lines[1], sizeof r.lines[1], "%14s", "");
    if (platform::DrawSurface* surface = w.Frame().Surface()) {
      auto dc = surface->ClientDC();
      DrawReportTextInPlace(*surface, *dc, ReportTextColumn(w, 10), 50, r.lines[0]);
      DrawReportTextInPlace(*surface, *dc, ReportTextColumn(w, 10), 70, r.lines[1]);
    }
    if (hooks.pressPointEditCancel) hooks.pressPointEditCancel();
    return;
  }
  const int i = std::abs(found);
  const int scan = ScanAtPosition(s, i);
  const int j = found > 0 ? FoundDataPoint() : FoundResidualPoint();
  if (hooks.pressPointEditCancel) hooks.pressPointEditCancel();
  ShowPointerReadout(w, "r = %1.4f    ", s.radii[scan][j], "a = %1.4f    ", s.signals[scan][j]);
  if (hooks.showPointEditButtons) hooks.showPointEditButtons(x, y, i);
}

}  // namespace

float PlotDataX(const TXLAWindow& w, const CWINPlot& plot, int px) {
  const float v = plot.xScale != 0 ? (PlotUnitX(w, px) - plot.xOffset) / plot.xScale : 0;
  return plot.logX ? std::pow(10.0f, v) : v;
}

float PlotDataY(const TXLAWindow& w, const CWINPlot& plot, int py) {
  const float v = plot.yScale != 0 ? (PlotUnitY(w, py) - plot.yOffset) / plot.yScale : 0;
  return plot.logY ? std::pow(10.0f, v) : v;
}

PointerReadout& CurrentPointerReadout() {
  static PointerReadout readout;
  return readout;
}

void ShowPointerReadout(TXLAWindow& w, const char* format1, float value1, const char* format2, float value2) {
  PointerReadout& r = CurrentPointerReadout();
  r.values[0] = value1;
  r.values[1] = value2;
  std::snprintf(r.lines[0], sizeof r.lines[0], format1, value1);
  std::snprintf(r.lines[1], sizeof r.lines[1], format2, value2);
  platform::DrawSurface* surface = w.Frame().Surface();
  if (!surface) return;
  auto dc = surface->ClientDC();
  DrawReportTextInPlace(*surface, *dc, ReportTextColumn(w, 10), 50, r.lines[0]);
  DrawReportTextInPlace(*surface, *dc, ReportTextColumn(w, 10), 70, r.lines[1]);
}

void ShowCursorRadiusReadout(TXLAWindow& w, float radius) {
  PointerReadout& r = CurrentPointerReadout();
  r.values[0] = radius;
  std::snprintf(r.lines[0], sizeof r.lines[0], "%1.4f    ", radius);
  if (platform::DrawSurface* surface = w.Frame().Surface())
    DrawReportTextInPlace(*surface, *surface->ClientDC(), ReportTextColumn(w, 10), 50, r.lines[0]);
}

MarkerHoverState& MarkerHover() {
  static MarkerHoverState state;
  return state;
}

bool PressBlocked(const TXLAWindow& w) {
  if (AdHocPlotShown()) return true;
  if (w.RunBusy || w.FitBusy) {
    platform::RequestStopByUser();
    return true;
  }
  return false;
}

void TXLAWindow::EvLButtonDown(unsigned, int x, int y) {
  if (PressBlocked(*this)) return;
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
  PointReadout(*this, x, y);
}

void TXLAWindow::EvMouseMove(unsigned, int x, int y) {
  if (RunBusy || FitBusy) {
    platform::RequestStopByUser();
    return;
  }
  CWINPlot* dataPlot = MarkerPlot();
  if (!dataPlot || !CurrentPlotWindows().residualPlot) return;
  PlotMouseHooks& hooks = MouseHooks();
  if (hooks.pointerModeMouseMove && hooks.pointerModeMouseMove(x, y)) return;
  // The time course of the equilibrium test shares the ad-hoc plot's place.
  const AdHocPlotArrays& adHoc = CurrentAdHocPlot();
  if (EqTest().selecting && adHoc.adHocPlot) {
    ShowPointerReadout(*this, "%1.3f    ", PlotDataX(*this, *adHoc.adHocPlot, x), "%1.3f    ",
                       PlotDataY(*this, *adHoc.adHocPlot, y));
    return;
  }
  if (AdHocPlotShown() || gSerialFitSettings.running) return;
  MarkerDragState& d = MarkerDrag();
  if (d.dragging) {
    if (!d.awaitingConfirmation && hooks.mouseTrackAdd) hooks.mouseTrackAdd(x, y);
    DrawCursorMarkerXor(*this, x, true);
    d.dropX = x;
    MarkerSettings().cursorRadius = RadiusAtColumn(*this, x);
    return;
  }
  ZoomBand& band = CurrentZoomBand();
  if (band.started && (band.dataZoom || band.distributionSelection)) {
    const int height = frame_->ClientHeight();
    band.current = {x, FullHeightBand() ? static_cast<int>(std::floor(630.0 * height / 1000)) : y};
    DrawCursorLineXor(*this, band.start.x, band.start.y, band.previous.x, band.previous.y);
    DrawCursorLineXor(*this, band.start.x, band.start.y, band.current.x, band.current.y);
    if (const CWINPlot* dist = DistributionPlot(); dist && RangeSelection().forIntegration) {
      auto s = [&](int px) { return PlotDataX(*this, *dist, px); };
      PlotIntegrationRange(*this, s(band.start.x), s(band.previous.x), 13, 0x000000);
      PlotIntegrationRange(*this, s(band.leftmost.x), s(band.rightmost.x), -1, 0x000000);
      PlotIntegrationRange(*this, s(band.start.x), s(band.current.x), 12, 0x0000ff);
    }
    // The band's context stays open until the release: show what it drew.
    frame_->FlushCanvas();
    band.previous = band.current;
    band.rightmost.x = std::max(band.rightmost.x, x);
    band.leftmost.x = std::min(band.leftmost.x, x);
    return;
  }
  const bool eqTest = EqTestModeOn();
  MarkerHoverState& hover = MarkerHover();
  const bool hit = !eqTest && IsPointerInPlotRange(*this, x, y) && HoverMarkers(*this, x);
  if (hit) {
    frame_->SetCursor(platform::CursorKind::SizeWE);
    hover.arrowRestored = 0;
  } else if (!hover.arrowRestored) {
    frame_->SetCursor(platform::CursorKind::Arrow);
    RedrawPlotMarkers(*this);
    // The marker redraw leaves out the reference meniscus; its highlight
    // would otherwise stay until the next paint.
    const BufferSedSettings& b = gBufferSedSettings;
    if (b.BufferSedOn && b.MeniscusMismatch && gModelParams.meniscus != 0 && !MStarShown())
      DrawVerticalMarkerXor(*this, MarkerColumn(*this, MarkerValue(MarkerKind::ReferenceMeniscus)),
                            kReferenceMeniscusColor);
    hover.arrowRestored = 1;
  }
  if (WindowFlags().ScanNameHoverOn && !eqTest && CurrentScanSet().count > 0 && !MStarShown())
    ShowScanName(*this, x, y);
}

void TXLAWindow::EvLButtonUp(unsigned, int x, int y) {
  if (PressBlocked(*this)) return;
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
  if (PressBlocked(*this)) return;
  PlotMouseHooks& hooks = MouseHooks();
  if (hooks.pointerModeRButtonDown && hooks.pointerModeRButtonDown(x, y)) return;
  if (!MarkerPlot() || ZoomDragging) return;
  ZoomBand& band = CurrentZoomBand();
  const int startY = FullHeightBand() ? static_cast<int>(std::floor(950.0 * frame_->ClientHeight() / 1000)) : y;
  band.start = band.current = {x, startY};
  band.previous = band.rightmost = band.leftmost = {x, startY};
  ZoomDragging = true;
  RangeSelectionState& selection = RangeSelection();
  if (selection.active && DistributionPlot()) band.distributionSelection = 1;
  if (HitTestDistributionPoint(*this, x, y)) {
    selection.forRescaling = selection.active = true;
    band.distributionSelection = 1;
  } else {
    band.distributionSelection = 0;
    band.dataZoom = IsPointerInPlotRange(*this, x, y) ? 1 : 0;
    if (!band.dataZoom) return;
  }
  band.started = 1;
  frame_->SetCursor(platform::CursorKind::Cross);
  if (platform::DrawSurface* surface = frame_->Surface()) ZoomDC = surface->ClientDC().release();
}

void TXLAWindow::EvRButtonUp(unsigned, int x, int y) {
  if (PressBlocked(*this)) return;
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
    RangeSelectionState& selection = RangeSelection();
    CWINPlot* dist = DistributionPlot();
    // The distribution zoom invalidates the window itself; every other band
    // (a data zoom while a selection is still pending included) must ask.
    bool distributionZoomed = false;
    if (xmax - xmin > 10) {
      if (band.dataZoom) {
        if (!hooks.mStarRangeDrag || !hooks.mStarRangeDrag(xmin, xmax)) {
          // Window y grows downwards: the band's bottom is the data minimum.
          const DataRange range{PlotDataX(*this, *plot, xmin), PlotDataX(*this, *plot, xmax),
                                PlotDataY(*this, *plot, ymax), PlotDataY(*this, *plot, ymin)};
          PushRangeHistory(range);
          plot->SetRanges(range.xMin, range.xMax, range.yMin, range.yMax);
          plot->Plot();
        }
      } else if (band.distributionSelection && dist) {
        if (selection.forIntegration)
          IntegrateSelectedRange(*this, PlotDataX(*this, *dist, xmin), PlotDataX(*this, *dist, xmax),
                                 dist->PixelToY(PlotUnitY(*this, ymax)), dist->PixelToY(PlotUnitY(*this, ymin)));
        if (selection.forRescaling) {
          MaxDistributionValueInRange(*this, PlotDataX(*this, *dist, xmin), PlotDataX(*this, *dist, xmax));
          distributionZoomed = true;
        }
      }
      band.zoomed = 1;
      if (!distributionZoomed) platform::RequestRepaint();
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
