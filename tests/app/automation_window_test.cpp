// The unattended run through the real main window: the constructor takes the
// command line, sends the window's own menu commands, writes the result set
// and ends the program with the run's status.
#include <cmath>
#include <cstring>
#include <map>

#include "app/wiring/automation_window.h"
#include "app/window/main_window_flags.h"
#include "automation/automation_run.h"
#include "distributions/conti_run.h"
#include "fit/fit_engine_state.h"
#include "fit/saved_params.h"
#include "plot/plot_window_set.h"
#include "platform/input_events.h"
#include "automation_road_fixture.h"
#include "road_support.h"
#include "tests/support/jumping_clock.h"

#include <QImage>

#include "desktop_support.h"

namespace {

class AutomationWindowTest : public AutomationRoadTest {
 protected:
  // The window as the start-up builds it for `tarnel HANDSHAKE params.xml`.
  std::unique_ptr<TXLAWindow> StartWith(const std::string& parameters) {
    const std::string path = (dir_ / "params.xml").string();
    std::ofstream(path) << parameters;
    handshake_ = "pipeline 3";
    path_ = path;
    args_ = {nullptr, handshake_.data(), path_.data()};
    return std::make_unique<TXLAWindow>(nullptr, "Sedimentation Analysis",
                                        WindowCommandLine{2, args_.data()});
  }

  std::string Parameters(const std::string& extra) {
    const std::string out = (dir_ / "out").string();
    return "<p><AllDoneFlagFile>" + out + "/flag</AllDoneFlagFile>"
           "<OutputResultsDirectory>" + out + "</OutputResultsDirectory>"
           "<DataDirectory>" + dir_.string() + "</DataDirectory><PassThrough></PassThrough>"
           "<Channel>ra1</Channel><FirstScan>1</FirstScan><LastScan>4</LastScan>"
           "<ScanInterval>1</ScanInterval>" + extra + "</p>";
  }

  std::string handshake_, path_;
  std::vector<char*> args_;
};

}  // namespace

TEST_F(AutomationWindowTest, TheConstructorRunsTheAnalysisAndEndsTheProgram) {
  WriteRun();
  auto w = StartWith(Parameters(
      "<Meniscus>5.95</Meniscus><MeniscusFitted>FALSE</MeniscusFitted><Bottom>7.2</Bottom>"
      "<LeftFitLimit>5.97</LeftFitLimit><RightFitLimit>7.1</RightFitLimit><Model>cofs</Model>"
      "<Resolution>50</Resolution><Smin>1</Smin><Smax>10</Smax>"
      "<TINoiseFitted>FALSE</TINoiseFitted><AutoRun>TRUE</AutoRun><AutoExit>TRUE</AutoExit>"));
  EXPECT_EQ(CommandLineState().AutomationMode, 1);
  EXPECT_TRUE(platform::QuitRequested());
  EXPECT_EQ(platform::QuitExitCode(), kAutomationOk);
  EXPECT_EQ(ReadFile((dir_ / "out" / "flag").string()), "pipeline 3");
  EXPECT_EQ(gModelSelectorFlags.CSModel, 1);
  // The boundary of the files moves as 5 S does: so does the peak of c(s).
  std::istringstream in(ReadFile((dir_ / "out" / "distribution.dat").string()));
  double s, c, peakS = 0, peakC = -1;
  while (in >> s >> c)
    if (c > peakC) peakC = c, peakS = s;
  EXPECT_NEAR(peakS, 5.0, 0.25);
  EXPECT_NE(w->Frame().Title().find("command line mode loaded -> "), std::string::npos);
}

TEST_F(AutomationWindowTest, DoneWritesTheSetAndExitsWithTheStatus) {
  WriteRun();
  auto w = StartWith(Parameters("<Meniscus>5.95</Meniscus><Model>cofs</Model><AutoRun>TRUE</AutoRun>"));
  ASSERT_FALSE(platform::QuitRequested());  // the window opens for a person
  w->Create();
  EXPECT_FALSE(std::filesystem::exists(dir_ / "out" / "flag"));
  w->Dispatch(1113);  // "Done" under "21CFR11"
  EXPECT_TRUE(platform::QuitRequested());
  EXPECT_EQ(platform::QuitExitCode(), kAutomationOk);
  EXPECT_TRUE(std::filesystem::exists(dir_ / "out" / "screenshot.bmp"));
  EXPECT_EQ(ReadFile((dir_ / "out" / "flag").string()), "pipeline 3");
  // The screenshot shows the data range and the last fit's report, both
  // commands of the window that answer without a box.
  for (const auto& t : ui_->transcript) EXPECT_NE(t.caption, "NOT AVAILABLE") << t.text;
}

