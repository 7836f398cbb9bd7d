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

// A whole number within a range: an entry outside it, however large (no
// int holds 3e9 or 1e30), is refused in a box naming the range and asked
// again; what is no number only beeps.
TEST(InputWholeNumber, RefusesWhatLiesOutsideItsRangeWithTheRange) {
  struct Case {
    const char* name;
    std::vector<std::optional<std::string>> answers;
    bool accepted;
    int value;
    int boxes;
  } cases[] = {
      {"within", {std::string("200000")}, true, 200000, 0},
      {"a fraction is cut", {std::string("1.9")}, true, 1, 0},
      {"beyond an int, then within", {std::string("3e9"), std::string("40000")}, true, 40000, 1},
      {"far beyond, then within", {std::string("1e30"), std::string("7")}, true, 7, 1},
      {"above the range by one", {std::string("200001"), std::string("2")}, true, 2, 1},
      {"below the range", {std::string("0.5"), std::nullopt}, false, 50000, 1},
      {"negative", {std::string("-3"), std::nullopt}, false, 50000, 0},
      {"no number", {std::string("1e999"), std::string("fast"), std::string("9")}, true, 9, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::ScriptedUserInterface ui;
    platform::ScopedUI scope(ui);
    for (std::size_t k = 0; k < c.answers.size(); ++k) {
      ui.ExpectPrompt("SPEED", "rotor speed (rpm)", c.answers[k]);
      if (k < static_cast<std::size_t>(c.boxes)) ui.ExpectBox("SPEED", "enter a whole number from 1 to 200000");
    }
    int value = 50000;
    EXPECT_EQ(InputWholeNumber(&value, value, 1, 200000, "rotor speed (rpm)", "SPEED"), c.accepted);
    EXPECT_EQ(value, c.value);
    ASSERT_FALSE(ui.initialTexts.empty());
    EXPECT_EQ(ui.initialTexts.front(), "50000");
    EXPECT_EQ(ui.beeps, static_cast<int>(c.answers.size()) - 1);
    EXPECT_TRUE(ui.AllConsumed());
    EXPECT_TRUE(ui.failures.empty()) << (ui.failures.empty() ? "" : ui.failures.front());
  }
}

}  // namespace
