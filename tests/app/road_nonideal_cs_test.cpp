// "Nonideal c(s)" from the window on the synthetic 5 S run: Run computes
// the distribution in the mean field, and its field can be shown, exported,
// cleared and restored by the ctot commands.
#include <filesystem>

#include "distributions/conti_settings.h"
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
    LammSettings().feGridSize = 300;
    MeanField().movieGridSize = 300;
  }
  static int Peak() {
    const ContiSettings& cs = Conti();
    int peak = 1;
    for (int i = 1; i <= cs.gridSize; ++i)
      if (cs.distribution[i] > cs.distribution[peak]) peak = i;
    return peak;
  }
};

TEST_F(RoadNonidealCs, RunFindsTheFiveSBoundaryInTheMeanField) {
  Choose(585);
  Window().Dispatch(213);  // Run
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  const ContiSettings& cs = Conti();
  ASSERT_GT(cs.gridSize, 2);
  ASSERT_NE(cs.distribution, nullptr);
  EXPECT_NEAR(cs.sValues[Peak()], 5.0, 0.5);
  EXPECT_TRUE(ModelHoldsMeanField());
}

}  // namespace
