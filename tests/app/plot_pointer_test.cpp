// Double clicks, hover, readouts, scan names, the distribution band and the
// pointer modes through the window's mouse and key messages, on a headless
// frame of 1400 x 1000 pixels whose client area logs what is drawn. One
// pixel is one plot unit there, and radius r lies at column 100 r - 400.
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "app/commands/distribution/distribution_commands.h"
#include "app/window/main_window_flags.h"
#include "app/plot_input/mouse_flick.h"
#include "app/plot_input/marker_moves.h"
#include "app/plot_input/markers.h"
#include "app/plot_events/plot_mouse.h"
#include "app/window/road_services.h"
#include "app/window/window_services.h"
#include "app_fixture.h"
#include "log_surface.h"
#include "marker_plot_setup.h"
#include "data/mouse_actions.h"
#include "data/scan_set.h"
#include "distributions/conti_settings.h"
#include "distributions/hydrodynamics.h"
#include "distributions/model_molar_mass.h"
#include "equilibrium/eqtools/eq_test_mode.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/serial_fit_settings.h"
#include "models/buffer/buffer_sed_settings.h"
#include "numerics/arrays.h"
#include "plot/adhoc_plot_arrays.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"
#include "platform/clock.h"
#include "platform/input_events.h"
#include "platform/window_messages.h"

namespace {

using platform::MouseMessage;

constexpr int kRow = 300;  // inside the data plot's band
// The marker colours as the drawing log names them.
constexpr const char* kMeniscusPen = "ff0000";
constexpr const char* kBottomPen = "0000ff";
constexpr const char* kFitLimitPen = "00ff00";
constexpr const char* kFitRangePen = "c8c8c8";

// A repair mode that logs what reaches it.
class LoggingMode : public CMouseAction {
 public:
  explicit LoggingMode(std::vector<std::string>& log) : log_(log) {}
  void Finish() override { log_.push_back("Finish"); }
  void End() override { log_.push_back("End"); }
  bool LButtonDown(MousePoint p) override {
    log_.push_back("LButtonDown " + std::to_string(p.x));
    return active != 0;
  }
  bool KeyDown(int key, int, unsigned) override {
    log_.push_back("KeyDown " + std::to_string(key));
    return active != 0;
  }

 private:
  std::vector<std::string>& log_;
};

class PlotPointer : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    platform::SetFrameWindowFactory(
        [this](platform::IWindowEvents& events) { return std::make_unique<SurfaceFrame>(events, surface_); });
    SetUpMarkerPlot();
    CWINPlot& data = *CurrentPlotWindows().dataPlot;
    data.yScale = -100;
    data.yOffset = 400;
    MouseHooks().showMarkerConfirmButtons = [this](int x, int, bool) { confirmAt_.push_back(x); };
    Services().playSoundOk = [this] { ++okSounds_; };
    w_ = MakeWindow();
    w_->Frame().Resize(1400, 1000);
    w_->Paint(true);
    surface_.ops.clear();
  }
  void TearDown() override {
    MouseActionsEndAll();
    MouseActionFactories() = MouseActionMakers{};
    for (auto& entry : MouseActions().entries) entry.reset();
    TearDownMarkerPlot();
    delete Conti().distributionPlot;
    Conti().distributionPlot = nullptr;
    w_.reset();
    platform::SetFrameWindowFactory({});
    AppTest::TearDown();
  }
  static int Column(float r) { return static_cast<int>(std::lround(100 * r - 400)); }
  // A readout line in the rows and the column of the fit report (right of
  // the data plot's frame), over whatever line stood there.
  bool ReadOut(int y, const std::string& text) const {
    return surface_.Drew("TextOut(" + std::to_string(ReportTextColumn(*w_, 10)) + "," + std::to_string(y) + ",\"" +
                         text + "\")");
  }
  // Two scans of 120 points from 5.95 cm in steps of 0.01 cm; scan 2 was
  // taken first. Scan k's signal is 0.5 k, at row 400 - 50 k.
  void LoadScans() {
    ScanSet& s = CurrentScanSet();
    AllocateScanTables(s, 2);
    s.order = {0, 2, 1};
    for (int k = 1; k <= 2; ++k) {
      s.points[k] = 120;
      s.radii[k] = vector(1, 120);
      s.signals[k] = vector(1, 120);
      for (int j = 1; j <= 120; ++j) {
        s.radii[k][j] = 5.95f + 0.01f * (j - 1);
        s.signals[k][j] = 0.5f * k;
      }
    }
  }
  // A distribution plot over 630..950 of the height, s = (plot x - 100) / 100.
  CWINPlot& MakeDistributionPlot() {
    auto* plot = new CWINPlot();
    plot->plotTop = 630;
    plot->plotBottom = 950;
    plot->xScale = 100;
    plot->xOffset = 100;
    plot->yScale = -1;
    plot->yOffset = 950;
    Conti().distributionPlot = plot;
    return *plot;
  }
  // vbar 0.73 ml/g in water at 20 C, f/f0 1.2.
  static void SetProteinInWater() {
    SolutionConditions& c = gSolutionConditions;
    c.vbar = 0.73f;
    c.density = 0.99823f;
    c.vbarRho = c.vbar * c.density;
    c.temperature = 293.15f;
    Conti().ffValue = 1.2f;
  }
  void Move(int x, int y = kRow) { w_->OnMouse(MouseMessage::MouseMove, 0, x, y); }
  platform::HeadlessFrameWindow& Frame() { return Headless(*w_); }
  int Selected() const {
    for (int k = 0; k < kMarkerCount; ++k)
      if (MarkerDrag().selected[k]) return k;
    return -1;
  }

  LogSurface surface_{1400, 1000};
  std::unique_ptr<TXLAWindow> w_;
  std::vector<int> confirmAt_;
  int okSounds_ = 0;
  std::vector<std::string> modeLog_;  // outlives the modes' last End
};

