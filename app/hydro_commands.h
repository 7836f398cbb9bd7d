#pragma once
// The hydrodynamics tools of the Calculator and Size-Distribution Options
// menus: the s(M) power-law calibration, the reader of boundary-element
// output and the launcher of the outside bead-model program.
#include <string>

class TXLAWindow;

// Where the outside bead-model program and its documents are.
struct HydroProSettings {
  std::string executable;  // empty: "hydropro" in the program folder
  // The distributor's pages; empty: no address is offered.
  std::string downloadUrl;
  std::string userGuideUrl;
  std::string paperUrl;
};
HydroProSettings& HydroProConfig();

// Reads (s, M) pairs, fits s = ks M^kb, plots it and on acceptance stores
// ks and kb in the model; true when accepted.
bool CalibrateCMPowerLaw();

void ConnectHydroTools(TXLAWindow& window);
