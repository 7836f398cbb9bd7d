#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "automation/automation_run.h"
#include "automation/ini_custom_pars.h"
#include "data/noise_subtraction.h"
#include "data/scan_file.h"
#include "distributions/conti_models.h"
#include "distributions/conti_run.h"
#include "fit/saved_params.h"
#include "lamm/lamm_ideal.h"
#include "lamm/lamm_settings.h"
#include "platform/error_box.h"
#include "platform/user_interface.h"
#include "platform/worker_threads.h"
#include "plot/plot_window_set.h"
#include "tests/automation/automation_test_support.h"

using autotest::ReadFile;
using autotest::RequiredElements;
using autotest::Wrap;

namespace {

// The main window as the run sees it: every request is recorded, and the
// menu commands reach the computations of this build (the Fit of the
// distributions and ls-g*(s) answer as commands outside the build do).
class RecordingWindow : public IAutomationWindow {
 public:
  void Command(int id) override {
    commands.push_back(id);
    switch (id) {
      case kCmdContinuousCS: {
        ContiModelCommandContext ctx;
        ctx.scanCount = CurrentScanSet().count;
        bool mAndS = false;
        ctx.fitMAndS = &mAndS;
        CmContinuousCSModel(ctx);
        break;
      }
      case kCmdRun:
        if (fatalOnRun) {
          // What a fatal box does: it asks for the end (with status 0).
          platform::RequestQuit(0);
          break;
        }
        if (gModelSelectorFlags.DistributionModel) RunContiSed();
        // As a computation that reports an error and goes on with what it has.
        if (!runErrorBox.empty()) ErrorBox(runErrorBox.c_str());
        // As a solver that failed says so (the command itself goes on).
        if (simulationFails)
          platform::UI().MessageBox("ERROR in simulation", "singular tridiagonal matrix!",
                                    platform::BoxButtons::Ok, platform::BoxIcon::Error);
        break;
      case kCmdSubtractTINoise:
      case kCmdSubtractRINoise:
        RunNoiseCommand(id);
        break;
      default:
        platform::UI().MessageBox("NOT AVAILABLE", "command " + std::to_string(id) + " is not available yet.",
                                  platform::BoxButtons::Ok, platform::BoxIcon::Information);
    }
  }
  void SetCaption(const std::string& text) override { caption = text; }
  void RequestRepaint() override { ++repaints; }
  void CheckMenuItem(int id, bool checked) override { checks[id] = checked; }
  void SwitchOffHelpMessages() override { helpOff = true; }
  void SetShowResidualsHistogram(bool show) override { histogram = show; }
  void SetLammThreadCount(int threads) override { lammThreads = threads; }
  void RelayoutAndRedrawPlots() override { ++relayouts; }
  void ShowDataRange() override { calls += "range "; }
  void ShowLastFitInfo() override { calls += "info "; }
  std::vector<std::string> FitNotes() override { return {}; }
  bool CaptureClientArea(platform::Bitmap& out) override {
    calls += "capture ";
    out = platform::Bitmap(20, 10, 0x00336699);
    return true;
  }
  void Exit() override {
    ++exits;
    // As the window's Exit does: the finish first, then the quit request.
    if (!CurrentAutomationState().automationFinished) FinishAutomation(*this, false);
    platform::RequestQuit(0);
  }

  std::string caption, calls;
  std::map<int, bool> checks;
  std::vector<int> commands;
  bool fatalOnRun = false, simulationFails = false;
  std::string runErrorBox;  // text of an error box the Run shows
  bool helpOff = false, histogram = false;
  int repaints = 0, relayouts = 0, exits = 0, lammThreads = 0;
};

constexpr double kPi = 3.14159265358979;

// D (cm^2/s) of a compact species of s (S) with f/f0 1.3, vbar 0.73, in water
// at 20 C: s = M (1 - vbar rho) / (N_A f), D = R T s / (M (1 - vbar rho)).
double DiffusionAtFf13(double sSvedberg) {
  const double s = sSvedberg * 1e-13, buoyancy = 1 - 0.73;
  const double sphere = 6 * kPi * 0.01002 * std::cbrt(3 * 0.73 / (4 * kPi * 6.02214e23));
  const double M = std::pow(s * 6.02214e23 * 1.3 * sphere / buoyancy, 1.5);
  return 8.314e7 * 293.15 * s / (M * buoyancy);
}

class AutomationRun : public autotest::Scratch {
 protected:
  AutomationRun() {
    autotest::ResetAnalysisState();
    SetAutomationWait([this](int ms) { waited += ms; });
    std::filesystem::create_directories(dir / "data");
  }
  ~AutomationRun() override {
    autotest::ResetAnalysisState();
    SetAutomationWait({});
    platform::SetHeadless(false);
  }

