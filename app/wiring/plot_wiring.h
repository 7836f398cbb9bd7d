#pragma once
// Connects the plots of the main window to the window and to the layers
// below: the loaders' plot hooks, the fit loops' redraw request, and the
// window services the plots call (client surface, repaint, menu check
// marks). Undone when the window goes. The shell's plot services are among
// its defaults (InstallPlotShellServices).

class TXLAWindow;

void ConnectPlotsToWindow(TXLAWindow& window);
void DisconnectPlotsFromWindow();
// Copies the window's preferences that the plots read (redraw during fits,
// scan colours by time, band tint) into the plot record.
void SyncPlotPreferences();

struct ShellServices;
// The plot services of the shell: layout, axis titles, redraws, ranges.
void InstallPlotShellServices(ShellServices& s);
