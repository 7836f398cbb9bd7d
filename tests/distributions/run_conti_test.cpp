#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "distributions/conti_fit.h"
#include "distributions/conti_lamm_list.h"
#include "distributions/conti_run.h"
#include "distributions/hydrodynamics.h"
#include "distributions/max_entropy.h"
#include "distributions/regularization_scaling.h"
#include "platform/input_events.h"
#include "platform/scripted_ui.h"
#include "run_test_support.h"

using namespace runtest;

namespace {

struct Moments {
  double area = 0, mean = 0;
};
Moments Range(double from, double to) {
  const ContiSettings& cs = Conti();
  Moments m;
  for (int i = 1; i <= cs.gridSize; ++i)
    if (cs.sValues[i] >= from && cs.sValues[i] < to) {
      m.area += Amplitude(i);
      m.mean += Amplitude(i) * cs.sValues[i];
    }
  if (m.area > 0) m.mean /= m.area;
  return m;
}

float TI(int i) { return 0.02f * std::sin(0.3f * i); }
float RI(int j) { return 0.05f * j - 0.1f; }

struct RunTest : ::testing::Test {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope{ui};
  void Unregularised() {
    Conti().maxEntropy = 0;
    Conti().confidenceLevel = 0.5f;
  }
  void NoiseModel(bool ti, bool ri) {
    gFitEngineState.fitTINoise = ti;
    gModelParams.riNoiseFit = ri;
    PackModelParameters();
  }
};

}  // namespace

TEST_F(RunTest, NoiselessGridSpeciesAreRecoveredExactly) {
  Experiment e(6, 100);
  ASSERT_TRUE(MakeSyntheticData(e, 1.0f, 10.0f, 16, {{4, 0.6f}, {11, 0.3f}}));
  Unregularised();
  RunContiSed();
  EXPECT_TRUE(ui.failures.empty()) << (ui.failures.empty() ? "" : ui.failures[0]);
  ExpectGridAmplitudes(16, {{4, 0.6}, {11, 0.3}}, 1e-5 * 0.6);
  // The model reproduces the data, the blocks are released.
  const ScanSet& s = CurrentScanSet();
  double worst = 0;
  for (int j = 1; j <= 6; ++j)
    for (int i = s.firstGridPoint; i <= s.lastGridPoint; ++i)
      worst = std::max(worst, static_cast<double>(std::fabs(s.model[j][i] - s.signals[j][i])));
  EXPECT_LT(worst, 1e-5);
  EXPECT_EQ(WorkBlock().lammSolutions, nullptr);
  // The solver switches after a run.
  const LammSolverSettings& ls = LammSettings();
  EXPECT_TRUE(ls.automaticAlgorithm && ls.claverieAlgorithm && !ls.movingHatAlgorithm && !ls.fixedTimeStep);
}

TEST_F(RunTest, TimeAndRadiallyInvariantNoiseIsEliminated) {
  Experiment e(6, 100);
  ASSERT_TRUE(MakeSyntheticData(e, 1.0f, 10.0f, 16, {{4, 0.6f}, {11, 0.3f}}));
  e.AddToData(TI, RI);
  Unregularised();
  NoiseModel(true, true);
  RunContiSed();
  NoiseModel(false, false);
  ExpectGridAmplitudes(16, {{4, 0.6}, {11, 0.3}}, 1e-4);
  // The noise found is the noise added, up to the constant that TI and RI share.
  const ScanSet& s = CurrentScanSet();
  const float offset = s.tiNoise[50] - TI(50);
  for (int i = s.firstGridPoint; i <= s.lastGridPoint; i += 7)
    EXPECT_NEAR(s.tiNoise[i] - TI(i), offset, 1e-4) << i;
  for (int j = 1; j <= 6; ++j) EXPECT_NEAR(s.riNoise[j] - RI(j), -offset, 1e-4) << j;
}

