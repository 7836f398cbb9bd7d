// Dragging the radius markers with the left button and zooming with the right, through
// the window's mouse messages on a headless frame of 1400 x 1000 pixels,
// where one pixel is one plot unit and radius r lies at column 100 r - 400.
#include <cmath>
#include <vector>

#include "app/commands/distribution/distribution_commands.h"
#include "app/plot_input/marker_moves.h"
#include "app/plot_input/markers.h"
#include "app/plot_events/plot_mouse.h"
#include "app/window/window_services.h"
#include "app/window/road_services.h"
#include "app_fixture.h"
#include "marker_plot_setup.h"
#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "fit/model_params.h"
#include "models/buffer/buffer_sed_settings.h"
#include "numerics/arrays.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"
#include "platform/clock.h"
#include "platform/input_events.h"

namespace {

using platform::MouseMessage;

constexpr int kRow = 300;  // inside the data plot's band

class PlotMouse : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    shown_.clear();
    readouts_ = 0;
    SetUpMarkerPlot();
    MouseHooks().showMarkerConfirmButtons = [this](int x, int, bool limits) { shown_.push_back({x, limits}); };
    // The readout of a press on no point presses the point-edit "cancel".
    MouseHooks().pressPointEditCancel = [this] {
      ++readouts_;
      return false;
    };
    w_ = MakeWindow();
    w_->Frame().Resize(1400, 1000);
    w_->Paint(true);
  }
  void TearDown() override {
    TearDownMarkerPlot();
    w_.reset();
    AppTest::TearDown();
  }
  static int Column(float r) { return static_cast<int>(100 * r - 400); }
  void Press(int x, int y = kRow) { w_->OnMouse(MouseMessage::LButtonDown, 0, x, y); }
  // Picks up at column from and drops at column to.
  void Drag(int from, int to) {
    Press(from);
    w_->OnMouse(MouseMessage::MouseMove, 0, (from + to) / 2, kRow);
    w_->OnMouse(MouseMessage::LButtonUp, 0, to, kRow);
  }
  int Selected() const {
    for (int k = 0; k < kMarkerCount; ++k)
      if (MarkerDrag().selected[k]) return k;
    return -1;
  }

  std::unique_ptr<TXLAWindow> w_;
  std::vector<std::pair<int, bool>> shown_;
  int readouts_ = 0;
};

TEST_F(PlotMouse, PickUpTakesTheFirstMarkerWithinOnePixel) {
  using K = MarkerKind;
  struct Case {
    float meniscus, meniscusMin, left;
    int offset;
    int expected;  // selected kind, -1 for none
  };
  const Case cases[] = {
      {6.0f, 5.8f, 6.8f, 1, static_cast<int>(K::Meniscus)},
      {6.0f, 5.8f, 6.8f, -1, static_cast<int>(K::Meniscus)},
      {6.0f, 5.8f, 6.8f, 2, -1},
      {6.0f, 5.8f, 6.8f, -2, -1},
      {6.0f, 5.8f, 6.0f, 1, static_cast<int>(K::LeftFitLimit)},  // fit limit before meniscus
      {6.0f, 6.0f, 6.8f, 0, static_cast<int>(K::Meniscus)},      // meniscus before its lower limit
  };
  LoadMarkerScan();
  for (const Case& c : cases) {
    MarkerDrag() = MarkerDragState{};
    gModelParams.meniscus = c.meniscus;
    gFitEngineState.meniscusMin = c.meniscusMin;
    CurrentScanSet().leftFitLimit = c.left;
    const int before = readouts_;
    Press(Column(c.meniscus) + c.offset);
    EXPECT_EQ(Selected(), c.expected) << c.offset;
    EXPECT_EQ(MarkerDrag().dragging, c.expected >= 0 ? 1 : 0);
    EXPECT_EQ(MarkerSettings().cursorLineShown, c.expected >= 0);
    // A press that takes no marker goes on to the point readout.
    EXPECT_EQ(readouts_ - before, c.expected >= 0 ? 0 : 1);
    MarkerSettings() = MarkerDisplaySettings{};
  }
  // Outside the data plot's band nothing is picked up.
  MarkerDrag() = MarkerDragState{};
  Press(Column(6.0f), 600);
  EXPECT_EQ(Selected(), -1);
}

