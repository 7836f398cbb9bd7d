#pragma once
// Time as the program sees it; tests install a manual clock.
#include <cstdint>
#include <ctime>

namespace platform {

class IClock {
 public:
  virtual ~IClock() = default;
  // Milliseconds since an arbitrary start (GetTickCount).
  virtual std::uint64_t TickCountMs() = 0;
  // Seconds since the epoch (time()).
  virtual std::time_t Now() = 0;
  virtual void SleepMs(std::uint64_t ms) = 0;
};

IClock& Clock();
void SetClock(IClock* clock);  // nullptr restores the system clock

// A clock that only moves when told to (SleepMs advances it).
class ManualClock : public IClock {
 public:
  std::uint64_t TickCountMs() override { return ticks; }
  std::time_t Now() override { return now; }
  void SleepMs(std::uint64_t ms) override { ticks += ms; }
  std::uint64_t ticks = 0;
  std::time_t now = 0;
};

}  // namespace platform
