// The M* screen shows meniscus and bottom over its plot, never the fit
// limits of the velocity analysis.
// The program's headers come first: Qt's keyword macros must not reach them.
#include "app/screens/mstar_screen.h"
#include "app/plot_input/markers.h"
#include "mstar_paint_support.h"

#include <QImage>

#include "desktop_support.h"

namespace {

class MStarMarkersPaint : public MStarPaintTest {
 protected:
  static int InColumn(const QImage& image, int x, QRgb colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
      if ((image.pixel(x, y) & 0xffffff) == colour) ++n;
    return n;
  }
};

TEST_F(MStarMarkersPaint, NoFitLimitIsDrawnOnTheMStarScreen) {
  LoadEquilibrium({SingleSpecies()});
  TXLAWindow& w = Window();
  w.Frame().Resize(1400, 1000);
  Shot();
  ScanSet& s = CurrentScanSet();
  ASSERT_GT(s.rightFitLimit, s.leftFitLimit);
  w.OnCommand(896);
  const QImage image = Shot();
  const QRgb green = 0x00ff00;
  EXPECT_EQ(InColumn(image, MarkerColumn(w, s.leftFitLimit), green), 0);
  EXPECT_EQ(InColumn(image, MarkerColumn(w, s.rightFitLimit), green), 0);
}

}  // namespace
