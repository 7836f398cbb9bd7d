#pragma once
// The data layer's program-wide records as a fresh process has them: no
// scans and no file list, no folder or analysis paths of an earlier set, no
// data-kind switches or signal corrections, and the load hooks and targets
// at their stand-ins.
// Fixtures call it before each test so that a test run after others in one
// process starts where it would start alone.
#include "data/fluorescence_corrections.h"
#include "data/load_hooks.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "data/wiener_skew.h"

namespace teststate {

inline void ResetDataState() {
  // The hooks may still reach into a window an earlier test destroyed, and
  // freeing the scans calls them: the stand-ins go in first.
  ResetLoadHooks();
  ResetLoadTargets();
  FreeScanData();
  FreeFileNameList();
  ScanSet& s = CurrentScanSet();
  FreeScanGridArrays(s);
  FreeSpeciesScanArrays(s);
  FreeInitialDataScan(s);
  s = ScanSet{};
  CurrentDataPaths() = LoadedDataPaths{};
  CurrentDataTypeFlags() = DataTypeFlags{};
  CurrentWienerSkew() = WienerSkewSettings{};
  // Fluorescence signal corrections: a fitted convolution width left on
  // adds a parameter to every later fit.
  FreeNonlinearDetectionTables();
  CurrentFdsSignalParams() = FdsSignalParams{};
}

// Fit limits [left, right] on every scan; the common grid's fit range is
// the first scan's.
inline void SetFitLimits(float left, float right) {
  ScanSet& ss = CurrentScanSet();
  ss.leftFitLimit = left;
  ss.rightFitLimit = right;
  for (int j = 1; j <= ss.count; ++j) {
    int first = 1, last = ss.points[j];
    while (ss.radii[j][first] < ss.leftFitLimit) ++first;
    while (ss.radii[j][last] > ss.rightFitLimit) --last;
    ss.firstFitPoint[j] = first;
    ss.lastFitPoint[j] = last;
  }
  ss.firstGridPoint = ss.firstFitPoint[1];
  ss.lastGridPoint = ss.lastFitPoint[1];
}

}  // namespace teststate
