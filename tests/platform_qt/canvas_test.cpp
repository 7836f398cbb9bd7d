#include <gtest/gtest.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QImage>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "platform/bitmap.h"
#include "platform/metafile.h"
#include "platform/qt/qt_canvas.h"
#include "platform/qt/qt_svg.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"
#include "plot/text_in_place.h"

using namespace platform;
using platform::qt::QtCanvas;

namespace {

// Fonts need a GUI application; the test program may already have one.
class GuiEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (!QCoreApplication::instance()) {
      static int argc = 1;
      static char name[] = "canvas_test";
      static char* argv[] = {name, nullptr};
      app_ = std::make_unique<QGuiApplication>(argc, argv);
    }
  }
  void TearDown() override { app_.reset(); }
  std::unique_ptr<QGuiApplication> app_;
};
[[maybe_unused]] auto* const g_gui = ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

COLORREF Pixel(const QtCanvas& c, int x, int y) { return c.CopyPixels(x, y, 1, 1).GetPixel(0, 0); }

int CountNonWhite(const QtCanvas& c) {
  Bitmap b = c.ToBitmap();
  int n = 0;
  for (COLORREF p : b.Pixels()) n += p != 0xffffff;
  return n;
}

}  // namespace

TEST(Canvas, LinesLeaveOutTheirEndPixel) {
  QtCanvas canvas(50, 50);
  {
    auto dc = canvas.ClientDC();
    HPEN pen = CreatePen(PS_SOLID, 0, 0x0000ff);
    HGDIOBJ old = dc->SelectObject(pen);
    dc->MoveTo(10, 10);
    dc->LineTo(20, 10);
    dc->SelectObject(old);
    EXPECT_TRUE(DeleteObject(pen));
  }
  EXPECT_EQ(Pixel(canvas, 10, 10), 0x0000ffu);
  EXPECT_EQ(Pixel(canvas, 19, 10), 0x0000ffu);
  EXPECT_EQ(Pixel(canvas, 20, 10), 0xffffffu);
  EXPECT_EQ(CountNonWhite(canvas), 10);
}

TEST(Canvas, DotIsOnePixel) {
  QtCanvas canvas(20, 20);
  {
    auto dc = canvas.ClientDC();
    dc->MoveTo(5, 7);
    dc->LineTo(6, 8);
  }
  EXPECT_EQ(CountNonWhite(canvas), 1);
  EXPECT_EQ(Pixel(canvas, 5, 7), 0x000000u);
}

TEST(Canvas, RectangleExcludesRightAndBottomEdges) {
  QtCanvas canvas(40, 40);
  HBRUSH brush = CreateSolidBrush(0x00ff00);
  {
    auto dc = canvas.ClientDC();
    dc->SelectObject(brush);
    dc->Rectangle(10, 10, 20, 15);  // black outline, green inside
    dc->SelectObject(GetStockObject(WHITE_BRUSH));
  }
  EXPECT_TRUE(DeleteObject(brush));
  EXPECT_EQ(Pixel(canvas, 10, 10), 0x000000u);
  EXPECT_EQ(Pixel(canvas, 19, 14), 0x000000u);
  EXPECT_EQ(Pixel(canvas, 20, 14), 0xffffffu);
  EXPECT_EQ(Pixel(canvas, 19, 15), 0xffffffu);
  EXPECT_EQ(Pixel(canvas, 15, 12), 0x00ff00u);
  EXPECT_EQ(CountNonWhite(canvas), 10 * 5);
}

TEST(Canvas, NullPenRectangleFillsOnePixelLess) {
  QtCanvas canvas(40, 40);
  HBRUSH brush = CreateSolidBrush(0xff0000);
  {
    auto dc = canvas.ClientDC();
    dc->SelectObject(GetStockObject(NULL_PEN));
    dc->SelectObject(brush);
    dc->Rectangle(10, 10, 20, 15);
    dc->SelectObject(GetStockObject(WHITE_BRUSH));
  }
  DeleteObject(brush);
  EXPECT_EQ(CountNonWhite(canvas), 9 * 4);
  EXPECT_EQ(Pixel(canvas, 10, 10), 0xff0000u);
}

