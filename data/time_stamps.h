#pragma once
// Elapsed times recorded in the scan files against the file time stamps:
// the clocks' ratio, a report, "tcorr_" copies with corrected times, and
// rebuilding times and w2t from the stamps.
#include <string>

// True when corrected files were written (the caller reloads the list).
bool CheckScanTimeStamps();
// True when the scans count as all marked; mixed set when some are.
bool ScansTimeStampStatus(bool& mixed);
// Ratio of file-time to recorded-time differences between the first and
// the last scan; 0 when they are less than 60 s apart, 1 on failure (error
// set). elapsed and stamp receive new one-based double arrays [1..count]
// when asked for (free_dvector(p, 1, count)).
double AnalyzeTimeStamps(bool showReport, bool& error, double** elapsedOut, double** stampOut);
// "Restore Time and w^2t Entries".
void CmRestoreTimeAndW2t();
// Time stamp (whole seconds since the epoch) and its text, false when the
// file cannot be opened.
bool ScanFileTimeStamp(const std::string& path, long long& stamp, std::string& text);
