#include "platform/fatal_error.h"

#include <gtest/gtest.h>

namespace {

TEST(FatalErrors, GuardedCommandsStopAtAFatalErrorWithoutEscaping) {
  int steps = 0;
  EXPECT_TRUE(platform::RunGuarded([&] { ++steps; }));
  EXPECT_FALSE(platform::RunGuarded([&] {
    ++steps;
    throw platform::FatalError("allocation failure in vector()");
    ++steps;
  }));
  EXPECT_EQ(steps, 2);
}

}  // namespace
