#include "platform/worker_threads.h"

#include <algorithm>
#include <thread>

namespace platform {

int MaxWorkerThreads() {
  const unsigned hardware = std::thread::hardware_concurrency();
  return 4 * static_cast<int>(std::clamp(hardware, 1u, 1u << 16));
}

int CapWorkerThreads(int requested) { return std::clamp(requested, 1, MaxWorkerThreads()); }

}  // namespace platform
