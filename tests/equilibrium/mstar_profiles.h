#pragma once
// Ideal sedimentation-equilibrium profiles in closed form, put into the
// scan set as equilibrium data sets (one profile each), with the model and
// solution records the M* analysis reads.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "data/scan_set.h"
#include "equilibrium/mstar/mstar_state.h"
#include "fit/model_params.h"
#include "numerics/arrays.h"

namespace mstar_test {

constexpr double kR = 8.31451e7;  // erg/(mol K)
constexpr double kT = 293.15;     // K
constexpr double kPi = 3.14159265358979323846;

// sigma = (1 - vbar rho) M w^2 / (2 R T), 1/cm^2.
inline double Sigma(double M, double rpm, double vbarRho = 0.73) {
  const double w = 2 * kPi * rpm / 60;
  return (1 - vbarRho) * M * w * w / (2 * kR * kT);
}

struct Species {
  double M;        // g/mol
  double loading;  // signal of the uniform cell before the run
};

struct Profile {
  double rpm = 15000;
  std::vector<Species> species;
  double first = 6.905, last = 7.195, step = 0.001;  // cm
  double meniscusSignal = -1;  // > 0: one species with this signal at the meniscus instead of a loading
};

// One 50 kDa species with signal 0.17 above the baseline at the meniscus.
inline Profile SingleSpecies(double rpm = 15000) {
  Profile p;
  p.rpm = rpm;
  p.species = {{50000, 0}};
  p.meniscusSignal = 0.17;
  return p;
}

struct Cell {
  double meniscus = 6.9, bottom = 7.2, left = 6.91, right = 7.19, baseline = 0.05;
};

// Signal above the baseline at r.
inline double Concentration(const Profile& p, const Cell& c, double r) {
  const double a2 = c.meniscus * c.meniscus, b2 = c.bottom * c.bottom;
  if (p.meniscusSignal > 0) return p.meniscusSignal * std::exp(Sigma(p.species[0].M, p.rpm) * (r * r - a2));
  double sum = 0;
  for (const Species& s : p.species) {
    const double sg = Sigma(s.M, p.rpm);
    sum += s.loading * sg * (b2 - a2) * std::exp(sg * (r * r - b2)) / (1 - std::exp(sg * (a2 - b2)));
  }
  return sum;
}

// Loading average sum c_i M_i / sum c_i (kDa).
inline double LoadingAverage(const Profile& p) {
  double cm = 0, c = 0;
  for (const Species& s : p.species) {
    cm += s.loading * s.M;
    c += s.loading;
  }
  return cm / c * 0.001;
}

inline void ClearScans() {
  FreeScanSetArrays(CurrentScanSet());
  FreeScanGridArrays(CurrentScanSet());
}

// The profiles as data sets 1..N of the scan set.
inline void LoadProfiles(const std::vector<Profile>& profiles, const Cell& cell) {
  ClearScans();
  ScanSet& s = CurrentScanSet();
  const int N = static_cast<int>(profiles.size());
  AllocateScanTables(s, N);
  s.equilibriumMode = 1;
  s.leftFitLimit = static_cast<float>(cell.left);
  s.rightFitLimit = static_cast<float>(cell.right);
  for (int d = 1; d <= N; ++d) {
    const Profile& p = profiles[static_cast<size_t>(d - 1)];
    const int n = static_cast<int>(std::lround((p.last - p.first) / p.step)) + 1;
    s.points[static_cast<size_t>(d)] = n;
    s.radii[static_cast<size_t>(d)] = vector(1, n);
    s.signals[static_cast<size_t>(d)] = vector(1, n);
    s.model[static_cast<size_t>(d)] = vector(1, n);
    for (int i = 1; i <= n; ++i) {
      const double r = p.first + (i - 1) * p.step;
      s.radii[static_cast<size_t>(d)][i] = static_cast<float>(r);
      s.signals[static_cast<size_t>(d)][i] = static_cast<float>(Concentration(p, cell, r) + cell.baseline);
    }
    s.records[static_cast<size_t>(d)].rpm = static_cast<float>(p.rpm);
    s.records[static_cast<size_t>(d)].temperature = 20.0f;
    s.fileNames[static_cast<size_t>(d)] = "0000" + std::to_string(d) + ".RA1";
  }
  gModelParams.meniscus = static_cast<float>(cell.meniscus);
  gModelParams.bottom = static_cast<float>(cell.bottom);
  gModelParams.baseline = static_cast<float>(cell.baseline);
  gModelParams.riNoiseFit = 0;
  gSolutionConditions.vbar = 0.73f;
  gSolutionConditions.density = 1.0f;
  gSolutionConditions.vbarRho = 0.73f;
  gSolutionConditions.temperature = static_cast<float>(kT);
}

// The profile as an absorbance scan file of cell 1 at 20 C.
inline void WriteProfileFile(const std::string& path, const Profile& p, const Cell& cell) {
  std::ofstream out(path);
  char line[160];
  const double w = 2 * kPi * p.rpm / 60;
  std::snprintf(line, sizeof line, "R 1 20.0 %ld 86400 %1.4e 280 1\n", static_cast<long>(p.rpm), w * w * 86400);
  out << "closed-form equilibrium profile\n" << line;
  const int n = static_cast<int>(std::lround((p.last - p.first) / p.step)) + 1;
  for (int i = 0; i < n; ++i) {
    const double r = p.first + i * p.step;
    std::snprintf(line, sizeof line, "%.4f %.7f 0.0\n", r, Concentration(p, cell, r) + cell.baseline);
    out << line;
  }
}

}  // namespace mstar_test
