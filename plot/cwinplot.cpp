#include "plot/cwinplot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "plot/screen_button.h"

using namespace platform;

int ErrorBarHalfWidth = 8;
std::uint8_t DotPhase = 1;
int AxisLogTicks = 0;
int PointsOutsideYRange = 0;

int PixelTrunc(double v) {
  if (!std::isfinite(v)) return 0;
  constexpr double kLimit = 1.0e9;
  if (v > kLimit) return static_cast<int>(kLimit);
  if (v < -kLimit) return static_cast<int>(-kLimit);
  return static_cast<int>(v);
}

float PlotMin(float a, float b) { return a < b ? a : b; }
float PlotMax(float a, float b) { return a > b ? a : b; }

namespace {

std::string Slot(const char* text, size_t capacity) {
  if (!text) return {};
  size_t n = strnlen(text, capacity);
  return std::string(text, n);
}

}  // namespace

CWINPlot::CWINPlot() { SetDefaultColors(); }

CWINPlot::~CWINPlot() {
  buttons.clear();
  if (ownsMetafile && lastMetafile) DeleteMetaFile(lastMetafile);
}

// ---------------------------------------------------------------- curves

void CWINPlot::RemoveLastCurve() {
  if (curveCount <= 0) return;
  running_ = RunningExtents{};
  --curveCount;
  const auto n = static_cast<size_t>(curveCount);
  curves.resize(n);
  curveNames.resize(n);
  curveStyles.resize(n);
  curveColors.resize(n);
  curveColorSet.resize(n);
  curveRangeSet.resize(n + 1);
  curveFrom.resize(n + 1);
  curveTo.resize(n + 1);
  if (curveCount == 0) {
    xScale = yScale = xOffset = yOffset = 0;
    curves.clear();
  }
}

void CWINPlot::ClearCurves() {
  if (curveCount <= 0) return;
  running_ = RunningExtents{};
  attachedX.clear();
  attachedY.clear();
  hasAttached = 0;
  curves.clear();
  curveNames.clear();
  curveStyles.clear();
  curveRangeSet.clear();
  curveFrom.clear();
  curveTo.clear();
  curveColors.clear();
  curveColorSet.clear();
  curveSetOption = 0;
  curveCount = 0;
  attachedCapacity = 100;
}

void CWINPlot::SetCurve(int i, CCurve* curve) {
  if (i < 0 || i >= curveCount) return;
  running_ = RunningExtents{};
  curves[static_cast<size_t>(i)] = curve;
}

void CWINPlot::SetCurveColor(int i, COLORREF color) {
  if (i < 0 || i >= curveCount) return;
  curveColors[static_cast<size_t>(i)] = color;
  curveColorSet[static_cast<size_t>(i)] = 1;
}

COLORREF CWINPlot::GetCurveColor(int i) const {
  if (i < 0 || i >= curveCount) return 0;
  return curveColors[static_cast<size_t>(i)];
}

void CWINPlot::SetCurveStyle(int i, int style) {
  if (i < 0 || i >= curveCount) return;
  curveStyles[static_cast<size_t>(i)] = style;
}

int CWINPlot::GetCurveStyle(int i) const {
  if (i < 0 || i >= curveCount) return 0;
  return curveStyles[static_cast<size_t>(i)];
}

void CWINPlot::SetDefaultStyle(int v) { defaultStyle = v < 5 ? v : v % 4; }

void CWINPlot::SetCurveRange(int i, int from, int to) {
  if (i < 0 || i >= curveCount) return;
  running_ = RunningExtents{};
  const CCurve* c = curves[static_cast<size_t>(i)];
  const int length = (c && c->x) ? static_cast<int>(c->x->count) : 0;
  if (from < 0) from = 0;
  if (to >= length) to = length - 1;
  curveRangeSet[static_cast<size_t>(i)] = 1;
  curveFrom[static_cast<size_t>(i)] = from;
  curveTo[static_cast<size_t>(i)] = to;
}

