#include "data/scan_loading.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <sstream>

#include "numerics/constants.h"
#include "data/data_messages.h"
#include "data/file_name_list.h"
#include "data/fluorescence_corrections.h"
#include "data/list_file_text.h"
#include "data/load_hooks.h"
#include "data/realtime_state.h"
#include "data/rotor_speed_profile.h"
#include "data/scan_file.h"
#include "data/scan_grid.h"
#include "data/scan_set.h"
#include "data/speed_steps_at_load.h"
#include "data/time_stamps.h"
#include "numerics/arrays.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "platform/error_box.h"
#include "platform/diagnostics.h"
#include "platform/paths.h"

using data_messages::Format;

namespace {


FileNameList& g_list = CurrentFileNameList();
LoadedDataPaths& g_paths = CurrentDataPaths();

void SetDriveAndFolder(const std::string& dataFolder, bool severalFiles) {
  // With several files the string is the folder itself; a dummy name keeps
  // its last component from being taken for a file name.
  const platform::PathParts p =
      platform::SplitPath(severalFiles ? platform::Combine(dataFolder, "dummy") : dataFolder);
  g_paths.drive = p.drive;
  g_paths.folder = p.folder;
  const LoadTargets& t = CurrentLoadTargets();
  if (*t.useOtherFolder && !t.otherFolder->empty()) {
    const platform::PathParts o = platform::SplitPath(platform::Combine(*t.otherFolder, "dummy"));
    g_paths.drive = o.drive;
    g_paths.folder = o.folder;
  }
  g_paths.dataFolder = WithoutTrailingSep(g_paths.drive + g_paths.folder);
}

void StopRealtimeOnError() {
  RealtimeState& rt = CurrentRealtimeState();
  if (rt.running) rt.stopRequested = 1;
}

// The progress of a load, told to the user interface and drawn as the
// window's progress line.
void LoadProgress(double fraction) {
  platform::UI().Progress(fraction < 0 ? "" : "loading", fraction);
  if (const auto& line = CurrentLoadHooks().loadProgress) line(fraction);
}

void EndProgress() { LoadProgress(-1.0); }

float* CopyOf(const float* a, int n) {
  float* c = vector(1, std::max(n, 1));
  for (int k = 1; k <= n; ++k) c[k] = a ? a[k] : 0.0f;
  return c;
}

CVector* View(float* p, int n) {
  CVector* v = new CVector();
  v->Attach(p, n, 1);
  return v;
}

// Steps 10 and 11 of a load, after scan i was read.
void FinishScan(int i, const std::string& path) {
  ScanSet& s = CurrentScanSet();
  const DataTypeFlags& flags = CurrentDataTypeFlags();
  const LoadTargets& t = CurrentLoadTargets();
  const int n = s.points[i];
  const std::string status = Format("\n --> %s (%d data points)", path.c_str(), n);
  platform::UI().StatusText(status);
  CurrentLoadHooks().writeDiagnostics(status);
  if (flags.intensity) {
    *t.experimentalInitialDistribution = 0;
    *t.initialDistributionCompanion = 1;
    if (s.signals2[i]) std::swap(s.signals[i], s.signals2[i]);
  }
  ScanRecord& r = s.records[i];
  if (*t.timesFromW2t && !flags.electrophoresis && r.rpm != 0.0f) {
    const double omega = r.rpm * kOmegaPerRpm8;
    r.timeRead = r.w2t / (omega * omega);
  }
  AttachScanArraysAndViews(i);
  if (flags.intensity && s.signals2[i]) {
    s.signal2Vec[i] = View(s.signals2[i], n);
    s.signal2Curve[i] = new CCurve(s.radiusVec[i], s.signal2Vec[i]);
  }
}

bool ReadScan(int i, const std::string& path, float binWidth) {
  ScanSet& s = CurrentScanSet();
  std::uint8_t mark = 0;
  return ReadScanFile(platform::ToNative(path).c_str(), &s.records[i], &s.points[i], &s.radii[i],
                      &s.signals[i], &s.signals2[i], &mark, binWidth) == 1;
}

char TypeLetterOfExtension(const std::string& name) {
  const std::string ext = platform::SplitPath(name).extension;
  return ext.size() >= 2 ? static_cast<char>(std::toupper(static_cast<unsigned char>(ext[1]))) : 0;
}

// Interference files cannot be analysed together with other kinds.
bool RefuseMixedTypes() {
  ScanSet& s = CurrentScanSet();
  const char first = TypeLetterOfExtension(s.fileNames[1]);
  for (int i = 2; i <= s.count; ++i) {
    const char c = TypeLetterOfExtension(s.fileNames[i]);
    if (c != first && (c == 'I' || first == 'I')) {
      s.mixedTypes = 1;
      data_messages::Box("ERROR", "mixed data types");
      FreeScanData();
      return true;
    }
  }
  return false;
}

void SetSolutionTemperature() {
  const ScanSet& s = CurrentScanSet();
  const LoadTargets& t = CurrentLoadTargets();
  *t.temperature = s.records[s.count].temperature + 273.15f;
  *t.RT = *t.temperature * 8.31451f * 1e7f;
}

void SetMeniscusBottomDefaults() {
  ScanSet& s = CurrentScanSet();
  const LoadTargets& t = CurrentLoadTargets();
  if (*t.meniscus == 0.0f) {
    *t.meniscus = s.radii[1][1];
    *t.meniscusParameter = *t.meniscus;
  }
  if (*t.bottom == 0.0f) {
    *t.bottom = s.radii[1][s.points[1]];
    *t.bottomParameter = *t.bottom;
  }
  if (s.leftFitLimit == 0.0f) s.leftFitLimit = *t.meniscus + 0.005f;
  // Velocity runs keep clear of the pile at the bottom; equilibrium data
  // carry most of their information there (a limit 0.15 cm inside the last
  // radius cuts a 3 mm column in half and leaves the mass undetermined).
  if (s.rightFitLimit == 0.0f) s.rightFitLimit = *t.bottom - (s.equilibriumMode ? 0.01f : 0.15f);
  *t.meniscusBottomLimitsFixed = 0;
}

// Time order of the scans; equal times keep their order.
void SortScansByTime() {
  ScanSet& s = CurrentScanSet();
  int i = 1;
  while (i < s.count) {
    if (s.records[s.order[i]].timeRead <= s.records[s.order[i + 1]].timeRead) {
      ++i;
    } else {
      std::swap(s.order[i], s.order[i + 1]);
      if (i > 1) --i;
    }
  }
}

void GridAndLimits() {
  ScanSet& s = CurrentScanSet();
  PrepareScanGrid();
  if (s.leftFitLimit != 0.0f) CheckLeftFitLimit();
  if (s.rightFitLimit != 0.0f) CheckRightFitLimit();
  KeepFitLimitsOnTheData();
}

// The noise switches that a load of interference (or equilibrium) data
// turned on: they belong to those data, not to the user's choice.
struct NoiseOfTheData {
  bool ti = false, ri = false;
};
NoiseOfTheData g_noiseOfTheData;

void NoiseSwitches(bool changeSwitches) {
  const LoadTargets& t = CurrentLoadTargets();
  const DataTypeFlags& flags = CurrentDataTypeFlags();
  LoadHooks& h = CurrentLoadHooks();
  if (changeSwitches) {
    NoiseOfTheData& byLoad = g_noiseOfTheData;
    if (flags.interference || *t.equilibriumModelMode) {
      byLoad.ti = byLoad.ti || !*t.tiNoiseFitted;
      byLoad.ri = byLoad.ri || !*t.riNoiseFitted;
      *t.tiNoiseFitted = 1;
      *t.riNoiseFitted = 1;
    } else {
      // Data that do not need them: what the earlier data switched on goes
      // off with them; what the user switched on stays.
      if (byLoad.ti) *t.tiNoiseFitted = 0;
      if (byLoad.ri) *t.riNoiseFitted = 0;
      byLoad = {};
    }
    *t.loadModelSwitch = 1;
    if (flags.electrophoresis) {
      if (*t.timesFromW2tPending) h.cancelTimesFromW2t();
      if (*t.timesFromW2t) h.restoreScanTimes();
    }
  }
  if (*t.tiNoiseFitted || *t.riNoiseFitted)
    h.createNoiseButtons();
  else
    h.removeNoiseButtons();
}

// The fluorescence corrections belong to fluorescence data (the tool box's
// data among them): data of another kind loaded after them start without
// them, as the noise switches above go with the data that turned them on.
// Corrections switched on for other data (after the question whether to
// proceed anyway) stay with data of that kind.
void CorrectionsFollowTheData() {
  const DataTypeFlags& flags = CurrentDataTypeFlags();
  FdsSignalParams& p = CurrentFdsSignalParams();
  const bool fluorescence = flags.fluorescence || flags.floToolsData;
  const bool before = p.ofFluorescenceData != 0;
  p.ofFluorescenceData = fluorescence ? 1 : 0;
  if (fluorescence || !before) return;
  SwitchOffFluorescenceCorrections(p);
  CurrentLoadHooks().checkCorrectionMenuItems();
}

// Steps 5 to 22 common to all loaders once the names are known. paths are
// full paths [0..count-1].
enum class LoadKind { Selection, Listed, Reload };

// A file that is no scan: the user learns which and why.
void ReportUnreadable(const std::string& path, bool skipped) {
  if (*CurrentLoadTargets().serialFitRunning) return;
  // The path comes last: logs of unattended runs are read for "<path> -> OK".
  std::string text = ScanReadProblem();
  if (skipped) text += "\nThis file is skipped; the other files are loaded.";
  text += "\n" + path;
  platform::Tell("LOAD ERROR", text, platform::BoxIcon::Error);
}

// Whether path reads as a scan, tried on copies so that the loaded set and
// the type flags stay as they are (ScanReadProblem says why not).
bool ReadableScan(const std::string& path, float binWidth) {
  const DataTypeFlags flags = CurrentDataTypeFlags();
  ScanRecord record{};
  int n = 0;
  float *radii = nullptr, *signals = nullptr, *third = nullptr;
  std::uint8_t mark = 0;
  const bool ok = ReadScanFile(platform::ToNative(path).c_str(), &record, &n, &radii, &signals, &third, &mark,
                               binWidth) == 1;
  if (ok) {
    free_vector(radii, 1, n);
    free_vector(signals, 1, n);
    free_vector(third, 1, n);
  }
  CurrentDataTypeFlags() = flags;
  return ok;
}

// Whether any of paths reads as a scan. The first file that reads ends the
// search; the others are read (and reported) by the load itself.
bool AnyReadableScan(const std::vector<std::string>& paths, float binWidth) {
  for (const std::string& path : paths)
    if (ReadableScan(path, binWidth)) return true;
  return false;
}

// No data are left after a failed load: no picture may show the old ones.
void ForgetPlots() {
  LoadHooks& h = CurrentLoadHooks();
  h.deletePlots();
  h.requestRepaint();
}

bool LoadScans(const std::vector<std::string>& paths, float binWidth, LoadKind kind) {
  ScanSet& s = CurrentScanSet();
  const LoadTargets& t = CurrentLoadTargets();
  LoadHooks& h = CurrentLoadHooks();
  RealtimeState& rt = CurrentRealtimeState();
  const int count = static_cast<int>(paths.size());

  AllocateScanTables(s, count);
  for (int i = 1; i <= count; ++i) {
    s.order[i] = i;
    s.points[i] = 0;
  }
  // Files that cannot be read as scans are reported and left out; the
  // others keep their order.
  int loaded = 0;
  for (int k = 1; k <= count; ++k) {
    LoadProgress(static_cast<double>(k) / count);
    const std::string& path = paths[static_cast<std::size_t>(k) - 1];
    const int i = loaded + 1;
    s.fileNames[i] = NameWithExtension(path);
    if (i == 1) SetAnalysisFileNames(s.fileNames[1], true, false);
    if (!ReadScan(i, path, binWidth)) {
      // The unattended run, a serial fit and the realtime update depend on
      // every file they name.
      const bool others = count > 1 && kind == LoadKind::Selection && !rt.running && !*t.automationRun &&
                          !*t.serialFitRunning;
      ReportUnreadable(path, others);
      if (others) continue;
      s.count = i;
      FreeScanData();
      StopRealtimeOnError();
      EndProgress();
      ForgetPlots();
      return false;
    }
    FinishScan(i, path);
    loaded = i;
  }
  if (loaded == 0) {
    FreeScanData();
    StopRealtimeOnError();
    EndProgress();
    ForgetPlots();
    return false;
  }
  if (loaded < count) {
    AllocateScanTables(s, loaded);
    for (int i = 1; i <= loaded; ++i) s.order[i] = i;
  }
  if (!CheckSpeedStepsForLoad(g_paths.drive, g_paths.folder)) {
    FreeScanData();
    EndProgress();
    return false;
  }
  if (RefuseMixedTypes()) {
    EndProgress();
    return false;
  }
  CurrentDataTypeFlags().dls = 0;
  SetAnalysisFileNames(s.fileNames[1], false, true);
  SetSolutionTemperature();
  FitLimitsFromEntries();
  SetMeniscusBottomDefaults();
  SortScansByTime();
  if (*t.equilibriumModelMode && CurrentDataTypeFlags().interference) {
    CurrentDataTypeFlags().interference = 0;
    CurrentDataTypeFlags().absorbance = 1;
  }
  const bool changeSwitches =
      !rt.running && !(kind == LoadKind::Reload && *t.automationRun);
  // (Before the grid: nonlinear detection transforms the scans as it is made.)
  if (changeSwitches) CorrectionsFollowTheData();
  GridAndLimits();
  // The ranges of meniscus and bottom keep clear of the fit limits as the
  // grid has settled them.
  h.setDefaultMeniscusBottomLimits();
  if (kind == LoadKind::Reload || changeSwitches) NoiseSwitches(changeSwitches);
  s.signalPerConcentration = CurrentDataTypeFlags().interference ? 3.3 : 1.0;
  if (kind != LoadKind::Reload && !rt.running) h.startZoomHistory();
  h.buildPlotCurves();
  return true;
}

// The time-stamp check after a load, reloading corrected copies.
void TimeStampCheckAndReload() {
  if (*CurrentLoadTargets().checkTimeStamps && CheckScanTimeStamps()) ReloadListedScans();
}

void SwitchOffFluorescenceTimeCorrection() {
  const LoadTargets& t = CurrentLoadTargets();
  if (*t.scanTimeCorrection && CurrentDataTypeFlags().fluorescence) {
    *t.scanTimeCorrection = 0;
    ErrorBox("scan time correction for fluorescence data not yet implemented, switching off");
  }
}

struct ParsedSelection {
  std::string first;   // the first string: the folder, or the one file's path
  std::string folder;  // the folder of the files
  std::vector<std::string> names;
  bool several = false;
  int outputsLeftOut = 0;  // fitted data, residuals, noise or reports written by the program
};

ParsedSelection ParseSelection(const std::string& selection) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start < selection.size()) {
    const std::size_t end = selection.find('\0', start);
    const std::string part =
        selection.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.empty()) break;
    parts.push_back(part);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  ParsedSelection p;
  if (parts.empty()) return p;
  p.first = p.folder = parts[0];
  if (parts.size() == 1) {
    p.names.push_back(NameWithExtension(parts[0]));
    p.folder = WithoutTrailingSep(FolderOf(parts[0]));
  } else {
    p.several = true;
    // A whole folder selected takes in the program's own files beside the
    // scans; they are never scans.
    std::vector<std::string> outputs;
    int reports = 0;
    for (auto it = parts.begin() + 1; it != parts.end(); ++it) {
      if (IsProgramReportFile(*it)) {
        ++reports;
        continue;
      }
      if (IsProgramOwnFile(*it)) continue;
      if (IsProgramOutputFile(platform::Combine(p.folder, *it)))
        outputs.push_back(*it);
      else
        p.names.push_back(*it);
    }
    // Fitted data chosen on their own are what the user asked to load (a
    // saved fit as synthetic data); beside scans they came with a select-all.
    if (p.names.empty())
      p.names = outputs;
    else
      p.outputsLeftOut = static_cast<int>(outputs.size());
    p.outputsLeftOut += reports;
  }
  return p;
}

