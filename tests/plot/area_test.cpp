#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "area_fixture.h"
#include "platform/clock.h"
#include "platform/user_interface.h"
#include "platform/metafile.h"
#include "tests/support/file_text.h"

using namespace plottest;
using platform::RGB;

namespace {

struct Rect {
  int top, left, bottom, right;
  bool operator==(const Rect&) const = default;
};
Rect PlotRect(const CWINPlot* p) { return {p->plotTop, p->plotLeft, p->plotBottom, p->plotRight}; }

using teststate::FileLines;

const platform::MetafileData& Contents(platform::HMETAFILE mf) {
  static std::shared_ptr<const platform::MetafileData> keep;
  keep = platform::MetafileContents(mf);
  return *keep;
}

}  // namespace

using PlotAreas = PlotTest;

// Layout numbers times the single-precision stretch 1.4f, truncated:
// 75 -> 104, 775 -> 1084, 785 -> 1098, 975 -> 1364.
TEST_F(PlotAreas, LayoutFollowsTheBitmapAndHistogramSwitches) {
  LoadScans({.scans = 40}, [](int, float r) { return r; });
  struct Case {
    bool bitmap, histogram;
    Rect residual;
  } cases[] = {{true, true, {590, 104, 950, 1084}},
               {false, true, {550, 104, 950, 1084}},
               {true, false, {590, 104, 950, 1364}},
               {false, false, {550, 104, 950, 1364}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bitmap) + std::to_string(c.histogram));
    PlotWindowSet& w = CurrentPlotWindows();
    w.showBitmap = c.bitmap;
    w.showHistogram = c.histogram;
    SetPlotAxisTitles();
    EXPECT_EQ(PlotRect(w.dataPlot), (Rect{50, 104, 475, 1364}));
    EXPECT_EQ(PlotRect(w.residualPlot), c.residual);
    if (c.histogram) {
      EXPECT_EQ(PlotRect(w.histogramPlot), (Rect{550, 1098, 950, 1364}));
      EXPECT_EQ(w.histogramPlot->frameLeft, 1098 - 5);
    }
  }
  PlaceDataPlotWindow();
  EXPECT_EQ(PlotRect(CurrentPlotWindows().dataPlot), (Rect{50, 104, 950, 1364}));
  PlaceResidualPlotWindow();
  EXPECT_EQ(PlotRect(CurrentPlotWindows().residualPlot), (Rect{50, 104, 950, 1364}));
}

TEST_F(PlotAreas, CurvesInTimeOrderWithScanColoursStylesAndTitles) {
  struct Case {
    char type;
    int scans;
    const char* dataTitle;
    const char* residualTitle;
    int dataStyle;
    int symbolSize;
    int dataCurves;
  } cases[] = {{'R', 3, "absorbance [OD]", "residuals [OD]", 6, 2, 3},
               {'I', 3, "intensity", "intensity", 6, 2, 6},
               {'F', 3, "fluorescence counts", "fluorescence counts", -1, 2, 3},
               {'P', 3, "fringes", "fringes", 6, 0, 3},
               {'P', 51, "fringes", "fringes", -1, 0, 51}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(1, c.type) + std::to_string(c.scans));
    ClearPlotState();
    CurrentPlotWindows().colorByTime = 0;
    LoadScans({.scans = c.scans, .type = c.type}, [](int scan, float r) { return scan + r; });
    SetPlotAxisTitles();
    const PlotWindowSet& w = CurrentPlotWindows();
    const ScanSet& s = CurrentScanSet();
    ASSERT_EQ(w.dataPlot->curveCount, c.dataCurves);
    EXPECT_EQ(w.dataPlot->yLabel, c.dataTitle);
    EXPECT_EQ(w.residualPlot->yLabel, c.residualTitle);
    EXPECT_EQ(w.dataPlot->symbolSize, c.symbolSize);
    EXPECT_TRUE(w.dataPlot->showYAxisTitle);
    for (int i = 1; i <= c.scans; ++i) {
      const int scan = s.order[i];
      EXPECT_EQ(w.dataPlot->curves[i - 1], s.dataCurve[scan]);
      EXPECT_EQ(w.residualPlot->curves[i - 1], s.residualCurve[scan]);
      EXPECT_EQ(w.dataPlot->GetCurveStyle(i - 1), c.dataStyle);
      EXPECT_EQ(w.residualPlot->GetCurveStyle(i - 1), -1);
      EXPECT_EQ(w.dataPlot->GetCurveColor(i - 1), ScanColor(i));
      EXPECT_EQ(w.residualPlot->GetCurveColor(i - 1), ScanColor(i));
      if (c.type == 'I') {
        EXPECT_EQ(w.dataPlot->curves[c.scans + i - 1], s.signal2Curve[scan]);
        EXPECT_EQ(w.dataPlot->GetCurveStyle(c.scans + i - 1), 7);
      }
    }
  }
}

