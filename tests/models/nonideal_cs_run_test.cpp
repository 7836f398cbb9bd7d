// The nonideal c(s) run. With a stand-in batch runner that records what
// each batch was given: how many batches a run takes for each source of the
// field, when the field is kept, thrown away or replaced by the data. With
// the real CLammNonIdeal species: the ideal limit, and data of a nonideal
// species analysed with its own ks and kd.
#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "data/load_hooks.h"
#include "distributions/conti_run.h"
#include "distributions/hydrodynamics.h"
#include "fit/solvent_gradient.h"
#include "lamm/lamm_nonideal.h"
#include "lamm/lamm_settings.h"
#include "models/nonideal/mean_field/ctot_movie.h"
#include "models/nonideal/mean_field/mean_field.h"
#include "platform/program_paths.h"
#include "platform/scripted_ui.h"
#include "tests/distributions/run_test_support.h"

namespace {

using runtest::Experiment;

struct Batch {
  bool nodeTable = false;  // the field of a fit or a file
  bool table = false;      // the data-extrapolation table
};

constexpr double kOmega2 = (50000 * 2 * M_PI / 60) * (50000 * 2 * M_PI / 60);

// A unit boundary of s (S) at time t on radius r: the radially diluted
// plateau behind m exp(w^2 s t), 0.02 cm wide.
double Boundary(double s, double t, double r, double m) {
  const double x = kOmega2 * s * 1e-13 * t;
  return 0.5 * std::erfc((m * std::exp(x) - r) / 0.02) * std::exp(-2 * x);
}

class NonidealRun : public ::testing::Test {
 protected:
  void SetUp() override {
    DeleteNonidealModel();
    DeleteMeanFieldCtot();
    MeanField() = MeanFieldSettings{};
    InstallMeanFieldHooks();
  }
  void TearDown() override {
    e_.reset();
    SetNonidealBatchRunner(nullptr);
    DeleteNonidealModel();
    DeleteMeanFieldCtot();
    MeanField() = MeanFieldSettings{};
    gModelSelectorFlags = ModelSelectorFlags{};
  }
  // Eight scans 600-2700 s on 120 points, data 0.8 of the 5 S boundary
  // with a little noise, the nonideal c(s) over 1-10 S in 19 points.
  void Prepare(Experiment& e) {
    runtest::SetGrid(1.0f, 10.0f, 19);
    ScanSet& s = CurrentScanSet();
    for (int j = 1; j <= e.scans; ++j)
      for (int i = 1; i <= e.points; ++i)
        s.signals[j][i] = s.gridSignals[j][i] =
            static_cast<float>(0.8 * Boundary(5.0, s.records[j].timeRead, s.grid[i], e.meniscus) +
                               0.002 * std::sin(1.7 * i + 2.3 * j));
    Nonideal(-2.0f, -2.3f);
    Conti().maxEntropy = 0;
    Conti().confidenceLevel = 0.5f;
  }
  // The experiment of Prepare on `scans` x `points`; Recorded also records
  // the batches.
  void Prepared(int scans, int points) {
    e_.emplace(scans, points);
    Prepare(*e_);
  }
  void Recorded(int scans = 8, int points = 120) {
    Prepared(scans, points);
    Record();
  }
  static void Nonideal(float logKs, float logKd) {
    gModelSelectorFlags = ModelSelectorFlags{};
    gModelSelectorFlags.DistributionModel = 1;
    gModelSelectorFlags.NonidealCSModel = 1;
    gAssociationModelParams.logKs = logKs;
    gAssociationModelParams.logKd = logKd;
    PackModelParameters();
  }
  // Records every batch and fills the kernels with the stand-in boundaries
  // and the profiles with k t (r - m) / 1000.
  void Record() {
    SetNonidealBatchRunner([this](const CLammNonIdeal& p, int n, const double* s, const double*, const double*) {
      batches.push_back({p.NodeTableOn(), p.CtotLoaded() && !p.NodeTableOn()});
      const ScanSet& sc = CurrentScanSet();
      for (int k = 1; k <= n; ++k)
        for (int j = 1; j <= sc.count; ++j)
          for (int i = 1; i <= sc.gridLength; ++i)
            WorkBlock().lammSolutions[k][j][i] =
                static_cast<float>(Boundary(s[k], sc.records[j].timeRead, sc.grid[i], gModelParams.meniscus));
      CContiNonid* o = MeanField().pCContiNonidSim.get();
      if (o && o->recordProfiles && o->profileStorePresent)
        for (int k = 1; k <= n; ++k)
          for (int f = 1; f <= o->frameCount; ++f)
            for (int i = 1; i <= o->profileRadiiCount; ++i)
              o->ProfileStore()[k][f][i] =
                  static_cast<float>(1e-3 * k * o->frameTimes[f] * (o->profileRadii[i] - gModelParams.meniscus));
      return 0;
    });
  }
  // Runs and returns the batches of this run.
  std::vector<Batch> Run() {
    batches.clear();
    RunContiSed();
    return batches;
  }
  static CContiNonid* Model() { return MeanField().pCContiNonidSim.get(); }
  static int Peak() {
    const ContiSettings& cs = Conti();
    int peak = 1;
    for (int i = 1; i <= cs.gridSize; ++i)
      if (cs.distribution[i] > cs.distribution[peak]) peak = i;
    return peak;
  }

