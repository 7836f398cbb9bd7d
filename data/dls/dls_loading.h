#pragma once
// Loaded DLS sets as the current data set: loading a selection of dlsdat
// files, the mean of the loaded sets, and switching all sets between the
// field autocorrelation g(1) and g(2) - 1.
#include <string>

// Loads the dlsdat files of an open-dialog selection (one full path, or the
// folder followed by the names, each NUL-terminated) in the order of their
// header times. keepG2 keeps the values as g(2) - 1 instead of g(1). Sets
// the solution temperature and relative viscosity from the headers,
// meniscus and bottom to the first and last log10 tau, fits the baseline
// with no systematic noise. Result 0 when a file cannot be loaded: the
// "LOAD ERROR" box names it, and no data are left loaded.
int LoadDLSData(const std::string& selection, bool keepG2);

// Writes the mean g(2) - 1 of the loaded sets on the common grid, with the
// header of the first set at the solution temperature; false when no DLS
// data are loaded or the file cannot be written.
bool SaveAveragedDlsData(const std::string& path);

// Converts every loaded set to g(2) - 1 when it holds g(1), else to g(1),
// and refreshes their copies on the common grid. Returns true when the sets
// hold g(1) afterwards.
bool ToggleDlsFieldAutocorrelation();

// DLS sets with their headers are loaded.
bool DlsDataLoaded();
// The loaded DLS sets hold g(1).
bool DlsFieldAutocorrelationLoaded();