TEST_F(RunTest, OffGridSpeciesGivePeaksInPlace) {
  Experiment e(8, 120);
  // Data from a fine grid (0.1 S): species at 3.3 S and 7.6 S.
  ASSERT_TRUE(MakeSyntheticData(e, 1.0f, 10.0f, 91, {{24, 0.5f}, {67, 0.5f}}, 0.002f, 7));
  // Analysis on a coarse grid of 0.45 S with maximum entropy at P = 0.68.
  SetGrid(1.0f, 10.0f, 21);
  Conti().maxEntropy = 1;
  Conti().confidenceLevel = 0.68f;
  RunContiSed();
  const double h = 0.45;
  const Moments a = Range(1.0, 5.5), b = Range(5.5, 10.5);
  EXPECT_NEAR(a.area, 0.5, 0.02 * 0.5);
  EXPECT_NEAR(b.area, 0.5, 0.02 * 0.5);
  EXPECT_NEAR(a.mean, 3.3, 0.005 * 3.3);
  EXPECT_NEAR(b.mean, 7.6, 0.005 * 7.6);
  int peak = 1;
  for (int i = 1; i <= 10; ++i)
    if (Conti().distribution[i] > Conti().distribution[peak]) peak = i;
  EXPECT_LE(std::fabs(Conti().sValues[peak] - 3.3), h);
  // The regularisation reached its chi-square ratio.
  const MaxEntState& me = MaxEnt();
  EXPECT_NEAR(me.chiSquareCurrent / me.chiSquareReference, me.targetRatio, 1e-2 * me.targetRatio);
}

TEST_F(RunTest, TikhonovRegularisationReachesItsChiSquareRatio) {
  Experiment e(6, 100);
  ASSERT_TRUE(MakeSyntheticData(e, 1.0f, 10.0f, 16, {{4, 0.6f}, {11, 0.3f}}, 0.003f, 11));
  Conti().maxEntropy = 0;
  Conti().confidenceLevel = 0.95f;
  RunContiSed();
  const RegularizationState& st = Regularization();
  EXPECT_GT(st.targetRatio, 1.0f);
  EXPECT_NEAR(st.chiSquareCurrent / st.chiSquareReference, st.targetRatio,
              2e-3 * st.targetRatio);
}

TEST_F(RunTest, RefusalsAndTheirMessages) {
  {
    Experiment e(3, 50);
    CurrentScanSet().count = 0;  // nothing loaded: nothing computed, and said so
    ui.ExpectBox("ERROR", "load data first");
    RunContiSed();
    EXPECT_EQ(Conti().sValues, nullptr);
    CurrentScanSet().count = 3;
    gModelParams.meniscus = 0.0f;
    ui.ExpectBox("", "set Meniscus and Bottom first");
    RunContiSed();
    EXPECT_EQ(Conti().sValues, nullptr);  // stopped before any allocation
    // Every point taken out (by the spike filter, on loading).
    gModelParams.meniscus = 5.9f;
    ScanSet& sc = CurrentScanSet();
    for (int scan = 1; scan <= sc.count; ++scan) sc.lastFitPoint[scan] = sc.firstFitPoint[scan] - 1;
    ui.ExpectBox("ERROR", "no data points inside the fit limits");
    RunContiSed();
    EXPECT_EQ(Conti().sValues, nullptr);
  }
  {
    Experiment e(3, 50);
    CurrentDataTypeFlags().electrophoresis = 1;
    ui.ExpectBox("", "not implemented for electrophoresis data");
    RunContiSed();
    CurrentDataTypeFlags().electrophoresis = 0;
    // s of grid point 14 beyond the fastest s the first scan can show.
    SetGrid(10.0f, 105.0f, 20);
    ui.ExpectBox("", "sedimentation coefficient #20 (105.000S) is exceeding maximum observable s-values (101.650S)\n");
    RunContiSed();
  }
  {
    Experiment e(3, 50);
    CurrentScanSet().leftFitLimit = 0.0f;
    CurrentScanSet().rightFitLimit = 0.0f;
    SetGrid(1.0f, 5.0f, 5);
    Unregularised();
    ui.ExpectBox("Error", "possible problem with right limit in file run.ra1\nsetting right limit to 7.188");
    RunContiSed();
    // The cell ends, moved inside the data by the limit checks: the first
    // and the last radius of the scans.
    const ScanSet& sc = CurrentScanSet();
    EXPECT_FLOAT_EQ(sc.leftFitLimit, sc.grid[1]);
    EXPECT_FLOAT_EQ(sc.rightFitLimit, sc.grid[50]);
  }
  {
    // Nonideal c(s) is refused rather than computed as ideal species.
    Experiment e(3, 50);
    gModelSelectorFlags.NonidealCSModel = 1;
    SetGrid(1.0f, 5.0f, 5);
    ui.ExpectBox("ERROR", "Nonideal c(s) cannot be computed yet");
    RunContiSed();
    EXPECT_EQ(Conti().sValues, nullptr);
    gModelSelectorFlags.NonidealCSModel = 0;
  }
  EXPECT_TRUE(ui.failures.empty()) << ui.failures[0];
  EXPECT_TRUE(ui.AllConsumed());
}