  // Scans 00001..000nn of 4 S (0.6 OD) and 7 S (0.2 OD) at 50000 rpm with a
  // radial noise pattern, a baseline offset per scan and white noise.
  void WriteSyntheticScans(int scans, int points) {
    const double meniscus = 6.0, bottom = 7.2, rpm = 50000, w = 2 * kPi * rpm / 60;
    const std::size_t m = static_cast<std::size_t>(scans), n = static_cast<std::size_t>(points);
    std::vector<ScanRecord> records(m + 1);
    for (std::size_t k = 1; k <= m; ++k) {
      ScanRecord& r = records[k];
      r.type = 'R';
      r.cell = 1;
      r.temperature = 20;
      r.rpm = static_cast<float>(rpm);
      r.time = r.timeRead = 600.0 * static_cast<double>(k);
      r.w2t = w * w * r.time;
      r.wavelength = 280;
    }
    std::vector<float> radii(n + 1);
    for (std::size_t j = 1; j <= n; ++j) radii[j] = 5.98f + 0.006f * static_cast<float>(j - 1);
    std::vector<std::vector<float>> total(m + 1, std::vector<float>(n + 1));
    const LammSolverSettings st;
    for (auto [s, c] : {std::pair<double, double>{4.0, 0.6}, {7.0, 0.2}}) {
      std::vector<std::vector<float>> out = total;
      std::vector<float*> ptr(m + 1, nullptr);
      for (std::size_t k = 1; k <= m; ++k) ptr[k] = out[k].data();
      CLammIdeal L;
      L.MarkLoaded();
      L.SetOutputParameters(s, DiffusionAtFf13(s), meniscus, bottom, 1.0, 6.01f, 7.19f);
      L.SetScanTimes({.records = records.data(), .output = ptr.data(), .grid = radii.data(),
                      .gridLength = points, .scanCount = scans, .absorbanceData = true});
      SetModelOptionsFromSettings(L, st, st.workingMaxDcOverC, st.gridSize.setting);
      L.SetSolventAndComputeFrictionalRatio(20, 0.73, 1.0, 1.0);
      ASSERT_EQ(L.CheckAndRun(), 0);
      for (std::size_t k = 1; k <= m; ++k)
        for (std::size_t j = 1; j <= n; ++j)
          if (radii[j] >= meniscus) total[k][j] += static_cast<float>(c) * out[k][j];
    }
    std::mt19937 random(7);
    std::normal_distribution<double> white(0, 0.003), offset(0, 0.02);
    for (std::size_t k = 1; k <= m; ++k) {
      const double ri = offset(random);
      std::vector<float> y(n + 1);
      for (std::size_t j = 1; j <= n; ++j)
        y[j] = static_cast<float>(total[k][j] + 0.01 * std::sin(41.0 * radii[j]) + ri + white(random));
      char name[16];
      std::snprintf(name, sizeof name, "%05zu.RA1", k);
      ASSERT_TRUE(WriteScanFile((dir / "data" / name).string().c_str(), points, radii.data(), y.data(), nullptr,
                                "test scan", 0, records[k]));
    }
  }

  std::string Parameters(const std::string& extra, int lastScan = 12) {
    std::string body = RequiredElements((dir / "out").string(), (dir / "data").string());
    body.replace(body.find("<LastScan>10<"), 13, "<LastScan>" + std::to_string(lastScan) + "<");
    // A model of the case's own replaces the one of the required elements.
    if (extra.find("<Model>") != std::string::npos) body.erase(body.find("<Model>"), 19);
    return Wrap(body + extra);
  }

  // Starts the run as the window's constructor does; true when it ran.
  bool Start(const std::string& parameters, const char* handshake = "job-17") {
    const std::string path = Put("params.xml", parameters).string();
    std::vector<char*> args = {nullptr};
    if (handshake) args.push_back(const_cast<char*>(handshake));
    args.push_back(const_cast<char*>(path.c_str()));
    if (!TakeAutomationCommandLine(static_cast<int>(args.size()) - 1, args.data())) return false;
    return RunAutomationAtStartup(window);
  }

