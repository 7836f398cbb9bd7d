#pragma once
// The exchange with the sibling analysis program as the window offers it:
// xp experiment files chosen or dropped for loading, and "Export Data to
// MORLEAN".
#include <string>

class TXLAWindow;

// Loads the scans the xp file names and takes over its settings; refusals
// are reported in boxes captioned "ERROR". True when those scans are loaded.
bool LoadXpFile(TXLAWindow& window, const std::string& path);

// Installs LoadXpFile as the window's xp loader.
void ConnectMorleanExchange(TXLAWindow& window);
