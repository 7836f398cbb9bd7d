#pragma once
// The program's own DLS text format, one measurement per file:
//   line 1  description
//   line 2  "A T time countrate n eta angle lambda" (degC, s, cps, -, poise,
//           degrees, m); the letter C instead of A says that column 2 holds
//           g(2) rather than g(2) - 1
//   rows    "tau value" (s, g(2) - 1)
// and the two conversions between g(2) - 1 and the field autocorrelation
// g(1) = sign(g2m1) sqrt(|g2m1|) (Siegert relation, coherence factor 1).
#include <cstddef>
#include <string>

#include "data/dls_header.h"

class CCurve;

// How the x values of a curve are written: LagTimes as they are (the
// instrument readers hold plain tau in s), Log10LagTimes as 10^x (loaded sets).
enum class DlsXForm { LagTimes, Log10LagTimes };

// The seven header values of a dlsdat file.
struct DlsConditions {
  float temperature = 20.0f;  // degC
  double time = 0;            // s; written as whole seconds
  float countRate = 1.0f;     // cps
  float refractiveIndex = 1.333f;
  float viscosity = 0.01002f;  // poise
  float angle = 90.0f;         // degrees
  float wavelength = 0;        // m
};

// Empty when the conditions can describe a measurement, else why not
// (a wavelength, refractive index or viscosity <= 0, an angle outside
// (0, 180], a value that is not finite).
std::string CheckDlsConditions(const DlsConditions& c);
DlsConditions ConditionsOf(const DlsHeaderRecord& r);

// Empty when a row of lag time tau (s) and value y can be written so that
// the loader reads it back (both finite in single precision, tau above 0),
// else why not, naming the 1-based row.
std::string CheckDlsdatRow(std::size_t row, double tau, double y);

// Writes one file; a row that CheckDlsdatRow refuses is reported with the
// error box and nothing is written. Values above 1 are written and then reported with the
// error box ("please check DLSDAT format - should be g(2)-1"); an unopenable
// file is reported as "Attention: could not open %s", one that cannot be
// written whole (a full disk) as "Attention: could not write %s". The file
// goes into place whole or not at all: false, and an earlier file of that
// name left as it was, when not everything could be written.
bool WriteDlsdatFile(const std::string& path, const CCurve& curve, DlsXForm xForm,
                     const std::string& description, const DlsConditions& c);
// The same for one-based arrays x[1..n], y[1..n].
bool WriteDlsdatArrays(const std::string& path, int n, const float* x, const float* y, DlsXForm xForm,
                       const std::string& description, const DlsConditions& c);
// A loaded set (x = log10 tau) with the header values of record r; the
// description is r's when none is given.
bool WriteDlsdatSet(const std::string& path, int n, const float* x, const float* y, const char* description,
                    const DlsHeaderRecord& r);

// Reads a dlsdat file for loading: every complete row, x = log10 tau,
// y = g(2) - 1, or g(1) unless keepG2 is set (fieldFlag tells which).
// *x and *y become one-based arrays from vector(1, n) that the caller frees.
// Returns 1, or 0 with *reason saying why (nothing is allocated then).
int ReadDlsdatForLoad(const std::string& path, DlsHeaderRecord* header, int* points, float** x, float** y,
                      bool keepG2, std::string* reason = nullptr);

// In place on y[1..n]; 1 when converted, 0 when r.fieldFlag was already in
// the target state.
int ConvertG2ToG1(int n, float* y, DlsHeaderRecord& r);
int ConvertG1ToG2(int n, float* y, DlsHeaderRecord& r);
