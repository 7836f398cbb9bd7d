#pragma once
// The DLS tools of the main window: converting instrument exports into
// dlsdat files, loading sets of them, their mean and the g(2)-1/g(1) toggle.

// Installs the DLS loader as the window's "load DLS Data" service and tells
// the plots which autocorrelation the loaded sets hold.
void ConnectDlsData();
