// The three scan repairs driven as a user drives them: the menu command with
// its questions, clicks at the pixels where the plots put the points, keys,
// and Enter or Escape; on a headless window of 1400 x 1000 pixels, where a
// pixel is one plot unit, radius r lies at column 2000 r - 12000 and a value
// v at row 400 - 100 v (data plot) or 750 - 100 v (residual plot).
#include <cmath>
#include <fstream>
#include <random>
#include <sstream>

#include "app/plot_input/marker_moves.h"
#include "app/plot_input/markers.h"
#include "app_fixture.h"
#include "data/mouse_action_fringe_jump.h"
#include "data/mouse_action_scratch.h"
#include "data/mouse_actions.h"
#include "numerics/random.h"
#include "platform/draw_surface.h"
#include "platform/input_events.h"
#include "platform/window_messages.h"
#include "plot/adhoc_plot.h"
#include "plot/adhoc_plot_arrays.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"
#include "tests/data/repair_scans.h"

namespace {

using platform::MouseMessage;

// The client area as the text lines written into it.
class TextSurface : public platform::DrawSurface {
 public:
  class LoggingDC : public platform::RecordingDC {
   public:
    explicit LoggingDC(std::vector<std::string>& log) : log_(log) {}
    ~LoggingDC() override {
      for (const std::string& op : Describe())
        if (op.rfind("TextOut(", 0) == 0) log_.push_back(op);
    }

   private:
    std::vector<std::string>& log_;
  };
  int ClientWidth() const override { return 1400; }
  int ClientHeight() const override { return 1000; }
  std::unique_ptr<platform::DrawContext> ClientDC() override { return std::make_unique<LoggingDC>(texts); }
  platform::Bitmap CopyPixels(int, int, int width, int height) const override { return platform::Bitmap(width, height); }
  void PastePixels(const platform::Bitmap&, int, int) override {}
  std::vector<std::string> texts;
};

class SurfaceFrame : public platform::HeadlessFrameWindow {
 public:
  SurfaceFrame(platform::IWindowEvents& events, TextSurface& surface) : HeadlessFrameWindow(events), surface_(surface) {}
  platform::DrawSurface* Surface() override { return &surface_; }

 private:
  TextSurface& surface_;
};

double Clean(int, double r) { return 2.0 + 1.5 * (r - 6.0); }

class ScanRepair : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    platform::SetFrameWindowFactory(
        [this](platform::IWindowEvents& events) { return std::make_unique<SurfaceFrame>(events, surface_); });
    MouseHooks() = PlotMouseHooks{};  // clicks and keys reach the pointer modes first
    MarkerSettings() = MarkerDisplaySettings{};
    WriteAgreedDefaults();
    w_ = MakeWindow();
    w_->Frame().Resize(1400, 1000);
    CreateMouseActions(&w_->Frame());
  }
  void TearDown() override {
    w_.reset();  // ends a mode still active
    PlotWindowSet& p = CurrentPlotWindows();
    delete p.dataPlot;
    delete p.residualPlot;
    p.dataPlot = p.residualPlot = nullptr;
    ResetAdHocPlot();
    FreeScanData();
    MouseHooks() = PlotMouseHooks{};
    platform::SetFrameWindowFactory({});
    AppTest::TearDown();
  }
  // The scans, then the plots over them (freeing scans deletes the plots).
  static void Load(int scans, double step, int points, const repair_test::ScanFunction& signal,
                   const repair_test::ScanFunction& residual = {}) {
    repair_test::MakeInterferenceSet(scans, 6.0, step, points, signal, residual);
    PlotWindowSet& p = CurrentPlotWindows();
    p.dataPlot = Plot(400, 50, 475);
    p.residualPlot = Plot(750, 550, 950);
  }
  static CWINPlot* Plot(float yOffset, int top, int bottom) {
    auto* plot = new CWINPlot();
    plot->xScale = 2000;
    plot->xOffset = -12000;
    plot->yScale = -100;
    plot->yOffset = yOffset;
    plot->plotLeft = 100;
    plot->plotRight = 1300;
    plot->plotTop = top;
    plot->plotBottom = bottom;
    plot->xMin = 6.0f;
    plot->xMax = 6.7f;
    return plot;
  }
  static int Column(double r) { return static_cast<int>(std::lround(2000 * r - 12000)); }
  static int DataRow(double v) { return static_cast<int>(std::lround(400 - 100 * v)); }
  static int ResidualRow(double v) { return static_cast<int>(std::lround(750 - 100 * v)); }
  void Click(int x, int y) { w_->OnMouse(MouseMessage::LButtonDown, 0, x, y); }
  void Key(int key) { w_->OnKeyDown(key, 1, 0); }
  void Char(int key) { w_->OnChar(key, 1, 0); }
  template <typename T>
  static T& Mode(int entry) {
    return dynamic_cast<T&>(*MouseActions().entries[entry]);
  }
  bool Wrote(const std::string& line) const {
    return std::find(surface_.texts.begin(), surface_.texts.end(), line) != surface_.texts.end();
  }

  TextSurface surface_;
  std::unique_ptr<TXLAWindow> w_;
};

