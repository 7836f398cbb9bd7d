#pragma once
// Connects the main window to the layers below it: the fields of the
// window's switches that loading reads, and the repaint, title and text
// requests that loading sends up. Undone when the window goes.

class TXLAWindow;

void ConnectWindowToSubsystems(TXLAWindow& window);
void DisconnectWindowFromSubsystems();

struct ShellServices;
// The shell services of the whole program: the window's own, its mouse
// actions, then those of the plots, the unattended run, the equilibrium planning and the plot
// programs above it. The start installs them before the window is made.
ShellServices ProgramShellServices();
