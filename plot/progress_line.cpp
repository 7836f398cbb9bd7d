#include "plot/progress_line.h"

#include <cmath>
#include <vector>

#include "numerics/constants.h"
#include "plot/plot_window_set.h"

using namespace platform;

namespace {

bool WindowPainted() {
  const PlotWindowHooks& h = PlotHooks();
  return h.painted && h.painted();
}

void Flush() {
  if (PlotHooks().flush) PlotHooks().flush();
}

// An arc of the ellipse in box (l, t, r, b), clockwise from angle a0 to a1
// (radians from twelve o'clock).
void ArcClockwise(DrawContext& dc, int l, int t, int r, int b, double a0, double a1) {
  const double cx = 0.5 * (l + r), cy = 0.5 * (t + b), rx = 0.5 * std::abs(r - l), ry = 0.5 * std::abs(b - t);
  const int steps = std::max(8, static_cast<int>(std::ceil((a1 - a0) * std::max(rx, ry))));
  std::vector<Point> points;
  for (int k = 0; k <= steps; ++k) {
    const double a = a0 + (a1 - a0) * k / steps;
    points.push_back({static_cast<int>(std::lround(cx + rx * std::sin(a))),
                      static_cast<int>(std::lround(cy - ry * std::cos(a)))});
  }
  dc.Polyline(points);
}

}  // namespace

CProgressLine::CProgressLine()
    : barPen(CreatePen(PS_SOLID, 0, barColor)), trackPen(CreatePen(PS_SOLID, 0, trackColor)) {}

CProgressLine::~CProgressLine() {
  if (trackPen) DeleteObject(trackPen);
  if (barPen) DeleteObject(barPen);
}

void CProgressLine::SetBarColor(COLORREF color) {
  if (barPen) DeleteObject(barPen);
  barColor = color;
  barPen = CreatePen(PS_SOLID, 0, barColor);
}

void CProgressLine::SetPenBlue() { SetBarColor(0xff6400); }
void CProgressLine::SetPenPurple() { SetBarColor(0xb400b4); }

void CProgressLine::Show(DrawSurface& window, int px, int py) {
  x = px;
  right = px + length;
  y = py;
  bottom = py + height;
  if (ringMode) {
    ringLeft = x;
    ringLow = y + 3 * height;
    ringRight = x + 6 * height;
    ringHigh = y - 3 * height;
    ringStartX = (ringLeft + ringRight) / 2;
    ringStartY = ringHigh;
  }
  SaveBackground(window);
  Draw(0.0f, window);
}

void CProgressLine::Draw(float newValue, DrawSurface& window) {
  if (!WindowPainted() || !(newValue > value)) return;
  {
    auto dc = window.ClientDC();
    HGDIOBJ old = dc->CurrentPen();
    DrawInto(newValue, *dc);
    dc->SelectObject(old);
  }
  Flush();
}

void CProgressLine::DrawNormalEquationProgress(float newValue, DrawContext& dc) {
  if (!WindowPainted() || !(newValue > value)) return;
  DrawInto(newValue, dc);
}

bool CProgressLine::DrawInto(float newValue, DrawContext& dc) {
  value = newValue;
  if (!ringMode) {
    const int xEnd = x + static_cast<int>(length * value / total);
    for (HPEN pen : {trackPen, barPen}) {
      dc.SelectObject(pen);
      const int end = pen == trackPen ? right : xEnd;
      for (int row : {y, y + 1, y + 2, y - 1}) {
        dc.MoveTo(x, row);
        dc.LineTo(end, row);
      }
    }
    return true;
  }
  // Ring: three concentric circles in the bar colour, then the part not yet
  // done (clockwise from the angle reached back to twelve o'clock) in the
  // track colour.
  const double a = 6.3 * value / total;
  dc.SelectObject(barPen);
  HGDIOBJ oldBrush = dc.SelectObject(GetStockObject(NULL_BRUSH));
  for (int d = 0; d <= 2; ++d) dc.Ellipse(ringLeft - d, ringLow - d, ringRight + d, ringHigh + d);
  dc.SelectObject(oldBrush);
  if (value < 1.0f) {
    dc.SelectObject(trackPen);
    for (int d = 0; d <= 2; ++d)
      ArcClockwise(dc, ringLeft - d, ringHigh + d, ringRight + d, ringLow - d, a, 2 * kPi);
  }
  return true;
}

void CProgressLine::Erase(DrawSurface& window) { RestoreBackground(window); }

bool CProgressLine::SaveBackground(DrawSurface& window) {
  if (!WindowPainted()) return false;
  savedBackground = window.CopyPixels(x - 1, y - height, length + 3, 2 * height + 1);
  backgroundSaved = 1;
  return true;
}

bool CProgressLine::RestoreBackground(DrawSurface& window) {
  if (!WindowPainted()) return false;
  if (backgroundSaved) {
    window.PastePixels(savedBackground, x - 1, y - height);
    Flush();
  }
  return true;
}
