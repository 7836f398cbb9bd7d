#pragma once
// Serial fits: the analysis a person set up by hand on one data set,
// repeated unasked over a series of like data sets, each set's results left
// in its own folder. Three ways to name the series: by cell digit and/or
// numbered last folder of the loaded files (command 593), by every
// "list.*" file of the data folder (904), or by the sets picked in the
// companion plotter PELDO, which watches the results arrive (923).
//
// The series drives the main window through ISerialFitWindow with the same
// menu commands a person would use (Run 213, Fit 215), so a stand-in can
// take the window's place in tests. While it runs, gSerialFitSettings.running
// mutes the boxes of the analysis and failures become error codes. Every set
// ends in serialfit.log (data folder) as analysed, skipped or failed, and a
// closing box counts them.
#include <string>
#include <vector>

class ISerialFitWindow {
 public:
  virtual ~ISerialFitWindow() = default;
  // Dispatches a menu command as the menu would.
  virtual void Command(int id) = 0;
  virtual void SetCaption(const std::string& text) = 0;
  // Text on the main window at (x, y) in units of 1400 x 1000.
  virtual void DrawText(const std::string& text, int x, int y) = 0;
  // Loads an xp experiment file with its settings (LoadXpFile); true when
  // the scans it names are the ones loaded now.
  virtual bool LoadXpFile(const std::string& path) = 0;
  // The Monte-Carlo series of the current distribution (confidence 0.68),
  // its files under prefix.
  virtual void RunMonteCarlo(int iterations, const std::string& prefix) = 0;
  virtual void SetWaitCursor(bool wait) = 0;
  // The window is not repainted while a series runs; this shows the last set.
  virtual void RequestRepaint() = 0;
};

// Menu commands the series sends.
enum SerialFitCommand : int {
  kSerialCmdRun = 213,
  kSerialCmdFit = 215,
  kSerialCmdShowLastFitInfo = 517,
  kSerialCmdPeldoDistribution = 899,
  kSerialCmdPeldoDataFitResiduals = 900,
};

void SerializeFitByCellOrDir(ISerialFitWindow& window);
void SerializeFitByListFile(ISerialFitWindow& window);
void SerializeFitWithPeldoMonitoring(ISerialFitWindow& window);

// The error.txt text of a serial-fit error code (1 to 10; any other code
// is invalid).
std::string SerialFitErrorText(int code);

// True when a scan of the loaded (non-interference) data has, at its first
// point between 6.9 and 7.0 cm, a signal above 1.8 OD (absorbance) or 3900.
bool IsSignalSaturated();

// ---- series files of the PELDO variant ----------------------------------

// One row of toBeProcessed.txt: "%s %s %d %d %d".
struct SeriesRow {
  std::string prefix;  // empty for a prefix that contains "None"
  std::string extension;
  int first = 0, last = 0, step = 0;
};

// What a series file holds: list paths (listOfLists.txt) or rows
// (toBeProcessed.txt). Every complete, non-empty line is taken; a line
// that does not parse (or a step of 0 or less) is an error.
struct SeriesFile {
  bool ok = false;
  std::vector<std::string> listPaths;
  std::vector<SeriesRow> rows;
};
SeriesFile ParseSeriesFile(const std::string& text, bool listOfLists);

// A set holds at most this many files.
constexpr int kMaxSeriesSetFiles = 1000;

// The numbers of one row whose files exist, in the order they are tried:
// after a found file the step applies (never beyond last, which is always
// tried), after a missing one the next number. Collecting stops at
// kMaxSeriesSetFiles files (tooMany set). Empty, with problem set, when the
// last file is missing and fewer than 2 were found.
std::vector<int> SeriesRowNumbers(const SeriesRow& row, const std::string& folder, bool* tooMany,
                                  std::string* problem);
// "<folder><prefix><%05d number>.<extension>"
std::string SeriesFilePath(const std::string& folder, const SeriesRow& row, int number);
