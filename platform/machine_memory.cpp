#include "platform/machine_memory.h"

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace platform {

namespace {

// The number of a field of /proc/self/status (VmSize and VmRSS in kB,
// Threads), 0 when unknown.
double StatusField(const char* field) {
  std::ifstream status("/proc/self/status");
  const std::string key = std::string(field) + ":";
  for (std::string line; std::getline(status, line);)
    if (line.rfind(key, 0) == 0) return std::strtod(line.c_str() + key.size(), nullptr);
  return 0.0;
}

double StatusBytes(const char* field) { return StatusField(field) * 1024.0; }

// The number in the first line of a control-group file; inf for "max" (no
// limit), a missing file or anything else that is no number.
double LimitInFile(const std::string& path) {
  std::ifstream in(path);
  std::string word;
  if (!(in >> word)) return HUGE_VAL;
  char* end = nullptr;
  const double v = std::strtod(word.c_str(), &end);
  return end != word.c_str() && *end == '\0' && v >= 0 ? v : HUGE_VAL;
}

// The smallest limit in file name along the group path and each group
// above it, up to the hierarchy's root at mount: a limit set on a job's
// group holds every group below it.
double SmallestLimitAlong(const std::string& mount, std::string path, const char* name) {
  double smallest = HUGE_VAL;
  for (;;) {  // each turn cuts one component off the path
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const std::string folder = path == "/" || path.empty() ? mount : mount + path;
    smallest = std::min(smallest, LimitInFile(folder + "/" + name));
    if (path == "/" || path.empty()) return smallest;
    const std::size_t cut = path.rfind('/');
    path = cut == std::string::npos || cut == 0 ? "/" : path.substr(0, cut);
  }
}

}  // namespace

double ControlGroupMemoryLimit(const std::string& procCgroup, const std::string& root) {
  std::ifstream in(procCgroup);
  double limit = HUGE_VAL;
  for (std::string line; std::getline(in, line);) {
    // "hierarchy-ID:controller-list:path"; the path may hold colons.
    const std::size_t a = line.find(':'), b = a == std::string::npos ? a : line.find(':', a + 1);
    if (b == std::string::npos) continue;
    const std::string controllers = line.substr(a + 1, b - a - 1), path = line.substr(b + 1);
    if (path.empty() || path[0] != '/') continue;
    if (line.compare(0, a, "0") == 0 && controllers.empty()) {
      limit = std::min(limit, SmallestLimitAlong(root, path, "memory.max"));
      continue;
    }
    std::istringstream list(controllers);
    for (std::string c; std::getline(list, c, ',');)
      if (c == "memory") limit = std::min(limit, SmallestLimitAlong(root + "/memory", path, "memory.limit_in_bytes"));
  }
  return limit;
}

double MemoryForTheProgram(int computationThreads) {
  const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
  const double physical =
      pages > 0 && pageSize > 0 ? static_cast<double>(pages) * static_cast<double>(pageSize) : 1e300;
  // The resident memory counts against the machine and a job's control
  // group, the address space mapped against a limit on it (ulimit -v, -d).
  const double resident = StatusBytes("VmRSS");
  double bytes = std::max(0.0, std::min(physical, ControlGroupMemoryLimit()) - resident);
  // Each worker thread maps its stack and, with its first allocation, a
  // malloc arena of its own (64 MiB of address space): the threads of the
  // computation's two pools not started yet will take that much of a limit
  // on the address space. Threads started since the first call have theirs
  // mapped already.
  static const double threadsAtFirstCall = StatusField("Threads");
  const double started = std::max(0.0, StatusField("Threads") - threadsAtFirstCall);
  rlimit stack{};
  const double stackBytes = getrlimit(RLIMIT_STACK, &stack) == 0 && stack.rlim_cur != RLIM_INFINITY
                                ? static_cast<double>(stack.rlim_cur)
                                : 8.0 * 1024 * 1024;
  const double threadSpace =
      std::max(0.0, 2.0 * std::max(0, computationThreads) - started) * (64.0 * 1024 * 1024 + stackBytes);
  for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    rlimit l{};
    if (getrlimit(resource, &l) == 0 && l.rlim_cur != RLIM_INFINITY)
      bytes = std::min(bytes, std::max(0.0, static_cast<double>(l.rlim_cur) - StatusBytes("VmSize") - threadSpace));
  }
  return bytes;
}

void AdviseLargePages(void* block, double bytes) {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kLarge = std::uintptr_t{2} << 20;
  if (!block || !(bytes >= 2.0 * kLarge)) return;
  const auto from = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t first = (from + kLarge - 1) & ~(kLarge - 1);
  const std::uintptr_t end = (from + static_cast<std::uintptr_t>(bytes)) & ~(kLarge - 1);
  // A refusal (no such pages here) leaves the block as it is.
  if (end > first) (void)madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
  (void)block;
  (void)bytes;
#endif
}

}  // namespace platform
