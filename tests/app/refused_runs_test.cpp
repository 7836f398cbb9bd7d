// Run and Fit of a distribution that cannot be computed say why and compute
// nothing: a range entered backwards, a sedimentation model on light
// scattering data.
#include <cmath>

#include "distributions/conti_settings.h"
#include "fit/model_evaluation_hooks.h"
#include "numerics/arrays.h"
#include "numerics/linear_solvers.h"
#include "platform/fatal_error.h"
#include "platform/scripted_ui.h"
#include "road_support.h"

namespace {

class RefusedRuns : public RoadTest {
 protected:
  void TearDown() override {
    CurrentDataTypeFlags().dls = 0;
    gModelSelectorFlags = ModelSelectorFlags{};
    RoadTest::TearDown();
  }
  // c(s) over [low, high] S chosen in its dialog.
  void ContinuousOver(const char* low, const char* high) {
    gFitEngineState.fitTINoise = 0;
    Window().Dispatch(275);
    forms_.Expect({"Continuous Sedimentation Coefficient Distribution c(s)",
                   {{405, "20"}, {406, low}, {407, high}, {435, "5.9500"}, {437, "7.1800"}},
                   {{431, 0}, {455, 0}, {434, 0}, {436, 0}, {416, 0}}});
    Window().Dispatch(212);
    ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  }
  static float LargestModelValue() {
    const ScanSet& s = CurrentScanSet();
    float top = 0;
    for (int i = 1; i <= s.count; ++i)
      for (int j = 1; j <= s.points[i]; ++j) top = std::max(top, std::fabs(s.model[i][j]));
    return top;
  }
};

TEST_F(RefusedRuns, ARangeEnteredBackwardsIsRefusedByRunAndFit) {
  LoadRun(3);
  ContinuousOver("8", "6");
  for (int command : {213, 215}) {
    SCOPED_TRACE(command == 213 ? "Run" : "Fit");
    ui_->ExpectBox("ERROR", "The distribution range starts at 8, above its end at 6.");
    Window().Dispatch(command);
    ExpectScriptMet();
    EXPECT_EQ(LargestModelValue(), 0.0f);
    EXPECT_FALSE(WindowFlags().FitInfoPending);
    EXPECT_FALSE(Window().FitBusy);
  }
  // The entries stay as the user made them.
  EXPECT_EQ(gModelParameterVector.P[1], 8.0f);
  EXPECT_EQ(gModelParameterVector.P[5], 6.0f);
  // Entered the right way round, the same model runs.
  ContinuousOver("1", "10");
  Window().Dispatch(213);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_GT(LargestModelValue(), 0.1f);
}

TEST_F(RefusedRuns, ASedimentationDistributionOnLightScatteringDataIsRefused) {
  LoadRun(3);
  ContinuousOver("1", "10");
  // The light scattering set replaced the scans; the model stayed c(s).
  CurrentDataTypeFlags().dls = 1;
  ui_->ExpectBox("ERROR", "light scattering data are loaded");
  Window().Dispatch(213);
  ExpectScriptMet();
  EXPECT_EQ(LargestModelValue(), 0.0f);
  EXPECT_FALSE(WindowFlags().FitInfoPending);
}

// A numerical routine that fails on what the data gave it, inside Run or
// Fit of the window, ends that command with its box: the program goes on,
// the scans and the entries stand as they were, and the next Run computes.
TEST_F(RefusedRuns, ARoutineThatFailsInsideRunOrFitEndsTheCommandNotTheProgram) {
  LoadRun(3);
  OneSpecies("5", "4", 1);
  ModelEvaluationHooks& hooks = CurrentModelEvaluationHooks();
  const std::function<void()> refresh = hooks.markPlotsForRefresh;
  for (int command : {213, 215}) {
    SCOPED_TRACE(command == 213 ? "Run" : "Fit");
    const ScanSet& scans = CurrentScanSet();
    const float signal = scans.signals[2][10];
    const ModelParameterVector entries = gModelParameterVector;
    // The evaluation ends on a singular system, as ludcmp meets one.
    hooks.markPlotsForRefresh = [] {
      FloatMat a(1, 2, 1, 2);
      a[1][1] = 1;
      a[1][2] = 2;
      a[2][1] = a[2][2] = 0;
      FloatVec b(1, 2);
      b[1] = b[2] = 1;
      SolveLinearSystem(a, b, 2, false);
    };
    platform::ResetQuitRequest();
    ui_->lenient = true;
    Window().Dispatch(command);
    ui_->lenient = false;
    hooks.markPlotsForRefresh = refresh;
    EXPECT_FALSE(platform::QuitRequested());
    bool said = false;
    for (const auto& box : ui_->transcript) said |= box.text.rfind("Singular matrix in routine ludcmp", 0) == 0;
    EXPECT_TRUE(said);
    ui_->transcript.clear();
    EXPECT_EQ(scans.count, 3);
    EXPECT_EQ(scans.signals[2][10], signal);
    for (int j = 1; j <= 34; ++j) {
      EXPECT_EQ(gModelParameterVector.P[j], entries.P[j]) << j;
      EXPECT_EQ(gModelParameterVector.F[j], entries.F[j]) << j;
    }
    // The window is idle again: it paints and takes presses as commands.
    EXPECT_FALSE(Window().FitBusy);
    EXPECT_FALSE(Window().RunBusy);
    // The same command once more, with nothing failing, computes.
    ui_->lenient = true;
    Window().Dispatch(213);
    ui_->lenient = false;
    ui_->transcript.clear();
    EXPECT_GT(LargestModelValue(), 0.1f);
  }
  platform::ResetQuitRequest();
}

}  // namespace
