// The electrophoresis distributions: their kernels against the travelling
// boundary in closed form, c(v) and ls-g*(v) on scans that the discrete
// electrophoresis model made, the fit of the constant D, and the settings
// they refuse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "distributions/conti_fit.h"
#include "distributions/conti_fit_vector.h"
#include "distributions/conti_parameters.h"
#include "distributions/electrophoresis_kernels.h"
#include "fit/amplitudes.h"
#include "fit/fit_host.h"
#include "fit/lamm_grid.h"
#include "fit/model_evaluation.h"
#include "lamm/global/static_grid_lamm.h"
#include "lamm/lamm_settings.h"
#include "numerics/arrays.h"
#include "numerics/random.h"
#include "platform/scripted_ui.h"
#include "run_test_support.h"

using namespace runtest;

namespace {

using QuietHost = ContiWindowHost;

// Electrophoresis scans: rotor speed 1 rpm, times as read, a column of
// `length` cm from the meniscus at 6.0 cm, the c(v) model chosen with
// D = 5e-7 cm^2/s on a grid of 1 to 20 um/s.
struct ElectrophoresisRun : Experiment {
  ElectrophoresisRun(int m, int r, double first, double step, float length) : Experiment(m, r) {
    rpm = 1;
    firstTime = first;
    interval = step;
    meniscus = 6.0f;
    bottom = 6.0f + length;
    left = 6.02f;
    right = bottom - 0.1f;
    Build();
    for (int j = 1; j <= scans; ++j) CurrentScanSet().records[j].w2t = CurrentScanSet().records[j].time;
    DataTypeFlags& df = CurrentDataTypeFlags();
    df.electrophoresis = df.absorbance = 1;
    gModelParams.electrophoresisColumnLength = length;
    ChooseCv();
    ContiSettings& cs = Conti();
    cs.constantD = 5;
    cs.constantDSwitch = 1;
    cs.maxEntropy = 1;
    cs.confidenceLevel = 0.683f;
    SetGrid(1, 20, 100);
  }
  ~ElectrophoresisRun() {
    DataTypeFlags& df = CurrentDataTypeFlags();
    df.electrophoresis = df.absorbance = 0;
    FreeLammArrays();
    gModelSelectorFlags = ModelSelectorFlags{};
    LammSettings() = LammSolverSettings{};
  }
  static void ChooseCv() {
    ModelSelectorFlags& f = gModelSelectorFlags;
    f = ModelSelectorFlags{};
    f.DistributionModel = 1;
    f.ElectrophoresisCVModel = f.ElectrophoresisLammModel = 1;
  }
  static void ChooseLsgv() {
    ModelSelectorFlags& f = gModelSelectorFlags;
    f = ModelSelectorFlags{};
    f.DistributionModel = f.CSModel = f.LsgStarModel = f.ElectrophoresisLsgModel = 1;
  }

