// The Data-menu commands that correct, cut or rewrite the loaded scans, the
// commands that write or reload the saved fit parameters, and the Wiener
// skewing switch. Each asks for its numbers, calls one data worker, redraws
// and offers to save the changed set; a cancelled question changes nothing.
#include "app/commands/data/raw_data_commands.h"

#include <cmath>
#include <cstdlib>
#include <functional>

#include "numerics/constants.h"
#include "app/dialogs/form_dialog.h"
#include "app/window/main_window_flags.h"
#include "app/window/road_services.h"
#include "app/window/txla_window.h"
#include "app/window/wait_cursor.h"
#include "app/window/main_fit_host.h"
#include "app/window/window_services.h"
#include "data/data_messages.h"
#include "data/raw_data_transforms.h"
#include "data/raw_data_workers.h"
#include "data/rotor_speed_profile.h"
#include "data/scan_grid.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "data/speed_steps_at_load.h"
#include "data/wiener_skew.h"
#include "fit/amplitudes.h"
#include "fit/fit_engine_state.h"
#include "fit/fit_vector.h"
#include "fit/model_evaluation.h"
#include "fit/model_selector.h"
#include "fit/saved_params.h"
#include "fit/scan_times.h"
#include "lamm/lamm_ideal.h"
#include "platform/error_box.h"
#include "platform/sounds.h"
#include "platform/paths.h"
#include "platform/process_launcher.h"
#include "platform/user_interface.h"
#include "plot/cwinplot.h"
#include "plot/plot_window_set.h"

namespace {

bool HaveScans() { return CurrentScanSet().count > 0; }

// A number prompt showing value; false on Cancel (value unchanged).
bool AskNumber(const char* caption, const char* prompt, float& value) {
  return InputFloat(&value, value, true, prompt, caption);
}

// The closing offer of every command that changed the scans.
void OfferSave(TXLAWindow& w, const char* question) {
  if (platform::AskYes("", question)) w.CmSaveRawDataSet();
}

void RedrawAndRepaint(TXLAWindow& w) {
  RedrawDataPlot(true);
  RequestRepaint(w);
}

// The radial range the data plot shows now.
bool DisplayedRange(float& low, float& high) {
  const CWINPlot* plot = CurrentPlotWindows().dataPlot;
  if (!plot) return false;
  low = plot->xMin;
  high = plot->xMax;
  return true;
}

// Painting is skipped while a command holds the window busy.
class BusyWindow {
 public:
  explicit BusyWindow(TXLAWindow& w) : w_(w), was_(w.RunBusy) { w_.RunBusy = true; }
  ~BusyWindow() { w_.RunBusy = was_; }
  BusyWindow(const BusyWindow&) = delete;
  BusyWindow& operator=(const BusyWindow&) = delete;

 private:
  TXLAWindow& w_;
  bool was_;
};

// The open dialog of "Edit Data Files" and "Set Initial Data".
std::string AskScanFile(const std::string& title) {
  platform::FileDialogRequest request;
  request.title = title;
  request.filters = {{"Scan Files (*.R*)", "*.r*"}, {"All Files (*.*)", "*.*"}};
  request.defaultExtension = "*";
  const platform::FileDialogResult result = platform::UI().FileDialog(request);
  if (!result.accepted || result.paths.empty()) return std::string();
  return result.paths.front();
}

// The models whose saved parameter set can be restored with the data.
bool SavedParametersApply() {
  const ModelSelectorFlags& m = gModelSelectorFlags;
  const bool cs = (m.DistributionModel && m.CSModel) || m.CSWith1DiscreteModel || m.CSff0Model ||
                  m.CSff0With1DiscreteModel || m.NonidealCSModel;
  const bool excluded = m.LsgStarModel || m.LsgStarWith1DiscreteModel || m.LsgExtrapolationModel ||
                        m.HybridCSLsgModel || m.ZoneCentrifugationLsgModel || m.ElectrophoresisLsgModel ||
                        m.CSModel521 || m.CSInvariantDModel || m.CSWithMsTableModel ||
                        m.ConformationalChangeCSModel || m.WormlikeChainCSModel || m.FixFF0FloatingVbarCSModel ||
                        m.AnyBimodalCsModel() || m.CMPriorVbarModel ||
                        m.ElectrophoresisCVModel || CurrentDataTypeFlags().dls || CurrentScanSet().equilibriumMode;
  return cs && !excluded;
}

// The parameter-file dialog of both saved-parameter commands.
std::string AskParameterFile(TXLAWindow& w, bool toRead) {
  const std::string current = CurrentDataPaths().parameterFile;
  const std::string extension = platform::SplitPath(current).extension;
  std::string path = current;
  // Reading goes through the same save dialog: choosing the file to read
  // must not ask whether to replace it.
  if (!SelectFileNameOpenOrSave(w, true, path, 260, "export parameter file", "",
                                data_messages::Format("~tmppars files (~*.%s)", extension.c_str()),
                                "~*" + extension, !toRead))
    return std::string();
  return path;
}

// The parameter file pointed at path for one call, then put back.
template <typename F>
void WithParameterFile(const std::string& path, F f) {
  std::string& current = CurrentDataPaths().parameterFile;
  const std::string kept = current;
  current = path;
  f();
  current = kept;
}

}  // namespace