TEST(Canvas, InvertedDrawingTwiceRestoresEveryPixel) {
  QtCanvas canvas(120, 90);
  {
    auto dc = canvas.ClientDC();
    HBRUSH brush = CreateSolidBrush(0x3366cc);
    dc->SelectObject(brush);
    dc->Ellipse(10, 10, 80, 70);
    dc->SelectObject(GetStockObject(WHITE_BRUSH));
    DeleteObject(brush);
  }
  const Bitmap before = canvas.ToBitmap();
  auto invert = [&] {
    auto dc = canvas.ClientDC();
    dc->SetROP2(R2_NOT);
    dc->SelectObject(GetStockObject(NULL_BRUSH));
    // A closed polyline whose corners meet and a rectangle outline: shared
    // pixels must not be inverted twice within one drawing.
    dc->MoveTo(5, 5);
    dc->LineTo(100, 40);
    dc->LineTo(30, 85);
    dc->LineTo(5, 5);
    dc->Rectangle(20, 20, 110, 60);
  };
  invert();
  const Bitmap once = canvas.ToBitmap();
  EXPECT_NE(once, before);
  // The start pixel of the polyline is drawn once (the last segment leaves
  // out its end), so it is inverted, not restored.
  EXPECT_NE(once.GetPixel(5, 5), before.GetPixel(5, 5));
  invert();
  EXPECT_EQ(canvas.ToBitmap(), before);
}

TEST(Canvas, InvertedRectangleOutlineInvertsEachPixelOnce) {
  QtCanvas canvas(60, 60);
  {
    auto dc = canvas.ClientDC();
    dc->SetROP2(R2_NOT);
    dc->SelectObject(GetStockObject(NULL_BRUSH));
    dc->Rectangle(10, 10, 30, 25);  // 20 x 15 outline
  }
  EXPECT_EQ(CountNonWhite(canvas), 2 * 20 + 2 * 13);
  EXPECT_EQ(Pixel(canvas, 10, 10), 0x000000u);
  EXPECT_EQ(Pixel(canvas, 29, 24), 0x000000u);
}

TEST(Canvas, AnisotropicMappingStretchesLogicalSpace) {
  QtCanvas canvas(700, 500);
  {
    auto dc = canvas.ScaledDC(1400, 1000);
    dc->MoveTo(200, 100);
    dc->LineTo(202, 100);  // two logical units -> one device pixel
  }
  EXPECT_EQ(Pixel(canvas, 100, 50), 0x000000u);
  EXPECT_EQ(CountNonWhite(canvas), 1);
}

TEST(Canvas, MetafileReplaysOntoCanvasAndKeepsCallerState) {
  MetafileDC rec;
  rec.SetWindowExt(100, 100);
  HPEN pen = CreatePen(PS_SOLID, 0, 0x00ff00);
  rec.SelectObject(pen);
  rec.MoveTo(10, 50);
  rec.LineTo(90, 50);
  rec.SelectObject(GetStockObject(BLACK_PEN));
  DeleteObject(pen);
  HMETAFILE mf = rec.Close();
  ASSERT_NE(mf, 0u);
  const int objectsBefore = LiveGdiObjectCount();

  QtCanvas canvas(200, 200);
  EXPECT_TRUE(canvas.PlayStretched(mf));
  EXPECT_EQ(LiveGdiObjectCount(), objectsBefore);  // replay objects are gone
  EXPECT_EQ(Pixel(canvas, 20, 100), 0x00ff00u);
  EXPECT_EQ(Pixel(canvas, 178, 100), 0x00ff00u);
  EXPECT_EQ(Pixel(canvas, 180, 100), 0xffffffu);
  EXPECT_TRUE(DeleteMetaFile(mf));
}

TEST(Canvas, CopyAndPastePixelsRoundTrip) {
  QtCanvas canvas(30, 30);
  {
    auto dc = canvas.ClientDC();
    dc->MoveTo(0, 0);
    dc->LineTo(30, 30);
  }
  Bitmap saved = canvas.CopyPixels(5, 5, 10, 10);
  canvas.Clear();
  EXPECT_EQ(CountNonWhite(canvas), 0);
  canvas.PastePixels(saved, 5, 5);
  EXPECT_EQ(CountNonWhite(canvas), 10);
  EXPECT_EQ(Pixel(canvas, 7, 7), 0x000000u);
  // A window resized while nothing may paint it (a box up during a Run)
  // keeps showing its picture where it fits, the new part white.
  const Bitmap top = canvas.CopyPixels(0, 0, 30, 10);
  canvas.Resize(45, 10);
  EXPECT_TRUE(canvas.CopyPixels(0, 0, 30, 10) == top);
  EXPECT_EQ(CountNonWhite(canvas), 5);
  canvas.Resize(30, 30);
  EXPECT_EQ(CountNonWhite(canvas), 5);
  EXPECT_EQ(Pixel(canvas, 9, 9), 0x000000u);
  EXPECT_EQ(Pixel(canvas, 12, 12), 0xffffffu);
}