std::vector<std::string> TakeEvery(const std::vector<std::string>& names, int every) {
  std::vector<std::string> taken;
  every = std::max(every, 1);
  for (std::size_t k = 0; k < names.size(); k += static_cast<std::size_t>(every))
    taken.push_back(names[k]);
  return taken;
}

float BinWidth() {
  const ScanSet& s = CurrentScanSet();
  return (s.radialResolution > 0.001f && !s.equilibriumMode) ? s.radialResolution : 0.0f;
}

}  // namespace

bool IsProgramReportFile(const std::string& path) {
  std::string stem = platform::SplitPath(path).name;
  for (char& c : stem) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return stem == "fitparams" || stem == "timestampanalysis" || stem == "simparams";
}

bool IsProgramOwnFile(const std::string& path) {
  std::string stem = platform::SplitPath(path).name;
  for (char& c : stem) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  // The list of a load, the saved analysis, the notes and the s grid, all
  // named with the scans' extension, and the reports; "~" starts every saved
  // analysis name. "list_<first>-<last>" are the serial fits' lists of
  // numbered sets.
  return stem == "list" || stem.rfind("list_", 0) == 0 || stem == "notes" || stem == "sdist" ||
         (!stem.empty() && stem[0] == '~') || IsProgramReportFile(path);
}

