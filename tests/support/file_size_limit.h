#pragma once
// Runs code under a file-size limit, as `ulimit -f` sets it: every write
// that would make a regular file larger than the limit fails (EFBIG, the
// signal ignored), as on a full disk. The soft limit and the signal's
// disposition are put back afterwards. Each test runs in a process of its
// own, so no other test sees the limit.
#include <sys/resource.h>

#include <csignal>
#include <cstddef>
#include <functional>

namespace testsupport {

// False (and body not run) when the limit cannot be set.
inline bool WithFileSizeLimit(std::size_t bytes, const std::function<void()>& body) {
  rlimit old{};
  if (getrlimit(RLIMIT_FSIZE, &old) != 0) return false;
  rlimit tight = old;
  tight.rlim_cur = bytes;
  if (old.rlim_max != RLIM_INFINITY && tight.rlim_cur > old.rlim_max) tight.rlim_cur = old.rlim_max;
  auto* const previous = std::signal(SIGXFSZ, SIG_IGN);
  if (setrlimit(RLIMIT_FSIZE, &tight) != 0) {
    std::signal(SIGXFSZ, previous);
    return false;
  }
  body();
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  return true;
}

}  // namespace testsupport
