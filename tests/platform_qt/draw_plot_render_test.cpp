#include <gtest/gtest.h>
#include <unistd.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "platform/clipboard.h"
#include "platform/qt/qt_canvas.h"
#include "platform/qt/qt_clipboard.h"
#include "platform/qt/qt_print.h"
#include "platform/qt/qt_svg.h"
#include "plot/cwinplot.h"
#include "plot/direct_curve.h"
#include "plot/plot_clipboard.h"
#include "plot/screen_button.h"

using namespace platform;
using platform::qt::QtCanvas;

namespace {

struct Sine {
  std::vector<float> x, y;
  CVector vx, vy;
  CCurve curve;
  Sine() : curve(&vx, &vy) {
    for (int i = 0; i < 200; ++i) {
      x.push_back(6.0f + i * 0.005f);
      y.push_back(std::sin(i * 0.05f));
    }
    vx.AttachData(x.data(), 200);
    vy.AttachData(y.data(), 200);
  }
};

int Count(const QImage& img, QRgb colour) {
  int n = 0;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x) n += (img.pixel(x, y) & 0xffffff) == (colour & 0xffffff);
  return n;
}

void EnsureApp() {
  if (!QCoreApplication::instance()) {
    static int argc = 1;
    static char name[] = "draw_plot_render_test";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* app = new QGuiApplication(argc, argv);
    (void)app;
  }
}

}  // namespace

