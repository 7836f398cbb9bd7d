#pragma once
// A scratch folder per test and small file helpers for the loading tests.
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/file_text.h"
#include "tests/support/temp_folder.h"

namespace loading_test {

using teststate::TempFolder;

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

inline std::string ReadText(const std::string& path) { return teststate::FileText(path); }

// A scan file written as the instrument writes it.
struct SyntheticScan {
  std::string description = "synthetic scan";
  char type = 'R';
  int cell = 2;
  float temperature = 20.0f;
  float rpm = 40000.0f;
  double time = 3600.0;
  double w2t = -1.0;  // < 0: constant speed since time 0
  int wavelength = 280;
  std::vector<float> radii, signals;
};

inline void WriteScan(const std::string& path, const SyntheticScan& s) {
  const double omega = s.rpm * 3.14159265358979323846 / 30.0;
  const double w2t = s.w2t >= 0 ? s.w2t : omega * omega * s.time;
  std::string text = s.description + "\n";
  char line[200];
  std::snprintf(line, sizeof line, "%c %d %2.1f %ld %ld %1.4e %d %d\n", s.type, s.cell,
                s.temperature, static_cast<long>(s.rpm), static_cast<long>(std::lround(s.time)),
                w2t, s.wavelength, 1);
  text += line;
  for (std::size_t k = 0; k < s.radii.size(); ++k) {
    if (s.type == 'P')
      std::snprintf(line, sizeof line, "   %1.4f  %1.5e \n", s.radii[k], s.signals[k]);
    else
      std::snprintf(line, sizeof line, "   %1.4f  %1.5e   %1.5e \n", s.radii[k], s.signals[k], 0.0);
    text += line;
  }
  WriteText(path, text);
}

// Radii from r0 in steps of dr with signals f(r).
template <typename F>
SyntheticScan MakeScan(float r0, float dr, int n, F f) {
  SyntheticScan s;
  for (int k = 0; k < n; ++k) {
    const float r = r0 + dr * static_cast<float>(k);
    s.radii.push_back(r);
    s.signals.push_back(static_cast<float>(f(r)));
  }
  return s;
}

}  // namespace loading_test
