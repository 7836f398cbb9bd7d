// Writes the bundled example experiment: absorbance scans of three
// non-interacting species sedimenting at 50000 rpm, simulated with the
// program's own Lamm-equation solver, with time-invariant (TI) and
// radially-invariant (RI) noise and a little random noise added.
//
//   make_example <folder>     writes 00001.RA1 ... 00036.RA1 into <folder>
//
// Each species has the same frictional ratio, so a c(s) analysis with a
// fitted or given f/f0 of 1.3 recovers its peaks at the true s-values.
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "data/scan_file.h"
#include "data/scan_set.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_settings.h"
#include "numerics/constants.h"

namespace {
constexpr double kGasConstant = 8.314e7;   // erg/(mol K)
constexpr double kAvogadro = 6.02214e23;   // 1/mol
constexpr double kTemperature = 293.15;    // K
constexpr double kViscosity = 0.01002;     // poise
constexpr double kDensity = 1.0;           // g/ml
constexpr double kVbar = 0.73;             // ml/g
constexpr double kFrictionalRatio = 1.3;

// D (cm^2/s) of a species of sedimentation coefficient s (S) and frictional
// ratio f/f0 in the solvent above: from s = M (1 - vbar rho) / (N_A f) with
// f = f/f0 6 pi eta (3 M vbar / (4 pi N_A))^(1/3), then D = R T s / (M (1 - vbar rho)).
double DiffusionCoefficient(double sSvedberg) {
  const double s = sSvedberg * 1e-13;
  const double buoyancy = 1.0 - kVbar * kDensity;
  const double sphere = 6 * kPi * kViscosity * std::cbrt(3 * kVbar / (4 * kPi * kAvogadro));
  const double m23 = s * kAvogadro * kFrictionalRatio * sphere / buoyancy;  // M^(2/3)
  const double M = std::pow(m23, 1.5);
  return kGasConstant * kTemperature * s / (M * buoyancy);
}

struct Species {
  double s;              // S
  double concentration;  // OD
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  const std::vector<Species> species = {{2.5, 0.25}, {5.0, 0.5}, {8.0, 0.2}};
  const double meniscus = 6.02, bottom = 7.2;
  const double rpm = 50000, omega = RpmToOmega(rpm);
  const int scans = 36, points = 388;  // 5.99 to 7.151 cm: trimmed short of the bottom
  const double firstTime = 600, interval = 300;  // s
  const double firstRadius = 5.99, step = 0.003;  // cm

  std::vector<ScanRecord> records(scans + 1);
  for (int k = 1; k <= scans; ++k) {
    ScanRecord& r = records[k];
    r.type = 'R';
    r.cell = 1;
    r.temperature = 20.0f;
    r.rpm = static_cast<float>(rpm);
    r.time = r.timeRead = firstTime + (k - 1) * interval;
    r.w2t = omega * omega * r.time;
    r.wavelength = 280.0f;
    r.points = points;
  }
  std::vector<float> radii(points + 1);
  for (int j = 1; j <= points; ++j) radii[j] = static_cast<float>(firstRadius + (j - 1) * step);

  std::vector<std::vector<float>> total(scans + 1, std::vector<float>(points + 1, 0.0f));
  // The example stands for measured data, so it is simulated far more finely
  // than an analysis would: a static grid of 2000 nodes, small steps, and the
  // pile-up at the bottom kept (a coarse grid rings there).
  LammSolverSettings st;
  st.automaticGridSize = 0;
  st.gridSize.setting = 2000;
  st.automaticAlgorithm = 0;
  st.claverieAlgorithm = 1;
  st.movingHatAlgorithm = 0;
  st.truncateGrid = 0;
  st.shutOffBackDiffusion = 0;
  st.workingMaxDcOverC = 0.1;
  for (const Species& sp : species) {
    std::vector<std::vector<float>> out(scans + 1, std::vector<float>(points + 1, 0.0f));
    std::vector<float*> outPtr(scans + 1, nullptr);
    for (int k = 1; k <= scans; ++k) outPtr[k] = out[k].data();
    CLammIdeal L;
    L.MarkLoaded();
    L.SetOutputParameters(sp.s, DiffusionCoefficient(sp.s), meniscus, bottom, 1.0,
                          static_cast<float>(meniscus + 0.01), static_cast<float>(bottom - 0.01));
    L.SetScanTimes({.records = records.data(), .output = outPtr.data(), .grid = radii.data(),
                    .gridLength = points, .scanCount = scans, .absorbanceData = true});
    SetModelOptionsFromSettings(L, st, st.workingMaxDcOverC, st.gridSize.setting);
    L.SetSolventAndComputeFrictionalRatio(20, kVbar, kDensity, 1.0);
    const int error = L.CheckAndRun();
    if (error != 0) {
      std::fprintf(stderr, "simulation of %.1f S failed with error %d\n", sp.s, error);
      return 1;
    }
    // Air above the meniscus holds no solute.
    for (int k = 1; k <= scans; ++k)
      for (int j = 1; j <= points; ++j)
        if (radii[j] >= meniscus) total[k][j] += static_cast<float>(sp.concentration) * out[k][j];
  }

  // Systematic noise: a fixed radial pattern in every scan (TI) and a
  // baseline offset per scan (RI); then white noise of 0.005 OD.
  std::mt19937 random(20261207u);
  std::normal_distribution<double> white(0.0, 0.005), offset(0.0, 0.02);
  std::vector<double> ti(points + 1);
  for (int j = 1; j <= points; ++j) {
    const double r = radii[j];
    ti[j] = 0.01 * std::sin(37.0 * r) + 0.006 * std::cos(113.0 * r + 0.4);
  }
  for (int k = 1; k <= scans; ++k) {
    const double ri = offset(random);
    std::vector<float> signal(points + 1, 0.0f);
    for (int j = 1; j <= points; ++j)
      signal[j] = static_cast<float>(total[k][j] + ti[j] + ri + white(random));
    char name[64];
    std::snprintf(name, sizeof name, "/%05d.RA1", k);
    const std::string path = folder + name;
    if (!WriteScanFile(path.c_str(), points, radii.data(), signal.data(), nullptr,
                       "synthetic example: 2.5 S, 5 S and 8 S at f/f0 1.3", 0, records[k]))
      return 1;
  }
  std::printf("wrote %d scans of %d points into %s\n", scans, points, folder.c_str());
  return 0;
}
