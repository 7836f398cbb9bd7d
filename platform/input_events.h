#pragma once
// Keyboard and mouse events that reach a long computation on the
// user-interface thread. The window queues them instead of dispatching, and
// the computation polls them (KeyPressed); workers only read the stop flag.
#include <atomic>

namespace platform {

// Queued by the window (or a test) while a computation runs.
void PostKeyDown();
void PostMouseClick();
// Takes one queued key press; true if there was one.
bool TakeKeyDown();
// Takes one queued key press or mouse click.
bool TakeAnyInput();
// Drops every queued event.
void ClearInput();

// The program-wide stop request that worker threads and fits read.
std::atomic<bool>& StopFlag();

// Set by the window's key handler; cleared by whoever acts on it.
std::atomic<bool>& InterruptRequest();

}  // namespace platform