TEST_F(PlotPointer, LeftDoubleClickPlacesTheRadialCursorInTheModeOfTheKeys) {
  using platform::MK_CONTROL;
  using platform::MK_LBUTTON;
  using platform::MK_SHIFT;
  struct Case {
    unsigned keys;
    float meniscus;
    CursorEditMode mode;
    MarkerKind selected;
    bool cursorShown;
  };
  const Case cases[] = {
      {MK_LBUTTON, 6.0f, CursorEditMode::FitLimits, MarkerKind::LeftFitLimit, true},
      {MK_LBUTTON | MK_CONTROL, 6.0f, CursorEditMode::MeniscusOrBottom, MarkerKind::Meniscus, true},
      {MK_LBUTTON | MK_SHIFT, 6.0f, CursorEditMode::ReferenceMeniscus, MarkerKind::ReferenceMeniscus, true},
      {MK_LBUTTON | MK_SHIFT, 0.0f, CursorEditMode::None, MarkerKind::ReferenceMeniscus, false},
      {MK_LBUTTON | MK_CONTROL | MK_SHIFT, 6.0f, CursorEditMode::FitLimits, MarkerKind::LeftFitLimit, true},
  };
  for (const Case& c : cases) {
    MarkerDrag() = MarkerDragState{};
    MarkerSettings() = MarkerDisplaySettings{};
    confirmAt_.clear();
    surface_.ops.clear();
    gModelParams.meniscus = c.meniscus;
    w_->OnMouse(MouseMessage::LButtonDblClk, c.keys, Column(6.5f), kRow);
    const MarkerDisplaySettings& m = MarkerSettings();
    EXPECT_EQ(m.editMode, c.mode) << c.keys;
    EXPECT_EQ(Selected(), static_cast<int>(c.selected)) << c.keys;
    EXPECT_EQ(m.cursorLineShown, c.cursorShown) << c.keys;
    EXPECT_FLOAT_EQ(m.cursorRadius, 6.5f);
    EXPECT_EQ(MarkerDrag().awaitingConfirmation, 1);
    EXPECT_TRUE(ReadOut(50, "6.5000    "));
    EXPECT_EQ(confirmAt_, std::vector<int>{Column(6.5f)});
  }
  // A second double click while the edit waits only moves the cursor.
  w_->OnMouse(MouseMessage::LButtonDblClk, MK_LBUTTON | MK_CONTROL, Column(6.7f), kRow);
  EXPECT_EQ(MarkerSettings().editMode, CursorEditMode::FitLimits);
  EXPECT_FLOAT_EQ(MarkerSettings().cursorRadius, 6.7f);
  EXPECT_EQ(MarkerDrag().dropX, Column(6.7f));
  EXPECT_EQ(confirmAt_.size(), 1u);
}

