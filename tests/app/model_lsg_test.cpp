// ls-g*(s) and its variants chosen from the Model menu and run through the
// window, interactively and unattended.
#include "app/automation_window.h"
#include "automation/automation_run.h"
#include "data/rotor_speed_profile.h"
#include "distributions/conti_settings.h"
#include "plot/plot_window_set.h"
#include "road_support.h"

namespace {

class ModelLsg : public RoadTest {
 protected:
  void TearDown() override {
    CurrentSpeedProfile.Clear();
    RoadTest::TearDown();
  }
  void Load() {
    const auto paths = WriteRun(".ra1", 4);
    std::vector<std::string> names;
    for (const auto& p : paths) names.push_back(std::filesystem::path(p).filename().string());
    Window();
    ASSERT_TRUE(LoadAllData(MakeSelection(dir_.string(), names)));
    gFitEngineState.fitTINoise = 0;
  }
  static float PeakOfDistribution() {
    const ContiSettings& cs = Conti();
    int peak = 1;
    for (int i = 1; i <= cs.gridSize; ++i)
      if (cs.distribution[i] > cs.distribution[peak]) peak = i;
    return cs.sValues[peak];
  }
  float P(int i) const { return gModelParameterVector.P[i]; }
};

TEST_F(ModelLsg, RunOfTheMenuChoicePeaksAtTheSOfTheBoundary) {
  Load();
  ui_->ExpectBox("ls-g(s)", "Please Note: Switching now to Tikhonov-Phillips Regularization");
  ui_->ExpectBox("", "switching on times from w^2t option");
  Window().Dispatch(288);
  const ModelSelectorFlags& m = gModelSelectorFlags;
  EXPECT_EQ(m.DistributionModel, 1);
  EXPECT_EQ(m.LsgStarModel, 1);
  EXPECT_EQ(m.CSModel, 1);
  EXPECT_EQ(m.TimesFromW2tByModel, 1);
  EXPECT_EQ(LammSettings().timesFromW2t, 1);
  EXPECT_EQ(Conti().secondDerivative, 1);
  EXPECT_EQ(Conti().maxEntropy, 0);
  EXPECT_TRUE(Window().IsMenuItemChecked(288));
  EXPECT_TRUE(Window().IsMenuItemChecked(294));
  EXPECT_FALSE(Window().IsMenuItemChecked(295));
  EXPECT_FLOAT_EQ(P(1), 1);
  EXPECT_FLOAT_EQ(P(5), 20);
  EXPECT_FLOAT_EQ(P(9), 100);
  EXPECT_FLOAT_EQ(Conti().confidenceLevel, 0.683f);
  EXPECT_EQ(ChooseParamsTemplate(), 319);

  gModelParams.meniscus = 5.95f;
  gModelParams.bottom = 7.18f;
  PackModelParameters();
  Window().Dispatch(213);
  ASSERT_NE(Conti().distribution, nullptr);
  ASSERT_GT(Conti().gridSize, 50);
  // The synthetic boundary moves at 5 S; g*(s) on a 0.19 S grid.
  EXPECT_NEAR(PeakOfDistribution(), 5.0, 0.4);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();

  // The next model takes back the scan times that ls-g*(s) switched on.
  ui_->ExpectBox("", "switching off times from w^2t option");
  Window().Dispatch(198);
  EXPECT_EQ(LammSettings().timesFromW2t, 0);
  EXPECT_EQ(m.TimesFromW2tByModel, 0);
  EXPECT_FALSE(Window().IsMenuItemChecked(288));
  EXPECT_TRUE(ui_->AllConsumed());
}

TEST_F(ModelLsg, MultiSpeedDataWidenTheRangeFloatTheMeniscusAndKeepTheTimes) {
  auto profile = std::make_unique<CRotorSpeedProfile>();
  const float start[] = {0, 0, 3000}, rpm[] = {0, 10000, 50000}, ramp[] = {0, 200, 200};
  profile->SetSteps(2, start, rpm, ramp);
  CurrentSpeedProfile.Replace(std::move(profile));
  ASSERT_TRUE(CurrentSpeedProfile.Active());
  Window().Dispatch(288);
  EXPECT_TRUE(ui_->transcript.empty());  // no note, no scan-time switch
  EXPECT_FLOAT_EQ(P(1), 100);
  EXPECT_FLOAT_EQ(P(5), 100000);
  EXPECT_FLOAT_EQ(Conti().confidenceLevel, 0.95f);
  EXPECT_EQ(gModelParameterVector.F[13], 1);
  EXPECT_EQ(gModelParams.meniscusFit, 1);
  EXPECT_EQ(LammSettings().timesFromW2t, 0);
  EXPECT_EQ(Conti().secondDerivative, 1);
}

TEST_F(ModelLsg, UnattendedChoiceSaysNothingAndStillSwitchesToTikhonovPhillips) {
  Window();
  CommandLineState().AutomationMode = 1;
  Window().Dispatch(288);
  EXPECT_TRUE(ui_->transcript.empty());
  EXPECT_EQ(Conti().secondDerivative, 1);
  EXPECT_EQ(gModelSelectorFlags.TimesFromW2tByModel, 1);
}

TEST_F(ModelLsg, OneDiscreteComponentAndTheHybridTakeTheDiscreteStartValues) {
  Window();
  Conti().discreteM = 420.0f;
  Conti().discreteS = 0.5f;
  ui_->lenient = true;
  Window().Dispatch(539);
  const ModelSelectorFlags& m = gModelSelectorFlags;
  EXPECT_EQ(m.LsgStarWith1DiscreteModel, 1);
  EXPECT_EQ(m.CSModel, 1);
  EXPECT_EQ(m.TimesFromW2tByModel, 0);  // switched on, but not as the model's own
  EXPECT_EQ(LammSettings().timesFromW2t, 1);
  EXPECT_FLOAT_EQ(P(10), 420.0f);
  EXPECT_FLOAT_EQ(P(6), 0.5f);
  EXPECT_TRUE(Window().IsMenuItemChecked(539));
  EXPECT_FALSE(Window().IsMenuItemChecked(235));
  EXPECT_EQ(ChooseParamsTemplate(), 538);

  ui_->transcript.clear();
  gModelParameterVector.F[10] = 1;
  Window().Dispatch(950);
  EXPECT_EQ(m.HybridCSLsgModel, 1);
  EXPECT_EQ(m.LsgStarWith1DiscreteModel, 0);
  EXPECT_EQ(m.BimodalFF0With1DiscreteCSModel, 0);
  EXPECT_EQ(m.DistributionModel, 1);
  EXPECT_FLOAT_EQ(P(9), 101);
  EXPECT_FLOAT_EQ(P(10), 420.0f);
  EXPECT_FLOAT_EQ(P(6), 0.5f);
  EXPECT_EQ(gModelParameterVector.F[10], 0);
  EXPECT_EQ(Conti().secondDerivative, 1);
  for (int item : {539, 870, 235, 275}) EXPECT_FALSE(Window().IsMenuItemChecked(item)) << item;
  EXPECT_TRUE(Window().IsMenuItemChecked(950));
  // Its regularisation notes are the hybrid's business: none on one-speed data.
  for (const auto& t : ui_->transcript) EXPECT_EQ(t.text.find("Regularization"), std::string::npos) << t.text;

  ui_->transcript.clear();
  gModelParameterVector.P[2 * kComponentSlots + 1] = 60;
  Window().Dispatch(950);  // on already: nothing changes
  EXPECT_TRUE(ui_->transcript.empty());
  EXPECT_FLOAT_EQ(P(9), 60);
}

TEST_F(ModelLsg, TheVariantsRunOnTheSameBoundary) {
  for (int id : {539, 950}) {
    SCOPED_TRACE(id);
    gModelSelectorFlags = ModelSelectorFlags{};
    Load();
    ui_->lenient = true;
    Window().Dispatch(id);
    gModelParams.meniscus = 5.95f;
    gModelParams.bottom = 7.18f;
    PackModelParameters();
    ui_->lenient = false;
    Window().Dispatch(213);
    EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
    ASSERT_NE(Conti().distribution, nullptr);
    EXPECT_NEAR(PeakOfDistribution(), 5.0, 0.4);
    FreeScanData();
  }
}

class UnattendedLsg : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    InstallAutomationServices(Services());
    SetAutomationWait([](int) {});
  }
  void TearDown() override {
    SetAutomationWait({});
    ResetAutomation();
    DeletePlotWindows();
    RoadTest::TearDown();
  }
  std::string handshake_ = "lsg", path_;
  std::vector<char*> args_;
};

