// Interference data simulated by the program: a 4.3 S species plus the
// signal of a sedimenting buffer component (amplitude 5, 0.21 S), with noise
// 0.005. The discrete-species fit finds the buffer's amplitude and s again;
// the c(s) run with TI and RI noise finds the amplitude in kernel column 1
// and the species' peak where it belongs.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "data/scan_grid.h"
#include "distributions/conti_run.h"
#include "fit/fit_driver.h"
#include "fit/lamm_grid.h"
#include "fit/model_evaluation.h"
#include "models/buffer/buffer_sed_solver.h"
#include "models/buffer/buffer_sedimentation.h"
#include "platform/scripted_ui.h"
#include "tests/distributions/run_test_support.h"
#include "tests/fit/fit_test_support.h"

namespace {

constexpr double kSignal = 5.0, kBufferS = 0.21;

using Host = fittest::ModelHost;

void WireBufferCorrection() {
  InstallBufferSedimentationHooks(nullptr);
  SetFitOptionProvider(ProvideBufferFitOptions);
}

void UnwireBufferCorrection() {
  ModelEvaluationHooks& m = CurrentModelEvaluationHooks();
  m.bufferSedimentationOn = [] { return false; };
  m.updateBufferSedimentation = [](FitHost*) {};
  ContiHooks() = ContiRunHooks{};
  SetFitOptionProvider(nullptr);
  gBufferSedSettings = BufferSedSettings{};
}

void BufferOn(double signal, double s) {
  BufferSedSettings& b = gBufferSedSettings;
  b = BufferSedSettings{};
  b.BufferSedOn = true;
  b.InterferenceNoteShown = true;
  b.BufferSignal = signal;
  b.SampleBufferS = s;
  PublishBufferSedimentation();
}

void AddNoise(unsigned seed) {
  ScanSet& ss = CurrentScanSet();
  std::mt19937 engine(seed);
  std::normal_distribution<float> noise(0.0f, 0.005f);
  for (int j = 1; j <= ss.count; ++j)
    for (int p = 1; p <= ss.points[j]; ++p) {
      ss.signals[j][p] += noise(engine);
      if (ss.gridSignals.size() > static_cast<size_t>(j) && ss.gridSignals[j] && ss.gridOwned)
        ss.gridSignals[j][p] = ss.signals[j][p];
    }
}

class BufferFit : public fittest::FitStateTest {
 protected:
  void SetUp() override {
    FitStateTest::SetUp();
    CurrentDataTypeFlags().interference = 1;
    ui_.lenient = true;
    WireBufferCorrection();
  }
  void TearDown() override {
    UnwireBufferCorrection();
    FitStateTest::TearDown();
  }
  platform::ScriptedUserInterface ui_;
  platform::ScopedUI scope_{ui_};
};

TEST_F(BufferFit, DiscreteSpeciesFitFindsTheBufferAgain) {
  const int scans = 16, points = 250;
  fittest::LoadEvenScans(scans, points, 600.0, 600.0);
  ScanSet& ss = CurrentScanSet();
  PrepareScanGrid();
  gModelParams.meniscus = gModelParameterVector.P[13] = 5.95f;
  ss.leftFitLimit = 6.02f;
  ss.rightFitLimit = 7.1f;
  fittest::SetOneSpecies(4.3f, 6.0f, 1.0f);
  ModelParams& mp = gModelParams;
  BufferOn(kSignal, kBufferS);
  Host host;
  SimulateModel(&host);
  for (int j = 1; j <= scans; ++j)
    for (int p = 1; p <= ss.points[j]; ++p) ss.signals[j][p] = ss.model[j][p];
  AddNoise(26);

  BufferOn(4.0, 0.17);
  gBufferSedSettings.FloatSampleS = true;
  mp.s[1] = 4.1f;
  mp.sFit[1] = 1;
  mp.concentrationFit[1] = 1;
  CheckBufferSedimentationModel();
  PackModelParameters();
  gFitEngineState.useSimplex = 0;
  gFitEngineState.useMarquardt = 1;
  ASSERT_EQ(FitCurrentModel(&host), 1);
  EXPECT_NEAR(gBufferSedSettings.BufferSignal, kSignal, 0.02 * kSignal);
  EXPECT_NEAR(gBufferSedSettings.SampleBufferS, kBufferS, 0.05 * kBufferS);
  EXPECT_NEAR(gModelParameterVector.P[5], 4.3f, 0.03f);
  EXPECT_NEAR(gFitEngineState.currentRmsd, 0.005f, 0.0004f);
  EXPECT_TRUE(host.boxes.empty()) << host.boxes[0];
}

TEST_F(BufferFit, ContinuousDistributionCarriesTheBufferInKernelOne) {
  runtest::Experiment e(16, 200);
  e.firstTime = 600;
  e.interval = 600;
  e.Build();
  runtest::SetGrid(0.3f, 10.3f, 21);  // 4.3 S is point 9
  ASSERT_TRUE(runtest::MakeSyntheticData(e, {{9, 1.0f}}));
  // The buffer component, from its own solver, on the common grid.
  ScanSet& ss = CurrentScanSet();
  BufferSedPass pass;
  pass.s = kBufferS;
  pass.D = 86e-7;
  pass.amplitude = kSignal;
  pass.meniscus = e.meniscus;
  pass.bottom = e.bottom;
  pass.rpm = e.rpm;
  for (int j = 1; j <= ss.count; ++j) pass.outputTimes.push_back(ss.records[j].time);
  CBufferSedSolver solver;
  solver.Run(pass, [&](int k, const double* c) {
    const double* xr = solver.Radii();
    const int j = k + 1;
    for (int i = 1; i <= ss.gridLength; ++i) {
      int n = 1;
      while (n < CBufferSedSolver::kNodes - 1 && xr[n + 1] < ss.grid[i]) ++n;
      const double v = c[n] + (c[n + 1] - c[n]) * (ss.grid[i] - xr[n]) / (xr[n + 1] - xr[n]);
      ss.signals[j][i] += static_cast<float>(v);
      ss.gridSignals[j][i] = ss.signals[j][i];
    }
  });
  e.AddGaussianNoise(0.005f, 1207);

  gFitEngineState.fitTINoise = 1;
  gModelParams.riNoiseFit = 1;
  PackModelParameters();
  Conti().maxEntropy = 0;
  Conti().confidenceLevel = 0.5f;
  BufferOn(30.0, kBufferS);  // floating: the run finds the amplitude
  RunContiSed();
  for (const auto& t : ui_.transcript) ADD_FAILURE() << t.caption << "|" << t.text;
  EXPECT_NEAR(gBufferSedSettings.BufferSignal, kSignal, 0.02 * kSignal);
  EXPECT_NEAR(ContiHooks().bufferConcentration, kSignal, 0.02 * kSignal);
  const ContiSettings& cs = Conti();
  double area = 0, mean = 0;
  for (int i = 2; i <= cs.gridSize; ++i)
    if (cs.sValues[i] > 3.0 && cs.sValues[i] < 6.0) {
      area += cs.distribution[i];
      mean += cs.distribution[i] * cs.sValues[i];
    }
  ASSERT_GT(area, 0);
  EXPECT_NEAR(mean / area, 4.3, 0.05);

  // A fixed amplitude enters with its value and is no result of the run:
  // the first species' amplitude must not overwrite it.
  gBufferSedSettings.FloatBufferSignal = false;
  gBufferSedSettings.BufferSignal = kSignal;
  PublishBufferSedimentation();
  RunContiSed();
  EXPECT_EQ(gBufferSedSettings.BufferSignal, kSignal);
  double species = 0;
  for (int i = 2; i <= cs.gridSize; ++i) species += cs.distribution[i] * (cs.sValues[2] - cs.sValues[1]);
  EXPECT_NEAR(species, 1.0, 0.03);
}

}  // namespace
