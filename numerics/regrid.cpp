#include "numerics/regrid.h"

#include <cmath>
#include <vector>

#include "numerics/arrays.h"

namespace {

using Wide = long double;

template <typename XO, typename YO>
Wide SegmentValue(Wide x, const XO* xOld, const YO* yOld, int j) {
  const Wide x0 = xOld[j - 1], x1 = xOld[j];
  if (x == x1) return yOld[j];
  const Wide dx = x1 - x0;
  if (dx == 0) return yOld[j];
  return yOld[j - 1] + (x - x0) * (Wide(yOld[j]) - Wide(yOld[j - 1])) / dx;
}

// Linear interpolation y(x) = yOld[j-1] + (x - xOld[j-1]) (yOld[j] - yOld[j-1]) / (xOld[j] - xOld[j-1]),
// with xOld[j] the first old abscissa beyond x, and the end rules of the header.
// True when the target was written.
template <bool Add, typename XN, typename YN, typename XO, typename YO>
bool Regrid(int nNew, const XN* xNew, YN* yNew, int nOld, const XO* xOld, const YO* yOld) {
  if (nNew < 5 || nOld < 5) return false;
  if (xNew[nNew] < xOld[1] || xOld[nOld] < xNew[1] || xNew[5] > xOld[nOld - 4]) return false;
  auto put = [&](int i, Wide v) {
    if constexpr (Add) {
      yNew[i] = static_cast<YN>(yNew[i] + v);
    } else {
      yNew[i] = static_cast<YN>(v);
    }
  };

  int i = 1;
  if (xNew[1] < xOld[1]) {
    // The first new point chooses the rule for all points left of the old grid.
    const bool linear = Wide(xNew[1]) >= 2 * Wide(xOld[1]) - Wide(xOld[2]);
    Wide constant = yOld[1];
    if (nOld >= 11) {
      Wide sum = 0;
      for (int k = 1; k <= 10; ++k) sum += yOld[k];
      constant = sum * Wide(0.1);
    }
    for (; i <= nNew && xNew[i] < xOld[1]; ++i)
      put(i, linear ? SegmentValue<XO, YO>(xNew[i], xOld, yOld, 2) : constant);
  }

  int j = 2;
  for (; i <= nNew && xNew[i] <= xOld[nOld]; ++i) {
    while (j < nOld && xOld[j] <= xNew[i]) ++j;
    put(i, SegmentValue<XO, YO>(xNew[i], xOld, yOld, j));
  }

  if (i <= nNew) {
    const Wide limit = 2 * Wide(xOld[nOld]) - Wide(xOld[nOld - 1]);
    if (Wide(xNew[nNew]) <= limit) {
      // A point exactly one old spacing beyond the end is extrapolated too, so
      // that no target point is left without a value.
      for (; i <= nNew; ++i) put(i, SegmentValue<XO, YO>(xNew[i], xOld, yOld, nOld));
    } else {
      Wide constant = yOld[nOld];
      if (nOld >= 11) {
        Wide sum = 0;
        for (int k = nOld - 9; k <= nOld; ++k) sum += yOld[k];
        constant = sum * Wide(0.1);
      }
      for (; i <= nNew; ++i) put(i, constant);
    }
  }
  return true;
}

// Left of the old grid the end rules invent a value; above the meniscus is
// air and holds no solute. Compared in single precision, so that a scan
// radius stored as the meniscus itself keeps the profile's first value.
template <bool Add>
void CellProfile(int nNew, const float* xNew, float* yNew, int nOld, const double* xOld,
                 const double* yOld) {
  // Adding goes through a wide copy, so that the sums round as InterpolateOntoGridFD's.
  std::vector<Wide> wide(Add && nNew > 0 ? static_cast<std::size_t>(nNew) + 1 : 0);
  const bool written = Add ? Regrid<false>(nNew, xNew, wide.data(), nOld, xOld, yOld)
                           : Regrid<false>(nNew, xNew, yNew, nOld, xOld, yOld);
  if (!written) return;
  const float meniscus = static_cast<float>(xOld[1]);
  for (int i = 1; i <= nNew; ++i) {
    const bool inside = !(xNew[i] < meniscus);
    if (!Add && !inside) yNew[i] = 0.0f;
    if (Add && inside) yNew[i] = static_cast<float>(yNew[i] + wide[static_cast<std::size_t>(i)]);
  }
}

}  // namespace

