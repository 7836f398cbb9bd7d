#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "app/commands/distribution/distribution_commands.h"
#include "app/window/main_window_flags.h"
#include "app/commands/distribution/peak_labels.h"
#include "app/plot_input/pointer_hit_tests.h"
#include "app/plot_input/screen_buttons.h"
#include "app_fixture.h"
#include "data/load_hooks.h"
#include "data/scan_loading.h"
#include "distributions/distribution_arrays.h"
#include "distributions/integration_ranges.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "numerics/arrays.h"
#include "plot/cwinplot.h"
#include "plot/distribution_plot.h"
#include "plot/plot_window_set.h"
#include "plot/screen_button.h"
#include "platform/clipboard.h"
#include "platform/input_events.h"
#include "platform/program_paths.h"
#include "tests/support/file_size_limit.h"

namespace {

// A window showing the c(s) distribution
// c = exp(-(s-3)^2/0.18) + 0.5 exp(-(s-7)^2/0.5) on s = 0.1 .. 15 S.
class DistributionCommands : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    WriteAgreedDefaults();
    Options().InfoWizardMessages = 0;
    platform::SetClipboard(&clipboard_);
    pointerPath_ = platform::ProgramPaths.IntegrationRangesPath[0];
    platform::ProgramPaths.IntegrationRangesPath[0] = (dir_ / "integratrangefile.txt").string();
    IntegrationRanges() = IntegrationRangesState{};
    gModelSelectorFlags.DistributionModel = gModelSelectorFlags.CSModel = 1;
    window_ = MakeWindow();
    Options().InfoWizardMessages = 0;
    InstallDistributionPlot();
    AllocDistributionArrays(150, 0, 0);
    ContiSettings& cs = Conti();
    for (int i = 1; i <= 150; ++i) {
      const double s = 0.1 * i;
      cs.sValues[i] = static_cast<float>(s);
      cs.molarMasses[i] = static_cast<float>(1000 * s);
      cs.distribution[i] = static_cast<float>(std::exp(-(s - 3) * (s - 3) / 0.18) + 0.5 * std::exp(-(s - 7) * (s - 7) / 0.5));
    }
    BuildDistributionPlot();
    // A computed distribution is not transformed yet (a Run clears the flags).
    DistArrays().transformedToR = DistArrays().transformedToS20 = false;
    ASSERT_NE(Plot(), nullptr);
  }
  void TearDown() override {
    FreeDistributionArrays();
    window_.reset();
    platform::SetClipboard(nullptr);
    platform::ProgramPaths.IntegrationRangesPath[0] = pointerPath_;
    IntegrationRanges() = IntegrationRangesState{};
    AppTest::TearDown();
  }
  TXLAWindow& W() { return *window_; }
  static CWINPlot* Plot() { return Conti().distributionPlot; }
  std::string WriteRanges(const std::string& text) {
    const std::string path = (dir_ / "ranges.dat").string();
    std::ofstream(path) << text;
    return path;
  }
  static std::string Read(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::unique_ptr<TXLAWindow> window_;
  platform::MemoryClipboard clipboard_;
  std::string pointerPath_;
};

