// The reacting system A + B <-> AB: the loading equilibrium, the element
// matrices against their integrals, plateaus against the radial-dilution law
// in local equilibrium (independent solutions of the ODE), equal
// coefficients against the ideal Lamm solver, conservation of A and B, the
// step and key handling of a run, and a fit of the association constant.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "fit/fit_driver.h"
#include "fit/lamm_grid.h"
#include "lamm/lamm_run_state.h"
#include "fit/model_evaluation.h"
#include "lamm/coefficients/mass_action.h"
#include "lamm/element_integrals.h"
#include "models/reacting/hetero_association.h"
#include "models/reacting/hetero_association_step.h"
#include "platform/scripted_ui.h"
#include "tests/fit/fit_test_support.h"
#include "tests/lamm/fv_reference.h"
#include "tests/lamm/lamm_test_support.h"

namespace {

constexpr float kMeniscus = 6.0f, kBottom = 7.2f;

using Host = fittest::ModelHost;

struct Mixture {
  double logK = 0.5;
  float loadA = 0.5f, loadB = 0.5f, epsA = 1.0f, epsB = 1.0f;
  float sA = 3, sB = 5, sAB = 8;
  float DA = 8, DB = 6, DAB = 4.5;  // 1e-7 cm^2/s
  int N = 400;
  double dt = 2.0;
  std::vector<double> times = {3000};
  double rpm = 50000;
};

// Scans of 241 points 0.005 cm apart (6.7 cm is point 141).
void Prepare(const Mixture& r) {
  fittest::ResetFitState();
  LammSettings() = LammSolverSettings{};
  LammSettings().gridSize.inUse = r.N;
  LammSettings().workingMaxDcOverC = r.dt;
  std::vector<float> radii;
  for (int i = 0; i <= 240; ++i) radii.push_back(kMeniscus + 0.005f * i);
  fittest::LoadScansAtTimes(r.times, r.rpm, radii);
  gModelSelectorFlags.Model267 = 1;
  gFitEngineState.molarMassParameters = 0;
  InstallHeteroAssociationModel();
  float* P = gModelParameterVector.P;
  P[1] = r.DA, P[2] = r.DB, P[4] = r.epsA, P[5] = r.sA, P[6] = r.sB, P[7] = r.sAB;
  P[8] = static_cast<float>(r.logK), P[9] = r.loadA, P[10] = r.loadB, P[12] = r.epsB;
  P[13] = kMeniscus, P[14] = kBottom;
  UnpackModelParameters();
  // The tests choose the complex's D themselves.
  CurrentHeteroAssociationState().DAB = r.DAB;
}

// One run with the complex's D as given (the derivation would make it the
// D of the mass M_A + M_B).
void Simulate(FitHost* host, const Mixture& r) {
  ModelEvaluationHooks& h = CurrentModelEvaluationHooks();
  auto plain = h.simulateHeteroAssociation;
  h.simulateHeteroAssociation = [&](FitHost* x) {
    CurrentHeteroAssociationState().DAB = r.DAB;
    plain(x);
  };
  SimulateModel(host);
  h.simulateHeteroAssociation = plain;
}

double ModelAt(int scan, int point) { return CurrentScanSet().model[scan][point]; }

class HeteroAssociation : public fittest::FitStateTest {
 protected:
  void SetUp() override {
    FitStateTest::SetUp();
    ui_.lenient = true;
  }
  void TearDown() override {
    FitStateTest::TearDown();
    CurrentLammGrid().reactingSystem = false;
    CurrentHeteroAssociationState() = HeteroAssociationState{};
  }
  platform::ScriptedUserInterface ui_;
  platform::ScopedUI scope_{ui_};
};

TEST_F(HeteroAssociation, LoadingEquilibriumFollowsTheMassAction) {
  struct Case {
    float loadA, loadB, epsA, epsB, logK;
    double cAB0, tolerance;
  } cases[] = {
      {0.5f, 0.5f, 1, 1, 0, 0.1339745962155614, 1e-12},
      {0.5f, 0.5f, 1, 1, -8, 2.4999999e-9, 1e-15},       // no cancellation to 0
      {0.75f, 0.375f, 2, 3, 1, 0.09233440342704813, 1e-12},  // a = 0.375, b = 0.125
      {0.5f, 0.3f, 1, 1, 40, 0.3, 1e-7},                 // held at logK 30
      {0.5f, 0.5f, 0, 1, 0, 0, 0},                       // extinction 0: no A
      {0.5f, 0.5f, -1, 1, 0, 0, 0},
      {-0.5f, 0.5f, 1, 1, 0, 0, 0},                      // negative load: none
      {0.5f, 0.5f, 1, 1, std::nanf(""), 0.1339745962155614, 1e-12},
      {0.5f, 0.5f, 1, 1, -INFINITY, 0.5 * 0.5 * 1e-30, 1e-40},  // held at -30
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.logK);
    HeteroAssociationState& st = CurrentHeteroAssociationState();
    st.loadA = c.loadA, st.loadB = c.loadB, st.epsA = c.epsA, st.epsB = c.epsB, st.logK = c.logK;
    InitHeteroAssociationEquilibrium();
    EXPECT_NEAR(st.cAB0, c.cAB0, c.tolerance);
    EXPECT_TRUE(std::isfinite(st.K) && st.K > 0 && st.K <= 1e30);
  }
  // On the grid: free 0.366025 each and a signal of 1.0 on every node.
  LammSettings().gridSize.inUse = 20;
  gModelParams.meniscus = kMeniscus, gModelParams.bottom = kBottom;
  CurrentLammGrid().reactingSystem = true;
  ASSERT_TRUE(AllocLammArrays());
  HeteroAssociationState& st = CurrentHeteroAssociationState();
  st = HeteroAssociationState{};
  st.logK = 0;
  InitHeteroAssociationEquilibrium();
  HeteroAssociationArrays h;
  ASSERT_TRUE(BindHeteroAssociationArrays(h));
  for (int i = 1; i <= 20; ++i) {
    EXPECT_NEAR(h.cA[i], 0.3660254037844386, 1e-12);
    EXPECT_NEAR(h.cB[i], 0.3660254037844386, 1e-12);
    EXPECT_NEAR(CurrentLammGrid().Concentration[i], 1.0, 1e-12);
  }
  struct Root {
    double a, b, K, expected, tolerance;
  } roots[] = {
      {0.4, 0.3, 1e30, 0.3, 1e-12},        // strong binding: the smaller partner is all complex
      {1e-6, 1e-6, 1.0, 1e-12, 1e-17},      // weak: q ~ K a b, no cancellation
      {0.5, 0.5, 0.0, 0.0, 0.0},            // no constant, no complex
      {0.5, std::nan(""), 10.0, 0.0, 0.0},  // undefined input, no NaN start value
  };
  for (const Root& c : roots) EXPECT_NEAR(SmallerComplexRoot(c.a, c.b, c.K), c.expected, c.tolerance) << c.a;
}