bool IsProgramOutputFile(const std::string& path) {
  // Only a regular file is opened: a pipe would wait for a writer.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(platform::ToNative(path), ec)) return false;
  std::ifstream in(platform::ToNative(path), std::ios::binary);
  char head[160] = {};
  in.read(head, sizeof head - 1);
  std::string_view line(head, static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  line = line.substr(0, line.find_first_of("\r\n"));
  // Marks such as the time-stamp mark "[T OK]" may come first.
  for (int k = 0; k < 4; ++k) {
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);
    if (line.empty() || line.front() != '[') break;
    const std::size_t close = line.find(']');
    if (close == std::string_view::npos) break;
    line.remove_prefix(close + 1);
  }
  for (const char* opening : {"fitted to ", "residuals to ", "time-independent noise"})
    if (line.rfind(opening, 0) == 0) return true;
  return false;
}

std::string OutputsLeftOutLine(int count) {
  return count == 1 ? "1 file written by this program (fitted data, residuals, noise or reports) was left out"
                    : Format("%d files written by this program (fitted data, residuals, noise or reports) were left out",
                             count);
}

std::string MakeSelection(const std::string& folder, const std::vector<std::string>& names) {
  if (names.size() == 1) return platform::Combine(folder, names[0]) + '\0';
  std::string out = folder + '\0';
  for (const std::string& n : names) out += n + '\0';
  return out + '\0';
}

