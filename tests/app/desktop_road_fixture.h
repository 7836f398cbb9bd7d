#pragma once
// A road test whose window is the desktop's own Qt frame, drawn offscreen,
// and the c(s) analysis several of them start from.
// The program's headers come first: Qt's keyword macros must not reach them.
#include "road_support.h"

#include <QCoreApplication>

#include "desktop_support.h"
#include "distributions/distribution_arrays.h"
#include "fit/fit_report.h"
#include "platform/input_events.h"
#include "platform/qt/frame_window.h"

// The scan set has a member of that name.
#undef signals

// The Qt events that are waiting, handled.
inline void Drain() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

class DesktopRoadTest : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    StartOffscreenDesktop();
  }
  void TearDown() override {
    platform::SetEventPump({});
    platform::ReleaseInput();
    platform::ClearInput();
    platform::StopFlag() = false;
    window_.reset();
    FreeDistributionArrays();
    gModelSelectorFlags = ModelSelectorFlags{};
    platform::SetFrameWindowFactory({});
    RoadTest::TearDown();
  }
  // The rmsd printed in the report's third line.
  static double ReportedRmsd() {
    const std::string& line = LastFitInfoLines().line[3];
    EXPECT_EQ(line.rfind("rmsd=", 0), 0u) << line;
    return std::atof(line.c_str() + 5);
  }
  platform::qt::QtFrameWindow& Qt() { return dynamic_cast<platform::qt::QtFrameWindow&>(Window().Frame()); }

  // `scans` scans loaded and c(s) over 1..10 S at `resolution` with the
  // frictional ratio fitted and no TI noise, run once.
  void RunContinuous(int scans, const char* resolution) {
    LoadRun(scans);
    gFitEngineState.fitTINoise = 0;
    Window().Dispatch(275);
    forms_.Expect({"Continuous Sedimentation Coefficient Distribution c(s)",
                   {{405, resolution}, {406, "1"}, {407, "10"}, {435, "5.9500"}, {437, "7.1800"}},
                   {{431, 0}, {455, 0}, {434, 0}, {436, 0}, {416, 1}}});
    Window().Dispatch(212);
    ASSERT_TRUE(forms_.failures.empty()) << forms_.failures.front();
    Window().Dispatch(213);
    Drain();
  }
};