TEST_F(PlotMouse, DuringRunOrFitAClickOnlyAsksToStop) {
  for (bool* busy : {&w_->RunBusy, &w_->FitBusy}) {
    *busy = true;
    platform::StopFlag() = false;
    Press(Column(6.0f));
    EXPECT_TRUE(platform::StopFlag().load());
    EXPECT_EQ(Selected(), -1);
    EXPECT_EQ(readouts_, 0);
    *busy = false;
  }
  // A release during a run stops as well and drops nothing.
  Press(Column(6.0f));
  w_->RunBusy = true;
  platform::StopFlag() = false;
  w_->OnMouse(MouseMessage::LButtonUp, 0, 290, kRow);
  EXPECT_TRUE(platform::StopFlag().load());
  EXPECT_EQ(MarkerDrag().dragging, 1);
  EXPECT_EQ(MarkerDrag().awaitingConfirmation, 0);
}

TEST_F(PlotMouse, AReleaseWithoutAPressDoesNothing) {
  w_->OnMouse(MouseMessage::LButtonUp, 0, 290, kRow);
  EXPECT_EQ(MarkerDrag().awaitingConfirmation, 0);
  EXPECT_EQ(MarkerDrag().dropX, 0);
  EXPECT_TRUE(shown_.empty());
}

// The meniscus dropped from 6.0 to 6.9 cm with limits 5.8 / 6.6 and the left
// fit limit at 6.8; the second question moves the limits along.
TEST_F(PlotMouse, MeniscusDropAndTheLimitsQuestion) {
  for (bool scans : {false, true}) {
    SCOPED_TRACE(scans);
    if (scans) {
      TearDown();
      SetUp();
      LoadMarkerScan();
    }
    Drag(Column(6.0f), Column(6.9f));
    EXPECT_EQ(MarkerDrag().dropX, 290);
    EXPECT_FLOAT_EQ(MarkerSettings().cursorRadius, 6.9f);
    EXPECT_EQ(MarkerDrag().awaitingConfirmation, 1);
    ASSERT_EQ(shown_.size(), 1u);
    EXPECT_EQ(shown_[0], std::make_pair(290, false));

    w_->MoveMarkers(true);
    EXPECT_FLOAT_EQ(gModelParams.meniscus, 6.9f);
    EXPECT_FLOAT_EQ(gFitEngineState.meniscusMax, 6.902f);
    EXPECT_FLOAT_EQ(gFitEngineState.meniscusMin, 5.8f);
    // With scans the fit-limit check keeps 0.01 cm clear of the meniscus.
    EXPECT_FLOAT_EQ(CurrentScanSet().leftFitLimit, scans ? 6.91f : 6.905f);
    EXPECT_FLOAT_EQ(CurrentScanSet().rightFitLimit, 7.0f);
    EXPECT_FLOAT_EQ(MarkerDrag().shiftedLower, 6.7f);
    EXPECT_FLOAT_EQ(MarkerDrag().shiftedUpper, 7.5f);
    EXPECT_EQ(MarkerSettings().cursorRadius, 0.0f);
    EXPECT_EQ(MarkerDrag().awaitingConfirmation, 1);
    EXPECT_EQ(MarkerDrag().meniscusLimitsFollow, 1);
    ASSERT_EQ(shown_.size(), 2u);
    EXPECT_TRUE(shown_[1].second);
    EXPECT_EQ(CurrentScanSet().dataChanged, 1);

    w_->MoveMarkers(true);
    EXPECT_FLOAT_EQ(gFitEngineState.meniscusMin, 6.7f);
    EXPECT_FLOAT_EQ(gFitEngineState.meniscusMax, scans ? 6.909f : 6.904f);
    EXPECT_FLOAT_EQ(gModelParams.meniscus, 6.9f);
    EXPECT_EQ(MarkerDrag().meniscusLimitsFollow, 0);
    EXPECT_EQ(MarkerDrag().awaitingConfirmation, 0);
    EXPECT_EQ(Selected(), -1);
  }
}