TEST_F(RunTest, KeyPressDuringTheKernelsEndsWithoutAResult) {
  Experiment e(3, 50);
  SetGrid(1.0f, 5.0f, 6);
  Unregularised();
  platform::PostKeyDown('x');
  RunContiSed();
  EXPECT_TRUE(ui.transcript.empty());
  EXPECT_EQ(WorkBlock().lammSolutions, nullptr);
  EXPECT_FALSE(platform::StopFlag().load());
  EXPECT_EQ(CurrentScanSet().dataChanged, 1);
  platform::ClearInput();
}

namespace {
int KeyAfterKernels(const LammListJob& job) {
  const int code = DefaultLammListSolver()(job);
  platform::PostKeyDown('x');
  return code;
}
bool gStoppedAfterList = false;
int ListThenLook(const LammListJob& job) {
  const int code = DefaultLammListSolver()(job);
  gStoppedAfterList = platform::StopFlag().load();
  return code;
}
}  // namespace

// In the window a press reaches the key queue only when its events are
// delivered: the species list delivers them (one thread or several), so
// the key stops the kernels instead of waiting for the normal equations.
TEST_F(RunTest, AKeyDeliveredByTheEventPumpStopsTheSpeciesList) {
  Experiment e(3, 50);
  SetGrid(1.0f, 5.0f, 6);
  Unregularised();
  for (const bool threads : {false, true}) {
    SCOPED_TRACE(threads ? "on workers" : "on the calling thread");
    bool delivered = false;
    platform::SetEventPump([&] {
      if (!delivered) platform::PostKeyDown('x');
      delivered = true;
    });
    Conti().multipleThreads = threads ? 1 : 0;
    gStoppedAfterList = false;
    SetLammListSolver(ListThenLook);
    RunContiSed();
    SetLammListSolver(nullptr);
    platform::SetEventPump({});
    Conti().multipleThreads = 0;
    EXPECT_TRUE(delivered);
    EXPECT_TRUE(gStoppedAfterList);
    EXPECT_TRUE(ui.transcript.empty());
    EXPECT_FALSE(platform::StopFlag().load());
    platform::ClearInput();
  }
}

// A stop is what the user asked for: no error box, and the distribution of
// the Run before stays on the screen (not the cleared arrays of the new one),
// whether the key came during the kernels or during the normal equations.
TEST_F(RunTest, KeyPressDuringTheNormalEquationsKeepsTheDistributionBefore) {
  Experiment e(3, 50);
  ASSERT_TRUE(MakeSyntheticData(e, 1.0f, 5.0f, 6, {{3, 0.6f}}));
  Unregularised();
  RunContiSed();
  ASSERT_EQ(Conti().gridSize, 6);
  const std::vector<float> before(Conti().distribution + 1, Conti().distribution + 7);
  ASSERT_GT(before[2], 0.5f);
  for (const bool duringKernels : {false, true}) {
    SCOPED_TRACE(duringKernels ? "during the kernels" : "during the normal equations");
    if (duringKernels)
      platform::PostKeyDown('x');
    else
      SetLammListSolver(KeyAfterKernels);
    RunContiSed();
    SetLammListSolver(nullptr);
    EXPECT_TRUE(ui.failures.empty()) << ui.failures[0];
    EXPECT_TRUE(ui.transcript.empty());
    EXPECT_EQ(WorkBlock().lammSolutions, nullptr);
    EXPECT_FALSE(platform::StopFlag().load());
    EXPECT_EQ(std::vector<float>(Conti().distribution + 1, Conti().distribution + 7), before);
    platform::ClearInput();
  }
}

