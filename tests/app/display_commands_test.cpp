// The Copy and Display commands of the data plot: the range and its
// history, the data marks, the plot pictures on the clipboard (with the
// curves' own styles and colours afterwards) and the hover switch.
#include "app/commands/display/display_commands.h"
#include "app/plot_events/plot_mouse.h"
#include "app/window/window_services.h"
#include "data/load_hooks.h"
#include "models/buffer/buffer_sedimentation.h"
#include "platform/clipboard.h"
#include "plot/cwinplot.h"
#include "road_support.h"

namespace {

class DisplayCommands : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    DataMarks() = DataMarkState{};
    platform::SetClipboard(&clipboard_);
  }
  void TearDown() override {
    platform::SetClipboard(nullptr);
    CurrentPlotWindows().showData = 1;
    CurrentPlotWindows().showResiduals = 1;
    CurrentPlotWindows().showBitmap = 1;
    RoadTest::TearDown();
  }
  CWINPlot& DataPlot() { return *CurrentPlotWindows().dataPlot; }
  void ExpectRange(const std::vector<std::string>& replies) {
    const char* prompts[] = {"smallest r", "highest r", "smallest absorbance", "highest absorbance"};
    for (std::size_t i = 0; i < replies.size(); ++i)
      ui_->ExpectPrompt("SET DISPLAY RANGE", prompts[i], replies[i]);
  }
  std::vector<int> Styles() {
    std::vector<int> s;
    for (int i = 0; i < CurrentScanSet().count; ++i) s.push_back(DataPlot().GetCurveStyle(i));
    return s;
  }
  platform::MemoryClipboard clipboard_;
};

TEST_F(DisplayCommands, SetRangeOrdersTheBoundsKeepsTenLevelsAndFullRangeEmptiesThem) {
  LoadRun(3);
  ExpectRange({"6.5", "6.0", "1.2", "0.1"});
  Window().Dispatch(207);
  EXPECT_FLOAT_EQ(DataPlot().xMin, 6.0f);
  EXPECT_FLOAT_EQ(DataPlot().xMax, 6.5f);
  EXPECT_FLOAT_EQ(DataPlot().yMin, 0.1f);
  EXPECT_FLOAT_EQ(DataPlot().yMax, 1.2f);
  EXPECT_EQ(RangeHistory.depth, 1);
  EXPECT_EQ(CurrentZoomBand().zoomed, 1);

  for (int k = 0; k < 9; ++k) {
    ExpectRange({"6.0", "6.4", "0.0", std::to_string(0.5 + 0.1 * k)});
    Window().Dispatch(207);
  }
  EXPECT_EQ(RangeHistory.depth, 9);
  EXPECT_NEAR(RangeHistory.yMax[9], 1.3f, 1e-5);

  // Cancel at the third prompt changes nothing.
  ui_->ExpectPrompt("SET DISPLAY RANGE", "smallest r", "5.9");
  ui_->ExpectPrompt("SET DISPLAY RANGE", "highest r", "6.6");
  ui_->ExpectPrompt("SET DISPLAY RANGE", "smallest absorbance", std::nullopt);
  Window().Dispatch(207);
  EXPECT_EQ(RangeHistory.depth, 9);
  EXPECT_FLOAT_EQ(DataPlot().xMax, 6.4f);

  // Hiding and showing the data comes back to the last range, not autoscale.
  DataPlot().RescaleAll();
  Window().Dispatch(232);
  EXPECT_EQ(CurrentPlotWindows().showData, 0);
  Window().Dispatch(232);
  EXPECT_EQ(CurrentPlotWindows().showData, 1);
  EXPECT_FLOAT_EQ(DataPlot().xMax, 6.4f);
  EXPECT_NEAR(DataPlot().yMax, 1.3f, 1e-5);

  CurrentZoomBand().dataZoom = 1;
  Window().Dispatch(208);
  EXPECT_EQ(CurrentZoomBand().dataZoom, 0);
  EXPECT_EQ(RangeHistory.depth, 0);
  EXPECT_EQ(DataPlot().xRangeFixed, 0);
  EXPECT_EQ(DataPlot().yRangeFixed, 0);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
}

TEST_F(DisplayCommands, ThePlotsShownCarryTheirCheckMarks) {
  PlotWindowSet& plots = CurrentPlotWindows();
  plots.showData = plots.showResiduals = plots.showBitmap = 1;  // as the program starts
  LoadRun(3);
  // Data, residuals and the residuals bitmap start shown; each mark follows its switch.
  for (const int item : {232, 209, 504}) {
    EXPECT_TRUE(Window().IsMenuItemChecked(item)) << item;
    Window().Dispatch(item);
    EXPECT_FALSE(Window().IsMenuItemChecked(item)) << item;
  }
  EXPECT_EQ(plots.showBitmap, 0);
}

