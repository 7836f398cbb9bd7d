#pragma once
// The header of one loaded DLS data set. In memory a DLS set lives in the
// scan set like a scan: x = log10 of the lag time tau (s), y = the field
// autocorrelation g(1) while fieldFlag is 1, else the intensity
// autocorrelation g(2) - 1.
#include <cstdint>

struct DlsHeaderRecord {
  char description[100] = {};  // first line of the dlsdat file, NUL-terminated
  float temperature = 0;       // degC
  double time = 0;             // s, time of the measurement; orders the sets
  float countRate = 0;         // counts per second (mean scattering intensity)
  float refractiveIndex = 0;   // of the solvent
  float viscosity = 0;         // of the solvent, poise
  float angle = 0;             // scattering angle, degrees
  float wavelength = 0;        // laser wavelength, m
  int32_t points = 0;          // number of lag times
  uint8_t fieldFlag = 0;       // 1: values are g(1); 0: g(2) - 1
};
