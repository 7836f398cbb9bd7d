#include "data/scan_grid.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "data/data_messages.h"
#include "data/load_hooks.h"
#include "data/scan_set.h"
#include "numerics/arrays.h"
#include "platform/error_box.h"
#include "numerics/regrid.h"

using data_messages::Format;

namespace {

float* Zeros(int n) {
  float* a = vector(1, std::max(n, 1));
  for (int j = 1; j <= std::max(n, 1); ++j) a[j] = 0.0f;
  return a;
}

bool Serial() { return *CurrentLoadTargets().serialFitRunning != 0; }

// Fills out[1..gridLength] with scan i on the grid.
void InterpolateScan(const ScanSet& s, int i, float* out) {
  const DataTypeFlags& flags = CurrentDataTypeFlags();
  const int n = s.points[i];
  if (flags.intensity && s.signals2[i]) {
    // Intensity pairs go onto the grid as absorbance, log10(signal / signal2).
    FloatVec ratio(1, std::max(n, 1));
    for (int k = 1; k <= n; ++k) {
      const float a = s.signals[i][k], b = s.signals2[i][k];
      ratio[k] = (a > 0.0f && b > 0.0f) ? std::log10(a / b) : 0.0f;
    }
    InterpolateOntoGrid(s.gridLength, s.grid, out, n, s.radii[i], ratio);
  } else {
    InterpolateOntoGrid(s.gridLength, s.grid, out, n, s.radii[i], s.signals[i]);
  }
}

void ComputeScanMeansOverRange(ScanSet& s) {
  const int first = std::max(1, s.firstGridPoint);
  const int last = std::min(s.gridLength, s.lastGridPoint);
  const int n = last - first + 1;
  double profile = 0;
  for (int j = first; j <= last; ++j) profile += s.meanProfile[j];
  s.profileSum = static_cast<float>(s.count * (n > 0 ? profile : 0.0));
  s.profileWeight = static_cast<float>(s.count * std::max(n, 0));
  for (int i = 1; i <= s.count; ++i) {
    double sum = 0;
    for (int j = first; j <= last; ++j) sum += s.gridSignals[i][j];
    s.scanMeans[i] = n > 0 ? static_cast<float>(sum / n) : 0.0f;
  }
}

bool HaveGrid(const ScanSet& s) {
  return s.count > 0 && s.gridLength > 0 && s.grid && s.meanProfile && s.scanMeans;
}

}  // namespace

void FreeFitArrays(int /*n*/) { FreeScanGridArrays(CurrentScanSet()); }

void RefreshGridCopy(int i) {
  ScanSet& s = CurrentScanSet();
  if (!s.gridOwned || !s.grid || i < 1 || i > s.count || !s.gridSignals[i]) return;
  InterpolateScan(s, i, s.gridSignals[i]);
}

void PrepareScanGrid() {
  ScanSet& s = CurrentScanSet();
  const DataTypeFlags& flags = CurrentDataTypeFlags();
  CurrentLoadHooks().applyNonlinearDetection();
  if (s.grid || s.gridLength > 0) FreeFitArrays(s.count);
  if (s.count <= 0) return;

  bool owned = flags.absorbance || flags.intensity;
  for (int i = 2; i <= s.count && !owned; ++i)
    owned = s.points[i] != s.points[1] || s.radii[i][1] != s.radii[1][1];
  s.gridOwned = owned ? 1 : 0;
  s.gridSignals.assign(static_cast<std::size_t>(s.count) + 1, nullptr);

  if (!owned) {
    const int earliest = s.order[1];
    s.grid = s.radii[earliest];
    s.gridLength = s.points[earliest];
    for (int i = 1; i <= s.count; ++i) s.gridSignals[i] = s.signals[i];
  } else {
    // A resolution below the finest one would never end the grid count.
    if (!(s.radialResolution >= 0.001f)) {
      data_messages::Box("SET RADIAL RESOLUTION", "setting to minimum 0.001 (all data)");
      s.radialResolution = 0.001f;
    }
    double firstSum = 0, lastSum = 0;
    for (int i = 1; i <= s.count; ++i) {
      firstSum += s.radii[i][1];
      lastSum += s.radii[i][s.points[i]];
    }
    const float meanFirst = static_cast<float>(firstSum / s.count);
    const float meanLast = static_cast<float>(lastSum / s.count);
    const float step = s.radialResolution;
    int n = 1;
    for (float x = meanFirst; x <= meanLast; x += step) ++n;
    s.gridLength = n;
    s.grid = vector(1, n);
    for (int j = 1; j <= n; ++j) s.grid[j] = meanFirst + static_cast<float>(j) * step;
    for (int i = 1; i <= s.count; ++i) {
      s.gridSignals[i] = Zeros(n);
      InterpolateScan(s, i, s.gridSignals[i]);
    }
  }

  const int n = s.gridLength;
  s.meanProfile = Zeros(n);
  s.scanMeans = Zeros(s.count);
  for (int j = 1; j <= n; ++j) {
    double sum = 0;
    for (int i = 1; i <= s.count; ++i) sum += s.gridSignals[i][j];
    s.meanProfile[j] = static_cast<float>(sum / s.count);
  }
  for (int i = 1; i <= s.count; ++i) {
    double sum = 0;
    for (int j = 1; j <= n; ++j) sum += s.gridSignals[i][j];
    s.scanMeans[i] = static_cast<float>(sum / n);
  }
  s.gridWork = Zeros(n);
  s.tiNoise = Zeros(n);
  s.tiNoiseSubtracted = Zeros(n);
  s.riNoise = Zeros(s.count);
  s.riNoiseSubtracted = Zeros(s.count);
  double profile = 0;
  for (int j = 1; j <= n; ++j) profile += s.meanProfile[j];
  s.profileSum = static_cast<float>(s.count * profile);
  s.profileWeight = static_cast<float>(s.count) * static_cast<float>(n);
  s.firstGridPoint = 1;
  s.lastGridPoint = n;

  if (s.leftFitLimit != 0.0f) CheckLeftFitLimit();
  if (s.rightFitLimit != 0.0f) CheckRightFitLimit();
  AllocExtraScanArrays();
}

