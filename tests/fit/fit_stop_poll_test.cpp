// The fit's stop poll gives the window its moment to deliver events: a key
// that is only waiting in the toolkit (the pump delivers it) stops the fit.
#include <gtest/gtest.h>

#include "fit/fit_engine_state.h"
#include "fit/fit_target.h"
#include "platform/input_events.h"

namespace {

TEST(FitStopPoll, AKeyTheWindowStillHoldsStopsTheFit) {
  platform::ClearInput();
  platform::StopFlag() = false;
  gFitEngineState.stopRequested = 0;
  // Nothing waiting anywhere: the fit goes on.
  int pumped = 0;
  platform::SetEventPump([&] { ++pumped; });
  EXPECT_FALSE(PollFitStop());
  EXPECT_EQ(pumped, 1);
  // The toolkit delivers a key when it is given the moment.
  platform::SetEventPump([&] {
    ++pumped;
    platform::PostKeyDown('s');
  });
  EXPECT_TRUE(PollFitStop());
  EXPECT_EQ(pumped, 2);
  EXPECT_EQ(gFitEngineState.stopRequested, 1);
  EXPECT_FALSE(platform::StopFlag().load());  // carried over into the fit's own flag
  platform::SetEventPump({});
  platform::ReleaseInput();
  platform::ClearInput();
  gFitEngineState.stopRequested = 0;
}

}  // namespace
