#pragma once
// Connects the window's load, model, Run and Fit paths to the records and
// hooks of the layers below: the fields loading fills in, the model run
// after a load, the fit host, and the menu marks of the model reset.
class TXLAWindow;

void ConnectMainRoad(TXLAWindow& window);
void DisconnectMainRoad();
