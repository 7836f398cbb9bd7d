// The concentration-dependent Lamm solvers of the model evaluation on the
// global arrays: sedimentation equilibria against their closed forms, the
// limits of the association constant against the ideal solutions, the
// static twin against the moving frame, and the refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "fit/fit_engine_state.h"
#include "fit/lamm_grid.h"
#include "fit/lamm_start_state.h"
#include "fit/model_evaluation.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/simulation_switches.h"
#include "lamm/global/conc_dependent_coefficients.h"
#include "lamm/global/conc_dependent_lamm.h"
#include "lamm/global/global_moving_frame.h"
#include "lamm/global/nonideal_moving_frame.h"
#include "lamm/global/static_grid_lamm.h"
#include "lamm/lamm_run_state.h"
#include "lamm/lamm_settings.h"
#include "tests/fit/fit_test_support.h"
#include "tests/lamm/lamm_test_support.h"

namespace {

using Kind = ConcDependentSpecies::Kind;

// Scans at the given times (constant speed) on n radii from m to b.
void LoadTimes(const std::vector<double>& times, double rpm, double m, double b, int n) {
  std::vector<float> r;
  for (int i = 0; i < n; ++i) r.push_back(static_cast<float>(m + (b - m) * i / (n - 1)));
  fittest::LoadScansAtTimes(times, rpm, r);
  gModelParams.meniscus = static_cast<float>(m);
  gModelParams.bottom = static_cast<float>(b);
}

// Scans at a reference solution's times and radii.
lammtest::Reference LoadReferenceScans(const char* name) {
  const lammtest::Reference R = lammtest::LoadReference(name);
  fittest::LoadScansAtTimes(R.times, R.rpm, std::vector<float>(R.r.begin(), R.r.end()));
  gModelParams.meniscus = static_cast<float>(R.m);
  gModelParams.bottom = static_cast<float>(R.b);
  return R;
}

// Every scan's model, in time order.
std::vector<std::vector<float>> Models() {
  const ScanSet& ss = CurrentScanSet();
  std::vector<std::vector<float>> out;
  for (int pos = 1; pos <= ss.count; ++pos) {
    const int j = ss.order[pos];
    out.emplace_back(ss.model[j] + 1, ss.model[j] + 1 + ss.points[j]);
  }
  return out;
}

void ZeroModels() {
  ScanSet& ss = CurrentScanSet();
  for (int j = 1; j <= ss.count; ++j)
    for (int p = 1; p <= ss.points[j]; ++p) ss.model[j][p] = 0;
}

// Largest difference inside [from, to] of the reference radii.
double WorstDifference(const std::vector<std::vector<float>>& a, const std::vector<std::vector<float>>& b,
                       const std::vector<double>& r, double from, double to) {
  double worst = 0;
  for (std::size_t j = 0; j < a.size(); ++j)
    for (std::size_t p = 0; p < r.size(); ++p)
      if (r[p] >= from && r[p] <= to) worst = std::max(worst, std::fabs(double(a[j][p]) - b[j][p]));
  return worst;
}

// Runs the species record from a uniform loading c0 with the moving frame
// or the static twin on N nodes.
// c0 from `depleted` (cm) on, 0 before it (a measured start).
int Solve(bool movingFrame, int N, double c0, double rpm, double depleted = 0) {
  LammSolverSettings& st = LammSettings();
  st.automaticAlgorithm = 0;
  st.claverieAlgorithm = movingFrame ? 0 : 1;
  st.movingHatAlgorithm = movingFrame ? 1 : 0;
  st.fixedTimeStep = 0;
  st.gridSize.inUse = st.gridSize.setting = N;
  gModelSelectorFlags.NonidealSingleSpeciesModel = 1;
  LammRunState& rs = CurrentLammRunState();
  rs = LammRunState{};
  rs.sStar = 1;
  FreeLammArrays();
  EXPECT_TRUE(AllocLammArrays());
  LammGrid& g = CurrentLammGrid();
  for (int i = 1; i <= g.AllocatedGridSize; ++i) g.Concentration[i] = g.Radius[i] < depleted ? 0 : c0;
  SetAccelerationPhase();
  rs.rpm = rs.fullSpeed = rpm;
  SetLammSolverStartState(nullptr, false);
  return movingFrame ? SimulateNonidealMovingFrameLamm() : SimulateConcDependentLamm();
}

// Model value of the last scan at radius r (the scan radii hold it exactly).
double LastAt(double r) {
  const ScanSet& ss = CurrentScanSet();
  const int j = ss.order[ss.count];
  int best = 1;
  for (int p = 1; p <= ss.points[j]; ++p)
    if (std::fabs(ss.radii[j][p] - r) < std::fabs(ss.radii[j][best] - r)) best = p;
  return ss.model[j][best];
}

class ConcDependentLamm : public ::testing::Test {
 protected:
  void SetUp() override {
    fittest::ResetFitState();
    LammSettings() = LammSolverSettings{};
    CurrentConcDependentSpecies() = ConcDependentSpecies{};
  }
  void TearDown() override {
    fittest::ClearLammRun();
    gModelSelectorFlags = ModelSelectorFlags{};
    CurrentConcDependentSpecies() = ConcDependentSpecies{};
  }
};

TEST_F(ConcDependentLamm, SedimentationEquilibriaMatchTheirClosedForms) {
  struct Case {
    const char* name;
    Kind kind;
    double s2, D2, logK, ks, kd, c0;
    double cm, c7, cb;  // c(m), c(7.0), c(b) at equilibrium
  };
  const Case cases[] = {
      {"ideal", Kind::Nonideal, 0, 0, 0, 0, 0, 10, 8.54317, 9.93900, 11.61372},
      {"nonideal", Kind::Nonideal, 0, 0, 0, 0.05, 0.02, 10, 9.15983, 9.98176, 10.86442},
      {"dimer", Kind::Dimer, 1.6, 0.8e-6, -1, 0, 0, 5, 4.09644, 4.95099, 6.04495},
      {"trimer", Kind::Trimer, 2.1, 0.7e-6, -1, 0, 0, 5, 3.72882, 4.89261, 6.62364},
  };
  for (const Case& c : cases) {
    for (const bool moving : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (moving ? " moving frame" : " static twin"));
      LoadTimes({5e5, 1e6}, 10000, 6.8, 7.2, 401);
      ConcDependentSpecies& sp = CurrentConcDependentSpecies();
      sp.kind = c.kind;
      sp.s1 = 1;
      sp.D1 = 1e-6;
      sp.s2 = c.s2;
      sp.D2 = c.D2;
      sp.logK = static_cast<float>(c.logK);
      sp.logKs = c.ks > 0 ? static_cast<float>(std::log10(c.ks)) : -30.0f;
      sp.logKd = c.kd > 0 ? static_cast<float>(std::log10(c.kd)) : -30.0f;
      EXPECT_EQ(Solve(moving, moving ? 200 : 400, c.c0, 10000), 0);
      EXPECT_EQ(LammSettings().singularMatrixError, 0);
      EXPECT_EQ(LammSettings().nonidealityOutOfRange, 0);
      EXPECT_NEAR(LastAt(6.8), c.cm, 5e-4 * c.cm);
      EXPECT_NEAR(LastAt(7.0), c.c7, 5e-4 * c.c7);
      EXPECT_NEAR(LastAt(7.2), c.cb, 5e-4 * c.cb);
      fittest::ClearScans();
    }
  }
}