// A file that names no model and runs nothing by itself only loads the
// data: the window opens with them, the user chooses the model, runs it and
// ends with "Done", which writes the set of what was chosen.
TEST_F(AutomationWindowTest, AFileWithoutAModelLoadsTheDataForTheUsersChoice) {
  WriteRun();
  auto w = StartWith(Parameters("<Meniscus>5.95</Meniscus><Bottom>7.2</Bottom><Resolution>50</Resolution>"
                                "<Smin>1</Smin><Smax>10</Smax><TINoiseFitted>FALSE</TINoiseFitted>"));
  ASSERT_FALSE(platform::QuitRequested());  // not refused: the window opens for a person
  EXPECT_EQ(CommandLineState().AutomationMode, 1);
  EXPECT_EQ(CurrentScanSet().count, 4);
  EXPECT_EQ(gModelSelectorFlags.DistributionModel, 0);  // no model chosen for the user
  w->Create();
  ui_->lenient = true;
  w->Dispatch(kCmdContinuousCS);
  ASSERT_EQ(gModelSelectorFlags.CSModel, 1);
  w->Dispatch(213);  // Run
  w->Dispatch(1113);  // "Done"
  EXPECT_TRUE(platform::QuitRequested());
  EXPECT_EQ(platform::QuitExitCode(), kAutomationOk);
  EXPECT_EQ(ReadFile((dir_ / "out" / "flag").string()), "pipeline 3");
  EXPECT_NE(ReadFile((dir_ / "out" / "ResultParameters.xml").string()).find("<Model>cofs</Model>"),
            std::string::npos);
}

TEST_F(AutomationWindowTest, ALoadOffersTheSavedAnalysisOfItsData) {
  const std::vector<std::string> paths = WriteRun();
  TXLAWindow& w = Window();
  gModelParams.meniscus = 5.97f;
  gModelParams.bottom = 7.15f;
  PackModelParameters();  // the saved state is the fit vector's
  ASSERT_TRUE(TmpSaveBestParams((dir_ / "~tmppars.ra1").string(), false));
  gModelParams.meniscus = gModelParams.bottom = 0;
  ui_->lenient = true;
  ui_->ExpectBox("", "load previous analysis?", platform::IDYES);
  ASSERT_TRUE(LoadAllData(PickedFiles(dir_, paths)));
  EXPECT_TRUE(ui_->AllConsumed());
  EXPECT_FLOAT_EQ(gModelParams.meniscus, 5.97f);
  EXPECT_FLOAT_EQ(gModelParams.bottom, 7.15f);
  (void)w;
}

// A key during the unattended fit stops it as in the window: the best state
// is kept, the log says so, and the run goes on to its end with its status.
TEST_F(AutomationWindowTest, AFitStoppedByAKeySaysSoInTheLog) {
  WriteRun();
  platform::SetEventPump([] {
    if (gFitEngineState.fitRunning && gFitEngineState.evaluationsThisRun == 3) platform::PostKeyDown('x');
  });
  {
    auto w = StartWith(Parameters(
        "<Meniscus>5.95</Meniscus><MeniscusFitted>TRUE</MeniscusFitted><Bottom>7.2</Bottom>"
        "<LeftFitLimit>5.97</LeftFitLimit><RightFitLimit>7.1</RightFitLimit><Model>cofs</Model>"
        "<Resolution>50</Resolution><Smin>1</Smin><Smax>10</Smax><TINoiseFitted>FALSE</TINoiseFitted>"
        "<AutoRun>TRUE</AutoRun><AutoFit>TRUE</AutoFit><AutoExit>TRUE</AutoExit>"));
    platform::SetEventPump({});
    EXPECT_TRUE(platform::QuitRequested());
    EXPECT_EQ(platform::QuitExitCode(), kAutomationOk);
  }
  const std::string log = ReadFile((dir_ / "out" / "automation.log").string());
  EXPECT_NE(log.find("[FIT] fit stopped by the user: the best fit found so far is kept (rmsd = "), std::string::npos)
      << log;
}

