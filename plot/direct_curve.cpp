#include "plot/direct_curve.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "numerics/arrays.h"
#include "plot/curve_strokes.h"

using namespace platform;
using namespace curve_strokes;

namespace {

// Draws the symbol or line piece of one point. The pen is at (x, y) on
// entry; it is left where the next connecting segment starts.
struct FormContext {
  DrawContext& dc;
  const CWINPlot& plot;
  HPEN whitePen;
  HPEN* centrePen;  // the pen of the current point (style 13 centre line)
};

void ThickLine(DrawContext& dc, int qx, int qy, int x, int y) {
  if (qx == x && qy == y) return;
  BroadLine(dc, qx, qy, x, y);
}

void Circle(DrawContext& dc, int x, int y, int s) {
  SymbolOrDot(dc, x, y, s > 0, [&] { dc.Ellipse(x - s, y - s, x + s, y + s); });
}

void Form(FormContext& f, int style, int x, int y, int qx, int qy, bool continuing, bool lastPoint) {
  DrawContext& dc = f.dc;
  const int s = f.plot.symbolSize;
  switch (style) {
    case 1: SymbolOrDot(dc, x, y, s > 0, [&] { Diagonals(dc, x, y, s, 0); }); break;
    case 2:
    case 6:
    case 15: Circle(dc, x, y, s); break;
    case 3: SymbolOrDot(dc, x, y, s > 0, [&] { Triangle(dc, x, y, s); }); break;
    case 5: SymbolOrDot(dc, x, y, s > 0, [&] { Box(dc, x, y, s); }); break;
    case 7: Dot(dc, x, y); break;
    case 8:
      if (s > 0) dc.Ellipse(x - s, y - s, x + s, y + s);
      Segment(dc, x, PixelTrunc(f.plot.yOffset), x, y);
      break;
    case 9: SymbolOrDot(dc, x, y, s > 0, [&] { dc.Rectangle(x - s, y - s, x + s, y + s); }); break;
    case 10:
      SymbolOrDot(dc, x, y, s > 0, [&] {
        for (int shift : {0, -1, 1}) Diagonals(dc, x, y, s, shift);
      });
      break;
    case 11: SymbolOrDot(dc, x, y, s > 0, [&] { MapCell(dc, x, y, f.plot.symbolHalfWidth, s, f.plot.plotLeft, f.plot.plotTop, f.plot.plotRight, f.plot.plotBottom); }); break;
    case 12:
      if (continuing && (qx != x || qy != y)) {
        ThickLine(dc, qx, qy, x, y);
        dc.MoveTo(x, y);
      }
      break;
    case 13:
      if (continuing) {
        dc.SelectObject(f.whitePen);
        ThickLine(dc, qx, qy, x, y);
        dc.SelectObject(*f.centrePen);
        Segment(dc, qx, qy, x, y);
      }
      break;
    case 14:
      if (!continuing)
        CWINPlot::DrawDot(dc, x, y);
      else if (lastPoint)
        CWINPlot::DrawDotIfPhase(dc, x, y);
      else
        CWINPlot::DrawDottedSegment(dc, qx, qy, x, y);
      break;
    case 16: Square(dc, x, y); break;
    case 17:
      if (continuing && (qx != x || qy != y)) {
        ThickLine(dc, qx, qy, x, y);
        dc.MoveTo(x, y);
      }
      Circle(dc, x, y, s);
      break;
    case 18:
      if (continuing && (qx != x || qy != y)) {
        static const int offsets[8][2] = {{0, -2}, {0, -1}, {0, 1}, {0, 2}, {-2, 0}, {-1, 0}, {1, 0}, {2, 0}};
        for (const auto& o : offsets) Segment(dc, qx + o[0], qy + o[1], x + o[0], y + o[1]);
        dc.MoveTo(x, y);
      }
      SymbolOrDot(dc, x, y, s > 0, [&] { dc.Ellipse(x - 2 * s, y - 2 * s, x + 2 * s, y + 2 * s); });
      break;
    case 19: {
      const int h = f.plot.boxHalfHeight, b = f.plot.boxHalfWidth;
      SymbolOrDot(dc, x, y, h > 0, [&] { dc.Rectangle(x - b, y - h, x + b, y + h); });
      break;
    }
    case 22: FourSquares(dc, x, y); break;
    case 23: NestedSquares(dc, x, y); break;
    default:  // -1, 0, 4, 20, 21 and unknown styles: nothing beyond the line
      break;
  }
}

struct Range {
  int s = 0;  // first drawn position is s (point s + 1)
  int e = 0;  // last drawn point
};

Range IndexRange(int first, int last, int n) {
  Range r;
  // The comparisons with n are unsigned, as the callers' ranges assume.
  const unsigned un = static_cast<unsigned>(n);
  r.s = (first > 1 && static_cast<unsigned>(first) < un - 1u) ? first - 1 : 0;
  r.e = (static_cast<unsigned>(last) < un && last > r.s + 1) ? last : n;
  return r;
}

int PointCount(const CCurve* curve) {
  if (!curve || !curve->x || !curve->y) return 0;
  // The y vector is expected to be at least as long; never read past it.
  return static_cast<int>(std::min(curve->x->count, curve->y->count));
}

COLORREF RowColour(int** colours, int k) {
  return RGB(colours[k][1] & 0xff, colours[k][2] & 0xff, colours[k][3] & 0xff);
}

HMETAFILE Record(CWINPlot* plot, CCurve* curve, int first, int last, COLORREF colour, int** colours, int style,
                 int size) {
  MetafileDC dc;
  dc.SetWindowExt(PlotSpaceWidth(), PlotSpaceHeight());
  const int n = PointCount(curve);
  // The matrix has rows 1..n: the first row's colour is read only inside it.
  const COLORREF base = !colours ? colour : (n > 0 ? RowColour(colours, std::clamp(first, 1, n)) : 0);
  HPEN curvePen = CreatePen(PS_SOLID, 0, base);
  HPEN whitePen = CreatePen(PS_SOLID, 0, 0xffffff);
  HBRUSH brush = CreateSolidBrush(base);
  HGDIOBJ oldPen = dc.SelectObject(curvePen);
  HGDIOBJ oldBrush = dc.SelectObject(style == 15 ? GetStockObject(NULL_BRUSH) : brush);
  const int keptSize = plot->symbolSize;
  plot->symbolSize = size;

  // Symbols of points at the edge would reach over the frame: the curve is
  // cut at it.
  const bool framed = plot->plotRight > plot->plotLeft && plot->plotBottom > plot->plotTop;
  if (framed) {
    dc.SaveDC();
    dc.IntersectClipRect(plot->plotLeft, plot->plotTop, plot->plotRight + 1, plot->plotBottom + 1);
  }
  HPEN pointPen = curvePen;
  FormContext f{dc, *plot, whitePen, &pointPen};
  const Range r = IndexRange(first, last, n);
  bool penDown = false;
  int qx = 0, qy = 0;
  for (int k = r.s + 1; k <= r.e; ++k) {
    if (colours) {
      HPEN next = CreatePen(PS_SOLID, 0, RowColour(colours, k));
      dc.SelectObject(next);
      DeleteObject(pointPen);
      pointPen = next;
    }
    const float x = curve->x->data[k - 1];
    const float y = curve->y->data[k - 1];
    if (!(plot->xMin <= x && x <= plot->xMax && plot->yMin <= y && y <= plot->yMax)) {
      penDown = false;  // also for NaN: the curve breaks here
      continue;
    }
    const int px = PixelTrunc(static_cast<double>(x) * plot->xScale + plot->xOffset);
    const int py = PixelTrunc(static_cast<double>(y) * plot->yScale + plot->yOffset);
    if (penDown) {
      if ((plot->connectPoints || style == -1) && style != 14)
        dc.LineTo(px, py);
      else
        dc.MoveTo(px, py);
      Form(f, style, px, py, qx, qy, true, k == r.e);
    } else {
      penDown = true;
      dc.MoveTo(px, py);
      Form(f, style, px, py, px, py, false, k == r.e);
    }
    qx = px;
    qy = py;
  }

  if (framed) dc.RestoreDC(-1);
  dc.SelectObject(oldPen);
  dc.SelectObject(oldBrush);
  DeleteObject(pointPen);  // the curve pen itself when no point pen replaced it
  DeleteObject(whitePen);
  DeleteObject(brush);
  plot->symbolSize = keptSize;
  return dc.Close();
}

// Views of elements from..from+n-1 of two 1-based arrays as one curve.
struct ArrayCurve {
  CVector x, y;
  std::unique_ptr<CCurve> curve;
  ArrayCurve(float* xa, float* ya, int n, int from) {
    x.Attach(xa, n, from);
    y.Attach(ya, n, from);
    curve = std::make_unique<CCurve>(&x, &y);
  }
};

}  // namespace