void CWINPlot::SetCurveName(int i, const char* text) {
  if (i < 0 || i >= curveCount) return;
  curveNames[static_cast<size_t>(i)] = Slot(text, 99);
}

namespace {

std::unique_ptr<CVector> View(float* array, int n) {
  auto v = std::make_unique<CVector>();
  v->Attach(array, n, 1);
  return v;
}

int PointsOf(const CCurve* c) { return (c && c->x) ? static_cast<int>(c->x->count) : 0; }

}  // namespace

void CWINPlot::AttachCurveArrays(int i, float* x, float* y, int n) {
  if (i < 0 || i >= curveCount) return;
  if (attachedX.empty()) {
    attachedX.resize(static_cast<size_t>(attachedCapacity) + 1);
    attachedY.resize(static_cast<size_t>(attachedCapacity) + 1);
  }
  if (i > attachedCapacity || PointsOf(curves[static_cast<size_t>(i)]) != n) return;
  attachedX[static_cast<size_t>(i)] = View(x, n);
  attachedY[static_cast<size_t>(i)] = View(y, n);
  hasAttached = 1;
}

void CWINPlot::AttachExtraX(int i, float* array, int n) {
  if (i < 0 || i >= curveCount || i > extraVectorCapacity) return;
  if (PointsOf(curves[static_cast<size_t>(i)]) != n) return;
  if (extraXVectors.empty()) extraXVectors.resize(static_cast<size_t>(extraVectorCapacity) + 1);
  extraXVectors[static_cast<size_t>(i)] = View(array, n);
  hasExtraX = 1;
  ErrorBarHalfWidth = static_cast<int>(std::floor(1.5 * symbolSize));
}

void CWINPlot::AttachExtraY(int i, float* array, int n) {
  if (i < 0 || i >= curveCount || i > extraVectorCapacity) return;
  if (PointsOf(curves[static_cast<size_t>(i)]) != n) return;
  if (extraYVectors.empty()) extraYVectors.resize(static_cast<size_t>(extraVectorCapacity) + 1);
  extraYVectors[static_cast<size_t>(i)] = View(array, n);
  hasExtraY = 1;
  ErrorBarHalfWidth = static_cast<int>(std::floor(1.5 * symbolSize));
}

void CWINPlot::SetCurveMask(const int* mask, int n, int style, COLORREF color, int size) {
  running_ = RunningExtents{};
  greyMask.assign(static_cast<size_t>(std::max(n, 0)) + 1, 0);
  for (int k = 1; k <= n && mask; ++k) greyMask[static_cast<size_t>(k)] = mask[k];
  greyMaskCount = std::max(n, 0);
  greyValue = style;
  greyColor = color;
  greySymbolSize = size;
}

void CWINPlot::SetExtraData(int k, float* array, int from, int to, int flag) {
  if (!array) return;
  extraData = array + from;
  extraDataCount = to - from + 1;
  hasExtraData = 1;
  extraDataCurve = k;
  extraDataFlag = static_cast<std::uint8_t>(flag);
}

void CWINPlot::SetExtraDataScale(float low, float high) {
  extraScaleLow = low;
  if (high == low) high = 2 * low;
  if (high == low) high = low + 1;
  extraScaleHigh = high;
  hasExtraScale = 1;
}

void CWINPlot::AddHighlight(CVector* band) {
  if (highlightIndices.empty()) highlightIndices.assign(static_cast<size_t>(highlightCapacity) + 1, nullptr);
  if (highlightCount >= highlightCapacity) return;
  ++highlightCount;
  highlightIndices[static_cast<size_t>(highlightCount)] = band;
}

// ---------------------------------------------------------------- texts

const std::string& CWINPlot::SetAnnotation1(const char* text) {
  annotation1 = Slot(text, 99);
  hasAnnotation1 = 1;
  return annotation1;
}

const std::string& CWINPlot::SetAnnotation2(const char* text) {
  annotation2 = Slot(text, 99);
  hasAnnotation2 = 1;
  return annotation2;
}