void AttachScanArraysAndViews(int i) {
  ScanSet& s = CurrentScanSet();
  const int n = s.points[i];
  s.model[i] = CopyOf(nullptr, n);
  s.model2[i] = CopyOf(nullptr, n);
  s.residuals[i] = CopyOf(s.signals[i], n);
  s.radiusVec[i] = View(s.radii[i], n);
  s.signalVec[i] = View(s.signals[i], n);
  s.modelVec[i] = View(s.model[i], n);
  s.residualVec[i] = View(s.residuals[i], n);
  s.dataCurve[i] = new CCurve(s.radiusVec[i], s.signalVec[i]);
  s.modelCurve[i] = new CCurve(s.radiusVec[i], s.modelVec[i]);
  s.residualCurve[i] = new CCurve(s.radiusVec[i], s.residualVec[i]);
}

std::vector<std::string> SelectionPaths(const std::string& selection) {
  const ParsedSelection sel = ParseSelection(selection);
  std::vector<std::string> paths;
  if (!sel.several) {
    if (!sel.first.empty()) paths.push_back(sel.first);
    return paths;
  }
  for (const std::string& n : sel.names) paths.push_back(platform::Combine(sel.folder, n));
  return paths;
}

std::string ScanFilePath(int i) {
  const ScanSet& s = CurrentScanSet();
  return platform::Combine(g_paths.dataFolder, s.fileNames[i]);
}

