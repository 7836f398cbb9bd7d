#include "plot/residual_statistics.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "data/scan_set.h"
#include "fit/rmsd.h"
#include "numerics/arrays.h"

namespace {

template <typename T>
T At(const std::vector<T>& table, int i, T fallback) {
  return i >= 0 && static_cast<size_t>(i) < table.size() ? table[static_cast<size_t>(i)] : fallback;
}

}  // namespace

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
