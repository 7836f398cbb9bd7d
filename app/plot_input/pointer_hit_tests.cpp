#include "app/plot_input/pointer_hit_tests.h"

#include <cmath>

#include "app/window/txla_window.h"
#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"

namespace {

constexpr float kHalfBox = 3.0f;

// The first point of the scan inside the box; 0 when none. Points lie in
// radial order, so the search ends at the first one right of the box.
int HitTest(const CWINPlot* plot, const float* values, int scan, float x, float y, float bx, float by) {
  const ScanSet& s = CurrentScanSet();
  if (!plot || !values || scan < 1 || scan > s.count || !s.radii[scan]) return 0;
  const float* r = s.radii[scan];
  for (int j = 1; j <= s.points[scan]; ++j) {
    const float xp = PlotPositionX(*plot, r[j]), yp = PlotPositionY(*plot, values[j]);
    if (xp - bx < x && x < xp + bx && yp - by < y && y < yp + by) return j;
    if (xp - kHalfBox > x) return 0;
  }
  return 0;
}

const float* ScanArray(float* const* arrays, int scan) {
  return arrays && scan >= 1 && scan <= CurrentScanSet().count ? arrays[scan] : nullptr;
}

}  // namespace

// Plot position of a value; a value <= 0 on a logarithmic axis sits at the
// plot's edge less its off-plot distance.
float PlotPositionX(const CWINPlot& p, float v) {
  if (p.logX) return v > 0 ? static_cast<float>(std::log10(v) * p.xScale + p.xOffset) : p.plotLeft - p.offPlotDistance;
  return v * p.xScale + p.xOffset;
}
float PlotPositionY(const CWINPlot& p, float v) {
  if (p.logY) return v > 0 ? static_cast<float>(std::log10(v) * p.yScale + p.yOffset) : p.plotTop - p.offPlotDistance;
  return v * p.yScale + p.yOffset;
}

int& FoundDataPoint() {
  static int found = 0;
  return found;
}
int& FoundResidualPoint() {
  static int found = 0;
  return found;
}

LogicalPointer PointerInLogicalUnits(int px, int py, int clientWidth, int clientHeight) {
  LogicalPointer p;
  if (clientWidth > 0) {
    p.x = px * 1.4f * 1000.0f / clientWidth;
    p.bx = kHalfBox * 1.4f * 1000.0f / clientWidth;
  }
  if (clientHeight > 0) {
    p.y = py * 1000.0f / clientHeight;
    p.by = kHalfBox * 1000.0f / clientHeight;
  }
  return p;
}

bool IsPointerInPlotRange(TXLAWindow& window, int, int y) {
  const PlotWindowSet& w = CurrentPlotWindows();
  const int height = window.Frame().ClientHeight();
  if (!w.dataPlot || !w.showData || height <= 0) return false;
  const float row = 1000.0f * y / height;
  return w.dataTop < row && row < w.dataBottom;
}

bool HitTestDistributionPoint(TXLAWindow& window, int, int y) {
  const CWINPlot* plot = Conti().distributionPlot;
  if (!plot) return false;
  return y > std::floor(window.Frame().ClientHeight() * plot->plotTop * 0.95 * 0.001);
}

bool HitTestDataPoint(int scan, float x, float y, float bx, float by) {
  FoundDataPoint() = 0;
  const int j = HitTest(CurrentPlotWindows().dataPlot, ScanArray(CurrentScanSet().signals.data(), scan), scan, x,
                        y, bx, by);
  if (j > 0) FoundDataPoint() = j;
  return j > 0;
}

bool HitTestResidualPoint(int scan, float x, float y, float bx, float by) {
  const int j = HitTest(CurrentPlotWindows().residualPlot, ScanArray(CurrentScanSet().residuals.data(), scan),
                        scan, x, y, bx, by);
  if (j > 0) FoundResidualPoint() = j;
  return j > 0;
}