TEST_F(RunTest, SizeAndShapeDistributionFindsTheFrictionalRatio) {
  Experiment e(6, 100);
  ASSERT_TRUE(MakeSyntheticData(e, 1.0f, 10.0f, 10, {{3, 0.6f}, {8, 0.3f}}));  // f/f0 1.2
  ContiSettings& cs = SizeAndShape();
  Unregularised();
  RunContiSed();
  ASSERT_EQ(cs.grid2DSize, 30);
  double onRatio = 0, off = 0;
  for (int j = 1; j <= 30; ++j) (cs.grid2DFf[j] == 1.2f ? onRatio : off) += cs.grid2DAmplitude[j];
  EXPECT_NEAR(onRatio, 0.9, 2e-3);
  EXPECT_LT(off, 2e-3);
  EXPECT_NEAR(cs.grid2DAmplitude[13], 0.6, 2e-3);  // (s point 3, f/f0 point 2)
  // Each point's Stokes radius is the one of its own diffusion coefficient.
  EXPECT_NEAR(DFromStokesRadius(cs.grid2DStokes[13] * 1e-9f, 20.0f) / cs.grid2DD[13], 1.0, 1e-5);
  // The displayed c(s) is the marginal over f/f0, as a density.
  EXPECT_NEAR(Amplitude(3), 0.6, 2e-3);
  // A second run on the same grid reuses kernels and equations.
  RunContiSed();
  EXPECT_EQ(cs.csffRecompute, 0);
  EXPECT_NEAR(Amplitude(8), 0.3, 2e-3);
  gModelSelectorFlags.CSff0Model = 0;
}

// Reads whitespace-separated numbers of one exported file.
std::vector<double> ReadNumbers(const std::filesystem::path& file) {
  std::vector<double> v;
  std::ifstream in(file);
  double x;
  while (in >> x) v.push_back(x);
  return v;
}

TEST_F(RunTest, ExportedMatricesOfTheSizeAndShapeGridArePairs) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() /
      ("tarnel_export_" + std::to_string(::getpid()) + "_" +
       ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::filesystem::create_directories(folder);
  const char* oldTmp = std::getenv("TMPDIR");
  const std::string savedTmp = oldTmp ? oldTmp : "";
  setenv("TMPDIR", folder.c_str(), 1);
  Experiment e(6, 100);
  ASSERT_TRUE(MakeSyntheticData(e, 1.0f, 10.0f, 10, {{3, 0.6f}}));
  ContiSettings& cs = SizeAndShape();
  cs.exportMatrices = 1;
  Unregularised();
  RunContiSed();
  cs.exportMatrices = 0;
  gModelSelectorFlags.CSff0Model = 0;
  gModelSelectorFlags.CSModel = 1;
  if (oldTmp) setenv("TMPDIR", savedTmp.c_str(), 1); else unsetenv("TMPDIR");
  ASSERT_EQ(cs.grid2DSize, 30);
  EXPECT_EQ(ReadNumbers(folder / "dim.txt"), std::vector<double>{2.0});
  EXPECT_EQ(ReadNumbers(folder / "ngrid.txt"), std::vector<double>{30.0});
  const std::vector<double> grid = ReadNumbers(folder / "grid.txt");
  ASSERT_EQ(grid.size(), 60u);
  for (int j = 1; j <= 30; ++j) {
    EXPECT_FLOAT_EQ(grid[2 * (j - 1)], cs.grid2DS[j]) << j;
    EXPECT_FLOAT_EQ(grid[2 * (j - 1) + 1], cs.grid2DFf[j]) << j;
  }
  EXPECT_EQ(ReadNumbers(folder / "vector.txt").size(), 30u);
  EXPECT_EQ(ReadNumbers(folder / "matrix.txt").size(), 900u);
  // The solved amplitudes go beside them, one per 2-D grid point.
  const std::vector<double> values = ReadNumbers(folder / "distribution.txt");
  ASSERT_EQ(values.size(), 30u);
  double sum = 0;
  for (int j = 1; j <= 30; ++j) {
    EXPECT_NEAR(values[j - 1], cs.grid2DAmplitude[j], 1e-5 * (1 + std::fabs(cs.grid2DAmplitude[j]))) << j;
    sum += values[j - 1];
  }
  EXPECT_NEAR(sum, 0.6, 0.05);  // the loading of the one species
  std::filesystem::remove_all(folder);
}