TEST_F(PlotAreas, DlsDataGetNoHistogram) {
  LoadScans({}, [](int, float r) { return r; }, [](int, float) { return 0.5f; });
  CurrentDataTypeFlags() = DataTypeFlags{};
  CurrentDataTypeFlags().dls = 1;
  SetPlotAxisTitles();
  EXPECT_EQ(CurrentPlotWindows().histogramPlot, nullptr);
  EXPECT_EQ(CurrentPlotWindows().dataPlot->yLabel, "g(2)-1 intensity autocorrelation ");
  PlotHooks().dlsFieldAutocorrelation = [] { return true; };
  SetPlotAxisTitles();
  EXPECT_EQ(CurrentPlotWindows().residualPlot->yLabel, "g(1) field autocorrelation ");
  UpdateResidualHistogram();  // nothing to do, nothing to crash
  EXPECT_EQ(GetResidualHistogramMetafile(), 0u);
}

TEST_F(PlotAreas, RampColours) {
  EXPECT_EQ(ColorForFraction(0, 40), 0u);
  EXPECT_EQ(ColorForFraction(40, 40), 0x0000bfu);
  EXPECT_EQ(ColorForFraction(1, 10), RGB(0, 0, 127));     // half way to blue
  EXPECT_EQ(ColorForFraction(3, 10), RGB(0, 127, 255));   // blue to cyan
  EXPECT_EQ(ColorForFraction(1, 2), RGB(101, 255, 153));  // cyan to yellow (0.4 of the way, rounded down)
  EXPECT_EQ(ColorForFraction(8, 10), RGB(255, 101, 0));   // yellow to red
  EXPECT_EQ(ColorForFraction(5, 0), 0u);                  // no scans: black, no division
  EXPECT_FLOAT_EQ(CurrentPlotWindows().rampBlue, 0.0f);
}

TEST_F(PlotAreas, PaletteColoursWhenNotColouredByTime) {
  CurrentPlotWindows().colorByTime = 0;
  struct Case {
    int i, scans;
    platform::COLORREF colour;
  } cases[] = {{1, 3, RGB(255, 0, 0)},     {5, 3, 0},                   {4, 20, RGB(200, 200, 0)},
               {15, 20, RGB(185, 0, 0)},   {21, 30, RGB(55, 55, 55)},   {8, 10, RGB(255, 40, 40)},
               {22, 30, RGB(205, 246, 246)}, {9, 10, RGB(80, 225, 80)}, {10, 10, RGB(195, 120, 195)},
               {11, 14, RGB(160, 165, 160)}, {12, 14, RGB(135, 200, 200)}, {0, 3, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.i) + " of " + std::to_string(c.scans));
    ClearPlotState();
    CurrentPlotWindows().colorByTime = 0;
    CurrentScanSet().count = c.scans;
    EXPECT_EQ(ScanColor(c.i), c.colour);
  }
  CurrentScanSet().count = 0;
}

