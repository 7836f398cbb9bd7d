#pragma once
// The memory this computer can give the program: its physical memory, or
// less where a limit on the process's address space or data holds (ulimit
// -v, -d), less what the process already maps. A size that needs more can
// never be computed here and is refused before anything is allocated.

namespace platform {

// Bytes (in double: sizes asked for may exceed any integer type).
double MemoryForTheProgram();

}  // namespace platform