TEST_F(RunTest, MassDistributionOnItsMassGrid) {
  Experiment e(6, 100);
  gModelSelectorFlags.CSModel = 0;
  ASSERT_TRUE(MakeSyntheticData(e, 20000.0f, 400000.0f, 12, {{5, 0.5f}}));
  Unregularised();
  RunContiSed();
  const ContiSettings& cs = Conti();
  // s of each mass point follows from M and D at f/f0 1.2.
  const float M5 = cs.molarMasses[5];
  EXPECT_NEAR(cs.sValues[5] / SFromMD(M5, DFromMGlobalFf0(M5, 20.0f), 20.0f), 1.0, 1e-6);
  double total = 0;
  for (int i = 1; i <= 12; ++i) {
    const double w = i == 1 ? (cs.molarMasses[2] - cs.molarMasses[1]) / 2
                     : i == 12 ? (cs.molarMasses[12] - cs.molarMasses[11]) / 2
                               : (cs.molarMasses[i + 1] - cs.molarMasses[i - 1]) / 2;
    total += cs.distribution[i] * w;
    if (i != 5) {
      EXPECT_NEAR(cs.distribution[i] * w, 0.0, 1e-5) << i;
    }
  }
  EXPECT_NEAR(total, 0.5, 1e-5);
  gModelSelectorFlags.CSModel = 1;
}

TEST_F(RunTest, LsgKernelsAreSharpBoundaries) {
  Experiment e(5, 120);
  gModelSelectorFlags.CSModel = 0;
  gModelSelectorFlags.LsgStarModel = 1;
  CurrentScanSet().fitLimitQuestionAsked = 1;
  ASSERT_TRUE(MakeSyntheticData(e, 2.0f, 12.0f, 11, {{3, 0.4f}, {8, 0.2f}}));
  // A 4 S step diluted radially, in the last scan.
  const ScanSet& s = CurrentScanSet();
  const double k = 4e-13 * s.records[5].w2t;
  const double plateau = 0.4 * std::exp(-2 * k);
  const int inside = 100;  // well behind both boundaries
  ASSERT_GT(s.grid[inside], 6.0 * std::exp(12e-13 * s.records[5].w2t) + 0.02);
  EXPECT_NEAR(s.gridSignals[5][inside], plateau + 0.2 * std::exp(-2 * 9e-13 * s.records[5].w2t), 2e-3);
  EXPECT_NEAR(s.gridSignals[5][10], 0.0, 1e-3);  // ahead of every boundary
  Unregularised();
  RunContiSed();
  ExpectGridAmplitudes(11, {{3, 0.4}, {8, 0.2}}, 1e-4);
  gModelSelectorFlags.LsgStarModel = 0;
}

TEST_F(RunTest, ResultsDoNotDependOnTheThreadCount) {
  Experiment e(4, 80);
  ASSERT_TRUE(MakeSyntheticData(e, 1.0f, 10.0f, 12, {{4, 0.6f}, {9, 0.3f}}, 0.003f, 5));
  Conti().maxEntropy = 1;
  Conti().confidenceLevel = 0.68f;
  // The models of the scans too: they are formed on the workers, a scan each.
  const ScanSet& s = CurrentScanSet();
  auto models = [&s] {
    std::vector<float> m;
    for (int j = 1; j <= s.count; ++j) {
      m.insert(m.end(), s.model[j] + 1, s.model[j] + 1 + s.points[j]);
      m.insert(m.end(), s.gridModel[j] + 1, s.gridModel[j] + 1 + s.gridLength);
    }
    return m;
  };
  for (const bool noise : {false, true}) {
    NoiseModel(noise, noise);
    RunContiSed();
    std::vector<float> one(Conti().distribution + 1, Conti().distribution + 13);
    const std::vector<float> oneModels = models();
    const int saved = LammListThreads();
    for (const int threads : {2, 3, 8}) {
      LammListThreads() = threads;
      Conti().multipleThreads = 1;
      Conti().normalEquationThreads = threads;
      RunContiSed();
      Conti().multipleThreads = 0;
      LammListThreads() = saved;
      for (int i = 1; i <= 12; ++i)
        EXPECT_EQ(Conti().distribution[i], one[i - 1]) << noise << ", " << threads << " threads, " << i;
      EXPECT_TRUE(models() == oneModels) << noise << ", " << threads << " threads";
    }
  }
  NoiseModel(false, false);
}