TEST_F(DistributionCommands, RangesFromFileAreChosenKeptAsPreferenceAndIntegrated) {
  const std::string ranges = WriteRanges("2.0 4.0\n5.4 8.6\n");
  ui_->ExpectFiles("Select 2 col file with s-min/s-max pairs", {true, {ranges}});
  ui_->ExpectBox("SET PREFERENCE", "switching on integration range from file \n" + ranges + " \n", platform::IDYES);
  W().Dispatch(644);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_TRUE(Options().IntegrationRangesFromFile);
  EXPECT_TRUE(W().IsMenuItemChecked(644));
  EXPECT_EQ(std::stod(PreferenceLines().at(10)), 1.0);
  // The pointer file names the ranges file, without a line end.
  EXPECT_EQ(Read(platform::ProgramPaths.IntegrationRangesPath[0]), ranges);

  // The integrate command now integrates the file's ranges.
  CurrentDataPaths().dataFolder = dir_.string();
  W().Dispatch(456);
  EXPECT_NE(Read(dir_ / "integrals.dat").find("\t c = 0.6258 (83.29% of c in range #1), sw = 7.000\n"),
            std::string::npos);
  EXPECT_EQ(processes_.calls.back(), "edit " + (dir_ / "integrals.dat").string());
  EXPECT_EQ(clipboard_.text, "2\t4\t0.751273\t100\t3\n5.4\t8.6\t0.625764\t83.2939\t7\n");
  EXPECT_FALSE(RangeSelection().active);
  // So does a click on the on-plot button, which shows "integrate" again at once.
  W().Frame().Resize(1400, 1000);
  W().Paint(true);
  CreateIntegrateButton(ButtonLayout{});
  CScreenButton& button = *NoiseAndRange().IntegrateButton;
  processes_.calls.clear();
  W().OnMouse(platform::MouseMessage::LButtonDown, 0, (button.left + button.right) / 2,
              (button.top + button.bottom) / 2);
  EXPECT_EQ(button.on, 0);
  EXPECT_FALSE(RangeSelection().active);
  ASSERT_EQ(processes_.calls.size(), 1u);
  EXPECT_EQ(processes_.calls[0], "edit " + (dir_ / "integrals.dat").string());
  DeleteIntegrateButton();

  // Off again; the preference is kept when the answer is No.
  ui_->ExpectBox("SET PREFERENCE", "switching off integration range from file", platform::IDNO);
  W().Dispatch(644);
  EXPECT_FALSE(Options().IntegrationRangesFromFile);
  EXPECT_FALSE(W().IsMenuItemChecked(644));
  EXPECT_EQ(std::stod(PreferenceLines().at(10)), 1.0);

  // A cancelled choice leaves the option off with the load message; so does
  // a file with an empty line.
  ui_->ExpectFiles("Select 2 col file with s-min/s-max pairs", {false, {}});
  ui_->ExpectBox("SET DISTRIBUTION RANGE", "could not load distribution ranges from file");
  W().Dispatch(644);
  WriteRanges("2 4\n\n5 6\n");
  ui_->ExpectFiles("Select 2 col file with s-min/s-max pairs", {true, {ranges}});
  ui_->ExpectBox("Error", "could not read from");
  ui_->ExpectBox("SET INTEGRATION RANGE", "could not load distribution ranges from file " + ranges);
  ui_->ExpectBox("SET DISTRIBUTION RANGE", "could not load distribution ranges from file");
  W().Dispatch(644);
  ExpectScriptMet();
  EXPECT_FALSE(Options().IntegrationRangesFromFile);
}

TEST_F(DistributionCommands, StartUpLoadsTheRangesOfAStoredChoice) {
  const std::string ranges = WriteRanges("2.0 4.0\n");
  ASSERT_TRUE(SaveIntegrationRangesChoice(ranges));
  std::vector<std::string> lines = PreferenceLines();
  lines[10] = "1";
  WritePreferences(lines);
  Services().loadIntegrationRanges = DefaultShellServices().loadIntegrationRanges;
  auto w = MakeWindow();
  EXPECT_TRUE(Options().IntegrationRangesFromFile);
  EXPECT_TRUE(IntegrationRanges().loaded);
  EXPECT_EQ(IntegrationRanges().ranges.size(), 1u);
}

