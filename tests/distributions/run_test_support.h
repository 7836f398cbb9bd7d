#pragma once
// A small sedimentation-velocity experiment on the program-wide scan set for
// the c(s) run tests: m scans at 50000 rpm, a common grid of r points from
// the meniscus to the bottom, fit limits inside, and the model records set
// for a plain c(s) on a linear s grid.
// And the main window as a continuous fit sees it.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "data/load_hooks.h"
#include "data/scan_set.h"
#include "distributions/prior_knowledge.h"
#include "distributions/conti_context.h"
#include "distributions/conti_fit.h"
#include "distributions/conti_fit_display.h"
#include "distributions/conti_grid.h"
#include "distributions/conti_run.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/work_blocks.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_host.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/lamm_settings.h"
#include "numerics/arrays.h"
#include "platform/paths.h"
#include "platform/scripted_ui.h"
#include "tests/support/distribution_state.h"

namespace runtest {

struct Experiment {
  int scans = 8;
  int points = 120;
  double rpm = 50000;
  double firstTime = 600, interval = 300;
  float meniscus = 6.0f, bottom = 7.2f, left = 6.05f, right = 7.1f;

  Experiment(int m, int r) : scans(m), points(r) { Build(); }
  ~Experiment() {
    FreeDistributionArrays();
    FreeDistributionWorkArrays(WorkBlock().gridPoints);
    FreeNormalEquationBlock();
    ScanSet& s = CurrentScanSet();
    FreeScanGridArrays(s);
    FreeScanSetArrays(s);
  }
  Experiment(const Experiment&) = delete;
  Experiment& operator=(const Experiment&) = delete;

  void Build() {
    ScanSet& s = CurrentScanSet();
    FreeScanGridArrays(s);
    FreeScanSetArrays(s);
    AllocateScanTables(s, scans);
    s.dataFolder = platform::SystemTempFolder();
    s.fileNames[1] = "run.ra1";
    s.gridOwned = 1;
    s.dataChanged = 0;
    s.gridLength = points;
    s.grid = vector(1, points);
    for (int i = 1; i <= points; ++i)
      s.grid[i] = meniscus + (bottom - meniscus) * (i - 0.5f) / points;
    s.leftFitLimit = left;
    s.rightFitLimit = right;
    s.firstGridPoint = 1;
    while (s.grid[s.firstGridPoint] < left) ++s.firstGridPoint;
    s.lastGridPoint = points;
    while (s.grid[s.lastGridPoint] > right) --s.lastGridPoint;
    const double w = 2 * 3.141592653589793 * rpm / 60;
    for (int j = 1; j <= scans; ++j) {
      ScanRecord& rec = s.records[j];
      rec.rpm = static_cast<float>(rpm);
      rec.temperature = 20;
      rec.time = rec.timeRead = firstTime + (j - 1) * interval;
      rec.w2t = w * w * rec.time;
      rec.points = points;
      s.points[j] = points;
      s.order[j] = j;
      s.firstFitPoint[j] = s.firstGridPoint;
      s.lastFitPoint[j] = s.lastGridPoint;
      for (auto* arr : {&s.radii, &s.signals, &s.model, &s.residuals, &s.gridSignals, &s.gridModel}) {
        (*arr)[j] = vector(1, points);
        for (int i = 1; i <= points; ++i) (*arr)[j][i] = 0.0f;
      }
      for (int i = 1; i <= points; ++i) s.radii[j][i] = s.grid[i];
    }
    gModelParams.meniscus = meniscus;
    gModelParams.bottom = bottom;
    // The fit-limit checks of the data layer read the model's cell ends.
    CurrentLoadTargets().meniscus = &gModelParams.meniscus;
    CurrentLoadTargets().bottom = &gModelParams.bottom;
    gModelParams.riNoiseFit = 0;
    gModelParams.baselineFit = 0;
    gModelParams.baseline = 0;
    gFitEngineState.fitTINoise = 0;
    gFitEngineState.fitRunning = 0;
    PackModelParameters();
    gSolutionConditions = SolutionConditions{};
    gSolutionConditions.vbar = 0.73f;
    gSolutionConditions.density = 0.99823f;
    gSolutionConditions.vbarRho = 0.73f * 0.99823f;
    gSolutionConditions.viscosity = 1.0f;
    gSolutionConditions.temperature = 293.15f;
    gModelSelectorFlags = ModelSelectorFlags{};
    gModelSelectorFlags.DistributionModel = 1;
    gModelSelectorFlags.CSModel = 1;
    teststate::QuietContiRun().ffValue = 1.2f;
    LammSettings() = LammSolverSettings{};
  }

