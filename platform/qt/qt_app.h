#pragma once
// The desktop's application object and event loop. The start-up makes the
// application, installs the desktop backends (frame windows, event pump),
// builds its main window, and runs the loop until the program asks to quit.
#include <functional>

namespace platform::qt {

// Makes the QApplication when there is none; argc and argv must outlive it.
void EnsureApplication(int& argc, char** argv);
// Frame windows become Qt windows; computations on the user-interface
// thread may let the window take input (PumpEvents).
void InstallDesktop();
// Runs the event loop until the quit request (or the last window closing);
// returns the exit code. A quit requested before the loop starts returns at
// once.
int RunEventLoop();

}  // namespace platform::qt
