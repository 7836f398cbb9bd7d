#include "automation/automation_run.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "automation/commands.h"
#include "automation/ini_custom_pars.h"
#include "automation/result_files.h"
#include "data/load_hooks.h"
#include "data/scan_file.h"
#include "data/scan_grid.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "data/speed_steps_at_load.h"
#include "distributions/conti_context.h"
#include "distributions/conti_grid.h"
#include "distributions/conti_run.h"
#include "distributions/conti_settings.h"
#include "distributions/conti_startup.h"
#include "distributions/hydrodynamics.h"
#include "distributions/neq_kernel.h"
#include "distributions/regularization_scaling.h"
#include "distributions/work_blocks.h"
#include "distributions/work_storage.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_end.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "fit/rmsd.h"
#include "lamm/lamm_settings.h"
#include "platform/automatic_ui.h"
#include "platform/fatal_error.h"
#include "platform/machine_memory.h"
#include "platform/paths.h"
#include "platform/user_interface.h"
#include "platform/worker_threads.h"
#include "plot/distribution_plot.h"
#include "plot/plot_window_set.h"

namespace {

// Menu items whose check marks show the applied options.
constexpr int kItemSuppressBaselineCorrelation = 829;
constexpr int kItemRegularizationMaxEnt = 295;
constexpr int kItemRegularization2ndDerivative = 294;
constexpr int kItemShowBothRegularizations = 642;
constexpr int kItemSimplex = 826;
constexpr int kItemAnnealing = 825;
constexpr int kItemMarquardt = 824;

// The step the run is in, for a fatal error that ends it.
std::string g_step = "start-up";
std::unique_ptr<CIniCustomPars> g_record;
// The per-scan rmsd file the plots rewrite while the run goes on, as it
// stood before the run (no entry: st_nlink 0), so that a run cut short can
// take back the file it wrote.
struct stat g_scanRmsBefore {};
bool g_scanRmsWatched = false;  // the path is the run's own
std::function<void(int)> g_wait = [](int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
};

AutomationState& State() { return CurrentAutomationState(); }

// Nobody can answer a box in an unattended run: each is logged and takes
// its default button.
platform::AutomaticUserInterface& UnattendedUI() {
  static platform::AutomaticUserInterface ui([](const std::string& line) { AutomationLog(line); });
  return ui;
}

void Wait(int ms) {
  if (g_wait) g_wait(ms);
}

// The analysis settings that follow the model commands. ls-g*(s) has no
// diffusion, so no f/f0 to fit: a fitted f/f0 there would only be a
// parameter without effect.
void ApplyDistributionSettings(const CIniCustomPars& r, bool cofs) {
  ModelParameterVector& pv = gModelParameterVector;
  ContiSettings& c = Conti();
  const int n = gModelParams.componentCount;
  pv.P[2 * n + 1] = static_cast<float>(r.Resolution);
  c.resolution = static_cast<float>(r.Resolution);
  pv.P[1] = r.Smin;
  c.sMin = r.Smin;
  pv.P[n + 1] = r.Smax;
  c.sMax = r.Smax;
  pv.P[2 * n + 3] = r.StartingFrictionalRatio;
  c.ffValue = r.StartingFrictionalRatio;
  c.fitFfValue = cofs ? r.FrictionalRatioFitted : 0;
  pv.F[2 * n + 3] = c.fitFfValue;
  pv.P[2] = r.RegularizationPvalue;
  c.confidenceLevel = r.RegularizationPvalue;
  pv.F[3] = r.GridfromFile;
  c.gridFromFile = r.GridfromFile;
  pv.F[4] = r.UseLogSpaceSgrid;
  c.logSpacedGrid = r.UseLogSpaceSgrid;
}

}  // namespace

CIniCustomPars* CurrentIniCustomPars() { return g_record.get(); }

void InstallUnattendedUserInterface() { platform::SetUI(&UnattendedUI()); }

void SetAutomationWait(std::function<void(int)> wait) { g_wait = std::move(wait); }

