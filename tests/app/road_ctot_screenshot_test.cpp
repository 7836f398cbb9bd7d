// The program's headers come first: Qt's keyword macros must not reach them.
#include "road_support.h"
#include "desktop_road_fixture.h"

#include <QApplication>
#include <QImage>

#include "distributions/distribution_arrays.h"
#include "models/nonideal/mean_field/ctot_movie.h"
#include "models/nonideal/mean_field/mean_field.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"

namespace {

class RoadCtot : public DesktopRoadTest {
 protected:
  void TearDown() override {
    window_.reset();
    DeleteMeanFieldCtot();
    DeleteNonidealModel();
    DesktopRoadTest::TearDown();
  }
  // Pixels of the field's colour RGB(100, 100, 244) inside the data plot.
  static int FieldPixels(const QImage& image, const CWINPlot& p) {
    int n = 0;
    for (int y = std::max(p.plotTop, 0); y < std::min(p.plotBottom, image.height()); ++y)
      for (int x = std::max(p.plotLeft, 0); x < std::min(p.plotRight, image.width()); ++x)
        if ((image.pixel(x, y) & 0xffffff) == 0x6464f4) ++n;
    return n;
  }
  int Shot(const std::string& name) {
    const std::string path = (dir_ / name).string();
    EXPECT_TRUE(Window().Frame().SaveClientImage(path, 1400, 1000));
    QImage image(QString::fromStdString(path));
    return FieldPixels(image, *CurrentPlotWindows().dataPlot);
  }
};

TEST_F(RoadCtot, TheFieldIsDrawnOverTheDataUntilAKey) {
  LoadRun(6);
  gFitEngineState.fitTINoise = 0;
  Window().Dispatch(585);
  float* P = gModelParameterVector.P;
  P[1] = 1;
  P[5] = 10;
  P[9] = 20;
  P[20] = P[21] = -2;
  UnpackModelParameters();
  LammSettings().gridSize.setting = 200;
  MeanField().movieGridSize = 200;
  Window().Dispatch(213);
  EXPECT_TRUE(ui_->failures.empty()) << ui_->failures.front();
  ASSERT_NE(CurrentPlotWindows().dataPlot, nullptr);
  EXPECT_EQ(Shot("before.png"), 0);
  Window().Dispatch(1105);
  EXPECT_GT(Shot("field.png"), 300);
  if (const char* docs = std::getenv("TARNEL_CTOT_SCREENSHOT")) Window().Frame().SaveClientImage(docs, 1400, 1000);
  Window().EvChar('x', 1, 0);
  EXPECT_EQ(Shot("after.png"), 0);
}

}  // namespace
