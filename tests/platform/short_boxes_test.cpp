// The one Yes/No question of the command files: only a Yes answers true,
// and the box carries the question icon and the caller's caption. The one
// OK-only note: the caller's caption, text and icon, and nothing else asked.
#include <gtest/gtest.h>

#include <optional>

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

TEST(Tell, ShowsAnOkOnlyBoxWithTheCallersCaptionTextAndIcon) {
  struct Case {
    const char* caption;
    const char* text;
    std::optional<platform::BoxIcon> icon;  // nullopt: the default
    platform::BoxIcon shown;
  };
  const Case cases[] = {
      {"GENERATE DATA", "association constants must be above 0", std::nullopt, platform::BoxIcon::Information},
      {"", "set Meniscus and Bottom first", platform::BoxIcon::Information, platform::BoxIcon::Information},
      {"ERROR", "load data first", platform::BoxIcon::Error, platform::BoxIcon::Error},
      {"", "not implemented for sed eq data", platform::BoxIcon::Warning, platform::BoxIcon::Warning},
      {"NOTES", "there is no notes file", platform::BoxIcon::None, platform::BoxIcon::None},
  };
  for (const Case& c : cases) {
    platform::ScriptedUserInterface ui;
    platform::ScopedUI guard(ui);
    ui.ExpectBox(c.caption, c.text);
    if (c.icon)
      platform::Tell(c.caption, c.text, *c.icon);
    else
      platform::Tell(c.caption, c.text);
    ASSERT_EQ(ui.transcript.size(), 1u) << c.text;
    EXPECT_EQ(ui.transcript[0].kind, platform::InteractionKind::MessageBox);
    EXPECT_EQ(ui.transcript[0].caption, c.caption);
    EXPECT_EQ(ui.transcript[0].text, c.text);
    EXPECT_EQ(ui.transcript[0].buttons, platform::BoxButtons::Ok);
    EXPECT_EQ(ui.transcript[0].icon, c.shown);
    EXPECT_TRUE(ui.failures.empty()) << c.text;
    EXPECT_TRUE(ui.AllConsumed());
  }
}

// A person kept aside (a muted serial analysis) is told directly; the
// program-wide interface sees nothing.
TEST(Tell, GoesToTheInterfaceGiven) {
  platform::ScriptedUserInterface person;
  platform::ScriptedUserInterface muted;
  platform::ScopedUI guard(muted);
  person.ExpectBox("SERIAL FIT", "done");
  platform::Tell(person, "SERIAL FIT", "done", platform::BoxIcon::Warning);
  ASSERT_EQ(person.transcript.size(), 1u);
  EXPECT_EQ(person.transcript[0].icon, platform::BoxIcon::Warning);
  EXPECT_EQ(person.transcript[0].buttons, platform::BoxButtons::Ok);
  EXPECT_TRUE(person.failures.empty());
  EXPECT_TRUE(muted.transcript.empty());
}

}  // namespace