TEST_F(HeteroAssociation, MatricesSumToTheirIntegrals) {
  const int N = 25;
  LammSettings().gridSize.inUse = N;
  gModelParams.meniscus = kMeniscus, gModelParams.bottom = kBottom;
  CurrentLammGrid().reactingSystem = true;
  ASSERT_TRUE(AllocLammArrays());
  CurrentLammRunState().rpm = 50000;
  HeteroAssociationState& st = CurrentHeteroAssociationState();
  st.logK = 0.7f;
  st.sA = 3, st.sB = 5, st.sAB = 8;
  st.runDA = 8e-7, st.runDB = 6e-7, st.runDAB = 4.5e-7;
  InitHeteroAssociationEquilibrium();
  SetupHeteroAssociationGrid();
  AssembleHeteroAssociationMatrices();
  const LammGrid& g = CurrentLammGrid();
  HeteroAssociationArrays h;
  ASSERT_TRUE(BindHeteroAssociationArrays(h));
  const double* r = g.Radius;
  // Column j of a tridiagonal matrix: rows j-1 (sup), j (diag), j+1 (sub).
  auto column = [&](const double* sub, const double* diag, const double* sup, int j) {
    double c = diag[j];
    if (j > 1) c += sup[j - 1];
    if (j < N) c += sub[j + 1];
    return c;
  };
  const double K = st.K;
  double scale = 0;
  for (int j = 1; j <= N; ++j) scale = std::max(scale, std::fabs(CalcElementIntegral1(r, N, j)));
  for (int j = 1; j <= N; ++j) {
    const double w = CalcElementIntegral1(r, N, j);
    EXPECT_NEAR(column(g.MassSub, g.MassDiag, g.MassSuper, j), w, 1e-12 * w);
    const double sScale = st.runDA * 10 + st.omega2 * 8 * 50;
    EXPECT_NEAR(column(h.SASub, h.SADiag, h.SASup, j), 0.0, 1e-12 * sScale * scale);
    EXPECT_NEAR(column(h.SBSub, h.SBDiag, h.SBSup, j), 0.0, 1e-12 * sScale * scale);
  }
  // Tensor columns: sum over i of X_ijk for each stored (j, k).
  static const int dj[7] = {-1, -1, 0, 0, 0, 1, 1};
  static const int dk[7] = {-1, 0, -1, 0, 1, 0, 1};
  std::vector<std::vector<double>> q(N + 2, std::vector<double>(N + 2, 0.0)), t = q;
  for (int i = 1; i <= N; ++i)
    for (int p = 0; p < 7; ++p) {
      const int j = i + dj[p], k = i + dk[p];
      if (j < 1 || j > N || k < 1 || k > N) continue;
      q[j][k] += h.QK[p][i];
      t[j][k] += h.TK[p][i];
    }
  for (int j = 1; j <= N; ++j)
    for (int k = std::max(1, j - 1); k <= std::min(N, j + 1); ++k) {
      const double m = K * CalcElementIntegral2I(r, N, j, k);
      EXPECT_NEAR(q[j][k], m, 1e-12 * std::fabs(m)) << j << "," << k;
      EXPECT_NEAR(t[j][k], 0.0, 1e-12 * K * (st.runDAB * 10 + st.omega2 * 8 * 50) * scale) << j << "," << k;
    }
  HalveHeteroAssociationMatrices();
  EXPECT_NEAR(column(g.MassSub, g.MassDiag, g.MassSuper, 7), 0.5 * CalcElementIntegral1(r, N, 7), 1e-15);
}

