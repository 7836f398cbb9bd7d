// The calculators through the window: their prompts, the boxes they show,
// silence on cancel or without scans, and the second moments of a loaded
// run with their step model and clipboard table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "data/scan_grid.h"
#include "data/scan_set.h"
#include "fit/model_params.h"
#include "platform/automatic_ui.h"
#include "platform/clipboard.h"
#include "platform/user_interface.h"
#include "road_support.h"

namespace {

class Calculator : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    platform::SetClipboard(&clipboard_);
  }
  void TearDown() override {
    platform::SetClipboard(nullptr);
    RoadTest::TearDown();
  }

  // The synthetic 5 S run, its meniscus and fit limits 6.0 .. 7.1 cm.
  void LoadVelocityRun(int scans) {
    LoadRun(scans);
    gModelParams.meniscus = gModelParameterVector.P[13] = 5.95f;
    gModelParams.bottom = gModelParameterVector.P[14] = 7.2f;
    CurrentScanSet().leftFitLimit = 6.0f;
    CurrentScanSet().rightFitLimit = 7.1f;
    CheckLeftFitLimit();
    CheckRightFitLimit();
    ui_->failures.clear();
  }

  const platform::TranscriptEntry& LastBox() const { return ui_->transcript.back(); }
  double After(const std::string& label) const {
    const std::string& t = LastBox().text;
    const size_t at = t.find(label);
    EXPECT_NE(at, std::string::npos) << t;
    return at == std::string::npos ? NAN : std::strtod(t.c_str() + at + label.size(), nullptr);
  }

  platform::MemoryClipboard clipboard_;
};

TEST_F(Calculator, EllipsoidAsksItsThreeNumbersAndAnswers) {
  Conti().ffValue = 1.2f;
  gSolutionConditions.hydration = 0.3f;
  constexpr const char* kCaption = "CALCULATE SHAPE FROM AXIAL RATIOS";
  ui_->ExpectPrompt(kCaption, "enter frictional ratio", "1.2")
      .ExpectPrompt(kCaption, "enter partial specific volume (ml/g)", "0.73")
      .ExpectPrompt(kCaption, "enter hydration (g/g)", "0.3")
      .ExpectBox(kCaption, "a/b(oblate)=2.45\n a/b(prolate)=2.38");
  Window().Dispatch(547);
  ExpectScriptMet();
  // The defaults offered were the current settings.
  EXPECT_EQ(ui_->initialTexts[0], "1.200000");
  EXPECT_EQ(ui_->initialTexts[2], "0.300000");
}

TEST_F(Calculator, CancelledPromptsAndMissingScansEndSilently) {
  ui_->ExpectPrompt("", "enter frictional ratio", "1.2")
      .ExpectPrompt("", "enter partial specific volume", "0.73")
      .ExpectPrompt("", "enter hydration", std::nullopt);
  Window().Dispatch(547);
  ui_->ExpectPrompt("", "enter s-value [S]", std::nullopt);
  Window().Dispatch(831);
  for (int id : {463, 461, 545, 462}) Window().Dispatch(id);  // no scans: nothing at all
  ExpectScriptMet();
  EXPECT_EQ(std::count_if(ui_->transcript.begin(), ui_->transcript.end(),
                          [](const auto& e) { return e.kind == platform::InteractionKind::MessageBox; }),
            0);
}

