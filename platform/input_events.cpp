#include "platform/input_events.h"

namespace platform {

namespace {
std::atomic<int> g_keys{0};
std::atomic<int> g_clicks{0};
std::atomic<bool> g_stop{false};
std::atomic<bool> g_interrupt{false};

bool TakeOne(std::atomic<int>& counter) {
  int n = counter.load();
  while (n > 0) {
    if (counter.compare_exchange_weak(n, n - 1)) return true;
  }
  return false;
}
}  // namespace

void PostKeyDown() { g_keys.fetch_add(1); }
void PostMouseClick() { g_clicks.fetch_add(1); }
bool TakeKeyDown() { return TakeOne(g_keys); }
bool TakeAnyInput() { return TakeOne(g_keys) || TakeOne(g_clicks); }
void ClearInput() {
  g_keys = 0;
  g_clicks = 0;
}
std::atomic<bool>& StopFlag() { return g_stop; }
std::atomic<bool>& InterruptRequest() { return g_interrupt; }

}  // namespace platform
