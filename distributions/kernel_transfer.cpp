#include "distributions/kernel_transfer.h"

#include <cmath>
#include <vector>

#include "data/scan_set.h"
#include "distributions/work_blocks.h"
#include "lamm/lamm_settings.h"
#include "numerics/regrid.h"

namespace {

struct Destination {
  const float* radii = nullptr;
  int count = 0;
  float* row = nullptr;
};

bool Target(int k, Destination& d) {
  const ScanSet& s = CurrentScanSet();
  const DistributionWorkBlock& w = WorkBlock();
  const int scan = KernelTransferScan();
  if (!w.lammSolutions || k < 1 || k > w.gridPoints || scan < 1 || scan > w.scans) return false;
  if (KernelTransferSynthetic()) {
    if (s.count < 1) return false;
    d.radii = s.radii[1];
    d.count = std::min(s.points[1], w.gridLength);
  } else {
    d.radii = s.grid;
    d.count = std::min(s.gridLength, w.gridLength);
  }
  d.row = w.lammSolutions[k][scan];
  return d.radii && d.count > 0;
}

// Transmittance average over the window (absorbance data only).
void WindowAverage(int n, float width, const float* r, float* y) {
  std::vector<double> t(static_cast<size_t>(n) + 1);
  for (int i = 1; i <= n; ++i) t[i] = std::pow(10.0, -static_cast<double>(y[i]));
  int lo = 1, hi = 1, count = 0;
  double sum = 0.0;
  for (int i = 1; i <= n; ++i) {
    while (hi <= n && r[hi] <= r[i] + width / 2) sum += t[hi++], ++count;
    while (lo < hi && r[lo] < r[i] - width / 2) sum -= t[lo++], --count;
    const double mean = count > 0 ? sum / count : 0.0;
    y[i] = mean > 0.0 ? static_cast<float>(-std::log10(mean)) : 0.0f;
  }
}

}  // namespace

int& KernelTransferScan() {
  static int scan = 1;
  return scan;
}

bool& KernelTransferSynthetic() {
  static bool on = false;
  return on;
}

void StoreGridPointSolution(int k, const double* radii, const double* values, int nSource) {
  Destination d;
  if (!Target(k, d)) return;
  InterpolateOntoGridD(d.count, d.radii, d.row, nSource, radii, values);
  const LammSolverSettings& ls = LammSettings();
  const DataTypeFlags& f = CurrentDataTypeFlags();
  if (ls.simulateRadialResolution && f.absorbance && !f.interference)
    WindowAverage(d.count, ls.convolutionRange, d.radii, d.row);
}

void StoreGridPointSolutionF(int k, const double* radii, const float* values, int nSource) {
  Destination d;
  if (!Target(k, d)) return;
  std::vector<double> v(static_cast<size_t>(nSource) + 1, 0.0);
  for (int i = 1; i <= nSource; ++i) v[i] = values[i];
  InterpolateOntoGridD(d.count, d.radii, d.row, nSource, radii, v.data());
}
