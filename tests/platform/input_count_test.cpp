// A prompt for a count offers the current count as a whole number, cuts a
// typed fraction to the whole number below it, and asks again after an entry
// that is no count.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/error_box.h"
#include "platform/scripted_ui.h"

namespace {

TEST(InputCount, OffersAWholeNumberAndTakesOnlyCounts) {
  struct Case {
    const char* name;
    std::vector<std::optional<std::string>> answers;
    bool accepted;
    int value;
    int beeps;
  } cases[] = {
      {"accepted as offered", {std::string("100")}, true, 100, 0},
      {"a fraction is cut", {std::string("6.9")}, true, 6, 0},
      {"zero is a count", {std::string("0")}, true, 0, 0},
      {"negative, then a count", {std::string("-3"), std::string("12")}, true, 12, 1},
      {"text, then a count", {std::string("many"), std::string("7")}, true, 7, 1},
      {"cancelled", {std::nullopt}, false, 100, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::ScriptedUserInterface ui;
    platform::ScopedUI scope(ui);
    for (const auto& a : c.answers) ui.ExpectPrompt("COUNT", "number of simulations", a);
    int value = 100;
    EXPECT_EQ(InputCount(&value, value, "number of simulations", "COUNT"), c.accepted);
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(ui.beeps, c.beeps);
    ASSERT_FALSE(ui.initialTexts.empty());
    EXPECT_EQ(ui.initialTexts.front(), "100");
    EXPECT_TRUE(ui.AllConsumed());
    EXPECT_TRUE(ui.failures.empty()) << (ui.failures.empty() ? "" : ui.failures.front());
  }
}

}  // namespace