int AutomationCutShort(bool outOfMemory) {
  // From the intake on: a parameter file too large for the memory counts too.
  if (State().parameterFile.empty() || State().automationFinished) return 0;
  // Whatever failed before, the set is not written: this status says so.
  State().exitCode = outOfMemory ? kAutomationOutOfMemory : kAutomationStepFailed;
  State().automationFinished = true;
  const char* what = outOfMemory ? "out of memory" : "a fatal error";
  // A run cut short leaves no result file: the per-scan rmsd file the plots
  // wrote on the way describes a state that was never finished. Plain calls
  // that take no memory; an entry that is no regular file is not the run's.
  const char* scanRms = CurrentPlotWindows().scanRmsPath.c_str();
  struct stat now {};
  if (g_scanRmsWatched && lstat(scanRms, &now) == 0 && S_ISREG(now.st_mode) &&
      (g_scanRmsBefore.st_nlink == 0 || now.st_ino != g_scanRmsBefore.st_ino ||
       now.st_dev != g_scanRmsBefore.st_dev || now.st_mtim.tv_sec != g_scanRmsBefore.st_mtim.tv_sec ||
       now.st_mtim.tv_nsec != g_scanRmsBefore.st_mtim.tv_nsec))
    unlink(scanRms);
  try {
    State().failedStep = g_step;
    AutomationLog(std::string("automation failed: ") + what + " in " + g_step +
                  ": the run ends without result files and flag file");
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "tarnel: automation failed: %s\n", what);
  }
  return State().exitCode;
}

void ResetAutomation() {
  g_step = "start-up";
  g_scanRmsBefore = {};
  g_scanRmsWatched = false;
  State() = AutomationState{};
  g_record.reset();
  CloseAutomationLog();
  if (&platform::UI() == &UnattendedUI()) platform::SetUI(nullptr);
}

void ConnectLoadTargetsToModelRecords() {
  LoadTargets& t = CurrentLoadTargets();
  ModelParams& mp = gModelParams;
  ModelParameterVector& pv = gModelParameterVector;
  t.meniscus = &mp.meniscus;
  t.bottom = &mp.bottom;
  t.meniscusParameter = &pv.P[13];
  t.bottomParameter = &pv.P[14];
  t.baseline = &mp.baseline;
  t.meniscusWarningGiven = &mp.meniscusWarningGiven;
  t.riNoiseFitted = &mp.riNoiseFit;
  for (int k = 1; k <= 4; ++k) t.speciesArrays[k] = &mp.speciesArrays[k];
  t.smaxParameter = &pv.P[mp.componentCount + 1];
  t.meniscusFit = &mp.meniscusFit;
  t.bottomFit = &mp.bottomFit;
  t.baselineFit = &mp.baselineFit;
  t.meniscusFitFlag = &pv.F[13];
  t.bottomFitFlag = &pv.F[14];
  t.baselineFitFlag = &pv.F[15];
  t.temperature = &gSolutionConditions.temperature;
  t.viscosity = &gSolutionConditions.viscosity;
  t.tiNoiseFitted = &gFitEngineState.fitTINoise;
  t.fitStopFlag = &gFitEngineState.stopRequested;
  t.timesFromW2t = &LammSettings().timesFromW2t;
  t.experimentalInitialDistribution = &LammSettings().experimentalInitialDistribution;
  t.contiModelSelected = &gModelSelectorFlags.DistributionModel;
  t.contiGridSize = &Conti().gridSize;
  t.contiSmax = &Conti().sMax;
}

