#pragma once
// The instrument's scan files: line 1 a free description, line 2 the header
// "type cell temperature rpm time w2t wavelength count", then one row per
// radial point (radius in cm, signal, optional third value).
#include <cstdint>
#include <string>

#include "data/scan_set.h"

class CCurve;

// Reads one scan file. On success returns 1 and hands over new one-based
// arrays (vector(1, n)) in radiiOut, signalsOut and, when the third column
// is kept, *thirdOut (else *thirdOut = null); record and pointsOut are
// filled and markOut (optional) receives the time-stamp mark. binWidth > 0
// (cm) averages the rows within each bin. Sets the data-kind switches of
// CurrentDataTypeFlags(). Returns 0 without a message for a missing
// argument, an unreadable or empty file, an unknown type letter, a header
// with missing or non-finite values, non-finite data, or no data row; the
// output arguments are then left as they were.
int ReadScanFile(const char* path, ScanRecord* record, int* pointsOut, float** radiiOut,
                 float** signalsOut, float** thirdOut, uint8_t* markOut, float binWidth);
// Why the last ReadScanFile of this thread returned 0 ("line 2: expected
// ..."); empty after a success.
const std::string& ScanReadProblem();

// The path of an existing file for path: path itself when something of that
// name exists, else the one file in its folder whose name differs from it
// only in letter case (the instrument's software writes "00001.RA1" and
// "00001.ra1" alike and never tells them apart); path when there is none.
std::string FindFileIgnoringCase(const std::string& path);

// Header values as written on line 2, with the file times to put back.
struct ScanFileHeader {
  char type = 'R';
  int cell = 0;
  float temperature = 0;
  long rpm = 0;
  long time = 0;
  double w2t = 0;
  float wavelength = 0;  // written as a whole number except for wavelength scans
  int headerCount = 0;
  double creationTime = 0, lastAccessTime = 0, lastWriteTime = 0;
  int fileTimesValid = 0;
};

// Writes n points (one-based radii, signals and optional sd). description
// may be null (the record's is used); markTimeOk asks for the "[T OK]"
// mark. Wavelength scans ('W', 'V') keep their radius-valued wavelength to
// three decimals. Returns true when the whole file was written; a failure
// is reported to the user ("Attention: could not open %s" or "could not
// write") and returned as false.
bool WriteScanFile(const char* path, int n, float* radii, float* signals, const float* sd,
                   const char* description, uint8_t markTimeOk, const ScanRecord& record);
bool WriteScanFileStd(const char* path, int n, float* radii, float* signals, const float* sd,
                      const char* description, const ScanFileHeader& header);
bool WriteScanFileWavelength(const char* path, int n, float* radii, float* signals,
                             const float* sd, const char* description,
                             const ScanFileHeader& header);
// sd, when given, is one-based like the arrays behind the curve's views.
bool WriteScanCurveStd(const char* path, const CCurve& curve, const float* sd,
                       const char* description, const ScanFileHeader& header);
bool WriteScanCurveWavelength(const char* path, const CCurve& curve, const float* sd,
                              const char* description, const ScanFileHeader& header);

// Estimated duration of the acceleration phase (s) from the elapsed time t
// (s) and w2t (rad^2/s) at a constant final speed rpm:
//   t_acc = 1.5 / rpm^2 (rpm^2 t - w2t (30/pi)^2),
// exact for a linear ramp; and the acceleration rpm / t_acc (rpm/s), 1e6
// for a non-positive t_acc.
double EstimateAccelerationTime(float rpm, double time, double w2t);
double EstimateAcceleration(float rpm, double accelerationTime);
