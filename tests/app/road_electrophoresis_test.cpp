// Electrophoresis from the window: scans read as electrophoresis data by
// the fluorescence tools' reload, two species made by the discrete
// electrophoresis model, then c(v) and ls-g*(v) run and fit on them.
#include <cmath>
#include <random>

#include "distributions/conti_settings.h"
#include "data/scan_grid.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_report.h"
#include "fit/model_params.h"
#include "road_support.h"

namespace {

class RoadElectrophoresis : public RoadTest {
 protected:
  // Electrophoresis scan files: header "R 0 t 532 2 0", rows of radius,
  // light intensity (1000 for no absorbance) and a third value.
  std::vector<std::string> WriteElectrophoresisRun(int scans) {
    std::vector<std::string> paths;
    for (int k = 1; k <= scans; ++k) {
      char name[32];
      std::snprintf(name, sizeof name, "%05d.ra1", k);
      const std::string path = (dir_ / name).string();
      std::string text = "electrophoresis run\n";
      char line[96];
      std::snprintf(line, sizeof line, "R 0 %d 532 2 0\n", 90 + 40 * (k - 1));
      text += line;
      for (int j = 0; j < 240; ++j) {
        std::snprintf(line, sizeof line, "%1.4f %1.5e 0\n", 6.0 + 0.0025 * j, 1000.0);
        text += line;
      }
      std::ofstream(path) << text;
      paths.push_back(path);
    }
    return paths;
  }

  void Parameters(std::vector<std::pair<int, std::string>> texts, std::vector<std::pair<int, int>> states) {
    forms_.Expect({"", std::move(texts), std::move(states)});
    Window().Dispatch(212);
    ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  }

  // Mean velocity and area of the distribution between two velocities.
  static std::pair<double, double> Peak(double from, double to) {
    const ContiSettings& cs = Conti();
    double area = 0, mean = 0;
    for (int i = 1; i < cs.gridSize; ++i) {
      const double x0 = cs.sValues[i], x1 = cs.sValues[i + 1];
      if (x0 < from || x1 > to) continue;
      const double a = 0.5 * (cs.distribution[i] + cs.distribution[i + 1]) * (x1 - x0);
      area += a;
      mean += a * 0.5 * (x0 + x1);
    }
    return {area > 0 ? mean / area : 0, area};
  }
};

}  // namespace

TEST_F(RoadElectrophoresis, CvAndLsgvRunAndFitOnScansOfTheDiscreteModel) {
  const auto paths = WriteElectrophoresisRun(10);
  gFitEngineState.molarMassParameters = 0;
  // A cancelled choice leaves the data in memory as they were.
  ui_->ExpectFiles("select files to fit", platform::FileDialogResult{});
  Window().Dispatch(290);
  EXPECT_EQ(CurrentDataTypeFlags().electrophoresis, 0);
  ui_->ExpectFiles("select files to fit", Chosen(paths));
  ui_->ExpectPrompt("LOAD FILES", "load every n'th file:", std::string("1"));
  Window().Dispatch(290);
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  ScanSet& s = CurrentScanSet();
  ASSERT_EQ(s.count, 10);
  EXPECT_EQ(CurrentDataTypeFlags().electrophoresis, 1);
  EXPECT_EQ(s.records[3].timeRead, 170.0);
  EXPECT_EQ(gModelSelectorFlags.ElectrophoresisLammModel, 1);
  EXPECT_TRUE(Window().IsMenuItemChecked(291));

  // Two species, 4 and 10 um/s, D 5e-7 cm^2/s, signals 0.4 and 0.6 (the
  // second field is a fraction of the first), in a column of 0.6 cm.
  Parameters({{405, "1.0"}, {406, "5.0"}, {407, "4.0"}, {412, "0.6"}, {413, "5.0"}, {414, "10.0"},
              {435, "6.0000"}, {437, "0.6000"}, {433, "0"}},
             {{401, 1}, {408, 1}, {415, 0}, {422, 0}, {402, 0}, {403, 0}, {404, 0}, {409, 0}, {410, 0},
              {411, 0}, {431, 0}, {455, 0}, {432, 0}, {434, 0}, {436, 0}});
  Window().Dispatch(213);
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  std::mt19937 gen(5);
  std::normal_distribution<float> noise(0.0f, 0.003f);
  // Both boundaries have left the meniscus: the plateau beyond them is the total.
  const int last = s.order[s.count];
  EXPECT_NEAR(s.model[last][210], 1.0, 0.01);  // 6.525 cm
  EXPECT_NEAR(s.model[last][121], 0.4, 0.01);  // 6.3 cm, between the boundaries
  for (int j = 1; j <= s.count; ++j)
    for (int p = 1; p <= s.points[j]; ++p) s.signals[j][p] = s.model[j][p] + noise(gen);
  PrepareScanGrid();

  // The fit range ends before the species piling up at the bottom.
  s.leftFitLimit = 6.02f;
  s.rightFitLimit = 6.5f;
  CheckLeftFitLimit();
  CheckRightFitLimit();

  // c(v): grid 1-20 um/s of 50 points, constant D 5; its third field is
  // not a vbar, and the box beside it does not take the grid from a file.
  const float vbar = gSolutionConditions.vbar;
  Window().Dispatch(513);
  EXPECT_TRUE(Window().IsMenuItemChecked(513));
  Parameters({{405, "50"}, {406, "1"}, {407, "20"}, {413, "0.683"}, {420, "5"}, {435, "6.0000"}, {437, "0.6000"}},
             {{417, 0}, {431, 0}, {455, 0}});
  EXPECT_EQ(gSolutionConditions.vbar, vbar);
  EXPECT_EQ(Conti().constantD, 5.0f);
  Window().Dispatch(213);
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  auto [slow, slowArea] = Peak(1, 7);
  auto [fast, fastArea] = Peak(7, 20);
  EXPECT_NEAR(slow, 4, 0.02 * 4);
  EXPECT_NEAR(fast, 10, 0.02 * 10);
  EXPECT_NEAR(slowArea / (slowArea + fastArea), 0.4, 0.03);
  EXPECT_EQ(Conti().molarMasses[20], Conti().sValues[20]);

  // Fitting the constant D from 3 finds the 5 of the data.
  Parameters({{405, "6"}, {406, "2"}, {407, "12"}, {420, "3"}}, {{417, 1}});
  EXPECT_EQ(Conti().fitConstantD, 1);
  EXPECT_EQ(Conti().gridFromFile, 0);
  EXPECT_EQ(gSolutionConditions.vbar, vbar);
  Window().Dispatch(215);
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_NEAR(Conti().constantD, 5.0, 0.1 * 5.0);
  EXPECT_EQ(gModelParameterVector.P[3], Conti().constantD);
  // The report names the D found.
  char d[40];
  std::snprintf(d, sizeof d, "D = %f", Conti().constantD);
  bool reported = false;
  for (const std::string& l : LastFitInfoLines().line) reported = reported || l.find(d) != std::string::npos;
  EXPECT_TRUE(reported) << d;

  // ls-g*(v) on the same scans.
  ui_->ExpectBox("ls-g(s)", "Please Note: Switching now to Tikhonov-Phillips Regularization");
  Window().Dispatch(501);
  EXPECT_TRUE(Window().IsMenuItemChecked(501));
  Window().Dispatch(213);
  ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_NEAR(Peak(1, 7).first, 4, 0.05 * 4);
  EXPECT_NEAR(Peak(7, 20).first, 10, 0.05 * 10);
  EXPECT_TRUE(ui_->AllConsumed());
}