TEST_F(HeteroAssociation, EveryZeroOrNonFinitePivotIsCaught) {
  LammSettings().gridSize.inUse = 4;
  gModelParams.meniscus = kMeniscus, gModelParams.bottom = kBottom;
  CurrentLammGrid().reactingSystem = true;
  ASSERT_TRUE(AllocLammArrays());
  struct Case {
    double diag2;
    const char* message;
  } cases[] = {{1.0, "Error 2 in tridag"}, {NAN, "Error 2 in tridag"}, {INFINITY, "Error 2 in tridag"}};
  for (const Case& c : cases) {
    // Rows 1, 2: [1 1; 1 d]: the second pivot d - 1.
    double sub[5] = {0, 0, 1, 0, 0}, diag[5] = {0, 1, c.diag2, 1, 1}, sup[5] = {0, 1, 0, 0, 0};
    double rhs[5] = {0, 1, 1, 1, 1}, out[5] = {0, 7, 7, 7, 7};
    LammSettings().singularMatrixError = 0;
    ui_.transcript.clear();
    EXPECT_FALSE(TridagHeteroAssociation(sub, diag, sup, rhs, out, 4));
    EXPECT_EQ(LammSettings().singularMatrixError, 1);
    for (int i = 1; i <= 4; ++i) EXPECT_EQ(out[i], 7);
    ASSERT_FALSE(ui_.transcript.empty());
    EXPECT_EQ(ui_.transcript.back().text, c.message);
  }
  double sub[5] = {0, 0, 1, 1, 1}, diag[5] = {0, 0, 4, 4, 4}, sup[5] = {0, 1, 1, 1, 0};
  double rhs[5] = {0, 1, 1, 1, 1}, out[5] = {0, 7, 7, 7, 7};
  EXPECT_FALSE(TridagHeteroAssociation(sub, diag, sup, rhs, out, 4));
  EXPECT_EQ(ui_.transcript.back().text, "Error 1 in tridag");
  // A regular system is solved: 4x + y neighbours = 1.
  diag[1] = 4;
  LammSettings().singularMatrixError = 0;
  ASSERT_TRUE(TridagHeteroAssociation(sub, diag, sup, rhs, out, 4));
  EXPECT_NEAR(4 * out[1] + out[2], 1, 1e-14);
  EXPECT_NEAR(out[2] + 4 * out[3] + out[4], 1, 1e-14);
  EXPECT_NEAR(out[3] + 4 * out[4], 1, 1e-14);
}