TEST_F(PlotMouse, DeclinedLimitsQuestionKeepsTheFirstStage) {
  Drag(Column(6.0f), Column(6.9f));
  w_->MoveMarkers(true);
  // A click on no button declines.
  Press(Column(6.9f));
  EXPECT_EQ(Selected(), -1);
  EXPECT_EQ(MarkerDrag().dragging, 0);
  EXPECT_EQ(readouts_, 0);
  EXPECT_FLOAT_EQ(gFitEngineState.meniscusMin, 5.8f);
  EXPECT_FLOAT_EQ(gFitEngineState.meniscusMax, 6.902f);
  EXPECT_EQ(MarkerDrag().meniscusLimitsFollow, 0);
}

TEST_F(PlotMouse, FitLimitDropsKeepTheOrder) {
  struct Case {
    MarkerKind kind;
    float to;
    float leftBefore;
    float left, right;
  };
  const Case cases[] = {
      // Right dropped left of the left: the two exchange.
      {MarkerKind::RightFitLimit, 6.5f, 6.8f, 6.5f, 6.8f},
      // Right dropped right of the bottom: held at the bottom.
      {MarkerKind::RightFitLimit, 7.25f, 6.8f, 6.8f, 7.2f},
      // Right dropped left of the meniscus (left limit below it): the meniscus.
      {MarkerKind::RightFitLimit, 5.95f, 5.9f, 5.9f, 6.0f},
      // Left dropped right of the bottom: exchanged, then the right one keeps 0.005 cm off it.
      {MarkerKind::LeftFitLimit, 7.25f, 6.8f, 7.0f, 7.195f},
  };
  for (const Case& c : cases) {
    TearDown();
    SetUp();
    CurrentScanSet().leftFitLimit = c.leftBefore;
    Drag(Column(MarkerValue(c.kind)), Column(c.to));
    EXPECT_EQ(MarkerDrag().awaitingConfirmation, 1);
    w_->MoveMarkers(true);
    EXPECT_FLOAT_EQ(CurrentScanSet().leftFitLimit, c.left) << c.to;
    EXPECT_FLOAT_EQ(CurrentScanSet().rightFitLimit, c.right) << c.to;
  }
}

TEST_F(PlotMouse, DiscardChangesNothing) {
  for (MarkerKind kind : {MarkerKind::RightFitLimit, MarkerKind::MeniscusMax, MarkerKind::Bottom}) {
    TearDown();
    SetUp();
    const float before[kMarkerCount] = {
        MarkerValue(MarkerKind::Meniscus),    MarkerValue(MarkerKind::ReferenceMeniscus),
        MarkerValue(MarkerKind::Bottom),      MarkerValue(MarkerKind::LeftFitLimit),
        MarkerValue(MarkerKind::RightFitLimit), MarkerValue(MarkerKind::MeniscusMin),
        MarkerValue(MarkerKind::MeniscusMax), MarkerValue(MarkerKind::BottomMin),
        MarkerValue(MarkerKind::BottomMax)};
    Drag(Column(MarkerValue(kind)), 150);
    EXPECT_EQ(Selected(), static_cast<int>(kind));
    Press(1000);  // on no button
    for (int k = 0; k < kMarkerCount; ++k) EXPECT_EQ(MarkerValue(static_cast<MarkerKind>(k)), before[k]) << k;
    EXPECT_EQ(Selected(), -1);
    EXPECT_EQ(MarkerDrag().awaitingConfirmation, 0);
    EXPECT_EQ(MarkerDrag().dropX, 0);
    EXPECT_EQ(MarkerSettings().cursorRadius, 0.0f);
  }
}

TEST_F(PlotMouse, RangeLimitDroppedBeyondItsPartnerExchanges) {
  // Lower limit of the meniscus dropped at 6.7, above the upper 6.6.
  Drag(Column(5.8f), Column(6.7f));
  w_->MoveMarkers(true);
  EXPECT_FLOAT_EQ(gFitEngineState.meniscusMin, 6.6f);
  EXPECT_FLOAT_EQ(gFitEngineState.meniscusMax, 6.7f);
  EXPECT_FLOAT_EQ(gModelParams.meniscus, 6.6f);  // moved up to the new lower limit
}

