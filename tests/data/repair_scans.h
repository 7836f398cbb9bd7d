#pragma once
// An interference data set built in memory for the repair tests: scans on
// one radial grid (so the common grid is the first scan's own radii), with
// signals and residuals from the caller's functions, in time order.
#include <cstdio>
#include <functional>

#include "data/scan_grid.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "numerics/arrays.h"

namespace repair_test {

// scan is 1-based; r in cm.
using ScanFunction = std::function<double(int scan, double r)>;

inline void MakeInterferenceSet(int scans, double r0, double step, int points, const ScanFunction& signal,
                                const ScanFunction& residual = {}) {
  FreeScanData();
  CurrentDataTypeFlags() = DataTypeFlags{};
  CurrentDataTypeFlags().interference = 1;
  ScanSet& s = CurrentScanSet();
  AllocateScanTables(s, scans);
  for (int i = 1; i <= scans; ++i) {
    s.points[i] = points;
    s.radii[i] = vector(1, points);
    s.signals[i] = vector(1, points);
    if (residual) s.residuals[i] = vector(1, points);
    for (int j = 1; j <= points; ++j) {
      const double r = r0 + step * (j - 1);
      s.radii[i][j] = static_cast<float>(r);
      s.signals[i][j] = static_cast<float>(signal(i, s.radii[i][j]));
      if (residual) s.residuals[i][j] = static_cast<float>(residual(i, s.radii[i][j]));
    }
    s.records[i].type = 'P';
    s.records[i].time = 100.0 * i;
    s.order[i] = i;
    char name[32];
    std::snprintf(name, sizeof name, "%05d.IP1", i);
    s.fileNames[i] = name;
  }
  PrepareScanGrid();
}

}  // namespace repair_test
