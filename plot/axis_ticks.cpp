// Tick values of one plot axis. Steps are powers of ten, halved when fewer
// than three major ticks would result; minor ticks divide a major interval
// into 5 (or 10) parts; on axes whose values are decimal logarithms the minor
// ticks sit at log10(2..9) within each decade. Computed in single precision.
#include <cmath>
#include <vector>

#include "plot/cwinplot.h"

namespace {

constexpr int kLeastMajorTicks = 3;
constexpr float kMaxTicks = 10000.0f;

struct Grid {
  float first = 0;
  long count = 0;  // may be negative for a reversed range
};

Grid GridFor(float lo, float hi, float step) {
  Grid g;
  const float f = std::floor(lo / step);
  g.first = (f * step == lo) ? lo : (f + 1) * step;
  const float q = std::floor((hi - g.first) / step) + 1;
  g.count = q > kMaxTicks ? static_cast<long>(kMaxTicks) : (q < 0 ? 0 : static_cast<long>(q));
  return g;
}

CVector* MakeVector(const std::vector<float>& values) {
  if (values.empty()) return new CVector();
  return new CVector(static_cast<int>(values.size()), values.data(), 1);
}

}  // namespace

void CWINPlot::DrawAxis(int major, float lo, float hi, CVector** ticks) const {
  if (!ticks) return;
  std::vector<float> values;
  // Non-finite bounds count as out of range: no ticks rather than a NaN
  // turned into a tick count.
  if (!std::isfinite(lo) || !std::isfinite(hi) || std::fabs(lo) > 1e30f || std::fabs(hi) > 1e30f || lo == hi) {
    *ticks = MakeVector(values);
    return;
  }
  float step = std::pow(10.0f, std::floor(std::log10(std::fabs(hi - lo))));
  if (!(step > 0) || !std::isfinite(step)) {
    *ticks = MakeVector(values);
    return;
  }
  Grid g = GridFor(lo, hi, step);

  if (AxisLogTicks == 1 && major == 0) {
    values.reserve(static_cast<size_t>(8 * g.count + 8));
    const float m0 = g.first;
    for (int j = 9; j >= 1; --j) {
      const float v = m0 - step + std::log10(static_cast<float>(j)) * step;
      if (!(v > lo)) break;
      values.push_back(v);
    }
    for (long i = 0; i + 1 < g.count; ++i)
      for (int j = 2; j <= 9; ++j)
        values.push_back(g.first + static_cast<float>(i) * step + std::log10(static_cast<float>(j)) * step);
    if (g.count > 0) {
      const float last = g.first + static_cast<float>(g.count - 1) * step;
      for (int j = 2; j <= 9; ++j) {
        const float v = last + std::log10(static_cast<float>(j)) * step;
        if (!(v < hi)) break;
        values.push_back(v);
      }
    }
    *ticks = MakeVector(values);
    return;
  }

  if (AxisLogTicks == 0 && g.count < kLeastMajorTicks) {
    step *= 0.5f;
    g = GridFor(lo, hi, step);
  }
  if (major == 0) {
    step *= g.count > 2 ? 0.2f : 0.1f;
    g = GridFor(lo, hi, step);
  }
  values.reserve(static_cast<size_t>(g.count));
  for (long i = 0; i < g.count; ++i) values.push_back(g.first + static_cast<float>(i) * step);
  *ticks = MakeVector(values);
}
