// The error-surface commands on the synthetic run: the questions, the
// refusals, the critical rmsd from the F ratio and the result box of the
// limit scans, and the grid that the map commands hand over.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <vector>

#include "app/window/main_fit_host.h"
#include "fit/rmsd.h"
#include "numerics/statistics.h"
#include "road_support.h"

namespace {

constexpr const char* kConfirmS =
    "are current parameters best fit? \nuncheck s (first component only), but float all other unknowns";

class ErrorSurfaceCommands : public RoadTest {
 protected:
  // One species at 5 S, D 4 (the run holds 5 S, D 4e-7), run once.
  void OneSpeciesRun() {
    LoadRun(2);
    gFitEngineState.molarMassParameters = 0;
    Window().Dispatch(198);
    forms_.Expect(OneSpeciesForm({.D = "4.0", .cFit = 0}));
    Window().Dispatch(212);
    ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
    Window().Dispatch(213);
    ASSERT_GT(CalcRmsd(), 0.0f);
  }
  static long Points() {
    const ScanSet& ss = CurrentScanSet();
    long n = 0;
    for (int s = 1; s <= ss.count; ++s) n += ss.lastFitPoint[s] - ss.firstFitPoint[s] + 1;
    return n;
  }
};

TEST_F(ErrorSurfaceCommands, ScanFindsLimitsAroundTheBestFitAndRestoresIt) {
  OneSpeciesRun();
  const float rmsd = gFitEngineState.currentRmsd;
  const double n = static_cast<double>(Points());
  const double critical = rmsd * std::sqrt(FRatioForConfidence(0.683, n - 1, n) * n / (n - 1));
  char tail[64];
  std::snprintf(tail, sizeof tail, "S\n(critical rmsd value is %f)", critical);

  ui_->ExpectPrompt("calculate error in s", "confidence level", std::string("0.683"));
  ui_->ExpectPrompt("calculate error in s", "test interval for s", std::string("0.05"));
  ui_->ExpectBox("calculate error in s", kConfirmS, platform::IDYES);
  ui_->ExpectBox("calculate error in s", tail);
  Window().Dispatch(285);
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  ASSERT_TRUE(ui_->AllConsumed());

  const std::string box = ui_->transcript.back().text;
  float value = 0, lower = 0, upper = 0;
  ASSERT_EQ(std::sscanf(box.c_str(), "s = %f [%f, %f] S", &value, &lower, &upper), 3) << box;
  EXPECT_FLOAT_EQ(value, 5.0f);
  EXPECT_LT(lower, 5.0f);
  EXPECT_GT(upper, 5.0f);
  EXPECT_EQ(gModelParameterVector.P[5], 5.0f);
  EXPECT_EQ(gModelParams.s[1], 5.0f);
  EXPECT_EQ(gModelParameterVector.F[5], 0);
  EXPECT_NEAR(gFitEngineState.currentRmsd, rmsd, 1e-7);
  EXPECT_EQ(Headless(Window()).cursor, platform::CursorKind::Arrow);
}

TEST_F(ErrorSurfaceCommands, RefusalsAndTheNoAnswerEndBeforeTheScan) {
  OneSpeciesRun();
  auto& frame = Headless(Window());
  frame.cursor = platform::CursorKind::Cross;
  struct Case {
    const char* level;
    const char* message;  // empty: "No" to the confirmation
  } cases[] = {
      {"1.5", "the confidence level must lie between 0 and 1"},
      {"0.683", ""},
  };
  for (const Case& c : cases) {
    ui_->ExpectPrompt("calculate error in s", "confidence level", std::string(c.level));
    ui_->ExpectPrompt("calculate error in s", "test interval for s", std::string("0.01"));
    if (*c.message)
      ui_->ExpectBox("calculate error in s", c.message);
    else
      ui_->ExpectBox("calculate error in s", kConfirmS, platform::IDNO);
    Window().Dispatch(285);
    EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
    EXPECT_TRUE(ui_->AllConsumed()) << c.level;
    EXPECT_EQ(frame.cursor, platform::CursorKind::Cross) << c.level;
  }
  EXPECT_EQ(gModelParameterVector.F[5], 0);

  // Fewer than two points inside the fit limits.
  CurrentScanSet().lastFitPoint[1] = CurrentScanSet().firstFitPoint[1];
  CurrentScanSet().lastFitPoint[2] = CurrentScanSet().firstFitPoint[2] - 1;
  ui_->ExpectPrompt("calculate error in M", "confidence level", std::string("0.683"));
  ui_->ExpectPrompt("calculate error in M", "test interval for M", std::string("0.01"));
  ui_->ExpectBox("calculate error in M",
                 "are current parameters best fit? \nuncheck M (first component only), but float all other unknowns",
                 platform::IDYES);
  ui_->ExpectBox("calculate error in M", "at least 2 data points inside the fit limits are needed");
  Window().Dispatch(286);
  ExpectScriptMet();
}

TEST_F(ErrorSurfaceCommands, ContourCommandsHandTheirGridToTheMaps) {
  OneSpeciesRun();
  const std::string path = (dir_ / "contour.dat").string();
  ui_->ExpectPrompt("s and M Contour", "minimum s", std::string("4.9"));
  ui_->ExpectPrompt("s and M Contour", "maximum s", std::string("5.1"));
  ui_->ExpectPrompt("s and M Contour", "s increment", std::string("0.1"));
  ui_->ExpectPrompt("s and M Contour", "minimum M", std::string("4"));
  ui_->ExpectPrompt("s and M Contour", "maximum M", std::string("4.5"));
  ui_->ExpectPrompt("s and M Contour", "M increment", std::string("0.5"));
  ui_->ExpectPrompt("s1 and M Contour", "rmsd contour level (0 for all)", std::string("0"));
  ui_->ExpectPrompt("s1 and M Contour", "starting s1", std::string("4.9"));
  ui_->ExpectPrompt("s1 and M Contour", "starting s2", std::string("4"));
  ui_->ExpectFiles("save generated data as", Chosen({path}));
  Window().Dispatch(241);
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  ASSERT_TRUE(ui_->AllConsumed());
  std::istringstream in(ReadFile(path));
  std::vector<std::vector<float>> rows;
  float x, y, r;
  while (in >> x >> y >> r) rows.push_back({x, y, r});
  ASSERT_EQ(rows.size(), 6u);
  // The data hold s = 5, D = 4: the node there fits best.
  const auto best = std::min_element(rows.begin(), rows.end(), [](auto& a, auto& b) { return a[2] < b[2]; });
  EXPECT_NEAR((*best)[0], 5.0f, 1e-5);
  EXPECT_NEAR((*best)[1], 4.0f, 1e-5);
  // Headless, the progress lines reach the status text.
  ASSERT_GE(ui_->statusTexts.size(), 6u);
  EXPECT_EQ(ui_->statusTexts[ui_->statusTexts.size() - 6].rfind("1: (4.90 , 4.00) ", 0), 0u);
  EXPECT_EQ(gModelParameterVector.F[5], 0);
  EXPECT_EQ(Headless(Window()).cursor, platform::CursorKind::Arrow);

  // An increment leading away from the maximum ends the command at once.
  ui_->ExpectPrompt("s1,s2 Contour", "minimum s1", std::string("3"));
  ui_->ExpectPrompt("s1,s2 Contour", "maximum s1", std::string("1"));
  ui_->ExpectPrompt("s1,s2 Contour", "s1 increment", std::string("0.5"));
  Window().Dispatch(244);
  ExpectScriptMet();

  // Without a monomer-dimer or monomer-trimer model "K Contour" does nothing.
  ui_->transcript.clear();
  Window().Dispatch(245);
  EXPECT_TRUE(ui_->transcript.empty());
}

}  // namespace
