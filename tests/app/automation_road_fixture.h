#pragma once
// A road test that runs the unattended analysis in the window: the
// automation's services installed, its waits skipped, and the run's plots
// and state gone afterwards.
#include "app/wiring/automation_window.h"
#include "automation/automation_run.h"
#include "plot/plot_window_set.h"
#include "road_support.h"

class AutomationRoadTest : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    InstallAutomationServices(Services());
    SetAutomationWait([](int) {});
  }
  void TearDown() override {
    SetAutomationWait({});
    ResetAutomation();
    // The plots of the run view the scans about to be freed.
    DeletePlotWindows();
    RoadTest::TearDown();
  }
};
