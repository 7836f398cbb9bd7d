// The changes of a plot's curve set that scale the plot again and record
// it: the plot made from one curve, a curve added, the last one replaced.
#include <memory>

#include "plot/cwinplot.h"
#include "plot/screen_button.h"

CWINPlot::CWINPlot(const CCurve& curve) {
  SetDefaultColors();
  defaultStyle = 0;
  ownedFirstCurve_ = std::make_unique<CCurve>(curve.x, curve.y);
  curves.push_back(ownedFirstCurve_.get());
  curveStyles.push_back(0);
  curveColors.push_back(ColorForIndex(1));
  curveColorSet.push_back(0);
  curveNames.emplace_back();
  curveRangeSet.assign(2, 0);
  curveFrom.assign(2, 0);
  curveTo.assign(2, 0);
  curveCount = 1;
  AutoScale();
}

void CWINPlot::AddCurve(CCurve* curve) {
  const int n = curveCount;
  curves.resize(static_cast<size_t>(n));
  curves.push_back(curve);
  curveNames.resize(static_cast<size_t>(n) + 1);
  curveNames[static_cast<size_t>(n)].clear();
  curveStyles.resize(static_cast<size_t>(n));
  curveStyles.push_back(defaultStyle);
  curveColors.resize(static_cast<size_t>(n));
  // The first curve takes colour entry 1, like the second.
  curveColors.push_back(ColorForIndex(n == 0 ? 1 : n));
  curveColorSet.resize(static_cast<size_t>(n));
  curveColorSet.push_back(0);
  curveRangeSet.resize(static_cast<size_t>(n) + 2, 0);
  curveFrom.resize(static_cast<size_t>(n) + 2, 0);
  curveTo.resize(static_cast<size_t>(n) + 2, 0);
  curveRangeSet[static_cast<size_t>(n)] = 0;
  curveFrom[static_cast<size_t>(n)] = 0;
  curveTo[static_cast<size_t>(n)] = 0;
  curveCount = n + 1;
  // The new curve is merged into the extents of those before it.
  ScaleOverCurves();
  if (scaleChanged == 0 && curveCount == 1) Plot();
}

void CWINPlot::ReplaceLastCurve(CCurve* curve) {
  if (curveCount <= 0) return;
  curves[static_cast<size_t>(curveCount - 1)] = curve;
  AutoScale();
  Plot();
}