TEST_F(HeteroAssociation, PlateausFollowTheRadialDilutionInLocalEquilibrium) {
  // Reference plateaus: the loading mixture diluted by the radial law of each
  // species' flux in local equilibrium, integrated as an ODE.
  struct Case {
    double logK;
    int N;
    double dt, time, plateau, tolerance;
    bool conserved;
  } cases[] = {
      {0.5, 400, 2.0, 3000, 0.908938, 2e-4, true},
      {-6, 400, 2.0, 3000, 0.936447, 1e-4, true},
      // Strong binding: the corrector is first order in dt. At 200 nodes the
      // complex piling up at the bottom is beyond the grid (element Peclet
      // number above 2), which leaves the plateau alone.
      {3, 200, 0.25, 1000, 0.958012, 1e-3, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.logK);
    Mixture r;
    r.logK = c.logK;
    r.N = c.N;
    r.dt = c.dt;
    r.times = {c.time};
    Prepare(r);
    Host host;
    Simulate(&host, r);
    EXPECT_TRUE(host.boxes.empty()) << host.boxes.front();
    EXPECT_NEAR(ModelAt(1, 141), c.plateau, c.tolerance);
    // Conservation: free plus complex amounts against the loading totals.
    const HeteroAssociationState& st = CurrentHeteroAssociationState();
    double A = 0, B = 0;
    HeteroAssociationTotals(&A, &B);
    const LammGrid& g = CurrentLammGrid();
    double volume = 0;
    for (int i = 1; i <= g.AllocatedGridSize; ++i) volume += CalcElementIntegral1(g.Radius, g.AllocatedGridSize, i);
    volume *= 1.2 * M_PI / 90.0;
    if (c.conserved) {
      EXPECT_NEAR(A / (st.a0 * volume), 1.0, 1e-3);
      EXPECT_NEAR(B / (st.b0 * volume), 1.0, 1e-3);
    }
    EXPECT_DOUBLE_EQ(CurrentLammRunState().t, c.time);
    EXPECT_LE(st.passes, 10);
    // Each species keeps its own coefficients, in the record and the vector.
    EXPECT_EQ(st.sA, 3.0f);
    EXPECT_EQ(st.sAB, 8.0f);
    EXPECT_EQ(st.DA, 8.0f);
    PackModelParameters();
    EXPECT_EQ(gModelParameterVector.P[5], 3.0f);
    EXPECT_EQ(gModelParameterVector.P[7], 8.0f);
    EXPECT_EQ(gModelParameterVector.P[1], 8.0f);
  }
}

TEST_F(HeteroAssociation, EqualCoefficientsSedimentAsOneIdealSpecies) {
  Mixture r;
  r.sA = r.sB = r.sAB = 5;
  r.DA = r.DB = r.DAB = 6;
  r.loadA = 0.3f, r.loadB = 0.7f;
  Prepare(r);
  Host host;
  Simulate(&host, r);
  EXPECT_NEAR(ModelAt(1, 141), std::exp(-2 * 5e-13 * std::pow(50000 * M_PI / 30, 2) * 3000), 1e-4);
  EXPECT_NEAR(ModelAt(1, 141), 0.921045, 1e-4);

  lammtest::Experiment e;
  e.s = 5, e.D = 6e-7, e.c0 = 1.0;
  e.meniscus = kMeniscus, e.bottom = kBottom;
  e.times = {3000};
  e.gridPoints = 241;
  e.Build();
  LammSolverSettings st = lammtest::FixedGrid(1000, 0.02);
  auto L = lammtest::MakeSolver(e, st);
  ASSERT_EQ(L->CheckAndRun(), 0);
  double worst = 0;
  for (int p = 1; p <= 241; ++p)
    if (e.grid[p] < 7.1f) worst = std::max(worst, std::fabs(ModelAt(1, p) - e.out[1][p]));
  EXPECT_LT(worst, 2e-3);
}

