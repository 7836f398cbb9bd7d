#pragma once
// Puts the on-plot buttons, peak labels and point editing into the window's
// mouse, key, paint and load paths. Hooks that are already filled (a test's
// own, or another part's) are left alone.
class TXLAWindow;

void ConnectOnPlotButtons(TXLAWindow& window);
void DisconnectOnPlotButtons();