  RecordingWindow window;
  int waited = 0;
};

const char* const kCofsRun =
    "<Meniscus>6.0</Meniscus>\n<MeniscusFitted>FALSE</MeniscusFitted>\n"
    "<LeftFitLimit>6.03</LeftFitLimit>\n<RightFitLimit>7.1</RightFitLimit>\n"
    "<Model>cofs</Model>\n<Resolution>60</Resolution>\n<Smin>0.5</Smin>\n<Smax>10</Smax>\n"
    "<StartingFrictionalRatio>1.3</StartingFrictionalRatio>\n"
    "<FrictionalRatioFitted>FALSE</FrictionalRatioFitted>\n"
    "<TINoiseFitted>TRUE</TINoiseFitted>\n<RINoiseFitted>TRUE</RINoiseFitted>\n"
    "<RegularizationPvalue>0.68</RegularizationPvalue>\n"
    "<AutoRun>TRUE</AutoRun>\n<AutoExit>TRUE</AutoExit>\n"
    "<AutoSubtractSystematicNoise>TRUE</AutoSubtractSystematicNoise>\n";

}  // namespace

TEST_F(AutomationRun, ACofsRunRecoversTheMainPeakAndWritesTheSet) {
  WriteSyntheticScans(12, 200);
  testing::internal::CaptureStderr();
  ASSERT_TRUE(Start(Parameters(kCofsRun)));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(platform::QuitExitCode(), kAutomationOk) << log;
  EXPECT_TRUE(platform::QuitRequested());
  EXPECT_EQ(window.exits, 1);
  EXPECT_EQ(waited, 2000);  // 1 s before Exit, 1 s after the results
  EXPECT_EQ(window.caption, "command line mode loaded -> " + (dir / "data" / "00001.RA1").string() + "...");
  EXPECT_TRUE(window.helpOff);
  EXPECT_EQ(window.calls, "");  // no screenshot after AutoExit
  // The noise is taken out after the run and again after the (skipped) fit.
  EXPECT_EQ(window.commands,
            (std::vector<int>{kCmdContinuousCS, kCmdRun, kCmdSubtractRINoise, kCmdSubtractTINoise,
                              kCmdSubtractRINoise, kCmdSubtractTINoise}));

  // The largest value of c(s) lies within 3 % of 4 S.
  std::istringstream in(ReadFile(dir / "out" / "distribution.dat"));
  double s, c, peakS = 0, peakC = -1;
  int n = 0;
  while (in >> s >> c) {
    ++n;
    if (c > peakC) peakC = c, peakS = s;
  }
  EXPECT_EQ(n, 60);
  EXPECT_NEAR(peakS, 4.0, 0.12);
  const std::string xml = ReadFile(dir / "out" / "ResultParameters.xml");
  EXPECT_NE(xml.find("\n<Model>cofs</Model>"), std::string::npos);
  EXPECT_NE(xml.find("\n<AutoExit>TRUE</AutoExit>"), std::string::npos);
  const std::size_t at = xml.find("<RMSD>");
  ASSERT_NE(at, std::string::npos);
  EXPECT_NEAR(std::stod(xml.substr(at + 6)), 0.003, 0.001);  // the white noise
  EXPECT_EQ(ReadFile(dir / "out" / "done.flag"), "job-17");
  EXPECT_FALSE(std::filesystem::exists(dir / "out" / "screenshot.bmp"));
  EXPECT_NE(ReadFile(dir / "out" / "automation.log").find("Run: done"), std::string::npos);
}

