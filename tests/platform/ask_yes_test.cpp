// The one Yes/No question of the command files: only a Yes answers true,
// and the box carries the question icon and the caller's caption.
#include <gtest/gtest.h>

#include "platform/scripted_ui.h"
#include "platform/user_interface.h"

namespace {

TEST(AskYes, OnlyYesAnswersTrue) {
  struct Case {
    int answer;
    bool yes;
  };
  for (const Case& c : {Case{platform::IDYES, true}, Case{platform::IDNO, false}, Case{platform::IDCANCEL, false}}) {
    platform::ScriptedUserInterface ui;
    platform::ScopedUI guard(ui);
    ui.ExpectBox("SET PREFERENCE", "save?", c.answer);
    EXPECT_EQ(platform::AskYes("SET PREFERENCE", "save?"), c.yes) << c.answer;
    ASSERT_EQ(ui.transcript.size(), 1u);
    EXPECT_EQ(ui.transcript[0].caption, "SET PREFERENCE");
    EXPECT_EQ(ui.transcript[0].text, "save?");
    EXPECT_EQ(ui.transcript[0].icon, platform::BoxIcon::Question);
    EXPECT_TRUE(ui.failures.empty());
  }
}

// Nobody to answer (an unattended run): the question counts as No.
TEST(AskYes, UnexpectedQuestionIsNo) {
  platform::ScriptedUserInterface ui;
  platform::ScopedUI guard(ui);
  EXPECT_FALSE(platform::AskYes("", "reload scans for changes to take effect?"));
  EXPECT_EQ(ui.failures.size(), 1u);
}

}  // namespace
