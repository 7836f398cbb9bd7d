#pragma once
// Sorting fluorescence scans into series. A run writes the scans of every
// cell, detector channel and detector setting into one folder; a fit needs
// series of one cell, one channel and one photomultiplier voltage, range
// and gain, thinned to an even spacing in time. The scans are copied into
// the sub-folder "sorted" under names that carry those settings:
//   A01234.FI2 (650.7 V, range 2, gain 4) -> 01234.FI2_A_PMV650_r2_g4
// and the new extension is the series key. Optionally one list file per
// series ("list" + key) names the scans picked for it.
#include <string>
#include <vector>

#include "data/scan_set.h"

// The program-wide table of series: keys in order of first appearance and,
// per series (the index of its key), the files added and the time of the
// last one. Arrays are 1-based (entry 0 unused).
struct SortedFileTable {
  std::vector<std::string> keys;
  int keyCount = 0;
  int keyCapacity = 1000;
  std::vector<std::vector<std::string>> names;  // [series][1..counts]
  int groupCount = 0;                           // series holding a file
  int groupCapacity = 1000;
  std::vector<int> counts;
  int maxFilesPerGroup = 1000;
  std::vector<float> lastTimes;  // s
};
SortedFileTable& CurrentSortedFileTable();

void AllocSortedFileTable();
void FreeSortedFileTable();
void AllocSeriesKeyTable();
void FreeSeriesKeyTable();
// Index of the key (exact match, letter case ignored), added when new; 0
// when the key table is full.
int FindOrAddSeriesKey(const std::string& key);
// Adds the file to its series when it is later than tMin and, after the
// series' first file, more than spacing after the last one and before tMax.
void AddFileToSortedTable(const std::string& path, const std::string& key, float time, float tMin, float spacing,
                          float tMax);
// One list file per series in the folder of its first file; out receives
// the last list path. False when a list could not be written.
bool WriteFluorescenceListFile(std::string* out = nullptr);

// The sorted name of a scan file (name with extension, no folder) and its
// series key, the new extension.
std::string SortedFluorescenceName(const std::string& fileName, const ScanRecord& header);
std::string FluorescenceSeriesKey(const std::string& fileName, const ScanRecord& header);

struct FluorescenceSortOptions {
  bool makeLists = false;
  float tMin = 0, tMax = 0;  // s
  int targetScans = 100;
  int excludedCell = 4;  // the fluorescence reference
  bool thresholdFilter = false;
  float rMin = 6.5f, rMax = 7.0f;  // cm
  float minSignal = 0, maxNoise = 100;
};
// Every scan file of the loaded scans' folder whose name is A0... or
// B0... with an extension F..., copied into "sorted" with the options.
void CopySortedFluorescenceFiles(const FluorescenceSortOptions& options);
// The loaded scans only, plain copies in time order.
void CopyLoadedFluorescenceFiles();
