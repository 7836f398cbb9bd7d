// Scaling of a CWINPlot: the plot rectangle and its frame, automatic and
// fixed value ranges, and the value-to-pixel transforms
//   column = value * xScale + xOffset,  row = value * yScale + yOffset
// (log10 of the value on a logarithmic axis; rows grow downwards).
#include <cmath>
#include <limits>

#include "plot/cwinplot.h"

namespace {

// Extremes of one curve's values over an index window. Non-finite values
// never enter a range; positiveOnly serves logarithmic axes; with a mask
// only points whose entry is nonzero count.
struct Extremes {
  float lo = 0, hi = 0;
  bool found = false;
};

Extremes ExtremesOf(const CVector* v, int from, int to, bool positiveOnly, const std::vector<int>* mask,
                    int maskCount) {
  Extremes e;
  if (!v || v->count == 0) return e;
  if (from < 0) from = 0;
  if (to > static_cast<int>(v->count) - 1) to = static_cast<int>(v->count) - 1;
  for (int k = from; k <= to; ++k) {
    const float value = v->data[k];
    if (!std::isfinite(value) || (positiveOnly && !(value > 0))) continue;
    if (mask && k < maskCount && (*mask)[static_cast<size_t>(k) + 1] == 0) continue;
    if (!e.found) {
      e.lo = e.hi = value;
      e.found = true;
    } else {
      e.lo = PlotMin(e.lo, value);
      e.hi = PlotMax(e.hi, value);
    }
  }
  return e;
}

}  // namespace

void CWINPlot::NoCurveRanges() {
  xScale = yScale = xOffset = yOffset = 0;
  xMin = yMin = -1;
  xMax = yMax = 1;
}

void CWINPlot::IndexWindow(int i, int& from, int& to) const {
  const CCurve* c = curves[static_cast<size_t>(i)];
  const int last = (c && c->x) ? static_cast<int>(c->x->count) - 1 : -1;
  from = 0;
  to = last;
  if (curveRangeSet[static_cast<size_t>(i)]) {
    const int rf = curveFrom[static_cast<size_t>(i)], rt = curveTo[static_cast<size_t>(i)];
    if (rf >= 0 && rf <= last) from = rf;
    if (rt >= 0 && rt <= last) to = rt;
  }
}

void CWINPlot::IndexWindows(std::vector<int>& from, std::vector<int>& to) const {
  from.assign(static_cast<size_t>(curveCount) + 1, 0);
  to.assign(static_cast<size_t>(curveCount) + 1, 0);
  for (int i = 0; i < curveCount; ++i) IndexWindow(i, from[static_cast<size_t>(i)], to[static_cast<size_t>(i)]);
}

void CWINPlot::ComputeTransforms(bool doX, bool doY) {
  scaleChanged = 0;
  auto store = [this](float& field, float value) {
    if (value != field && field != 0) scaleChanged = 1;
    field = value;
  };
  // A degenerate or non-finite range leaves that axis without a transform
  // (as on a plot without curves) instead of dividing by zero.
  auto axis = [&](float lo, float hi, bool logarithmic, int p0, int p1, float& scale, float& offset) {
    if (logarithmic && lo > 0 && hi > 0) {
      lo = std::log10(lo);
      hi = std::log10(hi);
    }
    const float span = hi - lo;
    float s = 0, o = 0;
    if (std::isfinite(span) && span != 0) {
      s = static_cast<float>(p1 - p0) / span;
      o = static_cast<float>(p0) - lo * s;
      if (!std::isfinite(s) || !std::isfinite(o)) s = o = 0;
    }
    store(scale, s);
    store(offset, o);
  };
  if (doX) axis(xMin, xMax, logX, plotLeft, plotRight, xScale, xOffset);
  if (doY) axis(yMin, yMax, logY, plotBottom, plotTop, yScale, yOffset);
}

void CWINPlot::AutoScale() {
  running_ = RunningExtents{};
  ScaleOverCurves();
}