bool LoadAllData(const std::string& selection) {
  ScanSet& s = CurrentScanSet();
  const LoadTargets& t = CurrentLoadTargets();
  LoadHooks& h = CurrentLoadHooks();
  RealtimeState& rt = CurrentRealtimeState();
  h.writeDiagnostics("\nEnter LoadAllData");
  // (Before the question of the equilibrium mode changes the kind.)
  if (!rt.running) h.newDataAboutToLoad();
  LoadProgress(0.0);
  s.dataChanged = 1;
  float binWidth = BinWidth();
  const ParsedSelection sel = ParseSelection(selection);
  *t.meniscusWarningGiven = 0;
  // The mode a failed load leaves as it found it.
  struct ModeGuard {
    std::uint8_t& mode;
    std::uint8_t before;
    bool keep = false;
    ~ModeGuard() {
      if (!keep) mode = before;
    }
  } mode{s.equilibriumMode, s.equilibriumMode};
  const bool interactive = !rt.running && !*t.automationRun && !*t.serialFitRunning;
  if (sel.outputsLeftOut > 0 && interactive) platform::Tell("LOAD", OutputsLeftOutLine(sel.outputsLeftOut));
  if (!s.equilibriumMode && sel.names.size() == 1) {
    // One file that is no scan at all is said as such: the question of the
    // equilibrium mode is for one scan.
    const std::string path = sel.several ? platform::Combine(sel.folder, sel.names[0]) : sel.first;
    if (!ReadableScan(path, binWidth)) {
      std::string text = ScanReadProblem() + "\nThe file is not a scan file: nothing was loaded.";
      if (s.count > 0) text += "\nThe data loaded before are kept.";
      // The path comes last, as in every load error.
      text += "\n" + path;
      platform::Tell("LOAD ERROR", text, platform::BoxIcon::Error);
      EndProgress();
      return false;
    }
    data_messages::Box("ERROR", "only one file selected");
    // Enter keeps the mode: a switch the user did not choose changes the analysis.
    if (platform::UI().MessageBox("LOAD ERROR", "switch to Equilibrium Data Mode?",
                                  platform::BoxButtons::YesNoDefaultNo,
                                  platform::BoxIcon::Question) != platform::IDYES) {
      EndProgress();
      return false;
    }
    s.equilibriumMode = 1;
    binWidth = 0.0f;
  }
  // A selection that cannot be loaded leaves the loaded set as it is.
  std::vector<std::string> names = TakeEvery(sel.names, s.loadEvery);
  if (static_cast<int>(names.size()) > kMaxScanCount) {
    data_messages::Box("LOAD ERROR", "too many scans selected");
    StopRealtimeOnError();
    EndProgress();
    return false;
  }
  if (names.empty()) {
    EndProgress();
    return false;
  }
  const LoadedDataPaths pathsBefore = g_paths;
  SetDriveAndFolder(sel.first, sel.several);
  std::vector<std::string> paths;
  for (const std::string& n : names) paths.push_back(g_paths.drive + g_paths.folder + n);
  // Interactive loads only: the unattended run, a serial fit and the
  // realtime update report the file they miss as they always did.
  if (!rt.running && !*t.automationRun && !*t.serialFitRunning && !AnyReadableScan(paths, binWidth)) {
    g_paths = pathsBefore;
    std::string text = ScanReadProblem();
    text += paths.size() == 1 ? "\nThe file cannot be loaded: nothing was loaded."
                              : "\nNone of the selected files can be loaded: nothing was loaded.";
    if (s.count > 0) text += "\nThe data loaded before are kept.";
    // The problem is that of the last file tried; the path comes last, as in every load error.
    text += "\n" + paths.back();
    platform::Tell("LOAD ERROR", text, platform::BoxIcon::Error);
    EndProgress();
    return false;
  }
  if (s.count > 0) {
    h.deleteNonidealModel();
    FreeScanData();
    if (CurrentDataTypeFlags().dls) *t.meniscus = *t.bottom = 0.0f;
  }
  if (!LoadScans(paths, binWidth, LoadKind::Selection)) return false;
  mode.keep = true;
  s.dataFolder = g_paths.dataFolder;
  if (!rt.running) h.newDataLoaded();

  bool restored = false;
  if (!rt.running) restored = h.offerRestorePreviousAnalysis();
  if (!restored) {
    if (!(rt.running && rt.testMode)) {
      h.setPlotAxisTitles();
      h.clearComputedFlag();
      h.redrawDataPlot(false);
      if (!*t.serialFitRunning) h.requestRepaint();
    }
  } else {
    h.setPlotAxisTitles();
    h.clearComputedFlag();
    AllocExtraScanArrays();
    h.runModel();
    const std::string text = Format("mean dev = %f  ", h.calcRmsd());
    h.redrawDataPlot(false);
    h.requestRepaint();
    if (platform::DiagnosticsState().DiagnosticsOn) h.drawText(text, 10, 50);
  }
  if (!rt.running && !*t.serialFitRunning && !*t.approachToEquilibriumTest)
    h.checkTemperatureFluctuations(1.0);
  EndProgress();
  // The list of the loaded files is what a time-stamp correction rewrites.
  if (*t.checkTimeStamps && CheckScanTimeStamps()) ReloadListedScans();
  SwitchOffFluorescenceTimeCorrection();
  return true;
}