const std::string& CWINPlot::SetAnnotation3(const char* text) {
  annotation3 = Slot(text, 99);
  hasAnnotation3 = 1;
  return annotation3;
}

const std::string& CWINPlot::SetXLabel(const char* text) {
  xLabel = Slot(text, 99);
  hasXLabel = 1;
  return xLabel;
}

const std::string& CWINPlot::SetYLabel(const char* text) {
  yLabel = Slot(text, 99);
  hasYLabel = 1;
  return yLabel;
}

void CWINPlot::ClearXLabel() {
  xLabel.clear();
  hasXLabel = 0;
}

void CWINPlot::ClearYLabel() {
  yLabel.clear();
  hasYLabel = 0;
}

void CWINPlot::SetCaption2(int value, const char* a, const char* b) {
  caption2Value = value;
  caption2A = Slot(a, 99);
  caption2B = Slot(b, 99);
  hasCaption2 = 1;
}

void CWINPlot::SetCaption3(int x, int y, const char* text) {
  caption3X = x;
  caption3Y = y;
  caption3Text = Slot(text, 499);
  hasCaption3 = 1;
}

void CWINPlot::SetYRange(float a, float b) {
  if (a == b) {
    hasYRange = 0;
    yRangeLow = yRangeHigh = 0;
    return;
  }
  hasYRange = 1;
  yRangeLow = std::min(a, b);
  yRangeHigh = std::max(a, b);
}

// ---------------------------------------------------------------- colours

COLORREF CWINPlot::ColorForIndex(int i) const {
  if (i < 0) return 0xc8c8c8;
  return colorTable[static_cast<size_t>(i % 10)];
}

void CWINPlot::SetTableColor(int i, COLORREF c) {
  if (i >= 0 && i <= 9) colorTable[static_cast<size_t>(i)] = c;
}

void CWINPlot::SetDefaultColors() {
  colorTable = {0x000000, 0x0000ff, 0x00ffff, 0x00ff00, 0x6464ff,
                0xffff00, 0xff0000, 0xffc864, 0xff00ff, 0x006464};
}

COLORREF CWINPlot::ColorForValue(float v) const {
  if (rampBlackForMissing && v == -1.0f) return 0x000000;
  if ((rampWhiteForMissingA || rampWhiteForMissingB) && v == -1.0f) return 0xffffff;
  if (!(v >= 0.0f)) v = 0.0f;  // also maps NaN to the low end
  if (v > 1.0f) v = 1.0f;
  const float t0 = 0.05f, t1 = 0.2f, t2 = 0.4f, t3 = 0.65f, t4 = 0.9f;
  float r = 0, g = 0, b = 0;
  if (v <= t1) {
    if (rampPurpleLow) {
      if (v <= t0) {
        float a = v / t0;
        r = a * 150.0f / 255.0f + (1 - a) * 100.0f / 255.0f;
        g = (1 - a) * 100.0f / 255.0f;
        b = a * 211.0f / 255.0f + (1 - a) * 100.0f / 255.0f;
      } else {
        r = (1 - v / t1) * 150.0f / 255.0f;
        g = 0;
        b = v / t1 + (1 - v / t1) * 211.0f / 255.0f;
      }
    } else {
      r = g = 1 - v / t1;
      b = 1;
    }
  } else if (v <= t2) {
    r = 0;
    g = (v - t1) / (t2 - t1);
    b = 1;
  } else if (v <= t3) {
    r = (v - t2) / (t3 - t2);
    g = 1;
    b = 1 - r;
  } else if (v <= t4) {
    r = 1;
    g = 1 - (v - t3) / (t4 - t3);
    b = 0;
  } else {
    g = b = 0;
    r = rampPurpleLow ? 1 - (v - t4) / (1 - t4) : 1 - (v - t4) / ((1 - t4) * 4);
  }
  auto byte = [](float c) { return static_cast<COLORREF>(static_cast<int>(std::floor(255.0f * c)) & 0xff); };
  return byte(r) | (byte(g) << 8) | (byte(b) << 16);
}