TEST(Canvas, ChangedCallbackRunsWhenTheLastContextCloses) {
  QtCanvas canvas(10, 10);
  int changes = 0;
  canvas.SetChangedCallback([&] { ++changes; });
  {
    auto a = canvas.ClientDC();
    auto b = canvas.ClientDC();
    a->MoveTo(1, 1);
    a->LineTo(5, 1);
    b->MoveTo(1, 3);
    b->LineTo(5, 3);
  }
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(CountNonWhite(canvas), 8);
}

TEST(Canvas, PictureFilesAreWritten) {
  MetafileDC rec;
  rec.SetWindowExt(1399, 1000);
  rec.Rectangle(100, 100, 1200, 900);
  rec.TextOut(500, 500, "T");
  HMETAFILE mf = rec.Close();
  // Test programs of several checkouts may run at once: names carry the process.
  auto dir = std::filesystem::temp_directory_path() / ("canvas_test_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::string png = (dir / "canvas_test_picture.png").string();
  std::string svg = (dir / "canvas_test_picture.svg").string();
  ASSERT_TRUE(qt::SaveMetafileAsPng(mf, png, 280, 200));
  ASSERT_TRUE(qt::SaveMetafileAsSvg(mf, svg, 280, 200));
  QImage img(QString::fromStdString(png));
  EXPECT_EQ(img.width(), 280);
  EXPECT_EQ(img.pixel(20, 20) & 0xffffff, 0u);  // rectangle corner at 100/1399*280
  EXPECT_GT(std::filesystem::file_size(svg), 100u);
  std::remove(png.c_str());
  std::remove(svg.c_str());
  std::filesystem::remove_all(dir);
  DeleteMetaFile(mf);
}


// Lines written in place over a plot, and written again, leave no white
// bar of their cells across the plot: only the strokes of the line before
// are blanked.
// A text written again at its place takes the older one away by giving back
// the pixels it covered: the picture is the one the newer text alone would
// make on the plot (no white strokes of the older text across its colour),
// and what was drawn over the older text after it (a plot line redrawn
// across it) stays.
TEST(Canvas, TextWrittenAgainInPlaceGivesBackThePixelsUnderTheOlderOne) {
  for (const bool lineAcross : {false, true}) {
    SCOPED_TRACE(lineAcross ? "a line drawn across the older text" : "the older text alone");
    auto paint = [&](QtCanvas& canvas, const std::vector<std::string>& texts, bool line) {
      ForgetTextsInPlace();
      auto dc = canvas.ClientDC();
      HBRUSH blue = CreateSolidBrush(0xff0000);
      HGDIOBJ old = dc->SelectObject(blue);
      dc->SelectObject(GetStockObject(NULL_PEN));
      dc->Rectangle(0, 0, 241, 41);  // a plot's colour under the text
      dc->SelectObject(old);
      DeleteObject(blue);
      for (std::size_t k = 0; k < texts.size(); ++k) {
        if (k == 1 && line) {
          HPEN red = CreatePen(PS_SOLID, 1, 0x0000ff);
          HGDIOBJ pen = dc->SelectObject(red);
          dc->MoveTo(0, 16);
          dc->LineTo(240, 16);
          dc->SelectObject(pen);
          DeleteObject(red);
        }
        DrawTextInPlace(canvas, *dc, 10, 10, texts[k]);
      }
    };
    QtCanvas written(240, 40), rewritten(240, 40), alone(240, 40);
    const std::vector<std::string> first = {"Meniscus = 6.012345"};
    paint(written, first, false);
    int inked = 0;
    const Bitmap once = written.ToBitmap();
    for (COLORREF p : once.Pixels()) inked += p != 0xff0000;
    EXPECT_GT(inked, 20);
    EXPECT_LT(inked, 600);  // strokes of 19 characters, no cells
    const std::vector<std::string> both = {"Meniscus = 6.012345", "s"}, last = {"s"};
    paint(rewritten, both, lineAcross);
    paint(alone, last, false);
    Bitmap expected = alone.ToBitmap();
    if (lineAcross)
      for (int x = 0; x < 240; ++x) expected.SetPixel(x, 16, rewritten.ToBitmap().GetPixel(x, 16));
    const Bitmap got = rewritten.ToBitmap();
    int differing = 0, red = 0;
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 240; ++x) {
        differing += got.GetPixel(x, y) != expected.GetPixel(x, y);
        red += y == 16 && got.GetPixel(x, y) == 0x0000ff;
      }
    EXPECT_EQ(differing, 0);
    if (lineAcross) {
      EXPECT_GT(red, 200);  // the line is whole where "s" does not stand
    }
  }
  ForgetTextsInPlace();
}

