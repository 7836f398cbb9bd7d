// The two Monte-Carlo commands on a small c(s) series: the user's answers
// reach the series, the limit curves join the distribution plot while the
// statistics are offered and leave it afterwards, and the result files land
// in the chosen folder.
#include <algorithm>
#include <cmath>
#include <sstream>

#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "distributions/monte_carlo.h"
#include "plot/cwinplot.h"
#include "plot/distribution_plot.h"
#include "plot/plot_window_set.h"
#include "road_support.h"

namespace {

// Notes the distribution plot's curve count whenever a number is asked.
class PlotWatchingUI : public platform::ScriptedUserInterface {
 public:
  std::optional<std::string> PromptText(const std::string& title, const std::string& prompt,
                                        const std::string& initial, int maxChars) override {
    const CWINPlot* plot = DistributionPlotWindow().Plot();
    curveCounts.push_back(plot ? plot->curveCount : -1);
    return ScriptedUserInterface::PromptText(title, prompt, initial, maxChars);
  }
  std::vector<int> curveCounts;
};

class WireMonteCarloTest : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    scope_.reset();
    ui_ = std::make_unique<PlotWatchingUI>();
    scope_ = std::make_unique<platform::ScopedUI>(*ui_);
  }
  void TearDown() override {
    window_.reset();
    FreeDistributionArrays();
    DeletePlotWindows();
    RoadTest::TearDown();
  }
  PlotWatchingUI& Ui() { return static_cast<PlotWatchingUI&>(*ui_); }

  // c(s) of the synthetic 5 S run, computed once by "Run".
  void RunCs() {
    const auto paths = WriteRun(".ra1", 4);
    Window();
    ASSERT_TRUE(LoadAllData(PickedFiles(dir_, paths)));
    gFitEngineState.fitTINoise = 0;
    Window().Dispatch(275);
    forms_.Expect({"Continuous Sedimentation Coefficient Distribution c(s)",
                   {{405, "30"}, {406, "1"}, {407, "10"}, {435, "5.9500"}, {437, "7.1800"}},
                   {{431, 0}, {455, 0}, {434, 0}, {436, 0}}});
    Window().Dispatch(212);
    ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
    Window().Dispatch(213);
    ASSERT_NE(DistributionPlotWindow().Plot(), nullptr);
    ASSERT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  }
  platform::FileDialogResult Folder() const {
    return platform::FileDialogResult{true, {(dir_ / "mc" / "mc.dat").string()}};
  }
  // The two columns of a result file.
  std::vector<std::pair<double, double>> Columns(const std::string& stem) const {
    std::istringstream in(ReadFile((dir_ / "mc" / (stem + ".dat")).string()));
    std::vector<std::pair<double, double>> rows;
    double s, c;
    while (in >> s >> c) rows.emplace_back(s, c);
    return rows;
  }
};

}  // namespace

TEST_F(WireMonteCarloTest, DistributionsAskTheirSettingsAndWriteLimitsForEachLevel) {
  RunCs();
  std::filesystem::create_directories(dir_ / "mc");
  const int curves = DistributionPlotWindow().Plot()->curveCount;
  ui_->ExpectBox("Monte Carlo for Distributions",
                 "This Monte-Carlo routine will show the statistics only arising from the distribution "
                 "and regularization.\n - continue?",
                 platform::IDYES);
  ui_->ExpectPrompt("Monte Carlo for Distributions", "number of simulations", std::string("6.9"));
  ui_->ExpectPrompt("Monte Carlo for Distributions", "confidence level for display", std::string("0.6"));
  ui_->ExpectFiles("select directory (keep dummy filename) for Distributions", Folder());
  ui_->ExpectBox("SET PREFERENCE", "write distribution to file at each iteration?", platform::IDYES);
  ui_->ExpectPrompt("Monte Carlo for Distributions", "change confidence level", std::string("0.8"));
  ui_->ExpectPrompt("Monte Carlo for Distributions", "change confidence level", std::nullopt);
  Window().Dispatch(296);
  ExpectScriptMet();

  // 6 iterations (the floor of 6.9) and the base solution, one file each.
  for (int k = 0; k <= 6; ++k) EXPECT_EQ(Columns(std::to_string(k)).size(), 30u) << k;
  EXPECT_FALSE(std::filesystem::exists(dir_ / "mc" / "7.dat"));
  // Limits and mean per grid point from the six iterations' own files:
  // n = 6 puts level 0.6 at the 1st and 4th, level 0.8 at the 1st and 5th
  // smallest value.
  std::vector<std::vector<std::pair<double, double>>> runs;
  for (int k = 1; k <= 6; ++k) runs.push_back(Columns(std::to_string(k)));
  const auto mean = Columns("mean");
  const std::vector<std::pair<std::string, int>> limits = {{"lim200", 0}, {"lim800", 3}, {"lim100", 0}, {"lim900", 4}};
  for (const auto& [stem, rank] : limits) {
    const auto limit = Columns(stem);
    ASSERT_EQ(limit.size(), 30u) << stem;
    for (size_t i = 0; i < limit.size(); ++i) {
      std::vector<double> v;
      for (const auto& run : runs) v.push_back(run[i].second);
      std::sort(v.begin(), v.end());
      EXPECT_NEAR(limit[i].second, v[static_cast<size_t>(rank)], 1e-5 * (std::fabs(v[rank]) + 1e-6)) << stem << " " << i;
    }
  }
  ASSERT_EQ(mean.size(), 30u);
  for (size_t i = 0; i < mean.size(); ++i) {
    double sum = 0;
    for (const auto& run : runs) sum += run[i].second;
    EXPECT_NEAR(mean[i].second, sum / 6, 1e-5 * (std::fabs(sum / 6) + 1e-6)) << i;
  }
  // Red upper and blue lower limits were on the plot while the levels were
  // asked, and are gone with the series.
  const std::vector<int> during = {-1, -1, curves + 2, curves + 2};
  std::vector<int> seen = Ui().curveCounts;
  seen[0] = seen[1] = -1;  // before the series
  EXPECT_EQ(seen, during);
  EXPECT_EQ(DistributionPlotWindow().Plot()->curveCount, curves);
  EXPECT_EQ(MonteCarlo().upperCurve, nullptr);
}