TEST_F(ScanRepair, FringeJumpInOneScanIsTakenOutBelowThePickedPoint) {
  Load(1, 0.01, 101, [](int i, double r) { return Clean(i, r) + (r < 6.5 ? 1 : 0); });
  ScanSet& s = CurrentScanSet();
  const std::vector<float> before(s.signals[1] + 1, s.signals[1] + 102);
  ui_->ExpectBox("Fix Fringe Jump", "click on a point", platform::IDOK);
  w_->Dispatch(1111);
  auto& mode = Mode<CMouseAction_FixPointScanFringeJump>(kFixPointScanFringeJumpAction);
  ASSERT_TRUE(mode.active);
  Click(Column(6.5), DataRow(Clean(1, 6.5)));
  ASSERT_TRUE(mode.Picked());
  EXPECT_EQ(mode.focusPoint, 51);
  EXPECT_EQ(mode.eventCount, 1);
  EXPECT_TRUE(Wrote("TextOut(10,20,\"scan 00001.IP1, r = 6.500000 cm     \")"));
  EXPECT_TRUE(Wrote("TextOut(10,95,\"press '1', '2', '3' key to add/modify jump point (current focus #1)\")"));
  EXPECT_TRUE(Wrote("TextOut(10,120,\"press 'N' or 'P' for next or previous scan (asks to apply first), RETURN "
                    "to apply to this scan and end, ESC to end without applying\")"));
  // The zoomed window: four curves and the marker of jump point 1.
  ASSERT_NE(CurrentAdHocObject().adHocObject, nullptr);
  EXPECT_EQ(CurrentAdHocObject().adHocObject->plot->curveCount, 5);
  EXPECT_EQ(CurrentAdHocObject().adHocObject->plot->xLabel, "radius (cm)");

  Key('L');
  Key('1');  // shift -1 is the starting value
  EXPECT_TRUE(Wrote("TextOut(10,95,\"press '1', '2', '3' key to add/modify jump point (current focus #1)\")"));
  ui_->ExpectBox("", "the fringe jump repair was applied to 00001.IP1\nsave scan data?", platform::IDNO);
  Char(platform::VK_RETURN);
  EXPECT_FALSE(mode.active);
  ExpectScriptMet();
  for (int j = 1; j <= 101; ++j) {
    if (j < 51)
      EXPECT_NEAR(s.signals[1][j], Clean(1, s.radii[1][j]), 1e-6) << j;
    else
      EXPECT_EQ(s.signals[1][j], before[j - 1]) << j;
  }
  // The grid was rebuilt on the repaired scan.
  EXPECT_EQ(s.gridLength, 101);
  EXPECT_EQ(s.gridSignals[1], s.signals[1]);
  EXPECT_NEAR(s.meanProfile[1], Clean(1, 6.0), 1e-6);
}

