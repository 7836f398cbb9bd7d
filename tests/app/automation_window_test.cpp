// The unattended run through the real main window: the constructor takes the
// command line, sends the window's own menu commands, writes the result set
// and ends the program with the run's status.
#include <cstring>

#include "app/startup/automation_window.h"
#include "app/window/main_window_flags.h"
#include "automation/automation_run.h"
#include "fit/saved_params.h"
#include "plot/plot_window_set.h"
#include "automation_road_fixture.h"
#include "road_support.h"

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
  std::vector<std::string> names;
  for (const auto& p : paths) names.push_back(std::filesystem::path(p).filename().string());
  ASSERT_TRUE(LoadAllData(MakeSelection(dir_.string(), names)));
  EXPECT_TRUE(ui_->AllConsumed());
  EXPECT_FLOAT_EQ(gModelParams.meniscus, 5.97f);
  EXPECT_FLOAT_EQ(gModelParams.bottom, 7.15f);
  (void)w;
}

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
  // The report's first lines stand left of the data plot's y axis, where
  // the plots leave the picture white.
  int inked = 0;
  const int right = shot.width() * 75 / 1000 - 5;
  for (int y = shot.height() * 20 / 1000; y < shot.height() * 45 / 1000; ++y)
    for (int x = 0; x < right; ++x) inked += (shot.pixel(x, y) & 0xffffff) != 0xffffff;
  EXPECT_GT(inked, 20);
}