namespace {

bool StartsWith(const std::string& text, const char* start) { return text.rfind(start, 0) == 0; }

// An error box of a computation, not a notice about a file (those begin
// "Attention:" and the run goes on without the file).
bool ComputationError(const std::string& line) {
  if (!StartsWith(line, "[Error] ")) return false;
  // The box of a regularisation that ended at a limit of its own: the
  // distribution is the one nearest to its ratio, a result said as such.
  const std::string& limit = Regularization().limitBox;
  if (!limit.empty() && line.compare(8, limit.size(), limit) == 0 &&
      (line.size() == 8 + limit.size() || line.compare(8 + limit.size(), 4, " -> ") == 0))
    return false;
  const std::size_t text = line.find_first_not_of(" \n\t", 8);
  return text == std::string::npos || line.compare(text, 10, "Attention:") != 0;
}

// Sends a menu command and tells whether it was there to run and ran: a
// command of a subsystem outside this build answers with its "not
// available" box, a simulation that failed with its error box (the command
// itself goes on with what it has, a distribution of zeros). With
// computation, any error the command reports fails it, and the first
// goes to firstError.
CommandStatus SendCommand(IAutomationWindow& window, int id, bool computation = false,
                          std::string* firstError = nullptr) {
  const std::size_t before = UnattendedUI().Log().size();
  window.Command(id);
  const std::vector<std::string> log = UnattendedUI().Log();
  CommandStatus status = CommandStatus::Done;
  for (std::size_t k = before; k < log.size(); ++k) {
    const std::string& line = log[k];
    if (StartsWith(line, "[NOT AVAILABLE]")) return CommandStatus::NotAvailable;
    const bool failed = StartsWith(line, "[ERROR in simulation]") ||
                        (StartsWith(line, "[Error] error #") && line.find(" in simulation #") != std::string::npos) ||
                        (computation && ComputationError(line));
    if (failed && status == CommandStatus::Done) {
      status = CommandStatus::Failed;
      if (firstError) *firstError = line;
    }
  }
  return status;
}

CommandStatus SelectModel(IAutomationWindow& window, bool cofs) {
  const CommandStatus status = SendCommand(window, cofs ? kCmdContinuousCS : kCmdLsgStar);
  if (status != CommandStatus::Done) return status;
  const ModelSelectorFlags& sel = gModelSelectorFlags;
  const bool chosen = sel.DistributionModel && (cofs ? sel.CSModel != 0 : sel.LsgStarModel != 0);
  return chosen ? CommandStatus::Done : CommandStatus::Refused;
}

// Run or Fit: a distribution model has run when its computation reached
// its end, left a distribution and reported no error on the way (an error
// box answered with OK lets the computation go on with what it has).
CommandStatus ComputeStep(IAutomationWindow& window, int id, std::string* firstError) {
  LastContiRunTimings() = ContiRunTimings{};
  const std::size_t before = UnattendedUI().Log().size();
  CommandStatus status = SendCommand(window, id, true, firstError);
  // A Run stopped on its way (at its time bound) leaves the distribution
  // from before it, not a result: the box that said why is the failure's.
  const bool stoppedRun = id == kCmdRun && !gModelSelectorFlags.SedTransformModel && Conti().lastRunFailed;
  if (status == CommandStatus::Done && gModelSelectorFlags.DistributionModel &&
      (!(LastContiRunTimings().total > 0 && Conti().distribution) || stoppedRun)) {
    status = CommandStatus::Failed;
    const std::vector<std::string> log = UnattendedUI().Log();
    for (std::size_t k = before; k < log.size() && firstError && firstError->empty(); ++k)
      if (StartsWith(log[k], "[ERROR] ")) *firstError = log[k];
  }
  // What the window's next paint would compute for its report: the rmsd of
  // the state reached, failed or not.
  if (CurrentScanSet().count > 0) CalcRmsd();
  return status;
}

// Two names of one entry (the same path, or links to one file).
bool SameEntry(const std::string& a, const std::string& b) {
  namespace fs = std::filesystem;
  std::error_code ec1, ec2;
  const fs::path pa(platform::ToNative(a)), pb(platform::ToNative(b));
  if (fs::equivalent(pa, pb, ec1)) return true;
  const fs::path ca = fs::weakly_canonical(fs::absolute(pa, ec1), ec1);
  const fs::path cb = fs::weakly_canonical(fs::absolute(pb, ec2), ec2);
  return !ec1 && !ec2 && ca == cb;
}

// The flag file and the output folder are the run's own; naming one of
// its inputs (a scan or the parameter file) would overwrite it.
std::string OutputNamingAnInput(const CIniCustomPars& r, const std::string& parameterFile) {
  std::vector<std::string> inputs = AutomationScanPaths(r);
  for (std::string& p : inputs) p = FindFileIgnoringCase(p);
  inputs.push_back(parameterFile);
  for (const std::string& input : inputs) {
    if (SameEntry(r.AllDoneFlagFile, input))
      return "AllDoneFlagFile names the input " + input;
    if (SameEntry(r.OutputResultsDirectory, input))
      return "OutputResultsDirectory names the input " + input;
  }
  return {};
}

// The distribution grid the run will build, judged before anything is
// written: Resolution points, or the grid file beside the scans. A grid no
// analysis can use (fewer than two points, values not strictly increasing,
// one the model cannot take) or one whose work storage the computer cannot
// hold refuses the parameter file, as equal s limits do. The scans' point
// count is not known yet: the storage judged is the least the grid needs.
std::string GridRefusal(const CIniCustomPars& r) {
  if (std::strcmp(r.Model, "cofs") != 0 && std::strcmp(r.Model, "lsgofs") != 0) return {};
  const std::vector<std::string> scans = AutomationScanPaths(r);
  double points = r.Resolution;
  // The molar mass of each point as the run will compute it (c(s): with
  // the starting f/f0; the same relation holds the ls-g*(s) masses).
  const double etaR = r.BufferViscosity * 99.8004, buoyancy = 1.0 - static_cast<double>(r.Vbar) * r.BufferDensity;
  auto massOf = [&](float s) -> double {
    if (!(r.Vbar > 0.0f) || buoyancy == 0.0) return s;
    const float x = buoyancy >= 0.0 ? std::fabs(s) : s;
    return CalculateMassFromSedcoeffSphere(x * r.StartingFrictionalRatio, static_cast<float>(etaR), r.Vbar,
                                           r.BufferDensity);
  };
  if (r.GridfromFile) {
    // Without a scan range the run fails on its scans (status 3).
    if (scans.empty()) return {};
    const platform::PathParts first = platform::SplitPath(FindFileIgnoringCase(scans.front()));
    const std::string path = platform::Combine(r.DataDirectory, "sdist" + first.extension);
    std::vector<float> values;
    std::string reason;
    if (!ReadGridFile(path, values, &reason)) return "GridfromFile: cannot read the grid " + path + ": " + reason;
    if (const std::string fault = GridValuesFault(values, massOf); !fault.empty())
      return "GridfromFile: the grid " + path + " cannot be used: " + fault;
    points = static_cast<double>(values.size());
  } else {
    // The grid's ends carry its largest masses: beyond every float the
    // analysis would divide inf by inf.
    for (const auto& [name, s] : {std::pair<const char*, float>{"Smin", r.Smin}, {"Smax", r.Smax}})
      if (!std::isfinite(massOf(s))) {
        char text[120];
        std::snprintf(text, sizeof text, "%s (%g S) gives no finite molar mass", name, static_cast<double>(s));
        return text;
      }
  }
  // The least the grid needs: its threads are counted when the Run judges it again.
  const std::string tooLarge = WorkStorageRefusal(points, static_cast<int>(scans.size()), 0, 0);
  if (!tooLarge.empty()) return (r.GridfromFile ? "GridfromFile: " : "Resolution: ") + tooLarge;
  return {};
}

// A flag file left by an earlier run into the same folder would vouch for
// files this run is about to replace.
void RemoveEarlierFlag(const CIniCustomPars& r) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path flag(platform::ToNative(r.AllDoneFlagFile));
  const fs::file_status st = fs::symlink_status(flag, ec);
  if (ec || !fs::exists(st) || fs::is_directory(st)) return;
  if (!fs::remove(flag, ec))
    RecordAutomationFailure(kAutomationWriteFailed, "flag file",
                            "could not remove the flag file " + std::string(r.AllDoneFlagFile) +
                                " of an earlier run");
  else
    AutomationLog("flag file " + std::string(r.AllDoneFlagFile) + " of an earlier run removed");
}