namespace {

// The solver options of the other corrections, kept while ours are added.
struct SavedSolverOptions {
  bool installed = false;
  std::function<void(CLammIdeal&)> others;
};
SavedSolverOptions& SavedOptions() {
  static SavedSolverOptions saved;
  return saved;
}

}  // namespace

void InstallRawDataCommands(TXLAWindow& window) {
  TXLAWindow* w = &window;
  Road().updateSavedFitParameters = [w] { w->CmUpdateSavedFitParameters(); };
  ModelEvaluationHooks& e = CurrentModelEvaluationHooks();
  SavedSolverOptions& saved = SavedOptions();
  if (!saved.installed) saved.others = e.applySolverOptions;
  saved.installed = true;
  e.applySolverOptions = [](CLammIdeal& solver) {
    if (SavedOptions().others) SavedOptions().others(solver);
    const WienerSkewSettings& ws = CurrentWienerSkew();
    if (ws.use) solver.EnableOptionWithTwoValues(ws.magnitude, ws.signalPerConcentration);
  };
  CurrentModelSelectionHooks().switchOffWienerSkewing = [] {
    CurrentWienerSkew().use = 0;
    CurrentWienerSkew().fit = 0;
  };
}

void UninstallRawDataCommands() {
  SavedSolverOptions& saved = SavedOptions();
  if (!saved.installed) return;
  CurrentModelEvaluationHooks().applySolverOptions = saved.others;
  saved = SavedSolverOptions{};
}

void TXLAWindow::CmInvertRawData() {
  if (!HaveScans()) return;
  ScaleSignals(-1.0f);
  // The signals changed sign: the y axis follows them. A range the user
  // zoomed to (or that a noise subtraction set) is mirrored with them, so
  // that it shows the same stretch of the data.
  CWINPlot* plot = CurrentPlotWindows().dataPlot;
  if (plot && plot->yRangeFixed) {
    plot->SetRanges(plot->xMin, plot->xMax, -plot->yMax, -plot->yMin);
    RangeHistoryRecord& h = RangeHistory;
    for (int i = 1; i <= h.depth && i < static_cast<int>(h.yMin.size()); ++i) {
      const float low = -h.yMax[static_cast<size_t>(i)];
      h.yMax[static_cast<size_t>(i)] = -h.yMin[static_cast<size_t>(i)];
      h.yMin[static_cast<size_t>(i)] = low;
    }
    RedrawDataPlot(false);
  } else {
    RedrawDataPlot(true);
  }
  PlaySoundOk();
  RequestRepaint(*this);
  OfferSave(*this, "save new data?");
}

