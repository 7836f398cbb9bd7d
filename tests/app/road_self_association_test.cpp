// The self-association and nonideal models from the window: a monomer-dimer
// run simulated by the program becomes noisy data that a fit from a wrong
// association constant recovers, and "c1 nonideal" of the discrete model
// runs component 1 with the nonideality asked after the parameter dialog.
#include <cmath>
#include <vector>

#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/lamm_settings.h"
#include "road_support.h"

namespace {

class RoadSelfAssociation : public RoadTest {
 protected:
  // Small fixed grids keep the fits quick.
  static void SmallGrid() {
    LammSolverSettings& st = LammSettings();
    st.automaticGridSize = 0;
    st.gridSize.setting = st.gridSize.inUse = 300;
  }
};

TEST_F(RoadSelfAssociation, MonomerDimerDataAreFittedBackToTheirAssociationConstant) {
  LoadRun(40);
  SmallGrid();
  gFitEngineState.molarMassParameters = 0;
  Window().Dispatch(197);
  ASSERT_EQ(gModelSelectorFlags.MonomerDimerModel, 1);
  ModelParameterVector& v = gModelParameterVector;
  v.P[1] = 6;     // D1, 1e-7 cm^2/s
  v.P[3] = 0;     // log10 K
  v.P[5] = 4.3f;  // s1
  v.P[6] = 6.8f;  // s2
  v.P[11] = 0.5f;
  v.P[13] = 5.95f;
  v.P[14] = 7.18f;
  UnpackModelParameters();
  Window().Dispatch(213);  // Run
  ScanSet& s = CurrentScanSet();
  double top = 0;
  for (int j = 1; j <= s.points[20]; ++j) top = std::max(top, static_cast<double>(s.model[20][j]));
  EXPECT_GT(top, 0.2);

  ModelsPlusNoiseAsData(0.005, 12345);  // the run plus noise is the data
  v.P[3] = 0.5f;
  v.F[3] = v.F[5] = v.F[11] = 1;
  UnpackModelParameters();
  Window().Dispatch(215);  // Fit
  EXPECT_NEAR(v.P[3], 0.0, 0.05);
  EXPECT_NEAR(v.P[5], 4.3, 0.043);
  EXPECT_FALSE(Window().FitBusy);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

TEST_F(RoadSelfAssociation, FirstComponentNonidealIsAskedForAndRun) {
  LoadRun(3);
  SmallGrid();
  gFitEngineState.molarMassParameters = 0;
  Window().Dispatch(198);
  auto dialog = [&](int nonideal) {
    forms_.Expect(OneSpeciesForm({.cFit = 0}, {{450, nonideal}}));
    Window().Dispatch(212);
    ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  };
  // The boundary of the ideal species, then the same species with
  // ks c = 0.1 on its plateau: it sediments about 10 % slower.
  dialog(0);
  EXPECT_EQ(gModelSelectorFlags.ConcDependentSolverSwitch, 0);
  Window().Dispatch(213);
  const ScanSet& s = CurrentScanSet();
  std::vector<float> ideal(s.model[3] + 1, s.model[3] + 1 + s.points[3]);

  const char* title = "NONIDEAL COMPONENT 1";
  ui_->ExpectPrompt(title, "log10(ks/(mg/ml)):", std::string("-1"));
  ui_->ExpectBox(title, "fit ks?", platform::IDNO);
  ui_->ExpectPrompt(title, "log10(kd/(mg/ml)):", std::string("-5"));
  ui_->ExpectBox(title, "fit kd?", platform::IDNO);
  ui_->ExpectPrompt(title, "Signal per mg/ml:", std::string("1"));
  dialog(1);
  EXPECT_EQ(gModelSelectorFlags.ConcDependentSolverSwitch, 1);
  EXPECT_FLOAT_EQ(gAssociationModelParams.logKs, -1);
  Window().Dispatch(213);
  // Where the ideal boundary is half way up the slower one holds more, and
  // its plateau is diluted less.
  int mid = 1;
  while (mid < s.points[3] && ideal[mid - 1] < 0.5f * ideal[s.points[3] / 2]) ++mid;
  EXPECT_GT(s.model[3][mid], ideal[mid - 1] + 0.05);
  EXPECT_GT(s.model[3][s.points[3] / 2], ideal[s.points[3] / 2 - 1] + 0.002);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

}  // namespace
