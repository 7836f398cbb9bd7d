#pragma once
// What the three serial fits share: their questions (caption "SERIALIZE
// FIT"), integration ranges, the running state, each set's result files and
// the record of how every set went.
#include <functional>
#include <string>
#include <vector>

#include "automation/serial/serial_fit.h"
#include "platform/automatic_ui.h"
#include "platform/user_interface.h"

namespace serial {

constexpr const char* kCaption = "SERIALIZE FIT";
constexpr int kMaxRanges = 10;
constexpr float kMonteCarloConfidence = 0.68f;

bool AskYesNo(const std::string& question);
void Tell(const std::string& text);
// InputFloat with the caption; false when cancelled.
bool AskFloat(const std::string& prompt, float offered, float& answer);

struct IntegrationRange {
  float sMin = 0, sMax = 0, ffMin = 0, ffMax = 0;
};
// "with automatic integration?" and up to ten ranges; the f/f0 limits only
// for the c(s,f/f0) models.
std::vector<IntegrationRange> AskIntegrationRanges(bool twoDimensional);
// "with Monte-Carlo error analysis?" and "# of MC iterations": the
// iterations, 0 for none (fewer than 2 count as none).
int AskMonteCarloIterations();

// Results of one range over the current distribution.
struct RangeResult {
  float c = 0, sw = 0, ctot = 1;
  float fw = 0, Mw = 0, Mz = 0, MzMoment = 0, R = 0, RMoment = 0;
};
RangeResult IntegrateRange(const IntegrationRange& range, bool twoDimensional);

// While a series runs: the analysis is muted (gSerialFitSettings.running,
// and every box of the analysis is answered with its default and kept for
// the set's lines of the log), loading a set does not compute the model (the
// series runs it itself), and everything is put back at the end, however the
// series ends. The series' own questions still reach the person.
class CRunningSeries {
 public:
  CRunningSeries();
  ~CRunningSeries();
  CRunningSeries(const CRunningSeries&) = delete;
  CRunningSeries& operator=(const CRunningSeries&) = delete;

 private:
  std::function<void()> runModelFromTools_;
  platform::AutomaticUserInterface muted_;
};
// The boxes the analysis showed since the last call, one line each.
std::vector<std::string> TakeMutedBoxes();

// How every set of a series went, kept in serialfit.log in the data folder
// (rewritten after each set) and counted in the closing box.
class CSerialFitLog {
 public:
  explicit CSerialFitLog(const std::string& folder);
  void Analysed(const std::string& set);
  void Skipped(const std::string& set, const std::string& why);
  void Failed(const std::string& set, const std::string& why);
  // The set whose error code is above 0 failed with it; one whose result
  // files could not all be written failed too; otherwise it was analysed.
  void Outcome(const std::string& set, int errorCode, const std::vector<std::string>& unwritten);
  // A line without a set (the end of a series).
  void Note(const std::string& line);
  void ShowClosingBox() const;
  std::string Path() const { return path_; }
  int analysed = 0, skipped = 0, failed = 0;

 private:
  void Add(const std::string& line);
  std::string path_;
  std::string text_;
  std::vector<std::string> notAnalysed_;
};

// Where a set's result files go: the folder and extension (with its dot) of
// the set's first scan file.
struct ResultPlace {
  std::string folder;
  std::string extension;
  std::string Path(const std::string& stem) const { return folder + stem + extension; }
  // "data" + "_RA1" + ".xp": the extension's dot made an underscore.
  std::string Underscored(const std::string& stem, const std::string& fileExtension) const;
};
// Rebuilds the list of loaded scan files and takes entry 1.
ResultPlace PlaceOfLoadedSet();

// Writes text whole to path; the name of a file that failed goes to unwritten.
void WriteSetFile(const std::string& path, const std::string& text,
                  std::vector<std::string>& unwritten);
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// distribution<ext> ("%e %e\n" per grid point) and ff0<ext>; false when
// the model left no distribution.
bool WriteDistributionFiles(const ResultPlace& place, std::vector<std::string>& unwritten);
// The Monte-Carlo series into "MCdata" and MCintegrals<ext>; error code 7
// when the folder cannot be made.
void WriteMonteCarloIntegrals(ISerialFitWindow& window, const ResultPlace& place, int iterations,
                              const std::vector<IntegrationRange>& ranges,
                              std::vector<std::string>& unwritten);
// error.txt when the error code is above 0, then data_EXT.xp and
// from_tarnel_series_EXT.morlean.
void WriteErrorAndExchangeFiles(const ResultPlace& place, std::vector<std::string>& unwritten);

bool ContinuousModel();
bool CsModel();
bool HasResultCurve();
// "stop series?" after the user interrupted a run or fit: true to end.
bool StopRequested();
// "SEDIMENTATION ANALYSIS -> <first scan>..."
void ShowSetInTitle(ISerialFitWindow& window);
// Last fit info, Run and, with fit, Fit. False when a distribution model
// ended without computing a distribution of this set (what is left is an
// earlier set's).
bool AnalyseSet(ISerialFitWindow& window, bool fit);

}  // namespace serial
