#pragma once
// Direct redraws of single plot areas of the main window outside painting:
// the data plot with its markers and overlay curves, the residual plots and
// the distribution plot, each replayed onto a client context set up as the
// screen paint sets it up.
#include "platform/draw_context.h"

class TXLAWindow;

// Anisotropic mapping of the 1400 x 1000 canvas onto the client area.
void SetCanvasMapping(platform::DrawContext& dc, int clientWidth, int clientHeight);

void PaintDataPlot(TXLAWindow& window);
void PaintResidualPlots(TXLAWindow& window);
void PaintDistributionPlot(TXLAWindow& window);

// The overlays of the data plot on a mapped context: each scan's model curve
// in its colour, the TI noise, and the measured initial profile.
void DrawDataPlotOverlays(platform::DrawContext& dc);
