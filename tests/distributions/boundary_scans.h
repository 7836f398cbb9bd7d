#pragma once
// Velocity scans of sharp-started, diffusing boundaries written as scan
// files and loaded as a user would: per species
//   c = c0/2 exp(-2 w^2 s t) erfc((r_b - r) / (2 sqrt(D t))),  r_b = m exp(w^2 s t)
// (zero inside the meniscus), at 50000 rpm, m 6.0, bottom 7.2, radii every
// 0.002 cm from 5.95, fit limits 6.02..7.15, and optional Gaussian noise.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "data/load_hooks.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "fit/model_params.h"

namespace boundary_test {

struct Species {
  double s, D, c0;  // S, cm^2/s, signal
};

struct Experiment {
  std::vector<Species> species;
  std::vector<double> times;
  double rpm = 50000, meniscus = 6.0, bottom = 7.2;
  double noise = 0.0;
  unsigned seed = 7;
  std::string folder = "boundary_scans";
};

// t = first, first + step, ... (count scans).
inline std::vector<double> Times(int count, double first, double step) {
  std::vector<double> t;
  for (int k = 0; k < count; ++k) t.push_back(first + step * k);
  return t;
}

inline double Concentration(const Experiment& run, double r, double t) {
  if (r < run.meniscus) return 0.0;
  const double w2 = std::pow(run.rpm * M_PI / 30.0, 2);
  double c = 0.0;
  for (const Species& sp : run.species) {
    const double k = w2 * sp.s * 1e-13;
    const double rb = run.meniscus * std::exp(k * t);
    c += 0.5 * sp.c0 * std::exp(-2.0 * k * t) * std::erfc((rb - r) / (2.0 * std::sqrt(sp.D * t)));
  }
  return c;
}

// 5 S, D 4e-7 cm^2/s, loading 1, twelve scans 400 s apart from 1200 s.
inline Experiment OneSpecies() {
  Experiment run;
  run.species = {{5.0, 4e-7, 1.0}};
  run.times = Times(12, 1200, 400);
  return run;
}

// Writes the files and loads them; false when the loader refused.
inline bool WriteAndLoad(const Experiment& run) {
  namespace fs = std::filesystem;
  fs::remove_all(run.folder);
  fs::create_directories(run.folder);
  std::mt19937 gen(run.seed);
  std::normal_distribution<double> g(0.0, run.noise > 0 ? run.noise : 1.0);
  const double w = run.rpm * M_PI / 30.0;
  std::vector<std::string> names;
  for (size_t k = 0; k < run.times.size(); ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "%05zu.ra1", k + 1);
    std::ofstream out(fs::path(run.folder) / name);
    out << "closed-form boundaries\n";
    char line[160];
    const double t = run.times[k];
    std::snprintf(line, sizeof line, "R 1 20.0 %ld %ld %1.4e 280 1\n", static_cast<long>(run.rpm),
                  static_cast<long>(t), w * w * t);
    out << line;
    for (int i = 0;; ++i) {
      const double r = 5.95 + 0.002 * i;
      if (r > run.bottom + 1e-9) break;
      double c = Concentration(run, r, t);
      if (run.noise > 0) c += g(gen);
      std::snprintf(line, sizeof line, "   %1.4f  %1.6e   %1.5e \n", r, c, 0.0);
      out << line;
    }
    names.push_back(name);
  }
  gModelParams.meniscus = static_cast<float>(run.meniscus);
  gModelParams.bottom = static_cast<float>(run.bottom);
  CurrentLoadTargets().meniscus = &gModelParams.meniscus;
  CurrentLoadTargets().bottom = &gModelParams.bottom;
  if (!LoadAllData(MakeSelection(fs::absolute(run.folder).string(), names))) return false;
  ScanSet& s = CurrentScanSet();
  s.leftFitLimit = 6.02f;
  s.rightFitLimit = 7.15f;
  for (int j = 1; j <= s.count; ++j) {
    s.firstFitPoint[j] = 1;
    while (s.radii[j][s.firstFitPoint[j]] < s.leftFitLimit) ++s.firstFitPoint[j];
    s.lastFitPoint[j] = s.points[j];
    while (s.radii[j][s.lastFitPoint[j]] > s.rightFitLimit) --s.lastFitPoint[j];
  }
  s.firstGridPoint = 1;
  while (s.firstGridPoint < s.gridLength && s.grid[s.firstGridPoint] < s.leftFitLimit) ++s.firstGridPoint;
  s.lastGridPoint = s.gridLength;
  while (s.lastGridPoint > 1 && s.grid[s.lastGridPoint] > s.rightFitLimit) --s.lastGridPoint;
  return true;
}

}  // namespace boundary_test
