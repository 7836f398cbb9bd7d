// The on-plot buttons of the main window: where they stand for a client
// size, and what a click on them does, driven through the window's mouse
// messages on a headless frame. Rectangles are (top, left, bottom, right) in
// the 1400 x 1000 logical frame; the expected numbers were worked out by
// hand from the placement rules.
#include <cmath>
#include <memory>

#include "app/commands/distribution/distribution_commands.h"
#include "app/plot_input/marker_confirm.h"
#include "app/plot_input/marker_moves.h"
#include "app/window/main_window_flags.h"
#include "app/plot_input/markers.h"
#include "app/plot_input/screen_buttons.h"
#include "app_fixture.h"
#include "button_rects.h"
#include "marker_plot_setup.h"
#include "data/load_hooks.h"
#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"
#include "plot/screen_button.h"
#include "platform/clock.h"
#include "platform/input_events.h"

namespace {

using platform::MouseMessage;

ExpectedRect Of(const CScreenButton& b) { return {b.top, b.left, b.bottom, b.right}; }

class ScreenButtons : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    platform::SetClock(&clock_);
    SetUpMarkerPlot();
    w_ = MakeWindow();
    Show(1400, 1000);
  }
  void TearDown() override {
    w_.reset();
    TearDownMarkerPlot();
    platform::SetClock(nullptr);
    AppTest::TearDown();
  }
  void Show(int width, int height) {
    w_->Frame().Resize(width, height);
    w_->Paint(true);
  }
  // A click at the centre of a button, in client pixels.
  void ClickOn(const CScreenButton& b) {
    const double W = w_->Frame().ClientWidth(), H = w_->Frame().ClientHeight();
    const int x = static_cast<int>((b.left + b.right) / 2.0 * W / 1400.0);
    const int y = static_cast<int>((b.top + b.bottom) / 2.0 * H / 1000.0);
    w_->OnMouse(MouseMessage::LButtonDown, 0, x, y);
  }

  platform::ManualClock clock_;
  std::unique_ptr<TXLAWindow> w_;
};

TEST_F(ScreenButtons, NoiseAndIntegrateButtonsStandAboveThePlotCorners) {
  ButtonRect remove, restore;
  NoiseButtonRects(ButtonLayout{}, remove, restore);
  CreateNoiseButtons(w_.get());
  CreateIntegrateButton(ButtonLayout{});
  const NoiseAndRangeButtons& s = NoiseAndRange();
  ExpectRect(s.RemoveNoiseButton.get(), {13, 1247, 30, 1355});
  ExpectRect(s.RestoreTINoiseButton.get(), {31, 1247, 48, 1355});
  ExpectRect(s.IntegrateButton.get(), {601, 1275, 628, 1355});
  EXPECT_EQ(s.RemoveNoiseButton->kind, 1);
  EXPECT_EQ(s.IntegrateButton->kind, 2);
  EXPECT_EQ(s.IntegrateButton->onCaption, "select range");

  // A second creation after a resize keeps the buttons where they were.
  Show(1000, 800);
  CreateNoiseButtons(w_.get());
  CreateIntegrateButton(CurrentButtonLayout(*w_));
  ExpectRect(s.RemoveNoiseButton.get(), {13, 1247, 30, 1355});
  ExpectRect(s.IntegrateButton.get(), {601, 1275, 628, 1355});
  RemoveNoiseButtons(nullptr);
  DeleteIntegrateButton();
  EXPECT_EQ(s.RemoveNoiseButton, nullptr);
  EXPECT_EQ(s.IntegrateButton, nullptr);
}

TEST_F(ScreenButtons, LoadersAndParametersMakeAndRemoveTheNoiseButtonsThroughTheirHooks) {
  CurrentLoadHooks().createNoiseButtons();
  EXPECT_NE(NoiseAndRange().RestoreTINoiseButton, nullptr);
  CurrentLoadHooks().removeNoiseButtons();
  EXPECT_EQ(NoiseAndRange().RestoreTINoiseButton, nullptr);
}