// A step that cannot be done ends the run with the failure status; the flag
// file still gets its content. The stand-in window answers ls-g*(s) and the
// Fit as not available (the set is still written), or its Run meets a
// fatal box (nothing comes after it).
TEST_F(AutomationRun, AFailedStepEndsWithAFailureStatusAndStillFinishes) {
  struct Case {
    const char* name;
    std::string run;
    bool fatalOnRun;
    std::vector<std::string> logged;
    std::vector<int> commands;  // empty: not checked
    bool resultsWritten;
  };
  std::string lsgofs = kCofsRun;
  lsgofs.replace(lsgofs.find("cofs"), 4, "lsgofs");
  const Case cases[] = {
      {"a missing computation", lsgofs, false, {"automation failed: model lsgofs: not available"}, {}, true},
      {"a fit outside the build", std::string(kCofsRun) + "<AutoFit>TRUE</AutoFit>\n", false,
       {"Run: done", "automation failed: Fit: not available"}, {}, false},
      {"a fatal error", kCofsRun, true, {}, {kCmdContinuousCS, kCmdRun}, false},
  };
  WriteSyntheticScans(3, 40);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    autotest::ResetAnalysisState();
    std::filesystem::remove_all(dir / "out");
    window.commands.clear();
    window.fatalOnRun = c.fatalOnRun;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(Start(Parameters(c.run, 3)));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(platform::QuitExitCode(), kAutomationStepFailed) << log;
    for (const std::string& line : c.logged) EXPECT_NE(log.find(line), std::string::npos) << log;
    if (!c.commands.empty()) {
      EXPECT_EQ(window.commands, c.commands);
    }
    EXPECT_EQ(ReadFile(dir / "out" / "done.flag"), "job-17");
    if (c.resultsWritten) {
      EXPECT_TRUE(std::filesystem::exists(dir / "out" / "ResultParameters.xml"));
    }
  }
}

// The file's limits are the user's: scans that end before the right one
// are fitted to their end (and the result says so), while the analysis
// saved beside them keeps the file's limit.
TEST_F(AutomationRun, TheFileFitLimitsStayTheUsersOverShorterScans) {
  WriteSyntheticScans(3, 40);  // 5.98 - 6.214 cm
  testing::internal::CaptureStderr();
  ASSERT_TRUE(Start(Parameters(kCofsRun, 3)));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(platform::QuitExitCode(), kAutomationOk) << log;
  const ScanSet& s = CurrentScanSet();
  EXPECT_FLOAT_EQ(s.leftFitLimit, 6.03f);
  EXPECT_NEAR(s.rightFitLimit, 6.214f, 1e-6f);
  EXPECT_FLOAT_EQ(s.enteredLeftFitLimit, 6.03f);
  EXPECT_FLOAT_EQ(s.enteredRightFitLimit, 7.1f);
  EXPECT_NE(ReadFile(dir / "out" / "ResultParameters.xml").find("\n<RightFitLimit>6.214000</RightFitLimit>"),
            std::string::npos);
  const std::string saved = (dir / "data" / "~tmppars.RA1").string();
  ASSERT_EQ(CurrentDataPaths().parameterFile, saved);
  ASSERT_TRUE(TmpSaveBestParams(saved, false));
  std::istringstream in(ReadFile(saved));
  std::string line;
  for (int k = 1; k <= 43 && std::getline(in, line); ++k) {
    if (k == 42) {
      EXPECT_EQ(line, "6.030000");
    }
    if (k == 43) {
      EXPECT_EQ(line, "7.100000");
    }
  }
}

TEST_F(AutomationRun, AnUnusableScanRangeFailsButStillFinishes) {
  struct Case {
    int last;
    bool writeScans;
    const char* named;  // the file the failure names, if any
  } cases[] = {{1, true, nullptr},     // FirstScan equal to LastScan
               {12, false, "00004"}};  // the range runs beyond the three files
  for (const Case& c : cases) {
    SCOPED_TRACE(c.last);
    autotest::ResetAnalysisState();
    if (c.writeScans) WriteSyntheticScans(3, 40);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(Start(Parameters(kCofsRun, c.last), nullptr));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(platform::QuitExitCode(), kAutomationNoScans) << log;
    if (c.named) {
      EXPECT_NE(log.find("automation failed: the scan file " + (dir / "data" / c.named).string() +
                         ".RA1 of the range cannot be read"),
                std::string::npos)
          << log;
    }
    EXPECT_EQ(CurrentScanSet().count, 0);
    EXPECT_EQ(ReadFile(dir / "out" / "done.flag"), "no handshake found");
  }
}

