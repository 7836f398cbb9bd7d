#pragma once
// The text of a DLS set file as the window tests write it: the head line
// of set k (20 degC, 30 k s, 1000 counts, water at 90 degrees, 633 nm) and
// `points` lag times 1e-7 .. 1e-1 s holding the g(2)-1 decay
// 0.5 exp(-2e4 tau) + noise().
#include <cmath>
#include <cstdio>
#include <string>

namespace apptest {

template <class Noise>
std::string DlsSetText(int k, int points, Noise noise) {
  std::string text = "start set\n";
  char line[160];
  std::snprintf(line, sizeof line, "A %f %d %.2f %f %f %f %e\n", 20.0, 30 * k, 1000.0, 1.333, 0.01002, 90.0, 6.33e-7);
  text += line;
  for (int p = 0; p < points; ++p) {
    const double tau = std::pow(10.0, -7.0 + 6.0 * p / (points - 1));
    std::snprintf(line, sizeof line, "   %1.5e  %1.5e \n", tau, 0.5 * std::exp(-2e4 * tau) + noise());
    text += line;
  }
  return text;
}

}  // namespace apptest