TEST_F(HeteroAssociation, RotorRampFromTheFirstScansHeaderIsSimulated) {
  // Equal coefficients: A and B in all their forms sediment as one ideal
  // species, whose solution under the ramp (200 rpm/s for 250 s, then
  // 50000 rpm) is the finite-volume one written for the tests. Each scan is
  // compared with it (the same bound as without the ramp on this grid); a
  // rotor at full speed from the start is ahead of it by more than 2e-2 at
  // the boundary.
  Mixture r;
  r.sA = r.sB = r.sAB = 5;
  r.DA = r.DB = r.DAB = 6;
  r.loadA = 0.3f, r.loadB = 0.7f;
  r.times = {600, 1500, 3000};
  lammtest::FvLamm f;
  f.s = 5, f.D = 6e-7, f.rpm = r.rpm, f.rampRate = 200;
  f.m = kMeniscus, f.b = kBottom, f.cells = 3000, f.dt = 0.5;
  f.Start(1.0);
  std::vector<std::vector<double>> ref;
  for (double t : r.times) {
    f.AdvanceTo(t);
    ref.emplace_back();
    for (int p = 1; p <= 241; ++p) ref.back().push_back(f.At(kMeniscus + 0.005 * (p - 1)));
  }
  for (const bool ramp : {true, false}) {
    SCOPED_TRACE(ramp ? "ramp simulated" : "full speed from the start");
    Prepare(r);
    LammSettings().rampRotorSpeed = ramp ? 1 : 0;
    ScanSet& ss = CurrentScanSet();
    for (int j = 1; j <= ss.count; ++j) {
      ss.records[j].acceleration = 200;
      ss.records[j].accelerationTime = 250;
    }
    Host host;
    Simulate(&host, r);
    ASSERT_EQ(LammSettings().discretizationError, 0);
    for (int j = 1; j <= ss.count; ++j) {
      double worst = 0;
      for (int p = 1; p <= 241; ++p)
        if (ss.radii[j][p] < 7.1f) worst = std::max(worst, std::fabs(ModelAt(j, p) - ref[j - 1][p - 1]));
      if (ramp)
        EXPECT_LT(worst, 2e-3) << "t = " << r.times[j - 1];
      else
        EXPECT_GT(worst, 2e-2) << "t = " << r.times[j - 1];
    }
  }
}

TEST_F(HeteroAssociation, StepsEndOnScanTimesAndTablesStayOnTheGrid) {
  Mixture r;
  r.N = 20;
  r.dt = 7.0;
  r.times = {101.3, 257.9, 400.0};
  Prepare(r);
  gSimulationSwitches.redrawDuringSimulation = 1;
  Host host;
  Simulate(&host, r);
  EXPECT_DOUBLE_EQ(CurrentLammRunState().t, 400.0);
  for (int j = 1; j <= 3; ++j) EXPECT_GT(ModelAt(j, 141), 0.5) << j;
  // Each table shows every node of the small grid once, in order.
  std::vector<int> rows;
  for (const std::string& t : host.texts) {
    const std::string line = t.substr(t.find(':') + 1);
    const auto rowEnd = line.find(":    ");
    if (rowEnd == std::string::npos || line.rfind("sum", 0) == 0 || line[0] == '#') continue;
    std::string number = line.substr(0, rowEnd);
    number.erase(0, number.find_first_not_of('_'));
    rows.push_back(std::stoi(number));
  }
  ASSERT_GE(rows.size(), 20u);
  ASSERT_EQ(rows.size() % 20, 0u);
  for (std::size_t k = 0; k < rows.size(); ++k) EXPECT_EQ(rows[k], static_cast<int>(k % 20) + 1) << k;
  EXPECT_EQ(CurrentHeteroAssociationState().pauseFlag, 0);
}