TEST_F(PlotAreas, ResidualsInsideTheFitLimitsAndTheirRange) {
  // Residual of scan i at r: 0.01 i (r - 6.5).
  auto signal = [](int scan, float r) { return 1.0f + 0.01f * scan * (r - 6.5f); };
  auto model = [](int, float) { return 1.0f; };
  struct Case {
    float left, right;
  } cases[] = {{6.2f, 6.8f}, {0.0f, 6.8f}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.left);
    ClearPlotState();
    std::filesystem::remove(Path("ScanRms.dat"));
    CurrentPlotWindows().scanRmsPath = Path("ScanRms.dat");
    LoadScans({.scans = 4, .points = 61, .left = c.left, .right = c.right}, signal, model);
    SetPlotAxisTitles();
    UpdateResidualsPlot(true);
    const ScanSet& s = CurrentScanSet();
    const CWINPlot& p = *CurrentPlotWindows().residualPlot;
    const bool limited = c.left != 0;
    for (int scan = 1; scan <= 4; ++scan)
      for (int k = 1; k <= 61; ++k) {
        const float r = s.radii[scan][k];
        const bool inside = !limited || (k >= s.firstFitPoint[scan] && k <= s.lastFitPoint[scan]);
        ASSERT_NEAR(s.residuals[scan][k], inside ? 0.01f * scan * (r - 6.5f) : 0.0f, 1e-6f) << scan << " " << k;
      }
    if (limited) {
      EXPECT_EQ(p.xMin, 6.2f);
      EXPECT_EQ(p.xMax, 6.8f);
      EXPECT_NEAR(p.yMax, 0.04f * 0.3f, 2e-5f);  // scan 4 at the right limit
      EXPECT_TRUE(std::filesystem::exists(Path("ScanRms.dat")));
    } else {
      EXPECT_LT(p.xMin, 6.0f + 1e-6f);  // every point counts
      EXPECT_GE(p.yMax, 0.02f - 1e-6f);
      EXPECT_FALSE(std::filesystem::exists(Path("ScanRms.dat")));
    }
    EXPECT_NE(GetResidualPlotMetafile(), 0u);
  }
}

TEST_F(PlotAreas, ScanRmsFileHoldsEachScansRmsdInTimeOrder) {
  // Scan i alternates +-0.001 i: its rmsd is exactly 0.001 i.
  auto signal = [](int scan, float r) {
    const int k = static_cast<int>(std::lround((r - 6.0f) * 49));
    return (k % 2 ? 0.001f : -0.001f) * static_cast<float>(scan);
  };
  LoadScans({.scans = 3, .points = 50, .left = 6.0f, .right = 7.0f}, signal);
  SetPlotAxisTitles();
  UpdateResidualsPlot(false);
  const auto lines = FileLines(Path("ScanRms.dat"));
  ASSERT_EQ(lines.size(), 3u);
  // Scan 3 is the earliest.
  for (int i = 0; i < 3; ++i) {
    std::istringstream line(lines[static_cast<size_t>(i)]);
    std::string name;
    double rmsd = 0;
    line >> name >> rmsd;
    EXPECT_EQ(name, CurrentScanSet().fileNames[static_cast<size_t>(3 - i)]);
    EXPECT_NEAR(rmsd, 0.001 * (3 - i), 1e-9);
  }
  EXPECT_EQ(lines[0], "00003.RA1 \t3.000000e-03");
  EXPECT_EQ(CurrentPlotWindows().worstScan, 3);
}

TEST_F(PlotAreas, ScanRmsEdgeCases) {
  LoadScans({.scans = 2, .left = 6.1f, .right = 6.9f}, [](int, float) { return 0.5f; },
            [](int, float) { return 0.5f; });
  SetPlotAxisTitles();
  UpdateResidualsPlot(true);  // all residuals exactly 0
  auto lines = FileLines(Path("ScanRms.dat"));
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "00001.RA1 \t0.000000e+00");
  EXPECT_EQ(CurrentPlotWindows().worstScan, 0);

  // A scan without points in its fit range ends the table early.
  CurrentScanSet().firstFitPoint[1] = 10;
  CurrentScanSet().lastFitPoint[1] = 9;
  WriteScanRmsFile();
  EXPECT_EQ(FileLines(Path("ScanRms.dat")).size(), 1u);

  // An unwritable file: one box, and the table is not written again.
  CurrentPlotWindows().scanRmsPath = Path("missing/ScanRms.dat");
  ui_.ExpectBox("ERROR", "could not open ScanRms file");
  UpdateResidualsPlot(false);
  UpdateResidualsPlot(false);
  EXPECT_FALSE(CurrentPlotWindows().scanRmsEnabled);
  EXPECT_TRUE(ui_.AllConsumed());
  EXPECT_TRUE(ui_.failures.empty());
}

