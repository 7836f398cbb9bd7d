#pragma once
// Connects the plots of the main window to the window and to the layers
// below: the loaders' plot hooks, the fit loops' redraw request, and the
// window services the plots call (client surface, repaint, menu check
// marks). Undone when the window goes. The shell's plot services are among
// its defaults (InstallPlotShellServices).

class TXLAWindow;

void ConnectPlotsToWindow(TXLAWindow& window);
void DisconnectPlotsFromWindow();

struct ShellServices;
// The plot services of the shell: layout, axis titles, redraws, ranges.
void InstallPlotShellServices(ShellServices& s);