TEST_F(DistributionCommands, SelectedRangeReportClipboardRowAndFullRangeAfterwards) {
  MaxDistributionValueInRange(W(), 5.0f, 9.0f);
  ui_->ExpectBox("INTEGRATE DISTRIBUTION", "");
  RangeSelection().active = RangeSelection().forIntegration = true;
  IntegrateSelectedRange(W(), 2.0f, 4.0f, 0.1f, 0.2f);
  ASSERT_EQ(ui_->transcript.size(), 1u);
  EXPECT_EQ(ui_->transcript[0].text.rfind("Integral from 2.000000 to 4.000000:\nLoading Concentration [Signal] = "
                                           "0.751273 (54.494% of total)\nWeight (Signal) Average = 3.000000\n Std. "
                                           "deviation[as sqrt(second central moment)] = 0.301",
                                           0),
            0u)
      << ui_->transcript[0].text;
  // Without the error-propagation preference no error line is added.
  EXPECT_EQ(ui_->transcript[0].text.find("estimated error"), std::string::npos);
  EXPECT_EQ(clipboard_.text, "0.751273\t3\n");
  EXPECT_FALSE(RangeSelection().active);
  EXPECT_FALSE(RangeSelection().forIntegration);
  EXPECT_FLOAT_EQ(Conti().csffRangeFfMin, 0.1f);
  EXPECT_FLOAT_EQ(Conti().csffRangeFfMax, 0.2f);
  // The plot shows the whole distribution again.
  EXPECT_FLOAT_EQ(Plot()->xMin, 0.1f);
  EXPECT_FLOAT_EQ(Plot()->xMax, 15.0f);
  EXPECT_FLOAT_EQ(Plot()->yMin, 0.0f);
  EXPECT_FLOAT_EQ(Plot()->yMax, 1.0f);
}

TEST_F(DistributionCommands, ZoomToARectangleDrawnEitherWay) {
  RangeSelection().active = RangeSelection().forRescaling = true;
  MaxDistributionValueInRange(W(), 9.0f, 5.0f);
  EXPECT_FALSE(RangeSelection().active || RangeSelection().forRescaling);
  EXPECT_FLOAT_EQ(Plot()->xMin, 5.0f);
  EXPECT_FLOAT_EQ(Plot()->xMax, 9.0f);
  EXPECT_FLOAT_EQ(Plot()->yMax, 0.5f);  // the second peak, at 7 S
  EXPECT_FALSE(RangeSelection().keepZoom);
  W().Dispatch(458);
  EXPECT_FLOAT_EQ(Plot()->xMin, 0.1f);
  EXPECT_FLOAT_EQ(Plot()->xMax, 15.0f);
}

// A zoom set while the realtime update runs survives the reload: the
// update's own hook zooms to the same s range again, up to the largest
// value of the new distribution there.
TEST_F(DistributionCommands, RealtimeReloadKeepsTheZoomOverTheNewDistribution) {
  RunState().RealtimeUpdateRunning = true;
  MaxDistributionValueInRange(W(), 9.0f, 5.0f);
  RunState().RealtimeUpdateRunning = false;
  ASSERT_TRUE(RangeSelection().keepZoom);
  // The reload's run brings a distribution twice as high, shown in full.
  for (int i = 1; i <= 150; ++i) Conti().distribution[i] *= 2.0f;
  W().Dispatch(458);
  ASSERT_FLOAT_EQ(Plot()->xMax, 15.0f);
  CurrentLoadHooks().rescaleZoomedDistribution();
  EXPECT_FLOAT_EQ(Plot()->xMin, 5.0f);
  EXPECT_FLOAT_EQ(Plot()->xMax, 9.0f);
  EXPECT_FLOAT_EQ(Plot()->yMin, 0.0f);
  EXPECT_FLOAT_EQ(Plot()->yMax, 1.0f);
  // A new update forgets the kept zoom: its ticks show the whole distribution.
  CurrentLoadHooks().clearDistributionZoom();
  EXPECT_FALSE(RangeSelection().keepZoom);
  // Without a kept zoom the full view stays.
  RangeSelection() = RangeSelectionState{};
  W().Dispatch(458);
  CurrentLoadHooks().rescaleZoomedDistribution();
  EXPECT_FLOAT_EQ(Plot()->xMin, 0.1f);
  EXPECT_FLOAT_EQ(Plot()->xMax, 15.0f);
}