  // The discrete electrophoresis model's scans of species (v um/s, D
  // 1e-7 cm^2/s, signal) become the data, with Gaussian noise.
  struct Species {
    float v, D, c;
  };
  void DataFromTheDiscreteModel(const std::vector<Species>& species, float noise) {
    const ModelSelectorFlags chosen = gModelSelectorFlags;
    gModelSelectorFlags = ModelSelectorFlags{};
    gModelSelectorFlags.LammDiscreteModel = gModelSelectorFlags.ElectrophoresisLammModel = 1;
    LammSolverSettings& st = LammSettings();
    st.automaticAlgorithm = st.movingHatAlgorithm = 0;
    st.claverieAlgorithm = 1;
    st.automaticGridSize = 0;
    st.gridSize.setting = st.gridSize.inUse = 2000;
    float* P = gModelParameterVector.P;
    ModelParams& mp = gModelParams;
    mp.concentrationsLinear = 0;
    const unsigned char massParameters = gFitEngineState.molarMassParameters;
    gFitEngineState.molarMassParameters = 0;  // D, not M
    for (int k = 1; k <= kComponentSlots; ++k) {
      P[k] = P[4 + k] = P[8 + k] = 0;
      mp.included[k] = k <= static_cast<int>(species.size());
    }
    // The first concentration field is the total, the others fractions of it.
    float total = 0;
    for (const Species& sp : species) total += sp.c;
    for (size_t k = 0; k < species.size(); ++k) {
      P[1 + k] = species[k].D;
      P[5 + k] = species[k].v;
      P[9 + k] = k == 0 ? total : species[k].c / total;
    }
    QuietHost host;
    SimulateModel(&host);
    gFitEngineState.molarMassParameters = massParameters;
    EXPECT_TRUE(host.messages.empty()) << host.messages.front();
    FreeLammArrays();
    LammSettings() = LammSolverSettings{};
    ModelToData();
    AddGaussianNoise(noise, 11);
    for (float*& p : std::vector<float*>{P + 1, P + 5, P + 9}) p[0] = p[1] = 0;
    gModelSelectorFlags = chosen;
  }
};

double ScanTime(int j) { return CurrentScanSet().records[j].timeRead; }

// Area and mean velocity of the distribution between two velocities.
struct Peak {
  double area = 0, mean = 0;
};
Peak PeakBetween(double from, double to) {
  const ContiSettings& cs = Conti();
  Peak p;
  for (int i = 1; i < cs.gridSize; ++i) {
    const double x0 = cs.sValues[i], x1 = cs.sValues[i + 1];
    if (x0 < from || x1 > to) continue;
    const double a = 0.5 * (cs.distribution[i] + cs.distribution[i + 1]) * (x1 - x0);
    p.area += a;
    p.mean += a * 0.5 * (x0 + x1);
  }
  if (p.area > 0) p.mean /= p.area;
  return p;
}

struct ElectrophoresisTest : ::testing::Test {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope{ui};
};

constexpr double kPi = 3.141592653589793;

// exp(a) erfc(z), also where exp(a) alone overflows (a - z^2 <= 0 here).
double ExpErfc(double a, double z) {
  if (z < 5) return std::exp(a) * std::erfc(z);
  const double z2 = z * z;
  double sum = 1, term = 1;
  for (int k = 1; k <= 8; ++k) sum += term *= -(2.0 * k - 1) / (2 * z2);
  return std::exp(a - z2) * sum / (z * std::sqrt(kPi));
}

// The column loaded with 1 and driven at v (cm/s) away from a wall at x = 0
// that nothing crosses (v c - D c' = 0), no other end: the classical solution
// for a flux condition at the inlet,
//   1 - c = 1/2 erfc((x - v t)/2 sqrt(D t)) + sqrt(v^2 t / pi D) exp(-(x - v t)^2 / 4 D t)
//           - 1/2 (1 + v x / D + v^2 t / D) exp(v x / D) erfc((x + v t)/2 sqrt(D t)).
double DepletedFromTheWall(double x, double t, double v, double D) {
  const double w = 2 * std::sqrt(D * t);
  const double depleted = 0.5 * std::erfc((x - v * t) / w) +
                          std::sqrt(v * v * t / (kPi * D)) * std::exp(-(x - v * t) * (x - v * t) / (w * w)) -
                          0.5 * (1 + v * x / D + v * v * t / D) * ExpErfc(v * x / D, (x + v * t) / w);
  return 1 - depleted;
}

}  // namespace

TEST(MobilityKernelClosedForm, TheWallSolutionHoldsNearTheMeniscusAndAwayFromIt) {
  // At the meniscus itself (x = 0) the flux condition holds, and far beyond
  // the boundary the loading is untouched; with D -> 0 the sharp step.
  const double v = 1e-3, D = 5e-7, t = 300;
  const double h = 1e-6;
  const double slope = (DepletedFromTheWall(h, t, v, D) - DepletedFromTheWall(0, t, v, D)) / h;
  EXPECT_NEAR(v * DepletedFromTheWall(0, t, v, D), D * slope, 1e-6);
  EXPECT_NEAR(DepletedFromTheWall(0.8, t, v, D), 1.0, 1e-12);
  EXPECT_NEAR(DepletedFromTheWall(0.2, t, v, 1e-12), 0.0, 1e-9);
  EXPECT_NEAR(DepletedFromTheWall(0.4, t, v, 1e-12), 1.0, 1e-9);
}

