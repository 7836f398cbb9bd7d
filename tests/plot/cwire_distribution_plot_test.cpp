#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <utility>

#include "distributions/conti_settings.h"
#include "distributions/distribution_arrays.h"
#include "fit/model_selector.h"
#include "platform/metafile.h"
#include "platform/scripted_ui.h"
#include "plot/cwinplot.h"
#include "plot/distribution_plot.h"
#include "plot/plot_window_set.h"

namespace {

struct DistributionPlotTest : ::testing::Test {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI scope{ui};
  ModelSelectorFlags savedFlags = gModelSelectorFlags;

  void SetUp() override {
    InstallDistributionPlot();
    gModelSelectorFlags = ModelSelectorFlags{};
    gModelSelectorFlags.DistributionModel = 1;
    gModelSelectorFlags.CSModel = 1;
    Conti().showBothRegularizations = 0;
  }
  void TearDown() override {
    FreeDistributionArrays();
    SetDistributionPlotHost(nullptr);
    gModelSelectorFlags = savedFlags;
    Conti().showBothRegularizations = 0;
  }

  // A c(s) of n points on 1..10 S: a Gaussian peak at 4 S.
  static void FillCs(int n) {
    AllocDistributionArrays(n, 0, 0);
    ContiSettings& cs = Conti();
    for (int i = 1; i <= n; ++i) {
      cs.sValues[i] = 1.0f + 9.0f * (i - 1) / (n - 1);
      cs.molarMasses[i] = 1000.0f * cs.sValues[i];
      cs.distribution[i] = std::exp(-0.5f * std::pow((cs.sValues[i] - 4.0f) / 0.5f, 2.0f));
      cs.companionDistribution[i] = 0.5f * cs.distribution[i];
    }
  }

  // End points of the lines in a picture.
  static std::set<std::pair<int, int>> LineEnds(platform::HMETAFILE mf) {
    std::set<std::pair<int, int>> ends;
    auto data = platform::MetafileContents(mf);
    if (!data) return ends;
    for (const platform::DrawOp& op : data->Ops())
      if (op.kind == platform::DrawOp::Kind::LineTo) ends.insert({op.a, op.b});
    return ends;
  }
};

}  // namespace

TEST_F(DistributionPlotTest, CsPlotStandsBelowTheResidualsAndDrawsEveryPoint) {
  FillCs(25);
  BuildDistributionPlot();
  CWINPlot* plot = DistributionPlotWindow().Plot();
  ASSERT_NE(plot, nullptr);
  EXPECT_EQ(Conti().distributionPlot, plot);
  EXPECT_EQ(plot->plotTop, 630);
  EXPECT_EQ(plot->plotBottom, 950);
  EXPECT_EQ(plot->plotLeft, 104);    // 75 x 1.4, truncated in single precision
  EXPECT_EQ(plot->plotRight, 1364);  // 975 x 1.4
  EXPECT_EQ(plot->curveCount, 1);
  EXPECT_EQ(plot->GetCurveColor(0), 0u);
  EXPECT_EQ(plot->xLabel, "sed coefficient [S]");
  EXPECT_EQ(plot->yLabel, "c(s)");
  // The data and residual plots make room for it.
  const PlotWindowSet& w = CurrentPlotWindows();
  EXPECT_EQ(w.dataTop, 50);
  EXPECT_EQ(w.dataBottom, 350);
  EXPECT_EQ(w.residualTop, 405);
  EXPECT_EQ(w.areaBottom, 575);

  const long handle = RedrawDistributionPlot();
  ASSERT_NE(handle, 0);
  EXPECT_EQ(static_cast<platform::HMETAFILE>(handle), GetDistributionPlotMetafile());
  // Every point after the first is reached by a line, inside the plot
  // area, and the y axis starts at zero.
  const auto ends = LineEnds(GetDistributionPlotMetafile());
  for (int i = 1; i <= 25; ++i) {
    const int x = plot->ToPixelX(Conti().sValues[i]), y = plot->ToPixelY(Conti().distribution[i]);
    if (i > 1) {
      EXPECT_TRUE(ends.count({x, y})) << "point " << i;
    }
    EXPECT_GE(x, plot->plotLeft);
    EXPECT_LE(x, plot->plotRight);
    EXPECT_GE(y, plot->plotTop);
    EXPECT_LE(y, plot->plotBottom);
  }
  EXPECT_LE(plot->yMin, 0.0f);
  EXPECT_GE(plot->yMax, 1.0f);
  EXPECT_LE(plot->xMin, 1.0f);
  EXPECT_GE(plot->xMax, 10.0f);

  FreeDistributionArrays();
  EXPECT_EQ(DistributionPlotWindow().Plot(), nullptr);
  EXPECT_EQ(Conti().distributionPlot, nullptr);
  EXPECT_EQ(GetDistributionPlotMetafile(), 0u);
  EXPECT_EQ(RedrawDistributionPlot(), 0);
  EXPECT_EQ(w.dataBottom, 475);
  EXPECT_EQ(w.residualTop, 550);
  EXPECT_EQ(w.areaBottom, 950);
}

TEST_F(DistributionPlotTest, BothRegularizationsAddTheCompanionInBlue) {
  Conti().showBothRegularizations = 1;
  FillCs(12);
  BuildDistributionPlot();
  CWINPlot* plot = DistributionPlotWindow().Plot();
  ASSERT_NE(plot, nullptr);
  ASSERT_EQ(plot->curveCount, 2);
  EXPECT_EQ(plot->GetCurveColor(1), 0xFF0000u);
  EXPECT_NE(RedrawDistributionPlot(), 0);
}