  std::optional<Experiment> e_;
  std::vector<Batch> batches;
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope{ui};
};

TEST_F(NonidealRun, BestFitSimulatesTwiceThenReusesItsField) {
  Recorded();
  auto first = Run();
  ASSERT_EQ(first.size(), 2u);
  EXPECT_TRUE(first[0].table);
  EXPECT_TRUE(first[1].nodeTable);
  ASSERT_TRUE(ModelHoldsMeanField());
  EXPECT_NEAR(Conti().sValues[Peak()], 5.0, 0.01);
  auto second = Run();
  ASSERT_EQ(second.size(), 1u);
  EXPECT_TRUE(second[0].nodeTable);
  EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();

  // A reload deletes the model: the data table comes first again.
  CurrentLoadHooks().deleteNonidealModel();
  EXPECT_EQ(Model(), nullptr);
  EXPECT_EQ(Run().size(), 2u);

  // Changed data throw the field away.
  ScanSet& s = CurrentScanSet();
  s.gridSignals[1][s.gridLength / 2] += 0.01f;
  ui.ExpectBox("Error", "data appear to have changed - switching back to data extrapolation mode");
  auto changed = Run();
  ASSERT_EQ(changed.size(), 2u);
  EXPECT_TRUE(changed[0].table);
  EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();
}

// The silent runs of a fit check the field as a Run does; a Monte-Carlo
// run (silent, no fit) runs with the passes it finds, unasked.
TEST_F(NonidealRun, FitEvaluationsReuseTheFieldOfTheRun) {
  Recorded();
  ASSERT_EQ(Run().size(), 2u);
  ASSERT_TRUE(SetupContiGrid());  // a fit's grid and blocks
  Conti().silent = 1;
  gFitEngineState.fitRunning = 1;
  auto evaluation = Run();
  ASSERT_EQ(evaluation.size(), 1u);
  EXPECT_TRUE(evaluation[0].nodeTable);
  DeleteNonidealModel();
  EXPECT_EQ(Run().size(), 2u);  // a fit after a reload starts from the data
  gFitEngineState.fitRunning = 0;
  CurrentScanSet().gridSignals[1][60] += 0.01f;  // not looked at outside a fit
  EXPECT_FALSE(Run().empty());
  Conti().silent = 0;
  EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();
}

TEST_F(NonidealRun, InterpolatedDataRunOnceOnTheTableAndMakeNoField) {
  Recorded();
  MeanField().useInterpolatedData = true;
  for (int run = 1; run <= 2; ++run) {
    auto b = Run();
    ASSERT_EQ(b.size(), 1u);
    EXPECT_TRUE(b[0].table);
    EXPECT_FALSE(Model()->ctotFramesPresent);
    EXPECT_FALSE(ModelHoldsMeanField());
  }
  EXPECT_NEAR(Conti().sValues[Peak()], 5.0, 0.01);
}

TEST_F(NonidealRun, FreezeKeepsTheFieldAndRecordsNoProfiles) {
  Recorded();
  Run();
  ASSERT_TRUE(ModelHoldsMeanField());
  const auto frames = Model()->regridded;
  MeanField().freeze = true;
  auto b = Run();
  ASSERT_EQ(b.size(), 1u);
  EXPECT_TRUE(b[0].nodeTable);
  EXPECT_FALSE(Model()->recordProfiles);
  EXPECT_EQ(Model()->regridded, frames);
}

// "load external" without a field, also while a field from an earlier run
// is held: the data themselves, as for a movie that does not fit.
TEST_F(NonidealRun, LoadExternalWithoutAFieldRunsOnTheData) {
  Recorded();
  for (bool earlierRun : {false, true}) {
    SCOPED_TRACE(earlierRun);
    DeleteNonidealModel();
    MeanField().useInterpolatedData = false;
    if (earlierRun) Run();
    MeanField().loadExternal = true;
    ui.ExpectBox("Error", "use external mean field: not loaded");
    auto b = Run();
    ASSERT_EQ(b.size(), 1u);
    EXPECT_TRUE(b[0].table);
    EXPECT_FALSE(MeanField().loadExternal);
    EXPECT_TRUE(MeanField().useInterpolatedData);
    EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();
  }
}

TEST_F(NonidealRun, ALoadedFieldIsUsedAndBecomesTheStartOfBestFitWithNoise) {
  Recorded();
  Run();
  ASSERT_TRUE(CopyMeanFieldToCtotMovie());
  DeleteNonidealModel();
  MeanField().loadExternal = true;
  auto b = Run();
  ASSERT_EQ(b.size(), 1u);
  EXPECT_TRUE(b[0].nodeTable);
  EXPECT_TRUE(Model()->externalInUse);
  EXPECT_TRUE(MeanField().loadExternal);  // no noise fitted: it stays loaded
  gFitEngineState.fitTINoise = 1;
  Run();
  gFitEngineState.fitTINoise = 0;
  EXPECT_FALSE(MeanField().loadExternal);
  EXPECT_FALSE(Model()->externalInUse);
  EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();

  // A field of other counts than the model's recorded profiles: they are
  // made again for its frames and radii.
  const int radii = 50, frames = 30;
  std::vector<float> r(radii + 3);
  for (int i = 1; i <= radii + 2; ++i) r[i] = 5.5f + 2.2f * (i - 1) / (radii + 1);
  std::vector<double> t(frames + 1);
  std::vector<std::vector<float>> v(frames + 1, std::vector<float>(radii + 3, 0.2f));
  std::vector<float*> rows(frames + 1);
  for (int f = 1; f <= frames; ++f) {
    t[f] = 100.0 * f;
    rows[f] = v[f].data();
  }
  ASSERT_TRUE(EnsureCtotMovie().Assign(frames, radii, r.data(), t.data(), rows.data(), 6.0f, 7.2f, 1.0, 50000));
  MeanField().loadExternal = true;
  ASSERT_EQ(Run().size(), 1u);
  EXPECT_EQ(Model()->frameCount, frames);
  EXPECT_EQ(Model()->storeFrameCount, frames);
  EXPECT_EQ(Model()->profileRadii.size(), static_cast<size_t>(radii + 1));
  EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();
}

TEST_F(NonidealRun, TheTableIsMadeOfANoiseCorrectedCopy) {
  Prepared(8, 120);
  ScanSet& s = CurrentScanSet();
  s.tiNoise = vector(1, s.gridLength);
  for (int i = 1; i <= s.gridLength; ++i) s.tiNoise[i] = 0.3f;
  gFitEngineState.fitTINoise = 1;
  const std::vector<float> before(s.gridSignals[3] + 1, s.gridSignals[3] + 1 + s.gridLength);
  float largest = 0;
  for (int j = 1; j <= s.count; ++j)
    for (int i = s.firstGridPoint; i <= s.lastGridPoint; ++i) largest = std::max(largest, s.gridSignals[j][i]);
  CheckExternalMeanFieldForRun();
  gFitEngineState.fitTINoise = 0;
  ASSERT_NE(Model(), nullptr);
  EXPECT_NEAR(Model()->signalMaximum, largest - 0.3, 1e-6);
  EXPECT_EQ(std::vector<float>(s.gridSignals[3] + 1, s.gridSignals[3] + 1 + s.gridLength), before);
  free_vector(s.tiNoise, 1, s.gridLength);
  s.tiNoise = nullptr;
}

TEST_F(NonidealRun, TableFilesThatCannotBeWrittenAreToldOnce) {
  Prepared(4, 60);
  platform::ProgramPathsRecord& paths = platform::ProgramPaths;
  const platform::ProgramPathsRecord saved = paths;
  paths.BoundaryFractsPath = "/nonexistent-folder/ppBoundaryFracts.dat";
  paths.NonIdCtotTablePath = "/nonexistent-folder/ppNonIdCtotTable.dat";
  ui.ExpectBox("Error", "Attention: could not open /nonexistent-folder/ppBoundaryFracts.dat");
  for (int run = 0; run < 3; ++run) {
    DeleteNonidealModel();
    CheckExternalMeanFieldForRun();
  }
  paths = saved;
  EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();
  EXPECT_TRUE(ui.AllConsumed());
}

TEST_F(NonidealRun, InhomogeneousSolventAndBufferSignalsAreRefused) {
  Recorded(4, 60);
  CurrentSolventGradientSettings().UseInhomogeneousSolvent = true;
  ui.ExpectBox("", "nonideal c(s) model not implemented yet for inhomogeneous solvent");
  EXPECT_TRUE(Run().empty());
  CurrentSolventGradientSettings().UseInhomogeneousSolvent = false;
  ContiHooks().bufferCorrection = true;
  ui.ExpectBox("", "nonideal c(s) model not implemented yet with buffer mismatch signals");
  EXPECT_TRUE(Run().empty());
  ContiHooks().bufferCorrection = false;
  EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();
  EXPECT_TRUE(ui.AllConsumed());
}

// ---- with the nonideal solver ------------------------------------------

// Negligible nonideality: the distribution of the ideal c(s), point by
// point, both solvers converged (the ideal one on a fixed fine grid) and the
// amplitudes unregularised on a grid coarse enough to be well conditioned.
TEST_F(NonidealRun, NegligibleNonidealityGivesTheIdealDistribution) {
  Experiment e(6, 100);
  runtest::SetGrid(1.0f, 10.0f, 8);
  auto converged = [] {
    LammSolverSettings& ls = LammSettings();
    ls.automaticGridSize = 0;
    ls.automaticAlgorithm = 0;
    ls.gridSize.setting = 2000;
  };
  converged();
  ASSERT_TRUE(runtest::MakeSyntheticData(e, {{4, 0.6f}, {7, 0.3f}}));
  Conti().maxEntropy = 0;
  Conti().confidenceLevel = 0.5f;
  converged();
  RunContiSed();
  const std::vector<float> ideal(Conti().distribution + 1, Conti().distribution + 1 + Conti().gridSize);
  Nonideal(-10.0f, -10.0f);
  MeanField().movieGridSize = 1000;
  converged();
  RunContiSed();
  ASSERT_EQ(static_cast<int>(ideal.size()), Conti().gridSize);
  for (int i = 1; i <= Conti().gridSize; ++i) EXPECT_NEAR(Conti().distribution[i], ideal[i - 1], 1e-3) << i;
  EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();
}

// Data of one species of 5 S whose s and D follow its own concentration
// (c0 = 5 mg/ml, ks = 0.01 and kd = 0.005 ml/mg), analysed with the same
// ks and kd: the peak sits at the species' s.
TEST_F(NonidealRun, ANonidealSpeciesIsFoundAtItsOwnS) {
  Experiment e(8, 200);
  const float logKs = -2.0f, logKd = -2.30103f;
  const double s0 = 5.0, c0 = 5.0;
  const double D0 = DFromMGlobalFf0(CalculateM(static_cast<float>(s0)), 20.0f);
  ScanSet& sc = CurrentScanSet();
  {
    CLammIdeal L;
    L.MarkLoaded();
    L.SetOutputParameters(s0, D0, e.meniscus, e.bottom, c0, e.left, e.right);
    L.SetScanTimes({.records = sc.records.data(), .output = sc.gridSignals.data(), .grid = sc.grid,
                    .gridLength = sc.gridLength, .indexMap = sc.order.data(), .scanCount = sc.count,
                    .suppressText1 = true, .suppressText2 = true, .absorbanceData = true});
    SetModelOptionsFromSettings(L, LammSettings(), LammSettings().workingMaxDcOverC, 1000);
    L.SetSolventAndComputeFrictionalRatio(20, 0.73, 0.99823, 1.0);
    ConcDependentModel m;
    m.singleNonideal = m.nonideality = true;
    m.a = logKs;
    m.b = logKd;
    m.signA = m.signB = true;
    m.scale = 1.0;
    L.SetConcDependentModel(m);
    ASSERT_EQ(L.CheckAndRun(), 0);
  }
  for (int j = 1; j <= sc.count; ++j)
    for (int i = 1; i <= sc.points[j]; ++i) sc.signals[j][i] = sc.gridSignals[j][i];
  runtest::SetGrid(3.0f, 7.0f, 41);
  Conti().maxEntropy = 0;
  Conti().confidenceLevel = 0.5f;
  sc.signalPerConcentration = 1.0;
  LammSettings().gridSize.setting = 500;
  Nonideal(logKs, logKd);
  RunContiSed();
  EXPECT_TRUE(ui.failures.empty()) << ui.failures.front();
  EXPECT_NEAR(Conti().sValues[Peak()], s0, 0.1);
  // Analysed as ideal, the slowed boundary reads as a smaller s.
  DeleteNonidealModel();
  Nonideal(-10.0f, -10.0f);
  RunContiSed();
  EXPECT_LT(Conti().sValues[Peak()], s0 - 0.1);
}

}  // namespace