  // Copies every scan's model into its signals (own radii and common grid).
  void ModelToData() {
    ScanSet& s = CurrentScanSet();
    for (int j = 1; j <= scans; ++j)
      for (int i = 1; i <= points; ++i) s.signals[j][i] = s.gridSignals[j][i] = s.model[j][i];
  }
  void AddToData(float ti(int), float ri(int)) {
    ScanSet& s = CurrentScanSet();
    for (int j = 1; j <= scans; ++j)
      for (int i = 1; i <= points; ++i) {
        s.signals[j][i] += ti(i) + ri(j);
        s.gridSignals[j][i] = s.signals[j][i];
      }
  }
  void AddGaussianNoise(float sigma, unsigned seed) {
    ScanSet& s = CurrentScanSet();
    std::mt19937 gen(seed);
    std::normal_distribution<float> g(0.0f, sigma);
    for (int j = 1; j <= scans; ++j)
      for (int i = 1; i <= points; ++i) {
        s.signals[j][i] += g(gen);
        s.gridSignals[j][i] = s.signals[j][i];
      }
  }
};

// A linear c(s) grid from smin to smax of n points.
// Amplitude of grid point i from the displayed density on a linear grid.
inline double Amplitude(int i) {
  const ContiSettings& cs = Conti();
  const double h = cs.sValues[2] - cs.sValues[1];
  return cs.distribution[i] * ((i == 1 || i == cs.gridSize) ? h / 2 : h);
}

// The amplitudes of grid points 1..n: each peak's amount at its point,
// zero elsewhere, within tol.
inline void ExpectGridAmplitudes(int n, const std::vector<std::pair<int, double>>& peaks, double tol) {
  for (int i = 1; i <= n; ++i) {
    double expected = 0.0;
    for (const auto& [point, amount] : peaks)
      if (point == i) expected = amount;
    EXPECT_NEAR(Amplitude(i), expected, tol) << i;
  }
}

// The size-and-shape c(s, f/f0) with f/f0 1.0, 1.2 and 1.4.
inline ContiSettings& SizeAndShape() {
  gModelSelectorFlags.CSModel = 0;
  gModelSelectorFlags.CSff0Model = 1;
  ContiSettings& cs = Conti();
  cs.ffMin = 1.0f;
  cs.ffMax = 1.4f;
  cs.ffResolution = 3.0f;
  return cs;
}

inline void SetGrid(float smin, float smax, int n) {
  ContiSettings& cs = Conti();
  cs.sMin = smin;
  cs.sMax = smax;
  cs.resolution = static_cast<float>(n);
}

// Synthetic data from amplitudes at grid points (index, amplitude) on the
// current grid, by the run's own synthetic path.
inline bool MakeSyntheticData(Experiment& e, const std::vector<std::pair<int, float>>& peaks) {
  if (!SetupContiGrid()) return false;
  ContiSettings& cs = Conti();
  for (int i = 1; i <= cs.gridSize; ++i) cs.distribution[i] = 0.0f;
  for (const auto& p : peaks) cs.distribution[p.first] = p.second;
  cs.synthetic = 1;
  RunContiSed();
  cs.synthetic = 0;
  e.ModelToData();
  return true;
}

// The same on a linear grid from smin to smax of n points, with Gaussian
// noise of sd sigma from the seed (none for sigma 0).
inline bool MakeSyntheticData(Experiment& e, float smin, float smax, int n,
                              const std::vector<std::pair<int, float>>& peaks, float sigma = 0, unsigned seed = 0) {
  SetGrid(smin, smax, n);
  if (!MakeSyntheticData(e, peaks)) return false;
  if (sigma > 0) e.AddGaussianNoise(sigma, seed);
  return true;
}

// Two scans of 30 points with the answers scripted; the distribution's
// arrays freed and the model flags cleared after the test.
struct SmallRunTest : ::testing::Test {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope{ui};
  Experiment e{2, 30};
  void TearDown() override {
    FreeDistributionArrays();
    gModelSelectorFlags = ModelSelectorFlags{};
  }
};

// The main window as a continuous fit sees it: it records the lines drawn
// at x = 10 and what it is told, and shows the best vertex through the
// distribution display.
class ContiWindowHost : public FitHost {
 public:
  void SimulateModel() override {}
  void ShowBestContiVertex(float* vertex) override { ::ShowBestContiVertex(this, vertex); }
  bool DrawingEnabled() const override { return drawing; }
  void DrawText(int x, int y, const std::string& text) override {
    if (x == 10) lines[y] = text;
  }
  void MessageBox(const std::string&, const std::string& text, platform::BoxIcon) override {
    messages.push_back(text);
  }
  void ErrorBox(const std::string& text) override { messages.push_back(text); }
  void PlaySoundError() override {}

  bool drawing = false;
  std::map<int, std::string> lines;
  std::vector<std::string> messages;
};

}  // namespace runtest
