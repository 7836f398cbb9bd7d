// Keys over the data plot: the arrows nudge the radial cursor, Enter applies
// it as meniscus, bottom or fit limit (with the questions where the choice
// is unclear), Escape drops it. Headless frame of 1400 x 1000 pixels with one
// scan from 5.95 to 7.14 cm.
#include <cstdio>
#include <string>

#include "app/commands/distribution/distribution_commands.h"
#include "app/commands/run_fit/fit_limits.h"
#include "app/plot_input/marker_moves.h"
#include "app/plot_input/markers.h"
#include "app/plot_events/plot_mouse.h"
#include "app/commands/distribution/peak_labels.h"
#include "app/startup/startup.h"
#include "app_fixture.h"
#include "marker_plot_setup.h"
#include "data/scan_set.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "models/buffer/buffer_sed_settings.h"
#include "numerics/arrays.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"
#include "platform/input_events.h"

namespace {

class PlotKeyboard : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    SetUpMarkerPlot();
    UserFitLimitsSet() = 0;
    LoadMarkerScan();
    w_ = MakeWindow();
    w_->Frame().Resize(1400, 1000);
    w_->Paint(true);
    ui_->failures.clear();  // the start-up box
  }
  void TearDown() override {
    TearDownMarkerPlot();
    w_.reset();
    AppTest::TearDown();
  }
  static void SetValues(float meniscus, float bottom) { SetMarkerValues(meniscus, bottom); }
  void Cursor(float r, CursorEditMode mode) {
    MarkerSettings().cursorLineShown = true;
    MarkerSettings().cursorRadius = r;
    MarkerSettings().editMode = mode;
  }
  void Key(int character) { w_->OnChar(character, 1, 0); }

  std::unique_ptr<TXLAWindow> w_;
};

TEST_F(PlotKeyboard, ArrowsNudgeTheCursorByThreeMicrometres) {
  Cursor(6.5f, CursorEditMode::FitLimits);
  for (int i = 0; i < 10; ++i) w_->OnKeyDown(0x27, 1, 0);
  EXPECT_STREQ(CurrentPointerReadout().lines[0], "6.5030    ");
  EXPECT_EQ(CursorColumn(), static_cast<int>(100 * MarkerSettings().cursorRadius - 400));
  for (int i = 0; i < 4; ++i) w_->OnKeyDown(0x25, 1, 0);
  EXPECT_STREQ(CurrentPointerReadout().lines[0], "6.5018    ");
  // Other keys leave it; without a cursor line the arrows do nothing.
  w_->OnKeyDown('A', 1, 0);
  MarkerSettings().cursorLineShown = false;
  w_->OnKeyDown(0x27, 1, 0);
  char text[16];
  std::snprintf(text, sizeof text, "%1.4f", MarkerSettings().cursorRadius);
  EXPECT_STREQ(text, "6.5018");
}

TEST_F(PlotKeyboard, DuringRunOrFitAKeyOnlyAsksToStop) {
  for (bool* busy : {&w_->RunBusy, &w_->FitBusy}) {
    *busy = true;
    platform::StopFlag() = false;
    Cursor(6.5f, CursorEditMode::MeniscusOrBottom);
    w_->OnKeyDown(0x27, 1, 0);
    Key(13);
    EXPECT_TRUE(platform::StopFlag().load());
    EXPECT_FLOAT_EQ(MarkerSettings().cursorRadius, 6.5f);
    EXPECT_FLOAT_EQ(gModelParams.meniscus, 6.0f);
    *busy = false;
  }
}

