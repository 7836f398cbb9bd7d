// Recording a whole plot (background, highlight bands, curves, frame, axes,
// colour scale, labels) into a metafile in the 1399 x 1000 plot space, and
// the small marker recorders.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

#include "platform/error_box.h"
#include "platform/user_interface.h"
#include "plot/cwinplot.h"
#include "plot/plot_fonts.h"

using namespace platform;

namespace {

constexpr int MinorTickLength = 5;
constexpr int LabelGap = 2;
constexpr int MirrorTicks = 1;
// Points outside the y range ask for a rescale and a second recording. The
// rescale either brings them in or cannot (a fixed range), so recording
// more than once more never helps.
constexpr int kMaxReplots = 1;

}  // namespace

std::unique_ptr<MetafileDC> CWINPlot::OpenRecording() {
  auto dc = std::make_unique<MetafileDC>();
  dc->SetWindowExt(PlotSpaceWidth(), PlotSpaceHeight());
  return dc;
}

int CWINPlot::YLabelWidth() const {
  CVector* ticks = nullptr;
  AxisLogTicks = (yAxisOption || logY) ? 1 : 0;
  if (logY)
    DrawAxis(1, std::log10(yMin), std::log10(yMax), &ticks);
  else
    DrawAxis(1, yMin, yMax, &ticks);
  AxisLogTicks = 0;
  int widest = 0;
  char buffer[25];
  for (int k = 0; ticks && k < static_cast<int>(ticks->count); ++k) {
    std::memset(buffer, 0, sizeof buffer);
    if (logY)
      ticks->FormatPow10Element(k, buffer, 20, valueFactor);
    else
      ticks->FormatScaledElement(k, buffer, 20, valueFactor);
    widest = std::max(widest, AxisNumberWidth(buffer, 53));
  }
  delete ticks;
  return widest;
}

void CWINPlot::KeepRightLabelsInside() {
  if (!MirrorTicks || narrowMargins || !showYAxisTitle || compactAxes || plotRight <= plotLeft) return;
  const int end = plotRight + PlotFrameMargin + LabelGap + YLabelWidth();
  const int over = end - (PlotSpaceWidth() - 2);
  if (over <= 0) return;
  // Layout units, rounded up: the rectangle is kept in them.
  const int inLayout = static_cast<int>(std::ceil(over / static_cast<double>(PlotXStretch))) + 1;
  const int left = static_cast<int>(std::lround(plotLeft / static_cast<double>(PlotXStretch)));
  const int right = static_cast<int>(std::lround(plotRight / static_cast<double>(PlotXStretch))) - inLayout;
  if (right - left < 100) return;
  const int xFixed = xRangeFixed, yFixed = yRangeFixed;
  const float x0 = xMin, x1 = xMax, y0 = yMin, y1 = yMax;
  SetPlotRect(plotTop, left, plotBottom, right);
  // The ranges stay as they were; only the rectangle is narrower.
  xMin = x0;
  xMax = x1;
  yMin = y0;
  yMax = y1;
  xRangeFixed = xFixed;
  yRangeFixed = yFixed;
  ComputeTransforms();
}

bool CWINPlot::Plot() {
  // A picture nobody will see: large data sets spent a fifth of an
  // unattended run on recording them.
  if (platform::DrawingUnseen()) return curveCount != 0;
  bool ok = PlotOnce();
  for (int again = 0; ok && again < kMaxReplots && PointsOutsideYRange == 1 && (!xRangeFixed || !yRangeFixed);
       ++again) {
    Rescale();
    ok = PlotOnce();
  }
  return ok;
}