namespace {

bool LoadListed(LoadKind kind) {
  ScanSet& s = CurrentScanSet();
  const LoadTargets& t = CurrentLoadTargets();
  LoadHooks& h = CurrentLoadHooks();
  h.writeDiagnostics("\nEnter LoadAllData");
  LoadProgress(0.0);
  s.dataChanged = 1;
  const float binWidth = BinWidth();
  // (A reload reads the same list again.)
  const bool newSet = kind != LoadKind::Reload && !CurrentRealtimeState().running;
  if (newSet) h.newDataAboutToLoad();
  if (s.count > 0) {
    h.deleteNonidealModel();
    FreeScanData();
  }
  if (g_list.count <= 0) {
    EndProgress();
    return false;
  }
  // Copy: a time-stamp correction rewrites the list while it is loaded.
  const std::vector<std::string> paths(g_list.names.begin() + 1,
                                       g_list.names.begin() + 1 + g_list.count);
  const platform::PathParts first = platform::SplitPath(paths[0]);
  g_paths.drive = first.drive;
  g_paths.folder = first.folder;
  g_paths.dataFolder = WithoutTrailingSep(first.drive + first.folder);
  if (!LoadScans(paths, binWidth, kind)) return false;
  s.dataFolder = g_paths.dataFolder;
  if (newSet) h.newDataLoaded();

  const std::string title = "SEDIMENTATION ANALYSIS -> " + paths[0] + "...";
  if (kind == LoadKind::Listed) {
    h.setPlotAxisTitles();
    h.clearComputedFlag();
    if (!*t.multiSpeedRawDataMode) {
      AllocExtraScanArrays();
      h.runModelFromTools();
    } else {
      h.redrawDataPlot(true);
      h.setWindowTitle(title);
    }
    EndProgress();
    TimeStampCheckAndReload();
  } else {
    h.setPlotAxisTitles();
    h.clearComputedFlag();
    h.redrawDataPlot(false);
    h.requestRepaint();
    EndProgress();
    TimeStampCheckAndReload();
    if (g_list.count > 0) h.setWindowTitle("SEDIMENTATION ANALYSIS -> " + g_list.names[1] + "...");
  }
  SwitchOffFluorescenceTimeCorrection();
  return true;
}

}  // namespace

