// The s(M) power-law calibration as the model commands reach it, the
// minimum s of log-spaced grids (command 1107) and the reader of
// boundary-element output (command 885).
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/window/road_services.h"
#include "app_fixture.h"
#include "distributions/conti_grid.h"
#include "distributions/distribution_arrays.h"
#include "distributions/conti_models.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "platform/input_events.h"
#include "plot/adhoc_plot_arrays.h"
#include "plot/cwinplot.h"

namespace {

constexpr const char* kCalibration = "CALIBRATE C(M) POWER LAW";

class HydroCommands : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    Reset();
    WriteAgreedDefaults();
    window_ = MakeWindow();
    ui_->transcript.clear();
  }
  void TearDown() override {
    window_.reset();
    FreeAdHocPlotArrays();
    FreeDistributionArrays();
    platform::ClearInput();
    Reset();
    AppTest::TearDown();
  }
  static void Reset() {
    gModelSelectorFlags = ModelSelectorFlags{};
    gModelParams = ModelParams{};
    gModelParameterVector = ModelParameterVector{};
    gSolutionConditions = SolutionConditions{};
    ContiStore() = ContiModelStore{};
  }
  std::string WriteFile(const std::string& name, const std::string& text) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path) << text;
    return path;
  }
  platform::FileDialogResult Chosen(const std::string& path) { return {true, {path}}; }
  // Runs the calibration with the file's rows; the key press that ends the
  // plot's wait is queued beforehand.
  bool Calibrate(const std::string& rows, int accept) {
    ui_->ExpectBox(kCalibration, "select enter ASCII file", platform::IDYES)
        .ExpectFiles("please locate the calibration file", Chosen(WriteFile("calibration.dat", rows)));
    if (accept) ui_->ExpectBox(kCalibration, "accept?", accept);
    platform::PostKeyDown('x');
    return Road().calibrateCMPowerLaw();
  }
  std::unique_ptr<TXLAWindow> window_;
};

TEST_F(HydroCommands, AcceptedCalibrationGoesToTheModelAndDistributionSettings) {
  ASSERT_TRUE(Road().calibrateCMPowerLaw);
  ASSERT_TRUE(Calibrate("2 20000\n8\t160000\n", platform::IDYES));
  const float ks = 2.71442e-3f, kb = 0.666667f;
  EXPECT_NEAR(gModelParameterVector.P[11], ks, 1e-7);
  EXPECT_NEAR(gModelParameterVector.P[18], kb, 1e-6);
  EXPECT_NEAR(gModelParams.concentration[3], ks, 1e-7);
  EXPECT_NEAR(gModelParams.extra[3], kb, 1e-6);
  EXPECT_NEAR(Conti().scalingKs, ks, 1e-7);
  EXPECT_NEAR(Conti().scalingBs, kb, 1e-6);
  EXPECT_EQ(ui_->transcript.back().text, "ks = 2.714e-03, kb = 6.667e-01\naccept?");
  EXPECT_EQ(CurrentAdHocPlot().adHocPlot, nullptr);  // released on acceptance
  EXPECT_TRUE(ui_->failures.empty());
}

TEST_F(HydroCommands, DeclinedCalibrationLeavesTheModelAndShowsThePlot) {
  EXPECT_FALSE(Calibrate("2 20000\n8 160000\n", platform::IDNO));
  EXPECT_EQ(gModelParameterVector.P[11], 0.0f);
  EXPECT_EQ(Conti().scalingKs, ContiSettings{}.scalingKs);
  ASSERT_NE(CurrentAdHocPlot().adHocPlot, nullptr);
  EXPECT_EQ(CurrentAdHocPlot().adHocPlot->annotation3, "ks = 2.714e-03, kb = 6.667e-01  (press a key to continue...)");
  EXPECT_EQ(CurrentAdHocPlot().adHocCount, 2);
}

TEST_F(HydroCommands, OneRowAsksForTheExponent) {
  ui_->ExpectBox(kCalibration, "select enter ASCII file", platform::IDYES)
      .ExpectFiles("please locate the calibration file", Chosen(WriteFile("calibration.dat", "4 50000\n")))
      .ExpectPrompt("c(M) with scaling law", "scaling exponent:", "0.66")
      .ExpectBox(kCalibration, "accept?", platform::IDYES);
  platform::PostKeyDown();
  ASSERT_TRUE(Road().calibrateCMPowerLaw());
  EXPECT_NEAR(Conti().scalingKs, 3.16767e-3f, 1e-8);
  EXPECT_NEAR(Conti().scalingBs, 0.66f, 1e-7);
}

TEST_F(HydroCommands, RowsWithoutLogarithmAreRefusedNotFitted) {
  // Both rows unusable: nothing is offered for acceptance.
  ui_->ExpectBox(kCalibration, "select enter ASCII file", platform::IDYES)
      .ExpectFiles("please locate the calibration file", Chosen(WriteFile("calibration.dat", "0 20000\n8 -5\n")))
      .ExpectBox(kCalibration, "rows with s or M not above 0 were left out: 1, 2");
  EXPECT_FALSE(Road().calibrateCMPowerLaw());
  // Equal masses cannot give an exponent.
  ui_->ExpectBox(kCalibration, "select enter ASCII file", platform::IDYES)
      .ExpectFiles("please locate the calibration file", Chosen(WriteFile("c2.dat", "2 50000\n3 50000\n")))
      .ExpectBox(kCalibration, "all molar masses of the calibration are equal");
  EXPECT_FALSE(Road().calibrateCMPowerLaw());
  EXPECT_TRUE(std::isfinite(Conti().scalingKs));
  EXPECT_EQ(gModelParameterVector.P[11], 0.0f);
  EXPECT_TRUE(ui_->failures.empty());
  EXPECT_TRUE(ui_->AllConsumed());
}

