// The ls-g*(s) area-fraction extrapolation on closed-form boundaries.
#include "distributions/prior_knowledge.h"
#include "distributions/analysis/lsgs_extrapolation.h"

#include <gtest/gtest.h>

#include <cmath>

#include "boundary_scans.h"
#include "data/scan_loading.h"
#include "distributions/analysis/extrapolation_plot.h"
#include "distributions/conti_context.h"
#include "distributions/conti_parameters.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/work_blocks.h"
#include "fit/amplitudes.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/lamm_settings.h"
#include "platform/scripted_ui.h"
#include "tests/support/data_state.h"
#include "tests/support/distribution_state.h"
#include "tests/support/fit_state.h"

namespace {

using Scans = boundary_test::Experiment;
using boundary_test::OneSpecies;

class LsgsExtrapolation : public ::testing::Test {
 protected:
  void SetUp() override {
    teststate::ResetDataState();
    teststate::ResetFitState();
    teststate::ResetDistributionState();
    FreeLsgsArrays();
    Lsgs() = LsgsRunState{};
    RegisterContiParameterDerivation();
    gModelSelectorFlags.SedTransformModel = 1;
    gModelSelectorFlags.LsgExtrapolationModel = 1;
    gModelSelectorFlags.DistributionModel = 1;
    AllocParameterArrays();
    gFitEngineState.fitTINoise = 0;
    LammSettings() = LammSolverSettings{};
    teststate::QuietContiRun().maxEntropy = 0;
    ui_.lenient = true;
  }
  // The data state goes too: the kind of data the scans were loaded as
  // stayed behind and bent a later c(s) run of another test.
  void TearDown() override {
    FreeDistributionArrays();
    FreeDistributionWorkArrays(WorkBlock().gridPoints);
    FreeNormalEquationBlock();
    FreeLsgsArrays();
    ClearParameterDerivations();
    teststate::ResetDataState();
  }
  // The dialog's entries: 1..10 S at 50 points, P 0.68, N fractions, g scans per group.
  static void Enter(int fractions, int groupSize) {
    PackModelParameters();
    float* P = gModelParameterVector.P;
    P[1] = 1.0f;
    P[5] = 10.0f;
    P[9] = 50.0f;
    P[2] = 0.68f;
    P[11] = static_cast<float>(fractions);
    P[3] = static_cast<float>(groupSize);
  }
  platform::ScriptedUserInterface ui_;
  platform::ScopedUI scope_{ui_};
};

TEST_F(LsgsExtrapolation, OneSpeciesGivesItsSedimentationCoefficientAndLoading) {
  ASSERT_TRUE(boundary_test::WriteAndLoad(OneSpecies()));
  Enter(20, 3);
  // Left by an evaluation from a measured start: the boundary model still
  // covers the first scan.
  gFirstSimulatedScan = 2;
  LsgExtrapolation().plotExtrapolation = 1;
  ASSERT_TRUE(RunLsgs());
  LsgsRunState& st = Lsgs();
  EXPECT_EQ(st.groups, 4);
  ASSERT_EQ(st.fractions, 20);
  EXPECT_NEAR(st.loadingSignal, 1.0, 0.01);
  double mean = 0;
  for (int j = 1; j <= 20; ++j) mean += st.Intercepts()[j] / 20.0;
  EXPECT_NEAR(mean, 5.0, 0.05);
  for (int j = 2; j <= 17; ++j) EXPECT_NEAR(st.Intercepts()[j], 5.0, 0.15) << j;
  const ContiSettings& cs = Conti();
  ASSERT_EQ(cs.gridSize, 50);
  for (int j = 1; j <= 50; ++j) {
    const int k = j <= 20 ? j : 20;
    EXPECT_FLOAT_EQ(cs.sValues[j], st.Intercepts()[k]) << j;
    EXPECT_FLOAT_EQ(cs.distribution[j], k * st.loadingSignal / 21) << j;
  }
  // The group times are the mean times of their scans.
  EXPECT_FLOAT_EQ(st.groupTimes[1], 1600.0f);
  EXPECT_FLOAT_EQ(st.groupTimes[4], 5200.0f);
  EXPECT_TRUE(ExtrapolationPlot().shown);
  EXPECT_EQ(ExtrapolationPlot().rows, 4);
  // The boundary model follows the data closely.
  EXPECT_LT(gFitEngineState.currentRmsd, 0.03f);
}

TEST_F(LsgsExtrapolation, SlidingGroupsStartAtEveryScan) {
  ASSERT_TRUE(boundary_test::WriteAndLoad(OneSpecies()));
  Enter(10, 1);  // one scan per group runs as two
  LsgExtrapolation().consecutiveGroups = 0;
  ASSERT_TRUE(RunLsgs());
  EXPECT_EQ(Lsgs().groupSize, 2);
  EXPECT_EQ(Lsgs().groups, 11);
  EXPECT_FLOAT_EQ(Lsgs().groupTimes[2], 1800.0f);
  for (int j = 2; j <= 8; ++j) EXPECT_NEAR(Lsgs().Intercepts()[j], 5.0, 0.25) << j;
}

TEST_F(LsgsExtrapolation, RefusesWithoutTwoGroupsOrACell) {
  struct Case {
    const char* name;
    int groupSize;
    void (*spoil)();
    const char* message;
  };
  const Case cases[] = {
      {"one group", 7, [] {}, "at least two groups of 7 scans"},
      {"cell", 3, [] { gModelParameterVector.P[13] = gModelParams.meniscus = 0; }, "set Meniscus and Bottom first"},
      {"speed", 3, [] { CurrentScanSet().records[CurrentScanSet().order[12]].rpm = 0; }, "rotor speed"},
      {"time", 3, [] { CurrentScanSet().records[2].timeRead = -5; }, "positive time"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(boundary_test::WriteAndLoad(OneSpecies()));
    Enter(20, c.groupSize);
    c.spoil();
    platform::ScriptedUserInterface ui;
    platform::ScopedUI scope(ui);
    ui.ExpectBox("", c.message);
    EXPECT_FALSE(RunLsgs()) << c.name;
    EXPECT_TRUE(ui.failures.empty()) << c.name << ": " << (ui.failures.empty() ? "" : ui.failures[0]);
    EXPECT_TRUE(ui.AllConsumed()) << c.name;
  }
}

TEST_F(LsgsExtrapolation, RefinedLinesFitTheBoundariesAtLeastAsWell) {
  ASSERT_TRUE(boundary_test::WriteAndLoad(OneSpecies()));
  Enter(5, 3);
  ASSERT_TRUE(RunLsgs());
  const float plain = gFitEngineState.currentRmsd;
  std::vector<float> lines(Lsgs().refinement);
  LsgExtrapolation().fitFractions = 1;
  ASSERT_TRUE(RunLsgs());
  EXPECT_LE(gFitEngineState.currentRmsd, plain);
  EXPECT_GT(gFitEngineState.minimiserRuns, 5);
  EXPECT_NE(Lsgs().refinement, lines);
  for (int j = 2; j <= 4; ++j) EXPECT_NEAR(Lsgs().Intercepts()[j], 5.0, 0.25) << j;
}

}  // namespace
