#pragma once
// The memory this computer can give the program: its physical memory, or
// less where the job's control group (a batch scheduler's memory request)
// or a limit on the process's address space or data holds (ulimit -v, -d),
// less what the process already holds. A size that needs more can never be
// computed here and is refused before anything is allocated.
#include <string>

namespace platform {

// Bytes (in double: sizes asked for may exceed any integer type). Under a
// limit on the address space, the computationThreads workers of each of
// the computation's two pools that are not running yet count with the
// space their stacks and malloc arenas will map.
double MemoryForTheProgram(int computationThreads = 0);

// The smallest memory limit of the process's control groups, inf when none
// holds: cgroup v2 "memory.max" and v1 "memory.limit_in_bytes" of the group
// each line of procCgroup names and of every group above it, the v2
// hierarchy mounted at root and v1's memory controller at root/memory.
double ControlGroupMemoryLimit(const std::string& procCgroup = "/proc/self/cgroup",
                               const std::string& root = "/sys/fs/cgroup");

// Asks the system to back bytes of a freshly allocated block that is
// written whole (a Run's kernels, a packed design) with large pages: one
// first touch then maps 2 MiB instead of 4 KiB, and the faults that fresh
// memory costs fall by the same factor. Only the whole large pages inside
// the block are advised, so neighbouring allocations are never affected;
// without such pages (another system, switched off) nothing happens. The
// block's values and the way it is freed stay as they were.
void AdviseLargePages(void* block, double bytes);

}  // namespace platform