TEST_F(HeteroAssociation, KeysPauseTheTablesAndStopTheRun) {
  struct Case {
    std::vector<int> keys;
    bool progress, stops;
  } cases[] = {
      {{}, true, false},           // nobody presses: never waits
      {{'x', 'r'}, true, false},   // a key pauses, "r" runs on
      {{'x', 's'}, true, true},    // "s" stops
      {{}, false, false},          // headless
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.keys.size());
    Mixture r;
    r.N = 30;
    r.dt = 10;
    r.times = {300, 600};
    Prepare(r);
    gSimulationSwitches.redrawDuringSimulation = c.progress ? 1 : 0;
    for (int k : c.keys) platform::PostKeyDown(k);
    Host host;
    Simulate(&host, r);
    EXPECT_EQ(platform::StopFlag().load(), c.stops);
    EXPECT_EQ(CurrentLammRunState().t < 600.0, c.stops);
    EXPECT_FALSE(platform::KeyDownPending());
    platform::StopFlag() = false;
  }
}

TEST_F(HeteroAssociation, CorrectorEndsOnStrongFluxImbalance) {
  // Steps of 300 s with a large flux imbalance: the passes run away; the
  // step gives up after 50 with the discretisation message instead of
  // looping, and no model value is taken from the runaway passes.
  Mixture r;
  r.loadA = 3.0f, r.loadB = 1.5f;
  r.logK = 2;
  r.N = 100;
  r.dt = 300;
  r.times = {3000};
  Prepare(r);
  Host host;
  Simulate(&host, r);
  EXPECT_EQ(CurrentHeteroAssociationState().passes, 50);
  EXPECT_EQ(LammSettings().discretizationError, 1);
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0], "DISCRETIZATION ERROR|change grid size and readjust max dc/c");
  for (int p = 1; p <= 241; ++p) EXPECT_TRUE(std::isfinite(ModelAt(1, p)));
}

TEST_F(HeteroAssociation, BadInputGivesFiniteModelsOrARefusal) {
  struct Case {
    float loadA, epsA, logK;
    bool dls;
    const char* box;
  } cases[] = {
      {0.5f, 0.0f, 0.5f, false, nullptr},    // no extinction: A takes no part
      {-0.5f, 1.0f, 0.5f, false, nullptr},   // negative load: no A
      {0.5f, -2.0f, 0.5f, false, nullptr},
      {0.5f, 1.0f, 45.0f, false, nullptr},   // held at log K 30
      {0.5f, 1.0f, 0.5f, true, "ERROR|this model is not implemented for DLS data"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.logK);
    Mixture r;
    r.loadA = c.loadA, r.epsA = c.epsA, r.logK = c.logK;
    r.N = 60;
    r.dt = 10;
    r.times = {600};
    Prepare(r);
    CurrentDataTypeFlags().dls = c.dls ? 1 : 0;
    Host host;
    Simulate(&host, r);
    CurrentDataTypeFlags().dls = 0;
    if (c.box) {
      ASSERT_EQ(host.boxes.size(), 1u);
      EXPECT_EQ(host.boxes[0], c.box);
      continue;
    }
    EXPECT_TRUE(host.boxes.empty()) << host.boxes.front();
    EXPECT_TRUE(std::isfinite(gModelParameterVector.P[11]));
    for (int p = 1; p <= 241; ++p) ASSERT_TRUE(std::isfinite(ModelAt(1, p))) << p;
    // At log K 30 the free concentrations (about 1e-15) are below what the
    // steps resolve; the model stays finite, not meaningful.
    if (c.logK < 30) {
      EXPECT_GT(ModelAt(1, 100), 0.1);
    }
  }
}

TEST_F(HeteroAssociation, SlotThreeIsDerivedAndNeverFitted) {
  Mixture r;
  Prepare(r);
  gFitEngineState.molarMassParameters = 1;
  int* F = gModelParameterVector.F;
  F[3] = F[11] = 1;
  gModelParameterVector.P[1] = 40000, gModelParameterVector.P[2] = 60000;
  UnpackModelParameters();
  EXPECT_EQ(F[3] + F[11], 0);
  EXPECT_EQ(gModelParameterVector.P[3], 100000.0f);
  EXPECT_EQ(gModelParams.massOrD[3], 100000.0f);
  EXPECT_FLOAT_EQ(gModelParams.concentration[3], static_cast<float>(CurrentHeteroAssociationState().cAB0));
  PackModelParameters();
  EXPECT_EQ(F[3] + F[11], 0);
}