TEST_F(DistributionPlotTest, SizeAndShapeMapKeepsItsFrictionalRatioRange) {
  gModelSelectorFlags.CSModel = 0;
  gModelSelectorFlags.CSff0Model = 1;
  const int n = 8, nf = 5;
  ContiSettings& cs = Conti();
  cs.resolution = n;
  cs.ffCount = nf;
  cs.ffMin = 1.0f;
  cs.ffMax = 2.0f;
  AllocDistributionArrays(n, n * nf, nf);
  for (int k = 1; k <= nf; ++k)
    for (int i = 1; i <= n; ++i) {
      const int j = (k - 1) * n + i;
      cs.grid2DS[j] = 1.0f + i;
      cs.grid2DFf[j] = 1.0f + 0.25f * (k - 1);
      cs.grid2DAmplitude[j] = (i == 3 && k == 2) ? 1.0f : 0.0f;
    }
  for (int i = 1; i <= n; ++i) cs.sValues[i] = 1.0f + i;
  BuildDistributionPlot();
  CWINPlot* plot = DistributionPlotWindow().Plot();
  ASSERT_NE(plot, nullptr);
  ASSERT_EQ(plot->curveCount, 2);  // the distribution and the map
  EXPECT_EQ(plot->GetCurveStyle(1), 11);
  EXPECT_EQ(plot->extraDataCurve, 1);
  EXPECT_EQ(plot->extraDataCount, n * nf);
  EXPECT_EQ(plot->extraData, cs.grid2DAmplitude + 1);
  // Cells: half an f/f0 step high, half an s step wide (plot width 320).
  EXPECT_EQ(plot->symbolSize, 41);       // trunc(0.5 x 320 / 4) + 1
  EXPECT_EQ(plot->symbolHalfWidth, 25);  // trunc(0.5 x 1.2 x 320 / 8) + 1
  EXPECT_EQ(plot->yLabel, "c(s,*) or ff0");
  EXPECT_EQ(plot->annotation1, "ff0=1.00");
  EXPECT_EQ(plot->annotation2, "ff0=2.00");
  for (int round = 0; round < 2; ++round) {
    EXPECT_NE(RedrawDistributionPlot(), 0);
    EXPECT_EQ(plot->yMin, 1.0f);
    EXPECT_EQ(plot->yMax, 2.0f);
  }
}

TEST_F(DistributionPlotTest, DataPlotsAreLaidOutAgainAroundIt) {
  PlotWindowSet& w = CurrentPlotWindows();
  CWINPlot* saved = w.dataPlot;
  CWINPlot data;
  w.dataPlot = &data;
  FillCs(10);
  BuildDistributionPlot();
  EXPECT_EQ(data.plotTop, 50);
  EXPECT_EQ(data.plotBottom, 350);
  FreeDistributionArrays();
  Conti().distributionShown = 1;  // a shown distribution gives the room back
  FillCs(10);
  BuildDistributionPlot();
  FreeDistributionArrays();
  EXPECT_EQ(data.plotBottom, 475);
  Conti().distributionShown = 0;
  w.dataPlot = saved;
}

namespace {

// The client area as the pens and lines drawn into it.
class PenSurface : public platform::DrawSurface {
 public:
  class Log : public platform::RecordingDC {
   public:
    explicit Log(std::vector<std::string>& out) : out_(out) {}
    ~Log() override {
      for (const std::string& op : Describe()) out_.push_back(op);
    }

   private:
    std::vector<std::string>& out_;
  };
  int ClientWidth() const override { return 800; }
  int ClientHeight() const override { return 600; }
  std::unique_ptr<platform::DrawContext> ClientDC() override { return std::make_unique<Log>(ops); }
  platform::Bitmap CopyPixels(int, int, int w, int h) const override { return platform::Bitmap(w, h); }
  void PastePixels(const platform::Bitmap&, int x, int y) override {
    pastes.push_back(std::to_string(x) + "," + std::to_string(y));
  }
  std::vector<std::string> ops, pastes;
};

}  // namespace

TEST_F(DistributionPlotTest, ProgressLineTakesThePenColourAndIsErasedWhereItStood) {
  PenSurface surface;
  const PlotWindowHooks saved = PlotHooks();
  PlotHooks().surface = [&surface] { return &surface; };
  bool painted = false;
  PlotHooks().painted = [&painted] { return painted; };
  DistributionPlotHost& host = DistributionPlotWindow();
  // Before the first paint nothing is shown or drawn.
  host.ShowProgressLine(1, 10, 65);
  host.DrawProgressLine(0.5f);
  host.EraseProgressLine();
  EXPECT_TRUE(surface.ops.empty());
  EXPECT_TRUE(surface.pastes.empty());
  painted = true;
  struct Case {
    int pen;
    const char* colour;
  };
  for (const Case c : {Case{1, "0xff6400"}, Case{2, "0xb400b4"}}) {
    surface.ops.clear();
    surface.pastes.clear();
    host.ShowProgressLine(c.pen, 10, 65);
    host.DrawProgressLine(0.5f);
    const auto bar = std::find_if(surface.ops.begin(), surface.ops.end(), [&](const std::string& op) {
      return op.rfind("SelectPen", 0) == 0 && op.find(c.colour) != std::string::npos;
    });
    EXPECT_NE(bar, surface.ops.end()) << c.pen;
    // Half of the 100-pixel track.
    EXPECT_NE(std::find(bar, surface.ops.end(), "LineTo(60,65)"), surface.ops.end()) << c.pen;
    host.EraseProgressLine();
    EXPECT_EQ(surface.pastes, std::vector<std::string>{"9,62"});
    host.DrawProgressLine(0.9f);  // gone: nothing more is drawn
    EXPECT_EQ(surface.pastes.size(), 1u);
  }
  PlotHooks() = saved;
}