TEST_F(PlotKeyboard, EnterSetsMeniscusOrBottomAskingWhereUnclear) {
  struct Case {
    float meniscus, bottom, r;
    std::vector<std::pair<std::string, int>> questions;
    float newMeniscus, newBottom;
  };
  const int yes = platform::IDYES, no = platform::IDNO;
  const Case cases[] = {
      {0, 7.2f, 6.5f, {}, 6.5f, 7.2f},
      {6.0f, 0, 7.1f, {}, 6.0f, 7.1f},
      {6.0f, 7.2f, 7.0f, {{"set bottom?", yes}}, 6.0f, 7.0f},
      {6.0f, 7.2f, 6.5f, {}, 6.5f, 7.2f},
      {6.0f, 7.2f, 6.6f, {{"set bottom?", no}, {"set meniscus?", yes}}, 6.6f, 7.2f},
      {5.9f, 7.2f, 6.0f, {{"set meniscus?", no}, {"set bottom?", no}}, 5.9f, 7.2f},
      // Equal distances go to the meniscus; one passing the other swaps.
      {6.0f, 7.0f, 6.5f, {}, 6.5f, 7.0f},
      {0, 6.2f, 6.5f, {}, 6.2f, 6.5f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.r);
    SetValues(c.meniscus, c.bottom);
    for (const auto& [text, answer] : c.questions) ui_->ExpectBox("", text, answer);
    Cursor(c.r, CursorEditMode::MeniscusOrBottom);
    Key(13);
    EXPECT_TRUE(ui_->AllConsumed());
    EXPECT_TRUE(ui_->failures.empty()) << (ui_->failures.empty() ? "" : ui_->failures[0]);
    EXPECT_FLOAT_EQ(gModelParams.meniscus, c.newMeniscus);
    EXPECT_FLOAT_EQ(gModelParams.bottom, c.newBottom);
    EXPECT_FALSE(MarkerSettings().cursorLineShown);
    EXPECT_EQ(MarkerSettings().cursorRadius, 0);
    EXPECT_EQ(MarkerSettings().editMode, CursorEditMode::None);
    EXPECT_FALSE(w_->DialogOpen);
    const bool unchanged = c.newMeniscus == c.meniscus && c.newBottom == c.bottom;
    if (unchanged) {
      // Both declined: the ranges stay as the user left them.
      EXPECT_FLOAT_EQ(gFitEngineState.meniscusMin, 5.8f);
      EXPECT_FLOAT_EQ(gFitEngineState.bottomMax, 7.3f);
    } else {
      EXPECT_FLOAT_EQ(gFitEngineState.meniscusMin, c.newMeniscus - 0.02f);
      EXPECT_FLOAT_EQ(gFitEngineState.bottomMax, c.newBottom + 0.05f);
    }
  }
}

TEST_F(PlotKeyboard, EnterInFitLimitModeKeepsTheMeniscusAndBottomRanges) {
  // Left limit placed at the meniscus ends 0.01 cm inside the data.
  CurrentScanSet().dataChanged = 0;
  Cursor(6.0f, CursorEditMode::FitLimits);
  Key(13);
  EXPECT_EQ(CurrentScanSet().dataChanged, 1);
  EXPECT_FLOAT_EQ(CurrentScanSet().leftFitLimit, 6.01f);
  EXPECT_FLOAT_EQ(CurrentScanSet().rightFitLimit, 7.0f);
  EXPECT_FLOAT_EQ(gFitEngineState.meniscusMin, 5.8f);
  EXPECT_FLOAT_EQ(gFitEngineState.meniscusMax, 6.009f);
  EXPECT_FLOAT_EQ(gFitEngineState.bottomMin, 7.1f);
  EXPECT_FLOAT_EQ(gFitEngineState.bottomMax, 7.3f);
  // The nearer limit moves; a right limit at the bottom ends inside it.
  Cursor(7.3f, CursorEditMode::FitLimits);
  Key(9);
  EXPECT_FLOAT_EQ(CurrentScanSet().leftFitLimit, 6.01f);
  EXPECT_FLOAT_EQ(CurrentScanSet().rightFitLimit, 7.14f);  // the data end there
  EXPECT_FLOAT_EQ(gFitEngineState.bottomMin, 7.191f);
  EXPECT_FLOAT_EQ(gFitEngineState.bottomMax, 7.3f);
  EXPECT_FLOAT_EQ(gFitEngineState.meniscusMin, 5.8f);
  // A plain Enter without a cursor changes nothing either.
  Key(13);
  EXPECT_FLOAT_EQ(gFitEngineState.meniscusMin, 5.8f);
  EXPECT_FLOAT_EQ(gFitEngineState.bottomMin, 7.191f);
}

