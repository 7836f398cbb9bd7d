#include "platform/input_events.h"

#include <deque>
#include <mutex>

#include "platform/clock.h"

namespace platform {

namespace {
// The counters make the common "nothing queued" poll a single atomic load;
// the characters themselves sit behind a mutex.
std::atomic<int> g_keys{0};
std::atomic<int> g_clicks{0};
std::atomic<unsigned long> g_keysPosted{0};
std::atomic<unsigned long> g_userStops{0};
std::mutex g_charMutex;
std::deque<int> g_chars;
std::atomic<bool> g_stop{false};
std::atomic<bool> g_interrupt{false};
std::atomic<bool> g_held{false};
std::function<void()> g_pump;
std::function<void()> g_flushPump;
std::atomic<double> g_deadline{0.0};

bool TakeOne(std::atomic<int>& counter) {
  int n = counter.load();
  while (n > 0) {
    if (counter.compare_exchange_weak(n, n - 1)) return true;
  }
  return false;
}
}  // namespace

void PostKeyDown(int character) {
  if (g_held.load()) return;
  {
    std::lock_guard<std::mutex> lock(g_charMutex);
    g_chars.push_back(character);
  }
  g_keys.fetch_add(1);
  g_keysPosted.fetch_add(1);
  g_userStops.fetch_add(1);
}

unsigned long KeyDownsPosted() { return g_keysPosted.load(); }

void PostMouseClick() {
  if (g_held.load()) return;
  g_clicks.fetch_add(1);
  g_userStops.fetch_add(1);
}

unsigned long UserStopRequests() { return g_userStops.load(); }

void ArmStopDeadline(double seconds) { g_deadline.store(seconds, std::memory_order_relaxed); }

double ArmedStopDeadline() { return g_deadline.load(std::memory_order_relaxed); }

bool StopDeadlinePassed() {
  const double deadline = g_deadline.load(std::memory_order_relaxed);
  return deadline > 0 && static_cast<double>(Clock().TickCountMs()) / 1000.0 >= deadline;
}

StopStateScope::StopStateScope()
    : deadlineBefore_(ArmedStopDeadline()), heldBefore_(InputHeld()), stopBefore_(g_stop.load()) {}

StopStateScope::~StopStateScope() {
  ArmStopDeadline(deadlineBefore_);
  if (!heldBefore_) ReleaseInput();
  if (!stopBefore_) g_stop = false;
}

bool TakeKeyDown(int* character) {
  if (!TakeOne(g_keys)) return false;
  std::lock_guard<std::mutex> lock(g_charMutex);
  int c = 0;
  if (!g_chars.empty()) {
    c = g_chars.front();
    g_chars.pop_front();
  }
  if (character) *character = c;
  return true;
}

bool KeyDownPending() { return g_keys.load() > 0; }

bool TakeAnyInput() { return TakeKeyDown() || TakeOne(g_clicks); }

void ClearInput() {
  std::lock_guard<std::mutex> lock(g_charMutex);
  g_keys = 0;
  g_clicks = 0;
  g_chars.clear();
}

void HoldInput() {
  g_held = true;
  ClearInput();
}

void ReleaseInput() { g_held = false; }

bool InputHeld() { return g_held.load(); }

void RequestStopByUser() {
  if (g_held.load()) return;
  g_stop = true;
  g_userStops.fetch_add(1);
}

std::atomic<bool>& StopFlag() { return g_stop; }

bool PollStop() {
  PumpEvents();
  if (TakeAnyInput() || StopDeadlinePassed()) g_stop = true;
  return g_stop.load();
}
std::atomic<bool>& InterruptRequest() { return g_interrupt; }

void SetEventPump(std::function<void()> pump) { g_pump = std::move(pump); }
void PumpEvents() {
  if (g_pump) g_pump();
}

void SetEventFlush(std::function<void()> flush) { g_flushPump = std::move(flush); }

void FlushTypedInput() {
  if (g_flushPump) g_flushPump();
  ClearInput();
}

}  // namespace platform
