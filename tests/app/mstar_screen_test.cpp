// The M* screen driven as a user drives it: clicks and right drags through
// the window's mouse messages at pixels taken from the button rectangles,
// typed values and Yes/No answers from the script, Esc as a character.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "app/plot_input/markers.h"
#include "app/screens/mstar_screen.h"
#include "app/plot_events/plot_mouse.h"
#include "app/plot_input/marker_moves.h"
#include "equilibrium/mstar/mstar_screen.h"
#include "mstar_window_support.h"
#include "numerics/arrays.h"
#include "platform/clock.h"
#include "platform/draw_context.h"
#include "plot/cwinplot.h"
#include "plot/mstar_plots.h"
#include "plot/screen_button.h"

namespace {

using platform::MouseMessage;

class MStarScreenTest : public MStarWindowTest {
 protected:
  // The pause after a basis question passes at once.
  void SetUp() override {
    MStarWindowTest::SetUp();
    platform::SetClock(&clock_);
  }
  void TearDown() override {
    platform::SetClock(nullptr);
    MStarWindowTest::TearDown();
  }
  platform::ManualClock clock_;

  // The screen at a client area of 1400 x 1000 pixels: a pixel is a
  // screen unit across, and a thousandth of the height down.
  void Open(const std::vector<Profile>& profiles) {
    LoadEquilibrium(profiles);
    TXLAWindow& w = Window();
    Headless(w).Resize(1400, 1000);
    w.Paint(true);
    w.OnCommand(896);
    ASSERT_TRUE(MStarScreenShown());
  }
  static int N() { return CurrentMStarState().count; }
  static CScreenButton& Button(int slot) {
    CScreenButton* b = MStarButton(slot);
    EXPECT_NE(b, nullptr) << slot;
    static CScreenButton none;
    return b ? *b : none;
  }
  // The middle of a slot's rectangle in pixels.
  std::pair<int, int> Centre(int slot) {
    const CScreenButton& b = Button(slot);
    const TXLAWindow& w = Window();
    return {static_cast<int>((b.left + b.right) / 2.0 * w.ClientWidthF / 1400.0),
            static_cast<int>((b.top + b.bottom) / 2.0 * w.ClientHeightF / 1000.0)};
  }
  void ClickAt(int x, int y) {
    Window().OnMouse(MouseMessage::LButtonDown, 0, x, y);
    Window().OnMouse(MouseMessage::LButtonUp, 0, x, y);
  }
  void Click(int slot) {
    const auto [x, y] = Centre(slot);
    ClickAt(x, y);
  }
  // Over the signal plot, from (from, 200) to (to, 300).
  void RightDrag(int from, int to) {
    TXLAWindow& w = Window();
    w.OnMouse(MouseMessage::RButtonDown, 0, from, 200);
    w.OnMouse(MouseMessage::MouseMove, 0, to, 300);
    w.OnMouse(MouseMessage::RButtonUp, 0, to, 300);
  }
  void Escape() { Window().OnChar(27, 1, 0); }
  platform::CursorKind Cursor() { return Headless(Window()).cursor; }
  // The radius the signal plot shows at pixel column x, kept inside the fit limits.
  float RangeEnd(int x) {
    const CWINPlot& p = *CurrentMStarPlots().signal;
    const float r = (static_cast<int>(x * 1400.0 / Window().ClientWidthF) - p.xOffset) / p.xScale;
    return std::clamp(r, static_cast<float>(cell_.left), static_cast<float>(cell_.right));
  }
  int MeniscusSignalSlot(int d) { return 8 + 3 * N() + d; }
};

TEST_F(MStarScreenTest, TheTableHasItsSlotsAndAClickReachesTheButtonUnderIt) {
  Open({SingleSpecies()});
  ASSERT_EQ(MStarButtons().size(), 14u);
  EXPECT_EQ(MStarButton(5), nullptr);
  const CScreenButton& sg = Button(2);
  EXPECT_EQ(sg.caption, "SG smooth = 2.0 %(1)");
  EXPECT_EQ(sg.kind, 1);
  EXPECT_EQ(sg.raisedText, 1);
  EXPECT_EQ(std::vector<int>({sg.top, sg.bottom, sg.left, sg.right}), std::vector<int>({59, 77, 785, 945}));
  EXPECT_NE(sg.face, 0u);
  EXPECT_EQ(Button(9).caption, "Mwavg(1) = 50.0 (kDa)");

  ui_->ExpectPrompt("lnc-r2 transformation", "SG smooth %distance:", "3");
  ui_->ExpectPrompt("lnc-r2 transformation", "SG smooth order (box=1):", "2");
  ClickAt(840, 68);
  EXPECT_TRUE(ui_->AllConsumed());
  const MStarSettings& s = CurrentMStarState().settings;
  EXPECT_EQ(s.sgHalfWidth, 30);
  EXPECT_EQ(s.sgOrder, 2);
  EXPECT_EQ(Button(2).caption, "SG smooth = 3.0 %(2)");
  EXPECT_EQ(Button(2).on, 0);
  ExpectNoFailures();
}

TEST_F(MStarScreenTest, TypedValuesAreKeptWhereTheAnalysisCanUseThem) {
  Open({SingleSpecies()});
  struct Case {
    int slot;
    std::vector<const char*> replies;  // the prompts in order; "No" for the basis question
    int MStarSettings::*setting;
    int stored;
    const char* caption;  // of the slot afterwards; null: unchanged
  };
  const Case cases[] = {
      {2, {"-5", "1"}, &MStarSettings::sgHalfWidth, 1, "SG smooth = 0.1 %(1)"},
      {2, {"80", "1"}, &MStarSettings::sgHalfWidth, 499, "SG smooth = 49.9 %(1)"},
      {2, {"2", "900"}, &MStarSettings::sgOrder, 10, "SG smooth = 2.0 %(10)"},
      {3, {"2.5"}, &MStarSettings::mwappHalfWidth, 25, "SG smooth = 2.5 %(box)"},
      {3, {"0"}, &MStarSettings::mwappHalfWidth, 1, "SG smooth = 0.1 %(box)"},
      {1, {"7", "No"}, &MStarSettings::signalOrder, 2, "extrap."},
      {1, {"-1", "No"}, &MStarSettings::signalOrder, 0, "extrap."},
      {4, {"5", "No"}, &MStarSettings::mstarOrder, 2, "extrap."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.slot);
    for (const char* reply : c.replies) {
      if (std::string(reply) == "No")
        ui_->ExpectBox("M* transformation", "change extrapolation basis", platform::IDNO);
      else
        ui_->ExpectPrompt("", "", reply);
    }
    Click(c.slot);
    EXPECT_TRUE(ui_->AllConsumed());
    EXPECT_EQ(CurrentMStarState().settings.*c.setting, c.stored);
    if (c.caption) {
      EXPECT_EQ(Button(c.slot).caption, c.caption);
    }
    EXPECT_EQ(Button(c.slot).on, 0);
    // The results are recomputed, and stay finite.
    EXPECT_TRUE(std::isfinite(CurrentMStarState().mwavg[1]));
  }
  ExpectNoFailures();
}

TEST_F(MStarScreenTest, MeniscusRangeByRightDragInEitherDirectionAndEscCancels) {
  Open({SingleSpecies()});
  MStarState& st = CurrentMStarState();
  // "No" stays with the polynomial and lets go of the button.
  ui_->ExpectPrompt("M* transformation", "polynomial order (1 or 2):", "2");
  ui_->ExpectBox("M* transformation", "change extrapolation basis?", platform::IDNO);
  Click(1);
  EXPECT_FALSE(st.settings.straightLineBasis);
  EXPECT_EQ(Button(1).on, 0);
  EXPECT_FALSE(MStarRangeRequestPending());

  for (auto [from, to] : {std::pair{300, 200}, std::pair{200, 300}}) {
    ui_->ExpectPrompt("M* transformation", "polynomial order (1 or 2):", "1");
    ui_->ExpectBox("M* transformation", "change extrapolation basis?", platform::IDYES);
    Click(1);
    EXPECT_TRUE(MStarRangeRequestPending());
    EXPECT_EQ(Cursor(), platform::CursorKind::Cross);
    EXPECT_EQ(Button(1).on, 1);
    EXPECT_EQ(Button(MeniscusSignalSlot(1)).caption, "drag right mouse");
    // Ten pixels are no drag: the request stays.
    RightDrag(from, from + 10);
    EXPECT_TRUE(MStarRangeRequestPending());
    EXPECT_EQ(Cursor(), platform::CursorKind::Cross);
    RightDrag(from, to);
    EXPECT_FALSE(MStarRangeRequestPending());
    EXPECT_EQ(Cursor(), platform::CursorKind::Arrow);
    EXPECT_FLOAT_EQ(st.meniscusRange[1], RangeEnd(200));
    EXPECT_FLOAT_EQ(st.meniscusRange[2], RangeEnd(300));
    EXPECT_EQ(st.settings.signalOrder, 1);
    EXPECT_EQ(Button(1).on, 0);
    EXPECT_EQ(Button(MeniscusSignalSlot(1)).caption.rfind("A0(1) = ", 0), 0u);
  }
  // A drag without a request zooms the signal plot instead.
  const float xMax = CurrentMStarPlots().signal->xMax;
  RightDrag(200, 400);
  EXPECT_LT(CurrentMStarPlots().signal->xMax, xMax);

  ui_->ExpectPrompt("M* transformation", "polynomial order (1 or 2):", "2");
  ui_->ExpectBox("M* transformation", "change extrapolation basis?", platform::IDYES);
  Click(1);
  Escape();
  EXPECT_FALSE(MStarRangeRequestPending());
  EXPECT_EQ(Cursor(), platform::CursorKind::Arrow);
  EXPECT_FALSE(MStarScreenShown());
  EXPECT_TRUE(ui_->AllConsumed());
  ExpectNoFailures();
}

TEST_F(MStarScreenTest, BottomRangeByRightDrag) {
  Open({SingleSpecies()});
  MStarState& st = CurrentMStarState();
  ui_->ExpectPrompt("M* transformation", "polynomial order (1 or 2):", "1");
  ui_->ExpectBox("M* transformation", "change extrapolation basis (in A(r) plot)?", platform::IDYES);
  Click(4);
  EXPECT_EQ(Button(4).caption, "drag right mouse in A(r)");
  EXPECT_EQ(Button(4).on, 1);
  EXPECT_EQ(Cursor(), platform::CursorKind::Cross);
  RightDrag(600, 500);
  EXPECT_FALSE(MStarRangeRequestPending());
  EXPECT_EQ(Button(4).caption, "extrap.");
  EXPECT_EQ(Button(4).on, 0);
  EXPECT_FLOAT_EQ(st.bottomRange[1], RangeEnd(500));
  EXPECT_FLOAT_EQ(st.bottomRange[2], RangeEnd(600));
  EXPECT_EQ(st.settings.mstarOrder, 1);
  // M* of one species is flat: any straight line through it ends at 50 kDa.
  EXPECT_NEAR(st.mwavg[1], 50.0, 0.5);
  ExpectNoFailures();
}

TEST_F(MStarScreenTest, ATypedSignalAtTheMeniscusFixesOneDataSetUntilThePolynomialComesBack) {
  Open({SingleSpecies(15000), SingleSpecies(10000)});
  MStarState& st = CurrentMStarState();
  const float ca1 = st.ca[1], ca2 = st.ca[2];
  ui_->ExpectPrompt("M* transformation", "new A0(2):", "0.3");
  Click(MeniscusSignalSlot(2));
  EXPECT_TRUE(ui_->AllConsumed());
  EXPECT_FLOAT_EQ(st.ca[1], ca1);
  EXPECT_FLOAT_EQ(st.ca[2], 0.3f);
  EXPECT_TRUE(st.settings.straightLineBasis);
  EXPECT_FLOAT_EQ(st.sets[2].meniscusMarkerY[1], 0.3f + static_cast<float>(cell_.baseline));
  EXPECT_FLOAT_EQ(st.sets[1].meniscusMarkerY[1], ca1 + static_cast<float>(cell_.baseline));
  EXPECT_EQ(Button(MeniscusSignalSlot(2)).caption, "A0(2) = 0.3000 (fix)");
  EXPECT_EQ(Button(MeniscusSignalSlot(2)).on, 1);
  EXPECT_EQ(Button(MeniscusSignalSlot(1)).on, 0);

  ui_->ExpectPrompt("M* transformation", "polynomial order (1 or 2):", "2");
  ui_->ExpectBox("M* transformation", "change extrapolation basis?", platform::IDNO);
  Click(1);
  EXPECT_FALSE(st.settings.straightLineBasis);
  EXPECT_EQ(Button(MeniscusSignalSlot(2)).on, 0);
  EXPECT_NEAR(st.ca[2], ca2, 1e-5);
  char caption[40];
  std::snprintf(caption, sizeof caption, "A0(2) = %.4f", st.ca[2]);
  EXPECT_EQ(Button(MeniscusSignalSlot(2)).caption, caption);
  ExpectNoFailures();
}

TEST_F(MStarScreenTest, BaselinesTypedForOneDataSetOrAll) {
  Open({SingleSpecies(15000), SingleSpecies(10000)});
  ScanSet& scans = CurrentScanSet();
  if (scans.riNoise) free_vector(scans.riNoise, 1, scans.count);
  scans.riNoise = nullptr;
  const int baseline2 = 8 + 2 * N() + 2;
  ui_->ExpectPrompt("M* transformation", "new baseline signal:", "0.06");
  Click(baseline2);
  EXPECT_FLOAT_EQ(gModelParams.baseline, 0.06f);
  EXPECT_EQ(Button(baseline2).caption, "Baseline = 0.0600");
  EXPECT_EQ(Button(baseline2).on, 0);

  // Individual baselines on, with no RI values yet: they start at zero.
  Click(5);
  EXPECT_EQ(gModelParams.riNoiseFit, 1);
  EXPECT_EQ(Button(5).on, 1);
  ui_->ExpectPrompt("M* transformation", "new baseline 2 signal:", "0.04");
  Click(baseline2);
  EXPECT_TRUE(ui_->AllConsumed());
  ASSERT_NE(scans.riNoise, nullptr);
  EXPECT_FLOAT_EQ(scans.riNoise[1], 0.0f);
  EXPECT_FLOAT_EQ(scans.riNoise[2], 0.04f);
  EXPECT_EQ(Button(baseline2).caption, "Baseline(2) = 0.0400");
  EXPECT_EQ(Button(baseline2 - 1).caption, "Baseline(1) = 0.0000");
  EXPECT_FLOAT_EQ(CurrentMStarState().sets[2].baselineValues[1], 0.04f);
  ExpectNoFailures();
}

// Records whether the hinge button is pressed while its dialogue asks.
class WatchingUI : public platform::ScriptedUserInterface {
 public:
  int MessageBox(const std::string& caption, const std::string& text, platform::BoxButtons buttons,
                 platform::BoxIcon icon) override {
    if (caption == "HINGE POINT INFO" && MStarButton(7)) pressedDuringDialogue.push_back(MStarButton(7)->on);
    return ScriptedUserInterface::MessageBox(caption, text, buttons, icon);
  }
  std::vector<int> pressedDuringDialogue;
};

TEST_F(MStarScreenTest, HingeAndViewSwitches) {
  Open({SingleSpecies()});
  {
    WatchingUI watching;
    platform::ScopedUI scope(watching);
    // Each question names the data set it is about.
    watching.ExpectBox("HINGE POINT INFO", "data set 1 of 1 (", platform::IDNO);
    watching.ExpectPrompt("HINGE POINT INFO", "data set 1 of 1 (", "0.01");
    watching.ExpectBox("HINGE POINT INFO", "data set 1 of 1 (");
    Click(7);
    EXPECT_TRUE(watching.AllConsumed());
    ASSERT_EQ(watching.transcript.size(), 3u);
    EXPECT_NE(watching.transcript[0].text.find("manual override?"), std::string::npos);
    EXPECT_NE(watching.transcript[1].text.find("radial interval for smoothing Mapp(r_hinge)"), std::string::npos);
    EXPECT_NE(watching.transcript[2].text.find("Mwapp(rhinge="), std::string::npos);
    EXPECT_EQ(watching.pressedDuringDialogue, std::vector<int>({1, 1}));
    EXPECT_TRUE(watching.failures.empty());
  }
  EXPECT_EQ(Button(7).on, 0);
  EXPECT_TRUE(CurrentMStarState().hinge[1].found);

  Click(8);
  EXPECT_TRUE(CurrentMStarState().settings.dlncForm);
  EXPECT_EQ(Button(8).on, 1);
  EXPECT_EQ(CurrentMStarPlots().mwapp->yLabel, "Mwapp(c) [=(1/k)*dlnc/dr^2] (kDa)");
  const int abscissa = 4 * N() + 9;
  Click(abscissa);
  EXPECT_TRUE(CurrentMStarState().settings.mwappAgainstRadius);
  EXPECT_EQ(CurrentMStarPlots().mwapp->xLabel, "radius (cm)");
  EXPECT_EQ(CurrentMStarPlots().mwapp->yLabel, "Mwapp(r) [=(1/k)*dlnc/dr^2] (kDa)");
  // Opened again, the screen shows the views in force.
  Window().OnCommand(896);
  EXPECT_EQ(Button(abscissa).on, 1);
  EXPECT_EQ(Button(abscissa).onCaption, "go to Mwapp(c)");
  EXPECT_EQ(Button(8).on, 1);
  Click(abscissa);
  EXPECT_EQ(CurrentMStarPlots().mwapp->xLabel, "total signal");
  ExpectNoFailures();
}

TEST_F(MStarScreenTest, ClicksWhereNoButtonStandsGoToTheWindow) {
  Open({SingleSpecies()});
  int passedOn = 0;
  MouseHooks().pressScreenButtons = [&](float, float) {
    ++passedOn;
    return true;
  };
  MStarState& st = CurrentMStarState();
  // With c(M) smoothing the extrapolations and the linear fits have no button.
  const auto [x1, y1] = Centre(1);
  const auto [x10, y10] = Centre(10);
  st.settings.cmSmoothing = true;
  DrawMStarScreen(Window());
  EXPECT_EQ(MStarButton(1), nullptr);
  EXPECT_EQ(MStarButton(4), nullptr);
  EXPECT_EQ(MStarButton(10), nullptr);
  ClickAt(x1, y1);
  ClickAt(x10, y10);
  EXPECT_EQ(passedOn, 2);
  st.settings.cmSmoothing = false;
  // A result text takes a click, which only recomputes.
  Click(9);
  EXPECT_EQ(passedOn, 2);
  MouseHooks().pressScreenButtons = nullptr;
  EXPECT_TRUE(ui_->transcript.empty());
  ExpectNoFailures();
}

TEST_F(MStarScreenTest, MarkersSpanTheSignalPlotAndMovingThemRecomputes) {
  Open({SingleSpecies()});
  TXLAWindow& w = Window();
  platform::RecordingDC dc;
  DrawVerticalMarker(dc, w, 300, kMeniscusColor);
  std::vector<std::string> lines;
  for (const std::string& d : dc.Describe())
    if (d.rfind("MoveTo", 0) == 0 || d.rfind("LineTo", 0) == 0) lines.push_back(d);
  EXPECT_EQ(lines, (std::vector<std::string>{"MoveTo(300,50)", "LineTo(300,450)"}));
  // A fit limit moved on the screen: the results follow at once.
  const float mwLin = CurrentMStarState().mwLin[1];
  CurrentScanSet().rightFitLimit = 7.17f;
  ASSERT_TRUE(MouseHooks().refreshMStar);
  MouseHooks().refreshMStar();
  const MStarDataSet& set = CurrentMStarState().sets[1];
  EXPECT_NEAR(set.r[static_cast<size_t>(set.iLast)], 7.17, 0.0011);
  EXPECT_NEAR(CurrentMStarState().mwLin[1], mwLin, 0.2);
  EXPECT_EQ(Button(10).caption.rfind("linear fit to lnc(r^2)(1) --> ", 0), 0u);
  ExpectNoFailures();
}

TEST_F(MStarScreenTest, CofMSmoothingRebuildsTheScreenBothWays) {
  Profile p = SingleSpecies();
  p.first = 6.895;  // data beyond meniscus and bottom, as c(M) smoothing needs
  p.last = 7.205;
  Open({p});
  ui_->ExpectPrompt("M* transformation", "min Mw (kDa)", "20");
  ui_->ExpectPrompt("M* transformation", "max Mw (kDa)", "100");
  ui_->ExpectBox("M* transformation", "determine Baseline from c(M)?", platform::IDYES);
  Click(6);
  EXPECT_TRUE(ui_->AllConsumed());
  ASSERT_TRUE(MStarScreenShown());
  ASSERT_TRUE(CurrentMStarState().settings.cmSmoothing);
  EXPECT_EQ(MStarButton(1), nullptr);
  EXPECT_EQ(MStarButton(10), nullptr);
  EXPECT_EQ(Button(6).on, 1);
  EXPECT_NEAR(CurrentMStarState().mwavg[1], 50.0, 0.5);
  // Off again: the extrapolations come back, no question asked.
  Click(6);
  EXPECT_FALSE(CurrentMStarState().settings.cmSmoothing);
  ASSERT_NE(MStarButton(1), nullptr);
  EXPECT_EQ(Button(6).on, 0);
  EXPECT_EQ(Button(10).caption.rfind("linear fit to lnc(r^2)(1) --> ", 0), 0u);
  EXPECT_NEAR(CurrentMStarState().mwavg[1], 50.0, 0.5);
  ExpectNoFailures();
}

TEST_F(MStarScreenTest, EscEndsTheAnalysisAndTheDataPlotComesBack) {
  Open({SingleSpecies()});
  CWINPlot* const dataPlot = CurrentMStarPlots().savedDataPlot;
  ASSERT_NE(dataPlot, nullptr);
  Escape();
  EXPECT_FALSE(MStarScreenShown());
  EXPECT_FALSE(CurrentMStarState().analysisActive);
  EXPECT_TRUE(MStarButtons().empty());
  EXPECT_EQ(CurrentPlotWindows().dataPlot, dataPlot);
  EXPECT_FALSE(CurrentMStarPlots().Built());
  // Clicks where the buttons stood reach nothing of the screen.
  ClickAt(840, 68);
  EXPECT_TRUE(ui_->transcript.empty());
  ExpectNoFailures();
}

}  // namespace