TEST_F(ElectrophoresisTest, MobilityKernelFollowsTheTravellingBoundary) {
  // The defaults of a c(v) run: 30 scans every 25 s from 150 s, 400 points,
  // a column of 1.2 cm, fit limits 6.02 and 7.1 cm. Every kernel point
  // inside them agrees with the closed form within 3e-3 of the loading,
  // while the boundary and the pile-up at the bottom are far enough apart
  // for the column to count as open (the solver's steps alone lagged the
  // boundary by 0.5 of the loading with D = 1e-7 and 20 um/s before).
  struct Case {
    double D;  // cm^2/s
    double v;  // um/s
  };
  const Case cases[] = {{1e-7, 1}, {1e-7, 5}, {1e-7, 20}, {5e-7, 1}, {5e-7, 5},
                        {5e-7, 10}, {5e-7, 20}, {2e-6, 5}, {2e-6, 20}};
  ElectrophoresisRun e(30, 400, 150, 25, 1.2f);
  ASSERT_TRUE(AllocDistributionWorkArrays(1, e.scans, e.points));
  const ScanSet& sc = CurrentScanSet();
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "D " << c.D << " v " << c.v);
    {
      CMobilityKernels k(c.D);
      ASSERT_TRUE(k.Ready());
      ASSERT_EQ(k.Solve(1, c.v), 0);
      // A system is factorised for each remainder cut at a scan and each
      // growth of the rule's step; a return to a length solved before finds
      // its system kept (two per scan were factorised when only the last
      // was kept).
      EXPECT_LE(StaticGridFactorisationCount(), e.scans + 10);
      // The rows between the boundary and the layer at the bottom keep the
      // loading and stay out of the solve (a slow boundary solved nearly
      // every row at every step when only the depleted rows were left out).
      const double rowsPerStep =
          static_cast<double>(StaticGridSolvedRowCount()) / std::max(1, StaticGridStepCount());
      EXPECT_LT(rowsPerStep, 0.7 * k.Nodes());
      // Their systems are eliminated only as far as the solves reach: the
      // first steps, each of a length of its own, solve few rows (each
      // system was eliminated whole from both ends before).
      EXPECT_LT(static_cast<double>(StaticGridEliminatedRowCount()),
                0.5 * 2 * StaticGridFactorisationCount() * k.Nodes());
      // Fewer nodes than an even grid at the element Peclet limit.
      EXPECT_LT(k.Nodes(), ElectrophoresisGridSize(c.v, c.D, 1000));
    }
    const double v = c.v * 1e-4;
    double worst = 0;
    int compared = 0;
    for (int j = 1; j <= e.scans; ++j) {
      const double t = ScanTime(j);
      if (v * t + 5 * std::sqrt(2 * c.D * t) > 1.2 - 0.1) continue;
      for (int p = 1; p <= sc.gridLength; ++p) {
        const double x = sc.grid[p];
        if (x < 6.02 || x > 7.1 || (7.2 - x) * v / c.D < 10) continue;
        worst = std::max(worst, std::fabs(KernelRow(1, j)[p] - DepletedFromTheWall(x - 6.0, t, v, c.D)));
        ++compared;
      }
    }
    EXPECT_GT(compared, 1000);
    EXPECT_LT(worst, 3e-3);
  }
  // The solver's switches, step control and grid size are back as they were.
  const LammSolverSettings& st = LammSettings();
  EXPECT_TRUE(st.movingHatAlgorithm && !st.claverieAlgorithm && st.automaticAlgorithm);
  EXPECT_EQ(st.workingMaxDcOverC, 1.0);
  EXPECT_EQ(st.gridSize.inUse, 1000);
}