void EnterLeftFitLimit(float left) {
  ScanSet& s = CurrentScanSet();
  s.leftFitLimit = s.enteredLeftFitLimit = left;
  s.dataChanged = 1;
}

void EnterRightFitLimit(float right) {
  ScanSet& s = CurrentScanSet();
  s.rightFitLimit = s.enteredRightFitLimit = right;
  s.dataChanged = 1;
}

void FitLimitsFromEntries() {
  ScanSet& s = CurrentScanSet();
  auto take = [](float& inUse, float& entered) {
    if (entered != 0.0f)
      inUse = entered;
    else
      entered = inUse;
  };
  take(s.leftFitLimit, s.enteredLeftFitLimit);
  take(s.rightFitLimit, s.enteredRightFitLimit);
}

void SetUnsetFitLimits(float meniscus, float bottom) {
  ScanSet& s = CurrentScanSet();
  if (s.leftFitLimit == 0.0f) {
    s.leftFitLimit = meniscus;
    CheckLeftFitLimit();
  }
  if (s.rightFitLimit == 0.0f) {
    s.rightFitLimit = bottom;
    CheckRightFitLimit();
  }
}

void CheckLeftFitLimit(float meniscusGap) {
  ScanSet& s = CurrentScanSet();
  const LoadTargets& t = CurrentLoadTargets();
  s.dataChanged = 1;
  if (s.count <= 0) return;
  for (int i = 1; i <= s.count; ++i)
    if (s.points[i] > 0 && s.leftFitLimit < s.radii[i][1]) s.leftFitLimit = s.radii[i][1];
  if (!CurrentDataTypeFlags().dls) {
    if (*t.meniscus + meniscusGap > s.leftFitLimit || s.leftFitLimit > *t.bottom)
      s.leftFitLimit = *t.meniscus + std::max(meniscusGap, 0.01f);
  }
  if (s.initialData.points > 0) MakeLeftExtrapolation();
  for (int i = 1; i <= s.count; ++i) {
    for (int k = 1; k <= s.points[i]; ++k) {
      if (s.radii[i][k] >= s.leftFitLimit) {
        s.firstFitPoint[i] = k;
        break;
      }
    }
  }
  if (!HaveGrid(s)) return;
  for (int j = 1; j <= s.gridLength; ++j) {
    if (s.grid[j] >= s.leftFitLimit) {
      s.firstGridPoint = j;
      break;
    }
  }
  for (int j = s.gridLength; j >= 1; --j) {
    if (s.grid[j] <= s.rightFitLimit) {
      s.lastGridPoint = j;
      break;
    }
  }
  ComputeScanMeansOverRange(s);
}