TEST_F(Calculator, PressureAndDilutionOfTheLoadedRun) {
  LoadVelocityRun(4);
  CurrentScanSet().rightFitLimit = 0;
  ui_->ExpectBox("ERROR", "Set Fitting Limits First");
  Window().Dispatch(461);
  CurrentScanSet().rightFitLimit = 7.1f;
  gSolutionConditions.density = 1.0f;
  gModelParams.meniscus = 6.0f;
  ui_->ExpectBox("", "pressure at the bottom is 217.131 bar\npressure in the middle of the solution column is "
                     "103.631 bar");
  Window().Dispatch(463);
  // The last scan is at 3000 s: the plateau has fallen to exp(-2 w^2 s t).
  ui_->ExpectPrompt("CALCULATE RADIAL DILUTION", "", "5").ExpectBox("CALCULATE RADIAL DILUTION", "");
  Window().Dispatch(461);
  const double x = std::pow(50000 * M_PI / 30, 2) * 5e-13 * 3000;
  EXPECT_NEAR(After("last scan to "), 100 * std::exp(-2 * x), 2e-3);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

TEST_F(Calculator, SecondMomentsOfTheLoadedRun) {
  LoadVelocityRun(5);
  ui_->ExpectBox("CALCULATE SW BY SECOND MOMENT", "subtract all systematic noise")
      .ExpectBox("CALCULATE SW BY SECOND MOMENT", "sw = ");
  Window().Dispatch(545);
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_NEAR(After("sw = "), 5.0, 0.05);
  EXPECT_NEAR(After("calculated loading concentration is "), 1.0, 0.005);
  // n - 1 rows in time order.
  EXPECT_EQ(std::count(clipboard_.text.begin(), clipboard_.text.end(), '\n'), 4);
  EXPECT_EQ(clipboard_.text.rfind("1200\t", 0), 0u) << clipboard_.text;
  // The step model: 0 before the boundary, the diluted plateau after it.
  const ScanSet& s = CurrentScanSet();
  const int k = 1;
  EXPECT_EQ(s.model[k][1], 0.0f);
  const double plateau = std::exp(-2 * std::pow(50000 * M_PI / 30, 2) * 5e-13 * 1200);
  EXPECT_NEAR(s.model[k][s.points[k]], plateau, 0.005);

  ui_->ExpectBox("CALCULATE SW BY SECOND MOMENT", "").ExpectBox("CALCULATE SW BY SECOND MOMENT", "each integrated");
  Window().Dispatch(462);
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_NEAR(After("sw = "), 5.0, 0.05);
  EXPECT_EQ(std::count(clipboard_.text.begin(), clipboard_.text.end(), '\n'), 5);
}

TEST_F(Calculator, ScansTakenAtOneTimeHaveNoDifferentialMoment) {
  LoadVelocityRun(3);
  ScanSet& s = CurrentScanSet();
  s.records[s.order[2]].timeRead = s.records[s.order[1]].timeRead;
  ui_->ExpectBox("CALCULATE SW BY SECOND MOMENT", "subtract")
      .ExpectBox("CALCULATE SW BY SECOND MOMENT", "scans 1 and 2 have the same elapsed time");
  Window().Dispatch(545);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_TRUE(clipboard_.text.empty());
}

constexpr const char* kProtein = "CALCULATE VBAR, EXT280 AND DNDC FROM SEQUENCE";

TEST_F(Calculator, ProteinSequenceFromTheEditor) {
  gSolutionConditions.temperature = 293.15f;
  ui_->ExpectEditor("acdc bz")
      .ExpectBox(kProtein, "found B in sequence")
      .ExpectBox(kProtein, "found Z in sequence")
      .ExpectPrompt(kProtein, "percent cysteines in disulfide bond", "100")
      .ExpectPrompt(kProtein, "enter temperature (C)", "20")
      .ExpectPrompt(kProtein, "enter refractive index of buffer at 25 C", "1.334")
      .ExpectPrompt(kProtein, "enter wavelength (nm)", "580")
      .ExpectBox(kProtein, "6 amino acids read:\n");
  Window().Dispatch(895);
  ExpectScriptMet();
  EXPECT_EQ(ui_->initialTexts[0], "");  // the instructions are a placeholder, not text
  EXPECT_EQ(ui_->initialTexts[1], "50");
  EXPECT_EQ(ui_->initialTexts[2], "20");
}

TEST_F(Calculator, ProteinWindowCancelledEmptyOrWithOneCysteine) {
  ui_->ExpectEditor(std::nullopt);
  Window().Dispatch(895);
  ui_->ExpectEditor("12 -- \n").ExpectBox(kProtein, "no amino acids found");
  Window().Dispatch(895);
  // One cysteine cannot bridge: no question, and the reduced mass.
  ui_->ExpectEditor("GCG")
      .ExpectPrompt(kProtein, "enter temperature (C)", "20")
      .ExpectPrompt(kProtein, "enter refractive index", "1.334")
      .ExpectPrompt(kProtein, "enter wavelength", "580")
      .ExpectBox(kProtein, "3 amino acids read:\nmass = 235.2 Da\nmolar extinction coefficient: 0 OD280");
  Window().Dispatch(895);
  ExpectScriptMet();
}

TEST_F(Calculator, S20wKeepsTheVbarAt20AndConvertsMoreValues) {
  constexpr const char* kAsk = "CALCULATE s(xp) TO s(20,w)";
  constexpr const char* kShow = "CALCULATE s(xp) TO s(20,w)";
  ui_->ExpectPrompt(kAsk, "enter experimental s-value", "5")
      .ExpectPrompt(kAsk, "partial specific volume at (xp)", "0.73")
      .ExpectPrompt(kAsk, "enter partial specific volume at (20,w)", "0.74")
      .ExpectPrompt(kAsk, "enter buffer density", "1.0")
      .ExpectPrompt(kAsk, "enter absolute viscosity (Poise)", "0.01002")
      .ExpectBox(kShow, "s(xp) of 5.000 S converts to s(20,w) = 4.839 ")
      .ExpectBox("", "transform another s-value under same conditions?", platform::IDYES)
      .ExpectPrompt(kAsk, "enter experimental s-value", "10")
      .ExpectBox(kShow, "s(xp) of 10.000 S converts to s(20,w) = 9.678 ")
      .ExpectBox("", "transform another s-value", platform::IDNO);
  Window().Dispatch(582);
  ExpectScriptMet();
  EXPECT_FLOAT_EQ(gSolutionConditions.vbar20, 0.74f);
  // A buffer the particle floats in has no s(20,w).
  ui_->ExpectPrompt(kAsk, "", "5").ExpectPrompt(kAsk, "", "0.8").ExpectPrompt(kAsk, "", "0.73")
      .ExpectPrompt(kAsk, "", "1.3").ExpectPrompt(kAsk, "", "0.01002").ExpectBox(kShow, "no s(20,w)");
  Window().Dispatch(582);
  ExpectScriptMet();
}

TEST_F(Calculator, VarianceRatioCountsThePointsInsideTheFitLimits) {
  LoadVelocityRun(3);
  gFitEngineState.currentRmsd = 0.01f;
  const ScanSet& s = CurrentScanSet();
  int points = 0;
  for (int k = 1; k <= 3; ++k) points += s.lastFitPoint[k] - s.firstFitPoint[k] + 1;
  ui_->ExpectPrompt("CALCULATE SOSQ RATIO", "enter desired confidence level", "0.683")
      .ExpectPrompt("CALCULATE SOSQ RATIO", "enter first degree of freedom", "10")
      .ExpectPrompt("CALCULATE SOSQ RATIO", "enter second degree of freedom", "10")
      .ExpectBox("CALCULATE SOSQ RATIO", "at a 68.3% confidence level (n1=10, n2=10) is 1.36")
      .ExpectBox("CALCULATE SOSQ RATIO", "for current rmsd (0.010000): critical value is 0.0116");
  Window().Dispatch(272);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_EQ(ui_->initialTexts[1], std::to_string(points));  // a count, offered as one
  EXPECT_EQ(points, 3 * 111);  // 6.00 .. 7.10 cm every 0.01 cm
}

TEST_F(Calculator, BroadeningAsksForTheCellOnlyWhenTheModelHasNone) {
  constexpr const char* kCaption = "BOUNDARY BROADENING ANALYSIS";
  struct Case {
    float meniscus, bottom;
    std::vector<std::string> offered;  // meniscus and bottom prompts, when asked
  } cases[] = {{0, 0, {"6.200000", "7.200000"}}, {0, 7.0f, {"6.200000", "7"}}, {6.1f, 7.1f, {}}};
  for (const Case& c : cases) {
    gModelParams.meniscus = c.meniscus;
    gModelParams.bottom = c.bottom;
    ui_->initialTexts.clear();
    if (!c.offered.empty())
      ui_->ExpectPrompt(kCaption, "enter meniscus (cm)", "6.0").ExpectPrompt(kCaption, "enter bottom (cm)", "7.2");
    ui_->ExpectPrompt(kCaption, "enter rotor speed (rpm)", std::nullopt);
    Window().Dispatch(889);
    EXPECT_TRUE(ui_->AllConsumed()) << c.meniscus;
    for (size_t i = 0; i < c.offered.size(); ++i) EXPECT_EQ(ui_->initialTexts[i], c.offered[i]);
  }
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

TEST_F(Calculator, HeadlessProteinWindowGivesNoText) {
  platform::AutomaticUserInterface automatic;
  platform::ScopedUI scope(automatic);
  Window().Dispatch(895);
  const std::vector<std::string> log = automatic.Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], std::string("[") + kProtein + "] editor -> (cancel)");
}

}  // namespace