TEST_F(DisplayCommands, AChangedMeniscusMismatchReturnsTheDataPlotToItsFullRange) {
  LoadRun(3);
  gModelSelectorFlags.LammDiscreteModel = 1;
  gBufferSedSettings = BufferSedSettings{};
  gBufferSedSettings.BufferSedOn = true;
  ui_->lenient = true;  // the notes about interference data
  // (mismatch ticked in the dialog, data plot back at its full range)
  for (const auto& [tick, full] : {std::pair{1, true}, std::pair{1, false}, std::pair{0, true}}) {
    ExpectRange({"6.0", "6.5", "0.1", "1.2"});
    Window().Dispatch(207);
    ASSERT_EQ(RangeHistory.depth, 1);
    forms_.Expect({"Buffer Mismatch", {}, {{562, tick}}, true});
    Window().Dispatch(552);
    EXPECT_EQ(RangeHistory.depth, full ? 0 : 1) << tick;
    EXPECT_EQ(DataPlot().xRangeFixed, full ? 0 : 1) << tick;
    RangeHistory.depth = 0;
  }
  EXPECT_TRUE(forms_.failures.empty()) << forms_.failures.front();
  // Off again, and told to the c(s) run and the fit engine, for the next test.
  gBufferSedSettings = BufferSedSettings{};
  PublishBufferSedimentation();
}

TEST_F(DisplayCommands, DataMarkSizeSetsMarksLinesOrSymbolStyles) {
  LoadRun(3);
  struct Case {
    const char* reply;
    int markSize, symbolSize, style;
    bool lines;
  };
  const Case cases[] = {
      {"7.9", 7, 10, 6, false},  {"-1", 7, 10, -1, true},  {"4", 4, 6, 6, false},
      {"-2", 4, 6, 22, false},   {"-3", 4, 6, 23, false},  {"-4", 4, 6, 23, false},
      {"1e10", 4, 6, 23, false}, {"100", 100, 150, 23, false},
  };
  for (const Case& c : cases) {
    ui_->ExpectPrompt("enter float", "enter data mark size (-1 for lines):", c.reply);
    Window().Dispatch(211);
    EXPECT_EQ(DataMarks().markSize, c.markSize) << c.reply;
    EXPECT_EQ(DataPlot().symbolSize, c.symbolSize) << c.reply;
    EXPECT_EQ(DataMarks().dataDrawnAsLines != 0, c.lines) << c.reply;
    EXPECT_EQ(Styles(), std::vector<int>(3, c.style)) << c.reply;
  }
  EXPECT_TRUE(ui_->failures.empty());
}

TEST_F(DisplayCommands, CopiedPlotsAreIsotropicPicturesAndTheCurvesKeepTheirLooks) {
  LoadRun(3);
  ui_->ExpectPrompt("enter float", "enter data mark size (-1 for lines):", "-2");
  Window().Dispatch(211);
  std::vector<platform::COLORREF> colours;
  for (int i = 1; i <= 3; ++i) colours.push_back(ScanColor(i));

  struct Case {
    int command, answerLines, answerBlack;
  };
  for (const Case c : {Case{205, platform::IDYES, platform::IDYES}, Case{205, platform::IDNO, platform::IDNO},
                       Case{206, 0, platform::IDYES}}) {
    const int writes = clipboard_.writes;
    const char* caption = c.command == 205 ? "Copy Data Plot to Clipboard" : "Copy Residuals Plot to Clipboard";
    if (c.command == 205) ui_->ExpectBox(caption, "connect data points with lines?", c.answerLines);
    ui_->ExpectBox(caption, "Paint Black and White?", c.answerBlack);
    Window().Dispatch(c.command);
    EXPECT_EQ(clipboard_.writes, writes + 1);
    ASSERT_EQ(clipboard_.content, platform::MemoryClipboard::Content::Picture);
    EXPECT_EQ(clipboard_.picture.mapMode, platform::MM_ISOTROPIC);
    EXPECT_EQ(clipboard_.picture.xExt, 13000);
    EXPECT_EQ(clipboard_.picture.yExt, 9000);
    EXPECT_NE(clipboard_.picture.metafile, nullptr);
    EXPECT_EQ(Styles(), std::vector<int>(3, 22)) << c.command;
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(DataPlot().GetCurveColor(i), colours[static_cast<std::size_t>(i)]);
      EXPECT_EQ(CurrentPlotWindows().residualPlot->GetCurveColor(i), colours[static_cast<std::size_t>(i)]);
    }
  }

  // A clipboard held by another program: nothing changes, nothing is said.
  clipboard_.refuseOpen = true;
  const auto kept = clipboard_.picture.metafile;
  ui_->ExpectBox("Copy Residuals Plot to Clipboard", "Paint Black and White?", platform::IDNO);
  Window().Dispatch(206);
  EXPECT_EQ(clipboard_.picture.metafile, kept);

  // The histogram copy only tells that the histogram is off.
  clipboard_.refuseOpen = false;
  CurrentPlotWindows().showHistogram = 0;
  const int writes = clipboard_.writes;
  ui_->ExpectBox("Copy Residuals Histogram to Clipboard", "sorry, needs to be switched on in Display menu first");
  Window().Dispatch(945);
  EXPECT_EQ(clipboard_.writes, writes);
  CurrentPlotWindows().showHistogram = 1;
  ExpectScriptMet();
}

TEST_F(DisplayCommands, TheHiddenSwitchIsTheFlagTheRealtimeUpdateReads) {
  Window();
  EXPECT_EQ(WindowFlags().ScanNameHoverOn, 1);
  EXPECT_EQ(CurrentLoadTargets().hiddenDisplayFlag, &WindowFlags().ScanNameHoverOn);
  Window().Dispatch(210);
  EXPECT_EQ(WindowFlags().ScanNameHoverOn, 0);
  CurrentLoadHooks().toggleDisplayFlag210();
  EXPECT_EQ(WindowFlags().ScanNameHoverOn, 1);
}

}  // namespace
