// Pointer modes: which mode gets an event, what is counted, and how modes
// start and end, with recording modes in the three registry places.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "data/mouse_actions.h"
#include "data/scan_set.h"
#include "platform/frame_window.h"

namespace {

class NoEvents : public platform::IWindowEvents {
 public:
  void OnCommand(int) override {}
  void OnEnterIdle(int, bool) override {}
  void OnKeyDown(int, int, unsigned) override {}
  void OnChar(int, int, unsigned) override {}
  void OnMouse(platform::MouseMessage, unsigned, int, int) override {}
  void OnSize(int, int) override {}
  void OnPaint(bool) override {}
  void OnDropFiles(const std::vector<std::string>&) override {}
  void OnTimer(int) override {}
};

// Overrides only what the repair modes override: the left press, the key
// and the work steps; every call is logged with the mode's number.
class LoggingMode : public CMouseAction {
 public:
  LoggingMode(int number, std::vector<std::string>& log) : number_(number), log_(log) {}
  void Begin() override { Log("Begin"); }
  void Finish() override { Log("Finish"); }
  void End() override { Log("End"); }
  bool LButtonDown(MousePoint p) override {
    Log("LButtonDown " + std::to_string(p.x));
    return active != 0;
  }
  bool KeyDown(int key, int, unsigned) override {
    Log("KeyDown " + std::to_string(key));
    return active != 0;
  }

 private:
  void Log(const std::string& what) { log_.push_back(std::to_string(number_) + " " + what); }
  int number_;
  std::vector<std::string>& log_;
};

class MouseActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    MouseActionMakers& m = MouseActionFactories();
    m.trackScratch = [this] { return std::make_unique<LoggingMode>(1, log_); };
    m.fixScratchJump = [this] { return std::make_unique<LoggingMode>(2, log_); };
    m.fixPointScanFringeJump = [this] { return std::make_unique<LoggingMode>(3, log_); };
    CreateMouseActions(&frame_);
    CurrentScanSet().count = 1;
    log_.clear();
  }
  void TearDown() override {
    MouseActionsEndAll();
    MouseActionFactories() = MouseActionMakers{};
    for (auto& entry : MouseActions().entries) entry.reset();
    CurrentScanSet().count = 0;
  }
  CMouseAction& Mode(int i) { return *MouseActions().entries[i]; }

  NoEvents events_;
  platform::HeadlessFrameWindow frame_{events_};
  std::vector<std::string> log_;
};

TEST_F(MouseActionsTest, ClicksReachTheActiveModeAndAreCountedKeysAreNot) {
  EXPECT_FALSE(MouseActionsLButtonDown({10, 10}));
  EXPECT_FALSE(MouseActionsKeyDown(0x25, 1, 0));
  StartFixScratchJump();
  EXPECT_EQ(frame_.cursor, platform::CursorKind::Cross);
  log_.clear();
  // Only the left press is overridden: the right press and both double
  // clicks arrive there too.
  EXPECT_TRUE(MouseActionsRButtonDown({11, 0}));
  EXPECT_TRUE(MouseActionsLButtonDblClk({12, 0}));
  EXPECT_TRUE(MouseActionsRButtonDblClk({13, 0}));
  EXPECT_TRUE(MouseActionsLButtonUp({14, 0}));
  EXPECT_TRUE(MouseActionsRButtonUp({15, 0}));
  EXPECT_FALSE(MouseActionsMouseMove({16, 0}));
  EXPECT_EQ(Mode(2).eventCount, 5);
  EXPECT_TRUE(MouseActionsKeyDown(0x25, 1, 0));
  EXPECT_EQ(Mode(2).eventCount, 5);
  EXPECT_EQ(log_, (std::vector<std::string>{"2 LButtonDown 11", "2 LButtonDown 12", "2 LButtonDown 13",
                                            "2 KeyDown 37"}));
  EXPECT_EQ(Mode(1).eventCount, 0);
}

TEST_F(MouseActionsTest, StartingAModeDiscardsTheOtherFirst) {
  StartTrackScratch();
  log_.clear();
  StartFixPointScanFringeJump();
  // Every mode is ended (active or not) before the new one begins.
  EXPECT_EQ(log_, (std::vector<std::string>{"1 End", "2 End", "3 End", "3 Begin"}));
  EXPECT_EQ(Mode(1).active, 0);
  EXPECT_EQ(Mode(3).active, 1);
  const int invalidations = frame_.invalidations;
  log_.clear();
  EXPECT_TRUE(MouseActionsFinishActive());
  EXPECT_EQ(log_, (std::vector<std::string>{"3 Finish"}));
  EXPECT_EQ(frame_.cursor, platform::CursorKind::Arrow);
  EXPECT_GT(frame_.invalidations, invalidations);
  EXPECT_FALSE(MouseActionsFinishActive());
  EXPECT_FALSE(MouseActionsEndActive());
  StartTrackScratch();
  log_.clear();
  EXPECT_TRUE(MouseActionsEndActive());
  EXPECT_EQ(log_, (std::vector<std::string>{"1 End"}));
}

TEST_F(MouseActionsTest, NoScansOrNoOwnerLeaveTheModeIdle) {
  CurrentScanSet().count = 0;
  StartTrackScratch();
  EXPECT_TRUE(log_.empty());
  EXPECT_EQ(Mode(1).active, 0);
  CurrentScanSet().count = 1;
  Mode(2).owner = nullptr;
  StartFixScratchJump();
  EXPECT_EQ(Mode(2).active, 0);
  EXPECT_FALSE(MouseActionsLButtonDown({1, 1}));
}

TEST_F(MouseActionsTest, WithoutMakersThePlacesHoldModesThatTakeNothing) {
  MouseActionFactories() = MouseActionMakers{};
  CreateMouseActions(&frame_);
  for (int i = 1; i <= MouseActionRegistry::count; ++i) ASSERT_NE(MouseActions().entries[i], nullptr);
  StartTrackScratch();
  // The plain mode consumes clicks while active, but no key.
  EXPECT_TRUE(MouseActionsLButtonDown({1, 1}));
  EXPECT_FALSE(MouseActionsKeyDown(13, 1, 0));
  EXPECT_TRUE(MouseActionsEndActive());
}

}  // namespace
