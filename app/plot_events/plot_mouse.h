#pragma once
// The pointer's events on the plots, the text readouts at the top left of
// the window and the marker hover state.
#include <cstdint>
#include <string>

#include "app/plot_input/zoom_band.h"

class TXLAWindow;
class CWINPlot;

// The two lines written at (10, 50) and (10, 70) of the window.
struct PointerReadout {
  char lines[2][30] = {};
  float values[2] = {};
};
PointerReadout& CurrentPointerReadout();
// Formats both values into the readout and writes the lines.
void ShowPointerReadout(TXLAWindow& window, const char* format1, float value1, const char* format2, float value2);
// The radial cursor's radius (cm) in the first line only.
void ShowCursorRadiusReadout(TXLAWindow& window, float radius);

struct MarkerHoverState {
  // Set once the pointer left every marker and the normal marker colours
  // were restored; cleared by a highlight.
  std::uint8_t arrowRestored = 1;
};
MarkerHoverState& MarkerHover();

// Window pixels to the data units of a plot, through the 1400 x 1000
// layout; a logarithmic axis gives the value, not its logarithm.
// The first guard of every mouse-button handler: an ad-hoc plot over the
// window takes no clicks, and a click during Run or Fit only asks it to stop.
bool PressBlocked(const TXLAWindow& w);

float PlotDataX(const TXLAWindow& window, const CWINPlot& plot, int px);
float PlotDataY(const TXLAWindow& window, const CWINPlot& plot, int py);

// The molar-mass label of a species of mass M whose compact sphere of the
// same s has mass sphereM ("|Mf=31.5 (>24.0) kDa").
std::string MolarMassLabelText(float M, float sphereM);
