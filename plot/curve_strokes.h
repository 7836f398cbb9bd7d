#pragma once
// The pen strokes curve symbols are made of, for the drawing of a plot's
// curves and for the recording of a single curve into a metafile: both must
// draw a symbol with the same strokes in the same order.
#include <algorithm>

#include "platform/draw_context.h"

namespace curve_strokes {

using platform::DrawContext;

inline void Dot(DrawContext& dc, int x, int y) { dc.LineTo(x + 1, y + 1); }

inline void Segment(DrawContext& dc, int x0, int y0, int x1, int y1) {
  dc.MoveTo(x0, y0);
  dc.LineTo(x1, y1);
}

// A one-pixel square walked from (cx, cy) and back.
inline void Square(DrawContext& dc, int cx, int cy) {
  dc.LineTo(cx + 1, cy);
  dc.LineTo(cx + 1, cy + 1);
  dc.LineTo(cx, cy + 1);
  dc.LineTo(cx, cy);
}

// The line from (qx, qy) to (px, py) drawn four times, one pixel off to
// each side.
inline void BroadLine(DrawContext& dc, int qx, int qy, int px, int py) {
  Segment(dc, qx, qy - 1, px, py - 1);
  Segment(dc, qx, qy + 1, px, py + 1);
  Segment(dc, qx - 1, qy, px - 1, py);
  Segment(dc, qx + 1, qy, px + 1, py);
}

// The two strokes of a cross of half-size s, moved `shift` pixels along x.
inline void Diagonals(DrawContext& dc, int x, int y, int s, int shift) {
  Segment(dc, x - s + shift, y + s, x + s + 1 + shift, y - s + 1);
  Segment(dc, x - s + shift, y - s, x + s + 1 + shift, y + s + 1);
}

// A triangle of half-width s standing on its base around (x, y).
inline void Triangle(DrawContext& dc, int x, int y, int s) {
  const int h = static_cast<int>(s * 0.57735);
  dc.MoveTo(x - s, y + h);
  dc.LineTo(x + s, y + h);
  dc.LineTo(x, y - 2 * s + h);
  dc.LineTo(x - s, y + h);
}

// The outline of a square of half-size s, drawn with lines.
inline void Box(DrawContext& dc, int x, int y, int s) {
  dc.MoveTo(x - s, y - s);
  dc.LineTo(x + s, y - s);
  dc.LineTo(x + s, y + s);
  dc.LineTo(x - s, y + s);
  dc.LineTo(x - s, y - s);
}

// Four one-pixel squares that meet at (x, y).
inline void FourSquares(DrawContext& dc, int x, int y) {
  Square(dc, x, y);
  Square(dc, x - 1, y);
  Square(dc, x, y - 1);
  Square(dc, x - 1, y - 1);
}

// Squares of half-size 2 and 1 around (x, y), each walked from its right
// side and left towards the centre.
inline void NestedSquares(DrawContext& dc, int x, int y) {
  static const int run[12][2] = {{2, 0}, {2, 2}, {-2, 2}, {-2, -2}, {2, -2},  {0, 0},
                                 {1, 0}, {1, 1}, {-1, 1}, {-1, -1}, {1, -1}, {0, 0}};
  for (const auto& q : run) dc.LineTo(x + q[0], y + q[1]);
}

// A cell of a two-dimensional map, 2 halfWidth by 2 halfHeight around
// (x, y): the cells of the map's first and last rows and columns end at the
// plot's frame (a to d, in either order) instead of reaching past it. A plot
// not yet laid out has no frame to keep to.
inline void MapCell(DrawContext& dc, int x, int y, int halfWidth, int halfHeight, int a, int b, int c, int d) {
  if (a == c || b == d) {
    dc.Rectangle(x - halfWidth, y - halfHeight, x + halfWidth, y + halfHeight);
    return;
  }
  const int left = std::max(x - halfWidth, std::min(a, c)), right = std::min(x + halfWidth, std::max(a, c));
  const int top = std::max(y - halfHeight, std::min(b, d)), bottom = std::min(y + halfHeight, std::max(b, d));
  if (left < right && top < bottom) dc.Rectangle(left, top, right, bottom);
}

// The symbol `draw` draws where `drawn`, else a dot; the pen ends at (x, y).
template <typename Draw>
void SymbolOrDot(DrawContext& dc, int x, int y, bool drawn, Draw draw) {
  if (drawn) {
    draw();
    dc.MoveTo(x, y);
  } else {
    Dot(dc, x, y);
  }
}

}  // namespace curve_strokes
