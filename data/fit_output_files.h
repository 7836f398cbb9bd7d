#pragma once
// Fitted curves, residuals and the systematic noise written as files, and
// the fitted TI noise taken out of a separate equilibrium scan.
#include <string>

// Target of scan i's fitted data (prefix 'f') or residuals (prefix 'r')
// for the path the user chose, by the file-name convention in use.
std::string FitFileNameForScan(const std::string& chosen, int scan, char prefix);
std::string TINoiseFileName(const std::string& chosen);
std::string RINoiseFileName(const std::string& chosen);
// Names the save dialogs propose, by the file-name convention in use.
std::string DefaultFitDataName();
std::string DefaultResidualsName();
std::string DefaultTINoiseName();
std::string DefaultRINoiseName();
std::string DefaultCorrectedEqName(const std::string& equilibriumScan);

// Each returns true when every file was written.
bool SaveFitDataFiles(const std::string& path, bool convertToAbsorbance);
bool SaveResidualFiles(const std::string& path);
bool SaveTINoiseFile(const std::string& path);
bool SaveRINoiseFile(const std::string& path);
// The model curve of the last scan in time order as a scan file described
// "equilibrium" (the final state a long simulation reached).
bool SaveEquilibriumScan(const std::string& path);
bool SubtractNoiseFromEqDataFiles(const std::string& equilibriumScan, const std::string& savePath);