TEST_F(WireMonteCarloTest, IntegratedSwShowsTheStatisticsForEveryRangeAsked) {
  RunCs();
  std::filesystem::create_directories(dir_ / "mc");
  ui_->ExpectBox("Monte Carlo for Distributions", "(faster). - continue?", platform::IDYES);
  ui_->ExpectPrompt("Monte Carlo for Distributions", "number of simulations", std::string("5"));
  ui_->ExpectPrompt("Monte Carlo for Distributions", "confidence level of regularization (P-value, recommended 0.68)",
                    std::string("0.68"));
  ui_->ExpectPrompt("Monte Carlo for Distributions", "left integration limit (smin)", std::string("1"));
  ui_->ExpectPrompt("Monte Carlo for Distributions", "right integration limit (smax)", std::string("10"));
  ui_->ExpectFiles("select directory (keep dummy filename) for Distributions", Folder());
  ui_->ExpectBox("SET PREFERENCE", "write distribution to file at each iteration?", platform::IDNO);
  ui_->ExpectBox("Monte Carlo for Distributions", "average sw = ");
  ui_->ExpectBox("Monte Carlo for Distributions", "other integration limits?", platform::IDYES);
  ui_->ExpectPrompt("Monte Carlo for Distributions", "left integration limit (smin)", std::string("6"));
  ui_->ExpectPrompt("Monte Carlo for Distributions", "right integration limit (smax)", std::string("10"));
  ui_->ExpectBox("Monte Carlo for Distributions", "average sw = ");
  ui_->ExpectBox("Monte Carlo for Distributions", "other integration limits?", platform::IDNO);
  Window().Dispatch(546);
  ExpectScriptMet();

  // The whole boundary moves at 5 S; above 6 S there is next to nothing.
  std::vector<double> sw;
  for (const auto& t : ui_->transcript)
    if (t.text.rfind("average sw = ", 0) == 0) sw.push_back(std::stod(t.text.substr(13)));
  ASSERT_EQ(sw.size(), 2u);
  EXPECT_NEAR(sw[0], 5.0, 0.3);
  EXPECT_FALSE(std::filesystem::exists(dir_ / "mc" / "1.dat"));
  EXPECT_EQ(MonteCarlo().upperCurve, nullptr);
}

// Without data, or with a model that is no distribution, each command says
// why it does nothing and asks nothing more.
TEST_F(WireMonteCarloTest, WithoutADistributionModelTheCommandsSayWhy) {
  const auto paths = WriteRun(".ra1", 4);
  Window();
  ui_->ExpectBox("Monte Carlo for Distributions", "load data first");
  Window().Dispatch(296);
  ASSERT_TRUE(LoadAllData(PickedFiles(dir_, paths)));
  DispatchLenient(198);  // non-interacting discrete species
  ui_->transcript.clear();
  const char* why = "the Monte-Carlo statistics are those of a continuous distribution";
  ui_->ExpectBox("Monte Carlo for Distributions", why);
  Window().Dispatch(296);
  // The integrated statistics explain themselves first.
  ui_->ExpectBox("Monte Carlo for Distributions", " - continue?", platform::IDYES);
  ui_->ExpectBox("Monte Carlo for Distributions", why);
  Window().Dispatch(546);
  EXPECT_EQ(ui_->transcript.size(), 3u);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_TRUE(ui_->AllConsumed());
}