// Scans no sedimentation analysis can use, refused before their first
// simulation: the solver cannot start at rest or before the run began.
std::string UnusableScan() {
  const ScanSet& s = CurrentScanSet();
  const FileNameList& list = CurrentFileNameList();
  for (int i = 1; i <= s.count; ++i) {
    const ScanRecord& rec = s.records[static_cast<std::size_t>(i)];
    const std::string name =
        static_cast<std::size_t>(i) < list.names.size() ? list.names[static_cast<std::size_t>(i)]
                                                        : s.fileNames[static_cast<std::size_t>(i)];
    if (!(rec.rpm > 0)) return "scan " + name + " was taken at rotor speed 0";
    if (rec.timeRead < 0) return "scan " + name + " has a negative time";
  }
  return {};
}

}  // namespace

bool TakeAutomationCommandLine(int argCount, char** argCopies) {
  if ((argCount != 1 && argCount != 2) || !argCopies) return false;
  const char* handshake = argCount == 2 ? argCopies[1] : nullptr;
  const char* file = argCopies[argCount];
  if (!file) return false;

  // A file-size limit makes a write fail (status 5) instead of killing the run.
  std::signal(SIGXFSZ, SIG_IGN);
  ResetAutomation();
  InstallUnattendedUserInterface();
  State().parameterFile = file;
  g_record = std::make_unique<CIniCustomPars>();
  CIniCustomPars& r = *g_record;
  ReadAutomationParameterFile(r, State().parameterFile);

  // Help messages off: the noise commands then show no notice.
  ContiContext().infoMessages = false;
  *CurrentLoadTargets().infoMessages = 0;

  if (handshake) {
    r.handshakeText = handshake;
    r.handshakeLength = static_cast<int32_t>(r.handshakeText.size());
  } else {
    r.handshakeText.clear();
    r.handshakeLength = -1;
  }
  if (r.valid) {
    std::string clash = OutputNamingAnInput(r, State().parameterFile);
    if (clash.empty()) clash = GridRefusal(r);
    if (!clash.empty()) {
      r.valid = 0;
      r.rejection = clash;
    }
  }
  if (!r.valid) {
    platform::Tell("command line parameters found",
                   "sorry, input from " + State().parameterFile + " could not be processed properly",
                   platform::BoxIcon::Error);
    RecordAutomationFailure(kAutomationRejectedFile, "parameter file",
                            "parameter file " + State().parameterFile + " rejected: " +
                                r.rejection);
    platform::RequestQuit(kAutomationRejectedFile);
    return false;
  }
  OpenAutomationLog(r.OutputResultsDirectory);
  AutomationLog("parameter file " + State().parameterFile + " accepted");
  for (const std::string& key : r.unreadElements)
    AutomationLog("element " + key + " of " + State().parameterFile + " cannot be read: its default is used");
  RemoveEarlierFlag(r);
  State().automationMode = true;
  return true;
}

