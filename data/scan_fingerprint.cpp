#include "data/scan_fingerprint.h"

#include <cmath>

#include "numerics/arrays.h"

CSVDataFingerPrint::~CSVDataFingerPrint() { Release(); }

void CSVDataFingerPrint::Release() {
  if (points) free_ivector(points, 1, count);
  if (values) free_vector(values, 1, count);
  points = nullptr;
  values = nullptr;
}

int CSVDataFingerPrint::SampleIndexOf(int pointCount) const {
  return pointCount < sampleIndex ? pointCount : sampleIndex;
}

void CSVDataFingerPrint::Record(int n, const ScanRecord* records, const int* pts, float** vals) {
  Release();
  count = n > 0 ? n : 0;
  sampleIndex = 1;
  if (count == 0) return;
  points = ivector(1, count);
  values = vector(1, count);
  int largest = 0;
  for (int k = 1; k <= count; ++k) {
    points[k] = pts ? pts[k] : 0;
    if (points[k] > largest) largest = points[k];
  }
  sampleIndex = static_cast<int>(std::floor(0.5 * largest));
  if (sampleIndex < 1) sampleIndex = 1;
  for (int k = 1; k <= count; ++k) {
    const int i = SampleIndexOf(points[k]);
    values[k] = (vals && vals[k] && i >= 1) ? vals[k][i] : 0.0f;
  }
  if (records) {
    const ScanRecord& r = records[referenceScan];
    reference.type = r.type;
    reference.cell = r.cell;
    reference.temperature = r.temperature;
    reference.rpm = r.rpm;
    reference.timeRead = r.timeRead;
    reference.wavelength = r.wavelength;
    reference.time = r.time;
  }
}

bool CSVDataFingerPrint::Matches(int n, const ScanRecord* records, const int* pts,
                                 float** vals) const {
  if (count == 0 || n != count) return false;
  if (pts)
    for (int k = 1; k <= count; ++k)
      if (pts[k] != points[k]) return false;
  if (vals)
    for (int k = 1; k <= count; ++k) {
      // Points were compared above when given; the recorded counts bound
      // the index otherwise.
      const int i = SampleIndexOf(pts ? pts[k] : points[k]);
      const float v = (vals[k] && i >= 1) ? vals[k][i] : 0.0f;
      if (std::fabs(static_cast<double>(values[k]) - v) > 1e-6) return false;
    }
  if (!records) return true;
  const ScanRecord& r = records[referenceScan];
  if (r.type != reference.type || r.cell != reference.cell) return false;
  return r.temperature == reference.temperature && r.rpm == reference.rpm &&
         r.timeRead == reference.timeRead && r.wavelength == reference.wavelength &&
         r.time == reference.time;
}