namespace {

// Keys typed while the third simulation is made stop the series once; the
// limits come from the two simulations completed before, and the distribution shown afterwards is the best fit
// again, not the last synthetic data set's.
TEST_F(WireMonteCarloTest, AKeyStopsTheSeriesAndTheBestFitComesBack) {
  ASSERT_NO_FATAL_FAILURE(RunCs());
  std::filesystem::create_directories(dir_ / "mc");
  const ContiSettings& cs = Conti();
  ASSERT_NE(cs.distribution, nullptr);
  const std::vector<float> best(cs.distribution + 1, cs.distribution + 1 + cs.gridSize);
  MonteCarloDisplayHooks& display = MonteCarloDisplay();
  const auto shown = display.drawText;
  int iterations = 0;
  display.drawText = [&](int x, int y, const std::string& text) {
    if (shown) shown(x, y, text);
    if (++iterations == 3)
      for (int k = 0; k < 3; ++k) platform::PostKeyDown('a' + k);
  };
  ui_->ExpectBox("Monte Carlo for Distributions", " - continue?", platform::IDYES);
  ui_->ExpectPrompt("Monte Carlo for Distributions", "number of simulations", std::string("20"));
  ui_->ExpectPrompt("Monte Carlo for Distributions", "confidence level for display", std::string("0.68"));
  ui_->ExpectFiles("select directory (keep dummy filename) for Distributions", Folder());
  ui_->ExpectBox("SET PREFERENCE", "write distribution to file at each iteration?", platform::IDNO);
  ui_->ExpectBox("Monte Carlo for Distributions", "Monte-Carlo series stopped by the user after 2 of 20 simulations");
  ui_->ExpectPrompt("Monte Carlo for Distributions", "change confidence level", std::nullopt);
  Window().Dispatch(296);
  display.drawText = shown;
  ExpectScriptMet();
  EXPECT_EQ(iterations, 3);
  EXPECT_FALSE(platform::KeyDownPending());
  // The limits of the two members were written.
  EXPECT_EQ(Columns("mean").size(), static_cast<size_t>(cs.gridSize));
  float peak = 0;
  for (float v : best) peak = std::max(peak, std::fabs(v));
  for (int i = 1; i <= cs.gridSize; ++i)
    EXPECT_NEAR(cs.distribution[i], best[static_cast<size_t>(i) - 1], 1e-3f * peak) << i;

  // The same scans loaded again: the Run sets up its own grid and computes
  // the distribution it computed before the series.
  std::vector<std::string> scans;
  for (int k = 1; k <= 4; ++k) scans.push_back((dir_ / ("0000" + std::to_string(k) + ".ra1")).string());
  ui_->ExpectFiles("select files to fit", platform::FileDialogResult{true, scans});
  ui_->ExpectPrompt("LOAD FILES", "load every n'th file:", std::string("1"));
  Window().Dispatch(200);
  ASSERT_EQ(CurrentScanSet().count, 4);
  ui_->lenient = true;
  ui_->transcript.clear();
  Window().Dispatch(213);
  for (const auto& shown : ui_->transcript) EXPECT_NE(shown.icon, platform::BoxIcon::Error) << shown.text;
  EXPECT_EQ(cs.lastRunFailed, 0);
  EXPECT_TRUE(WindowFlags().FitInfoPending);
  ASSERT_NE(cs.distribution, nullptr) << "the reload kept the c(s) model";
  for (int i = 1; i <= cs.gridSize; ++i)
    EXPECT_NEAR(cs.distribution[i], best[static_cast<size_t>(i) - 1], 1e-3f * peak) << i;

  // A Run the distribution refuses leaves no rmsd that would read as its result.
  ui_->lenient = false;
  ui_->transcript.clear();
  gModelParameterVector.P[5] = 1000;  // s max
  ui_->ExpectBox("", "is exceeding maximum observable s-values");
  Window().Dispatch(213);
  ExpectScriptMet();
  EXPECT_EQ(cs.lastRunFailed, 1);
  EXPECT_FALSE(WindowFlags().FitInfoPending);
  EXPECT_FALSE(WindowFlags().FitInfoShown);
}

}  // namespace