TEST_F(ConcDependentLamm, ThreeStateTablesAndHardSpheresAtEquilibrium) {
  // Oligomers that never form leave the tabulated monomer; hard spheres
  // flatten the gradient without reversing it.
  const double ideal[3] = {8.54317, 9.93900, 11.61372};
  for (const Kind kind : {Kind::DimerTetramer, Kind::TetramerOctamer, Kind::Nonideal}) {
    SCOPED_TRACE(static_cast<int>(kind));
    LoadTimes({5e5, 1e6}, 10000, 6.8, 7.2, 401);
    ConcDependentSpecies& sp = CurrentConcDependentSpecies();
    sp = ConcDependentSpecies{};
    sp.kind = kind;
    sp.s1 = sp.s3[1] = 1;
    sp.D1 = sp.D3[1] = 1e-6;
    sp.s3[2] = 1.6;
    sp.D3[2] = 0.8e-6;
    sp.s3[3] = 2.5;
    sp.D3[3] = 0.6e-6;
    sp.logKa = sp.logKb = -20;
    sp.hardSphere = 1;
    sp.logKs = 2;  // k
    sp.logKd = 0;  // tau
    Solve(false, 400, 10, 10000);
    EXPECT_EQ(LammSettings().nonidealityOutOfRange, 0);
    if (kind != Kind::Nonideal) {
      EXPECT_NEAR(LastAt(6.8), ideal[0], 5e-3);
      EXPECT_NEAR(LastAt(7.0), ideal[1], 5e-3);
      EXPECT_NEAR(LastAt(7.2), ideal[2], 5e-3);
    } else {
      const double rise = LastAt(7.2) - LastAt(6.8);
      EXPECT_GT(rise, 0.5);
      EXPECT_LT(rise, ideal[2] - ideal[0] - 0.1);
    }
    fittest::ClearScans();
  }
}