bool CWINPlot::PlotOnce() {
  if (curveCount == 0) return false;
  if (!AxisFont) CreatePlotFonts();
  PointsOutsideYRange = 0;
  auto rec = OpenRecording();
  DrawContext& dc = *rec;
  HGDIOBJ oldBrush = dc.SelectObject(GetStockObject(NULL_BRUSH));
  HGDIOBJ oldPen = dc.SelectObject(GetStockObject(BLACK_PEN));
  HGDIOBJ oldFont = dc.CurrentFont();
  dc.SelectObject(GetStockObject(NULL_PEN));
  HBRUSH background = CreateSolidBrush(backgroundColor);
  dc.SelectObject(background);

  if (fillBackground) dc.Rectangle(frameLeft, frameBottom, frameRight, frameTop);

  std::vector<HBRUSH> bandBrushes;
  for (int j = 1; j <= highlightCount && static_cast<size_t>(j) < highlightIndices.size(); ++j) {
    const CVector* band = highlightIndices[static_cast<size_t>(j)];
    if (!band) continue;
    HBRUSH brush = CreateSolidBrush(0xe6fae6);
    bandBrushes.push_back(brush);
    dc.SelectObject(brush);
    dc.Rectangle(ToPixelX(band->GetAt(0)), plotBottom, ToPixelX(band->GetAt(1)), plotTop);
  }

  bool drewCurve = false;
  if (!suppressCurves) {
    // The curves end at the frame: a zoom leaves points and symbols beside it.
    const bool framed = plotRight > plotLeft && plotBottom > plotTop;
    if (framed) {
      dc.SaveDC();
      dc.IntersectClipRect(plotLeft, plotTop, plotRight + 1, plotBottom + 1);
    }
    const int step = std::max(curveStep, 1);
    int counter = step;
    for (int i = 0; i < curveCount; ++i) {
      if (counter != step) {
        ++counter;
        continue;
      }
      counter = 1;
      DrawCurve(dc, i);
      drewCurve = true;
    }
    if (framed) dc.RestoreDC(-1);
  }
  // The frame's interior takes the brush then in force: hollow after curves.
  dc.SelectObject(drewCurve ? GetStockObject(NULL_BRUSH) : (bandBrushes.empty() ? background : bandBrushes.back()));

  HPEN framePen = CreatePen(PS_SOLID, 0, frameColor);
  dc.SelectObject(framePen);
  dc.Rectangle(plotLeft, plotBottom, plotRight, plotTop);

  dc.SetBkColor(backgroundColor);
  dc.SetBkMode(TRANSPARENT);
  dc.SetTextColor(frameColor);
  dc.SetTextAlign(TA_CENTER | TA_TOP);
  dc.SelectObject(AxisFont);
  char buffer[25];
  int w = 0;
  int leftNumbers = 0;  // the widest number left of the y axis

  auto tickLabel = [&](const CVector& ticks, int k, bool pow10, float scale) {
    std::memset(buffer, 0, sizeof buffer);
    if (pow10)
      ticks.FormatPow10Element(k, buffer, 20, scale);
    else
      ticks.FormatScaledElement(k, buffer, 20, scale);
    return static_cast<int>(std::strlen(buffer));
  };

  // x axis
  for (int major = 1; major >= 0; --major) {
    AxisLogTicks = (xAxisOption || logX) ? 1 : 0;
    CVector* ticks = nullptr;
    if (logX)
      DrawAxis(major, std::log10(xMin), std::log10(xMax), &ticks);
    else
      DrawAxis(major, xMin, xMax, &ticks);
    AxisLogTicks = 0;
    const int len = major ? PlotFrameMargin : MinorTickLength;
    for (int k = 0; k < static_cast<int>(ticks->count); ++k) {
      const float t = ticks->data[k];
      const int px = logX ? ToPixelX(std::pow(10.0f, t)) : ToPixelX(t);
      if (!frameBottomAtPlot) {
        dc.MoveTo(px, plotBottom);
        dc.LineTo(px, plotBottom + len);
        if (major && !compactAxes) {
          tickLabel(*ticks, k, logX, 1.0f);
          dc.TextOut(px, plotBottom + PlotFrameMargin + LabelGap, buffer);
        }
      }
      if (MirrorTicks) {
        dc.MoveTo(px, plotTop);
        dc.LineTo(px, plotTop - len);
        if (framePlotOption) {
          dc.MoveTo(px, plotTop);
          dc.LineTo(px, plotTop + len);
        }
      }
    }
    delete ticks;
  }

  // y axis
  if (!narrowMargins) {
    for (int major = 1; major >= 0; --major) {
      AxisLogTicks = (yAxisOption || logY) ? 1 : 0;
      CVector* ticks = nullptr;
      if (logY)
        DrawAxis(major, std::log10(yMin), std::log10(yMax), &ticks);
      else
        DrawAxis(major, yMin, yMax, &ticks);
      AxisLogTicks = 0;
      if (major) dc.SetTextAlign(TA_RIGHT | TA_BASELINE);
      const int len = major ? PlotFrameMargin : MinorTickLength;
      for (int k = 0; k < static_cast<int>(ticks->count); ++k) {
        const float t = ticks->data[k];
        const int py = logY ? ToPixelY(std::pow(10.0f, t)) : ToPixelY(t);
        dc.MoveTo(plotLeft, py);
        dc.LineTo(plotLeft - len, py);
        if (major) {
          const int chars = tickLabel(*ticks, k, logY, valueFactor);
          w = std::max(w, AxisFontHeight * chars);
          if (!compactAxes) {
            dc.TextOut(plotLeft - PlotFrameMargin - LabelGap, py + AxisFontHeight / 3, buffer);
            leftNumbers = std::max(leftNumbers, AxisNumberWidth(buffer));
          }
        }
        if (MirrorTicks) {
          dc.MoveTo(plotRight, py);
          dc.LineTo(plotRight + len, py);
          // A number that the window's edge would cut ("1000" read as
          // "100") is left out: the left axis shows it.
          const bool fits = plotRight + PlotFrameMargin + LabelGap + AxisNumberWidth(buffer, 53) <= PlotSpaceWidth();
          if (major && showYAxisTitle && !compactAxes && fits) {
            dc.SetTextAlign(TA_LEFT | TA_BASELINE);
            dc.TextOut(plotRight + PlotFrameMargin + LabelGap, py + AxisFontHeight / 3, buffer);
            dc.SetTextAlign(TA_RIGHT | TA_BASELINE);
          }
        }
      }
      delete ticks;
    }
  }

  // colour scale of the extra values
  if (!suppressCurves && hasExtraData && showColorBar) {
    const int bw = 10;
    const int x0 = plotRight + colorBarOffset;
    int m = (plotBottom - plotTop) / 10 + 1;
    if (m == 1) m = 2;
    for (int k = 1; k <= m; ++k) {
      const COLORREF c = ColorForValue(static_cast<float>(k) / static_cast<float>(m));
      HPEN pen = CreatePen(PS_SOLID, 0, c);
      HBRUSH brush = CreateSolidBrush(c);
      HGDIOBJ op = dc.SelectObject(pen);
      HGDIOBJ ob = dc.SelectObject(brush);
      const int yk = static_cast<int>(std::floor(static_cast<double>(plotTop + 2 * bw - plotBottom) * (k - 1) /
                                                 static_cast<double>(m - 1))) +
                     plotBottom - bw;
      if (k < m)
        dc.Rectangle(x0, yk - 5, x0 + 2 * bw + 1, yk + 5);
      else
        dc.Rectangle(x0, plotTop, x0 + 2 * bw + 1, yk + 5);
      dc.SelectObject(op);
      dc.SelectObject(ob);
      DeleteObject(pen);
      DeleteObject(brush);
    }
    HGDIOBJ op = dc.SelectObject(GetStockObject(BLACK_PEN));
    dc.MoveTo(x0 - 1, plotBottom - 1);
    dc.LineTo(x0 + 2 * bw, plotBottom - 1);
    dc.LineTo(x0 + 2 * bw, plotTop);
    dc.LineTo(x0 - 1, plotTop);
    dc.LineTo(x0 - 1, plotBottom - 1);
    dc.SelectObject(op);
    if (hasCaption2) {
      dc.SetTextAlign(TA_LEFT | TA_BASELINE);
      const int cx = x0 + 2 + 2 * bw + annotation3Option + caption2Value;
      dc.TextOut(cx, plotBottom + 5, caption2A);
      dc.TextOut(cx, plotTop + 5, caption2B);
      dc.SetTextAlign(TA_RIGHT | TA_BASELINE);
    }
    if (hasCaption3) {
      dc.SetTextAlign(TA_LEFT | TA_BASELINE);
      dc.TextOut(plotRight + colorBarOffset + caption3X, plotTop - 5 + caption3Y, caption3Text);
      dc.SetTextAlign(TA_RIGHT | TA_BASELINE);
    }
    const float lo = hasExtraScale ? extraScaleLow : 0.0f;
    const float hi = hasExtraScale ? extraScaleHigh : extraMax;
    if (showColorBarTicks && hi != lo) {
      AxisLogTicks = 0;
      for (int major = 1; major >= 0; --major) {
        CVector* ticks = nullptr;
        DrawAxis(major, lo, hi, &ticks);
        const int len = major ? PlotFrameMargin : MinorTickLength;
        for (int k = 0; k < static_cast<int>(ticks->count); ++k) {
          const float t = ticks->data[k];
          const int py = PixelTrunc(plotBottom - static_cast<double>(plotBottom - plotTop) * (t - lo) / (hi - lo));
          dc.MoveTo(x0 + 2 * bw, py);
          dc.LineTo(x0 + 2 * bw + len, py);
          if (major) {
            tickLabel(*ticks, k, false, valueFactor);
            dc.SetTextAlign(TA_LEFT | TA_BASELINE);
            dc.TextOut(x0 + 2 * bw + PlotFrameMargin + LabelGap, py + AxisFontHeight / 3, buffer);
          }
        }
        delete ticks;
      }
    }
  }

  // labels and annotations
  dc.SelectObject(LabelFont);
  dc.SetTextAlign(TA_CENTER | TA_TOP);
  if (!frameBottomAtPlot && hasXLabel)
    dc.TextOut(static_cast<int>(plotLeft + (plotRight - plotLeft) * 0.5),
               plotBottom + PlotFrameMargin + AxisFontHeight + LabelGap + xLabelOption, xLabel);
  dc.SetTextAlign(TA_RIGHT | TA_BASELINE);
  const int xa = plotLeft - w / 2 - PlotFrameMargin - yLabelOption;
  if (hasAnnotation1) dc.TextOut(xa, plotBottom, annotation1);
  if (hasAnnotation2) dc.TextOut(xa, plotTop, annotation2);
  if (hasYLabel) {
    // Left of the axis numbers with a gap, and no longer than the plot is
    // high: a long label (the Mwapp forms) in a smaller font.
    const int xy = std::min(xa, plotLeft - PlotFrameMargin - 3 * LabelGap - leftNumbers - yLabelOption);
    const int length = static_cast<int>(yLabel.size()) * LabelFontHeight * 55 / 100;
    const int high = plotBottom - plotTop;
    const int height = length > high && high > 0 ? std::max(11, LabelFontHeight * high / length) : LabelFontHeight;
    dc.SetTextAlign(TA_BOTTOM | TA_CENTER);
    dc.SelectObject(VerticalLabelFontOfHeight(height));
    dc.TextOut(xy, static_cast<int>(plotBottom + (plotTop - plotBottom) * 0.5), yLabel);
    dc.SetTextAlign(TA_CENTER);
  }
  if (hasAnnotation3) {
    dc.SetTextAlign(TA_CENTER);
    dc.SelectObject(TitleFont);
    dc.TextOut(static_cast<int>(plotLeft + (plotRight - plotLeft) * 0.5 - annotation3Option),
               plotTop - TitleFontHeight - LabelGap + optionValue, annotation3);
  }

  if (plotLeft - PlotFrameMargin - 10 - w < frameLeft) frameLeft = plotLeft - PlotFrameMargin - 10 - w;
  if (narrowMargins) {
    frameLeft = plotLeft - 5;
    frameRight = plotRight + 5;
  }

  dc.SelectObject(oldPen);
  dc.SelectObject(oldBrush);
  dc.SelectObject(oldFont);
  DeleteObject(background);
  DeleteObject(framePen);
  for (HBRUSH b : bandBrushes) DeleteObject(b);
  HMETAFILE mf = rec->Close();
  if (!mf) return false;
  if (lastMetafile && ownsMetafile) DeleteMetaFile(lastMetafile);
  lastMetafile = mf;
  ownsMetafile = 1;
  return true;
}

