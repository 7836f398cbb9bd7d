#pragma once
// Filling and emptying the program-wide scan set: loading the files the user
// picked or a list file, adding files, the extra initial-data scan, and the
// "list" files that save and restore a set of scans.
#include <string>
#include <vector>

#include "data/file_name_list.h"

// The most scans one set holds.
constexpr int kMaxScanCount = 1000;

// An open-dialog selection: for several files the folder, then each name,
// every string NUL-terminated; for one file its full path.
std::string MakeSelection(const std::string& folder, const std::vector<std::string>& names);

// The program's own files that carry the scans' extension beside them
// ("list", "list_corr" and other "list_" names, "notes", "sdist", "~tmppars"
// and other "~" names, and the reports below): never loaded as scans.
bool IsProgramOwnFile(const std::string& path);
// The reports among them, which a command wrote on the user's request (the
// fit parameters of "Save Fit Data", the time-stamp report, the planning's
// settings): a load that leaves them out counts them with the fitted data.
bool IsProgramReportFile(const std::string& path);
// A file the program wrote from a fit (fitted data, residuals, the
// time-independent noise), told by its first line; such files carry the
// scans' extension and sit beside them, but are never scans.
bool IsProgramOutputFile(const std::string& path);
// The one line that says how many of them a load left out.
std::string OutputsLeftOutLine(int count);

// The full paths of a selection, in its order.
std::vector<std::string> SelectionPaths(const std::string& selection);
// Model, second model and residual arrays of the read scan i (the residuals
// start as the signals) and the views and curves over its arrays.
void AttachScanArraysAndViews(int i);

// Each returns true when the set was loaded.
bool LoadAllData(const std::string& selection);
bool LoadListedScans();
bool ReloadListedScans();
bool AddMoreFiles(const std::string& selection);
// Takes one scan out of the loaded set in memory: the other scans keep every
// change made to them since loading. The grid, the plots and the file list
// are made again for the remaining scans (DLS data are loaded again from
// their files without it). False (nothing changed) for a scan number out of
// range or when it is the only scan.
bool RemoveLoadedScan(int scan);
int LoadInitialDataScans(const std::string& path);

// Reads a list file into the file-name list; false (and reason naming the
// file, when given) when it cannot be read or names nothing, and the scans
// loaded stay as they were then.
bool LoadFileNameList(const std::string& path, std::string* reason = nullptr);

bool WriteDistributionFile(const float* values, int n);
// One-based array of the values in the distribution file, or null.
float* ReadFloatListFromFile(int* countOut);

void FreeScanData();

// Path of a loaded scan: the data folder joined with its file name.
std::string ScanFilePath(int i);