// With diffusion coefficients entered the complex's D is that of the mass
// M_A + M_B at its own s (Svedberg's relation, worked here with RT and the
// buoyancy), never D_A + D_B; without masses to add it keeps its entry.
TEST_F(HeteroAssociation, ComplexDiffusesAsTheSumOfTheMasses) {
  Mixture r;
  Prepare(r);
  ASSERT_EQ(gFitEngineState.molarMassParameters, 0);
  const double RT = 8.31451e7 * gSolutionConditions.temperature, buoyancy = 1 - gSolutionConditions.vbarRho;
  auto mass = [&](double s, double D) { return s * 1e-13 * RT / (buoyancy * D * 1e-7); };
  const double M = mass(r.sA, r.DA) + mass(r.sB, r.DB);
  const double expected = r.sAB * 1e-13 * RT / (buoyancy * M);  // cm^2/s
  float* P = gModelParameterVector.P;
  P[3] = 99;
  UnpackModelParameters();
  EXPECT_NEAR(P[3] * 1e-7, expected, expected * 1e-5);
  EXPECT_GT(std::fabs(P[3] - (r.DA + r.DB)), 5);  // not the sum of the D
  EXPECT_EQ(gModelParams.massOrD[3], P[3]);
  // The run uses it.
  const HeteroAssociationState& st = CurrentHeteroAssociationState();
  Host host;
  SimulateModel(&host);
  EXPECT_NEAR(st.runDAB, expected, expected * 1e-5);
  EXPECT_NEAR(st.runDA, r.DA * 1e-7, 1e-12);
  // No mass to add (a partner without s): the complex keeps its own entry.
  struct Case {
    float DA, DB, sA, sB, sAB, own, result;
  } cases[] = {{8, 6, 0, 0, 8, 4.5f, 4.5f}, {0, 6, 3, 5, 8, 4.5f, 4.5f}, {8, 6, 3, 5, 0, 4.5f, 4.5f},
               {8, 6, -3, 5, 8, 4.5f, 8 / (3.0f / 8 + 5.0f / 6)}};
  for (const Case& c : cases)
    EXPECT_FLOAT_EQ(ComplexMassOrD(false, c.DA, c.DB, c.sA, c.sB, c.sAB, c.own), c.result);
  EXPECT_FLOAT_EQ(ComplexMassOrD(true, 30000, 50000, 3, 5, 8, 1), 80000);
}

TEST_F(HeteroAssociation, FitFindsTheAssociationConstantAgain) {
  Mixture r;
  // Element Peclet numbers below 2 for the complex at the bottom.
  r.N = 150;
  r.dt = 5;
  r.rpm = 30000;
  r.times = {1200, 2400, 3600, 4800};
  Prepare(r);
  Host host;
  Simulate(&host, r);
  ScanSet& ss = CurrentScanSet();
  for (int j = 1; j <= ss.count; ++j)
    for (int p = 1; p <= ss.points[j]; ++p) ss.signals[j][p] = ss.model[j][p];
  ss.leftFitLimit = 6.05f, ss.rightFitLimit = 7.1f;
  float* P = gModelParameterVector.P;
  int* F = gModelParameterVector.F;
  P[8] = 1.0f;
  P[7] = 7.5f;
  F[8] = F[7] = 1;
  UnpackModelParameters();
  gFitEngineState.useSimplex = 0;
  gFitEngineState.useMarquardt = 1;
  ModelEvaluationHooks& hooks = CurrentModelEvaluationHooks();
  auto plain = hooks.simulateHeteroAssociation;
  hooks.simulateHeteroAssociation = [&](FitHost* x) {
    CurrentHeteroAssociationState().DAB = r.DAB;
    plain(x);
  };
  EXPECT_EQ(FitCurrentModel(&host), 1);
  hooks.simulateHeteroAssociation = plain;
  EXPECT_NEAR(P[8], 0.5, 0.05);
  EXPECT_NEAR(P[7], 8.0, 0.16);
}


}  // namespace
