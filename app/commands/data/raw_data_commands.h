#pragma once
// What the raw-data and saved-parameter commands hand to the rest of the
// program: the wiring of the Wiener skewing solver option and of the save
// services.
class TXLAWindow;

void InstallRawDataCommands(TXLAWindow& window);
void UninstallRawDataCommands();
