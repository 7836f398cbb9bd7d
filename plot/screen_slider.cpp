#include "plot/screen_slider.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "numerics/arrays.h"
#include "platform/error_box.h"
#include "plot/cwinplot.h"

using namespace platform;

namespace {

int Floor(float v) { return static_cast<int>(std::floor(v)); }

std::string Format(const char* format, const std::string& name, double value, const std::string& unit) {
  char text[2200];
  std::snprintf(text, sizeof text, format, name.c_str(), value, unit.c_str());
  return text;
}

}  // namespace

bool ScreenButtonHit(const CScreenButton& b, float x, float y) {
  if (b.hidden) return false;
  const float X = x * PlotXStretch;
  const float l = static_cast<float>(b.left), r = static_cast<float>(b.right);
  const float t = static_cast<float>(b.top), bo = static_cast<float>(b.bottom);
  const bool inX = (l <= r && l <= X && X <= r) || (r < l && r <= X && X <= l);
  const bool inY = (t <= bo && t <= y && y <= bo) || (bo < t && bo <= y && y <= t);
  return inX && inY;
}

// ---------------------------------------------------------------- slider

CScreenSlider::CScreenSlider() {
  caption.clear();
  onCaption.clear();
}

bool CScreenSlider::Hit(float x, float y) const { return ScreenButtonHit(*this, x, y); }

void CScreenSlider::SetRect(float t, float l, float b, float r) {
  CScreenButton::SetRect(t, l, b, r);
  const float start = vertical ? b : l;
  const float extent = vertical ? t - b : r - l;
  knobHalfSize = std::max(1, Floor(std::fabs(extent) / 30.0f));
  knobPos = Floor(start + extent * position);
}

void CScreenSlider::SetPosition(float p) {
  if (!(p >= 0.0f && p <= 1.0f)) return;
  position = p;
  const float start = static_cast<float>(vertical ? bottom : left);
  const float extent = static_cast<float>(vertical ? top - bottom : right - left);
  knobPos = Floor(start + extent * p);
}

float CScreenSlider::PositionFromPoint(float x, float y) const {
  float p;
  if (vertical)
    p = top != bottom ? (y - static_cast<float>(bottom)) / static_cast<float>(top - bottom) : 0.0f;
  else
    p = right != left ? (x * PlotXStretch - static_cast<float>(left)) / static_cast<float>(right - left) : 0.0f;
  return std::clamp(p, 0.0f, 1.0f);
}

float CScreenSlider::Click(float x, float y) {
  if (!Hit(x, y)) return -1.0f;
  const float p = PositionFromPoint(x, y);
  SetPosition(p);
  Redraw();
  return p;
}

void CScreenSlider::SetHorizontal() {
  horizontal = 1;
  vertical = 0;
}

void CScreenSlider::SetVertical() {
  vertical = 1;
  horizontal = 0;
}

bool CScreenSlider::RecordFace(DrawContext& dc) {
  HGDIOBJ oldBrush = dc.SelectObject(GetStockObject(NULL_BRUSH));
  HGDIOBJ oldPen = dc.SelectObject(GetStockObject(BLACK_PEN));
  dc.SelectObject(GetStockObject(NULL_PEN));
  HBRUSH faceBrush = CreateSolidBrush(faceColor);
  dc.SelectObject(faceBrush);
  dc.Rectangle(left + 1, bottom + 1, right, top);

  auto pair = [&](COLORREF c, Point from, Point a, Point b) {
    HPEN pen = CreatePen(PS_SOLID, 0, c);
    HGDIOBJ prev = dc.SelectObject(pen);
    dc.MoveTo(from.x, from.y);
    dc.LineTo(a.x, a.y);
    dc.MoveTo(from.x, from.y);
    dc.LineTo(b.x, b.y);
    dc.SelectObject(prev);
    DeleteObject(pen);
  };
  pair(highlightColor, {right, top}, {right, bottom}, {left, top});
  pair(shadowColor, {left, bottom}, {right, bottom}, {left, top});
  pair(innerShadowColor, {left + 1, bottom - 1}, {right - 1, bottom - 1}, {left + 1, top + 1});

  const int h = knobHalfSize, k = knobPos;
  HBRUSH knobBrush = CreateSolidBrush(knobColor);
  dc.SelectObject(knobBrush);
  dc.SelectObject(GetStockObject(NULL_PEN));
  if (vertical)
    dc.Rectangle(left + 1, k + h + 1, right, k - h);
  else
    dc.Rectangle(k + h + 1, bottom + 1, k - h, top);
  HPEN outline = CreatePen(PS_SOLID, 0, shadowColor);
  dc.SelectObject(outline);
  std::vector<Point> edge;
  if (vertical) {
    dc.Rectangle(left + 1, k + h + 1, right, k - h);
    edge = {{left, k + h}, {left, k - h}, {right, k - h}, {right, k + h}, {left, k + h}};
  } else {
    dc.Rectangle(k + h + 1, bottom + 1, k - h, top);
    edge = {{k + h, bottom}, {k + h, top}, {k - h, top}, {k - h, bottom}, {k + h, bottom}};
  }
  dc.MoveTo(edge[0].x, edge[0].y);
  for (size_t i = 1; i < edge.size(); ++i) dc.LineTo(edge[i].x, edge[i].y);

  dc.SelectObject(oldPen);
  dc.SelectObject(oldBrush);
  DeleteObject(outline);
  DeleteObject(knobBrush);
  DeleteObject(faceBrush);
  return true;
}

