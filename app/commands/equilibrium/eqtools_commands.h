#pragma once
// The equilibrium tools of the main window: Run and Fit of the equilibrium
// model, "Sort Eq Data to Disk" and the test of approach to equilibrium.
#include <vector>

#include "equilibrium/eqtools/eq_test_mode.h"

class TXLAWindow;

// Shows how the series' scans still differ from the latest and asks whether
// it is to be written; list is in load order with the latest appended.
bool TestEquilibriumAttained(TXLAWindow& w, const std::vector<int>& list, int latest);

void ConnectEqTools(TXLAWindow& w);
void DisconnectEqTools();

// The test of approach to equilibrium: one pass (Run and Fit while the mode
// is on). Leaving it and its third plot: app/screens/eq_test_screen.h.
void RunEqTest(TXLAWindow& w);