void CheckRightFitLimit() {
  ScanSet& s = CurrentScanSet();
  const LoadTargets& t = CurrentLoadTargets();
  s.dataChanged = 1;
  if (s.count <= 0) return;
  const bool dls = CurrentDataTypeFlags().dls;
  if (!dls) {
    for (int i = 1; i <= s.count; ++i) {
      if (s.points[i] <= 0) continue;
      const float last = s.radii[i][s.points[i]];
      if (last < s.rightFitLimit) {
        if (!Serial()) {
          ErrorBox(Format("possible problem with right limit in file %s\nsetting right limit to %1.3f",
                          s.fileNames[i].c_str(), last)
                       .c_str());
        }
        s.rightFitLimit = last;
      }
    }
    const float m = *t.meniscus, b = *t.bottom, r = s.rightFitLimit;
    if (!(m <= r && s.leftFitLimit <= r && r <= b - 0.01f)) s.rightFitLimit = b - 0.01f;
  }
  if (s.initialData.points > 0) MakeRightExtrapolation();
  for (int i = 1; i <= s.count; ++i) {
    for (int k = s.points[i]; k >= 1; --k) {
      if (s.radii[i][k] <= s.rightFitLimit) {
        s.lastFitPoint[i] = k;
        break;
      }
    }
  }
  if (!HaveGrid(s)) return;
  for (int j = s.gridLength; j >= 1; --j) {
    if (s.grid[j] <= s.rightFitLimit) {
      s.lastGridPoint = j;
      break;
    }
  }
  ComputeScanMeansOverRange(s);
}

void KeepFitLimitsOnTheData() {
  ScanSet& s = CurrentScanSet();
  // Light scattering has no radii, and electrophoresis takes its bottom as
  // the column's length: the limits of both are the model's to set.
  const DataTypeFlags& flags = CurrentDataTypeFlags();
  if (s.count <= 0 || flags.dls || flags.electrophoresis) return;
  if (s.leftFitLimit == 0.0f || s.rightFitLimit == 0.0f) return;
  float firstMost = 0, lastLeast = 0, firstLeast = 0, lastMost = 0;
  bool any = false, inside = false;
  for (int i = 1; i <= s.count; ++i) {
    if (s.points[i] <= 0) continue;
    const float a = s.radii[i][1], b = s.radii[i][s.points[i]];
    if (!any) {
      firstMost = firstLeast = a;
      lastMost = lastLeast = b;
      any = true;
    }
    firstMost = std::max(firstMost, a);
    firstLeast = std::min(firstLeast, a);
    lastLeast = std::min(lastLeast, b);
    lastMost = std::max(lastMost, b);
    for (int k = 1; k <= s.points[i] && !inside; ++k)
      inside = s.radii[i][k] >= s.leftFitLimit && s.radii[i][k] <= s.rightFitLimit;
  }
  if (!any || (inside && s.leftFitLimit < s.rightFitLimit)) return;
  // Limits left from other data (or by a meniscus and bottom that belong to
  // them) would fit nothing: the radii all scans share take their place.
  float left = firstMost, right = lastLeast;
  if (!(left < right)) {
    left = firstLeast;
    right = lastMost;
  }
  if (!Serial()) {
    ErrorBox(Format("the fit limits %1.3f - %1.3f hold none of the loaded data\nsetting them to %1.3f - %1.3f",
                    static_cast<double>(s.leftFitLimit), static_cast<double>(s.rightFitLimit),
                    static_cast<double>(left), static_cast<double>(right))
                 .c_str());
  }
  s.leftFitLimit = left;
  s.rightFitLimit = right;
  s.dataChanged = 1;
  for (int i = 1; i <= s.count; ++i) {
    for (int k = 1; k <= s.points[i]; ++k)
      if (s.radii[i][k] >= left) {
        s.firstFitPoint[i] = k;
        break;
      }
    for (int k = s.points[i]; k >= 1; --k)
      if (s.radii[i][k] <= right) {
        s.lastFitPoint[i] = k;
        break;
      }
  }
  if (!HaveGrid(s)) return;
  for (int j = 1; j <= s.gridLength; ++j)
    if (s.grid[j] >= left) {
      s.firstGridPoint = j;
      break;
    }
  for (int j = s.gridLength; j >= 1; --j)
    if (s.grid[j] <= right) {
      s.lastGridPoint = j;
      break;
    }
  ComputeScanMeansOverRange(s);
}

