// The equilibrium model against scans made in closed form: exponentials of
// known buoyant mass with injected TI and RI noise.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "distributions/work_blocks.h"
#include "eq_lsq.h"
#include "eq_scans.h"
#include "equilibrium/eqtools/equilibrium_model.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/rmsd.h"
#include "fit/serial_fit_settings.h"
#include "fit/fit_end.h"
#include "numerics/random.h"
#include "platform/input_events.h"
#include "platform/scripted_ui.h"
#include "tests/support/fit_state.h"

namespace {

constexpr double kMb = 13500;  // 50 kDa, vbar rho 0.73
constexpr double kR0 = 7.05;
const double kSpeeds[] = {10000, 15000, 20000};
const double kLoadings[] = {0.3, 0.8};

double Ti(double r) { return 0.02 * std::sin(20 * r); }
double Ri(int k) { return 0.01 * k - 0.03; }
double Amplitude(int k) { return kLoadings[(k - 1) % 2]; }

std::vector<float> Radii() {
  std::vector<float> r;
  for (int i = 0; i < 141; ++i) r.push_back(static_cast<float>(6.91 + 0.002 * i));
  return r;
}

// Six scans: 10/15/20 krpm x two loadings, noise of sd `noise` when > 0.
void LoadClosedForm(double noise = 0, unsigned seed = 1) {
  std::mt19937 gen(seed);
  std::normal_distribution<double> gauss(0, noise > 0 ? noise : 1);
  std::vector<eqtest::Scan> scans;
  for (int k = 1; k <= 6; ++k) {
    eqtest::Scan s;
    s.r = Radii();
    s.rpm = static_cast<float>(kSpeeds[(k - 1) / 2]);
    for (float r : s.r) {
      double v = Amplitude(k) * EquilibriumExponential(r, kMb, s.rpm, 20, kR0) + Ti(r) + Ri(k);
      if (noise > 0) v += gauss(gen);
      s.y.push_back(static_cast<float>(v));
    }
    scans.push_back(s);
  }
  eqtest::Load(scans, 6.9f, 7.2f, 6.91f, 7.19f);
}

struct ModelFixture : ::testing::Test {
  void SetUp() override {
    teststate::ResetFitState();
    gSolutionConditions.vbarRho = 0.73f;
    SetMass(50000);
    gModelParameterVector.F[1] = 1;
  }
  void TearDown() override { eqtest::Clear(); }
  static void SetMass(float m) { gModelParams.massOrD[1] = gModelParameterVector.P[1] = m; }
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope{ui};
};

TEST_F(ModelFixture, TrueMassGivesAmplitudesAndBothNoiseComponents) {
  LoadClosedForm();
  ASSERT_TRUE(RunEquilibrium(nullptr));
  EXPECT_LT(EqModelState().lastRmsd, 1e-5);
  EXPECT_TRUE(gModelSelectorFlags.EquilibriumModel284);
  const ScanSet& ss = CurrentScanSet();
  // The TI profile is defined up to a constant that the RI offsets absorb:
  // the solution has the TI of zero mean over the fit range.
  double tiMean = 0;
  for (int i = ss.firstGridPoint; i <= ss.lastGridPoint; ++i) tiMean += Ti(ss.grid[i]);
  tiMean /= ss.lastGridPoint - ss.firstGridPoint + 1;
  for (int i = ss.firstGridPoint; i <= ss.lastGridPoint; ++i)
    EXPECT_NEAR(ss.tiNoise[i], Ti(ss.grid[i]) - tiMean, 2e-5) << i;
  for (int k = 1; k <= 6; ++k) {
    EXPECT_NEAR(ss.riNoise[k], Ri(k) + tiMean, 2e-5) << k;
    // The model is the data.
    for (int i = 1; i <= ss.points[k]; ++i) EXPECT_NEAR(ss.model[k][i], ss.signals[k][i], 2e-5);
  }
}

TEST_F(ModelFixture, AmplitudesAreTheLoadingsAtTheReferenceRadius) {
  LoadClosedForm();
  ASSERT_TRUE(AllocEquilibriumWorkArrays());
  EqModelState().inFit = true;
  RunEquilibrium(nullptr);
  EqModelState().inFit = false;
  for (int k = 1; k <= 6; ++k) EXPECT_NEAR(NeqBlock().solution[k], Amplitude(k), 1e-5) << k;
  FreeEquilibriumWorkArrays();
}

TEST_F(ModelFixture, WrongMassRaisesTheRmsdOnBothSides) {
  LoadClosedForm();
  for (double f : {0.95, 1.05}) {
    SetMass(static_cast<float>(50000 * f));
    RunEquilibrium(nullptr);
    EXPECT_GT(EqModelState().lastRmsd, 1e-3) << f;
    EXPECT_LT(EqModelState().lastRmsd, 2e-2) << f;
  }
}

TEST_F(ModelFixture, FitFindsTheMassFromNoisyScans) {
  LoadClosedForm(0.005, 7);
  SeedGaussRandom(11);
  SetMass(40000);
  RunEquilibrium(nullptr);
  FitEquilibrium(nullptr);
  EXPECT_NEAR(gModelParams.massOrD[1], 50000, 250);
  EXPECT_EQ(gModelParams.massOrD[1], gModelParameterVector.P[1]);
  // 846 points less 6 amplitudes, 141 TI and 6 RI values (one shared).
  EXPECT_NEAR(EqModelState().lastRmsd, 0.005 * std::sqrt(694.0 / 846.0), 4e-4);
  EXPECT_EQ(LastFitEnd().kind, FitEndKind::Reached) << LastFitEnd().text;
}

// Restarts that never agree (a tolerance below 0, which no change meets; a
// tolerance of 0 is met by a restart that kept its best vertex) end at their count, and the
// fit says so as every other fit does, in a serial fit with its error code;
// the best mass found is kept.
TEST_F(ModelFixture, RestartsThatNeverSettleEndAtTheirNamedLimit) {
  LoadClosedForm(0.005, 7);
  SeedGaussRandom(11);
  SetMass(40000);
  RunEquilibrium(nullptr);
  gFitEngineState.maxRelativeChange = -1.0f;
  gSerialFitSettings.running = 1;
  FitEquilibrium(nullptr);
  gSerialFitSettings.running = 0;
  EXPECT_GT(gFitEngineState.minimiserRuns, kMaxEquilibriumRestarts);
  EXPECT_EQ(LastFitEnd().kind, FitEndKind::Limit);
  EXPECT_EQ(LastFitEnd().text,
            "the fit did not settle in 50 restarts: the best parameters found are kept; a second Fit continues from "
            "there");
  EXPECT_EQ(gSerialFitSettings.errorCode, 10);
  EXPECT_NEAR(gModelParams.massOrD[1], 50000, 250);
}

TEST_F(ModelFixture, FitWithoutFloatedMassOnlyComputesTheModel) {
  LoadClosedForm();
  gModelParameterVector.F[1] = 0;
  SetMass(45000);
  FitEquilibrium(nullptr);
  EXPECT_EQ(gModelParams.massOrD[1], 45000);
  EXPECT_GT(EqModelState().lastRmsd, 1e-3);
  EXPECT_NE(CurrentScanSet().model[1][1], 0.0f);
}

// The collapsed sums of the normal equations equal the written triple loop.
TEST_F(ModelFixture, NormalEquationsEqualTheTripleLoop) {
  std::mt19937 gen(3);
  std::uniform_real_distribution<double> u(0, 1);
  std::vector<eqtest::Scan> scans;
  for (int k = 0; k < 5; ++k) {
    eqtest::Scan s;
    s.r = Radii();
    for (size_t i = 0; i < s.r.size(); ++i) s.y.push_back(static_cast<float>(u(gen)));
    s.rpm = static_cast<float>(10000 + 2000 * k);
    scans.push_back(s);
  }
  eqtest::Load(scans, 6.9f, 7.2f, 6.93f, 7.17f);
  ASSERT_TRUE(AllocEquilibriumWorkArrays());
  EqModelState().inFit = true;
  RunEquilibrium(nullptr);
  EqModelState().inFit = false;
  const ScanSet& ss = CurrentScanSet();
  const NormalEquationBlock& b = NeqBlock();
  const int n = 5, gL = ss.firstGridPoint, gR = ss.lastGridPoint, m = gR - gL + 1;
  std::vector<double> ym(n + 1), bm(n + 1), yr(gR + 1);
  double yall = 0;
  for (int k = 1; k <= n; ++k)
    for (int i = gL; i <= gR; ++i) {
      ym[k] += ss.gridSignals[k][i] / m;
      bm[k] += KernelRow(k, 1)[i] / m;
      yr[i] += ss.gridSignals[k][i] / n;
      yall += ss.gridSignals[k][i] / (m * n);
    }
  std::vector<std::vector<double>> A(n + 1, std::vector<double>(n + 1));
  std::vector<double> rhs(n + 1);
  double S = 0;
  for (int j = 1; j <= n; ++j)
    for (int k = 1; k <= n; ++k)
      for (int i = gL; i <= gR; ++i) {
        const double yt = ss.gridSignals[k][i] - yr[i] - ym[k] + yall;
        const double uj = ((j == k) - 1.0 / n) * (KernelRow(j, 1)[i] - bm[j]);
        for (int l = 1; l <= n; ++l) A[j][l] += uj * ((l == k) - 1.0 / n) * (KernelRow(l, 1)[i] - bm[l]);
        rhs[j] += uj * yt;
        if (j == 1) S += yt * yt;
      }
  for (int j = 1; j <= n; ++j) {
    EXPECT_NEAR(b.rhs[j], rhs[j], 1e-12 * (1 + std::fabs(rhs[j])));
    for (int l = 1; l <= n; ++l) EXPECT_NEAR(b.normalMatrix[j][l], A[j][l], 1e-12 * (1 + std::fabs(A[j][l])));
  }
  EXPECT_NEAR(b.sumSquaresData, S, 1e-12 * S);
  FreeEquilibriumWorkArrays();
}

TEST_F(ModelFixture, OneScanKeepsItsShapeAndTheFitEnds) {
  LoadClosedForm();
  std::vector<eqtest::Scan> one(1);
  one[0].r = Radii();
  for (float r : one[0].r) one[0].y.push_back(static_cast<float>(0.5 * EquilibriumExponential(r, kMb, 15000, 20, kR0) + 0.1));
  eqtest::Load(one, 6.9f, 7.2f, 6.91f, 7.19f);
  SetMass(45000);
  RunEquilibrium(nullptr);
  EXPECT_GT(EqModelState().lastRmsd, 1e-4);  // the shape still counts
  FitEquilibrium(nullptr);
  EXPECT_NEAR(gModelParams.massOrD[1], 50000, 100);
  EXPECT_LT(EqModelState().lastRmsd, 1e-5);
  EXPECT_NEAR(CurrentScanSet().riNoise[1], 0.1, 1e-5);
}

TEST_F(ModelFixture, ExponentBeyondFloatRangeIsAFailedEvaluation) {
  LoadClosedForm();
  SetMass(5e7);
  ASSERT_TRUE(RunEquilibrium(nullptr));
  EXPECT_EQ(EqModelState().lastRmsd, 1e10);
  for (int i = 1; i <= CurrentScanSet().points[1]; ++i) EXPECT_TRUE(std::isfinite(CurrentScanSet().model[1][i]));
}

TEST_F(ModelFixture, RefusalsWithoutCellOrDiffusionCoefficient) {
  LoadClosedForm();
  gFitEngineState.molarMassParameters = 0;
  SetMass(0);  // D
  gModelParams.s[1] = gModelParameterVector.P[5] = 4;
  ui.ExpectBox("", "diffusion coefficient of species 1 must be positive");
  EXPECT_FALSE(RunEquilibrium(nullptr));
  gModelParams.meniscus = gModelParameterVector.P[13] = 0;
  ui.ExpectBox("", "set Meniscus and Bottom first");
  EXPECT_FALSE(RunEquilibrium(nullptr));
  EXPECT_TRUE(ui.failures.empty());
  EXPECT_TRUE(ui.AllConsumed());
}

TEST_F(ModelFixture, SedimentationAndDiffusionGiveTheBuoyantMass) {
  gFitEngineState.molarMassParameters = 0;
  gModelParams.s[1] = 4;
  gModelParams.massOrD[1] = 6;  // 1e-7 cm^2/s
  double mb = 0;
  ASSERT_TRUE(CurrentBuoyantMass(20, &mb));
  EXPECT_NEAR(mb, 4e-13 * 293.15 * 8.31451e7 / 6e-7, 1e-6 * mb);
}

// One species of 75 kDa (vbar rho 0.7287) at 8000, 11000 and 15000 rpm over a
// 3 mm column: c(r) = c0 exp(M (1 - vbar rho) w^2 (r^2 - r0^2) / (2RT)), the
// loading at r0 falling with the speed as mass conservation wants, radii
// offset from scan to scan as a real instrument records them, and noise of
// 0.005 OD from a fixed seed.
struct MultiSpeed {
  int scansPerSpeed = 1;
  bool systematic = true;  // TI profile and RI offsets in the data
  double left = 6.91, right = 7.19;
  bool mixedOrder = false;  // speeds not in the order of the scan times
  bool oneSpeed = false;    // all at 15000 rpm, loadings 0.3, 0.5 and 0.8
};
constexpr double kMb75 = 75000 * (1 - 0.7287);

void LoadMultiSpeed(const MultiSpeed& c) {
  std::mt19937 gen(17);
  std::normal_distribution<double> gauss(0, 0.005);
  const double speeds[] = {8000, 11000, 15000}, loading[] = {0.62, 0.55, 0.45};
  const double dilutions[] = {0.3, 0.5, 0.8};
  const double times[] = {2000, 3000, 1000};
  std::vector<eqtest::Scan> scans;
  int k = 0;
  for (int v = 0; v < 3; ++v)
    for (int q = 0; q < c.scansPerSpeed; ++q) {
      eqtest::Scan s;
      const double rpm = c.oneSpeed ? 15000 : speeds[v], c0 = c.oneSpeed ? dilutions[v] : loading[v];
      s.rpm = static_cast<float>(rpm);
      s.time = (c.mixedOrder ? times[v] : 1000.0 * (v + 1)) + 100.0 * q;
      ++k;
      for (double r = 6.9 + 0.0007 * (k % 4); r <= 7.2; r += 0.003) {
        double y = c0 * EquilibriumExponential(r, kMb75, rpm, 20, 7.05) + gauss(gen);
        if (c.systematic) y += Ti(r) + Ri(k);
        s.r.push_back(static_cast<float>(r));
        s.y.push_back(static_cast<float>(y));
      }
      scans.push_back(s);
    }
  eqtest::Load(scans, 6.9f, 7.2f, static_cast<float>(c.left), static_cast<float>(c.right));
  if (c.mixedOrder) {
    // The time order the loader keeps: 15000, 8000, 11000 rpm.
    ScanSet& ss = CurrentScanSet();
    std::vector<int> order;
    for (int j = 1; j <= ss.count; ++j) order.push_back(j);
    std::stable_sort(order.begin(), order.end(),
                     [&ss](int a, int b) { return ss.records[a].time < ss.records[b].time; });
    for (int j = 1; j <= ss.count; ++j) ss.order[j] = order[static_cast<size_t>(j - 1)];
  }
}

// The smallest rmsd of plain runs over masses 1.001 apart.
double RunMinimum(double from, double to) {
  double best = 1e10;
  for (double m = from; m <= to; m *= 1.001) {
    gModelParams.massOrD[1] = gModelParameterVector.P[1] = static_cast<float>(m);
    RunEquilibrium(nullptr);
    best = std::min(best, EqModelState().lastRmsd);
  }
  return best;
}

TEST_F(ModelFixture, MassOfMultiSpeedScansWithAndWithoutSystematicNoise) {
  gSolutionConditions.vbarRho = 0.7287f;
  const struct {
    const char* name;
    MultiSpeed set;
  } cases[] = {
      {"one scan per speed, TI and RI in the data", {1, true}},
      {"one scan per speed, no TI or RI in the data", {1, false}},
      {"two scans per speed, TI and RI in the data", {2, true}},
      {"two scans per speed, no TI or RI in the data", {2, false}},
      {"speeds out of time order", {2, true, 6.91, 7.19, true}},
      {"one speed, three loadings", {1, true, 6.91, 7.19, false, true}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LoadMultiSpeed(c.set);
    SeedGaussRandom(5);
    for (float start : {40000.0f, 120000.0f}) {
      SetMass(start);
      RunEquilibrium(nullptr);
      FitEquilibrium(nullptr);
      EXPECT_NEAR(gModelParams.massOrD[1], 75000, 0.03 * 75000) << "from " << start;
    }
  }
}

// Over the inner half of the column the rmsd is nearly flat in M: the fit
// must still end at the minimum of its own runs, not on the slope.
TEST_F(ModelFixture, FitEndsAtTheMinimumOfItsRunsWhereTheRmsdIsFlat) {
  gSolutionConditions.vbarRho = 0.7287f;
  for (const int perSpeed : {1, 2}) {
    SCOPED_TRACE(perSpeed);
    LoadMultiSpeed({perSpeed, true, 6.915, 7.045});
    SeedGaussRandom(3);
    SetMass(30000);
    RunEquilibrium(nullptr);
    FitEquilibrium(nullptr);
    const double fitted = EqModelState().lastRmsd;
    const double m = gModelParams.massOrD[1];
    EXPECT_LE(fitted, RunMinimum(0.8 * m, 1.25 * m) * (1 + 2e-5));
  }
}

// Two species of 23.8 and 88.6 kDa (vbar 0.73, rho 0.99823, 20 degC) whose
// signals at 7.0 cm are 0.47/0.024, 0.40/0.015 and 0.27/0.003 at 10000,
// 14000 and 20000 rpm on baselines of -0.085, -0.053 and -0.033, noise
// 0.0035 OD: one species does not fit them exactly, as with real data. The
// scans share their radii, every `step` cm from 6.85 cm; the fit range is
// 6.88-7.12 cm in a cell from 6.86 to 7.14 cm.
constexpr double kTwoSpeciesVbarRho = 0.73 * 0.99823;

double Sigma(double rpm) {
  const double w = 2 * M_PI * rpm / 60;
  return w * w / (2 * 8.31447e7 * 293.15);
}

eqtest::LsqScans LoadTwoSpecies(int perSpeed, double step) {
  std::mt19937 gen(5);
  std::normal_distribution<double> gauss(0, 0.0035);
  const double rpm[] = {10000, 14000, 20000}, a1[] = {0.47, 0.40, 0.27}, a2[] = {0.024, 0.015, 0.003},
               base[] = {-0.085, -0.053, -0.033};
  const double mb1 = 23800 * (1 - kTwoSpeciesVbarRho), mb2 = 88600 * (1 - kTwoSpeciesVbarRho);
  std::vector<eqtest::Scan> scans;
  eqtest::LsqScans lsq;
  lsq.r0 = 7.0;
  for (int v = 0; v < 3; ++v)
    for (int q = 0; q < perSpeed; ++q) {
      eqtest::Scan s;
      s.rpm = static_cast<float>(rpm[v]);
      s.time = 1000 * (v + 1) + 100 * q;
      const double sg = Sigma(rpm[v]);
      lsq.sigma.push_back(sg);
      lsq.y.emplace_back();
      for (int i = 0; 6.85 + step * i <= 7.15 + 1e-9; ++i) {
        const float r = static_cast<float>(6.85 + step * i);
        const double u = static_cast<double>(r) * r - 49;
        const float y = static_cast<float>(a1[v] * std::exp(mb1 * sg * u) + a2[v] * std::exp(mb2 * sg * u) +
                                           base[v] + gauss(gen));
        s.r.push_back(r);
        s.y.push_back(y);
        if (r >= 6.88f - 1e-5f && r <= 7.12f + 1e-5f) {
          if (lsq.y.size() == 1) lsq.r.push_back(r);
          lsq.y.back().push_back(y);
        }
      }
      scans.push_back(s);
    }
  // Absorbance data: the common grid is resampled at 0.001 cm, between the
  // points of scans recorded every 0.002 cm.
  eqtest::Load(scans, 6.86f, 7.14f, 6.88f, 7.12f, true);
  return lsq;
}

// The rmsd of data minus model at the scans' points in the fit limits.
double RmsdAtPoints() {
  const ScanSet& ss = CurrentScanSet();
  double sum = 0;
  int n = 0;
  for (int k = 1; k <= ss.count; ++k)
    for (int i = ss.firstFitPoint[k]; i <= ss.lastFitPoint[k]; ++i, ++n)
      sum += std::pow(static_cast<double>(ss.signals[k][i]) - ss.model[k][i], 2);
  return std::sqrt(sum / n);
}

// Run and Fit report the rmsd of the model at the measured points: the fit
// ends where no Run over a 1 % grid of M does better, within 3 % of the
// least-squares minimum of the same model solved in full in the test.
TEST_F(ModelFixture, FitOfOneSpeciesToTwoEndsAtTheLeastSquaresMinimum) {
  gSolutionConditions.vbarRho = static_cast<float>(kTwoSpeciesVbarRho);
  const struct {
    int perSpeed;
    double step;
  } cases[] = {{1, 0.001}, {2, 0.001}, {1, 0.002}, {2, 0.002}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.perSpeed << " scan(s) per speed, points every " << c.step << " cm");
    const eqtest::LsqScans lsq = LoadTwoSpecies(c.perSpeed, c.step);
    double lsqRmsd = 0;
    const double lsqMass = eqtest::LsqMinimum(lsq, 5000, 20000, &lsqRmsd) / (1 - kTwoSpeciesVbarRho);
    double bestRun = 1e10;
    for (double m = 25000; m <= 60000; m *= 1.01) {
      SetMass(static_cast<float>(m));
      ASSERT_TRUE(RunEquilibrium(nullptr));
      EXPECT_NEAR(EqModelState().lastRmsd, RmsdAtPoints(), 1e-7) << m;
      // Where the grid holds the measured radii, and no amplitude wants to
      // be negative, the program's solution is the least-squares solution.
      bool positive = false;
      const double full = eqtest::LsqRmsd(lsq, m * (1 - kTwoSpeciesVbarRho), &positive);
      if (c.step == 0.001 && positive) { EXPECT_NEAR(EqModelState().lastRmsd, full, 2e-7) << m; }
      // Elsewhere, or with an amplitude held at 0, it can only do worse.
      EXPECT_GE(EqModelState().lastRmsd, full * (1 - 1e-6)) << m;
      bestRun = std::min(bestRun, EqModelState().lastRmsd);
    }
    for (float start : {60000.0f, 25000.0f}) {
      SeedGaussRandom(3);
      SetMass(start);
      RunEquilibrium(nullptr);
      FitEquilibrium(nullptr);
      const double fitted = EqModelState().lastRmsd;
      EXPECT_LE(fitted, bestRun * (1 + 1e-5)) << "from " << start;
      EXPECT_NEAR(fitted, RmsdAtPoints(), 1e-7);
      EXPECT_NEAR(fitted, CalcRmsd(), 1e-6);
      EXPECT_NEAR(gModelParams.massOrD[1], lsqMass, 0.03 * lsqMass) << "from " << start;
      EXPECT_LE(fitted, lsqRmsd * 1.002);
    }
  }
}

// A stop asked for before the fit (a key or click that ended an earlier
// computation) does not end this one; a click during it does.
TEST_F(ModelFixture, StaleStopIsClearedAndAClickStopsTheFit) {
  LoadClosedForm(0.005, 7);
  SeedGaussRandom(11);
  gFitEngineState.stopRequested = 1;
  platform::StopFlag() = true;
  SetMass(40000);
  FitEquilibrium(nullptr);
  EXPECT_NEAR(gModelParams.massOrD[1], 50000, 250);

  // The window turns a click during the fit into the stop flag and queues
  // the click, which the key poll swallows; the event pump stands in for
  // the window at the fit's second evaluation.
  SetMass(40000);
  platform::ClearInput();
  int evaluations = 0;
  platform::SetEventPump([&evaluations] {
    if (++evaluations == 2) {
      platform::PostMouseClick();
      platform::StopFlag() = true;
    }
  });
  FitEquilibrium(nullptr);
  platform::SetEventPump(nullptr);
  EXPECT_LT(evaluations, 6);  // ended right after the click
  EXPECT_EQ(LastFitEnd().kind, FitEndKind::Stopped) << LastFitEnd().text;
  EXPECT_EQ(gFitEngineState.stopRequested, 0);
  EXPECT_FALSE(platform::StopFlag());
  // The best vertex before the click is kept, and the models are whole.
  EXPECT_NEAR(gModelParams.massOrD[1], 40000, 0.2 * 40000);
  EXPECT_NE(CurrentScanSet().model[1][1], 0.0f);
}

}  // namespace
