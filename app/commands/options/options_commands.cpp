// Options commands that change settings of the analysis rather than the
// data: solution constants, the M-and-s form of the species, the loading
// screens and resolution, a cell change, the worst scan, the initial-data
// polynomial, the interference alignment, the start-time offset and the
// Simplex settings.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "app/window/parameter_preferences.h"
#include "app/window/program_options.h"
#include "app/window/shell_services.h"
#include "app/window/txla_window.h"
#include "app/window/window_services.h"
#include "data/load_hooks.h"
#include "data/raw_data_workers.h"
#include "data/scan_grid.h"
#include "data/scan_loading.h"
#include "data/scan_set.h"
#include "fit/fit_engine_state.h"
#include "fit/solvent_gradient.h"
#include "fit/model_params.h"
#include "fit/model_selector.h"
#include "lamm/lamm_settings.h"
#include "platform/error_box.h"
#include "platform/sounds.h"
#include "platform/frame_window.h"
#include "platform/process_launcher.h"
#include "platform/user_interface.h"
#include "plot/plot_window_set.h"

namespace {

constexpr int kStartTimeSlot = 24;
constexpr int kLargestPolynomialOrder = 10;

// Sets DialogOpen for the lifetime of the guard.
class DialogScope {
 public:
  explicit DialogScope(TXLAWindow& w) : w_(w) { w_.DialogOpen = true; }
  ~DialogScope() { w_.DialogOpen = false; }
  DialogScope(const DialogScope&) = delete;
  DialogScope& operator=(const DialogScope&) = delete;

 private:
  TXLAWindow& w_;
};

void ReloadListedScans(int skip) {
  BuildTmpFileList(skip);
  LoadListedScans();
}

void SetStartTimeFit(TXLAWindow& w, bool on) {
  gModelParams.startTimeFit = on ? 1 : 0;
  gModelParameterVector.F[kStartTimeSlot] = on ? 1 : 0;
  w.CheckMenuItem(255, on);
}

}  // namespace

void TXLAWindow::CmNotepad() {
  const std::string& notes = CurrentDataPaths().notesFile;
  if (notes.empty()) {
    platform::Tell("NOTES", "there is no notes file: notes belong to a single loaded data file",
                   platform::BoxIcon::None);
    return;
  }
  platform::Processes().OpenTextEditor(notes);
}

void TXLAWindow::CmSetVRho() {
  DialogScope open(*this);
  SolutionConditions& sc = gSolutionConditions;
  SolventGradientSettings& sg = CurrentSolventGradientSettings();
  // In the inhomogeneous solvent the species are held at 20 degC water: the
  // buffer is the model's, and a sedimenting cosolute has its own vbar.
  const bool solvent = sg.UseInhomogeneousSolvent;
  if (solvent && sg.DynamicGradient) {
    platform::Tell("INHOMOGENEOUS SOLVENT",
                   "note: vbar at standard conditions and apparent vbar will be different \n(due to different "
                   "chemical composition of solvent, causing hydration or preferential solvation)",
                   platform::BoxIcon::None);
    InputFloat(&sc.vbar, sc.vbar, true, "vbar (sequence) = ", "");
    float apparent = sg.EffectiveVbar;
    if (InputFloat(&apparent, apparent, true, "apparent vbar = ", "")) sg.EffectiveVbar = sg.VbarSolvated = apparent;
  } else {
    InputFloat(&sc.vbar, sc.vbar, true, "partial spec. volume = ", "");
    InputFloat(&sc.vbar20, sc.vbar20, true, "partial spec. volume at 20C = ", "");
  }
  if (solvent) {
    PlaySoundError();
    platform::Tell("Error",
                   "buffer conditions cannot be changed - if this is necessary switch off inhomogeneous solvent",
                   platform::BoxIcon::None);
  } else {
    InputFloat(&sc.density, sc.density, true, "buffer density = ", "");
  }
  sc.vbarRho = sc.vbar * sc.density;
  // Only the molar-mass distribution keeps v-bar and density in the vector;
  // the other distribution models hold f/f0 and grid values there.
  const ModelSelectorFlags& m = gModelSelectorFlags;
  if (m.DistributionModel && !m.LsgExtrapolationModel) {
    gModelParameterVector.P[3] = sc.vbar;
    if (!solvent) gModelParameterVector.P[7] = sc.density;
  }
  sg.FitVbar = solvent && platform::AskYes("INHOMOGENEOUS SOLVENT", "fit for partial specific volume of macromolecule?");
  gFitEngineState.fitVbar = sg.FitVbar ? 1 : 0;
}

void TXLAWindow::CmSetRadialResolution() {
  DialogScope open(*this);
  const char* caption = "SET RADIAL RESOLUTION";
  ScanSet& s = CurrentScanSet();
  float value = s.radialResolution;
  InputFloat(&value, s.radialResolution, true, "defaut 0.001 (=all data):", caption);
  if (value < 0.001f) {
    value = 0.001f;
    platform::Tell(caption, "setting to minimum 0.001 (all data)", platform::BoxIcon::None);
  }
  if (value == s.radialResolution) return;
  s.radialResolution = value;
  if (platform::AskYes(caption, "save as startup default?")) SaveParameterPreferences(*this);
  if (s.count > 0 && platform::AskYes(caption,
                                     "need to reload files for the change to take effect\n(the scans are read "
                                     "again from their files: changes made to them since loading are lost)\n"
                                     "reload now?"))
    ReloadListedScans(0);
}

