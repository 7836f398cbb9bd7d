// A key stops the realtime update: pressed between ticks it stops it before
// more scans load; typed while a tick reruns the model it stops it after
// that tick, even when the rerun took the key as its own. Either way the stop
// is said once and the keys answer no later question.
#include <filesystem>
#include <functional>

#include "data/load_hooks.h"
#include "data/realtime_update.h"
#include "platform/input_events.h"
#include "road_support.h"

namespace {

class RealtimeKeys : public RoadTest {
 protected:
  void SetUp() override {
    RoadTest::SetUp();
    CurrentRealtimeState() = RealtimeState{};
    platform::ClearInput();
    platform::InterruptRequest() = false;
  }
  void TearDown() override {
    CurrentRealtimeState() = RealtimeState{};
    platform::ClearInput();
    platform::InterruptRequest() = false;
    RoadTest::TearDown();
  }
  void Start() {
    LoadRun(3);
    ui_->ExpectPrompt("REALTIME MODE", "maximal total number of files to load at once", std::string("20"));
    Window().Dispatch(540);
    ASSERT_TRUE(CurrentRealtimeState().running);
  }
  void ExpectStoppedOnce() {
    ExpectScriptMet();
    EXPECT_FALSE(CurrentRealtimeState().running);
    EXPECT_FALSE(Window().IsMenuItemChecked(540));
    EXPECT_TRUE(Headless(Window()).timers.empty());
    EXPECT_FALSE(platform::KeyDownPending());
    EXPECT_FALSE(platform::InterruptRequest().load());
  }
};

TEST_F(RealtimeKeys, AKeyBetweenTicksStopsBeforeNewScansLoad) {
  Start();
  WriteRun(".ra1", 5);  // two new scans wait in the folder
  ui_->ExpectBox("REALTIME MODE", "realtime update stopped by user interrupt");
  Window().EvKeyDown('X', 1, 0);
  ExpectStoppedOnce();
  EXPECT_EQ(CurrentScanSet().count, 3);
}

TEST_F(RealtimeKeys, AKeyQueuedBeforeATickStopsItThere) {
  Start();
  WriteRun(".ra1", 5);
  platform::PostKeyDown('q');
  platform::PostKeyDown('r');
  ui_->ExpectBox("REALTIME MODE", "realtime update stopped by user interrupt");
  Window().EvTimer(13);
  ExpectStoppedOnce();
  EXPECT_EQ(CurrentScanSet().count, 3);
}

// The key arrives while the tick reruns the model on the two new scans;
// the rerun takes it from the queue as a stop of its own.
TEST_F(RealtimeKeys, AKeyDuringTheRerunStopsAfterThatTick) {
  Start();
  LoadHooks& h = CurrentLoadHooks();
  const std::function<void()> run = h.runModel;
  int runs = 0;
  h.runModel = [&] {
    ++runs;
    platform::PostKeyDown('k');
    platform::TakeKeyDown();
    run();
  };
  WriteRun(".ra1", 5);
  ui_->ExpectBox("REALTIME MODE", "realtime update stopped by user interrupt");
  Window().EvTimer(13);
  h.runModel = run;
  EXPECT_EQ(runs, 1);
  ExpectStoppedOnce();
  EXPECT_EQ(CurrentScanSet().count, 5);  // the tick under way completed
  // Later ticks of a stopped update do nothing.
  WriteRun(".ra1", 7);
  Window().EvTimer(13);
  EXPECT_EQ(CurrentScanSet().count, 5);
}

}  // namespace
