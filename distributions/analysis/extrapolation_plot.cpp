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
                           const float* intercepts, const float* slopes,
                           const std::vector<unsigned char>* taken) {
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
  if (taken && taken->size() >= d.s.size()) d.taken.assign(taken->begin(), taken->begin() + static_cast<long>(d.s.size()));
  d.shown = true;
  Changed();
}

void ExtrapolationPlotRowPoints(const ExtrapolationPlotData& d, int k, std::vector<float>& x,
                                std::vector<float>& y) {
  x.clear();
  y.clear();
  if (k < 1 || k > d.rows) return;
  for (int j = 1; j <= d.fractions; ++j) {
    if (!d.Taken(k, j)) continue;
    x.push_back(d.x[k]);
    y.push_back(d.S(k, j));
  }
}

void FreeLsgsArrays() {
  const bool had = ExtrapolationPlot().rows > 0 || ExtrapolationPlot().shown;
  ExtrapolationPlot() = ExtrapolationPlotData{};
  if (had) Changed();
}
