#pragma once
// DLS sets in the scan set without files: x = log10 tau, y as given, one
// header record per set (n 1.333, 90 degrees, 633 nm, 20 degC unless set).
#include <cmath>
#include <vector>

#include "data/scan_grid.h"
#include "data/scan_set.h"
#include "fit_test_support.h"

namespace dlstest {

inline DlsHeaderRecord Record(double time = 0.0, bool field = true) {
  DlsHeaderRecord r;
  r.temperature = 20.0f;
  r.time = time;
  r.refractiveIndex = 1.333f;
  r.viscosity = 0.01002f;
  r.angle = 90.0f;
  r.wavelength = 633e-9f;
  r.fieldFlag = field ? 1 : 0;
  return r;
}

// n lag times log-spaced from tau0 to tau1 (s), as log10 values.
inline std::vector<float> LogLags(int n, double tau0, double tau1) {
  std::vector<float> x(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i)
    x[static_cast<size_t>(i)] =
        static_cast<float>(std::log10(tau0) + (std::log10(tau1) - std::log10(tau0)) * i / (n - 1));
  return x;
}

// Sets with the given lag times and values; records[i] belongs to set i + 1.
inline void LoadSets(const std::vector<std::vector<float>>& x, const std::vector<std::vector<float>>& y,
                     const std::vector<DlsHeaderRecord>& records) {
  fittest::LoadScans(x, y);
  ScanSet& ss = CurrentScanSet();
  CurrentDataTypeFlags().dls = 1;
  CurrentDataTypeFlags().absorbance = 0;
  ss.dlsRecords.assign(records.size() + 1, DlsHeaderRecord{});
  for (size_t i = 0; i < records.size(); ++i) {
    ss.dlsRecords[i + 1] = records[i];
    ss.dlsRecords[i + 1].points = static_cast<int>(x[i].size());
    ss.records[i + 1].time = ss.records[i + 1].timeRead = records[i].time;
    ss.records[i + 1].temperature = records[i].temperature;
  }
  ss.leftFitLimit = x[0].front();
  ss.rightFitLimit = x[0].back();
  gModelParams.meniscus = ss.leftFitLimit;
  gModelParams.bottom = ss.rightFitLimit;
  PrepareScanGrid();
  ss.firstGridPoint = 1;
  ss.lastGridPoint = ss.gridLength;
}

inline void Unload() {
  fittest::ClearScans();
  CurrentScanSet().dlsRecords.clear();
  CurrentDataTypeFlags().dls = 0;
}

}  // namespace dlstest
