// Drawing one curve of a plot into a device context: visible runs,
// connecting lines, symbols, value labels, error bars and colouring by
// extra values.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "numerics/arrays.h"
#include "numerics/random.h"
#include "numerics/upper_envelope.h"
#include "plot/curve_strokes.h"
#include "plot/cwinplot.h"

using namespace platform;
using namespace curve_strokes;

void CWINPlot::ThinPoints(int from, int to) {
  if (to < 1) return;
  if (thinMaskCount != to) {
    thinMask.clear();
    thinMaskCount = 0;
  }
  if (!thinMask.empty()) {
    RandomSelectFraction(thinMask.data(), from + 1, to, 0.1f);
  } else {
    thinMask.resize(static_cast<size_t>(to) + 1);
    for (int k = 1; k <= to; ++k) thinMask[static_cast<size_t>(k)] = k;
    thinMaskCount = to;
    RandomSelectFraction2(thinMask.data(), from + 1, to, 0.8f);
  }
}

void CWINPlot::DrawCurve(DrawContext& dc, int i) {
  if (i < 0 || i >= curveCount) return;
  const CCurve* c = curves[static_cast<size_t>(i)];
  if (!c || !c->x || !c->y) return;
  const CVector& X = *c->x;
  const CVector& Yv = *c->y;
  int n = static_cast<int>(std::min(X.count, Yv.count));
  int from = 0;
  if (curveRangeSet[static_cast<size_t>(i)]) {
    const int to = curveTo[static_cast<size_t>(i)];
    if (static_cast<unsigned>(to + 1) < static_cast<unsigned>(n)) n = to + 1;
    if (static_cast<unsigned>(curveFrom[static_cast<size_t>(i)]) < X.count) from = curveFrom[static_cast<size_t>(i)];
  }
  if (n <= 0) return;
  if (from >= n) from = 0;

  // Numbered colour key.
  for (int j = 0; j < dcOption2; ++j) {
    HPEN pen = CreatePen(PS_SOLID, 0, GetCurveColor(j));
    HBRUSH brush = CreateSolidBrush(GetCurveColor(j));
    HGDIOBJ oldPen = dc.SelectObject(pen);
    HGDIOBJ oldBrush = dc.SelectObject(brush);
    Segment(dc, plotLeft + 5, plotTop + 15 * j + 5, plotLeft + 25, plotTop + 15 * j + 5);
    dc.MoveTo(plotLeft + 30, plotTop + 15 * j - 3);
    dc.SetTextAlign(TA_UPDATECP);
    char text[16];
    std::snprintf(text, sizeof text, "%d", j + 1);
    dc.TextOut(plotLeft + 30, plotTop + 15 * j - 3, text);
    dc.SelectObject(oldPen);
    dc.SelectObject(oldBrush);
    DeleteObject(pen);
    DeleteObject(brush);
  }

  int style = GetCurveStyle(i);
  const COLORREF colour = GetCurveColor(i);
  HPEN curvePen = CreatePen(PS_SOLID, 0, colour);
  HPEN whitePen = CreatePen(PS_SOLID, 0, 0xffffff);
  HBRUSH curveBrush = CreateSolidBrush(colour);
  HPEN greyPen = CreatePen(PS_SOLID, 0, greyColor);
  HGDIOBJ oldPen = dc.SelectObject(curvePen);
  HGDIOBJ curveFill = style == 15 ? GetStockObject(NULL_BRUSH) : curveBrush;
  HGDIOBJ oldBrush = dc.SelectObject(curveFill);
  const int y0 = logY ? plotBottom - offPlotDistance : ToPixelY(0.0f);

  if (style == 20) {
    std::vector<Point> polygon;
    polygon.reserve(static_cast<size_t>(n));
    for (int p = 0; p < n; ++p) polygon.push_back({ToPixelX(X.data[p]), ToPixelY(Yv.data[p])});
    dc.Polygon(polygon);
  } else {
    if (curveSetOption && style != 0 && !curveNames[static_cast<size_t>(i)].empty()) {
      dc.MoveTo(plotLeft + 5, plotTop + 20 * i + 5);
      dc.SetTextAlign(TA_UPDATECP);
      COLORREF oldText = dc.SetTextColor(colour);
      dc.TextOut(plotLeft + 5, plotTop + 20 * i + 5, curveNames[static_cast<size_t>(i)]);
      dc.SetTextColor(oldText);
    }
    dc.MoveTo(ToPixelX(X.data[from]), ToPixelY(Yv.data[from]));
    bool run = false;
    int px = 0, py = 0, qx = 0, qy = 0;
    const bool onExtra = hasExtraData && extraDataCurve == i && extraData;
    if (onExtra && extraDataCount > 0) {
      extraMax = extraData[0];
      for (int k = 1; k < extraDataCount; ++k) extraMax = std::max(extraMax, extraData[k]);
    }
    float xprev = X.data[from];
    int counter = std::max(curveStep, 1);
    const int step = std::max(curveStep, 1);
    if (thinEnabled) ThinPoints(from, n);
    for (int p = from; p < n; ++p) {
      int k = p;
      if (thinEnabled && thinMaskCount > 0 && static_cast<size_t>(p) + 1 < thinMask.size()) {
        k = thinMask[static_cast<size_t>(p) + 1] - 1;
        if (k < 0 || k >= n) k = p;  // a mark outside the curve is never read
      }
      if (counter != step) {
        ++counter;
        continue;
      }
      counter = 1;

      HPEN pointPen = 0;
      HBRUSH pointBrush = 0;
      if (onExtra && k < extraDataCount) {
        const float e = extraData[k];
        // Values that are all 0 (a distribution an exact fit left empty)
        // stand at the low end: in the curve's own colour they read as a
        // wall at the maximum.
        float f = hasExtraScale    ? (e - extraScaleLow) / (extraScaleHigh - extraScaleLow)
                  : extraMax != 0 ? e / extraMax
                                   : 0.0f;
        f = std::clamp(f, 0.0f, 1.0f);
        if ((rampBlackForMissing || rampWhiteForMissingB || rampWhiteForMissingA) && e == -1.0f) f = -1.0f;
        pointPen = CreatePen(PS_SOLID, 0, ColorForValue(f));
        pointBrush = CreateSolidBrush(ColorForValue(f));
        dc.SelectObject(pointPen);
        dc.SelectObject(pointBrush);
      }

      const float x = X.data[k], y = Yv.data[k];
      if ((xRangeFixed == 0 || (xMin <= x && x <= xMax)) && !(onExtra && hasYRange) && (y > yMax || y < yMin) &&
          (hideMarked == 0 || (k < greyMaskCount && greyMask[static_cast<size_t>(k) + 1] != 0)))
        PointsOutsideYRange = 1;

      const bool grey = greyMaskCount > 0 && k < greyMaskCount && greyMask[static_cast<size_t>(k) + 1] == 0;
      const int keptStyle = style, keptSize = symbolSize;
      if (grey) {
        dc.SelectObject(greyPen);
        style = greyValue;
        symbolSize = greySymbolSize;
      }

      const bool inY = yMin <= y && y <= yMax, inX = xMin <= x && x <= xMax;
      const bool visible = (inY && inX) || (inY && ((logX && x == 0) || (logY && y == 0))) ||
                           (inX && onExtra && hasYRange);
      if (!visible) {
        run = false;
      } else {
        if (run) {
          qx = px;
          qy = py;
        }
        px = ToPixelX(x);
        py = ToPixelY(y);
        if (onExtra && hasYRange && (run || style != 0)) {
          if (y <= yRangeLow)
            py = plotBottom;
          else if (y >= yRangeHigh)
            py = plotTop;
          else
            py = PixelTrunc((y - yRangeLow) / (yRangeHigh - yRangeLow) * (plotTop - plotBottom) + plotBottom);
        }
        const bool firstOfRun = !run;
        if (!run) {
          run = true;
          qx = px;
          qy = py;
          dc.MoveTo(px, py);
        } else {
          bool line = style == -1 || (connectPoints && style != 0 && style != 14 && style != 21 && !onExtra);
          if (line && x < xprev && dcOption3) line = false;
          if (line)
            dc.LineTo(px, py);
          else
            dc.MoveTo(px, py);
        }

        const bool noSymbol = rampWhiteForMissingA && extraData && k < extraDataCount && extraData[k] == -1.0f;
        const int s = symbolSize;
        if (!noSymbol) {
          switch (style) {
            case 1: SymbolOrDot(dc, px, py, s != 0, [&] { Diagonals(dc, px, py, s, 0); }); break;
            case 2:
            case 6:
            case 15: SymbolOrDot(dc, px, py, s != 0, [&] { dc.Ellipse(px - s, py - s, px + s, py + s); }); break;
            case 3: SymbolOrDot(dc, px, py, s != 0, [&] { Triangle(dc, px, py, s); }); break;
            case 4: DrawValueLabel(*this, dc, px, py, i, k); break;
            case 5: SymbolOrDot(dc, px, py, s != 0, [&] { Box(dc, px, py, s); }); break;
            case 7: Dot(dc, px, py); break;
            case 8:
              if (s != 0) dc.Ellipse(px - s, py - s, px + s, py + s);
              Segment(dc, px, y0, px, py);
              break;
            case 9: SymbolOrDot(dc, px, py, s != 0, [&] { dc.Rectangle(px - s, py - s, px + s, py + s); }); break;
            case 10:
              SymbolOrDot(dc, px, py, s != 0, [&] {
                for (int shift : {0, -1, 1}) Diagonals(dc, px, py, s, shift);
              });
              break;
            case 11:
              SymbolOrDot(dc, px, py, s != 0, [&] { MapCell(dc, px, py, symbolHalfWidth, s, plotLeft, plotTop, plotRight, plotBottom); });
              break;
            case 12:
              if (qx != px || qy != py) {
                BroadLine(dc, qx, qy, px, py);
                dc.MoveTo(px, py);
              }
              break;
            case 13:
              dc.SelectObject(whitePen);
              if (qx != px || qy != py) {
                BroadLine(dc, qx, qy, px, py);
                dc.MoveTo(px, py);
              }
              dc.SelectObject(grey ? greyPen : (pointPen ? pointPen : curvePen));
              Segment(dc, qx, qy, px, py);
              break;
            case 14:
              if (firstOfRun)
                DrawDot(dc, px, py);
              else if (k == n - 1)
                DrawDotIfPhase(dc, px, py);
              else
                DrawDottedSegment(dc, qx, qy, px, py);
              break;
            case 16: Square(dc, px, py); break;
            case 17:
              if (qx != px || qy != py) BroadLine(dc, qx, qy, px, py);
              dc.MoveTo(px, py);
              SymbolOrDot(dc, px, py, s != 0, [&] { dc.Ellipse(px - s, py - s, px + s, py + s); });
              break;
            case 18:
              if (qx != px || qy != py) {
                for (int d : {-2, -1, 1, 2}) {
                  Segment(dc, qx, qy + d, px, py + d);
                  Segment(dc, qx + d, qy, px + d, py);
                }
                dc.MoveTo(px, py);
              }
              SymbolOrDot(dc, px, py, s != 0, [&] { dc.Ellipse(px - 2 * s, py - 2 * s, px + 2 * s, py + 2 * s); });
              break;
            case 19:
              SymbolOrDot(dc, px, py, boxHalfHeight != 0, [&] {
                dc.Rectangle(px - boxHalfWidth, py - boxHalfHeight, px + boxHalfWidth, py + boxHalfHeight);
              });
              break;
            case 21:
              if (s != 0 && static_cast<size_t>(i) < attachedX.size() && attachedX[static_cast<size_t>(i)] &&
                  attachedY[static_cast<size_t>(i)]) {
                const float a = attachedX[static_cast<size_t>(i)]->GetAt(k);
                const float b = attachedY[static_cast<size_t>(i)]->GetAt(k);
                dc.Rectangle(ToPixelX(a), y0, ToPixelX(b), py);
              }
              break;
            case 22: FourSquares(dc, px, py); break;
            case 23: NestedSquares(dc, px, py); break;
            default: break;
          }
        }

        // Error bars: the attached vectors hold the bar ends as values.
        for (int which = 0; which < 2; ++which) {
          const auto& table = which == 0 ? extraXVectors : extraYVectors;
          const bool has = which == 0 ? hasExtraX : hasExtraY;
          if (!has || static_cast<size_t>(i) >= table.size() || !table[static_cast<size_t>(i)]) continue;
          const int yv = ToPixelY(table[static_cast<size_t>(i)]->GetAt(k));
          Segment(dc, px - ErrorBarHalfWidth, yv, px + ErrorBarHalfWidth, yv);
          Segment(dc, px, yv, px, py);
        }
      }

      if (grey) {
        style = keptStyle;
        symbolSize = keptSize;
        dc.SelectObject(curvePen);
      }
      if (pointPen) {
        dc.SelectObject(curvePen);
        dc.SelectObject(curveFill);
        DeleteObject(pointPen);
        DeleteObject(pointBrush);
      }
      xprev = x;
    }

    // Envelopes of the extra values: for every distinct x (and y) the
    // largest extra value, drawn as lines along the bottom and left side.
    const int m = std::min(n, extraDataCount);
    if (onExtra && extraDataFlag && extraMax != 0 && m > 0) {
      float* xs = vector(1, m);
      float* ys = vector(1, m);
      envelopeX = vector(1, m);
      envelopeXMax = vector(1, m);
      envelopeYMax = vector(1, m);
      envelopeY = vector(1, m);
      for (int p = 0; p < m; ++p) {
        xs[p + 1] = X.data[p];
        ys[p + 1] = Yv.data[p];
      }
      UpperEnvelope(m, xs, ys, extraData - 1, &envelopeXCount, envelopeX, envelopeXMax, &envelopeYCount,
                    envelopeYMax, envelopeY);
      auto polyline = [&](COLORREF c, auto point, int count) {
        HPEN pen = CreatePen(PS_SOLID, 0, c);
        HBRUSH brush = CreateSolidBrush(c);
        dc.SelectObject(pen);
        dc.SelectObject(brush);
        for (int j = 1; j <= count; ++j) {
          const Point q = point(j);
          if (j == 1)
            dc.MoveTo(q.x, q.y);
          else
            dc.LineTo(q.x, q.y);
        }
        dc.SelectObject(curvePen);
        dc.SelectObject(curveFill);
        DeleteObject(pen);
        DeleteObject(brush);
      };
      polyline(
          0xff0000,
          [&](int j) {
            return Point{ToPixelX(envelopeX[j]), ToPixelY(yMin + (yMax - yMin) * envelopeXMax[j] / extraMax)};
          },
          envelopeXCount);
      polyline(
          0x00ff00,
          [&](int j) {
            return Point{ToPixelX(xMin + (xMax - xMin) * envelopeYMax[j] / extraMax), ToPixelY(envelopeY[j])};
          },
          envelopeYCount);
      free_vector(xs, 1, m);
      free_vector(ys, 1, m);
      free_vector(envelopeX, 1, m);
      free_vector(envelopeXMax, 1, m);
      free_vector(envelopeYMax, 1, m);
      free_vector(envelopeY, 1, m);
      envelopeX = envelopeXMax = envelopeYMax = envelopeY = nullptr;
    }
  }

  dc.SelectObject(oldPen);
  dc.SelectObject(oldBrush);
  DeleteObject(curvePen);
  DeleteObject(whitePen);
  DeleteObject(curveBrush);
  DeleteObject(greyPen);
}

void DrawValueLabel(const CWINPlot& plot, DrawContext& dc, int x, int y, int i, int k) {
  if (i < 0 || i >= plot.curveCount) return;
  const CCurve* c = plot.curves[static_cast<size_t>(i)];
  if (!c || !c->y) return;
  char text[20] = {0};
  c->y->FormatScaledElement(k, text, sizeof text, plot.valueFactor);
  dc.MoveTo(x, y);
  dc.SetTextAlign(TA_UPDATECP | TA_LEFT | TA_TOP);
  dc.TextOut(x, y, text);
}
