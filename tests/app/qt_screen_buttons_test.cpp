// On-plot buttons on the real client canvas: buttons that save the pixels
// under them put every pixel back when they go, however they touch.
// The program's headers come first: Qt's keyword macros must not reach them.
#include "app_fixture.h"
#include "app/plot_input/point_edit.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "platform/clock.h"
#include "platform/draw_surface.h"
#include "platform/qt/qt_app.h"

namespace {

class QtScreenButtons : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    platform::qt::InstallDesktop();
    platform::SetClock(&clock_);
    WriteAgreedDefaults();
    window_ = MakeWindow();
    window_->Frame().Resize(1000, 700);
    window_->Paint(true);
    ScanSet& s = CurrentScanSet();
    AllocateScanTables(s, 1);
    s.fileNames[1] = "00001.ra1";
    CurrentDataPaths().dataFolder = "/data/run";
  }
  void TearDown() override {
    PointEdit() = PointEditState{};
    ScanNameLabel() = ScanNameHover{};
    FreeScanSetArrays(CurrentScanSet());
    window_.reset();
    platform::SetClock(nullptr);
    platform::SetFrameWindowFactory({});
    AppTest::TearDown();
  }
  platform::DrawSurface& Surface() { return *window_->Frame().Surface(); }
  // Diagonal stripes, so that any pixel put back from the wrong place shows.
  void Stripes() {
    auto dc = Surface().ClientDC();
    const platform::HPEN pen = platform::CreatePen(platform::PS_SOLID, 1, 0x3366CC);
    const platform::HGDIOBJ old = dc->SelectObject(pen);
    for (int k = -700; k < 1000; k += 5) {
      dc->MoveTo(k, 0);
      dc->LineTo(k + 700, 700);
    }
    dc->SelectObject(old);
    platform::DeleteObject(pen);
  }
  int Differences(const platform::Bitmap& before) {
    const platform::Bitmap now = Surface().CopyPixels(0, 0, 1000, 700);
    int n = 0;
    for (int y = 0; y < 700; ++y)
      for (int x = 0; x < 1000; ++x) n += now.GetPixel(x, y) != before.GetPixel(x, y);
    return n;
  }
  platform::ManualClock clock_;
  std::unique_ptr<TXLAWindow> window_;
};

TEST_F(QtScreenButtons, PointButtonsAndTheScanLabelLeaveTheCanvasAsTheyFoundIt) {
  ASSERT_NE(window_->Frame().Surface(), nullptr);
  Stripes();
  const platform::Bitmap before = Surface().CopyPixels(0, 0, 1000, 700);
  for (int x : {300, 950}) {  // the column right of the point, and left of it
    ShowPointEditButtons(*window_, x, 300, 1, 5);
    PressPointEditButton(*window_, 1);  // the second level beside the first
    EXPECT_GT(Differences(before), 1000);
    PressPointEditButton(*window_, 0);
    EXPECT_EQ(Differences(before), 0) << x;
  }
  ShowScanNameButton(*window_, 1, 500, 200);
  EXPECT_GT(Differences(before), 100);
  DeleteScanNameButton(*window_);
  EXPECT_EQ(Differences(before), 0);
}

}  // namespace