TEST_F(ConcDependentLamm, CsClGradientReachesItsEquilibrium) {
  // dc/dr = s(c) 1e-13 w^2 r c / D(c) at 40000 rpm from 1.5 M.
  for (const bool moving : {true, false}) {
    SCOPED_TRACE(moving ? "moving frame" : "static twin");
    LoadTimes({5e4, 1e5}, 40000, 6.8, 7.2, 401);
    ConcDependentSpecies& sp = CurrentConcDependentSpecies();
    sp.kind = ConcDependentSpecies::Kind::Nonideal;
    sp.csClSD = 1;
    sp.s1 = 0.5;
    sp.D1 = 2e-5;
    EXPECT_EQ(Solve(moving, moving ? 200 : 400, 1.5, 40000), 0);
    EXPECT_EQ(LammSettings().singularMatrixError, 0);
    // The slow frame (s_grid = s(c) of CsCl, 0.49 S) steps in tenths of its
    // period; the user's max dc/c is left as it was.
    EXPECT_EQ(LammSettings().workingMaxDcOverC, 1.0);
    if (moving) {
      EXPECT_NEAR(NonidealMovingFrameSGrid(), CsClSedimentationCoefficient25C(1.5), 1e-12);
    }
    EXPECT_NEAR(LastAt(6.8), 1.40960, 5e-4);
    EXPECT_NEAR(LastAt(7.0), 1.49797, 5e-4);
    EXPECT_NEAR(LastAt(7.2), 1.59326, 5e-4);
    fittest::ClearScans();
  }
}

TEST_F(ConcDependentLamm, AssociationLimitsAreTheIdealSolutions) {
  // log K = -10: the monomer alone, against the independent reference;
  // log K = +10: the dimer alone, against the ideal moving frame.
  struct Case {
    bool moving;
    int N;
    double tolerance;
  };
  for (const Case c : {Case{true, 1000, 1e-3}, Case{false, 1000, 2e-3}}) {
    SCOPED_TRACE(c.moving ? "moving frame" : "static twin");
    const lammtest::Reference R = LoadReferenceScans("static-4.3S.txt");
    ConcDependentSpecies& sp = CurrentConcDependentSpecies();
    sp.kind = ConcDependentSpecies::Kind::Dimer;
    sp.s1 = R.s;
    sp.D1 = R.D;
    sp.s2 = 6.8;
    sp.D2 = 4.8e-7;
    sp.logK = -10;
    LammSettings().workingMaxDcOverC = c.moving ? 1.0 : 0.05;
    Solve(c.moving, c.N, 1.0, R.rpm);
    std::vector<std::vector<float>> ref(R.times.size(), std::vector<float>(R.r.size()));
    for (std::size_t j = 0; j < R.times.size(); ++j)
      for (std::size_t p = 0; p < R.r.size(); ++p) ref[j][p] = static_cast<float>(R.c[p][j]);
    EXPECT_LT(WorstDifference(Models(), ref, R.r, 6.0, 7.1), c.tolerance);
    if (c.moving) {
      ZeroModels();
      sp.logK = 10;
      Solve(true, c.N, 1.0, R.rpm);
      const std::vector<std::vector<float>> dimer = Models();
      ZeroModels();
      LammRunState& rs = CurrentLammRunState();
      FreeLammArrays();
      ASSERT_TRUE(AllocLammArrays());
      for (int i = 1; i <= CurrentLammGrid().AllocatedGridSize; ++i) CurrentLammGrid().Concentration[i] = 1;
      SetAccelerationPhase();
      SetLammSolverStartState(nullptr, false);
      rs.s = rs.sStar = sp.s2;
      rs.D = sp.D2;
      SimulateMovingFrameLamm();
      EXPECT_LT(WorstDifference(dimer, Models(), R.r, 6.0, 7.1), 1e-3);
    }
    fittest::ClearScans();
  }
}

