#pragma once
// The main window's share of the desktop: frame windows become Qt windows,
// and the main window's message loop runs until the program asks to quit.
// The desktop session makes the application object and the other backends.

namespace platform::qt {

// Makes a QApplication when there is none (tests); argc and argv must
// outlive it.
void EnsureApplication(int& argc, char** argv);
// Frame windows become Qt windows.
void InstallDesktop();
// Runs the event loop until the quit request (or the last window closing);
// returns the exit code. A quit requested before the loop starts returns at
// once.
int RunEventLoop();

}  // namespace platform::qt