TEST_F(PlotAreas, TheBareScanRmsNameGoesBesideTheData) {
  const std::string data = Path("data");
  std::filesystem::create_directories(data);
  struct Case {
    std::string setting, dataFolder, expected;
  } cases[] = {
      {"ScanRms.dat", data, (std::filesystem::path(data) / "ScanRms.dat").string()},
      {Path("out/ScanRms.dat"), data, Path("out/ScanRms.dat")},  // a run's output folder stands
      {"ScanRms.dat", "", "ScanRms.dat"},                          // nothing loaded: as set
  };
  const std::string savedFolder = CurrentScanSet().dataFolder;
  for (const Case& c : cases) {
    CurrentPlotWindows().scanRmsPath = c.setting;
    CurrentScanSet().dataFolder = c.dataFolder;
    EXPECT_EQ(ScanRmsFilePath(), c.expected) << c.setting;
  }
  CurrentPlotWindows().scanRmsPath = "ScanRms.dat";
  CurrentScanSet().dataFolder = data;
  LoadScans({.scans = 2, .left = 6.1f, .right = 6.9f}, [](int, float) { return 0.5f; });
  CurrentScanSet().dataFolder = data;
  SetPlotAxisTitles();
  UpdateResidualsPlot(false);
  EXPECT_EQ(FileLines(data + "/ScanRms.dat").size(), 2u);
  CurrentScanSet().dataFolder = savedFolder;
}

TEST_F(PlotAreas, FitRedrawIsThrottledByTheInterval) {
  platform::ManualClock clock;
  platform::SetClock(&clock);
  std::vector<std::string> calls;
  PlotHooks().paintDataPlot = [&] { calls.push_back("data"); };
  PlotHooks().paintResidualPlots = [&] { calls.push_back("residuals"); };
  PlotHooks().paintDistributionPlot = [&] { calls.push_back("distribution"); };
  PlotWindowSet& w = CurrentPlotWindows();
  RedrawFitProgress();
  EXPECT_TRUE(calls.empty());  // nothing chosen
  EXPECT_FALSE(w.fitRedrawStarted);

  w.updateDataDuringFit = w.updateResidualsDuringFit = w.updateDistributionDuringFit = 1;
  w.fitRedrawInterval = 0.5f;
  clock.ticks = 10000;
  RedrawFitProgress();
  EXPECT_EQ(calls, (std::vector<std::string>{"data", "residuals", "distribution"}));
  struct Step {
    std::uint64_t ticks;
    bool redraws;
  } steps[] = {{10200, false}, {10500, false}, {10501, true}, {10900, false}, {11002, true}};
  for (const Step& st : steps) {
    calls.clear();
    clock.ticks = st.ticks;
    RedrawFitProgress();
    EXPECT_EQ(!calls.empty(), st.redraws) << st.ticks;
  }
  // The tick count wraps after 49 days; the redraws go on.
  w.lastFitRedraw = 0xffffff00u;
  clock.ticks = 0x100000000ull + 0x200;
  calls.clear();
  RedrawFitProgress();
  EXPECT_FALSE(calls.empty());
  platform::SetClock(nullptr);
}

TEST_F(PlotAreas, HistogramPlotBesideTheResiduals) {
  auto signal = [](int scan, float r) { return 0.01f * std::sin(37.0f * r * static_cast<float>(scan)); };
  LoadScans({.scans = 5, .points = 200}, signal);
  BuildPlotCurves();
  SetPlotAxisTitles();
  PlotWindowSet& w = CurrentPlotWindows();
  ASSERT_GT(w.binCount, 9);
  ASSERT_EQ(w.histogramPlot->curveCount, 2);
  EXPECT_EQ(w.histogramPlot->GetCurveStyle(0), 21);
  EXPECT_EQ(w.histogramPlot->GetCurveColor(0), 0x646464u);
  EXPECT_EQ(w.histogramPlot->GetCurveStyle(1), 12);
  EXPECT_EQ(w.histogramPlot->GetCurveColor(1), 0x0000ffu);
  UpdateResidualHistogram();
  ASSERT_NE(GetResidualHistogramMetafile(), 0u);
  // One bar per bin with counts, between the bin's edges, as high as its count.
  const CWINPlot& h = *w.histogramPlot;
  std::vector<platform::DrawOp> bars;
  for (const auto& op : Contents(GetResidualHistogramMetafile()).Ops())
    if (op.kind == platform::DrawOp::Kind::Rectangle && op.a != h.plotLeft && op.b != op.d && op.b == h.ToPixelY(0))
      bars.push_back(op);
  std::vector<int> filled;
  for (int k = 1; k <= w.binCount; ++k)
    if (w.countArrays[1][k] > 0) filled.push_back(k);
  ASSERT_EQ(bars.size(), filled.size());
  for (size_t j = 0; j < bars.size(); ++j) {
    const int k = filled[j];
    EXPECT_EQ(bars[j].a, h.ToPixelX(w.binArrays[1][k]));
    EXPECT_EQ(bars[j].c, h.ToPixelX(w.binArrays[3][k]));
    EXPECT_EQ(bars[j].d, h.ToPixelY(w.countArrays[1][k]));
  }
  DeletePlotCurveObjects();
  EXPECT_EQ(w.binCount, 0);
  EXPECT_EQ(w.histogramPlot->curveCount, 0);
}