TEST_F(ElectrophoresisTest, MobilityKernelsDoNotDependOnTheModelSimulatedBefore) {
  // A discrete model simulated from its first scan as the initial
  // distribution leaves the first simulated scan at 2, the initial scan
  // captured and its switch on: the c(v) kernels computed next are those of
  // a fresh start, bit for bit, every scan's row from the even loading.
  ElectrophoresisRun e(30, 400, 150, 25, 1.2f);
  ASSERT_TRUE(AllocDistributionWorkArrays(1, e.scans, e.points));
  const ScanSet& sc = CurrentScanSet();
  auto kernels = [&] {
    CMobilityKernels k(5e-7);
    EXPECT_EQ(k.Solve(1, 5.0), 0);
    std::vector<float> rows;
    for (int j = 1; j <= e.scans; ++j) rows.insert(rows.end(), KernelRow(1, j) + 1, KernelRow(1, j) + 1 + sc.gridLength);
    return rows;
  };
  const std::vector<float> fresh = kernels();
  ASSERT_GT(fresh[200], 0.5f);  // scan 1 mid-column: still loaded
  struct Left {
    const char* what;
    int firstSimulatedScan;
    bool initialScan;
  };
  const Left cases[] = {{"first simulated scan 2", 2, false}, {"initial scan captured", 1, true},
                        {"both", 2, true}};
  for (const Left& c : cases) {
    SCOPED_TRACE(c.what);
    ScanSet& s = CurrentScanSet();
    gFirstSimulatedScan = c.firstSimulatedScan;
    if (c.initialScan) {
      LammSettings().experimentalInitialDistribution = 1;
      InitialDataScan& init = s.initialData;
      init.radii = vector(1, e.points);
      init.signals = vector(1, e.points);
      for (int p = 1; p <= e.points; ++p) {
        init.radii[p] = s.radii[1][p];
        init.signals[p] = 0.5f;
      }
      init.record = s.records[2];
      init.points = e.points;
    }
    for (int j = 1; j <= e.scans; ++j) std::fill(KernelRow(1, j) + 1, KernelRow(1, j) + 1 + sc.gridLength, -1.0f);
    const std::vector<float> after = kernels();
    gFirstSimulatedScan = 1;
    LammSettings().experimentalInitialDistribution = 0;
    FreeInitialDataScan(s);
    EXPECT_EQ(after, fresh);
  }
}

TEST(MobilityKernelGrid, FollowsTheBoundaryAndResolvesThePileUp) {
  // m = 6, b = 7.2, the width rule's spacing from sqrt(D t) at the first
  // scan (150 s): nodes in order from meniscus to bottom, finer near the end
  // the boundary leaves than in the middle, at most half the layer D / v at
  // the end the species piles up at, mirrored for a negative velocity.
  Experiment e(30, 400);
  e.rpm = 1;
  e.firstTime = 150;
  e.interval = 25;
  e.Build();
  gModelParams.meniscus = 6.0f;
  gModelParams.bottom = 7.2f;
  struct Case {
    double v, D;
  };
  const Case cases[] = {{20, 5e-7}, {5, 1e-7}, {1, 2e-6}, {-10, 5e-7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "v " << c.v << " D " << c.D);
    const std::vector<double> r = MobilityKernelRadii(c.v, c.D, 1000);
    const int n = static_cast<int>(r.size()) - 1;
    ASSERT_GT(n, 20);
    EXPECT_EQ(r[1], 6.0f);
    EXPECT_EQ(r[n], 7.2f);
    for (int i = 2; i <= n; ++i) ASSERT_GT(r[i], r[i - 1]) << i;
    const double layer = c.D / (std::fabs(c.v) * 1e-4);
    const double start = c.v > 0 ? r[2] - r[1] : r[n] - r[n - 1];
    const double pile = c.v > 0 ? r[n] - r[n - 1] : r[2] - r[1];
    const double middle = r[n / 2 + 1] - r[n / 2];
    EXPECT_LE(pile, 0.5 * layer + 1e-12);
    EXPECT_LE(start, middle);
    // Neighbouring elements differ by a quarter at most, away from the
    // stretch that puts the last node on the bottom.
    for (int i = 3; i < n; ++i) {
      const double q = (r[i] - r[i - 1]) / (r[i - 1] - r[i - 2]);
      EXPECT_LT(q, 1.3) << i;
      EXPECT_GT(q, 0.75) << i;
    }
  }
  // Without a velocity: the even grid of the width rule.
  const std::vector<double> even = MobilityKernelRadii(0, 5e-7, 1000);
  const int n = static_cast<int>(even.size()) - 1;
  EXPECT_EQ(n, ElectrophoresisGridSize(0, 5e-7, 1000));
  EXPECT_NEAR(even[2] - even[1], (7.2f - 6.0) / (n - 1), 1e-12);
}

