#pragma once
// The three scan-repair pointer modes in the window: their menu commands
// (in scan_repair_commands.cpp), the makers that put them into the
// registry, and the window's answers to their hooks (pointer positions in
// the plots, the zoomed plots and tracks drawn over the data plot).

class TXLAWindow;

void ConnectScanRepairs(TXLAWindow& window);
// Ends a mode still running and forgets the window.
void DisconnectScanRepairs();