std::vector<std::string> AutomationScanPaths(const CIniCustomPars& r) {
  std::vector<std::string> paths;
  if (!r.DataDirectory[0] || !r.Channel[0] || r.FirstScan <= 0 || r.LastScan <= 0 ||
      r.ScanInterval <= 0 || r.LastScan <= r.FirstScan)
    return paths;
  const long long count =
      (static_cast<long long>(r.LastScan) - r.FirstScan) / r.ScanInterval + 1;
  if (count > kMaxScanCount) return paths;
  const char* channel = r.Channel[0] == '.' ? r.Channel + 1 : r.Channel;
  for (long long number = r.FirstScan; number <= r.LastScan; number += r.ScanInterval) {
    char name[32];
    std::snprintf(name, sizeof name, "%05lld", number);
    paths.push_back(platform::Combine(r.DataDirectory, std::string(name) + "." + channel));
  }
  return paths;
}

bool LoadAutomationScanList(const CIniCustomPars& r, IAutomationWindow& window) {
  std::vector<std::string> paths = AutomationScanPaths(r);
  if (paths.empty()) {
    RecordAutomationFailure(kAutomationNoScans, "scan loading",
                            "scan range not usable (DataDirectory, Channel, FirstScan " +
                                std::to_string(r.FirstScan) + ", LastScan " +
                                std::to_string(r.LastScan) + ", ScanInterval " +
                                std::to_string(r.ScanInterval) + "; at most " +
                                std::to_string(kMaxScanCount) + " scans)");
    return false;
  }
  for (std::string& p : paths) p = FindFileIgnoringCase(p);
  FreeFileNameList();
  FileNameList& list = CurrentFileNameList();
  list.names.assign(1, std::string());
  for (const std::string& p : paths) list.names.push_back(platform::ToNative(p));
  list.count = static_cast<int>(paths.size());

  DataTypeFlags& flags = CurrentDataTypeFlags();
  flags.excludeSpikes = r.FilterDataSpikes;
  flags.absorbanceSpikeThreshold = r.DataSpikeThreshold;
  flags.spikeThreshold = r.DataSpikeThreshold;
  *CurrentLoadTargets().checkTimeStamps = r.CheckTimeStamps;

  // The load simulates the model once; unusable scans are refused first.
  LoadHooks& hooks = CurrentLoadHooks();
  const std::function<void()> simulate = hooks.runModelFromTools;
  std::string unusable;
  // Without its speed course the set would be analysed as if at one speed.
  CurrentSpeedClassification().refusedFile.clear();
  auto refusedSteps = [] {
    const std::string& file = CurrentSpeedClassification().refusedFile;
    return file.empty() ? file
                        : "the speed-steps file " + file +
                              " does not fit the scans (or cannot be read): it is not used";
  };
  hooks.runModelFromTools = [&] {
    unusable = UnusableScan();
    if (unusable.empty()) unusable = refusedSteps();
    if (unusable.empty() && simulate) simulate();
  };
  const CommandStatus status = LoadListedScansAndSimulate();
  hooks.runModelFromTools = simulate;
  if (status == CommandStatus::Done && unusable.empty()) unusable = refusedSteps();
  if (status != CommandStatus::Done || !unusable.empty()) {
    // The file that stopped the load is named: a range that runs beyond
    // the experiment fails on its first missing number, not its first.
    std::string failed = "the scans " + paths.front() + " ... could not be loaded";
    for (const std::string& p : paths)
      if (!platform::FileExists(p)) {
        failed = "the scan file " + p + " of the range cannot be read";
        break;
      }
    RecordAutomationFailure(kAutomationNoScans, "scan loading", !unusable.empty() ? unusable : failed);
    if (!unusable.empty()) FreeScanData();
    return false;
  }
  window.SetCaption("command line mode loaded -> " + list.names[1] + "...");
  return true;
}