namespace {

// Segment means of `segments` runs of `per` points each, walking from
// `start` in direction `dir` (+1 or -1); polynomial through them at each
// target point, raised to the baseline. False (said, nothing changed) when
// no polynomial can be made.
bool PolynomialFill(InitialDataScan& d, int start, int dir, int m, int first, int last) {
  const LoadTargets& t = CurrentLoadTargets();
  const int segments = std::max(d.polynomialOrder, 0) + 1;
  const int per = m / segments;
  if (per < 1) {
    data_messages::Box("ERROR", "too few points for the extrapolation of the initial data");
    return false;
  }
  FloatVec xs(1, segments), ys(1, segments);
  int k = start;
  for (int seg = 1; seg <= segments; ++seg) {
    double sx = 0, sy = 0;
    for (int p = 0; p < per; ++p, k += dir) {
      sx += d.radii[k];
      sy += d.signals[k];
    }
    xs[seg] = static_cast<float>(sx / per);
    ys[seg] = static_cast<float>(sy / per);
  }
  if (dir < 0) {  // Neville wants the abscissae in any order, but keep them ascending
    std::reverse(xs.get() + 1, xs.get() + segments + 1);
    std::reverse(ys.get() + 1, ys.get() + segments + 1);
  }
  // Segments at one radius (scans that repeat a radius) give no polynomial:
  // said before any value is changed.
  for (int a = 1; a <= segments; ++a)
    for (int b = a + 1; b <= segments; ++b)
      if (xs[a] == xs[b]) {
        data_messages::Box("ERROR", "the initial data repeat their radii: no polynomial for the extrapolation");
        return false;
      }
  for (int i = first; i <= last; ++i) {
    float y = 0, dy = 0;
    polint(xs, ys, segments, d.radii[i], &y, &dy);
    d.signals[i] = std::max(y, *t.baseline);
  }
  return true;
}

bool RefuseIntensity() {
  if (!CurrentDataTypeFlags().intensity) return false;
  data_messages::InfoSound();
  data_messages::Box("ERROR", "initial extrapolation not implemented yet!");
  return true;
}

}  // namespace

void MakeLeftExtrapolation() {
  ScanSet& s = CurrentScanSet();
  const LoadTargets& t = CurrentLoadTargets();
  InitialDataScan& d = s.initialData;
  const float meniscus = *t.meniscus, left = s.leftFitLimit;
  if (!(meniscus < left) || !*t.experimentalInitialDistribution) return;
  if (RefuseIntensity()) return;
  if (d.points <= 0) return;
  int i0 = 1;
  while (i0 < d.points && d.radii[i0] < meniscus) ++i0;
  while (i0 < d.points && d.radii[i0] < left) ++i0;
  const float reach = left + (left - meniscus) * d.extrapolationDistance;
  int m = 0;
  for (int k = i0; k <= d.points && d.radii[k] < reach; ++k) ++m;
  if (!PolynomialFill(d, i0, +1, m, 1, i0)) return;
  for (int k = i0 - 1; k >= 1; --k)
    if (d.signals[k] > d.signals[k + 1]) d.signals[k] = d.signals[k + 1];
}

void MakeRightExtrapolation() {
  ScanSet& s = CurrentScanSet();
  const LoadTargets& t = CurrentLoadTargets();
  InitialDataScan& d = s.initialData;
  const float bottom = *t.bottom, right = s.rightFitLimit;
  if (!*t.experimentalInitialDistribution || !(right < bottom)) return;
  if (RefuseIntensity()) return;
  if (d.points <= 0) return;
  int i1 = d.points;
  while (i1 > 1 && d.radii[i1] > bottom) --i1;
  while (i1 > 1 && d.radii[i1] > right) --i1;
  const float reach = right - (bottom - right) * 3.0f;
  int m = 0;
  for (int k = i1; k >= 1 && d.radii[k] > reach; --k) ++m;
  PolynomialFill(d, i1, -1, m, i1, d.points);
}

void FreeExtrapolationArrays() { FreeInitialDataScan(CurrentScanSet()); }

void AllocExtraScanArrays() {
  ScanSet& s = CurrentScanSet();
  FreeExtraScanArrays();
  const LoadTargets& t = CurrentLoadTargets();
  if (s.count <= 0 || s.gridLength <= 0) return;
  bool any = false;
  for (int k = 1; k <= 4; ++k) {
    if (!*t.speciesArrays[k]) continue;
    any = true;
    SpeciesScanArrays& sp = s.species[k];
    sp.onGridPerScan.assign(static_cast<std::size_t>(s.count) + 1, nullptr);
    for (int i = 1; i <= s.count; ++i) sp.onGridPerScan[i] = Zeros(s.gridLength);
    sp.onGrid = Zeros(s.gridLength);
    sp.perScan = Zeros(s.count);
  }
  if (any) {
    s.speciesScanCount = s.count;
    s.speciesGridLength = s.gridLength;
  }
}

void FreeExtraScanArrays() { FreeSpeciesScanArrays(CurrentScanSet()); }