TEST_F(PlotKeyboard, EnterInReferenceModePlacesTheReferenceMeniscus) {
  Cursor(5.9f, CursorEditMode::ReferenceMeniscus);
  Key(13);
  EXPECT_NEAR(gBufferSedSettings.MeniscusDifference, 0.1, 1e-6);
  EXPECT_FLOAT_EQ(gModelParams.meniscus, 6.0f);
}

TEST_F(PlotKeyboard, EscapeDropsTheCursorOrTheDroppedMarker) {
  Cursor(6.5f, CursorEditMode::MeniscusOrBottom);
  MarkerDrag().awaitingConfirmation = 1;
  Key(27);
  EXPECT_FALSE(MarkerSettings().cursorLineShown);
  EXPECT_EQ(MarkerSettings().cursorRadius, 0);
  EXPECT_EQ(MarkerSettings().editMode, CursorEditMode::None);
  EXPECT_EQ(MarkerDrag().awaitingConfirmation, 0);
  EXPECT_FLOAT_EQ(gModelParams.meniscus, 6.0f);
  // A dragged marker waiting for confirmation goes back where it was.
  MarkerDrag().selected[static_cast<int>(MarkerKind::Bottom)] = 1;
  MarkerDrag().awaitingConfirmation = 1;
  MarkerSettings().cursorRadius = 7.0f;
  Key(27);
  EXPECT_EQ(MarkerDrag().selected[static_cast<int>(MarkerKind::Bottom)], 0);
  EXPECT_FLOAT_EQ(gModelParams.bottom, 7.2f);
  // ... and Enter applies it.
  MarkerDrag().selected[static_cast<int>(MarkerKind::RightFitLimit)] = 1;
  MarkerDrag().awaitingConfirmation = 1;
  MarkerSettings().cursorRadius = 6.9f;
  Key(13);
  EXPECT_FLOAT_EQ(CurrentScanSet().rightFitLimit, 6.9f);
  // Nothing under way: only the arrow cursor comes back.
  w_->Frame().SetCursor(platform::CursorKind::Wait);
  Key(27);
  EXPECT_EQ(Headless(*w_).cursor, platform::CursorKind::Arrow);
  EXPECT_FLOAT_EQ(gModelParams.meniscus, 6.0f);
}

TEST_F(PlotKeyboard, AnActivePointerModeTakesTheKeysFirst) {
  std::vector<int> keys;
  int ends = 0, finishes = 0;
  MouseHooks().pointerModeKeyDown = [&](int key, int, unsigned) {
    keys.push_back(key);
    return true;
  };
  MouseHooks().pointerModeEnd = [&] { return ++ends > 0; };
  MouseHooks().pointerModeFinish = [&] { return ++finishes > 0; };
  Cursor(6.5f, CursorEditMode::MeniscusOrBottom);
  w_->OnKeyDown(0x27, 1, 0);
  Key(27);
  Key(13);
  EXPECT_EQ(keys, std::vector<int>{0x27});
  EXPECT_EQ(ends, 1);
  EXPECT_EQ(finishes, 1);
  EXPECT_FLOAT_EQ(MarkerSettings().cursorRadius, 6.5f);
  EXPECT_FLOAT_EQ(gModelParams.meniscus, 6.0f);
  // The radial cursor waits until the mode has ended.
  EXPECT_TRUE(MarkerSettings().cursorLineShown);
}

TEST_F(PlotKeyboard, EscapeEndsPeakLabelsAndRangeSelection) {
  PeakLabels().count = 2;
  RangeSelection().active = RangeSelection().forIntegration = true;
  Key(27);
  EXPECT_EQ(PeakLabels().count, 0);
  EXPECT_FALSE(RangeSelection().active);
  EXPECT_FALSE(RangeSelection().forIntegration);
  // Other characters end nothing.
  RangeSelection().active = true;
  Cursor(6.5f, CursorEditMode::MeniscusOrBottom);
  Key('x');
  EXPECT_TRUE(RangeSelection().active);
  EXPECT_TRUE(MarkerSettings().cursorLineShown);
  RangeSelection() = RangeSelectionState{};
}

}  // namespace