void CWINPlot::PlotFunction(DrawContext& dc, float (*f)(float), int n, COLORREF color) const {
  if (curveCount == 0) {
    ErrorBox("Plot function without data not yet implemented");
    return;
  }
  if (!f || n < 1) return;
  HPEN pen = CreatePen(PS_SOLID, 0, color);
  HGDIOBJ old = dc.SelectObject(pen);
  dc.MoveTo(ToPixelX(xMin), ToPixelY(f(xMin)));
  for (int k = 1; k <= n - 1; ++k) {
    const float x = xMin + (xMax - xMin) * static_cast<float>(k) / static_cast<float>(n);
    dc.LineTo(ToPixelX(x), ToPixelY(f(x)));
  }
  dc.SelectObject(old);
  DeleteObject(pen);
}

std::unique_ptr<MetafileDC> CWINPlot::BeginRecording() const {
  auto dc = OpenRecording();
  dc->SelectObject(GetStockObject(BLACK_PEN));
  HBRUSH brush = CreateSolidBrush(backgroundColor);
  HGDIOBJ old = dc->SelectObject(brush);
  if (fillBackground) dc->Rectangle(frameLeft, frameBottom, frameRight, frameTop);
  // The brush is not left behind: the caller owns only the context.
  dc->SelectObject(old);
  DeleteObject(brush);
  return dc;
}