TEST_F(PlotPointer, DoubleClickedCursorBecomesTheMeniscusOnEnter) {
  gModelParams.meniscus = 0;
  w_->OnMouse(MouseMessage::LButtonDblClk, platform::MK_LBUTTON | platform::MK_CONTROL, Column(6.1f), kRow);
  w_->OnChar(13, 1, 0);
  EXPECT_FLOAT_EQ(gModelParams.meniscus, 6.1f);
  EXPECT_FALSE(MarkerSettings().cursorLineShown);
  EXPECT_EQ(MarkerDrag().awaitingConfirmation, 0);
}

TEST_F(PlotPointer, DoubleClickOnANoiseButtonIsOnePress) {
  std::vector<std::pair<float, float>> presses;
  MouseHooks().noiseOrIntegrateButtonAt = [](float bx, float) { return bx > 900; };
  MouseHooks().pressScreenButtons = [&](float bx, float by) {
    presses.push_back({bx, by});
    return true;
  };
  w_->OnMouse(MouseMessage::LButtonDblClk, platform::MK_LBUTTON, 1300, 20);
  EXPECT_EQ(presses, (std::vector<std::pair<float, float>>{{928, 20}}));
  EXPECT_FALSE(MarkerSettings().cursorLineShown);
}

TEST_F(PlotPointer, RightDoubleClicksStepTheZoomBack) {
  RangeHistory.depth = 9;
  CWINPlot& plot = *CurrentPlotWindows().dataPlot;
  for (int i = 8; i >= 0; --i) {
    plot.xRangeFixed = 1;
    w_->OnMouse(MouseMessage::RButtonDblClk, platform::MK_RBUTTON, 300, kRow);
    EXPECT_EQ(RangeHistory.depth, i);
  }
  // Back at the full range the data plot scales itself again.
  EXPECT_EQ(plot.xRangeFixed, 0);
  EXPECT_EQ(okSounds_, 0);
  w_->OnMouse(MouseMessage::RButtonDblClk, platform::MK_RBUTTON, 300, kRow);
  EXPECT_EQ(RangeHistory.depth, 0);
  EXPECT_EQ(okSounds_, 1);
}

TEST_F(PlotPointer, CtrlRightDoubleClickLabelsTheDistributionWithTheMolarMass) {
  SetProteinInWater();
  MakeDistributionPlot();
  gModelSelectorFlags.CSModel = 1;
  const unsigned ctrl = platform::MK_RBUTTON | platform::MK_CONTROL;
  // s = 3.0 S at plot x 400.
  w_->OnMouse(MouseMessage::RButtonDblClk, ctrl, 400, 800);
  EXPECT_TRUE(surface_.Drew("TextOut(400,800,\"|Mf=31.5 (>24.0) kDa\")"));
  // Left of zero there is nothing to name.
  surface_.ops.clear();
  w_->OnMouse(MouseMessage::RButtonDblClk, ctrl, 90, 800);
  EXPECT_FALSE(surface_.DrewIn("|Mf="));
  // Outside the c(s) models the click shows the whole distribution.
  gModelSelectorFlags.CSModel = 0;
  gModelSelectorFlags.LsgStarModel = 1;
  RangeSelection().active = RangeSelection().forRescaling = true;
  w_->OnMouse(MouseMessage::RButtonDblClk, ctrl, 400, 800);
  EXPECT_FALSE(surface_.DrewIn("|Mf="));
  EXPECT_FALSE(RangeSelection().active);
  // On the distribution plot the zoom history is left alone.
  EXPECT_EQ(okSounds_, 0);
}