void TXLAWindow::CmCorrectIFRadialCalibration() {
  if (!HaveScans()) return;
  const char* caption = "RECALIBRATE RADIUS";
  platform::Tell(caption,
                 "correct radial calibration in interference requires location of the \n transition from fringes to "
                 "grey in the counterbalance image.\nIf the transition grey-black has been used erroneously, please "
                 "\nenter the estimated radial positions of these points: \n(accept defaults if not known)");
  float left = 5.9f, right = 7.1f;
  if (!AskNumber(caption, "left transition grey-black was at", left)) return;
  if (!AskNumber(caption, "right transition grey-black was at", right)) return;
  // 5.85 cm goes to the left transition and 7.15 cm to the right one.
  const double a = (static_cast<double>(right) - left) / (7.15 - 5.85);
  const double b = left - a * 5.85;
  TransformRadii(static_cast<float>(a), static_cast<float>(b));
  RequestRepaint(*this);
  PlaySoundOk();
  OfferSave(*this, "save new data?");
}

void TXLAWindow::CmAddConstantTimeAndW2t() {
  if (!HaveScans()) return;
  const char* caption = "TIME OFFSET";
  platform::Tell(caption, "correct time and w^2t entry of file (e.g. after power failure)");
  float dt = 0.0f;
  if (!AskNumber(caption, "elapsed time offset (sec)", dt)) return;
  const double omega = kOmegaPerRpm * CurrentScanSet().records[1].rpm;
  float dw2t = static_cast<float>(omega * omega * dt);
  if (!AskNumber(caption, "elapsed w^2t offset (rad^2/sec)", dw2t)) return;
  AddTimeAndW2tOffsets(dt, dw2t);
  PlaySoundOk();
  RequestRepaint(*this);
  OfferSave(*this, "save new data?");
}

void TXLAWindow::CmCreateSpeedStepsFromScans() {
  if (!HaveScans()) return;
  const char* caption = "EXTRACT SPEED SCHEDULE";
  float acceleration = 280.0f, deceleration = 100.0f;
  if (!AskNumber(caption, "acceleration rate (rpm/sec)", acceleration)) return;
  if (!AskNumber(caption, "deceleration rate (rpm/sec)", deceleration)) return;
  if (DetectRotorSpeedSteps(acceleration, deceleration)) CmShowRotorSpeedPlot();
  if (CurrentSpeedProfile.Active()) SwitchOffTimesFromW2t(MainFitHost());
}

void TXLAWindow::CmUndoRotorStretch() {
  if (!HaveScans()) return;
  BusyWindow busy(*this);
  const bool automatic = AutocorrectLoad() != 0;
  const char* caption = "Undo Rotor Stretch";
  float rotorEntry = 8.0f;
  if (!AskNumber(caption, automatic ? "rotor (4 or 8) or 0 for manual" : "rotor (4 or 8)", rotorEntry)) return;
  // Compared as a double: a huge entry has no integer value.
  const double rotor = std::floor(static_cast<double>(rotorEntry));
  if (rotor != 4.0 && rotor != 8.0 && rotor != 0.0) platform::Tell(caption, "invalid rotor");
  if (!automatic && !platform::AskYes(caption, "save new data?")) {
    platform::Tell(caption, "the shifted scans are written only to a new folder - nothing written");
    return;
  }
  BuildTmpFileList(0);
  const FileNameList& list = CurrentFileNameList();
  const platform::PathParts first = platform::SplitPath(list.names[1]);
  const std::string folder = platform::Combine(first.drive + first.folder, "unstretch");
  const bool created = platform::CreateDirectory(folder);
  std::string target;
  if (automatic) {
    target = platform::Combine(folder, "newscandata");
  } else {
    const std::string preset = created ? platform::Combine(folder, "newscandata") : list.names[1];
    target = AskSaveFile(LoadFileDialog, {"select save path", preset, SaveFolderFor(preset)});
  }
  FreeFileNameList();
  if (target.empty()) return;
  const bool maintainField = automatic || platform::AskYes(caption, "maintain field?");
  float module = rotor == 4.0 ? 8.62e-6f : rotor == 8.0 ? 9.59e-6f : 0.0f;
  if (rotor == 0.0) {
    module = 9.59e-6f;
    if (!AskNumber(caption, "stretch module", module)) return;
  }
  if (!automatic && !AskNumber(caption, "stretch module", module)) return;
  const bool reload = automatic || platform::AskYes(caption, "reload stretched data?");
  {
    WaitCursor wait(*this);
    const RawDataResult done = UndoRotorStretch(module, target, maintainField, reload);
    if (!done.Refused() && reload) {
      const platform::PathParts t = platform::SplitPath(target);
      BuildTmpFileList(0);
      SetFolderOfListedFiles(t.drive + t.folder);
      WriteFileNameList(false);
      LoadListedScans();
    }
  }
  RequestRepaint(*this);
}

