#pragma once
// A cheap summary of the loaded sedimentation-velocity scans, so that an
// object holding results computed from them notices when they are replaced:
// the scan count, each scan's point count, one sampled value per scan and
// the key header fields of the reference scan.
#include "data/scan_set.h"

class CSVDataFingerPrint {
 public:
  CSVDataFingerPrint() = default;
  ~CSVDataFingerPrint();
  CSVDataFingerPrint(const CSVDataFingerPrint&) = delete;
  CSVDataFingerPrint& operator=(const CSVDataFingerPrint&) = delete;

  // records, points and values are indexed by scan number 1..n; values[k]
  // is scan k's one-based array, sampled at the middle of the longest scan.
  void Record(int n, const ScanRecord* records, const int* points, float** values);
  // False at the first difference; null points or values skip that test.
  bool Matches(int n, const ScanRecord* records, const int* points, float** values) const;

  int count = 0;
  int referenceScan = 1;
  ScanRecord reference;
  int* points = nullptr;
  int sampleIndex = 1;
  float* values = nullptr;

 private:
  void Release();
  // The sampled point of scan k: sampleIndex, or the scan's last point
  // when it is shorter.
  int SampleIndexOf(int pointCount) const;
};