HMETAFILE DrawCurveInDC(CWINPlot* plot, CCurve* curve, int first, int last, COLORREF colour, int style, int size) {
  if (last < first || !plot) return 0;
  return Record(plot, curve, first, last, colour, nullptr, style, size);
}

HMETAFILE DrawCurveInDC2(CWINPlot* plot, CCurve* curve, int first, int last, int** colours, int style, int size) {
  if (!plot || !colours) return 0;
  return Record(plot, curve, first, last, 0, colours, style, size);
}

HMETAFILE DrawCurveInWindow(CWINPlot* plot, CCurve* curve, COLORREF colour, int style, int size) {
  return DrawCurveInDC(plot, curve, 1, PointCount(curve), colour, style, size);
}

HMETAFILE PlotFloatArrays(CWINPlot* plot, float* x, float* y, int n, COLORREF colour, int style, int size) {
  if (n < 1 || !x || !y) return 0;
  ArrayCurve c(x, y, n, 1);
  return DrawCurveInWindow(plot, c.curve.get(), colour, style, size);
}

HMETAFILE PlotFloatArraysRange(CWINPlot* plot, float* x, float* y, int n, int from, int to, COLORREF colour,
                               int style, int size) {
  const int count = std::min(to - from + 1, n);
  if (count < 1 || !x || !y) return 0;
  ArrayCurve c(x, y, count, std::max(from, 1));
  return DrawCurveInWindow(plot, c.curve.get(), colour, style, size);
}