void TXLAWindow::CmExcludeRegion() {
  if (!HaveScans()) return;
  if (!platform::AskYes("exclude data from scans", "is the displayed radial range the region to exclude?")) return;
  float low = 0, high = 0;
  if (!DisplayedRange(low, high)) return;
  if (ExcludeRegionFromScans(low, high).Refused()) return;
  CmDataRange();
  OfferSave(*this, "save new data?");
}

void TXLAWindow::CmEliminateJitter() {
  if (!HaveScans()) return;
  if (!platform::AskYes("eliminate jitter", "is the displayed data range the air-to-air region chosen for alignment?")) return;
  float low = 0, high = 0;
  if (!DisplayedRange(low, high)) return;
  if (RemoveJitter(low, high)) CurrentScanSet().dataChanged = 1;
  PlaySoundOk();
  RequestRepaint(*this);
}

void TXLAWindow::CmSetNColumns() {
  DataTypeFlags& flags = CurrentDataTypeFlags();
  if (flags.nColumnsMode) {
    flags.nColumnsMode = 0;
    CheckMenuItem(265, false);
    return;
  }
  float columns = static_cast<float>(flags.nColumns);
  if (!AskNumber("SET N COLUMNS", "enter number of columns in data file (r|A|?...)", columns)) return;
  // A row holds the radius and at least one value; far more columns than
  // any instrument writes would only be a typing error.
  const double n = std::trunc(static_cast<double>(columns));
  if (!(n >= 2.0 && n <= 100.0)) {
    platform::Tell("SET N COLUMNS", "the number of columns must lie between 2 and 100");
    return;
  }
  flags.nColumns = static_cast<int>(n);
  flags.nColumnsMode = 1;
  CheckMenuItem(265, true);
}

void TXLAWindow::CmSubtractBlankScan() {
  if (!HaveScans()) return;
  platform::FileDialogRequest request = LoadFileDialog;
  request.save = false;
  request.multiSelect = false;
  request.title = "select blank scan to be subtracted";
  request.presetName = "blank";
  DialogOpen = true;
  const platform::FileDialogResult chosen = platform::UI().FileDialog(request);
  DialogOpen = false;
  if (chosen.accepted && !chosen.paths.empty()) SubtractBlankScanFile(chosen.paths.front());
  RedrawAndRepaint(*this);
  OfferSave(*this, "save data?");
}

void TXLAWindow::CmSubtractConstantValueFromScan() {
  if (!HaveScans()) return;
  float constant = 0.0f;
  if (!AskNumber("SUBTRACT CONSTANT", "subtract constant (e.g. known baseline)", constant)) return;
  if (CurrentDataTypeFlags().dls) {
    data_messages::RefuseDls();
    return;
  }
  ScanSet& s = CurrentScanSet();
  s.dataChanged = 1;
  for (int i = 1; i <= s.count; ++i)
    for (int k = 1; k <= s.points[i]; ++k) s.signals[i][k] -= constant;
  PrepareScanGrid();
  ComputeTINoiseProfile();
  RedrawAndRepaint(*this);
  OfferSave(*this, "save data?");
}

void TXLAWindow::CmAddSubtractSimulatedData() {
  if (!HaveScans()) return;
  const char* caption = "ADD OR SUBTRACT SCANS";
  float factor = 0.0f;
  if (platform::AskYes(caption, "add simulated data to existing data?"))
    factor = 1.0f;
  else if (platform::AskYes(caption, "subtract simulated data from existing data?"))
    factor = -1.0f;
  else
    return;
  AddScaledModelToSignals(factor);
  RedrawAndRepaint(*this);
  OfferSave(*this, "save data?");
}

