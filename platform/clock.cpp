#include "platform/clock.h"

#include <chrono>
#include <thread>

namespace platform {

namespace {
class SystemClock : public IClock {
 public:
  std::uint64_t TickCountMs() override {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
  std::time_t Now() override { return std::time(nullptr); }
  void SleepMs(std::uint64_t ms) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
};
IClock* g_clock = nullptr;
}  // namespace

IClock& Clock() {
  static SystemClock system;
  return g_clock ? *g_clock : system;
}
void SetClock(IClock* clock) { g_clock = clock; }

}  // namespace platform