// A line too wide for the window is broken where it reads best: after a
// comma, else after a folder of a path, else between characters; each part
// fits, and together they are the line.
TEST(Canvas, ALineWiderThanTheWindowBreaksIntoPartsThatFit) {
  QtCanvas canvas(1280, 100);
  auto dc = canvas.ClientDC();
  auto width = [&dc](std::string_view t) { return dc->MeasureText(t); };
  const std::string path = "/home/someone/experiments/2026-12-08 equilibrium of the dimer/planning/speedsteps.txt";
  struct Case {
    const char* name;
    std::string text;
    int maxWidth;
    std::string firstLine;  // empty: whatever fits
  };
  const Case cases[] = {
      {"fits", "t(const) = 38 h", 1220, "t(const) = 38 h"},
      {"after a comma", "epsilon = 0.0010: t(const) = 38 h, t(opt) = 21 h, saved in " + path,
       width("epsilon = 0.0010: t(const) = 38 h, t(opt) = 21 h, saved in " + path) - 10,
       "epsilon = 0.0010: t(const) = 38 h, t(opt) = 21 h, "},
      {"after a folder", path + path, width(path) + 5, ""},
      {"between characters", std::string(300, 'W'), 200, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> lines = WrapTextToWidth(c.text, c.maxWidth, width);
    ASSERT_FALSE(lines.empty());
    std::string joined;
    for (const std::string& line : lines) {
      EXPECT_LE(width(line), c.maxWidth) << line;
      EXPECT_FALSE(line.empty());
      joined += line;
    }
    EXPECT_EQ(joined, c.text);
    if (!c.firstLine.empty()) {
      EXPECT_EQ(lines.front(), c.firstLine);
    }
    if (std::string(c.name) == "after a folder") {
      for (std::size_t k = 0; k + 1 < lines.size(); ++k) EXPECT_EQ(lines[k].back(), '/') << lines[k];
    }
  }
  EXPECT_EQ(WrapTextToWidth("", 100, width).size(), 0u);
}

// A plot drawn straight over another at its place (the optimiser's progress
// over the simulation's profiles) shows as if alone: the labels of the one
// below ("radius" under "time (h)") do not show through.
TEST(Canvas, APlotReplayedOnWhiteHidesTheLabelsOfThePlotBelow) {
  std::vector<float> x{0, 1, 2, 3}, y{0, 1, 4, 9}, y2{1, 2, 3, 3};
  CVector vx, vy, vy2;
  vx.AttachData(x.data(), 4);
  vy.AttachData(y.data(), 4);
  vy2.AttachData(y2.data(), 4);
  CCurve below(&vx, &vy), above(&vx, &vy2);
  CWINPlot profiles, progress;
  profiles.SetPlotRect(50, 75, 475, 975);
  profiles.SetXLabel("radius");
  profiles.SetYLabel("signal");
  profiles.AddCurve(&below);
  progress.SetPlotRect(50, 75, 475, 975);
  progress.SetXLabel("time (h)");
  progress.SetYLabel("difference to eq");
  progress.AddCurve(&above);
  ASSERT_TRUE(profiles.Plot());
  ASSERT_TRUE(progress.Plot());
  QtCanvas over(1000, 700), alone(1000, 700);
  ASSERT_TRUE(ReplayPlotPicture(over, profiles.lastMetafile));
  ASSERT_TRUE(ReplayPlotPictureOnWhite(over, progress));
  ASSERT_TRUE(ReplayPlotPicture(alone, progress.lastMetafile));
  const Bitmap a = over.ToBitmap(), b = alone.ToBitmap();
  int differ = 0;
  for (std::size_t i = 0; i < a.Pixels().size(); ++i) differ += a.Pixels()[i] != b.Pixels()[i];
  EXPECT_EQ(differ, 0);
}
