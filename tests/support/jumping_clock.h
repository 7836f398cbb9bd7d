#pragma once
// The program's clock as the system keeps it, moved on at once when the test
// says: a time bound of minutes passes at the moment the test chooses, while
// waits and rate limits still see time pass as it does. Installed for the
// object's lifetime.
#include <atomic>
#include <cstdint>

#include "platform/clock.h"

namespace teststate {

class JumpingClock : public platform::IClock {
 public:
  JumpingClock() : system_(&platform::Clock()) { platform::SetClock(this); }
  ~JumpingClock() override { platform::SetClock(nullptr); }
  JumpingClock(const JumpingClock&) = delete;
  JumpingClock& operator=(const JumpingClock&) = delete;

  // Moves the clock on by the seconds given (from any thread).
  void Jump(double seconds) { offsetMs_ += static_cast<std::uint64_t>(seconds * 1000.0); }

  std::uint64_t TickCountMs() override { return system_->TickCountMs() + offsetMs_.load(); }
  std::time_t Now() override { return system_->Now(); }
  void SleepMs(std::uint64_t ms) override { system_->SleepMs(ms); }

 private:
  platform::IClock* system_;
  std::atomic<std::uint64_t> offsetMs_{0};
};

}  // namespace teststate
