#include "distributions/analysis/extrapolation_plot.h"

#include <cmath>

ExtrapolationPlotData& ExtrapolationPlot() {
  static ExtrapolationPlotData d;
  return d;
}

ExtrapolationPlotHooks& ExtrapolationPlotDisplay() {
  static ExtrapolationPlotHooks h;
  return h;
}

namespace {
void Changed() {
  if (ExtrapolationPlotDisplay().changed) ExtrapolationPlotDisplay().changed();
}
}  // namespace

void ShowExtrapolationPlot(const float* times, const std::vector<float>& s, int rows, int fractions,
                           const float* intercepts, const float* slopes) {
  ExtrapolationPlotData& d = ExtrapolationPlot();
  d = ExtrapolationPlotData{};
  if (rows < 1 || fractions < 1 || s.size() < static_cast<size_t>(rows) * fractions) {
    Changed();
    return;
  }
  d.rows = rows;
  d.fractions = fractions;
  d.x.assign(static_cast<size_t>(rows) + 2, 0.0f);
  for (int k = 1; k <= rows; ++k) d.x[k] = times[k] > 0 ? 1.0f / std::sqrt(times[k]) : 0.0f;
  d.s.assign(s.begin(), s.begin() + static_cast<long>(rows) * fractions);
  d.intercepts.assign(intercepts, intercepts + fractions + 1);
  d.slopes.assign(slopes, slopes + fractions + 1);
  d.shown = true;
  Changed();
}

void FreeLsgsArrays() {
  const bool had = ExtrapolationPlot().rows > 0 || ExtrapolationPlot().shown;
  ExtrapolationPlot() = ExtrapolationPlotData{};
  if (had) Changed();
}
