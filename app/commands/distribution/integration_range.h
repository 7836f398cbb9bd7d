#pragma once
// The model curves of the data plot coloured by a range s1..s2 of
// sedimentation coefficients: points whose apparent s* = ln(r/m)/(w^2 t)
// lies inside are red, the edges fade to grey over the diffusional
// broadening sigma^2 = 4e7 D 1e19 / (w^4 t m^2) (S^2) of the range's species.
// Below the distribution commands and the peak labels, which both draw a
// range over the distribution plot and mark it on the scans.
#include <string>

#include "platform/draw_context.h"

class TXLAWindow;

// Per-point colour and the index range of one scan (1-based points).
struct RangeColouring {
  int first = 0, last = 0;  // fit-point indices inside the range; -1 when none
};

// Colours points from..to of a scan into colours[i][1..3] (red, green, blue)
// and finds the index range; s* of point i is ln(r[i]/m) / w2t (s). The
// error-propagation switch changes the index rule at the last fit point.
RangeColouring ColourScanByRange(const float* r, int from, int to, double m, double w2t, double sigma2,
                                 float s1, float s2, bool errorPropagation, int** colours);

// Colours all scans and redraws their model curves; fills first[], last[]
// and err[] (by scan number) when given.
void PaintDistributionIntegrationRange(TXLAWindow& window, float s1, float s2, int* first = nullptr,
                                       int* last = nullptr, float* err = nullptr);

// Where a limit s of the distribution shows in the data of a nonideal c(s)
// model, whose boundaries sediment slower with the concentration: plain
// nonideal c(s) s (1 - (T / c0) 10^k), k = log10 ks, T the total signal of
// the distribution; the hard-sphere variant s times s(c)/s0 of the signal
// between 0.1 S and s. Other models, or no reference concentration c0 > 0,
// keep s.
float ConcentrationMovedLimit(float s, float total);

// Draws the distribution between a and b over the distribution plot.
void PlotIntegrationRange(TXLAWindow& window, float a, float b, int style, platform::COLORREF colour);
// Paints the radial stretch of lo..hi (S) into the scans and shades it on
// the residual bitmap; returns the line of the sw error estimate that the
// report appends (empty when there is none). c is the signal in the range,
// total that of the distribution. The painting needs positive limits
// unless anySign is set.
std::string ShowRangeOnData(TXLAWindow& window, float lo, float hi, float total, float c, bool anySign);
