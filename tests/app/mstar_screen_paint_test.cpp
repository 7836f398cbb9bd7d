// The M* screen's button faces as the window paints them, on the desktop's
// canvas offscreen.
// The program's headers come first: Qt's keyword macros must not reach them.
#include "app/screens/mstar_screen.h"
#include "mstar_paint_support.h"
#include "equilibrium/mstar/mstar_screen.h"
#include "plot/screen_button.h"

#include <QImage>
#include <algorithm>
#include <map>

#include "desktop_support.h"

namespace {

class MStarScreenPaint : public MStarPaintTest {
 protected:
  // The colour met most often inside a button's rectangle (1400 x 1000 px),
  // as 0x00bbggrr.
  static platform::COLORREF MostFrequent(const QImage& image, const CScreenButton& b) {
    std::map<QRgb, int> count;
    for (int y = b.top + 2; y < b.bottom - 1; ++y)
      for (int x = b.left + 2; x < b.right - 1; ++x) ++count[image.pixel(x, y) & 0xffffff];
    QRgb best = 0;
    int most = 0;
    for (const auto& [rgb, n] : count)
      if (n > most) best = rgb, most = n;
    return static_cast<platform::COLORREF>(qRed(best) | qGreen(best) << 8 | qBlue(best) << 16);
  }
};

TEST_F(MStarScreenPaint, FacesShowTheirFillsAndAClickShowsThePressedOne) {
  LoadEquilibrium({SingleSpecies()});
  TXLAWindow& w = Window();
  w.Frame().Resize(1400, 1000);
  Shot();  // the client size of a paint
  w.OnCommand(896);
  ASSERT_NE(MStarButton(2), nullptr);
  QImage image = Shot();
  EXPECT_EQ(MostFrequent(image, *MStarButton(2)), 0xffe6e6u);
  EXPECT_EQ(MostFrequent(image, *MStarButton(8)), 0xffd2d2u);
  // A click in the middle of the Mwapp form's button.
  const CScreenButton& form = *MStarButton(8);
  const int x = (form.left + form.right) / 2, y = (form.top + form.bottom) / 2;
  w.OnMouse(platform::MouseMessage::LButtonDown, 0, x, y);
  w.OnMouse(platform::MouseMessage::LButtonUp, 0, x, y);
  image = Shot();
  EXPECT_EQ(MostFrequent(image, *MStarButton(8)), 0xffdcdcu);
  EXPECT_EQ(MostFrequent(image, *MStarButton(2)), 0xffe6e6u);
  ExpectNoFailures();
}

// The M* screen of two data sets: no fit report stands over its signal plot
// (the screen shows its own results), the linear-fit values on the ln c
// plot are written in a font that can be read, and the right axis's values
// of the Mwapp plot (50.015 kDa) end inside the window.
TEST_F(MStarScreenPaint, NoReportOverThePlotsAndTheLinearFitsReadable) {
  LoadEquilibrium({SingleSpecies(), SingleSpecies()});
  TXLAWindow& w = Window();
  w.Frame().Resize(1400, 1000);
  Shot();
  w.OnCommand(896);
  ASSERT_NE(MStarButton(2), nullptr);
  const QImage image = Shot();
  // Above the signal plot (and its ticks), left of the baseline buttons:
  // where the report's first lines stood.
  int inked = 0;
  for (int y = 4; y < 38; ++y)
    for (int x = 100; x < 450; ++x) inked += (image.pixel(x, y) & 0xffffff) != 0xffffff;
  EXPECT_EQ(inked, 0);
  const int n = 2;
  for (int i = 1; i <= n; ++i) {
    const CScreenButton* fit = MStarButton(8 + n + i);
    ASSERT_NE(fit, nullptr);
    EXPECT_GE(fit->captionHeight, 12) << fit->caption;
    EXPECT_LE(fit->right, 1365);
  }
  int atTheEdge = 0;
  for (int y = 520; y < 960; ++y)
    for (int x = image.width() - 2; x < image.width(); ++x) atTheEdge += (image.pixel(x, y) & 0xffffff) != 0xffffff;
  EXPECT_EQ(atTheEdge, 0);
}

// On a laptop's window (1280 x 800) and on a large screen the result labels
// and the switches are written in letters that can be read (the rows of
// dark caption pixels inside each button), and the Mwapp plot's switches
// leave its label and numbers clear.
TEST_F(MStarScreenPaint, CaptionsReadableOnASmallWindow) {
  LoadEquilibrium({SingleSpecies(), SingleSpecies()});
  TXLAWindow& w = Window();
  const std::string path = (dir_ / "small.png").string();
  for (auto [W, H] : {std::pair{1280, 778}, std::pair{1920, 1058}}) {
    w.Frame().Resize(W, H);
    ASSERT_TRUE(w.Frame().SaveClientImage(path, W, H));
    // The buttons take their sizes from the window they are made for.
    if (MStarButton(2)) DrawMStarScreen(w);
    else w.OnCommand(896);
    ASSERT_TRUE(w.Frame().SaveClientImage(path, W, H));
    const QImage image(QString::fromStdString(path));
    for (int slot : {2, 7, 8, 9, 10, 11, 12, 13, 14, 15}) {
      const CScreenButton* b = MStarButton(slot);
      ASSERT_NE(b, nullptr) << slot;
      const int x0 = b->left * W / 1400 + 3, x1 = b->right * W / 1400 - 3;
      const int y0 = b->top * H / 1000 + 3, y1 = b->bottom * H / 1000 - 3;
      int rows = 0;
      for (int y = y0; y <= y1; ++y) {
        bool ink = false;
        for (int x = x0; x <= x1 && !ink; ++x) ink = qGray(image.pixel(x, y)) < 110;
        rows += ink;
      }
      // About 11 px letters on the laptop, 15 px on the large screen.
      EXPECT_GE(rows, W < 1500 ? 8 : 10) << W << " " << b->caption;
    }
    // Left of the Mwapp plot's frame (at 55 % of the width), right of the
    // M* plot's numbers, stand the Mwapp plot's numbers and its long label:
    // in the rows of the view switches they show, and no switch over them.
    const CScreenButton* go = MStarButton(MStarSlotCount(2));
    const CScreenButton* form = MStarButton(8);
    ASSERT_NE(go, nullptr);
    ASSERT_NE(form, nullptr);
    const int top = std::min(go->top, form->top) * H / 1000, bottom = std::max(go->bottom, form->bottom) * H / 1000;
    int switchFill = 0, label = 0;
    for (int y = top; y <= bottom; ++y)
      for (int x = W * 47 / 100; x < W * 55 / 100; ++x) {
        const QRgb p = image.pixel(x, y) & 0xffffff;
        switchFill += p == 0xd2d2ff || p == 0xdcdcff;
        label += qGray(p) < 110;
      }
    EXPECT_EQ(switchFill, 0) << W;
    EXPECT_GT(label, 20) << W;
  }
  ExpectNoFailures();
}

}  // namespace