TEST_F(ScanRepair, FringeJumpKeysMoveThroughPointsAndScans) {
  Load(3, 0.01, 101, [](int i, double r) { return Clean(i, r) + 0.5 * i; }, [](int, double) { return 0.0; });
  ScanSet& s = CurrentScanSet();
  ui_->ExpectBox("Fix Fringe Jump", "", platform::IDOK);
  w_->Dispatch(199);  // the accelerator's command starts the same mode
  auto& mode = Mode<CMouseAction_FixPointScanFringeJump>(kFixPointScanFringeJumpAction);
  ASSERT_TRUE(mode.active);
  // Keys do nothing before a point is picked.
  EXPECT_FALSE(MouseActionsKeyDown('L', 1, 0));

  // A point of scan 3 near the start: the window begins at point 1.
  const double r5 = s.radii[3][5];
  Click(Column(r5), ResidualRow(0.0) + 0);  // residuals are all 0: scan 1 is the first hit there
  ASSERT_TRUE(mode.Picked());
  EXPECT_EQ(mode.currentScan, 1);
  Click(Column(r5), DataRow(Clean(3, r5) + 1.5));
  ASSERT_TRUE(mode.Picked());
  EXPECT_EQ(mode.currentScan, 3);
  EXPECT_EQ(mode.focusPoint, 5);
  EXPECT_EQ(mode.window.start, 1);
  EXPECT_EQ(mode.window.points, 41);
  EXPECT_EQ(mode.Jump(2).radius, 0);  // not placed: takes no part
  // Jump point 1 stays at point 5 (left, -1); jump point 2 follows from here.
  Key('2');
  EXPECT_EQ(mode.focus, 2);
  EXPECT_EQ(mode.Jump(2).radius, mode.Jump(1).radius);
  // Walk to the last point: the window ends there.
  for (int k = 0; k < 120; ++k) Key(platform::VK_RIGHT);
  EXPECT_EQ(mode.focusPoint, 101);
  EXPECT_EQ(mode.window.start, 61);
  for (int k = 0; k < 50; ++k) Key(platform::VK_LEFT);
  EXPECT_EQ(mode.focusPoint, 51);
  Key(platform::VK_UP);
  Key(platform::VK_UP);  // shift -1 + 2 = +1
  Key('R');
  EXPECT_FLOAT_EQ(static_cast<float>(mode.Jump(2).radius), s.radii[3][51]);
  EXPECT_EQ(mode.Jump(2).side, 1.0);
  EXPECT_EQ(mode.Jump(2).shift, 1.0);
  EXPECT_FLOAT_EQ(static_cast<float>(mode.Jump(1).radius), static_cast<float>(r5));
  EXPECT_EQ(mode.Jump(1).side, -1.0);
  EXPECT_EQ(mode.Jump(1).shift, -1.0);

  // 'N' on the last scan asks, applies on Yes, and stays: jump 1 lowers
  // points 1..4, jump 2 raises points 52..101.
  const std::vector<float> before(s.signals[3] + 1, s.signals[3] + 102);
  ui_->ExpectBox("", "apply changes to 00003.IP1?", platform::IDYES);
  Key('N');
  EXPECT_EQ(mode.currentScan, 3);
  for (int j = 1; j <= 101; ++j) {
    const double expected = before[j - 1] + (j < 5 ? -1.0 : 0.0) + (j > 51 ? 1.0 : 0.0);
    EXPECT_NEAR(s.signals[3][j], expected, 1e-5) << j;
  }
  // 'P' moves to scan 2 without applying on No.
  ui_->ExpectBox("", "apply changes to 00003.IP1?", platform::IDNO);
  Key('P');
  EXPECT_EQ(mode.currentScan, 2);
  EXPECT_EQ(mode.focusPoint, 51);

  // A click beside every point frees the work and is not the mode's.
  EXPECT_FALSE(MouseActionsLButtonDown({Column(6.3), 10}));
  EXPECT_FALSE(mode.Picked());
  EXPECT_TRUE(mode.active);
  EXPECT_EQ(mode.Jump(1).radius, 0);
  EXPECT_EQ(mode.focus, 1);
  EXPECT_FALSE(MouseActionsKeyDown('N', 1, 0));
  // Escape ends the mode without anything more applied.
  const std::vector<float> kept(s.signals[2] + 1, s.signals[2] + 102);
  Char(platform::VK_ESCAPE);
  EXPECT_FALSE(mode.active);
  EXPECT_EQ(std::vector<float>(s.signals[2] + 1, s.signals[2] + 102), kept);
  ExpectScriptMet();
}