void TXLAWindow::CmMirrorRawData() {
  if (!HaveScans()) return;
  const char* caption = "MIRROR DATA";
  if (platform::UI().MessageBox(
          caption,
          "This function makes a mirror image of the data, assuming that there are two reference points whose "
          "radial values are correct but exchanged.\nFor example, the true value of r1 is r2 and the true vaue "
          "of r2 is r1.\nThis may occur if the fringe pattern is experiencing an extra reflection, \ncausing the "
          "inside reference radius to appear on the right and the outside reference radius to be on the left.",
          platform::BoxButtons::OkCancel, platform::BoxIcon::Information) != platform::IDOK)
    return;
  float r1 = 5.85f, r2 = 7.15f;
  if (!AskNumber(caption, "first reference radius (cm)", r1)) return;
  if (!AskNumber(caption, "second reference radius (cm)", r2)) return;
  MirrorScans(r1, r2, platform::AskYes(caption, "with upside-down reflection?"));
  RedrawAndRepaint(*this);
  OfferSave(*this, "save data?");
}

void TXLAWindow::CmAddNoiseOrScale() {
  if (!HaveScans()) return;
  float factor = 1.0f, noise = 0.005f;
  if (!AskNumber("SCALE SIGNAL", "scale factor for scan signals", factor)) return;
  if (!AskNumber("ADD NOISE TO DATA", "enter magnitude of noise", noise)) return;
  ScaleSignalsAddNoise(noise, factor);
  RedrawAndRepaint(*this);
  OfferSave(*this, "save data?");
}

void TXLAWindow::CmFindFringeJumpsFromDiscontinuity() {
  if (!HaveScans()) return;
  const char* caption = "REMOVE INTEGRAL FRINGE JUMP WITHIN SCAN";
  float threshold = 0.8f;
  if (!AskNumber(caption, "enter threshold value", threshold)) return;
  if (!(threshold >= 0.5f)) {
    platform::Tell(caption, "threshold cannot be smaller than 0.5");
    threshold = 0.5f;
  }
  const bool residuals = platform::AskYes(caption, "judge from residuals?");
  if (CurrentDataTypeFlags().dls) {
    data_messages::RefuseDls();
    return;
  }
  CurrentScanSet().dataChanged = 1;
  DetectFringeJumps(threshold, residuals ? 1 : 0);
  RedrawAndRepaint(*this);
  OfferSave(*this, "save data?");
}

void TXLAWindow::CmWienerSkewingCorrection() {
  CurrentWienerSkew().use =
      platform::AskYes("Wiener Skewing", "simulate Wiener skewing from refractive index gradient (select models only)?") ? 1 : 0;
}

void TXLAWindow::CmHalveGridFirst() {
  unsigned char& halve = gFitEngineState.halveGridFirst;
  halve = halve ? 0 : 1;
  CheckMenuItem(269, halve != 0);
}

void TXLAWindow::CmAverageScans() {
  if (!HaveScans()) {
    platform::Tell("AVERAGE SCANS", "please load scans first");
    return;
  }
  BuildTmpFileList(0);
  const platform::PathParts first = platform::SplitPath(CurrentFileNameList().names[1]);
  const std::string preset = platform::Combine(first.drive + first.folder, "average" + first.extension);
  DialogOpen = true;
  const std::string path =
      AskSaveFile(LoadFileDialog, {"select filename for averaged scan", preset, SaveFolderFor(preset)});
  DialogOpen = false;
  // Cancelled: the set stays as it is.
  if (path.empty()) return;
  AverageScansToFile(path);
  RequestRepaint(*this);
}

