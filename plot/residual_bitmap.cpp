#include "plot/residual_bitmap.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "data/scan_set.h"
#include "fit/rmsd.h"
#include "numerics/arrays.h"
#include "numerics/regrid.h"
#include "platform/clipboard.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"

using platform::Bitmap;
using platform::COLORREF;

PeakBandSelection& CurrentPeakBand() {
  static PeakBandSelection band;
  return band;
}

namespace {

int ScanAt(const ScanSet& s, int i) {
  return static_cast<int>(s.order.size()) > i && s.order[static_cast<size_t>(i)] > 0 ? s.order[static_cast<size_t>(i)]
                                                                                   : i;
}

template <typename T>
T At(const std::vector<T>& table, int i, T fallback) {
  return i >= 0 && static_cast<size_t>(i) < table.size() ? table[static_cast<size_t>(i)] : fallback;
}


struct Tint {
  int r = 0, g = 0, b = 0;
};

int Clamp255(int c) { return std::clamp(c, 0, 255); }

// Level v = floor(128 x / S) in -128..127; a full scale of 0 (or a
// non-finite ratio) shows as level 0 rather than dividing by zero.
int Level(float x, float S, double& ratio) {
  ratio = 0;
  if (S == 0 || !std::isfinite(S)) return 0;
  ratio = static_cast<double>(x) / static_cast<double>(S);
  if (!std::isfinite(ratio)) {
    ratio = 0;
    return 0;
  }
  const double v = std::floor(128.0 * ratio);
  return static_cast<int>(std::clamp(v, -128.0, 127.0));
}

COLORREF PixelColour(const PlotWindowSet& w, float x, float S, Tint t) {
  double ratio = 0;
  const int v = Level(x, S, ratio);
  if (!w.bitmapBlackWhite) {
    if (!w.bitmapContinuous) return v > 0 ? platform::RGB(255, 0, 0) : v == 0 ? platform::RGB(255, 255, 255)
                                                                              : platform::RGB(0, 0, 255);
    if (v > 0) return platform::RGB(128 + v - t.r, 128 - v - t.g, 128 - v - t.b);
    if (v == 0) return platform::RGB(128 - t.r, 128 - t.g, 128 - t.b);
    return platform::RGB(128 + v - t.r, 128 + v - t.g, 128 - v - t.b);
  }
  if (!w.bitmapContinuous) return v > 0 ? platform::RGB(255, 255, 255) : v == 0 ? platform::RGB(128, 128, 128)
                                                                                 : platform::RGB(0, 0, 0);
  if (w.bitmapHighlightExtremes && v == 127) {
    const int e = static_cast<int>(std::min(255.0, std::floor(255.0 * (ratio - 1) * (ratio - 1))));
    return platform::RGB(Clamp255(255 - t.r), 255 - e, 255);
  }
  if (w.bitmapHighlightExtremes && v == -128) {
    const int e = static_cast<int>(std::min(255.0, std::floor(255.0 * (ratio + 1) * (ratio + 1))));
    return platform::RGB(e, 0, 0);
  }
  return platform::RGB(Clamp255(128 + v - t.r), Clamp255(128 + v - t.g), Clamp255(128 + v - t.b));
}

float FullScale(const PlotWindowSet& w) {
  if (CurrentDataTypeFlags().fluorescence) return 3.0f * CalcRmsd();
  float S = w.bitmapFullScale;
  if (S == 0 && w.residualPlot) S = std::max(std::fabs(w.residualPlot->yMax), std::fabs(w.residualPlot->yMin));
  return S;
}

}  // namespace

Bitmap RenderResidualsBitmap(bool tint) {
  ScanSet& s = CurrentScanSet();
  const int W = s.lastGridPoint - s.firstGridPoint + 1;
  const int H = s.count;
  if (W < 1 || H < 1 || !s.grid || s.gridLength < 1) return Bitmap();
  Bitmap bitmap(W, H);
  std::vector<float> work(static_cast<size_t>(s.gridLength) + 1, 0.0f);

  UpdateResidualsPlot(true);
  const PlotWindowSet& w = CurrentPlotWindows();
  const float S = FullScale(w);
  const PeakBandSelection& band = CurrentPeakBand();
  const int firstGrid = std::max(s.firstGridPoint, 1);
  const int lastGrid = std::min(s.lastGridPoint, s.gridLength);

  for (int i = 1; i <= H; ++i) {
    const int scan = ScanAt(s, i);
    const float* radii = At(s.radii, scan, static_cast<float*>(nullptr));
    const float* residuals = At(s.residuals, scan, static_cast<float*>(nullptr));
    const int points = At(s.points, scan, 0);
    std::fill(work.begin(), work.end(), 0.0f);
    if (radii && residuals && points > 0)
      InterpolateOntoGrid(s.gridLength, s.grid, work.data(), points, radii, residuals);
    const int bandFirst = At(band.first, scan, 0), bandLast = At(band.last, scan, 0);
    const bool banded = tint && band.on && radii && bandFirst > 0 && bandLast > 0 && bandFirst <= points &&
                        bandLast <= points;
    for (int j = firstGrid; j <= lastGrid; ++j) {
      Tint t;
      if (banded && s.grid[j] >= radii[bandFirst] && s.grid[j] <= radii[bandLast])
        t = band.errorPropagation ? Tint{25, 25, -50} : Tint{-50, 25, 25};
      bitmap.SetPixel(j - s.firstGridPoint, i - 1, PixelColour(w, work[static_cast<size_t>(j)], S, t));
    }
  }
  return bitmap;
}

void DrawResidualsBitmap(platform::DrawSurface& window) {
  auto bitmap = std::make_shared<const Bitmap>(RenderResidualsBitmap(true));
  if (bitmap->Empty()) return;
  const PlotWindowSet& w = CurrentPlotWindows();
  const double cw = window.ClientWidth(), ch = window.ClientHeight();
  const double span = static_cast<double>(PlotXStretch) * 1000.0;
  auto mapX = [&](double u) { return static_cast<int>(std::floor(u * cw / span)); };
  auto mapY = [&](double v) { return static_cast<int>(std::floor(v * ch / 1000.0)); };
  const int n = CurrentScanSet().count;
  const int wl = w.layoutRight - w.layoutLeft - (w.showHistogram ? w.histogramWidth : 0);
  // The same stretch product as the plot rectangles, so the strip lines up
  // with the residual plot's frame.
  const double stretch = static_cast<double>(PlotXStretch);
  const int left = mapX(std::floor(stretch * w.layoutLeft));
  const int width = mapX(std::floor(stretch * wl));
  // The strip ends where the residual plot, shifted down by n layout rows,
  // begins.
  const int top = mapY(w.residualTop) - n + mapY(n);
  auto dc = window.ClientDC();
  dc->DrawBitmap(left, top, width, n, bitmap);
}

bool CopyResidualsBitmapToClipboard() {
  return platform::Clipboard().SetBitmap(RenderResidualsBitmap(false));
}
