#include "platform/fatal_error.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<bool> g_quit{false};
std::atomic<int> g_code{0};
}  // namespace

void RequestQuit(int exitCode) {
  g_code = exitCode;
  g_quit = true;
}
bool QuitRequested() { return g_quit; }
int QuitExitCode() { return g_code; }
bool RunGuarded(const std::function<void()>& command) {
  try {
    command();
    return true;
  } catch (const FatalError&) {
    return false;
  } catch (const CommandFailure&) {
    return false;
  }
}

void ResetQuitRequest() {
  g_quit = false;
  g_code = 0;
}

}  // namespace platform