// ---------------------------------------------------------------- geometry

bool CWINPlot::HitTest(float x, float y, float* outX, float* outY) const {
  if (plotLeft == 0 && plotRight == 0 && plotTop == 0 && plotBottom == 0) return false;
  const float sx = PlotXStretch * x;
  auto within = [](float v, float a, float b) { return (v >= a && v <= b) || (v >= b && v <= a); };
  if (!within(sx, static_cast<float>(plotLeft), static_cast<float>(plotRight))) return false;
  if (!within(y, static_cast<float>(plotTop + buttonSize), static_cast<float>(plotBottom))) return false;
  if (outX) {
    float v = xScale != 0 ? (std::nearbyint(sx) - xOffset) / xScale : 0.0f;
    *outX = logX ? std::pow(10.0f, v) : v;
  }
  if (outY) {
    float v = yScale != 0 ? (std::nearbyint(y) - yOffset) / yScale : 0.0f;
    *outY = logY ? std::pow(10.0f, v) : v;
  }
  return true;
}

void CWINPlot::CreateButtons(int n) {
  char caption[32];
  std::snprintf(caption, sizeof caption, "%d", n);
  if (buttonCount > 0) {
    int len = static_cast<int>(std::strlen(caption));
    buttons[1]->SetText(caption, len, caption, len);
    return;
  }
  struct Spec {
    const char* caption;
    bool second;
    COLORREF face, onFace;
  };
  const Spec specs[5] = {{caption, true, 0x9696ff, 0xffc796},
                         {"X", false, 0x9696ff, 0xc89664},
                         {"i", false, 0xc8c8ff, 0x4bff7d},
                         {"e", false, 0xc8c8ff, 0x70ffca},
                         {"s", false, 0x70c8ff, 0x969696}};
  buttonCount = 5;
  buttons.clear();
  buttons.resize(6);
  for (int k = 1; k <= 5; ++k) {
    const Spec& s = specs[k - 1];
    auto b = std::make_unique<CScreenButton>();
    b->kind = 1;
    int len = static_cast<int>(std::strlen(s.caption));
    b->SetText(s.caption, len, s.caption, len);
    if (s.second)
      b->SetSecondOption();
    else
      b->SetFirstOption();
    b->faceColor = s.face;
    b->onFaceColor = s.onFace;
    buttons[static_cast<size_t>(k)] = std::move(b);
  }
  PlaceButtons();
}

void CWINPlot::PlaceButtons() {
  if (buttonCount <= 0) return;
  const int s = buttonSize, R = plotRight, T = plotTop + 1;
  const float rects[5][4] = {
      {float(T), float(R - s), float(T + s), float(R)},
      {float(T + s / 2), float(R + 1), float(T + s), float(R + 1 + s / 2)},
      {float(T), float(R + 1), float(T + s / 2), float(R + 1 + s / 2)},
      {float(T + s), float(R + 1 - s / 2), T + 1.5f * s, float(R)},
      {float(T + s), float(R - s), T + 1.5f * s, float(R - s / 2)},
  };
  for (int k = 1; k <= buttonCount && k <= 5; ++k) {
    CScreenButton* b = buttons[static_cast<size_t>(k)].get();
    if (!b) continue;
    b->SetRect(rects[k - 1][0], rects[k - 1][1], rects[k - 1][2], rects[k - 1][3]);
    b->Redraw();
  }
}

int CWINPlot::ToPixelX(float v) const {
  if (logX) {
    if (v > 0) return PixelTrunc(std::log10(static_cast<double>(v)) * xScale + xOffset);
    return plotLeft - offPlotDistance;
  }
  return PixelTrunc(static_cast<double>(v) * xScale + xOffset);
}

