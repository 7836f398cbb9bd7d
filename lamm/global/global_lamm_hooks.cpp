#include "lamm/global/global_lamm_hooks.h"

#include <mutex>

namespace {
GlobalLammHooks gHooks;
std::once_flag gConnected;
}  // namespace

const GlobalLammHooks& CurrentGlobalLammHooks() { return gHooks; }

void ConnectGlobalLammHooks(const GlobalLammHooks& hooks) {
  std::call_once(gConnected, [&] { gHooks = hooks; });
}
