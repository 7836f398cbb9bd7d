// Command 593: the series of the loaded set's siblings in other cells
// (the last character of the scan files' extension) and/or in other
// numbered folders (the last folder of their path).
#include <cmath>
#include <cstdio>

#include "automation/serial/serial_fit.h"
#include "automation/serial/serial_fit_common.h"
#include "data/load_hooks.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "distributions/conti_models.h"
#include "fit/fit_engine_state.h"
#include "fit/model_params.h"
#include "fit/saved_params.h"
#include "fit/serial_fit_settings.h"
#include "platform/paths.h"

namespace {

using namespace serial;

// The cell digits the scan files' extensions can carry.
constexpr int kFirstCell = 1, kLastCell = 8;
// Folder numbers are names: nothing larger is asked for.
constexpr int kLargestBound = 999999;

struct Bounds {
  int min = 1, max = 1;
};

// Two numbers asked as floats and rounded down; false when either is cancelled.
bool AskBounds(const char* minPrompt, const char* maxPrompt, float offeredMin, float offeredMax,
               Bounds& b) {
  float lo = 0, hi = 0;
  if (!AskFloat(minPrompt, offeredMin, lo) || !AskFloat(maxPrompt, offeredMax, hi)) return false;
  // Beyond the int range the conversion is undefined, and a series that
  // long would never end: such bounds are refused.
  const double first = std::floor(lo), last = std::floor(hi);
  if (!(std::fabs(first) <= kLargestBound) || !(std::fabs(last) <= kLargestBound) ||
      last - first >= kMaxSeriesSetFiles) {
    Tell(Format("a series covers at most %d numbers, each between %d and %d", kMaxSeriesSetFiles,
                -kLargestBound, kLargestBound));
    return false;
  }
  b.min = static_cast<int>(first);
  b.max = static_cast<int>(last);
  return true;
}

// The time-stamp check is off for the series and on again after it.
class CTimeStampCheckOff {
 public:
  CTimeStampCheckOff() : check_(CurrentLoadTargets().checkTimeStamps), wasOn_(*check_ != 0) {}
  ~CTimeStampCheckOff() {
    if (wasOn_) *check_ = 1;
  }
  bool WasOn() const { return wasOn_; }
  void SwitchOff() { *check_ = 0; }

 private:
  std::uint8_t* check_;
  bool wasOn_;
};

std::string FirstMissingFile() {
  const FileNameList& list = CurrentFileNameList();
  for (int i = 1; i <= list.count; ++i)
    if (!platform::FileExists(platform::ToNative(list.names[i]))) return list.names[i];
  return {};
}

}  // namespace

