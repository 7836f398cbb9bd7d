#include "data/synthetic_data.h"

#include <unistd.h>

#include <cmath>
#include <cstring>

#include "numerics/constants.h"
#include "data/data_messages.h"
#include "data/load_hooks.h"
#include "data/scan_file.h"
#include "data/scan_grid.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "numerics/arrays.h"
#include "numerics/ccurve.h"
#include "numerics/cvector.h"
#include "numerics/random.h"
#include "platform/diagnostics.h"
#include "platform/paths.h"
#include "platform/program_paths.h"

using data_messages::Format;

namespace {

// The scans are written with the extension of the name chosen for them
// (".ra0" when it has none), so the files are what the dialog proposed.
std::string ScanExtensionOf(const std::string& path) {
  const std::string extension = platform::SplitPath(path).extension;
  return extension.size() > 1 ? extension : std::string(".ra0");
}

constexpr double kFourPiSquared = 39.47841760435743;  // (2 pi)^2
constexpr const char* kDescription = "synthetic";
constexpr const char* kCaption = "GENERATE DATA";

SyntheticDataHooks g_hooks;
std::string g_rmsdText;

void FillDefaults(SyntheticDataHooks& h) {
  static bool ramp = true;
  h.initialLoading = [] { return 1.0f; };
  h.bandLoadingModel = [] { return false; };
  h.setBandInverted = [](bool) {};
  h.distributionModel = [] { return false; };
  h.seriesRunning = [] { return false; };
  h.holdFitSwitches = [] { return std::function<void()>([] {}); };
  h.simulateModel = [] {};
  h.setSyntheticDistribution = [](bool) {};
  h.loadDistribution = [](const std::string&, bool) { return false; };
  h.runDistribution = [] {};
  h.rampRotorSpeed = [] { return ramp; };
  h.setRampRotorSpeed = [](bool on) { ramp = on; };
  h.clearDistributionDisplay = [] {};
}

struct HooksInit {
  HooksInit() { FillDefaults(g_hooks); }
} g_init;

float* Zeros(int n) {
  float* v = vector(1, n);
  for (int k = 1; k <= n; ++k) v[k] = 0.0f;
  return v;
}

CVector* View(float* p, int n) {
  CVector* v = new CVector();
  v->Attach(p, n, 1);
  return v;
}

void SetRecord(ScanRecord& r, const SyntheticRun& run, float meniscus, int n) {
  r = ScanRecord{};
  std::strncpy(r.description, kDescription, sizeof r.description - 1);
  r.type = 'R';
  r.cell = 1;
  r.temperature = 20.0f;
  r.rpm = static_cast<float>(run.rpm);
  r.wavelength = 100.0f;
  r.headerCount = 1;
  r.meniscusNote = meniscus;
  r.points = n;
  r.timeStampMarked = 1;
  r.fileTimesValid = 0;
}

// Drive, folder and data folder of the loaded set become those of the path.
void TakeDataFolder(const std::string& path) {
  const platform::PathParts p = platform::SplitPath(path);
  LoadedDataPaths& paths = CurrentDataPaths();
  paths.drive = p.drive;
  paths.folder = p.folder;
  std::string folder = p.drive + p.folder;
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  paths.dataFolder = folder;
  CurrentScanSet().dataFolder = folder;
}

// The loading profile the model starts from, with its header record.
void MakeInitialProfile(const SyntheticRun& run, const float* grid, int n, float meniscus) {
  ScanSet& s = CurrentScanSet();
  FreeInitialDataScan(s);
  InitialDataScan& d = s.initialData;
  d.radii = vector(1, n);
  d.signals = vector(1, n);
  d.third = Zeros(n);
  const float c0 = g_hooks.initialLoading();
  for (int k = 1; k <= n; ++k) {
    d.radii[k] = grid[k];
    d.signals[k] = c0;
  }
  d.points = n;
  SetRecord(d.record, run, meniscus, n);
  if (g_hooks.bandLoadingModel())
    g_hooks.setBandInverted(data_messages::AskYesNo("", "invert band initial distribution?"));
  else
    g_hooks.setBandInverted(false);
}

void MakeScans(const SyntheticRun& run, const float* grid, int n, float meniscus) {
  ScanSet& s = CurrentScanSet();
  DataTypeFlags& flags = CurrentDataTypeFlags();
  flags.interference = 0;
  flags.intensity = 0;
  flags.absorbance = 1;
  flags.dls = 0;
  AllocateScanTables(s, run.scanCount);
  CurrentLoadHooks().buildPlotCurves();
  for (int i = 1; i <= run.scanCount; ++i) {
    s.order[i] = i;
    s.points[i] = n;
    s.radii[i] = vector(1, n);
    for (int k = 1; k <= n; ++k) s.radii[i][k] = grid[k];
    s.signals[i] = Zeros(n);
    s.signals2[i] = Zeros(n);
    AttachScanArraysAndViews(i);
    // The residuals hold the noise until the signals are made.
    for (int k = 1; k <= n; ++k) s.residuals[i][k] = run.noise > 0 ? GaussRandom(run.noise) : 0.0f;
    s.fileNames[i] = Format("%05d", i) + ScanExtensionOf(run.path);
    ScanRecord& r = s.records[i];
    SetRecord(r, run, meniscus, n);
    const SyntheticTime st = SyntheticScanTime(run, i);
    r.timeRead = r.time = r.timeOriginal = st.t;
    r.w2t = st.w2t;
    if (run.acceleration > 0) {
      r.acceleration = run.acceleration;
      r.accelerationTime = run.rpm / run.acceleration;
    }
    s.signal2Vec[i] = View(s.signals2[i], n);
    s.signal2Curve[i] = new CCurve(s.radiusVec[i], s.signal2Vec[i]);
    s.firstFitPoint[i] = 1;
    s.lastFitPoint[i] = n;
  }
}

std::string DistributionFile() {
  return platform::Combine(platform::ProgramPaths.ProgramFolder, "distrib.dat");
}

// The distribution file is named and read before any scan is replaced: a
// file that cannot be read stops the command (the reader says why; a file
// without a pair of values, or with a line that is none, is said here). The answer to the normalisation
// question is kept in *normalised.
bool DistributionReadable(bool* normalised) {
  const std::string file = DistributionFile();
  data_messages::Box("", Format("put synthetic distribution in %s", file.c_str()));
  *normalised = data_messages::AskYesNo("ATTENTION", "is synthetic distribution normalized?");
  CCurve c;
  const bool read = c.ReadFromFile(platform::ToNative(file).c_str(), 1, 2);
  // The reader says why it could not open a file, not a line that is no
  // pair of numbers.
  if (!read && !platform::FileExists(platform::ToNative(file))) return false;
  if (!read || c.Count() < 1) {
    data_messages::Box(kCaption, Format("%s holds no distribution: no scans were generated", file.c_str()));
    return false;
  }
  return true;
}

// The folder the scans go to, without its trailing separator ("." for none).
std::string ScanFolderOf(const std::string& path) {
  const platform::PathParts p = platform::SplitPath(path);
  std::string folder = p.drive + p.folder;
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  return folder.empty() ? std::string(".") : folder;
}

bool FolderWritable(const std::string& folder) {
  const std::string native = platform::ToNative(folder);
  return platform::DirectoryExists(native) && ::access(native.c_str(), W_OK | X_OK) == 0;
}

// The name scan i is written under.
std::string ScanFileName(const SyntheticRun& run, int i) {
  const ScanSet& s = CurrentScanSet();
  if (run.reuse && s.count >= 1 && static_cast<size_t>(i) < s.fileNames.size()) return s.fileNames[i];
  return Format("%05d", i) + ScanExtensionOf(run.path);
}

// Scans of the names to be written already in the folder are replaced only
// when the user agrees; true to go on.
bool ReplaceExistingScans(const SyntheticRun& run, const std::string& folder) {
  if (g_hooks.seriesRunning()) return true;
  const int count = run.reuse && CurrentScanSet().count >= 1 ? CurrentScanSet().count : run.scanCount;
  int existing = 0;
  std::string first;
  for (int i = 1; i <= count; ++i) {
    const std::string name = ScanFileName(run, i);
    if (::access(platform::ToNative(platform::Combine(folder, name)).c_str(), F_OK) != 0) continue;
    if (existing++ == 0) first = name;
  }
  if (existing == 0) return true;
  return data_messages::AskYesNo(
      kCaption, Format("%s already holds %d of the scans to be written (%s%s): replace them?", folder.c_str(),
                       existing, first.c_str(), existing > 1 ? ", ..." : ""));
}

// False when the distribution could not be loaded: no scan was simulated.
bool SimulateDistribution(bool normalised) {
  ScanSet& s = CurrentScanSet();
  DataTypeFlags& flags = CurrentDataTypeFlags();
  g_hooks.setSyntheticDistribution(true);
  const bool loaded = g_hooks.loadDistribution(DistributionFile(), normalised);
  if (loaded) {
    // Without the absorbance switch the common grid is scan 1's own radii
    // and the distribution's model lands on them point by point.
    flags.absorbance = 0;
    PrepareScanGrid();
    g_hooks.runDistribution();
    FreeFitArrays(s.count);
    flags.absorbance = 1;
  }
  g_hooks.setSyntheticDistribution(false);
  return loaded;
}

void SortByTime(ScanSet& s) {
  // Exchange sort of the order array.
  for (int i = 1; i < s.count; ++i)
    for (int j = i + 1; j <= s.count; ++j)
      if (s.records[s.order[j]].timeRead < s.records[s.order[i]].timeRead) std::swap(s.order[i], s.order[j]);
}

}  // namespace

