#pragma once
// The grid species of a distribution solved on the Lamm solver's persistent
// worker pool (CLRunMTList): one template solver carries the settings the
// species share, each worker keeps its own solver and work memory from one
// list to the next. The numbers are those of the list runner on the calling
// thread, whatever the thread count.
struct LammListJob;

// A LammListSolver: one thread (or one species) goes to the default list
// runner; otherwise species 1 is solved on the calling thread, so that a
// refusal of the shared settings is told once and ends the list, and the
// others on the pool with job.threads workers. A failed species stops the
// list (its "error #%d in simulation #%d" box is shown) and the stop flag
// stays set: kernels with a missing species are no result.
int SolveContiSpeciesOnLammPool(const LammListJob& job);