// The data plot of an absorbance set: ticks every 0.2 cm, y numbers with
// three characters, and a frame that grows to the left to hold them.
TEST_F(PlotAreas, TicksAndFrameOfTheDataPlot) {
  LoadScans({.scans = 3}, [](int scan, float r) { return 0.2f * scan * (r - 6.0f); });
  SetPlotAxisTitles();
  RedrawDataPlot(true);
  const CWINPlot& p = *CurrentPlotWindows().dataPlot;
  std::vector<std::string> xNumbers;
  size_t widest = 0;
  for (const auto& op : Contents(GetDataPlotMetafile()).Ops()) {
    if (op.kind != platform::DrawOp::Kind::TextOut) continue;
    if (op.b == p.plotBottom + 10) xNumbers.push_back(op.text);
    if (op.a == p.plotLeft - 10) widest = std::max(widest, op.text.size());
  }
  EXPECT_EQ(xNumbers, (std::vector<std::string>{"6", "6.5", "7"}));
  ASSERT_GT(widest, 0u);
  EXPECT_EQ(p.frameLeft, p.plotLeft - 18 - 17 * static_cast<int>(widest));
}

TEST_F(PlotAreas, PointsBeyondTheRangeCauseExactlyOneReplot) {
  LoadScans({.scans = 2}, [](int, float r) { return r - 6.0f; });
  SetPlotAxisTitles();
  CWINPlot& p = *CurrentPlotWindows().dataPlot;
  // The data change behind the plot's back: one rescale and one more recording.
  CurrentScanSet().signals[1][10] = 5.0f;
  p.Plot();
  platform::HMETAFILE before = p.lastMetafile;
  CurrentScanSet().signals[1][20] = 9.0f;
  ASSERT_TRUE(p.Plot());
  EXPECT_EQ(p.lastMetafile - before, 2u);
  EXPECT_GT(p.yMax, 9.0f);
  // With y fixed a rescale cannot help: still one more recording, then stop.
  p.SetRanges(6.0f, 7.0f, 0.0f, 1.0f);
  p.xRangeFixed = 0;
  before = p.lastMetafile;
  ASSERT_TRUE(p.Plot());
  EXPECT_EQ(p.lastMetafile - before, 2u);
  EXPECT_EQ(p.yMax, 1.0f);
  // A picture nobody will see is not recorded.
  platform::SetDrawingUnseen(true);
  before = p.lastMetafile;
  EXPECT_TRUE(p.Plot());
  platform::SetDrawingUnseen(false);
  EXPECT_EQ(p.lastMetafile, before);
}

// The colour scale of per-point extra values: one box per 10 rows, at
// least two.
TEST_F(PlotAreas, ColourBarBoxCount) {
  LoadScans({.scans = 1, .points = 10}, [](int, float r) { return r; });
  SetPlotAxisTitles();
  CWINPlot& p = *CurrentPlotWindows().dataPlot;
  std::vector<float> extra(11, 1.0f);
  p.SetExtraData(0, extra.data(), 1, 10, 0);
  p.showColorBar = 1;
  struct Case {
    int top, bottom, boxes;
  } cases[] = {{50, 475, 43}, {50, 55, 2}, {50, 59, 2}, {50, 70, 3}};
  for (const Case& c : cases) {
    p.SetPlotRect(c.top, 75, c.bottom, 975);
    ASSERT_TRUE(p.Plot());
    const int x0 = p.plotRight + p.colorBarOffset;
    int boxes = 0;
    for (const auto& op : Contents(p.lastMetafile).Ops())
      if (op.kind == platform::DrawOp::Kind::Rectangle && op.a == x0 && op.c == x0 + 21) ++boxes;
    EXPECT_EQ(boxes, c.boxes) << c.bottom - c.top;
  }
}