SyntheticDataHooks& CurrentSyntheticDataHooks() { return g_hooks; }
void ResetSyntheticDataHooks() { FillDefaults(g_hooks); }
const std::string& SyntheticRmsdText() { return g_rmsdText; }

int SyntheticPointCount(float meniscus, float bottom, float dr) {
  if (!(dr > 0.0f) || !(bottom >= meniscus)) return 0;
  // The relative term absorbs the rounding of the float entries (7.2 - 6.0
  // by 0.001 comes to 1199.9997).
  const double q = (static_cast<double>(bottom) - meniscus) / dr;
  const double steps = q * (1.0 + 1e-6) + 1e-4;
  if (steps >= kMaxSyntheticPoints) return kMaxSyntheticPoints + 1;
  return static_cast<int>(std::floor(steps)) + 1;
}

SyntheticTime SyntheticScanTime(const SyntheticRun& run, int i) {
  SyntheticTime st;
  st.t = run.firstTime == 0.0f ? static_cast<double>(i) * run.timeStep
                               : (i - 1.0) * run.timeStep + run.firstTime;
  const double rpm2 = static_cast<double>(run.rpm) * run.rpm;
  st.w2t = rpm2 / 3600.0 * st.t * kFourPiSquared;
  if (run.acceleration > 0) {
    const double runUp = run.rpm / static_cast<double>(run.acceleration);
    st.t += runUp;
    st.w2t += rpm2 / 3600.0 / 3.0 * runUp * kFourPiSquared;
  }
  return st;
}

