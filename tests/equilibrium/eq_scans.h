#pragma once
// Equilibrium scans put straight into the scan set: one record per scan
// (cell, wavelength, speed, time, file name) on shared radii.
#include <string>
#include <vector>

#include "data/scan_grid.h"
#include "data/scan_set.h"
#include "fit/model_params.h"
#include "numerics/arrays.h"

namespace eqtest {

struct Scan {
  std::vector<float> r, y;
  float rpm = 15000, temperature = 20, wavelength = 280;
  int cell = 1;
  double time = 0;
  std::string file = "00001.RA1";
  std::vector<float> third;  // reference intensities, when given
};

// A scan of n points from 6.9 cm by step whose signal is the straight line
// level + slope (r - 7).
inline Scan LineScan(int cell, float wavelength, float rpm, double time, const std::string& file, double level,
                     int n, double step, double slope) {
  Scan s;
  s.cell = cell;
  s.wavelength = wavelength;
  s.rpm = rpm;
  s.time = time;
  s.file = file;
  for (int i = 0; i < n; ++i) {
    s.r.push_back(static_cast<float>(6.9 + step * i));
    s.y.push_back(static_cast<float>(level + slope * (s.r.back() - 7.0)));
  }
  return s;
}

inline void Clear() {
  ScanSet& ss = CurrentScanSet();
  FreeSpeciesScanArrays(ss);
  FreeScanGridArrays(ss);
  FreeScanSetArrays(ss);
  ss = ScanSet{};
}

inline float* Copy(const std::vector<float>& v) {
  float* a = vector(1, static_cast<long>(v.size()));
  for (size_t i = 0; i < v.size(); ++i) a[i + 1] = v[i];
  return a;
}

// Loads the scans; with a cell (meniscus < bottom) also the fit limits and
// the common grid. Absorbance data get a grid of their own at the radial
// resolution, onto which every scan is interpolated; other data share the
// radii of the first scan.
inline void Load(const std::vector<Scan>& scans, float meniscus = 0, float bottom = 0, float left = 0,
                 float right = 0, bool absorbance = false) {
  Clear();
  CurrentDataTypeFlags() = DataTypeFlags{};
  CurrentDataTypeFlags().absorbance = absorbance ? 1 : 0;
  ScanSet& ss = CurrentScanSet();
  const int n = static_cast<int>(scans.size());
  AllocateScanTables(ss, n);
  for (int k = 1; k <= n; ++k) {
    const Scan& s = scans[k - 1];
    const int np = static_cast<int>(s.r.size());
    ss.radii[k] = Copy(s.r);
    ss.signals[k] = Copy(s.y);
    ss.model[k] = Copy(std::vector<float>(s.r.size(), 0.0f));
    if (!s.third.empty()) {
      if (ss.signals2.size() <= static_cast<size_t>(k)) ss.signals2.resize(n + 1, nullptr);
      ss.signals2[k] = Copy(s.third);
    }
    ss.points[k] = np;
    ss.order[k] = k;
    ss.firstFitPoint[k] = 1;
    ss.lastFitPoint[k] = np;
    ss.fileNames[k] = s.file;
    ScanRecord& rec = ss.records[k];
    rec.rpm = s.rpm;
    rec.temperature = s.temperature;
    rec.wavelength = s.wavelength;
    rec.cell = s.cell;
    rec.time = rec.timeRead = rec.timeOriginal = s.time;
    rec.points = np;
    rec.type = 'R';
  }
  if (bottom > meniscus) {
    gModelParams.meniscus = gModelParameterVector.P[13] = meniscus;
    gModelParams.bottom = gModelParameterVector.P[14] = bottom;
    PrepareScanGrid();
    ss.leftFitLimit = left;
    ss.rightFitLimit = right;
    CheckLeftFitLimit();
    CheckRightFitLimit();
    // The limits as the test names them, free of float rounding at the ends.
    ss.leftFitLimit = left;
    ss.rightFitLimit = right;
    ss.firstGridPoint = 1;
    while (ss.grid[ss.firstGridPoint] < left - 1e-5f) ++ss.firstGridPoint;
    ss.lastGridPoint = ss.gridLength;
    while (ss.grid[ss.lastGridPoint] > right + 1e-5f) --ss.lastGridPoint;
    for (int k = 1; k <= n; ++k) {
      int& a = ss.firstFitPoint[k];
      int& b = ss.lastFitPoint[k];
      while (a < ss.points[k] && ss.radii[k][a] < left - 1e-5f) ++a;
      while (b > a && ss.radii[k][b] > right + 1e-5f) --b;
    }
  }
}

}  // namespace eqtest