TEST_F(DistributionCommands, SelectionModesOfTheRescaleAndIntegrateCommands) {
  Options().InfoWizardMessages = 1;
  auto& frame = Headless(W());
  ui_->ExpectBox("SELECT RANGE", "determine the range by drawing a rectangle while the right mouse button is down");
  W().Dispatch(457);
  EXPECT_TRUE(RangeSelection().active && RangeSelection().forRescaling);
  EXPECT_EQ(frame.cursor, platform::CursorKind::Cross);
  // The integrate command leaves an active selection ...
  W().Dispatch(456);
  EXPECT_FALSE(RangeSelection().active);
  EXPECT_EQ(frame.cursor, platform::CursorKind::Arrow);
  // ... and otherwise starts one for integration.
  ui_->ExpectBox("SELECT INTEGRATION RANGE", "determine the range");
  W().Dispatch(456);
  EXPECT_TRUE(RangeSelection().active && RangeSelection().forIntegration);
  ExpectScriptMet();
}

TEST_F(DistributionCommands, IntegrationRemovesThePeakLabels) {
  PeakLabelTable& t = PeakLabels();
  t.labelsShown = true;
  DeletePeakLabels(W());  // none there: only the switch goes
  EXPECT_FALSE(t.labelsShown);
  t.count = 3;
  t.labelsShown = true;
  for (int k : {1, 3}) {
    t.slots[k].label = std::make_unique<CScreenButton>();
    t.slots[k].sw = 2.5f * k;
    t.slots[k].index = 10 * k;
  }
  t.slots[2].fraction = 0.00005f;  // a slot without a label
  W().Dispatch(456);
  EXPECT_EQ(t.count, 0);
  EXPECT_FALSE(t.labelsShown);
  for (int k = 1; k <= PeakLabelTable::kSlots; ++k) {
    EXPECT_EQ(t.slots[k].label, nullptr) << k;
    EXPECT_EQ(t.slots[k].sw + t.slots[k].fraction + t.slots[k].index, 0.0f) << k;
  }
  EXPECT_TRUE(RangeSelection().active);
}

TEST_F(DistributionCommands, RunningIntegralAndTheMassAxis) {
  W().Dispatch(460);
  // G(s) from 0 at the first point up to the whole trapezoid integral.
  EXPECT_EQ(Conti().distribution[1], 0.0f);
  EXPECT_NEAR(Conti().distribution[40] - Conti().distribution[20], 0.751273, 1e-5);  // 2 .. 4 S
  EXPECT_NEAR(Conti().distribution[150], 1.378646, 1e-5);
  W().Dispatch(589);
  EXPECT_EQ(Plot()->xLabel, "molar mass [Da]");
  EXPECT_TRUE(Conti().transformedToCM);
  // Integration would mix the c(M) densities with the s grid: not offered.
  Options().InfoWizardMessages = 1;
  W().Dispatch(456);
  EXPECT_FALSE(RangeSelection().active);
  EXPECT_TRUE(ui_->transcript.empty());
}

TEST_F(DistributionCommands, TransformToStandardConditionsOnceUntilTheNextRun) {
  const std::vector<float> x0(Conti().sValues, Conti().sValues + 151);
  const std::vector<float> c0(Conti().distribution, Conti().distribution + 151);
  // No: nothing changes, and the command asks again next time.
  ui_->ExpectBox("", "transform s to s20?", platform::IDNO);
  W().Dispatch(836);
  EXPECT_EQ(Conti().sValues[40], x0[40]);
  ui_->ExpectBox("", "transform s to s20?", platform::IDYES);
  constexpr const char* kS20 = "Transform s to s20,w Distribution";
  ui_->ExpectPrompt(kS20, "enter partial specific volume [ml/g] at 20C", "0.73");
  ui_->ExpectPrompt(kS20, "enter partial specific volume [ml/g] in experiment", "0.73");
  ui_->ExpectPrompt(kS20, "enter buffer density [g/ml] in experiment", "1.0");
  ui_->ExpectPrompt(kS20, "enter absolute viscosity (Poise) in experiment", "0.01002");
  W().Dispatch(836);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  for (int i : {1, 40, 150}) {
    EXPECT_NEAR(Conti().sValues[i], x0[i] * 1.004786, 1e-5 * x0[i]);
    EXPECT_NEAR(Conti().distribution[i], c0[i] / 1.004786, 1e-6);
  }
  EXPECT_EQ(Plot()->xLabel, "s20 [S]");
  // A second transform of either kind is refused; the integration is off.
  for (int id : {836, 525}) {
    ui_->ExpectBox("ERROR", "distribution is already transformed - need to recalculate first");
    W().Dispatch(id);
  }
  W().Dispatch(456);
  EXPECT_FALSE(RangeSelection().active);
  ExpectScriptMet();
}