TEST_F(PlotPointer, MolarMassLabelsByMagnitude) {
  struct Case {
    float M, sphere;
    const char* text;
  };
  const Case cases[] = {
      {31544.2f, 23996.5f, "|Mf=31.5 (>24.0) kDa"},
      {1.5e7f, 1.2e7f, "|Mf=15.0 (>12.0) MDa"},
      {1e7f, 8e6f, "|Mf=10.00 (>8.00) MDa"},  // not above 1e7
      {1.5e5f, 1.2e5f, "|Mf=150 (>120) kDa"},
      {1e5f, 8e4f, "|Mf=100.0 (>80.0) kDa"},
      {1500, 1200, "|Mf=1.50 (>1.20) kDa"},
      {1000, 800, "|Mf=1000 (>800) Da"},  // not above 1000
      {100, 80, "|Mf=100.0 (>80.0) Da"},
  };
  for (const Case& c : cases) EXPECT_EQ(MolarMassLabelText(c.M, c.sphere), c.text);
}

// s = M (1 - vbar rho) / (N_A f/f0 6 pi eta R0), R0 of the anhydrous sphere,
// solved for M at 3 S, vbar 0.73 ml/g, rho 0.99823 g/ml, 20 C: 31544 g/mol at
// f/f0 1.2 and 23996 g/mol for the sphere.
TEST_F(PlotPointer, ModelMolarMassFollowsTheChosenModel) {
  SetProteinInWater();
  ContiSettings& cs = Conti();
  EXPECT_NEAR(MolarMassUnderModel(3.0f), 31544.2f, 2);
  EXPECT_NEAR(CalculateMff02(3.0f, 1.0f), 23996.5f, 2);
  cs.secondFf = 1.0f, cs.secondFfSMin = 2.0f, cs.secondFfSMax = 3.0f;
  cs.conformationSMin = 2.5f, cs.conformationSMax = 3.5f, cs.conformationM = 2e5f;
  gModelSelectorFlags.BimodalFF0CSModel = 1;
  EXPECT_NEAR(MolarMassUnderModel(3.0f), 23996.5f, 2);  // inside the second class
  EXPECT_NEAR(MolarMassUnderModel(3.5f), CalculateM(3.5f), 1);
  gModelSelectorFlags = ModelSelectorFlags{};
  gModelSelectorFlags.ConformationalChangeCSModel = 1;
  EXPECT_FLOAT_EQ(MolarMassUnderModel(3.5f), 2e5f);
  EXPECT_NEAR(MolarMassUnderModel(3.6f), CalculateM(3.6f), 1);
}

TEST_F(PlotPointer, HoverHighlightsTheMarkerWithinOnePixel) {
  const int meniscus = Column(6.0f);
  Move(meniscus + 2);
  EXPECT_EQ(Frame().cursor, platform::CursorKind::Arrow);
  EXPECT_FALSE(surface_.DrewIn("0000b4"));
  Move(meniscus + 1);
  EXPECT_EQ(Frame().cursor, platform::CursorKind::SizeWE);
  EXPECT_TRUE(surface_.DrewIn("0000b4"));
  EXPECT_EQ(MarkerHover().arrowRestored, 0);
  // Leaving restores the markers once.
  Move(meniscus + 30);
  EXPECT_EQ(Frame().cursor, platform::CursorKind::Arrow);
  EXPECT_EQ(MarkerHover().arrowRestored, 1);
  surface_.ops.clear();
  Move(meniscus + 31);
  EXPECT_TRUE(surface_.ops.empty());
  // The meniscus comes before its own lower limit.
  gFitEngineState.meniscusMin = 6.0f;
  Move(meniscus);
  EXPECT_TRUE(surface_.DrewIn("0000b4"));
  EXPECT_FALSE(surface_.DrewIn("505050"));
  // Below the data plot nothing reacts.
  Move(meniscus + 30);
  Move(meniscus, 600);
  EXPECT_EQ(Frame().cursor, platform::CursorKind::Arrow);
}