TEST_F(PlotMouse, OnTheMStarScreenTheDropAppliesAtOnceAndLeavesTheRanges) {
  Road().mStarScreenShown = [] { return true; };
  int refreshed = 0;
  MouseHooks().refreshMStar = [&] { ++refreshed; };
  Drag(Column(6.0f), Column(6.9f));
  Road().mStarScreenShown = nullptr;
  EXPECT_FLOAT_EQ(gModelParams.meniscus, 6.9f);
  EXPECT_FLOAT_EQ(gFitEngineState.meniscusMin, 5.8f);
  EXPECT_FLOAT_EQ(gFitEngineState.meniscusMax, 6.6f);
  EXPECT_GE(refreshed, 1);
  EXPECT_TRUE(shown_.empty());
  // The limits question of the M* edit does not survive it: a later fit-limit
  // edit moves no meniscus range.
  EXPECT_EQ(MarkerDrag().meniscusLimitsFollow, 0);
  EXPECT_EQ(MarkerDrag().awaitingConfirmation, 0);
  Drag(Column(7.0f), Column(7.05f));
  w_->MoveMarkers(true);
  EXPECT_FLOAT_EQ(gFitEngineState.meniscusMin, 5.8f);
  EXPECT_FLOAT_EQ(CurrentScanSet().rightFitLimit, 7.05f);
}

TEST_F(PlotMouse, SlidePlaysTheFlickBackAndAKeyEndsIt) {
  struct Case {
    int key;            // typed after two steps (at 280); 0 = none
    float meniscus;     // after the release
    int awaiting;  // Enter opens the meniscus' limits question
  };
  for (const Case& c : {Case{0, 6.0f, 1}, Case{13, 6.8f, 1}, Case{27, 6.0f, 0}, Case{'x', 6.0f, 1}}) {
    TearDown();
    SetUp();
    MouseSliding().slidingOff = 0;
    int bounds[2] = {};
    double waited = 0;
    int calls = 0;
    MouseHooks().mouseFlickContinue = [&](int left, int right, int, std::vector<int>& pos, std::vector<double>& dt) {
      bounds[0] = left, bounds[1] = right;
      pos = {0, 260, 270, 280, 290};
      dt = {0, 0.005, 0, 0.005, 0.005};
      return true;
    };
    MouseHooks().waitSeconds = [&](double s) { waited += s; };
    bool queuesKeys = true;
    MouseHooks().readKey = [&] {
      // Keys wait in the queue for the playback instead of reaching the window.
      queuesKeys = queuesKeys && w_->Frame().Busy();
      return ++calls == 3 ? c.key : 0;
    };
    Drag(Column(6.0f), Column(6.5f));
    EXPECT_TRUE(queuesKeys);
    EXPECT_FALSE(w_->Frame().Busy());
    // The meniscus slides between the plot's left edge and the bottom's lower limit.
    EXPECT_EQ(bounds[0], 100);
    EXPECT_EQ(bounds[1], MarkerColumn(*w_, 7.1f));
    EXPECT_EQ(MarkerDrag().flickEnded, c.key == 13 || c.key == 27 ? 1 : 0) << c.key;
    EXPECT_FLOAT_EQ(gModelParams.meniscus, c.meniscus) << c.key;
    EXPECT_EQ(MarkerDrag().awaitingConfirmation, c.awaiting) << c.key;
    if (c.key == 0) {
      EXPECT_EQ(MarkerDrag().dropX, 290);
      EXPECT_FLOAT_EQ(MarkerSettings().cursorRadius, 6.9f);
      EXPECT_DOUBLE_EQ(waited, 0.015);
    }
  }
}

// The right-button band over a 1000 x 800 client: plot x = 1.4 px, data
// x = (plot x + 400) / 100, data y = 500 - plot y with plot y = 1.25 py.
TEST_F(PlotMouse, AnIntegrationLeftWithoutADistributionZoomsTheBandAsDrawn) {
  // The integrate command chose its range over a distribution that has gone
  // since: the data plot's band is the one drawn, not the full height of an
  // integration band.
  w_->Frame().Resize(1000, 800);
  w_->Paint(true);
  CWINPlot& plot = *CurrentPlotWindows().dataPlot;
  ASSERT_EQ(Conti().distributionPlot, nullptr);
  RangeSelection().active = RangeSelection().forIntegration = true;
  RangeHistory = RangeHistoryRecord{};
  plot.xScale = 100, plot.xOffset = -400, plot.yScale = -1, plot.yOffset = 500;
  w_->OnMouse(MouseMessage::RButtonDown, 0, 400, 100);
  w_->OnMouse(MouseMessage::MouseMove, 0, 411, 300);
  w_->OnMouse(MouseMessage::RButtonUp, 0, 411, 300);
  RangeSelection() = RangeSelectionState{};
  ASSERT_EQ(RangeHistory.depth, 1);
  EXPECT_FLOAT_EQ(RangeHistory.yMin[1], 500 - 375);
  EXPECT_FLOAT_EQ(RangeHistory.yMax[1], 500 - 125);
}

