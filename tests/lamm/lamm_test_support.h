#pragma once
// A small simulated experiment for the solver tests: scan records at given
// times, a common output grid and the output arrays, and a CLammIdeal loaded
// with the program's default Lamm settings.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <memory>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "data/scan_set.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_settings.h"

namespace lammtest {

constexpr double kPi = 3.141592653589793;

inline double Omega(double rpm) { return 2 * kPi * rpm / 60.0; }

// Radii x[1..n] from m to b with random steps (seeded, reproducible).
inline std::vector<double> RandomGrid(int n, double m, double b, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<double> u(0.3, 1.7);
  std::vector<double> step(n), x(n + 1, 0.0);
  double total = 0;
  for (int i = 1; i < n; ++i) total += (step[i] = u(gen));
  x[1] = m;
  for (int i = 2; i <= n; ++i) x[i] = x[i - 1] + step[i - 1] * (b - m) / total;
  x[n] = b;
  return x;
}

struct Experiment {
  double s = 4.3, D = 6e-7, c0 = 1.0;
  double meniscus = 6.0, bottom = 7.2;
  float left = 6.05f, right = 7.1f;
  double rpm = 50000;
  double rampRate = 0;      // rpm/s; 0 = constant speed from t = 0
  double rampDuration = 0;  // s
  std::vector<double> times = {600, 1200, 1800};
  int gridPoints = 0;  // 0: the radii of the nodes are not needed, use 600 points
  double gridFrom = 0, gridTo = 0;  // default: meniscus .. bottom

  // Filled by Build().
  std::vector<ScanRecord> records{};  // 1-based
  std::vector<float> grid{};          // 1-based
  std::vector<std::vector<float>> out{};
  std::vector<float*> outPtr{};

  void Build() {
    const int n = static_cast<int>(times.size());
    records.assign(n + 1, ScanRecord{});
    for (int k = 1; k <= n; ++k) {
      ScanRecord& r = records[k];
      r.rpm = static_cast<float>(rpm);
      r.temperature = 20;
      r.time = r.timeRead = times[k - 1];
      r.w2t = W2t(times[k - 1]);
      r.acceleration = rampRate;
      r.accelerationTime = rampDuration;
    }
    const int g = gridPoints > 0 ? gridPoints : 600;
    const double a = gridFrom > 0 ? gridFrom : meniscus, b = gridTo > 0 ? gridTo : bottom;
    grid.assign(g + 1, 0.0f);
    for (int j = 1; j <= g; ++j) grid[j] = static_cast<float>(a + (b - a) * (j - 1) / (g - 1));
    out.assign(n + 1, std::vector<float>(g + 1, -99.0f));
    outPtr.assign(n + 1, nullptr);
    for (int k = 1; k <= n; ++k) outPtr[k] = out[k].data();
  }

  // Integral of w^2 dt from 0 to t for the rotor of this experiment.
  double W2t(double t) const {
    const double w = Omega(rpm);
    if (rampDuration < 10 || rampRate <= 0) return w * w * t;
    const double a = Omega(rampRate);
    const double T = rampDuration;
    if (t <= T) return a * a * t * t * t / 3;
    return a * a * T * T * T / 3 + w * w * (t - T);
  }
};

// Loads the model options from settings the way the model evaluation does.
inline void LoadOptions(CLammIdeal& L, const LammSolverSettings& st) {
  SetModelOptionsFromSettings(L, st, st.workingMaxDcOverC, st.gridSize.setting);
}

// Settings for the accuracy studies: a fixed grid of n nodes on the static
// path, no truncation, no outflow at the bottom.
inline LammSolverSettings FixedGrid(int n, double maxDc = 1.0) {
  LammSolverSettings st;
  st.automaticGridSize = 0;
  st.gridSize.setting = n;
  st.automaticAlgorithm = 0;
  st.claverieAlgorithm = 1;
  st.movingHatAlgorithm = 0;
  st.truncateGrid = 0;
  st.shutOffBackDiffusion = 0;
  st.workingMaxDcOverC = maxDc;
  return st;
}

template <class Solver = CLammIdeal>
std::unique_ptr<Solver> MakeSolver(Experiment& e, const LammSolverSettings& st) {
  auto L = std::make_unique<Solver>();
  L->MarkLoaded();
  L->SetOutputParameters(e.s, e.D, e.meniscus, e.bottom, e.c0, e.left, e.right);
  L->SetScanTimes({.records = e.records.data(), .output = e.outPtr.data(), .grid = e.grid.data(),
                   .gridLength = static_cast<int>(e.grid.size()) - 1,
                   .scanCount = static_cast<int>(e.times.size()), .absorbanceData = true});
  LoadOptions(*L, st);
  L->SetSolventAndComputeFrictionalRatio(20, 0.73, 1.0, 1.0);
  return L;
}

// The experiment's scans and grid built as it now stands, and a solver on them.
template <class Solver = CLammIdeal>
std::unique_ptr<Solver> BuiltSolver(Experiment& e, const LammSolverSettings& st = LammSolverSettings{}) {
  e.Build();
  return MakeSolver<Solver>(e, st);
}

struct Reference {
  double s = 0, D = 0, rpm = 0, m = 0, b = 0, rate = 0;
  std::vector<double> times, r;
  std::vector<std::vector<double>> c;  // c[point][time]
};

// One of the independent reference solutions: its header's parameters and
// c(r) at each listed time.
inline Reference LoadReference(const std::string& name) {
  Reference R;
  std::ifstream in(std::string(TARNEL_REFERENCE_DIR) + "/lamm/" + name);
  EXPECT_TRUE(in.good()) << name;
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    if (line[0] == '#') {
      if (line.rfind("# s =", 0) == 0)
        std::sscanf(line.c_str(),
                    "# s = %lf S; D = %lf cm^2/s; rpm = %lf; meniscus = %lf cm; bottom = %lf cm",
                    &R.s, &R.D, &R.rpm, &R.m, &R.b);
      const auto at = line.find("ramp from rest at ");
      if (at != std::string::npos) R.rate = std::atof(line.c_str() + at + 18);
      if (line.rfind("# times", 0) == 0) {
        std::istringstream is(line.substr(line.find(':') + 1));
        for (double t; is >> t;) R.times.push_back(t);
      }
      continue;
    }
    std::istringstream is(line);
    double r;
    is >> r;
    R.r.push_back(r);
    R.c.emplace_back();
    for (double v; is >> v;) R.c.back().push_back(v);
  }
  return R;
}

// An experiment at a reference solution's species, rotor, cell and times,
// its output grid the reference's radii and its fit limits [from, to].
inline Experiment ExperimentFor(const Reference& R, double from, double to) {
  Experiment e;
  e.s = R.s;
  e.D = R.D;
  e.rpm = R.rpm;
  e.meniscus = R.m;
  e.bottom = R.b;
  e.left = static_cast<float>(from);
  e.right = static_cast<float>(to);
  e.times = R.times;
  if (R.rate > 0) {
    e.rampRate = R.rate;
    e.rampDuration = R.rpm / R.rate;
  }
  e.gridPoints = static_cast<int>(R.r.size());
  e.Build();
  for (size_t j = 0; j < R.r.size(); ++j) e.grid[j + 1] = static_cast<float>(R.r[j]);
  return e;
}

}  // namespace lammtest
