#pragma once
// Working with a computed distribution in the main window: integration over
// a range drawn with the right mouse button or read from the ranges file,
// the report of that integration with the range shown on the scans and the
// residual bitmap, and the zoom of the distribution plot. The mouse
// handlers and the on-plot integrate button call these.
#include <string>

#include "platform/draw_context.h"

class TXLAWindow;

// The window's range selection over the distribution plot.
struct RangeSelectionState {
  bool active = false;          // the right-button drag selects a range
  bool forIntegration = false;  // ... to integrate it
  bool forRescaling = false;    // ... to zoom to it
  // Kept while the real-time update runs, so that a refresh keeps the zoom.
  bool keepZoom = false;
  float zoomX1 = 0, zoomX2 = 0;
};
RangeSelectionState& RangeSelection();

// File dialog for the ranges file; remembers and loads the choice.
bool SelectIntegrationRangeFile(TXLAWindow& window);
// The on-plot "integrate" button or its menu command: ends a range
// selection under way, else integrates the ranges of the file or starts a
// selection (its button shows "select range" while one is drawn).
void ClickIntegrateButton(TXLAWindow& window);
// Shows the integrate button off again when a selection ends.
void ReleaseIntegrateButton(TXLAWindow& window);
// Hint box (with the wizard messages on), cross cursor, selection active.
void StartRangeSelection(TXLAWindow& window);
// The integration report of x1..x2 (x1 the lower) with the rectangle's
// ordinate limits y1, y2.
void IntegrateSelectedRange(TXLAWindow& window, float x1, float x2, float y1, float y2);
// Zooms the distribution plot to x1..x2 (either order).
void MaxDistributionValueInRange(TXLAWindow& window, float x1, float x2);