void TXLAWindow::CmExcludeWorstScan() {
  DialogScope open(*this);
  const ScanSet& s = CurrentScanSet();
  const int worst = CurrentPlotWindows().worstScan;
  if (worst < 1 || worst > s.count || static_cast<std::size_t>(worst) >= s.fileNames.size()) {
    platform::Tell("REMOVING SCAN", "no scan has been rated yet - fit first", platform::BoxIcon::None);
    return;
  }
  if (s.count < 2) {
    platform::Tell("REMOVING SCAN", "the only scan loaded cannot be removed", platform::BoxIcon::None);
    return;
  }
  char text[400];
  std::snprintf(text, sizeof text, "removing %s", s.fileNames[static_cast<std::size_t>(worst)].c_str());
  platform::Tell("REMOVING SCAN", text, platform::BoxIcon::None);
  // Taken out of the set in memory: the other scans keep what was done to
  // them since loading (inverted, noise taken out, ...).
  CurrentPlotWindows().worstScan = 0;
  RemoveLoadedScan(worst);
}

void TXLAWindow::CmFlagTooStrongGradients() {
  const char* caption = "EXCLUDE EXCESS GRADIENTS";
  DataTypeFlags& f = CurrentDataTypeFlags();
  if (f.flagTooStrongGradients) {
    f.flagTooStrongGradients = 0;
  } else {
    {
      DialogScope open(*this);
      InputFloat(&f.maxGradient, f.maxGradient, true, "maximum gradient allowed (signal/cm):", caption);
    }
    f.flagTooStrongGradients = 1;
  }
  CheckMenuItem(cmd::FlagTooStrongGradients, f.flagTooStrongGradients != 0);
  if (platform::AskYes(caption, "save current preferences?")) SaveParameterPreferences(*this);
}

void TXLAWindow::CmDontLoadSpikes() {
  const char* caption = "EXCLUDE SPIKES";
  DataTypeFlags& f = CurrentDataTypeFlags();
  auto askLevels = [&] {
    InputFloat(&f.absorbanceSpikeThreshold, f.absorbanceSpikeThreshold, true,
               "level considered as spike when occuring isolated:", caption);
    InputFloat(&f.fluorescenceSpikeThreshold, f.fluorescenceSpikeThreshold, true,
               "spike threshold for FDS:", caption);
  };
  if (!f.excludeSpikes) {
    askLevels();
    f.excludeSpikes = 1;
  } else if (platform::AskYes(caption, "turn off?")) {
    f.excludeSpikes = 0;
  } else {
    askLevels();
  }
  CheckMenuItem(cmd::DontLoadSpikes, f.excludeSpikes != 0);
  if (platform::AskYes(caption, "save current preferences?")) SaveParameterPreferences(*this);
}

void TXLAWindow::CmSetPolynomOrder() {
  InitialDataScan& d = CurrentScanSet().initialData;
  int order = d.polynomialOrder;
  if (!InputCount(&order, order, "polynom order = ", "")) return;
  if (!(order >= 0 && order <= kLargestPolynomialOrder)) {
    platform::Tell("", "the polynom order must be 0 to 10", platform::BoxIcon::None);
    return;
  }
  d.polynomialOrder = order;
  InputFloat(&d.extrapolationDistance, d.extrapolationDistance, true, "extrapolation distance factor", "");
}

void TXLAWindow::CmAlignInterferenceOffset() {
  if (!CurrentDataTypeFlags().interference) return;
  float radius = 7.0f;
  if (!InputFloat(&radius, 7.0f, true, "sort at radius (cm)", "")) return;
  AlignInterferenceOffsetsAtRadius(0.0f, radius);
  Frame().Invalidate(true);
  if (!platform::AskYes("SAVE DATA", "save new interference data?")) return;
  std::string path = CurrentScanSet().oldFileNameConvention ? "newdat.rxx" : "a0000x.rxx";
  if (SelectFileNameOpenOrSave(*this, true, path, 260, "save aligned interference data as", "",
                               "All Files (*.*)", "*.*"))
    SaveAlignedScans(path);
}

void TXLAWindow::CmSedimentationTimeOffset() {
  ModelParams& mp = gModelParams;
  if (mp.startTimeOffsetOn) {
    mp.startTimeOffsetOn = 0;
    SetStartTimeFit(*this, false);
  } else {
    mp.startTimeOffsetOn = 1;
  }
  CheckMenuItem(256, mp.startTimeOffsetOn != 0);
  InputFloat(&mp.startTime, mp.startTime, true, "offset by (sec)", "SET SIMULATION START TIME");
  gModelParameterVector.P[kStartTimeSlot] = mp.startTime;
}

void TXLAWindow::CmFitT0() {
  if (gModelParams.startTimeFit) {
    SetStartTimeFit(*this, false);
    return;
  }
  if (!gModelParams.startTimeOffsetOn) CmSedimentationTimeOffset();
  SetStartTimeFit(*this, true);
}

void TXLAWindow::CmSimplexSettings() {
  // The Lamm solvers read the same threshold to stop at equilibrium.
  double& threshold = LammSettings().equilibriumThreshold;
  float change = static_cast<float>(threshold);
  if (InputFloat(&change, change, true, "maximum relativ change < ", "")) threshold = change;
  float& randomization = gFitEngineState.initialRandomization;
  float value = randomization;
  if (InputFloat(&value, randomization, true, "%initial randomization in simplex", "")) {
    // Without scatter every simplex vertex is the same point.
    if (value > 0)
      randomization = value;
    else
      platform::Tell("", "the initial randomization must be above 0", platform::BoxIcon::None);
  }
}