TEST_F(PlotPointer, ReferenceMeniscusReactsOnlyWithTheMismatchCorrection) {
  BufferSedSettings& b = gBufferSedSettings;
  b.MeniscusDifference = 0.2;  // reference meniscus at 5.8 cm, on the meniscus' lower limit
  gFitEngineState.meniscusMin = 5.5f;
  Move(Column(5.8f));
  EXPECT_EQ(Frame().cursor, platform::CursorKind::Arrow);
  b.BufferSedOn = b.MeniscusMismatch = 1;
  Move(Column(5.8f));
  EXPECT_EQ(Frame().cursor, platform::CursorKind::SizeWE);
  EXPECT_TRUE(surface_.DrewIn("960096"));
  // Leaving draws it back in its own colour.
  surface_.ops.clear();
  Move(Column(5.8f) + 30);
  EXPECT_TRUE(surface_.DrewIn("ff00ff"));
  b = BufferSedSettings{};
}

TEST_F(PlotPointer, OnTheMStarScreenOnlyMeniscusBottomAndFitLimitsReact) {
  Road().mStarScreenShown = [] { return true; };
  Move(Column(5.8f));  // meniscus lower limit
  EXPECT_EQ(Frame().cursor, platform::CursorKind::Arrow);
  Move(Column(6.8f));  // left fit limit: the cursor changes, no highlight
  EXPECT_EQ(Frame().cursor, platform::CursorKind::SizeWE);
  EXPECT_FALSE(surface_.DrewIn("00b400"));
  // Leaving the marker restores meniscus and bottom, not the fit range the
  // M* plot does not show.
  for (const bool mStar : {true, false}) {
    Road().mStarScreenShown = [mStar] { return mStar; };
    Move(Column(6.0f));
    surface_.ops.clear();
    Move(Column(6.0f) + 30);
    ASSERT_EQ(MarkerHover().arrowRestored, 1);
    EXPECT_TRUE(surface_.DrewIn(kMeniscusPen)) << mStar;
    EXPECT_TRUE(surface_.DrewIn(kBottomPen)) << mStar;
    EXPECT_EQ(surface_.DrewIn(kFitLimitPen), !mStar);
    EXPECT_EQ(surface_.DrewIn(kFitRangePen), !mStar);
  }
  Road().mStarScreenShown = nullptr;
}

TEST_F(PlotPointer, MovesDuringRunOrSerialFitOnlyStopOrDoNothing) {
  w_->RunBusy = true;
  Move(Column(6.0f));
  EXPECT_TRUE(platform::StopFlag().load());
  EXPECT_EQ(Frame().cursor, platform::CursorKind::Arrow);
  w_->RunBusy = false;
  gSerialFitSettings.running = 1;
  Move(Column(6.0f));
  gSerialFitSettings.running = 0;
  EXPECT_EQ(Frame().cursor, platform::CursorKind::Arrow);
}

TEST_F(PlotPointer, OverTheEquilibriumTestTimeCourseThePointerIsReadOut) {
  CWINPlot plot;
  plot.xScale = 10, plot.xOffset = 100, plot.yScale = -100, plot.yOffset = 900;
  CurrentAdHocPlot().adHocPlot = &plot;
  EqTest().selecting = true;
  Move(350, 400);
  EqTest().selecting = false;
  CurrentAdHocPlot().adHocPlot = nullptr;
  EXPECT_TRUE(ReadOut(50, "25.000    "));
  EXPECT_TRUE(ReadOut(70, "5.000    "));
}

// An ad-hoc plot (the residual histogram, a temperature plot) fills the
// window for one painting and frees its buffers; while its picture stays
// on the screen a press must not reach the data plot hidden under it, and
// a key brings the data screen back.
TEST_F(PlotPointer, AnAdHocPlotOnTheScreenTakesNoPressAndAKeyBringsThePlotsBack) {
  LoadScans();
  CurrentAdHocPlot().adHocPlot = new CWINPlot();
  w_->Paint(true);
  ASSERT_EQ(CurrentAdHocPlot().adHocPlot, nullptr);
  w_->OnMouse(MouseMessage::LButtonDown, 0, Column(6.0f), kRow);
  EXPECT_EQ(Selected(), -1);
  const int before = Frame().invalidations;
  w_->OnChar(' ', 1, 0);
  EXPECT_EQ(Frame().invalidations, before + 1);
  // The next painting is the data screen; the press then takes the meniscus.
  w_->Paint(true);
  w_->OnChar(' ', 1, 0);
  EXPECT_EQ(Frame().invalidations, before + 1);
  w_->OnMouse(MouseMessage::LButtonDown, 0, Column(6.0f), kRow);
  EXPECT_EQ(Selected(), static_cast<int>(MarkerKind::Meniscus));
}