HMETAFILE PlotFloatArraysColoured(CWINPlot* plot, float* x, float* y, int n, int** colours, int style, int size) {
  if (n < 1 || !x || !y) return 0;
  ArrayCurve c(x, y, n, 1);
  return DrawCurveInDC2(plot, c.curve.get(), 1, n, colours, style, size);
}

HMETAFILE PlotDoubleArrays(CWINPlot* plot, const double* x, const double* y, int n, COLORREF colour, int style,
                           int size) {
  if (n < 1 || !x || !y) return 0;
  float* fx = vector(1, n);
  float* fy = vector(1, n);
  for (int i = 1; i <= n; ++i) {
    fx[i] = static_cast<float>(x[i]);
    fy[i] = static_cast<float>(y[i]);
  }
  HMETAFILE mf = PlotFloatArrays(plot, fx, fy, n, colour, style, size);
  free_vector(fy, 1, n);
  free_vector(fx, 1, n);
  return mf;
}

HMETAFILE PlotFloatDoubleArrays(CWINPlot* plot, float* x, const double* y, int n, COLORREF colour, int style,
                                int size) {
  if (n < 1 || !x || !y) return 0;
  float* fy = vector(1, n);
  for (int i = 1; i <= n; ++i) fy[i] = static_cast<float>(y[i]);
  HMETAFILE mf = PlotFloatArrays(plot, x, fy, n, colour, style, size);
  free_vector(fy, 1, n);
  return mf;
}

HMETAFILE PlotFloatDoubleArraysScaled(CWINPlot* plot, float* x, const double* y, int n, double peak,
                                      COLORREF colour, int style, int size) {
  if (n < 1 || !x || !y) return 0;
  double m = y[1];
  for (int i = 2; i <= n; ++i)
    if (y[i] > m) m = y[i];
  if (std::fabs(m) < 1e-30) m = peak;
  float* fy = vector(1, n);
  for (int i = 1; i <= n; ++i) fy[i] = static_cast<float>(peak / m * y[i]);
  HMETAFILE mf = PlotFloatArrays(plot, x, fy, n, colour, style, size);
  free_vector(fy, 1, n);
  return mf;
}

HMETAFILE PlotFloatArraysScaled(CWINPlot* plot, float* x, const float* y, int n, double peak, COLORREF colour,
                                int style, int size) {
  if (n < 1 || !x || !y) return 0;
  double m = y[1];
  for (int i = 2; i <= n; ++i)
    if (y[i] > m) m = y[i];
  if (m == 0) m = peak;
  float* fy = vector(1, n);
  for (int i = 1; i <= n; ++i) fy[i] = static_cast<float>(peak / m * y[i]);
  HMETAFILE mf = PlotFloatArrays(plot, x, fy, n, colour, style, size);
  free_vector(fy, 1, n);
  return mf;
}