TEST_F(ElectrophoresisTest, MigrationStepKernelMovesUndilutedAtConstantVelocity) {
  ElectrophoresisRun e(3, 400, 300, 300, 1.2f);
  ElectrophoresisRun::ChooseLsgv();
  ASSERT_TRUE(AllocDistributionWorkArrays(2, e.scans, e.points));
  ComputeMigrationStepKernel(1, 8.0);
  ComputeMigrationStepKernel(2, 0.0);
  const ScanSet& sc = CurrentScanSet();
  for (int j = 1; j <= e.scans; ++j) {
    const double rb = 6.0 + 8e-4 * ScanTime(j);
    for (int p = 1; p <= sc.gridLength; ++p) {
      EXPECT_EQ(KernelRow(1, j)[p], sc.grid[p] >= rb ? 1.0f : 0.0f) << j << " " << sc.grid[p];
      // A species that does not move shows its loading everywhere.
      EXPECT_EQ(KernelRow(2, j)[p], 1.0f);
    }
  }
  EXPECT_EQ(Conti().linearElectrophoresis, 0);
}

TEST_F(ElectrophoresisTest, CvAndLsgvFindTheSpeciesOfTheDiscreteModel) {
  // v 4 and 10 um/s, D 5e-7 cm^2/s, signals 0.4 and 0.6, noise 0.003.
  ElectrophoresisRun e(10, 300, 90, 40, 0.6f);
  SetGrid(1, 20, 50);
  e.DataFromTheDiscreteModel({{4, 5, 0.4f}, {10, 5, 0.6f}}, 0.003f);
  RunContiSed();
  ASSERT_TRUE(ui.failures.empty()) << ui.failures.front();
  ASSERT_EQ(Conti().gridSize, 50);
  // The grid is its own molar-mass axis.
  EXPECT_EQ(Conti().molarMasses[37], Conti().sValues[37]);
  Peak slow = PeakBetween(1, 7), fast = PeakBetween(7, 20);
  EXPECT_NEAR(slow.mean, 4, 0.02 * 4);
  EXPECT_NEAR(fast.mean, 10, 0.02 * 10);
  const double total = slow.area + fast.area;
  EXPECT_NEAR(slow.area / total, 0.4, 0.03);
  EXPECT_NEAR(fast.area / total, 0.6, 0.03);
  EXPECT_NEAR(total, 1.0, 0.05);

  // ls-g*(v) on a grid reaching past the fastest boundary the first scan
  // shows: (6.5 - 6.0) cm / 90 s = 55.6 um/s.
  ElectrophoresisRun::ChooseLsgv();
  SetGrid(1, 70, 70);
  RunContiSed();
  ASSERT_TRUE(ui.failures.empty()) << ui.failures.front();
  slow = PeakBetween(1, 7);
  fast = PeakBetween(7, 20);
  EXPECT_NEAR(slow.mean, 4, 0.05 * 4);
  EXPECT_NEAR(fast.mean, 10, 0.05 * 10);
  const ContiSettings& cs = Conti();
  const double cut = (CurrentScanSet().grid[CurrentScanSet().lastGridPoint] - 6.0) / (1e-4 * ScanTime(1));
  ASSERT_GT(cut, 50);
  for (int i = 1; i <= cs.gridSize; ++i) {
    if (cs.sValues[i] > cut) {
      EXPECT_EQ(cs.distribution[i], 0.0f) << cs.sValues[i];
    }
  }
}