class RadiusJumpRepair : public ScanRepair {
 protected:
  void Make() {
    Load(10, 0.01, 101, [](int i, double r) { return Clean(i, r) + i; },
        [this](int i, double r) { return r > 6.5 ? steps_[i] : 0.0; });
    CurrentScanSet().leftFitLimit = 6.05f;
    CurrentScanSet().rightFitLimit = 6.95f;
    // The model of a fit: the data less their residuals.
    ScanSet& s = CurrentScanSet();
    for (int i = 1; i <= 10; ++i) {
      s.model[i] = vector(1, s.points[i]);
      for (int j = 1; j <= s.points[i]; ++j) s.model[i][j] = s.signals[i][j] - s.residuals[i][j];
    }
    before_.clear();
    for (int i = 1; i <= 10; ++i) before_.emplace_back(CurrentScanSet().signals[i] + 1, CurrentScanSet().signals[i] + 102);
  }
  void Start() {
    ui_->ExpectBox("Fix Scratch Jump", "click on the radial value where the jump occurs in the residuals plot",
                   platform::IDOK);
    ui_->ExpectPrompt("FIX SCRATCH JUMP", "check residuals at distance (cm)", std::string("0.003"));
    w_->Dispatch(1110);
  }
  double steps_[11] = {0, 0, 0, 0.51, 0, 0.5, 0, -0.7, 0, 1.7, 0};
  std::vector<std::vector<float>> before_;
};

TEST_F(RadiusJumpRepair, EnterMovesTheScansWithAStepAboveHalfAFringe) {
  Make();
  Start();
  auto& mode = Mode<CMouseAction_FixScratchJump>(kFixScratchJumpAction);
  ASSERT_TRUE(mode.active);
  // Arrows do nothing before a position is located; a click in the data
  // plot is the mode's but locates nothing.
  EXPECT_FALSE(MouseActionsKeyDown(platform::VK_RIGHT, 1, 0));
  EXPECT_TRUE(MouseActionsLButtonDown({Column(6.5), DataRow(2)}));
  EXPECT_EQ(mode.state.count, 0);
  Click(Column(6.5), ResidualRow(0));
  ASSERT_EQ(mode.state.count, 10);
  EXPECT_NEAR(mode.state.position, 6.5, 1e-6);
  EXPECT_TRUE(Wrote("TextOut(10,70,\"dr = 0.010000      \")"));
  EXPECT_EQ(CurrentAdHocObject().adHocObject->plot->xLabel, "scan #");
  Key(platform::VK_RIGHT);
  EXPECT_TRUE(Wrote("TextOut(10,70,\"dr = 0.020000      \")"));
  Key(platform::VK_LEFT);
  ui_->ExpectBox("", "save scan data?", platform::IDNO);
  Char(platform::VK_RETURN);
  EXPECT_FALSE(mode.active);
  ScanSet& s = CurrentScanSet();
  const double moved[11] = {0, 0, 0, -1, 0, 0, 0, 1, 0, -1, 0};
  for (int i = 1; i <= 10; ++i)
    for (int j = 1; j <= 101; ++j)
      EXPECT_EQ(s.signals[i][j], before_[i - 1][j - 1] + static_cast<float>(j >= 52 ? moved[i] : 0)) << i << " " << j;
  ExpectScriptMet();
}

// Before a Run or Fit the residuals are the data: the command says why it
// does not start.
TEST_F(RadiusJumpRepair, WithoutAFitTheCommandSaysWhyItDoesNotStart) {
  Make();
  ScanSet& s = CurrentScanSet();
  for (int i = 1; i <= 10; ++i)
    for (int j = 1; j <= s.points[i]; ++j) s.model[i][j] = 0;
  ui_->ExpectBox("FIX SCRATCH JUMP", "no fit has been made: the jumps are found in the residuals of a fit");
  w_->Dispatch(1110);
  const CMouseAction* mode = MouseActions().entries[kFixScratchJumpAction].get();
  EXPECT_TRUE(!mode || !mode->active);
  ExpectScriptMet();
}