namespace {

HMETAFILE RecordWith(COLORREF color, const std::function<void(DrawContext&)>& draw) {
  MetafileDC dc;
  dc.SetWindowExt(PlotSpaceWidth(), PlotSpaceHeight());
  HPEN pen = CreatePen(PS_SOLID, 0, color);
  HBRUSH brush = CreateSolidBrush(color);
  HGDIOBJ op = dc.SelectObject(pen);
  HGDIOBJ ob = dc.SelectObject(brush);
  draw(dc);
  dc.SelectObject(op);
  dc.SelectObject(ob);
  DeleteObject(pen);
  DeleteObject(brush);
  return dc.Close();
}

}  // namespace

HMETAFILE CWINPlot::RecordMarker(float x, COLORREF color) const {
  const int px = ToPixelX(x);
  return RecordWith(color, [&](DrawContext& dc) {
    dc.MoveTo(px, plotBottom - 2);
    dc.LineTo(px, plotTop + 1);
  });
}

HMETAFILE CWINPlot::RecordDashedMarker(float x, COLORREF color) const {
  const int px = ToPixelX(x);
  return RecordWith(color, [&](DrawContext& dc) { DrawDottedSegment(dc, px, plotBottom - 2, px, plotTop + 1); });
}

HMETAFILE CWINPlot::RecordDashedFrame(COLORREF color) const {
  return RecordWith(color, [&](DrawContext& dc) {
    for (int x : {plotLeft, plotLeft - 1, plotLeft + 1}) DrawDottedSegment(dc, x, plotBottom, x, plotTop);
    for (int x : {plotRight, plotRight - 1, plotRight + 1}) DrawDottedSegment(dc, x, plotBottom, x, plotTop);
    for (int y : {plotBottom, plotBottom - 1, plotBottom + 1}) DrawDottedSegment(dc, plotLeft, y, plotRight, y);
    for (int y : {plotTop, plotTop - 1, plotTop + 1}) DrawDottedSegment(dc, plotLeft, y, plotRight, y);
  });
}