void TXLAWindow::CmSaveRawDataSet() {
  if (!HaveScans()) return;
  DialogOpen = true;
  const bool oldNames = CurrentScanSet().oldFileNameConvention != 0;
  const bool dls = CurrentDataTypeFlags().dls != 0;
  if (!dls && platform::AskYes("", "save data with wavelength/speed information in filename (e.g. '20k280_001.ra1')?")) {
    const std::string preset = oldNames ? "data.rxx" : "20k280_001.ra1";
    const std::string path = AskSaveFile(LoadFileDialog, {"select directory ", preset, SaveFolderFor(preset)});
    if (!path.empty()) {
      WaitCursor wait(*this);
      SaveRawDataWithSpeedNames(path);
    }
  } else {
    const std::string preset = oldNames ? "data.rxx" : "x.rxx";
    const std::string path =
        AskSaveFile(LoadFileDialog, {"save raw data in new directory", preset, SaveFolderFor(preset)});
    if (!path.empty()) {
      WaitCursor wait(*this);
      SaveRawDataToFolder(path);
    }
  }
  DialogOpen = false;
}

void TXLAWindow::CmSave6ChannelSubsets() {
  if (!HaveScans()) return;
  const char* caption = "cut 6-channel data files";
  float b1 = 6.2f, b2 = 6.75f;
  // A cancelled question keeps its default.
  AskNumber(caption, "radius to cut between inner and middle channel", b1);
  AskNumber(caption, "radius to cut between middle and outer channel", b2);
  SplitSixChannelScans(b1, b2);
}

void TXLAWindow::CmSaveIntensityAsAbsorbance() {
  if (HaveScans()) WriteIntensityAsAbsorbance();
}

void TXLAWindow::CmSaveIntensityAsPseudoAbsorbance() {
  if (HaveScans()) WriteIntensityAsPseudoAbsorbance();
}

void TXLAWindow::CmEditDataFiles() {
  const std::string path = AskScanFile("Select File to Edit");
  if (path.empty() || platform::Processes().OpenTextEditor(path)) return;
  // Nothing would open, and nothing would say why.
  platform::Tell("WARNING",
                 "no text editor could be started for\n" + path +
                     "\n(set the VISUAL or EDITOR environment variable to the editor to use)",
                 platform::BoxIcon::Error);
}

void TXLAWindow::CmSetInitialData() {
  const std::string path = AskScanFile("Select Initial Data");
  if (path.empty()) return;
  WaitCursor wait(*this);
  if (LoadInitialDataScans(path) == 1 && CurrentPlotWindows().dataPlot) RelayoutAndRedrawPlots();
}

void TXLAWindow::CmUpdateSavedFitParameters() {
  if (!HaveScans()) return;
  const char* caption = "SAVE PARAMETERS";
  if (!SavedParametersApply()) {
    // A notice: no answer would change what follows.
    platform::Tell(caption, "cannot save fit parameters of current model");
    return;
  }
  const std::string current = CurrentDataPaths().parameterFile;
  std::string target = current;
  if (!platform::AskYes(caption, data_messages::Format("save in %s ?", current.c_str()))) {
    target = AskParameterFile(*this, false);
    if (target.empty()) {
      platform::Tell(caption, "sorry could not save fit parameters to this file");
      return;
    }
  }
  WithParameterFile(target, [&] { TmpSaveBestParams(target, false); });
}

void TXLAWindow::CmReloadSavedFitParameters() {
  if (!HaveScans()) return;
  const bool wasOpen = DialogOpen;
  DialogOpen = true;
  const char* caption = "LOAD PARAMETERS";
  const std::string current = CurrentDataPaths().parameterFile;
  std::string source = current;
  if (!platform::AskYes(caption, data_messages::Format("restore parameters from %s ?", current.c_str()))) {
    source = AskParameterFile(*this, true);
    if (source.empty()) {
      platform::Tell(caption, "sorry could not retrieve fit parameters file");
      DialogOpen = wasOpen;
      return;
    }
  }
  int restored = 0;
  WithParameterFile(source, [&] { restored = ReloadParameters(source); });
  // (A refused value was said, with its line.)
  if (restored == 0)
    platform::Tell(caption, data_messages::Format("sorry could not restore fit parameters from %s\n"
                                                  "(no such file, or fewer than 99 values in it)",
                                                  source.c_str()));
  DialogOpen = wasOpen;
  RequestRepaint(*this);
}