TEST_F(DistributionCommands, StokesRadiusAndTheSignalCorrectionFile) {
  ui_->ExpectBox("", "transform s to s20?", platform::IDYES);
  for (const char* reply : {"0.73", "0.73", "1.0", "0.01002"})
    ui_->ExpectPrompt("Transform s to Rh Distribution", "", reply);
  ui_->ExpectBox("", "transform s20 to Stokes-Radius?", platform::IDYES);
  ui_->ExpectBox("", "correct distribution c(R) for a size-dependent signal a(R)?", platform::IDYES);
  ui_->ExpectFiles("open power series for a(R)", {true, {(dir_ / "empty.dat").string()}});
  { std::ofstream(dir_ / "empty.dat") << ""; }
  // A file without coefficients is a failure that the user is told about.
  ui_->ExpectBox("ERROR", "could not calculate Rh from s20 in distribution");
  W().Dispatch(525);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_EQ(Plot()->xLabel, "Rh [nm]");
  EXPECT_TRUE(DistArrays().transformedToR);
  // The power series is picked with an open dialog: an existing file, no
  // question about overwriting it.
  ASSERT_FALSE(ui_->fileRequests.empty());
  EXPECT_EQ(ui_->fileRequests.back().title, "open power series for a(R)");
  EXPECT_FALSE(ui_->fileRequests.back().save);
}

TEST_F(DistributionCommands, TransformsWithoutADistributionSaySo) {
  FreeDistributionArrays();
  for (int id : {836, 525, 589, 460}) {
    SCOPED_TRACE(id);
    ui_->ExpectBox("ERROR", "no distribution to transform - compute one first (Run)");
    W().Dispatch(id);
    ExpectScriptMet();
  }
}

TEST_F(DistributionCommands, SavedDistributionReadsBack) {
  const std::string path = (dir_ / "saved.dat").string();
  ui_->ExpectFiles("save distribution as", {true, {path}});
  W().Dispatch(271);
  std::ifstream in(path);
  std::string line;
  int n = 0;
  while (std::getline(in, line)) {
    ++n;
    float x = 0, y = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "%e %e", &x, &y), 2) << line;
    EXPECT_NEAR(x, Conti().sValues[n], 1e-6f * Conti().sValues[n]);
    EXPECT_NEAR(y, Conti().distribution[n], 1e-6f * std::max(1e-30f, Conti().distribution[n]));
  }
  EXPECT_EQ(n, 150);
  // On a full disk (a file-size limit) the file saved before stays whole,
  // and the failure is said, once.
  const std::string saved = Read(path);
  ASSERT_TRUE(testsupport::WithFileSizeLimit(0, [&] {
    ui_->ExpectFiles("save distribution as", {true, {path}});
    ui_->ExpectBox("Error", "Attention: could not write " + path);
    W().Dispatch(271);
  }));
  ExpectScriptMet();
  EXPECT_EQ(Read(path), saved);
  // The size-and-shape models may save their two-dimensional table instead.
  gModelSelectorFlags.CSff0Model = 1;
  AllocDistributionArrays2D(4, 2);
  for (int j = 1; j <= 4; ++j) Conti().grid2DS[j] = static_cast<float>(j);
  ui_->ExpectFiles("save distribution as", {true, {path}});
  ui_->ExpectBox("", "2d distributions?", platform::IDYES);
  W().Dispatch(271);
  std::ifstream table(path);
  std::vector<std::string> rows;
  while (std::getline(table, line)) rows.push_back(line);
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[2].rfind("3.000000e+00 ", 0), 0u) << rows[2];
  gModelSelectorFlags.CSff0Model = 0;
  // A distribution over molar masses is saved as one.
  {
    const ModelSelectorFlags kept = gModelSelectorFlags;
    gModelSelectorFlags.CSModel = 0;
    ui_->ExpectFiles("save mass distribution as", {false, {}});
    W().Dispatch(271);
    EXPECT_TRUE(ui_->AllConsumed());
    gModelSelectorFlags = kept;
  }
  // Without a distribution model nothing is asked.
  gModelSelectorFlags.DistributionModel = 0;
  W().Dispatch(271);
  ExpectScriptMet();
}