TEST_F(ScreenButtons, RemoveNeedsTheRINoiseAndRestoreTheTINoise) {
  AllocateScanTables(CurrentScanSet(), 1);
  gFitEngineState.fitTINoise = 1;  // only the TI noise modelled
  CreateNoiseButtons(w_.get());
  auto& frame = Headless(*w_);
  int before = frame.invalidations;
  ClickOn(*NoiseAndRange().RemoveNoiseButton);
  EXPECT_EQ(frame.invalidations, before);
  EXPECT_EQ(NoiseAndRange().RemoveNoiseButton->on, 0);  // a push button springs back
  EXPECT_GE(clock_.ticks, 100u);                        // shown pressed for 0.1 s
  before = frame.invalidations;
  ClickOn(*NoiseAndRange().RestoreTINoiseButton);
  EXPECT_GT(frame.invalidations, before);

  // Real-time updating of the files stops "remove TI and RI" as well.
  gModelParams.riNoiseFit = 1;
  RunState().RealtimeUpdateRunning = true;
  before = frame.invalidations;
  ClickRemoveNoiseButton(*w_);
  EXPECT_EQ(frame.invalidations, before);
  RunState().RealtimeUpdateRunning = false;
  ClickRemoveNoiseButton(*w_);
  EXPECT_GT(frame.invalidations, before);
  RemoveNoiseButtons(nullptr);
}

TEST_F(ScreenButtons, IntegrateButtonStartsAndCancelsARangeSelection) {
  gModelSelectorFlags = ModelSelectorFlags{};
  gModelSelectorFlags.DistributionModel = gModelSelectorFlags.CSModel = 1;
  Options().InfoWizardMessages = 0;
  CWINPlot plot;
  Conti().distributionPlot = &plot;
  DistArrays().plotExists = true;
  CreateIntegrateButton(ButtonLayout{});
  CScreenButton& b = *NoiseAndRange().IntegrateButton;

  ClickOn(b);
  EXPECT_TRUE(RangeSelection().active);
  EXPECT_TRUE(RangeSelection().forIntegration);
  EXPECT_EQ(b.on, 1);  // "select range"
  EXPECT_EQ(Headless(*w_).cursor, platform::CursorKind::Cross);

  ClickOn(b);
  EXPECT_FALSE(RangeSelection().active);
  EXPECT_EQ(b.on, 0);
  EXPECT_EQ(Headless(*w_).cursor, platform::CursorKind::Arrow);

  // The menu command acts as the click.
  w_->CmIntegrateDistribution();
  EXPECT_TRUE(RangeSelection().active);
  EXPECT_EQ(b.on, 1);
  w_->CmIntegrateDistribution();
  EXPECT_EQ(b.on, 0);

  DeleteIntegrateButton();
  DistArrays().plotExists = false;
  Conti().distributionPlot = nullptr;
}

TEST_F(ScreenButtons, ConfirmPairStandsBesideTheDropPoint) {
  Show(1000, 800);
  struct Case {
    int x, y;
    bool question;
    ExpectedRect confirm, cancel;
  };
  const Case cases[] = {
      {500, 400, false, {480, 701, 498, 758}, {500, 701, 517, 758}},
      // Right of logical x 1250 the pair goes left, ending 1 pixel short.
      {950, 400, false, {480, 1269, 498, 1328}, {500, 1269, 517, 1328}},
  };
  for (const Case& c : cases) {
    DeleteMarkerConfirmButtons(nullptr);
    ShowMarkerConfirmButtons(*w_, c.x, c.y, c.question);
    ExpectRect(MarkerConfirm().ConfirmButton.get(), c.confirm);
    ExpectRect(MarkerConfirm().CancelMarkerButton.get(), c.cancel);
    EXPECT_EQ(MarkerConfirm().ConfirmButton->caption, "confirm");
  }
  // Before any paint with a size the pointer maps to the frame's origin.
  w_->ClientWidthF = w_->ClientHeightF = 0;
  DeleteMarkerConfirmButtons(nullptr);
  ShowMarkerConfirmButtons(*w_, 500, 400, false);
  ExpectRect(MarkerConfirm().CancelMarkerButton.get(), {0, 0, 0, 0});
  Show(1000, 800);
  // The limits question stands at the last anchor, whatever point is given.
  ShowMarkerConfirmButtons(*w_, 500, 400, false);
  DeleteMarkerConfirmButtons(nullptr);
  ShowMarkerConfirmButtons(*w_, 0, 0, true);
  ExpectRect(MarkerConfirm().ConfirmButton.get(), {480, 701, 498, 833});
  EXPECT_EQ(MarkerConfirm().ConfirmButton->caption, "move fit limits, too?");
  DeleteMarkerConfirmButtons(nullptr);
}

