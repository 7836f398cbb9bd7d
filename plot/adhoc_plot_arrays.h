#pragma once
// The extra, short-lived plot that the main window shows over the whole
// plot area once, at its next painting: the temperature or rotor speed of
// the loaded scans against time, a histogram of the residuals, and plots of
// other tools that fill the same buffers. The painting frees it.
#include <cstdint>
#include <functional>

#include "platform/draw_surface.h"

class CWINPlot;
class CVector;
class CCurve;
class CAdHocPlot;

struct AdHocPlotArrays {
  CWINPlot* adHocPlot = nullptr;
  std::uint8_t adHocShown = 0;       // set by the painting once shown
  std::uint8_t adHocKeepRanges = 0;  // the painting does not rescale adHocPlot
  float* adHocArrays[11] = {};       // 1: x, 2: y, 3: second y, ... ([1..adHocCount])
  int adHocCount = 0;
  CVector* adHocViews[11] = {};
  CCurve* adHocCurves[10] = {};
  CWINPlot* adHocPlot2 = nullptr;
  float* adHocArrays2[5] = {};
  int adHocCount2 = 0;
  CVector* adHocViews2[5] = {};
  CCurve* adHocCurves2[4] = {};
  float* adHocPairs[4][2] = {};  // pair k (1..3): x and y of adHocPairCount[k] points
  int adHocPairCount[4] = {};
  CVector* adHocPairViews[7] = {};
  CCurve* adHocPairCurves[4] = {};
  std::uint8_t rotorSpeedOverlay = 0;
};
AdHocPlotArrays& CurrentAdHocPlot();

// The equilibrium tools' current CAdHocPlot, kept beside the record.
struct AdHocObjectState {
  CAdHocPlot* adHocObject = nullptr;
  CWINPlot* adHocObjectPlot = nullptr;  // the object's plot (not owned separately)
  std::uint8_t keepAdHocObject = 0;
};
AdHocObjectState& CurrentAdHocObject();

// "Show Temperature Plot" and "Show Rotor Speed Plot": the scans' values
// against elapsed time over the whole plot area, then a repaint request.
void ShowTemperaturePlot();
// y against x (one-based, n points) as the extra plot in the data plot's
// rectangle: a line, or symbols of the given style when it is positive.
// Points highlightFirst..highlightLast (when given) are drawn over it in red.
void ShowAdHocXYPlot(const float* x, const float* y, int n, const char* xLabel, const char* yLabel,
                     int symbolStyle, int highlightFirst = 0, int highlightLast = 0);
// Measured points (x, y) as symbols and a fitted line (lineX, lineY), n
// points each ([1..n]), over the whole plot area; the annotation (when
// given) is the title above the plot, and yLow < yHigh fixes the y range.
void ShowAdHocPointsAndLine(const float* x, const float* y, const float* lineX, const float* lineY, int n,
                            const char* xLabel, const char* yLabel, const char* annotation = nullptr,
                            float yLow = 0, float yHigh = 0);
void ShowRotorSpeedPlot();
// "Show Residuals Histogram": first offers to switch the histogram beside
// the residual plot on or off (a preference); answered No, shows the
// histogram as the extra plot.
void ShowResidualsHistogram();
// True when every scan temperature lies within limit (degrees) of the
// first scan's; otherwise shows the temperature plot and an error box.
bool CheckTemperatureFluctuations(float limit);
void FreeAdHocPlotArrays();
// Forgets (and deletes) the equilibrium tools' current ad-hoc plot.
void ResetAdHocPlot();

// The painting's share: when an ad-hoc plot is pending, rescales it (unless
// its ranges are kept), records and replays it over the client area, calls
// drawOverlay (the rotor-speed profile) when rotorSpeedOverlay is set, frees
// the buffers and sets adHocShown. True when one was shown.
bool PaintPendingAdHocPlot(platform::DrawSurface& window, const std::function<void()>& drawOverlay = {});
