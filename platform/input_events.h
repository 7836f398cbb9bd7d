#pragma once
// Keyboard and mouse events that reach a long computation on the
// user-interface thread. The window queues them instead of dispatching, and
// the computation polls them (KeyPressed); workers only read the stop flag.
#include <atomic>
#include <functional>

namespace platform {

// Queued by the window (or a test) while a computation runs; character is
// the key's character code (0 for keys without one).
void PostKeyDown(int character = 0);
void PostMouseClick();
// Key presses queued since the program started, whether or not something
// has taken them since: a computation compares the count before and after
// a step to learn that a key came meanwhile, even one a nested poll took.
unsigned long KeyDownsPosted();
// Takes one queued key press; true if there was one.
bool TakeKeyDown(int* character = nullptr);
// True when a key press is queued; takes nothing.
bool KeyDownPending();
// Takes one queued key press or mouse click.
bool TakeAnyInput();
// Drops every queued event.
void ClearInput();

// The program-wide stop request that worker threads and fits read.
std::atomic<bool>& StopFlag();

// Set by the window's key handler; cleared by whoever acts on it.
std::atomic<bool>& InterruptRequest();

// A computation on the user-interface thread cannot receive events unless
// the toolkit gets a moment to deliver them; the desktop installs a pump
// that does so (rate-limited), the default does nothing. Call only from the
// user-interface thread.
void SetEventPump(std::function<void()> pump);
void PumpEvents();

// Before the next question after a computation: the events still waiting in
// the toolkit are delivered at once (while the window is busy they are
// queued here, not given to the question's dialog), then every queued event
// is dropped. The desktop installs the delivery; by default only the queue
// is emptied.
void SetEventFlush(std::function<void()> flush);
void FlushTypedInput();

}  // namespace platform