TEST_F(AutomationRun, ARejectedFileEndsTheProgramBeforeAnyRun) {
  testing::internal::CaptureStderr();
  EXPECT_FALSE(Start(Wrap("<Channel>RA1</Channel>\n")));
  const std::string log = testing::internal::GetCapturedStderr();
  const std::string path = (dir / "params.xml").string();
  EXPECT_NE(log.find("[command line parameters found] sorry, input from " + path +
                     " could not be processed properly -> OK"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("element AllDoneFlagFile is missing"), std::string::npos);
  EXPECT_TRUE(platform::QuitRequested());
  EXPECT_EQ(platform::QuitExitCode(), kAutomationRejectedFile);
  EXPECT_FALSE(CurrentAutomationState().automationMode);
  EXPECT_FALSE(std::filesystem::exists(dir / "out"));
}

TEST_F(AutomationRun, OnlyOneOrTwoArgumentsStartAnUnattendedRun) {
  char a[] = "a", b[] = "b", c[] = "c";
  char* args[] = {nullptr, a, b, c};
  EXPECT_FALSE(TakeAutomationCommandLine(0, args));
  EXPECT_FALSE(TakeAutomationCommandLine(3, args));
  EXPECT_FALSE(platform::QuitRequested());
  EXPECT_EQ(CurrentIniCustomPars(), nullptr);
}

TEST_F(AutomationRun, DoneWritesTheSetWithTheScreenshotOnce) {
  WriteSyntheticScans(3, 40);
  std::string run = kCofsRun;
  run.replace(run.find("<AutoExit>TRUE"), 14, "<AutoExit>FALSE");
  testing::internal::CaptureStderr();
  ASSERT_TRUE(Start(Parameters(run, 3)));
  EXPECT_EQ(window.exits, 0);  // the window opens for the user
  EXPECT_FALSE(std::filesystem::exists(dir / "out" / "done.flag"));
  FinishAutomation(window, true);  // "Done"
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(window.exits, 1);
  EXPECT_EQ(window.calls, "range info capture ");
  EXPECT_EQ(platform::QuitExitCode(), kAutomationOk) << log;
  platform::Bitmap shot;
  ASSERT_TRUE(platform::LoadBmp((dir / "out" / "screenshot.bmp").string(), shot));
  EXPECT_EQ(shot, platform::Bitmap(20, 10, 0x00336699));
  EXPECT_EQ(ReadFile(dir / "out" / "ResultParameters.xml").find("<AutoExit>"), std::string::npos);
  // Exit afterwards does not write the set again.
  std::filesystem::remove(dir / "out" / "done.flag");
  window.Exit();
  EXPECT_FALSE(std::filesystem::exists(dir / "out" / "done.flag"));
}

TEST_F(AutomationRun, WithoutADisplayTheRunFinishesByItself) {
  WriteSyntheticScans(3, 40);
  std::string run = kCofsRun;
  run.replace(run.find("<AutoExit>TRUE"), 14, "<AutoExit>FALSE");
  platform::SetHeadless(true);
  testing::internal::CaptureStderr();
  ASSERT_TRUE(Start(Parameters(run, 3)));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(window.exits, 1);
  EXPECT_EQ(platform::QuitExitCode(), kAutomationOk) << log;
  EXPECT_TRUE(std::filesystem::exists(dir / "out" / "screenshot.bmp"));
  EXPECT_EQ(ReadFile(dir / "out" / "done.flag"), "job-17");
}

// Without a display a run that ends by itself is seen by nobody and takes
// no screenshot: its plots record no pictures (PlotAreas tests that), and
// its set is the one a run with a display writes, file for file.
TEST_F(AutomationRun, WithoutADisplayAndEndingByItselfNoPictureIsRecorded) {
  WriteSyntheticScans(4, 60);
  auto files = [this] {
    std::vector<std::string> set;
    for (const char* name : {"distribution.dat", "ResultParameters.xml", "ScanRms.dat", "TInoise.dat", "RInoise.dat"})
      set.push_back(ReadFile(dir / "out" / name));
    return set;
  };
  std::vector<std::string> shown;
  for (const bool headless : {false, true}) {
    SCOPED_TRACE(headless ? "headless" : "display");
    autotest::ResetAnalysisState();
    platform::SetHeadless(headless);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(Start(Parameters(kCofsRun, 4)));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(platform::QuitExitCode(), kAutomationOk) << log;
    EXPECT_EQ(platform::DrawingUnseen(), headless);
    if (headless)
      EXPECT_TRUE(files() == shown);
    else
      shown = files();
  }
  // Ending at "Done", the run without a display keeps its pictures for the screenshot.
  autotest::ResetAnalysisState();
  std::string run = kCofsRun;
  run.replace(run.find("<AutoExit>TRUE"), 14, "<AutoExit>FALSE");
  ASSERT_TRUE(Start(Parameters(run, 4)));
  EXPECT_FALSE(platform::DrawingUnseen());
}

TEST_F(AutomationRun, ParametersReachTheAnalysisSettings) {
  CIniCustomPars r;
  std::strcpy(r.Model, "cofs");
  std::strcpy(r.RegularizationType, "Tikhonov");
  std::strcpy(r.FittingAlgorithm, "Levenberg-Marquardt");
  r.UseLogSpaceSgrid = 1;
  r.Smin = -0.2f;
  r.Resolution = 80;
  r.NumberComputationThreads = 1;
  r.BufferViscosity = 0.02004f;
  r.BaselineFitted = 0;
  r.TINoiseFitted = 0;
  r.RINoiseFitted = 1;
  Conti().multipleThreads = 0;
  ASSERT_TRUE(ApplyAutomationParameters(r, window));
  const ContiSettings& c = Conti();
  EXPECT_FLOAT_EQ(c.sMin, 0.3f);
  EXPECT_FLOAT_EQ(gModelParameterVector.P[1], 0.3f);
  EXPECT_FLOAT_EQ(c.resolution, 80.0f);
  EXPECT_EQ(c.logSpacedGrid, 1);
  EXPECT_EQ(c.secondDerivative, 1);
  EXPECT_EQ(c.maxEntropy, 0);
  EXPECT_EQ(gFitEngineState.useMarquardt, 1);
  EXPECT_EQ(gFitEngineState.useSimplex, 0);
  EXPECT_EQ(c.multipleThreads, 0);  // a single thread leaves the switch alone
  EXPECT_EQ(c.normalEquationThreads, 1);
  EXPECT_EQ(window.lammThreads, 1);
  EXPECT_NEAR(gSolutionConditions.viscosity, 2.0f, 1e-4);  // relative to water at 20 C
  EXPECT_EQ(gModelParams.riNoiseFit, 1);
  EXPECT_EQ(gModelParams.baselineLinear, 1);
  EXPECT_EQ(gModelSelectorFlags.DistributionModel, 1);
  EXPECT_TRUE(window.checks[294]);
  EXPECT_FALSE(window.checks[295]);
  EXPECT_TRUE(window.checks[824]);
  EXPECT_FALSE(window.checks[826]);
  EXPECT_TRUE(window.histogram);

  // A model in capitals chooses nothing; the distribution settings stay.
  autotest::ResetAnalysisState();
  Conti().resolution = 33;
  std::strcpy(r.Model, "COFS");
  r.NumberComputationThreads = 0;  // still one worker, never none
  ASSERT_TRUE(ApplyAutomationParameters(r, window));
  EXPECT_EQ(gModelSelectorFlags.DistributionModel, 0);
  EXPECT_FLOAT_EQ(Conti().resolution, 33.0f);
  EXPECT_EQ(Conti().normalEquationThreads, 1);
}

TEST_F(AutomationRun, AFailedSimulationIsAFailedStepAndTheSummarySaysSo) {
  WriteSyntheticScans(3, 40);
  window.simulationFails = true;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(Start(Parameters(kCofsRun, 3)));
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_EQ(platform::QuitExitCode(), kAutomationStepFailed) << log;
  EXPECT_NE(log.find("automation failed: Run: failed"), std::string::npos) << log;
  EXPECT_EQ(log.find("Run: done"), std::string::npos);
  // The set and the flag are there; the summary names the failed step and
  // gives the rmsd the run reached, not a zero.
  EXPECT_EQ(ReadFile(dir / "out" / "done.flag"), "job-17");
  const std::string xml = ReadFile(dir / "out" / "ResultParameters.xml");
  EXPECT_NE(xml.find("\n<Failure>Run; exit status 4</Failure>"), std::string::npos) << xml;
  const std::size_t at = xml.find("<RMSD>");
  ASSERT_NE(at, std::string::npos);
  EXPECT_GT(std::stod(xml.substr(at + 6)), 0.001);
}

// An error a computation reports (and goes on from, with what it has) never
// ends the run with 0; a notice about a file the run could not write beside
// the scans is no error of the analysis.
TEST_F(AutomationRun, AnErrorTheComputationReportsFailsItsStep) {
  const struct {
    const char* box;
    int status;
    const char* said;
  } cases[] = {
      {"VBAR <= 0 in function CalculateM", kAutomationStepFailed,
       "automation failed: Run: failed ([Error] VBAR <= 0 in function CalculateM -> OK)"},
      {"max #iteration exceeded in NNLS", kAutomationStepFailed, "automation failed: Run: failed ([Error] max #iteration"},
      {"\n\aAttention: could not write /data/sdist.RA1", kAutomationOk, "Run: done"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.box);
    autotest::ResetAnalysisState();
    WriteSyntheticScans(3, 40);
    window.runErrorBox = c.box;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(Start(Parameters(kCofsRun, 3)));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(platform::QuitExitCode(), c.status) << log;
    EXPECT_NE(log.find(c.said), std::string::npos) << log;
    const std::string xml = ReadFile(dir / "out" / "ResultParameters.xml");
    EXPECT_EQ(xml.find("<Failure>Run; exit status 4</Failure>") != std::string::npos, c.status != 0) << xml;
  }
}

// A run cut short (the memory ran out) leaves no result file: the per-scan
// rmsd file the plots wrote on the way goes, one the run never touched stays.
TEST_F(AutomationRun, ARunCutShortTakesBackThePerScanRmsdFileItWrote) {
  WriteSyntheticScans(3, 40);
  for (const bool rewritten : {true, false}) {
    SCOPED_TRACE(rewritten);
    autotest::ResetAnalysisState();
    std::filesystem::create_directories(dir / "out");
    autotest::WriteFile(dir / "out" / "ScanRms.dat", "of the run before\n");
    std::string p = Parameters(kCofsRun, 3);
    p.replace(p.find("<AutoExit>TRUE"), 14, "<AutoExit>FALSE");
    testing::internal::CaptureStderr();
    ASSERT_TRUE(Start(p));
    // The window waits for "Done"; meanwhile the plots rewrite their file.
    if (rewritten) {
      ASSERT_TRUE(WriteScanRmsToFile(CurrentPlotWindows().scanRmsPath));
    }
    EXPECT_EQ(AutomationCutShort(true), kAutomationOutOfMemory);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::filesystem::exists(dir / "out" / "ScanRms.dat"), !rewritten);
    if (!rewritten) {
      EXPECT_EQ(ReadFile(dir / "out" / "ScanRms.dat"), "of the run before\n");
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "out" / "ResultParameters.xml"));
  }
}

