#pragma once
// Connects the main window to the layers below it: the fields of the
// window's switches that loading reads, and the repaint, title and text
// requests that loading sends up. Undone when the window goes.

class TXLAWindow;

void ConnectWindowToSubsystems(TXLAWindow& window);
void DisconnectWindowFromSubsystems();
