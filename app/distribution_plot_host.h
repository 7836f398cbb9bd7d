#pragma once
// The distribution graph of the main window: builds a CWINPlot from the
// description the distribution code hands over and records it for painting.
class TXLAWindow;

// Installs the window's graph host unless another one is installed.
void ConnectDistributionPlot(TXLAWindow& window);
void DisconnectDistributionPlot();
