#pragma once
// Is the pointer over the data plot, the distribution plot, or a data or
// residual point of a scan? The mouse handlers of the main window and the
// mouse actions on the scans ask these.
class TXLAWindow;
class CWINPlot;

// The pointer and the half-size of the hit box (3 pixels) in the window's
// logical units (1400 x 1000): x = px 1.4 x 1000 / width, y = py x 1000 /
// height; all 0 for a client size that is not positive.
struct LogicalPointer {
  float x = 0, y = 0, bx = 0, by = 0;
};
LogicalPointer PointerInLogicalUnits(int px, int py, int clientWidth, int clientHeight);

// Pointer pixels y strictly inside the data plot's band (layout rows).
bool IsPointerInPlotRange(TXLAWindow& window, int x, int y);
// Pointer pixels y below 95 % of the distribution plot's top edge.
bool HitTestDistributionPoint(TXLAWindow& window, int x, int y);

// The point of the scan (1-based index) whose plot position lies strictly
// within (bx, by) of (x, y), logical units; the first such point in radial
// order, stored in FoundDataPoint() or FoundResidualPoint() (0 when none;
// the data test clears its index first).
bool HitTestDataPoint(int scan, float x, float y, float bx, float by);
bool HitTestResidualPoint(int scan, float x, float y, float bx, float by);
int& FoundDataPoint();
int& FoundResidualPoint();

// Plot position (logical units) of a value on the plot's axes; a value <= 0
// on a logarithmic axis sits at the plot's edge less its off-plot distance.
float PlotPositionX(const CWINPlot& plot, float v);
float PlotPositionY(const CWINPlot& plot, float v);