TEST_F(AutomationRun, TheRunsOwnFilesNeverReplaceItsInputs) {
  WriteSyntheticScans(3, 40);
  const std::string scan = ReadFile(dir / "data" / "00002.RA1");
  const std::string data = (dir / "data").string();
  struct Case {
    std::string flag, output, rejection;
  } cases[] = {
      {data + "/00002.RA1", (dir / "out").string(), "AllDoneFlagFile names the input " + data + "/00002.RA1"},
      {data + "/../data/./00002.RA1", (dir / "out").string(),
       "AllDoneFlagFile names the input " + data + "/00002.RA1"},
      {(dir / "params.xml").string(), (dir / "out").string(),
       "AllDoneFlagFile names the input " + (dir / "params.xml").string()},
      {(dir / "out" / "done.flag").string(), data + "/00003.RA1",
       "OutputResultsDirectory names the input " + data + "/00003.RA1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.flag + " " + c.output);
    autotest::ResetAnalysisState();
    std::string p = Parameters(kCofsRun, 3);
    p.replace(p.find((dir / "out" / "done.flag").string()), (dir / "out" / "done.flag").string().size(), c.flag);
    p.replace(p.find("<OutputResultsDirectory>") + 24, (dir / "out").string().size(), c.output);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Start(p));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(platform::QuitExitCode(), kAutomationRejectedFile);
    EXPECT_NE(log.find("rejected: " + c.rejection), std::string::npos) << log;
    EXPECT_EQ(ReadFile(dir / "data" / "00002.RA1"), scan);
    EXPECT_TRUE(std::filesystem::is_regular_file(dir / "data" / "00003.RA1"));
  }
}

