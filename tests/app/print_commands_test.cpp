// Printing the window: one page without a page range, the picture mapped
// onto the page with one scale, the curves black on paper but coloured on
// the screen afterwards, the short fit report on request, and no printer.
#include "app/commands/display/print_commands.h"
#include "platform/printer.h"
#include "plot/cwinplot.h"
#include "app/window/main_fit_host.h"
#include "fit/fit_report.h"
#include "road_support.h"

namespace {

class Printing : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    platform::SetPrinter(&printer_);
  }
  void TearDown() override {
    platform::SetPrinter(nullptr);
    RoadTest::TearDown();
  }
  platform::RecordingPrinter printer_;
};

TEST(PrintMappingTest, TheClientAreaFillsThePageWithOneScale) {
  struct Case {
    int cw, ch, pw, ph;
    double scale;
    int w, h;
  };
  for (const Case c : {Case{1400, 1000, 3508, 2480, 2.48, 3472, 2480}, Case{1000, 800, 3508, 2480, 3.1, 3100, 2480},
                       Case{700, 100, 3508, 2480, 3508.0 / 700, 3508, 501}, Case{0, 1000, 3508, 2480, 0, 0, 0}}) {
    const PrintMapping m = MapClientOntoPage(c.cw, c.ch, c.pw, c.ph);
    EXPECT_NEAR(m.scale, c.scale, 1e-12) << c.cw << "x" << c.ch;
    EXPECT_EQ(m.width, c.w) << c.cw << "x" << c.ch;
    EXPECT_EQ(m.height, c.h) << c.cw << "x" << c.ch;
  }
}

TEST_F(Printing, OnePageWithBlackCurvesAndTheScreenColoursBackAfterwards) {
  LoadRun(3);
  CWINPlot& data = *CurrentPlotWindows().dataPlot;
  printer_.pageWidth = 3508;
  printer_.pageHeight = 2480;
  const platform::COLORREF second = ScanColor(2);
  ASSERT_NE(second, 0u);
  // A curve's colour while the page is drawn shows in the recorded page.
  EXPECT_FALSE(PrintingActive());
  ui_->ExpectBox("Printing", "print with last best-fit information?", platform::IDNO);
  Window().Dispatch(234);
  ASSERT_EQ(printer_.jobs.size(), 1u);
  EXPECT_EQ(printer_.jobs[0].title, "Tarnel Printout");
  EXPECT_EQ(printer_.jobs[0].toPage, 0);
  EXPECT_EQ(printer_.jobs[0].selectionTo, 0);
  EXPECT_EQ(printer_.pages, 1);
  EXPECT_FALSE(PrintingActive());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(data.GetCurveColor(i), ScanColor(i + 1));
  // The page's pen colours: the scan colours of the screen appear nowhere.
  const std::vector<std::string> page = printer_.lastPage->Describe();
  char colour[16];
  std::snprintf(colour, sizeof colour, "%06x", second);
  int blackPens = 0;
  for (const auto& op : page) {
    if (op.rfind("SelectPen(", 0) != 0) continue;
    EXPECT_EQ(op.find(colour), std::string::npos) << op;
    blackPens += op.find("000000") != std::string::npos;
  }
  EXPECT_GT(blackPens, 0);
  EXPECT_TRUE(ui_->failures.empty());
}

// Answers the fit-report question, which comes in the middle of the paint.
class WatchingUI : public platform::ScriptedUserInterface {
 public:
  int MessageBox(const std::string& caption, const std::string& text, platform::BoxButtons buttons,
                 platform::BoxIcon icon) override {
    activeAtQuestion = PrintingActive();
    return ScriptedUserInterface::MessageBox(caption, text, buttons, icon);
  }
  bool activeAtQuestion = false;
};

TEST_F(Printing, PrintingActiveHoldsForThePaintOnlyAndYesAddsTheFitReport) {
  LoadRun(3);
  WatchingUI ui;
  platform::ScopedUI scope(ui);
  ui.ExpectBox("Printing", "print with last best-fit information?", platform::IDYES);
  EXPECT_FALSE(PrintingActive());
  Window().Dispatch(234);
  EXPECT_TRUE(ui.activeAtQuestion);
  EXPECT_FALSE(PrintingActive());
  EXPECT_TRUE(ui.failures.empty());
  // The report starts at (300, 100) of the picture when a fit report exists.
  PrintFitInfoLines lines;
  if (ComposePrintFitInfoLines(MainFitHost(), lines)) {
    bool found = false;
    for (const auto& op : printer_.lastPage->Describe()) found = found || op.rfind("TextOut(300,100,", 0) == 0;
    EXPECT_TRUE(found);
  }
}

TEST_F(Printing, CancelledDialogPrintsNothingAndNoPrinterSaysSo) {
  Window();
  printer_.acceptDialog = false;
  Window().Dispatch(234);
  EXPECT_EQ(printer_.pages, 0);
  EXPECT_EQ(printer_.jobs.size(), 1u);
  Window().Dispatch(233);
  EXPECT_EQ(printer_.setups, 1);

  platform::SetPrinter(nullptr);
  ui_->ExpectBox("Printing", "no printer is available");
  Window().Dispatch(234);
  Window().Dispatch(233);
  EXPECT_TRUE(ui_->failures.empty());
  EXPECT_TRUE(ui_->AllConsumed());
}

}  // namespace
