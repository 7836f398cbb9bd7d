#include "data/fluorescence_sort.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "data/data_messages.h"
#include "data/load_hooks.h"
#include "data/scan_file.h"
#include "data/scan_loading.h"
#include "numerics/arrays.h"
#include "platform/paths.h"

namespace fs = std::filesystem;

namespace {

SortedFileTable g_table;
bool g_seriesMade = false;
bool g_keysMade = false;

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return Upper(x) == Upper(y);
         });
}

void Show(const std::string& text, int x, int y) {
  const LoadHooks& h = CurrentLoadHooks();
  if (h.drawText) h.drawText(text, x, y);
}

void Attention(const std::string& text) { data_messages::Box("", "\n\aAttention: " + text); }

// A scan file of the detector's naming: A0... or B0... with an extension F...
bool IsFluorescenceScanName(const fs::path& p) {
  const std::string stem = p.stem().string();
  const std::string ext = p.extension().string();
  const char first = stem.empty() ? '\0' : Upper(stem[0]);
  return (first == 'A' || first == 'B') && stem.size() >= 2 && stem[1] == '0' && ext.size() >= 2 &&
         Upper(ext[1]) == 'F';
}

// A scan as read for sorting; owns its arrays.
struct ReadScan {
  ScanRecord header;
  int points = 0;
  float *radii = nullptr, *signals = nullptr, *third = nullptr;
  ~ReadScan() {
    if (radii) free_vector(radii, 1, points);
    if (signals) free_vector(signals, 1, points);
    if (third) free_vector(third, 1, points);
  }
  bool Read(const std::string& path) { return ReadScanFile(path.c_str(), &header, &points, &radii, &signals, &third, nullptr, 0.0f) == 1; }
};

// Within [rMin, rMax] (the scan's last point never counts) every signal must
// reach minSignal and every noise value stay at or below maxNoise.
bool PassesThreshold(const ReadScan& s, const FluorescenceSortOptions& o) {
  int k = 1;
  while (k <= s.points && s.radii[k] < o.rMin) ++k;
  for (; k < s.points && s.radii[k] <= o.rMax; ++k) {
    if (s.signals[k] < o.minSignal) return false;
    if (s.third && s.third[k] > o.maxNoise) return false;
  }
  return true;
}

// The copy keeps the times of the original, as its header recorded them
// (this system cannot set a creation time).
bool CopyWithTimes(const std::string& from, const std::string& to, const ScanRecord& header) {
  // Read through the checked reader and written whole, like every file.
  std::string content;
  if (!platform::ReadRegularFile(platform::ToNative(from), content, false) ||
      !platform::WriteWholeFile(to, content)) {
    data_messages::Box("", "could not copy file to new destination " + to);
    return false;
  }
  if (header.fileTimesValid) platform::SetFileTimes(to, header.lastAccessTime, header.lastWriteTime);
  return true;
}

std::string SortedFolder(const std::string& firstScanPath) {
  const std::string folder = platform::Combine(platform::SplitPath(firstScanPath).folder, "sorted");
  platform::CreateDirectory(folder);
  return folder;
}

std::vector<std::string> LoadedScanPaths() {
  std::vector<std::string> paths;
  const ScanSet& s = CurrentScanSet();
  for (int i = 1; i <= s.count; ++i) paths.push_back(ScanFilePath(s.order.size() > static_cast<size_t>(i) ? s.order[i] : i));
  return paths;
}

bool SortingPossible() { return CurrentDataTypeFlags().fluorescence && CurrentScanSet().count >= 1; }

}  // namespace

SortedFileTable& CurrentSortedFileTable() { return g_table; }

void AllocSortedFileTable() {
  FreeSortedFileTable();
  const std::size_t n = static_cast<std::size_t>(std::max(0, g_table.groupCapacity)) + 1;
  g_table.names.assign(n, {});
  g_table.counts.assign(n, 0);
  g_table.lastTimes.assign(n, 0.0f);
  g_seriesMade = true;
}

void FreeSortedFileTable() {
  g_table.names.clear();
  g_table.counts.clear();
  g_table.lastTimes.clear();
  g_table.groupCount = 0;
  g_seriesMade = false;
}

void AllocSeriesKeyTable() {
  FreeSeriesKeyTable();
  g_table.keys.assign(1, std::string());
  g_keysMade = true;
}

void FreeSeriesKeyTable() {
  g_table.keys.clear();
  g_table.keyCount = 0;
  g_keysMade = false;
}

int FindOrAddSeriesKey(const std::string& key) {
  if (!g_keysMade) AllocSeriesKeyTable();
  // Exact keys: gain 4 must not join a series of gain 40.
  for (int i = 1; i <= g_table.keyCount; ++i)
    if (SameIgnoringCase(g_table.keys[static_cast<std::size_t>(i)], key)) return i;
  if (g_table.keyCount >= g_table.keyCapacity) return 0;
  g_table.keys.push_back(key);
  return ++g_table.keyCount;
}

