#pragma once
// The data layer's calls up into the window: the plot zoom after a noise
// subtraction, the diagnostics log, the realtime update's reruns and range
// checks, and the save offer of the raw-data commands.

class TXLAWindow;

void ConnectDataLayerToWindow(TXLAWindow& window);