bool ApplyAutomationParameters(const CIniCustomPars& r, IAutomationWindow& window) {
  ModelParams& mp = gModelParams;
  ModelParameterVector& pv = gModelParameterVector;
  FitEngineState& fs = gFitEngineState;
  ScanSet& s = CurrentScanSet();
  ContiSettings& c = Conti();
  SolutionConditions& sc = gSolutionConditions;
  const int n = mp.componentCount;

  pv.P[13] = mp.meniscus = r.Meniscus;
  fs.meniscusMin = r.MeniscusLowerLimit;
  fs.meniscusMax = r.MeniscusUpperLimit;
  pv.F[13] = mp.meniscusFit = r.MeniscusFitted;
  pv.P[14] = mp.bottom = r.Bottom;
  fs.bottomMin = r.BottomLowerLimit;
  fs.bottomMax = r.BottomUpperLimit;
  pv.F[14] = mp.bottomFit = r.BottomFitted;
  // The file's limits are the user's: a fit uses them as the scans allow.
  EnterLeftFitLimit(r.LeftFitLimit);
  EnterRightFitLimit(r.RightFitLimit);
  PackModelParameters();

  const bool cofs = std::strcmp(r.Model, "cofs") == 0;
  const bool lsgofs = std::strcmp(r.Model, "lsgofs") == 0;
  if (cofs || lsgofs) {
    const CommandStatus status = SelectModel(window, cofs);
    if (status != CommandStatus::Done)
      RecordAutomationFailure(kAutomationStepFailed, std::string("model ") + r.Model,
                              std::string("model ") + r.Model + ": " + CommandStatusText(status));
    ApplyDistributionSettings(r, cofs);
  } else if (r.Model[0]) {
    AutomationLog(std::string("model \"") + r.Model + "\" is none of cofs, lsgofs: the model "
                  "settings stay as they are");
  }
  if (r.UseLogSpaceSgrid && !(r.Smin > 0)) {
    pv.P[1] = r.Smin + 0.5f;
    c.sMin = r.Smin + 0.5f;
  }

  pv.F[15] = r.BaselineFitted;
  fs.fitTINoise = r.TINoiseFitted;
  mp.riNoiseFit = r.RINoiseFitted;
  mp.baselineLinear = (r.BaselineFitted || r.TINoiseFitted || r.RINoiseFitted) ? 1 : 0;
  mp.baselineFit = 0;

  if (s.count > 0) {
    PrepareScanGrid();
    if (s.leftFitLimit != 0) CheckLeftFitLimit();
    if (s.rightFitLimit != 0) CheckRightFitLimit();
    KeepFitLimitsOnTheData();
  }

  pv.P[3] = sc.vbar = r.Vbar;
  pv.P[n + 3] = sc.density = r.BufferDensity;
  pv.P[2 * n + 4] = r.BufferViscosity;
  sc.viscosity = r.BufferViscosity * 99.8004f;
  sc.vbarRho = sc.vbar * sc.density;
  UnpackModelParameters();
  PackModelParameters();

  c.suppressBaselineCorrelation = r.SupressBaselineCorrelation;
  window.CheckMenuItem(kItemSuppressBaselineCorrelation, r.SupressBaselineCorrelation != 0);

  c.maxEntropy = 1;
  c.secondDerivative = 0;
  c.showBothRegularizations = 0;
  if (std::strcmp(r.RegularizationType, "maxent") != 0 &&
      std::strcmp(r.RegularizationType, "Tikhonov") == 0) {
    c.maxEntropy = 0;
    c.secondDerivative = 1;
  }
  window.CheckMenuItem(kItemRegularizationMaxEnt, c.maxEntropy != 0);
  window.CheckMenuItem(kItemRegularization2ndDerivative, c.secondDerivative != 0);
  window.CheckMenuItem(kItemShowBothRegularizations, false);

  fs.useSimplex = 1;
  fs.useMarquardt = 0;
  fs.useAnnealing = 0;
  if (std::strcmp(r.FittingAlgorithm, "Levenberg-Marquardt") == 0) {
    fs.useMarquardt = 1;
    fs.useSimplex = 0;
  }
  window.CheckMenuItem(kItemSimplex, fs.useSimplex != 0);
  window.CheckMenuItem(kItemAnnealing, false);
  window.CheckMenuItem(kItemMarquardt, fs.useMarquardt != 0);

  // At least one worker: a count of 0 or less would leave no thread to
  // compute; and no more than the pools can start.
  const int threads = platform::CapWorkerThreads(r.NumberComputationThreads);
  if (threads < r.NumberComputationThreads)
    AutomationLog("NumberComputationThreads " + std::to_string(r.NumberComputationThreads) +
                  " is more than this computer can use: " + std::to_string(threads) +
                  " threads compute");
  if (threads > 1) c.multipleThreads = 1;
  c.normalEquationThreads = threads;
  window.SetLammThreadCount(threads);

  window.SetShowResidualsHistogram(r.ShowResidualsHistogram != 0);
  return true;
}

