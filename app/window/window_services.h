#pragma once
// Services of the main window that many commands share: the repaint
// request, the file dialogs, the last data folder in "tarnel.ini", and the
// menu items that come and go with the loaded data.
#include <array>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/user_interface.h"

class TXLAWindow;
struct ScanSet;

// Invalidates the whole client area with erase, unless a serial fit runs.
void RequestRepaint(TXLAWindow& window);

// The column at which a line of the fit report or of the progress shown in
// its rows, meant for column x of the window, begins: right of the data
// plot's frame, so that its axis label and tick values stay readable, and
// one column for every writer, so that a line replaces the one at its row.
// The report may stand further right (ReportShift): every writer follows.
int ReportTextColumn(const TXLAWindow& window, int x);
// Pixels the report and the lines in its rows stand right of the frame's
// column: 0 until a report is placed clear of the data.
int& ReportShift();
// Places the report of these lines (line k at y = 10 + 20 (k - 1)) in the
// rows of the data plot where it covers the fewest drawn pixels, leftmost
// among equals, from what the window shows now (the picture without the
// report); sets ReportShift and tells whether it changed.
bool PlaceReportClearOfTheData(TXLAWindow& window, const std::vector<std::string>& lines);

// The path of "tarnel.ini" (set by the start-up; tests point it elsewhere).
std::string& LastFolderIniPath();
// Writes text as "tarnel.ini" (whole, under a temporary name); a failure
// (a program folder without room or write access) is said once a session.
bool WriteLastFolderFile(const std::string& text);
// Keeps the drive, folder and base name of path as the last data folder.
void SaveLastDataDirectory(TXLAWindow& window, const std::string& path);
// The drive and folder of the last data file into initialFolder; a missing
// file leaves it unchanged.
void LoadLastDataDirectory(TXLAWindow& window, std::string& initialFolder);

// File dialogs; 1 when a file was chosen (its path copied into path), 0 when
// cancelled or when the path is longer than capacity - 1 characters (path
// unchanged).
int SelectSaveFileName(TXLAWindow& window, std::string& path, int capacity, int unused,
                       const std::string& defaultExtension);
int SelectFileNameOpenOrSave(TXLAWindow& window, bool save, std::string& path, int capacity,
                             const std::string& title, const std::string& defaultExtension,
                             const std::string& filterDescription,
                             const std::string& filterPattern, bool confirmOverwrite = true);
int SelectOpenFileName(TXLAWindow& window, std::string& path, int capacity,
                       const std::string& defaultExtension);

// The longest path the program's 260-character file-name buffer holds.
inline constexpr std::size_t kLongestSavePath = 259;

// What the save dialog of a command that writes one file shows.
struct SaveFileQuestion {
  std::string title{};
  std::string preset{};       // the name proposed, bare or with its folder
  std::string startFolder{};  // empty: where the dialog it is built on opens
  std::string defaultExtension{};
  // 0: any length; otherwise a longer path counts as cancelled.
  std::size_t longestPath = kLongestSavePath;
};
// The save dialog for one file, built on base (its filters, its folder and
// its overwrite question). The chosen path, or empty when cancelled.
std::string AskSaveFile(const platform::FileDialogRequest& base, const SaveFileQuestion& question);
// The folder a save dialog for preset opens in: the preset's own drive and
// folder, else the folder of the data loaded, else empty.
std::string SaveFolderFor(const std::string& preset);

// The plot range that "Data Range" shows: from just inside the meniscus to
// just beyond the last fitted grid point, the signal range of all scans over
// the fitted grid points widened by 0.1. False when no grid is loaded.
struct DataRange {
  float xMin = 0, xMax = 0, yMin = 0, yMax = 0;
};
bool ComputeDataRange(const ScanSet& scans, float meniscus, DataRange& range);
// Plot ranges of earlier zoom steps of the data plot.
struct RangeHistoryRecord {
  std::array<float, 10> xMin{}, xMax{}, yMin{}, yMax{};
  int depth = 0;
};
extern RangeHistoryRecord RangeHistory;
// Pushes a range onto the data plot's zoom history (at most ten levels; the
// top one is overwritten when it is full).
void PushRangeHistory(const DataRange& range);

// What the dynamic menu items depend on.
struct DynamicMenuState {
  bool mStarVariant = false;  // the M* variant of the equilibrium analysis keeps its own items
};
DynamicMenuState& MenuState();

struct DynamicMenuMarkers {
  bool MStarCopyItemsShown = true;  // the menu resource holds them
  bool FloToolsItemShown = false;
  bool MeanFieldItemsShown = false;
};
DynamicMenuMarkers& MenuMarkers();

void InsertCopyMStarMenuItems(TXLAWindow& window);
void RemoveCopyMStarMenuItems(TXLAWindow& window);
void UpdateFloToolsMenu(TXLAWindow& window);