void SerializeFitByCellOrDir(ISerialFitWindow& window) {
  if (CurrentScanSet().count <= 0) return;
  SerialFitSettings& sf = gSerialFitSettings;
  sf.abortRequest = 0;
  const std::uint8_t tiNoise = gFitEngineState.fitTINoise;
  const std::uint8_t riNoise = gModelParams.riNoiseFit;

  CTimeStampCheckOff timeStamps;
  if (timeStamps.WasOn()) {
    if (!AskYesNo("Need to switch off time stamp check - are all files corrected? Proceed? "
                  "(Otherwise exit and do timestamp corrections first)"))
      return;
    timeStamps.SwitchOff();
  }
  const bool byCell = AskYesNo("incremental cell number?");
  const bool byFolder = AskYesNo("incremental highest subdirectory?");
  bool useXp = false, keepNoise = false;
  if (byFolder) {
    useXp = AskYesNo("load xpfile with incremental name (xp1.xp, xp2.xp...)?");
    if (useXp) keepNoise = AskYesNo("restore TI & RI noise from current model?");
  }
  if (!byCell && !byFolder) {
    Tell("nothing to serialize");
    return;
  }
  Bounds cells, folders;
  float offeredMin = 1.0f, offeredMax = 7.0f;
  if (byCell) {
    if (!AskBounds("minimum cell number value", "maximum cell number value", 1.0f, 7.0f, cells)) return;
    // A digit the extension cannot carry would leave the names as they are
    // and analyse the first set again under another cell's name.
    if (cells.min <= cells.max && (cells.min < kFirstCell || cells.max > kLastCell)) {
      Tell(Format("cell numbers must lie between %d and %d", kFirstCell, kLastCell));
      return;
    }
    offeredMin = static_cast<float>(cells.min);
    offeredMax = static_cast<float>(cells.max);
  }
  if (byFolder && !AskBounds("minimum subdir value", "maximum subdir value", offeredMin, offeredMax, folders))
    return;
  const bool fit = AskYesNo("fit each set?");
  const bool restore = AskYesNo("restore previous params if available?");
  std::vector<IntegrationRange> ranges;
  const bool twoDimensional = TwoDimensionalModel();
  if (ContinuousModel()) ranges = AskIntegrationRanges(twoDimensional);
  const int iterations = AskMonteCarloIterations();
  sf.monteCarlo = iterations > 0 && !ranges.empty();

  BuildTmpFileList(0);
  const FileNameList start = CurrentFileNameList();
  CSerialFitLog log(CurrentDataPaths().dataFolder);
  {
    CRunningSeries series;
    sf.reuseSavedParameters = restore;
    bool ended = false;
    for (int cell = cells.min; cell <= cells.max && !ended; ++cell) {
      for (int number = folders.min; number <= folders.max && !ended; ++number) {
        CurrentFileNameList() = start;
        if (byCell) SetCellDigitOfListedFiles(cell);
        if (byFolder) SetNumberedFolderOfListedFiles(number);
        const FileNameList& list = CurrentFileNameList();
        const platform::PathParts first = platform::SplitPath(list.names[1]);
        std::string set = list.names[1];
        if (useXp) {
          const std::string xp = first.drive + first.folder + Format("xp%d", number) + ".xp";
          set = xp;
          // A set that did not load leaves the scans of an earlier set in
          // place: analysing them would file their results under this name.
          if (!window.LoadXpFile(xp)) {
            log.Failed(set, "the xp file or the scans it names could not be loaded");
            continue;
          }
          if (keepNoise) {
            gFitEngineState.fitTINoise = tiNoise;
            gModelParams.riNoiseFit = riNoise;
          }
        } else {
          const std::string missing = FirstMissingFile();
          if (!missing.empty()) {
            log.Skipped(set, "scan file " + missing + " missing");
            continue;
          }
          if (!LoadListedScans()) {
            log.Failed(set, "the scans could not be loaded");
            continue;
          }
        }
        sf.errorCode = 0;
        if (CurrentScanSet().count <= 0) {
          log.Failed(set, "no scans loaded: the series ends here");
          ended = true;
          break;
        }
        ShowSetInTitle(window);
        if (restore) OfferRestorePreviousAnalysis(CurrentDataPaths().parameterFile, false);
        const bool computed = AnalyseSet(window, fit);
        if (StopRequested()) {
          log.Note(set + ": stopped by the user; the series ends here");
          ended = true;
          break;
        }
        if (!computed) {
          log.Failed(set, "no distribution was computed for this set");
          continue;
        }
        const ResultPlace place = PlaceOfLoadedSet();
        std::vector<std::string> unwritten;
        if (ContinuousModel()) {
          WriteDistributionFiles(place, unwritten);
          if (!ranges.empty()) {
            std::string text;
            if (twoDimensional) {
              text = "smin, smax, fmin, fmax, c, sw, fw, ctot, Mw, Mz, second central moment of Mz, R, "
                     "second central moment R\n";
              for (const IntegrationRange& r : ranges) {
                const RangeResult v = IntegrateRange(r, true);
                text += Format("%e %e %e %e %e %e %e %e %e %e %e %e %e\n", r.sMin, r.sMax, r.ffMin,
                               r.ffMax, v.c, v.sw, v.fw, v.ctot, v.Mw, v.Mz, v.MzMoment, v.R, v.RMoment);
              }
            } else {
              text = "smin, smax, c, sw, ctot\n";
              for (const IntegrationRange& r : ranges) {
                const RangeResult v = IntegrateRange(r, false);
                text += Format("%e %e %e %e %e\n", r.sMin, r.sMax, v.c, v.sw, v.ctot);
              }
            }
            WriteSetFile(place.Path("integrals"), text, unwritten);
            if (sf.monteCarlo) WriteMonteCarloIntegrals(window, place, iterations, ranges, unwritten);
          }
        }
        WriteErrorAndExchangeFiles(place, unwritten);
        log.Outcome(set, sf.errorCode, unwritten);
      }
    }
  }
  window.RequestRepaint();
  log.ShowClosingBox();
}