TEST_F(RadiusJumpRepair, EscapeAndClicksBesideTheFitLimitsApplyNothing) {
  Make();
  Start();
  auto& mode = Mode<CMouseAction_FixScratchJump>(kFixScratchJumpAction);
  Click(Column(6.02), ResidualRow(0));  // left of the fit limits
  EXPECT_EQ(mode.state.count, 0);
  Click(Column(6.5), ResidualRow(0));
  EXPECT_EQ(mode.state.count, 10);
  // Fit limits not set yet limit nothing.
  CurrentScanSet().leftFitLimit = CurrentScanSet().rightFitLimit = 0;
  Click(Column(6.02), ResidualRow(0));
  EXPECT_NEAR(mode.state.position, 6.02, 1e-6);
  Key(platform::VK_ESCAPE);
  EXPECT_FALSE(mode.active);
  for (int i = 1; i <= 10; ++i)
    EXPECT_EQ(std::vector<float>(CurrentScanSet().signals[i] + 1, CurrentScanSet().signals[i] + 102), before_[i - 1]);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

class ScratchTracking : public ScanRepair {
 protected:
  // Twelve scans with a dip at 6.5 + d_i cm and one at 6.3 + d_i cm.
  void Make() {
    std::mt19937 gen(11);
    std::uniform_real_distribution<double> uniform(-0.002, 0.002);
    std::normal_distribution<double> noise(0.0, 0.0005);
    d_.assign(13, 0.0);
    for (int i = 2; i <= 12; ++i) d_[i] = uniform(gen);
    Load(12, 0.001, 1001, [this, &gen, &noise](int i, double r) {
      auto dip = [&](double c) {
        const double x = r - c - d_[i];
        return 0.03 * std::exp(-x * x / (2 * 0.0015 * 0.0015));
      };
      return 0.1 * i + (0.2 + 0.05 * i) * (r - 6.0) - dip(6.5) - dip(6.3) + noise(gen);
    });
    CurrentScanSet().leftFitLimit = 6.05f;
    CurrentScanSet().rightFitLimit = 6.95f;
    SeedGaussRandom(3);
  }
  void Start() {
    ui_->ExpectBox("Track Scratch", "click on radial values to examine, 'y' or 'n' to accept/reject, RETURN to end",
                   platform::IDOK);
    ui_->ExpectPrompt("TRACK SCRATCH", "window width (cm)", std::string("0.01"));
    ui_->ExpectPrompt("TRACK SCRATCH", "randomize shift (cm)", std::string("0.002"));
    ui_->ExpectPrompt("TRACK SCRATCH", "rmsd precision", std::string("0.001"));
    w_->Dispatch(1109);
  }
  std::vector<double> d_;
};

TEST_F(ScratchTracking, TwoKeptScratchesAreWrittenToTheChosenFile) {
  Make();
  Start();
  auto& mode = Mode<CMouseAction_TrackScratch>(kTrackScratchAction);
  ASSERT_TRUE(mode.active);
  Click(Column(6.4995), DataRow(2));
  ASSERT_TRUE(mode.tracker.HasWork());
  EXPECT_EQ(mode.tracker.windowPoints(), 11);
  for (int p = 1; p <= 12; ++p) EXPECT_NEAR(mode.tracker.shiftsOut()[p], d_[p], 2.5e-4) << p;
  EXPECT_TRUE(Wrote("TextOut(10,70,\"press 'y' or 'n' to store scratch as #1        \")"));
  EXPECT_EQ(std::count_if(surface_.texts.begin(), surface_.texts.end(),
                          [](const std::string& t) { return t.rfind("TextOut(10,50,\"rmsd = ", 0) == 0; }),
            1);
  Key('Y');
  EXPECT_TRUE(Wrote("TextOut(10,70,\"use left mouse button to locate next scratch      \")"));
  EXPECT_FALSE(mode.tracker.HasWork());
  Click(Column(6.2995), DataRow(2));
  EXPECT_TRUE(Wrote("TextOut(10,70,\"press 'y' or 'n' to store scratch as #2        \")"));
  Key('Y');
  Click(Column(6.6), DataRow(2));
  Key('N');  // examined, not kept
  EXPECT_EQ(mode.tracker.StoredCount(), 2);

  const std::string path = (dir_ / "run.scratch").string();
  ui_->ExpectFiles("save scratch data in file", {true, {path}});
  Key(platform::VK_RETURN);
  EXPECT_FALSE(mode.active);
  // The character of the same Enter reaches the window: it must not
  // repaint over the plot of the kept scratches.
  const int invalidations = Headless(*w_).invalidations;
  Char(platform::VK_RETURN);
  EXPECT_EQ(Headless(*w_).invalidations, invalidations);
  std::ifstream in(path);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line, "2 12 6.500000 6.300000");
  int rows = 0;
  while (std::getline(in, line)) {
    std::istringstream row(line);
    double values[4] = {};
    for (double& v : values) EXPECT_TRUE(row >> v) << line;
    ++rows;
    EXPECT_NEAR(values[1], d_[rows], 2.5e-4);
    EXPECT_NEAR(values[3], d_[rows], 2.5e-4);
  }
  EXPECT_EQ(rows, 12);
  // The kept scratches are plotted as slopes against shifts.
  ASSERT_NE(CurrentAdHocObject().adHocObject, nullptr);
  EXPECT_EQ(CurrentAdHocObject().adHocObject->plot->xLabel, "slopes (signal/cm)");
  EXPECT_EQ(CurrentAdHocObject().adHocObject->plot->curveCount, 2 + 12 + 2);
  ExpectScriptMet();
}