bool LoadListedScans() { return LoadListed(LoadKind::Listed); }
bool ReloadListedScans() { return LoadListed(LoadKind::Reload); }

bool RemoveLoadedScan(int scan) {
  ScanSet& s = CurrentScanSet();
  if (scan < 1 || scan > s.count || s.count < 2) return false;
  // Light-scattering sets carry headers per loaded set, not per scan: they
  // are read again from their files.
  if (CurrentDataTypeFlags().dls) {
    BuildTmpFileList(scan);
    return LoadListedScans();
  }
  LoadHooks& h = CurrentLoadHooks();
  h.freeNonlinearDetectionTables();
  h.deletePlots();
  h.deleteNonidealModel();
  FreeFitArrays(s.count);
  RemoveScanFromTables(s, scan);
  s.dataChanged = 1;
  FitLimitsFromEntries();
  GridAndLimits();
  AllocExtraScanArrays();
  NoiseSwitches(false);
  h.buildPlotCurves();
  // The list names what is loaded, so that a later reload takes the same scans.
  BuildTmpFileList(0);
  h.setPlotAxisTitles();
  h.clearComputedFlag();
  h.redrawDataPlot(true);
  h.requestRepaint();
  return true;
}

namespace {

// The file at path is one of the scans loaded or one named before it in the
// same selection (entry k).
bool LoadedAlready(const std::string& path, const ParsedSelection& sel, std::size_t k) {
  const ScanSet& s = CurrentScanSet();
  for (int i = 1; i <= s.count; ++i)
    if (platform::SameFile(path, ScanFilePath(i))) return true;
  for (std::size_t j = 0; j < k; ++j)
    if (platform::SameFile(path, platform::Combine(sel.folder, sel.names[j]))) return true;
  return false;
}

}  // namespace

bool AddMoreFiles(const std::string& selection) {
  ScanSet& s = CurrentScanSet();
  if (s.count <= 0) return LoadAllData(selection);
  const LoadTargets& t = CurrentLoadTargets();
  LoadHooks& h = CurrentLoadHooks();
  const ParsedSelection sel = ParseSelection(selection);
  if (sel.outputsLeftOut > 0 && !*t.serialFitRunning) platform::Tell("LOAD", OutputsLeftOutLine(sel.outputsLeftOut));
  const int added = static_cast<int>(sel.names.size());
  if (added == 0) return false;
  if (s.count + added > kMaxScanCount) {
    data_messages::Box("LOAD ERROR", "too many scans selected");
    return false;
  }
  const float binWidth = BinWidth();
  // A file that cannot be added is said before anything changes: the scans
  // loaded stay as they are. A scan loaded already would count twice in
  // every Run and Fit.
  for (std::size_t k = 0; k < sel.names.size(); ++k) {
    const std::string path = platform::Combine(sel.folder, sel.names[k]);
    if (LoadedAlready(path, sel, k)) {
      if (!*t.serialFitRunning)
        platform::Tell("LOAD ERROR", path + "\nis loaded already: a scan counts once in every Run and Fit.\n"
                                            "Nothing was added; the data loaded before are kept.",
                       platform::BoxIcon::Error);
      return false;
    }
    if (ReadableScan(path, binWidth)) continue;
    if (!*t.serialFitRunning)
      platform::Tell("LOAD ERROR", ScanReadProblem() + "\nNothing was added; the data loaded before are kept.\n" + path,
                     platform::BoxIcon::Error);
    return false;
  }
  FreeFitArrays(s.count);
  h.deleteNonidealModel();
  const int old = s.count;
  GrowScanTables(s, old + added);
  bool failed = false, warned = false;
  for (int k = 1; k <= added; ++k) {
    const int i = old + k;
    s.order[i] = i;
    const std::string path = platform::Combine(sel.folder, sel.names[k - 1]);
    s.fileNames[i] = sel.names[k - 1];
    LoadProgress(static_cast<double>(k) / added);
    if (!ReadScan(i, path, binWidth)) {
      ReportUnreadable(path, false);
      failed = true;
      break;
    }
    FinishScan(i, path);
    if (*t.checkTimeStamps && !s.equilibriumMode && !warned &&
        s.records[i].timeStampMarked != s.records[1].timeStampMarked) {
      data_messages::Box("LOAD ERROR",
                         Format("%s\n time stamp correction discrepancy with previous data!",
                                path.c_str()));
      warned = true;
    }
  }
  EndProgress();
  if (failed) {
    FreeScanData();
    return false;
  }
  CheckSpeedStepsForLoad(g_paths.drive, g_paths.folder, true);
  SetAnalysisFileNames(s.fileNames[1], false, true);
  SetSolutionTemperature();
  // Scans added later keep their place in time.
  for (int i = 1; i <= s.count; ++i) s.order[i] = i;
  SortScansByTime();
  FitLimitsFromEntries();
  GridAndLimits();
  h.setPlotAxisTitles();
  h.clearComputedFlag();
  h.redrawDataPlot(false);
  h.requestRepaint();
  return true;
}