// The meniscus lower limit, picked up at column 20 and released at column
// 100 after moving at 1000 px/s, slides on between the plot's left edge and
// the far meniscus upper limit (column 550) to column 400.
TEST_F(PlotPointer, FlickedMarkerSlidesOnAndEnterStopsItWhereItIs) {
  platform::ManualClock clock;
  platform::SetClock(&clock);
  MouseSliding().slidingOff = 0;
  for (int enterAt : {0, 5}) {
    MarkerDrag() = MarkerDragState{};
    gFitEngineState.meniscusMin = 4.2f;
    gFitEngineState.meniscusMax = 9.5f;
    int calls = 0;
    MouseHooks().readKey = [&] {
      if (++calls == enterAt) platform::PostKeyDown(13);
      return ReadSlideKey();
    };
    w_->OnMouse(MouseMessage::LButtonDown, 0, 20, kRow);
    ASSERT_EQ(Selected(), static_cast<int>(MarkerKind::MeniscusMin));
    for (int x = 30; x <= 90; x += 10) {
      clock.ticks += 10;
      Move(x);
    }
    clock.ticks += 10;
    w_->OnMouse(MouseMessage::LButtonUp, 0, 100, kRow);
    if (enterAt == 0) {
      EXPECT_EQ(MarkerDrag().dropX, 400);
      EXPECT_EQ(MarkerDrag().awaitingConfirmation, 1);
      w_->OnChar(27, 1, 0);
      EXPECT_FLOAT_EQ(gFitEngineState.meniscusMin, 4.2f);
    } else {
      // Applied at once, between the release (5.0 cm) and the slide's end (8.0 cm).
      EXPECT_GT(gFitEngineState.meniscusMin, 5.0f);
      EXPECT_LT(gFitEngineState.meniscusMin, 8.0f);
      EXPECT_EQ(MarkerDrag().flickEnded, 1);
      EXPECT_EQ(MarkerDrag().awaitingConfirmation, 0);
    }
  }
  MouseSliding() = MouseSlidingFlags{};
  platform::SetClock(nullptr);
}

TEST_F(PlotPointer, ScanNameFollowsThePointsUnderThePointer) {
  LoadScans();
  std::vector<int> shown;
  int deleted = 0;
  MouseHooks().showScanNameButton = [&](int i, int, int) { shown.push_back(i); };
  MouseHooks().deleteScanNameButton = [&] { ++deleted; };
  // Scan 1 at row 350 is the second in time order; scan 2 at row 300 the first.
  Move(Column(6.5f), 350);
  Move(Column(6.5f), 302);
  Move(Column(6.5f), 320);
  EXPECT_EQ(shown, (std::vector<int>{2, 1}));
  EXPECT_EQ(deleted, 1);
  WindowFlags().ScanNameHoverOn = 0;
  Move(Column(6.5f), 350);
  WindowFlags().ScanNameHoverOn = 1;
  EXPECT_EQ(shown.size(), 2u);
}