TEST_F(AutomationRun, ARunStartsByRemovingTheFlagOfTheRunBefore) {
  WriteSyntheticScans(3, 40);
  std::filesystem::create_directories(dir / "out");
  autotest::WriteFile(dir / "out" / "done.flag", "earlier run");
  const std::string path = Put("params.xml", Parameters(kCofsRun, 3)).string();
  std::vector<char*> args = {nullptr, const_cast<char*>(path.c_str())};
  testing::internal::CaptureStderr();
  ASSERT_TRUE(TakeAutomationCommandLine(1, args.data()));
  EXPECT_FALSE(std::filesystem::exists(dir / "out" / "done.flag"));
  // The run's per-scan rmsd file goes with its results, not into the working folder.
  ASSERT_TRUE(RunAutomationAtStartup(window));
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(CurrentPlotWindows().scanRmsPath, (dir / "out" / "ScanRms.dat").string());
  EXPECT_EQ(ReadFile(dir / "out" / "done.flag"), "no handshake found");
}

// An element with attributes is read like a bare one, one that cannot be read
// is named in the log; pipes at the log's and the per-scan rmsd file's names
// hold nothing up: the log goes to stderr alone, and the rmsd file, a result
// file, fails the set (status 5, no flag file).
TEST_F(AutomationRun, AttributesAreReadAndPipesInTheOutputFolderHoldNothingUp) {
  alarm(120);  // a run waiting on a pipe fails here instead of hanging
  WriteSyntheticScans(3, 40);
  std::filesystem::create_directories(dir / "out");
  ASSERT_EQ(mkfifo((dir / "out" / "automation.log").c_str(), 0644), 0);
  ASSERT_EQ(mkfifo((dir / "out" / "ScanRms.dat").c_str(), 0644), 0);
  std::string run = kCofsRun;
  run.replace(run.find("<Smax>10</Smax>"), 15, "<Smax unit=\"S\">8</Smax>");
  run += "<ShowResidualsHistogram>maybe</ShowResidualsHistogram>\n";
  testing::internal::CaptureStderr();
  ASSERT_TRUE(Start(Parameters(run, 3)));
  const std::string log = testing::internal::GetCapturedStderr();
  alarm(0);
  EXPECT_FLOAT_EQ(Conti().sMax, 8.0f);
  EXPECT_NE(log.find("element ShowResidualsHistogram of " + (dir / "params.xml").string() +
                     " cannot be read: its default is used"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("could not open " + (dir / "out" / "automation.log").string()), std::string::npos) << log;
  EXPECT_EQ(platform::QuitExitCode(), kAutomationWriteFailed) << log;
  EXPECT_NE(log.find("could not write " + (dir / "out" / "ScanRms.dat").string()), std::string::npos) << log;
  EXPECT_FALSE(std::filesystem::exists(dir / "out" / "done.flag"));
  EXPECT_TRUE(std::filesystem::is_fifo(dir / "out" / "automation.log"));
  EXPECT_TRUE(std::filesystem::is_fifo(dir / "out" / "ScanRms.dat"));
}

TEST_F(AutomationRun, ThreadCountsBeyondTheMachineAreCappedWithANote) {
  CIniCustomPars r;
  r.NumberComputationThreads = 2147483647;
  testing::internal::CaptureStderr();
  ASSERT_TRUE(ApplyAutomationParameters(r, window));
  const std::string log = testing::internal::GetCapturedStderr();
  const int cap = platform::MaxWorkerThreads();
  EXPECT_EQ(window.lammThreads, cap);
  EXPECT_EQ(Conti().normalEquationThreads, cap);
  EXPECT_EQ(Conti().multipleThreads, 1);
  EXPECT_NE(log.find("NumberComputationThreads 2147483647 is more than this computer can use: " +
                     std::to_string(cap) + " threads compute"),
            std::string::npos)
      << log;
}

TEST_F(AutomationRun, ScansAreRefusedThatNoSimulationCanStartFrom) {
  struct Case {
    int field;
    const char* value;
    const char* said;
  } cases[] = {{3, "0", "was taken at rotor speed 0"}, {4, "-600", "has a negative time"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.said);
    autotest::ResetAnalysisState();
    WriteSyntheticScans(3, 40);
    // Line 2 of the second scan: type cell temperature rpm time w2t wavelength count.
    const auto path = dir / "data" / "00002.RA1";
    std::string text = ReadFile(path);
    const std::size_t l2 = text.find('\n') + 1;
    std::istringstream header(text.substr(l2, text.find('\n', l2) - l2));
    std::vector<std::string> f;
    for (std::string w; header >> w;) f.push_back(w);
    f[static_cast<std::size_t>(c.field)] = c.value;
    std::string line;
    for (const std::string& w : f) line += (line.empty() ? "" : " ") + w;
    text.replace(l2, text.find('\n', l2) - l2, line);
    autotest::WriteFile(path, text);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(Start(Parameters(kCofsRun, 3)));
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_EQ(platform::QuitExitCode(), kAutomationNoScans) << log;
    EXPECT_NE(log.find("automation failed: scan " + path.string() + " " + c.said), std::string::npos) << log;
    EXPECT_EQ(window.commands, std::vector<int>{kCmdContinuousCS});  // no Run of refused scans
    window.commands.clear();
  }
}
