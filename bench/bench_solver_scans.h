#pragma once
// The scan set the global-array solver benchmarks run on: 50 scans of 600
// points from 6.0 to 7.2 cm at 50000 rpm, one every 300 s, fit limits
// 6.05 and 7.1 cm.
#include "data/scan_set.h"
#include "numerics/arrays.h"

namespace bench {

inline void LoadSolverBenchScans() {
  ScanSet& ss = CurrentScanSet();
  const int scans = 50, points = 600;
  FreeScanSetArrays(ss);
  ss = ScanSet{};
  AllocateScanTables(ss, scans);
  for (int j = 1; j <= scans; ++j) {
    ss.radii[j] = vector(1, points);
    ss.signals[j] = vector(1, points);
    ss.model[j] = vector(1, points);
    for (int p = 1; p <= points; ++p) ss.radii[j][p] = 6.0f + 1.2f * (p - 1) / (points - 1);
    ss.points[j] = points;
    ss.order[j] = j;
    ss.records[j].rpm = 50000;
    ss.records[j].temperature = 20;
    ss.records[j].time = ss.records[j].timeRead = 300.0 * j;
  }
  ss.leftFitLimit = 6.05f;
  ss.rightFitLimit = 7.1f;
}

}  // namespace bench