namespace {

// Runs one step of the analysis and logs how it went; what the step said
// of its failure, when anything, goes with the reason.
template <typename Command>
void Step(const char* what, Command command) {
  g_step = what;
  std::string said;
  const CommandStatus status = command(&said);
  if (status == CommandStatus::Done) {
    AutomationLog(std::string(what) + ": done");
    return;
  }
  RecordAutomationFailure(kAutomationStepFailed, what,
                          std::string(what) + ": " + CommandStatusText(status) + (said.empty() ? "" : " (" + said + ")"));
}

void SubtractNoiseAsSwitched(const CIniCustomPars& r, IAutomationWindow& window) {
  if (!r.AutoSubtractSystematicNoise) return;
  if (r.RINoiseFitted)
    Step("RI noise subtraction", [&](std::string*) { return SendCommand(window, kCmdSubtractRINoise); });
  if (r.TINoiseFitted)
    Step("TI noise subtraction", [&](std::string*) { return SendCommand(window, kCmdSubtractTINoise); });
}

// The storage judged for the grid the Run set up, beside the memory the
// program may have: a job's memory request can be sized from it.
void LogWorkStorage() {
  const int n = Conti().gridSize;
  const ScanSet& s = CurrentScanSet();
  if (!gModelSelectorFlags.DistributionModel || n < 1 || s.count < 1 || s.gridLength < 1) return;
  const int fitted = s.firstGridPoint >= 1 && s.lastGridPoint >= s.firstGridPoint && s.lastGridPoint <= s.gridLength
                         ? s.lastGridPoint - s.firstGridPoint + 1
                         : s.gridLength;
  char text[300];
  std::snprintf(text, sizeof text,
                "work storage of the analysis: %.1f MB for %d grid points over %d scans of %d points (%d fitted); "
                "the program may have %.1f MB",
                DistributionWorkStorageBytes(n, s.count, s.gridLength, fitted) / 1e6, n, s.count, s.gridLength, fitted,
                (platform::MemoryForTheProgram(std::max(static_cast<int>(Conti().normalEquationThreads), 1)) +
                 DistributionWorkStorageHeld()) /
                    1e6);
  AutomationLog(text);
}

void ExitWithStatus(IAutomationWindow& window) {
  window.Exit();
  // Exit asks for status 0; the run's own status is what a pipeline must see.
  platform::RequestQuit(State().exitCode);
}

}  // namespace

