// The boundary analyses as a user meets them in the window: the van
// Holde-Weischet transform chosen, run and shown with its extrapolation
// plot, and the switches of the ls-g*(s) area-fraction dialog.
#include "road_support.h"

#include "log_surface.h"

#include "app/window/road_services.h"
#include "distributions/analysis/extrapolation_plot.h"
#include "distributions/conti_parameters.h"
#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "fit/fit_engine_state.h"
#include "numerics/ccurve.h"
#include "platform/clipboard.h"
#include "plot/cwinplot.h"

namespace {

class RoadBoundary : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    LsgExtrapolation() = LsgExtrapolationSettings{};
  }
  void TearDown() override {
    FreeLsgsArrays();
    FreeDistributionArrays();
    RoadTest::TearDown();
  }
  void Load(int scans) {
    const auto paths = WriteRun(".ra1", scans);
    Window();
    ASSERT_TRUE(LoadAllData(PickedFiles(dir_, paths)));
    gModelParams.meniscus = 5.95f;
    gModelParams.bottom = 7.14f;
  }
};

TEST_F(RoadBoundary, VanHoldeWeischetRunShowsItsDistributionAndExtrapolation) {
  Load(5);
  Conti().resolution = 100;
  ui_->ExpectBox("Van Holde Weischet Analysis", "for sedimentation", platform::IDYES);
  ui_->ExpectPrompt("Van Holde Weischet Analysis", "enter resolution", "10");
  ui_->ExpectBox("", "show plot with extrapolation", platform::IDYES);
  // The files have a point every 0.01 cm: the early, steep boundaries leave
  // bands empty at 10 fractions.
  ui_->ExpectBox("Van Holde Weischet Analysis", "resolution was reduced to");
  Window().Dispatch(292);
  // The number of fractions is offered as the count it is.
  ASSERT_FALSE(ui_->initialTexts.empty());
  EXPECT_EQ(ui_->initialTexts.front(), "100");
  Window().Dispatch(213);
  ExpectScriptMet();
  const ContiSettings& cs = Conti();
  ASSERT_GE(cs.gridSize, 5);
  ASSERT_LT(cs.gridSize, 10);
  for (int j = 1; j <= cs.gridSize; ++j) EXPECT_NEAR(cs.sValues[j], 5.0, 0.5) << j;
  ASSERT_TRUE(Road().extrapolationPlot);
  const CWINPlot* plot = Road().extrapolationPlot();
  ASSERT_NE(plot, nullptr);
  // The graph: the points the lines took, row by row, then one line per
  // fraction.
  const ExtrapolationPlotData& d = ExtrapolationPlot();
  int taken = 0, rows = 0;
  for (int k = 1; k <= d.rows; ++k) {
    int inRow = 0;
    for (int j = 1; j <= d.fractions; ++j) inRow += d.Taken(k, j) ? 1 : 0;
    taken += inRow;
    rows += inRow > 0 ? 1 : 0;
  }
  ASSERT_EQ(plot->curveCount, rows + d.fractions);
  int drawn = 0;
  for (int c = 0; c < rows; ++c) drawn += plot->curves[c]->Count();
  EXPECT_EQ(drawn, taken);
  // Choosing the transform again takes the extrapolation plot away (a
  // cancel at its questions leaves it).
  ui_->lenient = true;
  ui_->ExpectPrompt("Van Holde Weischet Analysis", "enter resolution", std::nullopt);
  Window().Dispatch(292);
  EXPECT_NE(Road().extrapolationPlot(), nullptr);
  ui_->ExpectPrompt("Van Holde Weischet Analysis", "enter resolution", "10");
  Window().Dispatch(292);
  EXPECT_EQ(Road().extrapolationPlot(), nullptr);
}

TEST_F(RoadBoundary, TheChosenTransformSaysThatRunComputesIt) {
  LogSurface surface(1400, 1000);
  platform::SetFrameWindowFactory(
      [&surface](platform::IWindowEvents& events) { return std::make_unique<SurfaceFrame>(events, surface); });
  Load(5);
  const std::string hint = "van Holde-Weischet transform chosen: Run (Ctrl+R) computes it";
  ui_->ExpectBox("Van Holde Weischet Analysis", "for sedimentation", platform::IDYES);
  ui_->ExpectPrompt("Van Holde Weischet Analysis", "enter resolution", "5");
  ui_->ExpectBox("", "show plot with extrapolation", platform::IDNO);
  Window().Dispatch(292);
  Window().Paint(true);
  EXPECT_TRUE(surface.DrewIn(hint));
  surface.ops.clear();
  ui_->lenient = true;
  Window().Dispatch(213);
  Window().Paint(true);
  EXPECT_FALSE(surface.DrewIn(hint));
  EXPECT_GE(Conti().gridSize, 1);
  window_.reset();
  platform::SetFrameWindowFactory({});
}

