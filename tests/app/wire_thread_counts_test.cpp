// The thread counts chosen by the user or by the unattended run reach the
// Lamm-equation lists and the normal equations, and change nothing but the
// number of workers.
#include "app/wiring/automation_window.h"
#include "automation/automation_run.h"
#include "distributions/conti_lamm_list.h"
#include "distributions/distribution_arrays.h"
#include "lamm/lamm_threads.h"
#include "plot/plot_window_set.h"
#include "road_support.h"

namespace {

class WireThreadCountsTest : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    InstallAutomationServices(Services());
    SetAutomationWait([](int) {});
    // Counts no setting would produce, so that a count left alone shows.
    LammListThreads() = 7;
    LammThreadCount() = 7;
  }
  void TearDown() override {
    SetAutomationWait({});
    ResetAutomation();
    DeletePlotWindows();
    FreeDistributionArrays();
    RoadTest::TearDown();
  }

  // Runs c(s) unattended on the synthetic run and returns "distribution.dat".
  std::string RunUnattended(int threads) {
    WriteRun();
    const std::string out = (dir_ / "out").string();
    const std::string params =
        "<p><AllDoneFlagFile>" + out + "/flag</AllDoneFlagFile><OutputResultsDirectory>" + out +
        "</OutputResultsDirectory><DataDirectory>" + dir_.string() +
        "</DataDirectory><PassThrough></PassThrough><Channel>ra1</Channel><FirstScan>1</FirstScan>"
        "<LastScan>4</LastScan><ScanInterval>1</ScanInterval><Meniscus>5.95</Meniscus>"
        "<MeniscusFitted>FALSE</MeniscusFitted><Bottom>7.2</Bottom><LeftFitLimit>5.97</LeftFitLimit>"
        "<RightFitLimit>7.1</RightFitLimit><Model>cofs</Model><Resolution>40</Resolution>"
        "<Smin>1</Smin><Smax>10</Smax><TINoiseFitted>TRUE</TINoiseFitted><AutoRun>TRUE</AutoRun>"
        "<AutoExit>TRUE</AutoExit><NumberComputationThreads>" +
        std::to_string(threads) + "</NumberComputationThreads></p>";
    const std::string path = (dir_ / "params.xml").string();
    std::ofstream(path) << params;
    std::string handshake = "pipeline", file = path;
    std::vector<char*> args{nullptr, handshake.data(), file.data()};
    TXLAWindow w(nullptr, "Sedimentation Analysis", WindowCommandLine{2, args.data()});
    EXPECT_EQ(platform::QuitExitCode(), kAutomationOk);
    return ReadFile((dir_ / "out" / "distribution.dat").string());
  }
};

}  // namespace

TEST_F(WireThreadCountsTest, TheUnattendedRunSetsBothCountsAndTheDistributionStaysTheSame) {
  const std::string one = RunUnattended(1);
  EXPECT_EQ(LammListThreads(), 1);
  EXPECT_EQ(LammThreadCount(), 1);
  EXPECT_EQ(Conti().normalEquationThreads, 1);
  EXPECT_EQ(Options().LammThreadCount, 1);
  ASSERT_FALSE(one.empty());

  TearDown();
  SetUp();
  const std::string three = RunUnattended(3);
  EXPECT_EQ(LammListThreads(), 3);
  EXPECT_EQ(LammThreadCount(), 3);
  EXPECT_EQ(Conti().normalEquationThreads, 3);
  EXPECT_TRUE(Conti().multipleThreads);
  EXPECT_EQ(three, one);
}

TEST_F(WireThreadCountsTest, ThePreferenceFileAndTheMenuCommandGovernTheLammCount) {
  struct Row {
    const char* line;
    int count;
  };
  for (const Row& row : {Row{"0", 1}, Row{"3", 3}, Row{"2.7", 2}}) {
    std::vector<std::string> lines = {"1",   "0.0010", "0", "0", "0", "0", "0",   "1",
                                      "1",   "1",      "0", "2", "1", "1", row.line, "1.0",
                                      "0",   "99",     "99", "0", "1", "4.000e-01", "1.000e+02", "1"};
    WritePreferences(lines);
    LammListThreads() = LammThreadCount() = 7;
    auto w = MakeWindow();
    EXPECT_EQ(LammListThreads(), row.count) << row.line;
    EXPECT_EQ(LammThreadCount(), row.count) << row.line;
  }

  TXLAWindow& w = Window();
  ui_->ExpectBox("SET PREFERENCE", "Use Multiple Threads?", platform::IDYES);
  ui_->ExpectPrompt("", "number of threads", std::string("2"));
  ui_->ExpectPrompt("", "number of threads for Lamm equations", std::string("0"));
  ui_->ExpectBox("SET PREFERENCE", "save as default setting?", platform::IDNO);
  w.Dispatch(648);
  EXPECT_EQ(LammListThreads(), 1);
  EXPECT_EQ(LammThreadCount(), 1);

  ui_->ExpectBox("SET PREFERENCE", "Use Multiple Threads?", platform::IDYES);
  ui_->ExpectPrompt("", "number of threads", std::string("2"));
  ui_->ExpectPrompt("", "number of threads for Lamm equations", std::string("4"));
  ui_->ExpectBox("SET PREFERENCE", "save as default setting?", platform::IDNO);
  w.Dispatch(648);
  EXPECT_EQ(LammListThreads(), 4);
  EXPECT_EQ(LammThreadCount(), 4);

  ui_->ExpectBox("SET PREFERENCE", "Use Multiple Threads?", platform::IDNO);
  ui_->ExpectBox("SET PREFERENCE", "save as default setting?", platform::IDNO);
  w.Dispatch(648);
  EXPECT_EQ(LammListThreads(), 1);
  EXPECT_EQ(LammThreadCount(), 1);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}
