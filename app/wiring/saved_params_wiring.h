#pragma once
// The saved analysis next to the data ("~tmppars") as the main window uses
// it: offered after every load (never in an unattended run), and a reload
// chooses its distribution model by the window's own Model command.
class TXLAWindow;

void ConnectSavedParamsToWindow(TXLAWindow& window);
void DisconnectSavedParamsFromWindow();