TEST(PlotRender, PlotReachesCanvasFilesAndClipboard) {
  EnsureApp();
  Sine data;
  CWINPlot plot;
  plot.SetPlotRect(50, 10, 950, 500);
  plot.AddCurve(&data.curve);
  plot.SetCurveColor(0, 0x0000ff);
  plot.SetXLabel("radius (cm)");
  ASSERT_TRUE(plot.Plot());

  QtCanvas canvas(700, 500);
  ASSERT_TRUE(canvas.PlayStretched(plot.lastMetafile));
  const QImage& img = canvas.Image();
  EXPECT_GT(Count(img, qRgb(255, 0, 0)), 150);  // the red curve (COLORREF 0x0000ff)
  // The frame's left edge: plot column 13 of 1399 on a 700-pixel canvas.
  EXPECT_EQ(img.pixel(7, 250) & 0xffffff, 0u);

  // A curve drawn over the plot afterwards.
  HMETAFILE extra = DrawCurveInWindow(&plot, &data.curve, 0x00ff00, 12, 0);
  ASSERT_NE(extra, 0u);
  ASSERT_TRUE(canvas.PlayStretched(extra));
  EXPECT_GT(Count(canvas.Image(), qRgb(0, 255, 0)), 150);
  DeleteMetaFile(extra);

  // Test programs of several checkouts may run at once: names carry the process.
  auto dir = std::filesystem::temp_directory_path() / ("draw_plot_render_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string png = (dir / "draw_plot_render.png").string();
  const std::string svg = (dir / "draw_plot_render.svg").string();
  const std::string pdf = (dir / "draw_plot_render.pdf").string();
  ASSERT_TRUE(qt::SaveMetafileAsPng(plot.lastMetafile, png, 1400, 1000));
  ASSERT_TRUE(qt::SaveMetafileAsSvg(plot.lastMetafile, svg, 1400, 1000));
  EXPECT_GT(Count(QImage(QString::fromStdString(png)), qRgb(255, 0, 0)), 150);
  EXPECT_GT(std::filesystem::file_size(svg), 1000u);
  const HMETAFILE mf = plot.lastMetafile;
  ASSERT_TRUE(qt::PrintToPdf(pdf, [&](DrawContext& dc, int w, int h) {
    dc.SetMapMode(MM_ISOTROPIC);
    dc.SetWindowExt(PlotSpaceWidth(), PlotSpaceHeight());
    dc.SetViewportExt(w, h);
    PlayMetaFile(dc, mf);
  }));
  EXPECT_GT(std::filesystem::file_size(pdf), 1000u);
  for (const auto& f : {png, svg, pdf}) std::remove(f.c_str());
  std::filesystem::remove_all(dir);

  qt::QtClipboard clipboard;
  SetClipboard(&clipboard);
  EXPECT_TRUE(CopyMetafileToClipboard(&plot.lastMetafile));
  SetClipboard(nullptr);
  const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
  ASSERT_NE(mime, nullptr);
  EXPECT_TRUE(mime->hasFormat("image/svg+xml"));
  ASSERT_TRUE(mime->hasImage());
  const QImage picture = qvariant_cast<QImage>(mime->imageData());
  EXPECT_EQ(picture.width(), 768);  // 130 mm at 150 dpi
  EXPECT_EQ(picture.height(), 531);
}

TEST(PlotRender, ButtonPaintsAndVanishesWithoutARepaint) {
  EnsureApp();
  QtCanvas canvas(700, 500);
  const Bitmap blank = canvas.ToBitmap();
  CScreenButton button;
  button.kind = 1;
  button.SetRect(100, 200, 140, 400);
  button.SetText("confirm", 7, "confirm", 7);
  ASSERT_TRUE(button.Redraw());
  button.SaveBackground(canvas);
  button.Paint(canvas);
  // Face colour 0xc8c8c8 inside the button: x 300 of 1399, y 120 of 1000.
  EXPECT_EQ(canvas.Image().pixel(120, 55) & 0xffffff, 0xc8c8c8u);
  button.DrawPointRing(canvas, 50, 50, 6, 0x0000ff, 0x000000);
  EXPECT_EQ(canvas.Image().pixel(44, 50) & 0xffffff, 0xff0000u);  // ring on the left edge
  button.RestoreBackground(canvas);
  // The ring is wiped and the point redrawn as a small dot; the rest is as before.
  Bitmap after = canvas.ToBitmap();
  EXPECT_EQ(after.GetPixel(44, 50), 0xffffffu);
  EXPECT_EQ(after.GetPixel(50, 50), 0x000000u);
  int changed = 0;
  for (int y = 0; y < 500; ++y)
    for (int x = 0; x < 700; ++x) changed += after.GetPixel(x, y) != blank.GetPixel(x, y);
  EXPECT_LE(changed, 16);
  EXPECT_EQ(button.ringRadius, 0);
}

// The background a button keeps must cover all of its face at every window
// size: a face column outside it stays as a grey bar after the button goes.
TEST(PlotRender, ButtonsLeaveNothingBehindAtAnyWindowSize) {
  EnsureApp();
  const struct {
    int width, height;
  } sizes[] = {{700, 500}, {1600, 1100}, {2560, 1440}, {3840, 2160}};
  const struct {
    float top, left, bottom, right;
  } rects[] = {{100, 1000, 118, 1390}, {500, 1100, 518, 1300}, {300, 37, 318, 411}, {900, 1211, 918, 1398}};
  for (const auto& size : sizes) {
    for (const auto& r : rects) {
      QtCanvas canvas(size.width, size.height);
      const Bitmap blank = canvas.ToBitmap();
      CScreenButton button;
      button.kind = 1;
      button.SetRect(r.top, r.left, r.bottom, r.right);
      button.SetText("cancel", 6, "cancel", 6);
      ASSERT_TRUE(button.Redraw());
      button.SaveBackground(canvas);
      button.Paint(canvas);
      button.RestoreBackground(canvas);
      const Bitmap after = canvas.ToBitmap();
      int changed = 0;
      for (int y = 0; y < size.height; ++y)
        for (int x = 0; x < size.width; ++x) changed += after.GetPixel(x, y) != blank.GetPixel(x, y);
      EXPECT_EQ(changed, 0) << size.width << "x" << size.height << " button " << r.left << ".." << r.right;
    }
  }
}