// A data and residual plot with unit transforms over one scan of points at
// x = 10, 20, ... (plot units), y = 100 + j.
class PointerHitTests : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    ScanSet& s = CurrentScanSet();
    AllocateScanTables(s, 1);
    s.points[1] = 10;
    s.radii[1] = vector(1, 10);
    s.signals[1] = vector(1, 10);
    s.residuals[1] = vector(1, 10);
    for (int j = 1; j <= 10; ++j) {
      s.radii[1][j] = 10.0f * j;
      s.signals[1][j] = 100.0f + j;
      s.residuals[1][j] = -1.0f * j;
    }
    PlotWindowSet& w = CurrentPlotWindows();
    for (CWINPlot** p : {&w.dataPlot, &w.residualPlot}) {
      *p = new CWINPlot();
      (*p)->xScale = (*p)->yScale = 1.0f;
    }
    w.residualPlot->yOffset = 500.0f;
  }
  void TearDown() override {
    PlotWindowSet& w = CurrentPlotWindows();
    delete w.dataPlot;
    delete w.residualPlot;
    w.dataPlot = w.residualPlot = nullptr;
    FreeScanSetArrays(CurrentScanSet());
    AppTest::TearDown();
  }
};

TEST_F(PointerHitTests, BoxesAreStrictAndTheSearchStopsRightOfThePointer) {
  struct Case {
    float x, y;
    int found;
  };
  // Half-box 3 x 3: a point exactly 3 away misses.
  for (const Case& k : {Case{30, 103, 3}, Case{32.9f, 105.9f, 3}, Case{33, 103, 0}, Case{30, 100, 0},
                        Case{0, 101, 0}, Case{200, 101, 0}}) {
    EXPECT_EQ(HitTestDataPoint(1, k.x, k.y, 3, 3), k.found > 0) << k.x << "," << k.y;
    EXPECT_EQ(FoundDataPoint(), k.found) << k.x << "," << k.y;
  }
  EXPECT_TRUE(HitTestResidualPoint(1, 50, 495, 3, 3));
  EXPECT_EQ(FoundResidualPoint(), 5);
  EXPECT_FALSE(HitTestDataPoint(2, 30, 103, 3, 3));
  // A logarithmic x axis puts radii at log10.
  CurrentPlotWindows().dataPlot->logX = 1;
  EXPECT_TRUE(HitTestDataPoint(1, 1.0f, 101, 0.1f, 3));
  EXPECT_EQ(FoundDataPoint(), 1);

  const LogicalPointer p = PointerInLogicalUnits(500, 400, 1000, 800);
  EXPECT_FLOAT_EQ(p.x, 700);
  EXPECT_FLOAT_EQ(p.y, 500);
  EXPECT_FLOAT_EQ(p.bx, 4.2f);
  EXPECT_FLOAT_EQ(p.by, 3.75f);
  const LogicalPointer none = PointerInLogicalUnits(500, 400, 0, 0);
  EXPECT_EQ(none.x + none.y + none.bx + none.by, 0.0f);
}

TEST_F(PointerHitTests, PlotBands) {
  auto w = MakeWindow();
  w->Frame().Resize(1400, 1000);
  PlotWindowSet& p = CurrentPlotWindows();
  p.dataTop = 50;
  p.dataBottom = 475;
  for (int y : {50, 475}) EXPECT_FALSE(IsPointerInPlotRange(*w, 0, y)) << y;
  EXPECT_TRUE(IsPointerInPlotRange(*w, 0, 51));
  p.showData = 0;
  EXPECT_FALSE(IsPointerInPlotRange(*w, 0, 51));
  p.showData = 1;
  EXPECT_FALSE(HitTestDistributionPoint(*w, 0, 999));
}

}  // namespace
