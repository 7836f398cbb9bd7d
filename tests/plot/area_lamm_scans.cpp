// A realistic absorbance set: 40 scans of a 4.3 S species sedimenting at
// 50 000 rpm, simulated by the program's own Lamm solver, with Gaussian
// noise of 0.004 OD; the "fit" is the same species at 4.28 S, so that the
// residuals carry a small systematic misfit besides the noise.
#include <cmath>
#include <random>
#include <vector>

#include "area_fixture.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_settings.h"

namespace plottest {

namespace {

constexpr double kPi = 3.141592653589793;

// Signal of the species at the scan times on the grid (OD).
std::vector<std::vector<float>> Simulate(double s, std::vector<ScanRecord>& records, std::vector<float>& grid,
                                         double meniscus, double bottom) {
  const int scans = static_cast<int>(records.size()) - 1;
  const int points = static_cast<int>(grid.size()) - 1;
  std::vector<std::vector<float>> out(static_cast<size_t>(scans) + 1, std::vector<float>(static_cast<size_t>(points) + 1));
  std::vector<float*> outPtr(static_cast<size_t>(scans) + 1, nullptr);
  for (int k = 1; k <= scans; ++k) outPtr[static_cast<size_t>(k)] = out[static_cast<size_t>(k)].data();
  const LammSolverSettings st;
  CLammIdeal L;
  L.MarkLoaded();
  L.SetOutputParameters(s, 6e-7, meniscus, bottom, 1.0, grid[1], grid[static_cast<size_t>(points)]);
  L.SetScanTimes({.records = records.data(), .output = outPtr.data(), .grid = grid.data(),
                  .gridLength = points, .scanCount = scans, .absorbanceData = true});
  SetModelOptionsFromSettings(L, st, st.workingMaxDcOverC, st.gridSize.setting);
  L.SetSolventAndComputeFrictionalRatio(20, 0.73, 1.0, 1.0);
  if (L.CheckAndRun() != 0) out.clear();
  return out;
}

}  // namespace

bool LoadSimulatedAbsorbanceSet(int scans) {
  const int points = 300;
  const double meniscus = 6.0, bottom = 7.2, rpm = 50000;
  const double omega = 2 * kPi * rpm / 60;
  std::vector<ScanRecord> records(static_cast<size_t>(scans) + 1);
  for (int k = 1; k <= scans; ++k) {
    ScanRecord& r = records[static_cast<size_t>(k)];
    r.rpm = static_cast<float>(rpm);
    r.temperature = 20;
    r.time = r.timeRead = 300.0 * k;
    r.w2t = omega * omega * r.time;
  }
  std::vector<float> grid(points + 1);
  for (int j = 1; j <= points; ++j) grid[static_cast<size_t>(j)] = static_cast<float>(6.02 + 1.13 * (j - 1) / (points - 1));
  const auto data = Simulate(4.3, records, grid, meniscus, bottom);
  const auto fit = Simulate(4.28, records, grid, meniscus, bottom);
  if (data.empty() || fit.empty()) return false;
  std::mt19937 random(2026);
  std::normal_distribution<float> noise(0.0f, 0.004f);
  std::vector<float> noisy(static_cast<size_t>(scans * points));
  for (float& v : noisy) v = noise(random);
  LoadScans({.scans = scans, .points = points, .r0 = grid[1], .r1 = grid[points], .left = 6.05f, .right = 7.1f,
             .reverseOrder = false},
            [&](int scan, float r) {
              const int j = static_cast<int>(std::lround((r - grid[1]) / (grid[points] - grid[1]) * (points - 1))) + 1;
              return data[static_cast<size_t>(scan)][static_cast<size_t>(j)] +
                     noisy[static_cast<size_t>((scan - 1) * points + j - 1)];
            },
            [&](int scan, float r) {
              const int j = static_cast<int>(std::lround((r - grid[1]) / (grid[points] - grid[1]) * (points - 1))) + 1;
              return fit[static_cast<size_t>(scan)][static_cast<size_t>(j)];
            });
  ScanSet& s = CurrentScanSet();
  for (int k = 1; k <= scans; ++k) s.records[static_cast<size_t>(k)] = records[static_cast<size_t>(k)];
  return true;
}

}  // namespace plottest