TEST_F(PlotPointer, PressOnAPointReadsItOut) {
  LoadScans();
  std::vector<int> editButtons;
  int cancels = 0;
  MouseHooks().showPointEditButtons = [&](int, int, int i) { editButtons.push_back(i); };
  MouseHooks().pressPointEditCancel = [&] { return ++cancels > 0; };
  w_->OnMouse(MouseMessage::LButtonDown, 0, Column(6.5f), 350);
  // The box reaches 3 plot units (0.03 cm) each way: the first point inside it is read.
  EXPECT_TRUE(ReadOut(50, "r = 6.4800    "));
  EXPECT_TRUE(ReadOut(70, "a = 0.5000    "));
  EXPECT_EQ(editButtons, std::vector<int>{2});
  EXPECT_EQ(cancels, 1);
  // A press on no point blanks the readout.
  surface_.ops.clear();
  w_->OnMouse(MouseMessage::LButtonDown, 0, Column(6.5f), 200);
  EXPECT_TRUE(ReadOut(50, "              "));
  EXPECT_EQ(editButtons.size(), 1u);
  EXPECT_EQ(cancels, 2);
  // Any character withdraws the offer too.
  w_->OnChar('x', 1, 0);
  EXPECT_EQ(cancels, 3);
}

TEST_F(PlotPointer, RightBandOnTheDistributionPlot) {
  CWINPlot& dist = MakeDistributionPlot();
  // A click without a drag leaves the range selection on.
  w_->OnMouse(MouseMessage::RButtonDown, 0, 400, 800);
  EXPECT_EQ(CurrentZoomBand().distributionSelection, 1);
  w_->OnMouse(MouseMessage::RButtonUp, 0, 400, 800);
  EXPECT_TRUE(RangeSelection().active);
  EXPECT_TRUE(RangeSelection().forRescaling);
  EXPECT_FALSE(w_->ZoomDragging);
  // With the integration button down the band spans the plot's height.
  RangeSelection() = RangeSelectionState{};
  RangeSelection().forIntegration = RangeSelection().active = true;
  w_->OnMouse(MouseMessage::RButtonDown, 0, 400, 700);
  EXPECT_EQ(CurrentZoomBand().start.y, 950);
  Move(500, 900);
  EXPECT_EQ(CurrentZoomBand().current.y, 630);
  EXPECT_EQ(CurrentZoomBand().rightmost.x, 500);
  (void)dist;
  // Back within 10 pixels of the start the release selects nothing.
  Move(405, 900);
  w_->OnMouse(MouseMessage::RButtonUp, 0, 405, 900);
  EXPECT_FALSE(w_->ZoomDragging);
  EXPECT_EQ(w_->ZoomDC, nullptr);
}

TEST_F(PlotPointer, ActivePointerModeTakesTheEventsUntilEscape) {
  LoadScans();
  std::vector<std::string>& log = modeLog_;
  MouseActionFactories().trackScratch = [&] { return std::make_unique<LoggingMode>(log); };
  CreateMouseActions(&w_->Frame());
  StartTrackScratch();
  log.clear();
  w_->OnMouse(MouseMessage::LButtonDown, 0, Column(6.0f), kRow);
  w_->OnMouse(MouseMessage::RButtonDown, 0, 301, kRow);
  w_->OnKeyDown(0x25, 1, 0);
  EXPECT_EQ(Selected(), -1);
  EXPECT_FALSE(w_->ZoomDragging);
  EXPECT_EQ(MouseActions().entries[1]->eventCount, 2);
  w_->OnChar(27, 1, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"LButtonDown " + std::to_string(Column(6.0f)), "LButtonDown 301",
                                           "KeyDown 37", "End"}));
  // Back to the window: the press picks up the meniscus.
  w_->OnMouse(MouseMessage::LButtonDown, 0, Column(6.0f), kRow);
  EXPECT_EQ(Selected(), static_cast<int>(MarkerKind::Meniscus));
}

TEST_F(PlotPointer, LoadingEndsARepairWithoutApplyingIt) {
  LoadScans();
  std::vector<std::string>& log = modeLog_;
  MouseActionFactories().fixPointScanFringeJump = [&] { return std::make_unique<LoggingMode>(log); };
  CreateMouseActions(&w_->Frame());
  ui_->lenient = true;  // the file dialog is cancelled
  for (int command : {200, 226}) {
    log.clear();
    StartFixPointScanFringeJump();
    log.clear();
    w_->Dispatch(command);
    EXPECT_EQ(log, std::vector<std::string>{"End"}) << command;
    EXPECT_EQ(MouseActions().entries[3]->active, 0);
  }
}

}  // namespace
