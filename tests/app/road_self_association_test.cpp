// The self-association and nonideal models from the window: a monomer-dimer
// run simulated by the program becomes noisy data that a fit from a wrong
// association constant recovers, and "c1 nonideal" of the discrete model
// runs component 1 with the nonideality asked after the parameter dialog.
#include <cmath>
#include <string>
#include <vector>

#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/lamm_settings.h"
#include "platform/input_events.h"
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

// The nonideal single species on the static grid, where ks times the
// concentration must stay at or below 1: with a loading of 0.5 mg/ml,
// log10(ks) below log10(2) = 0.30103. Data made just inside the range,
// fitted (loading, D, s and log10(ks)) by the simplex and by Marquardt-
// Levenberg from starts whose steps cross it: a step across is rejected
// inside the fit, which says so once, naming the parameter and its range,
// and ends inside the range no worse than it started. A key stops the fit
// with the best state kept, and the window says that it was stopped.
TEST_F(RoadSelfAssociation, NonidealFitRejectsStepsOutsideTheModelsRange) {
  LoadRun(12);
  SmallGrid();
  Window().Dispatch(227);  // nonideal sedimentation, single species
  ASSERT_EQ(gModelSelectorFlags.NonidealSingleSpeciesModel, 1);
  LammSolverSettings& st = LammSettings();
  st.automaticAlgorithm = st.movingHatAlgorithm = 0;
  st.claverieAlgorithm = 1;
  CurrentScanSet().signalPerConcentration = 1;
  ModelParameterVector& v = gModelParameterVector;
  auto startAt = [&v](float logKs) {
    v.P[1] = 4;     // D, 1e-7 cm^2/s
    v.P[5] = 5;     // s
    v.P[9] = 0.5f;  // loading
    v.P[10] = logKs;
    v.P[13] = 5.95f;
    v.P[14] = 7.18f;
    UnpackModelParameters();
  };
  startAt(0.29f);
  Window().Dispatch(213);  // Run
  ModelsPlusNoiseAsData(0.005, 12345);
  v.F[1] = v.F[5] = v.F[9] = v.F[10] = 1;
  ui_->lenient = true;
  // The range follows the loading of the trial, which the fit moves too.
  const std::string range = "so log10(ks) must stay below 0.";
  struct Case {
    const char* name;
    unsigned char marquardt;
    float logKs;
    bool stopped;
  };
  for (const Case& c : {Case{"simplex", 0, 0.3f, false}, Case{"Marquardt-Levenberg", 1, 0.28f, false},
                        Case{"simplex, stopped by a key", 0, 0.3f, true}}) {
    SCOPED_TRACE(c.name);
    gFitEngineState.useMarquardt = c.marquardt;
    startAt(c.logKs);
    Window().Dispatch(213);
    const double before = FitLimitRmsd(-1);
    ui_->transcript.clear();
    if (c.stopped)
      platform::SetEventPump([] {
        if (gFitEngineState.evaluationsTotal == 60) platform::PostKeyDown('x');
      });
    Window().Dispatch(215);  // Fit
    platform::SetEventPump({});
    int outOfRange = 0, named = 0, stopped = 0;
    for (const platform::TranscriptEntry& e : ui_->transcript) {
      outOfRange += e.text.find("nonideality out of range") != std::string::npos;
      named += e.text.find(range) != std::string::npos;
      stopped += e.text.rfind("fit stopped by the user", 0) == 0;
    }
    EXPECT_LE(outOfRange, 1);
    EXPECT_EQ(named, outOfRange);
    if (!c.stopped) {
      EXPECT_EQ(outOfRange, 1) << "no step crossed the range";
    }
    EXPECT_EQ(stopped, c.stopped ? 1 : 0);
    EXPECT_LT(v.P[10], -std::log10(v.P[9]));
    for (int i : {1, 5, 9, 10}) EXPECT_TRUE(std::isfinite(v.P[i])) << i;
    const double after = FitLimitRmsd(-1);
    EXPECT_LE(after, before);
    if (!c.stopped) {
      EXPECT_LT(after, 0.0052);  // the noise, 0.005
    }
    EXPECT_FALSE(Window().FitBusy);
  }
}

}  // namespace
