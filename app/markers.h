#pragma once
// Radius markers drawn straight into the main window over the replayed
// plots: solid and dashed lines in copy mode (removed by drawing them again
// in white or by a repaint), the radial cursor line and the zoom rectangle
// by inverting pixels (a second identical drawing restores them).
#include "platform/draw_context.h"

class TXLAWindow;
class CWINPlot;

constexpr platform::COLORREF kMeniscusColor = platform::kRed;
constexpr platform::COLORREF kReferenceMeniscusColor = platform::kMagenta;
constexpr platform::COLORREF kBottomColor = platform::kBlue;
constexpr platform::COLORREF kFitLimitColor = platform::kGreen;
constexpr platform::COLORREF kFitRangeColor = 0x00C8C8C8;
constexpr platform::COLORREF kMarkerWhite = platform::kWhite;

enum class CursorEditMode { None, MeniscusOrBottom, ReferenceMeniscus, FitLimits };

struct MarkerDisplaySettings {
  bool cursorLineShown = false;
  float cursorRadius = 0;  // cm
  CursorEditMode editMode = CursorEditMode::None;
};
MarkerDisplaySettings& MarkerSettings();
// Pixel column of the last cursor line; 0 means none.
int& CursorColumn();

// The plot whose height the markers span: the data plot (null without one).
CWINPlot* MarkerPlot();
// Pixel column of radius v in the data plot: floor(trunc(xScale v + xOffset)
// x ClientWidthF / 1400); 0 without a data plot.
int MarkerColumn(TXLAWindow& window, float v);
int MarkerColumnIn(TXLAWindow& window, const CWINPlot& plot, float v);

// Drawn onto a context in client pixels (the painting's own, or a fresh one).
void DrawVerticalMarker(platform::DrawContext& dc, TXLAWindow& window, int x, platform::COLORREF colour);
void DrawLimitMarkers(platform::DrawContext& dc, TXLAWindow& window, int x, platform::COLORREF colour, int n);
void DrawCursorMarker(platform::DrawContext& dc, TXLAWindow& window, int x, bool erasePrevious);

// The same, each on a client context of its own.
void DrawVerticalMarkerXor(TXLAWindow& window, int x, platform::COLORREF colour);
void DrawLimitMarkersXor(TXLAWindow& window, int x, platform::COLORREF colour, int n);
void DrawCursorMarkerXor(TXLAWindow& window, int x, bool erasePrevious);
// Inverting outline of the zoom rectangle on the window's zoom context.
void DrawCursorLineXor(TXLAWindow& window, int x1, int y1, int x2, int y2);
// All radius markers of the data plot.
void RedrawPlotMarkers(TXLAWindow& window);