namespace {
int DiscretizationFailure(const LammListJob& job) {
  DefaultLammListSolver()(job);
  return 2;
}
}  // namespace

TEST_F(RunTest, SolverAndGridFailuresAreTold) {
  {
    Experiment e(3, 50);
    SetGrid(1.0f, 5.0f, 5);
    Unregularised();
    SetLammListSolver(DiscretizationFailure);
    // The list's error report, then the run's own note.
    ui.ExpectBox("DISCRETIZATION ERROR", "change grid size and readjust max dc/c");
    ui.ExpectBox("ERROR in simulation", "discretization error");
    RunContiSed();
    SetLammListSolver(nullptr);
  }
  {
    Experiment e(3, 50);
    gModelSelectorFlags.CSModel = 0;
    gModelSelectorFlags.CSff0Model = 1;
    Conti().ffResolution = 2;
    SetGrid(0.0f, 5.0f, 6);  // s = 0 has no mass and no D
    ui.ExpectBox("", "error: D = 0 encountered species #1");
    RunContiSed();
    gModelSelectorFlags.CSff0Model = 0;
  }
  EXPECT_TRUE(ui.failures.empty()) << ui.failures[0];
  EXPECT_TRUE(ui.AllConsumed());
}

// A first scan whose rotor accelerated too slowly suggests a low-speed phase
// before full speed: after the solver's refusal the user is led to the
// timing correction, whichever list runner solved the species.
TEST_F(RunTest, ATooSlowAccelerationLeadsToTheTimingCorrection) {
  for (const bool threads : {false, true}) {
    SCOPED_TRACE(threads ? "worker threads" : "one thread");
    Experiment e(3, 50);
    SetGrid(1.0f, 5.0f, 5);
    Unregularised();
    Conti().multipleThreads = threads;
    CurrentScanSet().records[1].acceleration = 50.0f;  // rpm/s
    ASSERT_TRUE(LammSettings().checkRotorAcceleration && LammSettings().rampRotorSpeed);
    ui.ExpectBox("Error", "too slow rotor acceleration")
        .ExpectBox("ERROR", "possible error: initial low-speed phase before full acceleration?", platform::IDYES)
        .ExpectBox("ERROR", "was the low-speed phase already temperature equilibrated?", platform::IDNO)
        .ExpectBox("ERROR in simulation",
                   "possible error in setup: SV requires temperature equilibration at 0 rpm in RUN mode (please "
                   "refer to experimental protocol)\n --> please switch to \"times from wwt\" in Lamm equation "
                   "parameters (Options menu)\n(this is suboptimal and prohibits simulating of the rotor "
                   "acceleration phase, but is a fix to analyze this data)");
    RunContiSed();
    EXPECT_EQ(LammSettings().listError, 5);
    EXPECT_TRUE(ui.failures.empty()) << ui.failures[0];
    EXPECT_TRUE(ui.AllConsumed());
    platform::StopFlag() = false;
  }
}

// A meniscus moved into the fitted data makes the solver refuse every grid
// species; a fit that scored such a parameter set on its empty kernels could
// settle there.
TEST_F(RunTest, RefusedSpeciesGiveNoDistributionAndNoMisfit) {
  Experiment e(4, 60);
  SetGrid(1.0f, 5.0f, 5);
  Unregularised();
  ASSERT_TRUE(MakeSyntheticData(e, {{3, 0.5f}}));
  RunContiSed();
  ASSERT_EQ(Conti().lastRunFailed, 0);
  ASSERT_TRUE(SetupContiGrid());
  EXPECT_LT(ContiSimplexSim(nullptr, nullptr), 1e-3f);

  ui.lenient = true;  // the solver tells its refusal once per species
  gModelParams.meniscus = 6.2f;  // beyond the left fit limit 6.05
  PackModelParameters();
  RunContiSed();
  EXPECT_EQ(Conti().lastRunFailed, 1);
  EXPECT_EQ(LammSettings().listError, 4);
  EXPECT_EQ(WorkBlock().lammSolutions, nullptr);
  bool told = false;
  for (const auto& t : ui.transcript) told = told || t.caption == "ERROR in simulation";
  EXPECT_TRUE(told);

  ASSERT_TRUE(SetupContiGrid());
  EXPECT_EQ(ContiSimplexSim(nullptr, nullptr), 1e10f);
}