TEST_F(ConcDependentLamm, MonomerDimerBoundaryAgreesOnBothGridsAndKeepsItsAmount) {
  const lammtest::Reference R = LoadReferenceScans("static-4.3S.txt");
  ConcDependentSpecies& sp = CurrentConcDependentSpecies();
  sp.kind = ConcDependentSpecies::Kind::Dimer;
  sp.s1 = 4.3;
  sp.D1 = 6e-7;
  sp.s2 = 6.8;
  sp.D2 = 4.8e-7;
  sp.logK = 0;
  const double loaded = (R.b * R.b - R.m * R.m) / 2 * 1.2 * 0.03490658503988659;
  std::vector<std::vector<float>> results[2];
  for (const bool moving : {true, false}) {
    SCOPED_TRACE(moving ? "moving frame" : "static twin");
    ZeroModels();
    LammSettings().massConservationCheck = 1;
    LammSettings().workingMaxDcOverC = moving ? 1.0 : 0.05;
    Solve(moving, 1000, 1.0, R.rpm);
    results[moving ? 0 : 1] = Models();
    EXPECT_NEAR(CurrentLammRunState().totalAmount / loaded, 1.0, 1e-4);
  }
  EXPECT_LT(WorstDifference(results[0], results[1], R.r, 6.0, 7.1), 2e-3);
}

