#include "data/realtime_update.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "data/data_messages.h"
#include "data/file_name_list.h"
#include "data/load_hooks.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "platform/sounds.h"
#include "platform/clock.h"
#include "platform/error_box.h"
#include "platform/input_events.h"
#include "platform/paths.h"

using data_messages::Format;

namespace {

RealtimeState& g_state = CurrentRealtimeState();

bool CanOpen(const std::string& path) { return platform::FileExists(path); }

std::string NumberedPath(int n, const std::string& extension) {
  return g_state.drive + g_state.folder + Format("%05d", n) + extension;
}

// Walks the numbers from `from` up while the files exist, appending them.
void ScanSeries(int from, const std::string& extension) {
  RealtimeState& rt = g_state;
  for (int n = std::max(from, 1); n <= rt.maxNumber; ++n) {
    const std::string path = NumberedPath(n, extension);
    if (!CanOpen(path)) {
      if (rt.currentNumber + 1 <= rt.maxNumber) rt.fileNames[rt.currentNumber + 1].clear();
      return;
    }
    ++rt.currentNumber;
    if (rt.currentNumber > rt.maxNumber) return;
    rt.fileNames[rt.currentNumber] = path;
  }
}

std::string Clock(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  return Format("%02dh:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
}

// The two status lines of the update with the session's times.
void ShowStatus(RealtimeState& rt) {
  rt.statusLine1 = "IN REALTIME UPDATE MODE. PRESS ANY KEY TO INTERRUPT.";
  rt.statusLine2 = "Last changed at " + Clock(rt.lastChanged) + ", last checked at " + Clock(rt.lastChecked) + ".";
  platform::UI().StatusText(rt.statusLine1 + "\n" + rt.statusLine2);
}

}  // namespace

bool RealtimeScanForNewFiles() {
  RealtimeState& rt = g_state;
  if (rt.fileNames.size() < static_cast<std::size_t>(rt.maxNumber) + 2)
    rt.fileNames.resize(static_cast<std::size_t>(rt.maxNumber) + 2);
  if (!rt.testMode) {
    for (int n = std::max(rt.lastLoadedNumber, 1); n <= rt.maxNumber; ++n) {
      const std::string path = NumberedPath(n, rt.extension);
      if (!CanOpen(path)) {
        rt.fileNames[n].clear();
        break;
      }
      rt.fileNames[n] = path;
      rt.currentNumber = n;
    }
  } else {
    rt.currentNumber = 0;
    for (const RealtimeSeries& series : rt.series) ScanSeries(series.firstNumber, series.extension);
    if (rt.allCells && !rt.series.empty()) {
      const std::string stem = rt.series.front().extension.substr(0, 3);
      for (int c = 1; c <= 8; ++c) {
        const std::string ext = stem + static_cast<char>('0' + c);
        const bool watched = std::any_of(rt.series.begin(), rt.series.end(),
                                         [&](const RealtimeSeries& s) { return s.extension == ext; });
        if (!watched) ScanSeries(1, ext);
      }
    }
  }
  if (rt.currentNumber > rt.lastLoadedNumber) {
    rt.lastLoadedNumber = rt.currentNumber;
    return true;
  }
  return false;
}

std::string BuildRealtimeSelection() {
  const RealtimeState& rt = g_state;
  std::string folder = rt.drive + rt.folder;
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  std::string out = folder + '\0';
  const int first = rt.testMode ? 1 : rt.firstNumber;
  for (int n = std::max(first, 1); n <= rt.currentNumber && n < static_cast<int>(rt.fileNames.size());
       ++n) {
    if (rt.fileNames[n].empty()) continue;
    const platform::PathParts p = platform::SplitPath(rt.fileNames[n]);
    out += p.name + p.extension + '\0';
  }
  return out + '\0';
}

bool RealtimeLoadNewFiles() {
  RealtimeState& rt = g_state;
  bool found = RealtimeScanForNewFiles();
  if (!rt.testMode && rt.rangeChanged) found = true;
  if (!found) return false;
  const std::string selection = BuildRealtimeSelection();
  ScanSet& s = CurrentScanSet();
  if (rt.testMode) {
    s.loadEvery = 1;
  } else {
    const int span = rt.currentNumber - rt.firstNumber;
    const int files = std::max(rt.maxFilesAtOnce, 1);
    s.loadEvery = std::max(1, (span + files - 1) / files);
  }
  LoadAllData(selection);
  return true;
}

void CheckTemperatureFluctuation() {
  RealtimeState& rt = g_state;
  const ScanSet& s = CurrentScanSet();
  if (rt.temperatureWarned || s.count <= 0) return;
  const float reference = s.records[s.order[1]].temperature;
  for (int k = 2; k <= s.count; ++k) {
    if (std::fabs(s.records[s.order[k]].temperature - reference) >= 1.0f) {
      data_messages::Box("REALTIME MODE",
                         "temperature fluctuations > 1 C, convection likely, restarting run "
                         "should be considered");
      rt.temperatureWarned = 1;
      return;
    }
  }
}

void AutoAdjustDistributionRange() {
  RealtimeState& rt = g_state;
  const LoadTargets& t = CurrentLoadTargets();
  LoadHooks& h = CurrentLoadHooks();
  if (rt.noAutoRange || !*t.contiModelSelected || *t.contiSecondModule) return;
  int n = 0, index = 2;
  const float* s = h.distributionGrid(n, index);
  if (!s || n < 2 || index < 1 || index > n) return;
  const double total = h.integrateDistribution(s[index], s[n]);
  const double tail = h.integrateDistribution(s[n - 1], s[n]);
  if (total == 0.0) return;
  const double ratio = tail / total;
  if (ratio < 0.001 || ratio > 0.03) {
    *t.contiSmax *= ratio < 0.001 ? 0.9f : 1.5f;
    *t.smaxParameter = *t.contiSmax;
    rt.rangeChanged = 1;
  } else {
    rt.rangeChanged = 0;
  }
}

bool RealtimeStart() {
  RealtimeState& rt = g_state;
  const ScanSet& s = CurrentScanSet();
  const LoadTargets& t = CurrentLoadTargets();
  LoadHooks& h = CurrentLoadHooks();
  if (s.count <= 0) return false;
  rt.testMode = *t.approachToEquilibriumTest;
  if (!rt.testMode) {
    int files = rt.maxFilesAtOnce;
    InputCount(&files, files, "maximal total number of files to load at once", "REALTIME MODE");
    // At least one file per poll: the load-every step divides by it.
    rt.maxFilesAtOnce = std::max(1, files);
  } else {
    rt.maxFilesAtOnce = 1000;
    rt.autoContinue = data_messages::AskYesNo(
        "EQ TEST", "keep going automatically with using default fitting limits for all new series?");
    rt.allCells = data_messages::AskYesNo("EQ TEST", "load data from all cells?");
  }
  if (!rt.testMode) {
    if (!*t.hiddenDisplayFlag) h.toggleDisplayFlag210();
    if (*t.contiModelSelected)
      rt.noAutoRange = data_messages::AskYesNo("REALTIME MODE", "auto adjust distribution range?") ? 0 : 1;
  }
  const LoadedDataPaths& paths = CurrentDataPaths();
  rt.drive = paths.drive;
  rt.folder = paths.folder;
  const platform::PathParts earliest = platform::SplitPath(s.fileNames[s.order[1]]);
  rt.extension = earliest.extension;
  rt.fileNames.assign(static_cast<std::size_t>(rt.maxNumber) + 2, std::string());
  rt.running = 1;
  if (!rt.testMode) {
    rt.firstNumber = rt.currentNumber = std::atoi(earliest.name.c_str());
    rt.temperatureWarned = 0;
  } else {
    if (rt.series.empty()) rt.series.push_back({rt.extension, std::atoi(earliest.name.c_str())});
    rt.currentNumber = s.count;
    rt.temperatureWarned = 1;
  }
  rt.rangeChanged = 0;
  rt.lastLoadedNumber = rt.currentNumber;
  // The times shown are this session's from its start, never the last one's.
  rt.lastChanged = rt.lastChecked = platform::Clock().Now();
  ShowStatus(rt);
  RealtimeLoadNewFiles();
  h.runModel();
  if (!rt.testMode) {
    h.subtractAllNoiseCommand();
    CheckTemperatureFluctuation();
    AutoAdjustDistributionRange();
    // Each tick zooms to a kept range: a zoom of an earlier session must not
    // hold this one to its range.
    h.clearDistributionZoom();
  }
  *t.fitStopFlag = 0;
  rt.stopRequested = 0;
  platform::InterruptRequest() = false;
  rt.busy = 0;
  return true;
}

bool RealtimeTick(unsigned timerId) {
  RealtimeState& rt = g_state;
  const LoadTargets& t = CurrentLoadTargets();
  LoadHooks& h = CurrentLoadHooks();
  if (rt.busy || timerId != rt.timerId || !rt.running) return rt.running != 0;
  rt.lastChecked = platform::Clock().Now();
  if (*t.fitStopFlag) rt.stopRequested = 1;
  // A key since the last tick stops the update here, before more scans load.
  {
    const bool key = platform::TakeKeyDown();
    if (platform::InterruptRequest().exchange(false) || key) rt.stopRequested = 1;
  }
  // Keys typed while this tick loads and reruns: the rerun may take them as
  // its own stop, so they are counted rather than looked for afterwards.
  const unsigned long keysBefore = platform::KeyDownsPosted();
  bool loadFailed = false;
  if (!rt.stopRequested) {
    const bool loaded = RealtimeLoadNewFiles();
    if (loaded && CurrentScanSet().count == 0) {
      // The load failed and has asked to stop; there is nothing to rerun.
      loadFailed = true;
    } else if (loaded) {
      rt.lastChanged = platform::Clock().Now();
      h.runModel();
      PlaySoundOk();
      if (!rt.stopRequested && !rt.testMode) {
        h.subtractAllNoiseCommand();
        CheckTemperatureFluctuation();
        if (*t.contiModelSelected) {
          AutoAdjustDistributionRange();
          h.rescaleZoomedDistribution();
        }
      }
    } else {
      h.invalidateWindow();
      if (!rt.testMode) h.showLastFitInfo();
    }
    ShowStatus(rt);
    // A key pressed during this tick, queued or flagged by the window.
    const bool key = platform::TakeKeyDown();
    if (platform::InterruptRequest().exchange(false) || key || platform::KeyDownsPosted() != keysBefore)
      rt.stopRequested = 1;
  }
  if (rt.stopRequested) {
    rt.busy = 1;
    // The keys that asked for the stop answer no question after it.
    platform::FlushTypedInput();
    platform::InterruptRequest() = false;
    PlaySoundOk();
    // A load that failed is no interrupt of the user's: say what stopped it.
    data_messages::Box("REALTIME MODE",
                       loadFailed ? "realtime update stopped: the scans of the folder could not be loaded"
                                  : "realtime update stopped by user interrupt");
    RealtimeStop();
    return false;
  }
  return true;
}

void RealtimeStop() {
  RealtimeState& rt = g_state;
  rt.running = 0;
  rt.fileNames.clear();
  if (*CurrentLoadTargets().hiddenDisplayFlag) CurrentLoadHooks().toggleDisplayFlag210();
  rt.busy = 0;
}