int CWINPlot::ToPixelY(float v) const {
  if (logY) {
    if (v > 0) return PixelTrunc(std::log10(static_cast<double>(v)) * yScale + yOffset);
    return plotBottom - offPlotDistance;
  }
  return PixelTrunc(static_cast<double>(v) * yScale + yOffset);
}

// ---------------------------------------------------------------- drawing aids

void CWINPlot::DrawErrorBars(DrawContext& dc, int i, const float* errA, const float* errB, int from, int to,
                             COLORREF color) const {
  if (i < 0 || i >= curveCount || !errA || !errB) return;
  const CCurve* c = curves[static_cast<size_t>(i)];
  const int n = PointsOf(c);
  if (n == 0) return;
  if (from < 0) from = 0;
  // The last point is n - 1: the error arrays hold one value per point.
  if (to > n - 1) to = n - 1;
  HPEN pen = CreatePen(PS_SOLID, 0, color);
  HGDIOBJ old = dc.SelectObject(pen);
  const int step = std::max(curveStep, 1);
  for (int k = from; k <= to; k += step) {
    const int px = ToPixelX(c->x->data[k]);
    const int py = ToPixelY(c->y->data[k]);
    const int a = PixelTrunc(std::nearbyint(static_cast<double>(errA[k]) * yScale));
    const int b = PixelTrunc(std::nearbyint(static_cast<double>(errB[k]) * yScale));
    dc.MoveTo(px - ErrorBarHalfWidth, py - a);
    dc.LineTo(px + ErrorBarHalfWidth, py - a);
    dc.MoveTo(px, py - a);
    dc.LineTo(px, py);
    dc.MoveTo(px - ErrorBarHalfWidth, py + b);
    dc.LineTo(px + ErrorBarHalfWidth, py + b);
    dc.MoveTo(px, py + b);
    dc.LineTo(px, py);
  }
  dc.SelectObject(old);
  DeleteObject(pen);
}

void CWINPlot::DrawDot(DrawContext& dc, int x, int y) {
  dc.MoveTo(x, y);
  dc.LineTo(x + 1, y + 1);
  dc.MoveTo(x, y);
}

void CWINPlot::DrawDotIfPhase(DrawContext& dc, int x, int y) {
  if (DotPhase) DrawDot(dc, x, y);
  DotPhase = 1;
}

void CWINPlot::DrawDottedSegment(DrawContext& dc, int x1, int y1, int x2, int y2) {
  const float dx = static_cast<float>(x2 - x1), dy = static_cast<float>(y2 - y1);
  if (std::fabs(dx) <= 2 && std::fabs(dy) <= 2) {
    if (DotPhase == 0) {
      DotPhase = 1;
      return;
    }
    DrawDot(dc, x1, y1);
    dc.MoveTo(x2, y2);
    DotPhase = 0;
    return;
  }
  DotPhase = 1;
  if (std::fabs(dx) < 5 && std::fabs(dy) < 5) {
    dc.MoveTo(x1, y1);
    dc.LineTo(x1 + static_cast<int>(std::floor(dx / 2)), y1 + static_cast<int>(std::floor(dy / 2)));
    dc.MoveTo(x2, y2);
    return;
  }
  const float len = std::sqrt(dx * dx + dy * dy);
  const float sx = dx / (len / 5), sy = dy / (len / 5);
  float cx = static_cast<float>(x1), cy = static_cast<float>(y1);
  // Each dash and gap covers 10 units towards the end, so the loop ends by
  // itself; the bound only guards against rounding.
  int guard = static_cast<int>(len / 10) + 2;
  while ((std::fabs(x2 - cx) >= 10 || std::fabs(y2 - cy) >= 10) && guard-- > 0) {
    dc.MoveTo(static_cast<int>(std::floor(cx)), static_cast<int>(std::floor(cy)));
    dc.LineTo(static_cast<int>(std::floor(cx + sx)), static_cast<int>(std::floor(cy + sy)));
    cx += 2 * sx;
    cy += 2 * sy;
  }
  dc.MoveTo(x2, y2);
}