int LoadInitialDataScans(const std::string& path) {
  ScanSet& s = CurrentScanSet();
  const LoadTargets& t = CurrentLoadTargets();
  if (s.count <= 0) {
    platform::Tell("", "please load data files first");
    return 0;
  }
  FreeInitialDataScan(s);
  InitialDataScan& d = s.initialData;
  int points = 0;
  float *radii = nullptr, *signals = nullptr, *third = nullptr;
  std::uint8_t mark = 0;
  if (ReadScanFile(platform::ToNative(path).c_str(), &d.record, &points, &radii, &signals, &third,
                   &mark, BinWidth()) != 1) {
    data_messages::Box("LOAD ERROR", path);
    d.points = 0;
    return 0;
  }
  d.points = points;
  d.radii = radii;
  d.signals = signals;
  d.third = third;
  if (*t.checkTimeStamps && d.record.timeStampMarked != s.records[1].timeStampMarked) {
    data_messages::Box(
        "LOAD ERROR",
        Format("%s\n time stamp correction discrepancy with previous data!", path.c_str()));
  }
  if (*t.timesFromW2t && d.record.rpm != 0.0f) {
    const double omega = kOmegaPerRpm * d.record.rpm;
    d.record.timeRead = d.record.w2t / (omega * omega);
  }
  const int earliest = s.order[1];
  if (d.record.timeRead == s.records[earliest].timeRead) {
    d.equalsFirstScan = 1;
    // The earliest scan's model starts as the measured initial distribution.
    const int n = std::min(d.points, s.points[earliest]);
    for (int k = 1; k <= n; ++k) s.model[earliest][k] = d.signals[k];
  } else {
    d.equalsFirstScan = 0;
  }
  if (s.leftFitLimit != 0.0f) CheckLeftFitLimit();
  if (s.rightFitLimit != 0.0f) CheckRightFitLimit();
  return 1;
}

bool LoadFileNameList(const std::string& path, std::string* reason) {
  std::string text;
  if (const platform::FileReadError e =
          platform::ReadWholeFile(platform::ToNative(path), text, platform::kTableFileLimit);
      e != platform::FileReadError::None) {
    if (reason) *reason = platform::FileReadErrorText(path, e, platform::kTableFileLimit);
    return false;
  }

  ScanSet& s = CurrentScanSet();
  const ListFileText list = ParseListFileText(text);
  if (list.folder.empty()) {
    if (reason) *reason = path + " names no scan files";
    return false;
  }
  const int every = list.every;
  const std::string& folder = list.folder;
  const std::vector<std::string>& names = list.names;
  const std::vector<std::string> taken = TakeEvery(names, every);
  if (static_cast<int>(taken.size()) > kMaxScanCount) {
    data_messages::Box("LOAD ERROR", "too many scans selected");
    if (reason) *reason = "too many scans selected in " + path;
    return false;
  }
  if (s.count > 0) {
    CurrentLoadHooks().deleteNonidealModel();
    FreeScanData();
  }
  s.loadEvery = every;
  FreeFileNameList();
  g_list.names.assign(1, std::string());
  for (const std::string& n : taken) g_list.names.push_back(platform::Combine(folder, n));
  g_list.count = static_cast<int>(taken.size());
  s.count = 0;
  return g_list.count > 0;
}

bool WriteDistributionFile(const float* values, int n) {
  return WriteArrayRangeToFile(platform::ToNative(g_paths.distributionFile).c_str(), values, n, 1);
}

float* ReadFloatListFromFile(int* countOut) {
  int nh = 0;
  float* a = ReadFileToArray(platform::ToNative(g_paths.distributionFile).c_str(), &nh, 1);
  if (!a || nh < 1) {
    if (a) free_vector(a, 1, std::max(nh, 1));
    if (countOut) *countOut = 0;
    return nullptr;
  }
  if (countOut) *countOut = nh;
  return a;
}

void FreeScanData() {
  ScanSet& s = CurrentScanSet();
  LoadHooks& h = CurrentLoadHooks();
  h.freeNonlinearDetectionTables();
  h.deletePlots();
  h.deleteNonidealModel();
  FreeFitArrays(s.count);
  FreeScanSetArrays(s);
  s.count = 0;
  s.dataChanged = 1;
}