TEST_F(ScratchTracking, CancelledDialogWritesNothingAndAFullStoreTakesNoMore) {
  Make();
  Start();
  auto& mode = Mode<CMouseAction_TrackScratch>(kTrackScratchAction);
  Click(Column(6.4995), DataRow(2));
  while (mode.tracker.StoredCount() < 99) ASSERT_TRUE(mode.tracker.StoreScratch());
  ui_->ExpectBox("TRACK SCRATCH", "the scratch store is full", platform::IDOK);
  Key('Y');
  EXPECT_EQ(mode.tracker.StoredCount(), 99);
  // Too near the grid's end for the window: refused with a word.
  ui_->ExpectBox("TRACK SCRATCH", "reaches past the end of the radial grid", platform::IDOK);
  CurrentScanSet().leftFitLimit = 6.0f;
  Click(Column(6.0025), DataRow(2));
  EXPECT_FALSE(mode.tracker.HasWork());
  ui_->ExpectFiles("save scratch data in file", {false, {}});
  Key(platform::VK_RETURN);
  EXPECT_FALSE(mode.active);
  for (const auto& folder : {dir_, std::filesystem::current_path()})
    for (const auto& e : std::filesystem::directory_iterator(folder)) EXPECT_NE(e.path().extension(), ".scratch");
  ExpectScriptMet();
}

TEST_F(ScratchTracking, OneScanIsRefusedAndNoScansStartNothing) {
  Load(1, 0.001, 1001, Clean);
  ui_->ExpectBox("TRACK SCRATCH", "tracking a scratch needs at least 2 scans", platform::IDOK);
  w_->Dispatch(1109);
  EXPECT_FALSE(MouseActions().entries[kTrackScratchAction]->active);
  FreeScanData();
  ui_->ExpectBox("Fix Fringe Jump", "", platform::IDOK);
  w_->Dispatch(1111);
  EXPECT_FALSE(MouseActions().entries[kFixPointScanFringeJumpAction]->active);
  ExpectScriptMet();
}

// Return applies the jump points, and Yes to the question after it saves
// the repaired scan: the written file holds the repaired values.
TEST_F(ScanRepair, TheSavedScanHoldsTheRepairReturnApplied) {
  Load(1, 0.01, 101, [](int i, double r) { return Clean(i, r) + (r < 6.5 ? 1 : 0); });
  const ScanSet& s = CurrentScanSet();
  ui_->ExpectBox("Fix Fringe Jump", "RETURN: apply to this scan and end", platform::IDOK);
  w_->Dispatch(1111);
  Click(Column(6.5), DataRow(Clean(1, 6.5)));
  ASSERT_TRUE(Mode<CMouseAction_FixPointScanFringeJump>(kFixPointScanFringeJumpAction).Picked());
  Key('L');
  const std::filesystem::path out = dir_ / "saved";
  std::filesystem::create_directories(out);
  ui_->ExpectBox("", "the fringe jump repair was applied to 00001.IP1\nsave scan data?", platform::IDYES)
      .ExpectBox("", "save data with wavelength/speed information in filename", platform::IDNO)
      .ExpectFiles("save raw data in new directory", {true, {(out / "x.rxx").string()}});
  Char(platform::VK_RETURN);
  ExpectScriptMet();
  std::ifstream in(out / ("x" + s.fileNames[1]));
  ASSERT_TRUE(in.good());
  std::string line;
  std::getline(in, line);  // description
  std::getline(in, line);  // record
  int j = 0;
  for (double r = 0, v = 0; in >> r >> v;) {
    ++j;
    ASSERT_LE(j, 101);
    EXPECT_NEAR(r, s.radii[1][j], 1e-4) << j;
    // Left of the picked point the jump is gone; from it on the data are as they were.
    EXPECT_NEAR(v, j < 51 ? Clean(1, r) : Clean(1, r) + (r < 6.5 ? 1 : 0), 1e-4) << j;
    std::getline(in, line);  // the rest of the row
  }
  EXPECT_EQ(j, 101);
}

}  // namespace
