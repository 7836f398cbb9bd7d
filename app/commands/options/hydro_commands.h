#pragma once
// The hydrodynamics tools of the Calculator and Size-Distribution Options
// menus: the s(M) power-law calibration, the reader of boundary-element
// output and the launcher of the outside bead-model program.
#include <string>

class TXLAWindow;

// Where the outside bead-model program and its documents are.
struct HydroProSettings {
  std::string executable;  // empty: "hydropro" in the program folder
  std::string downloadUrl = "https://example.org/hydropro/download";
  std::string userGuideUrl = "https://example.org/hydropro/guide";
  std::string paperUrl = "https://example.org/hydropro/paper";
};
HydroProSettings& HydroProConfig();

// Reads (s, M) pairs, fits s = ks M^kb, plots it and on acceptance stores
// ks and kb in the model; true when accepted.
bool CalibrateCMPowerLaw();

void ConnectHydroTools(TXLAWindow& window);
