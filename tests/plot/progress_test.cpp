#include <gtest/gtest.h>

#include "platform/draw_context.h"
#include "plot/plot_window_set.h"
#include "plot/progress_line.h"

#ifdef TARNEL_HAVE_QT
#include "platform/qt/qt_canvas.h"
#endif

using platform::Bitmap;
using platform::COLORREF;

namespace {

class ProgressLine : public ::testing::Test {
 protected:
  void SetUp() override { PlotHooks() = PlotWindowHooks{}; }
  void TearDown() override { PlotHooks() = PlotWindowHooks{}; }
  void Painted(bool painted) {
    PlotHooks().painted = [painted] { return painted; };
  }
};

}  // namespace

TEST_F(ProgressLine, DefaultsAndPens) {
  const int objects = platform::LiveGdiObjectCount();
  {
    CProgressLine line;
    EXPECT_EQ(line.barColor, 0x0000ffu);
    EXPECT_EQ(platform::LookupObject(line.trackPen).pen.color, 0xc8c8c8u);
    line.SetPenBlue();
    EXPECT_EQ(platform::LookupObject(line.barPen).pen.color, 0xff6400u);
    line.SetPenPurple();
    EXPECT_EQ(line.barColor, 0xb400b4u);
    EXPECT_EQ(platform::LiveGdiObjectCount(), objects + 2);
  }
  EXPECT_EQ(platform::LiveGdiObjectCount(), objects);
}

// Into a context the caller owns: the track rows y, y+1, y+2, y-1 from x to
// the end, then the same rows in the bar colour up to the value; only
// growing values draw, and the bar pen stays selected.
TEST_F(ProgressLine, NormalEquationProgressIntoTheCallersContext) {
  CProgressLine line;
  line.x = 10;
  line.y = 65;
  line.right = 110;
  platform::RecordingDC dc;
  line.DrawNormalEquationProgress(0.3f, dc);
  EXPECT_TRUE(dc.Ops().empty());  // the window has not been painted
  Painted(true);
  line.DrawNormalEquationProgress(0.3f, dc);
  std::vector<std::string> expected = {"SelectPen(0,0,0xc8c8c8)"};
  for (int row : {65, 66, 67, 64})
    for (const char* s : {"MoveTo(10,", "LineTo(110,"}) expected.push_back(s + std::to_string(row) + ")");
  expected.push_back("SelectPen(0,0,0x0000ff)");
  for (int row : {65, 66, 67, 64})
    for (const char* s : {"MoveTo(10,", "LineTo(40,"}) expected.push_back(s + std::to_string(row) + ")");
  EXPECT_EQ(dc.Describe(), expected);
  EXPECT_EQ(dc.CurrentPen(), line.barPen);
  dc.Clear();
  line.DrawNormalEquationProgress(0.3f, dc);
  line.DrawNormalEquationProgress(0.2f, dc);
  EXPECT_TRUE(dc.Ops().empty());
  dc.SelectObject(platform::GetStockObject(platform::BLACK_PEN));  // release before the pens go
}

#ifdef TARNEL_HAVE_QT
namespace {

// A patterned canvas, so that a restore can be told from a repaint.
void Pattern(platform::qt::QtCanvas& canvas) {
  Bitmap b(canvas.ClientWidth(), canvas.ClientHeight());
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) b.SetPixel(x, y, platform::RGB(x % 251, y % 241, (x * y) % 239));
  canvas.PastePixels(b, 0, 0);
}

COLORREF At(const platform::qt::QtCanvas& c, int x, int y) { return c.CopyPixels(x, y, 1, 1).GetPixel(0, 0); }

}  // namespace

TEST_F(ProgressLine, GrowsOverTheTrackAndRestoresTheWindow) {
  platform::qt::QtCanvas canvas(300, 200);
  Pattern(canvas);
  const Bitmap original = canvas.ToBitmap();
  Painted(true);
  CProgressLine line;
  line.Show(canvas, 10, 10);
  EXPECT_EQ(canvas.ToBitmap(), original);  // nothing visible yet
  ASSERT_TRUE(line.backgroundSaved);
  // Columns 9..111, rows 7..13.
  ASSERT_EQ(line.savedBackground.Width(), 103);
  ASSERT_EQ(line.savedBackground.Height(), 7);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 103; ++x) ASSERT_EQ(line.savedBackground.GetPixel(x, y), original.GetPixel(9 + x, 7 + y));

  line.Draw(0.5f, canvas);
  for (int y = 9; y <= 12; ++y) {
    EXPECT_EQ(At(canvas, 10, y), 0x0000ffu) << y;
    EXPECT_EQ(At(canvas, 59, y), 0x0000ffu) << y;
    EXPECT_EQ(At(canvas, 60, y), 0xc8c8c8u) << y;
    EXPECT_EQ(At(canvas, 109, y), 0xc8c8c8u) << y;
    EXPECT_EQ(At(canvas, 110, y), original.GetPixel(110, y)) << y;
    EXPECT_EQ(At(canvas, 9, y), original.GetPixel(9, y)) << y;
  }
  EXPECT_EQ(At(canvas, 30, 8), original.GetPixel(30, 8));
  EXPECT_EQ(At(canvas, 30, 13), original.GetPixel(30, 13));

  const Bitmap half = canvas.ToBitmap();
  line.Draw(0.5f, canvas);
  line.Draw(0.25f, canvas);
  EXPECT_EQ(canvas.ToBitmap(), half);
  line.Draw(1.0f, canvas);
  for (int x = 10; x <= 109; ++x) ASSERT_EQ(At(canvas, x, 11), 0x0000ffu) << x;

  line.Erase(canvas);
  EXPECT_EQ(canvas.ToBitmap(), original);
}

TEST_F(ProgressLine, NothingHappensBeforeTheFirstPaint) {
  platform::qt::QtCanvas canvas(200, 100);
  Pattern(canvas);
  const Bitmap original = canvas.ToBitmap();
  CProgressLine line;
  line.Show(canvas, 10, 10);
  line.Draw(0.7f, canvas);
  EXPECT_FALSE(line.backgroundSaved);
  EXPECT_EQ(line.value, 0.0f);
  EXPECT_EQ(canvas.ToBitmap(), original);
  // Painted while the line was up: nothing was saved, so erasing changes
  // nothing either.
  Painted(true);
  line.Draw(0.7f, canvas);
  EXPECT_NE(canvas.ToBitmap(), original);
  const Bitmap drawn = canvas.ToBitmap();
  line.Erase(canvas);
  EXPECT_EQ(canvas.ToBitmap(), drawn);
}
#endif
