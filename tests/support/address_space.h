#pragma once
// Runs code while the system can grant only a little more memory to the
// process: the soft address-space limit is set to what the process maps now
// plus some headroom and put back afterwards. New thread stacks (8 MB each)
// soon find no room, so the system refuses threads as it does past a task
// limit. Each test runs in a process of its own, so no other test sees it.
#include <sys/resource.h>

#include <cstddef>
#include <fstream>
#include <functional>
#include <string>

namespace testsupport {

// Bytes the process maps now (VmSize), 0 when unknown.
inline std::size_t MappedBytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmSize:", 0) == 0) return std::stoul(line.substr(7)) * 1024;
  return 0;
}

// False (and body not run) where no such limit can hold: under the address
// sanitizer, which maps terabytes ahead, or without /proc.
inline bool WithAddressSpaceHeadroom(std::size_t headroom, const std::function<void()>& body) {
#if defined(__SANITIZE_ADDRESS__)
  (void)headroom;
  (void)body;
  return false;
#else
  rlimit old{};
  const std::size_t mapped = MappedBytes();
  if (mapped == 0 || getrlimit(RLIMIT_AS, &old) != 0) return false;
  rlimit tight = old;
  tight.rlim_cur = mapped + headroom;
  if (setrlimit(RLIMIT_AS, &tight) != 0) return false;
  body();
  setrlimit(RLIMIT_AS, &old);
  return true;
#endif
}

}  // namespace testsupport
