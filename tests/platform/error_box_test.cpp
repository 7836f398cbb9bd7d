#include "platform/error_box.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/sounds.h"
#include "platform/clock.h"
#include "platform/fatal_error.h"
#include "platform/input_events.h"
#include "platform/scripted_ui.h"
#include "platform/sound_player.h"

namespace {

using platform::ScopedUI;
using platform::ScriptedUserInterface;

TEST(NumberTexts, NumbersAreFullFiniteParsesWithTheLeadingZeroRule) {
  struct Case {
    const char* text;
    bool number, nonNegative;
  };
  const Case cases[] = {
      {"abc", false, false}, {".0", false, false},  {"0", true, true},
      {"-3", true, false},   {"0.0", true, true},   {"-1", true, false},
      {"-0", false, false},  {" 0", false, false},  {"1.5", true, true},
      {"2.5e-3", true, true}, {" 7 ", true, true},  {"3x", false, false},
      {"nan", false, false}, {"inf", false, false}, {"-inf", false, false},
      {"1e99", false, false}, {"", false, false},   {"1,5", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsNumber(c.text), c.number) << '"' << c.text << '"';
    EXPECT_EQ(IsNonNegativeNumber(c.text), c.nonNegative) << '"' << c.text << '"';
  }
}

TEST(NumberPrompts, AsksAgainUntilTheTextIsANumber) {
  ScriptedUserInterface ui;
  ui.ExpectPrompt("enter float", "sedimentation coefficient", std::string("abc"))
      .ExpectPrompt("enter float", "sedimentation coefficient", std::string("1.5"));
  ScopedUI scope(ui);
  float value = -1;
  EXPECT_TRUE(InputFloat(&value, 0.5f, true, "sedimentation coefficient", nullptr));
  EXPECT_EQ(value, 1.5f);
  ASSERT_EQ(ui.initialTexts.size(), 2u);
  EXPECT_EQ(ui.initialTexts[0], "0.500000");
  EXPECT_EQ(ui.initialTexts[1], "abc") << "the text stays as the user left it";
  EXPECT_EQ(ui.beeps, 1);
  EXPECT_TRUE(ui.failures.empty());
}

TEST(NumberPrompts, RefusesNonFiniteAndTrailingGarbage) {
  ScriptedUserInterface ui;
  for (const char* bad : {"nan", "inf", "1e99", "3x"}) ui.ExpectPrompt("", "", std::string(bad));
  ui.ExpectPrompt("", "", std::string("-2"));
  ScopedUI scope(ui);
  float value = 0;
  EXPECT_TRUE(InputFloat(&value, 0, false, "p", "t"));
  EXPECT_EQ(value, -2.0f);
  EXPECT_EQ(ui.beeps, 4);
  EXPECT_TRUE(ui.AllConsumed());
}

TEST(NumberPrompts, InitialTextFollowsTheCurrentValue) {
  struct Case {
    float current;
    const char* text;
  };
  const Case cases[] = {{0.01f, "1.000000e-02"}, {0.5f, "0.500000"}, {-5, "-5"},        {0, "0"},
                        {123.25f, "123.250000"},   {20, "20"},         {-0.25f, "-2.500000e-01"},
                        {5e7f, "50000000.000000"}};
  for (const Case& c : cases) {
    ScriptedUserInterface ui;
    ui.ExpectPrompt("", "", std::nullopt);
    ScopedUI scope(ui);
    float value = 9;
    EXPECT_FALSE(InputFloat(&value, c.current, true, nullptr, nullptr));
    EXPECT_EQ(value, 9.0f);
    ASSERT_EQ(ui.initialTexts.size(), 1u);
    EXPECT_EQ(ui.initialTexts[0], c.text);
    EXPECT_EQ(ui.transcript[0].caption, "enter float");
  }
}

TEST(NumberPrompts, PositiveFormRefusesNegativesAndCancelKeepsTheValue) {
  ScriptedUserInterface ui;
  ui.ExpectPrompt("enter positive float", "", std::string("-1"))
      .ExpectPrompt("enter positive float", "", std::nullopt);
  ScopedUI scope(ui);
  float value = 3;
  EXPECT_FALSE(InputPositiveFloatEx(&ui, &value, 3, false, nullptr, nullptr));
  EXPECT_EQ(value, 3.0f);
  EXPECT_EQ(ui.initialTexts[0], "");
  EXPECT_EQ(ui.beeps, 1);
}

TEST(NumberPrompts, InputTextCopiesIntoTheBufferWithinItsSize) {
  ScriptedUserInterface ui;
  ui.ExpectPrompt("enter float", "name", std::string("abcdefgh"));
  ui.ExpectPrompt("names", "", std::nullopt);
  ScopedUI scope(ui);
  char small[5] = "xxxx";
  EXPECT_TRUE(InputText(small, "name", nullptr, sizeof small));
  EXPECT_STREQ(small, "abcd");
  std::string s = "kept";
  EXPECT_FALSE(InputText(&s, nullptr, "names"));
  EXPECT_EQ(s, "kept");
}

TEST(ErrorBoxes, FatalBoxPlaysTheFarewellSynchronouslyAndRequestsTheEnd) {
  platform::ProgramPaths.SoundFilePaths[platform::kSoundError] = "/nowhere/sounds/error.wav";
  platform::ProgramPaths.SoundFilePaths[platform::kSoundBye] = "/nowhere/sounds/bye.wav";
  CountSoundFiles();
  SoundState.soundsOn = true;
  platform::RecordingSoundPlayer player;
  platform::SetSoundPlayer(&player);
  ScriptedUserInterface ui;
  ui.ExpectBox("Error", "could not go on").ExpectBox("Error", "just so");
  ScopedUI scope(ui);
  platform::ResetQuitRequest();

  EXPECT_EQ(ErrorBox("\a\ncould not go on", true), platform::IDOK);
  EXPECT_TRUE(platform::QuitRequested());
  ASSERT_EQ(player.played.size(), 2u);
  EXPECT_EQ(player.played[0].path, "/nowhere/sounds/error.wav");
  EXPECT_FALSE(player.played[0].synchronous);
  EXPECT_EQ(player.played[1].path, "/nowhere/sounds/bye.wav");
  EXPECT_TRUE(player.played[1].synchronous);
  EXPECT_EQ(ui.beeps, 1) << "the bell is sounded, not shown";
  EXPECT_EQ(ui.transcript[0].text, "\ncould not go on");

  platform::ResetQuitRequest();
  player.played.clear();
  ErrorBox("just so", false);
  EXPECT_FALSE(platform::QuitRequested());
  EXPECT_EQ(player.played.size(), 1u);
  platform::SetSoundPlayer(nullptr);
}

class Polling : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::SetClock(&clock_);
    platform::ClearInput();
    platform::InterruptRequest() = false;
  }
  void TearDown() override {
    platform::SetClock(nullptr);
    platform::ClearInput();
    platform::InterruptRequest() = false;
  }
  platform::ManualClock clock_;
  int window_ = 0;
};

