// What the desktop window draws besides its plots: the progress line of a
// load, the reference meniscus of a buffer mismatch, the residual histogram
// between the steps of a fit, and lines of text written again at one place.
// The program's headers come first: Qt's keyword macros must not reach them.
#include "road_support.h"
#include "desktop_road_fixture.h"

#include <QApplication>
#include <QImage>

#include "app/plot_input/markers.h"
#include "app/window/main_fit_host.h"
#include "app/window/main_window_flags.h"
#include "app/window/window_services.h"
#include "app/window/program_options.h"
#include "app/wiring/plot_wiring.h"
#include "data/load_hooks.h"
#include "distributions/conti_context.h"
#include "distributions/distribution_arrays.h"
#include "fit/fit_report.h"
#include "lamm/solver_display.h"
#include "plot/cwinplot.h"
#include "models/buffer/buffer_sed_settings.h"
#include "plot/plot_window_set.h"
#include "plot/text_in_place.h"
#include "platform/bitmap.h"
#include "platform/qt/frame_window.h"
#include "platform/scripted_ui.h"

namespace {

// Looks at the window whenever a load tells its progress.
class ProgressWatchingUI : public platform::ScriptedUserInterface {
 public:
  std::function<void(double)> onProgress;
  void Progress(const std::string& label, double fraction) override {
    if (onProgress) onProgress(fraction);
    ScriptedUserInterface::Progress(label, fraction);
  }
};

class WindowDrawing : public DesktopRoadTest {
 protected:
  void Shown() {
    Qt().Resize(1000, 700);
    Qt().Show();
    Qt().Invalidate(true);
    Drain();
  }
  QRgb Pixel(int x, int y) { return Qt().Canvas().Image().pixel(x, y) & 0xffffff; }
  // Pixels of one colour in column x over the rows of the data plot.
  int InColumn(int x, QRgb colour) {
    const QImage& image = Qt().Canvas().Image();
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
      if ((image.pixel(x, y) & 0xffffff) == colour) ++n;
    return n;
  }
};

TEST_F(WindowDrawing, ALoadDrawsItsProgressLineAndPutsBackWhatWasUnderIt) {
  Shown();
  ASSERT_TRUE(WindowFlags().WindowPainted);
  const QRgb before = Pixel(60, 10);
  ProgressWatchingUI ui;
  platform::ScopedUI scope(ui);
  int redAtEnd = -1, redHalfway = -1;
  ui.onProgress = [&](double fraction) {
    // The line is drawn after the interface heard of the fraction: at the
    // next report it shows the one before.
    int red = 0;
    for (int x = 10; x < 110; ++x)
      if (Pixel(x, 10) == 0xff0000) ++red;
    if (fraction < 0) redAtEnd = red;
    if (fraction > 0.5 && redHalfway < 0) redHalfway = red;
  };
  const auto paths = WriteRun(".ra1", 4);
  ASSERT_TRUE(LoadAllData(PickedFiles(dir_, paths)));
  // After two of four files half of the 100-pixel bar is red; at the end all of it.
  EXPECT_NEAR(redHalfway, 50, 1);
  EXPECT_EQ(redAtEnd, 100);
  EXPECT_EQ(Pixel(60, 10), before);
  EXPECT_EQ(CurrentScanSet().loadProgress, nullptr);
}

TEST_F(WindowDrawing, TheReferenceMeniscusIsPaintedWithTheMeniscus) {
  Shown();
  LoadRun(3);
  gModelParams.meniscus = 6.0f;
  gModelParams.bottom = 7.1f;
  BufferSedSettings& b = gBufferSedSettings;
  b.MeniscusDifference = 0.1;
  const QRgb magenta = 0xff00ff;
  auto paintedAt = [&](float r) {
    Qt().Invalidate(true);
    Drain();
    return InColumn(MarkerColumn(Window(), r), magenta);
  };
  EXPECT_EQ(paintedAt(5.9f), 0);  // no correction, no reference meniscus
  b.BufferSedOn = true;
  b.MeniscusMismatch = true;
  EXPECT_GT(paintedAt(5.9f), 100);
  b.MeniscusMismatch = false;
  EXPECT_EQ(paintedAt(5.9f), 0);
}

TEST_F(WindowDrawing, TheResidualHistogramFollowsTheResidualsBetweenTheStepsOfAFit) {
  Shown();
  LoadRun(3);
  Options().ShowResidualsHistogram = true;
  SyncPlotPreferences();
  UpdateResidualHistogram();
  ASSERT_NE(CurrentPlotWindows().histogramPlot, nullptr);
  const auto before = CurrentPlotWindows().histogramPlot->lastMetafile;
  // The fit draws its curves between two steps.
  ScanSet& s = CurrentScanSet();
  for (int i = 1; i <= s.count; ++i)
    for (int j = 1; j <= s.points[i]; ++j) s.residuals[i][j] = 0.01f * static_cast<float>(j % 7);
  MainFitHost()->DrawFitCurves();
  ASSERT_NE(CurrentPlotWindows().histogramPlot, nullptr);
  EXPECT_NE(CurrentPlotWindows().histogramPlot->lastMetafile, before);
}

TEST_F(WindowDrawing, ATextWrittenAgainAtItsPlaceLeavesNothingOfALongerOne) {
  Shown();
  LoadRun(3);
  FitHost& host = *MainFitHost();
  const std::string longer = "testrmsd=0.0123456789 (n=12024,lambda=1.0e-03)";
  const std::string shorter = "s1";
  host.DrawText(10, 30, longer);
  // The report's texts begin right of the data plot's frame; the first 50
  // pixels take the shorter text.
  int start = 0;
  while (start < 400 && [&] {
    for (int y = 30; y < 45; ++y)
      if (Pixel(start, y) == 0) return false;
    return true;
  }())
    ++start;
  ASSERT_LT(start, 400) << "the longer text was not drawn";
  int inkedBefore = 0;
  for (int x = start + 50; x < start + 290; ++x)
    for (int y = 30; y < 45; ++y)
      if (Pixel(x, y) == 0) ++inkedBefore;
  ASSERT_GT(inkedBefore, 20) << "the longer text was not drawn there";
  host.DrawText(10, 30, shorter);
  int inkedAfter = 0;
  for (int x = start + 50; x < start + 290; ++x)
    for (int y = 30; y < 45; ++y)
      if (Pixel(x, y) == 0) ++inkedAfter;
  EXPECT_EQ(inkedAfter, 0);
}

// A Run writes its progress through several routines (the distribution's
// steps, the Lamm list, the solver's step lines, the status lines of the
// regularisation) where the report of the last result stood: each shows in
// the window, and a line written at a place by one of them (or by the
// report) is replaced by the next line written there by any other, in the
// same font and column, right of the data plot's frame (its axis label and
// tick values stay clear); taken away, each gives back the scans it covered,
// pixel for pixel.

TEST_F(WindowDrawing, ProgressLinesOfEveryWriterReplaceEachOtherAtTheirPlace) {
  Shown();
  LoadRun(3);
  DistributionPlotHost* plot = GetDistributionPlotHost();
  ASSERT_NE(plot, nullptr);
  using Writer = std::function<void(int y, const std::string&)>;
  const std::vector<std::pair<const char*, Writer>> writers = {
      {"distribution", [&](int y, const std::string& t) { plot->DrawText(10, y, t); }},
      {"Lamm list", [](int y, const std::string& t) { CurrentLoadHooks().drawText(t, 10, y); }},
      {"Lamm steps", [](int y, const std::string& t) { CurrentLammSolverDisplay().drawText(10, y, t); }},
      {"regularisation status", [](int y, const std::string& t) { ContiStatusLine(y, t); }},
      {"fit report", [](int y, const std::string& t) { MainFitHost()->DrawText(10, y, t); }}};
  const bool drawing = ContiContext().drawingEnabled;
  ContiContext().drawingEnabled = true;
  auto ink = [&] {
    int n = 0;
    for (int x = 0; x < 700; ++x)
      for (int y = 15; y < 300; ++y)
        if (Pixel(x, y) == 0) ++n;
    return n;
  };
  const int blank = ink();
  const platform::Bitmap picture = Qt().Canvas().ToBitmap();
  const int frame = ReportTextColumn(Window(), 10);
  ASSERT_GT(frame, 40);
  auto inkLeftOfFrame = [&] {
    int n = 0;
    for (int x = 0; x < frame; ++x)
      for (int y = 15; y < 300; ++y) n += Pixel(x, y) != 0xffffff;
    return n;
  };
  const int axis = inkLeftOfFrame();
  for (const auto& [first, write] : writers)
    for (const auto& [second, replace] : writers) {
      SCOPED_TRACE(std::string(first) + " then " + second);
      // Above the data plot and in its rows, over the scans.
      for (const int y : {30, 70, 150, 230}) {
        write(y, "allocating memory space...    t = 3164 sec");
        ASSERT_GT(ink(), blank + 20);
        EXPECT_EQ(inkLeftOfFrame(), axis);
        replace(y, "");
        EXPECT_LE(ink(), blank);
      }
      EXPECT_TRUE(Qt().Canvas().ToBitmap() == picture);
      // Most of a line painted over since it was written (a picture put
      // back over its head): the next, shorter line at its place leaves
      // none of its tail, and its last pixels give back what they covered.
      const int row = ReportTextRow(Qt().Canvas().Image().height(), 70);
      const int step = ReportTextStep(Qt().Canvas().Image().height());
      const auto tail = [&] {
        std::vector<QRgb> pixels;
        for (int x = frame + 80; x < 700; ++x)
          for (int y = row; y < row + step; ++y) pixels.push_back(Pixel(x, y));
        return pixels;
      };
      const std::vector<QRgb> before = tail();
      write(70, "dt = 117.894737 sec  ");
      ASSERT_NE(tail(), before) << "the line does not reach past the part painted over";
      Window().Frame().Surface()->PastePixels(platform::Bitmap(frame + 80, step), 0, row);
      replace(70, "dt = 7.894737 sec  ");
      replace(70, "");
      EXPECT_EQ(tail(), before) << "old characters stay right of the line";
      ASSERT_FALSE(HasFailure());
      Window().Frame().Surface()->PastePixels(picture, 0, 0);
    }
  ContiContext().drawingEnabled = drawing;
}

// The real-time update's two status lines are written in the fit report's
// first two rows, right of it, and leave the plots below alone, also in a
// window lower than 1000 pixels.
TEST_F(WindowDrawing, TheRealtimeStatusLinesStandInTheReportsFirstRows) {
  Shown();
  LoadRun(3);
  TXLAWindow& w = Window();
  Qt().Invalidate(true);
  Drain();
  // Right of the fit report's column: in the report's first rows and below them.
  auto ink = [&](int top, int bottom) {
    int n = 0;
    for (int x = 480; x < 1000; ++x)
      for (int y = top; y < bottom; ++y)
        if (Pixel(x, y) == 0) ++n;
    return n;
  };
  const int plotsBefore = ink(60, 700);
  ASSERT_GT(plotsBefore, 100);
  const int topBefore = ink(15, 55);
  ui_->ExpectPrompt("REALTIME MODE", "maximal total number of files to load at once", std::string("20"));
  w.Dispatch(540);
  w.EvTimer(13);
  Drain();
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  EXPECT_GT(ink(15, 55), topBefore + 50);
  EXPECT_EQ(ink(60, 700), plotsBefore);
  w.Dispatch(541);
}

// The fit report stands in the rows of the data plot where it covers the
// fewest drawn pixels, leftmost among equals: long lines (three species'
// values) move clear of scans that fill the left part of its rows, and the
// lines written in its rows afterwards (progress, the pointer readout)
// follow it to its column. Rows: scans filling the left part, the right
// part, and none.
TEST_F(WindowDrawing, TheFitReportStandsWhereTheDataAreNot) {
  Shown();
  LoadRun(3);
  Qt().Resize(1280, 800);
  Qt().Invalidate(true);
  Drain();
  FitInfoLines report;
  std::vector<std::string> lines(15);
  lines[1] = "fitting files 00001.RA1 to 00036.RA1";
  lines[2] = "s3, step #15     ";
  lines[3] = "rmsd=0.018661 (n=12024,SSR=4.187205)";
  lines[4] = "M =  20000.000 | 60000.000 | 150000.000 |";
  lines[5] = "s = 2.400 | 5.100 | 7.900 |";
  lines[6] = "c = 0.918 | 0.561 | 0.262 | (first is total, not component #1)";
  lines[7] = "Meniscus = 6.020000  ";
  for (int k = 1; k <= 14; ++k) report.line[k] = lines[static_cast<std::size_t>(k)];
  const int base = ReportTextColumn(Window(), 10);
  // Scans of one colour each, a point every third pixel on rows 2 pixels
  // apart: the plateau of 36 early scans across every column of the rows.
  const QRgb scanColours[] = {0x000080, 0x0000ff, 0x00a0ff};
  auto drawScans = [&](int left, int right) {
    platform::Bitmap scans = Qt().Surface()->CopyPixels(left, 0, right - left, 130);
    for (int y = 30; y < 130; y += 2)
      for (int x = (y / 2) % 3; x < right - left; x += 3) {
        const QRgb c = scanColours[(y / 2) % 3];
        scans.SetPixel(x, y, static_cast<platform::COLORREF>(((c & 0xff) << 16) | (c & 0xff00) | ((c >> 16) & 0xff)));
      }
    Qt().Surface()->PastePixels(scans, left, 0);
  };
  struct Case {
    const char* name;
    int inkLeft, inkRight;  // columns of a block of dark pixels over the report's rows
    bool moves;
    bool scansEverywhere;  // scans cross every column of the rows instead
  };
  for (const Case& c : {Case{"scans at the left", base, base + 300, true, false},
                        Case{"scans at the right", base + 450, base + 900, false, false},
                        Case{"no scans", 0, 0, false, false},
                        Case{"scans across every column, three species", 0, 0, false, true}}) {
    SCOPED_TRACE(c.name);
    ReportShift() = 0;
    Qt().Invalidate(true);
    Drain();
    if (c.inkRight > c.inkLeft) {
      auto dc = Qt().Surface()->ClientDC();
      dc->SelectObject(platform::GetStockObject(platform::BLACK_BRUSH));
      dc->Rectangle(c.inkLeft, 30, c.inkRight, 130);
    }
    if (c.scansEverywhere) drawScans(0, 1280);
    const QImage picture = Qt().Canvas().Image().copy();
    // Dark pixels under the report's rows from a column on, as wide as
    // its widest line.
    auto under = [&](int column) {
      int n = 0;
      for (int y = ReportTextRow(800, 50); y < ReportTextRow(800, 130); ++y)
        for (int x = column; x < column + 330; ++x) n += (picture.pixel(x, y) & 0xffffff) != 0xffffff;
      return n;
    };
    // A report of the step before stands where a fit writes its next one.
    DrawFitInfoLines(MainFitHost(), report);
    DrawFitInfoLines(MainFitHost(), report);
    const int placed = ReportTextColumn(Window(), 10);
    EXPECT_LE(under(placed), under(base));
    if (c.moves) {
      EXPECT_GE(placed, c.inkRight);
    } else if (c.inkRight > c.inkLeft) {
      EXPECT_LT(placed, c.inkLeft);
    }
    // Every line stands on white: no point of a scan within the characters'
    // reach, and the characters are there.
    auto dc = Qt().Surface()->ClientDC();
    for (int k = 1; k <= 7; ++k) {
      const std::string& text = lines[static_cast<std::size_t>(k)];
      const int top = ReportTextRow(800, 10 + 20 * (k - 1));
      const int width = ReportTextWidth(*dc, 800, text.substr(0, text.find_last_not_of(' ') + 1));
      int scanPoints = 0, ink = 0;
      for (int y = top; y < top + ReportTextStep(800) / 2; ++y)
        for (int x = placed; x < placed + width; ++x) {
          const QRgb p = Pixel(x, y);
          for (QRgb scan : scanColours) scanPoints += p == scan;
          ink += p == 0;
        }
      EXPECT_EQ(scanPoints, 0) << text;
      EXPECT_GT(ink, 10) << text;
    }
    // Taken away (a Run begins), the report gives the scans back as they were.
    EraseTextsInPlace(*Qt().Surface());
    int changed = 0;
    for (int y = 0; y < 240; ++y)
      for (int x = 0; x < 1280; ++x) changed += Pixel(x, y) != (picture.pixel(x, y) & 0xffffff);
    EXPECT_EQ(changed, 0);
    // A line of progress written after the report stands in its column.
    MainFitHost()->DrawText(10, 70, lines[4]);
    int leftOfColumn = 0, inColumn = 0;
    const int column = ReportTextColumn(Window(), 10);
    for (int y = ReportTextRow(800, 70); y < ReportTextRow(800, 90); ++y) {
      for (int x = column - 40; x < column; ++x)
        leftOfColumn += Pixel(x, y) == 0 && (x < c.inkLeft || x >= c.inkRight) && !c.scansEverywhere;
      for (int x = column; x < column + 200; ++x) inColumn += Pixel(x, y) == 0;
    }
    EXPECT_GT(inColumn, 50);
    EXPECT_EQ(leftOfColumn, 0);
  }
  // The nonideal components' report in a window narrower than its line of
  // the coefficients (as wide as 1280 pixels are with the desktop's font):
  // the line goes on in the row below inside the window, and the lines
  // after it move down a row.
  constexpr int kNarrow = 1024;
  Qt().Resize(kNarrow, 800);
  ReportShift() = 0;
  Qt().Invalidate(true);
  Drain();
  report.line[11] =
      "non-ideality with repulsive ks = 1.000e-02 (log10 = -2.000), repulsive kD = 1.000e-02 (log10 = -2.000)/(mg/ml), "
      "with (mass signal)/(mg/ml) = 1.000 | log10(ks) at its upper fit limit 3.000 | log10(kd) at its upper fit limit "
      "3.000";
  report.line[12] = "Runs test Z (#stddev) = 1.25, Residuals Histogram H = 3.1%";
  auto inkIn = [&](int k, int from, int to) {
    int n = 0;
    for (int y = ReportTextRow(800, 10 + 20 * (k - 1)); y < ReportTextRow(800, 10 + 20 * k); ++y)
      for (int x = from; x < to; ++x) n += Pixel(x, y) == 0;
    return n;
  };
  {
    auto dc = Qt().Surface()->ClientDC();
    ASSERT_GT(ReportTextWidth(*dc, 800, report.line[11]), kNarrow - ReportTextColumn(Window(), 10));
  }
  DrawFitInfoLines(MainFitHost(), report);
  const int column = ReportTextColumn(Window(), 10);
  EXPECT_GT(inkIn(11, column, column + 200), 50);
  EXPECT_GT(inkIn(12, column, column + 200), 50);   // the coefficients' line goes on
  EXPECT_GT(inkIn(13, column, column + 200), 50);   // the runs test, a row down
  EXPECT_EQ(inkIn(11, kNarrow - 10, kNarrow) + inkIn(12, kNarrow - 10, kNarrow), 0);
  report.line[11].clear();
  report.line[12].clear();
  ReportShift() = 0;
}

// A report painted over whole (the data plot replayed during a fit) gives
// nothing of the picture before back when the next report takes its place:
// where the new picture is white beside a shorter line, it stays white.
TEST_F(WindowDrawing, AReportPaintedOverGivesNothingOfTheOldPictureBack) {
  Shown();
  LoadRun(3);
  Qt().Resize(1280, 800);
  Qt().Invalidate(true);
  Drain();
  ReportShift() = 0;
  const int column = ReportTextColumn(Window(), 10), row = ReportTextRow(800, 70);
  {
    auto dc = Qt().Surface()->ClientDC();
    dc->SelectObject(platform::GetStockObject(platform::BLACK_BRUSH));
    dc->Rectangle(column, row, column + 400, row + 12);  // a fitted curve under the line
  }
  MainFitHost()->DrawText(10, 70, "M =  20000.000 | 60000.000 | 150000.000 |");
  {
    auto dc = Qt().Surface()->ClientDC();
    dc->SelectObject(platform::GetStockObject(platform::WHITE_BRUSH));
    dc->SelectObject(platform::GetStockObject(platform::NULL_PEN));
    dc->Rectangle(0, 0, 1281, 801);  // the plot replayed: the curve moved away
  }
  MainFitHost()->DrawText(10, 70, "M =  2.000 |");
  auto dc = Qt().Surface()->ClientDC();
  const int shortWidth = ReportTextWidth(*dc, 800, "M =  2.000 |");
  int dark = 0;
  for (int y = row; y < row + 12; ++y)
    for (int x = column + shortWidth + 2; x < column + 400; ++x) dark += Pixel(x, y) != 0xffffff;
  EXPECT_EQ(dark, 0);
  ForgetTextsInPlace();
}

// The result line of the time to equilibrium ends with the file the speed
// steps were saved in: at 1280 x 800 it breaks before the window's right
// edge, and every part of it is written.
TEST_F(WindowDrawing, TheTimeToEquilibriumResultBreaksBeforeTheRightEdge) {
  Shown();
  LoadRun(3);
  Qt().Resize(1280, 800);
  Qt().Invalidate(true);
  Drain();
  auto ink = [&](int left, int right, int top, int bottom) {
    int n = 0;
    for (int x = left; x < right; ++x)
      for (int y = top; y < bottom; ++y)
        if (Pixel(x, y) == 0) ++n;
    return n;
  };
  const int secondRowBefore = ink(50, 1262, 28, 44), edgeBefore = ink(1262, 1280, 10, 44);
  const std::string folder =
      "/home/someone/experiments/2026-12-08 sedimentation equilibrium of the dimer at three loadings and four "
      "speeds/planning of the speed steps/";
  MainWindowFlags& flags = WindowFlags();
  flags.TimeToEqSummary = "epsilon = 0.0010: t(const) = 38 h, t(opt) = 21 h, saved in " + folder + "speedsteps.txt";
  flags.TimeToEqSummaryPending = true;
  Qt().Invalidate(true);
  Drain();
  EXPECT_FALSE(flags.TimeToEqSummaryPending);
  EXPECT_GT(ink(50, 600, 10, 26), 100);                     // the first line
  EXPECT_GT(ink(50, 1262, 28, 44), secondRowBefore + 100);  // the rest of it below
  EXPECT_EQ(ink(1262, 1280, 10, 44), edgeBefore);  // nothing runs to the edge
}

}  // namespace