TEST_F(UnattendedLsg, RunOfLsgofsCompletesWithItsPeakAtTheTrueS) {
  WriteRun();
  const std::string out = (dir_ / "out").string();
  path_ = (dir_ / "params.xml").string();
  std::ofstream(path_) << "<p><AllDoneFlagFile>" + out + "/flag</AllDoneFlagFile><OutputResultsDirectory>" + out +
                              "</OutputResultsDirectory><DataDirectory>" + dir_.string() +
                              "</DataDirectory><PassThrough></PassThrough><Channel>ra1</Channel>"
                              "<FirstScan>1</FirstScan><LastScan>4</LastScan><ScanInterval>1</ScanInterval>"
                              "<Meniscus>5.95</Meniscus><MeniscusFitted>FALSE</MeniscusFitted><Bottom>7.2</Bottom>"
                              "<LeftFitLimit>5.97</LeftFitLimit><RightFitLimit>7.1</RightFitLimit>"
                              "<Model>lsgofs</Model><Resolution>60</Resolution><Smin>1</Smin><Smax>12</Smax>"
                              "<TINoiseFitted>FALSE</TINoiseFitted><AutoRun>TRUE</AutoRun>"
                              "<AutoExit>TRUE</AutoExit></p>";
  args_ = {nullptr, handshake_.data(), path_.data()};
  auto w = std::make_unique<TXLAWindow>(nullptr, "Sedimentation Analysis", WindowCommandLine{2, args_.data()});
  EXPECT_TRUE(platform::QuitRequested());
  EXPECT_EQ(platform::QuitExitCode(), kAutomationOk);
  EXPECT_EQ(gModelSelectorFlags.LsgStarModel, 1);
  EXPECT_EQ(ReadFile(out + "/flag"), "lsg");
  EXPECT_NE(ReadFile(out + "/ResultParameters.xml").find("<Model>lsgofs</Model>"), std::string::npos);
  std::istringstream in(ReadFile(out + "/distribution.dat"));
  double s, c, peakS = 0, peakC = -1;
  int points = 0;
  while (in >> s >> c) {
    ++points;
    if (c > peakC) peakC = c, peakS = s;
  }
  EXPECT_EQ(points, 60);
  EXPECT_NEAR(peakS, 5.0, 0.3);
}

}  // namespace
