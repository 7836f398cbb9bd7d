#include "plot/screen_button.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

#include "platform/user_interface.h"
#include "plot/plot_space.h"

using namespace platform;

namespace {

FontSpec ButtonFontSpec() {
  FontSpec f;
  f.height = 16;
  f.weight = FW_NORMAL;
  f.charSet = ANSI_CHARSET;
  f.outPrecision = OUT_TT_PRECIS;
  f.clipPrecision = CLIP_DEFAULT_PRECIS;
  f.quality = PROOF_QUALITY;
  f.pitchAndFamily = FF_SWISS;
  return f;
}

std::string Clip(const char* text, int length) {
  if (!text || length <= 0) return {};
  return std::string(text, static_cast<size_t>(std::min(length, 999)));
}

}  // namespace

namespace {

// One font per height and weight, kept for the program's life.
HFONT CachedFont(int height, int weight) {
  static std::map<std::pair<int, int>, HFONT> fonts;
  HFONT& font = fonts[{height, weight}];
  if (!font) {
    FontSpec f = ButtonFontSpec();
    f.height = height;
    f.weight = weight;
    font = CreateFontIndirect(f);
  }
  return font;
}

}  // namespace

HFONT ButtonFont(int height) { return CachedFont(height, FW_NORMAL); }

HFONT ButtonHeavyFont(int height) { return CachedFont(height, FW_HEAVY); }

CScreenButton::CScreenButton() = default;

CScreenButton::~CScreenButton() {
  if (ownsFace && face) DeleteMetaFile(face);
}

void CScreenButton::SetRect(float t, float l, float b, float r) {
  top = static_cast<int>(std::floor(t));
  left = static_cast<int>(std::floor(l));
  bottom = static_cast<int>(std::floor(b));
  right = static_cast<int>(std::floor(r));
}

void CScreenButton::SetText(const char* c, int cLength, const char* onC, int onLength) {
  caption = Clip(c, cLength);
  onCaption = Clip(onC, onLength);
}

void CScreenButton::Beep() { UI().Beep(); }

bool CScreenButton::ToggleState() {
  on = !on;
  return Redraw();
}

bool CScreenButton::Click(float x, float y) {
  if (hidden) return false;
  const float X = x * PlotXStretch;
  const float l = static_cast<float>(left), r = static_cast<float>(right);
  const float t = static_cast<float>(top), b = static_cast<float>(bottom);
  const bool inX = (l < r && l <= X && X <= r) || (r < l && r <= X && X <= l);
  const bool inY = (t < b && t <= y && y <= b) || (b < t && b <= y && y <= t);
  if (!(inX && inY)) return false;
  if (kind == 2) ToggleState();
  return true;
}

void CScreenButton::CaptionInto(DrawContext& dc, COLORREF color) {
  dc.SetBkMode(TRANSPARENT);
  dc.SetTextColor(color);
  dc.SetTextAlign((baselineText || raisedText) ? (TA_CENTER | TA_BASELINE) : (TA_CENTER | TA_BOTTOM));
  HGDIOBJ oldFont = dc.SelectObject(pressed ? ButtonHeavyFont(captionHeight) : ButtonFont(captionHeight));
  const Rect clip{left, top, right, bottom};
  const int x = static_cast<int>(left + (right - left) * 0.5);
  const int y = bottom - 1 - (raisedText ? 2 : 0);
  dc.ExtTextOut(x, y, ETO_CLIPPED, &clip, on ? onCaption : caption);
  dc.SelectObject(oldFont);
}

bool CScreenButton::RecordFace(DrawContext& dc) {
  if (hidden) return true;
  HGDIOBJ oldBrush = dc.SelectObject(GetStockObject(NULL_BRUSH));
  HGDIOBJ oldPen = dc.SelectObject(GetStockObject(BLACK_PEN));
  dc.SelectObject(GetStockObject(NULL_PEN));
  HBRUSH brush = CreateSolidBrush(flat ? 0xffffff : (on ? onFaceColor : faceColor));
  dc.SelectObject(brush);
  dc.Rectangle(left + 1, bottom + 1, right, top);

  HPEN lastPen = 0;
  if (!flat) {
    auto pair = [&](COLORREF c, Point from, Point a, Point b, bool keep) {
      HPEN pen = CreatePen(PS_SOLID, 0, c);
      HGDIOBJ prev = dc.SelectObject(pen);
      dc.MoveTo(from.x, from.y);
      dc.LineTo(a.x, a.y);
      dc.MoveTo(from.x, from.y);
      dc.LineTo(b.x, b.y);
      if (keep) {
        lastPen = pen;
      } else {
        dc.SelectObject(prev);
        DeleteObject(pen);
      }
    };
    pair(highlightColor, {right, top}, {right, bottom}, {left, top}, false);
    pair(shadowColor, {left, bottom}, {right, bottom}, {left, top}, false);
    pair(innerShadowColor, {left + 1, bottom - 1}, {right - 1, bottom - 1}, {left + 1, top + 1}, true);
  } else {
    lastPen = CreatePen(PS_SOLID, 0, faceColor);
    dc.SelectObject(lastPen);
    dc.MoveTo(right, top);
    dc.LineTo(right, bottom);
    dc.LineTo(left, bottom);
    dc.LineTo(left, top);
    dc.LineTo(right, top);
    dc.MoveTo(right - 1, top - 1);
    dc.LineTo(right - 1, bottom + 1);
    dc.LineTo(left + 1, bottom + 1);
    dc.LineTo(left + 1, top - 1);
    dc.LineTo(right - 1, top - 1);
  }

  CaptionInto(dc, textColor);

  dc.SelectObject(oldPen);
  dc.SelectObject(oldBrush);
  DeleteObject(brush);
  if (lastPen) DeleteObject(lastPen);
  return true;
}

