#pragma once
// DLS sets in the program-wide scan set for the distribution runs: x =
// log10 tau, y given by the test, one header record per set (n 1.333, 90
// degrees, 633 nm, 20 degC, water), and the records of an I(Rh) run.
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "data/load_hooks.h"
#include "data/scan_grid.h"
#include "data/scan_set.h"
#include "distributions/prior_knowledge.h"
#include "distributions/conti_context.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/work_blocks.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "numerics/arrays.h"
#include "platform/input_events.h"
#include "tests/support/distribution_state.h"

namespace dlsrun {

constexpr double kQ2 = 3.50141e14;  // 1/m^2 of the records below

// D (cm^2/s) of a sphere of radius rh (nm) in water at 20 degC.
inline double DOfRadius(double rhNm) { return 1.38065e-23 * 293.15 * 1e4 / (6 * M_PI * 0.001002 * rhNm * 1e-9); }
inline double G1(double rhNm, double tau) { return std::exp(-1e-4 * DOfRadius(rhNm) * kQ2 * tau); }

inline void Clear() {
  ScanSet& s = CurrentScanSet();
  FreeDistributionArrays();
  FreeDistributionWorkArrays(WorkBlock().gridPoints);
  FreeNormalEquationBlock();
  FreeSpeciesScanArrays(s);
  FreeScanGridArrays(s);
  FreeScanSetArrays(s);
  s = ScanSet{};
  CurrentDataTypeFlags() = DataTypeFlags{};
}

// Sets at the given times with n lag times from 1e-7 to 1 s; set j's
// values are f(j, tau) plus Gaussian noise of the given width.
inline void Load(const std::vector<double>& times, int n, const std::function<double(int, double)>& f,
                 double noise = 0.0, bool field = true) {
  Clear();
  ScanSet& s = CurrentScanSet();
  const int m = static_cast<int>(times.size());
  AllocateScanTables(s, m);
  s.dlsRecords.assign(static_cast<size_t>(m) + 1, DlsHeaderRecord{});
  std::mt19937 gen(7);
  std::normal_distribution<double> g(0.0, noise > 0 ? noise : 1.0);
  for (int j = 1; j <= m; ++j) {
    s.radii[j] = vector(1, n);
    s.signals[j] = vector(1, n);
    s.model[j] = vector(1, n);
    s.residuals[j] = vector(1, n);
    for (int p = 1; p <= n; ++p) {
      s.radii[j][p] = static_cast<float>(-7.0 + 7.0 * (p - 1) / (n - 1));
      const double tau = std::pow(10.0, static_cast<double>(s.radii[j][p]));
      s.signals[j][p] = static_cast<float>(f(j, tau) + (noise > 0 ? noise * g(gen) / 1.0 : 0.0));
      s.model[j][p] = s.residuals[j][p] = 0.0f;
    }
    s.points[j] = n;
    s.order[j] = j;
    s.firstFitPoint[j] = 1;
    s.lastFitPoint[j] = n;
    s.fileNames[j] = "set" + std::to_string(j) + ".dlsdat";
    DlsHeaderRecord& r = s.dlsRecords[static_cast<size_t>(j)];
    r.temperature = 20.0f;
    r.time = times[static_cast<size_t>(j) - 1];
    r.refractiveIndex = 1.333f;
    r.viscosity = 0.01002f;
    r.angle = 90.0f;
    r.wavelength = 633e-9f;
    r.points = n;
    r.fieldFlag = field ? 1 : 0;
    ScanRecord& rec = s.records[j];
    rec.temperature = 20.0f;
    rec.time = rec.timeRead = r.time;
    rec.points = n;
  }
  CurrentDataTypeFlags().dls = 1;
  CurrentDataTypeFlags().absorbance = 0;
  s.leftFitLimit = s.radii[1][1];
  s.rightFitLimit = s.radii[1][n];
  gModelParams.meniscus = s.leftFitLimit;
  gModelParams.bottom = s.rightFitLimit;
  CurrentLoadTargets().meniscus = &gModelParams.meniscus;
  CurrentLoadTargets().bottom = &gModelParams.bottom;
  PrepareScanGrid();
  s.firstGridPoint = 1;
  s.lastGridPoint = s.gridLength;
  s.dataChanged = 0;
}

// The records of an I(Rh) run from rmin to rmax nm on n points, the
// baseline fitted, as the DLS model commands leave them.
inline void SelectIRh(float rmin, float rmax, int n, bool timeCourse = false) {
  gModelSelectorFlags = ModelSelectorFlags{};
  gModelSelectorFlags.DistributionModel = 1;
  (timeCourse ? gModelSelectorFlags.DlsIRhTimeCourseModel : gModelSelectorFlags.DlsIRhModel) = 1;
  gModelParams.riNoiseFit = 0;
  gModelParams.baselineFit = 1;
  gModelParams.baseline = 0;
  gFitEngineState = FitEngineState{};
  gFitEngineState.molarMassParameters = 0;
  PackModelParameters();
  gSolutionConditions = SolutionConditions{};
  gSolutionConditions.temperature = 293.15f;
  gSolutionConditions.viscosity = 1.0f;
  ContiSettings& cs = teststate::QuietContiRun();
  cs.sMin = rmin;
  cs.sMax = rmax;
  cs.resolution = static_cast<float>(n);
  cs.confidenceLevel = 0.55f;
  cs.maxEntropy = 0;  // second-derivative regularisation
  cs.dlsSpacingLinear = cs.dlsSpacingLog = cs.dlsSpacingMixed = 0;
  cs.ownLagTimes = 0;
  cs.timeCourseFirstScan = cs.timeCourseLastScan = 1;
  platform::StopFlag() = false;
  platform::ClearInput();
}

// Rh (nm) of grid point i.
inline double Radius(int i) { return std::pow(10.0, static_cast<double>(Conti().sValues[i]) + 9.0); }

// The grid point of the largest value of c among the points whose radius
// lies in [lo, hi] nm, and the share of the total that those points hold.
struct Peak {
  int index = 0;
  double fraction = 0;
};
inline Peak PeakBetween(const float* c, double lo, double hi) {
  const ContiSettings& cs = Conti();
  Peak p;
  double part = 0, total = 0;
  for (int i = 1; i <= cs.gridSize; ++i) {
    total += c[i];
    const double r = Radius(i);
    if (r < lo || r > hi) continue;
    part += c[i];
    if (p.index == 0 || c[i] > c[p.index]) p.index = i;
  }
  p.fraction = total > 0 ? part / total : 0;
  return p;
}

}  // namespace dlsrun