TEST_F(PlotMouse, RightButtonBandZoomsTheDataPlot) {
  w_->Frame().Resize(1000, 800);
  w_->Paint(true);
  CWINPlot& plot = *CurrentPlotWindows().dataPlot;
  plot.yScale = -1;
  plot.yOffset = 500;
  struct Case {
    int from, to;
    bool zooms;
  };
  for (const Case& c : {Case{400, 410, false}, Case{400, 411, true}, Case{411, 400, true}, Case{400, 400, false}}) {
    RangeHistory = RangeHistoryRecord{};
    plot.xScale = 100, plot.xOffset = -400, plot.yScale = -1, plot.yOffset = 500;
    w_->OnMouse(MouseMessage::RButtonDown, 0, c.from, 100);
    EXPECT_TRUE(w_->ZoomDragging);
    w_->OnMouse(MouseMessage::MouseMove, 0, c.to, 300);
    w_->OnMouse(MouseMessage::RButtonUp, 0, c.to, 300);
    EXPECT_FALSE(w_->ZoomDragging);
    EXPECT_EQ(CurrentZoomBand().started, 0);
    ASSERT_EQ(RangeHistory.depth, c.zooms ? 1 : 0) << c.from << ".." << c.to;
    if (!c.zooms) continue;
    EXPECT_FLOAT_EQ(RangeHistory.xMin[1], (560 + 400) / 100.0f);
    EXPECT_FLOAT_EQ(RangeHistory.xMax[1], (575 + 400) / 100.0f);
    EXPECT_FLOAT_EQ(RangeHistory.yMin[1], 500 - 375);
    EXPECT_FLOAT_EQ(RangeHistory.yMax[1], 500 - 125);
  }
  EXPECT_EQ(CurrentZoomBand().zoomed, 1);
  RangeHistory = RangeHistoryRecord{};
  for (int i = 0; i < 10; ++i) {
    w_->OnMouse(MouseMessage::RButtonDown, 0, 300, 100);
    w_->OnMouse(MouseMessage::MouseMove, 0, 500, 300);
    w_->OnMouse(MouseMessage::RButtonUp, 0, 500, 300);
  }
  EXPECT_EQ(RangeHistory.depth, 9);
  // The band's corner is where the pointer last moved: a click zooms nothing.
  w_->OnMouse(MouseMessage::RButtonDown, 0, 300, 100);
  w_->OnMouse(MouseMessage::RButtonUp, 0, 500, 300);
  EXPECT_EQ(RangeHistory.depth, 9);
  // Outside the data plot's band the press starts no zoom.
  RangeHistory = RangeHistoryRecord{};
  w_->OnMouse(MouseMessage::RButtonDown, 0, 300, 700);
  w_->OnMouse(MouseMessage::MouseMove, 0, 500, 700);
  w_->OnMouse(MouseMessage::RButtonUp, 0, 500, 700);
  EXPECT_EQ(RangeHistory.depth, 0);
  EXPECT_FALSE(w_->ZoomDragging);
}

