#pragma once
// Installs the program's shell services and makes TXLAWindow the main window
// that the application object creates, and runs its message loop: the
// desktop's when there is one.

void RegisterMainWindow();
