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

// Bins of width 10 rmsd / (n - 1) centred on -5 rmsd .. +5 rmsd; the
// Gaussian g_k = c exp(-x_k^2 / (2 rmsd^2)) with c = sum(n_k g_k) / sum(g_k^2)
// (least squares), misfit = 100 sum((g_k - n_k)^2) / sum(g_k^2).
int ComputeResidualStatistics(float** centres, float** lower, float** upper, float** counts, float** gauss,
                              float* misfit) {
  const ScanSet& s = CurrentScanSet();
  const DataTypeFlags& f = CurrentDataTypeFlags();
  if (f.dls || s.points.empty() || s.count < 1) return 0;
  const double rmsd = CalcRmsd();
  if (!(rmsd > 0)) return 0;

  long N = 0;
  for (int scan = 1; scan <= s.count; ++scan) {
    int first = 1, last = 0;
    ScanFitRange(s, scan, first, last);
    N += std::max(0, last - first + 1);
  }
  double F = f.absorbance ? 100.0 : 1000.0;
  long half = static_cast<long>(std::floor(N / (2.0 * F)));
  long n = 2 * half + 1;
  auto hand = [](float** out, int size) -> float* {
    if (!out) return nullptr;
    *out = vector(1, size);
    for (int k = 1; k <= size; ++k) (*out)[k] = 0;
    return *out;
  };
  while (n < 10) {
    F *= 0.5;
    if (F < 1) {
      for (float** out : {centres, lower, upper, counts, gauss}) hand(out, 1);
      if (misfit) *misfit = 0;
      return 1;
    }
    half = static_cast<long>(std::floor(N / (2.0 * F)));
    n = 2 * half + 1;
  }

  const int bins = static_cast<int>(n);
  // The edges are kept in single precision, as handed out, so that a
  // residual equal to a reported edge falls into the bin below it.
  std::vector<float> centre(static_cast<size_t>(bins) + 1), lo(static_cast<size_t>(bins) + 1),
      hi(static_cast<size_t>(bins) + 1);
  std::vector<double> count(static_cast<size_t>(bins) + 1, 0.0), g(static_cast<size_t>(bins) + 1);
  const float width = static_cast<float>(2.0 * 5.0 * rmsd / (bins - 1));
  for (int k = 1; k <= bins; ++k) {
    centre[static_cast<size_t>(k)] = static_cast<float>(-5.0 * rmsd) + static_cast<float>(k - 1) * width;
    lo[static_cast<size_t>(k)] = centre[static_cast<size_t>(k)] - 0.5f * width;
    hi[static_cast<size_t>(k)] = lo[static_cast<size_t>(k)] + width;
  }
  for (int scan = 1; scan <= s.count; ++scan) {
    const float* r = At(s.residuals, scan, static_cast<float*>(nullptr));
    if (!r) continue;
    int first = 1, last = 0;
    ScanFitRange(s, scan, first, last);
    for (int k = first; k <= last; ++k) {
      const float x = r[k];
      int b = bins;
      if (x <= lo[1]) {
        b = 1;
      } else {
        // The bin edges ascend: the first upper edge not below x.
        const auto it = std::lower_bound(hi.begin() + 1, hi.end(), x);
        if (it != hi.end()) b = static_cast<int>(it - hi.begin());
      }
      count[static_cast<size_t>(b)] += 1;
    }
  }
  double sumCG = 0, sumGG = 0;
  for (int k = 1; k <= bins; ++k) {
    const double c = centre[static_cast<size_t>(k)];
    g[static_cast<size_t>(k)] = std::exp(-c * c / (2.0 * rmsd * rmsd));
    sumCG += count[static_cast<size_t>(k)] * g[static_cast<size_t>(k)];
    sumGG += g[static_cast<size_t>(k)] * g[static_cast<size_t>(k)];
  }
  const double scale = sumGG > 0 ? sumCG / sumGG : 0.0;
  double miss = 0, sumScaled = 0;
  for (int k = 1; k <= bins; ++k) {
    g[static_cast<size_t>(k)] *= scale;
    const double d = g[static_cast<size_t>(k)] - count[static_cast<size_t>(k)];
    miss += d * d;
    sumScaled += g[static_cast<size_t>(k)] * g[static_cast<size_t>(k)];
  }
  auto out = [&](float** target, const auto& values) {
    if (float* a = hand(target, bins))
      for (int k = 1; k <= bins; ++k) a[k] = static_cast<float>(values[static_cast<size_t>(k)]);
  };
  out(centres, centre);
  out(lower, lo);
  out(upper, hi);
  out(counts, count);
  out(gauss, g);
  if (misfit) *misfit = sumScaled > 0 ? static_cast<float>(100.0 * miss / sumScaled) : 0.0f;
  return bins;
}
