#pragma once
// The platform's input records as a fresh process has them: no queued key
// presses or clicks and no stop or interrupt request. A test that stops a
// computation by a key leaves the key or the request behind otherwise, and
// the next long computation ends at once.
#include "platform/input_events.h"

namespace teststate {

inline void ResetInputState() {
  platform::ReleaseInput();
  platform::ClearInput();
  platform::StopFlag() = false;
  platform::InterruptRequest() = false;
}

}  // namespace teststate
