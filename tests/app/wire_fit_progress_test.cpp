// What a running fit draws into the main window: the chosen plots at most
// once per update interval, and the Marquardt-Levenberg progress line at
// (10, 10), erased when the fit ends.
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "app/startup/startup.h"
#include "app/window/main_fit_host.h"
#include "fit/fit_engine_state.h"
#include "platform/clock.h"
#include "platform/diagnostics.h"
#include "platform/program_paths.h"
#include "plot/text_in_place.h"
#include "plot/plot_window_set.h"
#include "log_surface.h"
#include "road_support.h"

namespace {

class WireFitProgressTest : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    platform::SetClock(&clock_);
    platform::SetFrameWindowFactory([this](platform::IWindowEvents& events) {
      return std::make_unique<SurfaceFrame>(events, surface_);
    });
    CurrentPlotWindows().fitRedrawStarted = 0;
    savedPaths_ = platform::ProgramPaths;
  }
  void TearDown() override {
    platform::ProgramPaths = savedPaths_;
    RoadTest::TearDown();
    platform::SetFrameWindowFactory({});
    platform::SetClock(nullptr);
  }
  // The window with its data plot replay counted.
  void CountDataPlotRedraws() {
    Window();
    WindowFlags().WindowPainted = true;
    PlotHooks().paintDataPlot = [this] { ++redraws_; };
  }
  // One species at 4.6 S fitted to the synthetic 5 S run.
  void FitOneSpecies() {
    const auto paths = WriteRun(".ra1", 3);
    ASSERT_TRUE(LoadAllData(PickedFiles(dir_, paths)));
    OneSpecies("4.6", "5.0", 1);
    if (HasFatalFailure()) return;
    PlotHooks().paintDataPlot = [this] { ++redraws_; };
    Window().Dispatch(215);
  }

  platform::ProgramPathsRecord savedPaths_;
  platform::ManualClock clock_;
  LogSurface surface_;
  int redraws_ = 0;
};

}  // namespace

TEST_F(WireFitProgressTest, RedrawsDuringAFitWaitForTheInterval) {
  CountDataPlotRedraws();
  FitHost& host = *MainFitHost();
  Options().FitUpdateInterval = 2.0f;
  // Without an update switch nothing is redrawn, however long it has been.
  clock_.ticks = 100000;
  host.RedrawFitProgress();
  EXPECT_EQ(redraws_, 0);

  Options().FitRedrawDataPlot = true;
  struct Step {
    std::uint64_t advance;
    int redraws;
  };
  // The first call redraws; then only once more than 2 s have passed.
  for (const Step& s : {Step{0, 1}, Step{0, 1}, Step{1999, 1}, Step{1, 1}, Step{1, 2}, Step{500, 2},
                        Step{1501, 3}}) {
    clock_.ticks += s.advance;
    host.RedrawFitProgress();
    EXPECT_EQ(redraws_, s.redraws) << "at " << clock_.ticks;
  }
  // The end of a fit draws at once.
  host.DrawFitCurves();
  EXPECT_EQ(redraws_, 3);
}

