#pragma once
// How many worker threads a pool may ask for. A count from a preference or
// a parameter file can be anything up to 2^31 - 1; far more threads than
// processors only cost memory and, past the system's task limit, make the
// thread creation fail. Pools cap their size here and treat a thread the
// system refuses as one worker fewer.

namespace platform {

// Four times the hardware threads (at least 4).
int MaxWorkerThreads();
// requested within 1 .. MaxWorkerThreads().
int CapWorkerThreads(int requested);

}  // namespace platform
