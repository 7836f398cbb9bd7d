#include "platform/machine_memory.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <string>

namespace platform {

namespace {

// Bytes the process maps now (VmSize), 0 when unknown.
double MappedBytes() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.rfind("VmSize:", 0) == 0) return std::stod(line.substr(7)) * 1024.0;
  return 0.0;
}

}  // namespace

double MemoryForTheProgram() {
  const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGESIZE);
  double bytes = pages > 0 && pageSize > 0 ? static_cast<double>(pages) * static_cast<double>(pageSize) : 1e300;
  for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    rlimit l{};
    if (getrlimit(resource, &l) == 0 && l.rlim_cur != RLIM_INFINITY)
      bytes = std::min(bytes, std::max(0.0, static_cast<double>(l.rlim_cur) - MappedBytes()));
  }
  return bytes;
}

}  // namespace platform