bool CScreenButton::Redraw() {
  if (hidden) return true;
  MetafileDC rec;
  rec.SetWindowExt(PlotSpaceWidth(), PlotSpaceHeight());
  RecordFace(rec);
  HMETAFILE mf = rec.Close();
  if (!mf) return false;
  if (ownsFace && face) DeleteMetaFile(face);
  face = mf;
  ownsFace = 1;
  return true;
}

void CScreenButton::Paint(DrawSurface& window) {
  if (hidden || !face) return;
  auto dc = window.ClientDC();
  dc->SetMapMode(MM_ANISOTROPIC);
  dc->SetWindowExt(PlotSpaceWidth(), PlotSpaceHeight());
  dc->SetViewportExt(window.ClientWidth(), window.ClientHeight());
  PlayMetaFile(*dc, face);
}

Rect CScreenButton::PixelArea(const DrawSurface& window) const {
  const double W = window.ClientWidth(), H = window.ClientHeight();
  // The face is replayed over the extent PlotSpaceWidth() x PlotSpaceHeight():
  // the area under it is mapped the same way. With the unfloored stretch
  // product (1399.99998) the face's right edge ran past the kept area by
  // right x W / 1400^2 pixels, over two on wide windows, and stayed behind.
  const double spanX = PlotSpaceWidth(), spanY = PlotSpaceHeight();
  int x0 = static_cast<int>(std::floor(left * W / spanX)) - 2;
  int x1 = static_cast<int>(std::floor(right * W / spanX)) + 2;
  int y0 = static_cast<int>(std::floor(top * H / spanY)) - 1;
  int y1 = static_cast<int>(std::floor(bottom * H / spanY)) + 2;
  if (x1 < x0) std::swap(x0, x1);
  if (y1 < y0) std::swap(y0, y1);
  return {x0, y0, x1, y1};
}

bool CScreenButton::SaveBackground(DrawSurface& window) {
  const Rect r = PixelArea(window);
  savedBackground = window.CopyPixels(r.left, r.top, r.right - r.left + 1, r.bottom - r.top + 1);
  backgroundSaved = 1;
  return true;
}

bool CScreenButton::RestoreBackground(DrawSurface& window) {
  if (backgroundSaved) {
    const Rect r = PixelArea(window);
    window.PastePixels(savedBackground, r.left, r.top);
  }
  if (ringRadius > 0) ErasePointRing(window, ringX, ringY, ringRadius);
  return true;
}

void CScreenButton::DrawPointRing(DrawSurface& window, int x, int y, int radius, COLORREF ringColor,
                                  COLORREF pointColor) {
  if (hidden) return;
  if (ringRadius > 0) ErasePointRing(window, ringX, ringY, ringRadius);
  if (radius < 1) return;
  ringX = x;
  ringY = y;
  ringRadius = radius;
  ringPointColor = pointColor;
  auto dc = window.ClientDC();
  dc->SetROP2(R2_COPYPEN);
  HPEN pen = CreatePen(PS_SOLID, 1, ringColor);
  HGDIOBJ old = dc->SelectObject(pen);
  const int r = radius;
  dc->Ellipse(x - r, y - r, x + r, y + r);
  dc->Ellipse(x - r + 1, y - r + 1, x + r - 1, y + r - 1);
  dc->Ellipse(x - r + 2, y - r + 2, x + r - 2, y + r - 2);
  dc->SelectObject(old);
  DeleteObject(pen);
}

void CScreenButton::ErasePointRing(DrawSurface& window, int x, int y, int radius) {
  if (hidden) return;
  {
    auto dc = window.ClientDC();
    dc->SetROP2(R2_COPYPEN);
    HPEN white = CreatePen(PS_SOLID, 1, 0xffffff);
    HGDIOBJ old = dc->SelectObject(white);
    dc->Ellipse(x - radius, y - radius, x + radius, y + radius);
    HPEN point = CreatePen(PS_SOLID, 1, ringPointColor);
    dc->SelectObject(point);
    dc->Ellipse(x - 2, y - 2, x + 2, y + 2);
    dc->Ellipse(x - 1, y - 1, x + 1, y + 1);
    dc->Ellipse(x, y, x + 1, y + 1);
    dc->SelectObject(old);
    DeleteObject(white);
    DeleteObject(point);
  }
  ringX = ringY = ringRadius = 0;
}

void CScreenButton::DrawCaption(DrawSurface& window) {
  if (hidden) return;
  auto dc = window.ClientDC();
  CaptionInto(*dc, textColor);
}

void CScreenButton::EraseCaption(DrawSurface& window) {
  if (hidden) return;
  auto dc = window.ClientDC();
  CaptionInto(*dc, 0xffffff);
}

void CScreenButton::FitCaption() {
  // The caption font's characters are about half its height wide.
  constexpr double kCharWidth = 0.5;
  const size_t length = std::max<size_t>(1, std::max(caption.size(), onCaption.size()));
  const double aspect = pixelAspect > 0 ? pixelAspect : 1.0;
  const double fit = (std::abs(right - left) - 4) / (kCharWidth * aspect * static_cast<double>(length));
  const int tallest = std::min(16, std::abs(bottom - top));
  captionHeight = std::max(7, std::min(tallest, static_cast<int>(std::floor(fit))));
}