bool CScreenSlider::Redraw() {
  MetafileDC rec;
  rec.SetWindowExt(PlotSpaceWidth(), PlotSpaceHeight());
  RecordFace(rec);
  const HMETAFILE mf = rec.Close();
  if (!mf) return false;
  if (ownsFace && face) DeleteMetaFile(face);
  face = mf;
  ownsFace = 1;
  return true;
}

// ---------------------------------------------------------------- value slider

namespace {

CScreenButton* ArrowButton(const char* text) {
  auto* b = new CScreenButton;
  b->SetText(text, 1, text, 1);
  b->faceColor = 0x969696;
  b->onFaceColor = 0xfa96fa;
  b->SetPressed();
  b->on = 0;
  return b;
}

}  // namespace

CValueSlider::CValueSlider()
    : upButton(ArrowButton(">")), downButton(ArrowButton("<")), labelButton(new CScreenButton) {
  labelButton->flat = 1;
  labelButton->SetPressed();
  labelButton->on = 1;
  labelButton->textColor = 0x000000;
}

CValueSlider::~CValueSlider() {
  delete upButton;
  delete downButton;
  delete labelButton;
}

void CValueSlider::SetRect(float t, float l, float b, float r) {
  CScreenSlider::SetRect(t, l, b, r);
  const float size = static_cast<float>(buttonSize);
  const float label = static_cast<float>(labelWidth);
  if (vertical) {
    upButton->SetRect(t - size, l, t + 1, r);
    downButton->SetRect(b + 1, l, b + size, r);
    labelButton->SetRect(t - 2 * size, l, t - size + 1, l + label);
  } else {
    upButton->SetRect(t, r + 1, b, r + size);
    downButton->SetRect(t, l - size, b, l - 1);
    labelButton->SetRect(t, r + size + 1, b, r + size + 1 + label);
  }
}

void CValueSlider::SetRange(float a, float b, bool logarithmic) {
  minValue = std::min(a, b);
  maxValue = std::max(a, b);
  linear = logarithmic ? 0 : 1;
}

void CValueSlider::SetLabel(const char* n, const char* u, float scale) {
  if (n) name = n;
  if (u) unit = u;
  displayScale = scale;
}

float CValueSlider::ValueAt(float p) const {
  if (p <= 0) return minValue;
  if (p >= 1) return maxValue;
  return minValue + (maxValue - minValue) * p;
}

float CValueSlider::DisplayValueAt(float p) const {
  return linear ? ValueAt(p) : std::pow(10.0f, ValueAt(p)) * displayScale;
}

float CValueSlider::PositionOfValue(float v) const {
  if (v <= minValue) return 0;
  if (v >= maxValue) return 1;
  return std::fabs(v - minValue) / std::fabs(maxValue - minValue);
}

float CValueSlider::PositionOfDisplayValue(float d) const {
  if (linear) return PositionOfValue(d);
  if (d <= 0) return 0;
  return PositionOfValue(std::log10(d * 1e-6f));
}

void CValueSlider::SetLabelText(const std::string& text) {
  labelButton->SetText(text.c_str(), static_cast<int>(text.size()), text.c_str(), static_cast<int>(text.size()));
}

void CValueSlider::SetValueAt(float p) {
  SetPosition(p);
  value = ValueAt(p);
  SetLabelText(Format("%s = %.3e %s", name, value, unit));
}

float CValueSlider::Click(float x, float y) {
  if (Hit(x, y))
    SetValueAt(PositionFromPoint(x, y));
  else if (ScreenButtonHit(*upButton, x, y))
    SetValueAt(position + 0.01f);
  else if (ScreenButtonHit(*downButton, x, y))
    SetValueAt(position - 0.01f);
  else
    return -1.0f;
  return position;
}

