#pragma once
// The plot of apparent s against 1/sqrt(t) that the van Holde-Weischet
// analysis and the ls-g*(s) area-fraction extrapolation show on request:
// per row (scan or group of scans) the s of every boundary fraction at
// x = 1/sqrt(t) that its line took, and per fraction its fitted line
// s = a + b x drawn to x = 0. This module keeps what is to be drawn; the window draws it while
// `shown` is set (through the hook below) and Escape releases it.
#include <functional>
#include <vector>

struct ExtrapolationPlotData {
  bool shown = false;  // the window paints the plot
  int rows = 0;        // scans (vHW) or groups (ls-g*(s))
  int fractions = 0;
  std::vector<float> x;           // [1..rows] 1/sqrt(t) (1/sqrt(s)), [rows+1] = 0
  std::vector<float> s;           // [(k-1)*fractions + j], S
  std::vector<float> intercepts;  // [1..fractions], S
  std::vector<float> slopes;      // [1..fractions], S s^1/2
  // Same layout as s: 1 where fraction j's line took row k (empty: every
  // row entered every line).
  std::vector<unsigned char> taken;

  float S(int k, int j) const { return s[static_cast<size_t>(k - 1) * fractions + (j - 1)]; }
  bool Taken(int k, int j) const {
    return taken.empty() || taken[static_cast<size_t>(k - 1) * fractions + (j - 1)] != 0;
  }
  // The line of fraction j at x.
  float Line(int j, float at) const { return intercepts[j] + slopes[j] * at; }
};
ExtrapolationPlotData& ExtrapolationPlot();

// Told whenever the plot was made or released (the window rebuilds or drops
// its graph and repaints).
struct ExtrapolationPlotHooks {
  std::function<void()> changed;
};
ExtrapolationPlotHooks& ExtrapolationPlotDisplay();

// times[1..rows] in s; s row-major as in ExtrapolationPlotData; intercepts
// and slopes [1..fractions]; taken as in ExtrapolationPlotData (null or
// empty: all). Replaces an earlier plot and marks it shown.
void ShowExtrapolationPlot(const float* times, const std::vector<float>& s, int rows, int fractions,
                           const float* intercepts, const float* slopes,
                           const std::vector<unsigned char>* taken = nullptr);

// The points of row k the plot draws: (x, s) of the fractions whose lines
// took the row, in fraction order. A point a line left out is not drawn.
void ExtrapolationPlotRowPoints(const ExtrapolationPlotData& d, int k, std::vector<float>& x,
                                std::vector<float>& y);
// Releases the plot and everything made for it; it is no longer shown.
void FreeLsgsArrays();
