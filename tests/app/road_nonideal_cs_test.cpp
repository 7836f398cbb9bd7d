// "Nonideal c(s)" from the window on the synthetic 5 S run: Run computes
// the distribution in the mean field, and its field can be shown, exported,
// cleared and restored by the ctot commands.
#include <filesystem>
#include <fstream>

#include "distributions/conti_settings.h"
#include "data/scan_loading.h"
#include "fit/rmsd.h"
#include "fit/saved_params.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"
#include "fit/fit_engine_state.h"
#include "models/nonideal/mean_field/ctot_movie.h"
#include "models/nonideal/mean_field/mean_field.h"
#include "road_support.h"

namespace {

class RoadNonidealCs : public RoadTest {
 protected:
  void TearDown() override {
    DeleteMeanFieldCtot();
    DeleteNonidealModel();
    MeanField() = MeanFieldSettings{};
    RoadTest::TearDown();
  }
  // The run loaded, "Nonideal c(s)" chosen with nearly ideal ks and kd.
  void Choose(int command, int scans = 6) {
    gSolutionConditions = SolutionConditions{};
    gAssociationModelParams = AssociationModelParams{};
    LoadRun(scans);
    gFitEngineState.fitTINoise = 0;
    gModelParams.riNoiseFit = 0;
    Window().Dispatch(command);
    ASSERT_EQ(gModelSelectorFlags.NonidealCSModel, 1);
    float* P = gModelParameterVector.P;
    P[1] = 1;    // s min
    P[5] = 10;   // s max
    P[9] = 40;   // resolution
    P[13] = 5.95f;
    P[14] = 7.18f;
    P[20] = -10;  // log10 ks
    P[21] = -10;  // log10 kd
    UnpackModelParameters();
    LammSettings().gridSize.setting = 300;
    MeanField().movieGridSize = 300;
  }
  static int Peak() {
    const ContiSettings& cs = Conti();
    const int peak = PeakIndex(cs);
    return peak;
  }
};

// Both variants: linear ks and kd of 1e-10 ml/mg, and hard spheres without
// crowding (reduced ks 0).
TEST_F(RoadNonidealCs, RunFindsTheFiveSBoundaryInTheMeanField) {
  for (const int command : {585, 1100}) {
    SCOPED_TRACE(command);
    Choose(command);
    if (command == 1100) {
      gModelParameterVector.P[20] = 0;
      gModelParameterVector.P[21] = -1;
      UnpackModelParameters();
    }
    Window().Dispatch(213);  // Run
    EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
    const ContiSettings& cs = Conti();
    ASSERT_GT(cs.gridSize, 2);
    ASSERT_NE(cs.distribution, nullptr);
    EXPECT_NEAR(cs.sValues[Peak()], 5.0, 0.5);
    EXPECT_TRUE(ModelHoldsMeanField());
    DeleteNonidealModel();
  }
}

// The frictional ratio floated by Fit in the field of the first Run, frozen
// so that every evaluation sees the same field.
TEST_F(RoadNonidealCs, FitFloatsTheFrictionalRatioInTheFrozenField) {
  Choose(585, 4);
  float* P = gModelParameterVector.P;
  P[9] = 12;
  P[11] = 1.5f;
  gModelParameterVector.F[11] = 1;
  UnpackModelParameters();
  LammSettings().gridSize.setting = 200;
  MeanField().movieGridSize = 200;
  Window().Dispatch(213);
  const float before = CalcRmsd();
  ASSERT_TRUE(ModelHoldsMeanField());
  const auto field = MeanField().pCContiNonidSim->regridded;
  MeanField().freeze = true;
  Window().Dispatch(215);  // Fit
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_LT(CalcRmsd(), 0.5f * before);
  EXPECT_NE(Conti().ffValue, 1.5f);
  EXPECT_EQ(MeanField().pCContiNonidSim->regridded, field);
}

TEST_F(RoadNonidealCs, TheFieldIsShownExportedClearedAndRestored) {
  Choose(585);
  Window().Dispatch(213);
  ASSERT_TRUE(ModelHoldsMeanField());

  // Shown over the data (the plot first widened to take it); a key ends it.
  Window().Dispatch(1105);
  EXPECT_TRUE(MeanField().displayCtot);
  ASSERT_NE(CurrentCtotMovie(), nullptr);
  Window().Paint(true);
  Window().Paint(true);
  const CWINPlot* plot = CurrentPlotWindows().dataPlot;
  ASSERT_NE(plot, nullptr);
  EXPECT_GE(plot->yMax, CurrentCtotMovie()->Value(1, CurrentCtotMovie()->radiusCount));
  Window().EvChar('x', 1, 0);
  EXPECT_FALSE(MeanField().displayCtot);

  // Exported under the name chosen, in mg/ml of the signal per mg/ml.
  const std::string path = (dir_ / "field.ctot").string();
  ui_->ExpectFiles("select NONIDEAL CTOT DATA file", Chosen({path}));
  Window().Dispatch(1104);
  CCtotMovie written;
  ASSERT_TRUE(written.ReadFile(path));
  EXPECT_EQ(written.radiusCount, MeanField().profileRadii + 2);
  EXPECT_EQ(written.rpm, 50000.0f);

  Window().Dispatch(1106);
  EXPECT_EQ(CurrentCtotMovie(), nullptr);

  // Restored: the dialog opens on the parameter file's name; a second
  // restore asks whether to keep the one loaded, and Yes keeps it unasked.
  ui_->ExpectFiles("select NONIDEAL CTOT DATA files", Chosen({path}));
  Window().Dispatch(1103);
  ASSERT_NE(CurrentCtotMovie(), nullptr);
  EXPECT_TRUE(CurrentCtotMovie()->HasField());
  ui_->ExpectBox("NONIDEAL CTOT DATA", "keep " + path + " ?", platform::IDYES);
  Window().Dispatch(1103);
  ExpectScriptMet();

  // The restored field runs the next analysis.
  MeanField().loadExternal = true;
  Window().Dispatch(213);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  ASSERT_NE(MeanField().pCContiNonidSim, nullptr);
  EXPECT_TRUE(MeanField().pCContiNonidSim->externalInUse);
  EXPECT_NEAR(Conti().sValues[Peak()], 5.0, 0.5);
}

TEST_F(RoadNonidealCs, TheFieldGoesWithTheSavedParametersAndComesBackOnlyWhenRead) {
  Choose(585);
  Window().Dispatch(213);
  const std::string parameters = CurrentDataPaths().parameterFile;
  ASSERT_FALSE(parameters.empty());
  ASSERT_TRUE(TmpSaveBestParams(parameters, false));
  const std::string beside = parameters + ".ctot";
  ASSERT_TRUE(std::filesystem::exists(beside));
  DeleteMeanFieldCtot();

  ui_->lenient = true;  // the model command's own notes on reloading
  ui_->ExpectBox("NONIDEAL CTOT DATA", "also load mean field CTOT data from " + beside + " ?", platform::IDYES);
  ASSERT_EQ(ReloadParameters(parameters), 1);
  EXPECT_TRUE(MeanField().loadExternal);
  EXPECT_FALSE(MeanField().useInterpolatedData);
  ASSERT_NE(CurrentCtotMovie(), nullptr);
  EXPECT_TRUE(CurrentCtotMovie()->HasField());

  // A file that cannot be read leaves the mode as it was.
  std::ofstream(beside) << "3 4 5.9\n";
  MeanField().loadExternal = false;
  ui_->ExpectBox("NONIDEAL CTOT DATA", "also load mean field CTOT data", platform::IDYES);
  ui_->ExpectBox("select NONIDEAL CTOT DATA files", "sorry loading CTOT DATA file failed");
  ASSERT_EQ(ReloadParameters(parameters), 1);
  EXPECT_FALSE(MeanField().loadExternal);
  EXPECT_TRUE(ui_->AllConsumed());
}

TEST_F(RoadNonidealCs, TheDialogSetsTheMeanFieldAndAskForTheFileToLoad) {
  Choose(585);
  const std::string path = (dir_ / "none.ctot").string();
  forms_.Expect({"Nonideal Sedimentation Coefficient Distribution c(s)",
                 {{438, "400"}, {439, "80"}, {440, "3.3"}, {443, "-2.5"}, {428, "-3"}},
                 {{448, 0}, {449, 0}, {451, 1}, {452, 1}, {446, 1}, {431, 0}, {455, 0}}});
  ui_->lenient = true;
  ui_->ExpectFiles("select NONIDEAL CTOT DATA files", platform::FileDialogResult{});
  ui_->ExpectBox("select NONIDEAL CTOT DATA files", "sorry could not identify valid file");
  Window().Dispatch(212);
  ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  const MeanFieldSettings& mf = MeanField();
  EXPECT_EQ(mf.movieGridSize, 400);
  EXPECT_EQ(mf.profileRadii, 80);
  EXPECT_TRUE(mf.loadExternal && mf.freeze && mf.extraDiscreteExcluded);
  EXPECT_FALSE(mf.useInterpolatedData);
  EXPECT_DOUBLE_EQ(CurrentScanSet().signalPerConcentration, 3.3);
  EXPECT_FLOAT_EQ(gAssociationModelParams.logKs, -2.5f);
  EXPECT_FLOAT_EQ(gModelParameterVector.P[20], -2.5f);
  EXPECT_EQ(gModelParams.parametersReloaded, 1);
  EXPECT_TRUE(ui_->AllConsumed());
}

}  // namespace