void AddFileToSortedTable(const std::string& path, const std::string& key, float time, float tMin, float spacing,
                          float tMax) {
  if (!(time > tMin)) return;
  if (!g_seriesMade) AllocSortedFileTable();
  const int g = FindOrAddSeriesKey(key);
  if (g < 1 || g >= static_cast<int>(g_table.counts.size())) {
    Attention("too many series, " + path + " is not listed");
    return;
  }
  const std::size_t at = static_cast<std::size_t>(g);
  if (g_table.counts[at] > 0) {
    if (!(g_table.lastTimes[at] + spacing < time && time < tMax)) return;
    if (g_table.counts[at] >= g_table.maxFilesPerGroup) {
      Attention("too many in iMaxFileNameTableSize");
      return;
    }
  } else {
    if (g_table.groupCount + 1 >= g_table.groupCapacity) {
      Attention("too many iFileNameTalbes");
      return;
    }
    ++g_table.groupCount;
  }
  g_table.names[at].push_back(path);
  ++g_table.counts[at];
  g_table.lastTimes[at] = time;
}

bool WriteFluorescenceListFile(std::string* out) {
  for (int g = 1; g <= g_table.keyCount && g < static_cast<int>(g_table.counts.size()); ++g) {
    const std::vector<std::string>& files = g_table.names[static_cast<std::size_t>(g)];
    if (files.empty()) continue;
    const platform::PathParts first = platform::SplitPath(files.front());
    const std::string listPath = first.drive + first.folder + "list" + first.extension;
    std::ostringstream list;
    std::string folder = first.folder;
    while (!folder.empty() && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
    list << "newformat n=1\n" << folder << "\n";
    for (const std::string& f : files) {
      const platform::PathParts p = platform::SplitPath(f);
      list << p.name << p.extension << "\n";
    }
    if (!platform::WriteWholeFile(listPath, list.str())) {
      Attention("could not write " + listPath);
      return false;
    }
    Show(listPath, 50, 50 + g);
    if (out) *out = listPath;
  }
  return true;
}

std::string FluorescenceSeriesKey(const std::string& fileName, const ScanRecord& h) {
  const platform::PathParts p = platform::SplitPath(fileName);
  char text[400];
  std::snprintf(text, sizeof text, "%s_%c_PMV%d_r%d_g%d", p.extension.c_str(), p.name.empty() ? ' ' : p.name[0],
                static_cast<int>(std::floor(h.voltage)), h.range, h.gain);
  return text;
}

std::string SortedFluorescenceName(const std::string& fileName, const ScanRecord& h) {
  const std::string name = platform::SplitPath(fileName).name;
  return (name.empty() ? name : name.substr(1)) + FluorescenceSeriesKey(fileName, h);
}

void CopySortedFluorescenceFiles(const FluorescenceSortOptions& o) {
  if (!SortingPossible()) return;
  const std::vector<std::string> loaded = LoadedScanPaths();
  const bool lists = o.makeLists && o.targetScans > 0;
  if (lists) {
    FreeSeriesKeyTable();
    FreeSortedFileTable();
  }
  const std::string folder = platform::SplitPath(loaded.front()).folder;
  const std::string sorted = SortedFolder(loaded.front());
  const float spacing = lists ? (o.tMax - o.tMin) / static_cast<float>(o.targetScans) : 0.0f;

  // By name: the detector numbers its scans in the order it takes them.
  std::vector<fs::path> files;
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(platform::ToNative(folder), ec))
    if (e.is_regular_file(ec)) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  const std::uintmax_t half = files.empty() ? 0 : fs::file_size(files.front(), ec) / 2;

  for (const fs::path& file : files) {
    // Short files are aborted scans or notes.
    if (fs::file_size(file, ec) <= half || !IsFluorescenceScanName(file)) continue;
    ReadScan scan;
    if (!scan.Read(file.string())) {
      data_messages::Box("", "could not read " + file.string() + " - not sorted");
      continue;
    }
    if (scan.header.cell == o.excludedCell) continue;
    if (o.thresholdFilter && !PassesThreshold(scan, o)) continue;
    const std::string name = file.filename().string();
    const std::string target = platform::Combine(sorted, SortedFluorescenceName(name, scan.header));
    if (!CopyWithTimes(file.string(), target, scan.header)) break;
    Show(target, 50, 50 + scan.header.cell);
    if (lists)
      AddFileToSortedTable(target, FluorescenceSeriesKey(name, scan.header), static_cast<float>(scan.header.timeRead),
                           o.tMin, spacing, o.tMax);
  }
  if (!lists) return;
  WriteFluorescenceListFile();
  std::string done = "all done";
  done.resize(99, ' ');
  Show(done, 50, 50 + g_table.groupCount);
  FreeSeriesKeyTable();
  FreeSortedFileTable();
}

void CopyLoadedFluorescenceFiles() {
  if (!SortingPossible()) return;
  const ScanSet& s = CurrentScanSet();
  const std::vector<std::string> loaded = LoadedScanPaths();
  const std::string sorted = SortedFolder(loaded.front());
  for (int pos = 1; pos <= s.count; ++pos) {
    const int i = s.order.size() > static_cast<size_t>(pos) ? s.order[pos] : pos;
    const std::string& from = loaded[static_cast<std::size_t>(pos - 1)];
    const std::string target = platform::Combine(sorted, SortedFluorescenceName(s.fileNames[i], s.records[i]));
    if (!CopyWithTimes(from, target, s.records[i])) return;
  }
}
