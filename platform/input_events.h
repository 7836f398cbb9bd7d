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
// Presses, clicks and stop requests of the user that were not held back,
// counted since the program started: a command compares the count before
// and after a computation to learn that the user stopped it (a stop the
// computation raised itself, on an error, is not counted).
unsigned long UserStopRequests();
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

// The one look at the keyboard of every step of a long computation, on
// the thread that computes (or, while workers compute, the thread that
// waits for them): the window's events are delivered, a queued press or
// click or a passed deadline raises the stop flag, and the flag is the
// answer. Raised, it stays raised: the computation's owner takes it.
bool PollStop();

// A fit bounded in time arms a deadline (seconds of the program's clock,
// Clock().TickCountMs() / 1000) for each evaluation it starts: the kernels'
// polls then end the evaluation under way once it has passed, as a key
// would, instead of finishing a solve that may take minutes. 0 disarms it.
// Passed: armed and reached.
void ArmStopDeadline(double seconds);
bool StopDeadlinePassed();
// The deadline armed now (0 when none), to be armed again after a nested one.
double ArmedStopDeadline();

// A fit that has taken the user's stop finishes with one more evaluation,
// of the best parameters found: presses arriving meanwhile (the user goes on
// typing, or the keys sat queued) must not cut that evaluation short and
// leave no model. HoldInput drops what is queued; until ReleaseInput, new
// presses and clicks are dropped as they come and none reads as a stop. The
// command that ran the fit releases it when it ends.
void HoldInput();
void ReleaseInput();
bool InputHeld();
// A press or click that asks the running computation to stop; nothing
// while input is held.
void RequestStopByUser();

// The evaluation that ends a fit, under a hold released at its end.
class InputHold {
 public:
  InputHold() { HoldInput(); }
  ~InputHold() {
    ReleaseInput();
    ClearInput();
  }
  InputHold(const InputHold&) = delete;
  InputHold& operator=(const InputHold&) = delete;
};

// One computation's stop state for as long as the computation lives: on
// every way out (a return, a stop, an exception) the deadline armed before
// it is armed again, a hold of the input it took is released and a stop
// request it raised and left is lowered. What a stop meant has been passed
// on by then (the computation's end record, a series' abort request), so
// none of it reaches the next computation: a raised flag, a held keyboard or
// a passed deadline would end that one at its first poll, or keep a key
// from stopping it.
class StopStateScope {
 public:
  StopStateScope();
  ~StopStateScope();
  StopStateScope(const StopStateScope&) = delete;
  StopStateScope& operator=(const StopStateScope&) = delete;

 private:
  double deadlineBefore_;
  bool heldBefore_;
  bool stopBefore_;
};

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
