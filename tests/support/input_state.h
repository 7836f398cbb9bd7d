#pragma once
// The platform's input records as a fresh process has them: no queued key
// presses or clicks, no stop or interrupt request and no deadline armed. A test that stops a
// computation by a key leaves the key or the request behind otherwise, and
// the next long computation ends at once.
#include "platform/input_events.h"

namespace teststate {

inline void ResetInputState() {
  platform::ReleaseInput();
  platform::ClearInput();
  platform::StopFlag() = false;
  platform::InterruptRequest() = false;
  platform::ArmStopDeadline(0);
}

}  // namespace teststate
