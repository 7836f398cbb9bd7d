#include "app/plot_input/markers.h"

#include <cmath>

#include "app/window/road_services.h"
#include "app/window/txla_window.h"
#include "data/scan_set.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "plot/cwinplot.h"
#include "platform/draw_surface.h"

MarkerDisplaySettings& MarkerSettings() {
  static MarkerDisplaySettings settings;
  return settings;
}

int& CursorColumn() {
  static int column = 0;
  return column;
}

CWINPlot* MarkerPlot() { return Road().dataPlot ? Road().dataPlot() : nullptr; }

int MarkerColumnIn(TXLAWindow& window, const CWINPlot& plot, float v) {
  const int x = PixelTrunc(static_cast<double>(plot.xScale) * v + plot.xOffset);
  return static_cast<int>(std::floor(static_cast<double>(x) * window.ClientWidthF / 1400.0));
}

int MarkerColumn(TXLAWindow& window, float v) {
  const CWINPlot* plot = MarkerPlot();
  return plot ? MarkerColumnIn(window, *plot, v) : 0;
}

namespace {

int ToPixelY(const TXLAWindow& window, double y) {
  return static_cast<int>(std::floor(y * window.ClientHeightF / 1000.0));
}

// Top and bottom of the data plot in logical units; false without a plot.
bool Extent(double& top, double& bottom) {
  const CWINPlot* plot = MarkerPlot();
  if (!plot) return false;
  top = plot->plotTop;
  bottom = plot->plotBottom;
  return true;
}

template <typename Draw>
void WithClientDC(TXLAWindow& window, Draw draw) {
  platform::DrawSurface* surface = window.Frame().Surface();
  if (!surface) return;
  {
    auto dc = surface->ClientDC();
    draw(*dc);
  }
  window.Frame().FlushCanvas();
}

void SolidLine(platform::DrawContext& dc, int x, int y1, int y2, platform::COLORREF colour) {
  const platform::HPEN pen = platform::CreatePen(platform::PS_SOLID, 0, colour);
  const platform::HGDIOBJ old = dc.SelectObject(pen);
  const int rop = dc.SetROP2(platform::R2_COPYPEN);
  dc.MoveTo(x, y1);
  dc.LineTo(x, y2);
  dc.SetROP2(rop);
  dc.SelectObject(old);
  platform::DeleteObject(pen);
}

// A marker whose value lies outside the plot's x range (a zoom left it
// out) stays undrawn: nothing is drawn beside a plot's frame.
bool InsideFrame(const TXLAWindow& window, int x) {
  const CWINPlot* plot = MarkerPlot();
  if (!plot) return false;
  const auto column = [&window](int logical) {
    return static_cast<int>(std::floor(static_cast<double>(logical) * window.ClientWidthF / 1400.0));
  };
  return x >= column(plot->plotLeft) && x <= column(plot->plotRight);
}

}  // namespace

void DrawVerticalMarker(platform::DrawContext& dc, TXLAWindow& window, int x, platform::COLORREF colour) {
  double top, bottom;
  if (!Extent(top, bottom) || !InsideFrame(window, x)) return;
  SolidLine(dc, x, ToPixelY(window, top), ToPixelY(window, bottom), colour);
}

void DrawLimitMarkers(platform::DrawContext& dc, TXLAWindow& window, int x, platform::COLORREF colour, int n) {
  if (n < 1) return;
  if (n == 1) {
    DrawVerticalMarker(dc, window, x, colour);
    return;
  }
  double top, bottom;
  if (!Extent(top, bottom) || !InsideFrame(window, x)) return;
  const double seg = (bottom - top) / (2.0 * n + 1.0);
  for (int i = 1; i <= n; ++i) {
    const double y1 = top + (2.0 * i - 2.0) * seg;
    SolidLine(dc, x, ToPixelY(window, y1), ToPixelY(window, y1 + seg), colour);
  }
}

void DrawCursorMarker(platform::DrawContext& dc, TXLAWindow& window, int x, bool erasePrevious) {
  double top, bottom;
  if (!Extent(top, bottom)) return;
  const int y1 = ToPixelY(window, top), y2 = ToPixelY(window, bottom);
  const int rop = dc.SetROP2(platform::R2_NOT);
  int& column = CursorColumn();
  if (erasePrevious && column != 0) {
    dc.MoveTo(column, y1);
    dc.LineTo(column, y2);
  }
  column = x;
  if (x != 0) {
    dc.MoveTo(x, y1);
    dc.LineTo(x, y2);
  }
  dc.SetROP2(rop);
}

void DrawVerticalMarkerXor(TXLAWindow& window, int x, platform::COLORREF colour) {
  WithClientDC(window, [&](platform::DrawContext& dc) { DrawVerticalMarker(dc, window, x, colour); });
}

void DrawLimitMarkersXor(TXLAWindow& window, int x, platform::COLORREF colour, int n) {
  WithClientDC(window, [&](platform::DrawContext& dc) { DrawLimitMarkers(dc, window, x, colour, n); });
}

void DrawCursorMarkerXor(TXLAWindow& window, int x, bool erasePrevious) {
  if (!window.Frame().Surface()) {
    // Without a display the column is still remembered.
    CursorColumn() = x;
    return;
  }
  WithClientDC(window, [&](platform::DrawContext& dc) { DrawCursorMarker(dc, window, x, erasePrevious); });
}

void DrawCursorLineXor(TXLAWindow& window, int x1, int y1, int x2, int y2) {
  if (!window.ZoomDragging || (x1 == x2 && y1 == y2) || !window.ZoomDC) return;
  auto* dc = static_cast<platform::DrawContext*>(window.ZoomDC);
  const int rop = dc->SetROP2(platform::R2_NOT);
  dc->MoveTo(x1, y1);
  dc->LineTo(x1, y2);
  dc->LineTo(x2, y2);
  dc->LineTo(x2, y1);
  dc->LineTo(x1, y1);
  dc->SetROP2(rop);
}

void RedrawPlotMarkers(TXLAWindow& window) {
  if (!MarkerPlot()) return;
  const ScanSet& s = CurrentScanSet();
  const ModelParams& mp = gModelParams;
  const FitEngineState& fs = gFitEngineState;
  WithClientDC(window, [&](platform::DrawContext& dc) {
    auto solid = [&](float v, platform::COLORREF c) {
      if (v != 0) DrawVerticalMarker(dc, window, MarkerColumn(window, v), c);
    };
    auto dashed = [&](float v) {
      if (v != 0) DrawLimitMarkers(dc, window, MarkerColumn(window, v), kFitRangeColor, 30);
    };
    // The M* screen has no fit range: its plot shows meniscus and bottom only.
    const bool mStar = Road().mStarScreenShown && Road().mStarScreenShown();
    if (!mStar) {
      solid(s.rightFitLimit, kFitLimitColor);
      solid(s.leftFitLimit, kFitLimitColor);
    }
    solid(mp.meniscus, kMeniscusColor);
    solid(mp.bottom, kBottomColor);
    if (!mStar) {
      dashed(fs.meniscusMin);
      dashed(fs.meniscusMax);
      dashed(fs.bottomMin);
      dashed(fs.bottomMax);
    }
  });
}