TEST_F(HydroCommands, MinimumSChangesTheNextLogGridAndIsKeptWhenSwitchedOff) {
  ContiSettings& cs = Conti();
  gModelSelectorFlags.CSModel = 1;
  auto grid = [&] {
    cs.resolution = 100;
    cs.sMin = 0.5f;
    cs.sMax = 12;
    cs.logSpacedGrid = 1;
    // Without scans the work arrays stay unallocated; the grid is built first.
    SetupContiGrid();
    return std::vector<float>(cs.sValues + 1, cs.sValues + 101);
  };
  // It starts on at 10 S, the menu item ticked, and offers that value.
  EXPECT_EQ(cs.useMinimumS, 1);
  EXPECT_EQ(cs.minimumSValue, 10.0f);
  EXPECT_TRUE(window_->Frame().Menu().IsChecked(1107));
  const std::vector<float> atTen = grid();
  EXPECT_NEAR(atTen[1] - atTen[0], atTen[11] - atTen[10], 1e-4);  // linear below 10 S
  cs.useMinimumS = 0;
  const std::vector<float> plain = grid();
  EXPECT_NE(atTen, plain);
  ui_->initialTexts.clear();
  ui_->ExpectBox("DISTRIBUTION OPTIONS", "use minimum s-value for log spaced grids?", platform::IDYES)
      .ExpectPrompt("DISTRIBUTION OPTIONS", "min s-value:", "1.0");
  window_->Dispatch(1107);
  ASSERT_FALSE(ui_->initialTexts.empty());
  EXPECT_EQ(ui_->initialTexts.front(), "10");
  EXPECT_EQ(cs.useMinimumS, 1);
  EXPECT_EQ(cs.minimumSValue, 1.0f);
  EXPECT_TRUE(window_->Frame().Menu().IsChecked(1107));
  EXPECT_NE(grid(), plain);

  ui_->ExpectBox("DISTRIBUTION OPTIONS", "use minimum s-value", platform::IDNO);
  window_->Dispatch(1107);
  EXPECT_EQ(cs.useMinimumS, 0);
  EXPECT_FALSE(window_->Frame().Menu().IsChecked(1107));
  EXPECT_EQ(grid(), plain);
  ui_->ExpectBox("DISTRIBUTION OPTIONS", "use minimum s-value", platform::IDYES)
      .ExpectPrompt("DISTRIBUTION OPTIONS", "min s-value:", std::nullopt);
  window_->Dispatch(1107);
  EXPECT_EQ(cs.minimumSValue, 1.0f);
  EXPECT_EQ(ui_->initialTexts.back(), "1");
  EXPECT_TRUE(ui_->failures.empty());
}

std::string BestText(int records) {
  std::string t;
  for (int i = records; i >= 1; --i) {
    const double N = 500.0 * i;
    char buf[200];
    std::snprintf(buf, sizeof buf, "Number of Surface Patches %d\nDTT(EXACT) = %.7e\n", static_cast<int>(N),
                  1.1e-6 - 2e-5 / N);
    t += buf;
  }
  return t;
}

TEST_F(HydroCommands, BestOutputGivesSAndThePlot) {
  const std::string path = WriteFile("tdat.out", BestText(16));
  ui_->ExpectPrompt("read BEST/BEMINE", "molar mass (Da)", "14305")
      .ExpectPrompt("read BEST/BEMINE", "partial-specific volume (ml/g)", "0.73")
      .ExpectFiles("select filename of BEMINE output", Chosen(path))
      .ExpectBox("read BEST/BEMINE", "found 16 D-values:\n8000 triangles - D = ", platform::IDYES);
  window_->Dispatch(885);
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  const std::string& report = ui_->transcript.back().text;
  EXPECT_NE(report.find("\nextrapolation to 1/N = 0 gives D = 1.100000e-06 cm^2/sec\n"), std::string::npos);
  EXPECT_NE(report.find("this results in an s-value of 1.7514"), std::string::npos);
  const AdHocPlotArrays& a = CurrentAdHocPlot();
  ASSERT_EQ(a.adHocCount, 16);
  EXPECT_FLOAT_EQ(a.adHocArrays[3][1], 0.0f);
  EXPECT_FLOAT_EQ(a.adHocArrays[3][16], 1.1f / 500);
  EXPECT_NEAR(a.adHocArrays[4][1], 11.0f, 1e-4);  // D0 x 1e7
}

TEST_F(HydroCommands, BestRefusalsAndSilentEnds) {
  // Molar mass 0 ends before the file dialog.
  ui_->ExpectPrompt("read BEST/BEMINE", "molar mass (Da)", "0");
  window_->Dispatch(885);
  EXPECT_TRUE(ui_->AllConsumed());
  const std::string empty = WriteFile("empty.out", ""), none = WriteFile("none.out", "nothing here\n");
  const std::pair<std::string, std::string> cases[] = {
      {empty, "Attention: could not read " + empty + " into memory"},
      {none, "no diffusion data found in " + none},
      {(dir_ / "missing").string(), "Attention: could not open " + (dir_ / "missing").string()},
  };
  for (const auto& [file, message] : cases) {
    SCOPED_TRACE(file);
    ui_->ExpectPrompt("read BEST/BEMINE", "molar mass", "1e5")
        .ExpectPrompt("read BEST/BEMINE", "partial-specific", "0.73")
        .ExpectFiles("select filename of BEMINE output", Chosen(file))
        .ExpectBox("Error", message);
    window_->Dispatch(885);
    EXPECT_TRUE(ui_->AllConsumed());
  }
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

}  // namespace
