#pragma once
// A fatal error (allocation failure, a numerical guard) ends the failed
// operation by this exception; the command loop catches it, and the quit
// request posted by the fatal box ends the program.
#include <functional>
#include <stdexcept>
#include <string>

namespace platform {

class FatalError : public std::runtime_error {
 public:
  explicit FatalError(const std::string& what) : std::runtime_error(what) {}
};

// A numerical routine that cannot go on with what the data gave it (a
// singular matrix, an argument out of its range, a series that does not
// converge) ends the command it runs in by this exception: its error box
// has been shown, the command loop catches it, and the program goes on.
// Only allocation failures end the program (FatalError).
class CommandFailure : public std::runtime_error {
 public:
  explicit CommandFailure(const std::string& what) : std::runtime_error(what) {}
};

// The quit request (PostQuitMessage): latched, read by the event loop.
void RequestQuit(int exitCode = 0);
bool QuitRequested();
int QuitExitCode();
void ResetQuitRequest();  // tests only

// Runs one command of the event loop: a fatal error ends the command (its box
// has been shown and the end requested) instead of escaping into the
// toolkit. False when that happened.
bool RunGuarded(const std::function<void()>& command);

}  // namespace platform