TEST_F(RoadBoundary, AreaFractionDialogCarriesItsSwitches) {
  Load(4);
  DispatchLenient(293);
  // Offered by the command: 20 fractions in groups of 3.
  EXPECT_EQ(gModelParameterVector.P[11], 20.0f);
  EXPECT_EQ(gModelParameterVector.P[3], 3.0f);
  forms_.Expect({"", {}, {{442, 1}}});
  ui_->lenient = true;
  Window().Dispatch(212);
  ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  EXPECT_EQ(LsgExtrapolation().fitFractions, 1);
  EXPECT_EQ(LsgExtrapolation().consecutiveGroups, 1);
  LsgExtrapolation().consecutiveGroups = 0;
  forms_.Expect({"", {}, {}});
  Window().Dispatch(212);
  EXPECT_EQ(LsgExtrapolation().consecutiveGroups, 0);
  EXPECT_EQ(LsgExtrapolation().fitFractions, 1);
}

TEST_F(RoadBoundary, AreaFractionRunShowsGOfSAndItsExtrapolation) {
  Load(6);
  ui_->lenient = true;
  ui_->ExpectBox("", "show plot with extrapolation", platform::IDYES);
  Window().Dispatch(293);
  gModelParameterVector.P[11] = 10.0f;
  gModelParameterVector.P[3] = 2.0f;
  Window().Dispatch(213);
  const ContiSettings& cs = Conti();
  ASSERT_EQ(cs.gridSize, 50);
  for (int j = 2; j <= 8; ++j) EXPECT_NEAR(cs.sValues[j], 5.0, 0.5) << j;
  EXPECT_FLOAT_EQ(cs.distribution[50], cs.distribution[10]);
  EXPECT_NE(Road().extrapolationPlot(), nullptr);
}

TEST_F(RoadBoundary, TimeDependentSeriesWritesItsFilesAndPicture) {
  Load(4);
  gFitEngineState.molarMassParameters = 0;
  ui_->lenient = true;
  Window().Dispatch(198);
  forms_.Expect({"noninteracting species model",
                 {{405, "1.0"}, {406, "4"}, {407, "4.5"}, {435, "5.9500"}, {437, "7.1400"}, {433, "0"}},
                 {{401, 1}, {408, 0}, {415, 0}, {422, 0}, {402, 1}, {403, 0}, {404, 1}, {429, 0}, {430, 1}}});
  Window().Dispatch(212);
  ui_->lenient = false;
  constexpr const char* kTitle = "FIT TIME DEPENDENT s,M";
  ui_->ExpectBox("time dependence analysis", "please switch to experimental initial  condition");
  Window().Dispatch(266);

  LammSettings().experimentalInitialDistribution = 1;
  LammSettings().gridSize.inUse = LammSettings().gridSize.setting = 200;
  LammSettings().automaticGridSize = 0;
  platform::MemoryClipboard clipboard;
  platform::SetClipboard(&clipboard);
  ui_->lenient = true;
  // A cancelled size keeps the one offered and the command goes on.
  ui_->ExpectPrompt(kTitle, "enter number of scans per set", std::nullopt);
  ui_->ExpectBox(kTitle, "moving average (scans 1-4, 2-5, 3-6,...)", platform::IDNO);
  ui_->ExpectBox(kTitle, "increasing set (scans 1-4, 1-5, 1-6,...)", platform::IDYES);
  const float startS = gModelParameterVector.P[5];
  Window().Dispatch(266);
  platform::SetClipboard(nullptr);
  EXPECT_TRUE(ui_->AllConsumed());
  // Every set starts from the entered values, which the series leaves; the
  // scans show the model of those values, as a Run gives it, not that of
  // the last set's fit.
  EXPECT_EQ(gModelParameterVector.P[5], startS);
  const ScanSet& ss = CurrentScanSet();
  std::vector<std::vector<float>> shown;
  for (int j = 1; j <= ss.count; ++j) shown.emplace_back(ss.model[j] + 1, ss.model[j] + 1 + ss.points[j]);
  Window().Dispatch(213);
  for (int j = 1; j <= ss.count; ++j)
    for (int p = 1; p <= ss.points[j]; ++p) ASSERT_NEAR(ss.model[j][p], shown[j - 1][p - 1], 1e-5) << j << " " << p;
  const std::string masses = ReadFile((dir_ / "MW(t).dat").string());
  const std::string sed = ReadFile((dir_ / "S(t).dat").string());
  EXPECT_EQ(std::count(masses.begin(), masses.end(), '\n'), 3);
  EXPECT_EQ(std::count(sed.begin(), sed.end(), '\n'), 3);
  EXPECT_EQ(sed.substr(0, 13), "1.800000e+03 ");
  EXPECT_EQ(clipboard.content, platform::MemoryClipboard::Content::Picture);
  EXPECT_EQ(clipboard.picture.xExt, 13000);
  EXPECT_EQ(LammSettings().experimentalInitialDistribution, 1);
}

}  // namespace
