// The plots of a loaded and fitted 40-scan absorbance set, painted the way
// the main window paints them, onto the offscreen canvas. With the
// environment variable TARNEL_PLOT_DOCS naming a folder, the pictures are
// also written there as data_plot.png and residuals.png.
#include <cstdlib>
#include <set>
#include <string>

#include "area_fixture.h"
#include "platform/metafile.h"
#include "plot/direct_curve.h"

#ifdef TARNEL_HAVE_QT
#include <QImage>

#include "platform/qt/qt_canvas.h"

using namespace plottest;

namespace {

// Data plot with the fitted curves over it, residual plot, histogram and
// the residuals bitmap strip.
void PaintPlots(platform::qt::QtCanvas& canvas) {
  canvas.Clear();
  ReplayPlotPicture(canvas, GetDataPlotMetafile());
  const ScanSet& s = CurrentScanSet();
  CWINPlot* data = CurrentPlotWindows().dataPlot;
  for (int i = 1; i <= s.count; ++i) {
    const int scan = s.order[static_cast<size_t>(i)];
    const platform::HMETAFILE fit =
        DrawCurveInDC(data, s.modelCurve[static_cast<size_t>(scan)], 1, s.points[static_cast<size_t>(scan)],
                      ScanColor(i), 12, 1);
    ReplayPlotPicture(canvas, fit);
    platform::DeleteMetaFile(fit);
  }
  ReplayPlotPicture(canvas, GetResidualPlotMetafile());
  ReplayPlotPicture(canvas, GetResidualHistogramMetafile());
  DrawResidualsBitmap(canvas);
}

int CountColour(const platform::Bitmap& b, platform::COLORREF c, int y0, int y1) {
  int n = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = 0; x < b.Width(); ++x) n += b.GetPixel(x, y) == c;
  return n;
}

}  // namespace

using PlotRendering = PlotTest;

TEST_F(PlotRendering, FortyScansWithFitResidualsAndBitmap) {
  ASSERT_TRUE(LoadSimulatedAbsorbanceSet(40));
  PlotWindowSet& w = CurrentPlotWindows();
  w.bitmapFullScale = 0.02f;
  SetPlotAxisTitles();
  BuildPlotCurves();
  SetPlotAxisTitles();  // the histogram's curves exist now
  UpdateResidualsPlot(true);
  UpdateResidualHistogram();
  RedrawDataPlot(true);
  EnsureGuiApp();
  platform::qt::QtCanvas canvas(1400, 1000);
  PaintPlots(canvas);
  const platform::Bitmap shown = canvas.ToBitmap();

  // Every scan shows in its own colour in the data plot.
  std::set<platform::COLORREF> colours;
  for (int i = 1; i <= 40; ++i) {
    colours.insert(ScanColor(i));
    EXPECT_GT(CountColour(shown, ScanColor(i), 50, 475), 100) << "scan " << i;
  }
  EXPECT_EQ(colours.size(), 40u);
  // The strip: 40 rows above the residual plot, grey shades, not white.
  int strip = 0;
  for (int y = 550; y < 590; ++y)
    for (int x = 110; x < 1080; ++x) {
      const platform::COLORREF c = shown.GetPixel(x, y);
      strip += c != 0xffffff && platform::GetRValue(c) == platform::GetGValue(c);
    }
  EXPECT_GT(strip, 40 * 900);
  EXPECT_EQ(w.residualPlot->plotTop, 590);

  if (const char* folder = std::getenv("TARNEL_PLOT_DOCS")) {
    canvas.Image().save(QString::fromStdString(std::string(folder) + "/data_plot.png"));
    // The residual views alone, larger.
    platform::qt::QtCanvas big(2100, 1500);
    PaintPlots(big);
    big.Image().copy(0, 780, 2100, 720).save(QString::fromStdString(std::string(folder) + "/residuals.png"));
  }
}
#endif
