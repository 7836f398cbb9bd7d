// The M* screen painted on the offscreen desktop's canvas, for the tests
// that read pixels off it.
#pragma once

// The program's headers come first: Qt's keyword macros must not reach them.
#include "app/screens/mstar_screen.h"
#include "mstar_window_support.h"

#include <QImage>

#include "desktop_support.h"

class MStarPaintTest : public MStarWindowTest {
 protected:
  void SetUp() override {
    MStarWindowTest::SetUp();
    StartOffscreenDesktop();
  }
  void TearDown() override {
    if (window_) ResetMStarAnalysis(*window_);
    window_.reset();
    platform::SetFrameWindowFactory({});
    MStarWindowTest::TearDown();
  }
  QImage Shot() {
    const std::string path = (dir_ / "shot.png").string();
    EXPECT_TRUE(Window().Frame().SaveClientImage(path, 1400, 1000));
    return QImage(QString::fromStdString(path));
  }
};
