#pragma once
// The model that the sibling analysis program starts from when it takes
// over a c(s) analysis: its hybrid discrete / c(s) model (number 1000) as a
// parameter file of 80 parameters, and the run configuration that names
// the xp experiment file, the global settings, the model, the parameter
// file and the parameter links.
#include <string>
#include <vector>

// Species slots of the hybrid model.
constexpr int kMorleanSpeciesSlots = 10;

// The c(s) peaks that the export turns into discrete species.
struct MorleanPeakExport {
  bool convert = false;
  std::vector<float> s;  // signal-weighted average s of each peak (S)
  std::vector<float> M;  // molar mass belonging to it (g/mol)
};

// Peaks that fit beside the hybrid model's discrete species (when it is on):
// the slots hold the discrete species before any peak, so the peaks past
// the free slots are left out. Returns the s-values of the left-out peaks.
std::vector<float> FitPeaksIntoSlots(MorleanPeakExport& peaks, bool discreteSpeciesOn);

// "<folder><name>.morlean_PAR" beside the configuration file.
std::string MorleanParameterFilePath(const std::string& configPath);

// Writes the parameter file, then the configuration file. The c(s) settings
// fill the first c(s) component; the hybrid model's discrete species, or
// the converted peaks, the species slots. False (refused, "could not open
// file %s for writing") when either cannot be written; a failed parameter
// file leaves the configuration unwritten.
bool WriteMorleanHybridParameterFile(const std::string& configPath, const std::string& xpPath,
                                     const MorleanPeakExport& peaks);