TEST_F(WireFitProgressTest, ASimplexFitRedrawsOnceWhileTheClockStands) {
  CountDataPlotRedraws();
  Options().FitRedrawDataPlot = true;
  platform::ProgramPaths.MarquardtListingPath = (dir_ / "mlparams.txt").string();
  FitOneSpecies();
  EXPECT_NEAR(gModelParameterVector.P[5], 5.0, 0.05);
  // Many better vertices, one interval that never ends.
  EXPECT_EQ(redraws_, 1);
  // The check of its end by Levenberg-Marquardt leaves the listing of a
  // Marquardt fit alone.
  EXPECT_FALSE(std::filesystem::exists(platform::ProgramPaths.MarquardtListingPath));
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

TEST_F(WireFitProgressTest, AMarquardtFitShowsItsProgressLineAndErasesIt) {
  CountDataPlotRedraws();
  gFitEngineState.useSimplex = 0;
  gFitEngineState.useMarquardt = 1;
  platform::ProgramPaths.MarquardtListingPath = (dir_ / "mlparams.txt").string();
  FitOneSpecies();
  EXPECT_NEAR(gModelParameterVector.P[5], 5.0, 0.05);
  // The listing: the one parameter in model units, its error, its covariance.
  std::istringstream listing(ReadFile(platform::ProgramPaths.MarquardtListingPath));
  int index = 0;
  char colon = 0;
  double s = 0;
  listing >> index >> colon >> s;
  EXPECT_EQ(index, 1);
  EXPECT_NEAR(s, gModelParameterVector.P[5], 1e-4);
  // The grey track and the red bar from x = 10, full length for the single
  // parameter; then the background put back where it was saved.
  const auto& ops = surface_.ops;
  for (const char* op : {"MoveTo(10,9)", "LineTo(110,9)", "MoveTo(10,12)", "LineTo(110,12)"})
    EXPECT_NE(std::find(ops.begin(), ops.end(), op), ops.end()) << op;
  ASSERT_FALSE(surface_.pastes.empty());
  EXPECT_EQ(surface_.pastes.back(), "9,7");
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

TEST_F(WireFitProgressTest, TheMarquardtListingHasAFileOfItsOwnInTheProgramFolder) {
  ui_->lenient = true;  // the sibling program is missing here
  platform::ProgramPaths.ProgramFolder = dir_.string() + "/";
  SetupProgramFiles();
  EXPECT_EQ(platform::ProgramPaths.MarquardtListingPath, (dir_ / "mlparams.txt").string());
  EXPECT_NE(platform::ProgramPaths.MarquardtListingPath, platform::ProgramPaths.IntegrationRangesPath[0]);
  Window();
  EXPECT_EQ(MainFitHost()->MarquardtListingPath(), platform::ProgramPaths.MarquardtListingPath);
}

TEST_F(WireFitProgressTest, ACsRunShowsTheNormalEquationProgressLineAndErasesIt) {
  CountDataPlotRedraws();
  const auto paths = WriteRun(".ra1", 4);
  ASSERT_TRUE(LoadAllData(PickedFiles(dir_, paths)));
  gFitEngineState.fitTINoise = 0;
  Window().Dispatch(275);  // "Continuous c(s) Distribution"
  surface_.ops.clear();
  surface_.pastes.clear();
  Window().Dispatch(213);
  ASSERT_GT(Conti().gridSize, 0);
  const auto& ops = surface_.ops;
  auto has = [&ops](const std::string& part) {
    return std::any_of(ops.begin(), ops.end(), [&](const std::string& op) { return op.find(part) != std::string::npos; });
  };
  // In the rows of the fit report, which a window lower than 1000 pixels
  // draws closer together.
  const int row = ReportTextRow(Window().Frame().Surface()->ClientHeight(), 50);
  EXPECT_TRUE(has("TextOut(10," + std::to_string(row) + ",\"calculating normal equations\")"));
  // The line of the normal equations and the one over the regularisation,
  // each erased where it stood (below the text at (10, 65)).
  EXPECT_EQ(std::count(surface_.pastes.begin(), surface_.pastes.end(), "9,62"), 2);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

TEST_F(WireFitProgressTest, AFitWritesItsTraceToTheDiagnosticsLog) {
  const char* tmp = std::getenv("TMPDIR");
  const std::string savedTmp = tmp ? tmp : "";
  setenv("TMPDIR", dir_.string().c_str(), 1);
  platform::DiagnosticsStateRecord& d = platform::DiagnosticsState();
  d.haveFileName = d.haveBanner = d.DiagLogOpened = false;
  d.DiagnosticsOn = true;
  CountDataPlotRedraws();
  FitOneSpecies();
  d.DiagnosticsOn = false;
  d.haveFileName = d.haveBanner = d.DiagLogOpened = false;
  if (savedTmp.empty()) unsetenv("TMPDIR"); else setenv("TMPDIR", savedTmp.c_str(), 1);
  const std::string log = ReadFile((dir_ / ("Tarneldebug_t0_" + std::to_string(getpid()) + ".txt")).string());
  // The fit engine's own trace, one entry and one exit a fit.
  const auto enter = log.find("\nEnter SimplexSim");
  ASSERT_NE(enter, std::string::npos) << log;
  EXPECT_NE(log.find(" --> SimplexSim DONE", enter), std::string::npos);
}