void CWINPlot::ScaleOverCurves() {
  if (curveCount == 0) {
    NoCurveRanges();
    return;
  }
  if (xRangeFixed && yRangeFixed) return;
  const std::vector<int>* mask = (hideMarked && greyMaskCount > 0) ? &greyMask : nullptr;
  // Extents folded under another mask hold for none of the curves now.
  if (mask != running_.mask || greyMaskCount != running_.maskCount) {
    running_ = RunningExtents{};
    running_.mask = mask;
    running_.maskCount = greyMaskCount;
  }

  // The curves not yet in the axis's running extent are folded into it, in
  // curve order, as one pass over all of them folds.
  auto range = [&](bool xAxis, bool positiveOnly, float& lo, float& hi, bool& anyPositive) {
    RunningExtent& r = running_.extent[xAxis ? 0 : 1][positiveOnly ? 1 : 0];
    if (r.count > curveCount) r = RunningExtent{};
    for (int i = r.count; i < curveCount; ++i) {
      const CCurve* c = curves[static_cast<size_t>(i)];
      const CVector* v = c ? (xAxis ? c->x : c->y) : nullptr;
      int from = 0, to = -1;
      IndexWindow(i, from, to);
      Extremes e = ExtremesOf(v, from, to, positiveOnly, mask, greyMaskCount);
      r.anyPositive = r.anyPositive || e.found;
      if (positiveOnly && !e.found) continue;  // only positive values count on a log axis
      // An empty window contributes 0, as an empty vector's extremes do.
      if (r.first) {
        r.lo = e.lo;
        r.hi = e.hi;
        r.first = false;
      } else {
        r.lo = PlotMin(r.lo, e.lo);
        r.hi = PlotMax(r.hi, e.hi);
      }
    }
    r.count = curveCount;
    anyPositive = r.anyPositive;
    if (r.first) {
      lo = hi = 0;
    } else {
      lo = r.lo;
      hi = r.hi;
    }
  };

  const float margin = 0.05f;
  if (!xRangeFixed) {
    bool positive = false;
    if (logX) {
      range(true, true, xMin, xMax, positive);
      if (!positive) logX = 0;
    }
    if (logX) {
      float lo = std::log10(xMin), hi = std::log10(xMax);
      if (lo == hi) {
        hi += 1;
        lo -= 1;
      }
      const float d = hi - lo;
      xMin = std::pow(10.0f, lo - margin * d);
      xMax = std::pow(10.0f, hi + margin * d);
    } else {
      range(true, false, xMin, xMax, positive);
      if (xMin == xMax) {
        xMax += 1;
        xMin -= 1;
      }
      const float d = xMax - xMin;
      xMin -= margin * d;
      xMax += margin * d;
    }
  }
  if (!yRangeFixed) {
    bool positive = false;
    if (logY) {
      range(false, true, yMin, yMax, positive);
      if (!positive) logY = 0;
    }
    if (logY) {
      float lo = std::log10(yMin), hi = std::log10(yMax);
      if (lo == hi) {
        hi += 1;
        lo -= 1;
      }
      const float d = hi - lo;
      yMin = std::pow(10.0f, lo - margin * d);
      yMax = std::pow(10.0f, hi + margin * d);
    } else {
      range(false, false, yMin, yMax, positive);
      if (yMin > 0 && yIncludesZero) yMin = 0;
      if (yMin == yMax) {
        yMax += 1;
        yMin -= 1;
      }
      yMax += margin * (yMax - yMin);
      if (!yIncludesZero && yMin > 0) {
        const float t = yMin - margin * (yMax - yMin);
        yMin = t >= 0 ? t : 0;
      }
    }
  }
  ComputeTransforms();
}

void CWINPlot::RescaleAll() {
  xRangeFixed = 0;
  yRangeFixed = 0;
  AutoScale();
}

void CWINPlot::SetRanges(float x0, float x1, float y0, float y1) {
  if (curveCount == 0) {
    NoCurveRanges();
    return;
  }
  // Non-finite bounds are refused like a degenerate zoom rectangle.
  if (!std::isfinite(x0) || !std::isfinite(x1) || !std::isfinite(y0) || !std::isfinite(y1)) return;
  if (std::fabs(y0 - y1) < 1e-10 || std::fabs(x0 - x1) < 1e-10) return;
  xRangeFixed = 1;
  yRangeFixed = 1;
  xMin = x0;
  xMax = x1;
  yMin = y0;
  yMax = y1 > 1e10f ? 1.0f : y1;
  ComputeTransforms();
}

void CWINPlot::SetXScale(float x0, float x1) {
  if (curveCount == 0) {
    NoCurveRanges();
    return;
  }
  xRangeFixed = 1;
  xMin = x0;
  xMax = x1;
  ComputeTransforms(true, false);
}

void CWINPlot::SetYScale(float y0, float y1) {
  if (curveCount == 0) {
    NoCurveRanges();
    return;
  }
  yRangeFixed = 1;
  yMin = y0;
  yMax = y1;
  ComputeTransforms(false, true);
}

void CWINPlot::SetXRangeAutoY(float x0, float x1) {
  if (curveCount == 0) {
    NoCurveRanges();
    return;
  }
  xRangeFixed = 1;
  yRangeFixed = 0;
  xMin = x0;
  xMax = x1;
  std::vector<int> from, to;
  IndexWindows(from, to);
  bool first = true;
  for (int i = 0; i < curveCount; ++i) {
    const CCurve* c = curves[static_cast<size_t>(i)];
    if (!c) continue;
    // The window's end is exclusive in the curve's search.
    const float lo = c->MinYInXWindow(xMin, xMax, from[static_cast<size_t>(i)], to[static_cast<size_t>(i)] + 1);
    const float hi = c->MaxYInXWindow(xMin, xMax, from[static_cast<size_t>(i)], to[static_cast<size_t>(i)] + 1);
    if (first) {
      yMin = lo;
      yMax = hi;
      first = false;
    } else {
      yMin = PlotMin(yMin, lo);
      yMax = PlotMax(yMax, hi);
    }
  }
  if (yMin > 0 && yIncludesZero) yMin = 0;
  if (yMin == yMax) {
    yMax += 1;
    yMin -= 1;
  }
  ComputeTransforms();
}

void CWINPlot::SetPlotRect(int top, int left, int bottom, int right) {
  // The single-precision stretch times the layout number, truncated:
  // 10 -> 13 and 500 -> 699.
  plotLeft = PixelTrunc(static_cast<double>(left) * static_cast<double>(PlotXStretch));
  plotRight = PixelTrunc(static_cast<double>(right) * static_cast<double>(PlotXStretch));
  plotBottom = bottom;
  plotTop = top;
  if (curveCount > 0) AutoScale();
  const int m = narrowMargins ? 5 : PlotFrameMargin;
  frameLeft = plotLeft - m;
  frameRight = plotRight + m;
  frameBottom = frameBottomAtPlot ? plotBottom : plotBottom + PlotFrameMargin + 20;
  frameTop = frameTopAtPlot ? plotTop : plotTop - PlotFrameMargin;
  PlaceButtons();
}

float CWINPlot::PixelToY(int row) const {
  if (!hasYRange || plotTop == plotBottom) return hasYRange ? yRangeLow : 0.0f;
  return yRangeLow + (yRangeHigh - yRangeLow) * static_cast<float>(row - plotBottom) /
                         static_cast<float>(plotTop - plotBottom);
}