TEST_F(ScreenButtons, DraggedMeniscusIsConfirmedAndThenItsFitLimitsFollow) {
  // Pick the meniscus up at its column (200) and drop it at 6.1 cm.
  w_->OnMouse(MouseMessage::LButtonDown, 0, 200, 300);
  w_->OnMouse(MouseMessage::MouseMove, 0, 205, 300);
  w_->OnMouse(MouseMessage::LButtonUp, 0, 210, 300);
  MarkerConfirmState& s = MarkerConfirm();
  ASSERT_NE(s.ConfirmButton, nullptr);
  const ExpectedRect first = Of(*s.ConfirmButton);
  ClickOn(*s.ConfirmButton);
  EXPECT_NEAR(gModelParams.meniscus, 6.1f, 1e-5);
  ASSERT_NE(s.ConfirmButton, nullptr);
  EXPECT_EQ(s.ConfirmButton->caption, "move fit limits, too?");
  EXPECT_EQ(s.ConfirmButton->top, first.top);
  EXPECT_EQ(s.ConfirmButton->left, first.left);
  ClickOn(*s.ConfirmButton);
  EXPECT_EQ(s.ConfirmButton, nullptr);
  EXPECT_NEAR(gFitEngineState.meniscusMin, 5.9f, 1e-5);
  EXPECT_NEAR(gFitEngineState.meniscusMax, 6.7f, 1e-5);

  // Dropped again and cancelled: nothing moves, the buttons go.
  w_->OnMouse(MouseMessage::LButtonDown, 0, 210, 300);
  w_->OnMouse(MouseMessage::LButtonUp, 0, 230, 300);
  ASSERT_NE(s.CancelMarkerButton, nullptr);
  ClickOn(*s.CancelMarkerButton);
  EXPECT_NEAR(gModelParams.meniscus, 6.1f, 1e-5);
  EXPECT_EQ(s.ConfirmButton, nullptr);
  EXPECT_EQ(MarkerDrag().awaitingConfirmation, 0);
}

TEST_F(ScreenButtons, AKeyStopsASlidingMarkerWhereItIs) {
  MouseSliding().slidingOff = 0;
  platform::ClearInput();
  // The meniscus dragged right at 500 pixels per second.
  w_->OnMouse(MouseMessage::LButtonDown, 0, 200, 300);
  for (int x = 205; x <= 220; x += 5) {
    clock_.ticks += 10;
    w_->OnMouse(MouseMessage::MouseMove, 0, x, 300);
  }
  clock_.ticks += 10;
  platform::PostKeyDown(13);  // Enter, waiting when the slide starts
  w_->OnMouse(MouseMessage::LButtonUp, 0, 225, 300);
  EXPECT_NEAR(gModelParams.meniscus, 6.25f, 1e-5);
  // Applied at once: only the question whether the fit limits follow is left.
  ASSERT_NE(MarkerConfirm().ConfirmButton, nullptr);
  EXPECT_EQ(MarkerConfirm().ConfirmButton->caption, "move fit limits, too?");
  DeleteMarkerConfirmButtons(nullptr);

  // Without a key the marker slides on past the release point.
  MarkerDrag() = MarkerDragState{};
  w_->OnMouse(MouseMessage::LButtonDown, 0, 225, 300);
  for (int x = 230; x <= 245; x += 5) {
    clock_.ticks += 10;
    w_->OnMouse(MouseMessage::MouseMove, 0, x, 300);
  }
  clock_.ticks += 10;
  w_->OnMouse(MouseMessage::LButtonUp, 0, 250, 300);
  EXPECT_GT(MarkerDrag().dropX, 250);
  ASSERT_NE(MarkerConfirm().ConfirmButton, nullptr);
  EXPECT_EQ(MarkerConfirm().ConfirmButton->caption, "confirm");
  DeleteMarkerConfirmButtons(nullptr);
}

}  // namespace