TEST_F(RunTest, BothRegularisationsAreShown) {
  Experiment e(5, 80);
  ASSERT_TRUE(MakeSyntheticData(e, 1.0f, 10.0f, 12, {{4, 0.6f}, {9, 0.3f}}, 0.003f, 9));
  ContiSettings& cs = Conti();
  cs.showBothRegularizations = 1;
  cs.confidenceLevel = 0.9f;
  RunContiSed();
  cs.showBothRegularizations = 0;
  double a = 0, b = 0, diff = 0;
  for (int i = 1; i <= 12; ++i) {
    a += cs.distribution[i];
    b += cs.companionDistribution[i];
    diff += std::fabs(cs.distribution[i] - cs.companionDistribution[i]);
  }
  EXPECT_GT(b, 0.0);
  EXPECT_NEAR(a / b, 1.0, 0.05);  // both carry the same signal
  EXPECT_GT(diff, 1e-4);         // by different regularisations
}

TEST_F(RunTest, InterruptedRunLeavesTheBufferConcentrationAlone) {
  Experiment e(3, 50);
  SetGrid(1.0f, 5.0f, 6);
  Unregularised();
  NoiseModel(true, true);
  ContiHooks().bufferCorrection = true;
  ContiHooks().bufferConcentration = 0.77;
  SetLammListSolver(KeyAfterKernels);
  RunContiSed();
  SetLammListSolver(nullptr);
  EXPECT_EQ(ContiHooks().bufferConcentration, 0.77);
  ContiHooks().bufferCorrection = false;
  NoiseModel(false, false);
  EXPECT_TRUE(ui.failures.empty()) << ui.failures[0];
  platform::ClearInput();
}

TEST_F(RunTest, HybridDiffusesBelowItsThresholdAndStepsAbove) {
  Experiment e(6, 100);
  SetGrid(1.0f, 10.0f, 16);
  // Two diffusing species (f/f0 1.2) of 2.8 S and 7.0 S.
  ASSERT_TRUE(MakeSyntheticData(e, {{4, 0.6f}, {11, 0.3f}}));
  Unregularised();
  auto run = [](bool hybrid, float threshold) {
    ModelSelectorFlags& f = gModelSelectorFlags;
    f.CSModel = hybrid;
    f.HybridCSLsgModel = hybrid;
    f.LsgStarModel = !hybrid;
    Conti().hybridThreshold = threshold;
    Conti().hybridDiscrete = 0;
    RunContiSed();
    std::vector<double> a;
    for (int i = 1; i <= Conti().gridSize; ++i) a.push_back(Amplitude(i));
    return a;
  };
  // Above the whole grid every point diffuses: the species comes back exactly.
  const std::vector<double> diffusing = run(true, 100.0f);
  const std::vector<double> lsg = run(false, 0.0f);
  for (int i = 1; i <= 16; ++i)
    EXPECT_NEAR(diffusing[i - 1], i == 4 ? 0.6 : i == 11 ? 0.3 : 0.0, 1e-4) << i;
  // Step functions cannot: ls-g*(s) spreads the boundaries over their neighbours.
  double spread = 0;
  for (int i = 1; i <= 16; ++i)
    if (i != 4 && i != 11) spread += std::fabs(lsg[i - 1]);
  EXPECT_GT(spread, 0.05);
  // With the threshold below the grid the hybrid is ls-g*(s) itself.
  const std::vector<double> steps = run(true, 0.5f);
  for (int i = 1; i <= 16; ++i) EXPECT_NEAR(steps[i - 1], lsg[i - 1], 1e-6) << i;
  gModelSelectorFlags.HybridCSLsgModel = 0;
  EXPECT_TRUE(ui.failures.empty()) << ui.failures[0];
}
