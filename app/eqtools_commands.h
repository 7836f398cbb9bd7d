#pragma once
// The equilibrium tools of the main window: Run and Fit of the equilibrium
// model, "Sort Eq Data to Disk" and the test of approach to equilibrium.
class TXLAWindow;

void ConnectEqTools(TXLAWindow& w);
void DisconnectEqTools();