TEST_F(ElectrophoresisTest, RunsRefuseSettingsWithoutAKernelAndSectorModels) {
  struct Case {
    const char* name;
    void (*set)();
    const char* message;
  };
  const Case cases[] = {
      {"equal ends", [] { SetGrid(20, 20, 50); }, "v min must be smaller than v max"},
      {"ends reversed", [] { SetGrid(20, 1, 50); }, "v min must be smaller than v max"},
      {"D of 0", [] { Conti().constantD = 0; }, "the constant D must be positive"},
      {"negative D", [] { Conti().constantD = -5; }, "the constant D must be positive"},
      {"no column", [] { gModelParams.electrophoresisColumnLength = 0; }, "the column length must be positive"},
      {"ls-g*(v) without column",
       [] {
         ElectrophoresisRun::ChooseLsgv();
         gModelParameterVector.P[14] = 5.9f;
       },
       "the column length must be positive"},
      {"c(s) on electrophoresis data",
       [] {
         gModelSelectorFlags = ModelSelectorFlags{};
         gModelSelectorFlags.DistributionModel = gModelSelectorFlags.CSModel = 1;
       },
       "not implemented for electrophoresis data"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ElectrophoresisRun e(3, 100, 300, 300, 0.6f);
    PackModelParameters();
    c.set();
    ui.ExpectBox("", c.message);
    RunContiSed();
    EXPECT_TRUE(ui.AllConsumed());
    EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();
    EXPECT_EQ(WorkBlock().lammSolutions, nullptr);
  }
}

TEST_F(ElectrophoresisTest, FitOfTheConstantDFindsTheDiffusionOfTheData) {
  ElectrophoresisRun e(8, 150, 90, 50, 0.6f);
  e.DataFromTheDiscreteModel({{4, 5, 0.4f}, {10, 5, 0.6f}}, 0.003f);
  float* P = gModelParameterVector.P;
  P[1] = 2;  // the species on grid points
  P[kComponentSlots + 1] = 12;
  P[2 * kComponentSlots + 1] = 11;
  P[2] = 0.683f;
  const FitEngineState saved = gFitEngineState;
  // The model's values reach the distribution settings through the parameter vector.
  RegisterContiParameterDerivation();
  FitEngineState& fs = gFitEngineState;
  fs.useSimplex = 1;
  fs.useMarquardt = fs.useAnnealing = 0;
  fs.stopRequested = 0;
  SeedGaussRandom(5);
  P[3] = 3;
  gModelParameterVector.F[3] = 1;
  UnpackModelParameters();
  ASSERT_EQ(Conti().resolution, 11.0f);
  ASSERT_EQ(Conti().constantD, 3.0f);
  QuietHost host;
  host.drawing = true;
  EXPECT_EQ(ContiFit(&host), 1);
  EXPECT_TRUE(host.messages.empty()) << host.messages.front();
  EXPECT_NEAR(Conti().constantD, 5.0, 0.1 * 5.0);
  // The progress shows the D being fitted.
  char line[40];
  std::snprintf(line, sizeof line, "D = %f        ", Conti().constantD);
  EXPECT_EQ(host.lines[110], line);
  EXPECT_EQ(P[3], Conti().constantD);
  EXPECT_NEAR(fs.currentRmsd, 0.003, 0.0005);
  // A trial step to a negative D lands on the smallest D that has a kernel.
  float vertex[2] = {0, 0};
  ASSERT_EQ(ContiParametersToFitVector(1, vertex), 1);
  vertex[1] = -2;
  ContiFitVectorToParameters(vertex);
  EXPECT_EQ(Conti().constantD, 0.01f);
  gFitEngineState = saved;
  ClearParameterDerivations();
}