bool RunAutomationAtStartup(IAutomationWindow& window) {
  if (!g_record) return false;
  const CIniCustomPars& r = *g_record;
  window.SwitchOffHelpMessages();
  ConnectLoadTargetsToModelRecords();
  ConnectContinuousDistributions();
  InstallDistributionPlot();
  *CurrentLoadTargets().automationRun = 1;
  // Without a display and ending by itself, the run shows its window to
  // nobody and takes no screenshot of it: no plot needs a picture.
  if (platform::Headless() && r.AutoExit) platform::SetDrawingUnseen(true);
  // A previous analysis of the same data is never restored unasked.
  CurrentLoadHooks().offerRestorePreviousAnalysis = [] { return false; };
  // The per-scan rmsd file of the plots is a result too: it goes with the set.
  CurrentPlotWindows().scanRmsPath =
      platform::ToNative(platform::Combine(r.OutputResultsDirectory, "ScanRms.dat"));
  if (lstat(CurrentPlotWindows().scanRmsPath.c_str(), &g_scanRmsBefore) != 0) g_scanRmsBefore = {};
  g_scanRmsWatched = true;

  g_step = "scan loading";
  const bool loaded = LoadAutomationScanList(r, window);
  g_step = "parameters";
  ApplyAutomationParameters(r, window);
  window.RequestRepaint();
  // A fatal error ends its command and asks the program to end: the run
  // stops there, and the end is a failure whatever status the box asked for.
  auto fatal = [] {
    if (!platform::QuitRequested()) return false;
    RecordAutomationFailure(kAutomationStepFailed, g_step, "a fatal error ended the analysis");
    return true;
  };
  if (loaded && !fatal()) {
    if (r.AutoRun) {
      Step("Run", [&](std::string* said) { return ComputeStep(window, kCmdRun, said); });
      if (!Regularization().limitNote.empty())
        AutomationLog("Run ended at a limit of the regularization: " + Regularization().limitNote);
      LogWorkStorage();
    }
    if (!fatal()) SubtractNoiseAsSwitched(r, window);
    if (!fatal() && r.AutoFit) {
      LastFitEnd() = FitEndRecord{};
      Step("Fit", [&](std::string* said) { return ComputeStep(window, kCmdFit, said); });
      // Which of its ends the fit met: a limit or an undetermined quantity
      // keeps the status, and is said here and in the result file.
      if (LastFitEnd().kind != FitEndKind::None)
        AutomationLog("Fit ended (" + FitEndKindName(LastFitEnd().kind) + "): " + LastFitEnd().text);
      // Nobody sees the window's report and warnings: the log says them.
      for (const std::string& line : window.FitNotes()) AutomationLog("Fit: " + line);
    }
    if (!fatal()) SubtractNoiseAsSwitched(r, window);
    if (!fatal() && r.ShowResidualsHistogram) window.RelayoutAndRedrawPlots();
  }
  if (platform::QuitRequested()) {
    // Nothing more may run, but the pipeline still gets its set and flag.
    FinishAutomation(window, false);
    platform::RequestQuit(State().exitCode);
    return true;
  }
  if (r.AutoExit) {
    Wait(1000);
    ExitWithStatus(window);
    return true;
  }
  // Without a display nobody can choose "Done": the run finishes now.
  if (platform::Headless()) {
    AutomationLog("no display: the run finishes as with \"Done\"");
    FinishAutomation(window, true);
    return true;
  }
  window.RequestRepaint();
  return true;
}

void FinishAutomation(IAutomationWindow& window, bool exitAfter) {
  if (!State().automationFinished) {
    if (State().automationMode && g_record) {
      // The normal equations' design (as large as the kernels) is only
      // summed from: what the result files need is the solution.
      ReleaseDesign();
      const CIniCustomPars& r = *g_record;
      ResultScreenshot shot;
      shot.wanted = !r.AutoExit;
      if (shot.wanted) {
        window.ShowDataRange();
        window.ShowLastFitInfo();
        if (!window.CaptureClientArea(shot.client)) shot.client = platform::Bitmap();
      }
      // What the set will lack, told before ResultParameters.xml is composed.
      if (shot.wanted && shot.client.Empty())
        RecordAutomationFailure(kAutomationStepFailed, "screenshot",
                                "no screenshot: the window has no picture");
      const ContiSettings& c = Conti();
      if (!(c.sValues && c.distribution && c.gridSize > 0))
        RecordAutomationFailure(kAutomationStepFailed, "distribution",
                                "no distribution was computed");
      // The rmsd the summary gives is that of the state reached, whatever
      // step ran last or failed.
      if (CurrentScanSet().count > 0) CalcRmsd();
      std::string failures;
      g_step = "result files";
      if (WriteAutomationResultFiles(r, shot, &failures))
        AutomationLog(std::string("result set written to ") + r.OutputResultsDirectory);
    }
    State().automationFinished = true;
  }
  Wait(1000);
  if (exitAfter) ExitWithStatus(window);
}