void InterpolateOntoGrid(int nNew, const float* xNew, float* yNew, int nOld, const float* xOld,
                         const float* yOld) {
  Regrid<false>(nNew, xNew, yNew, nOld, xOld, yOld);
}
void InterpolateOntoGridD(int nNew, const float* xNew, float* yNew, int nOld, const double* xOld,
                          const double* yOld) {
  Regrid<false>(nNew, xNew, yNew, nOld, xOld, yOld);
}
void InterpolateOntoGridFD(int nNew, const float* xNew, float* yNew, int nOld, const double* xOld,
                           const double* yOld) {
  Regrid<true>(nNew, xNew, yNew, nOld, xOld, yOld);
}
void InterpolateOntoGridDF(int nNew, const double* xNew, double* yNew, int nOld, const float* xOld,
                           const float* yOld) {
  Regrid<false>(nNew, xNew, yNew, nOld, xOld, yOld);
}
void InterpolateOntoGridMixed(int nNew, const double* xNew, double* yNew, int nOld,
                              const double* xOld, const double* yOld) {
  Regrid<false>(nNew, xNew, yNew, nOld, xOld, yOld);
}

void InterpolateCellProfile(int nNew, const float* xNew, float* yNew, int nOld,
                            const double* xOld, const double* yOld) {
  CellProfile<false>(nNew, xNew, yNew, nOld, xOld, yOld);
}
void InterpolateCellProfileAdd(int nNew, const float* xNew, float* yNew, int nOld,
                               const double* xOld, const double* yOld) {
  CellProfile<true>(nNew, xNew, yNew, nOld, xOld, yOld);
}

void InterpolateOntoGridDD(int nNew, const double* xNew, double* yNew, int nOld,
                           const double* xOld, const double* yOld) {
  if (nNew < 1 || nOld < 1) return;
  if (xNew[nNew] < xOld[1] || xOld[nOld] < xNew[1]) return;
  int j = 2;
  for (int i = 1; i <= nNew; ++i) {
    if (xNew[i] < xOld[1] || xNew[i] > xOld[nOld]) continue;
    if (nOld == 1) {
      yNew[i] = yOld[1];
      continue;
    }
    while (j < nOld && xOld[j] <= xNew[i]) ++j;
    yNew[i] = static_cast<double>(SegmentValue<double, double>(xNew[i], xOld, yOld, j));
  }
}

void polint(float* xa, float* ya, int n, float x, float* y, float* dy) {
  FloatVec c(1, n), d(1, n);
  int ns = 1;
  float dif = std::fabs(x - xa[1]);
  for (int i = 1; i <= n; ++i) {
    const float dift = std::fabs(x - xa[i]);
    if (dift < dif) {
      ns = i;
      dif = dift;
    }
    c[i] = ya[i];
    d[i] = ya[i];
  }
  *y = ya[ns--];
  *dy = 0.0f;
  // Neville's tableau: c and d are the corrections up and down one column.
  for (int m = 1; m < n; ++m) {
    for (int i = 1; i <= n - m; ++i) {
      const float ho = xa[i] - x;
      const float hp = xa[i + m] - x;
      const float w = c[i + 1] - d[i];
      float den = ho - hp;
      if (den == 0.0f) nrerror("Error in routine polint");
      den = w / den;
      d[i] = hp * den;
      c[i] = ho * den;
    }
    *dy = (2 * ns < (n - m)) ? c[ns + 1] : d[ns--];
    *y += *dy;
  }
}