TEST_F(ConcDependentLamm, ParametersOutOfRangeAreRefused) {
  struct Case {
    const char* name;
    bool moving;
    int code;        // result of the run
    bool outOfRange;  // "nonideality out of range"
    void (*set)(ConcDependentSpecies&);
    double depleted = 0;  // cm: nothing loaded before it
  };
  const Case cases[] = {
      // 1 + ks c = 1 - 2 at c = 10: the pole of s0/(1 + ks c) lies inside.
      {"attractive pole, static", false, 0, true,
       [](ConcDependentSpecies& sp) {
         sp.repulsive = 0;
         sp.logKs = static_cast<float>(std::log10(0.2));
       }},
      {"attractive pole, moving", true, 0, true,
       [](ConcDependentSpecies& sp) {
         sp.repulsive = 0;
         sp.logKs = static_cast<float>(std::log10(0.2));
       }},
      {"ks c beyond 1", false, 0, true, [](ConcDependentSpecies& sp) { sp.logKs = -0.5f; }},
      {"ks c beyond 1 behind a depleted meniscus", false, 0, true,
       [](ConcDependentSpecies& sp) { sp.logKs = -0.5f; }, 6.3},
      {"scheme 4", false, 4, false, [](ConcDependentSpecies& sp) { sp.scheme = 4.0f; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LoadTimes({600, 1200}, 50000, 6.0, 7.2, 201);
    ConcDependentSpecies& sp = CurrentConcDependentSpecies();
    sp = ConcDependentSpecies{};
    sp.kind = Kind::Nonideal;
    sp.s1 = 4;
    sp.D1 = 6e-7;
    sp.logKs = sp.logKd = -3;
    c.set(sp);
    EXPECT_EQ(Solve(c.moving, 200, 10.0, 50000, c.depleted), c.code);
    EXPECT_EQ(LammSettings().nonidealityOutOfRange != 0, c.outOfRange);
    fittest::ClearScans();
  }
}

TEST_F(ConcDependentLamm, FloatingFrameAndVanishingTrimerFallBackToSoundSolutions) {
  // A frame with negative s_grid runs the static twin: the same numbers.
  LoadTimes({600, 1800}, 50000, 6.0, 7.2, 201);
  ConcDependentSpecies& sp = CurrentConcDependentSpecies();
  sp.kind = ConcDependentSpecies::Kind::Nonideal;
  sp.s1 = -2;
  sp.D1 = 6e-7;
  sp.logKs = sp.logKd = -2;
  Solve(false, 400, 1.0, 50000);
  const std::vector<std::vector<float>> twin = Models();
  ZeroModels();
  LammSettings().automaticSGrid = 0;
  LammSettings().gridS = -2;
  Solve(true, 400, 1.0, 50000);
  EXPECT_EQ(NonidealMovingFrameSteps(), 0);
  EXPECT_GT(ConcDependentStepCount(), 0);
  EXPECT_EQ(Models(), twin);
  fittest::ClearScans();

  // K = 1e-200: K^3 underflows, Cardano's formula would divide by zero; the
  // trimer model is then the monomer.
  LoadTimes({5e5, 1e6}, 10000, 6.8, 7.2, 401);
  sp = ConcDependentSpecies{};
  sp.kind = ConcDependentSpecies::Kind::Trimer;
  sp.s1 = 1;
  sp.D1 = 1e-6;
  sp.s2 = 2.1;
  sp.D2 = 0.7e-6;
  sp.logK = -200;
  Solve(false, 400, 10, 10000);
  EXPECT_NEAR(LastAt(6.8), 8.54317, 5e-3);
  EXPECT_NEAR(LastAt(7.2), 11.61372, 5e-3);
}

TEST_F(ConcDependentLamm, CsClCoefficientsAndPolynomials) {
  // At a slightly negative concentration the CsCl formulas stay finite.
  EXPECT_DOUBLE_EQ(CsClDiffusionCoefficient25C(-1e-9), CsClDiffusionCoefficient25C(0));
  EXPECT_DOUBLE_EQ(CsClSedimentationCoefficient25C(-1e-9), CsClSedimentationCoefficient25C(0));
  EXPECT_NEAR(CsClSedimentationCoefficient25C(1.5), 0.596 - 0.000322 * 252.6 - 0.0633 * std::exp(-0.00399 * 252.6),
              1e-12);
  const double a[] = {0, 2, -1, 0.5};
  EXPECT_DOUBLE_EQ(EvalPolynomial(a, 3, 2.0), 2 - 2 + 0.5 * 4);
  EXPECT_EQ(EvalPolynomial(nullptr, 3, 2.0), 0);
  EXPECT_EQ(EvalPolynomial(a, 0, 2.0), 0);
}


class RecordingHost : public fittest::AnalyticHost {
 public:
  void SimulateModel() override { ::SimulateModel(this); }
};

// The model evaluation runs the selected model's solver and writes the
// scans: the monomer-dimer model (static twin by the automatic choice, or
// the moving frame) and component 1 of the discrete model with "c1
// nonideal", each to its equilibrium.
TEST_F(ConcDependentLamm, ModelEvaluationRunsTheModelsToTheirEquilibria) {
  struct Case {
    const char* name;
    bool dimerModel, moving;
    double cm, c7, cb;
  };
  const Case cases[] = {{"monomer-dimer, automatic", true, false, 4.09644, 4.95099, 6.04495},
                        {"monomer-dimer, moving hat", true, true, 4.09644, 4.95099, 6.04495},
                        {"c1 nonideal, static", false, false, 9.15983, 9.98176, 10.86442},
                        {"c1 nonideal, moving hat", false, true, 9.15983, 9.98176, 10.86442}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fittest::ResetFitState();
    gModelSelectorFlags = ModelSelectorFlags{};
    gFitEngineState.molarMassParameters = 0;
    LammSolverSettings& st = LammSettings();
    st = LammSolverSettings{};
    st.rampRotorSpeed = 0;
    st.automaticGridSize = 0;
    st.gridSize.setting = st.gridSize.inUse = c.moving ? 200 : 400;
    st.automaticAlgorithm = c.dimerModel && !c.moving;
    st.claverieAlgorithm = c.moving ? 0 : 1;
    st.movingHatAlgorithm = c.moving ? 1 : 0;
    LoadTimes({5e5, 1e6}, 10000, 6.8, 7.2, 401);
    CurrentScanSet().leftFitLimit = 6.8f;
    CurrentScanSet().rightFitLimit = 7.2f;
    gModelParameterVector.P[13] = 6.8f;
    gModelParameterVector.P[14] = 7.2f;
    ModelParams& mp = gModelParams;
    float* P = gModelParameterVector.P;
    if (c.dimerModel) {
      gModelSelectorFlags.MonomerDimerModel = 1;
      P[1] = 10;   // D1 = 1e-6 cm^2/s; the dimer's follows from s2/s1
      P[3] = -1;   // K = 0.1
      P[5] = 1;
      P[6] = 1.6f;
      P[11] = 5;
    } else {
      gModelSelectorFlags.LammDiscreteModel = 1;
      gModelSelectorFlags.ConcDependentSolverSwitch = 1;
      mp.included[1] = 1;
      mp.s[1] = 1;
      mp.massOrD[1] = 10;
      mp.concentration[1] = 10;
      PackModelParameters();
      P[20] = static_cast<float>(std::log10(0.05));
      P[21] = static_cast<float>(std::log10(0.02));
    }
    UnpackModelParameters();
    RecordingHost host;
    SimulateModel(&host);
    EXPECT_TRUE(host.boxes.empty()) << host.boxes.front();
    EXPECT_NEAR(LastAt(6.8), c.cm, 1e-3 * c.cm);
    EXPECT_NEAR(LastAt(7.0), c.c7, 1e-3 * c.c7);
    EXPECT_NEAR(LastAt(7.2), c.cb, 1e-3 * c.cb);
    FreeLammArrays();
    fittest::ClearScans();
  }
}

// An inhomogeneous solvent is not modelled: Run says so each time, a fit
// once rather than at every evaluation.
TEST_F(ConcDependentLamm, InhomogeneousSolventIsMentionedOncePerFit) {
  gFitEngineState.molarMassParameters = 0;
  LammSolverSettings& st = LammSettings();
  st.automaticGridSize = 0;
  st.automaticAlgorithm = 0;
  st.claverieAlgorithm = 1;
  st.movingHatAlgorithm = 0;
  st.gridSize.setting = st.gridSize.inUse = 100;
  LoadTimes({600, 1200}, 50000, 6.0, 7.2, 101);
  gModelSelectorFlags.NonidealSingleSpeciesModel = 1;
  float* P = gModelParameterVector.P;
  P[1] = 6;
  P[5] = 4;
  P[9] = 1;
  P[10] = P[11] = -3;
  P[13] = 6.0f;
  P[14] = 7.2f;
  UnpackModelParameters();
  CurrentStaticGridSolventHooks().useInhomogeneousSolvent = [] { return true; };
  const std::string box = "|this model is not implemented yet for inhomogeneous solvent";
  for (const bool fit : {false, true}) {
    SCOPED_TRACE(fit ? "fit" : "run");
    RecordingHost host;
    gFitEngineState.fitRunning = fit ? 1 : 0;
    gSimulationSwitches.inhomogeneousWarningShown = 0;
    for (int evaluation = 0; evaluation < 3; ++evaluation) SimulateModel(&host);
    EXPECT_EQ(std::count(host.boxes.begin(), host.boxes.end(), box), fit ? 1 : 3);
  }
  gFitEngineState.fitRunning = 0;
  CurrentStaticGridSolventHooks().useInhomogeneousSolvent = nullptr;
}

}  // namespace

// At the program's default step settings (max dc/c 1, 1000 nodes, the
// model evaluation's integration scheme) the static twin meets 1e-3 of the
// loading against its own solution on 3000 nodes with steps of dc/c 0.02.
TEST_F(ConcDependentLamm, StaticTwinAtItsDefaultsMeetsOneThousandthOfTheLoading) {
  struct Case {
    const char* name;
    Kind kind;
    double s1, s2, D1, D2, logK, ks, kd, c0;
  };
  for (const Case& c : {Case{"nonideal single species", Kind::Nonideal, 5, 0, 5.9e-7, 0, 0, 0.02, 0.01, 10},
                        Case{"monomer-dimer", Kind::Dimer, 4.3, 6.5, 6e-7, 4.8e-7, 0, 0, 0, 2},
                        Case{"monomer-trimer", Kind::Trimer, 4.3, 8, 6e-7, 4e-7, 0, 0, 0, 2}}) {
    SCOPED_TRACE(c.name);
    std::vector<double> r;
    for (int i = 0; i < 601; ++i) r.push_back(6.0 + 0.002 * i);
    LoadTimes({1200, 2400, 3600, 4800, 6000}, 50000, 6.0, 7.2, 601);
    auto solve = [&](int N, double maxDc) {
      ConcDependentSpecies& sp = CurrentConcDependentSpecies();
      sp = ConcDependentSpecies{};
      sp.kind = c.kind;
      sp.s1 = c.s1, sp.D1 = c.D1, sp.s2 = c.s2, sp.D2 = c.D2;
      sp.logK = static_cast<float>(c.logK);
      sp.logKs = c.ks > 0 ? static_cast<float>(std::log10(c.ks)) : -30.0f;
      sp.logKd = c.kd > 0 ? static_cast<float>(std::log10(c.kd)) : -30.0f;
      sp.scheme = AssociationModelParams{}.integrationScheme;
      ZeroModels();
      LammSettings() = LammSolverSettings{};
      if (maxDc > 0) LammSettings().workingMaxDcOverC = maxDc;
      EXPECT_EQ(Solve(false, N, c.c0, 50000), 0);
      return Models();
    };
    const std::vector<std::vector<float>> fine = solve(3000, 0.02);
    const std::vector<std::vector<float>> standard = solve(1000, 0);
    EXPECT_LT(WorstDifference(standard, fine, r, 6.0, 7.1) / c.c0, 1e-3);
    fittest::ClearScans();
  }
}
