// The reacting system A + B <-> AB from the window: selected by its hidden
// command, edited in its parameter box, run, and fitted back to the
// association constant of data it simulated itself.
#include <cmath>
#include <vector>

#include "fit/fit_engine_state.h"
#include "fit/lamm_grid.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/coefficients/mass_action.h"
#include "lamm/lamm_settings.h"
#include "models/reacting/hetero_association.h"
#include "road_support.h"

namespace {

class RoadReacting : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    CurrentHeteroAssociationState() = HeteroAssociationState{};
  }
};

TEST_F(RoadReacting, RunAndFitRecoverTheAssociationConstant) {
  LoadRun(4);
  LammSolverSettings& st = LammSettings();
  st.automaticGridSize = 0;
  st.gridSize.setting = st.gridSize.inUse = 150;
  gFitEngineState.molarMassParameters = 1;
  Window().Dispatch(267);
  ASSERT_EQ(gModelSelectorFlags.Model267, 1);
  ModelParameterVector& v = gModelParameterVector;
  const std::vector<std::pair<int, float>> values = {{1, 30000}, {2, 50000}, {4, 1},    {5, 3},     {6, 4.5f},
                                                     {7, 6},     {8, 0.5f},  {9, 0.3f}, {10, 0.3f}, {12, 1},
                                                     {13, 5.95f}, {14, 7.18f}};
  for (const auto& [slot, value] : values) v.P[slot] = value;
  UnpackModelParameters();
  st.workingMaxDcOverC = 20;  // s per step
  Window().Dispatch(213);  // Run
  ScanSet& s = CurrentScanSet();
  double top = 0;
  for (int j = 1; j <= s.points[4]; ++j) top = std::max(top, static_cast<double>(s.model[4][j]));
  EXPECT_GT(top, 0.5);
  EXPECT_LT(top, 0.7);
  ModelsPlusNoiseAsData(0.001, 2718);  // the run plus noise is the data

  v.P[8] = 1.0f;
  v.P[7] = 5.5f;
  v.F[8] = v.F[7] = 1;
  UnpackModelParameters();
  Window().Dispatch(215);  // Fit
  EXPECT_NEAR(v.P[8], 0.5, 0.05);
  EXPECT_NEAR(v.P[7], 6.0, 0.12);
  EXPECT_EQ(v.F[3] + v.F[11], 0);
  EXPECT_FLOAT_EQ(v.P[11], static_cast<float>(SmallerComplexRoot(0.3, 0.3, std::pow(10.0, v.P[8]))));

  // The box of the model: log K is the fourth component's s.
  forms_.Expect({"A + B <--> AB", {{428, "0.2"}}, {}});
  Window().Dispatch(212);
  EXPECT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  EXPECT_FLOAT_EQ(v.P[8], 0.2f);
  EXPECT_NEAR(v.P[11], SmallerComplexRoot(0.3, 0.3, std::pow(10.0, 0.2)), 1e-6);
  EXPECT_FALSE(Window().FitBusy);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

// Switching between molar masses and diffusion coefficients after the
// model is chosen: A's and B's entries convert, the complex follows as the
// D of M_A + M_B (never D_A + D_B), A's extinction in slot 4 stays, and the
// run diffuses the complex the same in both forms.
TEST_F(RoadReacting, SwitchingBetweenMassesAndDiffusionCoefficients) {
  LoadRun(2);
  LammSolverSettings& st = LammSettings();
  st.automaticGridSize = 0;
  st.gridSize.setting = st.gridSize.inUse = 150;
  st.workingMaxDcOverC = 20;
  gFitEngineState.molarMassParameters = 1;
  Window().Dispatch(267);
  ASSERT_EQ(gModelSelectorFlags.Model267, 1);
  float* P = gModelParameterVector.P;
  const std::vector<std::pair<int, float>> values = {{1, 30000}, {2, 50000}, {4, 0.8f}, {5, 3},     {6, 4.5f},
                                                     {7, 6},     {8, 0.5f},  {9, 0.3f}, {10, 0.3f}, {12, 1}};
  for (const auto& [slot, value] : values) P[slot] = value;
  UnpackModelParameters();
  EXPECT_FLOAT_EQ(P[3], 80000);
  Window().Dispatch(213);
  const double massRun = CurrentHeteroAssociationState().runDAB;

  Window().Dispatch(217);  // to diffusion coefficients
  ASSERT_EQ(gFitEngineState.molarMassParameters, 0);
  // D = s RT / ((1 - vbar rho) M), in 1e-7 cm^2/s: M ~ s / D.
  const double ratioA = 3 / (P[1] * 30000.0), ratioB = 4.5 / (P[2] * 50000.0);
  EXPECT_NEAR(ratioA / ratioB, 1, 1e-5);
  EXPECT_NEAR(P[3], 6 / (3 / P[1] + 4.5 / P[2]), 1e-4 * P[3]);
  EXPECT_NEAR(P[3] * 80000.0 / 6, P[1] * 30000.0 / 3, 1e-4 * P[1] * 30000.0 / 3);
  EXPECT_FLOAT_EQ(P[4], 0.8f);
  Window().Dispatch(213);
  EXPECT_NEAR(CurrentHeteroAssociationState().runDAB, massRun, 2e-3 * massRun);
  EXPECT_NEAR(CurrentHeteroAssociationState().runDAB, P[3] * 1e-7, 1e-12);

  Window().Dispatch(217);  // back to molar masses
  ASSERT_EQ(gFitEngineState.molarMassParameters, 1);
  EXPECT_NEAR(P[1], 30000, 1);
  EXPECT_NEAR(P[2], 50000, 1);
  EXPECT_NEAR(P[3], 80000, 2);
  EXPECT_FLOAT_EQ(P[4], 0.8f);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

// The model command turns on the reacting block and the moving frame: Lamm
// arrays that exist are allocated again with them; absent ones stay absent.
TEST_F(RoadReacting, ModelCommandReallocatesLammArraysThatExist) {
  for (const bool allocated : {true, false}) {
    SCOPED_TRACE(allocated ? "allocated" : "not allocated");
    gModelSelectorFlags = ModelSelectorFlags{};
    LammSolverSettings& st = LammSettings();
    st.movingHatAlgorithm = 0;
    st.gridSize.inUse = 120;
    LammGrid& g = CurrentLammGrid();
    FreeLammArrays();
    g.reactingSystem = false;
    if (allocated) {
      ASSERT_TRUE(AllocLammArrays());
      ASSERT_EQ(g.reactingBlock, nullptr);
    }
    Window().Dispatch(267);
    ASSERT_EQ(gModelSelectorFlags.Model267, 1);
    EXPECT_EQ(g.GridAllocated != 0, allocated);
    if (allocated) {
      EXPECT_NE(g.reactingBlock, nullptr);
      EXPECT_NE(g.frameBlock, nullptr);
      // The simulation's own check of the arrays passes.
      EXPECT_TRUE(AllocLammArrays());
    }
    FreeLammArrays();
    g.reactingSystem = false;
  }
}

}  // namespace
