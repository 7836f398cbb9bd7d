// ls-g*(s) and its variants chosen from the Model menu and run through the
// window, interactively and unattended.
#include "distributions/model_entries.h"
#include "app/wiring/automation_window.h"
#include "automation/automation_run.h"
#include "data/rotor_speed_profile.h"
#include "distributions/conti_settings.h"
#include "plot/plot_window_set.h"
#include "automation_road_fixture.h"
#include "road_support.h"

namespace {

class ModelLsg : public RoadTest {
 protected:
  void TearDown() override {
    CurrentSpeedProfile.Clear();
    RoadTest::TearDown();
  }
  // The synthetic 5 S boundary, with meniscus and bottom once a model is chosen.
  void Load() {
    const auto paths = WriteRun(".ra1", 4);
    Window();
    ASSERT_TRUE(LoadAllData(PickedFiles(dir_, paths)));
    gFitEngineState.fitTINoise = 0;
  }
  static void SetCell() {
    gModelParams.meniscus = 5.95f;
    gModelParams.bottom = 7.18f;
    PackModelParameters();
  }
  static float PeakOfDistribution() {
    const ContiSettings& cs = Conti();
    const int peak = PeakIndex(cs);
    return cs.sValues[peak];
  }
  static float P(int i) { return gModelParameterVector.P[i]; }
};

TEST_F(ModelLsg, RunOfTheMenuChoicePeaksAtTheSOfTheBoundary) {
  Load();
  ui_->ExpectBox("ls-g(s)", "Please Note: Switching now to Tikhonov-Phillips Regularization");
  ui_->ExpectBox("", "switching on times from w^2t option");
  Window().Dispatch(288);
  const ModelSelectorFlags& m = gModelSelectorFlags;
  EXPECT_EQ(m.DistributionModel + m.LsgStarModel + m.CSModel + m.TimesFromW2tByModel, 4);
  EXPECT_EQ(LammSettings().timesFromW2t, 1);
  EXPECT_EQ(Conti().secondDerivative, 1);
  EXPECT_TRUE(Window().IsMenuItemChecked(288));
  EXPECT_TRUE(Window().IsMenuItemChecked(294));
  EXPECT_FALSE(Window().IsMenuItemChecked(295));
  EXPECT_EQ((std::vector<float>{P(1), P(5), P(9), Conti().confidenceLevel}),
            (std::vector<float>{1, 20, 100, 0.683f}));

  SetCell();
  Window().Dispatch(213);
  ASSERT_NE(Conti().distribution, nullptr);
  EXPECT_NEAR(PeakOfDistribution(), 5.0, 0.4);  // grid step 0.19 S
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();

  // The next model takes back the scan times that ls-g*(s) switched on.
  ui_->ExpectBox("", "switching off times from w^2t option");
  Window().Dispatch(198);
  EXPECT_EQ(LammSettings().timesFromW2t + m.TimesFromW2tByModel, 0);
  EXPECT_FALSE(Window().IsMenuItemChecked(288));
  EXPECT_TRUE(ui_->AllConsumed());
}

TEST_F(ModelLsg, MultiSpeedDataAndUnattendedRunsChooseSilently) {
  Window();
  CommandLineState().AutomationMode = 1;
  Window().Dispatch(288);
  EXPECT_TRUE(ui_->transcript.empty());
  EXPECT_EQ(Conti().secondDerivative, 1);
  EXPECT_EQ(gModelSelectorFlags.TimesFromW2tByModel, 1);

  CommandLineState().AutomationMode = 0;
  auto profile = std::make_unique<CRotorSpeedProfile>();
  const float start[] = {0, 0, 3000}, rpm[] = {0, 10000, 50000}, ramp[] = {0, 200, 200};
  profile->SetSteps(2, start, rpm, ramp);
  CurrentSpeedProfile.Replace(std::move(profile));
  ASSERT_TRUE(CurrentSpeedProfile.Active());
  Conti().maxEntropy = 1;
  Conti().secondDerivative = 0;
  ui_->lenient = true;
  // Chosen again it is the model already selected: with the single-speed
  // entries kept, the multi-speed start is that of a first choice.
  Window().Dispatch(198);
  ModelEntries() = ModelEntryBook{};
  Window().Dispatch(288);
  // The scan times went off with the model; multi-speed data keep them off.
  EXPECT_EQ(LammSettings().timesFromW2t, 0);
  for (const auto& t : ui_->transcript) EXPECT_EQ(t.text.find("Tikhonov"), std::string::npos);
  EXPECT_EQ((std::vector<float>{P(1), P(5), Conti().confidenceLevel}), (std::vector<float>{100, 100000, 0.95f}));
  EXPECT_EQ(gModelParams.meniscusFit, 1);
  EXPECT_EQ(Conti().secondDerivative, 1);
}

TEST_F(ModelLsg, TheVariantsTakeTheDiscreteStartValuesAndRun) {
  Load();
  for (int id : {539, 950}) {
    SCOPED_TRACE(id);
    Conti().discreteM = 420.0f;
    Conti().discreteS = 0.5f;
    ui_->lenient = true;
    Window().Dispatch(id);
    EXPECT_EQ(P(10), 420.0f);
    EXPECT_EQ(P(6), 0.5f);
    EXPECT_TRUE(Window().IsMenuItemChecked(id));
    EXPECT_FALSE(Window().IsMenuItemChecked(235));
    SetCell();
    ui_->lenient = false;
    Window().Dispatch(213);
    EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
    ASSERT_NE(Conti().distribution, nullptr);
    EXPECT_NEAR(PeakOfDistribution(), 5.0, 0.4);
  }
  const ModelSelectorFlags& m = gModelSelectorFlags;
  EXPECT_EQ(m.HybridCSLsgModel, 1);
  EXPECT_EQ(m.LsgStarWith1DiscreteModel + m.BimodalFF0With1DiscreteCSModel, 0);
  EXPECT_FALSE(Window().IsMenuItemChecked(870));
  EXPECT_FLOAT_EQ(P(9), 101);
  // The hybrid once chosen stays as it is.
  gModelParameterVector.P[9] = 60;
  ui_->transcript.clear();
  Window().Dispatch(950);
  EXPECT_TRUE(ui_->transcript.empty());
  EXPECT_FLOAT_EQ(P(9), 60);
}

class UnattendedLsg : public AutomationRoadTest {};

TEST_F(UnattendedLsg, RunOfLsgofsCompletesWithItsPeakAtTheTrueS) {
  WriteRun();
  const std::string out = (dir_ / "out").string();
  std::string handshake = "lsg", path = (dir_ / "params.xml").string();
  std::ofstream(path) << "<p><AllDoneFlagFile>" + out + "/flag</AllDoneFlagFile><OutputResultsDirectory>" + out +
                             "</OutputResultsDirectory><DataDirectory>" + dir_.string() +
                             "</DataDirectory><PassThrough></PassThrough><Channel>ra1</Channel>"
                             "<FirstScan>1</FirstScan><LastScan>4</LastScan><ScanInterval>1</ScanInterval>"
                             "<Meniscus>5.95</Meniscus><Bottom>7.2</Bottom><LeftFitLimit>5.97</LeftFitLimit>"
                             "<RightFitLimit>7.1</RightFitLimit><Model>lsgofs</Model><Resolution>60</Resolution>"
                             "<Smin>1</Smin><Smax>12</Smax><TINoiseFitted>FALSE</TINoiseFitted>"
                             "<AutoRun>TRUE</AutoRun><AutoExit>TRUE</AutoExit></p>";
  std::vector<char*> args = {nullptr, handshake.data(), path.data()};
  auto w = std::make_unique<TXLAWindow>(nullptr, "Sedimentation Analysis", WindowCommandLine{2, args.data()});
  EXPECT_TRUE(platform::QuitRequested());
  EXPECT_EQ(platform::QuitExitCode(), kAutomationOk);
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