TEST_F(Polling, WaitSecondsWaitsTheRoundedDownMilliseconds) {
  WaitSeconds(0.5f);
  EXPECT_EQ(clock_.ticks, 500u);
  for (float nothing : {0.0f, -1.0f, std::nanf("")}) WaitSeconds(nothing);
  EXPECT_EQ(clock_.ticks, 500u);
  WaitSeconds(0.0019f);
  EXPECT_EQ(clock_.ticks, 501u);
}

TEST_F(Polling, KeyPressesAreTakenOnceAndOtherEventsSwallowed) {
  EXPECT_FALSE(KeyPressed());
  platform::PostMouseClick();
  platform::PostKeyDown('q');
  EXPECT_TRUE(KeyPressed());
  EXPECT_FALSE(KeyPressed()) << "the click is swallowed, not reported";
  EXPECT_FALSE(platform::TakeAnyInput());

  EXPECT_FALSE(KeyPressedInWindow(nullptr));
  EXPECT_FALSE(MessageWaiting(nullptr));
  platform::InterruptRequest() = true;
  EXPECT_TRUE(MessageWaiting(&window_));
  EXPECT_FALSE(platform::InterruptRequest());
  EXPECT_FALSE(MessageWaiting(&window_));
  platform::PostKeyDown();
  EXPECT_TRUE(MessageWaiting(&window_));
}

TEST_F(Polling, WaitSecondsOrKeyStopsAtAQueuedKeyAndLeavesIt) {
  EXPECT_FALSE(WaitSecondsOrKey(&window_, 0.2f));
  EXPECT_EQ(clock_.ticks, 200u);
  EXPECT_FALSE(WaitSecondsOrKey(&window_, 0));
  platform::PostKeyDown('x');
  EXPECT_TRUE(WaitSecondsOrKey(&window_, 10));
  EXPECT_EQ(clock_.ticks, 200u);
  EXPECT_FALSE(WaitSecondsOrKey(nullptr, 0.1f)) << "no window: nothing to look at";
  EXPECT_TRUE(platform::KeyDownPending());
  int c = 0;
  EXPECT_TRUE(ReadKey(&c));
  EXPECT_EQ(c, 'x');
  EXPECT_FALSE(ReadKey(&c));
}

TEST_F(Polling, ReadKeyCharShowsTheSignedCode) {
  ScriptedUserInterface ui;
  ScopedUI scope(ui);
  EXPECT_EQ(ReadKeyChar(&window_), -1);
  platform::PostKeyDown(0xE9);  // an 8-bit character comes out negative
  EXPECT_EQ(ReadKeyChar(&window_), -23);
  ASSERT_EQ(ui.statusTexts.size(), 1u);
  EXPECT_EQ(ui.statusTexts[0], "-23");
}

}  // namespace