// The 30-minute bounds unattended, the clock moved on by 31 minutes while
// the computation is under way: a Fit ends with status 0, the log and the
// result file naming the limit; a Run (of either regularisation, in its
// Lamm solutions, normal equations or regularisation) is stopped as by a
// key, which fails it: status 4, its words in the log and the failed step
// in the result file.
enum class RunStage { Kernels, NormalEquations, Regularization };

struct BoundRow {
  const char* name;
  bool fit;
  const char* regularization;
  RunStage stage;
};

class AutomationTimeBounds : public AutomationWindowTest, public ::testing::WithParamInterface<BoundRow> {};

TEST_P(AutomationTimeBounds, TheTimeBoundEndsTheStepAndSaysSo) {
  const BoundRow& row = GetParam();
  WriteRun();
  teststate::JumpingClock clock;
  bool jumped = false;
  platform::SetEventPump([&] {
    const FitEngineState& fs = gFitEngineState;
    // Each stage of a Run is timed once it has ended.
    const ContiRunTimings& t = LastContiRunTimings();
    const RunStage stage = t.normalEquations > 0 ? RunStage::Regularization
                           : t.lamm > 0         ? RunStage::NormalEquations
                                                : RunStage::Kernels;
    if (jumped || (row.fit ? !(fs.fitRunning && fs.evaluationsThisRun == 3)
                           : fs.fitRunning || platform::ArmedStopDeadline() == 0 || stage != row.stage))
      return;
    jumped = true;
    clock.Jump(31 * 60);
  });
  {
    auto w = StartWith(Parameters(
        std::string("<Meniscus>5.95</Meniscus><MeniscusFitted>TRUE</MeniscusFitted><Bottom>7.2</Bottom>"
                    "<LeftFitLimit>5.97</LeftFitLimit><RightFitLimit>7.1</RightFitLimit><Model>cofs</Model>"
                    "<Resolution>50</Resolution><Smin>1</Smin><Smax>10</Smax><TINoiseFitted>FALSE</TINoiseFitted>"
                    "<RegularizationType>") +
        row.regularization + "</RegularizationType><AutoRun>TRUE</AutoRun><AutoFit>" + (row.fit ? "TRUE" : "FALSE") +
        "</AutoFit><AutoExit>TRUE</AutoExit>"));
    platform::SetEventPump({});
    EXPECT_TRUE(jumped);
    EXPECT_TRUE(platform::QuitRequested());
    EXPECT_EQ(platform::QuitExitCode(), row.fit ? kAutomationOk : kAutomationStepFailed);
  }
  const std::string log = ReadFile((dir_ / "out" / "automation.log").string());
  const std::string result = ReadFile((dir_ / "out" / "ResultParameters.xml").string());
  if (row.fit) {
    const std::string note =
        "the fit did not settle in 30 minutes: the best parameters found are kept; a second Fit continues from there";
    EXPECT_NE(log.find("\nFit ended (limit): " + note + "\n"), std::string::npos) << log;
    EXPECT_NE(result.find("<FitEnd>limit</FitEnd>"), std::string::npos) << result;
    EXPECT_NE(result.find("<FitEndNote>" + note + "</FitEndNote>"), std::string::npos) << result;
    EXPECT_EQ(result.find("<Failure>"), std::string::npos) << result;
  } else {
    EXPECT_NE(log.find("automation failed: Run: failed ([ERROR] the Run did not end in 30 minutes and was stopped: the distribution "
                       "shown before it is kept"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("user interrupt"), std::string::npos) << log;
    EXPECT_NE(result.find("<Failure>Run; exit status 4</Failure>"), std::string::npos) << result;
  }
  EXPECT_FALSE(platform::StopDeadlinePassed());
}

INSTANTIATE_TEST_SUITE_P(Bounds, AutomationTimeBounds,
                         ::testing::Values(BoundRow{"Fit", true, "Tikhonov", RunStage::Kernels},
                                           BoundRow{"MaximumEntropyRun", false, "maxent", RunStage::Kernels},
                                           BoundRow{"TikhonovRun", false, "Tikhonov", RunStage::Kernels},
                                           BoundRow{"NormalEquations", false, "Tikhonov", RunStage::NormalEquations},
                                           BoundRow{"MaximumEntropyRegularization", false, "maxent",
                                                    RunStage::Regularization},
                                           BoundRow{"TikhonovRegularization", false, "Tikhonov",
                                                    RunStage::Regularization}),
                         [](const ::testing::TestParamInfo<BoundRow>& i) { return std::string(i.param.name); });

// With a window to look at, the screenshot of the result set is the picture
// of the data range with the last fit's report written over it, as the
// window showed it when "Done" was chosen.
TEST_F(AutomationWindowTest, TheScreenshotCarriesTheFitReport) {
  StartOffscreenDesktop();
  WriteRun();
  {
    auto w = StartWith(Parameters(
        "<Meniscus>5.95</Meniscus><MeniscusFitted>FALSE</MeniscusFitted><Bottom>7.2</Bottom>"
        "<LeftFitLimit>5.97</LeftFitLimit><RightFitLimit>7.1</RightFitLimit><Model>cofs</Model>"
        "<Resolution>50</Resolution><Smin>1</Smin><Smax>10</Smax><TINoiseFitted>FALSE</TINoiseFitted>"
        "<AutoRun>TRUE</AutoRun>"));
    ASSERT_FALSE(platform::QuitRequested());
    // The window has been on the screen: its paints have written the report once.
    w->Create();
    ASSERT_TRUE(w->Frame().SaveClientImage((dir_ / "shown.bmp").string(), 1000, 700));
    ASSERT_FALSE(WindowFlags().FitInfoPending);
    w->Dispatch(1113);
    ASSERT_TRUE(platform::QuitRequested());
  }
  platform::SetFrameWindowFactory({});
  QImage shot(QString::fromStdString((dir_ / "out" / "screenshot.bmp").string()));
  ASSERT_FALSE(shot.isNull());
  // The report's first lines stand above the data plot, from its frame on,
  // where the plots leave the picture white.
  int inked = 0;
  const int left = shot.width() * 75 / 1000 + 4;
  for (int y = shot.height() * 20 / 1000; y < shot.height() * 45 / 1000; ++y)
    for (int x = left; x < left + 200; ++x) inked += (shot.pixel(x, y) & 0xffffff) != 0xffffff;
  EXPECT_GT(inked, 20);
}

// Qt's keyword macro would take the scans' signals for an access specifier.
#pragma push_macro("signals")
#undef signals

// Interference scans carrying known offsets (up to 2 fringes per scan) and
// a radial pattern, analysed unattended (c(s) with TI and RI noise, f/f0
// fitted) with and without the subtraction of the noise: RInoise.dat holds
// the offsets either way (to 3.2e-4 fringe; the subtraction wrote zeros),
// and what the run keeps adds up to the data as loaded.
TEST_F(AutomationWindowTest, TheRINoiseTakenOutOfInterferenceDataIsReported) {
  constexpr int kScans = 8;
  const double offsets[kScans + 1] = {0, 1.6, -2.0, 0.7, 2.0, -1.3, -0.4, 1.1, -1.8};
  auto pattern = [](double r) { return 0.03 * std::sin(40.0 * r); };
  const std::vector<std::string> paths = WriteRun(".ip1", kScans, 'P');
  // The files as loaded, radius -> signal per scan.
  std::vector<std::map<long, double>> loaded(kScans + 1);
  auto key = [](double r) { return std::lround(r * 1e4); };
  unsigned seed = 11;
  for (int k = 1; k <= kScans; ++k) {
    std::istringstream in(ReadFile(paths[static_cast<size_t>(k - 1)]));
    std::string text, line;
    for (int l = 0; std::getline(in, line); ++l) {
      double r = 0, c = 0, third = 0;
      if (l < 2 || std::sscanf(line.c_str(), "%lf %lf %lf", &r, &c, &third) != 3) {
        text += line + "\n";
        continue;
      }
      seed = seed * 1103515245u + 12345u;
      const double white = 0.002 * (((seed >> 8) & 0xFFFF) / 65536.0 - 0.5);
      char out[160];
      std::snprintf(out, sizeof out, "   %1.4f  %1.5e   %1.5e \n", r, c + offsets[k] + pattern(r) + white, 0.0);
      text += out;
      std::sscanf(out, "%lf %lf", &r, &c);
      loaded[static_cast<size_t>(k)][key(r)] = c;
    }
    std::ofstream(paths[static_cast<size_t>(k - 1)]) << text;
  }
  for (const bool subtract : {false, true}) {
    SCOPED_TRACE(subtract ? "subtracted" : "kept");
    const std::filesystem::path out = dir_ / (subtract ? "subtracted" : "kept");
    {
      auto w = StartWith(
          "<p><AllDoneFlagFile>" + (out / "flag").string() + "</AllDoneFlagFile><OutputResultsDirectory>" +
          out.string() + "</OutputResultsDirectory><DataDirectory>" + dir_.string() +
          "</DataDirectory><PassThrough></PassThrough><Channel>ip1</Channel><FirstScan>1</FirstScan><LastScan>" +
          std::to_string(kScans) +
          "</LastScan><ScanInterval>1</ScanInterval><Meniscus>5.95</Meniscus><MeniscusFitted>FALSE</MeniscusFitted>"
          "<Bottom>7.2</Bottom><LeftFitLimit>5.97</LeftFitLimit><RightFitLimit>7.1</RightFitLimit><Model>cofs</Model>"
          "<Resolution>50</Resolution><Smin>1</Smin><Smax>10</Smax><FrictionalRatioFitted>TRUE</FrictionalRatioFitted>"
          "<AutoFit>TRUE</AutoFit><TINoiseFitted>TRUE</TINoiseFitted>"
          "<RINoiseFitted>TRUE</RINoiseFitted><AutoRun>TRUE</AutoRun><AutoSubtractSystematicNoise>" +
          (subtract ? "TRUE" : "FALSE") + "</AutoSubtractSystematicNoise><AutoExit>TRUE</AutoExit></p>");
      ASSERT_TRUE(platform::QuitRequested());
      ASSERT_EQ(platform::QuitExitCode(), kAutomationOk);
    }
    ASSERT_TRUE(CurrentDataTypeFlags().interference);
    // RInoise.dat, in time order (the order of the files): the offsets but
    // for a constant that the TI noise takes.
    std::vector<double> ri;
    {
      std::istringstream in(ReadFile((out / "RInoise.dat").string()));
      for (double t, v; in >> t >> v;) ri.push_back(v);
    }
    ASSERT_EQ(ri.size(), static_cast<size_t>(kScans));
    double shift = 0;
    for (int k = 1; k <= kScans; ++k) shift += (ri[static_cast<size_t>(k - 1)] - offsets[k]) / kScans;
    double worst = 0;
    for (int k = 1; k <= kScans; ++k)
      worst = std::max(worst, std::fabs(ri[static_cast<size_t>(k - 1)] - offsets[k] - shift));
    EXPECT_LT(worst, 0.002);
    // TInoise.dat on the scans' own radii (interference data keep them).
    std::map<long, double> ti;
    {
      std::istringstream in(ReadFile((out / "TInoise.dat").string()));
      for (double r, v; in >> r >> v;) ti[key(r)] = v;
    }
    ASSERT_GT(ti.size(), 100u);
    // The data held now plus the noise taken out of them (the whole noise
    // reported when it was taken out, none otherwise) are the data loaded.
    const ScanSet& s = CurrentScanSet();
    double worstData = 0;
    for (int k = 1; k <= kScans; ++k) {
      const int i = s.order[k];
      for (int p = s.firstFitPoint[i]; p <= s.lastFitPoint[i]; ++p) {
        const long r = key(s.radii[i][p]);
        if (!ti.count(r)) continue;
        const double removed = subtract ? ti[r] + ri[static_cast<size_t>(k - 1)] : 0.0;
        worstData = std::max(worstData, std::fabs(s.signals[i][p] + removed - loaded[static_cast<size_t>(k)][r]));
      }
    }
    EXPECT_LT(worstData, 2e-5);
    // dfr.dat: per scan in time order radius, data and fit. The data are
    // the data loaded, and the fit (model and noise) reproduces them to
    // the white noise.
    std::istringstream dfr(ReadFile((out / "dfr.dat").string()));
    double worstDfr = 0, sum2 = 0;
    int points = 0;
    for (std::string line; std::getline(dfr, line);) {
      std::istringstream row(line);
      double tr, tv, rv;
      row >> tr >> tv >> rv;
      for (int k = 1; k <= kScans; ++k) {
        double r, data, fit;
        row >> r >> data >> fit;
        if (r == 0.0) continue;
        worstDfr = std::max(worstDfr, std::fabs(data - loaded[static_cast<size_t>(k)][key(r)]));
        sum2 += (fit - data) * (fit - data);
        ++points;
      }
    }
    ASSERT_GT(points, 800);
    EXPECT_LT(worstDfr, 2e-5);
    EXPECT_LT(std::sqrt(sum2 / points), 0.003);
    ResetAutomation();
    DeletePlotWindows();
    platform::ResetQuitRequest();
  }
}

#pragma pop_macro("signals")