bool AlignInterferenceOffsetsAtRadius(float shift, float radius) {
  ScanSet& s = CurrentScanSet();
  if (s.count <= 0) return false;
  auto pointAt = [&](int i) {
    for (int k = 1; k <= s.points[i]; ++k)
      if (s.radii[i][k] >= radius) return k;
    return 0;
  };
  const int earliest = s.order[1];
  const int k0 = pointAt(earliest);
  if (k0 == 0 || radius < s.radii[earliest][1]) {
    data_messages::Box("ERROR", Format("radius %f lies outside the scans", radius));
    return false;
  }
  const float reference = s.signals[earliest][k0];
  for (int pos = 2; pos <= s.count; ++pos) {
    const int i = s.order[pos];
    const int k = pointAt(i);
    if (k == 0) continue;
    const float d = s.signals[i][k] - reference;
    float offset = 0.0f;
    if (d > 0.5f) offset = std::floor(d + 0.5f);
    if (d < -0.5f) offset = -std::floor(-d + 0.5f);
    if (offset == 0.0f) continue;
    for (int p = 1; p <= s.points[i]; ++p) s.signals[i][p] -= offset;
    RefreshGridCopy(i);
  }
  if (shift != 0.0f) {
    for (int i = 1; i <= s.count; ++i) {
      for (int p = 1; p <= s.points[i]; ++p) s.signals[i][p] += shift;
      RefreshGridCopy(i);
    }
  }
  CurrentLoadHooks().computeTINoiseProfile();
  CurrentLoadHooks().redrawDataPlot(true);
  return true;
}

void DetectFringeJumps(float threshold, std::uint8_t useResiduals) {
  ScanSet& s = CurrentScanSet();
  if (s.count <= 0 || s.leftFitLimit == 0.0f || s.rightFitLimit == 0.0f) return;
  // Below half a fringe a point could flip between two values for ever.
  if (!(threshold >= 0.5f)) return;
  for (int i = 1; i <= s.count; ++i) {
    const int first = s.firstFitPoint[i], last = std::min(s.lastFitPoint[i], s.points[i]);
    if (first < 1 || last < first) continue;
    float* sig = s.signals[i];
    float* res = s.residuals[i];
    const int n = s.points[i];
    bool changed = false;
    for (int j = first + 3; j <= last; ++j) {
      for (;;) {
        float step;
        if (useResiduals && res) {
          const float m = (res[j - 1] + res[j - 2] + res[j - 3]) / 3.0f;
          const float diff = res[j] - m;
          if (!(std::fabs(diff) > threshold) || !std::isfinite(diff)) break;
          step = res[j] <= m ? -1.0f : 1.0f;
          for (int p = j; p <= n; ++p) {
            sig[p] -= step;
            res[p] -= step;
          }
        } else {
          const float diff = sig[j] - sig[j - 1];
          if (!(std::fabs(diff) > threshold) || !std::isfinite(diff)) break;
          step = sig[j] <= sig[j - 1] ? -1.0f : 1.0f;
          for (int p = j; p <= n; ++p) sig[p] -= step;
        }
        changed = true;
      }
    }
    if (changed) RefreshGridCopy(i);
  }
  CurrentLoadHooks().computeTINoiseProfile();
}

bool RemoveJitter(float rmin, float rmax) {
  ScanSet& s = CurrentScanSet();
  if (!HaveGrid(s) || !CurrentDataTypeFlags().interference || !s.riNoise) return false;
  int i0 = s.gridLength + 1, i1 = s.gridLength + 1;
  for (int j = 1; j <= s.gridLength; ++j) {
    if (s.grid[j] >= rmin) {
      i0 = j;
      break;
    }
  }
  for (int j = 1; j <= s.gridLength; ++j) {
    if (s.grid[j] >= rmax) {
      i1 = j;
      break;
    }
  }
  const int k = i1 - i0;
  if (k <= 0) {
    data_messages::Box("ERROR", "no data points between the two radii");
    return false;
  }
  auto rangeMean = [&](int i) {
    double sum = 0;
    for (int j = i0; j < i1; ++j) sum += s.gridSignals[i][j];
    return static_cast<float>(sum / k);
  };
  const int earliest = s.order[1];
  const float reference = rangeMean(earliest);
  s.riNoise[earliest] = 0.0f;
  for (int pos = 2; pos <= s.count; ++pos) {
    const int i = s.order[pos];
    const float o = rangeMean(i) - reference;
    s.riNoise[i] = o;
    for (int p = 1; p <= s.points[i]; ++p) s.signals[i][p] -= o;
    if (s.gridOwned)
      for (int j = 1; j <= s.gridLength; ++j) s.gridSignals[i][j] -= o;
  }
  CurrentLoadHooks().redrawDataPlot(true);
  return true;
}