SyntheticOutcome MakeSyntheticDataSet(const SyntheticRun& run) {
  g_rmsdText.clear();
  if (run.scanCount < 1) return SyntheticOutcome::NothingToDo;
  ScanSet& s = CurrentScanSet();
  const LoadTargets& t = CurrentLoadTargets();
  LoadHooks& h = CurrentLoadHooks();
  const float meniscus = *t.meniscus, bottom = *t.bottom;
  const int n = SyntheticPointCount(meniscus, bottom, run.radialStep);
  if (n == 0) return SyntheticOutcome::Refused;
  if (n > kMaxSyntheticPoints) {
    data_messages::Box(kCaption, Format("more than %d points per scan: choose a larger radial step",
                                        kMaxSyntheticPoints));
    return SyntheticOutcome::Refused;
  }
  if (!run.reuse && run.scanCount > kMaxSyntheticScans) {
    data_messages::Box(kCaption, Format("at most %d scans can be simulated", kMaxSyntheticScans));
    return SyntheticOutcome::Refused;
  }
  if (run.rpm <= 0) {
    data_messages::Box(kCaption, "the rotor speed must be above 0 rpm");
    return SyntheticOutcome::Refused;
  }
  // Nothing is replaced (neither the loaded data nor a file) before the
  // scans can be made and written.
  const std::string folder = ScanFolderOf(run.path);
  if (!FolderWritable(folder)) {
    data_messages::Box(kCaption, Format("the folder %s cannot be written: no scans were generated", folder.c_str()));
    return SyntheticOutcome::Stopped;
  }
  const bool distribution = g_hooks.distributionModel();
  bool normalised = false;
  if (distribution && !DistributionReadable(&normalised)) return SyntheticOutcome::Stopped;
  if (!ReplaceExistingScans(run, folder)) return SyntheticOutcome::Stopped;
  // The switches of the model and the loaded data change only for a set
  // that is made.
  s.dataChanged = 1;
  *t.experimentalInitialDistribution = 0;
  *t.initialDistributionCompanion = 1;
  // The noise terms, the baseline and the loadings the fit solves from the
  // data would be solved from scans that hold nothing yet: the scans are
  // the model as entered, and the user's ticks stand again once it is made.
  const std::uint8_t tiNoise = *t.tiNoiseFitted, riNoise = *t.riNoiseFitted;
  *t.tiNoiseFitted = 0;
  *t.riNoiseFitted = 0;
  *t.fittedBaseline = 0;
  const std::function<void()> restoreFitSwitches = g_hooks.holdFitSwitches();
  TakeDataFolder(run.path);
  if (!run.reuse || s.count < 1) {
    float* grid = vector(1, n);
    for (int k = 1; k <= n; ++k) grid[k] = meniscus + (k - 1) * run.radialStep;
    FreeExtrapolationArrays();
    FreeScanData();
    FreeScanGridArrays(s);
    MakeInitialProfile(run, grid, n, meniscus);
    MakeScans(run, grid, n, meniscus);
    free_vector(grid, 1, n);
    // The generated set is the loaded data now: its fit saves its state in
    // its own folder, never over the analysis of the set loaded before.
    SetAnalysisFileNames(s.fileNames[1], true, true);
    // The cell the user gave the set brings its fit limits, as a new entry.
    if (!g_hooks.seriesRunning()) {
      EnterLeftFitLimit(meniscus + 0.01f);
      EnterRightFitLimit(bottom - 0.01f);
    }
    *t.temperature = 20.0f + 273.15f;
    *t.RT = *t.temperature * 8.31451f * 1e7f;
  }

  const bool timesFromW2t = *t.timesFromW2t != 0;
  const bool ramp = g_hooks.rampRotorSpeed();
  g_hooks.setRampRotorSpeed(run.acceleration >= 0);
  if (run.acceleration >= 0) *t.timesFromW2t = 0;
  bool simulated = true;
  if (distribution)
    simulated = SimulateDistribution(normalised);
  else
    g_hooks.simulateModel();
  *t.timesFromW2t = timesFromW2t;
  g_hooks.setRampRotorSpeed(ramp);
  restoreFitSwitches();
  *t.tiNoiseFitted = tiNoise;
  *t.riNoiseFitted = riNoise;
  // Without a distribution the scans would be noise alone: none is written.
  if (!simulated) return SyntheticOutcome::Stopped;
  for (int i = 1; i <= s.count; ++i) {
    ScanRecord& r = s.records[i];
    if (timesFromW2t && r.rpm > 0) {
      const double omega = r.rpm * kOmegaPerRpm8;
      r.timeRead = r.w2t / (omega * omega);
    }
    for (int k = 1; k <= s.points[i]; ++k) s.signals[i][k] = s.model[i][k] + s.residuals[i][k];
  }

  SortByTime(s);
  // A series asks nothing: a limit beyond a grid that stops short of the
  // bottom moves in without the box that would stop every such set.
  if (g_hooks.seriesRunning() && s.count > 0 && s.rightFitLimit > s.radii[1][s.points[1]])
    s.rightFitLimit = s.radii[1][s.points[1]];
  PrepareScanGrid();
  if (s.leftFitLimit != 0.0f) CheckLeftFitLimit();
  if (s.rightFitLimit != 0.0f) CheckRightFitLimit();
  if (!run.reuse) {
    // A new set is loaded data: the ranges of meniscus and bottom stand
    // around the cell it was made in and clear of its fit limits, as after
    // a load (the ranges set before it was made were around the cell and
    // limits of the data before).
    *t.meniscusBottomLimitsFixed = 0;
    h.setDefaultMeniscusBottomLimits();
  }
  AllocExtraScanArrays();

  // The first file that cannot be written ends the writing (said once,
  // by the writer): the others would fail alike.
  bool written = true;
  for (int i = 1; i <= s.count && written; ++i) {
    const std::string file = platform::Combine(s.dataFolder, s.fileNames[i]);
    written = WriteScanFile(platform::ToNative(file).c_str(), s.points[i], s.radii[i], s.signals[i],
                            nullptr, kDescription, 1, s.records[i]);
  }
  if (!written && !run.reuse) {
    // Scans no file holds are not left loaded as if they had been written
    // (the writer said why).
    FreeExtrapolationArrays();
    FreeScanData();
    FreeScanGridArrays(s);
  }
  if (written && run.noise > 0) g_rmsdText = Format("mean dev = %f  ", h.calcRmsd());

  g_hooks.clearDistributionDisplay();
  h.setPlotAxisTitles();
  h.redrawDataPlot(false);
  if (!g_hooks.seriesRunning()) {
    h.requestRepaint();
    if (platform::DiagnosticsState().DiagnosticsOn && !g_rmsdText.empty()) h.drawText(g_rmsdText, 10, 50);
  }
  return written ? SyntheticOutcome::Made : SyntheticOutcome::Unwritten;
}
