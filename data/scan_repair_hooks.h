#pragma once
// What the scan-repair pointer modes need of the main window: where the
// pointer is in the plots, and the drawing over them. The window fills the
// record when it is created; an empty member makes its step do nothing (a
// pick finds nothing, a radius lies outside every plot). Text lines go
// through the load hooks' drawText.
#include <functional>
#include <string>

class CMouseAction;
class CMouseAction_FixPointScanFringeJump;
class CScratchTracker;
struct RadiusJumpState;

struct ScanRepairHooks {
  // The scan and point under the pointer (client pixels): the data plot's
  // points first, then the residual plot's, scans in display order. False
  // when no point is hit or there is no data plot.
  std::function<bool(int x, int y, int& scan, int& point)> pickScanPoint;
  // Radius (cm) under the pointer, false when the pointer lies outside the
  // residual plot's rows, or outside the data plot's radial range.
  std::function<bool(int x, int y, double& radius)> residualPlotRadius;
  std::function<bool(int x, int y, double& radius)> dataPlotRadius;
  // The zoomed window of the single-scan mode over the data plot.
  std::function<void(const CMouseAction_FixPointScanFringeJump&)> drawFringeJump;
  // The residuals left and right of the radius against scan number.
  std::function<void(const RadiusJumpState&)> drawRadiusJump;
  // The markers of the stored and current scratches and the fitted
  // surface with the track of the window centre.
  std::function<void(const CScratchTracker&)> drawScratchTrack;
  // Slopes against shifts of every stored scratch.
  std::function<void(const CScratchTracker&)> plotScratches;
  // The scans changed: the data and residual plots are redrawn.
  std::function<void()> scansChanged;
};
ScanRepairHooks& RepairHooks();

// The modes' own words: a line of text into the window at (x, y), and a
// Yes/No box with an empty caption (true for Yes).
void RepairText(const std::string& text, int x, int y);
bool RepairAskYesNo(const std::string& text);
// Escape in a mode: deactivated, reset and ended without applying; true.
bool DiscardMode(CMouseAction& mode);