float CValueSlider::PromptValue(float x, float y) {
  if (!Hit(x, y)) return -1.0f;
  char prompt[200];
  float answer = 0;
  if (linear) {
    std::snprintf(prompt, sizeof prompt, "enter value between %.3f and %.3f", minValue, maxValue);
    if (!InputFloat(&answer, value, true, prompt, nullptr)) return -1.0f;
  } else {
    std::snprintf(prompt, sizeof prompt, "enter value between %.3f and %.3f uM",
                  std::pow(10.0f, minValue) * displayScale, std::pow(10.0f, maxValue) * displayScale);
    if (!InputFloat(&answer, std::pow(10.0f, value) * displayScale, true, prompt, nullptr)) return -1.0f;
    if (!(answer > 0) || displayScale == 0) return -1.0f;
    answer = std::log10(answer / displayScale);
  }
  if (!(answer >= minValue && answer <= maxValue)) return -1.0f;
  value = answer;
  SetValueAt(PositionOfValue(value));
  RedrawAll();
  return position;
}

bool CValueSlider::RedrawAll() {
  MetafileDC rec;
  rec.SetWindowExt(PlotSpaceWidth(), PlotSpaceHeight());
  CScreenSlider::RecordFace(rec);
  upButton->RecordFace(rec);
  downButton->RecordFace(rec);
  labelButton->RecordFace(rec);
  const HMETAFILE mf = rec.Close();
  if (!mf) return false;
  if (ownsFace && face) DeleteMetaFile(face);
  face = mf;
  ownsFace = 1;
  return true;
}

// ---------------------------------------------------------------- list slider

CListValueSlider::~CListValueSlider() {
  if (values) free_vector(values, 1, valueCount);
}

bool CListValueSlider::SetValueList(int count, const float* list, bool convertToLog) {
  if (!list || count < 1) return false;
  if (values) free_vector(values, 1, valueCount);
  values = vector(1, count);
  valueCount = count;
  for (int i = 1; i <= count; ++i) values[i] = (!linear && convertToLog) ? std::log10(list[i]) : list[i];
  return true;
}

void CListValueSlider::AllowZero() {
  zeroAllowed = 1;
  if (values) values[1] = 0;
}

void CListValueSlider::Select(int index, float p) {
  valueIndex = index;
  SetPosition(p);
  value = values[index];
  double shown = value;
  if (!linear) shown = (zeroAllowed && index == 1 && value == 0) ? 0.0 : std::pow(10.0, value) * displayScale;
  SetLabelText(Format("%s = %.3f %s", name, shown, unit));
  RedrawAll();
}

int CListValueSlider::SnapToPosition(float p) {
  if (p < 0 || p > 1 || !values || valueCount < 1) return valueIndex;
  if (p == 0 || (zeroAllowed && p < 1.0f / static_cast<float>(valueCount))) {
    Select(1, 0.0f);
    return valueIndex;
  }
  const float v = ValueAt(p);
  int best = 1;
  float bestDistance = 1e10f;
  for (int i = 1; i <= valueCount; ++i) {
    const float d = std::fabs(values[i] - v);
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  Select(best, PositionOfValue(values[best]));
  return valueIndex;
}

float CListValueSlider::StepUp() {
  if (!values || valueIndex >= valueCount) return -1.0f;
  Select(valueIndex + 1, PositionOfValue(values[valueIndex + 1]));
  return position;
}

float CListValueSlider::StepDown() {
  if (!values || valueIndex < 2) return -1.0f;
  const int next = valueIndex - 1;
  Select(next, (zeroAllowed && valueIndex == 2) ? 0.0f : PositionOfValue(values[next]));
  return position;
}

void CListValueSlider::PressArrow(DrawSurface& window, CScreenButton& arrow) {
  arrow.on = 1;
  arrow.Redraw();
  arrow.Paint(window);
  WaitSeconds(0.1f);
  arrow.on = 0;
  arrow.Redraw();
  arrow.Paint(window);
}

float CListValueSlider::HandleClick(DrawSurface& window, float x, float y) {
  for (CScreenButton* arrow : {upButton, downButton}) {
    if (arrow->on) {
      arrow->on = 0;
      arrow->Redraw();
      arrow->Paint(window);
    }
  }
  if (Hit(x, y)) {
    SnapToPosition(PositionFromPoint(x, y));
    return position;
  }
  if (ScreenButtonHit(*upButton, x, y)) {
    PressArrow(window, *upButton);
    StepUp();
    return -2.0f;
  }
  if (ScreenButtonHit(*downButton, x, y)) {
    PressArrow(window, *downButton);
    StepDown();
    return -3.0f;
  }
  return -1.0f;
}

float CListValueSlider::ClickOrPrompt(float x, float y) {
  if (Hit(x, y)) {
    SnapToPosition(PositionFromPoint(x, y));
    return position;
  }
  return PromptValue(x, y);
}