// A right click on the distribution plot leaves its zoom selection pending;
// a data zoom drawn afterwards is still shown at once, and an integration
// mode without a distribution plot does not stretch the band.
TEST_F(PlotMouse, ADataZoomAfterAClickOnTheDistributionIsRepainted) {
  CWINPlot& plot = *CurrentPlotWindows().dataPlot;
  plot.yScale = -1;
  plot.yOffset = 500;
  CWINPlot distribution;
  distribution.plotTop = 630;
  Conti().distributionPlot = &distribution;
  auto& frame = Headless(*w_);
  w_->OnMouse(MouseMessage::RButtonDown, 0, 700, 900);
  w_->OnMouse(MouseMessage::RButtonUp, 0, 700, 900);
  EXPECT_TRUE(RangeSelection().forRescaling && RangeSelection().active);
  const int before = frame.invalidations;
  w_->OnMouse(MouseMessage::RButtonDown, 0, 400, 100);
  w_->OnMouse(MouseMessage::MouseMove, 0, 575, 300);
  w_->OnMouse(MouseMessage::RButtonUp, 0, 575, 300);
  EXPECT_EQ(RangeHistory.depth, 1);
  EXPECT_GT(frame.invalidations, before);
  Conti().distributionPlot = nullptr;

  RangeSelection() = RangeSelectionState{};
  RangeSelection().forIntegration = RangeSelection().active = true;
  RangeHistory = RangeHistoryRecord{};
  plot.xScale = 100, plot.xOffset = -400, plot.yScale = -1, plot.yOffset = 500;
  w_->OnMouse(MouseMessage::RButtonDown, 0, 400, 100);
  w_->OnMouse(MouseMessage::MouseMove, 0, 575, 300);
  w_->OnMouse(MouseMessage::RButtonUp, 0, 575, 300);
  ASSERT_EQ(RangeHistory.depth, 1);
  EXPECT_FLOAT_EQ(RangeHistory.yMin[1], 500 - 300);
  EXPECT_FLOAT_EQ(RangeHistory.yMax[1], 500 - 100);
}

TEST_F(PlotMouse, ABandReleaseDeclinesAnOpenLimitsQuestion) {
  Drag(Column(6.0f), Column(6.9f));
  w_->MoveMarkers(true);
  ASSERT_EQ(MarkerDrag().meniscusLimitsFollow, 1);
  w_->OnMouse(MouseMessage::RButtonDown, 0, 100, kRow);
  w_->OnMouse(MouseMessage::RButtonUp, 0, 105, kRow);
  EXPECT_EQ(MarkerDrag().meniscusLimitsFollow, 0);
  EXPECT_EQ(MarkerDrag().awaitingConfirmation, 0);
  EXPECT_FLOAT_EQ(gFitEngineState.meniscusMax, 6.902f);
}

TEST_F(PlotMouse, AltMCyclesSlidingAndAFlickedMeniscusSettlesOnItsBound) {
  ui_->failures.clear();  // the start-up boxes
  ui_->ExpectBox("MOUSE SLIDING", "switching on mouse sliding")
      .ExpectBox("MOUSE SLIDING", "toggling mouse bouncing")
      .ExpectBox("MOUSE SLIDING", "switching off mouse sliding")
      .ExpectBox("MOUSE SLIDING", "switching on mouse sliding");
  const std::pair<int, int> flags[] = {{0, 1}, {0, 0}, {1, 1}, {0, 1}};
  for (const auto& [off, bouncing] : flags) {
    w_->CmToggleMouseSliding();
    EXPECT_EQ(MouseSliding().slidingOff, off);
    EXPECT_EQ(MouseSliding().bouncing, bouncing);
  }
  EXPECT_TRUE(ui_->failures.empty());
  EXPECT_TRUE(ui_->AllConsumed());

  // 500 px/s to the right from the meniscus: about 90 px of free slide,
  // more than the way to the bottom's lower limit near column 310.
  platform::ManualClock clock;
  platform::SetClock(&clock);
  Press(200);
  for (int x = 205; x <= 230; x += 5) {
    clock.SleepMs(10);
    w_->OnMouse(MouseMessage::MouseMove, 0, x, kRow);
  }
  clock.SleepMs(10);
  const std::uint64_t released = clock.ticks;
  w_->OnMouse(MouseMessage::LButtonUp, 0, 235, kRow);
  platform::SetClock(nullptr);
  const int bound = MarkerColumn(*w_, 7.1f);
  EXPECT_EQ(MarkerDrag().dropX, bound);
  EXPECT_FLOAT_EQ(MarkerSettings().cursorRadius, RadiusAtColumn(*w_, bound));
  EXPECT_GT(clock.ticks, released);  // the playback waited on the program clock
  EXPECT_FLOAT_EQ(gModelParams.meniscus, 6.0f);  // a drop still waits for "confirm"
}

}  // namespace
